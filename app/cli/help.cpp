#include <string>

#include "app/cli/cli.h"

namespace quillet::app {
namespace {

void PrintCommandLine(std::FILE* out, const CliCommand& c) {
  std::string left = std::string(c.name) + " " + std::string(c.usage);
  std::fprintf(out, "  %-28s %.*s\n", left.c_str(), static_cast<int>(c.summary.size()),
               c.summary.data());
}

// What a parameter takes: its range and unit, or its choices, and where it comes from
// when it is not given.
std::string Describe(const core::ParamInfo& f) {
  std::string d;
  switch (f.kind) {
    case core::ParamKind::Int:
      d = std::to_string(f.min) + ".." + std::to_string(f.max);
      if (!f.unit.empty()) d += " " + std::string(f.unit);
      break;
    case core::ParamKind::Bool: d = "yes or no (1 or 0)"; break;
    case core::ParamKind::Choice:
      for (std::size_t i = 0; i < f.choices.size(); ++i)
        d += (i ? ", " : "") + std::to_string(i) + " " + std::string(f.choices[i]);
      break;
    case core::ParamKind::Text: d = f.unit.empty() ? "text" : std::string(f.unit); break;
    case core::ParamKind::OpenPath: d = "a file to read"; break;
    case core::ParamKind::SavePath: d = "a file to write"; break;
  }
  if (f.required) return d + "; must be given";
  if (core::IsTextKind(f.kind))
    return f.textDefault.empty() ? d : d + "; default \"" + std::string(f.textDefault) + "\"";
  d += "; default " + std::to_string(f.def);
  if (!f.key.empty()) d += " (stored: " + std::string(f.section) + "/" + std::string(f.key) + ")";
  return d;
}

}  // namespace

void PrintApplyCommands(std::FILE* out, const core::CommandRegistry& registry, bool details) {
  for (const core::Command& c : registry.all()) {
    if (c.cliName.empty() || !c.run) continue;
    std::string left = c.cliName;
    if (c.params) left += ":" + core::ParamSet(*c.params).Usage();
    std::string label = c.params ? std::string(c.params->title) : core::MenuLabel(c.menuText);
    if (label.ends_with("...")) label.resize(label.size() - 3);
    if (left.size() > 30)
      std::fprintf(out, "  %s\n  %-30s %s\n", left.c_str(), "", label.c_str());
    else
      std::fprintf(out, "  %-30s %s\n", left.c_str(), label.c_str());
    if (!details || !c.params) continue;
    for (const core::ParamInfo& f : c.params->fields)
      std::fprintf(out, "  %-30s   %.*s: %s\n", "", static_cast<int>(f.name.size()), f.name.data(),
                   Describe(f).c_str());
  }
}

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
      if (c.run == &RunApplyCommand) {
        std::fputs("\nEach command takes its parameters in the order shown; one left out takes "
                   "the value its dialog would start from.\n",
                   context.out);
        std::fputs("Commands:\n", context.out);
        PrintApplyCommands(context.out, context.registry, true);
      }
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
  if (context.registry.all().empty()) return platform::kTaskDone;
  std::fputs("\nCommands of apply (COMMAND[:P1,P2,...]):\n", out);
  PrintApplyCommands(out, context.registry, true);
  return platform::kTaskDone;
}

}  // namespace quillet::app
