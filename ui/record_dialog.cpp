#include "ui/record_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "core/time_text.h"
#include "devices/device_choice.h"
#include "devices/document_playback.h"
#include "devices/play_speed.h"
#include "devices/stretch_play.h"
#include "platform/frame_time.h"
#include "ui/level_meter.h"
#include "ui/playback.h"
#include "ui/qt_prompter.h"
#include "ui/wave_display.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

constexpr std::int64_t kStepMs = 1000;  // Rewind and Forward move the position this far

std::string KeyName(int key) {
  switch (key) {
    case Qt::Key_F5: return "F5";
    case Qt::Key_F6: return "F6";
    case Qt::Key_F7: return "F7";
    case Qt::Key_F8: return "F8";
    default: return {};
  }
}

// What the live view keeps: 10 ms columns, a few minutes of them.
constexpr std::size_t kTrailColumns = 16384;

// The take as it comes in, newest column at the right once the view is full.
class LiveWaveView final : public QWidget {
 public:
  LiveWaveView(const devices::PeakTrail& trail, QWidget* parent) : QWidget(parent), trail_(trail) {
    setObjectName("liveWave");
    setMinimumHeight(80);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(colors::kBackground));
    const devices::PeakTrail::Snapshot s = trail_.Latest(std::size_t(std::max(width(), 1)));
    const int lanes = s.channels, laneHeight = height() / lanes, half = laneHeight / 2;
    auto y = [&](int lane, audio::Sample v) {
      return lane * laneHeight + half - int(std::int64_t(v) * half / audio::kSampleMax);
    };
    p.setPen(QColor(colors::kWave));
    for (std::size_t i = 0; i < s.columns(); ++i)
      for (int c = 0; c < lanes; ++c) {
        const audio::Sample* peaks = &s.peaks[(i * std::size_t(lanes) + std::size_t(c)) * 2];
        p.drawLine(int(i), y(c, peaks[1]), int(i), y(c, peaks[0]));
      }
  }

 private:
  const devices::PeakTrail& trail_;
};

}  // namespace

bool AskAdvancedRecordOptions(QWidget* parent, devices::RecorderSettings& values) {
  QDialog d(parent);
  d.setObjectName("LRecordDlgAdvanced");
  d.setWindowTitle("Advanced Record Options");
  auto* autostart = new QCheckBox("Auto Start Recording", &d);
  auto* autotrim = new QCheckBox("AutoTrim Recording", &d);
  auto* vor = new QCheckBox("Voice Activated Recording", &d);
  auto* threshold = new QSpinBox(&d);
  threshold->setObjectName("threshold");
  threshold->setRange(devices::kMinThresholdDb, devices::kMaxThresholdDb);
  threshold->setSuffix(" dB");
  autostart->setChecked(values.autostart);
  autotrim->setChecked(values.autotrim);
  vor->setChecked(values.vor);
  threshold->setValue(std::clamp(values.thresholdDb, devices::kMinThresholdDb, devices::kMaxThresholdDb));
  threshold->setEnabled(values.vor);
  QObject::connect(vor, &QCheckBox::toggled, threshold, &QWidget::setEnabled);
  auto* form = new QFormLayout;
  form->addRow(autostart);
  form->addRow(autotrim);
  form->addRow(vor);
  form->addRow("Threshold:", threshold);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  auto* layout = new QVBoxLayout(&d);
  layout->addLayout(form);
  layout->addWidget(buttons);
  if (d.exec() != QDialog::Accepted) return false;
  values.autostart = autostart->isChecked();
  values.autotrim = autotrim->isChecked();
  values.vor = vor->isChecked();
  values.thresholdDb = threshold->value();
  return true;
}

