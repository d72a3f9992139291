// Burning to the simulated blank disc: the samples that land on it, the command
// sequence the drive receives, and the answer to each scripted fault.
#include <gtest/gtest.h>

#include <regex>

#include "audio/memory.h"
#include "cd/burn.h"
#include "cd/external_burn.h"
#include "fixtures/cd_image.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"
#include "platform/scripted_progress.h"

namespace quillet::cd {
namespace {

using audio::Sample;
using testing::TempDir;

// Internal samples whose 16-bit forms test the rounding and both saturations.
constexpr Sample kEdgeValues[] = {audio::kSampleMax, audio::kSampleMin, 0x7FFF0, -0x80000, -8, 7,
                                  8, -9, 0x12345, -0x12345};

audio::AudioBlock EdgeBlock(audio::FrameCount frames) {
  audio::AudioBlock b(2, frames);
  for (audio::FrameCount i = 0; i < frames * 2; ++i)
    b.data()[i] = kEdgeValues[i % std::size(kEdgeValues)] + static_cast<Sample>(i % 3) * 16;
  return b;
}

std::int16_t Expected16(Sample s) {
  return static_cast<std::int16_t>(std::clamp((std::int64_t{s} + 8) >> 4, std::int64_t{-32768},
                                              std::int64_t{32767}));
}

class BurnTest : public ::testing::Test {
 protected:
  std::filesystem::path Cue() const { return dir_ / "out.cue"; }
  void Faults(const std::string& text) { testing::WriteFileBytes(dir_ / "out.faults", text); }

  // Burns blocks (44100 Hz stereo) to kind:out.cue; the task's message.
  std::string Burn(std::vector<audio::AudioBlock> blocks, BurnSettings s = {},
                   const std::string& kind = "sim-blank:") {
    std::vector<audio::SourceHandle> sources;
    for (auto& b : blocks) sources.push_back(testing::MemorySource(std::move(b), 44100));
    BurnAudioTask task(kind + Cue().string(), std::move(sources), s);
    task.Run(progress_);
    result_ = task.result;
    return task.message();
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::string text = testing::ReadFileBytes(dir_ / "burn.log");
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
      lines.push_back(text.substr(at, nl - at));
    return lines;
  }

