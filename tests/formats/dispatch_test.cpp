#include "formats/dispatch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/chain_source.h"
#include "core/segment_store.h"
#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/document_io.h"
#include "formats/external.h"
#include "formats/simple_formats.h"
#include "formats/wav_chooser.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"

namespace quillet::formats {
namespace {

using quillet::testing::ReadFileBytes;
using quillet::testing::RunProgram;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

// A two-tone test signal, 16-bit values.
std::int16_t Tone(std::int64_t i, int ch, int rate) {
  const double t = static_cast<double>(i) / rate;
  return static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * (ch ? 660 : 440) * t) +
                                   3000 * std::sin(2 * M_PI * 1250 * t));
}

std::vector<std::int16_t> Interleaved(audio::FrameCount frames, int channels, int rate) {
  std::vector<std::int16_t> v;
  for (audio::FrameCount i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) v.push_back(Tone(i, c, rate));
  return v;
}

// The 16-bit samples an outside decoder reads from file (ffmpeg, any format).
std::vector<std::int16_t> ReferenceDecode(const std::filesystem::path& file, const TempDir& dir) {
  const auto raw = dir / "reference.raw";
  EXPECT_EQ(RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", file.string(), "-f", "s16le",
                        "-c:a", "pcm_s16le", raw.string()}),
            0);
  const std::string b = ReadFileBytes(raw);
  std::vector<std::int16_t> v(b.size() / 2);
  std::memcpy(v.data(), b.data(), v.size() * 2);
  return v;
}

// Signal to error ratio in dB after the best alignment within maxLag frames.
double AlignedSnr(const std::vector<std::int16_t>& want, const std::vector<std::int16_t>& got,
                  int channels, int maxLag) {
  const std::int64_t start = 4096, n = 8192;  // away from the edges
  double best = -100;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sig = 0, err = 0;
    bool inside = true;
    for (std::int64_t i = start; i < start + n && inside; ++i) {
      for (int c = 0; c < channels; ++c) {
        const std::int64_t a = i * channels + c, b = (i + lag) * channels + c;
        if (b < 0 || b >= static_cast<std::int64_t>(got.size()) || a >= static_cast<std::int64_t>(want.size())) {
          inside = false;
          break;
        }
        const double d = static_cast<double>(want[static_cast<std::size_t>(a)]) - got[static_cast<std::size_t>(b)];
        sig += static_cast<double>(want[static_cast<std::size_t>(a)]) * want[static_cast<std::size_t>(a)];
        err += d * d;
      }
    }
    if (inside && sig > 0) best = std::max(best, 10 * std::log10(sig / std::max(err, 1.0)));
  }
  return best;
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::Settings::SetProcess(settings::FolderLocations(dir / "settings"));
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("TMPDIR", tmp.c_str(), 1);
    std::filesystem::create_directories(tmp);
    // Our AMR helper is built beside quillet-cli.
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    SetExtraComponentFolder(self.parent_path().parent_path().parent_path() / "app");
    env.prompter = &prompter;
    env.owner = &owner;
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    unsetenv("TMPDIR");
    settings::Settings::SetProcess(settings::FolderLocations(dir / "gone"));
  }

  std::filesystem::path MakeWave(const std::string& name, audio::FrameCount frames, int rate = 44100,
                                 int channels = 2) {
    const auto path = dir / name;
    LWavePCMSoundSink sink(path, static_cast<std::uint32_t>(rate), 0, 16, channels);
    const std::vector<std::int16_t> v = Interleaved(frames, channels, rate);
    std::vector<audio::Sample> s(v.begin(), v.end());
    for (audio::Sample& x : s) x *= 16;
    sink.write(s.data(), frames);
    EXPECT_TRUE(sink.Finish());
    return path;
  }

  core::AudioChain Load(const std::filesystem::path& file, bool* ask = nullptr) {
    LoadFileTask load(file, store, ask, env);
    load.Run(owner);
    EXPECT_EQ(load.result, platform::kTaskDone) << load.message();
    return std::move(load.chain());
  }

  std::int32_t Save(const core::AudioChain& chain, const std::filesystem::path& file, bool* ask = nullptr,
                    std::string* message = nullptr) {
    SaveChainTask save(chain, file, 0, ask, env);
    save.Run(owner);
    if (message) *message = save.message();
    return save.result;
  }

  std::size_t TempEntries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(tmp), {}));
  }

  TempDir dir;
  std::filesystem::path tmp = dir / "tmp";
  core::SegmentStore store{dir.path()};
  platform::ScriptedProgressFactory owner;
  platform::ScriptedPrompter prompter;
  DispatchEnv env;
};

