#include "formats/external.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/save_options.h"
#include "platform/scripted_progress.h"

namespace quillet::formats {
namespace {

using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;
using Args = std::vector<std::string>;

core::ParamSet Mp3() { return core::ParamSet(*kMp3Options.table); }
core::ParamSet Cbr(int kbps) {
  core::ParamSet m = Mp3();
  m.SetInt(kMp3CbrRate, kbps);
  return m;
}

TEST(Mp3Command, DefaultsGiveJointStereoCbr128HighQualityAt44k) {
  const EncodePlan p = Mp3EncodePlan(Mp3(), "/usr/bin/lame", 44100, 2, "out.mp3");
  EXPECT_EQ(p.argv, (Args{"/usr/bin/lame", "-m", "j", "-b", "128", "-h", "-r", "-s", "44.100", "-S",
                          "-", "out.mp3"}));
  EXPECT_EQ(p.rate, 44100u);
  EXPECT_EQ(p.channels, 2);
}

TEST(Mp3Command, LowRatesGoMonoAndNarrowband) {
  const EncodePlan p = Mp3EncodePlan(Cbr(16), "lame", 44100, 2, "o.mp3");
  EXPECT_EQ(p.argv, (Args{"lame", "-m", "m", "-b", "16", "-h", "-r", "-s", "22.050", "-S", "-", "o.mp3"}));
  EXPECT_EQ(p.channels, 1);
  EXPECT_EQ(p.rate, 22050u);
}

TEST(Mp3Command, VbrPiecesAndTheRateRules) {
  core::ParamSet m = Mp3();
  m.SetInt(kMp3Cbr, 0);
  m.SetInt(kMp3VbrMin, 32);
  m.SetInt(kMp3VbrMax, 192);
  m.SetInt(kMp3VbrQuality, 2);
  m.SetInt(kMp3Crc, 1);
  const EncodePlan p = Mp3EncodePlan(m, "lame", 22050, 1, "o.mp3");
  EXPECT_EQ(p.argv, (Args{"lame", "-m", "m", "-p", "-v", "-b", "32", "-B", "192", "-V", "2", "-r",
                          "-s", "44.100", "-S", "-", "o.mp3"}));
  EXPECT_EQ(p.rate, 44100u);  // a high top rate lifts a narrow document

  // Mono mode on a stereo document asks lame to downmix.
  core::ParamSet mono = Mp3();
  mono.SetInt(kMp3ChannelMode, 3);
  EXPECT_EQ(Mp3EncodePlan(mono, "lame", 44100, 2, "o").argv[1], "-a");
  mono.SetInt(kMp3ChannelMode, 7);  // out of range counts as joint
  EXPECT_EQ(Mp3EncodePlan(mono, "lame", 44100, 2, "o").argv[2], "j");

  const std::pair<std::uint32_t, std::uint32_t> rates[] = {
      {96000, 48000}, {48000, 48000}, {46000, 44100}, {40000, 44100}, {30000, 32000},
      {24000, 24000}, {23000, 22050}, {18000, 22050}, {16000, 16000}, {12000, 11025},
      {9000, 11025},  {8000, 8000},   {6000, 8000}};
  for (auto [in, want] : rates) EXPECT_EQ(Mp3EncodingRate(Cbr(128), in), want) << in;

  // lame reads raw input as the mode says: mono samples must be announced as mono,
  // whatever mode is stored.
  for (int mode = 0; mode < 4; ++mode) {
    mono.SetInt(kMp3ChannelMode, mode);
    const Args a = Mp3EncodePlan(mono, "lame", 44100, 1, "o").argv;
    EXPECT_EQ(Args(a.begin() + 1, a.begin() + 3), (Args{"-m", "m"})) << mode;
  }
  EXPECT_EQ(Mp3EncodingRate(Cbr(24), 48000), 22050u);  // a low bottom rate caps at 22050
}

TEST(OggCommand, BitRateModeIsCappedByRateAndChannels) {
  core::ParamSet o(*kOggOptions.table);
  o.SetInt(kOggByQuality, 0);
  o.SetInt(kOggChannels, 1);
  EXPECT_EQ(OggEncodePlan(o, "oggenc", 8000, 1, "o.ogg").argv,
            (Args{"oggenc", "-C", "1", "-R", "8000", "-m", "36", "-M", "36", "-Q", "-", "-o", "o.ogg"}));
  o.SetInt(kOggStripComments, 1);
  EXPECT_EQ(OggEncodePlan(o, "oggenc", 44100, 2, "o.ogg").argv,
            (Args{"oggenc", "-C", "2", "-R", "44100", "--downmix", "-m", "96", "-M", "128",
                  "--discard-comments", "-Q", "-", "-o", "o.ogg"}));
  core::ParamSet q(*kOggOptions.table);
  q.SetInt(kOggChannels, 2);
  q.SetInt(kOggQuality, 7);
  EXPECT_EQ(OggEncodePlan(q, "oggenc", 48000, 2, "o.ogg").argv,
            (Args{"oggenc", "-C", "2", "-R", "48000", "-q", "7", "-Q", "-", "-o", "o.ogg"}));
}

TEST(FlacCommand, KeepsTheDocumentsChannelsAndDepth) {
  core::ParamSet f(*kFlacOptions.table);
  f.SetInt(kFlacChannels, 2);
  f.SetInt(kFlacRate, 48000);
  f.SetInt(kFlacCompression, 8);
  const EncodePlan p = FlacEncodePlan(f, "flac", 2, 16, "-o.flac");
  EXPECT_EQ(p.argv, (Args{"flac", "--channels=2", "--sample-rate=48000", "--compression-level-8",
                          "--endian=little", "--bps=16", "--sign=signed", "-s", "-f", "-o", "./-o.flac", "-"}));
  EXPECT_EQ(p.rate, 48000u);
  // "Stereo" keeps a surround document's channels (FLAC holds eight); "Mono" folds.
  struct Case {
    int chosen, document, sourceBits, channels, bits;
  } cases[] = {{2, 6, 24, 6, 24}, {2, 12, 16, 8, 16}, {2, 1, 32, 2, 24}, {1, 6, 8, 1, 16}};
  for (const Case& c : cases) {
    f.SetInt(kFlacChannels, c.chosen);
    const EncodePlan q = FlacEncodePlan(f, "flac", c.document, c.sourceBits, "o.flac");
    EXPECT_EQ(q.channels, c.channels) << c.document;
    EXPECT_EQ(q.bits, c.bits) << c.sourceBits;
    EXPECT_NE(std::find(q.argv.begin(), q.argv.end(), "--bps=" + std::to_string(c.bits)), q.argv.end());
  }
}

TEST(AacCommand, FfmpegStandsInWithTheSameChoices) {
  core::ParamSet a(*kAacOptions.table);
  a.SetInt(kAacAbr, 1);
  a.SetInt(kAacAbrRate, 256);
  a.SetInt(kAacMpeg2, 1);
  a.SetInt(kAacNoTns, 1);
  EXPECT_EQ(AacEncodePlan(a, "ffmpeg", 8000, 1, "o.aac").argv,
            (Args{"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "s16le", "-ac",
                  "1", "-ar", "8000", "-i", "-", "-c:a", "aac", "-b:a", "36k", "-write_mpeg2", "1",
                  "-aac_tns", "0", "-f", "adts", "file:o.aac"}));
  // MPEG-2 signalling exists only in ADTS; VBR quality maps 100 % to 1.00.
  const Args m4a = AacEncodePlan(core::ParamSet(*kAacOptions.table), "ffmpeg", 44100, 2, "o.M4A").argv;
  EXPECT_EQ(Args(m4a.end() - 5, m4a.end()), (Args{"-q:a", "1.00", "-f", "ipod", "file:o.M4A"}));
}

TEST(DecoderCommands, OutputThenInputForEachProgram) {
  EXPECT_EQ(DecoderArgs(Component::AacDec, "faad", "in.m4a", "t.wav"),
            (Args{"faad", "-q", "-o", "t.wav", "in.m4a"}));
  EXPECT_EQ(DecoderArgs(Component::OggDec, "oggdec", "in.ogg", "t.wav"),
            (Args{"oggdec", "-Q", "-o", "t.wav", "in.ogg"}));
  EXPECT_EQ(DecoderArgs(Component::FlacDec, "flac", "in.flac", "t.wav"),
            (Args{"flac", "-s", "-d", "--no-ogg", "-o", "t.wav", "in.flac"}));
  EXPECT_EQ(AmrEncoderArgs("amrenc", 7, "t.wav", "o.amr"), (Args{"amrenc", "MR122", "t.wav", "o.amr"}));
  EXPECT_EQ(AmrEncoderArgs("amrenc", 99, "t.wav", "o.amr")[1], "MR74");
}

// No file name reaches a program as an option, nor ffmpeg as a protocol.
TEST(DecoderCommands, FileNamesNeverReadAsOptions) {
  for (Component c : {Component::AacDec, Component::OggDec, Component::FlacDec}) {
    const Args a = DecoderArgs(c, "prog", "-d.x", "-o.wav");
    EXPECT_EQ(a.back(), "./-d.x");
    EXPECT_NE(std::find(a.begin(), a.end(), "./-o.wav"), a.end());
  }
  EXPECT_EQ(OggDecoderRawArgs("oggdec", "-q.ogg", "/t/o.raw").back(), "./-q.ogg");
  EXPECT_EQ(Mp3EncodePlan(Mp3(), "lame", 44100, 2, "-x.mp3").argv.back(), "./-x.mp3");
  const Args f = FfmpegDecoderArgs("ffmpeg", "-evil name;rm -rf", "t.raw", true);
  EXPECT_EQ(*(std::find(f.begin(), f.end(), "-i") + 1), "file:-evil name;rm -rf");
  EXPECT_EQ(FfmpegDecoderArgs("ffmpeg", "pipe:0.wav", "t.wav").back(), "file:t.wav");
  EXPECT_EQ(PathArg("/abs/-x"), "/abs/-x");
}

// Two stores in one process: each caller's own paths, never the other's.
TEST(Components, TheCallersStoreWinsOverThePath) {
  TempDir dir;
  settings::Settings mine(settings::FolderLocations(dir / "mine"));
  settings::Settings theirs(settings::FolderLocations(dir / "theirs"));
  const auto fake = dir / "my-lame";
  WriteFileBytes(fake, "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  mine.SetString("Components/mp3el", "Path", fake.string());
  EXPECT_EQ(ComponentPath(Component::Mp3Enc, mine), fake);
  EXPECT_NE(ComponentPath(Component::Mp3Enc, theirs), fake);
  // A stored path that is not a program is passed over.
  mine.SetString("Components/mp3el", "Path", (dir / "nothing").string());
  EXPECT_NE(ComponentPath(Component::Mp3Enc, mine), dir / "nothing");

  std::string why;
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", dir.path().c_str(), 1);
  EXPECT_EQ(EnsureComponent(Component::OggDec, mine, {}, &why), platform::kTaskFailed);
  setenv("PATH", saved.c_str(), 1);
  // Names the package to install on this system.
  EXPECT_NE(why.find("install-on-demand component \"oggdec\""), std::string::npos) << why;
  EXPECT_NE(why.find("Install the Debian package vorbis-tools"), std::string::npos) << why;
}

class Task final : public platform::LProgressDialog {
 public:
  explicit Task(std::function<platform::TaskResult(Task&)> body)
      : LProgressDialog("t"), body_(std::move(body)) {}
  bool Execute() override {
    result = body_(*this);
    return true;
  }

 private:
  std::function<platform::TaskResult(Task&)> body_;
};

TEST(RunDecoder, ExitStatusAndOutputDecideTheResult) {
  TempDir dir;
  platform::ScriptedProgressFactory owner;
  const auto out = dir / "t.wav";
  std::string why;
  auto run = [&](Args argv) {
    Task t([&](Task& self) { return RunDecoderProgram(self, argv, out, 10000, &why); });
    t.Run(owner);
    return t.result;
  };
  // Writes its output and succeeds.
  EXPECT_EQ(run({"/bin/sh", "-c", "echo data > \"$0\"", out.string()}), platform::kTaskDone);
  // Writes it but fails: never a success.
  EXPECT_EQ(run({"/bin/sh", "-c", "echo data > \"$0\"; echo broken input >&2; exit 3", out.string()}),
            platform::kTaskFailed);
  EXPECT_EQ(why, "");  // its words are chatter, not a reason for the user
  std::filesystem::remove(out);
  // Succeeds without writing anything.
  EXPECT_EQ(run({"/bin/true"}), platform::kTaskFailed);
  EXPECT_EQ(run({(dir / "no-such-program").string()}), platform::kTaskFailed);
}

TEST(RunDecoder, CancelStopsTheWholeGroupAndTimeOutFails) {
  TempDir dir;
  const auto pidFile = dir / "pid";
  // Closed by the person once the decoder has started a child of its own.
  struct Closer final : platform::ProgressWindowFactory {
    struct Window final : platform::ProgressWindow {
      explicit Window(std::filesystem::path f) : file(std::move(f)) {}
      void SetCaption(std::string_view) override {}
      void SetText(int, std::string_view) override {}
      void SetProgress(int) override {}
      bool PumpEvents(int) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return !ReadFileBytes(file).empty();
      }
      void ShowMessage(std::string_view, std::string_view, platform::MessageIcon) override {}
      std::filesystem::path file;
    };
    explicit Closer(std::filesystem::path f) : file(std::move(f)) {}
    std::unique_ptr<platform::ProgressWindow> Create() override { return std::make_unique<Window>(file); }
    void SetOwnerEnabled(bool) override {}
    void ShowOwnerMessage(std::string_view, std::string_view, platform::MessageIcon) override {}
    std::filesystem::path file;
  } owner(pidFile);
  // The grandchild must go too.
  const Args argv = {"/bin/sh", "-c", "sleep 60 & echo $! > \"$0\"; wait", pidFile.string()};
  const auto start = std::chrono::steady_clock::now();
  Task t([&](Task& self) { return RunDecoderProgram(self, argv, dir / "o.wav", 60000, nullptr); });
  t.Run(owner);
  EXPECT_EQ(t.result, platform::kTaskCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const std::string pid = ReadFileBytes(pidFile);
  ASSERT_FALSE(pid.empty());
  // Gone, or a zombie waiting for a reaper: either way no longer running.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string stat = ReadFileBytes("/proc/" + std::to_string(std::stoi(pid)) + "/stat");
  const std::size_t paren = stat.rfind(')');
  if (!stat.empty() && paren != std::string::npos) {
    EXPECT_EQ(stat.at(paren + 2), 'Z') << "the decoder's child survived";
  }

  platform::ScriptedProgressFactory patient;
  std::string why;
  Task slow([&](Task& self) {
    return RunDecoderProgram(self, {"/bin/sleep", "30"}, dir / "o.wav", 300, &why);
  });
  slow.Run(patient);
  EXPECT_EQ(slow.result, platform::kTaskFailed);
  EXPECT_NE(why.find("did not finish in time"), std::string::npos);
}

EncodePlan Plan(Args argv, std::uint32_t rate = 8000, int channels = 2) {
  return EncodePlan{std::move(argv), rate, channels};
}

TEST(PipeSink, FeedsLittleEndianPcmAndReplacesTheTargetOnlyOnSuccess) {
  TempDir dir;
  const auto target = dir / "song.mp3";
  WriteFileBytes(target, "old");
  audio::SinkHandle sink = MakeEncoderSink(target, [](const std::string& out) {
    return Plan({"/bin/dd", "of=" + out, "status=none"});
  });
  ASSERT_FALSE(sink->failed()) << sink->failureMessage();
  const audio::Sample frames[] = {16, -16, 524272, -524288, 600000, 8};
  sink->write(frames, 3);
  EXPECT_EQ(ReadFileBytes(target), "old");
  ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
  const std::string want("\x01\x00\xff\xff\xff\x7f\x00\x80\xff\x7f\x01\x00", 12);  // saturated
  EXPECT_EQ(ReadFileBytes(target), want);
  sink = {};
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(PipeSink, DeadFailingOrAbandonedEncodersLeaveTheOldFile) {
  TempDir dir;
  const auto target = dir / "song.ogg";
  WriteFileBytes(target, "old");
  const int fds = quillet::testing::OpenDescriptorCount();
  struct Case {
    const char* what;
    Args argv;
    bool abandon;
  } cases[] = {
      {"exits at once", {"/bin/true"}, false},
      {"writes then fails", {"/bin/sh", "-c", "cat > \"$0\"; exit 1"}, false},
      {"cannot start", {(dir / "missing").string()}, false},
      {"abandoned", {"/bin/sh", "-c", "cat > \"$0\""}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    audio::SinkHandle sink = MakeEncoderSink(target, [&](const std::string& out) {
      Args a = c.argv;
      if (a.size() > 1) a.push_back(out);
      return Plan(a);
    });
    std::vector<audio::Sample> block(2 * 8192, 1600);
    for (int i = 0; i < 40; ++i) sink->write(block.data(), 8192);  // more than a pipe holds
    if (c.abandon) {
      sink->Abandon();
    } else {
      EXPECT_FALSE(sink->Finish());
      EXPECT_FALSE(sink->failureMessage().empty());
    }
    sink = {};
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }
  EXPECT_EQ(quillet::testing::OpenDescriptorCount(), fds);
}

}  // namespace
}  // namespace quillet::formats
