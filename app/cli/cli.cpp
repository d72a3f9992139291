#include "app/cli/cli.h"

#include <algorithm>
#include <charconv>
#include <system_error>

#include "app/cli/interrupt.h"
#include "platform/terminal_progress.h"
#include "platform/terminal_prompter.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

const CliCommand* FindCommand(std::span<const CliCommand> commands, std::string_view name) {
  for (const CliCommand& c : commands)
    if (c.name == name) return &c;
  return nullptr;
}

// "--name=value" or "--name value"; false when arg is not that option.
bool TakeValue(std::span<const std::string> args, std::size_t& i, std::string_view name,
               std::optional<std::string>& value) {
  const std::string_view arg = args[i];
  if (arg == name) {
    if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      value.reset();
    }
    return true;
  }
  if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
    value = std::string(arg.substr(name.size() + 1));
    return true;
  }
  return false;
}

}  // namespace

void PrintNotices(std::FILE* err, const std::vector<std::string>& notices) {
  for (std::size_t i = 0; i < notices.size(); ++i)
    if (std::find(notices.begin(), notices.begin() + std::ptrdiff_t(i), notices[i]) == notices.begin() + std::ptrdiff_t(i))
      std::fprintf(err, "quillet-cli: %s\n", notices[i].c_str());
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
  long long v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end) return std::nullopt;
  return v;
}

std::optional<SettingOverride> ParseSettingOverride(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::size_t eq = text.find('=', slash);
  if (eq == std::string_view::npos) return std::nullopt;
  SettingOverride o{std::string(text.substr(0, slash)),
                    std::string(text.substr(slash + 1, eq - slash - 1)),
                    std::string(text.substr(eq + 1))};
  if (o.section.empty() || o.key.empty() || o.section.find('=') != std::string::npos)
    return std::nullopt;
  return o;
}

CommandLine ParseCommandLine(std::span<const std::string> args,
                             std::span<const CliCommand> commands) {
  CommandLine cl;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<std::string> value;
    if (!optionsEnded) {
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      if (arg == "--help" || arg == "-h") {
        cl.help = true;
        continue;
      }
      if (arg == "--yes" || arg == "-y") {
        cl.assumeYes = true;
        continue;
      }
      if (TakeValue(args, i, "--settings", value)) {
        if (!value || value->empty()) {
          cl.error = "--settings needs a folder";
          return cl;
        }
        cl.settingsDir = *value;
        continue;
      }
      if (TakeValue(args, i, "--set", value)) {
        std::optional<SettingOverride> o;
        if (value) o = ParseSettingOverride(*value);
        if (!o) {
          cl.error = "--set needs SECTION/KEY=VALUE" +
                     (value ? ", not \"" + *value + "\"" : std::string());
          return cl;
        }
        cl.overrides.push_back(std::move(*o));
        continue;
      }
    }
    if (cl.command) {
      cl.args.push_back(arg);
      continue;
    }
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      cl.error = "unknown option \"" + arg + "\"";
      return cl;
    }
    cl.command = FindCommand(commands, arg);
    if (!cl.command) {
      cl.error = "unknown command \"" + arg + "\"";
      return cl;
    }
  }
  if (!cl.command && !cl.help) cl.error = "no command given";
  return cl;
}

int RunCli(std::span<const std::string> args, std::span<const CliCommand> commands,
           const core::CommandRegistry& registry, std::FILE* out, std::FILE* err) {
  CommandLine cl = ParseCommandLine(args, commands);
  if (cl.error.empty() && cl.settingsDir) {
    std::error_code ec;
    if (std::filesystem::exists(*cl.settingsDir, ec) &&
        !std::filesystem::is_directory(*cl.settingsDir, ec))
      cl.error = "--settings: \"" + cl.settingsDir->string() + "\" is not a folder";
  }
  if (!cl.error.empty()) {
    std::fprintf(err, "quillet-cli: %s\nTry \"quillet-cli --help\".\n", cl.error.c_str());
    return platform::kTaskFailed;
  }

  // The store is replaced first: overrides belong to the store they are set on.
  if (cl.settingsDir) settings::Settings::SetProcess(settings::FolderLocations(*cl.settingsDir));
  for (const SettingOverride& o : cl.overrides)
    settings::Settings::Process().SetOverride(o.section, o.key, o.value);

  platform::TerminalPrompter prompter(
      cl.assumeYes ? platform::PromptPolicy::AssumeYes : platform::PromptPolicy::Ask, stdin, err);
  platform::TerminalProgressFactory progress(err);
  CommandContext context{cl.args, prompter, progress, out, err, commands, registry};
  StopSignals stop;
  platform::ClearProgramStop();
  CommandFn run = cl.command ? cl.command->run : &RunHelp;
  if (cl.help) {
    run = &RunHelp;
    context.args.clear();
    if (cl.command) context.args.emplace_back(cl.command->name);
  }
  const platform::TaskResult status = run(context);
  std::fflush(out);
  std::fflush(err);
  // Asked to stop: the shell's convention for a death by that signal.
  if (const int sig = StopSignals::received()) return 128 + sig;
  return status;
}

}  // namespace quillet::app