  TempDir dir_;
  platform::ScriptedProgressFactory progress_;
  std::int32_t result_ = platform::kTaskFailed;
};

TEST_F(BurnTest, DiscHoldsTheTracksConvertedAndPaddedWithTheCommandSequence) {
  Faults("log burn.log\n");
  const audio::AudioBlock a = EdgeBlock(100);                  // 1 sector of 300 reserved
  const audio::AudioBlock b = EdgeBlock(588 * 320 + 17);       // 321 sectors
  ASSERT_EQ(Burn({a, b}), "");
  ASSERT_EQ(result_, platform::kTaskDone);

  const std::vector<std::int16_t> bin = testing::ReadBinSamples(dir_ / "out.bin");
  ASSERT_EQ(bin.size(), static_cast<std::size_t>((300 + 321) * 1176));
  std::size_t at = 0;
  for (const auto* block : {&a, &b}) {
    const std::int64_t samples = block->frames() * 2;
    for (std::int64_t i = 0; i < samples; ++i, ++at)
      ASSERT_EQ(bin[at], Expected16(block->data()[i])) << at;
    const std::size_t end = at + (TrackSectors(block->frames()) * 1176 - samples);
    for (; at < end; ++at) ASSERT_EQ(bin[at], 0) << "padding at " << at;
  }
  const std::string cue = testing::ReadFileBytes(Cue());
  EXPECT_NE(cue.find("TRACK 02 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:04:00"),
            std::string::npos)
      << cue;

  std::string ops;
  for (const std::string& cdb : Log()) ops += cdb.substr(0, 2) + " ";
  ops = std::regex_replace(ops, std::regex("(AA 00 )+"), "W ");
  EXPECT_EQ(ops,
            "1B 00 5A 5A BB 51 51 52 52 5A 5A "  // load, ready, page 2A, speed, disc, free, page 5
            "55 52 52 53 W 35 "                  // track 1
            "55 52 52 53 W 35 "                  // track 2
            "5B 00 00 00 35 1B ");               // close, ready polls, flush, eject
  const std::vector<std::string> log = Log();
  EXPECT_EQ(log[4], "BB 00 FF FF 1A F7 00 00 00 00 00 00");  // 39x, the drive's highest
  EXPECT_EQ(log[14], "53 00 00 00 00 00 00 01 2C 00");  // 300 sectors for 100 frames
}

TEST_F(BurnTest, FaultsGiveTheirMessages) {
  BurnSettings keep;
  keep.eraseCdrw = false;
  const struct {
    const char* faults;
    const char* kind;
    BurnSettings settings;
    std::string message;
  } cases[] = {
      {"no-disc\n", "sim-blank:", {}, std::string(kNoDiskMessage)},
      {"written\n", "sim-blank:", {}, std::string(kWrittenCdrMessage)},
      {"written\n", "sim-blank-rw:", keep, std::string(kCdrwNotBlankMessage)},
      {"reader-only\n", "sim-blank:", {}, std::string(kCannotWriteMessage)},
      // 00:12:00 less the lead-in leaves 750 sectors; the tracks need 300 + 150 + 301.
      {"capacity 00:12:00\n", "sim-blank:", {}, CapacityMessage(750, 751)},
      {"medium-error 5\n", "sim-blank:", {}, "Writing sector 0 failed (sense 3/0C/00)."},
      {"stop-answering-after 20\n", "sim-blank:", {}, "(timed out)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    Faults(c.faults);
    const std::string message =
        Burn({EdgeBlock(100), EdgeBlock(588 * 301)}, c.settings, c.kind);
    EXPECT_EQ(result_, platform::kTaskFailed);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.bin"));
    EXPECT_FALSE(std::filesystem::exists(Cue()));
  }
  // Exactly full is accepted.
  Faults("capacity 00:12:00\n");
  EXPECT_EQ(Burn({EdgeBlock(100), EdgeBlock(588 * 300)}), "");
}

TEST_F(BurnTest, RecoverableFaultsStillBurnTheSameDisc) {
  const audio::AudioBlock a = EdgeBlock(588 * 400 + 3);
  Faults("busy-polls 0\n");
  ASSERT_EQ(Burn({a}), "");
  const std::string reference = testing::ReadFileBytes(dir_ / "out.bin");
  BurnSettings erase;
  const struct {
    const char* faults;
    const char* kind;
    const char* expectInLog;
  } cases[] = {
      {"unit-attention-after-load\nnot-ready-after-load 600\n", "sim-blank:", "00 00 00 00 00 00"},
      {"refuse-write12\n", "sim-blank:", "2A 00 00 00 00 00 00 00 1B 00"},
      {"write-busy 2\n", "sim-blank:", "AA 00 00 00 00 1B 00 00 00 1B 00 00"},
      {"sync-busy 2\n", "sim-blank:", "35 00 00 00 00 00 00 00 00 00"},
      {"written\n", "sim-blank-rw:", "A1 11 00 00 00 00 00 00 00 00 00 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults);
    std::filesystem::remove(dir_ / "out.bin");
    std::filesystem::remove(dir_ / "burn.log");
    Faults(std::string(c.faults) + "busy-polls 1\nlog burn.log\n");
    ASSERT_EQ(Burn({a}, erase, c.kind), "");
    EXPECT_EQ(testing::ReadFileBytes(dir_ / "out.bin"), reference);
    const std::vector<std::string> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), c.expectInLog), log.end());
  }
  // A WRITE(12) refused once: every write after it is a WRITE(10).
  Faults("refuse-write12\nlog burn.log\nbusy-polls 0\n");
  std::filesystem::remove(dir_ / "burn.log");
  ASSERT_EQ(Burn({a, a}), "");
  int write12 = 0, write10 = 0;
  for (const std::string& cdb : Log()) {
    write12 += cdb.starts_with("AA");
    write10 += cdb.starts_with("2A");
  }
  EXPECT_EQ(write12, 1);
  EXPECT_EQ(write10, 2 * ((401 + 26) / 27));
}

TEST_F(BurnTest, TestWriteBurnsNothing) {
  Faults("busy-polls 0\nlog burn.log\n");
  BurnSettings s;
  s.simulate = true;
  ASSERT_EQ(Burn({EdgeBlock(1000)}, s), "");
  EXPECT_EQ(result_, platform::kTaskDone);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.bin"));
  const std::vector<std::string> log = Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "55 10 00 00 00 00 00 00 3C 00"), log.end());
}

