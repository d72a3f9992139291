#pragma once
// Frames and milliseconds, in integer arithmetic that does not lose the remainder
// and does not overflow for any 64-bit frame count a document can have.

#include <cstdint>

namespace quillet::platform {

// (frames / rate) * 1000 + (frames mod rate) * 1000 / rate; 0 for a rate below 1.
constexpr std::int64_t MsFromFrames(std::int64_t frames, std::int64_t rate) {
  if (rate < 1) return 0;
  return (frames / rate) * 1000 + (frames % rate) * 1000 / rate;
}

// (ms / 1000) * rate + (ms mod 1000) * rate / 1000; 0 for a rate below 1.
constexpr std::int64_t FramesFromMs(std::int64_t ms, std::int64_t rate) {
  if (rate < 1) return 0;
  return (ms / 1000) * rate + (ms % 1000) * rate / 1000;
}

}  // namespace quillet::platform
