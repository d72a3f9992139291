#include "core/journal.h"

#include <limits>

#include "core/document.h"
#include "platform/record_file.h"

namespace quillet::core {
namespace {

constexpr char kMagic[4] = {'Q', 'J', 'N', 'L'};
// The sample rates and gains a chain can hold; anything else is damage.
constexpr std::uint32_t kMaxRate = 10'000'000;
constexpr std::size_t kSegmentBytes = 2 + 8 + 4 + 8;

std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}

void PutText(platform::RecordWriter& w, const std::string& text) {
  w.U32(static_cast<std::uint32_t>(text.size()));
  w.Bytes(text);
}

void PutChain(platform::RecordWriter& w, const ChainImage& c) {
  w.U32(c.sampleRate);
  w.U16(static_cast<std::uint16_t>(c.channels));
  w.U32(static_cast<std::uint32_t>(c.segments.size()));
  for (const AudioSegment& s : c.segments) {
    w.U16(s.fileId);
    w.U64(static_cast<std::uint64_t>(s.frameCount));
    w.I32(s.gain);
    w.U64(static_cast<std::uint64_t>(s.startFrame));
  }
}

void PutState(platform::RecordWriter& w, const StateImage& s) {
  PutChain(w, s.chain);
  for (FramePos p : {s.cursor, s.selStart, s.selEnd, s.viewStart, s.viewEnd})
    w.U64(static_cast<std::uint64_t>(p));
  w.U64(s.version);
}

// Reads the payload; the first fault found goes into error_ and stops everything.
class Parser {
 public:
  explicit Parser(std::string_view bytes) : r_(bytes) {}

  bool Journal(JournalImage& j) {
    j.changedAtMs = static_cast<std::int64_t>(r_.U64());
    j.untitledNumber = r_.I32();
    if (!Text(j.file, kMaxJournalPath, "the file name")) return false;
    j.savedVersion = r_.U64();
    j.nextVersion = r_.U64();
    if (!Position(j.mark1, "mark 1") || !Position(j.mark2, "mark 2")) return false;
    if (!State(j.present, "the present audio")) return false;
    j.undoIndex = r_.I32();
    if (Cut()) return false;
    if (j.undoIndex < 0 || j.undoIndex >= kUndoEntries)
      return Fail("the undo position " + std::to_string(j.undoIndex) + " is outside 0.." +
                  std::to_string(kUndoEntries - 1));
    for (int i = 0; i < kUndoEntries; ++i) {
      UndoImage& e = j.undo[static_cast<std::size_t>(i)];
      const std::string what = "undo entry " + std::to_string(i);
      if (!Text(e.name, kMaxUndoNameLength, what + "'s name")) return false;
      if (!e.name.empty() && !State(e.state, what)) return false;
    }
    if (!r_.AtEnd()) return Fail(std::to_string(r_.remaining()) + " bytes follow the last entry");
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool Fail(std::string what) {
    if (error_.empty()) error_ = std::move(what);
    return false;
  }
  bool Cut() { return !r_.ok() && !Fail("the journal ends in the middle of a record"); }

  bool Text(std::string& out, std::size_t limit, const std::string& what) {
    const std::uint32_t n = r_.U32();
    if (Cut()) return false;
    if (n > limit || n > r_.remaining())
      return Fail(what + " is " + std::to_string(n) + " bytes long, more than the " +
                  std::to_string(std::min(limit, r_.remaining())) + " allowed");
    out = std::string(r_.Bytes(n));
    return true;
  }

  bool Position(FramePos& p, const char* what) {
    p = static_cast<FramePos>(r_.U64());
    if (Cut()) return false;
    if (p < 0) return Fail(std::string(what) + " is negative (" + std::to_string(p) + ")");
    return true;
  }

  bool Chain(ChainImage& c, const std::string& what) {
    c.sampleRate = r_.U32();
    c.channels = r_.U16();
    const std::uint32_t count = r_.U32();
    if (Cut()) return false;
    if (c.sampleRate == 0 || c.sampleRate > kMaxRate)
      return Fail(what + " has the sample rate " + std::to_string(c.sampleRate));
    if (c.channels < 1 || c.channels > audio::kMaxChannels)
      return Fail(what + " has " + std::to_string(c.channels) + " channels");
    // Checked against what is there before anything is allocated.
    if (count > r_.remaining() / kSegmentBytes)
      return Fail(what + " claims " + std::to_string(count) + " segments but " +
                  std::to_string(r_.remaining()) + " bytes are left");
    c.segments.resize(count);
    FrameCount total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      AudioSegment& s = c.segments[i];
      s.fileId = r_.U16();
      s.frameCount = static_cast<FrameCount>(r_.U64());
      s.gain = r_.I32();
      s.startFrame = static_cast<FramePos>(r_.U64());
      const std::string seg = what + ", segment " + std::to_string(i);
      if (s.frameCount <= 0) return Fail(seg + " has the length " + std::to_string(s.frameCount));
      if (s.startFrame < 0 || s.startFrame > std::numeric_limits<FramePos>::max() - s.frameCount)
        return Fail(seg + " starts at frame " + std::to_string(s.startFrame));
      if (s.gain < -kMaxGain) return Fail(seg + " has the gain " + std::to_string(s.gain));
      if (total > std::numeric_limits<FrameCount>::max() - s.frameCount)
        return Fail(what + " is longer than any audio can be");
      total += s.frameCount;
    }
    return true;
  }

