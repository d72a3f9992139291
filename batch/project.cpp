#include "batch/project.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "batch/bookmarks.h"
#include "batch/regions.h"
#include "core/params.h"
#include "platform/frame_time.h"

namespace quillet::batch {
namespace {

using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::TaskResult;

constexpr std::string_view kCaption = "Quillet";

std::uint32_t SystemNow() {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(
                     std::chrono::system_clock::now().time_since_epoch())
                     .count();
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(s, 0, UINT32_MAX));
}

// The cursor in view, the view keeping its width.
void ScrollIntoView(core::WaveDocument& doc, core::FramePos pos) {
  const core::FramePos width = doc.viewEnd() - doc.viewStart();
  if (pos >= doc.viewStart() && pos <= doc.viewEnd()) return;
  const core::FramePos start = pos < doc.viewStart() ? pos : pos - width;
  doc.SetView(start, start + width);
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::absolute(a, ec) == std::filesystem::absolute(b, ec);
}

}  // namespace

ProjectSession::ProjectSession(core::EditContext& ctx, ProjectHost& host, Clock clock)
    : ctx_(ctx), host_(host), clock_(clock ? std::move(clock) : Clock(&SystemNow)) {}

std::string ProjectSession::WindowTitle() const {
  return path_.empty() ? "Quillet" : "Quillet - " + path_.filename().string();
}

void ProjectSession::DocumentOpened(core::WaveDocument& doc) {
  AttachBookmarks(marks_.bookmarks, doc);
  AttachRegions(marks_.regions, doc);
  const platform::Outcome o = LoadBookmarksBeside(marks_.bookmarks, doc);
  if (!o.done())
    prompter().Message(o.message, platform::kFileErrorCaption, MessageIcon::Error);
  Changed();
}

void ProjectSession::DocumentSaved(core::WaveDocument& doc, const std::filesystem::path& oldFile) {
  if (!oldFile.empty() && oldFile != doc.file()) previousPaths_[&doc] = oldFile.string();
  RekeyBookmarks(marks_.bookmarks, doc);
  RepathRegions(marks_.regions, doc);
  const platform::Outcome o = SaveBookmarksBeside(marks_.bookmarks, doc);
  if (!o.done()) prompter().Message(o.message, kCaption, MessageIcon::Warning);
  Changed();
}

void ProjectSession::DocumentClosing(core::WaveDocument& doc) {
  DetachBookmarks(marks_.bookmarks, doc);
  DetachRegions(marks_.regions, doc);
  previousPaths_.erase(&doc);
  Changed();
}

bool ProjectSession::SetBookmark() {
  core::WaveDocument* doc = host_.ActiveDocument();
  if (!doc || !batch::SetBookmark(marks_.bookmarks, *doc, prompter(), clock_())) return false;
  Changed();
  return true;
}

bool ProjectSession::AddRegion() {
  core::WaveDocument* doc = host_.ActiveDocument();
  if (!doc || !batch::AddRegion(marks_.regions, *doc, prompter())) return false;
  Changed();
  return true;
}

core::WaveDocument* ProjectSession::DocumentOf(const core::Bookmark& b) {
  if (b.document) return b.document;
  for (core::WaveDocument* d : host_.Documents())
    if (SameName(d->Title(), b.documentKey)) return d;
  return nullptr;
}

core::WaveDocument* ProjectSession::GoToBookmark(std::size_t index) {
  if (index >= marks_.bookmarks.size()) return nullptr;
  core::Bookmark& b = marks_.bookmarks[index];
  CountVisit(b, clock_());
  core::WaveDocument* doc = DocumentOf(b);
  Changed();
  if (!doc) return nullptr;
  host_.ActivateDocument(doc);
  doc->SetCursor(platform::FramesFromMs(b.positionMs, doc->sampleRate()));
  ScrollIntoView(*doc, doc->cursor());
  if (ctx_.player && ctx_.settings.GetBool("Settings", "PlayBookMark", false)) {
    ctx_.player->Stop();
    ctx_.player->PlayFrom(*doc, doc->cursor());
  }
  return doc;
}

