#pragma once
// Native Linux VST 2 plug-ins (.so files in "Settings"/"VSTFolder"), loaded through our
// own ABI header. Only plug-ins that process in place are used: the old accumulating
// call would hand back untouched buffers as if they were the effect.

#include <memory>
#include <string>
#include <vector>

#include "effects/plugins/plugin_filter.h"
#include "effects/plugins/plugin_info.h"
#include "settings/settings.h"

namespace quillet::effects::plugins {

inline constexpr char kVstFailure[] = "Applying VST effect FAILED.";

// "Settings"/"VSTFolder", empty by default; /usr/lib/lxvst is where Debian puts them.
std::string VstFolder(const settings::Settings& settings);
// The *.so files of folder, sorted; empty when there is none or no folder.
std::vector<std::string> VstLibraries(const std::string& folder);

// The plug-in of library path: its name, channels and parameters (range 0..1, default
// its current value). False with *why for a library without the entry point, a wrong
// magic or no in-place processing.
bool LoadVstInfo(const std::string& path, PluginInfo& info, std::string* why);

// The window a plug-in's own editor is shown in, from the platform.
class LVstEditorWindow {
 public:
  virtual ~LVstEditorWindow() = default;
  // The native window the editor goes into, width x height; null with *why.
  virtual void* Open(int width, int height, const std::string& title, std::string* why) = 0;
  // Handles what is pending and waits a little; false once the window is to close.
  virtual bool Pump() = 0;
};

// Opens path at values and shows its editor in window until that closes; values then
// hold the parameters as the person left them.
bool RunVstEditor(const std::string& path, std::vector<float>& values, LVstEditorWindow& window, std::string* why);

std::unique_ptr<LPluginProcessor> OpenVstHere(const PluginInfo& info, const std::vector<float>& values,
                                              std::int32_t rate, int channels, std::string* why);

}  // namespace quillet::effects::plugins
