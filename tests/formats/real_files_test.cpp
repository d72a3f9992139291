// Files as other programs write them, files named for another format, and paths that
// are no audio file at all: each opens with the right reader and its real content, or
// fails at once with a message that says why. The files are made here by sox, ffmpeg,
// flac, oggenc and lame, small, from one reference signal.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dispatch_fixture.h"
#include "fixtures/signals.h"
#include "formats/format_table.h"

namespace quillet::formats {
namespace {

using quillet::testing::MeasureTone;
using quillet::testing::ReadSource;

class RealFiles : public Dispatch {
 protected:
  // Two tones, 24-bit stereo at 8000 Hz: the reference every lossless variant must
  // read back as.
  std::filesystem::path Reference() {
    const auto ref = dir / "ref.wav";
    if (!std::filesystem::exists(ref)) {
      EXPECT_EQ(RunProgram({"sox", "-R", "-n", "-r", "8000", "-c", "2", "-b", "24", ref.string(), "synth",
                            "0.5", "sine", "440", "sine", "660", "gain", "-3"}),
                0);
    }
    return ref;
  }
  audio::AudioBlock Read(const std::filesystem::path& file, OpenOutcome* outcome = nullptr) {
    OpenOutcome o = OpenDispatch(file, nullptr, env);
    EXPECT_EQ(o.result, platform::kTaskDone) << o.message;
    if (outcome) *outcome = o;
    return o.source ? ReadSource(*o.source) : audio::AudioBlock(1, 0);
  }
};

// Every valid variant a user meets opens with the reader that really reads it and
// delivers the reference's samples (lossless ones exactly, up to their width).
TEST_F(RealFiles, ValidVariantsOpenWithTheirContent) {
  QUILLET_REQUIRE_PROGRAMS("sox", "ffmpeg", "flac");
  const auto ref = Reference();
  const audio::AudioBlock want = Read(ref);
  const std::string r = ref.string();
  auto at = [this](const char* name) { return (dir / name).string(); };
  struct Case {
    const char* name;
    std::vector<std::string> make;  // empty: a copy of the reference
    const char* reader;
    audio::Sample tolerance;  // -1: lossy (or mono only), only the reader is checked
  } cases[] = {
      {"s24.aiff", {"sox", r, "-b", "24", at("s24.aiff")}, "aiff", 0},
      {"s32.aiff", {"sox", r, "-b", "32", at("s32.aiff")}, "aiff", 1},
      {"float-aifc.aiff", {"sox", r, "-e", "floating-point", "-b", "32", "-t", "aifc", at("float-aifc.aiff")}, "aiff", 1},
      {"sowt.aif", {"ffmpeg", "-v", "error", "-i", r, "-c:a", "pcm_s16le", "-f", "aiff", at("sowt.aif")}, "aiff", 16},
      {"s24.au", {"sox", r, "-b", "24", at("s24.au")}, "au", 0},
      {"float.au", {"sox", r, "-e", "floating-point", "-b", "32", at("float.au")}, "au", 1},
      {"double.au", {"sox", r, "-e", "floating-point", "-b", "64", at("double.au")}, "au", 1},
      {"next.snd", {"sox", r, "-t", "au", at("next.snd")}, "au", 0},
      {"rf64.wav", {"ffmpeg", "-v", "error", "-i", r, "-c:a", "pcm_s24le", "-rf64", "always", at("rf64.wav")}, "wave", 0},
      {"wave.mp3", {}, "wave", 0},
      {"wave.aiff", {}, "wave", 0},
      {"wave.flac", {}, "wave", 0},
      {"flac.ogg", {"flac", "-s", "-f", r, "-o", at("flac.ogg")}, "flac", 0},
      {"g722.wav", {"ffmpeg", "-v", "error", "-i", r, "-ar", "16000", "-c:a", "g722", at("g722.wav")}, "ffmpeg", -1},
      {"opus.ogg", {"ffmpeg", "-v", "error", "-i", r, "-c:a", "libopus", at("opus.ogg")}, "ffmpeg", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.make.empty())
      std::filesystem::copy_file(ref, dir / c.name);
    else
      ASSERT_EQ(RunProgram(c.make), 0);
    OpenOutcome o;
    const audio::AudioBlock got = Read(dir / c.name, &o);
    EXPECT_EQ(o.reader, c.reader);
    ASSERT_TRUE(o.source);
    if (c.tolerance < 0) continue;
    EXPECT_EQ(o.source->channels(), 2);
    EXPECT_EQ(o.source->sampleRate(), 8000);
    ASSERT_EQ(got.frames(), want.frames());
    audio::Sample worst = 0;
    for (audio::FrameCount i = 0; i < got.frames(); ++i)
      for (int ch = 0; ch < 2; ++ch) worst = std::max(worst, std::abs(got(ch, i) - want(ch, i)));
    EXPECT_LE(worst, c.tolerance);
  }
  EXPECT_TRUE(prompter.shown().empty());  // a wrong extension is no reason to speak
}

// A pipe, a device or a folder would keep a reader (or a decoder program) waiting for
// ever: each is refused before anything opens it.
TEST_F(RealFiles, PipesDevicesAndFoldersAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe.flac").c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder.mp3");
  const struct {
    std::filesystem::path path;
    const char* why;
  } cases[] = {
      {dir / "pipe.wav", "not a regular file (a pipe, a socket or a device)"},
      {dir / "pipe.flac", "not a regular file (a pipe, a socket or a device)"},
      {"/dev/null", "not a regular file (a pipe, a socket or a device)"},
      {dir / "folder.mp3", "a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    const OpenOutcome o = OpenDispatch(c.path, nullptr, env);
    EXPECT_EQ(o.result, platform::kTaskFailed);
    EXPECT_EQ(o.message, "Cannot open \"" + c.path.string() + "\" because it is " + c.why + ", not an audio file.");
  }
}

// Sizes beyond 32 bits: RF64 describes them, RIFF and AIFF cannot, and say so.
TEST_F(RealFiles, FilesBeyondFourGibibytes) {
  constexpr std::uint64_t kSize = 0x140000000ull;  // 5 GiB, sparse
  auto sparse = [&](const char* name, const std::string& head) {
    WriteFileBytes(dir / name, head);
    std::filesystem::resize_file(dir / name, kSize);
  };
  const std::string fmt = "fmt " + std::string("\x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0", 20);
  sparse("big.wav", std::string("RIFF\xff\xff\xff\xffWAVE", 12) + fmt + std::string("data\xff\xff\xff\xff", 8));
  sparse("big.aiff", std::string("FORM\xff\xff\xff\xff" "AIFF", 12));
  std::string ds64 = std::string("ds64\x1c\0\0\0", 8) + std::string(28, '\0');
  const std::uint64_t data = kSize - 12 - ds64.size() - fmt.size() - 8;
  for (int i = 0; i < 8; ++i) ds64[16 + i] = static_cast<char>(data >> (8 * i));
  sparse("big-rf64.wav", std::string("RF64\xff\xff\xff\xffWAVE", 12) + ds64 + fmt + std::string("data\xff\xff\xff\xff", 8));

  for (const char* name : {"big.wav", "big.aiff"}) {
    const OpenOutcome o = OpenDispatch(dir / name, nullptr, env);
    EXPECT_EQ(o.result, platform::kTaskFailed) << name;
    EXPECT_EQ(o.message, "Cannot open the file \"" + (dir / name).string() + "\" because it is larger than the 4 GiB " +
                             (name == std::string("big.wav") ? "a WAVE" : "an AIFF") + " file can describe.");
  }
  const OpenOutcome rf = OpenDispatch(dir / "big-rf64.wav", nullptr, env);
  ASSERT_EQ(rf.result, platform::kTaskDone) << rf.message;
  EXPECT_EQ(rf.source->length(), static_cast<audio::FrameCount>(data / 2));
}

// File names that start with '-' reach no codec program as an option, reading or
// writing, and what a program prints never becomes the message.
TEST_F(RealFiles, CodecProgramsTakeNamesAsNamesAndKeepTheirChatter) {
  QUILLET_REQUIRE_PROGRAMS("sox", "flac", "oggenc", "oggdec", "lame");
  const auto ref = Reference();
  struct Cwd {
    std::filesystem::path old = std::filesystem::current_path();
    ~Cwd() { std::filesystem::current_path(old); }
  } restore;
  std::filesystem::current_path(dir.path());
  ASSERT_EQ(RunProgram({"flac", "-s", "-f", ref.string(), "-o", "./-d.flac"}), 0);
  ASSERT_EQ(RunProgram({"oggenc", "-Q", ref.string(), "-o", "./-o.ogg"}), 0);
  const core::AudioChain chain = Load("-d.flac");
  EXPECT_EQ(core::ChainLength(Load("-o.ogg")), 4000);
  for (const char* target : {"-new.mp3", "-new.flac", "-new.ogg"}) {
    std::string message;
    EXPECT_EQ(Save(chain, target, nullptr, &message), platform::kTaskDone) << target << ": " << message;
    EXPECT_GT(std::filesystem::file_size(dir / target), 100u) << target;
  }

  WriteFileBytes(dir / "bad.flac", "fLaC" + std::string(4000, '\x7f'));
  const std::string bad = "bad.flac", absent = "absent.ogg";
  EXPECT_EQ(OpenDispatch(bad, nullptr, env).message, "Cannot open the file \"bad.flac\" because it is corrupt.");
  EXPECT_EQ(OpenDispatch(absent, nullptr, env).message,
            "Cannot open the file \"absent.ogg\". Check it exists and you have read access.");
}

// Channels stay where they were: FLAC and Ogg keep all six in WAVE order (Vorbis
// orders them otherwise inside the file), MP3 gets a mixdown of all of them and says so.
TEST_F(RealFiles, SurroundChannelsKeepTheirPlaces) {
  QUILLET_REQUIRE_PROGRAMS("sox", "flac", "oggenc", "oggdec", "lame");
  constexpr double kTones[] = {300, 500, 700, 900, 1100, 1300};
  const auto six = dir / "six.wav";
  ASSERT_EQ(RunProgram({"sox", "-R", "-n", "-r", "16000", "-c", "6", "-b", "16", six.string(), "synth", "1",
                        "sine", "300", "sine", "500", "sine", "700", "sine", "900", "sine", "1100", "sine", "1300",
                        "gain", "-10"}),
            0);
  // Which reference tone is loudest in channel ch of b.
  auto loudest = [&](const audio::AudioBlock& b, int ch) {
    int best = 0;
    double level = 0;
    for (int k = 0; k < 6; ++k) {
      const double a = MeasureTone(b, ch, 16000, kTones[k], 2000, 14000).amplitude;
      if (a > level) level = a, best = k;
    }
    return best;
  };
  const core::AudioChain chain = Load(six);
  std::vector<std::string> notices;
  env.notices = &notices;
  for (const char* name : {"six.flac", "six.ogg"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Save(chain, dir / name), platform::kTaskDone);
    const audio::AudioBlock b = Read(dir / name);
    ASSERT_EQ(b.channels(), 6);
    for (int ch = 0; ch < 6; ++ch) EXPECT_EQ(loudest(b, ch), ch);
  }
  // oggenc reorders a WAVE file's channels itself; we must put them back.
  ASSERT_EQ(RunProgram({"oggenc", "-Q", six.string(), "-o", (dir / "theirs.ogg").string()}), 0);
  const audio::AudioBlock theirs = Read(dir / "theirs.ogg");
  ASSERT_EQ(theirs.channels(), 6);
  for (int ch = 0; ch < 6; ++ch) EXPECT_EQ(loudest(theirs, ch), ch);
  EXPECT_TRUE(notices.empty());

  ASSERT_EQ(Save(chain, dir / "six.mp3"), platform::kTaskDone);
  const audio::AudioBlock mp3 = Read(dir / "six.mp3");
  ASSERT_EQ(mp3.channels(), 2);
  // Left: front left and both left surrounds and the centre; right likewise; no LFE.
  const double lfe = MeasureTone(mp3, 0, 16000, 900, 2000, 14000).amplitude;
  for (int k : {0, 2, 4})
    EXPECT_GT(MeasureTone(mp3, 0, 16000, kTones[k], 2000, 14000).amplitude, 20 * lfe) << kTones[k];
  for (int k : {1, 2, 5})
    EXPECT_GT(MeasureTone(mp3, 1, 16000, kTones[k], 2000, 14000).amplitude, 20 * lfe) << kTones[k];
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], MixdownNote(RowFor(".mp3"), 6));
}

