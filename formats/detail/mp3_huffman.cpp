#include "formats/detail/mp3_huffman.h"

#include <algorithm>
#include <vector>

#include "formats/detail/mp3_tables.h"

namespace quillet::formats::mp3 {
namespace {

// A lookup node peeks `bits` bits; each slot is either a leaf (length, x, y) or a link to
// a further node for longer codes. Slot layout: bit 31 link flag; leaf: length << 8 | x << 4 | y;
// link: node offset << 5 | bits of the next node.
constexpr uint32_t kLink = 0x80000000u;
constexpr uint32_t kInvalid = 0xFFFFFFFFu;
constexpr int kRootBits = 8;

struct Code {
  uint32_t code;
  int length;
  int value;  // x << 4 | y
};

class LookupTable {
 public:
  void Build(const std::vector<Code>& codes) {
    slots_.clear();
    BuildNode(codes, 0, kRootBits);
    rootBits_ = kRootBits;
  }
  bool empty() const { return slots_.empty(); }

  // Returns the decoded value (x << 4 | y, or vwxy), or -1 when no code matches.
  int Decode(BitReader& bits) const {
    size_t node = 0;
    int nodeBits = rootBits_;
    for (;;) {
      const uint32_t slot = slots_[node + bits.Peek(nodeBits)];
      if (slot == kInvalid) return -1;
      if (!(slot & kLink)) {
        bits.Skip(static_cast<int>(slot >> 8));
        return static_cast<int>(slot & 0xFF);
      }
      bits.Skip(nodeBits);
      node = (slot & ~kLink) >> 5;
      nodeBits = static_cast<int>(slot & 31);
    }
  }

 private:
  // Codes are given relative to `prefixLen` already-consumed bits.
  size_t BuildNode(const std::vector<Code>& codes, int prefixLen, int nodeBits) {
    const size_t base = slots_.size();
    slots_.resize(base + (size_t{1} << nodeBits), kInvalid);
    std::vector<std::vector<Code>> deeper(size_t{1} << nodeBits);
    for (const Code& c : codes) {
      const int rest = c.length - prefixLen;
      if (rest <= nodeBits) {
        const uint32_t first = (c.code & ((1u << rest) - 1)) << (nodeBits - rest);
        for (uint32_t fill = 0; fill < (1u << (nodeBits - rest)); ++fill)
          slots_[base + first + fill] = static_cast<uint32_t>(c.length - prefixLen) << 8 | static_cast<uint32_t>(c.value);
      } else {
        deeper[(c.code >> (rest - nodeBits)) & ((1u << nodeBits) - 1)].push_back(c);
      }
    }
    for (size_t i = 0; i < deeper.size(); ++i) {
      if (deeper[i].empty()) continue;
      int longest = 0;
      for (const Code& c : deeper[i]) longest = std::max(longest, c.length - prefixLen - nodeBits);
      const int childBits = std::min(longest, 8);
      const size_t child = BuildNode(deeper[i], prefixLen + nodeBits, childBits);
      slots_[base + i] = kLink | static_cast<uint32_t>(child << 5) | static_cast<uint32_t>(childBits);
    }
    return base;
  }

  std::vector<uint32_t> slots_;
  int rootBits_ = kRootBits;
};

struct Tables {
  LookupTable bigValues[32];
  LookupTable quadA;

  Tables() {
    for (int t = 0; t < 32; ++t) {
      const HuffmanTableInfo& info = kBigValueTables[t];
      if (!info.codes) continue;
      // Tables 16..23 and 24..31 share codes; build each set once.
      if ((t > 16 && t < 24) || t > 24) continue;
      std::vector<Code> codes;
      for (int i = 0; i < info.size * info.size; ++i) {
        const uint32_t e = info.codes[i];
        codes.push_back({e & 0xFFFF, static_cast<int>(e >> 16), (i / info.size) << 4 | (i % info.size)});
      }
      bigValues[t].Build(codes);
    }
    std::vector<Code> quad;
    for (int i = 0; i < 16; ++i)
      quad.push_back({kCount1TableA[i] & 0xFFFF, static_cast<int>(kCount1TableA[i] >> 16), i});
    quadA.Build(quad);
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

bool DecodePair(int table, BitReader& bits, int& x, int& y) {
  const Tables& t = GetTables();
  const int shared = table >= 24 ? 24 : table >= 16 ? 16 : table;
  const LookupTable& lut = t.bigValues[shared];
  if (lut.empty()) return false;
  const int v = lut.Decode(bits);
  if (v < 0) return false;
  x = v >> 4;
  y = v & 15;
  return true;
}

int DecodeQuad(int table, BitReader& bits) {
  if (table == 1) return static_cast<int>(15 - bits.Read(4));
  const int v = GetTables().quadA.Decode(bits);
  return v < 0 ? 0 : v;
}

}  // namespace quillet::formats::mp3
