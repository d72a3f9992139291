#include "devices/record_command.h"

#include "core/chain_source.h"
#include "core/edit_task.h"
#include "platform/frame_time.h"
#include "platform/task.h"

namespace quillet::devices {

using core::AudioChain;
using core::FrameCount;
using core::FramePos;

RecordingTake::RecordingTake(core::SegmentStore& store, std::uint32_t rate, int channels)
    : recording_(&store), take_(&store) {
  recording_.sampleRate = take_.sampleRate = rate;
  recording_.channels = take_.channels = channels;
}

void RecordingTake::Settle() {
  // The sink publishes into take_ once it is released; until then the take is not
  // part of the recording.
  if (!takeOpen_ || core::ChainLength(take_) == 0) return;
  core::ChainDeleteRange(recording_, takeStart_, core::ChainLength(recording_));
  core::ChainInsert(recording_, takeStart_, take_);
  core::ChainClear(take_);
  takeOpen_ = false;
}

audio::SinkHandle RecordingTake::SinkAt(std::int64_t ms) {
  Settle();
  const FrameCount have = core::ChainLength(recording_);
  takeStart_ = std::clamp<FramePos>(platform::FramesFromMs(std::max<std::int64_t>(ms, 0), recording_.sampleRate),
                                    0, have);
  lastTakeMs_ = platform::MsFromFrames(takeStart_, recording_.sampleRate);
  core::ChainClear(take_);
  takeOpen_ = true;
  return audio::SinkHandle(core::ChainOpenSink(take_, recording_.sampleRate, recording_.channels));
}

const AudioChain& RecordingTake::chain() {
  Settle();
  return recording_;
}

audio::SourceHandle RecordingTake::Source() {
  return audio::SourceHandle(audio::MakeRef<core::LChainSoundSource>(chain()));
}

namespace {

// After BeginEdit, under the caller's busy guard.
platform::TaskResult Splice(core::EditContext& ctx, core::WaveDocument& doc, RecordingTake& take) {
  const AudioChain recorded = take.chain();
  const FrameCount length = core::ChainLength(recorded);
  if (length == 0) return platform::kTaskCancelled;
  if (recorded.channels != doc.channels() || recorded.sampleRate != doc.sampleRate())
    return core::FailEdit(ctx, nullptr, "The recording does not have the document's format.");
  const FramePos from = doc.selStart(), to = doc.selEnd();
  AudioChain work = doc.chain();
  if (!core::ChainReplaceRange(work, from, std::max(from, to), recorded))
    return core::FailEdit(ctx, nullptr, "The recording does not fit the document.");
  doc.PushUndo("Record");
  doc.SetChain(std::move(work));
  doc.SetSelection(from, from + length, from);
  return platform::kTaskDone;
}

}  // namespace

platform::TaskResult ApplyRecording(core::EditContext& ctx, core::WaveDocument& doc,
                                    RecordingTake& take) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!core::BeginEdit(ctx, guard)) return platform::kTaskFailed;
  return Splice(ctx, doc, take);
}

platform::TaskResult RecordCommand(core::EditContext& ctx, core::WaveDocument& doc,
                                   RecordSession& session) {
  // The document stays busy while the dialog runs, so nothing else edits it meanwhile.
  platform::BusyGuard guard(doc.busyFlag());
  if (!core::BeginEdit(ctx, guard)) return platform::kTaskFailed;
  RecordingTake take(ctx.store, doc.sampleRate(), std::max(doc.channels(), 1));
  if (!session.Run(take)) return platform::kTaskCancelled;
  return Splice(ctx, doc, take);
}

}  // namespace quillet::devices
