// The Record command through its dialog on the fake sound device, and the tags of a
// document through a save and a reopen.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include "core/chain_source.h"
#include "formats/tags.h"
#include "frame_fixture.h"
#include "ui/commands.h"
#include "ui/record_dialog.h"
#include "ui/tags_dialog.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

std::vector<audio::Sample> ChainSamples(const core::AudioChain& chain) {
  core::LChainSoundSource src(chain);
  std::vector<audio::Sample> out(std::size_t(src.length() * chain.channels));
  src.read(out.data(), src.length());
  return out;
}

// A 16-bit tone of amplitude at 8000 Hz, mono.
std::vector<std::int16_t> Tone(int frames, int amplitude) {
  std::vector<std::int16_t> out;
  for (int i = 0; i < frames; ++i) out.push_back(std::int16_t(std::lround(amplitude * std::sin(i * 0.3))));
  return out;
}

// Pixels of a display drawn in the wave's colour.
int WavePixels(QWidget* display) {
  const QImage image = display->grab().toImage();
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colors::kWave & 0xFFFFFF);
  return n;
}

// Drives the next record dialog once it shows: act runs on it while it records,
// then it is stopped when at least capturedMs of input went by and ended with result.
class RecordScript {
 public:
  RecordScript(std::function<void(RecordDialog&)> act, int result, std::int64_t capturedFrames = 6000) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this, act = std::move(act), result, capturedFrames] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* d = qobject_cast<RecordDialog*>(top);
        if (!d || !d->isVisible() || !d->recording()) continue;
        if (d->recorder().capturedFrames() < capturedFrames) return;
        timer_.stop();
        ++shown_;
        if (act) act(*d);
        if (!d->isVisible()) return;  // act ended it
        d->StopRecording();
        recorded_ = d->recorded();
        d->done(result);
        return;
      }
    });
    timer_.start();
  }
  int shown() const { return shown_; }
  bool recorded() const { return recorded_; }

 private:
  QTimer timer_;
  int shown_ = 0;
  bool recorded_ = false;
};

class Record : public Frame {
 protected:
  void SetUp() override {
    Frame::SetUp();
    sound_.SetFreeRunning(true);
    sound_.SetCaptureData(Tone(4000, 12000));  // 500 ms of sound, then silence
  }
};

TEST_F(Record, ReplacesTheSelectionAsOneUndoableStep) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.5);
  ASSERT_TRUE(w);
  const std::vector<audio::Sample> before = ChainSamples(w->doc().chain());
  w->doc().SetSelection(2000, 4000, 2000);
  std::vector<std::string> tips;
  RecordScript script(
      [&](RecordDialog& d) {
        for (int i = 0; i < 4; ++i) tips.push_back(d.transportButton(i)->toolTip().toStdString());
      },
      QDialog::Accepted);
  frame_->action(core::kCmdRecord)->trigger();
  ASSERT_EQ(script.shown(), 1);
  EXPECT_EQ(tips, (std::vector<std::string>{"Restart (F6)", "Rewind (<-)", "Re-Take (F7)", "Record Next (F5)"}));

  // 500 ms of tone (a whole number of 100 ms buffers) and the 50 ms kept after it.
  const core::WaveDocument& doc = w->doc();
  const std::int64_t recorded = doc.length() - 6000;
  EXPECT_EQ(recorded, 4400);
  EXPECT_EQ(doc.selStart(), 2000);
  EXPECT_EQ(doc.selEnd(), 2000 + recorded);
  EXPECT_EQ(doc.cursor(), 2000);
  EXPECT_TRUE(doc.modified());
  EXPECT_EQ(frame_->action(core::kCmdUndo)->text().toStdString(), "Undo Record\tCtrl+Z");
  const std::vector<audio::Sample> after = ChainSamples(doc.chain());
  // What came before and after the selection is untouched; the tone is in between.
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 2000, after.begin()));
  EXPECT_TRUE(std::equal(before.begin() + 4000, before.end(), after.begin() + 2000 + recorded));
  audio::Sample peak = 0;
  for (std::int64_t i = 2000; i < 2000 + 4000; ++i) peak = std::max(peak, std::abs(after[std::size_t(i)]));
  EXPECT_GT(peak, 12000 * 16 / 2);  // 20-bit samples, DC removal leaves the tone

  frame_->Command(core::kCmdUndo);
  EXPECT_EQ(ChainSamples(doc.chain()), before);
}

