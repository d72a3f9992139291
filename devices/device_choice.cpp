#include "devices/device_choice.h"

#include <algorithm>
#include <charconv>

namespace quillet::devices {

using platform::StreamDirection;

const char* DefaultDeviceLabel(StreamDirection direction) {
  return direction == StreamDirection::Playback ? "[Default Sound Out]" : "[Default Sound In]";
}

DeviceChoice ResolveDevice(const std::vector<platform::SoundDeviceName>& devices, const std::string& stored,
                           StreamDirection direction) {
  const std::string def(platform::kDefaultSoundDevice);
  if (stored.empty() || stored == def) return {def, {}};
  const char* what = direction == StreamDirection::Playback ? "sound output device" : "sound input device";
  int index = 0;
  const auto [end, ec] = std::from_chars(stored.data(), stored.data() + stored.size(), index);
  if (ec == std::errc() && end == stored.data() + stored.size()) {
    // A list position: 0 the default, n the n-th device after it.
    if (index == 0) return {def, {}};
    std::vector<std::string> others;
    for (const auto& d : devices)
      if (d.name != def) others.push_back(d.name);
    if (index > 0 && static_cast<std::size_t>(index) <= others.size()) return {others[index - 1], {}};
    return {def, "The " + std::string(what) + " number " + stored +
                     " is not there any more; the default device is used instead."};
  }
  const bool listed = std::any_of(devices.begin(), devices.end(),
                                  [&](const platform::SoundDeviceName& d) { return d.name == stored; });
  if (listed) return {stored, {}};
  return {def, "The " + std::string(what) + " \"" + stored +
                   "\" was not found; the default device is used instead."};
}

DeviceChoice ChooseDevice(platform::SoundSystem& system, settings::Settings& settings,
                          const DeviceSetting& where) {
  const std::string stored = settings.GetString(where.section, where.key, "0");
  if (stored.empty() || stored == "0" || stored == platform::kDefaultSoundDevice)
    return {std::string(platform::kDefaultSoundDevice), {}};
  return ResolveDevice(system.ListDevices(where.direction), stored, where.direction);
}

void StoreDevice(settings::Settings& settings, const DeviceSetting& where, const std::string& name) {
  settings.SetString(where.section, where.key, name.empty() ? std::string(platform::kDefaultSoundDevice) : name);
}

}  // namespace quillet::devices
