// bookmarks FILE [--add NAME@MS]... [--delete NAME]...: the bookmarks kept beside an
// audio file, listed as the bookmark window shows them, changed in the ".qbm".
// project create OUT.qlp FILE... | list IN.qlp | extract IN.qlp DIR [--format EXT]:
// projects from the command line, on the project file code of the editor.
#include <chrono>
#include <cstring>
#include <map>

#include "app/cli/cli.h"
#include "app/cli/store.h"
#include "batch/bookmarks.h"
#include "batch/project.h"
#include "batch/regions.h"
#include "core/clipboard.h"
#include "formats/document_io.h"
#include "formats/format_table.h"
#include "platform/frame_time.h"
#include "platform/paths.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

using platform::kTaskDone;
using platform::kTaskFailed;
using platform::TaskResult;

constexpr const char* kBookmarksUsage = "usage: quillet-cli bookmarks FILE [--add NAME@MS]... [--delete NAME]...\n";
constexpr const char* kProjectUsage =
    "usage: quillet-cli project create OUT.qlp FILE...\n"
    "       quillet-cli project list IN.qlp\n"
    "       quillet-cli project extract IN.qlp DIR [--format EXT]\n";

TaskResult Usage(CommandContext& c, const char* usage) {
  std::fputs(usage, c.err);
  return kTaskFailed;
}

TaskResult Fail(CommandContext& c, const std::string& message) {
  std::fprintf(c.err, "quillet-cli: %s\n", message.c_str());
  return kTaskFailed;
}

std::uint32_t Now() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

void PrintBookmarks(CommandContext& c, const std::vector<core::Bookmark>& list) {
  std::fputs("Name\tTime\tTimes Visited\tLast Visited\n", c.out);
  for (const core::Bookmark& b : list) {
    const batch::BookmarkRow row = batch::BookmarkRowOf(b);
    std::fprintf(c.out, "%s\t%s\t%s\t%s\n", row.name.c_str(), row.time.c_str(), row.visits.c_str(),
                 row.lastVisited.c_str());
  }
}

TaskResult Bookmarks(CommandContext& c) {
  if (c.args.empty()) return Usage(c, kBookmarksUsage);
  const std::filesystem::path file = std::filesystem::absolute(c.args[0]);
  // The position of a new bookmark must lie inside the audio.
  audio::SourceHandle source = formats::OpenAudioFile(file, settings::Settings::Process());
  if (!source->ready()) return Fail(c, "cannot read the audio of " + file.string());
  const std::int64_t lengthMs = platform::MsFromFrames(source->length(), source->sampleRate());
  core::WaveDocument doc(core::AudioChain(), 0, file);
  std::vector<core::Bookmark> list;
  if (platform::Outcome o = batch::LoadBookmarksBeside(list, doc); !o.done())
    return Fail(c, batch::BookmarkFileFor(file).string() + ": " + o.message);
  bool changed = false;
  for (std::size_t i = 1; i < c.args.size(); ++i) {
    const std::string& opt = c.args[i];
    if (i + 1 >= c.args.size() || (opt != "--add" && opt != "--delete")) return Usage(c, kBookmarksUsage);
    const std::string& value = c.args[++i];
    if (opt == "--delete") {
      const int at = batch::FindBookmark(list, value);
      if (at < 0) return Fail(c, "there is no bookmark \"" + value + "\"");
      batch::DeleteBookmarks(list, {static_cast<std::size_t>(at)});
      changed = true;
      continue;
    }
    const std::size_t atSign = value.rfind('@');
    const auto ms = atSign == std::string::npos ? std::nullopt : ParseWholeNumber(value.substr(atSign + 1));
    if (!ms || atSign == 0) return Fail(c, "--add takes NAME@MS, not \"" + value + "\"");
    if (*ms < 0 || *ms > lengthMs)
      return Fail(c, "the position " + std::to_string(*ms) + " ms lies outside the audio (0 to " +
                         std::to_string(lengthMs) + " ms)");
    const std::string name = batch::FitTextField(value.substr(0, atSign));
    if (const int old = batch::FindBookmark(list, name); old >= 0)
      batch::DeleteBookmarks(list, {static_cast<std::size_t>(old)});
    list.push_back({name, batch::FitTextField(doc.Title()), static_cast<std::uint32_t>(*ms), 1, Now(), &doc});
    changed = true;
  }
  if (changed) {
    if (platform::Outcome o = batch::SaveBookmarksBeside(list, doc); !o.done()) return Fail(c, o.message);
  }
  PrintBookmarks(c, list);
  return kTaskDone;
}