TEST_F(Dispatch, ExtensionsChooseTheReaderWithoutRegardToCase) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  const auto wave = MakeWave("x.wav", 100);
  const std::string bytes = ReadFileBytes(wave);
  WriteFileBytes(dir / "SONG.WAV", bytes);
  WriteFileBytes(dir / "archive.tar.wav", bytes);
  WriteFileBytes(dir / "noise.snd", std::string(4000, '\x10'));
  WriteFileBytes(dir / "noext", bytes);
  struct Case {
    const char* name;
    const char* reader;
  } cases[] = {{"SONG.WAV", "wave"}, {"archive.tar.wav", "wave"}, {"noise.snd", "raw"},
               {"noext", "ffmpeg"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenOutcome o = OpenDispatch(dir / c.name, nullptr, env);
    EXPECT_EQ(o.reader, c.reader);
    ASSERT_EQ(o.result, platform::kTaskDone) << o.message;
  }
  // ".snd" is raw audio with the stored record, not AU: 16-bit mono by default.
  const OpenOutcome snd = OpenDispatch(dir / "noise.snd", nullptr, env);
  EXPECT_EQ(snd.source->channels(), 1);
  EXPECT_EQ(snd.source->length(), 2000);
}

TEST_F(Dispatch, OneSharedAskFlagShowsOneMessageAndBothFail) {
  bool ask = true;
  WriteFileBytes(dir / "bad.wav", "RIFF....junk");
  const OpenOutcome a = OpenDispatch(dir / "bad.wav", &ask, env);
  const OpenOutcome b = OpenDispatch(dir / "absent.mp3", &ask, env);
  EXPECT_EQ(a.result, platform::kTaskFailed);
  EXPECT_EQ(b.result, platform::kTaskFailed);
  EXPECT_FALSE(ask);
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].text, "Cannot open the file \"" + (dir / "bad.wav").string() +
                                          "\" because it is corrupt.");
  EXPECT_EQ(prompter.shown()[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(b.message, "Cannot open the file \"" + (dir / "absent.mp3").string() +
                           "\". Check it exists and you have read access.");
}

TEST_F(Dispatch, UnreadableFilesThroughFfmpegGetTheFormatsMessage) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  WriteFileBytes(dir / "odd.xyz", std::string(3000, 'q'));
  WriteFileBytes(dir / "song.wma", std::string(3000, 'q'));
  const OpenOutcome odd = OpenDispatch(dir / "odd.xyz", nullptr, env);
  EXPECT_EQ(odd.result, platform::kTaskFailed);
  EXPECT_EQ(odd.message.rfind("Cannot open the file \"" + (dir / "odd.xyz").string() +
                                  "\". This means that either the file format is not supported",
                              0),
            0u)
      << odd.message;
  EXPECT_EQ(OpenDispatch(dir / "song.wma", nullptr, env).message.find("Digital Rights Management"),
            std::string("Cannot open file \"" + (dir / "song.wma").string() + "\". It is possible that the file "
                        "does not exist, it is corrupt or the file is protected with ")
                .size());
  EXPECT_EQ(TempEntries(), 0u);  // the private decoding folders are gone
}

TEST_F(Dispatch, CancelledDecoderLeavesNothingBehind) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  const auto wave = MakeWave("long.wav", 44100 * 30);
  const auto flac = dir / "long.flac";
  ASSERT_EQ(RunProgram({"ffmpeg", "-v", "error", "-i", wave.string(), flac.string()}), 0);
  owner.CancelAtPump(1);
  LoadFileTask load(flac, store, nullptr, env);
  load.Run(owner);
  EXPECT_EQ(load.result, platform::kTaskCancelled);
  EXPECT_TRUE(load.chain().empty());
  EXPECT_EQ(TempEntries(), 0u);
}