bool ProjectSession::SelectToBookmark(std::size_t from, std::size_t to) {
  if (from >= marks_.bookmarks.size() || to >= marks_.bookmarks.size()) return false;
  core::WaveDocument* doc = DocumentOf(marks_.bookmarks[from]);
  if (!doc) return false;
  host_.ActivateDocument(doc);
  const core::FramePos a = platform::FramesFromMs(marks_.bookmarks[from].positionMs, doc->sampleRate());
  const core::FramePos b = platform::FramesFromMs(marks_.bookmarks[to].positionMs, doc->sampleRate());
  doc->SetSelection(a, b, std::min(a, b));
  ScrollIntoView(*doc, std::min(a, b));
  return true;
}

void ProjectSession::RenameBookmark(std::size_t index, std::string name) {
  batch::RenameBookmark(marks_.bookmarks, index, std::move(name));
  Changed();
}

void ProjectSession::DeleteBookmarks(const std::vector<std::size_t>& indexes) {
  batch::DeleteBookmarks(marks_.bookmarks, indexes);
  Changed();
}

bool ProjectSession::SelectRegion(std::size_t index) {
  if (index >= marks_.regions.size()) return false;
  const core::Region& r = marks_.regions[index];
  core::WaveDocument* doc = r.document;
  if (!doc && !r.path.empty()) {
    for (core::WaveDocument* d : host_.Documents())
      if (SameName(d->file().string(), r.path)) {
        doc = d;
        break;
      }
  }
  if (!doc) return false;
  host_.ActivateDocument(doc);
  const core::FramePos a = platform::FramesFromMs(r.startMs, doc->sampleRate());
  const core::FramePos b = platform::FramesFromMs(r.endMs, doc->sampleRate());
  doc->SetSelection(a, b, a);
  ScrollIntoView(*doc, doc->selStart());
  if (ctx_.player && ctx_.settings.GetBool("Settings", "PlayRegion", false)) {
    ctx_.player->Stop();
    ctx_.player->PlayRange(doc->chain(), doc->selStart(), doc->selEnd());
  }
  return true;
}

void ProjectSession::RenameRegion(std::size_t index, std::string name) {
  if (index >= marks_.regions.size()) return;
  marks_.regions[index].name = FitTextField(std::move(name));
  Changed();
}

void ProjectSession::DeleteRegions(std::vector<std::size_t> indexes) {
  if (ctx_.player) ctx_.player->Stop();
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  for (auto it = indexes.rbegin(); it != indexes.rend(); ++it)
    if (*it < marks_.regions.size()) marks_.regions.erase(marks_.regions.begin() + static_cast<std::ptrdiff_t>(*it));
  Changed();
}

void ProjectSession::MoveRegion(std::size_t from, std::size_t before) {
  batch::MoveRegion(marks_.regions, from, before);
  Changed();
}

TaskResult ProjectSession::SaveRegion(std::size_t index) {
  if (index >= marks_.regions.size()) return platform::kTaskFailed;
  if (ctx_.player) ctx_.player->Stop();
  const std::optional<std::filesystem::path> file =
      ChooseRegionTarget(prompter(), ctx_.settings, marks_.regions[index]);
  if (!file) return platform::kTaskCancelled;
  std::string why;
  const TaskResult r = SaveRegionAudio(marks_.regions[index], *file, host_.Env(), true, &why);
  if (r == platform::kTaskFailed && !why.empty()) prompter().Message(why, kCaption, MessageIcon::Error);
  return r;
}

void ProjectSession::CopyRegionsToNew(const std::vector<std::size_t>& indexes) {
  std::vector<std::size_t> sorted = indexes;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i : sorted) {
    if (i >= marks_.regions.size()) continue;
    host_.AdoptDocument(DocumentOfAudio(marks_.regions[i].audio, FreeUntitledNumber(host_.Documents())));
  }
}

TaskResult ProjectSession::ExportRegions(const std::vector<std::size_t>& indexes) {
  core::ParamSet values(kExportRegionsTable);
  values.Load(ctx_.settings);
  if (std::string why = values.Validate(); !why.empty()) {
    prompter().Message(why, kCaption, MessageIcon::Warning);
    return platform::kTaskFailed;
  }
  std::vector<std::size_t> sorted = indexes;
  std::sort(sorted.begin(), sorted.end());
  std::vector<const core::Region*> chosen;
  for (std::size_t i : sorted)
    if (i < marks_.regions.size()) chosen.push_back(&marks_.regions[i]);
  if (ctx_.player) ctx_.player->Stop();
  std::string why;
  return batch::ExportRegions(chosen, values.Text(kExportFolderField),
                              ExportExtension(values.Int(kExportFormatField)), host_.Env(), &why);
}