RecordDialog::RecordDialog(QWidget* parent, platform::SoundSystem& system, settings::Settings& settings,
                           devices::RecordingTake& take, const std::string& name)
    : QDialog(parent), system_(system), settings_(settings), take_(take) {
  setObjectName("LRecordDlg");
  setWindowTitle("Record Control");
  values_ = devices::RecorderSettings::Load(settings_);
  waker_ = std::make_unique<QtWaker>([this] { queue_->Dispatch(); });
  queue_ = std::make_unique<platform::NotificationQueue>(waker_.get());
  recorder_ = std::make_unique<devices::LSoundRecorder>(system_, *queue_);
  recorder_->InstallListener(this, 0);
  player_ = std::make_unique<devices::LSoundPlayer>(system_, *queue_);

  auto* nameLabel = new QLabel(Q(name), this);
  playDevice_ = new QComboBox(this);
  playDevice_->setObjectName("playDevice");
  players_ = devices::DeviceList(system_, platform::StreamDirection::Playback);
  for (const auto& e : players_) playDevice_->addItem(Q(e.label));
  playDevice_->setCurrentIndex(devices::DevicePosition(players_, values_.playerDevice));
  playVolume_ = new QSpinBox(this);
  playVolume_->setObjectName("playVolume");
  playVolume_->setRange(devices::kMinVolumeDb, devices::kMaxVolumeDb);
  playVolume_->setSuffix(" dB");
  playVolume_->setValue(std::clamp(values_.playerVolumeDb, devices::kMinVolumeDb, devices::kMaxVolumeDb));
  device_ = new QComboBox(this);
  device_->setObjectName("device");
  devices_ = devices::DeviceList(system_, platform::StreamDirection::Capture);
  for (const auto& e : devices_) device_->addItem(Q(e.label));
  device_->setCurrentIndex(devices::DevicePosition(devices_, values_.device));
  input_ = new QComboBox(this);
  input_->setObjectName("input");
  for (const auto& s : devices::InputList()) input_->addItem(Q(s));
  input_->setCurrentIndex(std::clamp(values_.channel + 1, 0, input_->count() - 1));
  volume_ = new QSpinBox(this);
  volume_->setObjectName("volume");
  volume_->setRange(devices::kMinVolumeDb, devices::kMaxVolumeDb);
  volume_->setSuffix(" dB");
  volume_->setValue(std::clamp(values_.volumeDb, devices::kMinVolumeDb, devices::kMaxVolumeDb));
  volumeLabel_ = new QLabel("Vo&lume:", this);
  volumeLabel_->setBuddy(volume_);
  mixer_ = new QPushButton(Q(devices::kOpenMixerButton), this);
  auto* advanced = new QPushButton("Advanced Record Options...", this);

  auto* form = new QFormLayout;
  form->addRow("Name:", nameLabel);
  form->addRow("Device:", playDevice_);
  form->addRow("Volume:", playVolume_);
  auto* deviceLabel = new QLabel("Devi&ce:", this);
  deviceLabel->setBuddy(device_);
  form->addRow(deviceLabel, device_);
  form->addRow("Input:", input_);
  form->addRow(volumeLabel_, volume_);
  form->addRow(mixer_);
  form->addRow(advanced);

  state_ = new QLabel(this);
  time_ = new QLabel(this);
  time_->setObjectName("time");
  QFont big = time_->font();
  big.setPointSize(big.pointSize() * 2);
  time_->setFont(big);
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("position");
  position_->setRange(0, 0);
  meter_ = new LevelMeterWidget(this);
  const core::AudioChain& taken = take_.chain();
  trail_ = std::make_unique<devices::PeakTrail>(taken.channels,
                                                std::max<audio::FrameCount>(taken.sampleRate / 100, 1),
                                                kTrailColumns);
  live_ = new LiveWaveView(*trail_, this);
  wave_ = new WaveDisplay(this);
  wave_->setObjectName("wave");
  wave_->setMinimumHeight(80);
  waves_ = new QStackedWidget(this);
  waves_->addWidget(wave_);
  waves_->addWidget(live_);

  auto* buttons = new QHBoxLayout;
  const QStyle::StandardPixmap icons[4] = {QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSeekBackward,
                                           QStyle::SP_MediaSeekForward, QStyle::SP_MediaSkipForward};
  for (int i = 0; i < 4; ++i) {
    transport_[i] = new QToolButton(this);
    transport_[i]->setIcon(style()->standardIcon(icons[i]));
    transport_[i]->setFocusPolicy(Qt::NoFocus);
    connect(transport_[i], &QToolButton::clicked, this, [this, i] { Transport(i); });
    if (i == 1 || i == 2) {
      connect(transport_[i], &QToolButton::pressed, this, [this, i] {
        if (!recording()) Wind(i == 2);
      });
      connect(transport_[i], &QToolButton::released, this, [this] {
        if (!recording()) player_->Close();
      });
    }
    buttons->addWidget(transport_[i]);
  }
  record_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogNoButton), "&Record", this);
  stop_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), "&Stop", this);
  play_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), "&Play", this);
  play_->setAutoDefault(false);
  record_->setAutoDefault(false);
  stop_->setAutoDefault(false);
  buttons->addWidget(record_);
  buttons->addWidget(stop_);
  buttons->addWidget(play_);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(state_);
  layout->addWidget(time_);
  layout->addWidget(waves_);
  layout->addWidget(position_);
  layout->addWidget(meter_);
  layout->addLayout(buttons);
  layout->addWidget(box);

  connect(device_, &QComboBox::currentIndexChanged, this, [this] { ReadControls(); });
  connect(input_, &QComboBox::currentIndexChanged, this, [this] {
    ReadControls();
    UpdateInput();
  });
  // The input volume applies at once, to the take in progress too.
  connect(volume_, &QSpinBox::valueChanged, this, [this](int db) {
    values_.volumeDb = db;
    if (values_.channel >= 0) recorder_->SetInputGainDb(db);
  });
  connect(mixer_, &QPushButton::clicked, this, [this] { OpenMixer(); });
  connect(advanced, &QPushButton::clicked, this, [this] { OpenAdvanced(); });
  // Record continues where the position stands (the end after a stop): a pause.
  connect(record_, &QPushButton::clicked, this, [this] { RecordAt(position_->value()); });
  connect(stop_, &QPushButton::clicked, this, [this] {
    StopRecording();
    player_->Close();
  });
  connect(play_, &QPushButton::clicked, this, [this] { Play(); });
  connect(playVolume_, &QSpinBox::valueChanged, this, [this](int db) {
    values_.playerVolumeDb = db;
    player_->SetVolumeDb(db);
  });
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(position_, &QSlider::valueChanged, this, [this](int ms) {
    if (recording()) return;
    ShowTime(ms);
    wave_->SetMarker(platform::FramesFromMs(ms, take_.chain().sampleRate), 0);
  });
  // A click in the wave moves the position there.
  connect(wave_, &WaveDisplay::selectionFinished, this, [this](FramePos, FramePos, FramePos marker) {
    if (!recording()) position_->setValue(int(platform::MsFromFrames(marker, take_.chain().sampleRate)));
  });

  ReadControls();
  UpdateInput();
  UpdateTransport();
  ShowTime(0);
}

