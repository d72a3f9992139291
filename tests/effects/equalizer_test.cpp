// The equalizer: its kernel against signal theory (unity, band edges), the FFT form
// against the direct form, the shapes' curves, the curve text and file, and the pass
// reading real audio around the selection.
#include "effects/equalizer.h"

#include <gtest/gtest.h>

#include "effects/dialogs.h"
#include "effects_fixture.h"
#include "settings/settings.h"

namespace quillet::effects {
namespace {

using namespace testing;

constexpr int kRate = 44100;
constexpr Sample kStep16 = 16;  // one 16-bit step

AudioBlock Filtered(const AudioBlock& in, const EqualizerCurve& curve, FrameCount block = 8192) {
  SourceHandle f = MakeEqualizer(MemorySource(in, kRate), curve);
  return ReadSource(*f, block);
}

// The convolution written out: 64-bit sums of h[|k|] x[n + k], shifted by 15.
AudioBlock DirectForm(const AudioBlock& in, const std::vector<std::int32_t>& h) {
  AudioBlock out(in.channels(), in.frames());
  for (int c = 0; c < in.channels(); ++c)
    for (FrameCount n = 0; n < in.frames(); ++n) {
      std::int64_t sum = 0;
      for (FrameCount k = -kEqHalfTaps; k <= kEqHalfTaps; ++k) {
        const FrameCount i = n + k;
        if (i >= 0 && i < in.frames()) sum += std::int64_t{h[static_cast<std::size_t>(std::abs(k))]} * in(c, i);
      }
      out(c, n) = audio::SaturateSample(sum >> 15);
    }
  return out;
}

Sample MaxDifference(const AudioBlock& a, const AudioBlock& b, FrameCount from = 0, FrameCount to = -1) {
  if (to < 0) to = a.frames();
  std::int64_t m = 0;
  for (int c = 0; c < a.channels(); ++c)
    for (FrameCount i = from; i < to; ++i) m = std::max<std::int64_t>(m, std::abs(std::int64_t{a(c, i)} - b(c, i)));
  return static_cast<Sample>(m);
}

// Level of a tone through the filter, in dB, measured away from the edges.
double GainDb(const EqualizerCurve& curve, double hz) {
  const AudioBlock in = Sine(1, kRate / 2, kRate, hz, 300000);
  const AudioBlock out = Filtered(in, curve);
  return Db(RmsOf(out, 0, 4096, out.frames() - 4096) / RmsOf(in, 0, 4096, in.frames() - 4096));
}

TEST(EqualizerKernel, FlatIsExactUnityAndZeroIsSilence) {
  const auto flat = EqualizerKernel(CurveMagnitudes(FlatCurve(), kRate));
  EXPECT_EQ(flat[0], 32768);
  EXPECT_TRUE(std::all_of(flat.begin() + 1, flat.end(), [](std::int32_t h) { return h == 0; }));
  const auto zero = EqualizerKernel(CurveMagnitudes({{0, 0}, {255, 0}}, kRate));
  EXPECT_TRUE(std::all_of(zero.begin(), zero.end(), [](std::int32_t h) { return h == 0; }));

  AudioBlock dc = Dc(2, 30000, 123456);
  EXPECT_LE(MaxDifference(Filtered(dc, FlatCurve()), dc), kStep16);
  const AudioBlock tone = Sine(2, 30000, kRate, 1000, kFullScale);
  EXPECT_LE(MaxDifference(Filtered(tone, FlatCurve()), tone), kStep16);
  EXPECT_EQ(PeakOf(Filtered(tone, {{0, 0}, {255, 0}}), 1), 0);
}

TEST(EqualizerKernel, BandPassKeepsItsBandAndTakesTheRestDown) {
  const EqualizerCurve band = ShapeCurve(EqShape::BandPass, {8000, 12000, 1000, 0});
  EXPECT_NEAR(GainDb(band, 10000), 0, 0.5);
  EXPECT_LE(GainDb(band, 1000), -50);
  EXPECT_LE(GainDb(band, 16000), -50);
  // A band at half level.
  EXPECT_NEAR(GainDb(ShapeCurve(EqShape::BandStop, {2000, 6000, 500, 50}), 4000), Db(64.0 / 128), 0.5);
}

TEST(EqualizerFft, EqualsTheDirectFormWithinOne16BitStep) {
  const EqualizerCurve curve{{0, 200}, {30, 90}, {100, 255}, {180, 10}, {255, 128}};
  const AudioBlock in = Noise(2, 30000, 5);
  const AudioBlock direct = DirectForm(in, EqualizerKernel(CurveMagnitudes(curve, kRate)));
  const AudioBlock fft = Filtered(in, curve);
  EXPECT_LE(MaxDifference(fft, direct), kStep16);
  // Reads of any size see the same blocks; a seek starts new ones.
  for (FrameCount block : {1, 441, 8191, 8193}) EXPECT_EQ(Filtered(in, curve, block), fft) << block;
  SourceHandle f = MakeEqualizer(MemorySource(in, kRate), curve);
  f->seek(17000);
  const AudioBlock tail = ReadFrames(*f, 13000);
  EXPECT_EQ(f->position(), 30000);
  AudioBlock want(2, 13000);
  std::copy_n(direct.data() + 17000 * 2, 13000 * 2, want.data());
  EXPECT_LE(MaxDifference(tail, want), kStep16);
}

// A loud in-band tone raised beyond the sample word keeps its sign: sums are wide and
// the output saturates.
TEST(EqualizerFft, LoudInputSaturatesInsteadOfWrapping) {
  const AudioBlock in = Sine(1, 20000, kRate, 2500, 0x48000000);
  const AudioBlock out = Filtered(in, ShapeCurve(EqShape::BoostCut, {2000, 3000, 0, 199}));
  EXPECT_EQ(PeakOf(out, 0), INT32_MAX);
  for (FrameCount i = 4096; i < 16000; ++i)
    if (in(0, i) > 0x20000000) {
      ASSERT_GT(out(0, i), 0) << i;
    }
}

TEST(EqualizerCurve, MagnitudesFollowThePointsAndStopAtTheLastBin) {
  const auto flat = CurveMagnitudes(FlatCurve(), kRate);
  EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](int m) { return m == 128; }));
  // At 8000 Hz position 102 is bin 4080: cut off at 2048, where the last level takes over.
  const auto low = CurveMagnitudes({{0, 128}, {102, 0}, {255, 255}}, 8000);
  EXPECT_EQ(low[0], 128);
  EXPECT_EQ(low[1024], 64);
  EXPECT_EQ(low[2047], 1);
  EXPECT_EQ(low[2048], 255);
  // The first point stands at bin 0 wherever it is; a rate of 0 is taken as 44100.
  const auto late = CurveMagnitudes({{50, 10}, {100, 200}, {255, 200}}, 0);
  EXPECT_EQ(late[0], 10);
  EXPECT_EQ(late[725], 200);  // position 100 at 44100
  EXPECT_EQ(late[2048], 200);
}

