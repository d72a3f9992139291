#include "effects/dynamics.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "effects/gain.h"
#include "effects/levels.h"

namespace quillet::effects {

using audio::Sample;

namespace {

// The 0 dB point of BlockLevel's mean square.
constexpr double kLevelReference = 0x800012;

std::uint32_t BoundTimes(std::uint32_t bound, std::int64_t gain) {
  const double b =
      static_cast<double>(bound) * static_cast<double>(gain) / static_cast<double>(kUnity);
  return static_cast<std::uint32_t>(std::clamp(b, static_cast<double>(bound), 4294967295.0));
}

}  // namespace

int BlockLevel(std::span<const Sample> samples) {
  if (samples.empty()) return kMinDecibel;
  // Squares of samples far above full scale reach 2^52: a block of them needs more
  // than 64 bits.
  __extension__ typedef unsigned __int128 Wide;
  Wide sum = 0;
  for (const Sample s : samples) {
    const std::int64_t v = s >> 5;
    sum += static_cast<std::uint64_t>(v * v);
  }
  const auto mean = static_cast<std::uint64_t>(sum / samples.size());
  if (mean == 0) return kMinDecibel;
  const double dB = std::round(10 * std::log10(static_cast<double>(mean) / kLevelReference));
  return static_cast<int>(std::clamp<double>(dB, kMinDecibel, kMaxDecibel));
}

std::int64_t OnePoleCoefficient(double hz, std::int64_t rate) {
  if (rate <= 0) return 0;
  return static_cast<std::int64_t>(
      (1 - std::exp(-2 * std::numbers::pi * hz / static_cast<double>(rate))) * 256);
}

// ---- Compressor ----

namespace {

constexpr std::string_view kRatioNames[kCompressorRatioCount] = {"1:1", "3:2", "2:1",  "3:1",
                                                                 "4:1", "5:1", "Limit"};
constexpr double kRatioSlopes[kCompressorRatioCount] = {1.0,
                                                        0.9623506263981255,
                                                        0.9440608762859234,
                                                        0.9261187281287935,
                                                        0.9172759353897796,
                                                        0.9120108393559098,
                                                        0.8912509382363546};
// 1 dB less per dB above the table's upper bound.
constexpr double kLimitSlope = 0.8913;
constexpr int kWindowMs = 45;

}  // namespace

std::span<const std::string_view> CompressorRatioNames() { return kRatioNames; }

double CompressorSlope(int ratioIndex) {
  return kRatioSlopes[std::clamp(ratioIndex, 0, kCompressorRatioCount - 1)];
}

CompressorGains CompressorGainTable(int thresholdDb, double slope, int upper) {
  const int t = std::clamp(thresholdDb, kMinDecibel, kMaxDecibel);
  upper = std::clamp(upper, kMinDecibel, kMaxDecibel);
  CompressorGains table{};
  double running =
      t < 0 ? static_cast<double>(kUnity) / std::pow(slope, -t) : static_cast<double>(kUnity);
  for (int level = -128; level <= kMaxDecibel; ++level) {
    table[static_cast<std::size_t>(level + 128)] = static_cast<std::int64_t>(running);
    if (level < t) continue;
    running *= level < upper ? slope : kLimitSlope;
  }
  return table;
}

int CompressorUpperBound(const CompressorParams& p) {
  if (p.limitDb <= 0) return kMaxDecibel;
  return std::clamp(p.thresholdDb + p.limitDb, kMinDecibel, kMaxDecibel);
}

FrameCount CompressorWindow(std::int64_t rate) {
  const std::int64_t frames = (kWindowMs / 1000) * rate + (kWindowMs % 1000) * rate / 1000;
  return std::clamp<FrameCount>(frames, 128, audio::kBlockFrames);
}

LCompressorFilter::LCompressorFilter(SourceHandle input, const CompressorParams& params)
    : LSoundSource(input->sampleRate(), input->channels(), input->peakBound()),
      input_(std::move(input)),
      table_(CompressorGainTable(params.thresholdDb, CompressorSlope(params.ratioIndex),
                                 CompressorUpperBound(params))),
      window_(CompressorWindow(input_->sampleRate())) {
  FollowInput(*input_);
  setPeakBound(BoundTimes(input_->peakBound(), *std::max_element(table_.begin(), table_.end())));
  const std::size_t samples = static_cast<std::size_t>(window_) * channels();
  current_.resize(samples);
  next_.resize(samples);
}

void LCompressorFilter::seek(FramePos frame) {
  input_->seek(frame);
  pos_ = frame;
  started_ = false;
}

std::int64_t LCompressorFilter::TargetOf(const std::vector<Sample>& window) const {
  return table_[static_cast<std::size_t>(BlockLevel(window) + 128)];
}

void LCompressorFilter::Start() {
  input_->read(current_.data(), window_);
  input_->read(next_.data(), window_);
  currentTarget_ = gain_ = TargetOf(current_);
  nextTarget_ = TargetOf(next_);
  AimAtNext();
  used_ = 0;
  started_ = true;
}

void LCompressorFilter::Advance() {
  std::swap(current_, next_);
  currentTarget_ = nextTarget_;
  input_->read(next_.data(), window_);
  nextTarget_ = TargetOf(next_);
  AimAtNext();
  used_ = 0;
}

void LCompressorFilter::AimAtNext() {
  // Targets are 64-bit: with "Limit" and a low threshold a sum of two no longer fits 32.
  if (nextTarget_ < gain_)
    step_ = (nextTarget_ - gain_) / (window_ / 4 + window_);  // louder: reduce quickly
  else
    step_ = ((nextTarget_ + currentTarget_) / 2 - gain_) / (2 * window_);
}

void LCompressorFilter::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  if (!started_) Start();
  const int ch = channels();
  for (FrameCount done = 0; done < frames;) {
    if (used_ == window_) Advance();
    const FrameCount n = std::min(frames - done, window_ - used_);
    const Sample* in = current_.data() + used_ * ch;
    Sample* out = buffer + done * ch;
    if (gain_ == kUnity && step_ == 0) {
      std::memcpy(out, in, static_cast<std::size_t>(n * ch) * sizeof(Sample));
    } else {
      for (FrameCount f = 0; f < n; ++f, gain_ += step_)
        for (int c = 0; c < ch; ++c) out[f * ch + c] = GainProduct(in[f * ch + c], gain_);
    }
    used_ += n;
    done += n;
  }
  pos_ += frames;
}

