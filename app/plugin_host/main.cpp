// quillet-plugin-host ladspa|lv2|vst PATH ID RATE CHANNELS [VALUE...]: runs one plug-in for the
// editor or quillet-cli, reading blocks on stdin and answering on stdout, so that a
// plug-in that crashes takes only this process with it. quillet-plugin-host describe-vst
// PATH reads a VST library's names and parameters the same way.
#include <string>
#include <vector>

#include "effects/plugins/plugin_filter.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quillet::effects::plugins::ServePlugin(0, 1, args);
}
