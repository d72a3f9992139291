#include "ui/mark_windows.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFormLayout>
#include <QHeaderView>
#include <QMenu>
#include <QVBoxLayout>

#include "batch/bookmarks.h"
#include "batch/regions.h"
#include "ui/playback.h"
#include "ui/qt_prompter.h"
#include "ui/region_dialogs.h"

namespace quillet::ui {
namespace {

using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;

QString Q(const std::string& s) { return QString::fromStdString(s); }

void SetUpList(QTreeWidget* list, const std::vector<std::pair<const char*, int>>& columns) {
  QStringList names;
  for (const auto& [name, width] : columns) names << name;
  list->setHeaderLabels(names);
  for (int i = 0; i < int(columns.size()); ++i) list->setColumnWidth(i, columns[std::size_t(i)].second);
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
}

bool Confirm(QWidget* parent, const char* text, const char* caption) {
  return ShowMessageBox(parent, text, caption, MessageIcon::Question, MessageButtons::YesNo) == Answer::Yes;
}

// Rows move by dragging; the dragged row goes before the row under the pointer.
class RegionTree final : public QTreeWidget {
 public:
  explicit RegionTree(QWidget* parent) : QTreeWidget(parent) {
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::InternalMove);
    setAutoScroll(true);  // near the edges while dragging
  }
  std::function<void(std::size_t from, std::size_t before)> moved;

 protected:
  void dropEvent(QDropEvent* e) override {
    const QList<QTreeWidgetItem*> dragged = selectedItems();
    QTreeWidgetItem* under = itemAt(e->position().toPoint());
    e->ignore();  // the session reorders; the list is refilled from it
    if (dragged.size() != 1 || !moved) return;
    const std::size_t from = std::size_t(indexOfTopLevelItem(dragged.front()));
    const std::size_t before = under ? std::size_t(indexOfTopLevelItem(under)) : std::size_t(topLevelItemCount());
    moved(from, before);
  }
};

}  // namespace

std::vector<std::size_t> SelectedRows(const QTreeWidget* list) {
  std::vector<std::size_t> rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->isSelected()) rows.push_back(std::size_t(i));
  return rows;
}

BookmarkListWindow::BookmarkListWindow(QWidget* parent, batch::ProjectSession& session)
    : QWidget(parent, Qt::Tool), session_(session) {
  setObjectName("LBookmarkList");
  setWindowTitle("Bookmarks");
  list_ = new QTreeWidget(this);
  SetUpList(list_, {{"Name", 150}, {"Time", 130}, {"Times Visited", 115}, {"Last Visited", 140}});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  resize(560, 260);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { GoToSelected(); });
  connect(list_, &QTreeWidget::customContextMenuRequested, this, [this](QPoint p) {
    QMenu* menu = BuildMenu();
    menu->exec(list_->viewport()->mapToGlobal(p));
    delete menu;
  });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (filling_ || column != 0) return;
    session_.RenameBookmark(std::size_t(list_->indexOfTopLevelItem(item)), item->text(0).toStdString());
  });
  Refill();
}

void BookmarkListWindow::Refill() {
  filling_ = true;
  const std::vector<std::size_t> keep = SelectedRows(list_);
  list_->clear();
  for (const core::Bookmark& b : session_.marks().bookmarks) {
    const batch::BookmarkRow row = batch::BookmarkRowOf(b);
    auto* item = new QTreeWidgetItem(list_, {Q(row.name), Q(row.time), Q(row.visits), Q(row.lastVisited)});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
  }
  for (std::size_t i : keep)
    if (i < std::size_t(list_->topLevelItemCount())) list_->topLevelItem(int(i))->setSelected(true);
  filling_ = false;
}

QMenu* BookmarkListWindow::BuildMenu() {
  auto* menu = new QMenu(this);
  const bool one = SelectedRows(list_).size() == 1;
  const bool any = !SelectedRows(list_).empty();
  menu->addAction("&Go To Bookmark", this, [this] { GoToSelected(); })->setEnabled(one);
  menu->addAction("Select To Bookmark...", this, [this] { SelectToBookmark(); })->setEnabled(one);
  menu->addAction("&Rename", this, [this] {
    if (QTreeWidgetItem* item = list_->currentItem()) list_->editItem(item, 0);
  })->setEnabled(one);
  menu->addSeparator();
  menu->addAction("&Delete", this, [this] { DeleteSelected(); })->setEnabled(any);
  menu->addAction("Delete All", this, [this] { DeleteAll(); })->setEnabled(list_->topLevelItemCount() > 0);
  return menu;
}

void BookmarkListWindow::GoToSelected() {
  const std::vector<std::size_t> rows = SelectedRows(list_);
  if (rows.size() == 1) session_.GoToBookmark(rows.front());
}

void BookmarkListWindow::SelectToBookmark() {
  const std::vector<std::size_t> rows = SelectedRows(list_);
  if (rows.size() != 1) return;
  QDialog dialog(this);
  dialog.setObjectName("LSelectToBookmarkDlg");
  dialog.setWindowTitle("Select to Bookmark");
  auto* combo = new QComboBox(&dialog);
  combo->setObjectName("bookmark");
  for (const core::Bookmark& b : session_.marks().bookmarks)
    combo->addItem(Q(b.name + "  " + batch::BookmarkTimeText(b.positionMs)));
  auto* form = new QFormLayout(&dialog);
  form->addRow("Bookmark", combo);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted || combo->currentIndex() < 0) return;
  session_.SelectToBookmark(rows.front(), std::size_t(combo->currentIndex()));
}

