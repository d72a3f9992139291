// apply IN OUT [--from F] [--to F] COMMAND[:P1,P2,...]...: open IN into a document,
// run commands of the command table on it as the editor would (as tasks, with their
// stored values where no parameters are given, refused as their dialogs refuse), and
// save the document as OUT.
#include <algorithm>
#include <memory>
#include <optional>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "core/clipboard.h"
#include "core/edit_commands.h"
#include "formats/document_io.h"

namespace quillet::app {
namespace {

using core::WaveDocument;

std::vector<std::string> SplitParams(std::string_view text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  for (std::size_t at = 0;;) {
    const std::size_t comma = text.find(',', at);
    out.emplace_back(text.substr(at, comma == std::string_view::npos ? text.npos : comma - at));
    if (comma == std::string_view::npos) return out;
    at = comma + 1;
  }
}

void PrintUsage(std::FILE* err, const core::CommandRegistry& registry) {
  std::fputs("usage: quillet-cli apply IN OUT [--from F] [--to F] COMMAND[:P1,P2,...]...\n"
             "Commands:\n",
             err);
  PrintApplyCommands(err, registry, false);
}

void Refuse(std::FILE* err, const core::Command& c, const std::string& message) {
  std::fprintf(err, "quillet-cli: %s: %s\n", c.cliName.c_str(), message.c_str());
}

}  // namespace

std::optional<CommandWord> ParseCommandWord(const std::string& word, const core::CommandRegistry& registry,
                                            std::FILE* err, bool validate) {
  const std::size_t colon = word.find(':');
  const std::string name = word.substr(0, colon);
  const core::Command* command = registry.FindCli(name);
  if (!command || !command->run) {
    std::fprintf(err, "quillet-cli: unknown apply command \"%s\"\n", name.c_str());
    PrintUsage(err, registry);
    return std::nullopt;
  }
  const std::vector<std::string> words =
      SplitParams(colon == std::string::npos ? std::string_view() : std::string_view(word).substr(colon + 1));
  CommandWord step{command, std::nullopt};
  if (!command->params) {
    if (words.empty()) return step;
    Refuse(err, *command, "This command takes no parameters.");
    return std::nullopt;
  }
  core::ParamSet& values = step.values.emplace(*command->params);
  std::vector<std::string> notices;
  values.Load(settings::Settings::Process(), &notices);
  for (const std::string& n : notices) Refuse(err, *command, n);
  std::string why = values.Parse(words);
  if (why.empty() && validate) why = values.Validate();
  if (why.empty()) return step;
  Refuse(err, *command, why);
  return std::nullopt;
}

platform::TaskResult RunApplyCommand(CommandContext& c) {
  std::vector<std::string> files;
  std::optional<long long> from, to;
  std::vector<CommandWord> steps;
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    const std::string& arg = c.args[i];
    if (arg == "--from" || arg == "--to") {
      const auto n = i + 1 < c.args.size() ? ParseWholeNumber(c.args[i + 1]) : std::nullopt;
      if (!n || *n < 0) {
        std::fprintf(c.err, "quillet-cli: %s needs a frame number of 0 or more\n", arg.c_str());
        return platform::kTaskFailed;
      }
      (arg == "--from" ? from : to) = *n;
      ++i;
    } else if (files.size() < 2) {
      files.push_back(arg);
    } else {
      std::optional<CommandWord> step = ParseCommandWord(arg, c.registry, c.err, true);
      if (!step) return platform::kTaskFailed;
      steps.push_back(std::move(*step));
    }
  }
  if (files.size() < 2 || steps.empty()) {
    PrintUsage(c.err, c.registry);
    return platform::kTaskFailed;
  }
  if (from && to && *to < *from) {
    std::fprintf(c.err, "quillet-cli: --to (%lld) is before --from (%lld)\n", *to, *from);
    return platform::kTaskFailed;
  }

  core::SegmentStore* store = CliStore(c.err);
  if (!store) return platform::kTaskFailed;
  settings::Settings& settings = settings::Settings::Process();
  formats::DispatchEnv env(settings);
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  std::vector<std::string> notices;
  env.notices = &notices;
  formats::LoadFileTask load(files[0], *store, env);
  load.Run(c.progress);
  if (load.result != platform::kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return load.result;
  }
  WaveDocument doc(std::move(load.chain()), 0, files[0]);
  // Frames past the end mean the end. Edits start from the given range, --from alone
  // being a place (nothing selected there) and --to alone running from the start.
  const bool ranged = from || to;
  const auto clamp = [&doc](long long f) { return std::clamp<core::FramePos>(f, 0, doc.length()); };
  doc.SetSelection(clamp(from.value_or(0)), clamp(to.value_or(from ? *from : 0)), clamp(from.value_or(0)));

  core::ProgramClipboard clipboard(store);
  platform::FakeClipboard system;
  formats::FormatsFileIo fileIo(settings);
  core::EditContext ctx{*store, clipboard, c.progress, settings, nullptr,
                  &fileIo, &system, &c.prompter, formats::DefaultAdaptors(), {}, false};
  ctx.frontEnd = core::FrontEnd::CommandLine;
  for (CommandWord& step : steps) {
    if (step.command->range == core::CliRange::Effect) {
      // An effect runs on the range as it lies in the document now: --from alone to
      // the end, --to alone from the start, nothing at all when it lies past the end.
      const core::FramePos a = clamp(from.value_or(0)), b = clamp(to.value_or(doc.length()));
      if (ranged && a >= b) {
        Refuse(c.err, *step.command, "There is no selection.");
        return platform::kTaskFailed;
      }
      doc.SetSelection(a, b, a);
    }
    core::CommandCall call{ctx, &doc, step.values ? &*step.values : nullptr, nullptr, step.command};
    ctx.message.clear();
    ctx.messageShown = false;
    const platform::TaskResult result = step.command->run(call);
    if (result == platform::kTaskDone) continue;
    if (result == platform::kTaskFailed && !ctx.message.empty() && !ctx.messageShown)
      Refuse(c.err, *step.command, ctx.message);
    return result == platform::kTaskCancelled ? result : platform::kTaskFailed;
  }

  // The input's tags go with its audio, as the batch converter carries them.
  formats::LAudioTagList tags;
  formats::ReadTags(tags, files[0]);
  formats::SaveChainTask save(doc.chain(), files[1], env, load.sourceBits(), nullptr, std::move(tags));
  save.Run(c.progress);
  PrintNotices(c.err, notices);
  if (save.result == platform::kTaskFailed) std::fprintf(c.err, "%s\n", save.message().c_str());
  return save.result;
}

}  // namespace quillet::app
