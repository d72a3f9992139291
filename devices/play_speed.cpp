#include "devices/play_speed.h"

namespace quillet::devices {

SpeedRamp RampFor(PlaySpeed speed) {
  switch (speed) {
    case PlaySpeed::Normal: return {1.0, 1.0, 0};
    case PlaySpeed::Slow: return {0.5, 1.0, 0};
    case PlaySpeed::Fast: return {1.5, 1.0, 0};
  }
  return {};
}

SpeedRamp RewindRamp(bool scrubbing) {
  return scrubbing ? SpeedRamp{-0.1, -3.0, 8000} : SpeedRamp{-0.5, -7.0, 8000};
}

SpeedRamp ForwardRamp(bool scrubbing) {
  return scrubbing ? SpeedRamp{0.1, 3.0, 8000} : SpeedRamp{1.5, 7.0, 8000};
}

audio::SourceHandle SourceAtRamp(audio::SourceHandle source, const SpeedRamp& ramp,
                                 const SpeedAdaptor& adaptor, std::string* message) {
  if (ramp == RampFor(PlaySpeed::Normal)) return source;
  if (!adaptor) {
    if (message) *message = "Playing at another speed is not available.";
    return nullptr;
  }
  audio::Ref<LVariableSpeedSource> wrapped = adaptor(std::move(source), ramp);
  if (!wrapped) {
    if (message) *message = "Playing at another speed is not available.";
    return nullptr;
  }
  return audio::SourceHandle(std::move(wrapped));
}

audio::SourceHandle SourceAtSpeed(audio::SourceHandle source, PlaySpeed speed,
                                  const SpeedAdaptor& adaptor, std::string* message) {
  return SourceAtRamp(std::move(source), RampFor(speed), adaptor, message);
}

audio::FrameCount FramesLeft(const audio::LSoundSource& source) {
  if (const auto* v = dynamic_cast<const LVariableSpeedSource*>(&source)) return v->framesLeft();
  return source.length() - source.position();
}

}  // namespace quillet::devices
