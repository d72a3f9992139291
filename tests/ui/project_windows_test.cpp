// Bookmarks, regions and projects in the editor as a new user meets them: keys and
// name dialogs, the two list windows and their menus, the ruler's marks, a project
// saved, the program closed, and everything found again after reopening it.
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>

#include "batch/project.h"
#include "frame_fixture.h"
#include "ui/mark_windows.h"
#include "ui/project_front.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

// Types text into the next name dialog and presses OK.
class TypeName {
 public:
  explicit TypeName(QString text) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this, text] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* d = qobject_cast<QInputDialog*>(top);
        if (!d || !d->isVisible()) continue;
        timer_.stop();
        title_ = d->windowTitle();
        initial_ = d->textValue();
        d->setTextValue(text);
        d->accept();
        return;
      }
    });
    timer_.start();
  }
  QString title() const { return title_; }
  QString initial() const { return initial_; }

 private:
  QTimer timer_;
  QString title_, initial_;
};

QAction* MenuAction(QMenu* menu, const QString& text) {
  for (QAction* a : menu->actions())
    if (a->text() == text) return a;
  return nullptr;
}

std::vector<QString> Column(const QTreeWidget* list, int column) {
  std::vector<QString> out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out.push_back(list->topLevelItem(i)->text(column));
  return out;
}

void SelectRows(QTreeWidget* list, std::initializer_list<int> rows) {
  list->clearSelection();
  for (int r : rows) list->topLevelItem(r)->setSelected(true);
  list->setCurrentItem(list->topLevelItem(*rows.begin()), 0, QItemSelectionModel::NoUpdate);
}

TEST_F(Frame, BookmarksAndRegionsSurviveSavingTheProjectAndStartingAgain) {
  DocumentWindow* w = Open(44100, 2, 3 * 44100, 0.5, "take.wav");
  ASSERT_NE(w, nullptr);
  w->doc().SetCursor(66150);
  {
    TypeName name("Intro");
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(name.title(), "Enter Bookmark Name");
    EXPECT_EQ(name.initial(), "take.wav@0:00:01.50");
  }
  w->doc().SetSelection(44100, 88200, 44100);
  {
    TypeName name("Chorus");
    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(name.title(), "Enter Region Name");
  }
  // The ruler shows both, with their tool tips.
  ASSERT_EQ(w->marks().size(), 3u);
  const Ruler* ruler = w->ruler();
  const FrameCount len = w->doc().viewEnd() - w->doc().viewStart();
  auto pixel = [&](FramePos f) { return int(double(f) * std::max(ruler->width() - 2, 8) / double(len)) + 1; };
  EXPECT_EQ(ruler->TipAt(pixel(66150)), "Intro\n0:00:01.50");
  EXPECT_EQ(ruler->TipAt(pixel(88200) + 2), "<Chorus\n0:00:02.00");
  EXPECT_EQ(ruler->TipAt(pixel(20000)), "");

  // The bookmark list shows the row; a double click goes there from anywhere.
  ASSERT_TRUE(frame_->Command(core::kCmdBookmarkList));
  BookmarkListWindow* bookmarks = frame_->project().bookmarkList();
  ASSERT_TRUE(bookmarks && bookmarks->isVisible());
  EXPECT_EQ(Column(bookmarks->list(), 1), std::vector<QString>{"0:00:01.50"});
  EXPECT_EQ(bookmarks->list()->headerItem()->text(3), "Last Visited");
  w->doc().SetCursor(0);
  SelectRows(bookmarks->list(), {0});
  emit bookmarks->list()->itemDoubleClicked(bookmarks->list()->topLevelItem(0), 0);
  EXPECT_EQ(w->doc().cursor(), 66150);
  EXPECT_EQ(Column(bookmarks->list(), 2), std::vector<QString>{"2"});

  // Renaming in place renames the bookmark.
  bookmarks->list()->topLevelItem(0)->setText(0, "Start");
  EXPECT_EQ(frame_->project().session().marks().bookmarks[0].name, "Start");

  // Saving the file writes the bookmark beside it.
  ASSERT_TRUE(frame_->Save(w, false));
  EXPECT_EQ(quillet::testing::ReadFileBytes(dir_ / "take.qbm").size(), 531u);

  ASSERT_TRUE(frame_->Command(core::kCmdRegionList));
  RegionListWindow* regions = frame_->project().regionList();
  ASSERT_NE(regions, nullptr);
  EXPECT_EQ(Column(regions->list(), 1), std::vector<QString>{"0:00:01.00-0:00:02.00"});
  EXPECT_EQ(Column(regions->list(), 2), std::vector<QString>{"take.wav"});

  // Save Project names a file; the title shows it.
  QtPrompter::SetFileHook([&](const platform::FileRequest& r) -> std::optional<platform::FileChoice> {
    EXPECT_EQ(r.title, "Save Project As");
    platform::FileChoice c;
    c.files = {dir_ / "song"};
    return c;
  });
  ASSERT_TRUE(frame_->Command(core::kCmdSaveProject));
  EXPECT_EQ(frame_->windowTitle(), "Quillet - song.qlp");

  // Quit: the project question comes after the documents'; No leaves the file as saved.
  answers_ = {Answer::No};
  ASSERT_TRUE(frame_->Exit());
  EXPECT_EQ(boxes_.back(), "Quillet: Save changes to current project?");
  MakeFrame();
  // The extension is known without regard to case.
  std::filesystem::rename(dir_ / "song.qlp", dir_ / "Song.QLP");
  EXPECT_FALSE(frame_->RunCommandLine({(dir_ / "Song.QLP").string()}));
  ASSERT_EQ(frame_->documents().size(), 1u) << (boxes_.empty() ? "" : boxes_.back());
  DocumentWindow* back = frame_->documents()[0];
  EXPECT_EQ(back->doc().file(), dir_ / "take.wav");
  EXPECT_EQ(back->doc().selStart(), 44100);
  EXPECT_EQ(back->doc().selEnd(), 88200);
  EXPECT_EQ(back->doc().cursor(), 66150);  // where Go To left it
  const auto& marks = frame_->project().session().marks();
  ASSERT_EQ(marks.bookmarks.size(), 1u);
  EXPECT_EQ(marks.bookmarks[0].name, "Start");
  EXPECT_EQ(marks.bookmarks[0].timesVisited, 2);
  ASSERT_EQ(marks.regions.size(), 1u);
  EXPECT_EQ(core::ChainLength(marks.regions[0].audio), 44100);
  EXPECT_EQ(back->marks().size(), 3u);
  EXPECT_EQ(frame_->windowTitle(), "Quillet - Song.QLP");
  QtPrompter::SetFileHook({});
}