PassResult Compress(const EffectParams& params, const CompressorParams& compressor,
                    const ProgressFn& progress) {
  FunctionFilterFactory f([&](SourceHandle in) {
    return SourceHandle(audio::MakeRef<LCompressorFilter>(std::move(in), compressor));
  });
  return RunFilterPass(params, f, progress);
}

// ---- Noise gate ----

namespace {

constexpr double kHumHz = 50;
constexpr double kEdgesHz[3] = {400, 1100, 2600};
// A band's gain in 1/2048 of unity, before the shift to 2^24.
constexpr std::int64_t kGateFloor = 512;
constexpr std::int64_t kGateTop = 2048;

}  // namespace

std::array<int, kGateBands> GateThresholds(int levelDb) {
  const auto c = [](int v) { return std::clamp(v, kMinDecibel, kMaxDecibel); };
  return {c(levelDb + 3), c(levelDb), c(levelDb - 3), c(levelDb)};
}

FrameCount GateBlock(std::int64_t rate) {
  return std::clamp<FrameCount>(rate / 30, 20, audio::kBlockFrames);
}

LNoiseGateFilter::LNoiseGateFilter(SourceHandle input, int levelDb)
    : LSoundSource(input->sampleRate(), input->channels(), input->peakBound()),
      input_(std::move(input)),
      block_(GateBlock(input_->sampleRate())),
      humCoef_(OnePoleCoefficient(kHumHz, input_->sampleRate())),
      edgeCoef_{OnePoleCoefficient(kEdgesHz[0], input_->sampleRate()),
                OnePoleCoefficient(kEdgesHz[1], input_->sampleRate()),
                OnePoleCoefficient(kEdgesHz[2], input_->sampleRate())} {
  FollowInput(*input_);
  // The bands never add up to more than the input with its hum, twice at the most.
  setPeakBound(BoundTimes(input_->peakBound(), 2 * kUnity));
  const auto thresholds = GateThresholds(levelDb);
  for (int b = 0; b < kGateBands; ++b) {
    // -127 dB is a tiny gain, not 0, but the divisor is guarded all the same.
    const std::int64_t linear =
        std::max<std::int64_t>(DecibelGain(thresholds[static_cast<std::size_t>(b)]), 1);
    scale_[static_cast<std::size_t>(b)] = (std::int64_t{1} << 40) / linear;
  }
  const std::size_t samples = static_cast<std::size_t>(block_) * channels();
  in_.resize(samples);
  current_.resize(samples * kGateBands);
  next_.resize(samples * kGateBands);
  state_.assign(static_cast<std::size_t>(channels()), {});
}

