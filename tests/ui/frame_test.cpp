// The editor driven as a person would: keys, menus, the mouse and the command line,
// checked through its documents, settings, files and pixels.
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidgetAction>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "core/document.h"
#include "core/working_folder.h"
#include "fixtures/temp_dir.h"
#include "formats/document_io.h"
#include "platform/hot_keys.h"
#include "platform/record_file.h"
#include "ui/document_window.h"
#include "ui/main_frame.h"
#include "ui/qt_prompter.h"
#include "ui/wave_display.h"

#include "frame_fixture.h"

namespace quillet::ui {
namespace {

using namespace testsupport;
using platform::Answer;

TEST_F(Frame, MouseSelectionThenCutKeyAndUndoKeyRestoreTheAudio) {
  DocumentWindow* w = Open();
  ASSERT_NE(w, nullptr);
  WaveDisplay* d = w->mainDisplay();
  ASSERT_TRUE(d->WaitIdle(std::chrono::seconds(5)));
  const int x0 = d->width() / 4, x1 = d->width() / 2;
  QTest::mousePress(d, Qt::LeftButton, {}, QPoint(x0, 20));
  QTest::mouseMove(d, QPoint(x1, 20));
  QTest::mouseRelease(d, Qt::LeftButton, {}, QPoint(x1, 20));
  const auto& doc = w->doc();
  EXPECT_EQ(doc.selStart(), d->FrameAtPixel(x0));
  EXPECT_EQ(doc.selEnd(), d->FrameAtPixel(x1));
  ASSERT_TRUE(doc.HasSelection());
  const FrameCount cut = doc.selEnd() - doc.selStart();
  EXPECT_TRUE(frame_->action(core::kCmdCut)->isEnabled());

  Key(Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(doc.length(), 8000 - cut);
  EXPECT_TRUE(doc.modified());
  EXPECT_EQ(frame_->action(core::kCmdUndo)->text().toStdString(), "Undo Cut\tCtrl+Z");
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(doc.length(), 8000);
  EXPECT_FALSE(doc.modified());
  EXPECT_EQ(frame_->action(core::kCmdRedo)->text().toStdString(), "Redo Cut\tCtrl+Y");
}

TEST_F(Frame, DisplayPaintsTheGivenColoursAndSelection) {
  DocumentWindow* w = Open(8000, 1, 64000, 0.5);
  WaveDisplay* d = w->mainDisplay();
  QApplication::processEvents();  // the windows are tiled as a file opens: its new size first
  ASSERT_TRUE(d->WaitIdle(std::chrono::seconds(5)));
  QApplication::processEvents();
  QImage img = d->grab().toImage();
  const int mid = img.height() / 2;
  EXPECT_EQ(img.pixel(img.width() / 3, mid), colors::kWave);
  EXPECT_EQ(img.pixel(img.width() / 3, 3), colors::kBackground);
  // Half scale reaches about a quarter of the height above the centre line.
  const int h = img.height() - 1;
  const int expectUp = (127 * h) >> 9;
  // A column holds less than a period of the sine: one of two neighbours has its crest.
  const int x = img.width() / 3;
  EXPECT_TRUE(img.pixel(x, mid - expectUp + 2) == colors::kWave ||
              img.pixel(x + 1, mid - expectUp + 2) == colors::kWave);
  EXPECT_EQ(img.pixel(x, mid - expectUp - 3), colors::kBackground);

  w->doc().SetSelection(0, 32000, 0);
  QApplication::processEvents();
  img = d->grab().toImage();
  EXPECT_EQ(img.pixel(img.width() / 4, 3), colors::kSelectedBackground);
  EXPECT_EQ(img.pixel(img.width() / 4, mid), colors::kSelectedWave);
  EXPECT_EQ(img.pixel(img.width() * 3 / 4, 3), colors::kBackground);
  // The cursor line at frame 0, the sunken frame's black top edge.
  EXPECT_EQ(img.pixel(1, mid + 5), colors::kMarkerLine);
  EXPECT_EQ(img.pixel(img.width() / 2, 0), qRgb(0, 0, 0));
  EXPECT_EQ(img.pixel(img.width() / 2, img.height() - 1), qRgb(255, 255, 255));
}

TEST_F(Frame, ZoomKeysKeepTheViewInsideTheAudio) {
  DocumentWindow* w = Open(8000, 1, 150);
  auto& doc = w->doc();
  Key(Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(doc.viewEnd() - doc.viewStart(), 100);  // the shortest view
  for (int i = 0; i < 5; ++i) Key(Qt::Key_Minus, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(doc.viewStart(), 0);
  EXPECT_EQ(doc.viewEnd(), 150);
  doc.SetSelection(20, 60, 20);
  Key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(doc.viewStart(), 20);
  EXPECT_EQ(doc.viewEnd(), 60);
  Key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(doc.viewEnd(), 150);
}

TEST_F(Frame, EmptyDocumentShowsOneSecondAndSurvivesEveryZoom) {
  settings_->SetBool("Settings", "PromptSampleAndChannels", false);
  settings_->SetInt("Settings", "DefaultSampleRate", 0);  // a stored 0 must not divide
  ASSERT_TRUE(frame_->Command(core::kCmdNewFile));
  DocumentWindow* w = frame_->active();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->doc().sampleRate(), 44100u);
  EXPECT_EQ(w->mainDisplay()->viewLength(), 44100);
  for (core::CommandId id : {core::kCmdZoomIn, core::kCmdZoomOut, core::kCmdZoomSelection,
                             core::kCmdZoomFull, core::kCmdVerticalZoom})
    frame_->Command(id);
  EXPECT_EQ(w->doc().length(), 0);
  EXPECT_TRUE(w->mainDisplay()->WaitIdle(std::chrono::seconds(5)));
  EXPECT_EQ(w->windowTitle().toStdString(), "Untitled 1[*]");
  // Modes 1 and 2 are for stereo only.
  EXPECT_FALSE(w->button(89)->isEnabled());
  EXPECT_FALSE(frame_->action(core::kCmdDisplayLeftRight)->isEnabled());
}

TEST_F(Frame, AmplifyDialogValueChangesTheAudioAndIsUndoable) {
  DocumentWindow* w = Open();
  settings_->SetInt("StoredValues", "AmplifyGain", 50);
  // The dialog opens with the stored 50 %; OK takes it.
  QTimer::singleShot(0, [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(top); d && d->isVisible()) d->accept();
  });
  const FrameCount before = w->doc().length();
  ASSERT_TRUE(frame_->Command(core::kCmdAmplify));
  EXPECT_EQ(w->doc().length(), before);
  EXPECT_EQ(w->doc().history().UndoName(), "Amplify");
  // Half gain, up to the truncation of the 8.24 product.
  EXPECT_NEAR(w->doc().chain().segments().front().gain, 0x800000, 16);
  frame_->Command(core::kCmdUndo);
  EXPECT_EQ(w->doc().chain().segments().front().gain, 0x1000000);
}

TEST_F(Frame, CancelAtSecondOfThreeSavePromptsKeepsEverythingOpen) {
  DocumentWindow* a = Open(8000, 1, 800, 0.5, "a.wav");
  DocumentWindow* b = Open(8000, 1, 800, 0.5, "b.wav");
  DocumentWindow* c = Open(8000, 1, 800, 0.5, "c.wav");
  for (DocumentWindow* w : {a, b, c}) w->doc().SetModified(true);
  answers_ = {Answer::Yes, Answer::Cancel};
  EXPECT_FALSE(frame_->Exit());
  EXPECT_EQ(frame_->documents().size(), 3u);
  EXPECT_FALSE(a->doc().modified());  // Yes saved it
  EXPECT_TRUE(b->doc().modified());
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1], "Quillet: Save changes to \"b.wav\"?");
  EXPECT_TRUE(frame_->isVisible());
}

TEST_F(Frame, FailedSaveDuringCloseKeepsTheDocumentOpenAndModified) {
  DocumentWindow* w = Open();
  w->doc().SetModified(true);
  // Its file can no longer be written: the folder is gone.
  w->doc().SetFile(dir_ / "gone" / "a.wav");
  answers_ = {Answer::Yes, Answer::Ok};
  EXPECT_FALSE(frame_->CloseDocument(w));
  ASSERT_EQ(frame_->documents().size(), 1u);
  EXPECT_TRUE(w->doc().modified());
  EXPECT_TRUE(frame_->saveFailed());
}

TEST_F(Frame, CommandLineSavesAsAndExitsAndReportsAFailedSave) {
  WriteSine(dir_ / "in.wav", 8000, 2, 4000, 0.25);
  EXPECT_TRUE(frame_->RunCommandLine({(dir_ / "in.wav").string(), "-SAVEAS",
                                      (dir_ / "out.wav").string(), "-exit", "-close"}));
  EXPECT_FALSE(frame_->saveFailed());
  std::string reader;
  const audio::SourceHandle saved = formats::OpenAudioFile(dir_ / "out.wav", *settings_, &reader);
  ASSERT_TRUE(saved->ready());
  EXPECT_EQ(saved->length(), 4000);
  EXPECT_EQ(saved->channels(), 2);
  EXPECT_TRUE(frame_->documents().empty());
  EXPECT_FALSE(frame_->isVisible());
  // The closed file went into the recent list.
  EXPECT_EQ(settings_->GetString("Recent", "RecentFile 1", ""),
            std::filesystem::absolute(dir_ / "out.wav").string());

  MakeFrame();
  frame_->RunCommandLine({(dir_ / "in.wav").string(), "-saveas", (dir_ / "no" / "x.wav").string()});
  EXPECT_TRUE(frame_->saveFailed());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no" / "x.wav"));
}

// A command line that ends in -exit is a script: a failed save must not wait for
// someone to close its message box.
TEST_F(Frame, ScriptedCommandLineNeverWaitsOnAMessageBox) {
  WriteSine(dir_ / "in.wav", 8000, 1, 800, 0.25);
  QtPrompter::SetBoxHook({});  // no test answers: a box would really wait
  int modalBoxesSeen = 0;
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        ++modalBoxesSeen;
        box->reject();
      }
  });
  watchdog.start(200);
  EXPECT_TRUE(frame_->RunCommandLine({(dir_ / "in.wav").string(), "-saveas",
                                      (dir_ / "no" / "x.mp3").string(), "-exit"}));
  watchdog.stop();
  EXPECT_EQ(modalBoxesSeen, 0);
  EXPECT_TRUE(frame_->saveFailed());
  EXPECT_FALSE(QtPrompter::SetUnattended(false));  // restored after the command line
}

