// apply IN OUT [--from F] [--to F] COMMAND[:P1,P2,...]...: open IN into a document,
// run the commands on it as the editor would (as tasks, with their stored values
// when no parameters are given), and save the document as OUT.
#include <charconv>
#include <memory>

#include "app/cli/apply.h"
#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "core/chain_source.h"
#include "core/clipboard.h"
#include "core/edit_commands.h"
#include "core/edit_dialogs.h"
#include "formats/document_io.h"

namespace quillet::app {
namespace {

using core::EditContext;
using core::InsertWhere;
using core::WaveDocument;

platform::TaskResult RunValidated(ApplyCall& c, const std::optional<std::string>& invalid,
                                  auto&& run) {
  if (invalid) return RefuseApply(c, *invalid);
  return run();
}

platform::TaskResult InsertSilenceAt(ApplyCall& c, InsertWhere where) {
  core::InsertSilenceDialogModel m = core::InsertSilenceDialogModel::Load(c.ctx.settings);
  const auto ms = NumberParam(c, 0, m.ms, "The silence time");
  if (!ms) return platform::kTaskFailed;
  m.ms = *ms;
  return RunValidated(c, m.Validate(), [&] { return core::InsertSilence(c.ctx, c.doc, where, m.ms); });
}

platform::TaskResult InsertFileAt(ApplyCall& c, InsertWhere where) {
  if (c.rawParams.empty()) return RefuseApply(c, "Name the file to insert: insert-file-...:PATH");
  return core::InsertFile(c.ctx, c.doc, where, c.rawParams);
}

// VOLUME,PAN,LONGER,FADE from params[first...], defaulting to the dialog's values.
std::optional<core::MixParams> MixParams(ApplyCall& c, std::size_t first, const char* title) {
  core::MixDialogModel m = core::MixDialogModel::Load(c.ctx.settings, c.doc, title);
  const auto volume = NumberParam(c, first, m.volumePct, "The mix volume");
  const auto pan = volume ? NumberParam(c, first + 1, m.pan, "The pan") : std::nullopt;
  const auto longer = pan ? NumberParam(c, first + 2, m.longer, "The longer choice") : std::nullopt;
  const auto fade = longer ? NumberParam(c, first + 3, m.fadeOut, "The fade out time") : std::nullopt;
  if (!fade) return std::nullopt;
  if (*longer < 0 || *longer > 2) {
    RefuseApply(c, "The longer choice must be 0 (insert silence), 1 (increase the selection) or 2 "
              "(fade out the mix)");
    return std::nullopt;
  }
  auto narrow = [](long long v) {
    return static_cast<int>(std::clamp<long long>(v, -1'000'000'000, 1'000'000'000));
  };
  m.volumePct = narrow(*volume);
  m.pan = narrow(*pan);
  m.longer = narrow(*longer);
  m.fadeOut = narrow(*fade);
  if (auto invalid = m.Validate()) {
    RefuseApply(c, *invalid);
    return std::nullopt;
  }
  return m.Params();
}

platform::TaskResult MixFileCommand(ApplyCall& c) {
  // The path may hold commas: the last four fields are the numbers when there are more.
  if (c.params.empty() || c.params[0].empty())
    return RefuseApply(c, "Name the file to mix: mix-file:PATH,VOLUME,PAN,LONGER,FADE");
  std::vector<std::string> fields = c.params;
  while (fields.size() > 5) {
    fields[0] += "," + fields[1];
    fields.erase(fields.begin() + 1);
  }
  const std::string path = fields[0];
  c.params = fields;
  const auto params = MixParams(c, 1, "Mix File");
  if (!params) return platform::kTaskFailed;
  return core::MixFile(c.ctx, c.doc, path, *params);
}

platform::TaskResult PasteMixCommand(ApplyCall& c) {
  const auto params = MixParams(c, 0, "Paste Mix");
  if (!params) return platform::kTaskFailed;
  return core::PasteMix(c.ctx, c.doc, *params);
}

platform::TaskResult RepeatCommand(ApplyCall& c) {
  core::RepeatLoopDialogModel m = core::RepeatLoopDialogModel::Load(c.ctx.settings);
  const auto times = NumberParam(c, 0, m.times, "The repeat count");
  if (!times) return platform::kTaskFailed;
  m.times = static_cast<int>(std::clamp<long long>(*times, -1, 1'000'000));
  return RunValidated(c, m.Validate(), [&] { return core::RepeatLoop(c.ctx, c.doc, m.times); });
}

template <platform::TaskResult (*F)(EditContext&, WaveDocument&)>
platform::TaskResult Plain(ApplyCall& c) {
  return F(c.ctx, c.doc);
}

constexpr ApplyCommand kEditCommands[] = {
    {"cut", "", ApplyKind::Edit, &Plain<core::Cut>},
    {"copy", "", ApplyKind::Edit, &Plain<core::Copy>},
    {"paste", "", ApplyKind::Edit, &Plain<core::Paste>},
    {"paste-mix", "VOLUME,PAN,LONGER,FADE", ApplyKind::Edit, &PasteMixCommand},
    {"delete", "", ApplyKind::Edit, &Plain<core::Delete>},
    {"trim", "", ApplyKind::Edit, &Plain<core::Trim>},
    {"trim-start", "", ApplyKind::Edit, &Plain<core::TrimStart>},
    {"trim-end", "", ApplyKind::Edit, &Plain<core::TrimEnd>},
    {"silence", "", ApplyKind::Edit, &Plain<core::Silence>},
    {"insert-silence-start", "MS", ApplyKind::Edit,
     [](ApplyCall& c) { return InsertSilenceAt(c, InsertWhere::Start); }},
    {"insert-silence-here", "MS", ApplyKind::Edit,
     [](ApplyCall& c) { return InsertSilenceAt(c, InsertWhere::Cursor); }},
    {"insert-silence-end", "MS", ApplyKind::Edit,
     [](ApplyCall& c) { return InsertSilenceAt(c, InsertWhere::End); }},
    {"insert-file-start", "PATH", ApplyKind::Edit,
     [](ApplyCall& c) { return InsertFileAt(c, InsertWhere::Start); }},
    {"insert-file-here", "PATH", ApplyKind::Edit,
     [](ApplyCall& c) { return InsertFileAt(c, InsertWhere::Cursor); }},
    {"insert-file-end", "PATH", ApplyKind::Edit,
     [](ApplyCall& c) { return InsertFileAt(c, InsertWhere::End); }},
    {"repeat", "TIMES", ApplyKind::Edit, &RepeatCommand},
    {"mix-file", "PATH,VOLUME,PAN,LONGER,FADE", ApplyKind::Edit, &MixFileCommand},
    {"undo", "", ApplyKind::Edit, &Plain<core::UndoEdit>},
    {"redo", "", ApplyKind::Edit, &Plain<core::RedoEdit>},
};

// One step of the command line: a row of the table and its parameters.
struct Step {
  const ApplyCommand* command;
  std::string rawParams;
  std::vector<std::string> params;
};

const ApplyCommand* FindApplyCommand(std::string_view name) {
  for (const ApplyCommand& c : AllApplyCommands())
    if (c.name == name) return &c;
  return nullptr;
}

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

void PrintUsage(std::FILE* err) {
  std::fputs("usage: quillet-cli apply IN OUT [--from F] [--to F] COMMAND[:P1,P2,...]...\n"
             "Commands:\n",
             err);
  for (const ApplyCommand& c : AllApplyCommands()) {
    std::fprintf(err, "  %.*s%s%.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                 c.params.empty() ? "" : ":", static_cast<int>(c.params.size()), c.params.data());
  }
}

}  // namespace

platform::TaskResult RefuseApply(ApplyCall& c, const std::string& message) {
  c.ctx.message = message;
  c.ctx.messageShown = false;
  return platform::kTaskFailed;
}

std::optional<long long> NumberParam(ApplyCall& c, std::size_t i, long long stored,
                                     std::string_view what) {
  if (i >= c.params.size() || c.params[i].empty()) return stored;
  const auto n = ParseWholeNumber(c.params[i]);
  if (!n) RefuseApply(c, std::string(what) + " must be a whole number, not \"" + c.params[i] + "\"");
  return n;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
  long long v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end) return std::nullopt;
  return v;
}

std::span<const ApplyCommand> EditApplyCommands() { return kEditCommands; }

std::span<const ApplyCommand> AllApplyCommands() {
  // Each module's rows, in the order the help lists them.
  static const std::vector<ApplyCommand> all = [] {
    std::vector<ApplyCommand> v;
    for (std::span<const ApplyCommand> rows : {EditApplyCommands(), EffectApplyCommands()})
      v.insert(v.end(), rows.begin(), rows.end());
    return v;
  }();
  return all;
}

platform::TaskResult RunApplyCommand(CommandContext& c) {
  std::vector<std::string> files;
  std::optional<long long> from, to;
  std::vector<Step> steps;
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
      const std::size_t colon = arg.find(':');
      const std::string name = arg.substr(0, colon);
      const ApplyCommand* command = FindApplyCommand(name);
      if (!command) {
        std::fprintf(c.err, "quillet-cli: unknown apply command \"%s\"\n", name.c_str());
        PrintUsage(c.err);
        return platform::kTaskFailed;
      }
      const std::string raw = colon == std::string::npos ? std::string() : arg.substr(colon + 1);
      steps.push_back({command, raw, SplitParams(raw)});
    }
  }
  if (files.size() < 2 || steps.empty()) {
    PrintUsage(c.err);
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
  formats::LoadFileTask load(files[0], *store, env);
  load.Run(c.progress);
  if (load.result != platform::kTaskDone) {
    if (!load.message().empty()) std::fprintf(c.err, "%s\n", load.message().c_str());
    return load.result;
  }
  WaveDocument doc(std::move(load.chain()), 0, files[0]);
  // Edits start from the given range (nothing selected at --from without --to).
  const bool ranged = from || to;
  const core::FramePos a = from.value_or(0);
  doc.SetSelection(a, to.value_or(from ? a : 0), a);

  core::ProgramClipboard clipboard(store);
  platform::FakeClipboard system;
  formats::FormatsFileIo fileIo(settings);
  EditContext ctx{*store, clipboard, c.progress, settings, nullptr,
                  &fileIo, &system, &c.prompter, formats::DefaultAdaptors(), {}, false};
  for (Step& step : steps) {
    if (step.command->kind == ApplyKind::Effect && !ranged) core::SelectAll(doc);
    ApplyCall call{ctx, doc, step.params, step.rawParams, c.err};
    ctx.message.clear();
    ctx.messageShown = false;
    const platform::TaskResult result = step.command->run(call);
    if (result == platform::kTaskDone) continue;
    if (result == platform::kTaskFailed && !ctx.message.empty() && !ctx.messageShown)
      std::fprintf(c.err, "quillet-cli: %.*s: %s\n", static_cast<int>(step.command->name.size()),
                   step.command->name.data(), ctx.message.c_str());
    return result == platform::kTaskCancelled ? result : platform::kTaskFailed;
  }

  // The input's tags go with its audio, as the batch converter carries them.
  formats::LAudioTagList tags;
  formats::ReadTags(tags, files[0]);
  formats::SaveChainTask save(doc.chain(), files[1], env, load.sourceBits(), nullptr, std::move(tags));
  save.Run(c.progress);
  if (save.result == platform::kTaskFailed) std::fprintf(c.err, "%s\n", save.message().c_str());
  return save.result;
}

}  // namespace quillet::app
