#include "devices/record_command.h"

#include <gtest/gtest.h>

#include "core/chain_source.h"
#include "core/clipboard.h"
#include "core/edit_commands.h"
#include "device_test_support.h"
#include "devices/document_playback.h"
#include "devices/peak_trail.h"
#include "devices/stretch_play.h"
#include "platform/scripted_progress.h"
#include "platform/sound_device_fake.h"

namespace quillet::devices {
namespace {

using namespace testsupport;
using audio::FrameCount;
using audio::Sample;

// Frame i of a mono ramp holds i + 1 + offset (never 0, so silence shows).
std::vector<Sample> Ramp(FrameCount frames, Sample offset = 0) {
  std::vector<Sample> v(static_cast<std::size_t>(frames));
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<Sample>(i) + 1 + offset;
  return v;
}

std::vector<Sample> Contents(const core::AudioChain& chain) {
  core::LChainSoundSource src(chain);
  std::vector<Sample> out(static_cast<std::size_t>(core::ChainLength(chain) * chain.channels));
  src.read(out.data(), core::ChainLength(chain));
  return out;
}

struct RecordFixture : ::testing::Test {
  testing::TempDir dir;
  core::SegmentStore store{dir.path() / "store"};
  settings::Settings settings{settings::FolderLocations(dir.path() / "settings")};
  platform::ScriptedProgressFactory progress;
  core::ProgramClipboard clipboard{&store};
  platform::FakeSoundSystem device;
  platform::NotificationQueue queue;
  LSoundPlayer player{device, queue};
  PlayerControl control{player, device, settings, TimeStretchAdaptor()};
  core::EditContext ctx{store, clipboard, progress, settings, &control, nullptr, nullptr, nullptr, {}, {}, false};

  RecordFixture() { std::filesystem::create_directories(dir.path() / "store"); }
  ~RecordFixture() override { player.Close(); }

