// The plug-in texts from outside: "LABEL,PORT=VALUE" settings (quillet-cli, stored
// values) resolved against a plug-in's controls, espeak-ng's voice listing and the
// values a VST editor window hands back. The first byte picks the reader; values must
// stay inside each control's range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "effects/plugins/plugin_filter.h"
#include "effects/plugins/plugin_info.h"
#include "effects/plugins/speech.h"

using namespace quillet::effects::plugins;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 3 == 2) {
    std::vector<float> values{0.5f};
    std::string why;
    if (!ReadVstEditorAnswer(rest, values, &why)) return values.size() == 1 ? 0 : (std::abort(), 0);
    for (float v : values)
      if (!(v >= 0 && v <= 1)) std::abort();
  } else if (data[0] % 3 == 0) {
    PluginInfo info;
    info.name = info.id = "fuzz";
    info.controls = {{.index = 2, .symbol = "gain", .name = "Gain", .min = 0, .max = 4, .def = 1},
                     {.index = 3, .symbol = "on", .name = "On", .min = 0, .max = 1, .def = 0, .toggled = true},
                     {.index = 4, .symbol = "n", .name = "N", .min = -5, .max = 5, .def = 0, .integer = true}};
    PluginRequest request;
    std::string why;
    if (!ParsePluginRequest(rest, request, &why)) return why.empty() ? (std::abort(), 0) : 0;
    std::vector<float> values;
    if (!ResolveControls(info, request, values, &why)) return 0;
    if (values.size() != info.controls.size()) std::abort();
    for (std::size_t i = 0; i < values.size(); ++i)
      if (!(values[i] >= info.controls[i].min && values[i] <= info.controls[i].max)) std::abort();
    PluginRequest back;
    if (!ParsePluginRequest(FormatPluginRequest(info, values), back, &why)) std::abort();
  } else {
    const std::vector<Voice> voices = ParseVoices(rest);
    const int i = FindVoice(voices, rest.substr(0, rest.find('\n')));
    if (i >= int(voices.size())) std::abort();
  }
  return 0;
}
