// The effects as document commands: the undo entry and progress texts each leaves,
// where the selection and cursor go, cancellation and refusals changing nothing.
#include "effects/commands.h"
#include "effects/noise_reduction.h"
#include "effects/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "core/clipboard.h"
#include "core/edit_commands.h"
#include "effects_fixture.h"
#include "fixtures/recording_player.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"

namespace quillet::effects::testing {
namespace {

using core::WaveDocument;

using quillet::testing::RecordingPlayer;

class CommandsTest : public ::testing::Test {
 protected:
  TempDir dir;
  core::SegmentStore store{dir.path() / "store"};
  settings::Settings settings{settings::FolderLocations(dir.path() / "settings")};
  platform::ScriptedProgressFactory progress;
  platform::ScriptedPrompter prompter;
  core::ProgramClipboard clipboard{&store};
  core::EditContext ctx{store,   clipboard, progress, settings, nullptr, nullptr, nullptr,
                        &prompter, audio::StandardFormatAdaptors(), {}, false};

  void SetUp() override {
    std::filesystem::create_directories(dir.path() / "store");
    settings.SetBool("Settings", "AutoPlaybackAfterEffects", false);
  }
  std::unique_ptr<WaveDocument> Make(const AudioBlock& block, std::uint32_t rate = 44100) {
    return std::make_unique<WaveDocument>(ChainOf(store, block, rate));
  }
  static AudioBlock Contents(const WaveDocument& doc) {
    auto src = core::ChainOpenSource(doc.chain());
    return ReadFrames(*src, doc.length());
  }
  bool Logged(const std::string& line) const {
    const auto& log = progress.log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
};

using Command = std::function<std::int32_t(core::EditContext&, WaveDocument&)>;

struct Named {
  const char* undoName;
  const char* caption;  // nullptr: no progress window
  const char* line0;
  const char* line1;
  Command run;
};

TEST_F(CommandsTest, EachCommandPushesItsUndoNameAndShowsItsProgressTexts) {
  const Named cases[] = {
      {"Amplify", nullptr, nullptr, nullptr,
       [](auto& c, auto& d) { return AmplifyCommand(c, d, 50); }},
      {"Normalize", "Normalize", "Normalizing", "Please wait...",
       [](auto& c, auto& d) { return NormalizeCommand(c, d, 100); }},
      {"Fade In", "Fade In", "Envelope", "Please wait...", FadeInCommand},
      {"Fade Out", "Fade Out", "Envelope", "Please wait...", FadeOutCommand},
      {"Fade Out and Trim", "Fade Out and Trim", "Envelope", "Please wait...",
       FadeOutAndTrimCommand},
      {"Envelope", "Envelope", "Envelope", "Please wait...",
       [](auto& c, auto& d) {
         return EnvelopeCommand(c, d, {{0, 128}, {128, 40}, {255, 128}});
       }},
      {"DC Offset Correction", "DC Offset Correction", "DC Offset Correction", "Please wait...",
       DcOffsetCommand},
      {"Reverse", "Reverse", "Reversing Sound", "Please wait...", ReverseCommand},
      {"Stereo Pan", "Stereo Pan", "Stereo Pan", "Process Audio",
       [](auto& c, auto& d) { return StereoPanCommand(c, d, 20); }},
      {"Cross Fade", "Cross Fading", "Cross Fading", "Please wait...",
       [](auto& c, auto& d) { return CrossFadeCommand(c, d, {10, 10, 10}); }},
      {"High-Pass Filter", "High-Pass Filter", "Low Cut Filter", "Please wait...",
       [](auto& c, auto& d) { return HighPassCommand(c, d, {250}); }},
      {"Equalizer", "Equalizer", "Equalizing", "Please wait...",
       [](auto& c, auto& d) { return EqualizerCommand(c, d, {{0, 128}, {100, 20}, {255, 128}}); }},
      {"Echo", "Echo", "Echo", "Please wait...", [](auto& c, auto& d) { return EchoCommand(c, d, {10, 50}); }},
      {"Reverb", "Reverb", "Reverb", "Please wait...",
       [](auto& c, auto& d) { return ReverbCommand(c, d, {50, 100}); }},
      {"Speed and Pitch Change", "Speed and Pitch Change", "Process Audio", "Please wait...",
       [](auto& c, auto& d) { return SpeedCommand(c, d, SpeedKind::SpeedAndPitch, 150); }},
      {"Speed Change", "Speed Change", "Process Audio", "Please wait...",
       [](auto& c, auto& d) { return SpeedCommand(c, d, SpeedKind::SpeedOnly, 150); }},
      {"Pitch Change", "Pitch Change", "Process Audio", "Please wait...",
       [](auto& c, auto& d) { return SpeedCommand(c, d, SpeedKind::PitchOnly, 150); }},
      {"Convert Sample Rate", "Convert Sample Rate", "Process Audio", "Please wait...",
       [](auto& c, auto& d) { return ConvertSampleRateCommand(c, d, 22050); }},
      {"Convert Channels", "Convert Channels", "Process Audio", "Please wait...",
       [](auto& c, auto& d) { return ConvertChannelsCommand(c, d, 1); }},
      {"Dynamic Range Compressor", "Dynamic Range Compressor", "Dynamic Range Compressor",
       "Please wait...",
       [](auto& c, auto& d) {
         return CompressorCommand(c, d, {-30, 4, 0});
       }},
      {"Noise Reduction", "Noise Reduction", "Noise Reduction", "Please wait...",
       [](auto& c, auto& d) { return NoiseGateCommand(c, d, -10); }},
      {"Noise Reduction", "Noise Reduction", "Noise Reduction", "Please wait...",
       [](auto& c, auto& d) { return NoiseReductionAutoCommand(c, d, 30); }},
      {"Noise Reduction", "Noise Reduction", "Get Noise Sample", "Please wait...",
       [](auto& c, auto& d) {
         const auto grabbed = GrabNoiseCommand(c, d, 0, 5000);
         EXPECT_EQ(grabbed, platform::kTaskDone);
         EXPECT_FALSE(d.history().CanUndo()) << "a grab changes nothing";
         return NoiseReductionCommand(c, d);
       }},
  };
  for (const Named& c : cases) {
    SCOPED_TRACE(c.undoName);
    auto doc = Make(Noise(2, 20000, 3, kFullScale / 4));
    doc->SetSelection(2000, 12000, 0);
    const std::size_t logged = progress.log().size();
    ASSERT_EQ(c.run(ctx, *doc), platform::kTaskDone) << ctx.message;
    EXPECT_EQ(doc->history().UndoName(), c.undoName);
    EXPECT_EQ(doc->history().UndoMenuText(), std::string("Undo ") + c.undoName + "\tCtrl+Z");
    EXPECT_TRUE(doc->modified());
    if (!c.caption) {
      EXPECT_EQ(progress.log().size(), logged);  // no window at all
    } else {
      EXPECT_TRUE(Logged(std::string("caption ") + c.caption));
      EXPECT_TRUE(Logged(std::string("text0 ") + c.line0));
      EXPECT_TRUE(Logged(std::string("text1 ") + c.line1));
    }
    // Undo brings back the audio as it was.
    const AudioBlock before = Noise(2, 20000, 3, kFullScale / 4);
    EXPECT_NE(Contents(*doc), before);
    ASSERT_TRUE(doc->Undo());
    EXPECT_EQ(Contents(*doc), before);
    EXPECT_EQ(doc->history().RedoMenuText(), std::string("Redo ") + c.undoName + "\tCtrl+Y");
  }
}

TEST_F(CommandsTest, WithoutASelectionEffectsTakeTheWholeDocumentButFadesRefuse) {
  auto doc = Make(Ramp(1, 1000));
  ASSERT_EQ(ReverseCommand(ctx, *doc), 0);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(0, 1000));
  const AudioBlock got = Contents(*doc);
  EXPECT_EQ(got(0, 0), Ramp(1, 1000)(0, 999));
  EXPECT_EQ(got(0, 999), Ramp(1, 1000)(0, 0));

