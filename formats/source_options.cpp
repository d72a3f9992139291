#include "formats/source_options.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_stream.h"
#include "formats/ogg_head.h"

namespace quillet::formats {

using core::ParamSet;
using platform::ByteSource;

namespace {

std::vector<std::uint8_t> Bytes(ByteSource& b, std::uint64_t at, std::size_t n) {
  if (n == 0 || at >= b.Size()) return {};
  std::vector<std::uint8_t> out(static_cast<std::size_t>(std::min<std::uint64_t>(n, b.Size() - at)));
  out.resize(b.ReadAt(at, out.data(), out.size()));
  return out;
}

// The lowest offered bit rate not below kbps, so a re-encode never has fewer bits
// than the file had; past the top, the top with a note saying so.
void SetRateAtLeast(ParamSet& v, std::size_t field, int kbps, std::string* note) {
  const auto& offered = v.field(field).values;
  const auto it = std::find_if(offered.begin(), offered.end(), [&](std::int64_t r) { return r >= kbps; });
  if (it != offered.end()) {
    v.SetInt(field, *it);
    return;
  }
  v.SetInt(field, offered.back());
  *note = "The file was encoded at " + std::to_string(kbps) + " kbit/s; the highest rate offered is " +
          std::to_string(offered.back()) + " kbit/s.";
}

// Frames looked at for a constant rate when no header says how the file was encoded.
constexpr int kFramesToCompare = 32;

void FromMp3(ByteSource& b, ParamSet& v, std::string* note) {
  std::vector<std::uint8_t> head = Bytes(b, 0, 10);
  const std::uint64_t start = Id3v2TagSize(head.data(), head.size());
  const std::vector<std::uint8_t> buf = Bytes(b, start, 256 * 1024);
  Mp3Header h;
  std::int64_t at = FindMp3Frame(buf.data(), buf.size(), 0, std::min<std::size_t>(buf.size(), 65536),
                                 false, 0, h);
  if (at < 0 || h.freeFormat()) return;
  const std::size_t first = static_cast<std::size_t>(at);
  const Mp3VbrHeader vbr =
      ParseMp3VbrHeader(buf.data() + first, std::min<std::size_t>(h.frameBytes(), buf.size() - first), h);
  bool variable = vbr.variable;
  int top = 0;
  int mode = h.mode;
  std::size_t p = first + (vbr.present ? static_cast<std::size_t>(h.frameBytes()) : 0);
  for (int i = 0; i < kFramesToCompare && p + 4 <= buf.size(); ++i) {
    Mp3Header f;
    if (!ParseMp3Header(buf.data() + p, f) || !f.SameStream(h) || f.frameBytes() <= 0) break;
    if (i == 0) mode = f.mode;
    if (top && f.bitrate / 1000 != top) variable = true;
    top = std::max(top, f.bitrate / 1000);
    p += static_cast<std::size_t>(f.frameBytes());
  }
  if (!top) return;
  // Dual channel has no setting of its own: plain stereo keeps the channels apart too.
  constexpr std::int64_t kModeOf[] = {0, 1, 0, 3};
  v.SetInt(kMp3ChannelMode, kModeOf[mode & 3]);
  v.SetInt(kMp3Cbr, variable ? 0 : 1);
  if (variable) {
    // A variable file's frames may reach any rate: the top stays open.
    v.SetInt(kMp3VbrMax, v.field(kMp3VbrMax).values.back());
  } else {
    SetRateAtLeast(v, kMp3CbrRate, top, note);
  }
}

// Nominal kbit/s of Vorbis quality 0..10 for 44.1 kHz stereo, the reference encoder's
// published figures.
constexpr int kVorbisQualityKbps[] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 500};

void FromOgg(ByteSource& b, ParamSet& v, std::string*) {
  const std::vector<std::uint8_t> buf = Bytes(b, 0, 4096);
  const std::optional<VorbisHead> head = ParseVorbisHead(buf.data(), buf.size());
  if (!head) return;
  v.SetInt(kOggChannels, std::min(head->channels, 2));
  if (head->nominalBitRate <= 0) return;
  // The table is for stereo: a mono stream of the same quality has about half the rate.
  const int stereoKbps = head->nominalBitRate / 1000 * (head->channels == 1 ? 2 : 1);
  const auto* q = std::find_if(std::begin(kVorbisQualityKbps), std::end(kVorbisQualityKbps),
                               [&](int k) { return k >= stereoKbps; });
  if (q == std::end(kVorbisQualityKbps)) --q;
  v.SetInt(kOggByQuality, 1);
  v.SetInt(kOggQuality, q - std::begin(kVorbisQualityKbps));
}

// An MPEG-4 descriptor's length: up to four bytes of seven bits.
bool DescriptorLength(const std::uint8_t*& p, const std::uint8_t* end, std::uint32_t* len) {
  *len = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return false;
    const std::uint8_t c = *p++;
    *len = *len << 7 | (c & 0x7F);
    if (!(c & 0x80)) return true;
  }
  return true;
}