RecordDialog::~RecordDialog() {
  // The threads stop before the queue and waker they post to go.
  player_.reset();
  recorder_.reset();
  queue_.reset();
  waker_.reset();
}

void RecordDialog::ReadControls() {
  const int d = device_->currentIndex();
  values_.device = d > 0 && std::size_t(d) < devices_.size() ? devices_[std::size_t(d)].name : std::string();
  values_.channel = input_->currentIndex() - 1;
  values_.volumeDb = volume_->value();
  const int p = playDevice_->currentIndex();
  values_.playerDevice = p > 0 && std::size_t(p) < players_.size() ? players_[std::size_t(p)].name : std::string();
  values_.playerVolumeDb = playVolume_->value();
}

void RecordDialog::UpdateInput() {
  const bool own = values_.channel >= 0;
  volume_->setVisible(own);
  volumeLabel_->setVisible(own);
  mixer_->setVisible(!own);
  recorder_->SetInputGainDb(own ? values_.volumeDb : 0);
}

bool RecordDialog::recording() const { return recorder_->state() != devices::LSoundRecorder::State::Idle; }

bool RecordDialog::recorded() { return !recording() && take_.length() > 0; }

std::int64_t RecordDialog::LengthMs() {
  return platform::MsFromFrames(take_.length(), take_.chain().sampleRate);
}

