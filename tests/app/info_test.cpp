// quillet-cli info on an MP3 stream that changes channel mode and then sample rate: the
// document's channels, the exact frame count, and the notice of what was left out.
#include <gtest/gtest.h>

#include <sstream>

#include "app/cli/cli_commands.h"
#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "platform/scripted_progress.h"

namespace quillet::app {
namespace {

using testing::RunProgram;

TEST(CliInfo, Mp3ModeChangeKeepsEveryFrameAndRateChangeIsNoticed) {
  QUILLET_REQUIRE_PROGRAMS("sox", "lame", "mpg123");
  testing::TempDir dir;
  // lame writes each part with a fixed mode: mono, then stereo, then stereo at 48 kHz.
  const struct {
    const char* name;
    int channels;
    const char* rate;
  } parts[] = {{"mono", 1, "44.1"}, {"stereo", 2, "44.1"}, {"fast", 2, "48"}};
  std::string joined;
  long long framesBeforeRateChange = 0;
  for (const auto& part : parts) {
    const auto wav = dir / (std::string(part.name) + ".wav");
    const auto mp3 = dir / (std::string(part.name) + ".mp3");
    ASSERT_EQ(RunProgram({"sox", "-R", "-n", "-r", "44100", "-c", std::to_string(part.channels), wav.string(),
                          "synth", "0.5", "sine", "440"}),
              0);
    ASSERT_EQ(RunProgram({"lame", "--quiet", "-t", "-b", "128", "--resample", part.rate, wav.string(), mp3.string()}),
              0);
    if (std::string(part.rate) == "44.1") {
      const auto pcm = dir / (std::string(part.name) + ".pcm");
      ASSERT_EQ(RunProgram({"mpg123", "-q", "--no-gapless", "-e", "s16", "-s", mp3.string()}, pcm), 0);
      framesBeforeRateChange += static_cast<long long>(testing::ReadFileBytes(pcm).size()) / (2 * part.channels);
    }
    joined += testing::ReadFileBytes(mp3);
  }
  const auto file = dir / "joined.mp3";
  testing::WriteFileBytes(file, joined);

  std::ostringstream out, err;
  platform::ScriptedProgressFactory progress;
  ASSERT_EQ(RunInfo({file.string()}, out, err, progress), 0) << err.str();
  const std::string text = out.str();
  EXPECT_NE(text.find("rate=44100\n"), std::string::npos) << text;
  EXPECT_NE(text.find("channels=2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("frames=" + std::to_string(framesBeforeRateChange) + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("notice=The MPEG audio changes from 44100 Hz MPEG-1 to 48000 Hz MPEG-1"), std::string::npos)
      << text;
}

}  // namespace
}  // namespace quillet::app
