#include "effects/equalizer.h"

#include <algorithm>
#include <cmath>

#include "audio/fft.h"
#include "core/chain_source.h"
#include "effects/dialogs.h"

namespace quillet::effects {
namespace {

// The FFT's size: each transform yields kFftSize - 2 x 2047 output frames.
constexpr std::size_t kFftSize = 16384;
constexpr FrameCount kBlockOut = static_cast<FrameCount>(kFftSize) - 2 * kEqHalfTaps;

constexpr std::string_view kShapeNames[kEqShapeCount] = {"BandPass", "BandStop", "HighPass",
                                                         "LowPass",  "Notch",    "Boost/Cut"};
constexpr std::string_view kShapeSections[kEqShapeCount] = {"BandPass", "BandStop", "HighPass",
                                                            "LowPass",  "Notch",    "BoostCut"};
constexpr std::string_view kShapeWords[kEqShapeCount] = {"bandpass", "bandstop", "highpass",
                                                         "lowpass",  "notch",    "boostcut"};

std::size_t Index(EqShape s) { return static_cast<std::size_t>(std::clamp(static_cast<int>(s), 1, kEqShapeCount) - 1); }

// A level in percent as a curve byte: 100 % is 128, below 1 % silence.
std::uint8_t LevelByte(int pct) {
  if (pct < 1) return 0;
  return static_cast<std::uint8_t>(std::min(pct * 128 / 100, 255));
}

}  // namespace

EqualizerCurve FlatCurve() { return {{0, 128}, {255, 128}}; }

int EqPosition(double hz) {
  if (!(hz > 0)) return 0;
  return static_cast<int>(std::min(hz / kEqHzPerStep, 255.0));
}

double EqFrequencyAt(double p, double w, bool linear) {
  if (w <= 0) return 0;
  if (linear) return kEqTopHz * p / w;
  return kEqTopHz * (std::pow(16.0, p / w) - 1) / 15;
}

double EqPixelOf(double hz, double w, bool linear) {
  if (linear) return hz * w / kEqTopHz;
  return w * std::log(1 + 15 * std::max(hz, 0.0) / kEqTopHz) / std::log(16.0);
}

std::string_view ShapeName(EqShape s) { return kShapeNames[Index(s)]; }
std::string_view ShapeSection(EqShape s) { return kShapeSections[Index(s)]; }
std::string_view ShapeWord(EqShape s) { return kShapeWords[Index(s)]; }

bool ShapeOfWord(std::string_view word, EqShape& s) {
  for (int i = 0; i < kEqShapeCount; ++i) {
    if (kShapeWords[i] != word) continue;
    s = static_cast<EqShape>(i + 1);
    return true;
  }
  return false;
}

bool IsPassFrequencyShape(EqShape s) { return s == EqShape::HighPass || s == EqShape::LowPass; }

EqShapeParams ShapeDefaults(EqShape s) {
  if (s == EqShape::Notch) return {9750, 10250, 0, 150};
  if (IsPassFrequencyShape(s)) return {4000, 12000, 1000, 50};
  return {8000, 12000, 1000, 50};
}

void StoreShapeChoice(settings::Settings& st, EqShape shape) {
  st.SetString("Settings", "EqualizerFilterName", std::string(ShapeName(shape)));
  st.SetBool("Settings", "EqualizerPassFilter", shape == EqShape::BandPass);
  st.SetBool("Settings", "EqualizerBoostCutFilter", shape == EqShape::BoostCut);
  st.SetBool("Settings", "EqualizerNotchFilter", shape == EqShape::Notch);
  st.SetBool("Settings", "EqualizerHighPassFilter", shape == EqShape::HighPass);
  st.SetBool("Settings", "EqualizerLowPassFilter", shape == EqShape::LowPass);
}

EqualizerCurve ShapeCurve(EqShape s, EqShapeParams p) {
  const bool stop = s == EqShape::BandStop || s == EqShape::Notch || s == EqShape::BoostCut;
  const int cap = s == EqShape::Notch || s == EqShape::BoostCut ? 199 : 100;
  const int amp = std::clamp(p.ampPct, 0, cap);
  // The pass frequency of the high and low pass is where their band starts or ends.
  int start = std::max(p.startHz, 0), end = std::max(p.endHz, 0);
  const int slopeHz = std::max(p.slopeHz, 0);
  if (s == EqShape::HighPass) end = kEqTopHz;
  if (s == EqShape::LowPass) end = start, start = 0;
  int slope = slopeHz;
  if (s == EqShape::Notch) {
    slope = 0;
    if (end - start < 50) end = start + 50;
  } else {
    end = std::max(end, start);
    slope = std::min(slope, start);
  }
  end = std::min(end, kEqTopHz);
  start = std::min(start, end);
  slope = std::min(slope, kEqTopHz - end);
  int below = slope, above = slope;
  // Their band reaches an end of the axis, where a slope would vanish: it goes inside.
  if (s == EqShape::HighPass) below = std::min(slopeHz, start), above = 0;
  if (s == EqShape::LowPass) below = 0, above = std::min(slopeHz, kEqTopHz - end);
  const std::uint8_t inside = LevelByte(stop ? amp : 100), outside = LevelByte(stop ? 100 : amp);
  const auto x = [](int hz) { return static_cast<std::uint8_t>(EqPosition(hz)); };
  return {{0, outside},
          {x(start - below), outside},
          {x(start), inside},
          {x(end), inside},
          {x(end + above), outside},
          {255, outside}};
}

EqualizerCurve LoadEqualizerCurve(const std::filesystem::path& folder) {
  return LoadCurveFile(folder, kEqualizerFileName, FlatCurve());
}

bool SaveEqualizerCurve(const std::filesystem::path& folder, const EqualizerCurve& curve) {
  return SaveCurveFile(folder, kEqualizerFileName, curve);
}

Status ParseEqualizerCurve(std::string_view text, EqualizerCurve& curve) {
  return ParseCurvePoints(text, curve, "Equalizer", "X/Y", "An equalizer curve");
}

std::array<int, kEqBins> CurveMagnitudes(const EqualizerCurve& curve, std::int64_t rate) {
  std::array<int, kEqBins> m{};
  if (curve.empty()) return m;
  if (rate < 1) rate = 44100;
  constexpr std::int64_t kLast = kEqBins - 1;
  std::vector<std::int64_t> bins(curve.size());
  for (std::size_t k = 0; k < curve.size(); ++k)
    bins[k] = k == 0 ? 0 : std::min<std::int64_t>(std::int64_t{curve[k].position} * 320000 / rate, kLast);
  for (std::size_t k = 0; k + 1 < curve.size(); ++k) {
    const std::int64_t b0 = bins[k], b1 = bins[k + 1];
    const int y0 = curve[k].level, y1 = curve[k + 1].level;
    for (std::int64_t b = b0; b < b1; ++b)
      m[static_cast<std::size_t>(b)] = static_cast<int>(y0 + (b - b0) * (y1 - y0) / (b1 - b0));
  }
  for (std::int64_t b = bins.back(); b <= kLast; ++b) m[static_cast<std::size_t>(b)] = curve.back().level;
  return m;
}

std::vector<std::int32_t> EqualizerKernel(const std::array<int, kEqBins>& m) {
  // cos(i pi / 2048) for i mod 4096: the cosine of k j pi / 2048 is entry k j mod 4096.
  static const std::vector<double> kCos = [] {
    std::vector<double> c(4096);
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = std::cos(static_cast<double>(i) * M_PI / 2048);
    return c;
  }();
  std::vector<std::int32_t> h(kEqHalfTaps + 1);
  for (std::size_t k = 0; k < h.size(); ++k) {
    double sum = m[0] / 2.0 + (k % 2 ? -1 : 1) * (m[kEqBins - 1] / 2.0);
    for (std::size_t j = 1; j + 1 < kEqBins; ++j) sum += m[j] * kCos[(k * j) & 4095];
    h[k] = static_cast<std::int32_t>((static_cast<std::int64_t>(std::trunc(sum)) + 4) >> 3);
  }
  return h;
}

struct LEqualizerFilter::Fft {
  audio::RealFft fft{kFftSize};
  audio::FftBuffer<float> in{kFftSize};
  audio::FftBuffer<float> out{kFftSize};
  audio::FftBuffer<audio::Complex> bins{kFftSize / 2 + 1};
  std::vector<float> response;  // the kernel's (real) spectrum, over kFftSize x 32768
};

LEqualizerFilter::LEqualizerFilter(SourceHandle input, const std::vector<std::int32_t>& kernel)
    : LSoundSource(input->sampleRate(), input->channels(), 0),
      input_(std::move(input)),
      fft_(std::make_unique<Fft>()) {
  FollowInput(*input_);
  setStatus(input_->status());
  // Zero phase: tap k and -k sit at k and N - k of the circle, so the spectrum is real.
  std::int64_t gain = 0;
  fft_->in.Clear();
  for (std::size_t k = 0; k < kernel.size() && k <= static_cast<std::size_t>(kEqHalfTaps); ++k) {
    fft_->in[k] = static_cast<float>(kernel[k]);
    if (k) fft_->in[kFftSize - k] = static_cast<float>(kernel[k]);
    gain += std::abs(std::int64_t{kernel[k]}) * (k ? 2 : 1);
  }
  fft_->fft.Forward(fft_->in, fft_->bins);
  fft_->response.resize(kFftSize / 2 + 1);
  const double scale = 1.0 / (32768.0 * static_cast<double>(kFftSize));
  for (std::size_t i = 0; i < fft_->response.size(); ++i)
    fft_->response[i] = static_cast<float>(fft_->bins[i].real() * scale);
  setPeakBound(static_cast<std::uint32_t>(
      std::min<std::int64_t>(std::int64_t{input_->peakBound()} * gain / 32768 + 1, INT32_MAX)));
}

LEqualizerFilter::~LEqualizerFilter() = default;

void LEqualizerFilter::seek(FramePos frame) {
  pos_ = frame;
  blockFrames_ = 0;
  windowFrames_ = 0;
}

void LEqualizerFilter::Compute(FramePos from) {
  const int ch = channels();
  const auto n = static_cast<FrameCount>(kFftSize);
  const FramePos need = from - kEqHalfTaps;
  window_.resize(kFftSize * static_cast<std::size_t>(ch));
  // What the last window already holds is moved to the front; the input then reads
  // on from where it stopped. Anything else seeks.
  FrameCount kept = 0;
  if (windowFrames_ > 0 && need >= windowStart_ && need < windowStart_ + windowFrames_) {
    kept = windowStart_ + windowFrames_ - need;
    std::copy(window_.end() - kept * ch, window_.end(), window_.begin());
  } else {
    input_->seek(need);
  }
  input_->read(window_.data() + kept * ch, n - kept);
  windowStart_ = need;
  windowFrames_ = n;

  out_.resize(static_cast<std::size_t>(kBlockOut) * static_cast<std::size_t>(ch));
  Fft& f = *fft_;
  for (int c = 0; c < ch; ++c) {
    for (std::size_t i = 0; i < kFftSize; ++i) f.in[i] = static_cast<float>(window_[i * ch + c]);
    f.fft.Forward(f.in, f.bins);
    for (std::size_t i = 0; i < f.response.size(); ++i) f.bins[i] *= f.response[i];
    f.fft.Inverse(f.bins, f.out);
    for (FrameCount i = 0; i < kBlockOut; ++i) {
      const double v = std::clamp<double>(f.out[static_cast<std::size_t>(i + kEqHalfTaps)], INT32_MIN, INT32_MAX);
      out_[static_cast<std::size_t>(i * ch + c)] = static_cast<Sample>(std::lrint(v));
    }
  }
  blockStart_ = from;
  blockFrames_ = kBlockOut;
}

void LEqualizerFilter::read(Sample* buffer, FrameCount frames) {
  const int ch = channels();
  for (FrameCount done = 0; done < frames;) {
    if (blockFrames_ == 0 || pos_ < blockStart_ || pos_ >= blockStart_ + blockFrames_) Compute(pos_);
    const FrameCount at = pos_ - blockStart_;
    const FrameCount n = std::min(frames - done, blockFrames_ - at);
    std::copy_n(out_.data() + at * ch, n * ch, buffer + done * ch);
    done += n;
    pos_ += n;
  }
}

SourceHandle MakeEqualizer(SourceHandle input, const EqualizerCurve& curve) {
  const auto kernel = EqualizerKernel(CurveMagnitudes(curve, input->sampleRate()));
  return SourceHandle(audio::MakeRef<LEqualizerFilter>(std::move(input), kernel));
}

PassResult Equalize(const EffectParams& params, const EqualizerCurve& curve, const ProgressFn& progress) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  if (!IsValidEnvelope(curve)) return Outcome::Failed("An equalizer curve needs at least two points in rising order.");
  SourceHandle filter = MakeEqualizer(SourceHandle(core::ChainOpenSource(*params.chain)), curve);
  filter->seek(start);
  return SpliceProduced(*params.chain, start, end, *filter, end - start, progress);
}

