#pragma once
// The WAVE format record (the "fmt " chunk body): tag, channels, rate, average bytes
// per second, block align, bits per sample and the codec-specific bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet::formats {

namespace wave_tag {
inline constexpr std::uint16_t kPcm = 1;
inline constexpr std::uint16_t kMsAdpcm = 2;
inline constexpr std::uint16_t kFloat = 3;
inline constexpr std::uint16_t kALaw = 6;
inline constexpr std::uint16_t kMuLaw = 7;
inline constexpr std::uint16_t kImaAdpcm = 0x11;
inline constexpr std::uint16_t kGsm610 = 0x31;
inline constexpr std::uint16_t kMpegLayer3 = 0x55;
inline constexpr std::uint16_t kExtensible = 0xFFFE;
}  // namespace wave_tag

// Limits every reader and the codec manager apply.
inline constexpr int kMaxWaveChannels = 255;
inline constexpr std::uint32_t kMaxWaveRate = 196000;
// The fixed part of the record, and the largest record (format buffer) the program keeps.
inline constexpr std::size_t kFormatHeaderBytes = 18;
inline constexpr std::size_t kFormatBufferBytes = 1024;

struct WaveFormat {
  std::uint16_t tag = wave_tag::kPcm;
  std::uint16_t channels = 1;
  std::uint32_t rate = 44100;
  std::uint32_t avgBytes = 88200;
  std::uint16_t blockAlign = 2;
  std::uint16_t bits = 16;
  std::vector<std::uint8_t> extra;  // codec-specific bytes (cbSize of them)

  // The record as stored: 18 bytes plus the codec-specific bytes.
  std::vector<std::uint8_t> ToBytes() const;
  // From a stored record of n bytes (16 or more). A record of 16 or 17 bytes has no
  // codec-specific bytes; a cbSize beyond the record is cut to what is there and
  // *cbCut (when given) is set.
  static std::optional<WaveFormat> FromBytes(const std::uint8_t* p, std::size_t n,
                                             bool* cbCut = nullptr);

  // For WAVE_FORMAT_EXTENSIBLE: the sub-format's tag (PCM or float) when the GUID is
  // one of the standard "xxxxxxxx-0000-0010-8000-00aa00389b71" family, else 0.
  std::uint16_t SubFormatTag() const;
  std::uint16_t ValidBits() const;  // extensible only; 0 when absent

  friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// Plain PCM: bits 8, 16, 24 or 32, block align and average bytes filled in.
WaveFormat MakePcmFormat(std::uint32_t rate, int channels, int bits);
// WAVE_FORMAT_EXTENSIBLE around PCM (subTag 1) or float (subTag 3), with the usual
// speaker mask for the channel count.
WaveFormat MakeExtensibleFormat(std::uint32_t rate, int channels, int bits, std::uint16_t subTag);
// Short human name of a tag ("PCM", "IMA ADPCM", ...); "Format 0x%04X" for unknown ones.
std::string FormatTagName(std::uint16_t tag);
// One line as a chooser lists it: "44,100 Hz, 16 Bit, Stereo" plus the data rate.
std::string DescribeFormat(const WaveFormat& f);

}  // namespace quillet::formats