// The average bit rate of the elementary stream descriptor whose body (after
// "esds") is p..end, else its peak; 0 when it says neither.
std::uint32_t EsdsBitRate(const std::uint8_t* p, const std::uint8_t* end) {
  const auto skip = [&](std::ptrdiff_t n) {
    if (end - p < n) return false;
    p += n;
    return true;
  };
  std::uint32_t len = 0;
  if (!skip(4) || p == end || *p++ != 0x03 || !DescriptorLength(p, end, &len) || end - p < 3) return 0;
  p += 2;  // ES_ID
  const std::uint8_t flags = *p++;
  if ((flags & 0x80) && !skip(2)) return 0;
  if ((flags & 0x40) && (p == end || !skip(1 + *p))) return 0;
  if ((flags & 0x20) && !skip(2)) return 0;
  if (p == end || *p++ != 0x04 || !DescriptorLength(p, end, &len) || end - p < 13) return 0;
  const std::uint32_t peak = platform::LoadBE32(p + 5);
  const std::uint32_t average = platform::LoadBE32(p + 9);
  return average ? average : peak;
}

// The movie box can sit after the media data: top-level boxes are walked by size.
constexpr std::size_t kMaxMovieBox = 16u << 20;

void FromMp4(ByteSource& b, ParamSet& v, std::string*) {
  std::uint64_t at = 0;
  while (at + 8 <= b.Size()) {
    const std::vector<std::uint8_t> h = Bytes(b, at, 16);
    if (h.size() < 8) return;
    std::uint64_t size = platform::LoadBE32(h.data());
    std::uint64_t body = 8;
    if (size == 1 && h.size() == 16) {
      size = std::uint64_t{platform::LoadBE32(h.data() + 8)} << 32 | platform::LoadBE32(h.data() + 12);
      body = 16;
    } else if (size == 0) {
      size = b.Size() - at;
    }
    if (size < body) return;
    if (std::memcmp(h.data() + 4, "moov", 4) == 0) {
      const std::vector<std::uint8_t> movie = Bytes(b, at + body, static_cast<std::size_t>(std::min<std::uint64_t>(size - body, kMaxMovieBox)));
      const std::string_view text(reinterpret_cast<const char*>(movie.data()), movie.size());
      const std::size_t esds = text.find("esds");
      if (esds == std::string_view::npos) return;
      const std::uint32_t bps = EsdsBitRate(movie.data() + esds + 4, movie.data() + movie.size());
      if (!bps) return;
      const auto& f = v.field(kAacAbrRate);
      v.SetInt(kAacAbr, 1);
      v.SetInt(kAacAbrRate, std::clamp<std::int64_t>((bps + 999) / 1000, f.min, f.max));
      return;
    }
    at += size;
  }
}

void FromAmr(ByteSource& b, ParamSet& v, std::string*) {
  constexpr std::string_view kMagic = "#!AMR\n";
  const std::vector<std::uint8_t> buf = Bytes(b, 0, kMagic.size() + 1);
  if (buf.size() <= kMagic.size() || std::memcmp(buf.data(), kMagic.data(), kMagic.size()) != 0) return;
  const int mode = buf[kMagic.size()] >> 3 & 0x0F;
  if (mode < static_cast<int>(std::size(kAmrModeNames))) v.SetInt(kAmrMode, mode);
}

struct SourceReading {
  const OptionRecord* record;
  void (*fill)(ByteSource&, ParamSet&, std::string*);
};

// The formats whose every encode loses something; FLAC keeps the document's rate,
// channels and depth on its own.
const SourceReading kReadings[] = {
    {&kMp3Options, FromMp3},
    {&kOggOptions, FromOgg},
    {&kAacOptions, FromMp4},
    {&kAmrOptions, FromAmr},
};

const SourceReading* ReadingOf(const OptionRecord* record) {
  const auto* r = std::find_if(std::begin(kReadings), std::end(kReadings),
                               [&](const SourceReading& x) { return x.record == record; });
  return r == std::end(kReadings) ? nullptr : r;
}

}  // namespace

bool ReadSourceOptions(const OptionRecord& record, ByteSource& bytes, ParamSet& values, std::string* note) {
  const SourceReading* reading = ReadingOf(&record);
  if (!reading) return false;
  reading->fill(bytes, values, note);
  if (record.afterLoad) record.afterLoad(values);
  return true;
}

std::optional<DocumentOptions> OptionsFromSource(const FormatRow& row, ByteSource& bytes, std::uint32_t rate,
                                                 int channels, const settings::Settings& s) {
  if (!row.options || !ReadingOf(row.options)) return std::nullopt;
  DocumentOptions out;
  out.record = row.options;
  out.values = LoadOptions(*row.options, s, rate, channels);
  ReadSourceOptions(*row.options, bytes, *out.values, &out.note);
  return out;
}

std::optional<DocumentOptions> OptionsFromFile(const std::filesystem::path& file, std::uint32_t rate,
                                               int channels, const settings::Settings& s) {
  std::unique_ptr<platform::FileByteSource> bytes = platform::FileByteSource::Open(file);
  if (!bytes) return std::nullopt;
  return OptionsFromSource(RowForFile(file), *bytes, rate, channels, s);
}

}  // namespace quillet::formats
