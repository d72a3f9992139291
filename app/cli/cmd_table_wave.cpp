// info as a row of the command table: their output goes to the table's streams.
#include <sstream>

#include "app/cli/cli.h"
#include "app/cli/cli_commands.h"

namespace quillet::app {
namespace {

platform::TaskResult Forward(CommandContext& c,
                             platform::TaskResult (*run)(const std::vector<std::string>&,
                                                         std::ostream&, std::ostream&,
                                                         platform::ProgressWindowFactory&)) {
  std::ostringstream out, err;
  const platform::TaskResult rc = run(c.args, out, err, c.progress);
  std::fputs(out.str().c_str(), c.out);
  std::fputs(err.str().c_str(), c.err);
  return rc;
}

}  // namespace

platform::TaskResult RunInfoCommand(CommandContext& context) { return Forward(context, &RunInfo); }

}  // namespace quillet::app
