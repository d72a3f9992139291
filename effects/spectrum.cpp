#include "effects/spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/fft.h"

namespace quillet::effects {
namespace {

// 16-bit full scale in samples: the amplitude that reads 0 dB.
constexpr double kFullScale = 0x7FFF0;

// Transforms of one size: the Hamming window and the magnitude a full-scale sine
// gives in its bin (amplitude x sum of the window / 2).
class Analyser {
 public:
  explicit Analyser(int bits)
      : n_(std::size_t{1} << bits), fft_(n_), in_(n_), out_(fft_.bins()), window_(n_) {
    double sum = 0;
    for (std::size_t i = 0; i < n_; ++i) {
      window_[i] = 0.54 - 0.46 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n_));
      sum += window_[i];
    }
    reference_ = kFullScale * sum / 2;
  }
  std::size_t size() const { return n_; }
  double reference() const { return reference_; }

  // Magnitudes of bins 0 .. n/2 - 1 of channel c of n interleaved frames, added to acc.
  void AddMagnitudes(const audio::Sample* frames, int channels, int c, std::vector<double>& acc) {
    for (std::size_t i = 0; i < n_; ++i)
      in_[i] = static_cast<float>(frames[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] * window_[i]);
    fft_.Forward(in_, out_);
    for (std::size_t k = 0; k < n_ / 2; ++k) acc[k] += std::abs(out_[k]);
  }

 private:
  std::size_t n_;
  audio::RealFft fft_;
  audio::FftBuffer<float> in_;
  audio::FftBuffer<audio::Complex> out_;
  std::vector<double> window_;
  double reference_ = 1;
};

int RoundedDb(double ratio) {
  return static_cast<int>(std::lround(20 * std::log10(ratio)));
}

}  // namespace

platform::Outcome ComputeFrequencyData(audio::LSoundSource& source, FramePos at, FrequencyData& out) {
  Analyser a(kFrequencyBits);
  const int ch = source.channels();
  std::vector<audio::Sample> frames(a.size() * static_cast<std::size_t>(ch));
  source.seek(at);
  source.read(frames.data(), static_cast<FrameCount>(a.size()));
  if (source.failed()) return platform::Outcome::Failed(source.failureMessage());
  out.rate = source.sampleRate();
  out.bits = kFrequencyBits;
  out.levels.assign(static_cast<std::size_t>(ch), {});
  std::vector<double> m(a.size() / 2);
  for (int c = 0; c < ch; ++c) {
    std::fill(m.begin(), m.end(), 0.0);
    a.AddMagnitudes(frames.data(), ch, c, m);
    auto& levels = out.levels[static_cast<std::size_t>(c)];
    levels.resize(m.size());
    for (std::size_t k = 0; k < m.size(); ++k)
      levels[k] = m[k] <= 0 ? kLowestLevel
                            : std::clamp(RoundedDb(m[k] / a.reference()), kLowestLevel, kHighestLevel);
  }
  return platform::Outcome::Done();
}

int TemporalBits(std::int64_t rate) {
  int b = 5;
  while ((std::int64_t{1} << b) < rate / 30 && b < 16) ++b;
  return b;
}

std::int64_t TemporalColumns(FrameCount frames, int bits) {
  const std::int64_t k = frames / (std::int64_t{1} << (bits - 1)) * 4;
  return std::clamp<std::int64_t>(k, 1, kMaxTemporalColumns);
}

int TemporalData::LevelAt(std::int64_t column, int bin) const {
  const std::uint16_t m = At(column, bin);
  return m == 0 ? kSilentTemporalLevel : RoundedDb(m / 65535.0);
}

platform::Outcome ComputeTemporalData(audio::LSoundSource& source, FramePos start,
                                      FrameCount length, TemporalData& out,
                                      const audio::ProgressFn& progress) {
  if (length <= 0) return platform::Outcome::Failed("There is no selection to analyse.");
  TemporalData d;
  d.rate = source.sampleRate();
  d.bits = TemporalBits(d.rate);
  d.bins = 1 << (d.bits - 1);
  d.columns = TemporalColumns(length, d.bits);
  d.start = start;
  d.length = length;
  d.hop = length / d.columns;
  d.magnitudes.resize(static_cast<std::size_t>(d.columns * d.bins));
  Analyser a(d.bits);
  const int ch = source.channels();
  std::vector<audio::Sample> frames(a.size() * static_cast<std::size_t>(ch));
  std::vector<double> m(static_cast<std::size_t>(d.bins));
  // Channels are averaged; 65535 stands for a full-scale sine.
  const double scale = 65535.0 / (a.reference() * ch);
  for (std::int64_t c = 0; c < d.columns; ++c) {
    if (progress && !progress(c, d.columns)) return platform::Outcome::Cancelled();
    source.seek(start + c * d.hop);
    source.read(frames.data(), static_cast<FrameCount>(a.size()));
    if (source.failed()) return platform::Outcome::Failed(source.failureMessage());
    std::fill(m.begin(), m.end(), 0.0);
    for (int k = 0; k < ch; ++k) a.AddMagnitudes(frames.data(), ch, k, m);
    std::uint16_t* column = d.magnitudes.data() + c * d.bins;
    for (int k = 0; k < d.bins; ++k)
      column[k] = static_cast<std::uint16_t>(std::min(65535.0, std::round(m[static_cast<std::size_t>(k)] * scale)));
  }
  out = std::move(d);
  return platform::Outcome::Done();
}

