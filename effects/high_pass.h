#pragma once
// The high-pass filter: a one-pole low cut, y = x - a / 256 and a = a + y x c per
// channel, with c = (1 - e^(-2 pi F / rate)) x 256 and the corner F twice the entered
// frequency (so "General Audio Cleanup", 200 Hz, cuts from 400 Hz). The accumulator is
// 64-bit and the output saturates.

#include <cstdint>
#include <vector>

#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

inline constexpr int kMinHighPassHz = 1;
inline constexpr int kMaxHighPassHz = 20000;

// "High-Pass Filter": HZ 1..20000 ("LowCutFreq", 250) with its presets.
struct HighPassParams {
  int frequencyHz = 250;
};
extern const core::ParamTable kHighPassTable;
HighPassParams HighPassParamsOf(const core::ParamSet& values);
Status Validate(const HighPassParams& p);

// c for an entered frequency (clamped to 1..20000) at rate.
std::int64_t HighPassCoefficient(int frequencyHz, std::int64_t rate);

class LHighPassFilter final : public audio::LSoundSource {
 public:
  LHighPassFilter(SourceHandle input, HighPassParams p);
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  // Clears every channel's accumulator, then seeks the input.
  void seek(FramePos frame) override;
  std::int64_t coefficient() const { return c_; }

 private:
  SourceHandle input_;
  std::int64_t c_;
  std::vector<std::int64_t> acc_;
};

SourceHandle MakeHighPass(SourceHandle input, HighPassParams p);
PassResult HighPass(const EffectParams& params, HighPassParams p, const ProgressFn& progress = {});

}  // namespace quillet::effects
