#include "devices/level.h"

#include <gtest/gtest.h>

#include "audio/block.h"

namespace quillet::devices {
namespace {

using audio::AudioBlock;

AudioBlock Square(int channels, audio::FrameCount frames, audio::Sample amplitude) {
  AudioBlock b(channels, frames);
  for (audio::FrameCount f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) b(c, f) = (f / 10) % 2 ? amplitude : -amplitude;
  return b;
}

TEST(Levels, SilenceIsMinus127AndFullScaleSquareAboutPlus15) {
  const AudioBlock silent(2, 800);
  const LLevelRecord quiet = MeanSquareLevels(silent.view());
  EXPECT_EQ(quiet.channels, 2);
  EXPECT_EQ(quiet.level[0], kSilentLevel);
  EXPECT_EQ(quiet.level[1], kSilentLevel);
  const LLevelRecord loud = MeanSquareLevels(Square(2, 800, 0x7FFF0).view());
  EXPECT_EQ(loud.level[0], 15);
  EXPECT_EQ(loud.level[1], 15);
}

TEST(Levels, MeanSquareDoesNotOverflowOnHugeSamples) {
  // Samples far beyond full scale (an unclipped mix) over the largest buffer.
  const LLevelRecord r = MeanSquareLevels(Square(1, 8192, INT32_MAX).view());
  // A wrapped sum would read quieter than full scale, or silent.
  EXPECT_GT(r.level[0], 15);
}

TEST(Levels, PeakLevelsFollowTwentyLog) {
  AudioBlock b(2, 100);
  b(0, 50) = 131072;   // 0 dB
  b(1, 10) = -13107;   // -20 dB
  const LLevelRecord r = PeakLevels(b.view());
  EXPECT_EQ(r.level[0], 0);
  EXPECT_EQ(r.level[1], -20);
  EXPECT_EQ(Loudness(r), 0);
  b(0, 50) = 0;
  EXPECT_EQ(Loudness(PeakLevels(b.view())), -20);
}

TEST(LevelMeter, JumpsUpFallsSteadilyAndHoldsThePeak) {
  LevelMeter meter({.fallDbPerSecond = 20, .peakHoldMs = 1000});
  LLevelRecord r;
  r.channels = 1;
  r.level[0] = -6;
  meter.Update(r, 0);
  EXPECT_EQ(meter.bar(0), -6);
  meter.Tick(500);
  EXPECT_EQ(meter.bar(0), -16);
  EXPECT_EQ(meter.peak(0), -6);
  r.level[0] = -30;  // a quieter record does not pull the bar down at once
  meter.Update(r, 550);
  EXPECT_EQ(meter.bar(0), -17);
  meter.Tick(1200);
  EXPECT_EQ(meter.peak(0), meter.bar(0));
  meter.Tick(100000);
  EXPECT_EQ(meter.bar(0), kSilentLevel);
}

}  // namespace
}  // namespace quillet::devices