TemporalTask::TemporalTask(audio::SourceHandle source, FramePos start, FrameCount length)
    : LProgressDialog("Temporal Frequency Analysis"), source_(std::move(source)), start_(start), length_(length) {}

bool TemporalTask::Execute() {
  SetText(0, "Calculating Temporal Frequency Data");
  SetText(1, "Please wait...");
  const platform::Outcome r =
      ComputeTemporalData(*source_, start_, length_, data, [this](FrameCount done, FrameCount total) {
        SetProgress(static_cast<double>(done) / static_cast<double>(total));
        return !Pump();
      });
  result = r.result;
  message = r.message;
  return true;
}

int TemporalPixel(std::uint16_t magnitude, int brightness) {
  const std::int64_t v = (std::int64_t{magnitude} * std::max(brightness, 0) * 96) >> 16;
  return static_cast<int>(std::min<std::int64_t>(v, 255));
}

const std::array<std::uint32_t, 256>& TemporalColours() {
  static const std::array<std::uint32_t, 256> table = [] {
    struct Stop {
      double at, r, g, b;
    };
    constexpr Stop stops[] = {{0, 0, 0, 0},          {0.25, 40, 0, 120},   {0.5, 200, 0, 90},
                              {0.75, 255, 150, 0},   {1, 255, 255, 225}};
    std::array<std::uint32_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
      const double x = std::log1p(i / 4.0) / std::log1p(255 / 4.0);
      std::size_t s = 0;
      while (s + 2 < std::size(stops) && x > stops[s + 1].at) ++s;
      const Stop &lo = stops[s], &hi = stops[s + 1];
      const double f = (x - lo.at) / (hi.at - lo.at);
      const auto mix = [f](double p, double q) { return static_cast<std::uint32_t>(std::lround(p + (q - p) * f)); };
      t[static_cast<std::size_t>(i)] =
          0xFF000000u | mix(lo.r, hi.r) << 16 | mix(lo.g, hi.g) << 8 | mix(lo.b, hi.b);
    }
    return t;
  }();
  return table;
}

BinRange VisibleBins(const TemporalData& data, const TemporalView& view) {
  if (view.fullZoom || data.rate <= 0) return {0, data.bins};
  const double binHz = static_cast<double>(data.rate) / (1 << data.bits);
  const int band = std::clamp(static_cast<int>(std::lround(kZoomedBandHz / binHz)), 1, data.bins);
  const int lowBin = (data.bins - band) * (100 - std::clamp(view.scroll, 0, 100)) / 100;
  return {lowBin, lowBin + band};
}

int BinAtRow(const TemporalData& data, const TemporalView& view, int y) {
  const BinRange r = VisibleBins(data, view);
  const std::int64_t span = r.highBin - r.lowBin;
  const std::int64_t row = std::clamp(y, 0, std::max(view.height, 1) - 1);
  return static_cast<int>(r.highBin - 1 - row * span / std::max(view.height, 1));
}

std::int64_t ColumnAtX(const TemporalData& data, const TemporalView& view, int x) {
  const std::int64_t col = std::int64_t{std::clamp(x, 0, std::max(view.width, 1) - 1)} * data.columns /
                           std::max(view.width, 1);
  return std::clamp<std::int64_t>(col, 0, std::max<std::int64_t>(data.columns - 1, 0));
}

std::vector<std::uint32_t> RenderTemporal(const TemporalData& data, const TemporalView& view) {
  const auto& colours = TemporalColours();
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(std::max(view.width, 0)) *
                                        static_cast<std::size_t>(std::max(view.height, 0)),
                                    colours[0]);
  if (view.width <= 0 || view.height <= 0 || data.columns <= 0 || data.bins <= 0) return pixels;
  const BinRange r = VisibleBins(data, view);
  const std::int64_t span = r.highBin - r.lowBin, h = view.height, w = view.width;
  for (std::int64_t y = 0; y < h; ++y) {
    // Bins [b0, b1) under this row, at least one.
    const auto b1 = static_cast<int>(r.highBin - y * span / h);
    const int b0 = std::min(b1 - 1, static_cast<int>(r.highBin - (y + 1) * span / h));
    std::uint32_t* row = pixels.data() + y * w;
    for (std::int64_t x = 0; x < w; ++x) {
      const std::int64_t c0 = x * data.columns / w;
      const std::int64_t c1 = std::max(c0 + 1, (x + 1) * data.columns / w);
      std::uint16_t m = 0;
      for (std::int64_t c = c0; c < c1; ++c) {
        const std::uint16_t* col = data.magnitudes.data() + c * data.bins;
        for (int b = b0; b < b1; ++b) m = std::max(m, col[b]);
      }
      row[x] = colours[static_cast<std::size_t>(TemporalPixel(m, view.brightness))];
    }
  }
  return pixels;
}

}  // namespace quillet::effects
