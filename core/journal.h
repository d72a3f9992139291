#pragma once
// The crash journal's file: an append-only log of one document's state (its chain,
// positions, file name, versions and undo ring) as segment records, never audio.
// A file opens with a whole record; each later record carries what changed since the
// one before (a record of a selection change is a hundred bytes). Each record has its
// own checksum, so a record cut short by a crash or garbled by a power cut ends the
// log there and every record before it still counts. Little-endian:
//   file:   "QJNL", u16 format (2), u16 0, then records
//   record: u32 payload bytes, u32 CRC-32 of the rest, u8 type (1 whole, 2 changes),
//           u64 sequence (rising), payload
//   payload: i64 changed-at ms, i32 untitled number, text file, u64 saved version,
//           u64 next version, i64 mark 1, i64 mark 2, the present's five positions
//           (i64) and version (u64), i32 undo index, u8 1 when the present chain
//           follows (then a chain), u8 mask of the undo entries that follow (each:
//           text name, and unless it is empty a chain, five positions and a version)
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

std::string JournalFileHeader();
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
