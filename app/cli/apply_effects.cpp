// The effect rows of quillet-cli apply: each fills its dialog's model from the stored
// values, lets the parameters given override them, refuses what the dialog would
// refuse with the dialog's message, and runs the document command.
#include <algorithm>

#include "app/cli/apply.h"
#include "effects/commands.h"
#include "effects/dialogs.h"

namespace quillet::app {
namespace {

using effects::PercentDialogModel;
using effects::SpeedKind;

int Narrow(long long v) {
  return static_cast<int>(std::clamp<long long>(v, -1'000'000'000, 1'000'000'000));
}

// The percentage of a one-field dialog: parameter 0, or its stored value.
std::optional<int> Percent(ApplyCall& c, const effects::PercentDialogInfo& info) {
  PercentDialogModel m(info);
  m.Load(c.ctx.settings);
  const auto given = NumberParam(c, 0, m.value, info.title);
  if (!given) return std::nullopt;
  m.value = Narrow(*given);
  if (const effects::Status s = m.Validate(); !s.ok()) {
    RefuseApply(c, s.message);
    return std::nullopt;
  }
  return m.value;
}

template <const effects::PercentDialogInfo& Dialog,
          platform::TaskResult (*F)(core::EditContext&, core::WaveDocument&, int)>
platform::TaskResult PercentCommand(ApplyCall& c) {
  const auto pct = Percent(c, Dialog);
  return pct ? F(c.ctx, c.doc, *pct) : platform::kTaskFailed;
}

template <const effects::PercentDialogInfo& Dialog, SpeedKind Kind>
platform::TaskResult SpeedRow(ApplyCall& c) {
  const auto pct = Percent(c, Dialog);
  return pct ? effects::SpeedCommand(c.ctx, c.doc, Kind, *pct) : platform::kTaskFailed;
}

template <platform::TaskResult (*F)(core::EditContext&, core::WaveDocument&)>
platform::TaskResult Plain(ApplyCall& c) {
  return F(c.ctx, c.doc);
}

// POS/LEVEL;POS/LEVEL;... (each 0..255), or the user's envelope file.
platform::TaskResult EnvelopeRow(ApplyCall& c) {
  if (c.rawParams.empty())
    return effects::EnvelopeCommand(c.ctx, c.doc,
                                    effects::LoadEnvelope(effects::DefaultDataFolder()));
  effects::EnvelopeShape shape;
  std::string_view text = c.rawParams;
  while (!text.empty()) {
    const std::size_t semi = text.find(';');
    const std::string_view point = text.substr(0, semi);
    text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    const std::size_t slash = point.find('/');
    const auto pos =
        slash == std::string_view::npos ? std::nullopt : ParseWholeNumber(point.substr(0, slash));
    const auto level = pos ? ParseWholeNumber(point.substr(slash + 1)) : std::nullopt;
    if (!level || *pos < 0 || *pos > 255 || *level < 0 || *level > 255)
      return RefuseApply(c, "Envelope points are POS/LEVEL with both from 0 to 255, not \"" +
                                std::string(point) + "\"");
    shape.push_back({static_cast<std::uint8_t>(*pos), static_cast<std::uint8_t>(*level)});
  }
  if (!effects::IsValidEnvelope(shape) || shape.size() > effects::kMaxEnvelopePoints)
    return RefuseApply(c, "An envelope needs 2 to " + std::to_string(effects::kMaxEnvelopePoints) +
                              " points with rising positions.");
  return effects::EnvelopeCommand(c.ctx, c.doc, shape);
}

platform::TaskResult CrossFadeRow(ApplyCall& c) {
  effects::CrossFadeDialogModel m;
  m.Load(c.ctx.settings);
  const auto gap = NumberParam(c, 0, m.params.gapMs, "The gap time");
  const auto in = gap ? NumberParam(c, 1, m.params.fadeInMs, "The fade in time") : std::nullopt;
  const auto out = in ? NumberParam(c, 2, m.params.fadeOutMs, "The fade out time") : std::nullopt;
  if (!out) return platform::kTaskFailed;
  m.params = {Narrow(*gap), Narrow(*in), Narrow(*out)};
  if (const effects::Status s = m.Validate(); !s.ok()) return RefuseApply(c, s.message);
  return effects::CrossFadeCommand(c.ctx, c.doc, m.params);
}

platform::TaskResult RateRow(ApplyCall& c) {
  if (c.params.empty()) return RefuseApply(c, "Name the new rate: rate:HZ");
  std::int64_t rate = 0;
  if (!ParseWholeNumber(c.params[0]))
    return RefuseApply(c, "The sample rate must be a whole number, not \"" + c.params[0] + "\"");
  if (const effects::Status s = effects::ParseSampleRate(c.params[0], rate); !s.ok())
    return RefuseApply(c, s.message);
  return effects::ConvertSampleRateCommand(c.ctx, c.doc, rate);
}

platform::TaskResult ChannelsRow(ApplyCall& c) {
  const auto n = c.params.empty() ? std::nullopt : ParseWholeNumber(c.params[0]);
  if (!n || (*n != 1 && *n != 2))
    return RefuseApply(c, "The channels must be 1 (mono) or 2 (stereo).");
  return effects::ConvertChannelsCommand(c.ctx, c.doc, static_cast<int>(*n));
}

constexpr ApplyCommand kEffectCommands[] = {
    {"amplify", "PCT", ApplyKind::Effect,
     &PercentCommand<effects::kAmplifyDialog, effects::AmplifyCommand>},
    {"normalize", "PCT", ApplyKind::Effect,
     &PercentCommand<effects::kNormalizeDialog, effects::NormalizeCommand>},
    {"fade-in", "", ApplyKind::Effect, &Plain<effects::FadeInCommand>},
    {"fade-out", "", ApplyKind::Effect, &Plain<effects::FadeOutCommand>},
    {"fade-out-trim", "", ApplyKind::Effect, &Plain<effects::FadeOutAndTrimCommand>},
    {"envelope", "POS/LEVEL;POS/LEVEL;...", ApplyKind::Effect, &EnvelopeRow},
    {"dc-offset", "", ApplyKind::Effect, &Plain<effects::DcOffsetCommand>},
    {"reverse", "", ApplyKind::Effect, &Plain<effects::ReverseCommand>},
    {"pan", "POS", ApplyKind::Effect,
     &PercentCommand<effects::kStereoPanDialog, effects::StereoPanCommand>},
    {"cross-fade", "GAP_MS,IN_MS,OUT_MS", ApplyKind::Effect, &CrossFadeRow},
    {"speed-pitch", "PCT", ApplyKind::Effect,
     &SpeedRow<effects::kSpeedAndPitchDialog, SpeedKind::SpeedAndPitch>},
    {"speed", "PCT", ApplyKind::Effect, &SpeedRow<effects::kSpeedDialog, SpeedKind::SpeedOnly>},
    {"pitch", "PCT", ApplyKind::Effect, &SpeedRow<effects::kPitchDialog, SpeedKind::PitchOnly>},
    {"rate", "HZ", ApplyKind::Effect, &RateRow},
    {"channels", "N", ApplyKind::Effect, &ChannelsRow},
};

}  // namespace

std::span<const ApplyCommand> EffectApplyCommands() { return kEffectCommands; }

}  // namespace quillet::app
