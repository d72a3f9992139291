#pragma once
// The player as the document commands see it: core's PlaybackControl over an
// LSoundPlayer, playing snapshots of documents on the device of the settings at
// the chosen play speed, plus a source that ends where a played range ends.

#include <string>

#include "core/document.h"
#include "core/edit_services.h"
#include "devices/play_speed.h"
#include "devices/player.h"
#include "settings/settings.h"

namespace quillet::devices {

// What the Play commands show (caption "Quillet") when the device refuses.
inline constexpr const char* kCheckPlayDeviceMessage =
    "Please check that you have selected the correct sound player device using Options. Open Options "
    "using Tools -> Options";

// source, read from its position, ending at frame end (later frames are silence;
// length() is end, or the source's length when that is shorter).
class LEndAtSource final : public audio::LSoundSource {
 public:
  LEndAtSource(audio::SourceHandle inner, audio::FramePos end);
  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return inner_->position(); }
  audio::FrameCount length() const override { return end_; }
  void seek(audio::FramePos frame) override { inner_->seek(frame); }

 private:
  audio::SourceHandle inner_;
  audio::FramePos end_;
};

// [from, to) of source (to < 0: to its end), positioned at from.
audio::SourceHandle SourceRange(audio::SourceHandle source, audio::FramePos from, audio::FramePos to = -1);

class PlayerControl final : public core::PlaybackControl {
 public:
  PlayerControl(LSoundPlayer& player, platform::SoundSystem& system, settings::Settings& settings,
                SpeedAdaptor adaptor);

  bool IsPlaying() const override { return player_.isOpen(); }
  void Stop() override { player_.Close(); }
  void PlayFrom(const core::WaveDocument& doc, core::FramePos pos) override;
  void PlayRange(const core::AudioChain& chain, core::FramePos from, core::FramePos to) override;
  bool PlaySource(audio::SourceHandle source, std::string* message) override;

  // Plays source at the play speed on the device of "Settings"/"SoundOutDevice".
  // False when it cannot: message() then holds the reason.
  bool Play(audio::SourceHandle source);

  void SetSpeed(PlaySpeed speed) { speed_ = speed; }
  PlaySpeed speed() const { return speed_; }
  // Why the last play failed, or which stored device was replaced by the default;
  // empty after a plain success.
  const std::string& message() const { return message_; }

 private:
  LSoundPlayer& player_;
  platform::SoundSystem& system_;
  settings::Settings& settings_;
  SpeedAdaptor adaptor_;
  PlaySpeed speed_ = PlaySpeed::Normal;
  // Opens the device of the settings for source as it is.
  bool Open(audio::SourceHandle source);

  std::string message_;
};

}  // namespace quillet::devices