void BookmarkListWindow::DeleteSelected() {
  const std::vector<std::size_t> rows = SelectedRows(list_);
  if (rows.empty() || !Confirm(this, "Delete the selected bookmark(s)?", "Confirm Delete")) return;
  session_.DeleteBookmarks(rows);
}

void BookmarkListWindow::DeleteAll() {
  if (list_->topLevelItemCount() == 0 || !Confirm(this, "Delete all selected bookmark(s)?", "Confirm Delete All"))
    return;
  std::vector<std::size_t> all(session_.marks().bookmarks.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  session_.DeleteBookmarks(all);
}

void RegionPlayer::Toggle(const core::Region* r) {
  if (playing()) {
    Stop();
    return;
  }
  if (!r) return;
  transport_.Stop();
  transport_.PlayRange(r->audio, 0, core::ChainLength(r->audio));
  started_ = transport_.IsPlaying();
}

bool RegionPlayer::playing() const { return started_ && transport_.IsPlaying() && !transport_.playing(); }

void RegionPlayer::Stop() {
  if (playing()) transport_.Stop();
  started_ = false;
}

RegionListWindow::RegionListWindow(QWidget* parent, batch::ProjectSession& session, settings::Settings& s,
                                   RegionPlayer& player,
                                   std::function<void(const std::vector<std::size_t>&)> burn,
                                   std::function<void()> assemble, std::function<formats::DispatchEnv()> env)
    : QWidget(parent, Qt::Tool),
      session_(session),
      settings_(s),
      player_(player),
      burn_(std::move(burn)),
      assemble_(std::move(assemble)),
      env_(std::move(env)) {
  setObjectName("LRegionList");
  setWindowTitle("Regions");
  auto* tree = new RegionTree(this);
  tree->moved = [this](std::size_t from, std::size_t before) { session_.MoveRegion(from, before); };
  list_ = tree;
  SetUpList(list_, {{"Name", 200}, {"Time", 120}, {"File", 110}});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
  resize(460, 260);
  connect(list_, &QTreeWidget::customContextMenuRequested, this, [this](QPoint p) {
    QMenu* menu = BuildMenu();
    menu->exec(list_->viewport()->mapToGlobal(p));
    delete menu;
  });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (filling_ || column != 0) return;
    session_.RenameRegion(std::size_t(list_->indexOfTopLevelItem(item)), item->text(0).toStdString());
  });
  Refill();
}

void RegionListWindow::Refill() {
  filling_ = true;
  const std::vector<std::size_t> keep = SelectedRows(list_);
  list_->clear();
  for (const core::Region& r : session_.marks().regions) {
    const batch::RegionRow row = batch::RegionRowOf(r);
    auto* item = new QTreeWidgetItem(list_, {Q(row.name), Q(row.time), Q(row.file)});
    item->setFlags((item->flags() | Qt::ItemIsEditable | Qt::ItemIsDragEnabled) & ~Qt::ItemIsDropEnabled);
  }
  for (std::size_t i : keep)
    if (i < std::size_t(list_->topLevelItemCount())) list_->topLevelItem(int(i))->setSelected(true);
  filling_ = false;
}

QMenu* RegionListWindow::BuildMenu() {
  auto* menu = new QMenu(this);
  const std::vector<std::size_t> rows = SelectedRows(list_);
  const bool one = rows.size() == 1, any = !rows.empty();
  const auto& regions = session_.marks().regions;
  const core::Region* first = one ? &regions[rows.front()] : nullptr;
  menu->addAction(player_.playing() ? "Stop" : "&Play", this, [this, first] { player_.Toggle(first); })
      ->setEnabled(one || player_.playing());
  menu->addAction("Select", this, [this, rows] { session_.SelectRegion(rows.front()); })->setEnabled(one);
  menu->addAction("&Rename", this, [this] {
    if (QTreeWidgetItem* item = list_->currentItem()) list_->editItem(item, 0);
  })->setEnabled(one);
  menu->addAction("&Save", this, [this, rows] { session_.SaveRegion(rows.front()); })->setEnabled(one);
  menu->addAction("Copy To &New", this, [this, rows] { session_.CopyRegionsToNew(rows); })->setEnabled(any);
  menu->addSeparator();
  menu->addAction("&Delete", this, [this] { DeleteSelected(); })->setEnabled(any);
  menu->addAction("Delete All", this, [this] { DeleteAll(); })->setEnabled(!regions.empty());
  menu->addSeparator();
  menu->addAction("&Export Region(s) to Folder...", this, [this] { ExportSelected(); })->setEnabled(any);
  menu->addAction("&Copy Region(s) to CD...", this, [this, rows] { burn_(rows); })->setEnabled(any && burn_);
  menu->addAction("Asse&mble", this, [this] { assemble_(); })->setEnabled(!regions.empty());
  return menu;
}

void RegionListWindow::ExportSelected() {
  const std::vector<std::size_t> rows = SelectedRows(list_);
  if (rows.empty() || !AskExportRegions(this, settings_, env_)) return;
  session_.ExportRegions(rows);
}

void RegionListWindow::DeleteSelected() {
  const std::vector<std::size_t> rows = SelectedRows(list_);
  if (rows.empty() || !Confirm(this, "Delete the selected region(s)?", "Confirm Delete")) return;
  player_.Stop();
  session_.DeleteRegions(rows);
}

void RegionListWindow::DeleteAll() {
  if (list_->topLevelItemCount() == 0 || !Confirm(this, "Delete all selected region(s)?", "Confirm Delete All"))
    return;
  player_.Stop();
  std::vector<std::size_t> all(session_.marks().regions.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  session_.DeleteRegions(all);
}

}  // namespace quillet::ui