namespace {

constexpr int kMaxShapeHz = 100000;
constexpr int kMaxShapeAmp = 10000;

constexpr core::ParamInfo Field(std::string_view name, std::string_view label, std::string_view key,
                                int def, int max, std::string_view unit, std::string_view section) {
  return {.name = name, .label = label, .key = key, .def = def, .min = 0, .max = max, .unit = unit,
          .section = section};
}
constexpr std::array<core::ParamInfo, 4> BandFields(std::string_view section, int slope) {
  return {Field("START", "Start Frequency (Hz)", "StartFreq", 8000, kMaxShapeHz, "Hz", section),
          Field("END", "End Frequency (Hz)", "EndFreq", 12000, kMaxShapeHz, "Hz", section),
          Field("SLOPE", "Slope (Hz)", "Slope", slope, kMaxShapeHz, "Hz", section),
          Field("AMP", "Amplitude (%)", "Amp", 1000, kMaxShapeAmp, "%", section)};
}
constexpr std::array<core::ParamInfo, 3> PassFields(std::string_view section) {
  return {Field("FREQ", "Pass Frequency (Hz)", "Freq", 4000, kMaxShapeHz, "Hz", section),
          Field("SLOPE", "Slope (Hz)", "Slope", 1000, kMaxShapeHz, "Hz", section),
          Field("AMP", "Amplitude (%)", "Amp", 50, kMaxShapeAmp, "%", section)};
}
constexpr auto kBandPassFields = BandFields("BandPass", 1000);
constexpr auto kBandStopFields = BandFields("BandStop", 1000);
constexpr auto kHighPassFields = PassFields("HighPass");
constexpr auto kLowPassFields = PassFields("LowPass");
constexpr auto kNotchFields = BandFields("Notch", 0);
constexpr auto kBoostCutFields = BandFields("BoostCut", 1000);

const core::ParamTable kShapeTables[kEqShapeCount] = {
    {"BandPass Settings", kBandPassFields}, {"BandStop Settings", kBandStopFields},
    {"HighPass Settings", kHighPassFields}, {"LowPass Settings", kLowPassFields},
    {"Notch Settings", kNotchFields},       {"Boost/Cut Settings", kBoostCutFields}};

std::vector<std::string> Split(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t at = 0;;) {
    const std::size_t comma = text.find(',', at);
    out.emplace_back(text.substr(at, comma == std::string_view::npos ? text.npos : comma - at));
    if (comma == std::string_view::npos) return out;
    at = comma + 1;
  }
}

