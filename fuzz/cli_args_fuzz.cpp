// quillet-cli's argument parser over arbitrary command lines: NUL-separated words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace {

quillet::platform::TaskResult Nothing(quillet::app::CommandContext&) {
  return quillet::platform::kTaskDone;
}

// Commands as later issues add them, so that dispatch past the command name is reached.
constexpr quillet::app::CliCommand kTable[] = {
    {"info", "FILE", "", &Nothing},
    {"apply", "IN OUT COMMAND...", "", &Nothing},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size && args.size() <= 256; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  for (auto table : {quillet::app::Commands(), std::span<const quillet::app::CliCommand>(kTable)}) {
    const quillet::app::CommandLine cl = quillet::app::ParseCommandLine(args, table);
    // Accepted only with something to run.
    if (cl.error.empty() && !cl.command && !cl.help) std::abort();
    if (cl.command && (cl.command < table.data() || cl.command >= table.data() + table.size()))
      std::abort();
    for (const auto& o : cl.overrides)
      if (o.section.empty() || o.key.empty()) std::abort();
  }
  return 0;
}