TEST_F(Dispatch, MissingProgramIsNamedNotInstalled) {
  const auto wave = MakeWave("a.wav", 1000);
  const core::AudioChain chain = Load(wave);
  const std::string path = std::getenv("PATH");
  setenv("PATH", (dir / "empty").c_str(), 1);
  std::string message;
  const std::int32_t saved = Save(chain, dir / "a.ogg", nullptr, &message);
  WriteFileBytes(dir / "b.ogg", "OggS");
  const OpenOutcome opened = OpenDispatch(dir / "b.ogg", nullptr, env);
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(saved, platform::kTaskFailed);
  EXPECT_EQ(message.rfind("Unable to create file \"" + (dir / "a.ogg").string() + "\"for saving.", 0), 0u);
  EXPECT_NE(message.find("\"oggenc\" is not installed (Debian package \"vorbis-tools\")"), std::string::npos)
      << message;
  EXPECT_FALSE(std::filesystem::exists(dir / "a.ogg"));
  EXPECT_NE(opened.message.find("install-on-demand component \"oggdec\""), std::string::npos);
  EXPECT_TRUE(prompter.shown().empty());  // nothing was offered or run
}

TEST_F(Dispatch, FailingEncoderIsAFailedSaveAndKeepsTheOldFile) {
  const core::AudioChain chain = Load(MakeWave("a.wav", 20000));
  const auto broken = dir / "broken-lame";
  WriteFileBytes(broken, "#!/bin/sh\ncat > /dev/null\necho 'lame: disk on fire' >&2\nexit 1\n");
  std::filesystem::permissions(broken, std::filesystem::perms::owner_all);
  settings::Settings::Process().SetString("Components/mp3el", "Path", broken.string());
  WriteFileBytes(dir / "keep.mp3", "the good old file");
  bool ask = true;
  std::string message;
  EXPECT_EQ(Save(chain, dir / "keep.mp3", &ask, &message), platform::kTaskFailed);
  EXPECT_EQ(ReadFileBytes(dir / "keep.mp3"), "the good old file");
  EXPECT_NE(message.find("disk on fire"), std::string::npos) << message;
  ASSERT_EQ(prompter.shown().size(), 1u);  // shown once, because the flag was set
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().filename().string().rfind(".keep", 0), 0u) << "left behind: " << e.path();
}

class ScriptedOptions final : public SaveOptionsUi, public FormatChooserUi {
 public:
  bool answer = true;
  std::vector<std::string> asked;
  FlacEncoderSettings flacSeen;
  bool EditMp3(Mp3EncoderSettings&) override { return Note("mp3"); }
  bool EditOgg(OggEncoderSettings&) override { return Note("ogg"); }
  bool EditFlac(FlacEncoderSettings& f) override {
    flacSeen = f;
    f.compression = 8;
    return Note("flac");
  }
  bool EditAac(AacEncoderSettings&) override { return Note("aac"); }
  bool EditAmr(AmrEncoderSettings& a) override {
    a.modeRateSelection = 7;
    return Note("amr");
  }
  bool EditRaw(RawSettings& r, std::string_view section) override {
    r.codec = kRawMuLaw;
    return Note(std::string(section));
  }
  FormatChooserUi& WaveChooser() override { return *this; }
  std::optional<WaveFormat> Choose(const FormatChooserModel& m) override {
    Note("wave");
    return answer ? std::optional<WaveFormat>(m.initial()) : std::nullopt;
  }
  void ShowStop(std::string_view, std::string_view) override {}

 private:
  bool Note(std::string what) {
    asked.push_back(std::move(what));
    return answer;
  }
};

TEST_F(Dispatch, SaveOptionsAskOnceStoreTheAnswerAndCancelWritesNothing) {
  ScriptedOptions ui;
  env.options = &ui;
  const core::AudioChain chain = Load(MakeWave("a.wav", 4000, 48000, 2));
  ui.answer = false;
  bool ask = true;
  EXPECT_EQ(Save(chain, dir / "c.flac", &ask), platform::kTaskCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir / "c.flac"));
  // The dialog starts from the document, not from mono at 44100.
  EXPECT_EQ(ui.flacSeen.channels, 2);
  EXPECT_EQ(ui.flacSeen.sampleRate, 48000u);

  ui.answer = true;
  ask = true;
  EXPECT_TRUE(SaveOptions(".raw", 48000, 2, env));
  EXPECT_EQ(LoadRawSettings(settings::Settings::Process(), kRawSection).codec, kRawMuLaw);
  EXPECT_EQ(LoadRawSettings(settings::Settings::Process(), kRawSection).sampleRate, 48000);
  EXPECT_TRUE(SaveOptions(".FLAC", 48000, 2, env));
  EXPECT_EQ(settings::Settings::Process().GetInt(kFlacSection, "Compression", 0), 8);
  EXPECT_FALSE(SaveOptions(".xyz", 48000, 2, env));
  EXPECT_EQ(ui.asked, (std::vector<std::string>{"flac", "RawAudio", "flac"}));
}

