#include "effects/gain_control.h"

#include <algorithm>
#include <cmath>

#include "effects/dynamics.h"
#include "effects/gain.h"
#include "effects/levels.h"

namespace quillet::effects {

using audio::Sample;

namespace {

// The gain looks this many blocks ahead of what it outputs, and the tracker's window
// holds as many.
constexpr std::size_t kLookahead = 50;
// The speech band the levels are weighted to.
constexpr double kHighPassHz = 450, kLowPassHz = 2200;

std::size_t Index(int level) {
  return static_cast<std::size_t>(std::clamp(level, kMinDecibel, kMaxDecibel) - kMinDecibel);
}

// The per-block gains of the second pass, linear within each block from the previous
// block's gain, limited at 16-bit full scale.
class LGainControlFilter final : public audio::LSoundSource {
 public:
  LGainControlFilter(SourceHandle input, std::vector<std::int64_t> gains)
      : LSoundSource(input->sampleRate(), input->channels(), audio::kFilePeakBound),
        input_(std::move(input)),
        block_(GainControlBlock(input_->sampleRate())),
        gains_(std::move(gains)) {
    FollowInput(*input_);
  }
  void read(Sample* buffer, FrameCount frames) override {
    input_->read(buffer, frames);
    const int ch = channels();
    const auto bound = static_cast<std::int64_t>(audio::kFilePeakBound);
    for (FrameCount f = 0; f < frames; ++f) {
      const std::int64_t g = GainAt(pos_ + f);
      for (int c = 0; c < ch; ++c) {
        Sample& s = buffer[f * ch + c];
        s = static_cast<Sample>(std::clamp<std::int64_t>(GainProduct(s, g), -bound, bound));
      }
    }
    pos_ += frames;
  }
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override {
    input_->seek(frame);
    pos_ = frame;
  }

 private:
  std::int64_t GainAt(FramePos f) const {
    if (gains_.empty()) return kUnity;
    const auto last = static_cast<std::int64_t>(gains_.size()) - 1;
    const std::int64_t b = std::clamp<std::int64_t>(f / block_, 0, last);
    const std::int64_t to = gains_[static_cast<std::size_t>(b)];
    const std::int64_t from = b > 0 ? gains_[static_cast<std::size_t>(b - 1)] : to;
    const FrameCount into = std::clamp<FrameCount>(f - b * block_ + 1, 0, block_);
    return from + (to - from) * into / block_;
  }

