#include "effects/pass.h"

#include <algorithm>
#include <vector>

#include "core/chain_source.h"
#include "core/segment_sink.h"

namespace quillet::effects {
namespace {

// Why a filter is not ready, in the user's words.
std::string StartFailure(const audio::LSoundSource& filter) {
  if (!filter.failureMessage().empty()) return filter.failureMessage();
  if (filter.status() == audio::SoundStatus::Corrupt)
    return "The effect could not be started: the audio's rate or channel count is not supported.";
  return "The effect could not be started.";
}

}  // namespace

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
  if (producer.channels() != chain.channels)
    return Outcome::Failed("The effect delivered " + std::to_string(producer.channels()) +
                           " channels for a document of " + std::to_string(chain.channels) + ".");
  AudioChain scratch(chain.store());  // declared first: the sink publishes into it
  auto sink = core::ChainOpenSink(scratch, chain.sampleRate, chain.channels);
  if (sink->failed()) return Outcome::Failed(sink->failureMessage());
  std::vector<audio::Sample> buffer(static_cast<std::size_t>(audio::kBlockFrames) * chain.channels);
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(audio::kBlockFrames, frames - done);
    producer.read(buffer.data(), n);
    if (producer.failed()) return Outcome::Failed(producer.failureMessage());
    sink->write(buffer.data(), n);
    if (sink->failed()) return Outcome::Failed(sink->failureMessage());
    done += n;
    if (progress && !progress(done, frames)) return Outcome::Cancelled();
  }
  if (!sink->Finish()) return Outcome::Failed(sink->failureMessage());
  sink.reset();
  if (frames == 0) {
    core::ChainDeleteRange(chain, from, to);
  } else if (!core::ChainReplaceRange(chain, from, to, scratch)) {
    return Outcome::Failed("The effect's output does not fit the document.");
  }
  return {Outcome::Done(), true};
}

PassResult RunFilterPass(const EffectParams& params, LFilterFactory& factory,
                         const ProgressFn& progress) {
  FramePos start = params.start, end = params.end;
  if (!params.chain || !ClampSelection(*params.chain, start, end)) return {};
  SourceHandle filter = factory.Build(SelectionSource(*params.chain, start, end));
  if (!filter) return Outcome::Failed("The effect could not be started.");
  if (!filter->ready()) return Outcome::Failed(StartFailure(*filter));
  const FrameCount frames = factory.OutputFrames(end - start, *filter);
  return SpliceProduced(*params.chain, start, end, *filter, frames, progress);
}

ProgressFn ProgressPart(const ProgressFn& progress, int fromPct, int toPct) {
  if (!progress) return {};
  return [progress, fromPct, toPct](FrameCount done, FrameCount total) {
    if (total <= 0) return progress(fromPct, 100);
    // Parts per million, so that long runs still move the bar smoothly.
    const double share =
        fromPct + (toPct - fromPct) * static_cast<double>(done) / static_cast<double>(total);
    return progress(static_cast<FrameCount>(share * 10000), 1000000);
  };
}

Outcome ScanSelection(const AudioChain& chain, FramePos start, FramePos end,
                      const std::function<void(audio::ConstBlockView)>& visit,
                      const ProgressFn& progress) {
  if (!ClampSelection(chain, start, end)) return {};
  auto src = core::ChainOpenSource(chain);
  src->seek(start);
  const FrameCount total = end - start;
  std::vector<audio::Sample> buffer(static_cast<std::size_t>(audio::kBlockFrames) * chain.channels);
  for (FrameCount done = 0; done < total;) {
    const FrameCount n = std::min(audio::kBlockFrames, total - done);
    src->read(buffer.data(), n);
    if (src->failed()) return Outcome::Failed(src->failureMessage());
    visit(audio::ConstBlockView(buffer.data(), chain.channels, n));
    done += n;
    if (progress && !progress(done, total)) return Outcome::Cancelled();
  }
  return {};
}

}  // namespace quillet::effects
