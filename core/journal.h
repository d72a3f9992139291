#pragma once
// The crash journal's file: one document's whole state (its chain, positions, file
// name, versions and undo ring) as segment records, never audio. A journal is
// written whole into a fresh file and never changed; the newest one that reads back
// intact is the document. Little-endian:
//   "QJNL", u16 format (1), u16 0, u64 sequence, u32 payload bytes,
//   payload, u32 CRC-32 of everything before it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/chain.h"
#include "core/undo.h"

namespace quillet::core {

class WaveDocument;

inline constexpr std::uint16_t kJournalFormat = 1;
inline constexpr std::size_t kJournalHeaderBytes = 20;
// Bounds checked on reading: a file name, an undo name, and the whole file.
inline constexpr std::size_t kMaxJournalPath = 4096;
inline constexpr std::size_t kMaxJournalBytes = 64u << 20;

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

std::string EncodeJournal(const JournalImage& image);
// Nullopt with *error saying what is wrong (with the numbers) for anything that is not
// a whole, consistent journal; never reads outside bytes.
std::optional<JournalImage> DecodeJournal(std::span<const std::uint8_t> bytes, std::string* error);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}  // namespace quillet::core
