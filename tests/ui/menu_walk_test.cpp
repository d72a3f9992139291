// Every menu item as a new user meets it, on a small document with a selection: each
// enabled item changes something (the document, its view, the frame, playback, a
// clipboard), opens a dialog, window, file chooser or message, or it is a dead entry.
// Dialogs are cancelled and questions answered Cancel or No.
#include <QClipboard>
#include <QDockWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QToolBar>
#include <QWidgetAction>

#include <set>
#include <sstream>

#include "core/clipboard.h"
#include "core/command_ids.h"
#include "frame_fixture.h"
#include "ui/playback.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

struct Item {
  std::string path;  // "Edit/Select All"
  QAction* action;
};

void Collect(const QList<QAction*>& actions, const std::string& prefix, std::vector<Item>& out) {
  for (QAction* a : actions) {
    const std::string text = a->text().section('\t', 0, 0).remove('&').toStdString();
    if (a->menu()) {
      Collect(a->menu()->actions(), prefix + text + "/", out);
      continue;
    }
    if (a->isSeparator() || qobject_cast<QWidgetAction*>(a)) continue;
    const int id = a->data().toInt();
    // Recent files open what they name; Exit ends the walk's frame.
    if ((id >= core::kCmdRecentFirst && id <= core::kCmdRecentLast) || id == core::kCmdExit) continue;
    out.push_back({prefix + text, a});
  }
}

class MenuWalk : public Frame {
 protected:
  void SetUp() override {
    Frame::SetUp();
    QtPrompter::SetBoxHook([this](QMessageBox& box) -> std::optional<Answer> {
      boxes_.push_back(box.windowTitle().toStdString() + ": " + box.text().toStdString());
      if (box.standardButtons() & QMessageBox::Cancel) return Answer::Cancel;
      if (box.standardButtons() & QMessageBox::No) return Answer::No;
      return Answer::Ok;
    });
    QtPrompter::SetFileHook([this](const platform::FileRequest&) {
      ++files_;
      return platform::FileChoice{};
    });
    // Whatever opens is counted and closed again, in nested event loops too.
    closer_.setInterval(5);
    QObject::connect(&closer_, &QTimer::timeout, [this] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top == frame_.get() || !top->isVisible() || qobject_cast<QMenu*>(top) ||
            (top->windowFlags() & Qt::ToolTip) == Qt::ToolTip)
          continue;
        ++windows_;
        if (auto* d = qobject_cast<QDialog*>(top)) d->reject();
        else top->close();
      }
    });
    closer_.start();
  }

  std::string State() {
    std::ostringstream s;
    s << frame_->documents().size() << '|' << frame_->windowTitle().toStdString() << '|'
      << frame_->dockWidgetArea(frame_->commandBar()) << frame_->commandBar()->isVisible();
    for (QToolBar* bar : frame_->findChildren<QToolBar*>()) s << bar->isVisible();
    for (QMdiSubWindow* sub : frame_->mdi()->subWindowList())
      s << '|' << sub->geometry().x() << ',' << sub->geometry().y() << ',' << sub->width() << ','
        << sub->height() << ',' << int(sub->windowState());
    s << '|' << frame_->playback().IsPlaying() << frame_->playback().paused() << frame_->playback().repeat()
      << int(frame_->playback().speed()) << '|' << frame_->clipboard().Empty();
    if (const QMimeData* m = QApplication::clipboard()->mimeData()) s << m->formats().join(',').toStdString();
    if (DocumentWindow* w = frame_->active()) {
      const core::WaveDocument& d = w->doc();
      s << '|' << d.length() << ',' << d.channels() << ',' << d.sampleRate() << ',' << d.selStart() << ','
        << d.selEnd() << ',' << d.cursor() << ',' << d.modified() << ',' << d.viewStart() << ','
        << d.viewEnd() << ',' << w->displayMode() << w->verticalZoom() << ',' << w->marks().size() << ','
        << frame_->action(core::kCmdUndo)->text().toStdString();
    }
    return s.str();
  }

  QTimer closer_;
  int files_ = 0;
  int windows_ = 0;
};

TEST_F(MenuWalk, EveryEnabledItemDoesSomething) {
  std::vector<Item> items;
  Collect(frame_->menuBar()->actions(), "", items);
  ASSERT_GT(items.size(), 80u);
  std::vector<std::string> idle, disabled;
  std::set<std::string> paths;
  for (const Item& item : items) {
    EXPECT_TRUE(paths.insert(item.path).second) << item.path << " is in the menus twice";
    // Each item starts from the same fresh document, whatever the last one left.
    frame_->playback().Stop();
    closer_.stop();  // the load's own progress window must stay
    ASSERT_TRUE(frame_->CloseAll(false, false));
    Open(8000, 2, 8000, 0.5);
    closer_.start();
    ASSERT_TRUE(frame_->active()) << item.path;
    frame_->active()->doc().SetSelection(2000, 4000, 2000);
    // What some items need to have something to do.
    switch (item.action->data().toInt()) {
      case core::kCmdZoomOut: case core::kCmdZoomFull: frame_->active()->doc().SetView(2000, 4000); break;
      case core::kCmdStop: frame_->Command(core::kCmdPlay); break;
      case core::kCmdArrangeIcons:
        frame_->active()->parentWidget()->showMinimized();
        frame_->active()->parentWidget()->move(300, 20);
        break;
      default: break;
    }
    frame_->RefreshStates();
    QApplication::processEvents();
    if (!item.action->isEnabled()) {
      disabled.push_back(item.path);
      continue;
    }
    const std::string before = State();
    const std::size_t boxes = boxes_.size();
    const int files = files_, windows = windows_;
    const bool chosen = item.action->isChecked();
    item.action->trigger();
    QTest::qWait(30);
    // A choice already in effect (a radio item) stays so and changes nothing.
    if (chosen && item.action->isChecked()) continue;
    if (State() == before && boxes_.size() == boxes && files_ == files && windows_ == windows)
      idle.push_back(item.path);
  }
  // With a stereo document, a selection and a full clipboard nothing waits for more.
  std::ostringstream none, dead;
  for (const std::string& p : disabled) none << p << "; ";
  for (const std::string& p : idle) dead << p << "; ";
  EXPECT_TRUE(idle.empty()) << "did nothing: " << dead.str();
  EXPECT_LE(disabled.size(), 3u) << "disabled: " << none.str();
}

}  // namespace
}  // namespace quillet::ui