TEST_F(Frame, WindowArgumentSetsTheClientArea) {
  frame_->RunCommandLine({"-window", "640", "480"});
  QApplication::processEvents();
  EXPECT_EQ(frame_->centralWidget()->width(), 640);
  EXPECT_EQ(frame_->centralWidget()->height(), 480);
}

TEST_F(Frame, HotKeyRunsItsCommandsInOrderInsteadOfTheBuiltInKey) {
  // Delete is bound to Select All, then Copy To New.
  platform::SaveHotKeys(dir_ / "keys.dat", {{0x2E, {2007, 2021, 99999}}});
  MakeFrame(dir_ / "keys.dat");
  DocumentWindow* w = Open();
  Key(Qt::Key_Delete);
  EXPECT_EQ(w->doc().length(), 8000);  // not deleted
  ASSERT_EQ(frame_->documents().size(), 2u);
  EXPECT_EQ(frame_->documents()[1]->doc().length(), 8000);
}

TEST_F(Frame, WrongKeysVersionShowsTheFileError) {
  testing::WriteFileBytes(dir_ / "keys.dat", std::string("\x01\x2E\0\0\0\0", 6));
  MakeFrame(dir_ / "keys.dat");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "File Error: " + std::string(platform::kFileVersionMessage));
  EXPECT_TRUE(frame_->hotKeys().empty());
}