TEST_F(Dispatch, RawWithoutAStoredLayoutKeepsTheDocumentsChannels) {
  const core::AudioChain chain = Load(MakeWave("st.wav", 1000, 22050, 2));
  ASSERT_EQ(Save(chain, dir / "st.raw"), platform::kTaskDone);
  const std::vector<std::int16_t> want = Interleaved(1000, 2, 22050);
  EXPECT_EQ(ReadFileBytes(dir / "st.raw"),
            std::string(reinterpret_cast<const char*>(want.data()), want.size() * 2));
  // A stored choice is honoured: mono at the document's rate needs a converter we
  // may not have, but never writes stereo.
  StoreRawSettings(settings::Settings::Process(), kRawSection, RawSettings{22050, 1, kRawPcm16LE});
  const std::int32_t mono = Save(chain, dir / "mono.raw");
  if (mono == platform::kTaskDone) {
    EXPECT_EQ(ReadFileBytes(dir / "mono.raw").size(), 2000u);
  }
}

// Like QUILLET_REQUIRE_PROGRAMS, for programs found the way saving finds them.
bool RequireComponent(Component c) {
  if (!ComponentPath(c).empty()) return true;
  ADD_FAILURE() << InfoOf(c).program << " is missing: it comes with the Debian package "
                << InfoOf(c).package << " (scripts/deps installs what builds or brings it)";
  return false;
}

TEST_F(Dispatch, AmrIsReadWithoutTouchingTheStoredRawRecord) {
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  if (!RequireComponent(Component::AmrEnc)) return;
  const core::AudioChain chain = Load(MakeWave("n.wav", 8000, 8000, 1));
  ASSERT_EQ(Save(chain, dir / "n.amr"), platform::kTaskDone);
  EXPECT_EQ(ReadFileBytes(dir / "n.amr").substr(0, 6), "#!AMR\n");
  const OpenOutcome o = OpenDispatch(dir / "n.amr", nullptr, env);
  ASSERT_EQ(o.result, platform::kTaskDone) << o.message;
  EXPECT_EQ(o.source->sampleRate(), 8000);
  EXPECT_EQ(o.source->channels(), 1);
  EXPECT_NEAR(static_cast<double>(o.source->length()), 8000, 160);
  EXPECT_FALSE(settings::Settings::Process().Find(kRawSection, "Codec").has_value());
  EXPECT_EQ(TempEntries(), 0u);
}

struct Writable {
  const char* ext;
  const char* program;  // needed to write it
  double minSnrDb;      // 0: bit-exact
  int maxLag;           // frames of encoder delay to search
};

class RoundTrip : public Dispatch, public ::testing::WithParamInterface<Writable> {};

