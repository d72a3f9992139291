#include "effects/conversion.h"

#include <gtest/gtest.h>

#include "audio/speed.h"
#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;

// Speed changes the length and keeps the pitch, pitch keeps the length, both change both.
TEST(SpeedEffects, LengthAndToneFollowTheKind) {
  for (int pct : {50, 70, 80, 150, 300}) {  // 70 % is not exact in binary
    for (SpeedKind kind : {SpeedKind::SpeedAndPitch, SpeedKind::SpeedOnly, SpeedKind::PitchOnly}) {
      SCOPED_TRACE(std::to_string(pct) + " kind " + std::to_string(static_cast<int>(kind)));
      Doc doc(Sine(1, 88200, 44100, 440, 100000));
      ChangeSpeed(doc.All(), kind, pct);
      const double r = pct / 100.0;
      const double frames = kind == SpeedKind::PitchOnly ? 88200 : std::ceil(88200 / r);
      const double freq = kind == SpeedKind::SpeedOnly ? 440 : 440 * r;
      EXPECT_NEAR(static_cast<double>(doc.length()), frames, 1.0);
      const AudioBlock out = doc.Read();
      EXPECT_NEAR(MeasureTone(out, 0, 44100, freq, 2000, out.frames() - 2000).frequency / freq, 1.0,
                  0.002);
    }
  }
  // 100 % is the audio as it was.
  Doc same(Sine(2, 4410, 44100, 440, 100000));
  ChangeSpeed(same.All(), SpeedKind::SpeedOnly, 100);
  EXPECT_EQ(same.Read(), Sine(2, 4410, 44100, 440, 100000));
}

TEST(SpeedEffects, ZeroAndNegativePercentsFinish) {
  Doc doc(Noise(1, 1000, 3));
  ChangeSpeed(doc.All(), SpeedKind::SpeedOnly, 0);  // taken as 10 %
  EXPECT_NEAR(static_cast<double>(doc.length()), 10000, 30);
  ChangeSpeed(doc.All(), SpeedKind::SpeedAndPitch, -300);
  EXPECT_GT(doc.length(), 0);
}

TEST(Conversion, SampleRateOfTheWholeDocumentKeepsTheTone) {
  Doc doc(Sine(2, 44100, 44100, 1000, 200000));
  const PassResult r = ConvertSampleRate(doc.chain, 48000);
  ASSERT_TRUE(r.changed) << r.message;
  EXPECT_EQ(doc.chain.sampleRate, 48000u);
  EXPECT_EQ(doc.length(), 48000);
  const AudioBlock out = doc.Read();
  const Tone t = MeasureTone(out, 1, 48000, 1000, 1000, 47000);
  EXPECT_NEAR(t.amplitude, 200000, 200);
  EXPECT_NEAR(t.frequency, 1000, 0.001);
}

TEST(Conversion, RatesOutsideTheOfferedRangeAreRefused) {
  Doc doc(Noise(1, 100, 1));
  for (std::int64_t rate : {0, 5999, 96001, -44100}) {
    const PassResult r = ConvertSampleRate(doc.chain, rate);
    EXPECT_EQ(r.result, platform::kTaskFailed);
    EXPECT_EQ(r.message, "Sample rates must be between 6000 and 96000 samples per second.");
  }
  EXPECT_TRUE(CheckSampleRate(6000).ok());
  EXPECT_TRUE(CheckSampleRate(96000).ok());
  EXPECT_EQ(doc.chain.sampleRate, 44100u);
}

TEST(Conversion, StereoToMonoKeepsLeftAndMonoToStereoDuplicates) {
  AudioBlock in = Ramp(2, 9000);
  for (FrameCount i = 0; i < in.frames(); ++i) in(1, i) = -7;
  Doc doc(in);
  ASSERT_TRUE(ConvertChannelCount(doc.chain, 1).changed);
  EXPECT_EQ(doc.chain.channels, 1);
  AudioBlock mono = doc.Read();
  for (FrameCount i = 0; i < mono.frames(); ++i) ASSERT_EQ(mono(0, i), in(0, i));
  ASSERT_TRUE(ConvertChannelCount(doc.chain, 2).changed);
  const AudioBlock st = doc.Read();
  for (FrameCount i = 0; i < st.frames(); ++i) ASSERT_EQ(st(1, i), in(0, i));
  EXPECT_EQ(ConvertChannelCount(doc.chain, 3).result, platform::kTaskFailed);
}

}  // namespace
}  // namespace quillet::effects
