#pragma once
// A plug-in as a source filter: the input is read in fixed blocks, turned into floats,
// run through a processor (the plug-in in this process, or in quillet-plugin-host),
// and turned back into samples, with the latency the plug-in reports trimmed off the
// front so that the output lines up with the input.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "effects/pass.h"
#include "effects/plugins/plugin_info.h"

namespace quillet::effects::plugins {

class LPluginProcessor {
 public:
  virtual ~LPluginProcessor() = default;
  // Runs frames frames: in and out hold channels x frames floats, channel after channel.
  // False with *why when the plug-in could not run.
  virtual bool Process(const float* in, float* out, std::size_t frames, std::string* why) = 0;
  // Frames the output lags the input; read after the first Process.
  virtual std::int64_t Latency() const = 0;
};

// Makes a started processor, or null with *why. Called again when the filter seeks,
// so that a stateful plug-in starts afresh.
using ProcessorFactory = std::function<std::unique_ptr<LPluginProcessor>(std::string* why)>;

// name is the plug-in's, for messages.
SourceHandle MakePluginFilter(SourceHandle input, ProcessorFactory open, std::string name);

// The plug-in run here: info's library loaded into this process.
std::unique_ptr<LPluginProcessor> OpenLadspaHere(const PluginInfo& info, const std::vector<float>& values,
                                                 std::int32_t rate, int channels, std::string* why);

// The plug-in (LADSPA or LV2) run in a quillet-plugin-host process of its own, so that
// a plug-in that crashes fails the pass instead of ending the program.
std::unique_ptr<LPluginProcessor> OpenHosted(const PluginInfo& info, const std::vector<float>& values,
                                                   std::int32_t rate, int channels, std::string* why);

// The filter running info (LADSPA or LV2) over input with the control values (one per
// info.controls), in quillet-plugin-host when hosted. A plug-in that cannot be loaded
// or started gives a failed source with the reason.
SourceHandle MakePluginEffectFilter(SourceHandle input, const PluginInfo& info, std::vector<float> values,
                                    bool hosted = true);

// Where quillet-plugin-host is: $QUILLET_PLUGIN_HOST, beside this program, or on PATH;
// empty when nowhere.
std::string PluginHostProgram();

// A VST library read in quillet-plugin-host: loading one runs its code, and a crash
// there must leave this program standing. The same answers as LoadVstInfo.
bool LoadVstInfoHosted(const std::string& path, PluginInfo& info, std::string* why);

// quillet-plugin-host's words for showing the VST plug-in path's own editor over the
// X11 window parent (0: none) at values, and its answer read back: the values as the
// person left them, or false with *why.
std::vector<std::string> VstEditorCommand(const std::string& path, unsigned long parent,
                                          const std::vector<float>& values);
bool ReadVstEditorAnswer(const std::string& output, std::vector<float>& values, std::string* why);

// The host's side: serves one plug-in on the descriptors in and out until in ends.
// Returns the exit status.
int ServePlugin(int in, int out, const std::vector<std::string>& args);

}  // namespace quillet::effects::plugins
