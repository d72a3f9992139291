// Dynamics: the block level, the compressor's table and filter, the noise gate, the
// automatic gain control and auto trim from the peak files.
#include "effects/dynamics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "effects/auto_trim.h"
#include "effects/gain.h"
#include "effects/gain_control.h"
#include "effects/levels.h"
#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;
constexpr double kRate = 44100;

// 10^(dB / 20) of 16-bit full scale as a peak amplitude.
Sample AtDbfs(double dB) {
  return static_cast<Sample>(std::lround(kFullScale * std::pow(10.0, dB / 20)));
}
// Uniform noise whose RMS is dB below full scale.
AudioBlock NoiseAtDbfs(int channels, FrameCount frames, double dB, unsigned seed = 1) {
  return Noise(channels, frames, seed, static_cast<Sample>(AtDbfs(dB) * std::sqrt(3.0)));
}

AudioBlock Filter(audio::LSoundSource& f, FrameCount block = 8192) { return ReadSource(f, block); }

AudioBlock Joined(const std::vector<AudioBlock>& parts) {
  AudioBlock out(parts.front().channels(), 0);
  for (const AudioBlock& p : parts) {
    const FrameCount at = out.frames();
    out.resize(at + p.frames());
    std::copy(p.data(), p.data() + p.samples().size(), out.data() + at * out.channels());
  }
  return out;
}

TEST(BlockLevel, SquareAndSineAtFullScaleSilenceAndValuesFarAboveIt) {
  AudioBlock square(2, 1000);
  for (FrameCount i = 0; i < 1000; ++i)
    square(0, i) = square(1, i) = i % 2 ? kFullScale : -kFullScale;
  const auto level = [](const AudioBlock& b) { return BlockLevel(b.samples()); };
  EXPECT_EQ(level(square), 15);
  EXPECT_EQ(level(Sine(1, 44100, kRate, 1000, kFullScale)), 12);
  EXPECT_EQ(level(Sine(1, 44100, kRate, 1000, AtDbfs(-20))), -8);
  EXPECT_EQ(level(AudioBlock(2, 100)), -127);
  EXPECT_EQ(BlockLevel({}), -127);
  // Whole blocks of the largest sample word: no overflow, the top of the scale.
  EXPECT_EQ(level(Dc(2, 8192, std::numeric_limits<Sample>::max())), 87);
  EXPECT_EQ(level(Dc(255, 8192, std::numeric_limits<Sample>::min())), 87);
}

TEST(Compressor, GainTableComesBackToUnityAtLevelZeroAndLimitsFromItsUpperBound) {
  const double b = CompressorSlope(4);  // 4:1
  const CompressorGains t = CompressorGainTable(-20, b, 127);
  const auto at = [&](const CompressorGains& g, int level) {
    return g[static_cast<std::size_t>(level + 128)];
  };
  EXPECT_NEAR(double(at(t, 0)), double(kUnity), 8);
  // Below the threshold the make-up gain: 20 dB x (1 - 1/4) = 15 dB.
  EXPECT_NEAR(Db(double(at(t, -60)) / double(kUnity)), 15, 0.01);
  EXPECT_EQ(at(t, -60), at(t, -20));
  // Above it 3/4 dB less per dB, never rising.
  EXPECT_NEAR(Db(double(at(t, 8)) / double(kUnity)), -6, 0.01);
  for (int level = -127; level < 127; ++level) EXPECT_LE(at(t, level + 1), at(t, level)) << level;

  // "1:1" at 0 dB is unity everywhere: the filter may pass the audio untouched.
  const CompressorGains flat = CompressorGainTable(0, CompressorSlope(0), 127);
  for (std::int64_t g : flat) EXPECT_EQ(g, kUnity);

  // A limit of 10 dB above a 0 dB threshold: 1 dB less per dB from level 10 on.
  const CompressorGains limited =
      CompressorGainTable(0, CompressorSlope(2), CompressorUpperBound({0, 2, 10}));
  EXPECT_NEAR(Db(double(at(limited, 20)) / double(at(limited, 10))), -10, 0.02);
  EXPECT_EQ(CompressorUpperBound({-20, 4, 0}), 127);

  // "Limit" at the bottom of the scale needs all 64 bits, and stays positive.
  const CompressorGains deep = CompressorGainTable(-127, CompressorSlope(6), 127);
  EXPECT_GT(at(deep, -127), std::int64_t{1} << 40);
  EXPECT_GT(at(deep, 127), 0);
  // Batch values beyond the scale are clamped, not used as they are.
  EXPECT_EQ(CompressorGainTable(-500, b, 127), CompressorGainTable(-127, b, 127));
  EXPECT_EQ(CompressorSlope(99), CompressorSlope(6));
}

