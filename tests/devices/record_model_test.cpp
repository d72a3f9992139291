#include "devices/record_dialog_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "devices/device_choice.h"
#include "fixtures/temp_dir.h"
#include "platform/sound_device_fake.h"

namespace quillet::devices {
namespace {

using platform::StreamDirection;

struct SettingsFixture : ::testing::Test {
  testing::TempDir dir;
  settings::Settings settings{settings::FolderLocations(dir.path())};
  platform::FakeSoundSystem system;
  SettingsFixture() {
    system.SetDevices({{"default", "Default"},
                       {"hw:CARD=PCH,DEV=0", "HDA Intel PCH\nALC892 Analog"},
                       {"pulse", "PulseAudio Sound Server"}});
  }
};

TEST_F(SettingsFixture, RecorderSettingsDefaultRoundTripAndFeedTheRecorder) {
  RecorderSettings r = RecorderSettings::Load(settings);
  EXPECT_TRUE(r.autostart);
  EXPECT_TRUE(r.autotrim);
  EXPECT_FALSE(r.vor);
  EXPECT_EQ(r.thresholdDb, -24);
  EXPECT_EQ(r.device, "");
  EXPECT_EQ(r.channel, -1);
  EXPECT_EQ(r.volumeDb, 0);
  RecordOptions o = r.Options();
  EXPECT_EQ(o.startThresholdDb, -24);
  EXPECT_EQ(o.quietLimitMs, kNoQuietLimitMs);
  EXPECT_EQ(o.inputGainDb, 0);

  r.autotrim = false;
  r.vor = true;
  r.thresholdDb = -30;
  r.device = "pulse";
  r.channel = 0;
  r.volumeDb = -6;
  r.playerDevice = "hw:CARD=PCH,DEV=0";
  r.playerVolumeDb = 3;
  r.Store(settings);
  EXPECT_EQ(settings.GetString("Recorder", "Vor", ""), "1");
  EXPECT_EQ(settings.GetString("Recorder", "Threshold", ""), "-30");
  EXPECT_EQ(settings.GetString("Player", "VolumeDB", ""), "3");
  const RecorderSettings back = RecorderSettings::Load(settings);
  EXPECT_FALSE(back.autotrim);
  EXPECT_TRUE(back.vor);
  EXPECT_EQ(back.device, "pulse");
  EXPECT_EQ(back.playerDevice, "hw:CARD=PCH,DEV=0");
  EXPECT_EQ(back.volumeDb, -6);
  o = back.Options();
  EXPECT_EQ(o.startThresholdDb, kSilentLevel);  // auto trim off writes from the first buffer
  EXPECT_EQ(o.quietLimitMs, kVoiceQuietMs);
  EXPECT_EQ(o.inputGainDb, -6);  // the stream's own volume line is chosen
}

TEST_F(SettingsFixture, ValidationNamesTheRange) {
  RecorderSettings r;
  for (int t : {-40, -24, -6}) {
    r.thresholdDb = t;
    EXPECT_FALSE(r.Validate()) << t;
  }
  for (int t : {-41, -5, 0}) {
    r.thresholdDb = t;
    ASSERT_TRUE(r.Validate()) << t;
    EXPECT_EQ(*r.Validate(), "The threshold must be between -40 and -6 dB.");
  }
  r.thresholdDb = -24;
  r.volumeDb = 11;
  ASSERT_TRUE(r.Validate());
  EXPECT_NE(r.Validate()->find("volume"), std::string::npos);
  // Stored values out of range are brought back into it on reading.
  settings.SetString("Recorder", "Volume", "99");
  settings.SetString("Recorder", "Channel", "7");
  const RecorderSettings loaded = RecorderSettings::Load(settings);
  EXPECT_EQ(loaded.volumeDb, kMaxVolumeDb);
  EXPECT_EQ(loaded.channel, 0);
}

TEST_F(SettingsFixture, TipsKeysAndLists) {
  EXPECT_EQ(TransportTip(TransportButton::First, true), "Restart (F6)");
  EXPECT_EQ(TransportTip(TransportButton::Third, true), "Re-Take (F7)");
  EXPECT_EQ(TransportTip(TransportButton::Fourth, true), "Record Next (F5)");
  EXPECT_EQ(TransportTip(TransportButton::First, false), "Go to Start (Home)");
  EXPECT_EQ(TransportTip(TransportButton::Third, false), "Forward (->)");
  EXPECT_EQ(TransportTip(TransportButton::Fourth, false), "Go to End (End)");
  EXPECT_EQ(ActionForKey("F5"), RecordKeyAction::RecordNext);
  EXPECT_EQ(ActionForKey("F6"), RecordKeyAction::Restart);
  EXPECT_EQ(ActionForKey("F7"), RecordKeyAction::Retake);
  EXPECT_EQ(ActionForKey("F8"), RecordKeyAction::RecordFromPosition);
  EXPECT_EQ(ActionForKey("F9"), RecordKeyAction::None);

  const auto list = DeviceList(system, StreamDirection::Capture);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].label, "[Default Sound In]");
  EXPECT_EQ(list[0].name, "default");
  EXPECT_EQ(list[1].label, "HDA Intel PCH");  // the card line of the description
  EXPECT_EQ(DevicePosition(list, "pulse"), 2);
  EXPECT_EQ(DevicePosition(list, "gone"), 0);
  EXPECT_EQ(DeviceList(system, StreamDirection::Playback)[0].label, "[Default Sound Out]");
  EXPECT_EQ(InputList().front(), kSystemMixerInput);
}