bool RecordDialog::RecordAt(std::int64_t ms) {
  player_->Close();
  StopRecording();
  ReadControls();
  values_.Store(settings_);
  audio::SinkHandle sink = take_.SinkAt(ms);
  takeStartMs_ = take_.lastTakeMs();
  trail_->Reset();
  sink = devices::TrailSink(std::move(sink), *trail_);
  devices::RecordOptions options = values_.Options();
  options.device = devices::ResolveDevice(system_.ListDevices(platform::StreamDirection::Capture),
                                          values_.device, platform::StreamDirection::Capture)
                       .name;
  if (!recorder_->Start(std::move(sink), options)) {
    ShowMessageBox(this, recorder_->lastError(), "Quillet", platform::MessageIcon::Error,
                   platform::MessageButtons::Ok);
    UpdateTransport();
    return false;
  }
  UpdateTransport();
  return true;
}

bool RecordDialog::Play() {
  StopRecording();
  player_->Close();
  ReadControls();
  const core::AudioChain& chain = take_.chain();
  const audio::FramePos from = platform::FramesFromMs(position_->value(), chain.sampleRate);
  // From the end there is nothing to hear: play it all.
  audio::SourceHandle source =
      devices::SourceRange(take_.Source(), from < core::ChainLength(chain) ? from : 0);
  const std::string device = devices::ResolveDevice(system_.ListDevices(platform::StreamDirection::Playback),
                                                    values_.playerDevice, platform::StreamDirection::Playback)
                                 .name;
  player_->SetVolumeDb(values_.playerVolumeDb);
  if (!player_->Open(std::move(source), device)) {
    ShowMessageBox(this, devices::kCheckPlayDeviceMessage, "Quillet", platform::MessageIcon::Error,
                   platform::MessageButtons::Ok);
    return false;
  }
  return true;
}

bool RecordDialog::Wind(bool forward) {
  const bool scrubbing = player_->isHolding();
  player_->Close();
  ReadControls();
  const core::AudioChain& chain = take_.chain();
  if (core::ChainLength(chain) == 0) return false;
  audio::SourceHandle source = take_.Source();
  source->seek(std::min(platform::FramesFromMs(position_->value(), chain.sampleRate), core::ChainLength(chain)));
  const devices::SpeedRamp ramp = forward ? devices::ForwardRamp(scrubbing) : devices::RewindRamp(scrubbing);
  std::string why;
  source = devices::SourceAtRamp(std::move(source), ramp, devices::TimeStretchAdaptor(), &why);
  if (!source) return false;
  const std::string device = devices::ResolveDevice(system_.ListDevices(platform::StreamDirection::Playback),
                                                    values_.playerDevice, platform::StreamDirection::Playback)
                                 .name;
  player_->SetVolumeDb(values_.playerVolumeDb);
  return player_->Open(std::move(source), device);
}

void RecordDialog::StopRecording() {
  if (!recording()) return;
  recorder_->Stop();
}

void RecordDialog::DoKey(devices::RecordKeyAction action) {
  using A = devices::RecordKeyAction;
  switch (action) {
    case A::RecordNext: done(devices::kRecordNextResult); break;
    case A::Restart: RecordAt(0); break;
    case A::Retake: RecordAt(take_.lastTakeMs()); break;
    case A::RecordFromPosition: RecordAt(position_->value()); break;
    case A::None: break;
  }
}