TEST(Compressor, WindowIsFortyFiveMillisecondsWithinItsBounds) {
  EXPECT_EQ(CompressorWindow(44100), 1984);
  EXPECT_EQ(CompressorWindow(1000), 128);  // never shorter, even at very low rates
  EXPECT_EQ(CompressorWindow(400000), 8192);
}

TEST(Compressor, OneToOneAtZeroIsBitIdenticalForEveryLengthAndBlock) {
  for (int ch : {1, 2}) {
    for (FrameCount len : {0, 1, 1983, 1984, 8191, 8192, 8193, 50000}) {
      SCOPED_TRACE(std::to_string(ch) + " channels, " + std::to_string(len) + " frames");
      AudioBlock in = Noise(ch, len, 3);
      if (len > 10)
        in(0, len / 2) = std::numeric_limits<Sample>::max();  // far above full scale too
      LCompressorFilter f(MemorySource(in, 44100), {});
      EXPECT_EQ(Filter(f, 441), in);
    }
  }
}

TEST(Compressor, SteadyLoudToneSettlesAtItsTableGainWhateverTheReadSize) {
  // A sine 6 dB below full scale is level 6; "4:1" above -20 dB takes 4.5 dB off it.
  const AudioBlock in = Sine(2, 3 * 44100, kRate, 1000, AtDbfs(-6));
  const CompressorParams p{-20, 4, 0};
  LCompressorFilter whole(MemorySource(in, 44100), p);
  const AudioBlock out = Filter(whole);
  ASSERT_EQ(out.frames(), in.frames());
  const double got = MeasureTone(out, 1, kRate, 1000, 44100, 2 * 44100).amplitude;
  EXPECT_NEAR(Db(got / AtDbfs(-6)), -4.5, 0.3);
  for (FrameCount block : {1, 1000, 1984, 8193}) {
    LCompressorFilter f(MemorySource(in, 44100), p);
    EXPECT_EQ(Filter(f, block), out) << "read in blocks of " << block;
  }
  // A seek starts over exactly as a fresh filter does.
  LCompressorFilter again(MemorySource(in, 44100), p);
  ReadFrames(again, 5000);
  again.seek(0);
  EXPECT_EQ(Filter(again), out);
}

TEST(Compressor, GainGoesDownFasterThanItComesBack) {
  // Quiet, loud, quiet: the gain falls within about a window after the onset and rises
  // again more slowly after the end.
  const AudioBlock in =
      Joined({Sine(1, 44100, kRate, 500, AtDbfs(-30)), Sine(1, 44100, kRate, 500, AtDbfs(-3)),
              Sine(1, 44100, kRate, 500, AtDbfs(-30))});
  LCompressorFilter f(MemorySource(in, 44100), {-30, 6, 0});
  const AudioBlock out = Filter(f);
  const FrameCount w = CompressorWindow(44100);
  const auto gainAt = [&](FrameCount at) {
    return Db(RmsOf(out, 0, at, at + w) / RmsOf(in, 0, at, at + w));
  };
  const double loud = gainAt(44100 + 20000), quiet = gainAt(20000);
  EXPECT_LT(loud, quiet - 20);
  EXPECT_LT(gainAt(44100 + 3 * w), loud + 3) << "settled three windows into the loud part";
  const double back = gainAt(2 * 44100 + w);
  EXPECT_GT(back, loud + 3) << "coming back";
  EXPECT_LT(back, quiet - 3) << "but not yet there";
  EXPECT_NEAR(gainAt(2 * 44100 + 30000), quiet, 1);
}

