#include "effects/levels.h"

#include <gtest/gtest.h>

#include <cmath>

#include "effects/gain.h"
#include "effects/pan.h"
#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;

TEST(Amplify, HundredPercentChangesNothingAndOthersTouchNoSamples) {
  Doc doc(Noise(2, 50000, 1));
  const auto segments = doc.chain.segments();
  EXPECT_FALSE(Amplify(doc.Range(100, 200), 100).changed);
  EXPECT_EQ(doc.chain.segments(), segments);
  EXPECT_TRUE(Amplify(doc.Range(100, 40000), 50).changed);
  EXPECT_EQ(doc.Files(), 1);  // gains only
  EXPECT_EQ(doc.Read(1000, 1)(0, 0), (Noise(2, 50000, 1)(0, 1000) * 255) >> 9);
}

TEST(Amplify, FourHundredOnFullScaleSaturatesTheGainAndAboveIsClamped) {
  Doc doc(Dc(1, 1000, kFullScale));
  for (int i = 0; i < 4; ++i) Amplify(doc.All(), 400);
  EXPECT_EQ(doc.chain.segments().front().gain, core::kMaxGain);
  Doc other(Dc(1, 10, 1000));
  Amplify(other.All(), 100000);  // a batch value beyond the dialog's range
  EXPECT_EQ(other.Read()(0, 5), 3998);  // 400 %: gain 67108800, 2047 / 512 at the point of use
  Amplify(other.All(), -50);
  EXPECT_EQ(other.Read()(0, 5), 0);
}

TEST(Normalize, HalfScalePeakGetsTwoHundredPercent) {
  AudioBlock b = Noise(2, 30000, 4, kFullScale / 4);
  b(1, 12345) = -kFullScale / 2;
  Doc doc(b);
  EXPECT_EQ(SelectionPeak(doc.chain, 0, doc.length()), kFullScale / 2);
  EXPECT_EQ(NormalizeGain(100, kFullScale / 2), 200);
  Normalize(doc.All(), 100);
  EXPECT_NEAR(PeakOf(doc.Read(), 1), kFullScale, kFullScale / 100);
}

// The peak comes from the peak records where they decide it, and from samples where
// they cannot: it must always equal the largest sample, whatever the segment gains.
TEST(Normalize, PeakMatchesTheSamplesAcrossSegmentsAndGains) {
  AudioBlock b = Noise(1, 100000, 9, 3000);
  b(0, 77777) = 3999;  // the same peak byte as 3000 would be: needs the samples
  Doc doc(b);
  Amplify(doc.Range(50000, 60000), 300);
  Amplify(doc.Range(10, 20), 50);
  for (auto [s, e] : {std::pair<FramePos, FramePos>{0, 100000}, {70000, 80000}, {77777, 77778}, {1, 99}}) {
    SCOPED_TRACE(s);
    const AudioBlock all = doc.Read(s, e - s);
    EXPECT_EQ(SelectionPeak(doc.chain, s, e), PeakOf(all, 0));
  }
}

TEST(Normalize, SilenceIsLeftAloneAndTheGainNeverExceedsFourHundred) {
  Doc silent(AudioBlock(1, 5000));
  EXPECT_FALSE(Normalize(silent.All(), 100).changed);
  EXPECT_EQ(NormalizeGain(100, 1), 400);
  EXPECT_EQ(NormalizeGain(5000, kFullScale), 100);  // a stored 5000 % is clamped
  EXPECT_EQ(NormalizeGain(100, 0), 100);
}

TEST(Envelope, PointsLandOnTheSelectionEndsForEveryLength) {
  for (FrameCount len : {1, 2, 254, 255, 256, 1000, 8191, 8192, 8193}) {
    SCOPED_TRACE(len);
    EXPECT_EQ(EnvelopeFrame(len, 0), 0);
    EXPECT_EQ(EnvelopeFrame(len, 255), len);
    LEnvelopeFilter f(MemorySource(Dc(1, len, 1000), 44100), FadeInShape(), len);
    EXPECT_EQ(f.GainAt(0), 0);
    EXPECT_EQ(f.GainAt(len), kUnity);
  }
}

TEST(Envelope, FadeInRisesMonotonicallyAndGivesStereoChannelsTheSameGain) {
  Doc doc(Dc(2, 10000, 400000));
  ApplyEnvelope(doc.Range(1000, 9000), FadeInShape());
  const AudioBlock out = doc.Read();
  EXPECT_EQ(out(0, 999), 400000);
  EXPECT_EQ(out(0, 1000), 0);
  for (FrameCount i = 1001; i < 9000; ++i) {
    ASSERT_GE(out(0, i), out(0, i - 1));
    ASSERT_EQ(out(0, i), out(1, i));
  }
  EXPECT_NEAR(out(0, 5000), 200000, 100);
  EXPECT_EQ(out(0, 9000), 400000);
}

TEST(Envelope, OutputDoesNotDependOnBlockSize) {
  const AudioBlock in = Noise(2, 3 * 8192 + 17, 3);
  const EnvelopeShape shape{{0, 20}, {40, 255}, {40, 10}, {200, 128}, {255, 0}};
  LEnvelopeFilter whole(MemorySource(in, 44100), shape, in.frames());
  const AudioBlock ref = ReadSource(whole, 1 << 20);
  for (FrameCount block : {1, 441, 8191, 8192, 8193}) {
    LEnvelopeFilter f(MemorySource(in, 44100), shape, in.frames());
    EXPECT_EQ(ReadSource(f, block), ref) << block;
  }
}

