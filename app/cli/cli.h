#pragma once
// quillet-cli's command line: global options, a table of commands, and the run
// that applies the settings options and hands over to the chosen command.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_table.h"
#include "platform/prompter.h"
#include "platform/task.h"

namespace quillet::app {

struct CliCommand;

// What a command gets to work with.
struct CommandContext {
  std::vector<std::string> args;  // the words after the command's name
  platform::Prompter& prompter;
  platform::ProgressWindowFactory& progress;
  std::FILE* out;  // results
  std::FILE* err;  // messages
  std::span<const CliCommand> commands;
  const core::CommandRegistry& registry;  // what apply runs and help lists
};

// Returns a task result, which is also the exit status.
using CommandFn = platform::TaskResult (*)(CommandContext& context);

struct CliCommand {
  std::string_view name;
  std::string_view usage;    // the arguments, e.g. "IN OUT"
  std::string_view summary;  // one line for the help
  CommandFn run;
};

// Every command of quillet-cli, in the order the help lists them.
std::span<const CliCommand> Commands();

struct SettingOverride {
  std::string section;
  std::string key;
  std::string value;
  bool operator==(const SettingOverride&) const = default;
};

struct CommandLine {
  std::optional<std::filesystem::path> settingsDir;
  std::vector<SettingOverride> overrides;
  bool assumeYes = false;
  bool help = false;  // --help: the help (of the command, when one is named)
  const CliCommand* command = nullptr;
  std::vector<std::string> args;
  std::string error;  // set: the command line is refused with this message
};

// Global options are taken anywhere before a "--"; before the command any other
// word starting with '-' is an error, after it such words belong to the command.
CommandLine ParseCommandLine(std::span<const std::string> args,
                             std::span<const CliCommand> commands);
// "SECTION/KEY=VALUE" (split at the first '/' and the first '=' after it).
std::optional<SettingOverride> ParseSettingOverride(std::string_view text);

// Parses, applies --settings and --set to the process's settings store, runs the
// command and returns the exit status (0 done, 1 cancelled, 2 failed).
int RunCli(std::span<const std::string> args, std::span<const CliCommand> commands,
           const core::CommandRegistry& registry, std::FILE* out, std::FILE* err);

// Each notice of a run once ("quillet-cli: ..."): reading and writing may load one
// record twice.
void PrintNotices(std::FILE* err, const std::vector<std::string>& notices);

// Whole decimal number of text, or nullopt (nothing else may follow it).
std::optional<long long> ParseWholeNumber(std::string_view text);

// A command word as apply takes it, NAME[:P1,P2,...]: the command of registry with
// its stored values and the words given over them, validated as its dialog's OK does
// when validate is set (a preview plays values its OK refuses). nullopt after the
// refusal is written to err.
struct CommandWord {
  const core::Command* command = nullptr;
  std::optional<core::ParamSet> values;  // set when the command has parameters
};
std::optional<CommandWord> ParseCommandWord(const std::string& word, const core::CommandRegistry& registry,
                                            std::FILE* err, bool validate);

// The commands of registry that apply runs, one line each ("amplify:PCT  Amplify");
// with details, a line per parameter with its range, unit and default. No heading.
void PrintApplyCommands(std::FILE* out, const core::CommandRegistry& registry, bool details);

// The help command: the overview, or one command's usage with args {NAME}.
platform::TaskResult RunHelp(CommandContext& context);
// info and convert on the command table (cmd_table_wave.cpp).
platform::TaskResult RunInfoCommand(CommandContext& context);
platform::TaskResult RunConvertCommand(CommandContext& context);
// apply IN OUT [--from F] [--to F] COMMAND[:P1,P2,...]... (cmd_apply.cpp).
platform::TaskResult RunApplyCommand(CommandContext& context);
// batch SCRIPT FILE... [--format EXT] [--out DIR] [--jobs N] (cmd_batch.cpp).
platform::TaskResult RunBatchCommand(CommandContext& context);
// play FILE ... and record OUT ... on the sound device (cmd_devices.cpp).
platform::TaskResult RunPlayCommand(CommandContext& context);
platform::TaskResult RunRecordCommand(CommandContext& context);
// spectrum FILE --at FRAME and spectrogram FILE OUT.png ... (cmd_analysis.cpp).
platform::TaskResult RunSpectrumCommand(CommandContext& context);
platform::TaskResult RunSpectrogramCommand(CommandContext& context);
// cd drives|toc|lookup|rip|burn ... (cmd_cd.cpp).
platform::TaskResult RunCdCommand(CommandContext& context);
// plugins (cmd_plugins.cpp).
platform::TaskResult RunPluginsCommand(CommandContext& context);
// bookmarks FILE ... and project create|list|extract ... (cmd_project.cpp).
platform::TaskResult RunBookmarksCommand(CommandContext& context);
platform::TaskResult RunProjectCommand(CommandContext& context);
// send email|ftp|desktop FILE ... (cmd_send.cpp).
platform::TaskResult RunSendCommand(CommandContext& context);
// recover --list | --save DIR | --discard (cmd_recover.cpp).
platform::TaskResult RunRecoverCommand(CommandContext& context);

}  // namespace quillet::app
