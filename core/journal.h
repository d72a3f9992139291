#pragma once
// The crash journal's file: an append-only log of one document's state (its chain,
// positions, file name, versions and undo ring) as segment records, never audio.
// A file opens with a whole record; each later record carries what changed since the
// one before (a record of a selection change is a hundred bytes). Each record has its
// own checksum, so a record cut short by a crash or garbled by a power cut ends the
// log there and every record before it still counts. Little-endian:
//   file:   "QJNL", u16 format (2), u16 0, then records
//   record: u32 payload bytes, u32 CRC-32 of the rest, u8 type (1 whole, 2 changes,
//           3 marks, 4 changes by difference), u64 sequence (rising), payload
//   payload: i64 changed-at ms, i32 untitled number, text file, u64 saved version,
//           u64 next version, i64 mark 1, i64 mark 2, the present's five positions
//           (i64) and version (u64), i32 undo index, u8 1 when the present chain
//           follows (then a chain), u8 mask of the undo entries that follow (each:
//           text name, and unless it is empty a chain, five positions and a version);
//           a whole record ends with the marks payload when the document has marks
//   marks payload (the document's bookmarks and regions, all of them, replacing the
//           last): u32 count x (text name, text key, u32 ms, u8 visits, u32 visited),
//           u32 count x (text name, text path, u32 start ms, u32 end ms, chain)
//   type 4: as type 2, but each chain is a difference: u8 source (0 none: the chain
//           whole follows; 1 the present chain before this record; 2 + i undo entry
//           i before it), and unless 0 u32 from, u32 to, then a chain whose segments
//           replace the source's segments [from, to), so an edit costs what it changed
//   text:   u32 bytes, the bytes; chain: u32 rate, u16 channels, u32 count, count x
//           (u16 file, i64 frames, i32 gain, i64 start frame)

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/chain.h"
#include "core/marks.h"
#include "core/undo.h"

namespace quillet::core {

class WaveDocument;

inline constexpr std::uint16_t kJournalFormat = 2;
inline constexpr std::size_t kJournalHeaderBytes = 8;
inline constexpr std::size_t kRecordHeaderBytes = 17;
// Bounds checked on reading: a file name, and one record.
inline constexpr std::size_t kMaxJournalPath = 4096;
inline constexpr std::size_t kMaxRecordBytes = 64u << 20;

// A chain as plain records, without references on the store.
struct ChainImage {
  std::uint32_t sampleRate = 44100;
  int channels = 1;
  std::vector<AudioSegment> segments;
  friend bool operator==(const ChainImage&, const ChainImage&) = default;
};

struct StateImage {
  ChainImage chain;
  FramePos cursor = 0;
  FramePos selStart = 0, selEnd = 0;
  FramePos viewStart = 0, viewEnd = 0;
  std::uint64_t version = 0;
  friend bool operator==(const StateImage&, const StateImage&) = default;
};

struct UndoImage {
  std::string name;  // empty: a free entry (its state is empty)
  StateImage state;
  friend bool operator==(const UndoImage&, const UndoImage&) = default;
};

// A bookmark and a region of the document, without the runtime document pointer.
struct BookmarkImage {
  std::string name, documentKey;
  std::uint32_t positionMs = 0;
  std::uint8_t timesVisited = 1;
  std::uint32_t lastVisited = 0;
  friend bool operator==(const BookmarkImage&, const BookmarkImage&) = default;
};

struct RegionImage {
  std::string name, path;
  std::uint32_t startMs = 0, endMs = 0;
  ChainImage audio;
  friend bool operator==(const RegionImage&, const RegionImage&) = default;
};

struct MarksImage {
  std::vector<BookmarkImage> bookmarks;
  std::vector<RegionImage> regions;
  bool empty() const { return bookmarks.empty() && regions.empty(); }
  friend bool operator==(const MarksImage&, const MarksImage&) = default;
};

// The marks of lists that belong to doc.
MarksImage MarksOf(const MarkLists& lists, const WaveDocument& doc);

struct JournalImage {
  std::uint64_t sequence = 0;
  std::int64_t changedAtMs = 0;  // wall clock, ms since 1970, of the last edit
  int untitledNumber = 0;
  std::string file;  // empty: untitled
  std::uint64_t savedVersion = 0, nextVersion = 0;
  FramePos mark1 = 0, mark2 = 0;
  StateImage present;
  std::array<UndoImage, kUndoEntries> undo;
  int undoIndex = 0;
  MarksImage marks;
  friend bool operator==(const JournalImage&, const JournalImage&) = default;
};

ChainImage ImageOf(const AudioChain& chain);
JournalImage ImageOf(const WaveDocument& doc, std::uint64_t sequence, std::int64_t changedAtMs);

// The name a recovered document is listed under: its file's name, else "Untitled %d".
std::string DocumentName(const JournalImage& image);
FrameCount ImageLength(const ChainImage& chain);

// What a record carries beyond the scalars and positions that every record has.
struct RecordParts {
  bool presentChain = true;
  std::uint8_t entries = 0xFF;  // bit i: undo entry i
  bool whole() const { return presentChain && entries == 0xFF; }
};

// A chain told as a change of one the reader already has: segments [from, to) of
// source (1 the present chain, 2 + i undo entry i, as the last record left them)
// replaced by the replacement's, which also gives rate and channels. Source 0: the
// replacement is the chain.
struct ChainDelta {
  std::uint8_t source = 0;
  std::uint32_t from = 0, to = 0;
  ChainImage replacement;
};
inline constexpr std::uint8_t kDeltaOfPresent = 1, kDeltaOfEntry = 2;
// The smallest change of base (the chain source names) that gives now.
ChainDelta DeltaOf(std::uint8_t source, const ChainImage& base, const AudioChain& now);
// base with d applied.
ChainImage ApplyDelta(const ChainImage& base, const ChainDelta& d);

// What a type-4 record carries beyond the scalars and positions: the present chain
// and the undo entries that changed (their names and positions from the image).
struct ChangeParts {
  std::optional<ChainDelta> present;
  std::array<std::optional<ChainDelta>, kUndoEntries> entries;  // a free entry: any delta
};
std::string EncodeChanges(const JournalImage& image, const ChangeParts& parts);

std::string JournalFileHeader();
// A marks record of image.marks.
std::string EncodeMarksRecord(const JournalImage& image);
// One record of image: whole (parts all set; a file's first record must be whole)
// or the parts named.
std::string EncodeRecord(const JournalImage& image, RecordParts parts = {});

// Replays a journal file: on(image) after each record that reads back whole, in
// order. Returns how many did; *error says why it stopped before the end of the
// bytes (empty when every byte belonged to a whole record). Never reads outside bytes.
std::size_t ReplayJournal(std::span<const std::uint8_t> bytes,
                          const std::function<void(const JournalImage&)>& on, std::string* error);

// A file holding image as one whole record, and the newest state of a file that must
// read back whole (nullopt with *error saying what is wrong, with the numbers).
std::string EncodeJournal(const JournalImage& image);
std::optional<JournalImage> DecodeJournal(std::span<const std::uint8_t> bytes, std::string* error);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}  // namespace quillet::core
