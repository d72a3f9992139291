#include "audio/speed.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/resample.h"

namespace quillet::audio {
namespace {

constexpr double kMinEndSpeed = 0.1;
constexpr FrameCount kMaxRampFrames = FrameCount{1} << 31;
constexpr FrameCount kReadAhead = kBlockFrames;

double ClampMagnitude(double s, double lo, double hi) {
  if (!std::isfinite(s)) return lo;
  const double m = std::clamp(std::abs(s), lo, hi);
  return s < 0 ? -m : m;
}

}  // namespace

double ClampSpeedFactor(double r) {
  if (!(r >= kMinSpeedFactor)) return kMinSpeedFactor;
  return std::min(r, kMaxSpeedFactor);
}

LTimeStretchSource::LTimeStretchSource(SourceHandle input, double startSpeed, double endSpeed,
                                       FrameCount rampFrames, FramePos inputStart)
    : LSoundSource(input->sampleRate(), input->channels(), input->peakBound()),
      input_(std::move(input)),
      startSpeed_(ClampMagnitude(startSpeed, 0.0, kMaxStretchSpeed)),
      endSpeed_(ClampMagnitude(endSpeed, kMinEndSpeed, kMaxStretchSpeed)),
      ramp_(std::clamp<FrameCount>(rampFrames, 0, kMaxRampFrames)),
      inputStart_(inputStart) {
  FollowInput(*input_);
  seg_ = std::clamp<FrameCount>(sampleRate() / 90, 20, 2730);
  // Plays the running position for the first half, then fades over to the next one.
  const FrameCount firstHalf = seg_ / 2, second = seg_ - firstHalf;
  constexpr double kPi = 3.14159265358979323846;
  fade_.assign(static_cast<std::size_t>(seg_), 1 << 24);
  for (FrameCount k = 0; k < second; ++k)
    fade_[static_cast<std::size_t>(firstHalf + k)] = static_cast<std::int32_t>(
        (std::cos(kPi * static_cast<double>(k) / static_cast<double>(second)) * 0.5 + 0.5) * (1 << 24) + 0.5);
  if (ramp_ == 0) startSpeed_ = endSpeed_;
  rampSegs_ = (ramp_ + seg_ - 1) / seg_;
  rampEndPos_ = static_cast<double>(inputStart_);
  for (std::int64_t n = 0; n < rampSegs_; ++n) rampEndPos_ += static_cast<double>(seg_) * SpeedOfSegment(n);
  length_ = ComputeLength();
  seek(0);
}

double LTimeStretchSource::SpeedOfSegment(std::int64_t n) const {
  const double at = static_cast<double>(n * seg_);
  if (ramp_ == 0 || at >= static_cast<double>(ramp_)) return endSpeed_;
  return startSpeed_ + (endSpeed_ - startSpeed_) * at / static_cast<double>(ramp_);
}

// Segment starts are summed one by one through the ramp and computed in closed form
// after it, the same way here, in seek and in playback, so all three agree exactly.
double LTimeStretchSource::SegmentStart(std::int64_t n) const {
  const double g = static_cast<double>(seg_);
  if (n >= rampSegs_) return rampEndPos_ + static_cast<double>(n - rampSegs_) * g * endSpeed_;
  double p = static_cast<double>(inputStart_);
  for (std::int64_t i = 0; i < n; ++i) p += g * SpeedOfSegment(i);
  return p;
}

FrameCount LTimeStretchSource::ComputeLength() const {
  const double L = static_cast<double>(std::max<FrameCount>(input_->length(), 0));
  const auto inside = [&](double pos) { return pos >= 0 && pos < L; };
  // Frames from p at speed a until the position leaves the input.
  const auto exitAfter = [&](double p, double a) {
    return static_cast<FrameCount>(a > 0 ? std::ceil((L - p) / a) : std::floor(p / -a) + 1);
  };
  double p = static_cast<double>(inputStart_);
  if (!inside(p)) return 0;
  const double g = static_cast<double>(seg_);
  for (std::int64_t n = 0; n < rampSegs_; ++n) {
    const double a = SpeedOfSegment(n);
    const double next = p + g * a;
    if (!inside(next)) return n * seg_ + std::min(seg_, exitAfter(p, a));
    p = next;
  }
  return rampSegs_ * seg_ + exitAfter(p, endSpeed_);
}

void LTimeStretchSource::seek(FramePos frame) {
  frame = std::max<FramePos>(frame, 0);
  outPos_ = frame;
  segIndex_ = frame / seg_;
  segOffset_ = frame % seg_;
  segPos_ = SegmentStart(segIndex_);
  segSpeed_ = SpeedOfSegment(segIndex_);
  segReady_ = false;
  carry_ = 0;
}

FramePos LTimeStretchSource::inputPosition() const {
  return static_cast<FramePos>(std::floor(segPos_ + static_cast<double>(segOffset_) * segSpeed_));
}

const Sample* LTimeStretchSource::Window(FramePos from, FramePos to) {
  const int ch = channels();
  const FramePos winEnd = winStart_ + winLen_;
  if (from >= winStart_ && to <= winEnd) return win_.data() + (from - winStart_) * ch;
  const bool forward = from >= winStart_ && from <= winEnd && input_->position() == winEnd;
  if (forward) {
    // Going on from where the input is: keep what is still needed and read more.
    const FrameCount drop = from - winStart_;
    if (winLen_ > drop)
      std::memmove(win_.data(), win_.data() + drop * ch,
                   static_cast<std::size_t>(winLen_ - drop) * ch * sizeof(Sample));
    winStart_ = from;
    winLen_ -= drop;
    const FrameCount more = std::max(to - winEnd, kReadAhead);
    win_.resize(static_cast<std::size_t>(winLen_ + more) * ch);
    input_->read(win_.data() + winLen_ * ch, more);
    winLen_ += more;
  } else {
    // A jump, or backwards: one seek, with room on the side the stream moves to.
    const FrameCount span = (to - from) + kReadAhead;
    const FramePos start = segSpeed_ < 0 ? to - span : from;
    win_.assign(static_cast<std::size_t>(span) * ch, 0);
    const FrameCount lead = std::clamp<FrameCount>(-start, 0, span);
    if (lead < span) {
      input_->seek(start + lead);
      input_->read(win_.data() + lead * ch, span - lead);
    }
    winStart_ = start;
    winLen_ = span;
  }
  return win_.data() + (from - winStart_) * ch;
}

FrameCount LTimeStretchSource::BestOffset(const Sample* a, const Sample* around, FrameCount reach) {
  // The spliced-in position that best continues the running one over the cross-fade, so
  // that a steady tone keeps its phase (and so its pitch) across the splice. Searched
  // coarsely, every 4th lag on every 4th frame, then refined around the best lag.
  const int ch = channels();
  const FrameCount half = seg_ / 2, span = seg_ - half;
  ref_.resize(static_cast<std::size_t>(span));
  for (FrameCount k = 0; k < span; ++k) {
    double v = 0;
    for (int c = 0; c < ch; ++c) v += a[(half + k) * ch + c];
    ref_[static_cast<std::size_t>(k)] = v;
  }
  const FrameCount width = 2 * reach + span;
  mono_.resize(static_cast<std::size_t>(width));
  for (FrameCount k = 0; k < width; ++k) {
    double v = 0;
    for (int c = 0; c < ch; ++c) v += around[(half + k) * ch + c];
    mono_[static_cast<std::size_t>(k)] = v;
  }
  const auto score = [&](FrameCount lag, FrameCount step) {
    double corr = 0, energy = 1e-9;
    for (FrameCount k = 0; k < span; k += step) {
      const double m = mono_[static_cast<std::size_t>(lag + k)];
      corr += ref_[static_cast<std::size_t>(k)] * m;
      energy += m * m;
    }
    return corr / std::sqrt(energy);
  };
  FrameCount best = reach;
  double bestScore = -1e300;
  for (FrameCount lag = 0; lag <= 2 * reach; lag += 4) {
    const double sc = score(lag, 4);
    if (sc > bestScore) bestScore = sc, best = lag;
  }
  const FrameCount from = std::max<FrameCount>(best - 3, 0), to = std::min(best + 3, 2 * reach);
  bestScore = -1e300;
  for (FrameCount lag = from; lag <= to; ++lag) {
    const double sc = score(lag, 1);
    if (sc > bestScore) bestScore = sc, best = lag;
  }
  return best - reach;
}

void LTimeStretchSource::StartSegment() {
  const int ch = channels();
  const double next = segPos_ + static_cast<double>(seg_) * segSpeed_;
  const FramePos fa = static_cast<FramePos>(std::floor(segPos_)) + carry_;
  const FramePos ideal = static_cast<FramePos>(std::floor(next)) - seg_;
  const FrameCount reach = ideal == fa ? 0 : seg_ / 2;
  const FramePos lo = std::min(fa, ideal - reach), hi = std::max(fa, ideal + reach) + seg_;
  const Sample* base = Window(lo, hi);
  const Sample* a = base + (fa - lo) * ch;
  const FrameCount delta = reach ? BestOffset(a, base + (ideal - reach - lo) * ch, reach) : 0;
  const FramePos fb = ideal + delta;
  const Sample* b = base + (fb - lo) * ch;
  carry_ = delta;
  segOut_.resize(static_cast<std::size_t>(seg_) * ch);
  for (FrameCount k = 0; k < seg_; ++k) {
    const std::int64_t w = fade_[static_cast<std::size_t>(k)];
    for (int c = 0; c < ch; ++c) {
      const std::size_t i = static_cast<std::size_t>(k * ch + c);
      segOut_[i] = w == (1 << 24) ? a[i]
                                  : SaturateSample((a[i] * w + b[i] * ((1 << 24) - w)) >> 24);
    }
  }
  segReady_ = true;
}

void LTimeStretchSource::read(Sample* buffer, FrameCount frames) {
  const int ch = channels();
  while (frames > 0) {
    if (outPos_ >= length_) {
      std::fill(buffer, buffer + frames * ch, Sample{0});
      outPos_ += frames;
      return;
    }
    if (!segReady_) StartSegment();
    const FrameCount n = std::min({frames, seg_ - segOffset_, length_ - outPos_});
    std::memcpy(buffer, segOut_.data() + segOffset_ * ch,
                static_cast<std::size_t>(n) * ch * sizeof(Sample));
    buffer += n * ch;
    frames -= n;
    outPos_ += n;
    segOffset_ += n;
    if (segOffset_ == seg_) {
      ++segIndex_;
      segPos_ = segIndex_ < rampSegs_ ? segPos_ + static_cast<double>(seg_) * segSpeed_
                                      : SegmentStart(segIndex_);
      segSpeed_ = SpeedOfSegment(segIndex_);
      segOffset_ = 0;
      segReady_ = false;
    }
  }
}

SourceHandle ChangeSpeedAndPitch(SourceHandle input, double r) {
  return ResampleRelabel(std::move(input), ClampSpeedFactor(r));
}

SourceHandle ChangeSpeed(SourceHandle input, double r) {
  if (!input || !input->ready()) return input;
  r = ClampSpeedFactor(r);
  if (r == 1.0) return input;
  return MakeRef<LTimeStretchSource>(std::move(input), r, r);
}

SourceHandle ChangePitch(SourceHandle input, double r) {
  if (!input || !input->ready()) return input;
  r = ClampSpeedFactor(r);
  if (r == 1.0) return input;
  return ResampleRelabel(MakeRef<LTimeStretchSource>(std::move(input), 1 / r, 1 / r), r);
}

SourceHandle SpeedRamp(SourceHandle input, double startSpeed, double endSpeed,
                       FrameCount rampFrames, FramePos inputStart) {
  if (!input || !input->ready()) return input;
  return MakeRef<LTimeStretchSource>(std::move(input), startSpeed, endSpeed, rampFrames,
                                     inputStart);
}

}  // namespace quillet::audio
