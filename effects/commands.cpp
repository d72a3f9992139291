#include "effects/commands.h"

#include <functional>
#include <optional>

#include "core/edit_commands.h"
#include "core/edit_task.h"
#include "effects/auto_trim.h"
#include "effects/gain_control.h"
#include "effects/noise_reduction.h"
#include "effects/pan.h"

namespace quillet::effects {
namespace {

using platform::kTaskDone;
using platform::kTaskFailed;

constexpr char kPleaseWait[] = "Please wait...";
constexpr char kProcessAudio[] = "Process Audio";
constexpr char kSpeedText[] = "Speed and Pitch Change";

struct EffectRecipe {
  const char* undoName;  // also the progress window's caption unless one is given
  const char* text;      // the window's first line; nullptr: runs without a task
  const char* caption = nullptr;
  const char* secondLine = kPleaseWait;
  bool needsSelection = false;  // otherwise all of the audio is selected when nothing is
  bool wholeDocument = false;   // the selection is left alone (conversions)
};

// The pass on the selection [params.start, params.end) of a copy of the chain; task is
// null for effects that run without one.
using PassFn = std::function<PassResult(const EffectParams&, platform::LProgressDialog* task)>;
// Runs before the entry is pushed: a result ends the command there (a refusal with
// ctx.message set, or kTaskDone when there is nothing to do).
using CheckFn = std::function<std::optional<platform::TaskResult>()>;
// Places selection and cursor once the new audio is in; by default the selection
// stays where it was.
using AfterFn = std::function<void(FramePos start, FramePos end, FrameCount oldLength)>;

ProgressFn Progress(platform::LProgressDialog* task) {
  return task ? core::TaskProgress(*task) : ProgressFn{};
}

platform::TaskResult RunEffect(EditContext& ctx, WaveDocument& doc, const EffectRecipe& info,
                               const PassFn& pass, const CheckFn& check, const AfterFn& after) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!core::BeginEdit(ctx, guard)) return kTaskFailed;
  if (!info.wholeDocument && !doc.HasSelection()) {
    if (info.needsSelection) return core::FailEdit(ctx, nullptr, "There is no selection.");
    core::SelectAll(doc);
  }
  if (check) {
    if (const std::optional<platform::TaskResult> stop = check()) return *stop;
  }
  const FramePos start = doc.selStart(), end = doc.selEnd();
  const FrameCount oldLength = doc.length();
  doc.PushUndo(info.undoName);
  core::AudioChain work = doc.chain();
  const EffectParams params{&work, end, start};
  PassResult r;
  if (!info.text) {
    r = pass(params, nullptr);
    if (r.result == kTaskFailed) return core::FailEdit(ctx, nullptr, r.message);
  } else {
    const platform::TaskResult result = core::RunEditTask(
        ctx, info.caption ? info.caption : info.undoName, [&](core::EditTask& task) {
          task.SetText(0, info.text);
          task.SetText(1, info.secondLine);
          r = pass(params, &task);
          if (r.result == kTaskFailed) return core::FailEdit(ctx, &task, r.message);
          return r.result;
        });
    if (result != kTaskDone) return result;
  }
  if (r.result != kTaskDone) return r.result;
  if (r.changed) doc.SetChain(std::move(work));
  if (after) after(start, end, oldLength);
  core::AfterEdit(ctx, doc, doc.selStart(), static_cast<FrameCount>(doc.sampleRate()) / 2);
  return kTaskDone;
}

// A cancelled, refused or failed effect leaves the selection as it was too, not the
// whole of the audio it selected to work on.
platform::TaskResult RunEffectCommand(EditContext& ctx, WaveDocument& doc, const EffectRecipe& info,
                                      const PassFn& pass, const CheckFn& check = {},
                                      const AfterFn& after = {}) {
  const FramePos selStart = doc.selStart(), selEnd = doc.selEnd(), cursor = doc.cursor();
  const platform::TaskResult r = RunEffect(ctx, doc, info, pass, check, after);
  const bool moved = doc.selStart() != selStart || doc.selEnd() != selEnd || doc.cursor() != cursor;
  if (r != kTaskDone && moved) doc.SetSelection(selStart, selEnd, cursor);
  return r;
}