TEST_F(Record, CancelLeavesTheDocumentAsItWas) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.5);
  ASSERT_TRUE(w);
  const std::vector<audio::Sample> before = ChainSamples(w->doc().chain());
  w->doc().SetSelection(1000, 1500, 1000);
  RecordScript script({}, QDialog::Rejected);
  frame_->action(core::kCmdRecord)->trigger();
  ASSERT_EQ(script.shown(), 1);
  EXPECT_TRUE(script.recorded());  // something was recorded, and thrown away
  EXPECT_EQ(ChainSamples(w->doc().chain()), before);
  EXPECT_FALSE(w->doc().modified());
  EXPECT_EQ(w->doc().selStart(), 1000);
  EXPECT_EQ(w->doc().selEnd(), 1500);
  EXPECT_FALSE(frame_->action(core::kCmdUndo)->isEnabled());
  EXPECT_EQ(sound_.openStreams(), 0);
}

TEST_F(Record, WithoutADocumentRecordsIntoANewOneAndRecordNextFollowsOn) {
  settings_->SetBool("Settings", "PromptSampleAndChannels", false);
  settings_->SetInt("Settings", "DefaultSampleRate", 8000);
  settings_->SetBool("Recorder", "Autotrim", false);  // every buffer is kept
  // F5 ends the first dialog with Record Next; the second take follows the first.
  RecordScript first([](RecordDialog& d) { QTest::keyClick(&d, Qt::Key_F5); }, QDialog::Accepted);
  frame_->action(core::kCmdRecord)->trigger();
  ASSERT_EQ(first.shown(), 1);
  ASSERT_EQ(frame_->documents().size(), 1u);
  const std::int64_t firstLength = frame_->active()->doc().length();
  EXPECT_GE(firstLength, 6000);
  RecordScript second({}, QDialog::Accepted);
  ASSERT_TRUE(PumpUntil([&] { return second.shown() == 1; }));
  QApplication::processEvents();
  const core::WaveDocument& doc = frame_->active()->doc();
  EXPECT_GT(doc.length(), firstLength);
  EXPECT_EQ(doc.selStart(), firstLength);
  EXPECT_EQ(doc.selEnd(), doc.length());
  EXPECT_EQ(frame_->documents().size(), 1u);
}

TEST_F(Record, DialogShowsTheInputVolumeOnlyForItsOwnInputAndStoresItsValues) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.5);
  ASSERT_TRUE(w);
  settings_->SetBool("Recorder", "Autostart", false);
  devices::RecordingTake take(session_->store(), 8000, 1);
  {
    RecordDialog d(frame_.get(), sound_, *settings_, take, "a.wav");
    d.show();
    QApplication::processEvents();
    EXPECT_FALSE(d.recording());
    EXPECT_EQ(d.transportButton(0)->toolTip().toStdString(), "Go to Start (Home)");
    EXPECT_EQ(d.transportButton(3)->toolTip().toStdString(), "Go to End (End)");
    EXPECT_EQ(d.inputBox()->currentIndex(), 0);
    EXPECT_TRUE(d.mixerButton()->isVisible());
    EXPECT_FALSE(d.volumeBox()->isVisible());
    {
      // Without a recording volume program the button says what to install.
      const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
      setenv("PATH", (dir_ / "empty").c_str(), 1);
      d.mixerButton()->click();
      setenv("PATH", path.c_str(), 1);
      ASSERT_EQ(boxes_.size(), 1u);
      EXPECT_NE(boxes_[0].find("No recording volume program is installed."), std::string::npos);
    }
    d.inputBox()->setCurrentIndex(1);
    EXPECT_FALSE(d.mixerButton()->isVisible());
    EXPECT_TRUE(d.volumeBox()->isVisible());
    d.volumeBox()->setValue(-6);
    // F8 records from the position: nothing recorded yet, so from 0.
    QTest::keyClick(&d, Qt::Key_F8);
    EXPECT_TRUE(d.recording());
    ASSERT_TRUE(PumpUntil([&] { return d.recorder().capturedFrames() >= 6000; }));
    // While recording the live view draws the take from the recorder's blocks.
    EXPECT_TRUE(d.liveView()->isVisible());
    ASSERT_TRUE(PumpUntil([&] { return d.trail().end() >= 4000; }));
    EXPECT_GT(WavePixels(d.liveView()), 100);
    d.StopRecording();
    EXPECT_TRUE(d.recorded());
    // Stopped, the editor's wave display shows the whole recording.
    EXPECT_FALSE(d.liveView()->isVisible());
    ASSERT_TRUE(d.waveView()->isVisible());
    EXPECT_EQ(d.waveView()->viewLength(), take.length());
    ASSERT_TRUE(d.waveView()->WaitIdle(std::chrono::seconds(2)));
    EXPECT_GT(WavePixels(d.waveView()), 100);
    // The recording plays back from the start when the position is at its end.
    ASSERT_TRUE(d.Play());
    ASSERT_TRUE(PumpUntil([&] { return std::int64_t(sound_.written().size()) >= take.length(); }));
    const std::vector<std::int16_t> played = sound_.written();
    EXPECT_GT(*std::max_element(played.begin(), played.begin() + 4000), 3000);
    // Holding Rewind plays back through the speed ramp; letting go stops it.
    d.player().Close();
    QTest::mousePress(d.transportButton(1), Qt::LeftButton);
    EXPECT_TRUE(d.player().isOpen());
    QTest::mouseRelease(d.transportButton(1), Qt::LeftButton);
    EXPECT_FALSE(d.player().isOpen());
    d.reject();
    EXPECT_FALSE(d.player().isOpen());
  }
  EXPECT_EQ(settings_->GetInt("Recorder", "Channel", -1), 0);
  EXPECT_EQ(settings_->GetInt("Recorder", "Volume", 0), -6);
  // A refused device is said, and nothing records.
  sound_.SetOpenFailure("The sound input device is in use by another program.");
  RecordDialog d(frame_.get(), sound_, *settings_, take, "a.wav");
  EXPECT_FALSE(d.RecordAt(0));
  EXPECT_FALSE(d.recording());
  ASSERT_FALSE(boxes_.empty());
  EXPECT_NE(boxes_.back().find("in use"), std::string::npos);
}

