#include "effects/dialogs.h"

#include <gtest/gtest.h>

#include "effects/conversion.h"
#include "effects/pan.h"
#include "fixtures/temp_dir.h"

namespace quillet::effects {
namespace {

using quillet::testing::TempDir;

struct SettingsFixture {
  TempDir dir;
  settings::Settings s{settings::FolderLocations(dir.path())};
};

// Each unit's table: its range ends accepted, one past refused with the dialog's
// message (the speed's lowest value is the one the stretch can do).
TEST(EffectTables, AcceptTheRangeEndsAndRefuseOnePastWithTheirMessages) {
  struct Case {
    const char* what;
    Status status;
    const char* message;  // empty: accepted
  };
  const Case cases[] = {
      {"amplify 0", Validate(AmplifyParams{0}), ""},
      {"amplify 400", Validate(AmplifyParams{400}), ""},
      {"amplify 401", Validate(AmplifyParams{401}), "Amplify Gain must be less than 400%. Please try again."},
      {"amplify -1", Validate(AmplifyParams{-1}), "Amplify Gain must be 0% or more. Please try again."},
      {"normalize 100", Validate(NormalizeParams{100}), ""},
      {"normalize 101", Validate(NormalizeParams{101}),
       "Normailze Peak Level must be less than 100%. Please try again."},
      {"speed 10", Validate(SpeedParams{10}), ""},
      {"speed 300", Validate(SpeedParams{300}), ""},
      {"speed 301", Validate(SpeedParams{301}), "Speed Change Percent must be less than 300."},
      {"speed 9", Validate(SpeedParams{9}), "Speed Change Percent must be at least 10."},
      {"speed 0", Validate(SpeedParams{0}), "Speed Change Percent must be at least 10."},
      {"pan 0", Validate(PanParams{0}), ""},
      {"pan 101", Validate(PanParams{101}), "Stereo Pan must be between 0 and 100."},
      {"cross fade", Validate(CrossFadeParams{0, 0, 0}), ""},
      {"cross fade -1", Validate(CrossFadeParams{10, -1, 10}), "Cross fade times must not be negative."},
      {"rate 6000", Status::Refusal(core::CheckValues(kSampleRateTable, {6000})), ""},
      {"rate 96001", Status::Refusal(core::CheckValues(kSampleRateTable, {96001})),
       "Sample rates must be between 6000 and 96000 samples per second."},
      {"channels 3", Status::Refusal(core::CheckValues(kChannelsTable, {3})),
       "The channels must be 1 (mono) or 2 (stereo)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.status.message, c.message);
    EXPECT_EQ(c.status.caption, c.status.ok() ? "" : "Invalid value");
  }
}

TEST(EffectTables, StoredValuesPresetsAndSectionsComeFromTheTables) {
  SettingsFixture f;
  core::ParamSet normalize(kNormalizeTable);
  normalize.Load(f.s);
  EXPECT_EQ(NormalizeParamsOf(normalize).peakPct, 100);
  normalize.ChoosePreset(2);
  EXPECT_EQ(NormalizeParamsOf(normalize).peakPct, 75);
  normalize.Store(f.s);
  EXPECT_EQ(f.s.GetString("StoredValues", "NormalizePeakLevel", ""), "75");
  core::ParamSet amplify(kAmplifyTable);
  amplify.ChoosePreset(0);
  EXPECT_EQ(AmplifyParamsOf(amplify).gainPct, 25);
  // The cross fade keeps its own section; the three speeds their own keys.
  core::ParamSet cross(kCrossFadeTable);
  ASSERT_EQ(cross.Parse(std::vector<std::string>{"10", "20", "30"}), "");
  cross.Store(f.s);
  EXPECT_EQ(f.s.GetInt("CrossFade", "FadeInTimeMS", 0), 20);
  core::ParamSet back(kCrossFadeTable);
  back.Load(f.s);
  EXPECT_EQ(CrossFadeParamsOf(back).fadeOutMs, 30);
  f.s.SetInt("StoredValues", "ConstSpeedPitch", 150);
  core::ParamSet pitch(kPitchTable), speed(kSpeedTable);
  pitch.Load(f.s);
  speed.Load(f.s);
  EXPECT_EQ(std::tuple(SpeedParamsOf(pitch).percent, SpeedParamsOf(speed).percent),
            std::tuple(150, 100));
}

TEST(EnvelopeText, PointsParseAndDamagedOnesAreRefused) {
  EnvelopeShape shape;
  ASSERT_TRUE(ParseEnvelope("0/0;128/255;255/128", shape).ok());
  EXPECT_EQ(shape, (EnvelopeShape{{0, 0}, {128, 255}, {255, 128}}));
  const std::pair<const char*, const char*> refused[] = {
      {"0/128", "An envelope needs 2 to 64 points with rising positions."},
      {"200/128;10/128", "An envelope needs 2 to 64 points with rising positions."},
      {"0/128;10/300", "Envelope points are POS/LEVEL with both from 0 to 255, not \"10/300\"."},
      {"0/128;x", "Envelope points are POS/LEVEL with both from 0 to 255, not \"x\"."},
      {"0/128;;255/1", "Envelope points are POS/LEVEL with both from 0 to 255, not \"\"."},
  };
  for (const auto& [text, message] : refused) {
    EnvelopeShape untouched = shape;
    EXPECT_EQ(ParseEnvelope(text, untouched).message, message) << text;
    EXPECT_EQ(untouched, shape) << "a refused text leaves the shape alone";
  }
  // The table refuses the same, and an empty text (the envelope file) is fine.
  core::ParamSet values(kEnvelopeTable);
  EXPECT_EQ(values.Validate(), "");
  values.SetText(0, "0/128");
  EXPECT_EQ(values.Validate(), "An envelope needs 2 to 64 points with rising positions.");
}

TEST(EnvelopeFile, RoundTripsAndRefusesDamagedFiles) {
  TempDir dir;
  // Missing or empty: the default, written for next time.
  EXPECT_EQ(LoadEnvelope(dir.path()), DefaultEnvelope());
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir / "envelope.dat"), std::string("\x02\x00\x80\xff\x80", 5));
  quillet::testing::WriteFileBytes(dir / "envelope.dat", std::string("\x00", 1));
  EXPECT_EQ(LoadEnvelope(dir.path()), DefaultEnvelope());
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir / "envelope.dat").size(), 5u);
  const EnvelopeShape shape{{0, 10}, {100, 255}, {255, 0}};
  ASSERT_TRUE(SaveEnvelope(dir.path(), shape));
  EXPECT_EQ(LoadEnvelope(dir.path()), shape);
  const std::string damaged[] = {std::string("\x03\x00\x10\x64", 4),          // cut short
                                 std::string("\x02\x80\x10\x10\x10", 5),      // falling
                                 std::string("\x01\x00\x10", 3),              // one point
                                 std::string("\x02\x00\x10\xff\x10\x00", 6)};  // trailing byte
  for (const std::string& bytes : damaged) {
    EnvelopeShape s;
    EXPECT_FALSE(DecodeEnvelope(bytes, s));
  }
  EXPECT_FALSE(SaveEnvelope(dir.path(), {{0, 1}}));
  EXPECT_EQ(LoadEnvelope(dir.path()), shape);  // the failed save kept the old file
}

TEST(EnvelopeDialog, PointsStayOrderedBetweenFixedEndsAndWithinLimits) {
  CurveEditModel m(DefaultEnvelope());
  std::size_t i = 0;
  ASSERT_TRUE(m.AddPoint(100, 200, &i));
  EXPECT_EQ(i, 1u);
  m.MovePoint(1, 300, -5);  // clamped between the neighbours, level to 0..255
  EXPECT_EQ(m.shape()[1], (EnvelopePoint{255, 0}));
  m.MovePoint(0, 50, 10);   // the first point keeps its position
  EXPECT_EQ(m.shape()[0].position, 0);
  EXPECT_FALSE(m.RemovePoint(0));
  EXPECT_TRUE(m.RemovePoint(1));
  while (m.AddPoint(128, 128)) {
  }
  EXPECT_EQ(m.shape().size(), kMaxEnvelopePoints);
  EXPECT_TRUE(IsValidEnvelope(m.shape()));
}

}  // namespace
}  // namespace quillet::effects
