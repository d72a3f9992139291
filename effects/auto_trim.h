#pragma once
// Auto trim: the quiet audio at both ends of a document found from its peak files (no
// samples are read), keeping one 256-frame block of margin on each side.

#include <cstdint>
#include <span>
#include <vector>

#include "core/params.h"
#include "effects/pass.h"

namespace quillet::effects {

inline constexpr FrameCount kTrimBlock = 256;
// "Settings"/"AutoTrimThreshold": DB below the loudest peak that still counts as sound.
extern const core::ParamTable kAutoTrimTable;

// The loudest peak byte (0..255, 255 = 16-bit full scale) of every 256-frame block of
// chain, over its channels, with the segment gains applied and silent segments as 0.
// Fails when a peak file cannot be read.
Outcome ChainBlockPeaks(const AudioChain& chain, std::vector<std::uint8_t>& peaks,
                        const ProgressFn& progress = {});

struct TrimRange {
  FramePos start = 0, end = 0;
  friend bool operator==(const TrimRange&, const TrimRange&) = default;
};
// What to keep of a document of length frames with these block peaks: from one block
// before the first block louder than the threshold (thresholdDb, clamped to -127..127,
// below the loudest peak) to one block after the last, within [0, length). All of it
// when no block is louder.
TrimRange AutoTrimRange(std::span<const std::uint8_t> peaks, FrameCount length, int thresholdDb);

}  // namespace quillet::effects