core::WaveDocument* ProjectSession::Assemble(const std::vector<core::Region>& entries) {
  if (entries.empty()) return nullptr;
  core::ParamSet options(kAssembleOptionsTable);
  options.Load(ctx_.settings);
  std::vector<const core::Region*> order;
  for (const core::Region& r : entries) order.push_back(&r);
  core::AudioChain out(&ctx_.store);
  if (AssembleRegions(ctx_, order, options.Bool(0), options.Int(1), out) != platform::kTaskDone) {
    if (!ctx_.message.empty() && !ctx_.messageShown)
      prompter().Message(ctx_.message, kCaption, MessageIcon::Warning);
    return nullptr;
  }
  return host_.AdoptDocument(DocumentOfAudio(out, FreeUntitledNumber(host_.Documents())));
}

ProjectContents ProjectSession::Contents() {
  ProjectContents c;
  const std::vector<core::WaveDocument*> docs = host_.Documents();
  const core::WaveDocument* active = host_.ActiveDocument();
  for (std::size_t i = 0; i < docs.size(); ++i) {
    const core::WaveDocument& d = *docs[i];
    if (&d == active) c.active = static_cast<int>(i);
    DocumentRecord rec;
    rec.path = d.file().string();
    if (auto it = previousPaths_.find(&d); it != previousPaths_.end()) rec.previousPath = it->second;
    auto u32 = [](core::FramePos p) { return static_cast<std::uint32_t>(std::clamp<core::FramePos>(p, 0, UINT32_MAX)); };
    auto i32 = [](core::FramePos p) { return static_cast<std::int32_t>(std::clamp<core::FramePos>(p, 0, INT32_MAX)); };
    rec.cursor = u32(d.cursor());
    rec.selStart = u32(d.selStart());
    rec.selEnd = i32(d.selEnd());
    rec.viewStart = i32(d.viewStart());
    rec.viewEnd = u32(d.viewEnd());
    c.documents.push_back({std::move(rec), d.chain()});
    for (const core::Bookmark* b : BookmarksOf(marks_.bookmarks, d)) {
      c.bookmarks.push_back(*b);
      c.bookmarkDocuments.push_back(static_cast<int>(i));
    }
  }
  c.regions = marks_.regions;
  return c;
}

bool ProjectSession::SaveProjectTo(const std::filesystem::path& file) {
  const ProjectContents contents = Contents();
  std::string why = CheckProjectContents(contents);
  if (why.empty()) {
    SaveProjectTask task(contents, file);
    task.Run(ctx_.progress);
    if (task.result == platform::kTaskCancelled) return false;
    if (task.result == platform::kTaskDone) return true;
    why = task.message();
  }
  prompter().Message(std::string(kCannotSaveProjectMessage) + (why.empty() ? "" : "\n\n" + why), kCaption,
                     MessageIcon::Error);
  return false;
}

bool ProjectSession::SaveProject() {
  if (host_.Documents().empty() &&
      !prompter().Question("This project does not contain any file. Do you want to continue to save it?",
                           kCaption))
    return false;
  if (path_.empty()) return SaveAs(/*askedEmpty=*/true);
  return SaveProjectTo(path_);
}

bool ProjectSession::SaveProjectAs() { return SaveAs(false); }

bool ProjectSession::SaveAs(bool askedEmpty) {
  if (!askedEmpty && host_.Documents().empty() &&
      !prompter().Question("This project does not contain any file. Do you want to continue to save it?",
                           kCaption))
    return false;
  for (;;) {
    platform::FileRequest r;
    r.mode = platform::FileDialogMode::Save;
    r.title = "Save Project As";
    r.filters = {{"Quillet Project (.qlp)", "*.qlp"}};
    r.defaultExtension = "qlp";
    r.folder = ctx_.settings.GetString("Settings", "SaveProjectAsDir", "");
    r.fileName = path_.empty() ? std::string("Untitled.qlp") : path_.filename().string();
    const platform::FileChoice choice = prompter().ChooseFiles(r);
    if (!choice.accepted()) return false;
    const std::filesystem::path chosen =
        std::filesystem::absolute(platform::WithDefaultExtension(choice.files.front(), "qlp"));
    ctx_.settings.SetString("Settings", "SaveProjectAsDir", chosen.parent_path().string());
    std::error_code ec;
    if (std::filesystem::exists(chosen, ec)) {
      const Answer a = prompter().Message(
          "Another project with the same name already exists. Do you want to replace it?", kCaption,
          MessageIcon::Question, MessageButtons::YesNoCancel);
      if (a == Answer::No) continue;
      if (a != Answer::Yes) return false;
    }
    if (!SaveProjectTo(chosen)) return false;
    path_ = chosen;
    Changed();
    return true;
  }
}

