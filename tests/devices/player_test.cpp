#include "devices/player.h"

#include <gtest/gtest.h>

#include "device_test_support.h"
#include "devices/peak_limit.h"
#include "devices/play_speed.h"
#include "devices/stretch_play.h"
#include "platform/frame_time.h"
#include "platform/sound_device_fake.h"

namespace quillet::devices {
namespace {

using namespace testsupport;
using quillet::testing::Sine;
using audio::AudioBlock;
using audio::FrameCount;
using audio::FramePos;

struct PlayerFixture : ::testing::Test {
  platform::FakeSoundSystem device;
  platform::NotificationQueue queue;
  PlayerLog log;
  LSoundPlayer player{device, queue};
  PlayerFixture() { player.InstallListener(&log, 7); }
  ~PlayerFixture() override {
    player.Close();
    EXPECT_EQ(device.openStreams(), 0) << "a device was left open";
  }
  bool WaitStopped(int count = 1) { return PumpUntil(queue, [&] { return log.stopped >= count; }); }
  // Moves the clock in steps of 50 ms, letting the player refill the device's
  // 400 ms between steps as a real device's would be refilled meanwhile.
  void Play(int ms, int rate) {
    const std::int64_t full = std::int64_t{rate} * 400 / 1000;
    const auto refilled = [&] { return PumpUntil(queue, [&] { return device.queuedFrames() >= full; }); };
    for (int t = 0; t < ms; t += 50) {
      ASSERT_TRUE(refilled()) << "at " << t << " ms: " << device.queuedFrames();
      device.AdvanceMs(50);
    }
    ASSERT_TRUE(refilled());
  }
};

// A nearest-frame speed adaptor: enough to carry the player's speed plumbing.
class StepSpeedSource final : public LVariableSpeedSource {
 public:
  StepSpeedSource(audio::SourceHandle inner, double speed)
      : LVariableSpeedSource(inner->sampleRate(), inner->channels(), inner->peakBound()),
        inner_(std::move(inner)), speed_(speed), pos_(static_cast<double>(inner_->position())) {}
  void read(audio::Sample* buffer, FrameCount frames) override {
    const int ch = channels();
    std::vector<audio::Sample> one(static_cast<std::size_t>(ch));
    for (FrameCount f = 0; f < frames; ++f, pos_ += speed_) {
      inner_->seek(static_cast<FramePos>(pos_));
      inner_->read(one.data(), 1);
      std::copy(one.begin(), one.end(), buffer + f * ch);
    }
  }
  FramePos position() const override { return static_cast<FramePos>(pos_); }
  FrameCount length() const override { return inner_->length(); }
  void seek(FramePos frame) override { pos_ = static_cast<double>(std::max<FramePos>(frame, 0)); }
  FrameCount framesLeft() const override {
    const double left = speed_ > 0 ? (static_cast<double>(length()) - pos_) / speed_ : pos_ / -speed_;
    return static_cast<FrameCount>(std::ceil(std::max(left, 0.0)));
  }

 private:
  audio::SourceHandle inner_;
  double speed_;
  double pos_;
};

SpeedAdaptor StepAdaptor() {
  return [](audio::SourceHandle inner, const SpeedRamp& ramp) {
    return audio::Ref<LVariableSpeedSource>(audio::MakeRef<StepSpeedSource>(std::move(inner), ramp.startSpeed));
  };
}

TEST_F(PlayerFixture, BufferFramesFollowTheRate) {
  device.SetFreeRunning(true);
  for (const auto& [rate, frames] : {std::pair{8000, 800}, {100, 20}, {192000, 8192}, {44100, 4410}}) {
    SCOPED_TRACE(rate);
    ASSERT_TRUE(player.Open(Memory(rate, AudioBlock(1, 10))));
    EXPECT_EQ(player.bufferFrames(), frames);
    EXPECT_EQ(device.lastRequest().rate, rate);
    player.Close();
  }
}

TEST_F(PlayerFixture, PlaysEverySampleOnceInOrder) {
  device.SetFreeRunning(true);
  std::vector<std::int16_t> expected;
  int stops = 0;
  for (const auto& [channels, frames] : {std::pair{1, 1}, {2, 4409}, {2, 4410}, {2, 4411}, {1, 100000}}) {
    SCOPED_TRACE(frames);
    const AudioBlock block = Noise(channels, frames, static_cast<unsigned>(frames));
    const std::vector<std::int16_t> pcm = Pcm16(block);
    expected.insert(expected.end(), pcm.begin(), pcm.end());
    ASSERT_TRUE(player.Open(Memory(44100, block)));
    ASSERT_TRUE(WaitStopped(++stops));
    EXPECT_EQ(log.positions.back(), platform::MsFromFrames(frames, 44100));
  }
  EXPECT_EQ(device.written(), expected);
}

TEST_F(PlayerFixture, ShortSourceStopsOnceAfterItsLengthWasHeard) {
  ASSERT_TRUE(player.Open(Memory(8000, Noise(1, 500, 1, 1000))));
  EXPECT_EQ(log.events, (std::vector<std::string>{"playing", "position"}));
  // Nothing was heard yet, so no end either.
  queue.WaitAndDispatch(50);
  EXPECT_EQ(log.stopped, 0);
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.queuedFrames() == 500; }));
  // Started by the end of the source although short of the device's start threshold.
  for (int i = 0; i < 100 && log.stopped == 0; ++i) {
    device.AdvanceMs(10);
    PumpUntil(queue, [&] { return log.stopped > 0; }, 20);
  }
  EXPECT_EQ(device.playedFrames(), 500);
  queue.WaitAndDispatch(50);
  EXPECT_EQ(log.stopped, 1);
  EXPECT_EQ(log.events.end()[-2], "position");
  EXPECT_EQ(log.positions.back(), 62);  // 500 frames at 8000 Hz
  EXPECT_FALSE(player.isOpen());
  EXPECT_EQ(device.openStreams(), 0);
}

