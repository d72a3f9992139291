#include "audio/speed.h"

#include <gtest/gtest.h>

#include "audio/resample.h"
#include "fixtures/signals.h"

namespace quillet::audio {
namespace {

using namespace quillet::testing;

TEST(TimeStretch, UnitySpeedIsTheInputExactly) {
  const AudioBlock in = Noise(2, 20000, 3);
  LTimeStretchSource s(MemorySource(in, 44100), 1.0, 1.0);
  EXPECT_EQ(s.length(), 20000);
  EXPECT_EQ(ReadSource(s, 777), in);
}

TEST(TimeStretch, LengthAndPitchFollowTheSpeedOnATone) {
  for (double r : {0.5, 0.8, 1.25, 2.0, 3.0}) {
    SCOPED_TRACE(r);
    LTimeStretchSource s(MemorySource(Sine(1, 88200, 44100, 440, 100000), 44100), r, r);
    EXPECT_EQ(s.length(), static_cast<FrameCount>(std::ceil(88200 / r)));
    const AudioBlock out = ReadSource(s);
    const Tone t = MeasureTone(out, 0, 44100, 440, 1000, out.frames() - 1000);
    EXPECT_NEAR(t.frequency, 440, 0.5);
    EXPECT_NEAR(t.amplitude, 100000, 5000);
  }
}

TEST(TimeStretch, BlockSizeDoesNotChangeTheOutputAndSeekingIsStable) {
  const AudioBlock in = Noise(2, 3 * 8192 + 17, 8);
  LTimeStretchSource whole(MemorySource(in, 44100), 1.37, 1.37);
  const AudioBlock ref = ReadSource(whole, 1 << 20);
  for (FrameCount block : {1, 441, 8191, 8192, 8193}) {
    LTimeStretchSource s(MemorySource(in, 44100), 1.37, 1.37);
    EXPECT_EQ(ReadSource(s, block), ref) << block;
  }
  LTimeStretchSource s(MemorySource(in, 44100), 1.37, 1.37);
  s.seek(5000);
  EXPECT_EQ(s.position(), 5000);
  EXPECT_EQ(ReadSource(s).frames(), ref.frames() - 5000);
}

// Rewind: from the middle, moving backwards, ramping up; the stream must end when the
// start is passed, and the reported input position must fall.
TEST(TimeStretch, NegativeRampMovesBackwardsAndEnds) {
  const FrameCount len = 44100 * 4;
  LTimeStretchSource s(MemorySource(Ramp(1, len), 44100), -1.0, -4.0, 8000, len / 2);
  ASSERT_GT(s.length(), 0);
  EXPECT_LT(s.length(), len / 2);
  FramePos last = s.inputPosition();
  AudioBlock chunk(1, 441);
  while (s.position() < s.length()) {
    s.read(chunk.data(), chunk.frames());
    EXPECT_LE(s.inputPosition(), last);
    last = s.inputPosition();
  }
  EXPECT_LT(last, 4 * s.segmentFrames());
  // Reading on after the end is silence.
  s.read(chunk.data(), chunk.frames());
  EXPECT_EQ(PeakOf(chunk, 0), 0);
}

TEST(TimeStretch, ZeroAndNonFiniteSpeedsStillEnd) {
  for (double sp : {0.0, -0.0, std::nan(""), 1e300}) {
    LTimeStretchSource s(MemorySource(Dc(1, 1000, 5), 44100), sp, sp);
    EXPECT_GT(s.length(), 0);
    EXPECT_LE(s.length(), 10000);
  }
  EXPECT_EQ(ClampSpeedFactor(0), kMinSpeedFactor);
  EXPECT_EQ(ClampSpeedFactor(std::nan("")), kMinSpeedFactor);
  EXPECT_EQ(ClampSpeedFactor(7), kMaxSpeedFactor);
}

TEST(SpeedAdaptors, PitchChangeKeepsDurationAndMovesTheTone) {
  auto s = ChangePitch(MemorySource(Sine(2, 88200, 44100, 440, 100000), 44100), 1.5);
  EXPECT_NEAR(static_cast<double>(s->length()), 88200, 2);
  EXPECT_EQ(s->sampleRate(), 44100);
  const AudioBlock out = ReadSource(*s);
  EXPECT_NEAR(MeasureTone(out, 1, 44100, 660, 2000, out.frames() - 2000).frequency, 660, 0.7);
  EXPECT_EQ(ChangeSpeed(MemorySource(Dc(1, 10, 1), 8000), 1.0)->length(), 10);
}

}  // namespace
}  // namespace quillet::audio
