// The editor driven as a person would: keys, menus, the mouse and the command line,
// checked through its documents, settings, files and pixels.
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QWheelEvent>
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
#include "platform/task.h"
#include "ui/dialogs.h"
#include "ui/document_window.h"
#include "ui/level_meter.h"
#include "ui/main_frame.h"
#include "ui/progress_dialog.h"
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
  // The usual Linux redo key as well.
  Key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(doc.length(), 8000 - cut);
}

TEST_F(Frame, DragsReachTheEdgesAndSnapUnlessCtrlIsHeld) {
  DocumentWindow* w = Open(8000, 1, 80000);
  WaveDisplay* d = w->mainDisplay();
  ASSERT_TRUE(d->WaitIdle(std::chrono::seconds(5)));
  const auto& doc = w->doc();
  auto drag = [&](int x0, int x1, Qt::KeyboardModifiers mods = {}) {
    QTest::mousePress(d, Qt::LeftButton, mods, QPoint(x0, 20));
    QTest::mouseMove(d, QPoint(x1, 20));
    QTest::mouseRelease(d, Qt::LeftButton, mods, QPoint(x1, 20));
  };
  const int last = d->width() - 1;
  // Edge to edge, from the border or from the first and last columns: everything.
  for (const auto& [x0, x1] : {std::pair{0, last}, {1, d->columns()}}) {
    SCOPED_TRACE(x0);
    drag(x0, x1);
    EXPECT_EQ(doc.selStart(), 0);
    EXPECT_EQ(doc.selEnd(), 80000);
  }
  // A few pixels in still catches the start and the end; Ctrl lets go of them.
  drag(3, last - 3);
  EXPECT_EQ(doc.selStart(), 0);
  EXPECT_EQ(doc.selEnd(), 80000);
  drag(3, last - 3, Qt::ControlModifier);
  EXPECT_EQ(doc.selStart(), d->FrameAtPixel(3));
  EXPECT_GT(doc.selStart(), 0);
  EXPECT_LT(doc.selEnd(), 80000);
  // The cursor catches a drag that ends near it.
  w->doc().SetSelection(40000, 40000, 40000);
  QApplication::processEvents();
  const int cx = d->PixelOfFrame(40000);
  ASSERT_GT(cx, 0);
  drag(cx - 100, cx + 2);
  EXPECT_EQ(doc.selEnd(), 40000);
}

