#include "devices/document_playback.h"

#include <algorithm>

#include "core/chain_source.h"
#include "devices/device_choice.h"

namespace quillet::devices {

using audio::FrameCount;
using audio::FramePos;

LEndAtSource::LEndAtSource(audio::SourceHandle inner, FramePos end)
    : LSoundSource(inner->sampleRate(), inner->channels(), inner->peakBound()),
      inner_(std::move(inner)),
      end_(std::clamp<FramePos>(end, 0, std::max<FrameCount>(inner_->length(), 0))) {
  setStatus(inner_->status());
  FollowInput(*inner_);
}

void LEndAtSource::read(audio::Sample* buffer, FrameCount frames) {
  const FramePos at = inner_->position();
  const FrameCount inside = std::clamp<FrameCount>(end_ - at, 0, frames);
  inner_->read(buffer, frames);
  // What lies past the end is not ours to play.
  std::fill(buffer + inside * channels(), buffer + frames * channels(), 0);
}

audio::SourceHandle SourceRange(audio::SourceHandle source, FramePos from, FramePos to) {
  const FrameCount len = source->length();
  source->seek(std::clamp<FramePos>(from, 0, std::max<FrameCount>(len, 0)));
  if (to < 0 || to >= len) return source;
  return audio::SourceHandle(audio::MakeRef<LEndAtSource>(std::move(source), to));
}

PlayerControl::PlayerControl(LSoundPlayer& player, platform::SoundSystem& system, settings::Settings& settings,
                             SpeedAdaptor adaptor)
    : player_(player), system_(system), settings_(settings), adaptor_(std::move(adaptor)) {}

bool PlayerControl::Play(audio::SourceHandle source) {
  message_.clear();
  source = SourceAtSpeed(std::move(source), speed_, adaptor_, &message_);
  if (!source) return false;
  return Open(std::move(source));
}

bool PlayerControl::PlaySource(audio::SourceHandle source, std::string* message) {
  message_.clear();
  const bool ok = Open(std::move(source));
  if (message) *message = message_;
  return ok;
}

bool PlayerControl::Open(audio::SourceHandle source) {
  const DeviceChoice device = ChooseDevice(system_, settings_, kPlayDevice);
  if (!player_.Open(std::move(source), device.name)) {
    message_ = player_.lastError();
    return false;
  }
  message_ = device.message;
  return true;
}

void PlayerControl::PlayFrom(const core::WaveDocument& doc, core::FramePos pos) {
  auto source = audio::SourceHandle(audio::MakeRef<core::LChainSoundSource>(doc.chain()));
  Play(SourceRange(std::move(source), pos));
}

void PlayerControl::PlayRange(const core::AudioChain& chain, core::FramePos from, core::FramePos to) {
  auto source = audio::SourceHandle(audio::MakeRef<core::LChainSoundSource>(chain));
  Play(SourceRange(std::move(source), from, to));
}

}  // namespace quillet::devices
