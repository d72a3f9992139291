// recover --list | --save DIR | --discard: the documents of copies of the program
// that died, found in the working folder the editor uses (same settings). --save
// keeps the journals, so the editor still offers them afterwards.
#include <cstdio>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "core/recovery.h"
#include "core/working_folder.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

namespace fs = std::filesystem;

// Tab-separated, so names with spaces stay one field.
void PrintDocument(std::FILE* out, const core::RecoverableDocument& d) {
  if (!d.readable) {
    std::fprintf(out, "%s\tunreadable\tproblem=%s\n", d.name.c_str(), d.problem.c_str());
    return;
  }
  std::fprintf(out, "%s\tframes=%lld\trate=%u\tchannels=%d\tchanged=%s", d.name.c_str(),
               static_cast<long long>(d.frames), d.sampleRate, d.channels,
               core::LocalTimeText(d.changedAtMs).c_str());
  if (!d.problem.empty()) std::fprintf(out, "\tproblem=%s", d.problem.c_str());
  std::fputc('\n', out);
}

// DIR/NAME.wav, numbered when that is taken: a file already there is never replaced.
fs::path FreeTarget(const fs::path& dir, const std::string& name, std::set<fs::path>& taken) {
  std::string stem = fs::path(name).stem().string();
  if (stem.empty()) stem = "Recovered";
  fs::path p = dir / (stem + ".wav");
  for (int n = 2; taken.count(p) || fs::exists(p); ++n) p = dir / (stem + " (" + std::to_string(n) + ").wav");
  taken.insert(p);
  return p;
}

platform::TaskResult SaveAll(CommandContext& c, std::vector<std::unique_ptr<core::DeadRun>>& runs, const fs::path& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    std::fprintf(c.err, "quillet-cli: \"%s\" is not a folder\n", dir.c_str());
    return platform::kTaskFailed;
  }
  core::SegmentStore* store = CliStore(c.err);
  if (!store) return platform::kTaskFailed;
  formats::DispatchEnv env(settings::Settings::Process());
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  platform::TaskResult status = platform::kTaskDone;
  std::set<fs::path> taken;
  for (auto& run : runs) {
    for (const core::RecoverableDocument& d : run->documents()) {
      if (!d.problem.empty()) std::fprintf(c.err, "%s: %s\n", d.name.c_str(), d.problem.c_str());
      std::string why;
      std::unique_ptr<core::WaveDocument> doc = run->Recover(d, *store, &why);
      if (!doc) {
        std::fprintf(c.err, "%s\n", why.c_str());
        status = platform::kTaskFailed;
        continue;
      }
      const fs::path target = FreeTarget(dir, d.name, taken);
      // 24-bit PCM unless a WAVE format is stored: it holds every bit of the audio.
      formats::SaveChainTask save(doc->chain(), target, env, 24);
      save.Run(c.progress);
      if (save.result == platform::kTaskCancelled) return save.result;
      if (save.result != platform::kTaskDone) {
        std::fprintf(c.err, "%s\n", save.message().c_str());
        status = platform::kTaskFailed;
        continue;
      }
      std::fprintf(c.out, "%s\n", target.c_str());
    }
  }
  return status;
}

}  // namespace

platform::TaskResult RunRecoverCommand(CommandContext& c) {
  const bool list = c.args.size() == 1 && c.args[0] == "--list";
  const bool save = c.args.size() == 2 && c.args[0] == "--save";
  const bool discard = c.args.size() == 1 && c.args[0] == "--discard";
  if (!list && !save && !discard) {
    std::fputs("usage: quillet-cli recover --list | --save DIR | --discard\n", c.err);
    return platform::kTaskFailed;
  }
  const fs::path base = core::ChooseWorkingFolder(settings::Settings::Process());
  std::vector<std::unique_ptr<core::DeadRun>> runs = core::FindDeadRuns(base);
  std::size_t documents = 0;
  for (const auto& run : runs) documents += run->documents().size();
  if (documents == 0) {
    std::fprintf(c.err, "No documents to recover in \"%s\".\n", base.c_str());
    return platform::kTaskDone;
  }
  if (list) {
    for (const auto& run : runs)
      for (const core::RecoverableDocument& d : run->documents()) PrintDocument(c.out, d);
    return platform::kTaskDone;
  }
  if (save) return SaveAll(c, runs, c.args[1]);
  for (auto& run : runs) run->Discard();
  std::fprintf(c.err, "%zu document%s discarded.\n", documents, documents == 1 ? "" : "s");
  return platform::kTaskDone;
}

}  // namespace quillet::app
