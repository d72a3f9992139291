// Spectral noise reduction: frame sizes, profiles (grabbed and automatic), and the
// subtraction's level, length and quality against generated tones under noise.
#include "effects/noise_reduction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;
constexpr double kRate = 44100;

AudioBlock NoiseAtDbfs(int channels, FrameCount frames, double dB, unsigned seed) {
  return Noise(channels, frames, seed,
               static_cast<Sample>(kFullScale * std::pow(10.0, dB / 20) * std::sqrt(3.0)));
}

AudioBlock Sum(const AudioBlock& a, const AudioBlock& b) {
  AudioBlock out = a;
  for (std::size_t i = 0; i < out.samples().size(); ++i) out.data()[i] += b.data()[i];
  return out;
}

AudioBlock Difference(const AudioBlock& a, const AudioBlock& b) {
  AudioBlock out = a;
  for (std::size_t i = 0; i < out.samples().size(); ++i) out.data()[i] -= b.data()[i];
  return out;
}

NoiseProfile ProfileOf(const AudioBlock& noise, int percentile = kGrabPercentile) {
  auto src = MemorySource(noise, 44100);
  NoiseProfile p;
  EXPECT_TRUE(EstimateNoiseProfile(*src, noise.frames(), percentile, p).done());
  return p;
}

// A profile of one magnitude everywhere.
NoiseProfile Flat(float magnitude, int channels, int n = 1024) {
  return {n, channels, std::vector<float>(static_cast<std::size_t>(channels * n / 2), magnitude)};
}

AudioBlock Subtract(const AudioBlock& in, const NoiseProfile& p, FrameCount block = 8192) {
  LSpectralSubtraction f(MemorySource(in, 44100), p);
  return ReadSource(f, block);
}

TEST(NoiseReduction, FrameSizeFollowsTheRateUpTo8192) {
  const std::pair<std::int64_t, int> cases[] = {
      {44100, 1024}, {22050, 512}, {48000, 2048}, {32000, 1024}, {96000, 4096},  {8000, 256},
      {11025, 256},  {6000, 256},  {1, 8},        {0, 8},        {350000, 8192}, {400000, 0}};
  for (const auto& [rate, n] : cases) EXPECT_EQ(SpectralFrameSize(rate), n) << rate;
}

TEST(NoiseReduction, GrabbedProfileTakesNoiseUnderAToneDownAndKeepsTheTone) {
  for (int ch : {1, 2}) {
    SCOPED_TRACE(ch);
    // A tone at a usual programme level; louder ones hide more of the noise near them
    // under the window's side lobes (bench/RESULTS.md has the figures).
    const double toneAmplitude = kFullScale / 10.0;
    const AudioBlock tone = Sine(ch, 5 * 44100, kRate, 1000, toneAmplitude);
    const AudioBlock noise = NoiseAtDbfs(ch, 5 * 44100, -40, 11);
    const NoiseProfile p = ProfileOf(NoiseAtDbfs(ch, 2 * 44100, -40, 12));
    EXPECT_EQ(p.frameSize, 1024);
    EXPECT_EQ(p.channels, ch);
    const AudioBlock out = Subtract(Sum(tone, noise), p);
    ASSERT_EQ(out.frames(), tone.frames());
    for (int c = 0; c < ch; ++c) {
      const FrameCount a = 44100, b = 4 * 44100;
      const double before = RmsOf(noise, c, a, b), after = RmsOf(Difference(out, tone), c, a, b);
      EXPECT_LT(Db(after / before), -15) << "channel " << c;
      EXPECT_NEAR(Db(MeasureTone(out, c, kRate, 1000, a, b).amplitude / toneAmplitude), 0, 1);
    }
  }
}

// A profile no bin exceeds takes everything (the estimate is the input itself); one
// every bin exceeds takes next to nothing. Both show the overlap-add at unity: as
// windows that add up to 2.16 the first would turn noise over and make it louder.
TEST(NoiseReduction, OverlapAddIsUnitySoAllOrNothingIsTaken) {
  const AudioBlock in =
      Sum(Sine(2, 30000, kRate, 440, kFullScale / 3), NoiseAtDbfs(2, 30000, -30, 4));
  const AudioBlock all = Subtract(in, Flat(1e12f, 2));
  ASSERT_EQ(all.frames(), in.frames());
  EXPECT_LE(PeakOf(all, 0), 1);
  EXPECT_LE(PeakOf(all, 1), 1);
  const AudioBlock none = Subtract(in, Flat(0, 2));
  EXPECT_LE(PeakOf(Difference(none, in), 0), 1);
  EXPECT_LE(PeakOf(Difference(none, in), 1), 1);
}

TEST(NoiseReduction, LengthIsKeptAndOutputDoesNotDependOnReadSizes) {
  const NoiseProfile p = ProfileOf(NoiseAtDbfs(1, 44100, -50, 2));
  for (FrameCount len : {1, 255, 256, 1023, 1024, 8191, 8193}) {
    SCOPED_TRACE(len);
    const AudioBlock in = Sum(Sine(1, len, kRate, 300, 20000), NoiseAtDbfs(1, len, -50, 3));
    const AudioBlock whole = Subtract(in, p);
    EXPECT_EQ(whole.frames(), len);
    for (FrameCount block : {1, 255, 1000}) EXPECT_EQ(Subtract(in, p, block), whole) << block;
    // A seek to the start gives the same again.
    LSpectralSubtraction f(MemorySource(in, 44100), p);
    ReadFrames(f, len / 2);
    f.seek(0);
    EXPECT_EQ(ReadSource(f), whole);
  }
  EXPECT_EQ(Subtract(AudioBlock(2, 5000), Flat(100, 2)), AudioBlock(2, 5000))
      << "silence stays silence";
}

