#include "devices/stretch_play.h"

#include <algorithm>

namespace quillet::devices {

using audio::FrameCount;
using audio::FramePos;

LStretchPlaySource::LStretchPlaySource(audio::SourceHandle input, const SpeedRamp& ramp)
    : LVariableSpeedSource(input->sampleRate(), input->channels(), input->peakBound()),
      input_(std::move(input)),
      ramp_(ramp) {
  FollowInput(*input_);
  Build(input_->position());
}

void LStretchPlaySource::Build(FramePos inputStart) {
  inputStart = std::clamp<FramePos>(inputStart, 0, std::max<FrameCount>(input_->length(), 0));
  // Without a ramp a SpeedRamp plays at its start speed throughout.
  const double end = ramp_.rampFrames > 0 ? ramp_.endSpeed : ramp_.startSpeed;
  stretch_ = audio::MakeRef<audio::LTimeStretchSource>(input_, ramp_.startSpeed, end, ramp_.rampFrames,
                                                       inputStart);
}

void LStretchPlaySource::read(audio::Sample* buffer, FrameCount frames) { stretch_->read(buffer, frames); }

FramePos LStretchPlaySource::position() const {
  const FrameCount len = std::max<FrameCount>(input_->length(), 0);
  // At the end the stretch stops within a segment of the edge; report the edge it
  // left by, so a finished play shows the document's end (or start, going back).
  if (framesLeft() < 1) {
    const double last = ramp_.rampFrames > 0 ? ramp_.endSpeed : ramp_.startSpeed;
    return last < 0 ? 0 : len;
  }
  return std::clamp<FramePos>(stretch_->inputPosition(), 0, len);
}

void LStretchPlaySource::seek(FramePos frame) { Build(frame); }

FrameCount LStretchPlaySource::framesLeft() const {
  return std::max<FrameCount>(stretch_->length() - stretch_->position(), 0);
}

SpeedAdaptor TimeStretchAdaptor() {
  return [](audio::SourceHandle input, const SpeedRamp& ramp) {
    return audio::Ref<LVariableSpeedSource>(audio::MakeRef<LStretchPlaySource>(std::move(input), ramp));
  };
}

audio::SourceHandle SourceAtSpeed(audio::SourceHandle source, PlaySpeed speed) {
  std::string unused;
  return SourceAtSpeed(std::move(source), speed, TimeStretchAdaptor(), &unused);
}

}  // namespace quillet::devices
