// The high-pass filter against its corner, with its clamps and saturation.
#include "effects/high_pass.h"

#include <gtest/gtest.h>

#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;

double GainDb(int enteredHz, double hz, int rate = 44100) {
  const AudioBlock in = Sine(1, rate, rate, hz, 300000);
  SourceHandle f = MakeHighPass(MemorySource(in, rate), {enteredHz});
  const AudioBlock out = ReadSource(*f);
  return Db(RmsOf(out, 0, rate / 2) / RmsOf(in, 0, rate / 2));
}

TEST(HighPass, PassesHighTonesAndCutsLowOnes) {
  EXPECT_NEAR(GainDb(250, 2000), 0, 0.5);
  EXPECT_LE(GainDb(250, 62.5), -16);
  // The corner lies at twice the entered frequency: 200 Hz itself is cut by more than
  // the 3 dB of a corner there.
  EXPECT_LE(GainDb(200, 200), -5);
  EXPECT_NEAR(GainDb(4000, 15000, 48000), 0, 4);
}

TEST(HighPass, ClampsItsFrequencyAndSaturates) {
  EXPECT_EQ(HighPassCoefficient(0, 44100), HighPassCoefficient(1, 44100));
  EXPECT_EQ(HighPassCoefficient(-100, 44100), HighPassCoefficient(1, 44100));
  EXPECT_EQ(HighPassCoefficient(1 << 30, 8000), HighPassCoefficient(20000, 8000));
  EXPECT_LT(HighPassCoefficient(20000, 8000), 256);  // stable at any rate
  EXPECT_GT(HighPassCoefficient(250, 44100), 0);
  // A step from full negative to full positive word: the output's swing exceeds the
  // word and saturates rather than wrapping.
  AudioBlock step = Dc(1, 2000, INT32_MIN);
  for (FrameCount i = 1000; i < 2000; ++i) step(0, i) = INT32_MAX;
  SourceHandle f = MakeHighPass(MemorySource(step, 44100), {4000});
  const AudioBlock out = ReadSource(*f);
  EXPECT_EQ(out(0, 1000), INT32_MAX);
}

TEST(HighPass, SeekClearsTheAccumulatorAndBlocksDoNotMatter) {
  const AudioBlock in = Noise(2, 3 * 8192 + 17, 11);
  SourceHandle f = MakeHighPass(MemorySource(in, 44100), {300});
  const AudioBlock whole = ReadSource(*f);
  f->seek(0);
  EXPECT_EQ(ReadSource(*f, 441), whole);
  for (FrameCount block : {1, 8191, 8193}) {
    SourceHandle g = MakeHighPass(MemorySource(in, 44100), {300});
    EXPECT_EQ(ReadSource(*g, block), whole) << block;
  }
}

}  // namespace
}  // namespace quillet::effects