  core::AudioChain Chain(const std::vector<Sample>& samples, std::uint32_t rate = 8000) {
    core::AudioChain chain(&store);
    auto sink = core::ChainOpenSink(chain, rate, 1);
    sink->write(samples.data(), static_cast<FrameCount>(samples.size()));
    EXPECT_TRUE(sink->Finish());
    return chain;
  }
  // Writes samples as one take of take from ms on.
  void Take(RecordingTake& take, std::int64_t ms, const std::vector<Sample>& samples) {
    audio::SinkHandle sink = take.SinkAt(ms);
    ASSERT_FALSE(sink->failed()) << sink->failureMessage();
    sink->write(samples.data(), static_cast<FrameCount>(samples.size()));
  }
};

TEST_F(RecordFixture, ReTakesKeepWhatCameBeforeTheirStart) {
  RecordingTake take(store, 8000, 1);
  Take(take, 0, Ramp(1000));
  EXPECT_EQ(take.length(), 1000);
  Take(take, 75, Ramp(500, 5000));  // 75 ms = frame 600
  EXPECT_EQ(take.lastTakeMs(), 75);
  std::vector<Sample> want = Ramp(600);
  const std::vector<Sample> second = Ramp(500, 5000);
  want.insert(want.end(), second.begin(), second.end());
  EXPECT_EQ(Contents(take.chain()), want);
  // A take past the end starts at the end: the recording stays continuous.
  Take(take, 60000, Ramp(10, 9000));
  EXPECT_EQ(take.length(), 1110);
  EXPECT_EQ(take.lastTakeMs(), 137);  // frame 1100, in whole ms
  // A take that wrote nothing leaves the recording as it was.
  take.SinkAt(0);
  EXPECT_EQ(take.length(), 1110);
}

TEST_F(RecordFixture, RecordingReplacesTheSelectionUnderOneUndoStep) {
  core::WaveDocument doc(Chain(Ramp(1000)));
  doc.SetSelection(100, 300, 250);
  RecordingTake take(store, 8000, 1);
  Take(take, 0, Ramp(50, 7000));
  ASSERT_EQ(ApplyRecording(ctx, doc, take), platform::kTaskDone) << ctx.message;
  EXPECT_EQ(doc.length(), 850);
  EXPECT_EQ(doc.selStart(), 100);
  EXPECT_EQ(doc.selEnd(), 150);
  EXPECT_EQ(doc.cursor(), 100);
  EXPECT_EQ(doc.history().UndoName(), "Record");
  const std::vector<Sample> got = Contents(doc.chain());
  EXPECT_EQ(got[99], 100);
  EXPECT_EQ(got[100], 7001);
  EXPECT_EQ(got[150], 301);
  ASSERT_TRUE(doc.Undo());
  EXPECT_EQ(Contents(doc.chain()), Ramp(1000));
  EXPECT_EQ(doc.selEnd(), 300);

  // Without a selection it goes in at the selection start.
  doc.SetSelection(400, 400, 400);
  ASSERT_EQ(ApplyRecording(ctx, doc, take), platform::kTaskDone);
  EXPECT_EQ(doc.length(), 1050);
  EXPECT_EQ(Contents(doc.chain())[400], 7001);
  EXPECT_EQ(doc.selEnd(), 450);
}

TEST_F(RecordFixture, NothingRecordedChangesNothing) {
  core::WaveDocument doc(Chain(Ramp(100)));
  RecordingTake take(store, 8000, 1);
  EXPECT_EQ(ApplyRecording(ctx, doc, take), platform::kTaskCancelled);
  EXPECT_FALSE(doc.history().CanUndo());
  // A recording in another format is refused rather than spliced wrongly.
  RecordingTake stereo(store, 8000, 2);
  {
    audio::SinkHandle sink = stereo.SinkAt(0);
    const std::vector<Sample> frames(20, 5);
    sink->write(frames.data(), 10);
  }
  EXPECT_EQ(ApplyRecording(ctx, doc, stereo), platform::kTaskFailed);
  EXPECT_FALSE(ctx.message.empty());
  EXPECT_EQ(doc.length(), 100);
}

// The record dialog, headless: records from the device until it has enough.
struct DeviceSession : RecordSession {
  RecordFixture& f;
  RecordOptions options;
  bool startedWhilePlaying = true;
  explicit DeviceSession(RecordFixture& fixture) : f(fixture) {}
  bool Run(RecordingTake& take) override {
    startedWhilePlaying = f.player.isOpen();
    LSoundRecorder recorder(f.device, f.queue);
    if (!recorder.Start(take.SinkAt(0), options)) return false;
    PumpUntil(f.queue, [&] { return recorder.capturedFrames() >= 4000; });
    recorder.Stop();
    return take.length() > 0;
  }
};

TEST_F(RecordFixture, RecordCommandStopsPlaybackAndSplicesTheCapture) {
  core::WaveDocument doc(Chain(Ramp(8000)));
  control.PlayFrom(doc, 0);
  ASSERT_TRUE(player.isOpen());
  std::vector<std::int16_t> capture;
  AppendTone(capture, 8000, 1, 8000, 400, 10000);
  device.SetCaptureData(capture);
  device.SetFreeRunning(true);
  DeviceSession session(*this);
  doc.SetSelection(2000, 2000, 2000);
  ASSERT_EQ(RecordCommand(ctx, doc, session), platform::kTaskDone) << ctx.message;
  EXPECT_FALSE(session.startedWhilePlaying);
  const FrameCount recorded = doc.selEnd() - doc.selStart();
  EXPECT_GE(recorded, 4000);
  EXPECT_EQ(doc.length(), 8000 + recorded);
  EXPECT_EQ(doc.history().UndoName(), "Record");
  // A busy document is refused before anything records.
  platform::BusyGuard busy(doc.busyFlag());
  EXPECT_EQ(RecordCommand(ctx, doc, session), platform::kTaskFailed);
}

TEST_F(RecordFixture, PlayerControlPlaysFromThePositionOnTheStoredDevice) {
  device.SetFreeRunning(true);
  PlayerLog log;
  player.InstallListener(&log, 0);
  core::WaveDocument doc(Chain(Ramp(3000)));
  control.PlayFrom(doc, 1000);
  ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped == 1; }));
  const std::vector<std::int16_t> w = device.written();
  ASSERT_EQ(w.size(), 2000u);
  EXPECT_EQ(w.front(), 63);  // frame 1000 holds 1001, /16 rounded

  control.PlayRange(doc.chain(), 500, 700);
  ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped == 2; }));
  EXPECT_EQ(device.written().size(), 2200u);

  settings.SetString("Settings", "SoundOutDevice", "usb-headset");
  control.PlayFrom(doc, 0);
  EXPECT_EQ(device.lastRequest().device, "default");
  EXPECT_NE(control.message().find("usb-headset"), std::string::npos);
  player.Close();

  device.SetOpenFailure("The sound output device \"default\" is busy.");
  settings.SetString("Settings", "SoundOutDevice", "0");
  control.PlayFrom(doc, 0);
  EXPECT_FALSE(player.isOpen());
  EXPECT_NE(control.message().find("busy"), std::string::npos);
}

