// The analysis windows in the frame, used as a person would: open them on a chord,
// read the partials, zoom, follow the cursor, and close them.
#include <QLabel>
#include <QPushButton>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include "core/chain_source.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "frame_fixture.h"
#include "ui/analysis_windows.h"
#include "ui/progress_dialog.h"

namespace quillet::ui {
namespace {

using testsupport::Frame;

// Frame i of partials of 500, 750 and 2000 Hz at 8000 Hz.
audio::Sample ChordAt(int i) {
  const double t = double(i) / 8000;
  const double x = 0.4 * std::sin(2 * M_PI * 500 * t) + 0.2 * std::sin(2 * M_PI * 750 * t) +
                   0.05 * std::sin(2 * M_PI * 2000 * t);
  return audio::Sample(std::lround(x * 0x7FFF0));
}

// The chord for `seconds`, then a second of silence.
void WriteChord(const std::filesystem::path& file, int seconds) {
  constexpr int kRate = 8000;
  std::vector<audio::Sample> v(static_cast<std::size_t>((seconds + 1) * kRate) * 2);
  for (int i = 0; i < seconds * kRate; ++i) v[std::size_t(i) * 2] = v[std::size_t(i) * 2 + 1] = ChordAt(i);
  auto sink = formats::MakeWavePcmSink(file.string(), kRate, 0, 16, 2);
  sink->write(v.data(), audio::FrameCount(v.size() / 2));
  ASSERT_TRUE(sink->Finish());
}

class Analysis : public Frame {
 protected:
  DocumentWindow* OpenChord(int seconds = 2) {
    WriteChord(dir_ / "chord.wav", seconds);
    DocumentWindow* w = frame_->OpenFile(dir_ / "chord.wav");
    QApplication::processEvents();
    return w;
  }
  int Windows(const char* name) const {
    int n = 0;
    for (QMdiSubWindow* sub : frame_->mdi()->subWindowList()) n += sub->widget()->objectName() == name;
    return n;
  }
  // Saves a picture of the frame when QUILLET_SCREENSHOTS names a folder.
  void Screenshot(const char* name) {
    if (const char* folder = std::getenv("QUILLET_SCREENSHOTS"))
      frame_->grab().save(QString(folder) + "/" + name + ".png");
  }
  static void Wait(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
};

TEST_F(Analysis, FrequencyWindowShowsThePartialsAndZoomsWithinItsLevels) {
  DocumentWindow* w = OpenChord();
  w->doc().SetSelection(4000, 4000, 4000);
  ASSERT_TRUE(frame_->Command(core::kCmdFrequencyAnalysis));
  ASSERT_TRUE(frame_->Command(core::kCmdFrequencyAnalysis));  // recomputed, not a second window
  EXPECT_EQ(Windows("LFrequencyWindow"), 1);
  LFrequencyWindow* f = frame_->analysis().frequency();
  ASSERT_NE(f, nullptr);
  const auto& levels = f->data().levels.at(0);
  auto at = [&](double hz) { return levels[std::size_t(std::lround(hz * 4096 / 8000))]; };
  EXPECT_NEAR(at(500), -8, 2);
  EXPECT_NEAR(at(750), -14, 2);
  EXPECT_NEAR(at(2000), -26, 2);
  EXPECT_LT(at(1300), -50);
  // Hovering over the plot names a frequency and level.
  FrequencyGraph* g = f->graph();
  g->resize(600, 300);
  const QString text = g->TextAt(g->Plot().center());
  EXPECT_TRUE(QRegularExpression("^\\d+ Hz, -?\\d+ dB$").match(text).hasMatch()) << text.toStdString();
  EXPECT_TRUE(g->TextAt(QPoint(1, 1)).isEmpty());
  Screenshot("frequency");

  // Three zoom levels per axis: page 101, 50, 25 of 0..100.
  QToolButton* in = f->button(2);
  QToolButton* out = f->button(3);
  EXPECT_FALSE(out->isEnabled());
  in->click();
  in->click();
  EXPECT_FALSE(in->isEnabled());
  EXPECT_EQ(f->horizontal()->pageStep(), 25);
  EXPECT_EQ(f->horizontal()->maximum(), 76);
  f->horizontal()->setValue(76);
  EXPECT_LE(g->TextAt(QPoint(g->Plot().right(), g->Plot().center().y())).split(' ')[0].toInt(), 4000);
  f->button(4)->click();
  EXPECT_EQ(f->horizontal()->maximum(), 0);
  EXPECT_TRUE(in->isEnabled());
}

TEST_F(Analysis, TemporalPictureHasToneRowsAndFollowsTheSelection) {
  DocumentWindow* w = OpenChord();
  w->doc().SetSelection(0, 16000, 0);
  ASSERT_TRUE(frame_->Command(core::kCmdTemporalAnalysis));
  LTFFTWindow* t = frame_->analysis().temporal();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->data().bits, 9);  // 512 points at 8000 Hz
  t->resize(700, 420);
  QApplication::processEvents();
  const QImage& img = t->picture()->image();
  ASSERT_FALSE(img.isNull());
  // Each partial is a bright row; between and above them it is dark.
  const effects::TemporalView& view = t->picture()->view;
  auto rowOf = [&](double hz) {
    int best = 0;
    for (int y = 0; y < img.height(); ++y)
      if (std::abs(double(t->data().BinHz(effects::BinAtRow(t->data(), view, y))) - hz) <
          std::abs(double(t->data().BinHz(effects::BinAtRow(t->data(), view, best))) - hz))
        best = y;
    return best;
  };
  for (int x : {10, img.width() / 2, img.width() - 10}) {
    SCOPED_TRACE(x);
    for (double hz : {500.0, 750.0, 2000.0}) {
      const int y = rowOf(hz);
      EXPECT_GT(std::max({qGray(img.pixel(x, y)), qGray(img.pixel(x, y - 1)), qGray(img.pixel(x, y + 1))}), 150)
          << hz;
    }
    for (double hz : {1300.0, 3000.0, 3900.0}) EXPECT_LT(qGray(img.pixel(x, rowOf(hz))), 40) << hz;
  }
  const QString status = t->picture()->TextAt(t->picture()->Plot().center());
  EXPECT_TRUE(status.startsWith("Time: ")) << status.toStdString();
  EXPECT_TRUE(status.contains("    Frequency: ") && status.contains(" Hz    Volume: ")) << status.toStdString();
  Screenshot("temporal");