// A pass that needs nothing but the selection and the progress.
template <PassResult (*F)(const EffectParams&, const ProgressFn&)>
PassResult Plain(const EffectParams& p, platform::LProgressDialog* task) {
  return F(p, Progress(task));
}

// A refusal under a caption of its own: shown at once where there is a prompter, else
// left in ctx.message for the front end.
platform::TaskResult Refuse(EditContext& ctx, const Status& s, platform::MessageIcon icon,
                            platform::MessageButtons buttons = platform::MessageButtons::Ok) {
  ctx.message = s.message;
  if (ctx.prompter) {
    ctx.prompter->Message(s.message, s.caption, icon, buttons);
    ctx.messageShown = true;
  }
  return kTaskFailed;
}

std::int64_t Scaled(std::int64_t pos, std::int64_t to, std::int64_t from) {
  return from > 0 ? pos * to / from : pos;
}

// Rate or channel conversion of the whole document; the selection, cursor and view
// keep their times at the new rate.
platform::TaskResult ConvertCommand(EditContext& ctx, WaveDocument& doc, std::int64_t rate,
                                    int channels, const CheckFn& check) {
  static constexpr EffectRecipe kRateRecipe{"Convert Sample Rate", kProcessAudio, nullptr,
                                            kPleaseWait,           false,         true};
  static constexpr EffectRecipe kChannelsRecipe{"Convert Channels", kProcessAudio, nullptr,
                                                kPleaseWait,        false,         true};
  const std::int64_t oldRate = doc.sampleRate();
  const FramePos selStart = doc.selStart(), selEnd = doc.selEnd(), cursor = doc.cursor();
  const bool rateChange = rate != oldRate;
  return RunEffectCommand(
      ctx, doc, rateChange ? kRateRecipe : kChannelsRecipe,
      [&](const EffectParams& p, platform::LProgressDialog* task) {
        return rateChange ? ConvertSampleRate(*p.chain, rate, Progress(task))
                          : ConvertChannelCount(*p.chain, channels, Progress(task));
      },
      check,
      [&](FramePos, FramePos, FrameCount) {
        doc.SetSelection(Scaled(selStart, rate, oldRate), Scaled(selEnd, rate, oldRate),
                         Scaled(cursor, rate, oldRate));
        doc.ZoomFull();
      });
}

}  // namespace

platform::TaskResult AmplifyCommand(EditContext& ctx, WaveDocument& doc, int percent) {
  static constexpr EffectRecipe kRecipe{"Amplify", nullptr};
  return RunEffectCommand(
      ctx, doc, kRecipe,
      [percent](const EffectParams& p, platform::LProgressDialog*) { return Amplify(p, percent); });
}

platform::TaskResult NormalizeCommand(EditContext& ctx, WaveDocument& doc, int percent) {
  static constexpr EffectRecipe kRecipe{"Normalize", "Normalizing"};
  return RunEffectCommand(ctx, doc, kRecipe,
                          [percent](const EffectParams& p, platform::LProgressDialog*) {
                            return Normalize(p, percent);
                          });
}

namespace {

platform::TaskResult EnvelopeWith(EditContext& ctx, WaveDocument& doc, const EffectRecipe& info,
                                  const EnvelopeShape& shape) {
  return RunEffectCommand(
      ctx, doc, info,
      [&shape](const EffectParams& p, platform::LProgressDialog* task) {
        return ApplyEnvelope(p, shape, Progress(task));
      },
      [&]() -> std::optional<platform::TaskResult> {
        if (IsValidEnvelope(shape)) return std::nullopt;
        return core::FailEdit(ctx, nullptr,
                              "An envelope needs at least two points in rising order.");
      });
}

}  // namespace

platform::TaskResult FadeInCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{"Fade In", "Envelope", nullptr, kPleaseWait, true};
  return EnvelopeWith(ctx, doc, kRecipe, FadeInShape());
}

platform::TaskResult FadeOutCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{"Fade Out", "Envelope", nullptr, kPleaseWait, true};
  return EnvelopeWith(ctx, doc, kRecipe, FadeOutShape());
}

