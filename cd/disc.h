#pragma once
// An audio CD as the program sees it: the tracks of its table of contents with
// their titles, the disc id of the CDDB algorithm, and what a CDDB entry says about
// it (titles, artist, year, extended data).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cd/device.h"
#include "cd/mmc.h"
#include "platform/paths.h"

namespace quillet::cd {

// Longest text kept in a title or extended-data field, in bytes.
inline constexpr std::size_t kMaxFieldBytes = 259;

struct CdTrack {
  std::int32_t duration = 0;  // seconds, (end - start) / 75
  std::string title;          // "Track %.2d" until CDDB names it
  int number = 0;             // 1-based
  std::int64_t start = 0;     // first sector
  std::int64_t end = 0;       // first sector of the next track or the lead-out
  std::string extended;       // CDDB "EXTT"
  bool audio = true;          // data tracks are listed for the disc id, never ripped
};

struct CdDisc {
  int driveIndex = 0;
  bool lookup = true;
  std::string title;
  std::string artist;
  std::string category;
  std::int32_t year = 0;
  std::string extended;
  std::vector<CdTrack> tracks;
  std::int64_t leadOut = 0;
  std::uint32_t discId = 0;
};

// The CDDB disc id: digit sums of every track's start second (with the 2-second
// lead-in), the playing time in whole seconds, the track count.
std::uint32_t CddbDiscId(const std::vector<std::int64_t>& starts, std::int64_t leadOut);
// "%08x".
std::string DiscIdText(std::uint32_t id);
// The seconds between the first track and the lead-out, as the id and query use it.
std::uint32_t DiscSeconds(const std::vector<std::int64_t>& starts, std::int64_t leadOut);

// A disc of the table of contents: default titles, ends, durations and the id.
CdDisc DiscFromToc(const Toc& toc);

// Reads the table of contents of an open drive; the reason on failure.
std::string ReadDiscToc(CdDevice& device, Toc* toc);

// Disc and track titles become file names by the rule regions follow.
using platform::FileNameSafe;

// Text of a CDDB server as UTF-8: kept when it is valid UTF-8, else read as Latin-1.
std::string DecodeCddbText(std::string_view bytes);

// Reads the lines of one CDDB entry into a disc. The first line of a key replaces
// what the disc had; later lines of the same key continue it, as the entry format
// splits long values. Track numbers outside the disc and lines without '=' are
// ignored.
class CddbEntryReader {
 public:
  explicit CddbEntryReader(CdDisc& disc);
  // One line of the entry (DTITLE, TTITLE n, EXTD, EXTT n; others are skipped).
  void Apply(std::string_view line);
  // Once every line is in: DTITLE split into artist and title at " / ", the year.
  void Finish();

 private:
  CdDisc& disc_;
  char title_ = 0, extended_ = 0;
  std::vector<char> trackTitle_, trackExtended_;
};

}  // namespace quillet::cd
