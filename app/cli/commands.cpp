#include "app/cli/cli.h"

namespace quillet::app {

// One row per command, each implemented in its own file of this folder.
std::span<const CliCommand> Commands() {
  static constexpr CliCommand kCommands[] = {
      {"help", "[COMMAND]", "show this help, or the usage of one command", &RunHelp},
      {"info", "FILE", "print the rate, channels, length and reader of an audio file", &RunInfoCommand},
      {"convert", "IN OUT", "open IN and save it as OUT with the stored format options", &RunConvertCommand},
  };
  return kCommands;
}

}  // namespace quillet::app
