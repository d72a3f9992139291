#include "devices/record_dialog_model.h"

#include <algorithm>

#include "devices/device_choice.h"
#include "devices/player.h"

namespace quillet::devices {

namespace {
constexpr const char* kRecorder = "Recorder";
constexpr const char* kPlayer = "Player";

std::string StoredDevice(const settings::Settings& s, const char* section) {
  std::string v = s.GetString(section, "Device", "0");
  return v == "0" || v == platform::kDefaultSoundDevice ? std::string() : v;
}
}  // namespace

RecorderSettings RecorderSettings::Load(const settings::Settings& s) {
  RecorderSettings r;
  r.autostart = s.GetBool(kRecorder, "Autostart", true);
  r.autotrim = s.GetBool(kRecorder, "Autotrim", true);
  r.vor = s.GetBool(kRecorder, "Vor", false);
  r.thresholdDb = s.GetInt(kRecorder, "Threshold", -24);
  r.device = StoredDevice(s, kRecorder);
  r.channel = std::clamp(s.GetInt(kRecorder, "Channel", -1), -1, 0);
  r.volumeDb = std::clamp(s.GetInt(kRecorder, "Volume", 0), kMinVolumeDb, kMaxVolumeDb);
  r.playerDevice = StoredDevice(s, kPlayer);
  r.playerVolumeDb = std::clamp(s.GetInt(kPlayer, "VolumeDB", 0), kMinVolumeDb, kMaxVolumeDb);
  return r;
}

void RecorderSettings::Store(settings::Settings& s) const {
  s.SetBool(kRecorder, "Autostart", autostart);
  s.SetBool(kRecorder, "Autotrim", autotrim);
  s.SetBool(kRecorder, "Vor", vor);
  s.SetInt(kRecorder, "Threshold", thresholdDb);
  s.SetString(kRecorder, "Device", device.empty() ? platform::kDefaultSoundDevice : device);
  s.SetInt(kRecorder, "Channel", channel);
  s.SetInt(kRecorder, "Volume", volumeDb);
  s.SetString(kPlayer, "Device", playerDevice.empty() ? platform::kDefaultSoundDevice : playerDevice);
  s.SetInt(kPlayer, "VolumeDB", playerVolumeDb);
}

std::optional<std::string> RecorderSettings::Validate() const {
  if (thresholdDb < kMinThresholdDb || thresholdDb > kMaxThresholdDb)
    return "The threshold must be between " + std::to_string(kMinThresholdDb) + " and " +
           std::to_string(kMaxThresholdDb) + " dB.";
  if (volumeDb < kMinVolumeDb || volumeDb > kMaxVolumeDb)
    return "The volume must be between " + std::to_string(kMinVolumeDb) + " and " +
           std::to_string(kMaxVolumeDb) + " dB.";
  if (playerVolumeDb < kMinVolumeDb || playerVolumeDb > kMaxVolumeDb)
    return "The playback volume must be between " + std::to_string(kMinVolumeDb) + " and " +
           std::to_string(kMaxVolumeDb) + " dB.";
  return std::nullopt;
}

RecordOptions RecorderSettings::Options() const {
  RecordOptions o;
  o.device = device;
  o.quietLimitMs = vor ? kVoiceQuietMs : kNoQuietLimitMs;
  o.startThresholdDb = autotrim ? std::clamp(thresholdDb, kMinThresholdDb, kMaxThresholdDb) : kSilentLevel;
  o.inputGainDb = channel >= 0 ? volumeDb : 0;
  return o;
}

std::string_view TransportTip(TransportButton button, bool recording) {
  static constexpr std::string_view kRecording[] = {"Restart (F6)", "Rewind (<-)", "Re-Take (F7)",
                                                    "Record Next (F5)"};
  static constexpr std::string_view kIdle[] = {"Go to Start (Home)", "Rewind (<-)", "Forward (->)",
                                               "Go to End (End)"};
  const auto i = static_cast<std::size_t>(button);
  return recording ? kRecording[i] : kIdle[i];
}

RecordKeyAction ActionForKey(std::string_view key) {
  if (key == "F5") return RecordKeyAction::RecordNext;
  if (key == "F6") return RecordKeyAction::Restart;
  if (key == "F7") return RecordKeyAction::Retake;
  if (key == "F8") return RecordKeyAction::RecordFromPosition;
  return RecordKeyAction::None;
}

std::vector<DeviceEntry> DeviceList(platform::SoundSystem& system, platform::StreamDirection direction) {
  std::vector<DeviceEntry> list{{DefaultDeviceLabel(direction), std::string(platform::kDefaultSoundDevice)}};
  for (const platform::SoundDeviceName& d : system.ListDevices(direction)) {
    if (d.name == platform::kDefaultSoundDevice) continue;
    std::string label = d.description.substr(0, d.description.find('\n'));
    list.push_back({label.empty() ? d.name : label, d.name});
  }
  return list;
}

int DevicePosition(const std::vector<DeviceEntry>& list, const std::string& name) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].name == name) return static_cast<int>(i);
  return 0;
}

std::vector<std::string> InputList() { return {std::string(kSystemMixerInput), std::string(kStreamInput)}; }

RecordMixerLauncher::RecordMixerLauncher(std::string path) : path_(std::move(path)) {}
RecordMixerLauncher::~RecordMixerLauncher() = default;

std::vector<std::string> RecordMixerLauncher::Command() const {
  const auto find = [&](std::string_view name) {
    return path_.empty() ? platform::FindProgram(name) : platform::FindProgram(name, path_);
  };
  for (const char* mixer : {"pavucontrol", "pavucontrol-qt"})
    if (auto p = find(mixer); !p.empty()) return {p.string(), "--tab=2"};
  if (find("alsamixer").empty()) return {};
  // Terminals and how each is told what to run.
  static constexpr std::pair<const char*, const char*> kTerminals[] = {
      {"x-terminal-emulator", "-e"}, {"gnome-terminal", "--"}, {"konsole", "-e"},
      {"xfce4-terminal", "-x"},      {"xterm", "-e"}};
  for (const auto& [terminal, option] : kTerminals)
    if (auto p = find(terminal); !p.empty()) return {p.string(), option, "alsamixer", "--view=capture"};
  return {};
}

bool RecordMixerLauncher::Launch(std::string* message) {
  if (child_ && !child_->Poll()) return true;  // still running
  const std::vector<std::string> argv = Command();
  if (argv.empty()) {
    if (message)
      *message = "No recording volume program is installed. Install pavucontrol (or alsamixer and a "
                 "terminal) to set the recording volume.";
    return false;
  }
  auto child = std::make_unique<platform::ChildProcess>();
  platform::ProcessOptions options;
  options.argv = argv;
  options.error = platform::StreamMode::Null;
  if (!child->Start(options)) {
    if (message) *message = "The recording volume program " + argv[0] + " could not be started.";
    return false;
  }
  child_ = std::move(child);
  return true;
}

}  // namespace quillet::devices