bool ProjectSession::CloseProject() {
  bool askEachDocument = false;
  if (!host_.Documents().empty() || !marks_.regions.empty()) {
    const Answer a = prompter().Message(kSaveProjectQuestion, kCaption, MessageIcon::Question,
                                        MessageButtons::YesNoCancel);
    if (a == Answer::Cancel) return false;
    if (a == Answer::Yes && !SaveProject()) return false;
    // The project holds what Yes saved; after No each document still asks for itself.
    askEachDocument = a == Answer::No;
  }
  if (ctx_.player) ctx_.player->Stop();
  if (!host_.CloseAllDocuments(askEachDocument)) return false;
  path_.clear();
  marks_.regions.clear();
  marks_.bookmarks.clear();
  previousPaths_.clear();
  Changed();
  return true;
}

bool ProjectSession::AskSaveBeforeClosingAll() {
  if (path_.empty()) return true;
  const Answer a = prompter().Message(kSaveProjectQuestion, kCaption, MessageIcon::Question,
                                      MessageButtons::YesNoCancel);
  if (a == Answer::Cancel) return false;
  return a == Answer::No || SaveProject();
}

TaskResult ProjectSession::OpenProject() {
  platform::FileRequest r;
  r.mode = platform::FileDialogMode::Open;
  r.title = "Open Project";
  r.filters = {{"Quillet Project (.qlp)", "*.qlp;"}};
  r.defaultExtension = "qlp";
  r.folder = ctx_.settings.GetString("Settings", "OpenProjectDir", "");
  const platform::FileChoice choice = prompter().ChooseFiles(r);
  if (!choice.accepted()) return platform::kTaskCancelled;
  ctx_.settings.SetString("Settings", "OpenProjectDir", choice.files.front().parent_path().string());
  return OpenProjectFile(choice.files.front());
}

TaskResult ProjectSession::OpenProjectFile(const std::filesystem::path& file) {
  const std::filesystem::path target = std::filesystem::absolute(file);
  if (!path_.empty() && SameFile(path_, target)) return platform::kTaskDone;
  if (!CloseProject()) return platform::kTaskCancelled;
  LoadProjectTask task(target, ctx_.store);
  task.Run(ctx_.progress);
  if (task.result == platform::kTaskCancelled) return platform::kTaskCancelled;
  if (task.result != platform::kTaskDone) {
    if (task.wrongVersion())
      prompter().Message(platform::kFileVersionMessage, platform::kFileErrorCaption, MessageIcon::Error);
    prompter().Message(kCannotLoadProjectMessage, kCaption, MessageIcon::Error);
    ctx_.message = task.message();
    return platform::kTaskFailed;
  }
  Adopt(std::move(task.contents()), target);
  return platform::kTaskDone;
}

void ProjectSession::Adopt(ProjectContents c, const std::filesystem::path& file) {
  std::vector<core::WaveDocument*> docs;
  for (ProjectDocument& pd : c.documents) {
    const DocumentRecord& rec = pd.record;
    const int untitled = rec.path.empty() ? host_.NextUntitledNumber() : 0;
    auto made = std::make_unique<core::WaveDocument>(std::move(pd.audio), untitled,
                                                     std::filesystem::path(rec.path));
    if (untitled) made->SetModified(true);
    core::WaveDocument* doc = host_.AdoptDocument(std::move(made));
    if (!doc) continue;
    doc->SetView(rec.viewStart, rec.viewEnd);
    doc->SetSelection(rec.selStart, rec.selEnd, rec.cursor);
    if (!rec.previousPath.empty()) previousPaths_[doc] = rec.previousPath;
    docs.push_back(doc);
  }
  const bool complete = docs.size() == c.documents.size();
  for (std::size_t i = 0; i < c.bookmarks.size(); ++i) {
    core::Bookmark b = std::move(c.bookmarks[i]);
    const int owner = i < c.bookmarkDocuments.size() ? c.bookmarkDocuments[i] : -1;
    b.document = complete && owner >= 0 ? docs[static_cast<std::size_t>(owner)] : nullptr;
    if (b.document) b.documentKey = FitTextField(b.document->Title());
    marks_.bookmarks.push_back(std::move(b));
  }
  for (core::Region& r : c.regions) marks_.regions.push_back(std::move(r));
  for (core::WaveDocument* d : docs) AttachRegions(marks_.regions, *d);
  path_ = file;
  if (complete && !docs.empty()) host_.ActivateDocument(docs[static_cast<std::size_t>(c.active)]);
  Changed();
}