TEST(EqualizerShapes, CurvesOfEachShape) {
  struct Case {
    EqShape shape;
    EqShapeParams p;
    EqualizerCurve want;
    const char* edge;
  };
  const Case cases[] = {
      {EqShape::BandPass, {8000, 12000, 1000, 50},
       {{0, 64}, {89, 64}, {102, 128}, {153, 128}, {166, 64}, {255, 64}}, "the defaults button"},
      {EqShape::BandPass, {8000, 12000, 1000, 300},
       {{0, 128}, {89, 128}, {102, 128}, {153, 128}, {166, 128}, {255, 128}}, "amplitude capped at 100"},
      {EqShape::BoostCut, {8000, 12000, 1000, 300},
       {{0, 128}, {89, 128}, {102, 254}, {153, 254}, {166, 128}, {255, 128}}, "boost capped at 199"},
      {EqShape::Notch, {9750, 10250, 500, 150},
       {{0, 128}, {124, 128}, {124, 192}, {131, 192}, {131, 128}, {255, 128}}, "notch has no slope"},
      {EqShape::Notch, {10140, 10150, 0, 0},
       {{0, 128}, {129, 128}, {129, 0}, {130, 0}, {130, 128}, {255, 128}}, "widened to 50 Hz"},
      {EqShape::BandStop, {12000, 9000, 20000, 0},
       {{0, 128}, {51, 128}, {153, 0}, {153, 0}, {255, 128}, {255, 128}}, "end before start, slope cut"},
      {EqShape::HighPass, {4000, 0, 1000, 50},
       {{0, 64}, {38, 64}, {51, 128}, {255, 128}, {255, 64}, {255, 64}}, "20000 Hz is 255, slope inside"},
      {EqShape::LowPass, {4000, 0, 1000, 50},
       {{0, 64}, {0, 64}, {0, 128}, {51, 128}, {64, 64}, {255, 64}}, "slope inside"},
      {EqShape::HighPass, {30000, 0, 1000, 0},
       {{0, 0}, {243, 0}, {255, 128}, {255, 128}, {255, 0}, {255, 0}}, "beyond the axis"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ShapeName(c.shape)) + ": " + c.edge);
    EXPECT_EQ(ShapeCurve(c.shape, c.p), c.want);
    EXPECT_TRUE(IsValidEnvelope(ShapeCurve(c.shape, c.p)));
  }
}

TEST(EqualizerShapes, SettingsLiveInTheirSectionsAndTheChoiceIsRemembered) {
  TempDir dir;
  settings::Settings s(settings::FolderLocations(dir.path()));
  core::ParamSet boost(ShapeTable(EqShape::BoostCut)), notch(ShapeTable(EqShape::Notch));
  boost.Load(s);
  notch.Load(s);
  EXPECT_EQ(ShapeParamsOf(EqShape::BoostCut, boost).ampPct, 1000);
  EXPECT_EQ(ShapeParamsOf(EqShape::Notch, notch).slopeHz, 0);
  s.SetInt("BoostCut", "StartFreq", 500);
  boost.Load(s);
  EXPECT_EQ(ShapeParamsOf(EqShape::BoostCut, boost).startHz, 500);
  StoreShapeChoice(s, EqShape::Notch);
  EXPECT_EQ(s.GetString("Settings", "EqualizerFilterName", ""), "Notch");
  EXPECT_TRUE(s.GetBool("Settings", "EqualizerNotchFilter", false));
  EXPECT_FALSE(s.GetBool("Settings", "EqualizerPassFilter", true));
}