TEST_F(SettingsFixture, StoredDevicesResolveOrFallBackWithAMessage) {
  EXPECT_EQ(ChooseDevice(system, settings, kPlayDevice).name, "default");  // nothing stored
  StoreDevice(settings, kRecordDevice, "pulse");
  DeviceChoice c = ChooseDevice(system, settings, kRecordDevice);
  EXPECT_EQ(c.name, "pulse");
  EXPECT_TRUE(c.message.empty());

  settings.SetString("Settings", "SoundOutDevice", "hw:CARD=USB,DEV=0");  // unplugged
  c = ChooseDevice(system, settings, kPlayDevice);
  EXPECT_EQ(c.name, "default");
  EXPECT_NE(c.message.find("\"hw:CARD=USB,DEV=0\" was not found"), std::string::npos) << c.message;
  EXPECT_NE(c.message.find("output"), std::string::npos);

  // Older list positions: 0 the default, then the devices after it.
  settings.SetString("Player", "Device", "2");
  EXPECT_EQ(ChooseDevice(system, settings, kRecordPlayerDevice).name, "pulse");
  settings.SetString("Player", "Device", "3");
  c = ChooseDevice(system, settings, kRecordPlayerDevice);
  EXPECT_EQ(c.name, "default");
  EXPECT_FALSE(c.message.empty());
  settings.SetString("Player", "Device", "0");
  EXPECT_EQ(ChooseDevice(system, settings, kRecordPlayerDevice).name, "default");
}

// A stand-in program that writes its arguments into a file, then waits a little.
void FakeProgram(const std::filesystem::path& dir, const std::string& name) {
  const auto path = dir / name;
  testing::WriteFileBytes(path, "#!/bin/sh\necho \"$0 $*\" > \"" + (dir / "ran").string() + "\"\nsleep 0.2\n");
  chmod(path.c_str(), 0755);
}

std::string WaitForRun(const std::filesystem::path& dir) {
  for (int i = 0; i < 500 && !std::filesystem::exists(dir / "ran"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return std::filesystem::exists(dir / "ran") ? testing::ReadFileBytes(dir / "ran") : std::string();
}

TEST(RecordMixer, PrefersPavucontrolThenAlsamixerInATerminal) {
  testing::TempDir bin;
  RecordMixerLauncher none(bin.path().string());
  std::string message;
  EXPECT_FALSE(none.Launch(&message));
  EXPECT_NE(message.find("No recording volume program is installed"), std::string::npos);

  FakeProgram(bin.path(), "alsamixer");
  EXPECT_TRUE(RecordMixerLauncher(bin.path().string()).Command().empty()) << "alsamixer needs a terminal";
  FakeProgram(bin.path(), "xterm");
  {
    RecordMixerLauncher launcher(bin.path().string());
    ASSERT_TRUE(launcher.Launch(&message)) << message;
    const std::string ran = WaitForRun(bin.path());
    EXPECT_NE(ran.find("xterm -e alsamixer --view=capture"), std::string::npos) << ran;
  }
  std::filesystem::remove(bin.path() / "ran");
  FakeProgram(bin.path(), "pavucontrol");
  RecordMixerLauncher launcher(bin.path().string());
  ASSERT_TRUE(launcher.Launch(&message));
  EXPECT_TRUE(launcher.Launch(&message));  // still running: not started twice
  EXPECT_NE(WaitForRun(bin.path()).find("pavucontrol --tab=2"), std::string::npos);
}

}  // namespace
}  // namespace quillet::devices