  for (auto* fade : {FadeInCommand, FadeOutCommand}) {
    auto other = Make(Ramp(1, 1000));
    EXPECT_EQ(fade(ctx, *other), platform::kTaskFailed);
    EXPECT_EQ(ctx.message, "There is no selection.");
    EXPECT_FALSE(other->history().CanUndo());
    EXPECT_EQ(Contents(*other), Ramp(1, 1000));
  }
  // The registered enable rules say the same: fades need a selection, the rest a
  // document.
  core::CommandRegistry r;
  RegisterEffectCommands(r);
  const core::CommandState selected{doc.get(), &clipboard, 1, false};
  const bool fadeWithSelection = core::IsEnabled(*r.Find(core::kCmdFadeIn), selected);
  doc->SetSelection(0, 0, 0);
  const core::CommandState none{doc.get(), &clipboard, 1, false};
  EXPECT_TRUE(fadeWithSelection);
  EXPECT_FALSE(core::IsEnabled(*r.Find(core::kCmdFadeIn), none));
  EXPECT_FALSE(core::IsEnabled(*r.Find(core::kCmdFadeOut), none));
  for (core::CommandId id : {core::kCmdAmplify, core::kCmdReverse, core::kCmdStereoPan,
                             core::kCmdSpeed, core::kCmdConvertSampleRate, core::kCmdConvertMono,
                             core::kCmdFadeOutAndTrim}) {
    EXPECT_TRUE(core::IsEnabled(*r.Find(id), none)) << id;
    EXPECT_FALSE(core::IsEnabled(*r.Find(id), {nullptr, &clipboard, 0, false})) << id;
  }
}

TEST_F(CommandsTest, SelectionAndCursorAfterLengthChanges) {
  // Speed 200 % halves the selection, and the selection covers the result.
  auto doc = Make(Sine(1, 44100, 44100, 440, kFullScale / 2));
  doc->SetSelection(4100, 24100, 100);
  ASSERT_EQ(SpeedCommand(ctx, *doc, SpeedKind::SpeedOnly, 200), 0) << ctx.message;
  EXPECT_NEAR(static_cast<double>(doc->length()), 44100 - 10000, 50);
  EXPECT_EQ(doc->selStart(), 4100);
  EXPECT_EQ(doc->selEnd() - doc->selStart(), 20000 - (44100 - doc->length()));

  // A rate conversion keeps the times of the selection.
  auto conv = Make(Sine(2, 44100, 44100, 440, kFullScale / 2));
  conv->SetSelection(4410, 22050, 8820);
  ASSERT_EQ(ConvertSampleRateCommand(ctx, *conv, 22050), 0) << ctx.message;
  EXPECT_EQ(conv->sampleRate(), 22050u);
  EXPECT_EQ(conv->length(), 22050);
  EXPECT_EQ(std::tuple(conv->selStart(), conv->selEnd(), conv->cursor()),
            std::tuple(2205, 11025, 2205));  // the cursor at the start, as after every effect
  ASSERT_TRUE(conv->Undo());
  EXPECT_EQ(conv->sampleRate(), 44100u);
  EXPECT_EQ(std::tuple(conv->selStart(), conv->selEnd()), std::tuple(4410, 22050));

  // Cross fade: nothing selected afterwards, the cursor at the join.
  auto cf = Make(Ramp(1, 44100));
  cf->SetSelection(10000, 30000, 0);
  ASSERT_EQ(CrossFadeCommand(ctx, *cf, {100, 100, 100}), 0);
  EXPECT_EQ(std::tuple(cf->selStart(), cf->selEnd(), cf->cursor()), std::tuple(10000, 10000, 10000));
  EXPECT_LT(cf->length(), 44100);
}

TEST_F(CommandsTest, PlaybackStopsBeforeAndStartsJustBeforeTheChange) {
  RecordingPlayer player;
  player.playing = true;
  ctx.player = &player;
  settings.SetBool("Settings", "AutoPlaybackAfterEffects", true);
  auto doc = Make(Ramp(2, 100000));
  doc->SetSelection(50000, 60000, 0);
  ASSERT_EQ(AmplifyCommand(ctx, *doc, 200), 0);
  EXPECT_EQ(player.log, (std::vector<std::string>{"stop", "play " + std::to_string(50000 - 22050)}));
  EXPECT_EQ(doc->cursor(), 50000 - 22050);

  settings.SetBool("Settings", "AutoPlaybackAfterEffects", false);
  player.log.clear();
  player.playing = false;
  ASSERT_EQ(ReverseCommand(ctx, *doc), 0);
  EXPECT_TRUE(player.log.empty());
  EXPECT_EQ(doc->cursor(), 50000);
}

TEST_F(CommandsTest, CancelledOrRefusedEffectsLeaveTheAudio) {
  const AudioBlock original = Noise(2, 30000, 5, kFullScale / 4);
  for (int pump : {1, 2}) {
    SCOPED_TRACE(pump);
    auto doc = Make(original);
    doc->SetCursor(777);
    progress.CancelAtPump(progress.pumps() + pump);
    EXPECT_EQ(ReverseCommand(ctx, *doc), platform::kTaskCancelled);
    EXPECT_EQ(Contents(*doc), original);
    // Nothing was selected, and nothing is: not the whole audio the effect took.
    EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->cursor()), std::tuple(0, 0, 777));
    // The entry stays, and restores the same state.
    EXPECT_EQ(doc->history().UndoName(), "Reverse");
    progress.CancelAtPump(0);
  }
  auto doc = Make(original);
  progress.CancelAtPump(progress.pumps() + 1);
  EXPECT_EQ(ConvertSampleRateCommand(ctx, *doc, 8000), platform::kTaskCancelled);
  progress.CancelAtPump(0);
  EXPECT_EQ(doc->sampleRate(), 44100u);
  EXPECT_EQ(Contents(*doc), original);