// A save replaces the file a link names (the link stays), never a file that may not be
// written, and manages names of up to 255 bytes, for our writers and encoders alike.
TEST_F(RealFiles, SavesFollowLinksSpareReadOnlyFilesAndTakeLongNames) {
  QUILLET_REQUIRE_PROGRAMS("flac");
  const core::AudioChain chain = Load(MakeWave("a.wav", 4000));
  std::filesystem::create_directories(dir / "music");
  for (const char* ext : {".wav", ".flac"}) {
    SCOPED_TRACE(ext);
    const auto real = dir / "music" / (std::string("song") + ext);
    const auto link = dir / (std::string("link") + ext);
    WriteFileBytes(real, "old");
    std::filesystem::create_symlink(real, link);
    ASSERT_EQ(Save(chain, link), platform::kTaskDone);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(core::ChainLength(Load(real)), 4000);

    const auto locked = dir / (std::string("locked") + ext);
    WriteFileBytes(locked, "keep");
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read);
    std::string message;
    EXPECT_EQ(Save(chain, locked, nullptr, &message), platform::kTaskFailed);
    EXPECT_NE(message.find("is read-only; it was not replaced."), std::string::npos) << message;
    EXPECT_EQ(ReadFileBytes(locked), "keep");

    const auto longest = dir / (std::string(255 - std::string(ext).size(), 'n') + ext);
    EXPECT_EQ(Save(chain, longest, nullptr, &message), platform::kTaskDone) << message;
    EXPECT_EQ(core::ChainLength(Load(longest)), 4000);
  }
  for (const auto& folder : {dir.path(), dir / "music"})
    for (const auto& e : std::filesystem::directory_iterator(folder))
      EXPECT_NE(e.path().filename().string().front(), '.') << "left behind: " << e.path();
}