// The documents of a project being made, for the session's view of them.
class CliHost final : public batch::ProjectHost {
 public:
  explicit CliHost(CommandContext& c) : c_(c) {}
  core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override {
    docs_.push_back(std::move(doc));
    return docs_.back().get();
  }
  int NextUntitledNumber() override { return next_++; }
  std::vector<core::WaveDocument*> Documents() override {
    std::vector<core::WaveDocument*> out;
    for (auto& d : docs_) out.push_back(d.get());
    return out;
  }
  core::WaveDocument* ActiveDocument() override { return docs_.empty() ? nullptr : docs_.back().get(); }
  void ActivateDocument(core::WaveDocument*) override {}
  bool CloseAllDocuments(bool) override { return false; }
  formats::DispatchEnv Env() override {
    formats::DispatchEnv env(settings::Settings::Process());
    env.prompter = &c_.prompter;
    env.owner = &c_.progress;
    return env;
  }

 private:
  CommandContext& c_;
  std::vector<std::unique_ptr<core::WaveDocument>> docs_;
  int next_ = 1;
};

TaskResult Create(CommandContext& c, core::SegmentStore& store) {
  if (c.args.size() < 3) return Usage(c, kProjectUsage);
  core::ProgramClipboard clipboard(&store);
  core::EditContext ctx{store, clipboard, c.progress, settings::Settings::Process()};
  ctx.prompter = &c.prompter;
  CliHost host(c);
  batch::ProjectSession session(ctx, host);
  for (std::size_t i = 2; i < c.args.size(); ++i) {
    const std::filesystem::path file = std::filesystem::absolute(c.args[i]);
    formats::LoadFileTask load(file, store, host.Env());
    load.Run(c.progress);
    if (load.result != kTaskDone) return load.message().empty() ? load.result : Fail(c, load.message());
    core::WaveDocument* doc = host.AdoptDocument(std::make_unique<core::WaveDocument>(std::move(load.chain()), 0, file));
    doc->ZoomFull();
    session.DocumentOpened(*doc);
  }
  const batch::ProjectContents contents = session.Contents();
  if (std::string why = batch::CheckProjectContents(contents); !why.empty()) return Fail(c, why);
  batch::SaveProjectTask save(contents, c.args[1]);
  save.Run(c.progress);
  if (save.result == kTaskFailed) return Fail(c, save.message());
  return save.result;
}

TaskResult List(CommandContext& c) {
  if (c.args.size() != 2) return Usage(c, kProjectUsage);
  int err = 0;
  auto in = platform::FileByteSource::Open(c.args[1], &err);
  if (!in) return Fail(c, c.args[1] + ": " + std::strerror(err));
  batch::ProjectContents p;
  // Only the records: the audio is checked and skipped.
  if (platform::Outcome o = batch::ReadProject(*in, nullptr, p); !o.done()) return Fail(c, c.args[1] + ": " + o.message);
  auto audioText = [](const core::AudioChain& a) {
    const std::int64_t frames = core::ChainLength(a);
    return "rate=" + std::to_string(a.sampleRate) + "\tchannels=" + std::to_string(a.channels) +
           "\tframes=" + std::to_string(frames) + "\tduration=" +
           batch::BookmarkTimeText(platform::MsFromFrames(frames, a.sampleRate));
  };
  for (std::size_t i = 0; i < p.documents.size(); ++i) {
    const batch::ProjectDocument& d = p.documents[i];
    std::fprintf(c.out, "document %zu%s\t%s\t%s\n", i + 1, static_cast<int>(i) == p.active ? " (active)" : "",
                 d.record.path.empty() ? "(unsaved)" : d.record.path.c_str(), audioText(d.audio).c_str());
  }
  for (const core::Bookmark& b : p.bookmarks) {
    const batch::BookmarkRow row = batch::BookmarkRowOf(b);
    std::fprintf(c.out, "bookmark\t%s\t%s\t%s\tvisited %s, last %s\n", row.name.c_str(), b.documentKey.c_str(),
                 row.time.c_str(), row.visits.c_str(), row.lastVisited.c_str());
  }
  for (const core::Region& r : p.regions) {
    const batch::RegionRow row = batch::RegionRowOf(r);
    std::fprintf(c.out, "region\t%s\t%s\t%s\t%s\n", row.name.c_str(), row.file.empty() ? "(unsaved)" : row.file.c_str(),
                 row.time.c_str(), audioText(r.audio).c_str());
  }
  return kTaskDone;
}

