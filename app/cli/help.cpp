#include <string>

#include "app/cli/cli.h"

namespace quillet::app {
namespace {

void PrintCommandLine(std::FILE* out, const CliCommand& c) {
  std::string left = std::string(c.name) + " " + std::string(c.usage);
  std::fprintf(out, "  %-28s %.*s\n", left.c_str(), static_cast<int>(c.summary.size()),
               c.summary.data());
}

}  // namespace

platform::TaskResult RunHelp(CommandContext& context) {
  if (context.args.size() > 1) {
    std::fprintf(context.err, "quillet-cli: help takes at most one command name\n");
    return platform::kTaskFailed;
  }
  if (context.args.size() == 1) {
    for (const CliCommand& c : context.commands) {
      if (c.name != context.args[0]) continue;
      std::fprintf(context.out, "usage: quillet-cli [OPTIONS] %.*s %.*s\n",
                   static_cast<int>(c.name.size()), c.name.data(),
                   static_cast<int>(c.usage.size()), c.usage.data());
      std::fprintf(context.out, "%.*s\n", static_cast<int>(c.summary.size()), c.summary.data());
      return platform::kTaskDone;
    }
    std::fprintf(context.err, "quillet-cli: unknown command \"%s\"\n", context.args[0].c_str());
    return platform::kTaskFailed;
  }
  std::FILE* out = context.out;
  std::fputs("usage: quillet-cli [OPTIONS] COMMAND [ARGS...]\n\nCommands:\n", out);
  for (const CliCommand& c : context.commands) PrintCommandLine(out, c);
  std::fputs(
      "\nOptions:\n"
      "  --settings DIR               use the settings files in DIR\n"
      "  --set SECTION/KEY=VALUE      override one setting for this run (repeatable)\n"
      "  --yes, -y                    answer questions with yes instead of asking\n"
      "  --help, -h                   show this help (or the command's usage)\n"
      "  --                           end of options\n"
      "\nExit status: 0 done, 1 cancelled, 2 failed.\n",
      out);
  return platform::kTaskDone;
}

}  // namespace quillet::app
