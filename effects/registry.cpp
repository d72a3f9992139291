// Every effect command of this module, each registered once in one list: texts,
// places, enable rule, parameter table and the run that reads it.
#include "effects/registry.h"

#include "core/document.h"
#include "effects/auto_trim.h"
#include "effects/commands.h"
#include "effects/dialogs.h"
#include "effects/noise_reduction.h"
#include "effects/pan.h"

namespace quillet::effects {
namespace {

using core::Command;
using core::CommandCall;
using core::MenuPlace;
using platform::TaskResult;


template <TaskResult (*F)(EditContext&, WaveDocument&)>
TaskResult Plain(CommandCall& c) {
  return (F(c.ctx, *c.doc));
}

template <SpeedKind K>
TaskResult Speed(CommandCall& c) {
  return (SpeedCommand(c.ctx, *c.doc, K, SpeedParamsOf(*c.params).percent));
}

template <SpeedKind K>
audio::SourceHandle SpeedPreview(audio::SourceHandle selection, const core::ParamSet& values,
                                 std::string* refusal) {
  return PreviewSpeed(std::move(selection), K, values.Int(0), refusal);
}

// The equalizer's text: empty for the stored curve, a shape, or a curve.
TaskResult Equalizer(CommandCall& c) {
  EqualizerCurve curve;
  if (const Status s = EqualizerCurveOf(c.params->Text(0), c.ctx.settings, DefaultDataFolder(), curve);
      !s.ok()) {
    c.ctx.message = s.message;
    return platform::kTaskFailed;
  }
  return (EqualizerCommand(c.ctx, *c.doc, curve));
}

audio::SourceHandle HighPassPreview(audio::SourceHandle selection, const core::ParamSet& values,
                                    std::string*) {
  return MakeHighPass(std::move(selection), HighPassParamsOf(values));
}
audio::SourceHandle EchoPreview(audio::SourceHandle selection, const core::ParamSet& values, std::string*) {
  return MakeEcho(std::move(selection), EchoParamsOf(values));
}
audio::SourceHandle ReverbPreview(audio::SourceHandle selection, const core::ParamSet& values,
                                  std::string*) {
  return MakeReverb(std::move(selection), ReverbParamsOf(values));
}
// The filter clamps the values as typed to what its tables take.
audio::SourceHandle CompressorPreview(audio::SourceHandle selection, const core::ParamSet& values,
                                      std::string*) {
  return audio::SourceHandle(
      audio::MakeRef<LCompressorFilter>(std::move(selection), CompressorParamsOf(values)));
}

TaskResult Envelope(CommandCall& c) {
  EnvelopeShape shape;
  const std::string& points = c.params->Text(0);
  if (points.empty()) {
    shape = LoadEnvelope(DefaultDataFolder());
  } else if (const Status s = ParseEnvelope(points, shape); !s.ok()) {
    c.ctx.message = s.message;
    return platform::kTaskFailed;
  }
  return (EnvelopeCommand(c.ctx, *c.doc, shape));
}

// A conversion to what the document already is does nothing, not even stop playback.
template <int Channels>
TaskResult ConvertTo(CommandCall& c) {
  const int channels = c.params ? int(c.params->Int(0)) : Channels;
  if (channels == c.doc->channels()) return platform::kTaskDone;
  return (ConvertChannelsCommand(c.ctx, *c.doc, channels));
}

TaskResult ConvertRate(CommandCall& c) {
  const std::int64_t rate = c.params->Int(0);
  if (rate == c.doc->sampleRate()) return platform::kTaskDone;
  return (ConvertSampleRateCommand(c.ctx, *c.doc, rate));
}

// The editor grabs the selection.
void PrepareGrab(core::ParamSet& values, const WaveDocument* doc) {
  if (!doc) return;
  values.SetInt(0, doc->selStart());
  values.SetInt(1, doc->selEnd());
}

// The rate dialog starts from the document's rate.
void PrepareRate(core::ParamSet& values, const WaveDocument* doc) {
  if (doc) values.SetInt(0, doc->sampleRate());
}

constexpr std::string_view kEffects = "&Effects";
constexpr std::string_view kNoiseMenu = "&Noise Reduction";
constexpr std::uint32_t kAudio = core::kNeedsAudio;
constexpr std::uint32_t kSelected = core::kNeedsAudio | core::kNeedsSelection;

}  // namespace

void RegisterEffectCommands(core::CommandRegistry& r) {
  auto effect = [](int order) { return MenuPlace{kEffects, {}, order, true}; };
  auto noise = [](int order) { return MenuPlace{kEffects, kNoiseMenu, order, true}; };
  auto file = [](int order, std::string_view submenu = {}) {
    return MenuPlace{"&File", submenu, order, false};
  };
  // clang-format off
  const Command commands[] = {
      {.id = core::kCmdAmplify, .menuText = "&Amplify...", .cliName = "amplify",
       .undoLabel = "Amplify", .needs = kAudio, .params = &kAmplifyTable, .place = effect(100),
       .bars = {.effects = 100, .command = 11},
       .macroName = "Amplify", .macroOrder = 110,
       .run = [](CommandCall& c) {
         return (AmplifyCommand(c.ctx, *c.doc, AmplifyParamsOf(*c.params).gainPct));
       }},
      {.id = core::kCmdNormalize, .menuText = "&Normalize...", .cliName = "normalize",
       .undoLabel = "Normalize", .progressText = "Normalizing", .needs = kAudio,
       .params = &kNormalizeTable, .place = effect(110), .bars = {.effects = 110, .command = 12},
       .macroName = "Normalize", .macroOrder = 120,
       .run = [](CommandCall& c) {
         return (NormalizeCommand(c.ctx, *c.doc, NormalizeParamsOf(*c.params).peakPct));
       }},
      {.id = core::kCmdFadeIn, .menuText = "&Fade In", .cliName = "fade-in",
       .undoLabel = "Fade In", .progressText = "Envelope", .needs = kSelected,
       .place = effect(120), .bars = {.effects = 120, .command = 13},
       .run = &Plain<FadeInCommand>},
      {.id = core::kCmdFadeOut, .menuText = "&Fade Out", .cliName = "fade-out",
       .undoLabel = "Fade Out", .progressText = "Envelope", .needs = kSelected,
       .place = effect(130), .bars = {.effects = 130, .command = 14},
       .run = &Plain<FadeOutCommand>},
      {.id = core::kCmdFadeOutAndTrim, .menuText = "Fade Out and &Trim",
       .cliName = "fade-out-trim", .undoLabel = "Fade Out and Trim", .progressText = "Envelope",
       .needs = kAudio, .place = effect(140), .run = &Plain<FadeOutAndTrimCommand>},
      {.id = core::kCmdEnvelope, .menuText = "En&velope...", .cliName = "envelope",
       .undoLabel = "Envelope", .progressText = "Envelope", .needs = kAudio,
       .params = &kEnvelopeTable, .dialog = "envelope", .place = effect(150),
       .bars = {.effects = 160}, .macroName = "Envelope", .macroOrder = 170,
       .run = &Envelope},
      {.id = core::kCmdDcOffset, .menuText = "DCOff&set Correction", .cliName = "dc-offset",
       .undoLabel = "DC Offset Correction", .progressText = "DC Offset Correction",
       .needs = kAudio, .place = effect(160), .macroName = "DC Offset Correction", .macroOrder = 240,
       .run = &Plain<DcOffsetCommand>},
      {.id = core::kCmdReverse, .menuText = "Re&verse", .cliName = "reverse",
       .undoLabel = "Reverse", .progressText = "Reversing Sound", .needs = kAudio,
       .place = effect(170), .bars = {.effects = 170}, .run = &Plain<ReverseCommand>},
      {.id = core::kCmdStereoPan, .menuText = "Stereo Pan...", .cliName = "pan",
       .undoLabel = "Stereo Pan", .progressText = "Stereo Pan", .needs = kAudio,
       .params = &kStereoPanTable, .place = effect(180), .bars = {.effects = 180},
       .run = [](CommandCall& c) {
         return (StereoPanCommand(c.ctx, *c.doc, PanParamsOf(*c.params).position));
       }},
      {.id = core::kCmdCrossFade, .menuText = "CrossFade...", .cliName = "cross-fade",
       .undoLabel = "Cross Fade", .progressText = "Cross Fading",
       .progressCaption = "Cross Fading", .needs = kSelected, .params = &kCrossFadeTable,
       .dialog = "cross-fade", .place = effect(190),
       .run = [](CommandCall& c) {
         return (CrossFadeCommand(c.ctx, *c.doc, CrossFadeParamsOf(*c.params)));
       }},
      {.id = core::kCmdEqualizer, .menuText = "E&qualizer...", .cliName = "equalizer",
       .undoLabel = "Equalizer", .progressText = "Equalizing", .needs = kAudio,
       .params = &kEqualizerTable, .dialog = "equalizer", .place = effect(200),
       .bars = {.effects = 200}, .macroName = "Equalizer", .macroOrder = 140,
       .run = &Equalizer},
      {.id = core::kCmdEqualizerCurve, .cliName = "equalizer-curve", .undoLabel = "Equalizer",
       .progressText = "Equalizing", .needs = kAudio, .params = &kEqualizerCurveTable,
       .dialog = std::string(core::kNoDialog), .run = &Equalizer},
      {.id = core::kCmdHighPass, .menuText = "&High-Pass Filter...", .cliName = "high-pass",
       .undoLabel = "High-Pass Filter", .progressText = "Low Cut Filter", .needs = kAudio,
       .params = &kHighPassTable, .place = effect(210),
       .macroName = "High-Pass Filter", .macroOrder = 130,
       .run = [](CommandCall& c) { return (HighPassCommand(c.ctx, *c.doc, HighPassParamsOf(*c.params))); },
       .preview = &HighPassPreview},
      {.id = core::kCmdEcho, .menuText = "Ech&o...", .cliName = "echo", .undoLabel = "Echo",
       .progressText = "Echo", .needs = kAudio, .params = &kEchoTable, .place = effect(220),
       .bars = {.effects = 210},
       .macroName = "Echo", .macroOrder = 150,
       .run = [](CommandCall& c) { return (EchoCommand(c.ctx, *c.doc, EchoParamsOf(*c.params))); },
       .preview = &EchoPreview},
      {.id = core::kCmdReverb, .menuText = "&Reverb...", .cliName = "reverb", .undoLabel = "Reverb",
       .progressText = "Reverb", .needs = kAudio, .params = &kReverbTable, .place = effect(230),
       .bars = {.effects = 220},
       .macroName = "Reverb", .macroOrder = 160,
       .run = [](CommandCall& c) { return (ReverbCommand(c.ctx, *c.doc, ReverbParamsOf(*c.params))); },
       .preview = &ReverbPreview},
      {.id = core::kCmdSpeedAndPitch, .menuText = "Spee&d and Pitch Change...",
       .cliName = "speed-pitch", .undoLabel = "Speed and Pitch Change",
       .progressText = "Speed and Pitch Change", .needs = kAudio,
       .params = &kSpeedAndPitchTable, .place = effect(300),
       .macroName = "Speed and Pitch Change", .macroOrder = 200,
       .run = &Speed<SpeedKind::SpeedAndPitch>,
       .preview = &SpeedPreview<SpeedKind::SpeedAndPitch>},
      {.id = core::kCmdSpeed, .menuText = "S&peed Change...", .cliName = "speed",
       .undoLabel = "Speed Change", .progressText = "Speed and Pitch Change", .needs = kAudio,
       .params = &kSpeedTable, .place = effect(310), .macroName = "Speed Change", .macroOrder = 210,
       .run = &Speed<SpeedKind::SpeedOnly>,
       .preview = &SpeedPreview<SpeedKind::SpeedOnly>},
      {.id = core::kCmdPitch, .menuText = "&Pitch Change...", .cliName = "pitch",
       .undoLabel = "Pitch Change", .progressText = "Speed and Pitch Change", .needs = kAudio,
       .params = &kPitchTable, .place = effect(320), .macroName = "Pitch Change", .macroOrder = 220,
       .run = &Speed<SpeedKind::PitchOnly>,
       .preview = &SpeedPreview<SpeedKind::PitchOnly>},
      {.id = core::kCmdConvertSampleRate, .menuText = "Convert Sample Rate",
       .description = "Converts the sample rate of the current file.", .cliName = "rate",
       .undoLabel = "Convert Sample Rate", .progressText = "Process Audio",
       .needs = core::kNeedsDocument, .params = &kSampleRateTable, .dialog = "sample-rate",
       .place = file(500), .macroName = "Convert Sample Rate", .macroOrder = 250,
       .run = &ConvertRate, .prepare = &PrepareRate},
      // quillet-cli's "channels:N" reaches either conversion through the first.
      {.id = core::kCmdConvertMono, .menuText = "Mono",
       .description = "Converts current file to mono.", .cliName = "channels",
       .undoLabel = "Convert Channels", .progressText = "Process Audio",
       .needs = core::kNeedsDocument, .params = &kChannelsTable,
       .dialog = std::string(core::kNoDialog), .place = file(510, "Convert Channels"),
       .macroName = "Convert to Mono", .macroOrder = 260,
       .run = &ConvertTo<1>,
       .checked = [](const core::CommandState& s) { return s.doc && s.doc->channels() == 1; }},
      {.id = core::kCmdConvertStereo, .menuText = "Stereo",
       .description = "Converts current file to stereo.", .undoLabel = "Convert Channels",
       .progressText = "Process Audio", .needs = core::kNeedsDocument,
       .place = file(511, "Convert Channels"), .macroName = "Convert to Stereo", .macroOrder = 270,
       .run = &ConvertTo<2>,
       .checked = [](const core::CommandState& s) { return s.doc && s.doc->channels() == 2; }},
      {.id = core::kCmdClickPopAuto, .menuText = "&Auto Click/Pop Restoration...",
       .cliName = "click-pop-auto", .undoLabel = "Auto Click/Pop Restoration",
       .progressText = "Click/Pop Restoration", .needs = kSelected, .params = &kClickPopTable,
       .dialog = "click-pop", .place = effect(400),
       .run = [](CommandCall& c) {
         return (ClickPopAutoCommand(c.ctx, *c.doc, ClickParamsOf(*c.params)));
       }},
      {.id = core::kCmdClickPopManual, .menuText = "&Manual Click/Pop Repair",
       .cliName = "click-pop-manual", .undoLabel = "Manual Click/Pop Repair", .needs = kSelected,
       .place = effect(410), .run = &Plain<ClickPopManualCommand>},
      {.id = core::kCmdCompressor, .menuText = "Dynamic Range Co&mpressor...",
       .cliName = "compressor", .undoLabel = "Dynamic Range Compressor",
       .progressText = "Dynamic Range Compressor", .needs = kAudio, .params = &kCompressorTable,
       .place = effect(420), .macroName = "Dynamic Range Compressor", .macroOrder = 230,
       .run = [](CommandCall& c) {
         return (CompressorCommand(c.ctx, *c.doc, CompressorParamsOf(*c.params)));
       },
       .preview = &CompressorPreview},
      {.id = core::kCmdAutoGainControl, .menuText = "Automatic &Gain Control", .cliName = "agc",
       .undoLabel = "Automatic Gain Control", .progressText = "Performing Automatic Gain Control",
       .needs = kAudio, .place = effect(430), .macroName = "Automatic Gain Control",
       .macroOrder = 180, .run = &Plain<AutoGainControlCommand>},
      {.id = core::kCmdNoiseGate,
       .menuText = "Apply Multi-band Noise Gating... (faster speed, average quality)",
       .cliName = "noise-gate", .undoLabel = "Noise Reduction", .progressText = "Noise Reduction",
       .needs = kAudio, .params = &kNoiseGateTable, .place = noise(500),
       .macroName = "Noise Reduction", .macroOrder = 190,
       .run = [](CommandCall& c) {
         return (NoiseGateCommand(c.ctx, *c.doc, NoiseGateParamsOf(*c.params).levelDb));
       }},
      {.id = core::kCmdNoiseReductionAuto,
       .menuText = "Apply Auto Spectral Subtraction... (slower speed, best quality)",
       .cliName = "noise-reduction-auto", .undoLabel = "Noise Reduction",
       .progressText = "Noise Reduction", .progressCaption = "Noise Reduction", .needs = kAudio,
       .params = &kAutoNoiseReductionTable, .place = noise(510),
       .run = [](CommandCall& c) {
         return (NoiseReductionAutoCommand(c.ctx, *c.doc, int(c.params->Int(0))));
       }},
      {.id = core::kCmdNoiseGrab, .menuText = "Grab Noise Sample from Selected Area",
       .cliName = "noise-grab", .progressText = "Get Noise Sample",
       .progressCaption = "Noise Reduction", .needs = kSelected, .params = &kNoiseGrabTable,
       .dialog = std::string(core::kNoDialog), .place = noise(600),
       .run = [](CommandCall& c) {
         return (GrabNoiseCommand(c.ctx, *c.doc, c.params->Int(0), c.params->Int(1)));
       },
       .prepare = &PrepareGrab},
      {.id = core::kCmdNoiseReduction, .menuText = "Apply Spectral Subtraction Based on Noise Sample",
       .cliName = "noise-reduction", .undoLabel = "Noise Reduction",
       .progressText = "Noise Reduction", .progressCaption = "Noise Reduction", .needs = kAudio,
       .place = noise(610), .run = &Plain<NoiseReductionCommand>},
      {.id = core::kCmdAutoTrim, .menuText = "&Auto Trim", .cliName = "auto-trim",
       .undoLabel = "Auto Trim", .progressText = "AutoTrim", .needs = kAudio,
       .params = &kAutoTrimTable, .dialog = std::string(core::kNoDialog),
       .place = {"&Edit", {}, 450, true}, .range = core::CliRange::Edit,
       .macroName = "Auto Trim", .macroOrder = 30,
       .run = [](CommandCall& c) {
         return (AutoTrimCommand(c.ctx, *c.doc, int(c.params->Int(0))));
       }},
  };
  // clang-format on
  for (const Command& c : commands) r.Add(c);
}

}  // namespace quillet::effects