TaskResult Extract(CommandContext& c, core::SegmentStore& store) {
  std::string ext;
  if (c.args.size() == 5 && c.args[3] == "--format") {
    ext = c.args[4];
    if (!ext.starts_with(".")) ext = "." + ext;
    const formats::FormatRow& row = formats::RowFor(ext);
    // A playlist is no sound file: extracting documents as lists would scatter MP3s beside them.
    if (row.extension.empty() || !formats::CanWrite(row) || formats::WritesBesideTarget(row))
      return Fail(c, "cannot write " + ext + " files");
  } else if (c.args.size() != 3) {
    return Usage(c, kProjectUsage);
  }
  const std::filesystem::path dir = c.args[2];
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return Fail(c, dir.string() + " is not a folder");
  batch::LoadProjectTask load(c.args[1], store);
  load.Run(c.progress);
  if (load.result != kTaskDone) return load.result == kTaskFailed ? Fail(c, c.args[1] + ": " + load.message()) : load.result;
  batch::ProjectContents& p = load.contents();
  formats::DispatchEnv env(settings::Settings::Process());
  env.prompter = &c.prompter;
  env.owner = &c.progress;
  std::map<std::string, int> used;
  // Two documents of one name in different folders must not overwrite each other.
  auto unique = [&used](std::string name) {
    const int n = ++used[name];
    if (n == 1) return name;
    const std::string_view dot = platform::PathExtension(name);
    return name.substr(0, name.size() - dot.size()) + " (" + std::to_string(n) + ")" + std::string(dot);
  };
  auto save = [&](const core::AudioChain& audio, const std::string& name) {
    const std::filesystem::path out = dir / unique(name);
    formats::SaveChainTask task(audio, out, env);
    task.Run(c.progress);
    if (task.result == kTaskFailed) Fail(c, task.message().empty() ? "cannot write " + out.string() : task.message());
    else if (task.result == kTaskDone) std::fprintf(c.out, "%s\n", out.string().c_str());
    return task.result;
  };
  int untitled = 0;
  for (const batch::ProjectDocument& d : p.documents) {
    std::string name = d.record.path.empty() ? "Untitled " + std::to_string(++untitled) + ".wav"
                                             : std::string(platform::PathFileName(d.record.path));
    if (!ext.empty() || platform::PathExtension(name).empty()) name = platform::ReplaceExtension(name, ext.empty() ? ".wav" : ext);
    if (const TaskResult r = save(d.audio, name); r != kTaskDone) return r;
  }
  for (const core::Region& r : p.regions) {
    if (!platform::IsValidFileName(r.name)) return Fail(c, batch::InvalidRegionNameMessage(r.name));
    if (const TaskResult res = save(r.audio, r.name + (ext.empty() ? ".wav" : ext)); res != kTaskDone) return res;
  }
  return kTaskDone;
}

}  // namespace

TaskResult RunBookmarksCommand(CommandContext& c) { return Bookmarks(c); }

TaskResult RunProjectCommand(CommandContext& c) {
  const std::string sub = c.args.empty() ? "" : c.args[0];
  if (sub == "list") return List(c);
  if (sub != "create" && sub != "extract") return Usage(c, kProjectUsage);
  core::SegmentStore* store = CliStore(c.err);
  if (!store) return kTaskFailed;
  return sub == "create" ? Create(c, *store) : Extract(c, *store);
}

}  // namespace quillet::app
