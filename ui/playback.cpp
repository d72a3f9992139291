#include "ui/playback.h"

#include <QMetaObject>

#include <algorithm>

#include "core/chain.h"
#include "core/chain_source.h"

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
  queue_ = std::make_unique<devices::NotificationQueue>(waker_.get());
  player_ = std::make_unique<devices::LSoundPlayer>(system_, *queue_);
  player_->InstallListener(this, 0);
}

Transport::~Transport() {
  // The player's threads stop before the queue and the waker they post to go.
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

bool Transport::PlaySource(audio::SourceHandle source) {
  message_.clear();
  // The device is read at each play, so a change in the options takes effect at once.
  std::string device = settings_.GetString("Settings", "SoundOutDevice", "");
  if (device == "0") device.clear();
  if (player_->Open(std::move(source), device)) return true;
  message_ = player_->lastError();
  return false;
}

bool Transport::Play(const core::WaveDocument& doc, FramePos from, FramePos to) {
  const FrameCount length = doc.length();
  from = std::clamp<FramePos>(from, 0, length);
  to = to < 0 ? length : std::clamp<FramePos>(to, from, length);
  // A chain cut at the range's end keeps document positions for the play marker.
  core::AudioChain range(doc.chain().store());
  range.sampleRate = doc.sampleRate();
  range.channels = doc.channels();
  core::ChainCopyRange(doc.chain(), 0, to, range);
  audio::Ref<core::LChainSoundSource> source = core::ChainOpenSource(range);
  source->seek(from);
  const bool ok = PlaySource(std::move(source));
  playing_ = ok ? &doc : nullptr;
  return ok;
}

void Transport::PlayFrom(const core::WaveDocument& doc, FramePos pos) { Play(doc, pos); }

void Transport::PlayRange(const core::AudioChain& chain, FramePos from, FramePos to) {
  core::AudioChain range(chain.store());
  range.sampleRate = chain.sampleRate;
  range.channels = chain.channels;
  core::ChainCopyRange(chain, 0, std::max<FramePos>(to, 0), range);
  audio::Ref<core::LChainSoundSource> source = core::ChainOpenSource(range);
  source->seek(std::max<FramePos>(from, 0));
  PlaySource(std::move(source));
  playing_ = nullptr;
}

void Transport::Pause() {
  if (player_->isOpen()) player_->Hold();
}

void Transport::Resume() {
  if (player_->isHolding()) player_->Resume();
}

}  // namespace quillet::ui