  // Auto update: a new selection is recomputed shortly after.
  w->doc().SetSelection(4000, 12000, 4000);
  emit w->statesChanged();
  Wait(600);
  EXPECT_EQ(t->data().start, 4000);
  EXPECT_EQ(t->data().length, 8000);
  // Reselect puts the analysed range back as the selection.
  w->doc().SetSelection(0, 10, 0);
  t->button(0)->click();
  EXPECT_EQ(w->doc().selStart(), 4000);
  EXPECT_EQ(w->doc().selEnd(), 12000);
}

TEST_F(Analysis, TemporalSettingsPersistAndLongSelectionsAsk) {
  DocumentWindow* w = OpenChord(11);
  w->doc().SetSelection(0, 8000 * 11, 0);
  answers_ = {platform::Answer::No};
  frame_->Command(core::kCmdTemporalAnalysis);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("Quillet: The Temporal Analysis graph is usually only performed on short selections"),
            std::string::npos);
  EXPECT_EQ(frame_->analysis().temporal(), nullptr);

  w->doc().SetSelection(0, 8000, 0);
  ASSERT_TRUE(frame_->Command(core::kCmdTemporalAnalysis));
  LTFFTWindow* t = frame_->analysis().temporal();
  ASSERT_NE(t, nullptr);
  t->button(1)->click();  // zoom in to the 0 - 4000 Hz band
  t->button(3)->click();  // grid off
  EXPECT_FALSE(t->picture()->view.fullZoom);
  for (QMdiSubWindow* sub : frame_->mdi()->subWindowList())
    if (sub->widget() == t) sub->close();
  QApplication::processEvents();
  EXPECT_EQ(frame_->analysis().temporal(), nullptr);
  EXPECT_FALSE(settings_->GetBool("Settings", "TFFTFullZoomOn", true));
  EXPECT_FALSE(settings_->GetBool("Settings", "GridToggle", true));
  EXPECT_EQ(settings_->GetInt("Settings", "TFFTVScroll", 0), 100);
  ASSERT_TRUE(frame_->Command(core::kCmdTemporalAnalysis));
  EXPECT_FALSE(frame_->analysis().temporal()->picture()->grid);

