#pragma once
// Gains in 2^24 fixed point (unity 0x1000000) and the shared decibel table. Products are
// formed in wide integers and saturate to the sample word, whatever the gain.

#include <cstdint>

#include "audio/sample.h"

namespace quillet::effects {

using audio::Sample;

inline constexpr std::int64_t kUnity = std::int64_t{1} << 24;
inline constexpr int kMinDecibel = -127;
inline constexpr int kMaxDecibel = 127;

// s x g / 2^24, truncated toward minus infinity as an arithmetic shift would, saturated.
inline Sample GainProduct(Sample s, std::int64_t g) {
  if (g >= INT32_MIN && g <= INT32_MAX) return audio::SaturateSample((std::int64_t{s} * g) >> 24);
  __extension__ typedef __int128 Wide;
  const Wide p = (static_cast<Wide>(s) * g) >> 24;
  if (p > INT32_MAX) return INT32_MAX;
  if (p < INT32_MIN) return INT32_MIN;
  return static_cast<Sample>(p);
}

// 2^24 x 10^(dB / 20) for dB clamped to -127..127. -127 dB is the tiny gain the formula
// gives, not silence, so that a divisor taken from it is never 0; entries above +42 dB
// do not fit 32 bits, hence 64.
std::int64_t DecibelGain(int dB);
// The whole decibel of a 2^24 gain, rounded half away from zero, clamped to -127..127;
// a gain of 0 (or below) is -127.
int DecibelOfGain(std::int64_t gain);

}  // namespace quillet::effects