// The live view's columns: per channel extremes of each 4-frame column, the oldest
// pushed out past the capacity, cuts and a take starting inside a column.
TEST(PeakTrail, ColumnsFollowWhatWasWrittenAndCut) {
  PeakTrail trail(2, 4, 3);
  // Left rises 1..10, right falls -1..-10.
  std::vector<Sample> stereo;
  for (Sample i = 1; i <= 10; ++i) stereo.insert(stereo.end(), {i, -i});
  trail.Add(stereo.data(), 10);
  PeakTrail::Snapshot s = trail.Latest(8);
  EXPECT_EQ(s.firstColumn, 0);
  EXPECT_EQ(s.peaks, (std::vector<Sample>{1, 4, -4, -1, 5, 8, -8, -5, 9, 10, -10, -9}));
  // Two frames complete column 2, the third starts column 3 and pushes column 0 out.
  trail.Add(stereo.data(), 3);
  s = trail.Latest(8);
  EXPECT_EQ(s.firstColumn, 1);
  EXPECT_EQ(s.peaks, (std::vector<Sample>{5, 8, -8, -5, 1, 10, -10, -1, 3, 3, -3, -3}));
  EXPECT_EQ(trail.Latest(1).firstColumn, 3);
  // A cut back to frame 8 keeps column 1, and nothing after it.
  trail.Truncate(8);
  EXPECT_EQ(trail.end(), 8);
  EXPECT_EQ(trail.Latest(8).columns(), 1u);
  // A cut before everything held starts over there; a take from frame 2 draws only itself.
  trail.Truncate(0);
  EXPECT_EQ(trail.Latest(8).columns(), 0u);
  trail.Reset(2);
  const std::vector<Sample> loud = {100, -100, 50, -50};
  trail.Add(loud.data(), 2);
  s = trail.Latest(8);
  EXPECT_EQ(s.firstColumn, 0);
  EXPECT_EQ(s.peaks, (std::vector<Sample>{0, 100, -100, 0}));
}

TEST_F(RecordFixture, TrailSinkPassesTheTakeThroughAndItsFailures) {
  RecordingTake take(store, 8000, 1);
  PeakTrail trail(1, 80, 100);
  {
    audio::SinkHandle sink = TrailSink(take.SinkAt(0), trail);
    const std::vector<Sample> ramp = Ramp(800);
    sink->write(ramp.data(), 800);
    EXPECT_EQ(sink->framesWritten(), 800);
    sink->truncate(400);  // as the recorder cuts trailing quiet
    EXPECT_EQ(sink->framesWritten(), 400);
    EXPECT_FALSE(sink->failed());
  }
  EXPECT_EQ(Contents(take.chain()), Ramp(400));
  EXPECT_EQ(trail.end(), 400);
  EXPECT_EQ(trail.Latest(100).peaks.back(), 400);
  // A sink that cannot write shows as failed through the trail, with its reason.
  audio::SinkHandle broken = TrailSink(audio::SinkHandle(audio::MakeRef<audio::LMemorySoundSink>(0, 1)), trail);
  EXPECT_TRUE(broken->failed());
}

}  // namespace
}  // namespace quillet::devices