// Where the view, the cursor and the selection are, in a long file: the ruler's
// labels, the overview's range (dragged to scroll), the status line, and edges that
// are grabbed by their handles only.
TEST_F(Frame, RulerOverviewStatusAndHandlesTellWhereThingsAre) {
  DocumentWindow* w = Open(8000, 1, 8000 * 60);
  auto& doc = w->doc();
  doc.SetView(8000 * 10, 8000 * 20);
  doc.SetSelection(8000 * 12, 8000 * 14, 8000 * 12);
  QApplication::processEvents();
  const auto labels = w->ruler()->Labels();
  ASSERT_GE(labels.size(), 2u);
  EXPECT_EQ(labels.front().second, "0:00:10");
  for (std::size_t i = 1; i < labels.size(); ++i) EXPECT_GE(labels[i].first - labels[i - 1].first, 80);
  EXPECT_EQ(frame_->statusTimes()->text().toStdString(),
            "Length: 0:01:00.000   Selection: 0:00:12.000 - 0:00:14.000 (0:00:02.000)   Cursor: 0:00:12.000");

  // The overview's band over the visible range drags the view; elsewhere it selects.
  WaveDisplay* o = w->overview();
  const int from = o->PixelOfFrame(8000 * 15), to = o->PixelOfFrame(8000 * 35);
  QTest::mousePress(o, Qt::LeftButton, {}, QPoint(from, 2));
  QTest::mouseMove(o, QPoint(to, 2));
  QTest::mouseRelease(o, Qt::LeftButton, {}, QPoint(to, 2));
  EXPECT_NEAR(double(doc.viewStart()), 8000 * 30, 8000 * 60.0 / o->columns() + 1);
  EXPECT_EQ(doc.viewEnd() - doc.viewStart(), 8000 * 10);
  EXPECT_EQ(doc.selStart(), 8000 * 12) << "the selection stays";

  // A press on an edge's handle moves that edge; the same column above it starts anew.
  doc.SetView(0, 8000 * 20);
  QApplication::processEvents();
  WaveDisplay* d = w->mainDisplay();
  const int edge = d->PixelOfFrame(8000 * 14), bottom = d->height() - 3;
  EXPECT_EQ(d->HandleAt(edge + 2, bottom), +1);
  EXPECT_EQ(d->HandleAt(d->PixelOfFrame(8000 * 12), bottom), -1);
  EXPECT_EQ(d->HandleAt(edge, d->height() / 2), 0);
  QTest::mouseMove(d, QPoint(edge, bottom));
  EXPECT_EQ(d->cursor().shape(), Qt::SizeHorCursor);
  const int later = d->PixelOfFrame(8000 * 16);
  QTest::mousePress(d, Qt::LeftButton, Qt::ControlModifier, QPoint(edge, bottom));
  QTest::mouseMove(d, QPoint(later, bottom));
  QTest::mouseRelease(d, Qt::LeftButton, Qt::ControlModifier, QPoint(later, bottom));
  EXPECT_EQ(doc.selStart(), 8000 * 12);
  EXPECT_EQ(doc.selEnd(), d->FrameAtPixel(later));
  QTest::mousePress(d, Qt::LeftButton, Qt::ControlModifier, QPoint(later, 20));
  QTest::mouseMove(d, QPoint(later + 40, 20));
  QTest::mouseRelease(d, Qt::LeftButton, Qt::ControlModifier, QPoint(later + 40, 20));
  EXPECT_EQ(doc.selStart(), d->FrameAtPixel(later));

  // Zoom Selection keeps its key; Save As has one of its own.
  doc.SetSelection(8000, 16000, 8000);
  Key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(doc.viewStart(), 8000);
  EXPECT_EQ(doc.viewEnd(), 16000);
  std::string asked;
  QtPrompter::SetFileHook([&](const platform::FileRequest& r) -> std::optional<platform::FileChoice> {
    asked = r.title;
    return platform::FileChoice{};  // cancelled
  });
  Key(Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
  EXPECT_EQ(asked, "Save Audio File As");
}

// A WAVE file whose header promises more than it holds opens what is there and says so.
TEST_F(Frame, ACutShortWaveOpensWithANotice) {
  WriteSine(dir_ / "whole.wav", 8000, 1, 8000, 0.5);
  std::string bytes = testing::ReadFileBytes(dir_ / "whole.wav");
  bytes.resize(bytes.size() - 8000);  // half the samples gone, the sizes as they were
  testing::WriteFileBytes(dir_ / "cut.wav", bytes);
  DocumentWindow* w = frame_->OpenFile(dir_ / "cut.wav");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->doc().length(), 4000);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(frame_->statusBar()->currentMessage().toStdString(),
            "The file is cut short: its header promises 1.000 s of audio (16000 bytes), only 0.500 s "
            "(8000 bytes) are there.");
}