TEST(NoiseReduction, ShortOrOddGrabsStillMakeAProfile) {
  // Fewer than ten frames of N gave no level at all as (B / 10 x p) / 10: a tenth of a
  // second, and even less than one frame, must still give the noise's level.
  const AudioBlock hiss = NoiseAtDbfs(1, 4410, -40, 5);
  AudioBlock short600(1, 600);
  std::copy(hiss.data(), hiss.data() + 600, short600.data());
  const NoiseProfile whole = ProfileOf(NoiseAtDbfs(1, 5 * 44100, -40, 5));
  const auto meanDb = [](const NoiseProfile& p) {
    double sum = 0;
    for (std::size_t k = 10; k < 500; ++k) sum += Db(p.magnitudes[k]);
    return sum / 490;
  };
  for (const AudioBlock* grab : std::initializer_list<const AudioBlock*>{&hiss, &short600}) {
    SCOPED_TRACE(grab->frames());
    const NoiseProfile p = ProfileOf(*grab);
    ASSERT_EQ(p.frameSize, 1024);
    ASSERT_EQ(p.magnitudes.size(), 512u);
    // Few frames read a lower percentile, and a part-filled frame less of the noise,
    // but the level is the noise's, far from the bottom of the scale.
    EXPECT_NEAR(meanDb(p), meanDb(whole), 10);
  }

  // Percentiles beyond 100 are clamped, not read past the histogram.
  const NoiseProfile over = ProfileOf(hiss, 1000), top = ProfileOf(hiss, 100),
                     bottom = ProfileOf(hiss, -5);
  EXPECT_EQ(over.magnitudes, top.magnitudes);
  for (std::size_t k = 0; k < 512; ++k) EXPECT_LE(bottom.magnitudes[k], top.magnitudes[k]);
}

TEST(NoiseReduction, GrabLimitAndProfileFitAreCheckedWithTheirMessages) {
  EXPECT_TRUE(CheckGrabLength(FrameCount(8.9 * 44100), 44100).ok());
  const Status nine = CheckGrabLength(9 * 44100, 44100);
  EXPECT_EQ(nine.message,
            "You cannot sample an area of your audio longer than 8 seconds. Please select a "
            "shorter area.");
  EXPECT_EQ(nine.caption, "Manual Noise Reduction Error");

  const NoiseProfile mono = Flat(100, 1);
  EXPECT_TRUE(CheckProfileFits(mono, 44100, 1).ok());
  EXPECT_TRUE(CheckProfileFits(mono, 32000, 1).ok()) << "the same frame size";
  const std::string incompatible =
      "The noise sample you took is not compatible with the selection you are attempting to apply "
      "it to.";
  EXPECT_EQ(CheckProfileFits(mono, 44100, 2).message, incompatible);
  EXPECT_EQ(CheckProfileFits(mono, 22050, 1).message, incompatible);
  EXPECT_FALSE(CheckProfileFits(NoiseProfile{}, 44100, 1).ok());

  Doc stereo(NoiseAtDbfs(2, 10000, -40, 6));
  const PassResult r = SubtractNoise(stereo.All(), mono);
  EXPECT_EQ(r.result, platform::kTaskFailed);
  EXPECT_EQ(r.message, incompatible);
  EXPECT_FALSE(r.changed);

  // Too high a rate for an 8192-sample frame fails the estimate and nothing changes.
  auto fast = MemorySource(NoiseAtDbfs(1, 5000, -40, 7), 400000);
  NoiseProfile p;
  EXPECT_EQ(EstimateNoiseProfile(*fast, 5000, 30, p).result, platform::kTaskFailed);
  EXPECT_TRUE(p.empty());
}

TEST(NoiseReduction, AutomaticPassFindsTheNoiseFloorOfTheSelectionItself) {
  // Bursts of tone in steady hiss: the low percentile of each bin is the hiss.
  AudioBlock in = NoiseAtDbfs(1, 4 * 44100, -45, 8);
  const AudioBlock burst = Sine(1, 44100 / 4, kRate, 2000, kFullScale / 4);
  for (FrameCount at : {22050, 88200, 132300})
    for (FrameCount i = 0; i < burst.frames(); ++i) in(0, at + i) += burst(0, i);
  Doc doc(in);
  std::vector<FrameCount> reported;
  const PassResult r = SubtractNoiseAuto(doc.All(), 30, [&](FrameCount done, FrameCount total) {
    reported.push_back(done * 100 / total);
    return true;
  });
  ASSERT_TRUE(r.done()) << r.message;
  const AudioBlock out = doc.Read();
  ASSERT_EQ(out.frames(), in.frames());
  const FrameCount a = 22050 + 11025 + 2000, b = 88200 - 2000;  // between two bursts
  EXPECT_LT(Db(RmsOf(out, 0, a, b) / RmsOf(in, 0, a, b)), -5);
  EXPECT_NEAR(Db(MeasureTone(out, 0, kRate, 2000, 88200 + 1000, 88200 + 10000).amplitude /
                 (kFullScale / 4)),
              0, 1);
  // The estimate fills the first 30 % of the bar, and the bar never goes back.
  ASSERT_FALSE(reported.empty());
  EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  EXPECT_NE(std::find(reported.begin(), reported.end(), 30), reported.end());
  EXPECT_EQ(reported.back(), 100);
}

}  // namespace
}  // namespace quillet::effects
