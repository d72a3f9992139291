#include "effects/high_pass.h"

#include <algorithm>
#include <cmath>

namespace quillet::effects {

std::int64_t HighPassCoefficient(int frequencyHz, std::int64_t rate) {
  const double f = 2.0 * std::clamp(frequencyHz, kMinHighPassHz, kMaxHighPassHz);
  const double r = static_cast<double>(rate > 0 ? rate : 44100);
  return static_cast<std::int64_t>((1 - std::exp(-2 * M_PI * f / r)) * 256);
}

LHighPassFilter::LHighPassFilter(SourceHandle input, HighPassParams p)
    : LSoundSource(input->sampleRate(), input->channels(), 0),
      input_(std::move(input)),
      c_(HighPassCoefficient(p.frequencyHz, input_->sampleRate())),
      acc_(static_cast<std::size_t>(input_->channels()), 0) {
  FollowInput(*input_);
  setStatus(input_->status());
  // |y| <= |x| + |a / 256| and a / 256 follows x: twice the input at most.
  setPeakBound(static_cast<std::uint32_t>(std::min<std::int64_t>(std::int64_t{input_->peakBound()} * 2, INT32_MAX)));
}

void LHighPassFilter::seek(FramePos frame) {
  std::fill(acc_.begin(), acc_.end(), 0);
  input_->seek(frame);
}

void LHighPassFilter::read(Sample* buffer, FrameCount frames) {
  input_->read(buffer, frames);
  const int ch = channels();
  for (int c = 0; c < ch; ++c) {
    std::int64_t a = acc_[static_cast<std::size_t>(c)];
    Sample* x = buffer + c;
    for (FrameCount i = 0; i < frames; ++i, x += ch) {
      const std::int64_t y = *x - (a >> 8);
      a += y * c_;
      *x = audio::SaturateSample(y);
    }
    acc_[static_cast<std::size_t>(c)] = a;
  }
}

SourceHandle MakeHighPass(SourceHandle input, HighPassParams p) {
  return SourceHandle(audio::MakeRef<LHighPassFilter>(std::move(input), p));
}

PassResult HighPass(const EffectParams& params, HighPassParams p, const ProgressFn& progress) {
  FunctionFilterFactory f([p](SourceHandle in) { return MakeHighPass(std::move(in), p); });
  return RunFilterPass(params, f, progress);
}

namespace {

constexpr core::ParamPreset kHighPassPresets[] = {{"General Audio Cleanup", {200}},
                                                  {"Radio / Telephone Quality Audio", {4000}}};
constexpr core::ParamInfo kHighPassFields[] = {
    {.name = "HZ", .label = "&Frequency (Hz):", .key = "LowCutFreq", .def = 250, .min = kMinHighPassHz,
     .max = kMaxHighPassHz, .unit = "Hz",
     .rangeMessage = "The frequency must be between 1 and 20000 Hz. Please try again."}};

}  // namespace

const core::ParamTable kHighPassTable{"High-Pass Filter", kHighPassFields, kHighPassPresets};

HighPassParams HighPassParamsOf(const core::ParamSet& v) {
  return {int(std::clamp<std::int64_t>(v.Int(0), INT32_MIN, INT32_MAX))};
}
Status Validate(const HighPassParams& p) {
  return Status::Refusal(core::CheckValues(kHighPassTable, {p.frequencyHz}));
}

}  // namespace quillet::effects
