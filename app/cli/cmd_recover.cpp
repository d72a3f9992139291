// recover --list | --save DIR | --discard: the documents of copies of the program
// that died, found in the working folder the editor uses (same settings). --save
// keeps the journals, so the editor still offers them afterwards. A document's
// bookmarks go beside its WAVE file (opening it brings them back); regions, which
// have no such file, go into a project of the document, its bookmarks and regions.
#include <cstdio>
#include <set>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "batch/bookmarks.h"
#include "batch/project_file.h"
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

// DIR/NAME.wav, numbered when that is taken (or its bookmark or project file is): a
// file already there is never replaced.
fs::path FreeTarget(const fs::path& dir, const std::string& name, std::set<fs::path>& taken) {
  std::string stem = fs::path(name).stem().string();
  if (stem.empty()) stem = "Recovered";
  auto used = [&](const fs::path& wav) {
    return taken.count(wav) || fs::exists(wav) || fs::exists(batch::BookmarkFileFor(wav)) ||
           fs::exists(fs::path(wav).replace_extension(batch::kProjectExtension));
  };
  fs::path p = dir / (stem + ".wav");
  for (int n = 2; used(p); ++n) p = dir / (stem + " (" + std::to_string(n) + ").wav");
  taken.insert(p);
  return p;
}

// The document's marks beside target, which holds its audio now; false when one
// could not be written (said on err).
bool SaveMarks(CommandContext& c, core::WaveDocument& doc, core::MarkLists& marks, const fs::path& target) {
  for (core::Bookmark& b : marks.bookmarks) b.document = &doc;
  doc.SetFile(target);
  batch::RekeyBookmarks(marks.bookmarks, doc);
  bool ok = true;
  if (!marks.bookmarks.empty()) {
    if (const platform::Outcome o = batch::SaveBookmarksBeside(marks.bookmarks, doc); !o.done()) {
      std::fprintf(c.err, "%s\n", o.message.c_str());
      ok = false;
    } else {
      std::fprintf(c.out, "%s\n", batch::BookmarkFileFor(target).c_str());
    }
  }
  if (marks.regions.empty()) return ok;
  batch::ProjectContents project;
  // The project names the WAVE file wherever it is opened from.
  std::error_code ec;
  const std::string where = fs::absolute(target, ec).string();
  batch::DocumentRecord rec;
  rec.path = where;
  project.documents.push_back({rec, doc.chain()});
  for (const core::Bookmark& b : marks.bookmarks) {
    project.bookmarks.push_back(b);
    project.bookmarkDocuments.push_back(0);
  }
  project.regions = marks.regions;
  for (core::Region& r : project.regions) r.path = where;
  const fs::path file = fs::path(target).replace_extension(batch::kProjectExtension);
  std::string why = batch::CheckProjectContents(project);
  if (why.empty()) {
    batch::SaveProjectTask save(project, file);
    save.Run(c.progress);
    if (save.result != platform::kTaskDone) why = save.message().empty() ? "the save was cancelled" : save.message();
  }
  if (!why.empty()) {
    std::fprintf(c.err, "Cannot keep the regions of \"%s\" in \"%s\": %s\n", doc.Title().c_str(), file.c_str(), why.c_str());
    return false;
  }
  std::fprintf(c.out, "%s\n", file.c_str());
  return ok;
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
      core::MarkLists marks;
      std::unique_ptr<core::WaveDocument> doc = run->Recover(d, *store, &why, &marks);
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
      if (!SaveMarks(c, *doc, marks, target)) status = platform::kTaskFailed;
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
