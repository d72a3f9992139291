#pragma once
// LV2 plug-ins through lilv, from its standard bundle path (LV2_PATH when set). Only
// plug-ins made of audio and control ports and needing no host features are offered:
// the others cannot be run without an atom or URID host we do not have.

#include <memory>
#include <string>
#include <vector>

#include "effects/plugins/plugin_filter.h"
#include "effects/plugins/plugin_info.h"

namespace quillet::effects::plugins {

std::vector<PluginInfo> ScanLv2();
// The plug-in with this URI; false with *why when it is not installed or not usable.
bool FindLv2(const std::string& uri, PluginInfo& info, std::string* why);

std::unique_ptr<LPluginProcessor> OpenLv2Here(const PluginInfo& info, const std::vector<float>& values,
                                              std::int32_t rate, int channels, std::string* why);

}  // namespace quillet::effects::plugins
