#include "devices/level.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quillet::devices {
namespace {

std::int8_t ClampLevel(double db) {
  return static_cast<std::int8_t>(std::clamp<long>(std::lround(db), kSilentLevel, 127));
}

LLevelRecord Empty(audio::ConstBlockView block) {
  LLevelRecord r;
  r.channels = static_cast<std::uint8_t>(std::clamp(block.channels(), 0, 255));
  r.level.fill(kSilentLevel);
  return r;
}

}  // namespace

LLevelRecord MeanSquareLevels(audio::ConstBlockView block) {
  LLevelRecord r = Empty(block);
  if (block.frames() <= 0) return r;
  for (int c = 0; c < r.channels; ++c) {
    // Clamped to 24 bits first, so the squares of 8192 frames fit in 64 bits.
    std::uint64_t sum = 0;
    for (audio::FrameCount f = 0; f < block.frames(); ++f) {
      const std::int64_t s = std::clamp<std::int64_t>(block(c, f), -(1 << 23), (1 << 23) - 1) >> 5;
      sum += static_cast<std::uint64_t>(s * s);
    }
    const std::uint64_t mean = sum / static_cast<std::uint64_t>(block.frames());
    if (mean != 0) r.level[c] = ClampLevel(10.0 * std::log10(static_cast<double>(mean) / 8388626.0));
  }
  return r;
}

LLevelRecord PeakLevels(audio::ConstBlockView block) {
  LLevelRecord r = Empty(block);
  for (int c = 0; c < r.channels; ++c) {
    std::int64_t peak = 0;
    for (audio::FrameCount f = 0; f < block.frames(); ++f)
      peak = std::max(peak, std::abs(std::int64_t{block(c, f)}));
    if (peak != 0) r.level[c] = ClampLevel(20.0 * std::log10(static_cast<double>(peak) / 131072.0));
  }
  return r;
}

int Loudness(const LLevelRecord& levels) {
  if (levels.channels == 0) return kSilentLevel;
  if (levels.channels == 1) return levels.level[0];
  return std::max(levels.level[0], levels.level[1]);
}

void LevelMeter::Update(const LLevelRecord& levels, std::int64_t nowMs) {
  Tick(nowMs);
  if (levels.channels != channels_) {
    Reset();
    channels_ = levels.channels;
    lastMs_ = nowMs;
  }
  for (std::size_t c = 0; c < static_cast<std::size_t>(channels_); ++c) {
    bars_[c] = std::max<int>(bars_[c], levels.level[c]);
    if (levels.level[c] >= peaks_[c]) {
      peaks_[c] = levels.level[c];
      peakAtMs_[c] = nowMs;
    }
  }
}

void LevelMeter::Tick(std::int64_t nowMs) {
  int fall = 0;
  if (nowMs < lastMs_ || options_.fallDbPerSecond <= 0) {
    lastMs_ = nowMs;
  } else {
    fall = static_cast<int>(std::min<std::int64_t>((nowMs - lastMs_) * options_.fallDbPerSecond / 1000, 254));
    // Whole decibels only: the rest of the time counts towards the next tick.
    lastMs_ = fall == 254 ? nowMs : lastMs_ + std::int64_t{fall} * 1000 / options_.fallDbPerSecond;
  }
  for (std::size_t c = 0; c < static_cast<std::size_t>(channels_); ++c) {
    bars_[c] = std::max(bars_[c] - fall, kSilentLevel);
    if (nowMs - peakAtMs_[c] > options_.peakHoldMs) peaks_[c] = bars_[c];
  }
}

void LevelMeter::Reset() {
  channels_ = 0;
  bars_.fill(kSilentLevel);
  peaks_.fill(kSilentLevel);
  peakAtMs_.fill(0);
}

}  // namespace quillet::devices
