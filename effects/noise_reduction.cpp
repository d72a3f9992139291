#include "effects/noise_reduction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "effects/gain.h"
#include "effects/levels.h"

namespace quillet::effects {

using audio::Sample;

namespace {

constexpr int kLevels = 256;  // -128..127 in a bin's histogram
constexpr int kLevelOffset = 128;
// Hamming windows a quarter frame apart add up to 4 x 0.54 everywhere: the noise
// estimate's overlap-add is divided by it (and by N, the inverse transform's scale) so
// that a frame with nothing taken off gives back exactly its input.
constexpr double kOverlapSum = 4 * 0.54;

std::vector<float> HammingWindow(std::size_t n) {
  std::vector<float> w(n);
  for (std::size_t k = 0; k < n; ++k)
    w[k] = static_cast<float>(0.54 - 0.46 * std::cos(2 * std::numbers::pi * static_cast<double>(k) /
                                                     static_cast<double>(n)));
  return w;
}

// 20 x log10(|X| / kSpectralReference) rounded half away from zero, clamped, from |X|^2.
int BinLevel(float magnitudeSquared) {
  static const float kOffset = static_cast<float>(20 * std::log10(kSpectralReference));
  if (!(magnitudeSquared > 0)) return kMinDecibel;
  const float dB = 10 * std::log10(magnitudeSquared) - kOffset;
  return static_cast<int>(std::clamp<float>(std::round(dB), kMinDecibel, kMaxDecibel));
}

std::string FrameTooLarge(std::int64_t rate) {
  return "Noise reduction cannot work at " + std::to_string(rate) +
         " Hz: its spectral frame would be above " + std::to_string(kMaxSpectralFrame) +
         " samples.";
}

}  // namespace

int SpectralFrameSize(std::int64_t rate) {
  const std::int64_t n = std::max<std::int64_t>(rate, 0) / 33;
  std::int64_t size = 8;
  while (size < n - n / 4) size *= 2;
  return size > kMaxSpectralFrame ? 0 : static_cast<int>(size);
}

Outcome EstimateNoiseProfile(audio::LSoundSource& source, FrameCount frames, int percentile,
                             NoiseProfile& profile, const ProgressFn& progress) {
  const int n = SpectralFrameSize(source.sampleRate());
  if (n == 0) return Outcome::Failed(FrameTooLarge(source.sampleRate()));
  const int ch = source.channels();
  const auto size = static_cast<std::size_t>(n), bins = size / 2;
  frames = std::max<FrameCount>(frames, 0);
  // Whole frames only, except that a stretch shorter than one still makes one.
  const FrameCount steps = std::max<FrameCount>(frames / n, 1);
  const std::vector<float> window = HammingWindow(size);
  audio::RealFft fft(size);
  audio::FftBuffer<float> in(size);
  audio::FftBuffer<audio::Complex> spectrum(fft.bins());
  std::vector<Sample> block(size * static_cast<std::size_t>(ch));
  std::vector<std::uint32_t> histograms(static_cast<std::size_t>(ch) * bins * kLevels);
  for (FrameCount step = 0; step < steps; ++step) {
    const FrameCount got = std::min<FrameCount>(n, frames - step * n);
    std::fill(block.begin(), block.end(), 0);
    source.read(block.data(), got);
    if (source.failed()) return Outcome::Failed(source.failureMessage());
    for (int c = 0; c < ch; ++c) {
      for (std::size_t k = 0; k < size; ++k)
        in[k] = static_cast<float>(
                    block[k * static_cast<std::size_t>(ch) + static_cast<std::size_t>(c)]) *
                window[k];
      fft.Forward(in, spectrum);
      std::uint32_t* h = histograms.data() + static_cast<std::size_t>(c) * bins * kLevels;
      for (std::size_t k = 0; k < bins; ++k)
        ++h[k * kLevels +
            static_cast<std::size_t>(BinLevel(std::norm(spectrum[k])) + kLevelOffset)];
    }
    const FrameCount done = step + 1 == steps ? frames : (step + 1) * n;
    if (progress && !progress(done, frames)) return Outcome::Cancelled();
  }
  // B x p / 100, not (B / 10 x p) / 10: the truncation of B / 10 lowers the percentile of
  // short grabs a lot (to nothing under ten frames). At least one frame must count.
  const std::int64_t p = std::clamp(percentile, 0, 100);
  const auto needed = static_cast<std::uint32_t>(std::max<std::int64_t>(1, steps * p / 100));
  NoiseProfile made{n, ch, std::vector<float>(static_cast<std::size_t>(ch) * bins)};
  for (std::size_t b = 0; b < made.magnitudes.size(); ++b) {
    const std::uint32_t* h = histograms.data() + b * kLevels;
    std::uint32_t sum = 0;
    int i = 0;
    while (i < kLevels - 1 && (sum += h[i]) < needed) ++i;
    const int level = std::clamp(i + 1 - kLevelOffset, kMinDecibel, kMaxDecibel);
    made.magnitudes[b] = static_cast<float>(std::pow(10.0, 0.05 * level) * kSpectralReference);
  }
  profile = std::move(made);
  return {};
}

LSpectralSubtraction::LSpectralSubtraction(SourceHandle input, const NoiseProfile& profile)
    : LSoundSource(input->sampleRate(), input->channels(),
                   static_cast<std::uint32_t>(
                       std::min<std::uint64_t>(2ULL * input->peakBound(), UINT32_MAX))),
      input_(std::move(input)),
      n_(static_cast<std::size_t>(std::max(profile.frameSize, 8))),
      hop_(n_ / 4),
      bins_(n_ / 2),
      fft_(n_),
      window_(HammingWindow(n_)),
      raw_(n_ * static_cast<std::size_t>(channels())),
      overlap_(n_ * static_cast<std::size_t>(channels())),
      frame_(n_),
      spectrum_(fft_.bins()),
      out_(hop_ * static_cast<std::size_t>(channels())) {
  FollowInput(*input_);
  limit_.assign(bins_ * static_cast<std::size_t>(channels()), std::numeric_limits<float>::max());
  for (std::size_t i = 0; i < limit_.size() && i < profile.magnitudes.size(); ++i)
    limit_[i] = profile.magnitudes[i];
  for (float q : limit_) limitSquared_.push_back(q * q);
  seek(0);
}

void LSpectralSubtraction::seek(FramePos frame) {
  // Every analysis frame that overlaps `frame` starts at most three hops before it.
  const auto hop = static_cast<FramePos>(hop_);
  input_->seek(frame - 3 * hop);
  std::fill(raw_.begin(), raw_.end(), 0);
  std::fill(overlap_.begin(), overlap_.end(), 0.0f);
  outAt_ = frame - 3 * hop - static_cast<FramePos>(n_);  // nothing made yet
  pos_ = frame;
}

void LSpectralSubtraction::Step() {
  const auto ch = static_cast<std::size_t>(channels());
  std::memmove(raw_.data(), raw_.data() + hop_ * ch, (n_ - hop_) * ch * sizeof(Sample));
  input_->read(raw_.data() + (n_ - hop_) * ch, static_cast<FrameCount>(hop_));
  const float norm = static_cast<float>(1 / (kOverlapSum * static_cast<double>(n_)));
  for (std::size_t c = 0; c < ch; ++c) {
    for (std::size_t k = 0; k < n_; ++k)
      frame_[k] = static_cast<float>(raw_[k * ch + c]) * window_[k];
    fft_.Forward(frame_, spectrum_);
    // The noise estimate: each bin as it is when it is within the profile, else cut
    // down to it. The upper half of the spectrum mirrors these bins (bin N - k goes
    // with bin k); the one at half the rate takes its neighbour's profile.
    const float* q = limit_.data() + c * bins_;
    const float* q2 = limitSquared_.data() + c * bins_;
    for (std::size_t k = 0; k <= bins_; ++k) {
      const std::size_t at = std::min(k, bins_ - 1);
      const float m2 = std::norm(spectrum_[k]);
      if (m2 > q2[at]) spectrum_[k] *= q[at] / std::sqrt(m2);
    }
    fft_.Inverse(spectrum_, frame_);
    float* acc = overlap_.data() + c * n_;
    for (std::size_t k = 0; k < n_; ++k) acc[k] += frame_[k];
    // The first hop has all four frames over it now: input less its noise estimate.
    for (std::size_t i = 0; i < hop_; ++i) {
      const auto noise = static_cast<std::int64_t>(acc[i] * norm);  // truncated toward zero
      out_[i * ch + c] = audio::SaturateSample(std::int64_t{raw_[i * ch + c]} - noise);
    }
    std::memmove(acc, acc + hop_, (n_ - hop_) * sizeof(float));
    std::fill(acc + (n_ - hop_), acc + n_, 0.0f);
  }
  outAt_ += static_cast<FramePos>(hop_);
}

void LSpectralSubtraction::read(Sample* buffer, FrameCount frames) {
  const auto ch = static_cast<std::size_t>(channels());
  const auto hop = static_cast<FramePos>(hop_);
  const FrameCount len = length();
  for (FrameCount done = 0; done < frames;) {
    const FramePos p = pos_ + done;
    Sample* out = buffer + static_cast<std::size_t>(done) * ch;
    if (p < 0 || p >= len) {
      // Outside the audio: silence up to its start, or to the end of the request.
      const FrameCount n = p < 0 ? std::min(frames - done, -p) : frames - done;
      std::fill(out, out + static_cast<std::size_t>(n) * ch, 0);
      done += n;
      continue;
    }
    while (p >= outAt_ + hop) Step();
    const FrameCount n = std::min({frames - done, outAt_ + hop - p, len - p});
    std::memcpy(out, out_.data() + static_cast<std::size_t>(p - outAt_) * ch,
                static_cast<std::size_t>(n) * ch * sizeof(Sample));
    done += n;
  }
  pos_ += frames;
}

Status CheckGrabLength(FrameCount frames, std::int64_t rate) {
  if (rate <= 0 || frames / rate <= kMaxGrabSeconds) return Status::Ok();
  return Status::Error(
      "You cannot sample an area of your audio longer than 8 seconds. Please select a shorter "
      "area.",
      "Manual Noise Reduction Error");
}

Status CheckProfileFits(const NoiseProfile& profile, std::int64_t rate, int channels,
                        core::FrontEnd frontEnd) {
  if (profile.empty())
    return Status::Error(
        "There is no noise sample yet. Select a stretch that holds nothing but "
        "the noise and choose " +
            std::string(core::CommandWording(frontEnd, "Grab Noise Sample from Selected Area",
                                             "noise-grab")) +
            " first.",
        "Noise Reduction");
  if (profile.frameSize == SpectralFrameSize(rate) && profile.channels == channels)
    return Status::Ok();
  return Status::Error(
      "The noise sample you took is not compatible with the selection you are attempting to "
      "apply it to.",
      "Noise Reduction");
}

Outcome GrabNoiseProfile(const AudioChain& chain, FramePos from, FramePos to, NoiseProfile& profile,
                         const ProgressFn& progress) {
  if (!ClampSelection(chain, from, to))
    return Outcome::Failed("There is no selection to sample the noise from.");
  SourceHandle src = SelectionSource(chain, from, to);
  return EstimateNoiseProfile(*src, to - from, kGrabPercentile, profile, progress);
}

PassResult SubtractNoise(const EffectParams& params, const NoiseProfile& profile,
                         const ProgressFn& progress) {
  if (!params.chain) return {};
  const Status fits = CheckProfileFits(profile, params.chain->sampleRate, params.chain->channels);
  if (!fits.ok()) return Outcome::Failed(fits.message);
  FunctionFilterFactory f([&](SourceHandle in) {
    return SourceHandle(audio::MakeRef<LSpectralSubtraction>(std::move(in), profile));
  });
  return RunFilterPass(params, f, progress);
}

PassResult SubtractNoiseAuto(const EffectParams& params, int percentile,
                             const ProgressFn& progress) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  SourceHandle src = SelectionSource(*params.chain, start, end);
  NoiseProfile profile;
  const Outcome estimated =
      EstimateNoiseProfile(*src, end - start, percentile, profile, ProgressPart(progress, 0, 30));
  if (!estimated.done()) return estimated;
  return SubtractNoise({params.chain, end, start}, profile, ProgressPart(progress, 30, 100));
}

namespace {

constexpr core::ParamInfo kAutoNoiseFields[] = {{.name = "THRESHOLD",
                                                 .label = "Noise &Threshold:",
                                                 .key = "SSNoiseThreshold",
                                                 .def = 30,
                                                 .min = 0,
                                                 .max = 100,
                                                 .unit = "%"}};

constexpr std::int64_t kMaxFrame = std::numeric_limits<std::int64_t>::max() / 2;
constexpr core::ParamInfo kGrabFields[] = {{.name = "FROM",
                                            .label = "&From:",
                                            .def = 0,
                                            .min = 0,
                                            .max = kMaxFrame,
                                            .unit = "frames",
                                            .required = true},
                                           {.name = "TO",
                                            .label = "&To:",
                                            .def = 0,
                                            .min = 0,
                                            .max = kMaxFrame,
                                            .unit = "frames",
                                            .required = true}};

}  // namespace

const core::ParamTable kAutoNoiseReductionTable{"Auto Spectral Subtraction", kAutoNoiseFields};
const core::ParamTable kNoiseGrabTable{"Grab Noise Sample", kGrabFields};

}  // namespace quillet::effects
