#include "effects/levels.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/chain_source.h"
#include "core/peaks.h"
#include "core/segment_sink.h"
#include "effects/gain.h"

namespace quillet::effects {

using audio::Sample;

PassResult Amplify(const EffectParams& params, int percent) {
  FramePos start = params.start, end = params.end;
  percent = std::clamp(percent, 0, kMaxAmplifyPercent);
  if (!params.chain || percent == 100 || !ClampSelection(*params.chain, start, end)) return {};
  core::ChainScaleRangeGain(*params.chain, start, end, percent);
  return {Outcome::Done(), true};
}

namespace {

struct PeakRange {
  FramePos from, to;   // chain frames
  std::int64_t upper;  // no sample of it is louder
};

// |x| after a segment gain taken at the point of use, as the chain source applies it.
std::int64_t Scaled(std::int64_t raw, std::int32_t useGain) {
  return std::min<std::int64_t>((std::int64_t{useGain} * raw) >> 9, INT32_MAX);
}

}  // namespace

std::int64_t SelectionPeak(const AudioChain& chain, FramePos start, FramePos end,
                           std::string* failure) {
  if (!ClampSelection(chain, start, end)) return 0;
  constexpr FrameCount kBlock = core::kPeakBlockFrames;
  const int recordBytes = 2 * chain.channels;
  std::vector<PeakRange> ranges;
  std::int64_t best = 0;
  std::vector<std::uint8_t> records;
  FramePos p = 0;
  for (const core::AudioSegment& seg : chain.segments()) {
    const FramePos segEnd = p + seg.frameCount;
    const FramePos a = std::max(start, p), b = std::min(end, segEnd);
    const FramePos origin = p;
    p = segEnd;
    if (b <= a || seg.fileId == core::kNoFile || seg.gain == 0) continue;
    const std::int32_t useGain = std::abs(seg.gain >> 15);
    const FramePos fileFrom = seg.startFrame + (a - origin), fileTo = seg.startFrame + (b - origin);
    const std::int64_t r0 = fileFrom / kBlock, r1 = (fileTo - 1) / kBlock;
    if (!chain.store() || !core::ReadPeakRecords(*chain.store(), seg.fileId, r0, r1 - r0 + 1,
                                                 chain.channels, records)) {
      ranges.push_back({a, b, INT32_MAX});  // no peaks: read the samples
      continue;
    }
    for (std::int64_t r = r0; r <= r1; ++r) {
      const std::uint8_t* rec = records.data() + (r - r0) * recordBytes;
      const int hi = *std::max_element(rec, rec + recordBytes);
      // Byte 255 also stands for anything louder than 16-bit full scale.
      const std::int64_t upper = hi >= 255 ? INT32_MAX : Scaled((hi + 1) * 2048 - 1, useGain);
      const FramePos blockFrom = r * kBlock, blockTo = blockFrom + kBlock;
      if (blockFrom >= fileFrom && blockTo <= fileTo) best = std::max(best, Scaled(hi * 2048, useGain));
      const FramePos from = a + (std::max(blockFrom, fileFrom) - fileFrom);
      const FramePos to = a + (std::min(blockTo, fileTo) - fileFrom);
      ranges.push_back({from, to, upper});
    }
  }
  // Only blocks that may beat the best lower bound need their samples read.
  std::erase_if(ranges, [&](const PeakRange& r) { return r.upper <= best; });
  if (ranges.empty()) return best;
  auto src = core::ChainOpenSource(chain);
  std::vector<Sample> buffer;
  for (std::size_t i = 0; i < ranges.size();) {
    FramePos from = ranges[i].from, to = ranges[i].to;
    for (++i; i < ranges.size() && ranges[i].from == to && to - from < audio::kBlockFrames; ++i)
      to = ranges[i].to;
    src->seek(from);
    buffer.resize(static_cast<std::size_t>(to - from) * chain.channels);
    src->read(buffer.data(), to - from);
    if (src->failed()) {
      if (failure) *failure = src->failureMessage();
      return 0;
    }
    for (Sample s : buffer) best = std::max(best, std::abs(std::int64_t{s}));
  }
  return best;
}

int NormalizeGain(int percent, std::int64_t peak) {
  percent = std::clamp(percent, 0, kMaxNormalizePercent);
  if (peak <= 0) return 100;
  return static_cast<int>(std::min<std::int64_t>(percent * kNormalizeFullScale / peak, kMaxAmplifyPercent));
}

PassResult Normalize(const EffectParams& params, int percent) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  std::string failure;
  const std::int64_t peak = SelectionPeak(*params.chain, start, end, &failure);
  if (!failure.empty()) return Outcome::Failed(failure);
  if (peak <= 0) return {};
  return Amplify(params, NormalizeGain(percent, peak));
}