platform::TaskResult FadeOutAndTrimCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{"Fade Out and Trim", "Envelope"};
  return RunEffectCommand(ctx, doc, kRecipe, &Plain<FadeOutAndTrim>);
}

platform::TaskResult EnvelopeCommand(EditContext& ctx, WaveDocument& doc,
                                     const EnvelopeShape& shape) {
  static constexpr EffectRecipe kRecipe{"Envelope", "Envelope"};
  return EnvelopeWith(ctx, doc, kRecipe, shape);
}

platform::TaskResult DcOffsetCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{"DC Offset Correction", "DC Offset Correction"};
  return RunEffectCommand(ctx, doc, kRecipe, &Plain<DcOffsetCorrection>);
}

platform::TaskResult ReverseCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{"Reverse", "Reversing Sound"};
  return RunEffectCommand(ctx, doc, kRecipe, &Plain<Reverse>);
}

platform::TaskResult StereoPanCommand(EditContext& ctx, WaveDocument& doc, int position) {
  static constexpr EffectRecipe kRecipe{"Stereo Pan", "Stereo Pan", nullptr, kProcessAudio};
  return RunEffectCommand(
      ctx, doc, kRecipe,
      [position](const EffectParams& p, platform::LProgressDialog* task) {
        return StereoPan(p, position, Progress(task));
      },
      [&]() -> std::optional<platform::TaskResult> {
        const Status s = CheckStereo(doc.channels(), ctx.frontEnd);
        if (s.ok()) return std::nullopt;
        return Refuse(ctx, s, platform::MessageIcon::Question, platform::MessageButtons::OkCancel);
      });
}

platform::TaskResult CrossFadeCommand(EditContext& ctx, WaveDocument& doc,
                                      const CrossFadeParams& params) {
  static constexpr EffectRecipe kRecipe{"Cross Fade", "Cross Fading", "Cross Fading"};
  return RunEffectCommand(
      ctx, doc, kRecipe,
      [&params](const EffectParams& p, platform::LProgressDialog* task) {
        return CrossFade(p, params, Progress(task));
      },
      {}, [&doc](FramePos start, FramePos, FrameCount) { doc.SetSelection(start, start, start); });
}

platform::TaskResult HighPassCommand(EditContext& ctx, WaveDocument& doc, HighPassParams hp) {
  static constexpr EffectRecipe kRecipe{"High-Pass Filter", "Low Cut Filter"};
  return RunEffectCommand(ctx, doc, kRecipe, [hp](const EffectParams& p, platform::LProgressDialog* task) {
    return HighPass(p, hp, Progress(task));
  });
}

platform::TaskResult EqualizerCommand(EditContext& ctx, WaveDocument& doc, const EqualizerCurve& curve) {
  static constexpr EffectRecipe kRecipe{"Equalizer", "Equalizing"};
  return RunEffectCommand(
      ctx, doc, kRecipe,
      [&curve](const EffectParams& p, platform::LProgressDialog* task) {
        return Equalize(p, curve, Progress(task));
      },
      [&]() -> std::optional<platform::TaskResult> {
        if (IsValidEnvelope(curve)) return std::nullopt;
        return core::FailEdit(ctx, nullptr, "An equalizer curve needs at least two points in rising order.");
      });
}

platform::TaskResult EchoCommand(EditContext& ctx, WaveDocument& doc, EchoParams e) {
  static constexpr EffectRecipe kRecipe{"Echo", "Echo"};
  return RunEffectCommand(ctx, doc, kRecipe, [e](const EffectParams& p, platform::LProgressDialog* task) {
    return Echo(p, e, Progress(task));
  });
}

platform::TaskResult ReverbCommand(EditContext& ctx, WaveDocument& doc, ReverbParams r) {
  static constexpr EffectRecipe kRecipe{"Reverb", "Reverb"};
  return RunEffectCommand(ctx, doc, kRecipe, [r](const EffectParams& p, platform::LProgressDialog* task) {
    return Reverb(p, r, Progress(task));
  });
}

