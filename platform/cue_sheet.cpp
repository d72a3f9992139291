#include "platform/cue_sheet.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quillet::platform {
namespace {

constexpr std::size_t kMaxLineBytes = 4096;
constexpr std::size_t kMaxFiles = 99;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The next word (a quoted string keeps its blanks), removed from s.
std::string NextWord(std::string_view& s) {
  s = Trim(s);
  std::string word;
  if (!s.empty() && s.front() == '"') {
    const std::size_t close = s.find('"', 1);
    if (close == std::string_view::npos) {
      word = std::string(s.substr(1));
      s = {};
    } else {
      word = std::string(s.substr(1, close - 1));
      s.remove_prefix(close + 1);
    }
    return word;
  }
  std::size_t end = 0;
  while (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end]))) ++end;
  word = std::string(s.substr(0, end));
  s.remove_prefix(end);
  return word;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

int ParseSmall(std::string_view s, int max) {
  if (s.empty() || s.size() > 3) return -1;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v <= max ? v : -1;
}

std::string LineError(int line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

}  // namespace

std::int64_t ParseCueTime(std::string_view text) {
  const std::size_t a = text.find(':');
  if (a == std::string_view::npos) return -1;
  const std::size_t b = text.find(':', a + 1);
  if (b == std::string_view::npos) return -1;
  const int mm = ParseSmall(text.substr(0, a), 999);
  const int ss = ParseSmall(text.substr(a + 1, b - a - 1), 59);
  const int ff = ParseSmall(text.substr(b + 1), 74);
  if (mm < 0 || ss < 0 || ff < 0) return -1;
  return (std::int64_t{mm} * 60 + ss) * 75 + ff;
}

std::string FormatCueTime(std::int64_t sectors) {
  if (sectors < 0) sectors = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld",
                static_cast<long long>(sectors / (75 * 60)),
                static_cast<long long>(sectors / 75 % 60), static_cast<long long>(sectors % 75));
  return text;
}

std::string ParseCueSheet(std::string_view text, CueSheet* sheet) {
  *sheet = {};
  int lineNo = 0;
  // A UTF-8 byte-order mark is common in sheets written on other systems.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty()) {
    ++lineNo;
    std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.size() > kMaxLineBytes) return LineError(lineNo, "line too long");
    std::string_view rest = line;
    const std::string key = Upper(NextWord(rest));
    if (key.empty() || key == "REM" || key == "CATALOG" || key == "FLAGS" || key == "ISRC" ||
        key == "SONGWRITER" || key == "CDTEXTFILE")
      continue;
    CueTrack* track = sheet->tracks.empty() ? nullptr : &sheet->tracks.back();
    if (key == "FILE") {
      std::string name = NextWord(rest);
      const std::string type = Upper(NextWord(rest));
      if (name.empty()) return LineError(lineNo, "FILE without a name");
      if (type != "BINARY")
        return LineError(lineNo, "only BINARY files are supported, not \"" + type + "\"");
      if (sheet->files.size() >= kMaxFiles) return LineError(lineNo, "too many files");
      sheet->files.push_back(std::move(name));
    } else if (key == "TRACK") {
      if (sheet->files.empty()) return LineError(lineNo, "TRACK before any FILE");
      const int number = ParseSmall(NextWord(rest), 99);
      const std::string mode = Upper(NextWord(rest));
      if (number < 1) return LineError(lineNo, "track number must be 1 to 99");
      if (track && number <= track->number) return LineError(lineNo, "track numbers must rise");
      if (sheet->tracks.size() >= static_cast<std::size_t>(kMaxCueTracks))
        return LineError(lineNo, "more than 99 tracks");
      CueTrack t;
      t.number = number;
      if (mode == "AUDIO") {
        t.audio = true;
      } else if (mode == "MODE1/2352" || mode == "MODE2/2352") {
        t.audio = false;
      } else {
        return LineError(lineNo, "unsupported track mode \"" + mode + "\" (raw 2352-byte only)");
      }
      t.fileIndex = static_cast<int>(sheet->files.size()) - 1;
      t.index1 = -1;
      sheet->tracks.push_back(std::move(t));
    } else if (key == "INDEX") {
      if (!track) return LineError(lineNo, "INDEX outside a track");
      const int n = ParseSmall(NextWord(rest), 99);
      const std::int64_t at = ParseCueTime(NextWord(rest));
      if (n < 0 || at < 0) return LineError(lineNo, "malformed INDEX");
      if (track->fileIndex != static_cast<int>(sheet->files.size()) - 1)
        return LineError(lineNo, "INDEX of a track from an earlier FILE");
      if (n == 0) {
        track->index0 = at;
      } else if (n == 1) {
        if (track->index0 > at) return LineError(lineNo, "INDEX 01 before INDEX 00");
        track->index1 = at;
      }
    } else if (key == "PREGAP" || key == "POSTGAP") {
      if (!track) return LineError(lineNo, key + " outside a track");
      const std::int64_t at = ParseCueTime(NextWord(rest));
      if (at < 0) return LineError(lineNo, "malformed " + key);
      (key == "PREGAP" ? track->pregap : track->postgap) = at;
    } else if (key == "TITLE" || key == "PERFORMER") {
      std::string value = NextWord(rest);
      std::string& field = track ? (key == "TITLE" ? track->title : track->performer)
                                 : (key == "TITLE" ? sheet->title : sheet->performer);
      field = std::move(value);
    } else {
      return LineError(lineNo, "unknown command \"" + key + "\"");
    }
  }
  if (sheet->tracks.empty()) return "the sheet has no tracks";
  for (const CueTrack& t : sheet->tracks)
    if (t.index1 < 0) return "track " + std::to_string(t.number) + " has no INDEX 01";
  return {};
}

