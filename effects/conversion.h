#pragma once
// Speed and pitch effects over a selection, and conversion of a whole document to
// another sample rate or channel count.

#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

enum class SpeedKind { SpeedAndPitch, SpeedOnly, PitchOnly };

inline constexpr int kMaxSpeedPercent = 300;
// The stretch cannot go slower than a tenth: that is the dialogs' lowest value too.
inline constexpr int kMinSpeedPercent = 10;

// The speed dialogs: PCT 10..300 (100 = no change), each stored under its own key.
struct SpeedParams {
  int percent = 100;
};
extern const core::ParamTable kSpeedAndPitchTable;
extern const core::ParamTable kSpeedTable;
extern const core::ParamTable kPitchTable;
SpeedParams SpeedParamsOf(const core::ParamSet& values);
Status Validate(const SpeedParams& p);

// The refusal of a rate outside 6000..96000 (the rate dialogs' and New File's).
inline constexpr std::string_view kSampleRateRangeMessage =
    "Sample rates must be between 6000 and 96000 samples per second.";
// "Convert Sample Rate": HZ 6000..96000; "channels": N 1 or 2 (quillet-cli only; the
// menu has a command for each).
extern const core::ParamTable kSampleRateTable;
extern const core::ParamTable kChannelsTable;

// The selection played at percent / 100 (clamped to 0.1..3, whatever reaches it): its length changes by the
// inverse factor for the two speed kinds and stays for the pitch change.
PassResult ChangeSpeed(const EffectParams& params, SpeedKind kind, int percent,
                       const ProgressFn& progress = {});

// The speed dialogs' preview: the selection through the speed filter at percent,
// refused above 300 with the dialog's message (below 10 it is clamped).
SourceHandle PreviewSpeed(SourceHandle selection, SpeedKind kind, std::int64_t percent,
                          std::string* refusal);

// Ok, or the message for a rate outside 6000..96000.
Status CheckSampleRate(std::int64_t rate);
// The whole document at rate (refused outside 6000..96000) or with 1 or 2 channels.
PassResult ConvertSampleRate(AudioChain& chain, std::int64_t rate, const ProgressFn& progress = {});
PassResult ConvertChannelCount(AudioChain& chain, int channels, const ProgressFn& progress = {});

}  // namespace quillet::effects