TEST_F(Frame, WheelScrollsAndCtrlWheelZoomsAboutThePointer) {
  DocumentWindow* w = Open(8000, 1, 80000);
  WaveDisplay* d = w->mainDisplay();
  auto& doc = w->doc();
  doc.SetView(0, 8000);
  QApplication::processEvents();
  auto wheel = [&](int x, int delta, Qt::KeyboardModifiers mods) {
    const QPointF at(x, 20);
    QWheelEvent e(at, d->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(d, &e);
    QApplication::processEvents();
  };
  // Towards the person scrolls right, a tenth of the view per notch.
  wheel(d->width() / 2, -240, {});
  EXPECT_EQ(doc.viewStart(), 1600);
  EXPECT_EQ(doc.viewEnd(), 9600);
  // Ctrl zooms in by half, and the frame under the pointer stays under it.
  const int x = d->width() / 4;
  const FramePos pointed = d->FrameAtPixel(x);
  wheel(x, 120, Qt::ControlModifier);
  EXPECT_EQ(doc.viewEnd() - doc.viewStart(), 4000);
  EXPECT_NEAR(double(d->FrameAtPixel(x)), double(pointed), 4000.0 / d->columns() + 1);
  wheel(x, -120, Qt::ControlModifier);
  EXPECT_EQ(doc.viewEnd() - doc.viewStart(), 8000);
}

// The scroll bar pages by the visible width, its thumb is the visible part, and
// dragging the thumb to the end shows the end with the play position there.
TEST_F(Frame, ScrollBarPagesTheViewAndItsThumbIsTheVisiblePart) {
  DocumentWindow* w = Open(8000, 1, 80000);
  auto& doc = w->doc();
  doc.SetView(8000, 16000);
  doc.SetCursor(9000);
  QApplication::processEvents();
  QScrollBar* bar = w->scrollBar();
  EXPECT_EQ(bar->pageStep(), 8000);
  EXPECT_EQ(bar->maximum(), 72000);
  EXPECT_EQ(bar->value(), 8000);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  QApplication::processEvents();
  EXPECT_EQ(doc.viewStart(), 16000);
  EXPECT_EQ(doc.viewEnd(), 24000);
  EXPECT_EQ(doc.cursor(), 17000) << "the play position keeps its place on screen";
  EXPECT_EQ(bar->value(), 16000);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  QApplication::processEvents();
  EXPECT_EQ(doc.viewStart(), 0);
  EXPECT_EQ(doc.cursor(), 1000);
  EXPECT_EQ(bar->value(), 0);
  bar->setSliderPosition(bar->maximum());
  bar->triggerAction(QAbstractSlider::SliderMove);
  QApplication::processEvents();
  EXPECT_EQ(doc.viewEnd(), 80000);
  EXPECT_EQ(doc.cursor(), 80000);
  // A zoom changes the thumb with the view.
  w->ZoomFull();
  QApplication::processEvents();
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_EQ(bar->pageStep(), 80000);
}

// The meter's scale lines up with its bars and its labels never overprint; stereo
// lanes are labelled; the display-mode buttons explain themselves.
TEST_F(Frame, MeterScaleLanesAndDisplayModeTips) {
  for (int width : {120, 170, 400}) {
    LevelMeterWidget m;
    m.resize(width, m.sizeHint().height());
    const auto labels = m.ScaleLabels();
    ASSERT_GE(labels.size(), 2u) << width;
    bool zero = false;
    for (std::size_t i = 0; i < labels.size(); ++i) {
      const auto& l = labels[i];
      EXPECT_GE(l.left, 0);
      if (i > 0) {
        EXPECT_GT(l.left, labels[i - 1].left) << width;
      }
      if (l.db == 0) {
        zero = true;
        // Centred under the bars' 0 dB line.
        EXPECT_LE(l.left, m.XOfDb(0));
        EXPECT_GE(l.left + 10, m.XOfDb(0));
      }
    }
    EXPECT_TRUE(zero) << width;
    EXPECT_EQ(m.XOfDb(-60), m.BarArea().left());
    EXPECT_EQ(m.XOfDb(15), m.BarArea().right());
  }
  EXPECT_EQ(LevelMeterWidget::LaneLabel(0, 2), "L");
  EXPECT_EQ(LevelMeterWidget::LaneLabel(1, 2), "R");
  EXPECT_TRUE(LevelMeterWidget::LaneLabel(0, 1).isEmpty());

  // Drawn: the lane labels left of the bars and the scale's text under them.
  LevelMeterWidget m;
  m.resize(170, m.sizeHint().height());
  devices::LLevelRecord rec;
  rec.channels = 2;
  rec.level[0] = -6;
  rec.level[1] = -30;
  m.Update(rec);
  const QImage img = m.grab().toImage();
  auto lit = [&](QRect r) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (qGray(img.pixel(x, y)) > 100) return true;
    return false;
  };
  const QRect bars = m.BarArea();
  EXPECT_TRUE(lit(QRect(0, bars.top(), bars.left() - 1, bars.height() / 2)));
  EXPECT_TRUE(lit(QRect(0, bars.top() + bars.height() / 2, bars.left() - 1, bars.height() / 2)));
  EXPECT_TRUE(lit(QRect(0, bars.bottom() + 4, img.width(), img.height() - bars.bottom() - 4)));

  DocumentWindow* w = Open(8000, 2, 800);
  for (int id : {88, 89, 91}) EXPECT_FALSE(w->button(id)->toolTip().isEmpty()) << id;
}