TEST(NoiseGate, ThresholdsPerBandAreClampedAndSilenceStaysSilence) {
  EXPECT_EQ(GateThresholds(-30), (std::array<int, 4>{-27, -30, -33, -30}));
  EXPECT_EQ(GateThresholds(-126), (std::array<int, 4>{-123, -126, -127, -126}));
  EXPECT_EQ(GateThresholds(200), (std::array<int, 4>{127, 127, 127, 127}));
  EXPECT_EQ(GateBlock(44100), 1470);
  EXPECT_EQ(GateBlock(300), 20);
  for (int level : {-30, -127, 127}) {
    LNoiseGateFilter f(MemorySource(AudioBlock(2, 10000), 44100), level);
    EXPECT_EQ(Filter(f), AudioBlock(2, 10000)) << level;
  }
}

TEST(NoiseGate, QuietNoiseGoesAndLoudAudioPasses) {
  // Noise at -60 dBFS under a gate at -30 dB loses at least 20 dB.
  const AudioBlock hiss = NoiseAtDbfs(2, 44100, -60);
  LNoiseGateFilter gate(MemorySource(hiss, 44100), -30);
  const AudioBlock gated = Filter(gate);
  ASSERT_EQ(gated.frames(), hiss.frames());
  for (int c : {0, 1}) EXPECT_LT(Db(RmsOf(gated, c, 4410) / RmsOf(hiss, c, 4410)), -20);

  // A tone well above every band's threshold keeps its level; reading it in odd
  // blocks gives the same output.
  const AudioBlock tone = Sine(1, 44100, kRate, 800, AtDbfs(-6));
  LNoiseGateFilter open(MemorySource(tone, 44100), -30);
  const AudioBlock out = Filter(open);
  EXPECT_NEAR(Db(MeasureTone(out, 0, kRate, 800, 4410, 40000).amplitude / AtDbfs(-6)), 0, 1);
  for (FrameCount block : {1, 1469, 1471}) {
    LNoiseGateFilter f(MemorySource(tone, 44100), -30);
    EXPECT_EQ(Filter(f, block), out) << block;
  }
  // The bottom of the scale (a divisor of a few units) and the top (everything shut)
  // run without fault.
  LNoiseGateFilter bottom(MemorySource(hiss, 44100), -127), top(MemorySource(tone, 44100), 127);
  EXPECT_NEAR(Db(RmsOf(Filter(bottom), 0, 4410) / RmsOf(hiss, 0, 4410)), 0, 1);
  EXPECT_LT(PeakOf(Filter(top), 0, 4410), AtDbfs(-40));
}

TEST(GainControl, CurveAndReferenceFollowTheirRules) {
  // Relative levels -9 .. +1 as 4.5 - 0.5 x (level + 9), rounded away from zero.
  const int expected[] = {5, 4, 4, 3, 3, 2, 2, 1, 1, 0, -1};
  for (int r = -9; r <= 1; ++r) EXPECT_EQ(GainCurve(r), expected[r + 9]) << r;
  EXPECT_EQ(GainCurve(-80), 5);
  EXPECT_EQ(GainCurve(2), -1);
  EXPECT_EQ(GainCurve(12), -11);
  EXPECT_EQ(GainCurve(200), -127);

  LevelHistogram h{};
  const auto at = [&](int level) -> std::int64_t& {
    return h[static_cast<std::size_t>(level + 127)];
  };
  EXPECT_EQ(ReferenceLevel(h), -127) << "nothing measured";
  at(-127) = 500;  // pauses
  at(-10) = 200;
  at(0) = 300;
  // The loudest eighth lies at 0 dB; of what lies within 15 dB of it, the median.
  EXPECT_EQ(ReferenceLevel(h), 0);
  at(-8) = 1000;
  EXPECT_EQ(ReferenceLevel(h), -8);
  h = {};
  at(-127) = 5;
  EXPECT_EQ(ReferenceLevel(h), -127) << "silence has a silent reference";
}

