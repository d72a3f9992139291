#include "core/journal.h"

#include <bit>
#include <cstring>
#include <limits>

#include "core/document.h"
#include "platform/record_file.h"

namespace quillet::core {
namespace {

constexpr char kMagic[4] = {'Q', 'J', 'N', 'L'};
// The sample rates and gains a chain can hold; anything else is damage.
constexpr std::uint32_t kMaxRate = 10'000'000;
constexpr std::size_t kSegmentBytes = 2 + 8 + 4 + 8;

std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Slicing by eight: eight table lookups per eight bytes, several times faster than a
// byte at a time, which matters because every record is summed on the edit's thread.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
CrcTables MakeCrcTables() {
  CrcTables t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (std::size_t i = 0; i < 256; ++i)
    for (std::size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

// Little-endian fields appended in bulk: a chain of many segments is one reserve and
// a run of copies, not a push per byte.
static_assert(std::endian::native == std::endian::little, "journal fields are written as in memory");
class Out {
 public:
  template <typename T>
  void Put(T v) {
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof v);
    std::memcpy(bytes.data() + at, &v, sizeof v);
  }
  void Text(const std::string& text) {
    Put(static_cast<std::uint32_t>(text.size()));
    bytes += text;
  }
  void Chain(const ChainImage& c) {
    Put(c.sampleRate);
    Put(static_cast<std::uint16_t>(c.channels));
    Put(static_cast<std::uint32_t>(c.segments.size()));
    std::size_t at = bytes.size();
    bytes.resize(at + c.segments.size() * kSegmentBytes);
    char* p = bytes.data() + at;
    for (const AudioSegment& s : c.segments) {
      const std::int64_t frames = s.frameCount, start = s.startFrame;
      std::memcpy(p, &s.fileId, 2);
      std::memcpy(p + 2, &frames, 8);
      std::memcpy(p + 10, &s.gain, 4);
      std::memcpy(p + 14, &start, 8);
      p += kSegmentBytes;
    }
  }
  void Delta(const ChainDelta& d) {
    Put(d.source);
    if (d.source != 0) {
      Put(d.from);
      Put(d.to);
    }
    Chain(d.replacement);
  }
  void Positions(const StateImage& s) {
    for (FramePos p : {s.cursor, s.selStart, s.selEnd, s.viewStart, s.viewEnd}) Put(static_cast<std::int64_t>(p));
    Put(s.version);
  }
  void Marks(const MarksImage& m) {
    Put(static_cast<std::uint32_t>(m.bookmarks.size()));
    for (const BookmarkImage& b : m.bookmarks) {
      Text(b.name);
      Text(b.documentKey);
      Put(b.positionMs);
      Put(b.timesVisited);
      Put(b.lastVisited);
    }
    Put(static_cast<std::uint32_t>(m.regions.size()));
    for (const RegionImage& r : m.regions) {
      Text(r.name);
      Text(r.path);
      Put(r.startMs);
      Put(r.endMs);
      Chain(r.audio);
    }
  }
  // Fills in the record header of a payload written after kRecordHeaderBytes.
  std::string Seal(std::uint8_t type, std::uint64_t sequence) {
    const std::uint32_t payload = static_cast<std::uint32_t>(bytes.size() - kRecordHeaderBytes);
    bytes[8] = static_cast<char>(type);
    std::memcpy(bytes.data() + 9, &sequence, 8);
    std::memcpy(bytes.data(), &payload, 4);
    const std::uint32_t crc = Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()) + 8, bytes.size() - 8});
    std::memcpy(bytes.data() + 4, &crc, 4);
    return std::move(bytes);
  }
  std::string bytes;
};

// Reads the payload; the first fault found goes into error_ and stops everything.
class Parser {
 public:
  explicit Parser(std::string_view bytes) : r_(bytes) {}