// A progress window shows once its task works, never behind a dialog the task asks
// first, and is gone before the task's failure message opens.
TEST_F(Frame, ProgressWindowIsNeverLeftEmptyBehindADialogOrAMessage) {
  struct Step {
    bool askFirst;   // a modal dialog before any work
    bool work;       // pumps, as a task does between blocks
    bool fail;       // ends with its message
  };
  const Step steps[] = {{true, true, false}, {false, false, true}, {false, true, true}};
  for (const Step& step : steps) {
    struct Scripted final : platform::LProgressDialog {
      Step step;
      QWidget* parent;
      bool progressBehindDialog = true, progressWhileWorking = false;
      Scripted(Step s, QWidget* p) : LProgressDialog("Scripted"), step(s), parent(p) {}
      bool Execute() override {
        if (step.askFirst) {
          QDialog asked(parent);
          QTimer::singleShot(0, &asked, [&] {
            progressBehindDialog = QtProgressFactory::Current() != nullptr;
            asked.accept();
          });
          asked.exec();
        }
        if (step.work) {
          Pump();
          progressWhileWorking = QtProgressFactory::Current() != nullptr;
        }
        if (step.fail) ShowError("It went wrong.");
        result = step.fail ? platform::kTaskFailed : platform::kTaskDone;
        return true;
      }
    } task(step, frame_.get());
    bool progressBehindBox = true;
    QtPrompter::SetBoxHook([&](QMessageBox& box) -> std::optional<Answer> {
      boxes_.push_back(box.text().toStdString());
      progressBehindBox = QtProgressFactory::Current() != nullptr;
      return Answer::Ok;
    });
    boxes_.clear();
    QtProgressFactory factory(frame_.get(), {});
    ASSERT_TRUE(task.Run(factory));
    if (step.askFirst) {
      EXPECT_FALSE(task.progressBehindDialog);
    }
    EXPECT_EQ(task.progressWhileWorking, step.work);
    if (step.fail) {
      EXPECT_EQ(boxes_, std::vector<std::string>{"It went wrong."});
      EXPECT_FALSE(progressBehindBox);
    }
    EXPECT_EQ(QtProgressFactory::Current(), nullptr);
  }
}

// A dialog narrower than its title widens to show it; a wide one keeps its width.
TEST_F(Frame, DialogsWidenToShowTheirWholeTitle) {
  struct Case {
    const char* title;
    int width;
  };
  for (const Case& c : {Case{"Convert Sample Rate and Channels of the Whole Document", 120},
                        Case{"Gain", 120}, Case{"Short", 900}}) {
    QDialog d(frame_.get());
    d.setWindowTitle(c.title);
    d.resize(c.width, 80);
    d.show();
    QApplication::processEvents();
    EXPECT_EQ(d.width(), std::max(c.width, TitleWidth(d))) << c.title;
    d.hide();
  }
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

  // Long names keep both ends in the tab and the caption; the whole path is the tip.
  const std::string name = "a-very-long-recording-from-the-first-morning-take-7.wav";
  DocumentWindow* c = Open(8000, 1, 800, 0.5, name.c_str());
  EXPECT_EQ(frame_->tabs()->elideMode(), Qt::ElideMiddle);
  EXPECT_EQ(frame_->tabs()->tabToolTip(2).toStdString(), (dir_ / name).string());
  EXPECT_EQ(c->FullPath().toStdString(), (dir_ / name).string());
  c->parentWidget()->resize(260, 200);
  QApplication::processEvents();
  const QString caption = c->windowTitle();
  EXPECT_TRUE(caption.startsWith("a-very")) << caption.toStdString();
  EXPECT_TRUE(caption.endsWith("7.wav[*]")) << caption.toStdString();
  EXPECT_TRUE(caption.contains(QChar(0x2026))) << caption.toStdString();
  c->parentWidget()->resize(900, 200);
  QApplication::processEvents();
  EXPECT_EQ(c->windowTitle().toStdString(), name + "[*]");
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