TEST(EqualizerText, ShapesCurvesAndTheStoredCurve) {
  TempDir dir;
  settings::Settings s(settings::FolderLocations(dir / "settings"));
  s.SetInt("HighPass", "Freq", 2000);
  EqualizerCurve curve;
  ASSERT_TRUE(EqualizerCurveOf("", s, dir.path(), curve).ok());
  EXPECT_EQ(curve, FlatCurve());
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir / "equalizer.dat"), std::string("\x02\x00\x80\xff\x80", 5));
  const std::pair<const char*, EqualizerCurve> accepted[] = {
      {"bandpass,8000,12000,1000,0", ShapeCurve(EqShape::BandPass, {8000, 12000, 1000, 0})},
      {"highpass", ShapeCurve(EqShape::HighPass, {2000, 0, 1000, 50})},
      {"highpass,3000,,10", ShapeCurve(EqShape::HighPass, {3000, 0, 1000, 10})},
      {"0/128;100/20;255/64", {{0, 128}, {100, 20}, {255, 64}}},
  };
  for (const auto& [text, want] : accepted) {
    ASSERT_TRUE(EqualizerCurveOf(text, s, dir.path(), curve).ok()) << text;
    EXPECT_EQ(curve, want) << text;
  }
  const std::pair<const char*, const char*> refused[] = {
      {"peak,1000", "The equalizer shape must be bandpass, bandstop, boostcut, notch, highpass or lowpass, not \"peak\"."},
      {"notch,-5", "Start Frequency (Hz) must be between 0 and 100000."},
      {"lowpass,1,2,3,4", "Too many parameters: 4 given, at most 3 (FREQ,SLOPE,AMP)."},
      {"0/128", "An equalizer curve needs 2 to 64 points with rising positions."},
      {"0/128;255/256", "Equalizer points are X/Y with both from 0 to 255, not \"255/256\"."},
  };
  core::ParamSet table(kEqualizerTable);
  for (const auto& [text, message] : refused) {
    EXPECT_EQ(EqualizerCurveOf(text, s, dir.path(), curve).message, message) << text;
    table.SetText(0, text);
    EXPECT_EQ(table.Validate(), message) << text;
  }
}

TEST(EqualizerFile, RoundTripsAndDamageGivesTheFlatCurve) {
  TempDir dir;
  const EqualizerCurve curve{{0, 10}, {60, 255}, {255, 0}};
  ASSERT_TRUE(SaveEqualizerCurve(dir.path(), curve));
  EXPECT_EQ(LoadEqualizerCurve(dir.path()), curve);
  quillet::testing::WriteFileBytes(dir / "equalizer.dat", std::string("\x03\x00\x10", 3));
  EXPECT_EQ(LoadEqualizerCurve(dir.path()), FlatCurve());
  quillet::testing::WriteFileBytes(dir / "equalizer.dat", std::string("\x00", 1));
  EXPECT_EQ(LoadEqualizerCurve(dir.path()), FlatCurve());
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir / "equalizer.dat").size(), 5u);  // count 0: rewritten
}

TEST(EqualizerAxis, LinearAndLogarithmicPositionsMapBothWays) {
  EXPECT_DOUBLE_EQ(EqFrequencyAt(200, 400, true), 10000);
  EXPECT_DOUBLE_EQ(EqFrequencyAt(200, 400, false), 4000);  // 20000 x (16^0.5 - 1) / 15
  EXPECT_DOUBLE_EQ(EqFrequencyAt(400, 400, false), 20000);
  for (bool linear : {true, false})
    for (double hz : {0.0, 78.125, 1000.0, 19921.875})
      EXPECT_NEAR(EqFrequencyAt(EqPixelOf(hz, 512, linear), 512, linear), hz, 1e-6);
  EXPECT_EQ(EqPosition(20000), 255);
  EXPECT_EQ(EqPosition(-3), 0);
}

// The pass reads the audio around the selection: its first frames are filtered from
// real history, not from silence.
TEST(Equalize, SelectionEdgesSeeTheAudioAroundThem) {
  const AudioBlock tone = Sine(1, 60000, kRate, 1000, 200000);
  const EqualizerCurve low = ShapeCurve(EqShape::LowPass, {4000, 0, 1000, 50});
  const AudioBlock whole = Filtered(tone, low);
  Doc doc(tone);
  ASSERT_TRUE(Equalize(doc.Range(20000, 40000), low).done());
  const AudioBlock got = doc.Read();
  EXPECT_LE(MaxDifference(got, whole, 20000, 40000), kStep16);
  EXPECT_EQ(MaxDifference(got, tone, 0, 20000), 0);
  EXPECT_EQ(MaxDifference(got, tone, 40000, 60000), 0);
}

}  // namespace
}  // namespace quillet::effects