void RegisterProjectCommands(core::CommandRegistry& registry, ProjectSession& session,
                             ProjectWindows& windows) {
  using core::CommandCall;
  using core::CommandState;
  const auto done = [](bool) { return platform::kTaskDone; };
  const auto file = [](int order) { return core::MenuPlace{"&File", {}, order, false}; };
  const auto mark = [](int order, bool context = false) {
    return core::MenuPlace{"&Bookmark", {}, order, context};
  };
  auto hasRegions = [&session](const CommandState&) { return !session.regions().empty(); };
  // clang-format off
  const core::Command commands[] = {
      {.id = core::kCmdOpenProject, .menuText = "Open Project...",
       .description = "Opens a project.", .place = file(400),
       .run = [&session](CommandCall&) {
         const TaskResult r = session.OpenProject();
         return r == platform::kTaskFailed ? platform::kTaskDone : r;  // its messages are shown
       }},
      {.id = core::kCmdCloseProject, .menuText = "Close Project",
       .description = "Closes the current project.", .place = file(410),
       .run = [&session, done](CommandCall&) { return done(session.CloseProject()); },
       .enabled = [&session](const CommandState& s) {
         return !session.path().empty() || s.openDocuments > 0 || !session.regions().empty() ||
                !session.bookmarks().empty();
       }},
      {.id = core::kCmdSaveProject, .menuText = "Save Project",
       .description = "Saves the current project.", .place = file(420),
       .run = [&session, done](CommandCall&) { return done(session.SaveProject()); }},
      {.id = core::kCmdSaveProjectAs, .menuText = "Save Project As...",
       .description = "Saves the current project with a new name.", .place = file(430),
       .run = [&session, done](CommandCall&) { return done(session.SaveProjectAs()); }},

      {.id = core::kCmdSetBookmark, .menuText = "&Set Bookmark\tCtrl+B",
       .description = "Sets a bookmark at the current position.", .keys = "Ctrl+B",
       .needs = core::kNeedsDocument, .place = mark(100, true),
       .run = [&session, done](CommandCall&) { return done(session.SetBookmark()); }},
      {.id = core::kCmdBookmarkList, .menuText = "&Open Bookmark List\tCtrl+Shift+B",
       .description = "Shows the list of bookmarks.", .keys = "Ctrl+Shift+B", .place = mark(110),
       .run = [&windows](CommandCall&) { windows.ShowBookmarkList(); return platform::kTaskDone; }},
      {.id = core::kCmdAddRegion, .menuText = "&Add Region\tCtrl+R",
       .description = "Adds the selection to the region list.", .keys = "Ctrl+R",
       .needs = core::kNeedsDocument, .place = mark(200, true), .bars = {.command = 20},
       .run = [&session, done](CommandCall&) { return done(session.AddRegion()); }},
      {.id = core::kCmdRegionList, .menuText = "&Open Region List\tCtrl+Shift+R",
       .description = "Shows the list of regions.", .keys = "Ctrl+Shift+R", .place = mark(210),
       .run = [&windows](CommandCall&) { windows.ShowRegionList(); return platform::kTaskDone; }},
      {.id = core::kCmdAssembleRegions, .menuText = "Asse&mble Regions",
       .description = "Joins regions into a new file.", .place = mark(220),
       .run = [&windows](CommandCall&) { windows.ShowAssemble(); return platform::kTaskDone; },
       .enabled = hasRegions},
  };
  // clang-format on
  for (const core::Command& c : commands) registry.Add(c);
}

}  // namespace quillet::batch
