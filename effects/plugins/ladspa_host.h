#pragma once
// LADSPA plug-ins: found along LADSPA_PATH, run as a source filter. A mono plug-in runs
// once per channel of the document; one whose audio ports match the channel count runs
// once over all of them; any other is refused before anything runs.

#include <memory>
#include <string>
#include <vector>

#include "effects/pass.h"
#include "effects/plugins/plugin_filter.h"
#include "effects/plugins/plugin_info.h"

namespace quillet::effects::plugins {

// The folders searched: pathValue (LADSPA_PATH) split at ':', or, when it is unset or
// empty, /usr/lib/ladspa, /usr/local/lib/ladspa and home/.ladspa.
std::vector<std::string> LadspaFolders(const char* pathValue, const char* home);
// LadspaFolders of this process's environment.
std::vector<std::string> LadspaFoldersFromEnvironment();

// The *.so files of folder, sorted; none when it cannot be read.
std::vector<std::string> SharedObjectsIn(const std::string& folder);

// Every plug-in of every library in folders, in folder then file order.
std::vector<PluginInfo> ScanLadspa(const std::vector<std::string>& folders);

// The plug-in named by its label or unique id; false with *why when none (or more than
// one with that label) is found.
bool FindLadspa(const std::vector<std::string>& folders, const std::string& id, PluginInfo& info,
                std::string* why);

// Whether a plug-in with these audio ports can run on channels; otherwise the message.
std::string CheckChannels(const PluginInfo& info, int channels);

// The plug-in of library path with unique id, described as a scan would.
bool LoadLadspaInfo(const std::string& path, const std::string& id, PluginInfo& info, std::string* why);

}  // namespace quillet::effects::plugins
