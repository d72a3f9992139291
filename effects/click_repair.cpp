#include "effects/click_repair.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "core/chain_source.h"

namespace quillet::effects {

using audio::Sample;

namespace {

constexpr core::ParamPreset kClickPresets[] = {{"Default", {50, 450}, 2}};
constexpr core::ParamInfo kClickFields[] = {
    {.name = "SENSITIVITY", .label = "&Sensitivity:", .key = "ClickSensitivity", .def = 50,
     .min = 0, .max = 100, .section = "Settings"},
    {.name = "MAX_US", .label = "&Maximum click length:", .key = "MaxClickLength", .def = 450,
     .min = 1, .max = 10000, .unit = "us", .section = "Settings"}};

// The detector's high-pass corner.
constexpr double kCornerHz = 1500;

struct Biquad {
  std::int64_t b0 = 0, b1 = 0, a1 = 0, a2 = 0;  // 2^24 units, b2 = b0
};

Biquad HighPass(std::int64_t rate) {
  // Below 3 kHz the corner would pass Nyquist and the filter would ring: keep it under.
  const double corner = std::min(kCornerHz, static_cast<double>(rate) / 4);
  const double w = 2 * std::numbers::pi * corner / static_cast<double>(rate);
  const double alpha = 0.7072135785007072 * std::sin(w);
  const double c = std::cos(w), norm = 1 + alpha, unit = 16777216.0;
  return {static_cast<std::int64_t>(std::trunc((1 + c) / 2 / norm * unit)),
          static_cast<std::int64_t>(std::trunc(-(1 + c) / norm * unit)),
          static_cast<std::int64_t>(std::trunc(-2 * c / norm * unit)),
          static_cast<std::int64_t>(std::trunc((1 - alpha) / norm * unit))};
}

struct BiquadState {
  std::int64_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  Sample Step(const Biquad& f, Sample x) {
    const std::int64_t y = (((x + x2) * f.b0) >> 24) + ((x1 * f.b1) >> 24) - ((y1 * f.a1) >> 24) -
                           ((y2 * f.a2) >> 24);
    const Sample out = audio::SaturateSample(y);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = out;
    return out;
  }
};

// Reads the document around the selection once, keeps a window of it (with the
// repairs made so far) and of its high-passed copy, examines the detector's blocks as
// soon as their audio is in, and delivers the repaired selection.
class LClickRepairSource final : public audio::LSoundSource {
 public:
  LClickRepairSource(const AudioChain& chain, FramePos start, FramePos end, const ClickParams& p)
      : LSoundSource(static_cast<std::int32_t>(chain.sampleRate), chain.channels,
                     audio::kWidePeakBound),
        input_(core::ChainOpenSource(chain)),
        geometry_(ClickGeometryOf(chain.sampleRate, p.maxLengthUs)),
        filter_(HighPass(chain.sampleRate)),
        states_(static_cast<std::size_t>(chain.channels)),
        sensitivity_(p.sensitivity),
        start_(start),
        end_(end),
        emit_(start) {
    FollowInput(*input_);
    nextBlock_ = start - geometry_.block / 4;
    // The filter settles for one block before the first one is examined.
    base_ = filled_ = nextBlock_ - geometry_.block;
    if (base_ < 0) {
      // Before the document the detector sees the audio mirrored about its first frame
      // (odd symmetry), not silence: a recording that starts mid-sound must not look
      // like a jump out of nothing.
      head_.resize(static_cast<std::size_t>((1 - base_) * chain.channels));
      input_->seek(0);
      input_->read(head_.data(), 1 - base_);
    }
    input_->seek(base_);
  }

  void read(Sample* buffer, FrameCount frames) override {
    const int ch = channels();
    const FramePos last = emit_ + frames;
    // A block can change frames from a quarter into it onwards.
    while (nextBlock_ < end_ - geometry_.block / 4 && nextBlock_ + geometry_.block / 4 < last) {
      Fill(nextBlock_ + geometry_.block + geometry_.lag + 1);
      for (int c = 0; c < ch; ++c) ExamineBlock(c);
      nextBlock_ += geometry_.block / 2;
    }
    Fill(last);
    std::copy_n(audio_.begin() + (emit_ - base_) * ch, frames * ch, buffer);
    emit_ = last;
    Discard();
  }
  FramePos position() const override { return emit_ - start_; }
  FrameCount length() const override { return end_ - start_; }
  void seek(FramePos) override {}  // read once, front to back, by the pass
  std::int64_t repairs() const { return repairs_; }