void LNoiseGateFilter::seek(FramePos frame) {
  input_->seek(frame);
  pos_ = frame;
  started_ = false;
}

void LNoiseGateFilter::ReadAndSplit(std::vector<std::int64_t>& bands) {
  input_->read(in_.data(), block_);
  const int ch = channels();
  std::int64_t* out = bands.data();
  for (FrameCount f = 0; f < block_; ++f) {
    for (int c = 0; c < ch; ++c, out += kGateBands) {
      std::array<std::int64_t, 4>& st = state_[static_cast<std::size_t>(c)];
      std::int64_t x = in_[static_cast<std::size_t>(f * ch + c)];
      x -= st[0] >> 8;  // hum removal
      st[0] += x * humCoef_;
      for (std::size_t e = 0; e < 3; ++e) {
        st[e + 1] += (x - (st[e + 1] >> 8)) * edgeCoef_[e];
        out[e] = st[e + 1] >> 8;
        x -= out[e];
      }
      out[3] = x;
    }
  }
}

std::array<std::int64_t, kGateBands> LNoiseGateFilter::TargetsOf(
    const std::vector<std::int64_t>& bands) const {
  std::array<std::int64_t, kGateBands> p{};
  for (std::size_t i = 0; i < bands.size(); i += kGateBands)
    for (std::size_t b = 0; b < kGateBands; ++b) p[b] = std::max(p[b], std::abs(bands[i + b]));
  // Each band's peak less what its neighbours leak into it.
  const std::array<std::int64_t, kGateBands> q = {p[0] - p[1] / 4, p[1] - (p[2] / 4 + p[0] / 16),
                                                  p[2] - (p[1] / 8 + p[3] / 16), p[3] - p[2] / 8};
  std::array<std::int64_t, kGateBands> targets{};
  for (std::size_t b = 0; b < kGateBands; ++b) {
    __extension__ typedef __int128 Wide;
    const Wide product = (static_cast<Wide>(q[b]) * scale_[b]) >> 24;
    const Wide v = std::clamp<Wide>(product - kGateFloor, 0, kGateTop);
    targets[b] = static_cast<std::int64_t>(v) << 13;
  }
  return targets;
}

void LNoiseGateFilter::Start() {
  for (auto& st : state_) st = {};
  ReadAndSplit(current_);
  ReadAndSplit(next_);
  gain_ = TargetsOf(next_);
  step_ = {};
  used_ = 0;
  started_ = true;
}