// A shape's words over values already loaded: the refusal, or empty.
std::string ParseShape(std::string_view text, EqShape& shape, std::vector<std::string>& numbers) {
  std::vector<std::string> words = Split(text);
  if (!ShapeOfWord(words[0], shape))
    return "The equalizer shape must be bandpass, bandstop, boostcut, notch, highpass or lowpass, not \"" +
           words[0] + "\".";
  numbers.assign(words.begin() + 1, words.end());
  return {};
}

std::string CheckEqualizerText(const core::ParamSet& values) {
  const std::string& text = values.Text(0);
  if (text.empty()) return {};
  EqualizerCurve curve;
  if (text.find('/') != std::string::npos) return ParseEqualizerCurve(text, curve).message;
  EqShape shape{};
  std::vector<std::string> numbers;
  if (std::string why = ParseShape(text, shape, numbers); !why.empty()) return why;
  core::ParamSet set(ShapeTable(shape));
  std::string why = set.Parse(numbers);
  return why.empty() ? set.Validate() : why;
}

std::string CheckCurveText(const core::ParamSet& values) {
  EqualizerCurve curve;
  return values.Text(0).empty() ? std::string() : ParseEqualizerCurve(values.Text(0), curve).message;
}

constexpr core::ParamInfo kEqualizerFields[] = {
    {.name = "SHAPE,...", .label = "&Curve:", .kind = core::ParamKind::Text,
     .unit = "empty: the curve of equalizer.dat; bandpass, bandstop, boostcut or notch with "
             "START,END,SLOPE,AMP; highpass or lowpass with FREQ,SLOPE,AMP (Hz and %); or a curve "
             "X/Y;X/Y;..."}};