TEST_F(Frame, TagsAreWrittenAfterASaveAndReadBackWithTheAudioUnchanged) {
  DocumentWindow* w = Open(8000, 2, 4000, 0.5);
  ASSERT_TRUE(w);
  const std::vector<audio::Sample> audio = ChainSamples(w->doc().chain());
  DialogScript script("LAudioTagDataEditor", [](QDialog& d) {
    d.findChild<QLineEdit*>("TITLE")->setText("Morning take");
    d.findChild<QLineEdit*>("ARTIST")->setText("The Quills");
    d.findChild<QComboBox*>("GENRE")->setCurrentText("Jazz");
    d.findChild<QLineEdit*>("TRACKNUMBER")->setText("7");
  });
  frame_->action(core::kCmdEditTags)->trigger();
  ASSERT_EQ(script.shown(), 1);
  EXPECT_TRUE(w->doc().modified());
  const auto out = dir_ / "tagged.wav";
  ASSERT_TRUE(frame_->SaveAs(w, out));
  ASSERT_TRUE(frame_->CloseDocument(w));

  DocumentWindow* back = frame_->OpenFile(out);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->tags.Get(formats::kTagTitle), "Morning take");
  EXPECT_EQ(back->tags.Get(formats::kTagArtist), "The Quills");
  EXPECT_EQ(back->tags.Get(formats::kTagGenre), "Jazz");
  EXPECT_EQ(back->tags.Get(formats::kTagTrack), "7");
  EXPECT_EQ(ChainSamples(back->doc().chain()), audio);

  // The genre list preselects the stored genre; other files are refused.
  DialogScript check("LAudioTagDataEditor", [](QDialog& d) {
    EXPECT_EQ(d.findChild<QComboBox*>("GENRE")->currentIndex(), 8);
    EXPECT_EQ(d.findChild<QLineEdit*>("TITLE")->text().toStdString(), "Morning take");
  });
  frame_->action(core::kCmdEditTags)->trigger();
  EXPECT_EQ(check.shown(), 1);
  back->doc().SetFile(dir_ / "x.aiff");
  boxes_.clear();
  frame_->action(core::kCmdEditTags)->trigger();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("Only wav and mp3 files can have tags edited."), std::string::npos);
}

TEST_F(Frame, TheFrameAndItsDocumentWindowsCarryTheProgramIcon) {
  DocumentWindow* w = Open();
  ASSERT_TRUE(w);
  const QImage icon = frame_->windowIcon().pixmap(32).toImage();
  ASSERT_FALSE(icon.isNull());
  // The icon's dark tile with the yellow cursor line down its middle.
  EXPECT_EQ(icon.pixelColor(4, 28).rgb() & 0xFFFFFF, 0x000000u);
  EXPECT_GT(icon.pixelColor(15, 4).red(), 200);
  EXPECT_GT(icon.pixelColor(15, 4).green(), 200);
  EXPECT_EQ(w->parentWidget()->windowIcon().cacheKey(), frame_->windowIcon().cacheKey());
}

}  // namespace
}  // namespace quillet::ui
