#pragma once
// What a plug-in host knows of one installed effect, and the values a run sets on it.
// Shared by the LADSPA and LV2 hosts, the chooser dialog and quillet-cli's listing.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/sample.h"

namespace quillet::effects::plugins {

// One control input: the dialog's field and the value a run sets.
struct ControlPort {
  int index = 0;          // the plug-in's own port number
  std::string symbol;     // LV2's symbol; LADSPA's name
  std::string name;
  float min = 0, max = 1, def = 0;
  bool toggled = false;
  bool integer = false;
  bool logarithmic = false;
  std::vector<std::pair<float, std::string>> choices;  // enumerations, where given
};

struct PluginInfo {
  std::string family;  // "ladspa", "lv2"
  std::string id;      // LADSPA's unique id, LV2's URI
  std::string label;   // LADSPA's label; LV2's URI again
  std::string name;
  std::string path;    // the library
  int audioIns = 0, audioOuts = 0;
  bool hasEditor = false;  // a VST plug-in with a window of its own
  std::vector<ControlPort> controls;
};

// "LABEL,PORT=VALUE,..." split into the plug-in's name and its settings; a value that
// is no number gives the reason in *why.
struct PluginRequest {
  std::string id;
  std::vector<std::pair<std::string, float>> values;
};
bool ParsePluginRequest(std::string_view text, PluginRequest& request, std::string* why);

// Each control's value for a run: its default, then request's values by symbol, name
// (case ignored) or index, clamped to the port's range. Unknown names are refused.
bool ResolveControls(const PluginInfo& info, const PluginRequest& request, std::vector<float>& values,
                     std::string* why);

// The same in the form ParsePluginRequest reads, for the stored values.
std::string FormatPluginRequest(const PluginInfo& info, const std::vector<float>& values);

// One line per plug-in and one per port, for quillet-cli plugins.
std::string DescribePlugin(const PluginInfo& info);

// Full scale of the internal samples as floats see it (1.0).
inline constexpr float kFloatScale = 524272.0f;

// Internal samples to the plug-in's floats.
void SamplesToFloat(const audio::Sample* in, int stride, float* out, std::size_t frames);
// Back, truncated toward zero and saturated; NaN and infinity become silence. False when
// any sample was not a finite number.
bool FloatToSamples(const float* in, audio::Sample* out, int stride, std::size_t frames);

}  // namespace quillet::effects::plugins
