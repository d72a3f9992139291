#pragma once
// Levels in whole decibels, one signed byte per channel, as the meters show them.

#include <array>
#include <cstdint>

#include "audio/block.h"

namespace quillet::devices {

inline constexpr int kSilentLevel = -127;

struct LLevelRecord {
  std::uint8_t channels = 0;
  std::array<std::int8_t, 256> level{};  // dB per channel, -127 for silence

  friend bool operator==(const LLevelRecord&, const LLevelRecord&) = default;
};

// Playback meters: per channel the mean square of (sample >> 5) over the block, as
// 10 log10(m / 8388626) dB (a full-scale square reads about +15).
LLevelRecord MeanSquareLevels(audio::ConstBlockView block);
// Recording meters: per channel the peak p as 20 log10(p / 131072) dB (16-bit full
// scale reads +12).
LLevelRecord PeakLevels(audio::ConstBlockView block);
// The loudness that starts and keeps a recording going: channel 0's level, or the
// louder of channels 0 and 1.
int Loudness(const LLevelRecord& levels);

// The model of one meter bar per channel: jumps up to a new level, falls back at a
// steady rate, and holds the highest level for a while.
class LevelMeter {
 public:
  struct Options {
    int fallDbPerSecond = 24;
    int peakHoldMs = 1500;
  };
  LevelMeter() = default;
  explicit LevelMeter(Options options) : options_(options) {}

  // A new record arrived nowMs (any steady clock in ms).
  void Update(const LLevelRecord& levels, std::int64_t nowMs);
  // Lets the bars fall without a new record (no sound arriving).
  void Tick(std::int64_t nowMs);
  void Reset();

  int channels() const { return channels_; }
  int bar(int channel) const { return bars_[static_cast<std::size_t>(channel)]; }
  int peak(int channel) const { return peaks_[static_cast<std::size_t>(channel)]; }

 private:
  Options options_;
  int channels_ = 0;
  std::int64_t lastMs_ = 0;
  std::array<int, 256> bars_{};
  std::array<int, 256> peaks_{};
  std::array<std::int64_t, 256> peakAtMs_{};
};

}  // namespace quillet::devices
