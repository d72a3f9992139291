#include "audio/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "audio/channel.h"

namespace quillet::audio {
namespace detail {

// Coefficient rows of the polyphase filter. Exact ratios with few phases get one row
// per phase; the rest get a fine table whose neighbouring rows are interpolated.
struct ResampleKernel {
  std::int64_t up = 1, down = 1;
  int taps = 64;        // multiple of 16
  bool exact = true;
  std::int64_t rows = 1;  // exact: up; else kFineRows + 1
  std::vector<float> coef;
  const float* row(std::int64_t r) const { return coef.data() + r * taps; }
};

}  // namespace detail

namespace {

constexpr int kBaseTaps = 64;                 // taps at the lower of the two rates
constexpr double kKaiserBeta = 4.538;         // about 50 dB of stopband
constexpr std::int64_t kMaxTableFloats = 1 << 20;

double BesselI0(double x) {
  // The series converges quickly for the betas used here; stop at double precision.
  double sum = 1, term = 1;
  const double q = x * x / 4;
  for (int k = 1; k < 64; ++k) {
    term *= q / (static_cast<double>(k) * k);
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

std::shared_ptr<const detail::ResampleKernel> BuildKernel(std::int64_t source, std::int64_t target,
                                                          double margin) {
  auto k = std::make_shared<detail::ResampleKernel>();
  const std::int64_t g = std::gcd(source, target);
  k->up = target / g;
  k->down = source / g;
  // Downsampling widens the kernel by the ratio, so its transition band keeps the same
  // share of the (lower) output band.
  const double scale = std::min(1.0, static_cast<double>(target) / static_cast<double>(source));
  const int half = static_cast<int>(std::ceil(kBaseTaps / 2 / scale));
  k->taps = (2 * half + 15) / 16 * 16;
  const double cutoff = (1.0 - margin) * scale;  // in units of the input's Nyquist frequency
  const double span = k->taps / 2.0;
  k->exact = k->up * k->taps <= kMaxTableFloats;
  const std::int64_t fine = std::max<std::int64_t>(kMaxTableFloats / k->taps, 64);
  k->rows = k->exact ? k->up : fine + 1;
  const double phases = k->exact ? static_cast<double>(k->up) : static_cast<double>(fine);
  k->coef.resize(static_cast<std::size_t>(k->rows * k->taps));
  const double i0beta = BesselI0(kKaiserBeta);
  constexpr double kPi = 3.14159265358979323846;
  std::vector<double> row(k->taps);
  for (std::int64_t r = 0; r < k->rows; ++r) {
    const double frac = static_cast<double>(r) / phases;
    double sum = 0;
    for (int j = 0; j < k->taps; ++j) {
      // Distance from the output instant to input frame (ipos - taps/2 + 1 + j).
      const double tau = (span - 1 - j) + frac;
      const double x = cutoff * tau;
      const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(kPi * x) / (kPi * x);
      const double w = tau / span;
      const double win = std::abs(w) >= 1 ? 0.0 : BesselI0(kKaiserBeta * std::sqrt(1 - w * w)) / i0beta;
      row[j] = cutoff * sinc * win;
      sum += row[j];
    }
    // Every phase passes DC at exactly unity: no ripple that depends on the phase.
    for (int j = 0; j < k->taps; ++j)
      k->coef[static_cast<std::size_t>(r * k->taps + j)] = static_cast<float>(row[j] / sum);
  }
  return k;
}

using V8 = float __attribute__((vector_size(32)));

inline float Dot(const float* a, const float* b, int n) {
  V8 s0 = {}, s1 = {};
  for (int i = 0; i < n; i += 16) {
    V8 a0, a1, b0, b1;
    std::memcpy(&a0, a + i, sizeof a0);
    std::memcpy(&a1, a + i + 8, sizeof a1);
    std::memcpy(&b0, b + i, sizeof b0);
    std::memcpy(&b1, b + i + 8, sizeof b1);
    s0 += a0 * b0;
    s1 += a1 * b1;
  }
  const V8 s = s0 + s1;
  return ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
}

inline Sample ToSample(float v) {
  // Overshoot of a full-scale input stays inside the word; the clamp keeps lrint defined.
  v = std::clamp(v, -2147483648.0f, 2147483520.0f);
  return static_cast<Sample>(std::lrint(v));
}

struct BlockArgs {
  const detail::ResampleKernel* k;
  const std::vector<std::vector<float>>* hist;
  std::int64_t histStart;
  std::int64_t ipos, phase;
  Sample* out;
  int channels;
  FrameCount frames;
};

// The inner loop, compiled twice: the wide-vector copy runs where the processor has it.
#ifndef QUILLET_NO_TARGET_CLONES
__attribute__((target_clones("avx2", "default")))
#endif
void RunBlock(BlockArgs& a) {
  const detail::ResampleKernel& k = *a.k;
  const std::int64_t stepInt = k.down / k.up, stepRem = k.down % k.up;
  const int half = k.taps / 2;
  const double fineScale = k.exact ? 0.0 : static_cast<double>(k.rows - 1) / static_cast<double>(k.up);
  for (FrameCount i = 0; i < a.frames; ++i) {
    const std::int64_t off = a.ipos - half + 1 - a.histStart;
    if (k.exact) {
      const float* coef = k.row(a.phase);
      for (int c = 0; c < a.channels; ++c)
        a.out[i * a.channels + c] = ToSample(Dot(coef, (*a.hist)[c].data() + off, k.taps));
    } else {
      const double pos = static_cast<double>(a.phase) * fineScale;
      const std::int64_t r = static_cast<std::int64_t>(pos);
      const float w = static_cast<float>(pos - static_cast<double>(r));
      const float* c0 = k.row(r);
      const float* c1 = k.row(r + 1);
      for (int c = 0; c < a.channels; ++c) {
        const float* x = (*a.hist)[c].data() + off;
        const float y0 = Dot(c0, x, k.taps);
        const float y1 = Dot(c1, x, k.taps);
        a.out[i * a.channels + c] = ToSample(y0 + w * (y1 - y0));
      }
    }
    a.phase += stepRem;
    a.ipos += stepInt;
    if (a.phase >= k.up) {
      a.phase -= k.up;
      ++a.ipos;
    }
  }
}

}  // namespace

LRateConverter::LRateConverter(SourceHandle input, std::int32_t targetRate, double margin)
    : LSoundSource(targetRate, input->channels(),
                   // The filter's ringing may overshoot a full-scale input a little.
                   input->peakBound() + input->peakBound() / 8),
      input_(std::move(input)),
      kernel_(BuildKernel(input_->sampleRate(), sampleRate(), margin)),
      hist_(static_cast<std::size_t>(channels())) {
  FollowInput(*input_);
  if (input_->position() != 0) input_->seek(0);
  Restart(0);
}

LRateConverter::~LRateConverter() = default;

std::int64_t LRateConverter::up() const { return kernel_->up; }
std::int64_t LRateConverter::down() const { return kernel_->down; }
int LRateConverter::taps() const { return kernel_->taps; }

FrameCount LRateConverter::length() const {
  // ceil(L * up / down) without overflowing for any 64-bit length.
  const FrameCount len = std::max<FrameCount>(input_->length(), 0);
  const std::int64_t q = len / kernel_->down, r = len % kernel_->down;
  return q * kernel_->up + (r * kernel_->up + kernel_->down - 1) / kernel_->down;
}

void LRateConverter::seek(FramePos frame) { Restart(std::max<FramePos>(frame, 0)); }

void LRateConverter::Restart(FramePos outFrame) {
  const std::int64_t q = outFrame / kernel_->up, r = outFrame % kernel_->up;
  outPos_ = outFrame;
  ipos_ = q * kernel_->down + (r * kernel_->down) / kernel_->up;
  phase_ = (r * kernel_->down) % kernel_->up;
  histStart_ = ipos_ - kernel_->taps / 2 + 1;
  histLen_ = 0;
  inputNext_ = histStart_;
  const FramePos want = std::max<FramePos>(histStart_, 0);
  if (input_->position() != want) input_->seek(want);
}

void LRateConverter::Fill(std::int64_t needEnd) {
  const int ch = channels();
  // Drop what no later output can use.
  const std::int64_t keepFrom = ipos_ - kernel_->taps / 2 + 1;
  if (keepFrom > histStart_) {
    const std::int64_t drop = std::min(keepFrom - histStart_, histLen_);
    if (histLen_ > drop)
      for (auto& h : hist_)
        std::memmove(h.data(), h.data() + drop, static_cast<std::size_t>(histLen_ - drop) * sizeof(float));
    histStart_ += drop;
    histLen_ -= drop;
  }
  const std::int64_t have = histStart_ + histLen_;
  if (needEnd <= have) return;
  const std::int64_t add = needEnd - have;
  for (auto& h : hist_) h.resize(static_cast<std::size_t>(histLen_ + add));
  std::int64_t at = histLen_;
  // Frames before the input's start are silence.
  while (at < histLen_ + add && inputNext_ < 0) {
    for (auto& h : hist_) h[static_cast<std::size_t>(at)] = 0.0f;
    ++at;
    ++inputNext_;
  }
  while (at < histLen_ + add) {
    const FrameCount n = std::min<FrameCount>(kBlockFrames, histLen_ + add - at);
    readBuf_.resize(static_cast<std::size_t>(n) * ch);
    input_->read(readBuf_.data(), n);
    for (int c = 0; c < ch; ++c) {
      float* dst = hist_[c].data() + at;
      const Sample* src = readBuf_.data() + c;
      for (FrameCount i = 0; i < n; ++i) dst[i] = static_cast<float>(src[i * ch]);
    }
    at += n;
    inputNext_ += n;
  }
  histLen_ += add;
}

void LRateConverter::read(Sample* buffer, FrameCount frames) {
  const int ch = channels();
  const detail::ResampleKernel& k = *kernel_;
  // At and after the end: silence, as every source delivers there.
  const FrameCount inside = std::clamp<FrameCount>(length() - outPos_, 0, std::max<FrameCount>(frames, 0));
  if (inside < frames) {
    std::fill(buffer + inside * ch, buffer + frames * ch, Sample{0});
    const FrameCount past = frames - inside;
    frames = inside;
    if (frames == 0) {
      Restart(outPos_ + past);
      return;
    }
    read(buffer, frames);
    Restart(outPos_ + past);
    return;
  }
  while (frames > 0) {
    const FrameCount n = std::min<FrameCount>(frames, kBlockFrames);
    // The last input frame the n outputs touch.
    const std::int64_t lastIpos = ipos_ + ((n - 1) * k.down + phase_) / k.up;
    Fill(lastIpos + k.taps / 2 + 1);
    BlockArgs args{&k, &hist_, histStart_, ipos_, phase_, buffer, ch, n};
    RunBlock(args);
    ipos_ = args.ipos;
    phase_ = args.phase;
    outPos_ += n;
    buffer += n * ch;
    frames -= n;
  }
}

LRelabelSource::LRelabelSource(SourceHandle input, std::int32_t rate)
    : LSoundSource(rate, input->channels(), input->peakBound()), input_(std::move(input)) {
  FollowInput(*input_);
}

SourceHandle ConvertRate(SourceHandle input, std::int32_t rate) {
  if (!input || !input->ready()) return input;
  const std::int64_t source = input->sampleRate();
  rate = static_cast<std::int32_t>(std::clamp<std::int64_t>(rate, 1, std::min<std::int64_t>(source * 1000, 1 << 30)));
  if (rate == source) return input;
  constexpr double kMargin = 0.046875;
  if (std::int64_t{rate} * 4 < source) {
    // Through twice the target first: that stage may leave a wide transition band,
    // because the second one removes everything above the final band.
    input = MakeRef<LRateConverter>(std::move(input), rate * 2, 2 * kMargin);
  }
  return MakeRef<LRateConverter>(std::move(input), rate, kMargin);
}

SourceHandle ResampleRelabel(SourceHandle input, double r) {
  if (!input || !input->ready()) return input;
  if (!(r >= 0.1)) r = 0.1;  // NaN too
  r = std::min(r, 10.0);
  const std::int32_t rate = input->sampleRate();
  // A factor like 0.7 is 0.7000000000000001 in binary: snap near-whole rates before
  // truncating, or 70 % would give 62999 Hz and lose frames.
  double exact = rate / r;
  if (const double whole = std::round(exact); std::abs(exact - whole) < 1e-6) exact = whole;
  const auto target = static_cast<std::int32_t>(std::max(1.0, std::trunc(exact)));
  if (target == rate) return input;
  return MakeRef<LRelabelSource>(ConvertRate(std::move(input), target), rate);
}

const FormatAdaptors& StandardFormatAdaptors() {
  static const FormatAdaptors adaptors{
      [](SourceHandle s, int channels) { return ConvertChannels(std::move(s), channels); },
      [](SourceHandle s, std::int32_t rate) { return ConvertRate(std::move(s), rate); }};
  return adaptors;
}

SourceHandle ConvertFormat(SourceHandle input, std::int32_t rate, int channels,
                           std::string* message) {
  return AdaptSource(std::move(input), rate, channels, StandardFormatAdaptors(), message);
}

}  // namespace quillet::audio
