#include "effects/echo.h"

#include <algorithm>
#include <array>

#include "platform/frame_time.h"

namespace quillet::effects {
namespace {

using audio::SaturateSample;

// The loudest output a loop of gain num / den gives for an input of bound.
std::uint32_t LoopBound(std::uint32_t bound, std::int64_t num, std::int64_t den) {
  const std::int64_t b = std::int64_t{bound} * den / std::max<std::int64_t>(den - num, 1);
  return static_cast<std::uint32_t>(std::min<std::int64_t>(b, INT32_MAX));
}

EchoParams Clamped(EchoParams p) {
  return {std::clamp(p.timeMs, kMinEchoMs, kMaxEchoMs), std::clamp(p.gainPct, 0, kMaxEchoPercent)};
}
ReverbParams Clamped(ReverbParams p) {
  return {std::clamp(p.timeMs, kMinReverbMs, kMaxReverbMs), std::clamp(p.levelPct, 0, kMaxReverbLevel)};
}

std::int64_t EchoFeedback(const EchoParams& p) { return std::int64_t{Clamped(p).gainPct} * 256 / 100; }

// c1..c5 (unit 1/512) of a clamped level.
std::array<std::int64_t, 5> ReverbCoefficients(int levelPct) {
  const std::int64_t v = std::min<std::int64_t>(std::int64_t{levelPct} * 512 / 100, kMaxReverbBase);
  static constexpr double kFactors[5] = {0.4, 0.1, 0.3, 0.07, 0.13};
  std::array<std::int64_t, 5> c{};
  for (std::size_t k = 0; k < 5; ++k) c[k] = static_cast<std::int64_t>(static_cast<double>(v) * kFactors[k]);
  return c;
}

}  // namespace

std::int64_t DelayLineSamples(int timeMs, std::int64_t rate, int channels) {
  const std::int64_t n = std::max(channels, 1);
  const std::int64_t frames = platform::FramesFromMs(std::max(timeMs, 0), rate);
  return std::max(frames, (128 + n - 1) / n) * n;
}

LEchoFilter::LEchoFilter(SourceHandle input, EchoParams p)
    : LSoundSource(input->sampleRate(), input->channels(), 0), input_(std::move(input)), e_(EchoFeedback(p)) {
  FollowInput(*input_);
  setStatus(input_->status());
  setPeakBound(LoopBound(input_->peakBound(), e_, 256));
  const auto n = DelayLineSamples(Clamped(p).timeMs, sampleRate(), channels());
  line_.assign(static_cast<std::size_t>(n), 0);
}

void LEchoFilter::seek(FramePos frame) {
  std::fill(line_.begin(), line_.end(), 0);
  i_ = 0;
  input_->seek(frame);
}

void LEchoFilter::read(Sample* buffer, FrameCount frames) {
  input_->read(buffer, frames);
  const std::size_t total = static_cast<std::size_t>(std::max<FrameCount>(frames, 0)) * channels();
  const std::size_t d = line_.size();
  std::int32_t* line = line_.data();
  for (std::size_t done = 0; done < total;) {
    // Up to the line's wrap, so the loop needs no modulo.
    const std::size_t n = std::min(total - done, d - i_);
    Sample* x = buffer + done;
    std::int32_t* l = line + i_;
    for (std::size_t k = 0; k < n; ++k) {
      const Sample y = SaturateSample(std::int64_t{x[k]} + std::int64_t{l[k]} * e_ / 256);
      l[k] = y;
      x[k] = y;
    }
    done += n;
    i_ = (i_ + n) % d;
  }
}

LReverbFilter::LReverbFilter(SourceHandle input, ReverbParams p)
    : LSoundSource(input->sampleRate(), input->channels(), 0), input_(std::move(input)) {
  FollowInput(*input_);
  setStatus(input_->status());
  p = Clamped(p);
  const auto c = ReverbCoefficients(p.levelPct);
  std::copy(c.begin(), c.end(), c_);
  const std::int64_t sum = c[0] + c[1] + c[2] + c[3] + c[4];
  setPeakBound(LoopBound(input_->peakBound(), sum, 512));
  const auto d = DelayLineSamples(p.timeMs, sampleRate(), channels());
  line_.assign(static_cast<std::size_t>(d), 0);
  static constexpr double kStarts[4] = {0.7413, 0.5581, 0.3823, 0.211};
  for (int k = 0; k < 4; ++k) start_[k] = static_cast<std::size_t>(static_cast<double>(d) * kStarts[k]);
  Reset();
}

void LReverbFilter::Reset() {
  std::fill(line_.begin(), line_.end(), 0);
  std::copy(start_, start_ + 4, r_);
  w_ = 0;
}

void LReverbFilter::seek(FramePos frame) {
  Reset();
  input_->seek(frame);
}

void LReverbFilter::read(Sample* buffer, FrameCount frames) {
  input_->read(buffer, frames);
  const std::size_t total = static_cast<std::size_t>(std::max<FrameCount>(frames, 0)) * channels();
  const std::size_t d = line_.size();
  std::int32_t* line = line_.data();
  const std::int64_t c1 = c_[0], c2 = c_[1], c3 = c_[2], c4 = c_[3], c5 = c_[4];
  for (std::size_t done = 0; done < total;) {
    // Up to the first index that wraps.
    std::size_t n = std::min(total - done, d - w_);
    for (std::size_t r : r_) n = std::min(n, d - r);
    Sample* x = buffer + done;
    const std::int32_t *t1 = line + r_[0], *t2 = line + r_[1], *t3 = line + r_[2], *t4 = line + r_[3];
    std::int32_t* w = line + w_;
    for (std::size_t k = 0; k < n; ++k) {
      const std::int64_t y = std::int64_t{x[k]} + t1[k] * c1 / 512 + t2[k] * c2 / 512 + t3[k] * c3 / 512 +
                             t4[k] * c4 / 512 + w[k] * c5 / 512;
      x[k] = w[k] = SaturateSample(y);
    }
    done += n;
    w_ = (w_ + n) % d;
    for (std::size_t& r : r_) r = (r + n) % d;
  }
}

SourceHandle MakeEcho(SourceHandle input, EchoParams p) {
  return SourceHandle(audio::MakeRef<LEchoFilter>(std::move(input), Clamped(p)));
}

SourceHandle MakeReverb(SourceHandle input, ReverbParams p) {
  return SourceHandle(audio::MakeRef<LReverbFilter>(std::move(input), Clamped(p)));
}

PassResult Echo(const EffectParams& params, EchoParams p, const ProgressFn& progress) {
  if (EchoFeedback(p) == 0) return {};  // 0 %: nothing is added
  FunctionFilterFactory f([p](SourceHandle in) { return MakeEcho(std::move(in), p); });
  return RunFilterPass(params, f, progress);
}

PassResult Reverb(const EffectParams& params, ReverbParams p, const ProgressFn& progress) {
  const auto c = ReverbCoefficients(Clamped(p).levelPct);
  if (std::all_of(c.begin(), c.end(), [](std::int64_t k) { return k == 0; })) return {};  // level 0
  FunctionFilterFactory f([p](SourceHandle in) { return MakeReverb(std::move(in), p); });
  return RunFilterPass(params, f, progress);
}

namespace {

constexpr core::ParamPreset kEchoPresets[] = {
    {"Living Room", {50, 10}, 2}, {"Cave", {400, 40}, 2}, {"Grand Canyon", {750, 75}, 2}};
constexpr core::ParamInfo kEchoFields[] = {
    {.name = "MS", .label = "Echo &Time (ms):", .key = "EchoTime", .def = 800, .min = kMinEchoMs,
     .max = kMaxEchoMs - 1, .unit = "ms",
     .rangeMessage = "Echo time must be between 10 and 3000ms. Please try again."},
    {.name = "PCT", .label = "Echo &Gain (%):", .key = "EchoGain", .def = 50, .min = 0,
     .max = kMaxEchoPercent, .unit = "%",
     .rangeMessage = "Echo Gain must be less than 100%. Please try again.",
     .lowMessage = "Echo Gain must be 0% or more. Please try again."}};

constexpr core::ParamPreset kReverbPresets[] = {{"Living Room", {50, 25}, 2},
                                                {"Bathroom", {250, 50}, 2},
                                                {"Auditorium", {500, 75}, 2},
                                                {"Hangar", {1000, 100}, 2}};
constexpr core::ParamInfo kReverbFields[] = {
    {.name = "MS", .label = "Reverb &Time (ms):", .key = "ReverbTime", .def = 50, .min = 50,
     .max = kMaxReverbMs, .unit = "ms",
     .rangeMessage = "Reverb time must be between 50 and 1000. Please try again."},
    {.name = "LEVEL", .label = "Reverb &Level (%):", .key = "ReverbLevel", .def = 100, .min = 0,
     .max = kMaxReverbLevel, .unit = "%",
     .rangeMessage = "Reverb level must be less than 100. Please try again.",
     .lowMessage = "Reverb level must be 0 or more. Please try again."}};
constexpr std::uint8_t kReverbCheckOrder[] = {1, 0};

}  // namespace

const core::ParamTable kEchoTable{"Echo", kEchoFields, kEchoPresets};
const core::ParamTable kReverbTable{"Reverb", kReverbFields, kReverbPresets, nullptr, kReverbCheckOrder};

EchoParams EchoParamsOf(const core::ParamSet& v) {
  return {int(std::clamp<std::int64_t>(v.Int(0), INT32_MIN, INT32_MAX)),
          int(std::clamp<std::int64_t>(v.Int(1), INT32_MIN, INT32_MAX))};
}
Status Validate(const EchoParams& p) { return Status::Refusal(core::CheckValues(kEchoTable, {p.timeMs, p.gainPct})); }

ReverbParams ReverbParamsOf(const core::ParamSet& v) {
  return {int(std::clamp<std::int64_t>(v.Int(0), INT32_MIN, INT32_MAX)),
          int(std::clamp<std::int64_t>(v.Int(1), INT32_MIN, INT32_MAX))};
}
Status Validate(const ReverbParams& p) {
  return Status::Refusal(core::CheckValues(kReverbTable, {p.timeMs, p.levelPct}));
}

}  // namespace quillet::effects
