#include "effects/conversion.h"

#include <algorithm>

#include "audio/resample.h"
#include "audio/speed.h"
#include "core/chain_source.h"
#include "core/segment_sink.h"

namespace quillet::effects {

namespace {

class SpeedFactory final : public LFilterFactory {
 public:
  SpeedFactory(SpeedKind kind, double r) : kind_(kind), r_(r) {}
  SourceHandle Build(SourceHandle input) override {
    switch (kind_) {
      case SpeedKind::SpeedAndPitch: return audio::ChangeSpeedAndPitch(std::move(input), r_);
      case SpeedKind::SpeedOnly: return audio::ChangeSpeed(std::move(input), r_);
      case SpeedKind::PitchOnly: return audio::ChangePitch(std::move(input), r_);
    }
    return input;
  }
  FrameCount OutputFrames(FrameCount frames, const audio::LSoundSource& filter) const override {
    // A pitch change keeps the length exactly, whatever the rounding of its stages.
    return kind_ == SpeedKind::PitchOnly ? frames : filter.length();
  }

 private:
  SpeedKind kind_;
  double r_;
};

// The whole chain through the converters into a new chain of the new format, which
// then replaces the old one.
PassResult Reformat(AudioChain& chain, std::int32_t rate, int channels, const ProgressFn& progress) {
  std::string message;
  SourceHandle src = audio::ConvertFormat(SourceHandle(core::ChainOpenSource(chain)), rate, channels, &message);
  if (!src) return Outcome::Failed(message);
  AudioChain result(chain.store());
  {
    auto sink = core::ChainOpenSink(result, static_cast<std::uint32_t>(rate), channels);
    const audio::TransferOutcome t = audio::Transfer(*src, *sink, progress);
    if (!t.done()) return t;
    if (!sink->Finish()) return Outcome::Failed(sink->failureMessage());
  }
  result.sampleRate = static_cast<std::uint32_t>(rate);
  result.channels = channels;
  chain = std::move(result);
  return {Outcome::Done(), true};
}

}  // namespace

PassResult ChangeSpeed(const EffectParams& params, SpeedKind kind, int percent,
                       const ProgressFn& progress) {
  const double r = audio::ClampSpeedFactor(percent * 0.01);
  if (r == 1.0) return {};
  SpeedFactory f(kind, r);
  return RunFilterPass(params, f, progress);
}

namespace {
constexpr std::string_view kSpeedTooHigh = "Speed Change Percent must be less than 300.";
}  // namespace

SourceHandle PreviewSpeed(SourceHandle selection, SpeedKind kind, std::int64_t percent,
                          std::string* refusal) {
  if (percent > kMaxSpeedPercent) {
    if (refusal) *refusal = kSpeedTooHigh;
    return {};
  }
  SpeedFactory f(kind, audio::ClampSpeedFactor(static_cast<double>(percent) * 0.01));
  return f.Build(std::move(selection));
}

Status CheckSampleRate(std::int64_t rate) {
  if (rate >= audio::kMinSampleRate && rate <= audio::kMaxSampleRate) return Status::Ok();
  return Status::Error(std::string(kSampleRateRangeMessage), "");
}

PassResult ConvertSampleRate(AudioChain& chain, std::int64_t rate, const ProgressFn& progress) {
  const Status s = CheckSampleRate(rate);
  if (!s.ok()) return Outcome::Failed(s.message);
  if (rate == chain.sampleRate) return {};
  return Reformat(chain, static_cast<std::int32_t>(rate), chain.channels, progress);
}

PassResult ConvertChannelCount(AudioChain& chain, int channels, const ProgressFn& progress) {
  if (channels != 1 && channels != 2) return Outcome::Failed("Only mono and stereo are supported.");
  if (channels == chain.channels) return {};
  return Reformat(chain, static_cast<std::int32_t>(chain.sampleRate), channels, progress);
}

namespace {

constexpr std::string_view kSpeedTooLow = "Speed Change Percent must be at least 10.";
constexpr core::ParamInfo SpeedField(std::string_view storedKey) {
  return {.name = "PCT", .label = "Speed Change &Percent:", .key = storedKey, .def = 100,
          .min = kMinSpeedPercent, .max = kMaxSpeedPercent, .unit = "%",
          .rangeMessage = kSpeedTooHigh, .lowMessage = kSpeedTooLow};
}
constexpr core::ParamInfo kSpeedAndPitchFields[] = {SpeedField("SpSpeedPitch")};
constexpr core::ParamInfo kSpeedFields[] = {SpeedField("ConstPitchSpeed")};
constexpr core::ParamInfo kPitchFields[] = {SpeedField("ConstSpeedPitch")};

constexpr core::ParamInfo kSampleRateFields[] = {
    {.name = "HZ", .label = "&Sample Rate:", .def = 44100, .min = audio::kMinSampleRate,
     .max = audio::kMaxSampleRate, .unit = "Hz",
     .rangeMessage = kSampleRateRangeMessage, .required = true}};

constexpr core::ParamInfo kChannelsFields[] = {
    {.name = "N", .label = "&Channels:", .def = 1, .min = 1, .max = 2,
     .rangeMessage = "The channels must be 1 (mono) or 2 (stereo).", .required = true}};

}  // namespace

const core::ParamTable kSpeedAndPitchTable{"Speed and Pitch Change", kSpeedAndPitchFields};
const core::ParamTable kSpeedTable{"Speed Change", kSpeedFields};
const core::ParamTable kPitchTable{"Pitch Change", kPitchFields};
const core::ParamTable kSampleRateTable{"Convert Sample Rate", kSampleRateFields};
const core::ParamTable kChannelsTable{"Convert Channels", kChannelsFields};

SpeedParams SpeedParamsOf(const core::ParamSet& v) { return {int(v.Int(0))}; }
Status Validate(const SpeedParams& p) {
  return Status::Refusal(core::CheckValues(kSpeedTable, {p.percent}));
}

}  // namespace quillet::effects