TEST_F(PlayerFixture, PositionIsWhatTheDeviceHasPlayed) {
  ASSERT_TRUE(player.Open(Memory(8000, Noise(2, 80000, 1, 1000))));
  // The queue fills ahead of the device without moving the position.
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.queuedFrames() == 3200; }));
  EXPECT_EQ(player.playPosition(), 0);
  Play(1000, 8000);
  ASSERT_TRUE(PumpUntil(queue, [&] { return !log.positions.empty() && log.positions.back() == 1000; }, 3000)) << log.positions.back() << " pos " << player.playPosition() << " played " << device.playedFrames();
  EXPECT_EQ(player.playPosition(), 8000);
  EXPECT_EQ(device.playedFrames(), 8000);
  player.Close();
  EXPECT_EQ(log.stopped, 1);
}

TEST_F(PlayerFixture, LoudSourcesAreLimitedAndFileSourcesPlayUnchanged) {
  device.SetFreeRunning(true);
  const AudioBlock exact = Noise(2, 20000, 3);
  ASSERT_TRUE(player.Open(Memory(44100, exact, 0x7FFF0)));
  ASSERT_TRUE(WaitStopped(1));
  EXPECT_EQ(device.written(), Pcm16(exact));

  // Four times full scale after a quiet start: limited, never wrapped.
  AudioBlock loud = Noise(2, 20000, 4, 0x7FFF0 * 4);
  for (FrameCount f = 0; f < 2000; ++f) loud(0, f) = loud(1, f) = 0;
  const std::size_t before = device.written().size();
  ASSERT_TRUE(player.Open(Memory(44100, loud, 0x7FFF0 * 4)));
  ASSERT_TRUE(WaitStopped(2));
  const std::vector<std::int16_t> all = device.written();
  const std::vector<std::int16_t> played(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  ASSERT_EQ(played.size(), loud.samples().size());
  LPeakLimitSource reference(Memory(44100, loud, 0x7FFF0 * 4), kPlaybackLimit);
  EXPECT_EQ(played, Pcm16(ReadAll(reference)));
  int saturated = 0;
  for (std::size_t i = 0; i < played.size(); ++i) {
    // A wrap shows as a sign opposite to the source's.
    if (loud.samples()[i] > 0x10000) {
      EXPECT_GT(played[i], 0) << i;
    }
    if (loud.samples()[i] < -0x10000) {
      EXPECT_LT(played[i], 0) << i;
    }
    saturated += played[i] == 32767 || played[i] == -32768;
  }
  EXPECT_LT(saturated, 10);
}

TEST_F(PlayerFixture, VolumeScalesOurStreamOnly) {
  device.SetFreeRunning(true);
  AudioBlock block(1, 1000);
  for (FrameCount f = 0; f < 1000; ++f) block(0, f) = f % 2 ? 0x40000 : -0x40000;
  player.SetVolumeDb(-6);
  ASSERT_TRUE(player.Open(Memory(44100, block)));
  ASSERT_TRUE(WaitStopped(1));
  std::vector<std::int16_t> w = device.written();
  EXPECT_NEAR(w[0], -0x4000 / 2, 0x4000 / 50);  // -6 dB is about half
  player.SetVolumeDb(-40);  // below -36 dB: silence
  ASSERT_TRUE(player.Open(Memory(44100, block)));
  ASSERT_TRUE(WaitStopped(2));
  w = device.written();
  EXPECT_TRUE(std::all_of(w.begin() + 1000, w.end(), [](std::int16_t s) { return s == 0; }));
  player.SetVolumeDb(+30);  // clamped at +10 dB and saturated, not wrapped
  ASSERT_TRUE(player.Open(Memory(44100, block)));
  ASSERT_TRUE(WaitStopped(3));
  w = device.written();
  EXPECT_EQ(player.volumeDb(), kMaxVolumeDb);
  EXPECT_EQ(w[2000], -32768);
  EXPECT_EQ(w[2001], 32767);
}

TEST_F(PlayerFixture, HoldLoopsASnippetPauseIsSilentAndResumeGoesOnFromThere) {
  const AudioBlock block = Noise(1, 80000, 9, 0x10000);
  ASSERT_TRUE(player.Open(Memory(8000, block)));
  Play(500, 8000);
  ASSERT_TRUE(PumpUntil(queue, [&] { return player.playPosition() == 4000; }));
  player.Hold();
  player.Hold();  // the second does nothing
  EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "holding"), 1);
  EXPECT_TRUE(player.isHolding());
  const std::size_t heldFrom = device.written().size();
  Play(1000, 8000);
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= heldFrom + 8000; }));
  const std::vector<std::int16_t> w = device.written();
  const std::vector<std::int16_t> source = Pcm16(block);
  // The snippet is the quarter buffer (200 frames) at the held position, over and over.
  for (std::size_t i = 0; i < 8000; ++i)
    ASSERT_EQ(w[heldFrom + i], source[4000 + i % 200]) << i;
  // Pausing a hold swaps the snippet for silence at the same position.
  player.Pause();
  EXPECT_TRUE(player.isPaused());
  EXPECT_EQ(player.playPosition(), 4000);
  const std::size_t pausedFrom = device.written().size();
  Play(1000, 8000);
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= pausedFrom + 8000; }));
  const std::vector<std::int16_t> p = device.written();
  EXPECT_TRUE(std::all_of(p.begin() + static_cast<std::ptrdiff_t>(pausedFrom), p.end(),
                          [](std::int16_t v) { return v == 0; }));
  const std::size_t resumedFrom = device.written().size();
  player.Resume();
  EXPECT_FALSE(player.isHolding());
  EXPECT_FALSE(player.isPaused());
  EXPECT_EQ(log.events.back(), "playing");
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= resumedFrom + 800; }));
  EXPECT_EQ(device.written()[resumedFrom], source[4000]);
}

