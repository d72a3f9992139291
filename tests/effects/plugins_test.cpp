// The LADSPA host on the fixture plug-ins built beside the tests: discovery, settings
// text, channel mapping, latency, misbehaving plug-ins, and the command's undo rule.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/clipboard.h"
#include "core/document.h"
#include "effects/plugins/ladspa_host.h"
#include "effects/plugins/lv2_host.h"
#include "effects/plugins/plugin_commands.h"
#include "effects/plugins/speech.h"
#include "effects/plugins/vst_host.h"
#include "fixtures/programs.h"
#include "effects_fixture.h"
#include "formats/document_io.h"
#include "platform/process.h"
#include "platform/scripted_progress.h"

namespace quillet::effects::testing {
namespace {

using namespace quillet::effects::plugins;

const std::vector<std::string> kFolders{QUILLET_TEST_PLUGINS "/ladspa"};

PluginInfo Fixture(const std::string& label) {
  PluginInfo info;
  std::string why;
  EXPECT_TRUE(FindLadspa(kFolders, label, info, &why)) << why;
  return info;
}

// Points the command and hosted filters at the helper built beside the tests.
const bool kHostSet = setenv("QUILLET_PLUGIN_HOST", QUILLET_PLUGIN_HOST_PATH, 1) == 0;

AudioBlock Through(const std::string& label, const AudioBlock& in, std::vector<float> values,
                   std::string* failure = nullptr, bool hosted = false) {
  EXPECT_TRUE(kHostSet);
  auto src = MakePluginEffectFilter(MemorySource(in, 44100), Fixture(label), std::move(values), hosted);
  AudioBlock out = ReadFrames(*src, in.frames(), 1000);  // blocks unlike the plug-in's
  if (failure) *failure = src->failed() ? src->failureMessage() : "";
  return out;
}

TEST(LadspaFolders, FromThePathOrTheStandardPlaces) {
  EXPECT_EQ(LadspaFolders("/a::/b/c:", "/home/x"), (std::vector<std::string>{"/a", "/b/c"}));
  EXPECT_EQ(LadspaFolders("", "/home/x"),
            (std::vector<std::string>{"/usr/lib/ladspa", "/usr/local/lib/ladspa", "/home/x/.ladspa"}));
  EXPECT_EQ(LadspaFolders(nullptr, nullptr).size(), 2u);
}

TEST(LadspaScan, ListsEveryFixtureWithPortsAndDefaults) {
  const std::vector<PluginInfo> all = ScanLadspa(kFolders);
  ASSERT_EQ(all.size(), 5u);
  const PluginInfo& gain = all[0];
  EXPECT_EQ(gain.label, "q_gain");
  EXPECT_EQ(gain.id, "9901");
  EXPECT_EQ(gain.name, "Fixture Gain");
  EXPECT_EQ(gain.audioIns, 1);
  EXPECT_EQ(gain.audioOuts, 1);
  ASSERT_EQ(gain.controls.size(), 1u);
  EXPECT_EQ(gain.controls[0].name, "Gain");
  EXPECT_EQ(gain.controls[0].index, 2);
  EXPECT_FLOAT_EQ(gain.controls[0].min, 0);
  EXPECT_FLOAT_EQ(gain.controls[0].max, 4);
  EXPECT_FLOAT_EQ(gain.controls[0].def, 1);
  // The latency port is an output: not a field.
  EXPECT_EQ(all[1].controls.size(), 1u);
  EXPECT_EQ(all[2].audioIns, 2);
  EXPECT_TRUE(ScanLadspa({"/nonexistent"}).empty());
  const std::string listing = DescribePlugin(gain);
  EXPECT_NE(listing.find("Gain 0..4 default 1"), std::string::npos) << listing;

  PluginInfo found;
  std::string why;
  EXPECT_TRUE(FindLadspa(kFolders, "9903", found, &why));
  EXPECT_EQ(found.label, "q_swap");
  EXPECT_FALSE(FindLadspa(kFolders, "nothing", found, &why));
  EXPECT_NE(why.find("\"nothing\""), std::string::npos);
}

TEST(PluginRequest, ParsesAndResolvesAgainstThePorts) {
  const PluginInfo gain = Fixture("q_gain");
  struct Case {
    const char* text;
    bool parses, resolves;
    float value;
  } cases[] = {
      {"q_gain", true, true, 1.0f},          {"q_gain,Gain=0.5", true, true, 0.5f},
      {"q_gain, gain = 2", true, true, 2.0f}, {"q_gain,2=3", true, true, 3.0f},
      {"q_gain,Gain=9", true, true, 4.0f},    {"q_gain,Gain=-1", true, true, 0.0f},
      {"q_gain,Gain=x", false, false, 0},     {"q_gain,Gain", false, false, 0},
      {"q_gain,Gain=nan", false, false, 0},   {"", false, false, 0},
      {"q_gain,Volume=1", true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PluginRequest request;
    std::string why;
    ASSERT_EQ(ParsePluginRequest(c.text, request, &why), c.parses) << why;
    if (!c.parses) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    std::vector<float> values;
    ASSERT_EQ(ResolveControls(gain, request, values, &why), c.resolves) << why;
    if (c.resolves) {
      EXPECT_FLOAT_EQ(values.at(0), c.value);
    }
  }
  PluginRequest back;
  std::string why;
  ASSERT_TRUE(ParsePluginRequest(FormatPluginRequest(gain, {0.25f}), back, &why));
  EXPECT_EQ(back.id, "q_gain");
  ASSERT_EQ(back.values.size(), 1u);
  EXPECT_FLOAT_EQ(back.values[0].second, 0.25f);
}

TEST(FloatToSamples, TruncatesSaturatesAndSilencesNonNumbers) {
  const float in[] = {0.5f, -0.5f, 1e30f, -1e30f, std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity(), 1.0f / kFloatScale * 2.9f};
  Sample out[7];
  EXPECT_FALSE(FloatToSamples(in, out, 1, 7));
  EXPECT_EQ(out[0], 262136);
  EXPECT_EQ(out[1], -262136);
  EXPECT_EQ(out[2], INT32_MAX);
  EXPECT_EQ(out[3], INT32_MIN);
  EXPECT_EQ(out[4], 0);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[6], 2);
  EXPECT_TRUE(FloatToSamples(in, out, 1, 2));
}

TEST(LadspaFilter, MonoPluginRunsOncePerChannelHereAndInTheHost) {
  const AudioBlock in = Noise(2, 30000, 7, 400000);
  for (bool hosted : {false, true}) {
    SCOPED_TRACE(hosted);
    std::string failure;
    const AudioBlock out = Through("q_gain", in, {0.5f}, &failure, hosted);
    EXPECT_EQ(failure, "");
    ASSERT_EQ(out.frames(), in.frames());
    for (FrameCount i = 0; i < in.frames(); ++i)
      for (int c = 0; c < 2; ++c) ASSERT_NEAR(out(c, i), in(c, i) / 2, 1) << i << "/" << c;
  }
}

TEST(LadspaFilter, ACrashInTheHostFailsThePassOnly) {
  std::string failure;
  Through("q_crash", Noise(1, 20000, 5, 1000), {1.0f}, &failure, true);
  EXPECT_NE(failure.find("Fixture Crash crashed"), std::string::npos) << failure;
  // A host that cannot be found is a message too, never a run in this process.
  setenv("QUILLET_PLUGIN_HOST", "/nonexistent/quillet-plugin-host", 1);
  Through("q_gain", Noise(1, 100, 5, 1000), {1.0f}, &failure, true);
  setenv("QUILLET_PLUGIN_HOST", QUILLET_PLUGIN_HOST_PATH, 1);
  EXPECT_NE(failure.find("could not be started"), std::string::npos) << failure;
}

TEST(LadspaFilter, MultichannelPluginGetsEveryChannel) {
  const AudioBlock in = Noise(2, 20000, 3, 300000);
  const AudioBlock out = Through("q_swap", in, {});
  for (FrameCount i = 0; i < in.frames(); i += 97) {
    ASSERT_NEAR(out(0, i), in(1, i), 1);
    ASSERT_NEAR(out(1, i), in(0, i), 1);
  }
  EXPECT_NE(CheckChannels(Fixture("q_swap"), 1), "");
  EXPECT_EQ(CheckChannels(Fixture("q_swap"), 2), "");
  EXPECT_EQ(CheckChannels(Fixture("q_gain"), 6), "");
}

TEST(LadspaFilter, ReportedLatencyIsCompensated) {
  const AudioBlock in = Noise(1, 20000, 11, 300000);
  const AudioBlock out = Through("q_latent", in, {1.0f}, nullptr, true);
  // Lined up with the input, to the last frame (the tail is flushed with silence).
  for (FrameCount i = 0; i < in.frames(); ++i) ASSERT_NEAR(out(0, i), in(0, i), 1) << i;
}

TEST(LadspaFilter, NotANumberFailsThePass) {
  for (bool hosted : {false, true}) {
    std::string failure;
    Through("q_nan", Noise(1, 20000, 5, 1000), {1.0f}, &failure, hosted);
    EXPECT_NE(failure.find("Fixture NaN produced invalid samples"), std::string::npos) << failure;
  }
}

class PluginCommandTest : public ::testing::Test {
 protected:
  TempDir dir;
  core::SegmentStore store{dir.path() / "store"};
  settings::Settings settings{settings::FolderLocations(dir.path() / "settings")};
  platform::ScriptedProgressFactory progress;
  core::ProgramClipboard clipboard{&store};
  formats::FormatsFileIo files{settings};
  core::EditContext ctx{store,   clipboard, progress, settings, nullptr, &files, nullptr,
                        nullptr, audio::StandardFormatAdaptors(), {}, false};

