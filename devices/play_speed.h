#pragma once
// Playing at another speed: the player plays whatever source it is given, and these
// pieces let a speed adaptor (the time stretch of the effects layer) be put between
// the document's source and the player.

#include <functional>
#include <string>

#include "audio/sound.h"

namespace quillet::devices {

enum class PlaySpeed { Normal, Slow, Fast };

// How fast to move through the audio: from startSpeed to endSpeed over rampFrames
// output frames (0: startSpeed throughout). Negative speeds move backwards.
struct SpeedRamp {
  double startSpeed = 1.0;
  double endSpeed = 1.0;
  int rampFrames = 0;
  friend bool operator==(const SpeedRamp&, const SpeedRamp&) = default;
};

// The play speeds of the Play menu, and the record dialog's Rewind and Forward
// (scrubbing: when the player was holding a snippet).
SpeedRamp RampFor(PlaySpeed speed);
SpeedRamp RewindRamp(bool scrubbing);
SpeedRamp ForwardRamp(bool scrubbing);

// A source whose end is not simply length() - position(): a speed adaptor reports
// position() and length() in the frames of the audio it reads (so the player shows
// document positions) and how many output frames remain before it reaches an end
// of that audio (its end going forwards, frame 0 going backwards).
class LVariableSpeedSource : public audio::LSoundSource {
 public:
  using LSoundSource::LSoundSource;
  virtual audio::FrameCount framesLeft() const = 0;
};

// Builds the adaptor around a source at its current position; supplied by the layer
// that has the time stretch.
using SpeedAdaptor = std::function<audio::Ref<LVariableSpeedSource>(audio::SourceHandle, const SpeedRamp&)>;

// The source to play at speed: source itself at normal speed, else the adaptor's
// source. Null with *message set when no adaptor is available.
audio::SourceHandle SourceAtSpeed(audio::SourceHandle source, PlaySpeed speed,
                                  const SpeedAdaptor& adaptor, std::string* message);
audio::SourceHandle SourceAtRamp(audio::SourceHandle source, const SpeedRamp& ramp,
                                 const SpeedAdaptor& adaptor, std::string* message);

// Output frames still to play from source, for any source the player may hold.
audio::FrameCount FramesLeft(const audio::LSoundSource& source);

}  // namespace quillet::devices