EnvelopeShape FadeInShape() { return {{0, 0}, {255, 128}}; }
EnvelopeShape FadeOutShape() { return {{0, 128}, {255, 0}}; }
EnvelopeShape DefaultEnvelope() { return {{0, 128}, {255, 128}}; }

bool IsValidEnvelope(const EnvelopeShape& shape) {
  if (shape.size() < 2) return false;
  for (std::size_t i = 1; i < shape.size(); ++i)
    if (shape[i].position < shape[i - 1].position) return false;
  return true;
}

FramePos EnvelopeFrame(FrameCount frames, int x) {
  return (frames / 255) * x + (frames % 255) * x / 255;
}

LEnvelopeFilter::LEnvelopeFilter(SourceHandle input, const EnvelopeShape& shape, FrameCount frames)
    : LSoundSource(input->sampleRate(), input->channels(), input->peakBound() * 2),
      input_(std::move(input)) {
  FollowInput(*input_);
  for (const EnvelopePoint& pt : shape) {
    frames_.push_back(EnvelopeFrame(frames, pt.position));
    gains_.push_back(std::int64_t{pt.level} << 17);
  }
}

std::int64_t LEnvelopeFilter::GainAt(FramePos i) const {
  // The last point at or before i; before the first point its level holds.
  const auto it = std::upper_bound(frames_.begin(), frames_.end(), i);
  if (it == frames_.begin()) return gains_.front();
  const std::size_t j = static_cast<std::size_t>(it - frames_.begin()) - 1;
  if (j + 1 == frames_.size()) return gains_.back();
  const FrameCount span = frames_[j + 1] - frames_[j];
  const std::int64_t dg = gains_[j + 1] - gains_[j];
  return gains_[j] + static_cast<std::int64_t>(std::floor(static_cast<double>(dg) *
                                                          static_cast<double>(i - frames_[j]) /
                                                          static_cast<double>(span)));
}

void LEnvelopeFilter::read(Sample* buffer, FrameCount frames) {
  const FramePos at = input_->position();
  input_->read(buffer, frames);
  const int ch = channels();
  for (FrameCount i = 0; i < frames; ++i) {
    const std::int64_t g = GainAt(at + i);
    if (g == kUnity) continue;
    for (int c = 0; c < ch; ++c) buffer[i * ch + c] = GainProduct(buffer[i * ch + c], g);
  }
}

PassResult ApplyEnvelope(const EffectParams& params, const EnvelopeShape& shape,
                         const ProgressFn& progress) {
  if (!IsValidEnvelope(shape)) return {};
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  FunctionFilterFactory f([&](SourceHandle in) {
    return SourceHandle(audio::MakeRef<LEnvelopeFilter>(std::move(in), shape, end - start));
  });
  return RunFilterPass({params.chain, end, start}, f, progress);
}

PassResult FadeOutAndTrim(const EffectParams& params, const ProgressFn& progress) {
  PassResult r = ApplyEnvelope(params, FadeOutShape(), progress);
  if (!r.done() || !params.chain) return r;
  FramePos start = params.start, end = params.end;
  if (!ClampSelection(*params.chain, start, end)) return r;
  if (core::ChainLength(*params.chain) > end) {
    core::ChainTrimEnd(*params.chain, end);
    r.changed = true;
  }
  return r;
}

