// The preview button's model: what it plays, when it starts again, what it refuses.
#include "effects/preview.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/segment_sink.h"
#include "effects/conversion.h"
#include "effects/levels.h"
#include "effects/registry.h"
#include "effects_fixture.h"
#include "fixtures/recording_player.h"

namespace quillet::effects::testing {
namespace {

using quillet::testing::RecordingPlayer;

struct PreviewTest : ::testing::Test {
  TempDir dir;
  core::SegmentStore store{dir.path()};
  RecordingPlayer player;

  core::WaveDocument Make(const AudioBlock& block) { return core::WaveDocument(ChainOf(store, block)); }
};

// Reverses what it is given: its output shows which frames were handed in.
PreviewBuild Reversed() {
  return [](SourceHandle in, std::string*) {
    return SourceHandle(audio::MakeRef<LReverseSource>(std::move(in)));
  };
}

TEST_F(PreviewTest, PlaysTheSelectionThroughTheFilterAndTheButtonStops) {
  const AudioBlock ramp = Ramp(2, 5000);
  core::WaveDocument doc = Make(ramp);
  doc.SetSelection(1000, 1100, 1000);
  EffectPreview preview(&player, doc);
  EXPECT_TRUE(preview.enabled());
  EXPECT_EQ(preview.caption(), "Pre&view");
  EXPECT_TRUE(preview.Press(Reversed()).ok());
  EXPECT_EQ(preview.caption(), "&Stop");
  ASSERT_EQ(player.played.size(), 1u);
  const AudioBlock heard = ReadSource(*player.played[0]);
  ASSERT_EQ(heard.frames(), 100);
  EXPECT_EQ(heard(0, 0), ramp(0, 1099));
  EXPECT_EQ(heard(1, 99), ramp(1, 1000));
  EXPECT_TRUE(preview.Press(Reversed()).ok());
  EXPECT_FALSE(player.playing);
  EXPECT_EQ(preview.caption(), "Pre&view");
  // Without a selection all of the audio is heard.
  doc.SetSelection(0, 0, 0);
  preview.Press(Reversed());
  EXPECT_EQ(player.played.back()->length(), 5000);
}

TEST_F(PreviewTest, EditsRestartOnlyWhilePlayingAndARefusalKeepsTheOldFilter) {
  core::WaveDocument doc = Make(Ramp(1, 3000));
  EffectPreview preview(&player, doc);
  EXPECT_TRUE(preview.Edited(Reversed()).ok());
  EXPECT_TRUE(player.played.empty());  // stopped: an edit plays nothing
  preview.Press(Reversed());
  preview.Edited(Reversed());
  EXPECT_EQ(player.played.size(), 2u);
  EXPECT_EQ(std::count(player.log.begin(), player.log.end(), "stop"), 1);  // the old one first
  const Status refused = preview.Edited([](SourceHandle, std::string* why) {
    *why = "Speed Change Percent must be less than 300.";
    return SourceHandle();
  });
  EXPECT_EQ(refused.message, "Speed Change Percent must be less than 300.");
  EXPECT_EQ(refused.caption, "Invalid value");
  EXPECT_TRUE(player.playing);
  EXPECT_EQ(player.played.size(), 2u);
  // Played to its end: the button offers the preview again, and an edit does nothing.
  player.playing = false;
  EXPECT_EQ(preview.caption(), "Pre&view");
  preview.Edited(Reversed());
  EXPECT_EQ(player.played.size(), 2u);
}

TEST_F(PreviewTest, DisabledWithoutAudioOrPlayerAndADeviceRefusalIsReported) {
  core::WaveDocument empty = Make(AudioBlock(1, 0));
  EXPECT_FALSE(EffectPreview(&player, empty).enabled());
  core::WaveDocument doc = Make(Ramp(1, 10));
  EXPECT_TRUE(EffectPreview(&player, doc).enabled());
  EffectPreview none(nullptr, doc);
  EXPECT_FALSE(none.enabled());
  EXPECT_FALSE(none.Press(Reversed()).ok());
  player.refuse = true;
  EffectPreview busy(&player, doc);
  const Status s = busy.Press(Reversed());
  EXPECT_EQ(s.message, "The device is busy.");
  EXPECT_EQ(s.caption, "Quillet");
  EXPECT_EQ(busy.caption(), "Pre&view");
}

TEST_F(PreviewTest, ClosingTheDialogStopsItsPreviewOnly) {
  core::WaveDocument doc = Make(Ramp(1, 10));
  { EffectPreview idle(&player, doc); }
  EXPECT_TRUE(player.log.empty());  // nothing of its own to stop
  {
    EffectPreview preview(&player, doc);
    preview.Press(Reversed());
  }
  EXPECT_FALSE(player.playing);
}

// The speed dialogs preview what they will apply, and refuse above 300 as OK does.
TEST_F(PreviewTest, SpeedCommandsPreviewTheirValuesAndRefuseAboveThreeHundred) {
  core::CommandRegistry registry;
  RegisterEffectCommands(registry);
  core::WaveDocument doc = Make(Noise(1, 44100, 3));
  for (core::CommandId id : {core::kCmdSpeedAndPitch, core::kCmdSpeed}) {
    const core::Command* c = registry.Find(id);
    ASSERT_TRUE(c && c->preview) << id;
    core::ParamSet values(*c->params);
    values.SetInt(0, 200);
    EffectPreview preview(&player, doc);
    ASSERT_TRUE(preview.Press(PreviewOf(*c, values)).ok());
    EXPECT_NEAR(double(player.played.back()->length()), 22050, 200) << id;
    values.SetInt(0, 301);
    EXPECT_EQ(preview.Edited(PreviewOf(*c, values)).message,
              "Speed Change Percent must be less than 300.");
    values.SetInt(0, 1);  // below the field's range: heard at the slowest speed
    EXPECT_TRUE(preview.Edited(PreviewOf(*c, values)).ok());
    EXPECT_NEAR(double(player.played.back()->length()), 441000, 2000) << id;
  }
  const core::Command* pitch = registry.Find(core::kCmdPitch);
  core::ParamSet values(*pitch->params);
  values.SetInt(0, 150);
  EffectPreview preview(&player, doc);
  ASSERT_TRUE(preview.Press(PreviewOf(*pitch, values)).ok());
  EXPECT_NEAR(double(ReadSource(*player.played.back()).frames()), 44100, 50);
}

// The compressor's dialog previews what OK applies: untouched at its 1:1 default, and
// with "General Voice Level" a quiet tone comes back with its make-up gain.
TEST_F(PreviewTest, CompressorPreviewsItsPresetAndIsTransparentAtItsDefaults) {
  core::CommandRegistry registry;
  RegisterEffectCommands(registry);
  const core::Command* c = registry.Find(core::kCmdCompressor);
  ASSERT_TRUE(c && c->preview);
  const AudioBlock quiet = Sine(2, 44100, 44100, 1000, kFullScale / 100);  // -40 dBFS
  core::WaveDocument doc = Make(quiet);
  core::ParamSet values(*c->params);
  EffectPreview preview(&player, doc);
  ASSERT_TRUE(preview.Press(PreviewOf(*c, values)).ok());
  EXPECT_EQ(ReadSource(*player.played.back()), quiet);

  values.ChoosePreset(0);  // "General Voice Level": -20 dB, "4:1"
  ASSERT_EQ(values.Int(0), -20);
  EXPECT_TRUE(preview.Edited(PreviewOf(*c, values)).ok());
  const AudioBlock heard = ReadSource(*player.played.back());
  ASSERT_EQ(heard.frames(), quiet.frames());
  // Below the threshold the gain is 20 dB x (1 - 1/4) = 15 dB, once the first window is past.
  const double peak = PeakOf(heard, 0, 22050, 44100);
  EXPECT_NEAR(20 * std::log10(peak / (kFullScale / 100.0)), 15, 0.5);
}

}  // namespace
}  // namespace quillet::effects::testing
