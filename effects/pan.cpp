#include "effects/pan.h"

#include <algorithm>
#include <cmath>

#include "effects/gain.h"
#include "effects/levels.h"

namespace quillet::effects {

LChannelMixer::LChannelMixer(SourceHandle input, const std::array<std::vector<int>, 2>& rows)
    : LSoundSource(input->sampleRate(), 2,
                   // Two channels at up to +3 dB each can reach about 2.8 times the input.
                   static_cast<std::uint32_t>(std::min<std::uint64_t>(input->peakBound() * 3ULL, UINT32_MAX))),
      input_(std::move(input)) {
  FollowInput(*input_);
  for (std::size_t o = 0; o < 2; ++o) {
    gains_[o].assign(static_cast<std::size_t>(input_->channels()), 0);
    for (std::size_t i = 0; i < gains_[o].size() && i < rows[o].size(); ++i)
      // The bottom of the table means "not at all" here: a panned-away channel is silent.
      gains_[o][i] = rows[o][i] <= kMinDecibel ? 0 : DecibelGain(rows[o][i]);
  }
}

void LChannelMixer::read(audio::Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int inCh = input_->channels();
  in_.resize(static_cast<std::size_t>(frames) * inCh);
  input_->read(in_.data(), frames);
  for (FrameCount f = 0; f < frames; ++f) {
    const audio::Sample* x = in_.data() + f * inCh;
    for (std::size_t o = 0; o < 2; ++o) {
      std::int64_t sum = 0;
      for (int i = 0; i < inCh; ++i) sum += GainProduct(x[i], gains_[o][static_cast<std::size_t>(i)]);
      buffer[f * 2 + static_cast<FrameCount>(o)] = audio::SaturateSample(sum);
    }
  }
}

SourceHandle MakeChannelMixer(SourceHandle input, const std::array<std::vector<int>, 2>& rows) {
  if (!input || input->length() == 0) return input;
  return SourceHandle(audio::MakeRef<LChannelMixer>(std::move(input), rows));
}

std::array<std::vector<int>, 2> PanRows(int position) {
  const double p = std::clamp(position, 0, 100) / 100.0;  // no root of a negative number
  const auto gain = [](double share) {
    return static_cast<std::int64_t>(std::sqrt(share) * 1.4142 * static_cast<double>(kUnity));
  };
  const int a = DecibelOfGain(gain(1 - p)), b = DecibelOfGain(gain(p));
  return {std::vector<int>{a, b}, std::vector<int>{b, a}};
}

Status CheckStereo(int channels, core::FrontEnd frontEnd) {
  if (channels == 2) return Status::Ok();
  return Status::Error(
      "This effect can only be applied to stereo file. Please convert the file to stereo by using " +
          std::string(core::CommandWording(frontEnd, "File->Convert Channels->Stereo", "channels:2")) +
          " and try again.",
      "Convert to Stereo Required");
}

PassResult StereoPan(const EffectParams& params, int position, const ProgressFn& progress) {
  if (!params.chain) return {};
  const Status s = CheckStereo(params.chain->channels);
  if (!s.ok()) return Outcome::Failed(s.message);
  const auto rows = PanRows(position);
  FunctionFilterFactory f([&](SourceHandle in) { return MakeChannelMixer(std::move(in), rows); });
  return RunFilterPass(params, f, progress);
}

namespace {

constexpr core::ParamInfo kPanFields[] = {
    {.name = "POS", .label = "&Stereo Pan (L - R):", .key = "StereoPan", .def = kDefaultPan,
     .min = 0, .max = 100, .rangeMessage = "Stereo Pan must be between 0 and 100."}};

}  // namespace

const core::ParamTable kStereoPanTable{"Stereo Pan", kPanFields};

PanParams PanParamsOf(const core::ParamSet& v) { return {int(v.Int(0))}; }
Status Validate(const PanParams& p) {
  return Status::Refusal(core::CheckValues(kStereoPanTable, {p.position}));
}

}  // namespace quillet::effects