TEST_F(PlayerFixture, RepositionPlaysFromTheNewFrame) {
  const AudioBlock block = Noise(2, 80000, 5, 0x10000);
  ASSERT_TRUE(player.Open(Memory(8000, block)));
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= 3200 * 2; }));
  const std::size_t at = device.written().size();
  player.Reposition(50000);
  EXPECT_EQ(player.playPosition(), 50000);
  EXPECT_EQ(log.positions.back(), 6250);
  device.AdvanceMs(100);
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= at + 1600; }));
  const std::vector<std::int16_t> source = Pcm16(block);
  const std::vector<std::int16_t> w = device.written();
  EXPECT_TRUE(std::equal(w.begin() + static_cast<std::ptrdiff_t>(at), w.begin() + static_cast<std::ptrdiff_t>(at) + 1600,
                         source.begin() + 100000));
}

TEST_F(PlayerFixture, RepeatLoopsWithoutAGapAndAnEmptyRangeStops) {
  device.SetFreeRunning(true);
  const AudioBlock block = Noise(1, 300, 11, 0x10000);
  player.SetRepeat(true);
  ASSERT_TRUE(player.Open(Memory(44100, block)));
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= 3000; }));
  EXPECT_EQ(log.stopped, 0);
  player.Close();
  EXPECT_FALSE(player.repeat()) << "stopping clears repeat";
  const std::vector<std::int16_t> w = device.written();
  const std::vector<std::int16_t> source = Pcm16(block);
  for (std::size_t i = 0; i < 3000; ++i) ASSERT_EQ(w[i], source[i % 300]) << i;

  player.SetRepeat(true);
  ASSERT_TRUE(player.Open(Memory(44100, AudioBlock(1, 0))));
  ASSERT_TRUE(WaitStopped(2));
}