platform::TaskResult SpeedCommand(EditContext& ctx, WaveDocument& doc, SpeedKind kind,
                                  int percent) {
  static constexpr EffectRecipe kRecipes[] = {{"Speed and Pitch Change", kSpeedText},
                                              {"Speed Change", kSpeedText},
                                              {"Pitch Change", kSpeedText}};
  return RunEffectCommand(
      ctx, doc, kRecipes[static_cast<int>(kind)],
      [kind, percent](const EffectParams& p, platform::LProgressDialog* task) {
        ProgressFn progress = Progress(task);
        if (task) {
          // The first line tells once the audio is flowing through the filters.
          progress = [task, inner = std::move(progress), shown = false](FrameCount done,
                                                                        FrameCount total) mutable {
            if (!shown) task->SetText(0, kProcessAudio);
            shown = true;
            return inner(done, total);
          };
        }
        return ChangeSpeed(p, kind, percent, progress);
      },
      {},
      [&doc](FramePos start, FramePos end, FrameCount oldLength) {
        doc.SetSelection(start, end + (doc.length() - oldLength), doc.cursor());
      });
}

platform::TaskResult ConvertSampleRateCommand(EditContext& ctx, WaveDocument& doc,
                                              std::int64_t rate) {
  return ConvertCommand(ctx, doc, rate, doc.channels(),
                        [&]() -> std::optional<platform::TaskResult> {
                          const Status s = CheckSampleRate(rate);
                          if (!s.ok()) return core::FailEdit(ctx, nullptr, s.message);
                          if (rate == doc.sampleRate())
                            return kTaskDone;  // nothing to convert, nothing to undo
                          return std::nullopt;
                        });
}

platform::TaskResult ConvertChannelsCommand(EditContext& ctx, WaveDocument& doc, int channels) {
  return ConvertCommand(
      ctx, doc, doc.sampleRate(), channels, [&]() -> std::optional<platform::TaskResult> {
        if (channels != 1 && channels != 2)
          return core::FailEdit(ctx, nullptr, "Only mono and stereo are supported.");
        if (channels == doc.channels()) return kTaskDone;
        return std::nullopt;
      });
}

platform::TaskResult CompressorCommand(EditContext& ctx, WaveDocument& doc,
                                       const CompressorParams& params) {
  static constexpr EffectRecipe kRecipe{"Dynamic Range Compressor", "Dynamic Range Compressor"};
  return RunEffectCommand(ctx, doc, kRecipe,
                          [&params](const EffectParams& p, platform::LProgressDialog* task) {
                            return Compress(p, params, Progress(task));
                          });
}

platform::TaskResult NoiseGateCommand(EditContext& ctx, WaveDocument& doc, int levelDb) {
  static constexpr EffectRecipe kRecipe{"Noise Reduction", "Noise Reduction"};
  return RunEffectCommand(ctx, doc, kRecipe,
                          [levelDb](const EffectParams& p, platform::LProgressDialog* task) {
                            return NoiseGate(p, levelDb, Progress(task));
                          });
}

platform::TaskResult AutoGainControlCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{
      "Automatic Gain Control", "Performing Automatic Gain Control", nullptr, "Please Wait..."};
  return RunEffectCommand(ctx, doc, kRecipe, &Plain<AutomaticGainControl>);
}

platform::TaskResult AutoTrimCommand(EditContext& ctx, WaveDocument& doc, int thresholdDb) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!core::BeginEdit(ctx, guard)) return kTaskFailed;
  const core::AudioChain chain = doc.chain();
  TrimRange keep{0, doc.length()};
  const platform::TaskResult result =
      core::RunEditTask(ctx, "Auto Trim", [&](core::EditTask& task) {
        task.SetText(0, "AutoTrim");
        task.SetText(1, kPleaseWait);
        std::vector<std::uint8_t> peaks;
        const Outcome o = ChainBlockPeaks(chain, peaks, Progress(&task));
        if (o.result == kTaskFailed) return core::FailEdit(ctx, &task, o.message);
        if (o.done()) keep = AutoTrimRange(peaks, core::ChainLength(chain), thresholdDb);
        return o.result;
      });
  if (result == kTaskDone) {
    doc.PushUndo("Auto Trim");
    core::ChainTrim(doc.mutableChain(), keep.start, keep.end);
    doc.AudioChanged();
    doc.ZoomFull();
    core::AfterEdit(ctx, doc, 0, 0);
  }
  // Cancelled or failed: nothing plays, only the cursor goes back to the start.
  doc.SetCursor(0);
  return result;
}

