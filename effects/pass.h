#pragma once
// The effect pass: a selection [start, end) of a document's chain is read through a
// filter, written through a sink into a scratch chain, and spliced over the selection.
// The document changes only when the whole output was written; a cancelled or failed
// pass leaves it as it was.

#include <functional>
#include <string>

#include "audio/sound.h"
#include "audio/transfer.h"
#include "core/chain.h"
#include "platform/result.h"

namespace quillet::effects {

using audio::FrameCount;
using audio::FramePos;
using audio::ProgressFn;
using audio::Sample;
using audio::SourceHandle;
using core::AudioChain;
using platform::Outcome;

// What every effect works on: the document's chain and the selection [start, end).
struct EffectParams {
  AudioChain* chain = nullptr;
  FramePos end = 0;
  FramePos start = 0;
};

struct PassResult : Outcome {
  PassResult() = default;
  PassResult(Outcome o, bool changedChain = false) : Outcome(std::move(o)), changed(changedChain) {}
  bool changed = false;  // whether the chain was replaced
};

// Builds the filter an effect runs: a source over input (the selection as frames
// [0, L)) delivering the effect's output, in the document's format.
class LFilterFactory {
 public:
  virtual ~LFilterFactory() = default;
  virtual SourceHandle Build(SourceHandle input) = 0;
  // Output frames for an input of `frames`; by default what the filter reports.
  virtual FrameCount OutputFrames(FrameCount frames, const audio::LSoundSource& filter) const {
    (void)frames;
    return filter.length();
  }
};

// A filter built from a function, for effects that need nothing but a source.
class FunctionFilterFactory final : public LFilterFactory {
 public:
  explicit FunctionFilterFactory(std::function<SourceHandle(SourceHandle)> build)
      : build_(std::move(build)) {}
  SourceHandle Build(SourceHandle input) override { return build_(std::move(input)); }

 private:
  std::function<SourceHandle(SourceHandle)> build_;
};

// The selection clamped to the chain: [start, end) with 0 <= start <= end <= length.
// False when nothing is left (end before start, or an empty range).
bool ClampSelection(const AudioChain& chain, FramePos& start, FramePos& end);

// A source delivering [start, end) of chain as frames [0, end - start).
SourceHandle SelectionSource(const AudioChain& chain, FramePos start, FramePos end);

// Writes `frames` frames of producer (which must have the chain's channel count) into
// a scratch chain of the chain's format, in blocks of at most 8192 frames, then
// replaces [from, to) with it. progress(done, frames) returning false cancels; a
// producer that fails a read fails the pass with its reason.
PassResult SpliceProduced(AudioChain& chain, FramePos from, FramePos to,
                          audio::LSoundSource& producer, FrameCount frames,
                          const ProgressFn& progress);

// The effect pass with a filter. A filter that cannot start fails the pass with its
// reason.
PassResult RunFilterPass(const EffectParams& params, LFilterFactory& factory,
                         const ProgressFn& progress = {});

// progress for one part of a longer run: this part's done / total reported as the
// stretch from fromPct to toPct of the whole. Empty when progress is.
ProgressFn ProgressPart(const ProgressFn& progress, int fromPct, int toPct);

// Reads [start, end) of chain in blocks, handing each to visit(block); progress as above.
// Done, cancelled, or failed when a block cannot be read (that block is not visited).
Outcome ScanSelection(const AudioChain& chain, FramePos start, FramePos end,
                      const std::function<void(audio::ConstBlockView)>& visit,
                      const ProgressFn& progress);

}  // namespace quillet::effects