// Our output read by ffmpeg, and the file read back by us, for every writable format.
TEST_P(RoundTrip, OurFilesReadElsewhereAndBack) {
  const Writable w = GetParam();
  QUILLET_REQUIRE_PROGRAMS("ffmpeg");
  if (*w.program && !RequireComponent(w.program == std::string("amrenc")   ? Component::AmrEnc
                                      : w.program == std::string("lame")   ? Component::Mp3Enc
                                      : w.program == std::string("oggenc") ? Component::OggEnc
                                      : w.program == std::string("flac")   ? Component::FlacEnc
                                                                           : Component::Ffmpeg))
    return;
  const bool amr = std::string(w.ext) == ".amr";
  const int rate = amr ? 8000 : 44100, channels = amr ? 1 : 2;
  const audio::FrameCount frames = 3 * 8192 + 17;
  const core::AudioChain chain = Load(MakeWave("in.wav", frames, rate, channels));
  const auto out = dir / (std::string("out") + w.ext);
  std::string message;
  ASSERT_EQ(Save(chain, out, nullptr, &message), platform::kTaskDone) << message;

  const std::vector<std::int16_t> want = Interleaved(frames, channels, rate);
  const std::vector<std::int16_t> theirs = ReferenceDecode(out, dir);
  if (w.minSnrDb == 0) {
    EXPECT_EQ(theirs, want);
  } else {
    EXPECT_GT(AlignedSnr(want, theirs, channels, w.maxLag), w.minSnrDb);
  }

  const OpenOutcome back = OpenDispatch(out, nullptr, env);
  ASSERT_EQ(back.result, platform::kTaskDone) << back.message;
  EXPECT_EQ(back.source->sampleRate(), rate);
  EXPECT_EQ(back.source->channels(), channels);
  std::vector<audio::Sample> s(static_cast<std::size_t>(back.source->length() * channels));
  back.source->read(s.data(), back.source->length());
  std::vector<std::int16_t> ours(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) ours[i] = static_cast<std::int16_t>(s[i] >> 4);
  if (w.minSnrDb == 0) {
    EXPECT_EQ(ours, want);
  } else {
    EXPECT_GT(AlignedSnr(want, ours, channels, w.maxLag), w.minSnrDb);
    EXPECT_NEAR(static_cast<double>(back.source->length()), static_cast<double>(frames), 3000);
  }
  EXPECT_EQ(TempEntries(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(Writable{".wav", "", 0, 0}, Writable{".aiff", "", 0, 0},
                                           Writable{".au", "", 0, 0}, Writable{".flac", "flac", 0, 0},
                                           Writable{".mp3", "lame", 15, 2500},
                                           Writable{".ogg", "oggenc", 15, 2500},
                                           Writable{".m4a", "ffmpeg", 12, 2500},
                                           Writable{".aac", "ffmpeg", 12, 2500},
                                           Writable{".amr", "amrenc", 3, 400}),
                         [](const ::testing::TestParamInfo<Writable>& p) { return std::string(p.param.ext + 1); });

// Files other programs wrote, read by us.
TEST_F(Dispatch, TheirFilesReadByUs) {
  QUILLET_REQUIRE_PROGRAMS("sox", "flac", "oggenc");
  const auto wave = MakeWave("ref.wav", 30000, 22050, 2);
  ASSERT_EQ(RunProgram({"flac", "-s", "-f", "-o", (dir / "t.flac").string(), wave.string()}), 0);
  ASSERT_EQ(RunProgram({"sox", wave.string(), (dir / "t.aiff").string()}), 0);
  ASSERT_EQ(RunProgram({"oggenc", "-Q", "-q", "6", "-o", (dir / "t.ogg").string(), wave.string()}), 0);
  const std::vector<std::int16_t> want = Interleaved(30000, 2, 22050);
  for (const char* name : {"t.flac", "t.aiff", "t.ogg"}) {
    SCOPED_TRACE(name);
    const OpenOutcome o = OpenDispatch(dir / name, nullptr, env);
    ASSERT_EQ(o.result, platform::kTaskDone) << o.message;
    std::vector<audio::Sample> s(static_cast<std::size_t>(o.source->length() * 2));
    o.source->read(s.data(), o.source->length());
    std::vector<std::int16_t> got(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) got[i] = static_cast<std::int16_t>(s[i] >> 4);
    if (std::string(name) == "t.ogg")
      EXPECT_GT(AlignedSnr(want, got, 2, 100), 20);
    else
      EXPECT_EQ(got, want);
  }
}

TEST(SaveAsDialog, ReplacingAskedAndNoChoosesAgain) {
  TempDir dir;
  settings::Settings::SetProcess(settings::FolderLocations(dir / "s"));
  WriteFileBytes(dir / "taken.wav", "x");
  platform::ScriptedPrompter p;
  p.QueueFiles({{dir / "taken.wav"}, 0});
  p.QueueAnswer(platform::Answer::No);
  p.QueueFiles({{dir / "fresh"}, 1});
  const auto chosen = ChooseSaveAsTarget(p, dir / "doc.wav");
  ASSERT_TRUE(chosen);
  EXPECT_EQ(*chosen, dir / "fresh.mp3");  // the chosen type's extension
  EXPECT_EQ(p.shown()[0].file.title, "Save Audio File As");
  EXPECT_EQ(p.shown()[0].file.filters.size(), 16u);
  EXPECT_EQ(p.shown()[1].text, "Another file with the same name already exists. Do you want to replace it?");
  EXPECT_EQ(settings::Settings::Process().GetInt("Settings", "SaveAsFormat", 0), 2);
  EXPECT_EQ(settings::Settings::Process().GetString("Settings", "SaveAsDir", ""), dir.path().string());
  EXPECT_TRUE(p.problems().empty());
  settings::Settings::SetProcess(settings::FolderLocations(dir / "gone"));
}

}  // namespace
}  // namespace quillet::formats
