#pragma once
// Mixing audio over a range of a document: Paste Mix and Mix File.

#include <cstdint>

#include "core/chain.h"
#include "core/edit_task.h"

namespace quillet::core {

// What to do when the mixed audio is longer than the range.
enum class MixLonger : int {
  InsertSilence = 0,     // silence is inserted after the range to make room
  IncreaseSelection = 1, // the mix runs on over the audio after the range
  FadeOut = 2,           // only the range is mixed, the mix fading out at its end
};

struct MixParams {
  int volumePct = 100;  // 0..100
  int pan = 50;         // 0 left .. 100 right; a mono document ignores it
  MixLonger longer = MixLonger::IncreaseSelection;
  FrameCount fadeFrames = 250;  // length of the fade for FadeOut, in frames
};

// 8.24 gains of the two channels: left (100 - pan) x volume / 50 %, right
// pan x volume / 50 %, so both are the volume at the centre.
struct MixGains {
  std::int64_t left = 0, right = 0;
};
MixGains MixChannelGains(int volumePct, int pan);

struct MixOutcome {
  platform::TaskResult result = platform::kTaskDone;
  FrameCount mixedFrames = 0;  // frames of the document that were mixed over, from `from`
};

// Mixes mix (converted to doc's format first) over [from, to) of doc under task:
// samples are added, scaled by the gains, with 64-bit products and no clipping
// beyond the sample word. doc changes only when the whole mix is done.
MixOutcome MixIntoChain(EditContext& ctx, EditTask& task, AudioChain& doc, FramePos from,
                        FramePos to, const AudioChain& mix, const MixParams& params);

}  // namespace quillet::core