namespace {

constexpr EffectRecipe kNoiseReductionRecipe{"Noise Reduction", "Noise Reduction",
                                             "Noise Reduction"};

}  // namespace

platform::TaskResult NoiseReductionAutoCommand(EditContext& ctx, WaveDocument& doc,
                                               int percentile) {
  return RunEffectCommand(ctx, doc, kNoiseReductionRecipe,
                          [percentile](const EffectParams& p, platform::LProgressDialog* task) {
                            return SubtractNoiseAuto(p, percentile, Progress(task));
                          });
}

platform::TaskResult GrabNoiseCommand(EditContext& ctx, WaveDocument& doc, FramePos from,
                                      FramePos to) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!core::BeginEdit(ctx, guard)) return kTaskFailed;
  const core::AudioChain chain = doc.chain();
  if (!ClampSelection(chain, from, to))
    return core::FailEdit(ctx, nullptr, "Select the stretch of noise to sample first.");
  if (const Status s = CheckGrabLength(to - from, chain.sampleRate); !s.ok())
    return Refuse(ctx, s, platform::MessageIcon::Error);
  NoiseProfile profile;
  const platform::TaskResult result =
      core::RunEditTask(ctx, "Noise Reduction", [&](core::EditTask& task) {
        task.SetText(0, "Get Noise Sample");
        task.SetText(1, kPleaseWait);
        const Outcome o = GrabNoiseProfile(chain, from, to, profile, Progress(&task));
        if (o.result == kTaskFailed) return core::FailEdit(ctx, &task, o.message);
        return o.result;
      });
  if (result == kTaskDone) ctx.session.Get<GrabbedNoise>().profile = std::move(profile);
  return result;
}

platform::TaskResult NoiseReductionCommand(EditContext& ctx, WaveDocument& doc) {
  static const NoiseProfile kNone;
  const GrabbedNoise* grabbed = ctx.session.Find<GrabbedNoise>();
  const NoiseProfile& profile = grabbed ? grabbed->profile : kNone;
  return RunEffectCommand(
      ctx, doc, kNoiseReductionRecipe,
      [&profile](const EffectParams& p, platform::LProgressDialog* task) {
        return SubtractNoise(p, profile, Progress(task));
      },
      [&]() -> std::optional<platform::TaskResult> {
        const Status s = CheckProfileFits(profile, doc.sampleRate(), doc.channels(), ctx.frontEnd);
        if (s.ok()) return std::nullopt;
        return core::FailEdit(ctx, nullptr, s.message);
      });
}

platform::TaskResult ClickPopAutoCommand(EditContext& ctx, WaveDocument& doc,
                                         const ClickParams& params) {
  static constexpr EffectRecipe kRecipe{"Auto Click/Pop Restoration", "Click/Pop Restoration",
                                        nullptr, kPleaseWait, true};
  return RunEffectCommand(ctx, doc, kRecipe,
                          [&params](const EffectParams& p, platform::LProgressDialog* task) {
                            return AutoClickRepair(p, params, Progress(task));
                          });
}

platform::TaskResult ClickPopManualCommand(EditContext& ctx, WaveDocument& doc) {
  static constexpr EffectRecipe kRecipe{"Manual Click/Pop Repair", nullptr, nullptr, kPleaseWait,
                                        true};
  return RunEffectCommand(
      ctx, doc, kRecipe,
      [](const EffectParams& p, platform::LProgressDialog*) { return ManualClickRepair(p); },
      [&]() -> std::optional<platform::TaskResult> {
        const Status s = CheckManualRepairLength(doc.selEnd() - doc.selStart(), doc.sampleRate());
        if (s.ok()) return std::nullopt;
        ctx.message = s.message;
        if (ctx.prompter) {
          ctx.prompter->Message(s.message, s.caption, platform::MessageIcon::Error,
                                platform::MessageButtons::Ok);
          ctx.messageShown = true;
        }
        return kTaskFailed;
      });
}

}  // namespace quillet::effects