  // A busy document is refused before anything happens.
  {
    platform::BusyGuard busy(doc->busyFlag());
    EXPECT_EQ(AmplifyCommand(ctx, *doc, 200), platform::kTaskFailed);
    EXPECT_EQ(ctx.message, "The document is busy with another operation.");
  }
  // Out of range rates, odd channel counts and bad envelopes push nothing.
  EXPECT_EQ(ConvertSampleRateCommand(ctx, *doc, 5999), platform::kTaskFailed);
  EXPECT_EQ(ctx.message, "Sample rates must be between 6000 and 96000 samples per second.");
  EXPECT_EQ(ConvertChannelsCommand(ctx, *doc, 3), platform::kTaskFailed);
  EXPECT_EQ(EnvelopeCommand(ctx, *doc, {{0, 128}}), platform::kTaskFailed);
  // Converting to the format it has is nothing to undo.
  EXPECT_EQ(ConvertChannelsCommand(ctx, *doc, 2), platform::kTaskDone);
  EXPECT_EQ(ConvertSampleRateCommand(ctx, *doc, 44100), platform::kTaskDone);
  EXPECT_EQ(doc->history().UndoName(), "Convert Sample Rate");  // the cancelled one's
  EXPECT_EQ(Contents(*doc), original);
}

TEST_F(CommandsTest, StereoPanOnMonoAsksForAConversionAndChangesNothing) {
  auto doc = Make(Ramp(1, 1000));
  prompter.QueueAnswer(platform::Answer::Ok);
  EXPECT_EQ(StereoPanCommand(ctx, *doc, 30), platform::kTaskFailed);
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].caption, "Convert to Stereo Required");
  EXPECT_TRUE(ctx.messageShown);
  EXPECT_FALSE(doc->history().CanUndo());
  EXPECT_EQ(Contents(*doc), Ramp(1, 1000));
}

