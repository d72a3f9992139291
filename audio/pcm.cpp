#include "audio/pcm.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "audio/kernel.h"

namespace quillet::audio {

// The 16-bit paths copy words as they are: the files are little-endian.
static_assert(std::endian::native == std::endian::little);
namespace {

constexpr std::int64_t Clamp(std::int64_t v, std::int64_t lo, std::int64_t hi) {
  return std::min(std::max(v, lo), hi);
}

}  // namespace

// The 16-bit paths run over every sample of most loads and saves: in 32-bit lanes the
// compiler can vectorise them.

namespace {

QUILLET_KERNEL
void Pcm16ToSamples(const std::uint8_t* in, Sample* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::int16_t s;
    std::memcpy(&s, in + 2 * i, 2);
    out[i] = Sample{s} * 16;
  }
}

// (v + 8) >> 4 without the sum overflowing at the top of the range, then saturated.
QUILLET_KERNEL
void SamplesToPcm16(const Sample* in, std::uint8_t* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::int32_t v = in[i];
    const std::int32_t r = (v >> 4) + (((v & 15) + 8) >> 4);
    const auto s = static_cast<std::int16_t>(std::min(std::max(r, -32768), 32767));
    std::memcpy(out + 2 * i, &s, 2);
  }
}

}  // namespace

void PcmToSamples(PcmLayout layout, const std::uint8_t* in, Sample* out, std::size_t count) {
  switch (layout) {
    case PcmLayout::U8:
      for (std::size_t i = 0; i < count; ++i) out[i] = (Sample{in[i]} - 128) * 4096;
      return;
    case PcmLayout::S16LE:
      Pcm16ToSamples(in, out, count);
      return;
    case PcmLayout::S24LE:
      for (std::size_t i = 0; i < count; ++i, in += 3) {
        // The three bytes as the top of a 32-bit word, so the sign comes for free.
        const auto w = static_cast<std::int32_t>(static_cast<std::uint32_t>(in[0]) << 8 |
                                                 static_cast<std::uint32_t>(in[1]) << 16 |
                                                 static_cast<std::uint32_t>(in[2]) << 24);
        out[i] = w >> 12;
      }
      return;
    case PcmLayout::S32LE:
      for (std::size_t i = 0; i < count; ++i, in += 4) {
        const auto s = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
            static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24);
        // 64 bits: the rounding term must not overflow at the top of the range.
        out[i] = static_cast<Sample>((std::int64_t{s} + 2048) >> 12);
      }
      return;
  }
}

void SamplesToPcm(PcmLayout layout, const Sample* in, std::uint8_t* out, std::size_t count) {
  switch (layout) {
    case PcmLayout::U8:
      for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(Clamp((std::int64_t{in[i]} + 2048) >> 12, -128, 127) + 128);
      return;
    case PcmLayout::S16LE:
      SamplesToPcm16(in, out, count);
      return;
    case PcmLayout::S24LE:
      for (std::size_t i = 0; i < count; ++i, out += 3) {
        const auto v = static_cast<std::uint32_t>(Clamp(std::int64_t{in[i]} * 16, -8388608, 8388607));
        out[0] = static_cast<std::uint8_t>(v);
        out[1] = static_cast<std::uint8_t>(v >> 8);
        out[2] = static_cast<std::uint8_t>(v >> 16);
      }
      return;
    case PcmLayout::S32LE:
      for (std::size_t i = 0; i < count; ++i, out += 4) {
        const auto v = static_cast<std::uint32_t>(
            Clamp(std::int64_t{in[i]} * 4096, INT32_MIN, INT32_MAX));
        out[0] = static_cast<std::uint8_t>(v);
        out[1] = static_cast<std::uint8_t>(v >> 8);
        out[2] = static_cast<std::uint8_t>(v >> 16);
        out[3] = static_cast<std::uint8_t>(v >> 24);
      }
      return;
  }
}

}  // namespace quillet::audio
