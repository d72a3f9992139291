#include "audio/pcm.h"

#include <algorithm>

namespace quillet::audio {
namespace {

constexpr std::int64_t Clamp(std::int64_t v, std::int64_t lo, std::int64_t hi) {
  return std::min(std::max(v, lo), hi);
}

}  // namespace

void PcmToSamples(PcmLayout layout, const std::uint8_t* in, Sample* out, std::size_t count) {
  switch (layout) {
    case PcmLayout::U8:
      for (std::size_t i = 0; i < count; ++i) out[i] = (Sample{in[i]} - 128) * 4096;
      return;
    case PcmLayout::S16LE:
      for (std::size_t i = 0; i < count; ++i, in += 2) {
        const auto s = static_cast<std::int16_t>(in[0] | (in[1] << 8));
        out[i] = Sample{s} * 16;
      }
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
      for (std::size_t i = 0; i < count; ++i, out += 2) {
        const auto v = static_cast<std::uint16_t>(Clamp((std::int64_t{in[i]} + 8) >> 4, -32768, 32767));
        out[0] = static_cast<std::uint8_t>(v);
        out[1] = static_cast<std::uint8_t>(v >> 8);
      }
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
