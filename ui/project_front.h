#pragma once
// The editor's side of the project: the frame's documents as the project session sees
// them, the bookmark and region list windows, the assemble dialog, the hand-off of
// regions to the CD burner, and the marks each document window shows.

#include <QPointer>
#include <memory>
#include <vector>

#include "batch/project.h"
#include "ui/document_window.h"
#include "ui/mark_windows.h"

namespace quillet::ui {

class MainFrame;

class ProjectFront final : public batch::ProjectHost, public batch::ProjectWindows {
 public:
  ProjectFront(MainFrame& frame, core::EditContext& ctx, Transport& transport);
  ~ProjectFront() override;

  batch::ProjectSession& session() { return session_; }
  BookmarkListWindow* bookmarkList() const { return bookmarks_; }
  RegionListWindow* regionList() const { return regions_; }
  RegionPlayer& regionPlayer() { return player_; }

  core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override;
  int NextUntitledNumber() override;
  std::vector<core::WaveDocument*> Documents() override;
  core::WaveDocument* ActiveDocument() override;
  void ActivateDocument(core::WaveDocument* doc) override;
  bool CloseAllDocuments(bool ask) override;
  formats::DispatchEnv Env() override;
  void MarksChanged() override;

  void ShowBookmarkList() override;
  void ShowRegionList() override;
  void ShowAssemble() override;
  // "&Copy Region(s) to CD...": the "Burn CD" dialog, then each region a track.
  void BurnRegions(const std::vector<std::size_t>& rows);

  // The bookmark lines and region edges of doc, at its rate.
  std::vector<RulerMark> MarksOf(const core::WaveDocument& doc) const;

 private:
  MainFrame& frame_;
  core::EditContext& ctx_;
  batch::ProjectSession session_;
  RegionPlayer player_;
  QPointer<BookmarkListWindow> bookmarks_;
  QPointer<RegionListWindow> regions_;
};

}  // namespace quillet::ui