TEST_F(PlayerFixture, StoppedListenerMayPlayAgain) {
  device.SetFreeRunning(true);
  struct Again : PlayerLog {
    LSoundPlayer* player = nullptr;
    int plays = 0;
    void Stopped(std::uintptr_t c) override {
      PlayerLog::Stopped(c);
      if (++plays < 3) {
        EXPECT_TRUE(player->Open(Memory(44100, Noise(1, 700, 1, 100))));
      }
    }
  } again;
  again.player = &player;
  player.InstallListener(&again, 0);
  ASSERT_TRUE(player.Open(Memory(44100, Noise(1, 700, 1, 100))));
  ASSERT_TRUE(PumpUntil(queue, [&] { return again.stopped == 3; }));
  EXPECT_EQ(device.written().size(), 2100u);
  EXPECT_EQ(device.openStreams(), 0);
  player.InstallListener(&log, 0);
}

TEST_F(PlayerFixture, DeviceProblemsGiveAMessageNotAHang) {
  device.SetOpenFailure("The sound output device \"default\" is in use by another program.");
  audio::SourceHandle source = Memory(44100, Noise(1, 1000, 1, 100));
  EXPECT_FALSE(player.Open(source));
  EXPECT_NE(player.lastError().find("in use"), std::string::npos);
  EXPECT_EQ(source->refCount(), 1u) << "the player kept the source";
  EXPECT_FALSE(player.isOpen());
  device.SetOpenFailure("");
  EXPECT_FALSE(player.Open(source, "hw:9"));
  EXPECT_NE(player.lastError().find("hw:9"), std::string::npos);

  device.SetFailAfterFrames(5000);  // unplugged while playing
  ASSERT_TRUE(player.Open(Memory(8000, Noise(1, 80000, 1, 100))));
  ASSERT_TRUE(PumpUntil(queue, [&] { return device.written().size() >= 3200; }));
  for (int i = 0; i < 40 && log.stopped == 0; ++i) {
    device.AdvanceMs(50);
    PumpUntil(queue, [&] { return log.stopped > 0; }, 100);
  }
  EXPECT_EQ(log.stopped, 1);
  EXPECT_NE(player.lastError().find("failed"), std::string::npos);
  EXPECT_EQ(device.openStreams(), 0);
}

TEST_F(PlayerFixture, CloseRightAfterOpenJoinsEverything) {
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(player.Open(Memory(44100, Noise(2, 441000, 1, 100))));
    if (i % 2) device.AdvanceMs(7);
    player.Close();
    ASSERT_EQ(device.openStreams(), 0);
  }
  EXPECT_EQ(log.stopped, 50);
  queue.Dispatch();  // late posts of closed runs are harmless
  EXPECT_EQ(log.stopped, 50);
}

TEST_F(PlayerFixture, SpeedAdaptorSlotsIn) {
  device.SetFreeRunning(true);
  const AudioBlock block = Noise(1, 9000, 13, 0x10000);
  std::string message;
  EXPECT_FALSE(SourceAtSpeed(Memory(8000, block), PlaySpeed::Fast, {}, &message));
  EXPECT_FALSE(message.empty());
  audio::SourceHandle normal = Memory(8000, block);
  EXPECT_EQ(SourceAtSpeed(normal, PlaySpeed::Normal, {}, &message), normal);

  ASSERT_TRUE(player.Open(SourceAtSpeed(Memory(8000, block), PlaySpeed::Fast, StepAdaptor(), &message)));
  ASSERT_TRUE(WaitStopped());
  const std::vector<std::int16_t> source = Pcm16(block);
  const std::vector<std::int16_t> w = device.written();
  ASSERT_EQ(w.size(), 6000u);  // 1.5 times as fast
  for (std::size_t i = 0; i < w.size(); ++i) ASSERT_EQ(w[i], source[i * 3 / 2]) << i;
  EXPECT_EQ(log.positions.back(), 1125);  // the document's end, 9000 frames

  // Backwards from the middle, through the limiter too.
  audio::SourceHandle loud = Memory(8000, block, 0x7FFF0 * 2);
  loud->seek(4000);
  ASSERT_TRUE(player.Open(SourceAtRamp(loud, RewindRamp(false), StepAdaptor(), &message)));
  ASSERT_TRUE(WaitStopped(2));
  EXPECT_EQ(device.written().size(), 6000u + 8000u);
}

// Sign changes per frame of channel 0 of interleaved 16-bit samples.
double CrossingRate(const std::vector<std::int16_t>& pcm, int channels) {
  int crossings = 0;
  const std::size_t frames = pcm.size() / static_cast<std::size_t>(channels);
  for (std::size_t f = 1; f < frames; ++f)
    crossings += (pcm[(f - 1) * channels] < 0) != (pcm[f * channels] < 0);
  return frames > 1 ? static_cast<double>(crossings) / static_cast<double>(frames) : 0;
}

