#include "formats/wave_format.h"

#include <cstdio>

#include "platform/byte_source.h"

namespace quillet::formats {
namespace {

using platform::LoadLE16;
using platform::LoadLE32;
using platform::StoreLE16;
using platform::StoreLE32;

// The tail shared by the standard sub-format GUIDs (after the 4-byte tag field).
constexpr std::array<std::uint8_t, 12> kGuidTail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                    0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::size_t kExtensibleExtra = 22;

std::uint32_t SpeakerMask(int channels) {
  switch (channels) {
    case 1: return 0x4;        // front centre
    case 2: return 0x3;        // front left, right
    case 4: return 0x33;       // quad
    case 6: return 0x3F;       // 5.1
    case 8: return 0x63F;      // 7.1
    default: return 0;         // no particular layout
  }
}

std::string Thousands(std::uint64_t v) {
  std::string s = std::to_string(v);
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3) s.insert(static_cast<std::size_t>(i), ",");
  return s;
}

}  // namespace

std::vector<std::uint8_t> WaveFormat::ToBytes() const {
  std::vector<std::uint8_t> out(kFormatHeaderBytes + extra.size());
  StoreLE16(&out[0], tag);
  StoreLE16(&out[2], channels);
  StoreLE32(&out[4], rate);
  StoreLE32(&out[8], avgBytes);
  StoreLE16(&out[12], blockAlign);
  StoreLE16(&out[14], bits);
  StoreLE16(&out[16], static_cast<std::uint16_t>(extra.size()));
  std::copy(extra.begin(), extra.end(), out.begin() + kFormatHeaderBytes);
  return out;
}

std::optional<WaveFormat> WaveFormat::FromBytes(const std::uint8_t* p, std::size_t n, bool* cbCut) {
  if (cbCut) *cbCut = false;
  if (n < 16) return std::nullopt;
  WaveFormat f;
  f.tag = LoadLE16(p);
  f.channels = LoadLE16(p + 2);
  f.rate = LoadLE32(p + 4);
  f.avgBytes = LoadLE32(p + 8);
  f.blockAlign = LoadLE16(p + 12);
  f.bits = LoadLE16(p + 14);
  if (n >= kFormatHeaderBytes) {
    std::size_t cb = LoadLE16(p + 16);
    if (cb > n - kFormatHeaderBytes) {
      cb = n - kFormatHeaderBytes;
      if (cbCut) *cbCut = true;
    }
    f.extra.assign(p + kFormatHeaderBytes, p + kFormatHeaderBytes + cb);
  }
  return f;
}

std::uint16_t WaveFormat::SubFormatTag() const {
  if (tag != wave_tag::kExtensible || extra.size() < kExtensibleExtra) return 0;
  const std::uint8_t* guid = extra.data() + 6;
  if (!std::equal(kGuidTail.begin(), kGuidTail.end(), guid + 4)) return 0;
  if (LoadLE16(guid + 2) != 0) return 0;
  return LoadLE16(guid);
}

std::uint16_t WaveFormat::ValidBits() const {
  return tag == wave_tag::kExtensible && extra.size() >= 2 ? LoadLE16(extra.data()) : 0;
}

WaveFormat MakePcmFormat(std::uint32_t rate, int channels, int bits) {
  WaveFormat f;
  f.tag = wave_tag::kPcm;
  f.channels = static_cast<std::uint16_t>(channels);
  f.rate = rate;
  f.bits = static_cast<std::uint16_t>(bits);
  f.blockAlign = static_cast<std::uint16_t>(channels * ((bits + 7) / 8));
  f.avgBytes = rate * f.blockAlign;
  return f;
}

WaveFormat MakeExtensibleFormat(std::uint32_t rate, int channels, int bits, std::uint16_t subTag) {
  WaveFormat f = MakePcmFormat(rate, channels, bits);
  f.tag = wave_tag::kExtensible;
  f.extra.assign(kExtensibleExtra, 0);
  StoreLE16(&f.extra[0], static_cast<std::uint16_t>(bits));
  StoreLE32(&f.extra[2], SpeakerMask(channels));
  StoreLE16(&f.extra[6], subTag);
  std::copy(kGuidTail.begin(), kGuidTail.end(), f.extra.begin() + 10);
  return f;
}

std::string FormatTagName(std::uint16_t tag) {
  switch (tag) {
    case wave_tag::kPcm: return "PCM";
    case wave_tag::kMsAdpcm: return "Microsoft ADPCM";
    case wave_tag::kFloat: return "IEEE Float";
    case wave_tag::kALaw: return "CCITT A-Law";
    case wave_tag::kMuLaw: return "CCITT u-Law";
    case wave_tag::kImaAdpcm: return "IMA ADPCM";
    case wave_tag::kGsm610: return "GSM 6.10";
    case wave_tag::kMpegLayer3: return "MPEG Layer-3";
    case wave_tag::kExtensible: return "Extensible";
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "Format 0x%04X", tag);
  return buf;
}

std::string DescribeFormat(const WaveFormat& f) {
  std::string s = Thousands(f.rate) + " Hz";
  const bool sized = f.tag == wave_tag::kPcm || f.tag == wave_tag::kFloat ||
                     f.tag == wave_tag::kExtensible || f.tag == wave_tag::kALaw ||
                     f.tag == wave_tag::kMuLaw || f.tag == wave_tag::kImaAdpcm ||
                     f.tag == wave_tag::kMsAdpcm;
  if (sized) s += ", " + std::to_string(f.bits) + " Bit";
  if (f.channels == 1)
    s += ", Mono";
  else if (f.channels == 2)
    s += ", Stereo";
  else
    s += ", " + std::to_string(f.channels) + " Channels";
  s += "  " + Thousands((std::uint64_t{f.avgBytes} + 512) / 1024) + " KB/s";
  return s;
}

}  // namespace quillet::formats
