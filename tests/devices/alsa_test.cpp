// Through real ALSA: the default device routed to the file plugin over the null
// device by a private configuration, so no sound card is needed.

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "device_test_support.h"
#include "devices/peak_limit.h"

namespace quillet::devices {
namespace {

using namespace testsupport;
using audio::AudioBlock;

TEST(Alsa, PlaybackReachesTheDeviceByteForByteThroughTheLimiter) {
  PrivateAlsa alsa;
  platform::NotificationQueue queue;
  PlayerLog log;
  {
    LSoundPlayer player(platform::AlsaSoundSystem(), queue);
    player.InstallListener(&log, 0);
    AudioBlock loud = Noise(2, 57331, 21, 0x7FFF0 * 3);
    for (audio::FrameCount f = 0; f < 5000; ++f) loud(0, f) = loud(1, f) = 0;
    ASSERT_TRUE(player.Open(Memory(44100, loud, 0x7FFF0 * 3))) << player.lastError();
    ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped == 1; }));
    LPeakLimitSource reference(Memory(44100, loud, 0x7FFF0 * 3), kPlaybackLimit);
    EXPECT_EQ(alsa.PlayedSamples(), Pcm16(ReadAll(reference)));
    EXPECT_EQ(log.positions.back(), 1300);
  }
}

TEST(Alsa, PauseWritesSilenceAndKeepsThePosition) {
  PrivateAlsa alsa;
  platform::NotificationQueue queue;
  PlayerLog log;
  LSoundPlayer player(platform::AlsaSoundSystem(), queue);
  player.InstallListener(&log, 0);
  // A loud full-scale square: any sound reaching the device while paused shows.
  AudioBlock square(1, 8000 * 20);
  for (audio::FrameCount f = 0; f < square.frames(); ++f) square(0, f) = (f / 10) % 2 ? 0x7FFF0 : -0x7FFF0;
  ASSERT_TRUE(player.Open(Memory(8000, square))) << player.lastError();
  ASSERT_TRUE(PumpUntil(queue, [&] { return player.playPosition() >= 1600; }));
  player.Pause();
  ASSERT_TRUE(player.isPaused());
  const audio::FramePos held = player.playPosition();
  // The null device takes data as fast as it comes: the file's size is watched and
  // read only once the player has let go of it.
  const auto bytes = [&] { return std::filesystem::file_size(alsa.played()); };
  const std::uintmax_t pausedAt = bytes();
  ASSERT_TRUE(PumpUntil(queue, [&] { return bytes() >= pausedAt + 16000; }));
  EXPECT_EQ(player.playPosition(), held);
  player.Close();
  // What went to the device before the pause may still drain; the rest is silence.
  const std::vector<std::int16_t> played = alsa.PlayedSamples();
  ASSERT_GE(played.size(), pausedAt / 2 + 8000);
  EXPECT_TRUE(std::all_of(played.end() - 4000, played.end(), [](std::int16_t v) { return v == 0; }));
}

TEST(Alsa, MissingDeviceIsRefusedWithItsName) {
  PrivateAlsa alsa;
  platform::NotificationQueue queue;
  LSoundPlayer player(platform::AlsaSoundSystem(), queue);
  EXPECT_FALSE(player.Open(Memory(44100, AudioBlock(1, 100)), "quillet_no_such_device"));
  EXPECT_NE(player.lastError().find("quillet_no_such_device"), std::string::npos) << player.lastError();
  const auto devices = platform::AlsaSoundSystem().ListDevices(platform::StreamDirection::Playback);
  ASSERT_FALSE(devices.empty());
  EXPECT_EQ(devices.front().name, "default");
}

// 8000 Hz mono: 1 s quiet, 7 s tone, 6 s quiet, 2 s tone, then quiet.
TEST(Alsa, CaptureStartsAtTheThresholdPausesWhenQuietAndTrimsTheEnd) {
  PrivateAlsa alsa;
  std::vector<std::int16_t> in;
  AppendSilence(in, 8000, 1);
  AppendTone(in, 56000, 1, 8000, 500, 16000);
  AppendSilence(in, 48000, 1);
  AppendTone(in, 16000, 1, 8000, 500, 16000);
  alsa.SetCapture(in);

  platform::NotificationQueue queue;
  RecorderLog log;
  auto sink = audio::MakeRef<audio::LMemorySoundSink>(8000, 1);
  {
    LSoundRecorder recorder(platform::AlsaSoundSystem(), queue);
    recorder.InstallListener(&log, 0);
    RecordOptions options;
    options.startThresholdDb = -24;
    options.quietLimitMs = 5000;  // voice activated
    ASSERT_TRUE(recorder.Start(audio::SinkHandle(sink), options)) << recorder.lastError();
    ASSERT_TRUE(PumpUntil(queue, [&] { return recorder.capturedFrames() >= 8000 * 24; }));
    recorder.Stop();
  }
  EXPECT_EQ(log.stopped, 1);
  // Speech, 450 ms of the quiet, 50 ms of pre-roll, the second speech, 50 ms.
  const AudioBlock& got = sink->samples();
  ASSERT_EQ(got.frames(), 400 + 56000 + 3600 + 400 + 16000 + 400);
  const auto expectTone = [&](audio::FrameCount at, audio::FrameCount frames) {
    for (audio::FrameCount f = 0; f < frames; ++f) {
      const double want = 16.0 * std::lround(16000 * std::sin(2 * M_PI * 500 * f / 8000));
      ASSERT_NEAR(got(0, at + f), want, 16000 * 16 * 0.05) << "frame " << at + f;
    }
  };
  const auto expectQuiet = [&](audio::FrameCount at, audio::FrameCount frames) {
    for (audio::FrameCount f = 0; f < frames; ++f) ASSERT_LT(std::abs(got(0, at + f)), 16 * 300) << at + f;
  };
  expectQuiet(0, 400);
  expectTone(400, 56000);
  expectQuiet(56400 + 40, 4000 - 40);
  expectTone(60400, 16000);
  expectQuiet(76400 + 40, 360);
}

TEST(Alsa, CaptureWithoutAutoTrimKeepsEverythingUpToTheTimeLimit) {
  PrivateAlsa alsa;
  std::vector<std::int16_t> in;
  AppendTone(in, 4410, 2, 44100, 1000, 8000);
  alsa.SetCapture(in);
  platform::NotificationQueue queue;
  RecorderLog log;
  auto sink = audio::MakeRef<audio::LMemorySoundSink>(44100, 2);
  LSoundRecorder recorder(platform::AlsaSoundSystem(), queue);
  recorder.InstallListener(&log, 0);
  RecordOptions options;
  options.timeLimitMs = 1500;
  ASSERT_TRUE(recorder.Start(audio::SinkHandle(sink), options)) << recorder.lastError();
  ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped == 1; }));
  EXPECT_EQ(sink->framesWritten(), 66150);
  // The limit stopped it, and nothing was trimmed although the tone ended early.
  EXPECT_EQ(recorder.state(), LSoundRecorder::State::Idle);
}

}  // namespace
}  // namespace quillet::devices