TEST_F(PlayerFixture, StretchedSpeedsChangeTheDurationNotThePitch) {
  device.SetFreeRunning(true);
  const AudioBlock block = Sine(2, 24000, 8000, 500, 0x40000);
  const double sourceRate = CrossingRate(Pcm16(block), 2);
  std::size_t before = 0;
  int stops = 0;
  for (const auto& [speed, factor] : {std::pair{PlaySpeed::Fast, 1.5}, {PlaySpeed::Slow, 0.5}}) {
    SCOPED_TRACE(factor);
    ASSERT_TRUE(player.Open(SourceAtSpeed(Memory(8000, block), speed)));
    ASSERT_TRUE(WaitStopped(++stops));
    const std::vector<std::int16_t> all = device.written();
    const std::vector<std::int16_t> w(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    before = all.size();
    const double frames = static_cast<double>(w.size() / 2);
    EXPECT_NEAR(frames, 24000 / factor, 24000 / factor * 0.02);
    EXPECT_NEAR(CrossingRate(w, 2), sourceRate, sourceRate * 0.05);
    // The end is the document's end, not the stretched length.
    EXPECT_EQ(log.positions.back(), 3000);
  }
}

TEST_F(PlayerFixture, RewindRunsBackToTheStartAndReportsDocumentPositions) {
  device.SetFreeRunning(true);
  audio::SourceHandle source = Memory(8000, Sine(1, 80000, 8000, 300, 0x40000));
  source->seek(60000);
  std::string message;
  ASSERT_TRUE(player.Open(SourceAtRamp(source, RewindRamp(false), TimeStretchAdaptor(), &message)));
  ASSERT_TRUE(WaitStopped());
  ASSERT_GE(log.positions.size(), 2u);
  EXPECT_EQ(log.positions.front(), 7500);  // where it started, in the document
  EXPECT_EQ(log.positions.back(), 0);
  for (std::size_t i = 1; i < log.positions.size(); ++i) EXPECT_LE(log.positions[i], log.positions[i - 1]) << i;
  // From 0.5 to 7 times over a second of output: far fewer frames than the distance.
  const std::size_t played = device.written().size();
  EXPECT_GT(played, 8000u);
  EXPECT_LT(played, 30000u);
}

TEST_F(PlayerFixture, RepositionAndHoldAtSpeedStayInDocumentFrames) {
  ASSERT_TRUE(player.Open(SourceAtSpeed(Memory(8000, Sine(1, 160000, 8000, 400, 0x40000)), PlaySpeed::Fast)));
  Play(500, 8000);
  player.Reposition(80000);
  EXPECT_EQ(player.playPosition(), 80000);
  EXPECT_EQ(log.positions.back(), 10000);
  // One second of output moves a second and a half through the document, give or
  // take the last buffer heard.
  Play(1000, 8000);
  EXPECT_GE(player.playPosition(), 80000 + 12000 - 1200 - 88);
  EXPECT_LE(player.playPosition(), 80000 + 12000 + 88);
  const FramePos held = player.playPosition();
  player.Hold();
  EXPECT_EQ(player.playPosition(), held);
  player.Resume();
  EXPECT_EQ(player.playPosition(), held);
}

TEST(StretchPlaySource, SeeksAndEndsInInputFrames) {
  LStretchPlaySource s(Memory(8000, Sine(1, 8000, 8000, 200, 0x40000)), RampFor(PlaySpeed::Fast));
  EXPECT_EQ(s.position(), 0);
  EXPECT_EQ(s.length(), 8000);
  const FrameCount whole = s.framesLeft();
  EXPECT_NEAR(static_cast<double>(whole), 8000 / 1.5, 90);
  s.seek(4000);
  EXPECT_EQ(s.position(), 4000);
  EXPECT_NEAR(static_cast<double>(s.framesLeft()), 4000 / 1.5, 90);
  std::vector<audio::Sample> buf(static_cast<std::size_t>(s.framesLeft()));
  s.read(buf.data(), s.framesLeft());
  EXPECT_EQ(s.framesLeft(), 0);
  EXPECT_EQ(s.position(), 8000);
  s.seek(-50);  // before the start counts as the start
  EXPECT_EQ(s.position(), 0);
  s.seek(9000);  // past the end: nothing left
  EXPECT_EQ(s.framesLeft(), 0);
}

}  // namespace
}  // namespace quillet::devices