void RecordDialog::keyPressEvent(QKeyEvent* e) {
  const devices::RecordKeyAction a = devices::ActionForKey(KeyName(e->key()));
  if (a != devices::RecordKeyAction::None && !e->isAutoRepeat()) {
    DoKey(a);
    return;
  }
  QDialog::keyPressEvent(e);
}

void RecordDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (values_.autostart && !autostarted_) {
    autostarted_ = true;
    QTimer::singleShot(0, this, [this] { RecordAt(0); });
  }
}

void RecordDialog::done(int result) {
  player_->Close();
  StopRecording();
  ReadControls();
  values_.Store(settings_);
  QDialog::done(result);
}

void RecordDialog::Transport(int i) {
  if (recording()) {
    switch (i) {
      case 0: DoKey(devices::RecordKeyAction::Restart); break;
      case 2: DoKey(devices::RecordKeyAction::Retake); break;
      case 3: DoKey(devices::RecordKeyAction::RecordNext); break;
      default: break;  // rewinding a take in progress has nothing to move
    }
    return;
  }
  const int at = position_->value();
  const int to[4] = {0, int(std::max<std::int64_t>(at - kStepMs, 0)), int(at + kStepMs), position_->maximum()};
  position_->setValue(to[i]);
}

void RecordDialog::OpenAdvanced() {
  StopRecording();
  if (!AskAdvancedRecordOptions(this, values_)) return;
  values_.Store(settings_);
  if (values_.autostart) RecordAt(LengthMs());
}

void RecordDialog::OpenMixer() {
  std::string message;
  if (!launcher_.Launch(&message))
    ShowMessageBox(this, message, "Quillet", platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

void RecordDialog::UpdateTransport() {
  const bool on = recording();
  for (int i = 0; i < 4; ++i)
    transport_[i]->setToolTip(Q(devices::TransportTip(static_cast<devices::TransportButton>(i), on)));
  record_->setEnabled(!on);
  play_->setEnabled(!on && LengthMs() > 0);
  stop_->setEnabled(on);
  device_->setEnabled(!on);
  if (!on) {
    const std::int64_t length = LengthMs();
    position_->setRange(0, int(std::min<std::int64_t>(length, INT32_MAX)));
    position_->setValue(position_->maximum());
    state_->setText(length > 0 ? "Stopped" : "Ready");
    meter_->Idle();
    ShowRecording();
  }
  waves_->setCurrentWidget(on ? live_ : static_cast<QWidget*>(wave_));
  position_->setEnabled(!on);
}

void RecordDialog::ShowRecording() {
  const core::AudioChain& taken = take_.chain();
  const FramePos length = core::ChainLength(taken);
  wave_->SetAudioEnd(length);
  wave_->SetAudio(taken, 0, false);
  wave_->RequestView(0, std::max<FramePos>(length, 1));
  wave_->SetMarker(platform::FramesFromMs(position_->value(), taken.sampleRate), 0);
}

void RecordDialog::ShowTime(std::int64_t ms) { time_->setText(Q(core::FormatTimeHundredths(ms))); }

void RecordDialog::Writing(std::uintptr_t) {
  state_->setText("Recording");
  UpdateTransport();
}

void RecordDialog::Listening(std::uintptr_t) {
  state_->setText(values_.autotrim ? "Waiting for sound" : "Recording");
  UpdateTransport();
}

void RecordDialog::Stopped(std::uintptr_t) {
  UpdateTransport();
  ShowTime(LengthMs());
}

void RecordDialog::Time(std::int64_t ms, std::uintptr_t) {
  ShowTime(takeStartMs_ + ms);
  live_->update();
}

void RecordDialog::Levels(const devices::LLevelRecord& levels, std::uintptr_t) { meter_->Update(levels); }

bool QtRecordSession::Run(devices::RecordingTake& take) {
  RecordDialog d(parent_, system_, settings_, take, name_);
  result_ = d.exec();
  return result_ != QDialog::Rejected && d.recorded();
}

}  // namespace quillet::ui
