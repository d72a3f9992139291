#pragma once
// The plug-in effects as commands: "LADSPA/LV2 Effects..." and "VST Plugins..." in the
// Effects menu and the quillet-cli names ladspa, lv2 and vst. Values are kept per
// plug-in in the settings store.

#include <string>
#include <vector>

#include "core/command_table.h"
#include "effects/plugins/plugin_info.h"

namespace quillet::effects::plugins {

inline constexpr char kPluginValuesSection[] = "PluginValues";
inline constexpr char kLadspaFailure[] = "Applying LADSPA effect FAILED.";
inline constexpr char kLv2Failure[] = "Applying LV2 effect FAILED.";

// Every installed LADSPA and LV2 effect, and the VST plug-ins of the VST folder.
std::vector<PluginInfo> InstalledPlugins(const settings::Settings& settings);

// The values a run of info uses: its stored ones (settings' PluginValues, key
// "family:id"), then request's on top. Refuses unknown ports and bad numbers.
bool ValuesFor(const PluginInfo& info, const PluginRequest& request, const settings::Settings& settings,
               std::vector<float>& values, std::string* why);
void StoreValues(const PluginInfo& info, const std::vector<float>& values, settings::Settings& settings);

// Runs a "LABEL,PORT=VALUE..." (ladspa), "URI,SYMBOL=VALUE..." (lv2) or
// "PATH,INDEX=VALUE..." (vst) text on doc.
platform::TaskResult PluginEffectCommand(core::EditContext& ctx, core::WaveDocument& doc,
                                         const std::string& family, const std::string& text);

void RegisterPluginCommands(core::CommandRegistry& r);
// An entry per plug-in under its family's submenu of the Effects menu, at the IDs
// beyond the fixed ones: its dialog opens on that plug-in with its stored values.
void RegisterInstalledPlugins(core::CommandRegistry& r, const std::vector<PluginInfo>& plugins);

}  // namespace quillet::effects::plugins
