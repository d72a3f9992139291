#pragma once
// The level, time, speed and format effects as commands on a document, in the shape
// of the Edit commands (core/edit_commands.h): refuse a busy document, stop playback,
// select all of the audio when nothing is selected, push an undo entry under the
// command's name, run the effect as a task with its progress texts, then move the
// selection and cursor and play from just before the change when
// "AutoPlaybackAfterEffects" is set. A cancelled or failed effect leaves the audio as
// it was (the pushed entry stays, as for edits).
//
// The values come from the front end, which fills them through the units' parameter
// tables (stored values, presets, validation); the commands clamp them again, since
// stored values and scripts reach them without a dialog.
//
// Each returns a task result: kTaskDone, kTaskCancelled, or kTaskFailed with the
// reason in ctx.message. Their IDs, texts and enable rules are registered in
// effects/registry.h.

#include <cstdint>

#include "core/document.h"
#include "core/edit_services.h"
#include "effects/click_repair.h"
#include "effects/conversion.h"
#include "effects/dynamics.h"
#include "effects/echo.h"
#include "effects/equalizer.h"
#include "effects/high_pass.h"
#include "effects/levels.h"
#include "platform/result.h"

namespace quillet::effects {

using core::EditContext;
using core::WaveDocument;

// Segment gains of the selection times percent / 100 (0..400); no task, no samples.
platform::TaskResult AmplifyCommand(EditContext& ctx, WaveDocument& doc, int percent);
// The selection's peak brought to percent (0..100) of full scale.
platform::TaskResult NormalizeCommand(EditContext& ctx, WaveDocument& doc, int percent);
// Fade in and out need a selection (they are disabled without one).
platform::TaskResult FadeInCommand(EditContext& ctx, WaveDocument& doc);
platform::TaskResult FadeOutCommand(EditContext& ctx, WaveDocument& doc);
// Fade out, then the audio after the selection is cut off.
platform::TaskResult FadeOutAndTrimCommand(EditContext& ctx, WaveDocument& doc);
// The user's shape (LoadEnvelope of the data folder, or the envelope dialog's).
platform::TaskResult EnvelopeCommand(EditContext& ctx, WaveDocument& doc,
                                     const EnvelopeShape& shape);
platform::TaskResult DcOffsetCommand(EditContext& ctx, WaveDocument& doc);
platform::TaskResult ReverseCommand(EditContext& ctx, WaveDocument& doc);
// Stereo documents only: a mono one gets the "Convert to Stereo Required" question
// through ctx.prompter (or ctx.message without one) and nothing changes.
platform::TaskResult StereoPanCommand(EditContext& ctx, WaveDocument& doc, int position);
// Around the selection (the dialog's edited start and end are set as the selection
// first). Afterwards nothing is selected and the cursor is at the join, the
// selection start.
platform::TaskResult CrossFadeCommand(EditContext& ctx, WaveDocument& doc,
                                      const CrossFadeParams& params);
// The filters and delays over the selection; each clamps its values itself.
platform::TaskResult HighPassCommand(EditContext& ctx, WaveDocument& doc, HighPassParams p);
platform::TaskResult EqualizerCommand(EditContext& ctx, WaveDocument& doc, const EqualizerCurve& curve);
platform::TaskResult EchoCommand(EditContext& ctx, WaveDocument& doc, EchoParams p);
platform::TaskResult ReverbCommand(EditContext& ctx, WaveDocument& doc, ReverbParams p);
// The selection at percent (clamped to 10..300) speed; afterwards the selection covers
// the changed audio.
platform::TaskResult SpeedCommand(EditContext& ctx, WaveDocument& doc, SpeedKind kind, int percent);
// The whole document at rate (6000..96000, else refused with the dialog's message) or
// with 1 or 2 channels. The selection keeps its times.
platform::TaskResult ConvertSampleRateCommand(EditContext& ctx, WaveDocument& doc,
                                              std::int64_t rate);
platform::TaskResult ConvertChannelsCommand(EditContext& ctx, WaveDocument& doc, int channels);
// Detection and repair of clicks over the selection (there must be one).
platform::TaskResult ClickPopAutoCommand(EditContext& ctx, WaveDocument& doc,
                                         const ClickParams& params);
// The straight-line repair of a selection of at most 1 ms; a longer one is refused with
// a message box (or ctx.message without a prompter).
platform::TaskResult ClickPopManualCommand(EditContext& ctx, WaveDocument& doc);

platform::TaskResult CompressorCommand(EditContext& ctx, WaveDocument& doc,
                                       const CompressorParams& params);
platform::TaskResult NoiseGateCommand(EditContext& ctx, WaveDocument& doc, int levelDb);
platform::TaskResult AutoGainControlCommand(EditContext& ctx, WaveDocument& doc);
// Cuts the quiet audio at both ends of the document (the selection plays no part) at
// thresholdDb below its loudest peak. Afterwards the cursor is at the start, whatever
// the result.
platform::TaskResult AutoTrimCommand(EditContext& ctx, WaveDocument& doc, int thresholdDb);
// Spectral subtraction of the selection's own noise profile at percentile.
platform::TaskResult NoiseReductionAutoCommand(EditContext& ctx, WaveDocument& doc, int percentile);
// Makes [from, to) (the selection in the editor) the noise profile ctx.session keeps;
// the document does not change. More than 8 seconds is refused with its own caption.
platform::TaskResult GrabNoiseCommand(EditContext& ctx, WaveDocument& doc, FramePos from,
                                      FramePos to);
// Spectral subtraction of the grabbed profile; refused without one, or when it was made
// for another rate or channel count.
platform::TaskResult NoiseReductionCommand(EditContext& ctx, WaveDocument& doc);

}  // namespace quillet::effects