namespace {

class LOffsetFilter final : public audio::LSoundSource {
 public:
  LOffsetFilter(SourceHandle input, std::vector<std::int64_t> offsets)
      : LSoundSource(input->sampleRate(), input->channels(), input->peakBound() * 2),
        input_(std::move(input)),
        offsets_(std::move(offsets)) {
    FollowInput(*input_);
  }
  void read(Sample* buffer, FrameCount frames) override {
    input_->read(buffer, frames);
    const int ch = channels();
    for (FrameCount i = 0; i < frames; ++i)
      for (int c = 0; c < ch; ++c)
        buffer[i * ch + c] = audio::SaturateSample(buffer[i * ch + c] - offsets_[static_cast<std::size_t>(c)]);
  }
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override { input_->seek(frame); }

 private:
  SourceHandle input_;
  std::vector<std::int64_t> offsets_;
};

}  // namespace

PassResult DcOffsetCorrection(const EffectParams& params, const ProgressFn& progress) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  const int ch = params.chain->channels;
  std::vector<double> sums(static_cast<std::size_t>(ch), 0.0);
  const Outcome scan = ScanSelection(
      *params.chain, start, end,
      [&](audio::ConstBlockView b) {
        for (int c = 0; c < ch; ++c) {
          double s = 0;  // per block first, as fewer large additions lose less
          for (FrameCount i = 0; i < b.frames(); ++i) s += b(c, i);
          sums[static_cast<std::size_t>(c)] += s;
        }
      },
      ProgressPart(progress, 0, 50));
  if (!scan.done()) return scan;
  std::vector<std::int64_t> means(static_cast<std::size_t>(ch));
  for (int c = 0; c < ch; ++c)
    means[static_cast<std::size_t>(c)] =
        static_cast<std::int64_t>(std::trunc(sums[static_cast<std::size_t>(c)] / static_cast<double>(end - start)));
  if (std::all_of(means.begin(), means.end(), [](std::int64_t m) { return m == 0; })) return {};
  FunctionFilterFactory f([&](SourceHandle in) {
    return SourceHandle(audio::MakeRef<LOffsetFilter>(std::move(in), means));
  });
  return RunFilterPass({params.chain, end, start}, f, ProgressPart(progress, 50, 100));
}

LReverseSource::LReverseSource(SourceHandle input)
    : LSoundSource(input->sampleRate(), input->channels(), input->peakBound()),
      input_(std::move(input)),
      length_(std::max<FrameCount>(input_->length(), 0)) {
  FollowInput(*input_);
}

void LReverseSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int ch = channels();
  std::fill(buffer, buffer + frames * ch, Sample{0});
  // Output frames [pos, pos + n) are input frames (L - pos - n, L - pos], backwards.
  const FramePos hi = std::min(length_ - pos_, length_);
  const FramePos lo = std::max<FramePos>(length_ - pos_ - frames, 0);
  if (hi > lo) {
    Sample* dst = buffer + (length_ - pos_ - hi) * ch;  // output index of input frame hi - 1
    input_->seek(lo);
    const FrameCount n = hi - lo;
    input_->read(dst, n);
    for (FrameCount i = 0, j = n - 1; i < j; ++i, --j)
      std::swap_ranges(dst + i * ch, dst + (i + 1) * ch, dst + j * ch);
  }
  pos_ += frames;
}

PassResult Reverse(const EffectParams& params, const ProgressFn& progress) {
  FunctionFilterFactory f(
      [](SourceHandle in) { return SourceHandle(audio::MakeRef<LReverseSource>(std::move(in))); });
  return RunFilterPass(params, f, progress);
}