  // Cancelled under its progress window, the computation closes the window.
  std::string text;
  QtProgressFactory::SetOnOpen([&text](ProgressDialog* d) {
    QTimer::singleShot(0, d, [&text, d] {  // once the task has named its work
      text = d->line(0)->text().toStdString();
      d->cancelButton()->click();
    });
  });
  EXPECT_EQ(frame_->analysis().ShowTemporal(w), platform::kTaskCancelled);
  QtProgressFactory::SetOnOpen({});
  QApplication::processEvents();
  EXPECT_EQ(text, "Calculating Temporal Frequency Data");
  EXPECT_EQ(frame_->analysis().temporal(), nullptr);
}

TEST_F(Analysis, FrequencyWindowFollowsTheCursorIntoSilence) {
  DocumentWindow* w = OpenChord();
  ASSERT_TRUE(frame_->Command(core::kCmdFrequencyAnalysis));
  LFrequencyWindow* f = frame_->analysis().frequency();
  w->doc().SetSelection(20000, 20000, 20000);  // the silent last second
  emit w->seekRequested(w, false);
  Wait(600);
  const auto& levels = f->data().levels.at(1);
  EXPECT_TRUE(std::all_of(levels.begin(), levels.end(), [](int v) { return v == effects::kLowestLevel; }));
}

// A recording with clicks, repaired through the dialog, then undone.
TEST_F(Analysis, AutoRepairThroughTheDialogRemovesClicksAndUndoBringsThemBack) {
  WriteChord(dir_ / "clicks.wav", 2);
  {
    // Three clicks on the left channel.
    auto src = formats::OpenWaveFile((dir_ / "clicks.wav").string());
    audio::AudioBlock b(2, src->length());
    src->read(b.data(), b.frames());
    for (audio::FramePos p : {3000, 7000, 11000}) {
      b(0, p) = audio::SaturateSample(std::int64_t{b(0, p)} + 0x60000);
      b(0, p + 1) = audio::SaturateSample(std::int64_t{b(0, p + 1)} - 0x30000);
    }
    auto sink = formats::MakeWavePcmSink((dir_ / "clicks.wav").string(), 8000, 0, 16, 2);
    sink->write(b.data(), b.frames());
    ASSERT_TRUE(sink->Finish());
  }
  DocumentWindow* w = frame_->OpenFile(dir_ / "clicks.wav");
  ASSERT_NE(w, nullptr);
  auto frames = [&] {
    auto src = core::ChainOpenSource(w->doc().chain());
    audio::AudioBlock b(2, w->doc().length());
    src->read(b.data(), b.frames());
    return b;
  };
  const audio::AudioBlock before = frames();
  w->doc().SetSelection(0, w->doc().length(), 0);
  testsupport::DialogScript script("LClickPopDlg", [](QDialog& d) {
    // At 8000 Hz the 2000 Hz partial passes the detector's high-pass: more sensitivity.
    d.findChild<QSlider*>("SENSITIVITY")->setValue(80);
    d.findChild<QSpinBox*>("MAX_US")->setValue(1000);
    if (const char* folder = std::getenv("QUILLET_SCREENSHOTS")) d.grab().save(QString(folder) + "/click-dialog.png");
  });
  ASSERT_TRUE(frame_->Command(core::kCmdClickPopAuto));
  EXPECT_EQ(script.shown(), 1);
  EXPECT_EQ(settings_->GetInt("Settings", "ClickSensitivity", 0), 80);
  EXPECT_EQ(settings_->GetInt("Settings", "MaxClickLength", 0), 1000);
  const audio::AudioBlock after = frames();
  for (int p : {3000, 7000, 11000}) {
    EXPECT_LT(std::abs(after(0, p) - ChordAt(p)), 0x18000) << p;
    EXPECT_GT(std::abs(before(0, p) - ChordAt(p)), 0x20000) << p;
  }
  EXPECT_EQ(frame_->action(core::kCmdUndo)->text().toStdString(), "Undo Auto Click/Pop Restoration\tCtrl+Z");
  ASSERT_TRUE(frame_->Command(core::kCmdUndo));
  EXPECT_EQ(frames(), before);
}

}  // namespace
}  // namespace quillet::ui