  // Applies one record's payload to j (all of it for a whole record); chains of a
  // record by difference are read against old, the state before it.
  bool Record(JournalImage& j, bool whole, const JournalImage* old = nullptr) {
    j.changedAtMs = static_cast<std::int64_t>(r_.U64());
    j.untitledNumber = r_.I32();
    if (!Text(j.file, kMaxJournalPath, "the file name")) return false;
    j.savedVersion = r_.U64();
    j.nextVersion = r_.U64();
    if (!Position(j.mark1, "mark 1") || !Position(j.mark2, "mark 2")) return false;
    if (!Positions(j.present)) return false;
    j.undoIndex = r_.I32();
    const std::uint8_t chainFollows = r_.U8();
    if (Cut()) return false;
    if (j.undoIndex < 0 || j.undoIndex >= kUndoEntries)
      return Fail("the undo position " + std::to_string(j.undoIndex) + " is outside 0.." +
                  std::to_string(kUndoEntries - 1));
    if (chainFollows > 1) return Fail("the chain flag is " + std::to_string(chainFollows));
    if (chainFollows && !AnyChain(j.present.chain, old, "the present audio")) return false;
    const std::uint8_t mask = r_.U8();
    if (Cut()) return false;
    if (whole && (!chainFollows || mask != 0xFF)) return Fail("a whole record lacks some of the document");
    for (int i = 0; i < kUndoEntries; ++i) {
      if (!(mask & (1u << i))) continue;
      UndoImage& e = j.undo[static_cast<std::size_t>(i)];
      const std::string what = "undo entry " + std::to_string(i);
      if (!Text(e.name, kMaxUndoNameLength, what + "'s name")) return false;
      e.state = StateImage{};
      if (!e.name.empty() && (!AnyChain(e.state.chain, old, what) || !Positions(e.state))) return false;
    }
    // A whole record ends with the marks when there are any (older logs have none).
    if (whole) {
      j.marks = MarksImage{};
      if (!r_.AtEnd()) return Marks(j.marks);
    }
    if (!r_.AtEnd()) return Fail(std::to_string(r_.remaining()) + " bytes follow the last entry");
    return true;
  }

