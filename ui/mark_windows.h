#pragma once
// The two tool windows of the project: the bookmark list and the region list, each a
// list with the Part's columns and a context menu over the project session. Both
// refill themselves from the session when it changes.

#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <vector>

#include "batch/project.h"
#include "core/edit_services.h"

class QMenu;

namespace quillet::ui {

class Transport;

// The rows selected in a list, in list order.
std::vector<std::size_t> SelectedRows(const QTreeWidget* list);

class BookmarkListWindow final : public QWidget {
  Q_OBJECT
 public:
  BookmarkListWindow(QWidget* parent, batch::ProjectSession& session);
  void Refill();
  QTreeWidget* list() const { return list_; }
  // The context menu for the current selection (tests run its actions).
  QMenu* BuildMenu();

  void GoToSelected();
  void SelectToBookmark();
  void DeleteSelected();
  void DeleteAll();

 private:
  batch::ProjectSession& session_;
  QTreeWidget* list_;
  bool filling_ = false;
};

// Plays a region's own audio on the frame's transport, with the item's text following.
class RegionPlayer {
 public:
  explicit RegionPlayer(Transport& transport) : transport_(transport) {}
  // Plays r, or stops when a region plays.
  void Toggle(const core::Region* r);
  bool playing() const;
  void Stop();
  Transport& transport() { return transport_; }

 private:
  Transport& transport_;
  bool started_ = false;
};

class RegionListWindow final : public QWidget {
  Q_OBJECT
 public:
  // burn: "&Copy Region(s) to CD..." for the regions given (the front end's CD hand-off).
  RegionListWindow(QWidget* parent, batch::ProjectSession& session, settings::Settings& s,
                   RegionPlayer& player, std::function<void(const std::vector<std::size_t>&)> burn,
                   std::function<void()> assemble, std::function<formats::DispatchEnv()> env);
  void Refill();
  QTreeWidget* list() const { return list_; }
  QMenu* BuildMenu();

  void ExportSelected();
  void DeleteSelected();
  void DeleteAll();

 private:
  batch::ProjectSession& session_;
  settings::Settings& settings_;
  RegionPlayer& player_;
  std::function<void(const std::vector<std::size_t>&)> burn_;
  std::function<void()> assemble_;
  std::function<formats::DispatchEnv()> env_;
  QTreeWidget* list_;
  bool filling_ = false;
};

}  // namespace quillet::ui