namespace {

// Mixes A (the audio around the selection start) fading out with B (the audio up to
// the selection end) fading in.
class LCrossFadeSource final : public audio::LSoundSource {
 public:
  LCrossFadeSource(const AudioChain& chain, FramePos fromA, FramePos fromB, FrameCount lead,
                   FrameCount gap, FrameCount fadeIn, FrameCount fadeOut)
      : LSoundSource(static_cast<std::int32_t>(chain.sampleRate), chain.channels, audio::kWidePeakBound),
        a_(core::ChainOpenSource(chain)),
        b_(core::ChainOpenSource(chain)),
        lead_(lead), gap_(gap), fadeIn_(fadeIn), fadeOut_(fadeOut) {
    FollowInput(*a_);
    FollowInput(*b_);
    a_->seek(fromA);
    b_->seek(fromB);
  }
  void read(Sample* buffer, FrameCount frames) override {
    const int ch = channels();
    bufB_.resize(static_cast<std::size_t>(frames) * ch);
    a_->read(buffer, frames);
    b_->read(bufB_.data(), frames);
    for (FrameCount k = 0; k < frames; ++k) {
      const FramePos i = pos_ + k;
      const std::int64_t ga = Ramp(i - lead_, fadeOut_, true);
      const std::int64_t gb = Ramp(i - (lead_ + gap_ - fadeIn_), fadeIn_, false);
      for (int c = 0; c < ch; ++c) {
        const std::size_t s = static_cast<std::size_t>(k * ch + c);
        buffer[s] = audio::SaturateSample(std::int64_t{GainProduct(buffer[s], ga)} + GainProduct(bufB_[s], gb));
      }
    }
    pos_ += frames;
  }
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return 0; }
  void seek(FramePos) override {}

 private:
  // Gain at offset d into a ramp of n frames: falling from unity (down) or rising to it.
  static std::int64_t Ramp(FramePos d, FrameCount n, bool down) {
    std::int64_t up;
    if (d <= 0) up = 0;
    else if (d >= n) up = kUnity;
    else up = kUnity * d / n;
    return down ? kUnity - up : up;
  }
  audio::Ref<core::LChainSoundSource> a_, b_;
  std::vector<Sample> bufB_;
  FrameCount lead_, gap_, fadeIn_, fadeOut_;
  FramePos pos_ = 0;
};

}  // namespace

PassResult CrossFade(const EffectParams& params, const CrossFadeParams& cf,
                     const ProgressFn& progress) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  const std::int64_t rate = params.chain->sampleRate;
  const auto frames = [&](int ms) { return std::int64_t{std::max(ms, 0)} * rate / 1000; };
  const FrameCount gap = frames(cf.gapMs), in = frames(cf.fadeInMs), out = frames(cf.fadeOutMs);
  // The fade in may reach back before the selection start, but not before the audio.
  const FramePos origin = std::max<FramePos>(start - std::max<FrameCount>(0, in - gap), 0);
  const FrameCount lead = start - origin;
  const FrameCount mixed = lead + gap;
  const FrameCount total = std::max(mixed, lead + out);
  LCrossFadeSource producer(*params.chain, origin, end - mixed, lead, gap, in, out);
  return SpliceProduced(*params.chain, origin, end - mixed + total, producer, total, progress);
}

}  // namespace quillet::effects

