#pragma once
// The Record command on a document: the recording is kept as a chain at the
// document's rate and channels, handed to the recorder as store sinks take by take,
// and spliced over the selection as one undoable step named "Record".

#include <cstdint>
#include <string>

#include "audio/sound.h"
#include "core/chain.h"
#include "core/document.h"
#include "core/edit_services.h"
#include "core/segment_sink.h"
#include "platform/result.h"

namespace quillet::devices {

inline constexpr int kCmdRecord = 3001;

// One recording made of takes. A take may start at any time of what was recorded
// before (a re-take): what came before that time is kept, what followed is replaced,
// so the recording always reads as one continuous take from time 0.
class RecordingTake {
 public:
  RecordingTake(core::SegmentStore& store, std::uint32_t rate, int channels);
  RecordingTake(const RecordingTake&) = delete;
  RecordingTake& operator=(const RecordingTake&) = delete;

  // A sink for a take from ms on (clamped to what was recorded). Failed, with its
  // message, when the store cannot write. The take joins the recording once the
  // recorder has released the sink.
  audio::SinkHandle SinkAt(std::int64_t ms);
  // The recording as it stands (every released take).
  const core::AudioChain& chain();
  core::FrameCount length() { return core::ChainLength(chain()); }
  // For the dialog's playback.
  audio::SourceHandle Source();
  // The time the last take started, for Re-Take.
  std::int64_t lastTakeMs() const { return lastTakeMs_; }

 private:
  void Settle();

  core::AudioChain recording_;
  core::AudioChain take_;
  core::FramePos takeStart_ = 0;
  bool takeOpen_ = false;
  std::int64_t lastTakeMs_ = 0;
};

// The document side of Record (after the dialog): nothing happens without a
// recording; otherwise it replaces the selection (inserted at selStart without
// one) under the undo name "Record", the selection then covers it and the cursor
// stands at its start. Playback is stopped first; nothing plays afterwards.
platform::TaskResult ApplyRecording(core::EditContext& ctx, core::WaveDocument& doc,
                                    RecordingTake& take);

// What runs the record dialog: fills take; true when something was recorded.
class RecordSession {
 public:
  virtual ~RecordSession() = default;
  virtual bool Run(RecordingTake& take) = 0;
};

// The whole command on doc: stop playback, run the session on a recording in
// doc's format, apply it. kTaskCancelled when nothing was recorded.
platform::TaskResult RecordCommand(core::EditContext& ctx, core::WaveDocument& doc,
                                   RecordSession& session);

}  // namespace quillet::devices
