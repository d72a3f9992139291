#pragma once
// CUE sheets with raw BIN files: the disc images the simulated drive plays. A sheet
// names its files (FILE "x.bin" BINARY), tracks (TRACK nn AUDIO or MODE1/2352,
// MODE2/2352), their indexes (INDEX nn mm:ss:ff, 75 frames a second) and gaps that
// are not in the file (PREGAP, POSTGAP). Every field is checked; a sheet that does
// not make sense is refused with the line that is wrong.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

inline constexpr int kRawSectorBytes = 2352;
inline constexpr int kMaxCueTracks = 99;

struct CueTrack {
  int number = 0;        // 1..99, rising
  bool audio = true;     // AUDIO; false for MODE1/2352 and MODE2/2352
  int fileIndex = 0;     // into CueSheet::files
  std::int64_t index0 = -1;  // sector in its file of INDEX 00; -1 when absent
  std::int64_t index1 = 0;   // sector in its file of INDEX 01
  std::int64_t pregap = 0;   // sectors of silence before the track, not in the file
  std::int64_t postgap = 0;  // sectors of silence after it
  std::string title;
  std::string performer;
};

struct CueSheet {
  std::vector<std::string> files;  // as written in the sheet
  std::vector<CueTrack> tracks;
  std::string title;
  std::string performer;
};

// "mm:ss:ff" as sectors; -1 when malformed (ff < 75, ss < 60, mm < 1000).
std::int64_t ParseCueTime(std::string_view text);
// Sectors as "mm:ss:ff".
std::string FormatCueTime(std::int64_t sectors);

// Parses text into *sheet; an empty string on success, else the reason with its
// line number. Lines it does not know (REM, CATALOG, FLAGS, ISRC, SONGWRITER) are
// skipped.
std::string ParseCueSheet(std::string_view text, CueSheet* sheet);

// A run of the disc: either sectors of one file or silence.
struct DiscRun {
  std::int64_t lba = 0;    // first disc sector of the run
  std::int64_t count = 0;  // sectors
  int fileIndex = -1;      // -1: silence
  std::int64_t fileSector = 0;
};

struct DiscLayout {
  struct Track {
    int number = 0;
    bool audio = true;
    std::int64_t start = 0;  // disc address of INDEX 01
  };
  std::vector<Track> tracks;
  std::int64_t leadOut = 0;  // first sector after the last track
  std::vector<DiscRun> runs;  // in disc order, covering [0, leadOut)
};

// Places sheet's tracks on a disc, given each file's size in bytes (a partial last
// sector counts, read as zeros past the end). Empty string on success, else why
// the sheet does not fit its files (an index past its file's end, say).
std::string BuildDiscLayout(const CueSheet& sheet, const std::vector<std::uint64_t>& fileBytes,
                            DiscLayout* layout);

// A sheet for one BIN file holding tracks that start at the given file sectors, with
// a PREGAP line for each non-zero gap (the format burned discs are written in).
std::string WriteCueSheet(std::string_view binName, const std::vector<std::int64_t>& starts,
                          const std::vector<std::int64_t>& pregaps);

}  // namespace quillet::platform
