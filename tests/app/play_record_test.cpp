// quillet-cli play and record through real ALSA, with the default device routed to
// files by a private configuration.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "app/cli/cli.h"
#include "app/registry.h"
#include "devices/peak_limit.h"
#include "effects/echo.h"
#include "devices/device_test_support.h"
#include "formats/document_io.h"
#include "formats/wav_writer.h"

namespace quillet::app {
namespace {

using namespace devices::testsupport;

struct CliRun {
  int status;
  std::string out, err;
};

std::string ReadAllOf(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[1024];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

struct DeviceCli : ::testing::Test {
  testing::TempDir dir;
  PrivateAlsa alsa;
  settings::Settings store{settings::FolderLocations(dir / "settings")};

  CliRun Run(std::vector<std::string> words) {
    std::vector<std::string> args{"--settings", (dir.path() / "settings").string()};
    args.insert(args.end(), words.begin(), words.end());
    std::FILE* o = std::tmpfile();
    std::FILE* e = std::tmpfile();
    static const core::CommandRegistry registry = BuildCommandRegistry();
    const int status = RunCli(args, Commands(), registry, o, e);
    return {status, ReadAllOf(o), ReadAllOf(e)};
  }
  // A 16-bit WAVE file of block at rate.
  std::string Wave(const std::string& name, const audio::AudioBlock& block, int rate) {
    const std::string path = (dir.path() / name).string();
    audio::SinkHandle sink = formats::MakeWavePcmSink(path, static_cast<std::uint32_t>(rate), 0, 16, block.channels());
    EXPECT_TRUE(sink && !sink->failed());
    sink->write(block.data(), block.frames());
    EXPECT_TRUE(sink->Finish());
    return path;
  }
};

// Noise on the 16-bit grid, so the file holds it exactly.
audio::AudioBlock GridNoise(int channels, audio::FrameCount frames, std::uint32_t seed) {
  audio::AudioBlock b = Noise(channels, frames, seed);
  for (std::size_t i = 0; i < b.samples().size(); ++i) b.data()[i] &= ~0xF;
  return b;
}

TEST_F(DeviceCli, PlaySendsTheFileOrItsRangeToTheDevice) {
  const audio::AudioBlock block = GridNoise(2, 30000, 3);
  const std::string file = Wave("in.wav", block, 22050);
  CliRun r = Run({"play", file});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(alsa.PlayedSamples(), Pcm16(block));

  r = Run({"play", file, "--from", "1000", "--to", "1500"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::int16_t> all = Pcm16(block), played = alsa.PlayedSamples();
  EXPECT_EQ(played, std::vector<std::int16_t>(all.begin() + 2000, all.begin() + 3000));

  r = Run({"play", file, "--speed", "fast"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NEAR(static_cast<double>(alsa.PlayedSamples().size()), 60000 / 1.5, 400);
}

// The preview of an effect's dialog, from the command line: the range through the
// filter its values build, clamped as the preview clamps.
TEST_F(DeviceCli, PlayThroughAnEffectsPreview) {
  const audio::AudioBlock block = GridNoise(2, 20000, 5);
  const std::string file = Wave("in.wav", block, 8000);
  const auto through = [&](effects::EchoParams p, audio::FramePos from, audio::FramePos to) {
    audio::AudioBlock part(2, to - from);
    std::copy(block.data() + from * 2, block.data() + to * 2, part.data());
    // Louder than 16-bit full scale: the player's limiter takes it.
    devices::LPeakLimitSource heard(effects::MakeEcho(Memory(8000, part), p), devices::kPlaybackLimit);
    return Pcm16(ReadAll(heard));
  };
  CliRun r = Run({"play", file, "--from", "3000", "--to", "15000", "--effect", "echo:100,60"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(alsa.PlayedSamples(), through({100, 60}, 3000, 15000));
  // 3000 ms is refused by the dialog's OK but heard; the gain is clamped to 99.
  r = Run({"play", file, "--effect", "echo:3000,150"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(alsa.PlayedSamples(), through({3000, 99}, 0, 20000));
  // What the preview refuses, and commands without one.
  r = Run({"play", file, "--effect", "speed:301"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quillet-cli: speed: Speed Change Percent must be less than 300.\n");
  r = Run({"play", file, "--effect", "reverse"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "quillet-cli: reverse has no preview\n");
  EXPECT_EQ(Run({"play", file, "--effect", "echo:x"}).status, 2);
}

TEST_F(DeviceCli, PlayRefusesBadInputAndMissingDevices) {
  const std::string file = Wave("in.wav", GridNoise(1, 100, 4), 8000);
  EXPECT_EQ(Run({"play"}).status, 2);
  EXPECT_EQ(Run({"play", file, "--from", "x"}).status, 2);
  CliRun r = Run({"play", file, "--from", "50", "--to", "10"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("before"), std::string::npos);
  r = Run({"play", (dir.path() / "missing.wav").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(r.err.empty());

  // A stored device that is gone: the default plays, and the user is told.
  r = Run({"--set", "Settings/SoundOutDevice=usb_headset_gone", "play", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("\"usb_headset_gone\" was not found"), std::string::npos) << r.err;
  EXPECT_EQ(alsa.PlayedSamples().size(), 100u);

  // No usable device at all.
  const std::string conf = (dir.path() / "empty.conf").string();
  testing::WriteFileBytes(conf, "pcm.quillet_null { type null }\n");
  setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  r = Run({"play", file});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"default\""), std::string::npos) << r.err;
}

TEST_F(DeviceCli, RecordWritesAnyFormatWithTheRecorderSettings) {
  std::vector<std::int16_t> in;
  AppendSilence(in, 4000, 1);
  AppendTone(in, 12000, 1, 8000, 500, 12000);
  alsa.SetCapture(in);
  const std::string out = (dir.path() / "take.flac").string();
  // Auto trim off: exactly the time asked for, from the first buffer.
  CliRun r = Run({"--set", "Recorder/Autotrim=0", "record", out, "--seconds", "1.5", "--rate", "8000",
                  "--channels", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "frames=12000\n");
  audio::SourceHandle got = formats::OpenAudioFile(out, store);
  ASSERT_TRUE(got->ready());
  EXPECT_EQ(got->sampleRate(), 8000);
  EXPECT_EQ(got->channels(), 1);
  const audio::AudioBlock samples = ReadAll(*got);
  ASSERT_EQ(samples.frames(), 12000);
  for (audio::FrameCount f = 4100; f < 12000; f += 97) {
    const double want = 16.0 * std::lround(12000 * std::sin(2 * M_PI * 500 * (f - 4000) / 8000));
    ASSERT_NEAR(samples(0, f), want, 16 * 12000 * 0.05) << f;
  }

  // The default settings trim: the half second of silence before the tone goes.
  r = Run({"record", (dir.path() / "trimmed.wav").string(), "--seconds", "1.5", "--rate", "8000",
           "--channels", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const audio::FrameCount kept = formats::OpenAudioFile(dir.path() / "trimmed.wav", store)->length();
  EXPECT_GE(kept, 8000 - 800);
  EXPECT_LE(kept, 8400);
}

TEST_F(DeviceCli, RecordOfSilenceEndsOnTimeAndRefusesBadArguments) {
  alsa.SetCapture({});
  const std::string out = (dir.path() / "quiet.wav").string();
  CliRun r = Run({"record", out, "--seconds", "0.5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "frames=0\n");  // all trimmed, but the file is there
  EXPECT_EQ(formats::OpenAudioFile(out, store)->channels(), 2);
  EXPECT_EQ(Run({"record", out}).status, 2);
  EXPECT_EQ(Run({"record", out, "--seconds", "0"}).status, 2);
  EXPECT_EQ(Run({"record", out, "--seconds", "1", "--rate", "10"}).status, 2);
  EXPECT_EQ(Run({"record", out, "--seconds", "1", "--channels", "9"}).status, 2);
  r = Run({"--set", "Recorder/Threshold=-3", "record", out, "--seconds", "1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("threshold"), std::string::npos);
}

// The device writes into a pipe the test holds back, so playback is still running
// when Ctrl+C arrives.
TEST_F(DeviceCli, CtrlCStopsPlaybackCleanly) {
  const std::string fifo = (dir.path() / "device.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const std::string conf = (dir.path() / "fifo.conf").string();
  testing::WriteFileBytes(conf, "pcm.!default { type file slave.pcm \"quillet_null\" file \"" + fifo +
                                    "\" format \"raw\" }\npcm.quillet_null { type null }\n");
  setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  const std::string file = Wave("long.wav", GridNoise(2, 441000, 9), 44100);

  std::atomic<bool> done{false};
  std::atomic<std::int64_t> drained{0};
  std::thread device([&] {
    char buf[65536];
    // Waits for the first bytes, then stops reading until Ctrl+C has been sent.
    while (!done && drained == 0) {
      const ssize_t n = read(reader, buf, sizeof buf);
      if (n > 0) drained += n;
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!done) kill(getpid(), SIGINT);
    while (!done) {
      const ssize_t n = read(reader, buf, sizeof buf);
      if (n > 0) drained += n;
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const CliRun r = Run({"play", file});
  done = true;
  device.join();
  close(reader);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_LT(drained.load(), 441000 * 4);
}

}  // namespace
}  // namespace quillet::app