TEST_F(Frame, TabsStatusAndTimeFieldsFollowTheActiveDocument) {
  Open(8000, 1, 8000, 0.5, "a.wav");
  EXPECT_TRUE(frame_->tabs()->isHidden());
  DocumentWindow* b = Open(22050, 2, 22050, 0.5, "b.wav");
  EXPECT_FALSE(frame_->tabs()->isHidden());
  EXPECT_EQ(frame_->tabs()->count(), 2);
  EXPECT_EQ(frame_->statusRate()->text().toStdString(), "Sample Rate: 22050   Stereo");
  b->doc().SetSelection(11025, 22050, 11025);
  QApplication::processEvents();
  EXPECT_EQ(frame_->timeField(0)->text().toStdString(), "0:00:00.50");
  EXPECT_EQ(frame_->timeField(2)->text().toStdString(), "0:00:00.500");
  frame_->tabs()->tabBarClicked(0);
  EXPECT_EQ(frame_->statusRate()->text().toStdString(), "Sample Rate: 8000   Mono");
}

TEST_F(Frame, ShiftWithArrowKeysExtendsTheSelectionFromWhereShiftWentDown) {
  DocumentWindow* w = Open();
  w->FollowPosition(4000);
  QTest::keyPress(w->mainDisplay(), Qt::Key_Shift);
  Key(Qt::Key_End, Qt::ShiftModifier);
  QTest::keyRelease(w->mainDisplay(), Qt::Key_Shift);
  EXPECT_EQ(w->doc().selStart(), 4000);
  EXPECT_EQ(w->doc().selEnd(), 8000);
}