  void SetUp() override {
    std::filesystem::create_directories(dir.path() / "store");
    settings.SetBool("Settings", "AutoPlaybackAfterEffects", false);
    setenv("LADSPA_PATH", kFolders[0].c_str(), 1);
  }
  std::unique_ptr<core::WaveDocument> Make(const AudioBlock& block) {
    AudioChain chain(&store);
    auto sink = core::ChainOpenSink(chain, 44100, block.channels());
    sink->write(block.data(), block.frames());
    EXPECT_TRUE(sink->Finish());
    sink.reset();
    return std::make_unique<core::WaveDocument>(std::move(chain));
  }
  static AudioBlock Contents(const core::WaveDocument& doc) {
    auto src = core::ChainOpenSource(doc.chain());
    return ReadFrames(*src, doc.length());
  }
};

TEST_F(PluginCommandTest, AppliesToAllAndUndoes) {
  const AudioBlock in = Sine(2, 20000, 44100, 440, 200000);
  auto doc = Make(in);
  ASSERT_EQ(PluginEffectCommand(ctx, *doc, "ladspa", "q_gain,Gain=0.5"), platform::kTaskDone) << ctx.message;
  EXPECT_EQ(doc->history().UndoName(), "LADSPA/LV2 Effects");
  EXPECT_NEAR(PeakOf(Contents(*doc), 1), 100000, 2);
  // The value is kept for the plug-in and used when none is given.
  ASSERT_EQ(PluginEffectCommand(ctx, *doc, "ladspa", "9901"), platform::kTaskDone) << ctx.message;
  EXPECT_NEAR(PeakOf(Contents(*doc), 0), 50000, 2);
  doc->Undo();
  doc->Undo();
  EXPECT_EQ(PeakOf(Contents(*doc), 0), PeakOf(in, 0));
}

TEST_F(PluginCommandTest, Lv2BundleIsDescribedAndRunsFromItsUri) {
  setenv("LV2_PATH", QUILLET_TEST_PLUGINS "/lv2", 1);
  PluginInfo info;
  std::string why;
  ASSERT_TRUE(FindLv2("urn:quillet-test:gain", info, &why)) << why;
  EXPECT_EQ(info.name, "Fixture LV2 Gain");
  EXPECT_EQ(info.audioIns + info.audioOuts, 2);
  ASSERT_EQ(info.controls.size(), 3u);
  EXPECT_EQ(info.controls[0].symbol, "gain");
  EXPECT_FLOAT_EQ(info.controls[0].max, 4);
  EXPECT_TRUE(info.controls[1].integer);
  EXPECT_EQ(info.controls[1].choices, (std::vector<std::pair<float, std::string>>{{0, "Plain"}, {1, "Inverted"}}));
  EXPECT_TRUE(info.controls[2].toggled);

  // A mono plug-in on stereo, through the menu's field, which tells an LV2 URI apart.
  const AudioBlock in = Sine(2, 20000, 44100, 440, 200000);
  auto doc = Make(in);
  ASSERT_EQ(PluginEffectCommand(ctx, *doc, "ladspa", "urn:quillet-test:gain,gain=0.5,mode=1"), platform::kTaskDone)
      << ctx.message;
  EXPECT_EQ(doc->history().UndoName(), "LADSPA/LV2 Effects");
  AudioBlock out = Contents(*doc);
  for (FrameCount i = 0; i < in.frames(); i += 17) ASSERT_NEAR(out(1, i), -in(1, i) / 2, 1) << i;
  // The stored gain and mode stay; the toggle silences.
  ASSERT_EQ(PluginEffectCommand(ctx, *doc, "lv2", "urn:quillet-test:gain,mute=1"), platform::kTaskDone);
  EXPECT_EQ(PeakOf(Contents(*doc), 0), 0);
  EXPECT_NE(settings.Find(kPluginValuesSection, "lv2:urn:quillet-test:gain")->find("gain=0.5,mode=1,mute=1"),
            std::string::npos);
  EXPECT_EQ(PluginEffectCommand(ctx, *doc, "lv2", "urn:quillet-test:none"), platform::kTaskFailed);
  EXPECT_EQ(ctx.message.rfind(kLv2Failure, 0), 0u) << ctx.message;
}

TEST_F(PluginCommandTest, InstalledPluginsJoinTheTableAndRunFromTheirEntries) {
  core::CommandRegistry r;
  RegisterPluginCommands(r);
  const std::size_t fixed = r.all().size();
  RegisterInstalledPlugins(r, ScanLadspa(kFolders));
  ASSERT_EQ(r.all().size(), fixed + 5) << (r.refusals().empty() ? "" : r.refusals()[0]);
  // In name order under their family's submenu.
  std::size_t at = fixed;
  for (std::size_t i = fixed; i < r.all().size(); ++i) {
    if (i > fixed) {
      EXPECT_LT(r.all()[i - 1].menuText, r.all()[i].menuText);
    }
    if (r.all()[i].menuText == "Fixture Gain...") at = i;
  }
  const core::Command& gain = r.all()[at];
  ASSERT_EQ(gain.menuText, "Fixture Gain...");
  EXPECT_EQ(gain.place.submenu, "LADSPA Plug-ins");
  EXPECT_GE(gain.id, core::kCmdFirstDynamic);
  // The entry's dialog opens on its plug-in, whose stored values the run takes.
  StoreValues(Fixture("q_gain"), {0.5f}, settings);
  core::ParamSet values(*gain.params);
  gain.prepare(values, nullptr);
  EXPECT_EQ(values.Text(0), "9901");
  auto doc = Make(Sine(1, 20000, 44100, 440, 200000));
  core::CommandCall call{ctx, doc.get(), &values, nullptr, &gain};
  ASSERT_EQ(gain.run(call), platform::kTaskDone) << ctx.message;
  EXPECT_NEAR(PeakOf(Contents(*doc), 0), 100000, 2);
  EXPECT_EQ(doc->history().UndoName(), "LADSPA/LV2 Effects");
}

TEST_F(PluginCommandTest, FailuresLeaveNoUndoEntryAndTheAudio) {
  const AudioBlock in = Sine(1, 20000, 44100, 440, 200000);
  auto doc = Make(in);
  const char* failing[] = {"q_nan", "q_crash", "q_swap", "missing", "q_gain,Volume=2"};
  for (const char* text : failing) {
    SCOPED_TRACE(text);
    ctx.message.clear();
    EXPECT_EQ(PluginEffectCommand(ctx, *doc, "ladspa", text), platform::kTaskFailed);
    EXPECT_EQ(ctx.message.rfind(kLadspaFailure, 0), 0u) << ctx.message;
    EXPECT_FALSE(doc->history().CanUndo());
    EXPECT_EQ(PeakOf(Contents(*doc), 0), PeakOf(in, 0));
  }
}

const std::string kVst = QUILLET_TEST_PLUGINS "/vst";

TEST(Vst, LoadsTheGainAndRefusesBrokenPluginsHereAndInTheHost) {
  EXPECT_EQ(VstLibraries(kVst), (std::vector<std::string>{kVst + "/vst_badmagic.so", kVst + "/vst_crashload.so",
                                                          kVst + "/vst_gain.so", kVst + "/vst_noreplace.so"}));
  EXPECT_TRUE(VstLibraries("").empty());
  EXPECT_TRUE(VstLibraries(QUILLET_TEST_PLUGINS "/none").empty());
  for (const bool hosted : {false, true}) {
    SCOPED_TRACE(hosted ? "hosted" : "here");
    const auto load = hosted ? &LoadVstInfoHosted : &LoadVstInfo;
    PluginInfo info;
    std::string why;
    ASSERT_TRUE(load(kVst + "/vst_gain.so", info, &why)) << why;
    EXPECT_EQ(info.name, "Fixture VST Gain");
    EXPECT_EQ(info.audioIns, 2);
    ASSERT_EQ(info.controls.size(), 1u);
    EXPECT_EQ(info.controls[0].name, "Gain");
    EXPECT_FLOAT_EQ(info.controls[0].def, 0.5f);
    const std::pair<std::string, const char*> kBroken[] = {
        {kVst + "/vst_badmagic.so", "wrong magic"},
        {kVst + "/vst_noreplace.so", "in place"},
        {kFolders[0] + "/quillet_fixtures.so", "no entry point"},
        // Only the host may try this one (a sanitizer turns the crash into an exit).
        {hosted ? kVst + "/vst_crashload.so" : "", "while it was read"},
    };
    for (const auto& [file, reason] : kBroken) {
      if (file.empty()) continue;
      EXPECT_FALSE(load(file, info, &why)) << file;
      EXPECT_NE(why.find(reason), std::string::npos) << why;
    }
  }
}

TEST(Vst, OwnEditorWindowGivesBackTheValuesOrSaysWhyNot) {
  const std::string gain = kVst + "/vst_gain.so";
  const auto run = [](std::vector<std::string> argv, std::vector<std::string> environment) {
    platform::RunRequest req;
    req.process.argv = std::move(argv);
    req.process.environment = std::move(environment);
    req.timeoutMs = 30000;
    return platform::RunProcess(req);
  };
  std::vector<float> values{0.5f};
  std::string why;
  // Without a display the dialog keeps to its parameter list.
  platform::RunResult r = run(VstEditorCommand(gain, 0, values), {"DISPLAY=:9999"});
  ASSERT_TRUE(r.ok()) << r.errorOutput;
  EXPECT_FALSE(ReadVstEditorAnswer(r.output, values, &why));
  EXPECT_NE(why.find("no X display"), std::string::npos) << why;
  EXPECT_EQ(values, std::vector<float>{0.5f});
  EXPECT_FALSE(ReadVstEditorAnswer("", values, &why));

  QUILLET_REQUIRE_PROGRAMS("xvfb-run");
  // The window closes when the dialog's end of stdin does; the fixture turns its knob.
  std::vector<std::string> argv = VstEditorCommand(gain, 0, values);
  argv.insert(argv.begin(), {"xvfb-run", "-a"});
  r = run(argv, {});
  ASSERT_TRUE(ReadVstEditorAnswer(r.output, values, &why)) << why << r.errorOutput;
  EXPECT_EQ(values, std::vector<float>{0.75f});
}

TEST_F(PluginCommandTest, VstGainHalvesAndBrokenOnesFail) {
  settings.SetString("Settings", "VSTFolder", kVst);
  const AudioBlock in = Sine(2, 30000, 44100, 440, 200000);
  auto doc = Make(in);
  ASSERT_EQ(PluginEffectCommand(ctx, *doc, "vst", "vst_gain.so"), platform::kTaskDone) << ctx.message;
  EXPECT_EQ(doc->history().UndoName(), "VST Effects");
  const AudioBlock out = Contents(*doc);
  for (FrameCount i = 0; i < in.frames(); i += 13) ASSERT_NEAR(out(1, i), in(1, i) / 2, 1) << i;
  ASSERT_EQ(PluginEffectCommand(ctx, *doc, "vst", kVst + "/vst_gain.so,0=0.25"), platform::kTaskDone);
  EXPECT_NEAR(PeakOf(Contents(*doc), 0), 25000, 2);
  doc->Undo();
  doc->Undo();
  for (const char* bad : {"vst_noreplace.so", "vst_badmagic.so", "vst_crashload.so", "missing.so"}) {
    ctx.message.clear();
    EXPECT_EQ(PluginEffectCommand(ctx, *doc, "vst", bad), platform::kTaskFailed);
    EXPECT_EQ(ctx.message.rfind(kVstFailure, 0), 0u) << ctx.message;
  }
  EXPECT_FALSE(doc->history().CanUndo());
  EXPECT_EQ(PeakOf(Contents(*doc), 0), PeakOf(in, 0));
  // A stereo plug-in is refused on mono audio before anything runs.
  auto mono = Make(Sine(1, 1000, 44100, 440, 1000));
  EXPECT_EQ(PluginEffectCommand(ctx, *mono, "vst", "vst_gain.so"), platform::kTaskFailed);
  EXPECT_NE(ctx.message.find("cannot process audio with 1 channel"), std::string::npos) << ctx.message;
}

TEST(Speech, VoicesAreParsedAndFound) {
  const std::vector<Voice> voices = ParseVoices(
      "Pty Language       Age/Gender VoiceName          File                 Other Languages\n"
      " 5  af              --/M      Afrikaans          gmw/af\n"
      " 2  en-us           --/M      English_(America)  gmw/en-US            (en 3)\n"
      "garbage\n");
  ASSERT_EQ(voices.size(), 2u);
  EXPECT_EQ(voices[1].language, "en-us");
  EXPECT_EQ(voices[1].name, "English_(America)");
  EXPECT_EQ(FindVoice(voices, "1"), 1);
  EXPECT_EQ(FindVoice(voices, "2"), -1);
  EXPECT_EQ(FindVoice(voices, "af"), 0);
  EXPECT_EQ(FindVoice(voices, "English_(America)"), 1);
  EXPECT_EQ(FindVoice(voices, "xx"), -1);
  EXPECT_EQ(FindVoice(voices, ""), -1);
}

TEST_F(PluginCommandTest, SpeechGoesInAtTheCursorAndUndoes) {
  QUILLET_REQUIRE_PROGRAMS("espeak-ng");
  const AudioBlock in = Dc(2, 44100, 0);
  auto doc = Make(in);
  doc->SetSelection(22050, 22050, 22050);
  ASSERT_EQ(TextToSpeechCommand(ctx, *doc, "en-us", "-hello world, this is a test"), platform::kTaskDone)
      << ctx.message;
  EXPECT_EQ(doc->history().UndoName(), "Text To Speech");
  // About two seconds of speech, at the document's rate and channels, after the cursor.
  const FrameCount added = doc->length() - in.frames();
  EXPECT_GT(added, 44100);
  EXPECT_LT(added, 44100 * 5);
  const AudioBlock out = Contents(*doc);
  EXPECT_EQ(PeakOf(out, 0, 0, 22050), 0);
  EXPECT_GT(RmsOf(out, 0, 22050, 22050 + added), 5000.0);
  EXPECT_GT(RmsOf(out, 1, 22050, 22050 + added), 5000.0);
  EXPECT_FALSE(std::filesystem::exists(store.workingFolder() / "Synthesized.wav"));
  const auto& log = progress.log();
  for (const char* line : {"caption Synthesize Voice", "text0 Synthesizing Voice", "text1 Please wait",
                           "caption Loading Audio File Source", "caption Text To Speech"})
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  doc->Undo();
  EXPECT_EQ(doc->length(), in.frames());
}

TEST_F(PluginCommandTest, SpeechReplacesTheSelectionOrFailsCleanly) {
  QUILLET_REQUIRE_PROGRAMS("espeak-ng");
  auto doc = Make(Dc(1, 88200, 1000));
  doc->SetSelection(0, 88200, 0);
  ASSERT_EQ(TextToSpeechCommand(ctx, *doc, "0", "one"), platform::kTaskDone) << ctx.message;
  // Over a selection the speech goes in through the Paste task.
  EXPECT_NE(std::find(progress.log().begin(), progress.log().end(), "caption Paste"), progress.log().end());
  EXPECT_LT(doc->length(), 88200);  // "one" is shorter than the two seconds it replaced
  const FrameCount length = doc->length();
  struct Case {
    const char* voice;
    const char* text;
    const char* message;
  } cases[] = {{"0", "  ", "There is no text to speak."},
               {"no-such-voice", "hello", "There is no voice \"no-such-voice\""}};
  for (const Case& c : cases) {
    ctx.message.clear();
    EXPECT_EQ(TextToSpeechCommand(ctx, *doc, c.voice, c.text), platform::kTaskFailed);
    EXPECT_EQ(ctx.message.rfind(c.message, 0), 0u) << ctx.message;
  }
  const std::string path = getenv("PATH");
  setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(TextToSpeechCommand(ctx, *doc, "0", "hello"), platform::kTaskFailed);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(ctx.message, kNoSpeechEngine);
  EXPECT_EQ(doc->length(), length);
}

}  // namespace
}  // namespace quillet::effects::testing