TEST(GainControl, TrackerRisesQuicklyFallsSlowlyAndStaysWithinItsBand) {
  LevelTracker t;
  EXPECT_EQ(t.level(), -2);
  for (int i = 0; i < 50; ++i) t.Arrive(10);
  EXPECT_EQ(t.level(), 8) << "follows loud blocks up to 8 and no further";
  int blocks = 0;
  for (; t.level() > 0 && blocks < 1000; ++blocks) t.Arrive(-40);
  EXPECT_GT(blocks, 40) << "quiet blocks pull it down slowly";
  for (int i = 0; i < 1000; ++i) t.Arrive(-40);
  EXPECT_GE(t.level(), -2);
}

Doc ThreeParts(int channels, double middleDb) {
  return Doc(Joined({Sine(channels, 3 * 44100, kRate, 700, AtDbfs(-20)),
                     Sine(channels, 44100, kRate, 700, AtDbfs(middleDb)),
                     Sine(channels, 3 * 44100, kRate, 700, AtDbfs(-20))}));
}

TEST(GainControl, LoudStretchIsPulledTowardTheReferenceAndTheRestKeepsItsLevel) {
  for (int ch : {1, 2}) {
    SCOPED_TRACE(ch);
    Doc doc = ThreeParts(ch, -8);
    const AudioBlock before = doc.Read();
    const PassResult r = AutomaticGainControl(doc.All());
    ASSERT_TRUE(r.done()) << r.message;
    const AudioBlock after = doc.Read();
    ASSERT_EQ(after.frames(), before.frames());
    const auto change = [&](FrameCount from, FrameCount to) {
      return Db(RmsOf(after, ch - 1, from, to) / RmsOf(before, ch - 1, from, to));
    };
    EXPECT_NEAR(change(44100, 2 * 44100), 0, 1.5) << "the reference level";
    EXPECT_LT(change(3 * 44100 + 11025, 4 * 44100 - 11025), -6) << "12 dB above it";
    EXPECT_LE(PeakOf(after, 0), audio::kFilePeakBound);
  }
}

TEST(GainControl, SilenceIsLeftAloneAndTheLimiterHoldsFullScale) {
  Doc silent(AudioBlock(2, 30000));
  EXPECT_FALSE(AutomaticGainControl(silent.All()).changed);
  // Full-scale square waves louder than anything else: whatever the gain, no sample
  // goes beyond 16-bit full scale.
  AudioBlock loud = Sine(1, 3 * 44100, kRate, 300, AtDbfs(-40));
  for (FrameCount i = 44100; i < 2 * 44100; ++i) loud(0, i) = i % 100 < 50 ? 0x1FFFFF : -0x1FFFFF;
  Doc doc(loud);
  ASSERT_TRUE(AutomaticGainControl(doc.All()).done());
  EXPECT_LE(PeakOf(doc.Read(), 0), audio::kFilePeakBound);
}

// Peak bytes from the samples: the largest |sample| of each block, as the sink writes it.
std::vector<std::uint8_t> SampleBlockPeaks(const AudioBlock& b) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>((b.frames() + 255) / 256));
  for (FrameCount i = 0; i < b.frames(); ++i)
    for (int c = 0; c < b.channels(); ++c) {
      auto& v = out[static_cast<std::size_t>(i / 256)];
      v = std::max(v, static_cast<std::uint8_t>(
                          std::min<std::int64_t>(255, std::abs(std::int64_t{b(c, i)}) >> 11)));
    }
  return out;
}

