#pragma once
// The record dialog as a plain model: its stored values ("Recorder" and "Player"
// sections), validation, the device and input lists, the transport tips and keys,
// and the recorder options it starts with. The record mixer is a per-stream gain on
// the recording (the system mixer is never touched); the desktop's own recording
// volume program is started on request.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/player.h"
#include "devices/recorder.h"
#include "platform/process.h"
#include "platform/sound_device.h"
#include "settings/settings.h"

namespace quillet::devices {

// The threshold field's range, in dB.
inline constexpr int kMinThresholdDb = -40;
inline constexpr int kMaxThresholdDb = -6;
// Quiet that pauses a voice-activated recording, and "never" otherwise.
inline constexpr std::int64_t kVoiceQuietMs = 5000;
inline constexpr std::int64_t kNoQuietLimitMs = 216000000;

// The first entry of the input list: no input volume of ours, the button that opens
// the desktop's recording volume program instead.
inline constexpr std::string_view kSystemMixerInput = "System Record Mixer";
inline constexpr std::string_view kOpenMixerButton = "Open System Record Mixer...";
// The one input line of a capture stream: its own software volume.
inline constexpr std::string_view kStreamInput = "Recording Volume";

struct RecorderSettings {
  bool autostart = true;
  bool autotrim = true;
  bool vor = false;        // voice activated
  int thresholdDb = -24;
  std::string device;      // recording device name; empty: default
  int channel = -1;        // input line: -1 the system mixer, 0 the stream's volume
  int volumeDb = 0;        // input line volume
  std::string playerDevice;  // the dialog's playback device name; empty: default
  int playerVolumeDb = 0;

  static RecorderSettings Load(const settings::Settings& settings);
  void Store(settings::Settings& settings) const;
  // The message of the first invalid value ("Invalid value" is the caption).
  std::optional<std::string> Validate() const;
  // What the recorder starts with (device as stored; resolve it with ChooseDevice).
  RecordOptions Options() const;
};

enum class TransportButton { First, Second, Third, Fourth };
// The tool tips of the four transport buttons, while recording or not.
std::string_view TransportTip(TransportButton button, bool recording);

// What a key does while the dialog has focus.
enum class RecordKeyAction { None, RecordNext, Restart, Retake, RecordFromPosition };
// key: "F5" to "F8".
RecordKeyAction ActionForKey(std::string_view key);
// The dialog's result when it ends with "Record Next".
inline constexpr int kRecordNextResult = 2;

struct DeviceEntry {
  std::string label;  // shown
  std::string name;   // stored and opened
};
// "[Default Sound In]" (or Out) then each device, by the first line of its description.
std::vector<DeviceEntry> DeviceList(platform::SoundSystem& system, platform::StreamDirection direction);
// The list position of a stored name (0, the default, when it is not listed).
int DevicePosition(const std::vector<DeviceEntry>& list, const std::string& name);
// kSystemMixerInput then kStreamInput.
std::vector<std::string> InputList();

// Starts the desktop's recording volume program: pavucontrol on its recording tab,
// else alsamixer's capture view in a terminal. The program runs while this object
// lives; starting it again while it runs does nothing.
class RecordMixerLauncher {
 public:
  // path: where to look for the programs (empty: $PATH).
  explicit RecordMixerLauncher(std::string path = {});
  ~RecordMixerLauncher();
  // True when it started (or is still running); otherwise *message says what to install.
  bool Launch(std::string* message);
  // The command line it would run; empty when none of the programs is installed.
  std::vector<std::string> Command() const;

 private:
  std::string path_;
  std::unique_ptr<platform::ChildProcess> child_;
};

}  // namespace quillet::devices
