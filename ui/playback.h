#pragma once
// Playback for the editor: the player's worker threads report through a notification
// queue that a queued Qt call empties on the interface thread, and the transport
// turns the player's news into signals the frame shows (position, levels, stop).

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "core/document.h"
#include "core/edit_services.h"
#include "devices/document_playback.h"
#include "devices/level.h"
#include "devices/play_speed.h"
#include "devices/player.h"
#include "platform/worker_thread.h"
#include "platform/sound_device.h"
#include "settings/settings.h"

namespace quillet::ui {

using audio::FrameCount;
using audio::FramePos;

// Arranges for dispatch to run on the thread this object lives on. Any thread may
// call Wake; wakes that arrive before the last one ran are merged.
class QtWaker final : public QObject, public platform::InterfaceWaker {
  Q_OBJECT
 public:
  explicit QtWaker(std::function<void()> dispatch) : dispatch_(std::move(dispatch)) {}
  void Wake() override;

 private:
  std::function<void()> dispatch_;
  std::atomic<bool> scheduled_{false};
};

class Transport final : public QObject, public core::PlaybackControl, private devices::LPlayerListener {
  Q_OBJECT
 public:
  Transport(platform::SoundSystem& system, settings::Settings& settings);
  ~Transport() override;

  bool IsPlaying() const override { return player_->isOpen(); }
  void Stop() override;
  void PlayFrom(const core::WaveDocument& doc, FramePos pos) override;
  void PlayRange(const core::AudioChain& chain, FramePos from, FramePos to) override;
  bool PlaySource(audio::SourceHandle source, std::string* message) override;

  // Plays [from, to) of doc's audio as it is now (to < 0: to its end); false with
  // message() set when the device refuses (or, after a success, saying that the
  // stored device is gone and the default one plays).
  bool Play(const core::WaveDocument& doc, FramePos from, FramePos to = -1);
  // The speed of the next plays (the Play menu's speeds).
  void SetSpeed(devices::PlaySpeed speed) { control_->SetSpeed(speed); }
  devices::PlaySpeed speed() const { return control_->speed(); }
  // Plays doc from pos along ramp (rewind and fast forward while a button is held).
  bool PlayRamp(const core::WaveDocument& doc, FramePos pos, const devices::SpeedRamp& ramp);
  // Pause keeps the play position in silence; Resume plays on from there.
  void Pause();
  void Resume();
  bool paused() const { return player_->isHolding(); }
  void SetRepeat(bool on) { player_->SetRepeat(on); }
  bool repeat() const { return player_->repeat(); }
  // The document being played (null for a preview or when stopped); only compared.
  const core::WaveDocument* playing() const { return playing_; }
  FramePos position() const { return player_->playPosition(); }
  const std::string& message() const { return message_; }
  devices::LSoundPlayer& player() { return *player_; }
  // Forgets doc (it is going away); stops when it is the one playing.
  void Forget(const core::WaveDocument* doc);

 signals:
  void started();
  void stopped();
  void positionChanged(FramePos frame);
  void levelsChanged(const devices::LLevelRecord& levels);

 private:
  bool Started(bool ok, const core::WaveDocument* doc);
  void Playing(std::uintptr_t) override { emit started(); }
  void Stopped(std::uintptr_t) override;
  void Holding(std::uintptr_t) override { emit positionChanged(position()); }
  void Position(std::int64_t, std::uintptr_t) override { emit positionChanged(position()); }
  void Levels(const devices::LLevelRecord& levels, std::uintptr_t) override {
    emit levelsChanged(levels);
  }

  platform::SoundSystem& system_;
  settings::Settings& settings_;
  std::unique_ptr<QtWaker> waker_;
  std::unique_ptr<platform::NotificationQueue> queue_;
  std::unique_ptr<devices::LSoundPlayer> player_;
  std::unique_ptr<devices::PlayerControl> control_;
  const core::WaveDocument* playing_ = nullptr;
  std::string message_;
};

using devices::kCheckPlayDeviceMessage;

}  // namespace quillet::ui
