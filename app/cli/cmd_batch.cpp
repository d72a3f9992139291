// batch SCRIPT FILE... [--format EXT] [--out DIR] [--jobs N]: the batch converter
// without its wizard. Every file is tried, failures included; one line per file in
// list order, and the exit status is 0 only when every file was converted.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "batch/run.h"
#include "batch/script.h"
#include "formats/format_table.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

constexpr const char* kUsage =
    "usage: quillet-cli batch SCRIPT FILE... [--format EXT] [--out DIR] [--jobs N]\n";

platform::TaskResult Usage(std::FILE* err, const std::string& why) {
  if (!why.empty()) std::fprintf(err, "quillet-cli: %s\n", why.c_str());
  std::fputs(kUsage, err);
  return platform::kTaskFailed;
}

}  // namespace

platform::TaskResult RunBatchCommand(CommandContext& c) {
  std::vector<std::string> words;
  batch::OutputRule rule;
  int jobs = batch::DefaultJobs();
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    const std::string& arg = c.args[i];
    const bool option = arg == "--format" || arg == "--out" || arg == "--jobs";
    if (!option) {
      words.push_back(arg);
      continue;
    }
    if (i + 1 >= c.args.size()) return Usage(c.err, arg + " needs a value");
    const std::string value = c.args[++i];
    if (arg == "--jobs") {
      const auto n = ParseWholeNumber(value);
      if (!n || *n < 1 || *n > 256) return Usage(c.err, "--jobs needs a number from 1 to 256");
      jobs = int(*n);
    } else if (arg == "--out") {
      rule.sameFolder = false;
      rule.folder = value;
    } else {
      const std::string ext = value.starts_with('.') ? value : "." + value;
      const auto list = formats::OutputFormatList();
      const auto at = std::find(list.begin(), list.end(), ext);
      // Only formats with a writer of their own: no guessing through the catch-all row.
      const formats::FormatRow& row = formats::RowFor(ext);
      if (at == list.end() || row.extension.empty() || !formats::CanWrite(row))
        return Usage(c.err, "cannot convert to \"" + value + "\"");
      rule.sameFormat = false;
      rule.formatIndex = std::size_t(at - list.begin());
    }
  }
  if (words.size() < 2) return Usage(c.err, "");

  batch::BatchCommandList commands;
  switch (batch::LoadBatchScript(words[0], commands)) {
    case batch::ScriptLoad::Loaded: break;
    case batch::ScriptLoad::Unreadable:
      std::fprintf(c.err, "quillet-cli: cannot read the batch script \"%s\"\n", words[0].c_str());
      return platform::kTaskFailed;
    case batch::ScriptLoad::Corrupt:
      std::fprintf(c.err, "%s: %s\n", batch::kFileErrorCaption.data(),
                   batch::kScriptVersionMessage.data());
      return platform::kTaskFailed;
  }
  const std::vector<std::filesystem::path> files(words.begin() + 1, words.end());
  if (!rule.sameFolder) {
    std::error_code ec;
    std::filesystem::create_directories(rule.folder, ec);
    if (!std::filesystem::is_directory(rule.folder)) {
      std::fprintf(c.err, "quillet-cli: Unable to create folder. (%s)\n", rule.folder.c_str());
      return platform::kTaskFailed;
    }
  }
  if (const std::string why = batch::CheckOutputs(files, rule); !why.empty()) {
    std::fprintf(c.err, "quillet-cli: %s\n", why.c_str());
    return platform::kTaskFailed;
  }
  core::SegmentStore* store = CliStore(c.err);
  if (!store) return platform::kTaskFailed;

  batch::RunOptions options;
  options.jobs = jobs;
  options.stopOnFailure = false;
  options.report = [&c](std::size_t, const batch::FileOutcome& f) {
    if (f.outcome.done())
      std::fprintf(c.out, "ok %s -> %s\n", f.source.c_str(), f.target.c_str());
    else
      std::fprintf(c.out, "failed %s: %s\n", f.source.c_str(),
                   f.outcome.result == platform::kTaskCancelled ? "cancelled"
                                                                : f.outcome.message.c_str());
    std::fflush(c.out);
  };
  const platform::Outcome result =
      batch::RunBatch(files, commands, rule, c.registry, settings::Settings::Process(), *store,
                      options);
  return result.done() ? platform::kTaskDone : platform::kTaskFailed;
}

}  // namespace quillet::app
