#include "effects/dialogs.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"

namespace quillet::effects {
namespace {

using quillet::testing::TempDir;

struct SettingsFixture {
  TempDir dir;
  settings::Settings s{settings::FolderLocations(dir.path())};
};

TEST(PercentDialogs, AcceptTheRangeEndsAndRefuseOnePastWithTheirMessages) {
  struct Case {
    const PercentDialogInfo* info;
    int value;
    const char* message;  // empty: accepted
  };
  const Case cases[] = {
      {&kAmplifyDialog, 400, ""},
      {&kAmplifyDialog, 401, "Amplify Gain must be less than 400%. Please try again."},
      {&kAmplifyDialog, 0, ""},
      {&kNormalizeDialog, 100, ""},
      {&kNormalizeDialog, 101, "Normailze Peak Level must be less than 100%. Please try again."},
      {&kSpeedDialog, 300, ""},
      {&kSpeedDialog, 301, "Speed Change Percent must be less than 300."},
      {&kPitchDialog, 301, "Speed Change Percent must be less than 300."},
      {&kSpeedAndPitchDialog, 301, "Speed Change Percent must be less than 300."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.info->key) + " " + std::to_string(c.value));
    PercentDialogModel m(*c.info);
    m.value = c.value;
    const Status st = m.Validate();
    EXPECT_EQ(st.message, c.message);
    if (!st.ok()) {
      EXPECT_EQ(st.caption, "Invalid value");
    }
  }
  PercentDialogModel m(kAmplifyDialog);
  m.value = -1;
  EXPECT_FALSE(m.Validate().ok());
}

TEST(PercentDialogs, StoredValuesAreReadAndOnlyAcceptedOnesWritten) {
  SettingsFixture f;
  PercentDialogModel m(kAmplifyDialog);
  m.Load(f.s);
  EXPECT_EQ(m.value, 100);
  m.value = 250;
  EXPECT_TRUE(m.Confirm(f.s).ok());
  m.value = 999;
  EXPECT_FALSE(m.Confirm(f.s).ok());
  PercentDialogModel again(kAmplifyDialog);
  again.Load(f.s);
  EXPECT_EQ(again.value, 250);
  EXPECT_EQ(f.s.GetString("StoredValues", "AmplifyGain", ""), "250");
}

TEST(PercentDialogs, PresetsWriteTheirValueAndTheFirstEntryDoesNothing) {
  PercentDialogModel m(kNormalizeDialog);
  const auto entries = m.PresetEntries();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0], "Select Preset");
  m.value = 63;
  m.ChoosePreset(0);
  EXPECT_EQ(m.value, 63);
  m.ChoosePreset(3);
  EXPECT_EQ(entries[3], "Normal Audio Level");
  EXPECT_EQ(m.value, 75);
  m.ChoosePreset(9);
  EXPECT_EQ(m.value, 75);
  PercentDialogModel a(kAmplifyDialog);
  a.ChoosePreset(1);
  EXPECT_EQ(a.value, 25);
  EXPECT_TRUE(PercentDialogModel(kSpeedDialog).PresetEntries().empty());
}

TEST(CrossFadeDialog, KeepsItsOwnSectionAndConvertsTimesToFrames) {
  SettingsFixture f;
  CrossFadeDialogModel m;
  m.Load(f.s);
  EXPECT_EQ(m.params.gapMs, 300);
  m.params = {.gapMs = 10, .fadeInMs = 20, .fadeOutMs = 30};
  m.startMs = 1500;
  m.endMs = 2250;
  ASSERT_TRUE(m.Confirm(f.s).ok());
  CrossFadeDialogModel back;
  back.Load(f.s);
  EXPECT_EQ(back.params.fadeOutMs, 30);
  EXPECT_EQ(f.s.GetInt("CrossFade", "FadeInTimeMS", 0), 20);
  EXPECT_EQ(m.StartFrame(44100), 66150);
  EXPECT_EQ(m.EndFrame(44100), 99225);
  m.params.gapMs = -1;
  EXPECT_FALSE(m.Validate().ok());
}

TEST(SampleRateDialog, TypedValuesAreCheckedAgainstTheOfferedRange) {
  std::int64_t rate = 0;
  EXPECT_TRUE(ParseSampleRate("22050", rate).ok());
  EXPECT_EQ(rate, 22050);
  EXPECT_FALSE(ParseSampleRate("5999", rate).ok());
  EXPECT_FALSE(ParseSampleRate("abc", rate).ok());
  const Status st = ParseSampleRate("200000", rate);
  EXPECT_EQ(st.message, "Sample rates must be between 6000 and 96000 samples per second.");
  EXPECT_EQ(SampleRateEntries().front(), "6000");
  EXPECT_EQ(SampleRateEntries().back(), "96000");
}

TEST(EnvelopeFile, MissingOrEmptyFileGetsTheDefaultWritten) {
  TempDir dir;
  EXPECT_EQ(LoadEnvelope(dir.path()), DefaultEnvelope());
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir / "envelope.dat"), std::string("\x02\x00\x80\xff\x80", 5));
  quillet::testing::WriteFileBytes(dir / "envelope.dat", std::string("\x00", 1));
  EXPECT_EQ(LoadEnvelope(dir.path()), DefaultEnvelope());
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir / "envelope.dat").size(), 5u);
}

TEST(EnvelopeFile, RoundTripsAndRefusesDamagedFiles) {
  TempDir dir;
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
  EnvelopeDialogModel m(DefaultEnvelope());
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
