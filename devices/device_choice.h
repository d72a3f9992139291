#pragma once
// Which sound device to use, from the settings. Devices are stored by their ALSA
// name ("default", "pulse", "hw:CARD=...,DEV=0"), since card numbers move when
// devices come and go; the number of an older list position is still understood
// (0 is the default device). A stored device that is no longer there gives the
// default device and a message saying so, never a silent change.

#include <string>
#include <vector>

#include "platform/sound_device.h"
#include "settings/settings.h"

namespace quillet::devices {

// Where each device choice is kept: section and key, as a device name.
struct DeviceSetting {
  const char* section;
  const char* key;
  platform::StreamDirection direction;
};
// The Play commands' output.
inline constexpr DeviceSetting kPlayDevice{"Settings", "SoundOutDevice", platform::StreamDirection::Playback};
// The record dialog's playback and its recording device.
inline constexpr DeviceSetting kRecordPlayerDevice{"Player", "Device", platform::StreamDirection::Playback};
inline constexpr DeviceSetting kRecordDevice{"Recorder", "Device", platform::StreamDirection::Capture};

// The list entry shown for the default device of a direction.
const char* DefaultDeviceLabel(platform::StreamDirection direction);

struct DeviceChoice {
  std::string name;     // what to open
  std::string message;  // set when the stored device was replaced by the default
};

// stored as found in the settings (a name, a list position, or empty).
DeviceChoice ResolveDevice(const std::vector<platform::SoundDeviceName>& devices, const std::string& stored,
                           platform::StreamDirection direction);
DeviceChoice ChooseDevice(platform::SoundSystem& system, settings::Settings& settings,
                          const DeviceSetting& where);
void StoreDevice(settings::Settings& settings, const DeviceSetting& where, const std::string& name);

}  // namespace quillet::devices