void LNoiseGateFilter::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  if (!started_) Start();
  const int ch = channels();
  for (FrameCount done = 0; done < frames;) {
    if (used_ == block_) {
      std::swap(current_, next_);
      ReadAndSplit(next_);
      const auto targets = TargetsOf(next_);
      for (std::size_t b = 0; b < kGateBands; ++b) {
        const std::int64_t diff = targets[b] - gain_[b];
        // Opens within a block; closes over two, the lowest band over four.
        step_[b] = diff > 0 ? diff / block_ : diff / ((b == 0 ? 4 : 2) * block_);
      }
      used_ = 0;
    }
    const FrameCount n = std::min(frames - done, block_ - used_);
    const std::int64_t* bands = current_.data() + used_ * ch * kGateBands;
    Sample* out = buffer + done * ch;
    for (FrameCount f = 0; f < n; ++f) {
      for (int c = 0; c < ch; ++c, bands += kGateBands) {
        std::int64_t sum = 0;
        for (std::size_t b = 0; b < kGateBands; ++b) sum += (bands[b] * gain_[b]) >> 24;
        out[f * ch + c] = audio::SaturateSample(sum);
      }
      for (std::size_t b = 0; b < kGateBands; ++b) gain_[b] += step_[b];
    }
    used_ += n;
    done += n;
  }
  pos_ += frames;
}

PassResult NoiseGate(const EffectParams& params, int levelDb, const ProgressFn& progress) {
  FunctionFilterFactory f([&](SourceHandle in) {
    return SourceHandle(audio::MakeRef<LNoiseGateFilter>(std::move(in), levelDb));
  });
  return RunFilterPass(params, f, progress);
}

// ---- Parameter tables ----

namespace {

constexpr core::ParamPreset kCompressorPresets[] = {{"General Voice Level", {-20, 4, 0}, 3},
                                                    {"TV / Radio Advertisement", {0, 2, 10}, 3}};
constexpr core::ParamInfo kCompressorFields[] = {{.name = "THRESHOLD_DB",
                                                  .label = "&Threshold:",
                                                  .key = "CompressorThreshold",
                                                  .def = 0,
                                                  .min = -40,
                                                  .max = 0,
                                                  .unit = "dB"},
                                                 {.name = "RATIO_INDEX",
                                                  .label = "&Ratio:",
                                                  .key = "CompressorRatio",
                                                  .kind = core::ParamKind::Choice,
                                                  .def = 0,
                                                  .choices = kRatioNames},
                                                 {.name = "LIMIT_DB",
                                                  .label = "&Limit:",
                                                  .key = "CompressorLimit",
                                                  .def = 0,
                                                  .min = 0,
                                                  .max = 12,
                                                  .unit = "dB"}};

constexpr core::ParamPreset kNoiseGatePresets[] = {{"Remove Hum and Hiss", {-20}}};
constexpr core::ParamInfo kNoiseGateFields[] = {{.name = "DB",
                                                 .label = "Noise Gate &Level:",
                                                 .key = "NoiseGateLevel",
                                                 .def = -30,
                                                 .min = -40,
                                                 .max = 0,
                                                 .unit = "dB"}};

}  // namespace

const core::ParamTable kCompressorTable{"Dynamic Range Compressor", kCompressorFields,
                                        kCompressorPresets};
const core::ParamTable kNoiseGateTable{"Multi-band Noise Gating", kNoiseGateFields,
                                       kNoiseGatePresets};

CompressorParams CompressorParamsOf(const core::ParamSet& v) {
  return {int(v.Int(0)), int(v.Int(1)), int(v.Int(2))};
}
Status Validate(const CompressorParams& p) {
  return Status::Refusal(
      core::CheckValues(kCompressorTable, {p.thresholdDb, p.ratioIndex, p.limitDb}));
}

NoiseGateParams NoiseGateParamsOf(const core::ParamSet& v) { return {int(v.Int(0))}; }
Status Validate(const NoiseGateParams& p) {
  return Status::Refusal(core::CheckValues(kNoiseGateTable, {p.levelDb}));
}

}  // namespace quillet::effects