 private:
  Sample& At(std::vector<Sample>& v, FramePos frame, int c) {
    return v[static_cast<std::size_t>((frame - base_) * channels() + c)];
  }

  // Reads the document up to (not including) frame `to`.
  void Fill(FramePos to) {
    const int ch = channels();
    while (filled_ < to) {
      const FrameCount n = std::min(audio::kBlockFrames, to - filled_);
      const std::size_t at = audio_.size();
      audio_.resize(at + static_cast<std::size_t>(n * ch));
      highPassed_.resize(audio_.size());
      input_->read(audio_.data() + at, n);
      for (std::size_t i = at; i < audio_.size(); ++i) {
        const std::size_t c = (i - at) % static_cast<std::size_t>(ch);
        const FramePos frame = filled_ + static_cast<FramePos>((i - at) / static_cast<std::size_t>(ch));
        Sample x = audio_[i];
        if (frame < 0)
          x = audio::SaturateSample(2 * std::int64_t{head_[c]} -
                                    head_[static_cast<std::size_t>(-frame * ch) + c]);
        highPassed_[i] = states_[c].Step(filter_, x);
      }
      filled_ += n;
    }
  }

  // Drops what no later block or read needs: the next block reads from its first
  // frame, and its repairs reach back no further.
  void Discard() {
    const FramePos keep = std::min(emit_, nextBlock_);
    if (keep - base_ < 4 * audio::kBlockFrames) return;
    const auto n = static_cast<std::ptrdiff_t>((keep - base_) * channels());
    audio_.erase(audio_.begin(), audio_.begin() + n);
    highPassed_.erase(highPassed_.begin(), highPassed_.begin() + n);
    base_ = keep;
  }

  void ExamineBlock(int c) {
    const FrameCount n = geometry_.block, d = geometry_.lag;
    const FramePos b0 = nextBlock_;
    auto x = [&](FrameCount i) { return std::int64_t{At(highPassed_, b0 + i, c)}; };
    std::int64_t sumAbs = 0, sumJump = 0;
    for (FrameCount i = 0; i < n; ++i) sumAbs += std::abs(x(i));
    for (FrameCount i = d; i < n; ++i) sumJump += std::abs(x(i) - x(i - d));
    const std::int64_t mean = sumAbs / n, meanJump = sumJump / (n - d);
    std::int64_t spread2 = 0;
    for (FrameCount i = d; i < n; ++i) {
      const std::int64_t dev = std::abs(x(i) - x(i - d)) - meanJump;
      spread2 += dev * dev;
    }
    const auto spread = static_cast<std::int64_t>(std::sqrt(static_cast<double>(spread2 / (n - d))));
    const int s = std::max(1, 100 - sensitivity_);
    std::int64_t ta = mean * s / 50 + meanJump;
    std::int64_t tj = JumpThreshold(spread, meanJump, sensitivity_);

    const FrameCount scanEnd = std::min(n, n / 4 + d + n / 2);
    for (FrameCount i = n / 4 + d; i < scanEnd;) {
      const std::int64_t level = std::abs(x(i));
      if (level - std::abs(x(i - d)) <= tj || level <= ta) {
        ++i;
        continue;
      }
      FrameCount j = i + 1;
      bool tooLong = false;
      while (j < n && std::abs(x(j)) >= level / 3) {
        ++j;
        if (j - (i + 1) >= geometry_.maxLength) {
          tooLong = true;
          break;
        }
      }
      if (tooLong) {  // a loud passage, not a click: the rest of the block is held to more
        tj += tj / 2;
        ta += ta / 2;
        ++i;
        continue;
      }
      if (j >= n) {
        ++i;
        continue;
      }
      const FramePos a = b0 + i - d, b = b0 + j + d;
      if (a >= start_ && b <= end_) Repair(c, a, b);
      i = j + d + 1;
    }
  }

  // Frames [a, b) of channel c on the line from frame a - 1 to frame b.
  void Repair(int c, FramePos a, FramePos b) {
    StraightLine(&At(audio_, a - 1, c), channels(), b - a);
    ++repairs_;
  }

