#pragma once
// Speed changes as source adaptors. The time stretch plays the input at another speed
// without changing its pitch, by splicing short segments of it; it can also ramp from
// one speed to another, and move backwards through the input (negative speeds), as the
// player's rewind and cue need. Together with the resampling relabel of resample.h it
// makes the three speed effects.

#include <vector>

#include "audio/sound.h"

namespace quillet::audio {

// Speeds the effects accept (factor r; percent / 100).
inline constexpr double kMinSpeedFactor = 0.1;
inline constexpr double kMaxSpeedFactor = 3.0;
// The largest speed magnitude any stretch runs at.
inline constexpr double kMaxStretchSpeed = 10.0;

// Speed r clamped to the effects' range; NaN and 0 become kMinSpeedFactor.
double ClampSpeedFactor(double r);

class LTimeStretchSource final : public LSoundSource {
 public:
  // Output frame 0 plays input frame inputStart. The speed (input frames per output
  // frame, negative: backwards) moves linearly from startSpeed to endSpeed over the
  // first rampFrames output frames and then stays. Magnitudes are clamped to
  // kMaxStretchSpeed, and endSpeed's to at least 0.1, so the stream always ends; it
  // ends when the input position leaves [0, input length].
  LTimeStretchSource(SourceHandle input, double startSpeed, double endSpeed,
                     FrameCount rampFrames = 0, FramePos inputStart = 0);

  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return outPos_; }
  FrameCount length() const override { return length_; }
  void seek(FramePos frame) override;

  // The input frame the output has reached (what a player shows as its position).
  FramePos inputPosition() const;
  // Frames per splice segment.
  FrameCount segmentFrames() const { return seg_; }

 private:
  double SpeedOfSegment(std::int64_t n) const;
  double SegmentStart(std::int64_t n) const;
  FrameCount ComputeLength() const;
  void StartSegment();
  FrameCount BestOffset(const Sample* a, const Sample* around, FrameCount reach);
  const Sample* Window(FramePos from, FramePos to);

  SourceHandle input_;
  double startSpeed_, endSpeed_;
  FrameCount ramp_;
  FramePos inputStart_;
  FrameCount seg_;                 // G
  std::vector<std::int32_t> fade_; // w[k] in 2^24 units
  FrameCount length_ = 0;
  std::int64_t rampSegs_ = 0;  // segments that start inside the ramp
  double rampEndPos_ = 0;      // input position where the ramp ends

  FramePos outPos_ = 0;
  std::int64_t segIndex_ = 0;  // the segment holding outPos_
  double segPos_ = 0;          // ideal input position at its start
  double segSpeed_ = 1;
  FrameCount segOffset_ = 0;   // frames of it already delivered
  std::vector<Sample> segOut_;  // its output, seg_ frames
  bool segReady_ = false;
  FrameCount carry_ = 0;  // how far the splice moved the running position off the ideal one
  std::vector<double> ref_, mono_;

  std::vector<Sample> win_;  // input frames [winStart_, winStart_ + winLen_)
  FramePos winStart_ = 0;
  FrameCount winLen_ = 0;
};

// The player's and the effects' constructions:
// speed and pitch together (resampling relabel), speed only, pitch only.
SourceHandle ChangeSpeedAndPitch(SourceHandle input, double r);
SourceHandle ChangeSpeed(SourceHandle input, double r);
SourceHandle ChangePitch(SourceHandle input, double r);
// A speed ramp for rewind and forward: from startSpeed to endSpeed over rampFrames,
// starting at input frame inputStart.
SourceHandle SpeedRamp(SourceHandle input, double startSpeed, double endSpeed,
                       FrameCount rampFrames, FramePos inputStart);

}  // namespace quillet::audio