TEST(AutoTrim, RangeKeepsOneBlockOfMarginAndAllOfAudioThatIsLoudAtItsEnds) {
  using P = std::vector<std::uint8_t>;
  struct Case {
    const char* what;
    P peaks;
    FrameCount length;
    TrimRange keep;
  };
  const Case cases[] = {
      {"silent throughout", P(10, 0), 2560, {0, 2560}},
      {"no peaks at all", P{}, 0, {0, 0}},
      {"loud in the middle", P{0, 0, 0, 200, 255, 0, 0, 0}, 2048, {512, 1536}},
      {"quiet blocks under the threshold count as silence",
       P{5, 5, 200, 5, 5, 5},
       1536,
       {256, 1024}},
      {"loud first block: nothing before it", P{255, 0, 0, 0}, 1024, {0, 512}},
      {"loud last block is kept", P{0, 0, 0, 255}, 1000, {512, 1000}},
      {"one block", P{90}, 100, {0, 100}},
      {"two blocks", P{0, 90}, 300, {0, 300}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(AutoTrimRange(c.peaks, c.length, -20), c.keep);
  }
  // Thresholds above 0 dB find nothing louder than the loudest and cut nothing; the
  // bottom of the scale counts everything that is not silence.
  EXPECT_EQ(AutoTrimRange(P{0, 1, 200, 1, 0}, 1280, 40), (TrimRange{0, 1280}));
  EXPECT_EQ(AutoTrimRange(P{0, 1, 200, 1, 0}, 1280, 127), (TrimRange{0, 1280}));
  EXPECT_EQ(AutoTrimRange(P{0, 0, 1, 200, 1, 0, 0}, 1792, -127), (TrimRange{256, 1536}));
}

TEST(AutoTrim, BlockPeaksFollowGainsAndEditsAndNeverUnderstateTheSamples) {
  AudioBlock tone =
      Joined({AudioBlock(2, 44100), Sine(2, 44100, kRate, 440, AtDbfs(-6)), AudioBlock(2, 44100)});
  Doc doc(tone);
  std::vector<std::uint8_t> peaks;
  ASSERT_TRUE(ChainBlockPeaks(doc.chain, peaks).done());
  EXPECT_EQ(peaks, SampleBlockPeaks(tone));

  // Edits at odd frames leave segments that start inside peak records; gains change
  // the bytes. The peaks may be coarser than the samples, never lower.
  core::ChainDeleteRange(doc.chain, 1001, 1300);
  core::ChainDeleteRange(doc.chain, 60001, 60077);
  Amplify(doc.Range(50000, 70000), 50);
  Amplify(doc.Range(80000, 81000), 400);
  core::ChainInsertSilence(doc.chain, 20000, 999);
  const AudioBlock now = doc.Read();
  ASSERT_TRUE(ChainBlockPeaks(doc.chain, peaks).done());
  const auto fromSamples = SampleBlockPeaks(now);
  ASSERT_EQ(peaks.size(), fromSamples.size());
  for (std::size_t b = 0; b < peaks.size(); ++b) {
    // Records hold floored bytes: four times one may fall three short of the samples'.
    EXPECT_GE(peaks[b] + 3, fromSamples[b]) << "block " << b;
    const bool farFromSound = fromSamples[b] == 0 && (b == 0 || fromSamples[b - 1] == 0) &&
                              (b + 1 == peaks.size() || fromSamples[b + 1] == 0);
    if (farFromSound) {
      EXPECT_EQ(peaks[b], 0) << "silence reads silent, block " << b;
    }
  }

  // The tone between two seconds of silence keeps at most a block of margin each side.
  const FramePos toneStart = 44100 - 299 + 999, toneEnd = 2 * 44100 - 299 - 76 + 999;
  const TrimRange keep = AutoTrimRange(peaks, doc.length(), -20);
  // A block of margin, and less than a block more where a record straddles an edit.
  EXPECT_GE(keep.start, toneStart - 2 * 256);
  EXPECT_LE(keep.start, toneStart);
  EXPECT_GE(keep.end, toneEnd);
  EXPECT_LE(keep.end, toneEnd + 3 * 256);
}

TEST(AutoTrim, MissingPeakFileFailsWithItsNameAndCancelStops) {
  Doc doc(Sine(1, 44100, kRate, 440, AtDbfs(-6)));
  std::vector<std::uint8_t> peaks;
  int calls = 0;
  EXPECT_EQ(
      ChainBlockPeaks(doc.chain, peaks, [&](FrameCount, FrameCount) { return ++calls < 1; }).result,
      platform::kTaskCancelled);
  const auto file = doc.store.PeakFilePath(doc.chain.segments().front().fileId);
  std::filesystem::resize_file(file, 100);
  const Outcome o = ChainBlockPeaks(doc.chain, peaks);
  EXPECT_EQ(o.result, platform::kTaskFailed);
  EXPECT_NE(o.message.find(file.string()), std::string::npos) << o.message;
}

}  // namespace
}  // namespace quillet::effects
