// An effect dialog's preview on a real ALSA device (the file plugin): what reaches
// the device, and a restart when a value is edited while it plays.
#include <gtest/gtest.h>

#include "core/segment_sink.h"
#include "device_test_support.h"
#include "devices/document_playback.h"
#include "devices/peak_limit.h"
#include "devices/stretch_play.h"
#include "effects/echo.h"
#include "effects/preview.h"

namespace quillet::devices {
namespace {

using namespace testsupport;
using audio::AudioBlock;
using audio::FrameCount;

struct PreviewOnAlsa : ::testing::Test {
  PrivateAlsa alsa;
  testing::TempDir dir;
  core::SegmentStore store{dir.path()};
  settings::Settings settings{settings::FolderLocations(dir / "settings")};
  platform::NotificationQueue queue;
  PlayerLog log;
  LSoundPlayer player{platform::AlsaSoundSystem(), queue};
  PlayerControl control{player, platform::AlsaSoundSystem(), settings, TimeStretchAdaptor()};
  AudioBlock block = Noise(1, 40000, 0x7FFF0 / 2, 9);

  core::WaveDocument Document() {
    core::AudioChain chain(&store);
    auto sink = core::ChainOpenSink(chain, 8000, 1);
    sink->write(block.data(), block.frames());
    EXPECT_TRUE(sink->Finish());
    sink.reset();
    return core::WaveDocument(std::move(chain));
  }
  static effects::PreviewBuild Echo(effects::EchoParams p) {
    return [p](audio::SourceHandle in, std::string*) { return effects::MakeEcho(std::move(in), p); };
  }
  std::vector<std::int16_t> Expected(effects::EchoParams p, FrameCount from, FrameCount to) {
    AudioBlock part(1, to - from);
    std::copy(block.data() + from, block.data() + to, part.data());
    LPeakLimitSource heard(effects::MakeEcho(Memory(8000, part), p), kPlaybackLimit);
    return Pcm16(ReadAll(heard));
  }
};

TEST_F(PreviewOnAlsa, PlaysTheSelectionThroughTheFilterAndRestartsOnAnEdit) {
  player.InstallListener(&log, 0);
  core::WaveDocument doc = Document();
  doc.SetSelection(10000, 30000, 10000);
  effects::EffectPreview preview(&control, doc);
  ASSERT_TRUE(preview.Press(Echo({100, 50})).ok());
  ASSERT_TRUE(PumpUntil(queue, [&] { return log.stopped == 1; }));
  EXPECT_EQ(alsa.PlayedSamples(), Expected({100, 50}, 10000, 30000));
  EXPECT_EQ(preview.caption(), "Pre&view");  // played to its end

  // An edit while it plays: the device hears the new filter from the start.
  ASSERT_TRUE(preview.Press(Echo({100, 50})).ok());
  EXPECT_EQ(preview.caption(), "&Stop");
  ASSERT_TRUE(preview.Edited(Echo({250, 30})).ok());
  ASSERT_TRUE(PumpUntil(queue, [&] { return !player.isOpen(); }));
  EXPECT_EQ(alsa.PlayedSamples(), Expected({250, 30}, 10000, 30000));

  // The button stops it; the device is let go.
  ASSERT_TRUE(preview.Press(Echo({100, 50})).ok());
  ASSERT_TRUE(preview.Press(Echo({100, 50})).ok());
  EXPECT_FALSE(player.isOpen());
  EXPECT_EQ(preview.caption(), "Pre&view");
}

}  // namespace
}  // namespace quillet::devices
