#pragma once
// The project of the editor: the program-wide bookmark and region lists, the project
// path, and the commands over them (bookmarks and regions of the "&Bookmark" menu, the
// list windows' actions, and the File menu's project commands). The documents stay
// with the front end, reached through ProjectHost; every question goes through the
// context's prompter, so all of it runs headless.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch/project_file.h"
#include "core/command_table.h"
#include "core/document.h"
#include "core/edit_services.h"
#include "core/marks.h"
#include "formats/dispatch.h"

namespace quillet::batch {

inline constexpr std::string_view kCannotLoadProjectMessage =
    "Quillet cannot load the project. The project may be corrupted or damaged. Please try again.";
inline constexpr std::string_view kCannotSaveProjectMessage = "Quillet could not save the project.";
inline constexpr std::string_view kSaveProjectQuestion = "Save changes to current project?";

// What the project needs from the front end that holds the documents.
class ProjectHost : public core::CommandHost {
 public:
  // The open documents in window order, and the active one (null when none).
  virtual std::vector<core::WaveDocument*> Documents() = 0;
  virtual core::WaveDocument* ActiveDocument() = 0;
  virtual void ActivateDocument(core::WaveDocument* doc) = 0;
  // Closes every document, with ask after each one's save prompt; false when the
  // person cancelled one (then every document stays open).
  virtual bool CloseAllDocuments(bool ask) = 0;
  // Saves through the format dispatch with the front end's option dialogs.
  virtual formats::DispatchEnv Env() = 0;
  // The lists or the project path changed: list windows, ruler marks, window title.
  virtual void MarksChanged() {}
};

class ProjectSession {
 public:
  using Clock = std::function<std::uint32_t()>;  // seconds since 1970
  // ctx must hold a prompter; clock: the system clock when empty.
  ProjectSession(core::EditContext& ctx, ProjectHost& host, Clock clock = {});

  // The lists, as plain records (the crash journal copies them from here).
  const core::MarkLists& marks() const { return marks_; }
  std::vector<core::Bookmark>& bookmarks() { return marks_.bookmarks; }
  std::vector<core::Region>& regions() { return marks_.regions; }
  const std::filesystem::path& path() const { return path_; }
  // "Quillet - %s" with the project's name while one is open, else "Quillet".
  std::string WindowTitle() const;

  // The front end's document events. Opened: bookmarks and regions keyed with the
  // document find it, and its ".qbm" is read (a bad one: the "File Error" message).
  void DocumentOpened(core::WaveDocument& doc);
  // Saved into its file (oldFile: where it was before): its bookmarks and regions
  // follow a new name and its ".qbm" is rewritten.
  void DocumentSaved(core::WaveDocument& doc, const std::filesystem::path& oldFile);
  void DocumentClosing(core::WaveDocument& doc);

  // "&Set Bookmark" and "&Add Region" on the active document; false when cancelled.
  bool SetBookmark();
  bool AddRegion();
  // "&Go To Bookmark": counts the visit, activates the bookmark's document, moves its
  // cursor there into view and, with "PlayBookMark", plays from it. The document, or
  // null when none is open.
  core::WaveDocument* GoToBookmark(std::size_t index);
  // "Select To Bookmark...": the range between two bookmarks in the first one's document.
  bool SelectToBookmark(std::size_t from, std::size_t to);
  void RenameBookmark(std::size_t index, std::string name);
  void DeleteBookmarks(const std::vector<std::size_t>& indexes);

  // "Select": the region's document (by path) active with the region selected; with
  // "PlayRegion" it plays. False when that document is not open.
  bool SelectRegion(std::size_t index);
  void RenameRegion(std::size_t index, std::string name);
  void DeleteRegions(std::vector<std::size_t> indexes);
  void MoveRegion(std::size_t from, std::size_t before);
  // "&Save": "Save Region As", then the save with the format's options.
  platform::TaskResult SaveRegion(std::size_t index);
  // "Copy To &New": each region (in list order) a new unsaved document.
  void CopyRegionsToNew(const std::vector<std::size_t>& indexes);
  // "&Export Region(s) to Folder..." with the stored "Export Region(s)" values.
  platform::TaskResult ExportRegions(const std::vector<std::size_t>& indexes);
  // The assemble dialog's OK: entries (copies of regions, in order) into a new document
  // with the stored gap options. The new document, or null.
  core::WaveDocument* Assemble(const std::vector<core::Region>& entries);

  // The project commands; each false (or not done) when cancelled or failed, with the
  // message shown.
  platform::TaskResult OpenProject();
  platform::TaskResult OpenProjectFile(const std::filesystem::path& file);
  bool CloseProject();
  bool SaveProject();
  bool SaveProjectAs();
  // Exit and Close All, after the documents' own prompts: with a project open, asks
  // whether to save it. False when cancelled (or the save failed).
  bool AskSaveBeforeClosingAll();
  // What Save Project writes: the open documents, the active index, each document's
  // bookmarks grouped in document order (each bookmark once), the regions.
  ProjectContents Contents();

 private:
  platform::Prompter& prompter() { return *ctx_.prompter; }
  // The bookmark's document, or the first open one its key names.
  core::WaveDocument* DocumentOf(const core::Bookmark& b);
  bool SaveProjectTo(const std::filesystem::path& file);
  bool SaveAs(bool askedEmpty);
  void Adopt(ProjectContents contents, const std::filesystem::path& file);
  void Changed() { host_.MarksChanged(); }

  core::EditContext& ctx_;
  ProjectHost& host_;
  Clock clock_;
  core::MarkLists marks_;
  std::filesystem::path path_;
  // The path each document had before it was last saved under a new name.
  std::map<const core::WaveDocument*, std::string> previousPaths_;
};

// The list windows and the assemble dialog, which the front end draws.
class ProjectWindows {
 public:
  virtual ~ProjectWindows() = default;
  virtual void ShowBookmarkList() = 0;
  virtual void ShowRegionList() = 0;
  virtual void ShowAssemble() = 0;
};

// The "&Bookmark" menu and the File menu's project commands. session and windows must
// outlive the registry.
void RegisterProjectCommands(core::CommandRegistry& registry, ProjectSession& session,
                             ProjectWindows& windows);

}  // namespace quillet::batch