  // Replaces j's marks with the record's.
  bool Marks(MarksImage& m) {
    // The smallest bookmark and region on file, to check counts before allocating.
    constexpr std::size_t kMinBookmark = 4 + 4 + 4 + 1 + 4, kMinRegion = 4 + 4 + 4 + 4 + 10;
    MarksImage out;
    const std::uint32_t bookmarks = r_.U32();
    if (Cut()) return false;
    if (bookmarks > r_.remaining() / kMinBookmark)
      return Fail("the marks claim " + std::to_string(bookmarks) + " bookmarks in " + std::to_string(r_.remaining()) + " bytes");
    out.bookmarks.resize(bookmarks);
    for (BookmarkImage& b : out.bookmarks) {
      if (!Text(b.name, kMaxJournalPath, "a bookmark's name") || !Text(b.documentKey, kMaxJournalPath, "a bookmark's key"))
        return false;
      b.positionMs = r_.U32();
      b.timesVisited = r_.U8();
      b.lastVisited = r_.U32();
      if (Cut()) return false;
    }
    const std::uint32_t regions = r_.U32();
    if (Cut()) return false;
    if (regions > r_.remaining() / kMinRegion)
      return Fail("the marks claim " + std::to_string(regions) + " regions in " + std::to_string(r_.remaining()) + " bytes");
    out.regions.resize(regions);
    for (RegionImage& g : out.regions) {
      if (!Text(g.name, kMaxJournalPath, "a region's name") || !Text(g.path, kMaxJournalPath, "a region's path"))
        return false;
      g.startMs = r_.U32();
      g.endMs = r_.U32();
      if (Cut() || !Chain(g.audio, "region \"" + g.name + "\"")) return false;
      if (g.startMs > g.endMs)
        return Fail("region \"" + g.name + "\" ends (" + std::to_string(g.endMs) + " ms) before it starts");
    }
    if (!r_.AtEnd()) return Fail(std::to_string(r_.remaining()) + " bytes follow the last region");
    m = std::move(out);
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

  bool AnyChain(ChainImage& c, const JournalImage* old, const std::string& what) {
    if (!old) return Chain(c, what);
    ChainDelta d;
    d.source = r_.U8();
    if (Cut()) return false;
    const ChainImage* base = nullptr;
    if (d.source == kDeltaOfPresent) base = &old->present.chain;
    else if (d.source >= kDeltaOfEntry && d.source < kDeltaOfEntry + kUndoEntries)
      base = &old->undo[d.source - kDeltaOfEntry].state.chain;
    else if (d.source != 0) return Fail(what + " is told as a change of the unknown source " + std::to_string(d.source));
    if (base) {
      d.from = r_.U32();
      d.to = r_.U32();
      if (Cut()) return false;
      if (d.from > d.to || d.to > base->segments.size())
        return Fail(what + " replaces segments " + std::to_string(d.from) + " to " + std::to_string(d.to) + " of " +
                    std::to_string(base->segments.size()));
    }
    if (!Chain(d.replacement, what)) return false;
    if (!base) {
      c = std::move(d.replacement);
      return true;
    }
    ChainImage out = ApplyDelta(*base, d);
    FrameCount total = 0;
    for (const AudioSegment& s : out.segments) {
      if (total > std::numeric_limits<FrameCount>::max() - s.frameCount)
        return Fail(what + " is longer than any audio can be");
      total += s.frameCount;
    }
    c = std::move(out);
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

  bool Positions(StateImage& s) {
    for (FramePos* p : {&s.cursor, &s.selStart, &s.selEnd, &s.viewStart, &s.viewEnd})
      if (!Position(*p, "a position")) return false;
    s.version = r_.U64();
    return !Cut();
  }

  platform::RecordReader r_;
  std::string error_;
};


}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  static const CrcTables t = MakeCrcTables();
  crc = ~crc;
  const std::uint8_t* p = bytes.data();
  std::size_t n = bytes.size();
  for (; n >= 8; n -= 8, p += 8) {
    const std::uint32_t lo = Le32(p) ^ crc, hi = Le32(p + 4);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; n > 0; --n, ++p) crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
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

MarksImage MarksOf(const MarkLists& lists, const WaveDocument& doc) {
  MarksImage m;
  for (const Bookmark& b : lists.bookmarks)
    if (b.document == &doc) m.bookmarks.push_back({b.name, b.documentKey, b.positionMs, b.timesVisited, b.lastVisited});
  for (const Region& r : lists.regions)
    if (r.document == &doc) m.regions.push_back({r.name, r.path, r.startMs, r.endMs, ImageOf(r.audio)});
  return m;
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

namespace {

// Whether eight segments from a and b are all equal, without a branch per field, so
// that the scan over a long chain runs at the speed of the memory.
bool SameEight(const AudioSegment* a, const AudioSegment* b) {
  std::uint64_t diff = 0;
  for (int k = 0; k < 8; ++k)
    diff |= static_cast<std::uint64_t>(a[k].fileId ^ b[k].fileId) |
            static_cast<std::uint64_t>(a[k].frameCount ^ b[k].frameCount) |
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(a[k].gain ^ b[k].gain)) |
            static_cast<std::uint64_t>(a[k].startFrame ^ b[k].startFrame);
  return diff == 0;
}

}  // namespace

ChainDelta DeltaOf(std::uint8_t source, const ChainImage& base, const AudioChain& now) {
  const std::vector<AudioSegment>& a = base.segments;
  const std::vector<AudioSegment>& b = now.segments();
  ChainDelta d;
  d.source = source;
  d.replacement.sampleRate = now.sampleRate;
  d.replacement.channels = now.channels;
  const std::size_t shorter = std::min(a.size(), b.size());
  std::size_t head = 0;
  while (head + 8 <= shorter && SameEight(a.data() + head, b.data() + head)) head += 8;
  while (head < shorter && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail + 8 <= shorter - head && SameEight(a.data() + a.size() - tail - 8, b.data() + b.size() - tail - 8))
    tail += 8;
  while (tail < shorter - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) ++tail;
  d.from = static_cast<std::uint32_t>(head);
  d.to = static_cast<std::uint32_t>(a.size() - tail);
  d.replacement.segments.assign(b.begin() + static_cast<std::ptrdiff_t>(head),
                                b.end() - static_cast<std::ptrdiff_t>(tail));
  return d;
}

ChainImage ApplyDelta(const ChainImage& base, const ChainDelta& d) {
  ChainImage out{d.replacement.sampleRate, d.replacement.channels, {}};
  const auto& a = base.segments;
  const auto& r = d.replacement.segments;
  out.segments.reserve(a.size() - (d.to - d.from) + r.size());
  out.segments.insert(out.segments.end(), a.begin(), a.begin() + d.from);
  out.segments.insert(out.segments.end(), r.begin(), r.end());
  out.segments.insert(out.segments.end(), a.begin() + d.to, a.end());
  return out;
}

namespace {
// The fields every record of a document's state starts with, after the record header.
void PutDocumentState(Out& o, const JournalImage& j) {
  o.bytes.resize(kRecordHeaderBytes);
  o.Put(j.changedAtMs);
  o.Put(static_cast<std::int32_t>(j.untitledNumber));
  o.Text(j.file);
  o.Put(j.savedVersion);
  o.Put(j.nextVersion);
  o.Put(static_cast<std::int64_t>(j.mark1));
  o.Put(static_cast<std::int64_t>(j.mark2));
  o.Positions(j.present);
  o.Put(static_cast<std::int32_t>(j.undoIndex));
}
}  // namespace

std::string EncodeChanges(const JournalImage& j, const ChangeParts& parts) {
  Out o;
  PutDocumentState(o, j);
  o.Put(static_cast<std::uint8_t>(parts.present.has_value()));
  if (parts.present) o.Delta(*parts.present);
  std::uint8_t mask = 0;
  for (int i = 0; i < kUndoEntries; ++i)
    if (parts.entries[static_cast<std::size_t>(i)]) mask = static_cast<std::uint8_t>(mask | 1u << i);
  o.Put(mask);
  for (int i = 0; i < kUndoEntries; ++i) {
    const auto& d = parts.entries[static_cast<std::size_t>(i)];
    if (!d) continue;
    const UndoImage& e = j.undo[static_cast<std::size_t>(i)];
    o.Text(e.name);
    if (e.name.empty()) continue;
    o.Delta(*d);
    o.Positions(e.state);
  }
  return o.Seal(4, j.sequence);
}

std::string JournalFileHeader() {
  Out o;
  o.bytes.assign(kMagic, 4);
  o.Put(kJournalFormat);
  o.Put(std::uint16_t{0});
  return o.bytes;
}

std::string EncodeRecord(const JournalImage& j, RecordParts parts) {
  Out o;
  PutDocumentState(o, j);
  o.Put(static_cast<std::uint8_t>(parts.presentChain));
  if (parts.presentChain) o.Chain(j.present.chain);
  o.Put(parts.entries);
  for (int i = 0; i < kUndoEntries; ++i) {
    if (!(parts.entries & (1u << i))) continue;
    const UndoImage& e = j.undo[static_cast<std::size_t>(i)];
    o.Text(e.name);
    if (e.name.empty()) continue;
    o.Chain(e.state.chain);
    o.Positions(e.state);
  }
  if (parts.whole() && !j.marks.empty()) o.Marks(j.marks);
  return o.Seal(parts.whole() ? 1 : 2, j.sequence);
}

std::string EncodeMarksRecord(const JournalImage& j) {
  Out o;
  o.bytes.resize(kRecordHeaderBytes);
  o.Marks(j.marks);
  return o.Seal(3, j.sequence);
}

std::size_t ReplayJournal(std::span<const std::uint8_t> bytes,
                          const std::function<void(const JournalImage&)>& on, std::string* error) {
  auto stop = [&](std::size_t records, std::string what) {
    if (error) *error = std::move(what);
    return records;
  };
  if (bytes.size() < kJournalHeaderBytes)
    return stop(0, "the journal is " + std::to_string(bytes.size()) + " bytes long, shorter than its header");
  if (!std::equal(kMagic, kMagic + 4, bytes.begin())) return stop(0, "this is not a journal");
  const std::uint16_t format = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
  if (format != kJournalFormat) return stop(0, "the journal format " + std::to_string(format) + " is unknown");
  if (bytes[6] != 0 || bytes[7] != 0) return stop(0, "the journal has flags this version does not know");

  JournalImage j;
  std::size_t records = 0;
  for (std::size_t at = kJournalHeaderBytes; at < bytes.size();) {
    const std::string where = "record " + std::to_string(records + 1) + " at byte " + std::to_string(at);
    if (bytes.size() - at < kRecordHeaderBytes) return stop(records, where + " is cut short");
    const std::uint32_t payload = Le32(bytes.data() + at);
    if (payload > kMaxRecordBytes || payload > bytes.size() - at - kRecordHeaderBytes)
      return stop(records, where + " claims " + std::to_string(payload) + " bytes but " +
                               std::to_string(bytes.size() - at - kRecordHeaderBytes) + " follow");
    const std::span<const std::uint8_t> body = bytes.subspan(at + 8, 9 + std::size_t{payload});
    if (Crc32(body) != Le32(bytes.data() + at + 4)) return stop(records, where + " has a wrong checksum");
    const std::uint8_t type = body[0];
    const std::uint64_t sequence = std::uint64_t{Le32(body.data() + 1)} | std::uint64_t{Le32(body.data() + 5)} << 32;
    if (type < 1 || type > 4) return stop(records, where + " is of the unknown type " + std::to_string(type));
    if (records == 0 && type != 1) return stop(records, where + " holds changes to a document never recorded whole");
    if (records > 0 && sequence <= j.sequence)
      return stop(records, where + " has the sequence " + std::to_string(sequence) + " after " +
                               std::to_string(j.sequence));
    JournalImage next = j;
    next.sequence = sequence;
    Parser p(std::string_view(reinterpret_cast<const char*>(body.data()) + 9, payload));
    if (!(type == 3 ? p.Marks(next.marks) : p.Record(next, type == 1, type == 4 ? &j : nullptr)))
      return stop(records, where + ": " + p.error());
    j = std::move(next);
    ++records;
    if (on) on(j);
    at += kRecordHeaderBytes + payload;
  }
  return stop(records, "");
}

std::string EncodeJournal(const JournalImage& image) { return JournalFileHeader() + EncodeRecord(image); }

std::optional<JournalImage> DecodeJournal(std::span<const std::uint8_t> bytes, std::string* error) {
  std::optional<JournalImage> last;
  std::string why;
  const std::size_t records = ReplayJournal(bytes, [&](const JournalImage& j) { last = j; }, &why);
  if (why.empty() && records == 0) why = "the journal holds no record";
  if (!why.empty()) {
    if (error) *error = why;
    return std::nullopt;
  }
  return last;
}

}  // namespace quillet::core
