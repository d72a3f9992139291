#include "app/cli/cli.h"
#include "effects/plugins/plugin_commands.h"
#include "settings/settings.h"

namespace quillet::app {

// plugins: every installed effect with its ports, one block per plug-in.
platform::TaskResult RunPluginsCommand(CommandContext& c) {
  if (!c.args.empty()) {
    std::fputs("usage: quillet-cli plugins\n", c.err);
    return platform::kTaskFailed;
  }
  for (const effects::plugins::PluginInfo& p : effects::plugins::InstalledPlugins(settings::Settings::Process()))
    std::fputs(effects::plugins::DescribePlugin(p).c_str(), c.out);
  return platform::kTaskDone;
}

}  // namespace quillet::app