std::string BuildDiscLayout(const CueSheet& sheet, const std::vector<std::uint64_t>& fileBytes,
                            DiscLayout* layout) {
  *layout = {};
  if (fileBytes.size() != sheet.files.size()) return "file sizes do not match the sheet";
  std::vector<std::int64_t> fileSectors;
  for (std::uint64_t b : fileBytes) {
    // More than a disc could ever hold is refused rather than overflowing addresses.
    if (b > (std::uint64_t{1} << 40)) return "a file is too large for a disc image";
    fileSectors.push_back(static_cast<std::int64_t>((b + kRawSectorBytes - 1) / kRawSectorBytes));
  }
  std::int64_t lba = 0;
  auto emit = [&](int file, std::int64_t from, std::int64_t count) {
    if (count <= 0) return;
    if (!layout->runs.empty() && file < 0 && layout->runs.back().fileIndex < 0) {
      layout->runs.back().count += count;
    } else {
      layout->runs.push_back({lba, count, file, from});
    }
    lba += count;
  };
  int curFile = -1;
  std::int64_t cursor = 0;  // next unplayed sector of curFile
  const CueTrack* prev = nullptr;
  for (const CueTrack& t : sheet.tracks) {
    const std::int64_t first = t.index0 >= 0 ? t.index0 : t.index1;
    if (t.fileIndex != curFile) {
      if (curFile >= 0) emit(curFile, cursor, fileSectors[curFile] - cursor);
      curFile = t.fileIndex;
      cursor = 0;
    } else if (first < cursor) {
      return "track " + std::to_string(t.number) + " starts before the previous one";
    }
    if (t.index1 > fileSectors[curFile] || (t.index1 == fileSectors[curFile] && t.index1 > 0))
      return "track " + std::to_string(t.number) + " starts past the end of \"" +
             sheet.files[curFile] + "\"";
    emit(curFile, cursor, first - cursor);
    if (prev) emit(-1, 0, prev->postgap);
    emit(-1, 0, t.pregap);
    cursor = first;
    layout->tracks.push_back({t.number, t.audio, lba + (t.index1 - first)});
    prev = &t;
  }
  if (curFile >= 0) emit(curFile, cursor, fileSectors[curFile] - cursor);
  if (prev) emit(-1, 0, prev->postgap);
  layout->leadOut = lba;
  if (layout->leadOut <= layout->tracks.back().start) return "the last track is empty";
  return {};
}

std::string WriteCueSheet(std::string_view binName, const std::vector<std::int64_t>& starts,
                          const std::vector<std::int64_t>& pregaps) {
  std::string out = "FILE \"" + std::string(binName) + "\" BINARY\n";
  char line[64];
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n", i + 1);
    out += line;
    if (i < pregaps.size() && pregaps[i] > 0) out += "    PREGAP " + FormatCueTime(pregaps[i]) + "\n";
    out += "    INDEX 01 " + FormatCueTime(starts[i]) + "\n";
  }
  return out;
}

}  // namespace quillet::platform