// A lossless format keeps the depth the document came with.
TEST_F(RealFiles, FlacKeepsTwentyFourBits) {
  QUILLET_REQUIRE_PROGRAMS("sox", "flac");
  const auto ref = Reference();
  LoadFileTask load(ref, store, env);
  load.Run(owner);
  ASSERT_EQ(load.result, platform::kTaskDone);
  EXPECT_EQ(load.sourceBits(), 24);
  SaveChainTask save(load.chain(), dir / "deep.flac", env, load.sourceBits());
  save.Run(owner);
  ASSERT_EQ(save.result, platform::kTaskDone) << save.message();
  OpenOutcome o;
  const audio::AudioBlock got = Read(dir / "deep.flac", &o);
  EXPECT_EQ(SourcePcmBits(*o.source), 24);
  const audio::AudioBlock want = Read(ref);
  ASSERT_EQ(got.frames(), want.frames());
  for (audio::FrameCount i = 0; i < got.frames(); ++i) ASSERT_EQ(got(1, i), want(1, i)) << i;
}

// A mono document encodes as mono whatever stereo mode is stored; every mode keeps the
// length and the pitch of both kinds of document.
TEST_F(RealFiles, Mp3KeepsLengthAndPitchInEveryMode) {
  QUILLET_REQUIRE_PROGRAMS("sox", "lame");
  for (int channels : {1, 2}) {
    const auto wav = dir / ("tone" + std::to_string(channels) + ".wav");
    ASSERT_EQ(RunProgram({"sox", "-R", "-n", "-r", "44100", "-c", std::to_string(channels), "-b", "16",
                          wav.string(), "synth", "1", "sine", "1000"}),
              0);
    const core::AudioChain chain = Load(wav);
    for (int mode = 0; mode < 4; ++mode) {
      SCOPED_TRACE(std::to_string(channels) + " channels, mode " + std::to_string(mode));
      settings.SetInt(std::string(kMp3Section), "ChannelMode", mode);
      const auto mp3 = dir / ("tone" + std::to_string(channels) + std::to_string(mode) + ".mp3");
      ASSERT_EQ(Save(chain, mp3), platform::kTaskDone);
      const audio::AudioBlock b = Read(mp3);
      EXPECT_EQ(b.frames(), 44100);
      EXPECT_EQ(b.channels(), channels == 1 || mode == 3 ? 1 : 2);
      EXPECT_NEAR(MeasureTone(b, 0, 44100, 1000, 4410, 39690).frequency, 1000, 2);
    }
  }
}

}  // namespace
}  // namespace quillet::formats