namespace quillet::effects {
namespace {

constexpr core::ParamPreset kAmplifyPresets[] = {
    {"Quarter Volume", {25}}, {"Half Volume", {50}}, {"Double Volume", {200}}, {"Triple Volume", {300}}};
constexpr core::ParamInfo kAmplifyFields[] = {
    {.name = "PCT", .label = "Amplify &Gain:", .key = "AmplifyGain", .def = 100, .min = 0,
     .max = kMaxAmplifyPercent, .unit = "%",
     .rangeMessage = "Amplify Gain must be less than 400%. Please try again.",
     .lowMessage = "Amplify Gain must be 0% or more. Please try again."}};

constexpr core::ParamPreset kNormalizePresets[] = {{"Very Soft Audio Level", {20}},
                                                   {"Soft Audio Level", {40}},
                                                   {"Normal Audio Level", {75}},
                                                   {"Maximum Audio Level", {100}}};
constexpr core::ParamInfo kNormalizeFields[] = {
    {.name = "PCT", .label = "Normalize &Peak Level:", .key = "NormalizePeakLevel", .def = 100,
     .min = 0, .max = kMaxNormalizePercent, .unit = "%",
     .rangeMessage = "Normailze Peak Level must be less than 100%. Please try again.",
     .lowMessage = "Normalize Peak Level must be 0% or more. Please try again."}};

constexpr core::ParamInfo kEnvelopeFields[] = {
    {.name = "POS/LEVEL;POS/LEVEL;...", .label = "Envelope &points:", .kind = core::ParamKind::Text,
     .unit = "points of position and level, each 0..255; empty: the envelope file"}};

std::string CheckEnvelopeText(const core::ParamSet& values) {
  EnvelopeShape shape;
  return values.Text(0).empty() ? std::string() : ParseEnvelope(values.Text(0), shape).message;
}

constexpr std::string_view kNegativeTimes = "Cross fade times must not be negative.";
constexpr core::ParamInfo kCrossFadeFields[] = {
    {.name = "GAP_MS", .label = "&Gap:", .key = "GapTimeMS", .def = 300, .min = 0,
     .max = 3600000, .unit = "ms", .lowMessage = kNegativeTimes, .section = "CrossFade"},
    {.name = "IN_MS", .label = "Fade &in:", .key = "FadeInTimeMS", .def = 300, .min = 0,
     .max = 3600000, .unit = "ms", .lowMessage = kNegativeTimes, .section = "CrossFade"},
    {.name = "OUT_MS", .label = "Fade &out:", .key = "FadeOutTimeMS", .def = 300, .min = 0,
     .max = 3600000, .unit = "ms", .lowMessage = kNegativeTimes, .section = "CrossFade"}};

}  // namespace

const core::ParamTable kAmplifyTable{"Amplify", kAmplifyFields, kAmplifyPresets};
const core::ParamTable kNormalizeTable{"Normalize", kNormalizeFields, kNormalizePresets};
const core::ParamTable kEnvelopeTable{"Envelope", kEnvelopeFields, {}, &CheckEnvelopeText};
const core::ParamTable kCrossFadeTable{"Cross Fade", kCrossFadeFields};

AmplifyParams AmplifyParamsOf(const core::ParamSet& v) { return {int(v.Int(0))}; }
Status Validate(const AmplifyParams& p) {
  return Status::Refusal(core::CheckValues(kAmplifyTable, {p.gainPct}));
}

NormalizeParams NormalizeParamsOf(const core::ParamSet& v) { return {int(v.Int(0))}; }
Status Validate(const NormalizeParams& p) {
  return Status::Refusal(core::CheckValues(kNormalizeTable, {p.peakPct}));
}

CrossFadeParams CrossFadeParamsOf(const core::ParamSet& v) {
  return {int(v.Int(0)), int(v.Int(1)), int(v.Int(2))};
}
Status Validate(const CrossFadeParams& p) {
  return Status::Refusal(core::CheckValues(kCrossFadeTable, {p.gapMs, p.fadeInMs, p.fadeOutMs}));
}

Status ParseCurvePoints(std::string_view text, EnvelopeShape& shape, std::string_view noun,
                        std::string_view form, std::string_view article) {
  EnvelopeShape out;
  while (!text.empty()) {
    const std::size_t semi = text.find(';');
    const std::string_view point = text.substr(0, semi);
    text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    const std::size_t slash = point.find('/');
    int pos = -1, level = -1;
    const auto number = [](std::string_view s, int& v) {
      const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      return ec == std::errc() && p == s.data() + s.size() && v >= 0 && v <= 255;
    };
    if (slash == std::string_view::npos || !number(point.substr(0, slash), pos) ||
        !number(point.substr(slash + 1), level))
      return Status::Error(std::string(noun) + " points are " + std::string(form) +
                           " with both from 0 to 255, not \"" + std::string(point) + "\".");
    out.push_back({static_cast<std::uint8_t>(pos), static_cast<std::uint8_t>(level)});
  }
  if (!IsValidEnvelope(out) || out.size() > kMaxEnvelopePoints)
    return Status::Error(std::string(article) + " needs 2 to " + std::to_string(kMaxEnvelopePoints) +
                         " points with rising positions.");
  shape = std::move(out);
  return Status::Ok();
}

std::string FormatCurve(const EnvelopeShape& curve) {
  std::string out;
  for (const EnvelopePoint& p : curve) {
    if (!out.empty()) out += ';';
    out += std::to_string(p.position) + "/" + std::to_string(p.level);
  }
  return out;
}

Status ParseEnvelope(std::string_view text, EnvelopeShape& shape) {
  return ParseCurvePoints(text, shape, "Envelope", "POS/LEVEL", "An envelope");
}

}  // namespace quillet::effects
