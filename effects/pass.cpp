#include "effects/pass.h"

#include <algorithm>
#include <vector>

#include "core/chain_source.h"
#include "core/segment_sink.h"

namespace quillet::effects {

bool ClampSelection(const AudioChain& chain, FramePos& start, FramePos& end) {
  if (end < start) return false;
  const FrameCount len = core::ChainLength(chain);
  start = std::clamp<FramePos>(start, 0, len);
  end = std::clamp<FramePos>(end, 0, len);
  return end > start;
}

SourceHandle SelectionSource(const AudioChain& chain, FramePos start, FramePos end) {
  AudioChain part(chain.store());
  core::ChainCopyRange(chain, start, end, part);
  part.sampleRate = chain.sampleRate;
  part.channels = chain.channels;
  return SourceHandle(core::ChainOpenSource(part));
}

PassResult SpliceProduced(AudioChain& chain, FramePos from, FramePos to,
                          audio::LSoundSource& producer, FrameCount frames,
                          const ProgressFn& progress) {
  PassResult out;
  if (producer.channels() != chain.channels) {
    out.result = kFailed;
    out.message = "The effect delivered " + std::to_string(producer.channels()) +
                  " channels for a document of " + std::to_string(chain.channels) + ".";
    return out;
  }
  AudioChain scratch(chain.store());  // declared first: the sink publishes into it
  auto sink = core::ChainOpenSink(scratch, chain.sampleRate, chain.channels);
  if (sink->failed()) return {kFailed, sink->failureMessage(), false};
  std::vector<audio::Sample> buffer(static_cast<std::size_t>(audio::kBlockFrames) * chain.channels);
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(audio::kBlockFrames, frames - done);
    producer.read(buffer.data(), n);
    sink->write(buffer.data(), n);
    if (sink->failed()) return {kFailed, sink->failureMessage(), false};
    done += n;
    if (progress && !progress(done, frames)) return {kCancelled, {}, false};
  }
  if (!sink->Finish()) return {kFailed, sink->failureMessage(), false};
  sink.reset();
  if (frames == 0) {
    core::ChainDeleteRange(chain, from, to);
  } else if (!core::ChainReplaceRange(chain, from, to, scratch)) {
    return {kFailed, "The effect's output does not fit the document.", false};
  }
  out.changed = true;
  return out;
}

PassResult RunFilterPass(const EffectParams& params, LFilterFactory& factory,
                         const ProgressFn& progress) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  SourceHandle filter = factory.Build(SelectionSource(*params.chain, start, end));
  if (!filter || !filter->ready()) return {kFailed, "The effect could not be started.", false};
  const FrameCount frames = factory.OutputFrames(end - start, *filter);
  return SpliceProduced(*params.chain, start, end, *filter, frames, progress);
}

int ScanSelection(const AudioChain& chain, FramePos start, FramePos end,
                  const std::function<void(audio::ConstBlockView)>& visit,
                  const ProgressFn& progress) {
  if (!ClampSelection(chain, start, end)) return kDone;
  auto src = core::ChainOpenSource(chain);
  src->seek(start);
  const FrameCount total = end - start;
  std::vector<audio::Sample> buffer(static_cast<std::size_t>(audio::kBlockFrames) * chain.channels);
  for (FrameCount done = 0; done < total;) {
    const FrameCount n = std::min(audio::kBlockFrames, total - done);
    src->read(buffer.data(), n);
    visit(audio::ConstBlockView(buffer.data(), chain.channels, n));
    done += n;
    if (progress && !progress(done, total)) return kCancelled;
  }
  return kDone;
}

}  // namespace quillet::effects
