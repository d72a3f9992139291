#include "formats/detail/mp3_huffman.h"

#include <algorithm>
#include <vector>

#include "formats/detail/mp3_tables.h"

namespace quillet::formats::mp3 {
namespace {

// A lookup node peeks `bits` bits; each slot is either a leaf (length, x, y) or a link to
// a further node for longer codes. Slot layout: bit 31 link flag; leaf: length << 8 | x << 4 | y;
// link: node offset << 5 | bits of the next node. Every table decodes from one cache fill:
// codes are at most 19 bits.
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
  }
  bool empty() const { return slots_.empty(); }
  const uint32_t* slots() const { return slots_.data(); }

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
};

// The value (x << 4 | y, or vwxy) of the code at the reader's position, or -1; the cache
// must hold the longest code.
inline int Lookup(const uint32_t* slots, BitReader& bits) {
  uint32_t slot = slots[bits.PeekCached(kRootBits)];
  if (!(slot & kLink)) {
    bits.SkipCached(static_cast<int>(slot >> 8));
    return static_cast<int>(slot & 0xFF);
  }
  int nodeBits = kRootBits;
  for (;;) {
    if (slot == kInvalid) return -1;
    bits.SkipCached(nodeBits);
    const size_t node = (slot & ~kLink) >> 5;
    nodeBits = static_cast<int>(slot & 31);
    slot = slots[node + bits.PeekCached(nodeBits)];
    if (!(slot & kLink)) {
      bits.SkipCached(static_cast<int>(slot >> 8));
      return static_cast<int>(slot & 0xFF);
    }
  }
}

// A non-zero value takes the sign bit that follows it; without branches, as the signs
// of coded values are as good as random.
inline int ApplySign(int v, BitReader& bits) {
  const int nonZero = v != 0;
  const int negative = static_cast<int>(bits.PeekCached(1)) & nonZero;
  bits.SkipCached(nonZero);
  return (v ^ -negative) + negative;
}

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

  const LookupTable& Pairs(int table) const { return bigValues[table >= 24 ? 24 : table >= 16 ? 16 : table]; }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

bool DecodePair(int table, BitReader& bits, int& x, int& y) {
  const LookupTable& lut = GetTables().Pairs(table);
  if (lut.empty()) return false;
  bits.Fill();
  const int v = Lookup(lut.slots(), bits);
  if (v < 0) return false;
  x = v >> 4;
  y = v & 15;
  return true;
}

int DecodeQuad(int table, BitReader& bits) {
  if (table == 1) return static_cast<int>(15 - bits.Read(4));
  bits.Fill();
  const int v = Lookup(GetTables().quadA.slots(), bits);
  return v < 0 ? 0 : v;
}

namespace {

template <bool kLinbits>
int DecodePairs(const uint32_t* slots, int linbits, BitReader& reader, size_t endBit, int begin, int end, int* q,
                int& last) {
  // A local copy stays in registers: stores to q could otherwise alias the reader.
  BitReader bits = reader;
  int lastNonZero = last;
  int i = begin;
  for (; i < end; i += 2) {
    // The longest pair: a 19-bit code, two 13-bit linbits and two signs.
    bits.Ensure(kLinbits ? 19 + 2 * 14 : 19 + 2);
    const int v = Lookup(slots, bits);
    if (v < 0) break;
    int x = v >> 4, y = v & 15;
    if (kLinbits && x == 15) {
      x += static_cast<int>(bits.PeekCached(linbits));
      bits.SkipCached(linbits);
    }
    x = ApplySign(x, bits);
    if (kLinbits && y == 15) {
      y += static_cast<int>(bits.PeekCached(linbits));
      bits.SkipCached(linbits);
    }
    y = ApplySign(y, bits);
    if (bits.position() > endBit) break;  // ran past the granule: corrupt
    q[i] = x;
    q[i + 1] = y;
    if (x | y) lastNonZero = i + 2;
  }
  reader = bits;
  last = lastNonZero;
  return i;
}

}  // namespace

int DecodeBigValues(int table, BitReader& bits, size_t endBit, int begin, int end, int* q, int& last) {
  if (table == 0) {
    std::fill(q + begin, q + end, 0);
    return end;
  }
  const LookupTable& lut = GetTables().Pairs(table);
  if (lut.empty()) return begin;
  const int linbits = kBigValueTables[table].linbits;
  return linbits ? DecodePairs<true>(lut.slots(), linbits, bits, endBit, begin, end, q, last)
                 : DecodePairs<false>(lut.slots(), 0, bits, endBit, begin, end, q, last);
}

int DecodeCount1(int table, BitReader& reader, size_t endBit, int begin, int* q, int& last) {
  const uint32_t* slots = GetTables().quadA.slots();
  BitReader bits = reader;
  int lastNonZero = last;
  int i = begin;
  for (; i + 4 <= 576 && bits.position() < endBit; i += 4) {
    bits.Ensure(6 + 4);  // the longest code and four signs
    int quad;
    if (table == 1) {
      quad = static_cast<int>(15 - bits.PeekCached(4));
      bits.SkipCached(4);
    } else {
      quad = std::max(Lookup(slots, bits), 0);
    }
    int v[4];
    for (int k = 0; k < 4; ++k) v[k] = ApplySign((quad >> (3 - k)) & 1, bits);
    if (bits.position() > endBit) break;  // the last quadruple overran: drop it
    for (int k = 0; k < 4; ++k) q[i + k] = v[k];
    if (quad) lastNonZero = i + 4;
  }
  reader = bits;
  last = lastNonZero;
  return i;
}

}  // namespace quillet::formats::mp3
