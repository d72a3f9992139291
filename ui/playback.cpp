#include "ui/playback.h"

#include <QMetaObject>

#include <algorithm>

#include "core/chain.h"
#include "core/chain_source.h"
#include "devices/device_choice.h"
#include "devices/stretch_play.h"

namespace quillet::ui {

void QtWaker::Wake() {
  if (scheduled_.exchange(true)) return;
  // Queued to this object's thread; dropped by Qt when the object is gone first.
  QMetaObject::invokeMethod(
      this,
      [this] {
        scheduled_.store(false);
        dispatch_();
      },
      Qt::QueuedConnection);
}

Transport::Transport(platform::SoundSystem& system, settings::Settings& settings)
    : system_(system), settings_(settings) {
  waker_ = std::make_unique<QtWaker>([this] { queue_->Dispatch(); });
  queue_ = std::make_unique<platform::NotificationQueue>(waker_.get());
  player_ = std::make_unique<devices::LSoundPlayer>(system_, *queue_);
  control_ = std::make_unique<devices::PlayerControl>(*player_, system_, settings_,
                                                      devices::TimeStretchAdaptor());
  player_->InstallListener(this, 0);
}

Transport::~Transport() {
  // The player's threads stop before the queue and the waker they post to go.
  control_.reset();
  player_.reset();
  queue_.reset();
  waker_.reset();
}

void Transport::Stop() {
  player_->SetRepeat(false);
  player_->Close();
}

void Transport::Stopped(std::uintptr_t) {
  playing_ = nullptr;
  emit stopped();
}

void Transport::Forget(const core::WaveDocument* doc) {
  if (doc && doc == playing_) Stop();
}

bool Transport::Started(bool ok, const core::WaveDocument* doc) {
  message_ = control_->message();
  playing_ = ok ? doc : nullptr;
  return ok;
}

bool Transport::Play(const core::WaveDocument& doc, FramePos from, FramePos to) {
  const FrameCount length = doc.length();
  from = std::clamp<FramePos>(from, 0, length);
  to = to < 0 ? -1 : std::clamp<FramePos>(to, from, length);
  auto source = devices::SourceRange(core::ChainOpenSource(doc.chain()), from, to);
  return Started(control_->Play(std::move(source)), &doc);
}

bool Transport::PlayRamp(const core::WaveDocument& doc, FramePos pos,
                         const devices::SpeedRamp& ramp) {
  audio::SourceHandle source = core::ChainOpenSource(doc.chain());
  source->seek(std::clamp<FramePos>(pos, 0, doc.length()));
  std::string why;
  source = devices::SourceAtRamp(std::move(source), ramp, devices::TimeStretchAdaptor(), &why);
  if (!source) {
    message_ = why;
    return false;
  }
  const devices::DeviceChoice device = devices::ChooseDevice(system_, settings_, devices::kPlayDevice);
  const bool ok = player_->Open(std::move(source), device.name);
  message_ = ok ? device.message : player_->lastError();
  playing_ = ok ? &doc : nullptr;
  return ok;
}

void Transport::PlayFrom(const core::WaveDocument& doc, FramePos pos) { Play(doc, pos); }

void Transport::PlayRange(const core::AudioChain& chain, FramePos from, FramePos to) {
  control_->PlayRange(chain, from, to);
  message_ = control_->message();
  playing_ = nullptr;
}

bool Transport::PlaySource(audio::SourceHandle source, std::string* message) {
  const bool ok = control_->PlaySource(std::move(source), message);
  message_ = control_->message();
  playing_ = nullptr;
  return ok;
}

void Transport::Pause() {
  if (player_->isOpen()) player_->Pause();
}

void Transport::Resume() {
  if (player_->isHolding()) player_->Resume();
}

}  // namespace quillet::ui
