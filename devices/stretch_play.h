#pragma once
// The player's speed adaptor: the time stretch of audio/speed.h behind the
// LVariableSpeedSource interface, so the player's positions, seeks and repeat stay
// in the document's frames while the device gets the stretched audio.

#include "audio/speed.h"
#include "devices/play_speed.h"

namespace quillet::devices {

class LStretchPlaySource final : public LVariableSpeedSource {
 public:
  // Plays input from its current position along ramp.
  LStretchPlaySource(audio::SourceHandle input, const SpeedRamp& ramp);

  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  // The input frame reached, within [0, input length].
  audio::FramePos position() const override;
  audio::FrameCount length() const override { return input_->length(); }
  // Goes on from input frame frame; the ramp starts again there.
  void seek(audio::FramePos frame) override;
  audio::FrameCount framesLeft() const override;

  const SpeedRamp& ramp() const { return ramp_; }

 private:
  void Build(audio::FramePos inputStart);

  audio::SourceHandle input_;
  SpeedRamp ramp_;
  audio::Ref<audio::LTimeStretchSource> stretch_;
};

// The adaptor for SourceAtSpeed and SourceAtRamp.
SpeedAdaptor TimeStretchAdaptor();

// The source at a speed of the Play menu, through the time stretch.
audio::SourceHandle SourceAtSpeed(audio::SourceHandle source, PlaySpeed speed);

}  // namespace quillet::devices
