#pragma once
// The internal sample: a signed 32-bit word holding 16-bit audio times 16 (a 20-bit
// scale). Frames are channel-interleaved, channel 0 first; positions and lengths are
// counted in frames, always in 64 bits.

#include <cstdint>
#include <limits>

namespace quillet::audio {

using Sample = std::int32_t;
using FramePos = std::int64_t;    // may be negative: before the start reads as silence
using FrameCount = std::int64_t;  // a length in frames
static_assert(sizeof(FramePos) == 8 && sizeof(FrameCount) == 8);

// Full scale of the 20-bit representation.
inline constexpr Sample kSampleMax = 524287;
inline constexpr Sample kSampleMin = -524288;
// The largest value any file or decoder source delivers (32767 * 16).
inline constexpr std::uint32_t kFilePeakBound = 0x7FFF0;
// The bound declared by sources that may carry more than 16-bit full scale.
inline constexpr std::uint32_t kWidePeakBound = 0x200000;

// Long operations move audio in blocks of at most this many frames.
inline constexpr FrameCount kBlockFrames = 8192;
inline constexpr int kMaxChannels = 255;

// v clamped to the range of a Sample word.
constexpr Sample SaturateSample(std::int64_t v) {
  if (v > std::numeric_limits<Sample>::max()) return std::numeric_limits<Sample>::max();
  if (v < std::numeric_limits<Sample>::min()) return std::numeric_limits<Sample>::min();
  return static_cast<Sample>(v);
}

}  // namespace quillet::audio