TEST_F(CommandsTest, GrabbedNoiseProfileLastsForTheSessionAndIsCheckedBeforeUse) {
  auto mono = Make(Noise(1, 10 * 44100, 7, kFullScale / 100));
  const AudioBlock original = Contents(*mono);
  EXPECT_EQ(NoiseReductionCommand(ctx, *mono), platform::kTaskFailed) << "nothing grabbed yet";
  EXPECT_NE(ctx.message.find("Grab Noise Sample from Selected Area"), std::string::npos);
  EXPECT_FALSE(mono->history().CanUndo());

  // 9 seconds is refused under its own caption, the document untouched.
  prompter.QueueAnswer(platform::Answer::Ok);
  EXPECT_EQ(GrabNoiseCommand(ctx, *mono, 0, 9 * 44100), platform::kTaskFailed);
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].caption, "Manual Noise Reduction Error");
  EXPECT_EQ(ctx.session.Find<GrabbedNoise>(), nullptr);

  // A cancelled grab keeps what was there (nothing); a finished one is kept.
  progress.CancelAtPump(progress.pumps() + 1);
  EXPECT_EQ(GrabNoiseCommand(ctx, *mono, 0, 8 * 44100), platform::kTaskCancelled);
  progress.CancelAtPump(0);
  EXPECT_EQ(ctx.session.Find<GrabbedNoise>(), nullptr);
  ASSERT_EQ(GrabNoiseCommand(ctx, *mono, 0, FrameCount(8.9 * 44100)), platform::kTaskDone)
      << ctx.message;
  ASSERT_NE(ctx.session.Find<GrabbedNoise>(), nullptr);
  EXPECT_EQ(ctx.session.Find<GrabbedNoise>()->profile.channels, 1);
  EXPECT_EQ(Contents(*mono), original);
  EXPECT_FALSE(mono->history().CanUndo());

  // The profile serves any document of its format, and not a stereo one.
  auto other = Make(Noise(1, 20000, 8, kFullScale / 100));
  ASSERT_EQ(NoiseReductionCommand(ctx, *other), platform::kTaskDone) << ctx.message;
  EXPECT_EQ(other->history().UndoName(), "Noise Reduction");
  EXPECT_LT(RmsOf(Contents(*other), 0), RmsOf(Noise(1, 20000, 8, kFullScale / 100), 0) / 4);
  auto stereo = Make(Noise(2, 20000, 9, kFullScale / 100));
  EXPECT_EQ(NoiseReductionCommand(ctx, *stereo), platform::kTaskFailed);
  EXPECT_FALSE(stereo->history().CanUndo());
}