TEST(BurnRules, SectorsSpeedsAndSamples) {
  EXPECT_EQ(TrackSectors(100), 300);  // at least 300
  EXPECT_EQ(TrackSectors(588 * 300), 300);
  EXPECT_EQ(TrackSectors(588 * 300 + 1), 301);
  EXPECT_EQ(TrackSectors(0), 300);
  EXPECT_EQ(DiscSectors({100, 588 * 400}), 300 + 150 + 400);
  const struct {
    int speed, maxKbps;
    std::uint16_t expected;
  } speeds[] = {{kHighestSpeed, 7056, 6903}, {0, 7056, 0xFFFF},  {8, 7056, 1416},
                {kHighestSpeed, 0, 0xFFFF},  {400, 0, 0xFFFF},   {1, 100, 0xFFFF}};
  for (const auto& c : speeds) {
    SCOPED_TRACE(std::to_string(c.speed) + " at most " + std::to_string(c.maxKbps));
    EXPECT_EQ(WriteSpeedKbps(c.speed, c.maxKbps), c.expected);
  }
  EXPECT_EQ(To16(audio::kSampleMax), 32767);
  EXPECT_EQ(To16(audio::kSampleMin), -32768);
  EXPECT_EQ(To16(-9), -1);
  EXPECT_EQ(To16(7), 0);
  EXPECT_EQ(CapacityMessage(360000, 370000),
            "The CD has a capacity of 80:00 minutes and you are trying to write 82:13 minutes. "
            "Please insert a larger capacity CD or try fewer tracks.");
}

TEST(ExternalBurn, CommandLinesAndTheHandOff) {
  BurnSettings s;
  s.speed = 8;
  s.simulate = true;
  const std::vector<std::filesystem::path> files = {"/t/Track 01.wav", "/t/Track 02.wav"};
  EXPECT_EQ(ExternalBurnCommand("/usr/bin/cdrskin", "/dev/sr0", s, files),
            (std::vector<std::string>{"/usr/bin/cdrskin", "-v", "dev=/dev/sr0", "-tao", "-audio",
                                      "-pad", "speed=8", "blank=as_needed", "-dummy", "-eject",
                                      "/t/Track 01.wav", "/t/Track 02.wav"}));
  s.speed = kHighestSpeed;
  s.simulate = false;
  s.loadEject = false;
  EXPECT_EQ(ExternalBurnCommand("/usr/bin/wodim", "/dev/sr1", s, {files[0]}),
            (std::vector<std::string>{"/usr/bin/wodim", "-v", "dev=/dev/sr1", "-tao", "-audio",
                                      "-pad", "/t/Track 01.wav"}));
  EXPECT_EQ(ExternalTrackName(2), "Track 02.wav");
  EXPECT_LT(ExternalTrackName(2), ExternalTrackName(10));

  // The hand-off: a program that copies its arguments and list to a file.
  TempDir dir;
  const std::filesystem::path script = dir / "burner";
  testing::WriteFileBytes(script, "#!/bin/sh\necho \"$@\" > \"" + (dir / "args").string() +
                                      "\"\ncat \"$4\" > \"" + (dir / "list").string() + "\"\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  platform::ScriptedProgressFactory progress;
  BurningProgramTask task(script.string(), true, {"/a/one.wav", "/b/two words.mp3"});
  task.Run(progress);
  ASSERT_EQ(task.result, platform::kTaskDone) << task.message();
  const std::string args = testing::ReadFileBytes(dir / "args");
  EXPECT_TRUE(args.starts_with("-type audio -list ")) << args;
  EXPECT_EQ(testing::ReadFileBytes(dir / "list"), "/a/one.wav\n/b/two words.mp3\n");
  const std::string listFile = args.substr(18, args.size() - 19);
  EXPECT_FALSE(std::filesystem::exists(listFile));  // removed afterwards

  BurningProgramTask none("", false, {"/a/one.wav"});
  none.Run(progress);
  EXPECT_EQ(none.result, platform::kTaskFailed);
  EXPECT_NE(none.message().find("CDRecorder/BurningProgram"), std::string::npos);
  ExternalBurnTask sim("sim-blank:" + (dir / "x.cue").string(), {}, {});
  sim.Run(progress);
  EXPECT_EQ(sim.result, platform::kTaskFailed);
}

}  // namespace
}  // namespace quillet::cd
