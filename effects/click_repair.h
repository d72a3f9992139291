#pragma once
// Click and pop repair: automatic detection of short impulses in a high-passed copy
// of the audio, and the straight-line repair that both the automatic and the manual
// command use. Every repair of a pass goes into one streamed output spliced over the
// selection, so the number of repairs costs neither sample files nor quadratic time.

#include <cstdint>

#include "audio/sound.h"
#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

// "Auto Click/Pop Restoration": SENSITIVITY 0..100, MAX_US the longest click in
// microseconds; both stored in section "Settings".
struct ClickParams {
  int sensitivity = 50;
  int maxLengthUs = 450;
};
extern const core::ParamTable kClickPopTable;
ClickParams ClickParamsOf(const core::ParamSet& values);
Status Validate(const ClickParams& p);

// The detector's sizes at a rate: blocks of `block` frames examined in their middle
// half, jumps measured over `lag` frames, clicks at most `maxLength` frames long.
struct ClickGeometry {
  FrameCount block = 0;
  FrameCount lag = 0;
  FrameCount maxLength = 0;
};
ClickGeometry ClickGeometryOf(std::int64_t rate, int maxLengthUs);

// The jump threshold of a block: (S x s / 50 + D + 100) x (s / 10) with s = 100 -
// sensitivity (at least 1). Below s = 10 the last factor is taken as s / 10 in
// proportion instead of the integer 0, so a higher sensitivity never raises it and
// never drops it to nothing.
std::int64_t JumpThreshold(std::int64_t spread, std::int64_t meanJump, int sensitivity);

// Frames 1..L of line (L + 2 frames of one channel, `stride` samples apart) replaced
// by the straight line between frame 0 and frame L + 1, in integer arithmetic.
void StraightLine(audio::Sample* line, int stride, FrameCount frames);

// Finds and repairs clicks in [start, end): a click's repaired frames lie inside the
// selection. *repairs (when given) receives the number of repairs made. Cancelling
// leaves the chain as it was.
PassResult AutoClickRepair(const EffectParams& params, const ClickParams& click,
                           const ProgressFn& progress = {}, std::int64_t* repairs = nullptr);

// Replaces [start, end) of every channel by the straight line between the frames
// around it. The length limit is the command's (CheckManualRepairLength).
PassResult ManualClickRepair(const EffectParams& params);
// Ok for a selection of at most 1 ms of audio, else the refusal under "Quillet".
Status CheckManualRepairLength(FrameCount frames, std::int64_t rate);

}  // namespace quillet::effects