TEST_F(Frame, RegionListMenuPlaysCopiesExportsAssemblesAndReorders) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.5, "a.wav");
  auto& session = frame_->project().session();
  for (const auto& [from, to, name] : {std::tuple{0, 800, "one"}, {800, 2400, "two"}, {2400, 4000, "three"}}) {
    w->doc().SetSelection(from, to, from);
    TypeName type(name);
    ASSERT_TRUE(frame_->Command(core::kCmdAddRegion));
  }
  ASSERT_TRUE(frame_->Command(core::kCmdRegionList));
  RegionListWindow* regions = frame_->project().regionList();
  QTreeWidget* list = regions->list();
  ASSERT_EQ(list->topLevelItemCount(), 3);

  // Play reads "Stop" while the region plays on the device.
  SelectRows(list, {1});
  std::unique_ptr<QMenu> menu(regions->BuildMenu());
  MenuAction(menu.get(), "&Play")->trigger();
  EXPECT_TRUE(frame_->project().regionPlayer().playing());
  menu.reset(regions->BuildMenu());
  ASSERT_NE(MenuAction(menu.get(), "Stop"), nullptr);
  MenuAction(menu.get(), "Stop")->trigger();
  EXPECT_FALSE(frame_->project().regionPlayer().playing());

  // The region outlives its document: close it, then copy the region to a new one.
  ASSERT_TRUE(frame_->CloseDocument(w));
  SelectRows(list, {1, 2});
  menu.reset(regions->BuildMenu());
  MenuAction(menu.get(), "Copy To &New")->trigger();
  ASSERT_EQ(frame_->documents().size(), 2u);
  EXPECT_EQ(frame_->documents()[0]->doc().Title(), "Untitled 1");
  EXPECT_EQ(frame_->documents()[0]->doc().length(), 1600);
  EXPECT_EQ(frame_->documents()[1]->doc().length(), 1600);

  // Export: an empty folder is refused in the dialog, then the two selected are written.
  std::filesystem::create_directories(dir_ / "out");
  int attempts = 0;
  DialogScript script("LExportRegionsDlg", [&](QDialog& d) {
    d.findChild<QLineEdit*>("folder")->setText("");
    QTimer::singleShot(50, &d, [&d, &attempts, this] {
      ++attempts;
      d.findChild<QLineEdit*>("folder")->setText(QString::fromStdString((dir_ / "out").string()));
      d.accept();
    });
  });
  SelectRows(list, {0, 2});
  menu.reset(regions->BuildMenu());
  MenuAction(menu.get(), "&Export Region(s) to Folder...")->trigger();
  EXPECT_EQ(attempts, 1);
  EXPECT_NE(std::find(boxes_.begin(), boxes_.end(),
                      "Quillet: The export folder is invalid. Please select a valid folder."),
            boxes_.end());
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "one.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "two.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "three.wav"));

  // Assemble "one" and "three" with the default 300 ms gap.
  DialogScript assemble("LAssembleDlg", [](QDialog& d) {
    auto* left = d.findChild<QListWidget*>("regionList");
    left->item(0)->setSelected(true);
    left->item(2)->setSelected(true);
    d.findChild<QPushButton*>("add")->click();
    EXPECT_EQ(d.findChild<QListWidget*>("assembleList")->count(), 2);
  });
  ASSERT_TRUE(frame_->Command(core::kCmdAssembleRegions));
  ASSERT_EQ(frame_->documents().size(), 3u);
  EXPECT_EQ(frame_->active()->doc().length(), 800 + 2400 + 1600);

  // Dragging "three" to the top reorders the list and the regions.
  session.MoveRegion(2, 0);
  EXPECT_EQ(Column(list, 0), (std::vector<QString>{"three", "one", "two"}));

  // Delete asks first.
  answers_ = {Answer::Yes};
  SelectRows(list, {1});
  regions->DeleteSelected();
  EXPECT_EQ(boxes_.back(), "Confirm Delete: Delete the selected region(s)?");
  EXPECT_EQ(Column(list, 0), (std::vector<QString>{"three", "two"}));
}

}  // namespace
}  // namespace quillet::ui
