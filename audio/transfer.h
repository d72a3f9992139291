#pragma once
// Copying a source into a sink: adapt the source to the sink's rate and channels,
// then move blocks of kBlockFrames frames, reporting progress and honouring cancel.

#include <functional>
#include <string>

#include "audio/sound.h"
#include "platform/result.h"

namespace quillet::audio {

struct TransferOutcome : platform::Outcome {
  FrameCount frames = 0;  // frames written into the sink
};

// The most frames one step copies as bytes (Pcm16Span) rather than as samples; a block
// otherwise. Progress and cancel come once a step.
inline constexpr FrameCount kSpanFrames = FrameCount{1} << 18;

// Called after every block with the frames moved so far and the expected total;
// returning false cancels.
using ProgressFn = std::function<bool(FrameCount done, FrameCount total)>;

// Rate and channel converters, supplied by the layer that has them. Each wraps a
// source into one that delivers the asked format. An empty function means that
// conversion is not available.
struct FormatAdaptors {
  std::function<SourceHandle(SourceHandle, int channels)> channels;
  std::function<SourceHandle(SourceHandle, std::int32_t rate)> rate;
};

// source adapted to rate and channels: a source with more channels is reduced before
// the rate conversion, one with fewer is widened after it. Null, with *message set,
// when a needed converter is missing.
SourceHandle AdaptSource(SourceHandle source, std::int32_t rate, int channels,
                         const FormatAdaptors& adaptors, std::string* message);

// Copies from the source's position to its end into sink, as bytes where the source
// offers them and the sink takes them. Fails without writing when
// the formats differ or either side is not usable, and as soon as the sink fails or a
// read fails (that block is not written).
// The sink is not finished: its owner calls Finish and checks it.
TransferOutcome Transfer(LSoundSource& source, LSoundSink& sink, const ProgressFn& progress = {});
// AdaptSource to the sink's format, then Transfer.
TransferOutcome TransferAdapted(SourceHandle source, LSoundSink& sink,
                                const FormatAdaptors& adaptors, const ProgressFn& progress = {});

}  // namespace quillet::audio
