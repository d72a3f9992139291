#pragma once
// The editor's main frame under test: a private settings folder given to the frame, a
// private sample store, the fake sound device, and scripted answers to message boxes,
// file choosers and dialogs.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "app/registry.h"
#include "core/document.h"
#include "core/working_folder.h"
#include "fixtures/temp_dir.h"
#include "platform/record_file.h"
#include "platform/sound_device_fake.h"
#include "ui/document_window.h"
#include "ui/main_frame.h"
#include "ui/qt_prompter.h"
#include "ui/wave_display.h"

namespace quillet::ui::testsupport {

using platform::Answer;
using quillet::testing::TempDir;

// A 16-bit WAVE file of a sine at amplitude (0..1).
inline void WriteSine(const std::filesystem::path& file, int rate, int channels, int frames,
               double amplitude) {
  std::string data;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const auto v = std::int16_t(std::lround(32767 * amplitude * std::sin(i * 0.05)));
      data.push_back(char(v & 0xFF));
      data.push_back(char((v >> 8) & 0xFF));
    }
  platform::RecordWriter w;
  w.Bytes("RIFF");
  w.U32(std::uint32_t(36 + data.size()));
  w.Bytes("WAVEfmt ");
  w.U32(16);
  w.U16(1);
  w.U16(std::uint16_t(channels));
  w.U32(std::uint32_t(rate));
  w.U32(std::uint32_t(rate * channels * 2));
  w.U16(std::uint16_t(channels * 2));
  w.U16(16);
  w.Bytes("data");
  w.U32(std::uint32_t(data.size()));
  w.Bytes(data);
  testing::WriteFileBytes(file, w.bytes());
}

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    // Files of the data folder (WavCodec.wff, envelope.dat) stay in the test's folder.
    setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    // File associations (mimeapps.list) too.
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    settings_ = std::make_unique<settings::Settings>(settings::FolderLocations(dir_ / "cfg"));
    // Tests start playback themselves; a file playing as it opens would race them.
    settings_->SetBool("Settings", "PlayWhenOpen", false);
    std::string why;
    session_ = core::StoreSession::StartIn(dir_ / "work", &why);
    ASSERT_TRUE(session_) << why;
    QtPrompter::SetBoxHook([this](QMessageBox& box) -> std::optional<Answer> {
      boxes_.push_back(box.windowTitle().toStdString() + ": " + box.text().toStdString());
      if (answers_.empty()) return Answer::Ok;
      const Answer a = answers_.front();
      answers_.erase(answers_.begin());
      return a;
    });
    MakeFrame();
  }
  void TearDown() override {
    frame_.reset();
    QtPrompter::SetBoxHook({});
    QtPrompter::SetFileHook({});
  }
  void MakeFrame(std::filesystem::path keys = {}) {
    frame_.reset();
    frame_ = std::make_unique<MainFrame>(*settings_, session_->store(),
                                         app::BuildCommandRegistry(), keys, &sound_);
    frame_->resize(1000, 700);
    frame_->show();
    QApplication::processEvents();
  }
  DocumentWindow* Open(int rate = 8000, int channels = 1, int frames = 8000,
                       double amp = 0.5, const char* name = "a.wav") {
    WriteSine(dir_ / name, rate, channels, frames, amp);
    DocumentWindow* w = frame_->OpenFile(dir_ / name);
    QApplication::processEvents();
    return w;
  }
  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = frame_->active() ? static_cast<QWidget*>(frame_->active()->mainDisplay())
                                       : static_cast<QWidget*>(frame_.get());
    QTest::keyClick(target, Qt::Key(key), mods);
    QApplication::processEvents();
  }

  TempDir dir_;
  platform::FakeSoundSystem sound_;
  std::unique_ptr<settings::Settings> settings_;
  std::unique_ptr<core::StoreSession> session_;
  std::unique_ptr<MainFrame> frame_;
  std::vector<Answer> answers_;
  std::vector<std::string> boxes_;
};

// Answers the next dialog named name (its object name) once it shows, even when it
// opens inside a task's window: edit fills its fields, then it is accepted.
class DialogScript {
 public:
  DialogScript(const char* name, std::function<void(QDialog&)> edit) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this, name = QString(name), edit = std::move(edit)] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* d = qobject_cast<QDialog*>(top);
        if (!d || !d->isVisible() || d->objectName() != name) continue;
        timer_.stop();
        ++shown_;
        if (edit) edit(*d);
        d->accept();
        return;
      }
    });
    timer_.start();
  }
  int shown() const { return shown_; }

 private:
  QTimer timer_;
  int shown_ = 0;
};

// Events until done() holds, at most timeoutMs.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qWait(2);
  }
  return true;
}

}  // namespace quillet::ui::testsupport