  bool State(StateImage& s, const std::string& what) {
    if (!Chain(s.chain, what)) return false;
    for (FramePos* p : {&s.cursor, &s.selStart, &s.selEnd, &s.viewStart, &s.viewEnd})
      if (!Position(*p, "a position")) return false;
    s.version = r_.U64();
    return !Cut();
  }

  platform::RecordReader r_;
  std::string error_;
};

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  static const std::array<std::uint32_t, 256> table = MakeCrcTable();
  crc = ~crc;
  for (std::uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

ChainImage ImageOf(const AudioChain& chain) {
  return ChainImage{chain.sampleRate, chain.channels, chain.segments()};
}

namespace {

StateImage ImageOf(const DocumentState& s) {
  return StateImage{ImageOf(s.chain), s.cursor, s.selStart, s.selEnd, s.viewStart, s.viewEnd, s.version};
}

}  // namespace

JournalImage ImageOf(const WaveDocument& doc, std::uint64_t sequence, std::int64_t changedAtMs) {
  JournalImage j;
  j.sequence = sequence;
  j.changedAtMs = changedAtMs;
  j.untitledNumber = doc.untitledNumber();
  j.file = doc.file().string();
  j.savedVersion = doc.savedVersion();
  j.nextVersion = doc.nextVersion();
  j.mark1 = doc.mark1();
  j.mark2 = doc.mark2();
  j.present = StateImage{ImageOf(doc.chain()), doc.cursor(),    doc.selStart(), doc.selEnd(),
                         doc.viewStart(),      doc.viewEnd(), doc.version()};
  const UndoHistory& h = doc.history();
  j.undoIndex = h.index();
  for (int i = 0; i < kUndoEntries; ++i) {
    const UndoHistory::Entry& e = h.entry(i);
    UndoImage& out = j.undo[static_cast<std::size_t>(i)];
    out.name = e.name;
    if (!e.name.empty()) out.state = ImageOf(e.state);
  }
  return j;
}

std::string DocumentName(const JournalImage& image) {
  if (image.file.empty()) return "Untitled " + std::to_string(image.untitledNumber);
  return std::filesystem::path(image.file).filename().string();
}

FrameCount ImageLength(const ChainImage& chain) {
  FrameCount n = 0;
  for (const AudioSegment& s : chain.segments) n += s.frameCount;
  return n;
}

std::string EncodeJournal(const JournalImage& j) {
  platform::RecordWriter w;
  w.U64(static_cast<std::uint64_t>(j.changedAtMs));
  w.I32(j.untitledNumber);
  PutText(w, j.file);
  w.U64(j.savedVersion);
  w.U64(j.nextVersion);
  w.U64(static_cast<std::uint64_t>(j.mark1));
  w.U64(static_cast<std::uint64_t>(j.mark2));
  PutState(w, j.present);
  w.I32(j.undoIndex);
  for (const UndoImage& e : j.undo) {
    PutText(w, e.name);
    if (!e.name.empty()) PutState(w, e.state);
  }
  const std::string& payload = w.bytes();

  platform::RecordWriter file;
  file.Bytes(std::string_view(kMagic, 4));
  file.U16(kJournalFormat);
  file.U16(0);
  file.U64(j.sequence);
  file.U32(static_cast<std::uint32_t>(payload.size()));
  file.Bytes(payload);
  std::string out = file.bytes();
  const std::uint32_t crc =
      Crc32({reinterpret_cast<const std::uint8_t*>(out.data()), out.size()});
  platform::RecordWriter tail;
  tail.U32(crc);
  return out + tail.bytes();
}

std::optional<JournalImage> DecodeJournal(std::span<const std::uint8_t> bytes, std::string* error) {
  auto fail = [&](std::string what) -> std::optional<JournalImage> {
    if (error) *error = std::move(what);
    return std::nullopt;
  };
  if (bytes.size() < kJournalHeaderBytes + 4)
    return fail("the journal is " + std::to_string(bytes.size()) + " bytes long, shorter than its header");
  if (!std::equal(kMagic, kMagic + 4, bytes.begin())) return fail("this is not a journal");
  const std::uint16_t format = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
  if (format != kJournalFormat) return fail("the journal format " + std::to_string(format) + " is unknown");
  if (bytes[6] != 0 || bytes[7] != 0) return fail("the journal has flags this version does not know");
  const std::uint32_t payload = Le32(bytes.data() + 16);
  if (std::uint64_t{payload} + kJournalHeaderBytes + 4 != bytes.size())
    return fail("the journal holds " + std::to_string(bytes.size()) + " bytes, its header says " +
                std::to_string(std::uint64_t{payload} + kJournalHeaderBytes + 4));
  const std::uint32_t stored = Le32(bytes.data() + bytes.size() - 4);
  if (Crc32(bytes.first(bytes.size() - 4)) != stored) return fail("the journal's checksum is wrong");

  JournalImage j;
  j.sequence = std::uint64_t{Le32(bytes.data() + 8)} | std::uint64_t{Le32(bytes.data() + 12)} << 32;
  Parser p(std::string_view(reinterpret_cast<const char*>(bytes.data()) + kJournalHeaderBytes, payload));
  if (!p.Journal(j)) return fail(p.error());
  return j;
}

}  // namespace quillet::core
