#pragma once
// Echo and reverb: delay-line filters that add delayed, attenuated copies of what they
// have already put out. Both start from a silent line at the selection start and end
// with the selection (no tail). Products are 64-bit and truncated toward zero (so a
// dying echo reaches silence instead of sticking at -1), and every output saturates.
// Each filter clamps its own parameters: stored values and scripts reach it without
// a dialog.

#include <cstdint>
#include <string>
#include <vector>

#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

// The echo the filter plays: 10..3000 ms and 0..99 %. The dialog accepts 10..2999.
inline constexpr int kMinEchoMs = 10;
inline constexpr int kMaxEchoMs = 3000;
inline constexpr int kMaxEchoPercent = 99;

// "Echo": MS 10..2999 ("EchoTime", 800) and PCT 0..99 ("EchoGain", 50), with presets.
struct EchoParams {
  int timeMs = 800;
  int gainPct = 50;
};
extern const core::ParamTable kEchoTable;
EchoParams EchoParamsOf(const core::ParamSet& values);
Status Validate(const EchoParams& p);

// The reverb the filter plays: level 0..100 %, 10..1000 ms. The dialog accepts 50..1000.
inline constexpr int kMaxReverbLevel = 100;
inline constexpr int kMinReverbMs = 10;
inline constexpr int kMaxReverbMs = 1000;
// The base level (unit 1/512) is capped here, so that the five taps, all fed back,
// keep a loop gain of at most 459/512: DC and the lowest tones are raised at most
// about ten times, where a base of 512 (509/512) would raise them 171 times. Levels
// up to 89 are not affected.
inline constexpr int kMaxReverbBase = 460;

// "Reverb": MS 50..1000 ("ReverbTime", 50) and LEVEL 0..100 ("ReverbLevel", 100),
// with presets; the level is checked first, as the dialog does.
struct ReverbParams {
  int timeMs = 50;
  int levelPct = 100;
};
extern const core::ParamTable kReverbTable;
ReverbParams ReverbParamsOf(const core::ParamSet& values);
Status Validate(const ReverbParams& p);

// Samples of all channels in a delay line of timeMs: frames from ms times channels,
// at least 128 (rounded up to whole frames).
std::int64_t DelayLineSamples(int timeMs, std::int64_t rate, int channels);

// Feedback echo: y = x + line[i] x e / 256 with e = gain x 256 / 100; line[i] = y.
class LEchoFilter final : public audio::LSoundSource {
 public:
  LEchoFilter(SourceHandle input, EchoParams p);
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  // Clears the line, then seeks the input.
  void seek(FramePos frame) override;
  std::int64_t feedback() const { return e_; }

 private:
  SourceHandle input_;
  std::vector<std::int32_t> line_;
  std::size_t i_ = 0;
  std::int64_t e_;
};

// Four taps at 0.2587, 0.4419, 0.6177 and 0.789 of the time and the line's end fed
// back, levels 0.4, 0.1, 0.3, 0.07 and 0.13 of the base level (unit 1/512). The taps'
// offsets are not whole frames: in a stereo file a tap may read the other channel.
class LReverbFilter final : public audio::LSoundSource {
 public:
  LReverbFilter(SourceHandle input, ReverbParams p);
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override;
  // c1..c5 (unit 1/512) and the read indices' start offsets in the line.
  const std::int64_t* coefficients() const { return c_; }
  const std::size_t* tapStarts() const { return start_; }

 private:
  void Reset();

  SourceHandle input_;
  std::vector<std::int32_t> line_;
  std::int64_t c_[5];
  std::size_t start_[4];
  std::size_t r_[4] = {};
  std::size_t w_ = 0;
};

// Filters of the values as given, clamped to what the filters play (the previews
// clamp instead of refusing).
SourceHandle MakeEcho(SourceHandle input, EchoParams p);
SourceHandle MakeReverb(SourceHandle input, ReverbParams p);

PassResult Echo(const EffectParams& params, EchoParams p, const ProgressFn& progress = {});
PassResult Reverb(const EffectParams& params, ReverbParams p, const ProgressFn& progress = {});

}  // namespace quillet::effects
