#include "cd/disc.h"

#include <algorithm>
#include <cstdio>

namespace quillet::cd {
namespace {

int DigitSum(std::uint32_t n) {
  int s = 0;
  for (; n > 0; n /= 10) s += static_cast<int>(n % 10);
  return s;
}

// Appends to field, keeping at most kMaxFieldBytes bytes and whole UTF-8 sequences.
void AppendBounded(std::string& field, std::string_view more) {
  for (std::size_t i = 0; i < more.size();) {
    const unsigned char c = static_cast<unsigned char>(more[i]);
    const std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (field.size() + len > kMaxFieldBytes || i + len > more.size()) return;
    field.append(more.substr(i, len));
    i += len;
  }
}

// The track number of "TTITLE12=..." after prefix; -1 when not a number.
int KeyNumber(std::string_view key, std::string_view prefix) {
  std::string_view digits = key.substr(prefix.size());
  if (digits.empty() || digits.size() > 3) return -1;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::uint32_t DiscSeconds(const std::vector<std::int64_t>& starts, std::int64_t leadOut) {
  if (starts.empty()) return 0;
  // Each address becomes whole seconds first, as the id's reference does.
  const std::int64_t last = (leadOut + 150) / kSectorsPerSecond;
  const std::int64_t first = (starts.front() + 150) / kSectorsPerSecond;
  return static_cast<std::uint32_t>(std::max<std::int64_t>(0, last - first));
}

std::uint32_t CddbDiscId(const std::vector<std::int64_t>& starts, std::int64_t leadOut) {
  std::uint32_t s = 0;
  for (std::int64_t start : starts)
    s += static_cast<std::uint32_t>(
        DigitSum(static_cast<std::uint32_t>(std::max<std::int64_t>(0, start + 150) / 75)));
  const std::uint32_t t = DiscSeconds(starts, leadOut);
  return (s % 255) << 24 | (t & 0xFFFF) << 8 | static_cast<std::uint32_t>(starts.size() & 0xFF);
}

std::string DiscIdText(std::uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", id);
  return text;
}

CdDisc DiscFromToc(const Toc& toc) {
  CdDisc disc;
  std::vector<std::int64_t> starts;
  for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
    CdTrack t;
    t.number = static_cast<int>(i) + 1;
    char title[32];
    std::snprintf(title, sizeof title, "Track %.2d", t.number);
    t.title = title;
    t.start = toc.tracks[i].start;
    t.end = i + 1 < toc.tracks.size() ? toc.tracks[i + 1].start : toc.leadOut;
    t.duration = static_cast<std::int32_t>(std::max<std::int64_t>(0, t.end - t.start) / 75);
    t.audio = toc.tracks[i].audio;
    starts.push_back(t.start);
    disc.tracks.push_back(std::move(t));
  }
  disc.leadOut = toc.leadOut;
  disc.discId = CddbDiscId(starts, toc.leadOut);
  return disc;
}

std::string ReadDiscToc(CdDevice& device, Toc* toc) {
  std::vector<std::uint8_t> reply(kTocReplyBytes, 0);
  const platform::ScsiResult r = device.Execute(ReadTocCommand(reply.data(), reply.size()));
  if (!r.ok) return "the drive did not give its table of contents (" + r.Describe() + ")";
  return ParseToc(reply.data(), r.transferred, toc);
}

std::string DecodeCddbText(std::string_view bytes) {
  bool valid = true;
  for (std::size_t i = 0; i < bytes.size() && valid;) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3
                      : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || (len == 2 && c < 0xC2) || (len == 4 && c > 0xF4) || i + len > bytes.size()) {
      valid = false;
      break;
    }
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) valid = false;
    i += len;
  }
  if (valid) return std::string(bytes);
  std::string out;
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

CddbEntryReader::CddbEntryReader(CdDisc& disc)
    : disc_(disc), trackTitle_(disc.tracks.size(), 0), trackExtended_(disc.tracks.size(), 0) {}

void CddbEntryReader::Apply(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view key = line.substr(0, eq);
  const std::string value = DecodeCddbText(line.substr(eq + 1));
  // Replaces field on the key's first line, continues it on later ones.
  const auto put = [&](std::string& field, char& seen) {
    if (!seen) field.clear();
    seen = 1;
    AppendBounded(field, value);
  };
  const auto trackIndex = [&](std::string_view prefix) {
    const int n = KeyNumber(key, prefix);
    return n >= 0 && n < static_cast<int>(disc_.tracks.size()) ? n : -1;
  };
  if (key == "DTITLE") {
    put(disc_.title, title_);
  } else if (key == "EXTD") {
    put(disc_.extended, extended_);
  } else if (key.starts_with("TTITLE")) {
    const int n = trackIndex("TTITLE");
    if (n < 0) return;
    CdTrack& t = disc_.tracks[static_cast<std::size_t>(n)];
    t.number = n + 1;
    put(t.title, trackTitle_[static_cast<std::size_t>(n)]);
  } else if (key.starts_with("EXTT")) {
    const int n = trackIndex("EXTT");
    if (n < 0) return;
    put(disc_.tracks[static_cast<std::size_t>(n)].extended,
        trackExtended_[static_cast<std::size_t>(n)]);
  }
}

void CddbEntryReader::Finish() {
  CdDisc& disc = disc_;
  const std::size_t sep = disc.title.find(" / ");
  if (sep != std::string::npos) {
    disc.artist = FileNameSafe(disc.title.substr(0, sep));
    disc.title = FileNameSafe(disc.title.substr(sep + 3));
  }
  const std::size_t year = disc.extended.find("YEAR");
  if (year != std::string::npos && year + 6 < disc.extended.size()) {
    int y = 0, digits = 0;
    for (std::size_t i = year + 6; i < disc.extended.size() && digits < 5; ++i, ++digits) {
      const char c = disc.extended[i];
      if (c < '0' || c > '9') break;
      y = y * 10 + (c - '0');
    }
    if (digits > 0) disc.year = y;
  }
}

}  // namespace quillet::cd
