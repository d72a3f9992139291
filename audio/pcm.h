#pragma once
// Conversions between the internal sample and little-endian PCM byte layouts. Each
// works on a flat run of samples (any channel count). Reading never clips; writing
// saturates at the target width, so levels above full scale clip instead of wrapping.

#include <cstddef>
#include <cstdint>

#include "audio/sample.h"

namespace quillet::audio {

enum class PcmLayout : std::uint8_t {
  U8,     // unsigned, 128 is silence
  S16LE,
  S24LE,  // three bytes, low byte first
  S32LE,
};

constexpr int BytesPerSample(PcmLayout l) {
  switch (l) {
    case PcmLayout::U8: return 1;
    case PcmLayout::S16LE: return 2;
    case PcmLayout::S24LE: return 3;
    case PcmLayout::S32LE: return 4;
  }
  return 0;
}

// count samples from in (count x BytesPerSample bytes) into out.
void PcmToSamples(PcmLayout layout, const std::uint8_t* in, Sample* out, std::size_t count);
// count samples from in into out (count x BytesPerSample bytes), rounded to nearest and
// saturated.
void SamplesToPcm(PcmLayout layout, const Sample* in, std::uint8_t* out, std::size_t count);

}  // namespace quillet::audio
