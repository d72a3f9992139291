#include "devices/recorder.h"

#include <gtest/gtest.h>

#include "device_test_support.h"
#include "platform/sound_device_fake.h"

namespace quillet::devices {
namespace {

using namespace testsupport;

TEST(DcFilter, CoefficientFollowsTheRateAndStaysStable) {
  EXPECT_EQ(DcFilter(44100, 1).coefficient(), 5);
  EXPECT_EQ(DcFilter(8000, 1).coefficient(), 25);
  EXPECT_EQ(DcFilter(10, 1).coefficient(), 4096);  // would be 19201: unstable
  for (const int rate : {1, 10, 23, 8000, 192000}) {
    SCOPED_TRACE(rate);
    DcFilter dc(rate, 2);
    audio::AudioBlock block(2, 8192);
    // Full-scale DC on one channel, a full-scale square on the other, for a long time.
    for (int round = 0; round < 200; ++round) {
      for (audio::FrameCount f = 0; f < block.frames(); ++f) {
        block(0, f) = audio::kSampleMax;
        block(1, f) = (f / 7) % 2 ? audio::kSampleMax : audio::kSampleMin;
      }
      dc.Process(block.view());
    }
    // DC is gone and nothing blew up.
    EXPECT_LT(std::abs(block(0, block.frames() - 1)), 16);
    for (const audio::Sample s : block.samples()) ASSERT_LE(std::abs(std::int64_t{s}), audio::kSampleMax + 1);
  }
}

struct RecorderFixture : ::testing::Test {
  platform::FakeSoundSystem device;
  platform::NotificationQueue queue;
  RecorderLog log;
  LSoundRecorder recorder{device, queue};
  RecorderFixture() { recorder.InstallListener(&log, 0); }
  // Moves the clock in 20 ms steps until done holds (the capture thread starts
  // its device a moment after Start returns).
  bool AdvanceUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) {
      device.AdvanceMs(20);
      PumpUntil(queue, done, 20);
    }
    return done();
  }
  ~RecorderFixture() override {
    recorder.Stop();
    EXPECT_EQ(device.openStreams(), 0);
  }
};

TEST_F(RecorderFixture, RefusesBadSinksAndBusyDevicesAtOnce) {
  auto failed = audio::MakeRef<audio::LMemorySoundSink>(44100, 0);
  EXPECT_FALSE(recorder.Start(audio::SinkHandle(failed), {}));
  EXPECT_FALSE(recorder.lastError().empty());
  device.SetOpenFailure("The sound input device \"default\" is in use by another program.");
  auto sink = audio::MakeRef<audio::LMemorySoundSink>(44100, 2);
  EXPECT_FALSE(recorder.Start(audio::SinkHandle(sink), {}));
  EXPECT_NE(recorder.lastError().find("in use"), std::string::npos);
  EXPECT_EQ(sink->refCount(), 1u);
  EXPECT_EQ(recorder.state(), LSoundRecorder::State::Idle);
}

TEST_F(RecorderFixture, AutoTrimOffWritesTheFirstBufferAndRestartStartsOver) {
  std::vector<std::int16_t> in;
  AppendTone(in, 2000, 1, 8000, 250, 1000);
  device.SetCaptureData(in);
  auto sink = audio::MakeRef<audio::LMemorySoundSink>(8000, 1);
  ASSERT_TRUE(recorder.Start(audio::SinkHandle(sink), {}));
  EXPECT_EQ(device.lastRequest().direction, platform::StreamDirection::Capture);
  ASSERT_TRUE(AdvanceUntil([&] { return recorder.state() == LSoundRecorder::State::Writing; }));
  ASSERT_TRUE(recorder.Restart());
  EXPECT_EQ(sink->framesWritten(), 0);
  ASSERT_TRUE(AdvanceUntil([&] { return recorder.keptTimeMs() >= 200; })) << recorder.capturedFrames() << " " << sink->framesWritten() << " " << recorder.keptTimeMs();
  recorder.Stop();
  EXPECT_EQ(log.stopped, 1);
  // Stop keeps up to 50 ms past the last loud buffer: here everything.
  EXPECT_GE(sink->framesWritten(), 1600);
  EXPECT_EQ(sink->refCount(), 1u) << "the recorder kept the sink";
}

TEST_F(RecorderFixture, SilenceOnlyLeavesTheSinkEmpty) {
  device.SetFreeRunning(true);
  auto sink = audio::MakeRef<audio::LMemorySoundSink>(44100, 2);
  RecordOptions options;
  options.startThresholdDb = -24;
  ASSERT_TRUE(recorder.Start(audio::SinkHandle(sink), options));
  ASSERT_TRUE(PumpUntil(queue, [&] { return recorder.capturedFrames() > 44100 * 3; }));
  recorder.Stop();
  EXPECT_EQ(sink->framesWritten(), 0);
}

TEST_F(RecorderFixture, DeviceFailureStopsWithAMessage) {
  device.SetFreeRunning(true);
  device.SetFailAfterFrames(20000);
  auto sink = audio::MakeRef<audio::LMemorySoundSink>(44100, 1);
  ASSERT_TRUE(recorder.Start(audio::SinkHandle(sink), {}));
  ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped == 1; }));
  EXPECT_NE(recorder.lastError().find("failed"), std::string::npos);
}


TEST_F(RecorderFixture, CaptureLimitEndsAFixedTimeExactlyOnAFreeRunningDevice) {
  device.SetFreeRunning(true);
  for (const auto& [threshold, quietMs] : {std::pair{kSilentLevel, 0}, {-24, 300}}) {
    SCOPED_TRACE(threshold);
    std::vector<std::int16_t> in;
    AppendSilence(in, quietMs * 8, 1);
    AppendTone(in, 40000, 1, 8000, 400, 12000);
    device.SetCaptureData(in);
    auto sink = audio::MakeRef<audio::LMemorySoundSink>(8000, 1);
    RecordOptions options;
    options.startThresholdDb = threshold;
    options.captureLimitMs = 1234;  // not a whole number of buffers
    const int stops = log.stopped;
    ASSERT_TRUE(recorder.Start(audio::SinkHandle(sink), options));
    ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped > stops; }));
    EXPECT_EQ(recorder.capturedFrames(), 9872);
    // Trimmed: the quiet start goes, all but 50 ms of pre-roll.
    EXPECT_EQ(sink->framesWritten(), threshold == kSilentLevel ? 9872 : 9872 - 2400 + 400);
  }
}

}  // namespace
}  // namespace quillet::devices
