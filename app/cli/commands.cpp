#include "app/cli/cli.h"

namespace quillet::app {

// One row per command, each implemented in its own file of this folder.
std::span<const CliCommand> Commands() {
  static constexpr CliCommand kCommands[] = {
      {"help", "[COMMAND]", "show this help, or the usage of one command", &RunHelp},
  };
  return kCommands;
}

}  // namespace quillet::app