// Every item of the menus, bars and the context menu works: it is a command of the
// table that can run.
TEST_F(Frame, EveryMenuItemIsARunnableCommand) {
  std::vector<std::string> texts;
  std::function<void(const QList<QAction*>&)> walk = [&](const QList<QAction*>& actions) {
    for (QAction* a : actions) {
      if (a->menu()) {
        walk(a->menu()->actions());
        continue;
      }
      if (a->isSeparator() || qobject_cast<QWidgetAction*>(a)) continue;  // the time fields
      const int id = a->data().toInt();
      if (id >= core::kCmdRecentFirst && id <= core::kCmdRecentLast) continue;
      const core::Command* c = frame_->commands().Find(id);
      ASSERT_NE(c, nullptr) << a->text().toStdString();
      EXPECT_TRUE(c->run) << c->menuText;
      texts.push_back(a->text().toStdString());
    }
  };
  walk(frame_->menuBar()->actions());
  for (QToolBar* bar : frame_->findChildren<QToolBar*>()) walk(bar->actions());
  EXPECT_GT(texts.size(), 60u);
  for (const char* shown : {"Paste From System Clipboard", "Paste Mix From System Clipboard...",
                            "&Amplify...", "Mono", "&Auto Trim", "E&xit\tAlt+F4",
                            "&Load Audio CD Track(s)...\tCtrl+L", "Open Project...",
                            "&Set Bookmark\tCtrl+B", "Asse&mble Regions", "&Options...",
                            "&Help Contents\tF1", "Tone &Generator"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), shown), texts.end()) << shown;
  EXPECT_TRUE(frame_->commands().refusals().empty());
}

TEST_F(Frame, ToolbarSettingsAreStoredAndTheRecentListIsRebuilt) {
  frame_->Command(core::kCmdMainToolbar);
  EXPECT_FALSE(settings_->GetBool("Settings", "ShowMainToolbar", true));
  frame_->Command(core::kCmdCommandBarRight);
  EXPECT_FALSE(settings_->GetBool("Settings", "ShowCommandBarLeft", true));
  EXPECT_EQ(frame_->dockWidgetArea(frame_->commandBar()), Qt::RightDockWidgetArea);
}

}  // namespace
}  // namespace quillet::ui
