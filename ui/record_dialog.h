#pragma once
// The record dialog ("Record Control"): draws the record dialog model, drives the
// recorder into a recording of takes, and shows its time and input levels. It ends
// accepted (or with the "Record Next" result) when something was recorded and kept.

#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/peak_trail.h"
#include "devices/record_command.h"
#include "devices/record_dialog_model.h"
#include "devices/player.h"
#include "devices/recorder.h"
#include "platform/sound_device.h"
#include "settings/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QStackedWidget;
class QToolButton;

namespace quillet::ui {

class LevelMeterWidget;
class WaveDisplay;
class QtWaker;

class RecordDialog final : public QDialog, private devices::LRecorderListener {
  Q_OBJECT
 public:
  RecordDialog(QWidget* parent, platform::SoundSystem& system, settings::Settings& settings,
               devices::RecordingTake& take, const std::string& name);
  ~RecordDialog() override;

  // Starts a take at ms of the recording (clamped to its length).
  bool RecordAt(std::int64_t ms);
  // Stops the take in progress; the recording keeps it.
  void StopRecording();
  bool recording() const;
  // Something was recorded (and not restarted away).
  bool recorded();
  // Plays the recording from the position on the dialog's playback device.
  bool Play();
  // Plays the recording through a speed ramp while Rewind or Forward is held.
  bool Wind(bool forward);
  // The key actions of F5 to F8.
  void DoKey(devices::RecordKeyAction action);
  // Stops, stores the values and ends.
  void done(int result) override;

  QComboBox* deviceBox() const { return device_; }
  QComboBox* inputBox() const { return input_; }
  QSpinBox* volumeBox() const { return volume_; }
  QPushButton* mixerButton() const { return mixer_; }
  QToolButton* transportButton(int i) const { return transport_[i]; }
  QPushButton* recordButton() const { return record_; }
  QPushButton* stopButton() const { return stop_; }
  QPushButton* playButton() const { return play_; }
  devices::LSoundPlayer& player() { return *player_; }
  LevelMeterWidget* meter() const { return meter_; }
  QLabel* timeLabel() const { return time_; }
  devices::LSoundRecorder& recorder() { return *recorder_; }
  const devices::RecorderSettings& values() const { return values_; }
  // The take coming in while recording; the whole recording, by the editor's display,
  // otherwise.
  QWidget* liveView() const { return live_; }
  WaveDisplay* waveView() const { return wave_; }
  const devices::PeakTrail& trail() const { return *trail_; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void Writing(std::uintptr_t) override;
  void Listening(std::uintptr_t) override;
  void Stopped(std::uintptr_t) override;
  void Time(std::int64_t ms, std::uintptr_t) override;
  void Levels(const devices::LLevelRecord& levels, std::uintptr_t) override;

  void ReadControls();
  void UpdateInput();
  void UpdateTransport();
  void ShowTime(std::int64_t ms);
  void OpenAdvanced();
  void OpenMixer();
  void Transport(int i);
  std::int64_t LengthMs();
  void ShowRecording();

  platform::SoundSystem& system_;
  settings::Settings& settings_;
  devices::RecordingTake& take_;
  devices::RecorderSettings values_;
  std::vector<devices::DeviceEntry> devices_;
  std::unique_ptr<QtWaker> waker_;
  std::unique_ptr<platform::NotificationQueue> queue_;
  std::unique_ptr<devices::LSoundRecorder> recorder_;
  std::unique_ptr<devices::LSoundPlayer> player_;
  std::vector<devices::DeviceEntry> players_;
  devices::RecordMixerLauncher launcher_;
  std::int64_t takeStartMs_ = 0;
  bool autostarted_ = false;

  QComboBox* playDevice_ = nullptr;
  QSpinBox* playVolume_ = nullptr;
  QComboBox* device_ = nullptr;
  QComboBox* input_ = nullptr;
  QSpinBox* volume_ = nullptr;
  QLabel* volumeLabel_ = nullptr;
  QPushButton* mixer_ = nullptr;
  QLabel* state_ = nullptr;
  QLabel* time_ = nullptr;
  QSlider* position_ = nullptr;
  LevelMeterWidget* meter_ = nullptr;
  std::unique_ptr<devices::PeakTrail> trail_;
  QStackedWidget* waves_ = nullptr;
  QWidget* live_ = nullptr;
  WaveDisplay* wave_ = nullptr;
  QToolButton* transport_[4] = {};
  QPushButton* record_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* play_ = nullptr;
};

// Runs the dialog for the Record command; result() tells "Record Next" apart.
class QtRecordSession final : public devices::RecordSession {
 public:
  QtRecordSession(QWidget* parent, platform::SoundSystem& system, settings::Settings& settings,
                  std::string name)
      : parent_(parent), system_(system), settings_(settings), name_(std::move(name)) {}
  bool Run(devices::RecordingTake& take) override;
  int result() const { return result_; }

 private:
  QWidget* parent_;
  platform::SoundSystem& system_;
  settings::Settings& settings_;
  std::string name_;
  int result_ = 0;
};

// The advanced options ("Advanced Record Options"): true when accepted.
bool AskAdvancedRecordOptions(QWidget* parent, devices::RecorderSettings& values);

}  // namespace quillet::ui