constexpr core::ParamInfo kCurveFields[] = {
    {.name = "X/Y;X/Y;...", .label = "&Curve:", .kind = core::ParamKind::Text,
     .unit = "points of frequency (x 78.125 Hz) and gain (128 unity), each 0..255; empty: "
             "equalizer.dat"}};

}  // namespace

const core::ParamTable kEqualizerTable{"Equalizer", kEqualizerFields, {}, &CheckEqualizerText};
const core::ParamTable kEqualizerCurveTable{"Equalizer", kCurveFields, {}, &CheckCurveText};

const core::ParamTable& ShapeTable(EqShape s) { return kShapeTables[Index(s)]; }

EqShapeParams ShapeParamsOf(EqShape s, const core::ParamSet& v) {
  const auto i = [&](std::size_t k) { return int(std::clamp<std::int64_t>(v.Int(k), INT32_MIN, INT32_MAX)); };
  if (IsPassFrequencyShape(s)) return {i(0), 0, i(1), i(2)};
  return {i(0), i(1), i(2), i(3)};
}

Status EqualizerCurveOf(std::string_view text, const settings::Settings& s,
                        const std::filesystem::path& folder, EqualizerCurve& curve) {
  if (text.empty()) {
    curve = LoadEqualizerCurve(folder);
    return Status::Ok();
  }
  if (text.find('/') != std::string_view::npos) return ParseEqualizerCurve(text, curve);
  EqShape shape{};
  std::vector<std::string> numbers;
  if (std::string why = ParseShape(text, shape, numbers); !why.empty()) return Status::Error(why);
  core::ParamSet set(ShapeTable(shape));
  set.Load(s);
  std::string why = set.Parse(numbers);
  if (why.empty()) why = set.Validate();
  if (!why.empty()) return Status::Error(why);
  curve = ShapeCurve(shape, ShapeParamsOf(shape, set));
  return Status::Ok();
}

}  // namespace quillet::effects