  SourceHandle input_;
  FrameCount block_;
  std::vector<std::int64_t> gains_;
  FramePos pos_ = 0;
};

}  // namespace

FrameCount GainControlBlock(std::int64_t rate) {
  return std::clamp<FrameCount>(rate / 50, 20, audio::kBlockFrames);
}

int ReferenceLevel(const LevelHistogram& h) {
  std::int64_t count = 0;
  for (std::int64_t n : h) count += n;
  if (count == 0) return kMinDecibel;
  // Drop the quietest blocks until at most an eighth remain: p is where that happened.
  const std::int64_t keep = (count + 8) / 8;
  std::int64_t remaining = count;
  std::size_t dropped = 0;  // levels below this index are gone
  while (dropped < h.size() && remaining > keep) remaining -= h[dropped++];
  const int pLevel = static_cast<int>(std::max<std::size_t>(dropped, 1) - 1) + kMinDecibel;
  const std::size_t from = pLevel < kMinDecibel + 15 ? 0 : Index(pLevel - 15);
  std::int64_t kept = 0;
  for (std::size_t i = from; i < h.size(); ++i) kept += h[i];
  std::int64_t seen = 0;
  for (std::size_t i = from; i < h.size(); ++i) {
    seen += h[i];
    if (2 * seen >= kept) return static_cast<int>(i) + kMinDecibel;
  }
  return kMaxDecibel;
}

int GainCurve(int r) {
  double dB;
  if (r < -9)
    dB = 4.5;
  else if (r <= 1)
    dB = 4.5 - 0.5 * (r + 9);
  else
    dB = 1 - r;
  return static_cast<int>(std::clamp<double>(std::round(dB), kMinDecibel, kMaxDecibel));
}

void LevelTracker::Arrive(int level) {
  level = std::clamp(level, kMinDecibel, kMaxDecibel);
  if (count_ == window_.size())
    --histogram_[Index(window_[next_])];
  else
    ++count_;
  window_[next_] = level;
  next_ = (next_ + 1) % window_.size();
  ++histogram_[Index(level)];
  const int q = Loud();
  const int s = this->level();
  if (level > s && s < q && s < 8)
    smoothed_ += (q - smoothed_) / 12;
  else if (level < s && s > q && s > -2)
    smoothed_ += (q - smoothed_) / 50;
}

int LevelTracker::Loud() const {
  // The highest level at or above which more than a quarter of the window lies.
  const std::int64_t quarter = static_cast<std::int64_t>(count_ / 4);
  std::int64_t above = 0;
  for (std::size_t i = histogram_.size(); i-- > 0;) {
    above += histogram_[i];
    if (above > quarter) return static_cast<int>(i) + kMinDecibel;
  }
  return kMinDecibel;
}

Outcome GainControlGains(const EffectParams& params, std::vector<std::int64_t>& gains,
                         const ProgressFn& progress) {
  gains.clear();
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  const int ch = params.chain->channels;
  const auto rate = static_cast<std::int64_t>(params.chain->sampleRate);
  const FrameCount block = GainControlBlock(rate);
  const FrameCount total = end - start;
  const auto blocks = static_cast<std::size_t>((total + block - 1) / block);
  const std::int64_t hpCoef = OnePoleCoefficient(kHighPassHz, rate);
  const std::int64_t lpCoef = OnePoleCoefficient(kLowPassHz, rate);

  SourceHandle src = SelectionSource(*params.chain, start, end);
  std::vector<Sample> buffer(static_cast<std::size_t>(block) * ch),
      weighted(static_cast<std::size_t>(block));
  std::vector<std::array<std::int64_t, 2>> sections(static_cast<std::size_t>(ch), {0, 0});
  std::vector<int> levels(blocks * static_cast<std::size_t>(ch));
  std::vector<LevelHistogram> histograms(static_cast<std::size_t>(ch), LevelHistogram{});
  for (std::size_t b = 0; b < blocks; ++b) {
    const FrameCount n = std::min(block, total - static_cast<FrameCount>(b) * block);
    src->read(buffer.data(), n);
    if (src->failed()) return Outcome::Failed(src->failureMessage());
    for (int c = 0; c < ch; ++c) {
      auto& [low, band] = sections[static_cast<std::size_t>(c)];
      for (FrameCount i = 0; i < n; ++i) {
        const std::int64_t x = buffer[static_cast<std::size_t>(i * ch + c)];
        low += (x - (low >> 8)) * hpCoef;
        const std::int64_t high = x - (low >> 8);
        band += (high - (band >> 8)) * lpCoef;
        weighted[static_cast<std::size_t>(i)] = audio::SaturateSample(band >> 8);
      }
      const int level =
          BlockLevel(std::span<const Sample>(weighted.data(), static_cast<std::size_t>(n)));
      levels[b * static_cast<std::size_t>(ch) + static_cast<std::size_t>(c)] = level;
      ++histograms[static_cast<std::size_t>(c)][Index(level)];
    }
    if (progress && !progress(static_cast<FrameCount>(b + 1) * block, total))
      return Outcome::Cancelled();
  }

  // One gain for all channels, so that the stereo image stays: each block counts at
  // its loudest channel relative to that channel's reference. A silent channel has
  // nothing to say.
  std::vector<int> references(static_cast<std::size_t>(ch));
  bool any = false;
  for (int c = 0; c < ch; ++c) {
    references[static_cast<std::size_t>(c)] =
        ReferenceLevel(histograms[static_cast<std::size_t>(c)]);
    any |= references[static_cast<std::size_t>(c)] > kMinDecibel;
  }
  if (!any) return {};
  const auto relative = [&](std::size_t b) {
    int loudest = kMinDecibel;
    for (std::size_t c = 0; c < references.size(); ++c)
      if (references[c] > kMinDecibel)
        loudest = std::max(loudest, levels[b * references.size() + c] - references[c]);
    return loudest;
  };
  LevelTracker tracker;
  std::size_t arrived = 0;
  gains.resize(blocks);
  for (std::size_t b = 0; b < blocks; ++b) {
    for (; arrived < blocks && arrived <= b + kLookahead; ++arrived)
      tracker.Arrive(relative(arrived));
    gains[b] = DecibelGain(GainCurve(tracker.level()));
  }
  return {};
}

PassResult AutomaticGainControl(const EffectParams& params, const ProgressFn& progress) {
  std::vector<std::int64_t> gains;
  const Outcome measured = GainControlGains(params, gains, ProgressPart(progress, 0, 50));
  if (!measured.done() || gains.empty()) return measured;
  FunctionFilterFactory f([&](SourceHandle in) {
    return SourceHandle(audio::MakeRef<LGainControlFilter>(std::move(in), std::move(gains)));
  });
  return RunFilterPass(params, f, ProgressPart(progress, 50, 100));
}

}  // namespace quillet::effects
