#pragma once
// Automatic gain control: a first pass measures the speech-weighted level of every
// fiftieth of a second and finds each channel's reference (the typical level of its
// loud part); a second pass follows the level a second ahead and applies a gain curve
// that lifts quiet stretches a little and pulls loud ones down toward the reference.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "effects/pass.h"

namespace quillet::effects {

// Levels -127..127 counted at index level + 127.
using LevelHistogram = std::array<std::int64_t, 255>;

// Block length: a fiftieth of a second of frames, 20..8192.
FrameCount GainControlBlock(std::int64_t rate);
// The reference of a channel: its loudest eighth of blocks marks a level p; the median
// of the blocks from p - 15 dB up. -127 for a histogram of silence or of nothing.
int ReferenceLevel(const LevelHistogram& histogram);
// The gain in dB for a level relative to the reference: +5 far below it, 0 at it, and
// 1 dB less per dB above +1.
int GainCurve(int relativeLevel);

// The level the gain follows, fed one block level (relative to the reference) at a
// time: a robust "loud" level of the last 50 blocks, approached quickly when the sound
// gets louder and slowly when it gets quieter.
class LevelTracker {
 public:
  void Arrive(int level);
  // The smoothed level, truncated as the curve reads it.
  int level() const { return static_cast<int>(smoothed_); }

 private:
  int Loud() const;

  std::array<int, 50> window_{};
  std::size_t count_ = 0, next_ = 0;
  LevelHistogram histogram_{};
  double smoothed_ = -2.0;
};

// The 2^24 gain of each block of [start, end) (block b covers frames [b x B, (b + 1) x B)
// of the selection, B = GainControlBlock), measured in a first pass; empty when the
// selection is silent.
Outcome GainControlGains(const EffectParams& params, std::vector<std::int64_t>& gains,
                         const ProgressFn& progress = {});

// Both passes; the second applies the gains (linear within each block) and limits at
// 16-bit full scale.
PassResult AutomaticGainControl(const EffectParams& params, const ProgressFn& progress = {});

}  // namespace quillet::effects