TEST(Envelope, FadeOutAndTrimCutsEverythingAfterTheSelection) {
  Doc doc(Dc(1, 5000, 1000));
  FadeOutAndTrim(doc.Range(1000, 3000));
  EXPECT_EQ(doc.length(), 3000);
  EXPECT_EQ(doc.Read()(0, 2999), 0);
  EXPECT_EQ(doc.Read()(0, 999), 1000);
}

TEST(DcOffset, RemovesEachChannelsMeanAndKeepsTheRest) {
  AudioBlock in = Sine(2, 44100, 44100, 100, 100000);
  for (FrameCount i = 0; i < in.frames(); ++i) {
    in(0, i) += 5000;
    in(1, i) -= 20000;
  }
  Doc doc(in);
  DcOffsetCorrection(doc.All());
  const AudioBlock out = doc.Read();
  double m0 = 0, m1 = 0;
  for (FrameCount i = 0; i < out.frames(); ++i) {
    m0 += out(0, i);
    m1 += out(1, i);
  }
  EXPECT_NEAR(m0 / 44100, 0, 1);
  EXPECT_NEAR(m1 / 44100, 0, 1);
  EXPECT_NEAR(MeasureTone(out, 0, 44100, 100, 0, 44100).amplitude, 100000, 50);
}

TEST(Reverse, ReversesFramesKeepsChannelOrderAtBlockEdges) {
  for (FrameCount len : {1, 2, 8191, 8192, 8193, 20000}) {
    SCOPED_TRACE(len);
    const AudioBlock in = Ramp(2, len);
    Doc doc(in);
    Reverse(doc.All());
    const AudioBlock out = doc.Read();
    ASSERT_EQ(out.frames(), len);
    for (FrameCount i = 0; i < len; ++i)
      for (int c = 0; c < 2; ++c) ASSERT_EQ(out(c, i), in(c, len - 1 - i)) << i;
    Reverse(doc.All());
    EXPECT_EQ(doc.Read(), in);
  }
}

TEST(Pan, CentreIsMonoEndsKeepOrSwapAtPlusThreeDecibels) {
  AudioBlock in = Sine(2, 4410, 44100, 1000, 100000);
  for (FrameCount i = 0; i < in.frames(); ++i) in(1, i) = 0;  // left only
  {
    Doc doc(in);
    StereoPan(doc.All(), 50);
    const AudioBlock out = doc.Read();
    for (FrameCount i = 0; i < out.frames(); ++i) ASSERT_EQ(out(0, i), out(1, i));
    EXPECT_NEAR(PeakOf(out, 0), 100000, 20);
  }
  {
    Doc doc(in);
    StereoPan(doc.All(), 0);
    const AudioBlock out = doc.Read();
    EXPECT_NEAR(Db(PeakOf(out, 0) / 100000.0), 3.0, 0.05);
    EXPECT_EQ(PeakOf(out, 1), 0);
  }
  {
    Doc doc(in);
    StereoPan(doc.All(), 100);
    const AudioBlock out = doc.Read();
    EXPECT_EQ(PeakOf(out, 0), 0);
    EXPECT_NEAR(Db(PeakOf(out, 1) / 100000.0), 3.0, 0.05);
  }
  // Out of range positions from a script behave as the nearest end: no root of a
  // negative number.
  EXPECT_EQ(PanRows(-40), PanRows(0));
  EXPECT_EQ(PanRows(250), PanRows(100));
}

TEST(Pan, MonoDocumentIsRefusedWithTheConvertMessageAndUntouched) {
  Doc doc(Noise(1, 100, 5));
  const auto segments = doc.chain.segments();
  const PassResult r = StereoPan(doc.All(), 30);
  EXPECT_EQ(r.result, platform::kTaskFailed);
  EXPECT_EQ(CheckStereo(1).caption, "Convert to Stereo Required");
  EXPECT_EQ(r.message, CheckStereo(1).message);
  EXPECT_EQ(doc.chain.segments(), segments);
}

TEST(Pan, FullScaleSumSaturates) {
  Doc doc(Dc(2, 100, INT32_MAX / 2 + 10));
  StereoPan(doc.All(), 50);
  EXPECT_EQ(doc.Read()(0, 50), INT32_MAX);
}

// The audio after the selection end must arrive gap frames after its start, fully
// faded in, and the selection's content must fade out from its start.
TEST(CrossFade, SplicesTheAudioAfterTheSelectionInAtTheGap) {
  const FrameCount len = 20000;
  AudioBlock in = Ramp(1, len);
  Doc doc(in, 1000);  // 1 frame per ms
  const CrossFadeParams cf{.gapMs = 300, .fadeInMs = 500, .fadeOutMs = 200};
  const PassResult r = CrossFade(doc.Range(5000, 9000), cf);
  ASSERT_TRUE(r.changed);
  EXPECT_EQ(doc.length(), len - (9000 - 5000) + 300);
  const AudioBlock out = doc.Read();
  // Before the fade in starts: untouched.
  for (FrameCount i = 0; i < 5000 - 200; ++i) ASSERT_EQ(out(0, i), in(0, i));
  // From start + gap on: the audio from the selection end, alone.
  for (FrameCount i = 5300; i < out.frames(); ++i) ASSERT_EQ(out(0, i), in(0, i + 9000 - 5300)) << i;
  // At the selection start only A plays at unity and B has begun to come in.
  EXPECT_GT(out(0, 5000), in(0, 5000));
}

TEST(CrossFade, NegativeTimesAndASelectionAtTheStartStayInsideTheAudio) {
  Doc doc(Dc(1, 5000, 1000), 8000);
  const PassResult r = CrossFade(doc.Range(0, 100), {.gapMs = -5, .fadeInMs = 1000, .fadeOutMs = -1});
  EXPECT_TRUE(r.changed);
  EXPECT_EQ(doc.length(), 4900);
}

}  // namespace
}  // namespace quillet::effects