TEST_F(CommandsTest, AutomaticGainControlIsOneUndoableStepUnderItsTexts) {
  // A steady level has nothing to even out; a loud second in it does.
  AudioBlock b = Sine(2, 5 * 44100, 44100, 700, kFullScale / 10);
  for (FrameCount i = 2 * 44100; i < 3 * 44100; ++i) b(0, i) = b(1, i) = b(0, i) * 4;
  auto doc = Make(b);
  ASSERT_EQ(AutoGainControlCommand(ctx, *doc), platform::kTaskDone) << ctx.message;
  EXPECT_TRUE(Logged("caption Automatic Gain Control"));
  EXPECT_TRUE(Logged("text0 Performing Automatic Gain Control"));
  EXPECT_TRUE(Logged("text1 Please Wait..."));
  EXPECT_EQ(doc->history().UndoName(), "Automatic Gain Control");
  EXPECT_NE(Contents(*doc), b);
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(Contents(*doc), b);
}

TEST_F(CommandsTest, AutoTrimCutsQuietEndsAsOneUndoableStepAndCancelKeepsThem) {
  AudioBlock b(2, 3 * 44100);
  const AudioBlock tone = Sine(2, 44100, 44100, 440, kFullScale / 2);
  std::copy(tone.data(), tone.data() + tone.samples().size(),
            b.data() + 2 * 2 * 44100);  // ends loud
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel);
    auto doc = Make(b);
    doc->SetSelection(100, 200, 150);
    if (cancel) progress.CancelAtPump(progress.pumps() + 1);
    EXPECT_EQ(AutoTrimCommand(ctx, *doc, -20),
              cancel ? platform::kTaskCancelled : platform::kTaskDone);
    progress.CancelAtPump(0);
    EXPECT_TRUE(Logged("caption Auto Trim"));
    EXPECT_TRUE(Logged("text0 AutoTrim"));
    EXPECT_EQ(doc->cursor(), 0);
    if (cancel) {
      EXPECT_EQ(Contents(*doc), b);
      EXPECT_FALSE(doc->history().CanUndo());
      EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(100, 200));
      continue;
    }
    EXPECT_EQ(doc->history().UndoName(), "Auto Trim");
    EXPECT_GE(doc->length(), 44100);
    EXPECT_LE(doc->length(), 44100 + 2 * 256);
    ASSERT_TRUE(doc->Undo());
    EXPECT_EQ(Contents(*doc), b);
  }
}

}  // namespace
}  // namespace quillet::effects::testing