  audio::Ref<core::LChainSoundSource> input_;
  ClickGeometry geometry_;
  Biquad filter_;
  std::vector<BiquadState> states_;
  int sensitivity_;
  FramePos start_, end_;
  FramePos emit_;       // the next frame delivered
  FramePos nextBlock_;  // the first frame of the next block to examine
  FramePos base_ = 0;   // the document frame at the front of the windows
  FramePos filled_ = 0;
  std::vector<Sample> audio_, highPassed_;
  std::vector<Sample> head_;  // the document's first frames, for the mirror before it
  std::int64_t repairs_ = 0;
};

}  // namespace

const core::ParamTable kClickPopTable{"Auto Click/Pop Restoration", kClickFields, kClickPresets};

ClickParams ClickParamsOf(const core::ParamSet& v) { return {int(v.Int(0)), int(v.Int(1))}; }
Status Validate(const ClickParams& p) {
  return Status::Refusal(core::CheckValues(kClickPopTable, {p.sensitivity, p.maxLengthUs}));
}

ClickGeometry ClickGeometryOf(std::int64_t rate, int maxLengthUs) {
  ClickGeometry g;
  g.block = std::max<FrameCount>((rate / 100 + 4) / 4 * 4, 8);
  g.lag = rate / 44100 + 1;
  g.maxLength = std::max<FrameCount>(std::int64_t{std::max(maxLengthUs, 1)} * rate / 1000000, 1);
  return g;
}

std::int64_t JumpThreshold(std::int64_t spread, std::int64_t meanJump, int sensitivity) {
  const int s = std::max(1, 100 - std::clamp(sensitivity, 0, 100));
  const std::int64_t base = spread * s / 50 + meanJump + 100;
  return s >= 10 ? base * (s / 10) : base * s / 10;
}

void StraightLine(Sample* line, int stride, FrameCount frames) {
  const std::int64_t x0 = line[0], x1 = line[(frames + 1) * stride];
  for (FrameCount i = 1; i <= frames; ++i)
    line[i * stride] = static_cast<Sample>(((frames + 1 - i) * x0 + i * x1) / (frames + 1));
}

PassResult AutoClickRepair(const EffectParams& params, const ClickParams& click,
                           const ProgressFn& progress, std::int64_t* repairs) {
  if (repairs) *repairs = 0;
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end))
    return Outcome::Failed("There is no selection.");
  ClickParams p = click;
  p.sensitivity = std::clamp(p.sensitivity, 0, 100);
  LClickRepairSource producer(*params.chain, start, end, p);
  PassResult r = SpliceProduced(*params.chain, start, end, producer, end - start, progress);
  if (repairs) *repairs = producer.repairs();
  return r;
}

namespace {

// The selection of every channel on the straight line between its neighbours.
class LLineSource final : public audio::LSoundSource {
 public:
  LLineSource(const AudioChain& chain, FramePos start, FramePos end)
      : LSoundSource(static_cast<std::int32_t>(chain.sampleRate), chain.channels,
                     audio::kWidePeakBound),
        frames_(end - start),
        line_(static_cast<std::size_t>((frames_ + 2) * chain.channels)) {
    auto src = core::ChainOpenSource(chain);
    src->seek(start - 1);
    src->read(line_.data(), frames_ + 2);
    if (src->failed()) Fail(src->failureMessage());
    for (int c = 0; c < chain.channels; ++c) StraightLine(line_.data() + c, chain.channels, frames_);
  }
  void read(Sample* buffer, FrameCount frames) override {
    const int ch = channels();
    for (FrameCount i = 0; i < frames; ++i, ++pos_)
      for (int c = 0; c < ch; ++c)
        buffer[i * ch + c] = pos_ < frames_ ? line_[static_cast<std::size_t>((pos_ + 1) * ch + c)] : 0;
  }
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return frames_; }
  void seek(FramePos frame) override { pos_ = frame; }

 private:
  FrameCount frames_;
  std::vector<Sample> line_;
  FramePos pos_ = 0;
};

}  // namespace

PassResult ManualClickRepair(const EffectParams& params) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  LLineSource line(*params.chain, start, end);
  if (line.failed()) return Outcome::Failed(line.failureMessage());
  return SpliceProduced(*params.chain, start, end, line, end - start, {});
}

Status CheckManualRepairLength(FrameCount frames, std::int64_t rate) {
  if (frames * 1000 <= rate) return Status::Ok();
  return Status::Error(
      "Quillet cannot do a manual reduction of an area this size. Please select a smaller area.",
      "Quillet");
}

}  // namespace quillet::effects
