#include "core/edit_commands.h"

#include <algorithm>

#include "core/chain_source.h"
#include "core/edit_task.h"
#include "platform/frame_time.h"

namespace quillet::core {
namespace {

using platform::kTaskDone;
using platform::kTaskFailed;

constexpr char kBusy[] = "The document is busy with another operation.";
constexpr char kNoSelection[] = "There is no selection.";

bool Begin(EditContext& ctx, const platform::BusyGuard& guard) { return BeginEdit(ctx, guard); }

FrameCount Rate(const WaveDocument& doc) { return static_cast<FrameCount>(doc.sampleRate()); }

// The format that audio must have to go into doc: its own, or any for empty audio.
struct Format {
  std::uint32_t rate;
  int channels;
};
Format TargetFormat(const WaveDocument& doc, const AudioChain& incoming) {
  if (doc.length() == 0 && !incoming.empty()) return {incoming.sampleRate, incoming.channels};
  return {doc.sampleRate(), doc.channels()};
}

// Paste's work after the entry is pushed: source replaces [from, to) under a task.
platform::TaskResult PasteChain(EditContext& ctx, WaveDocument& doc, const AudioChain& source) {
  const FramePos from = doc.selStart(), to = doc.selEnd();
  const Format format = TargetFormat(doc, source);
  AudioChain work = doc.chain();
  FrameCount pasted = 0;
  const platform::TaskResult r =
      RunEditTask(ctx, "Paste", [&](EditTask& task) -> platform::TaskResult {
        AudioChain converted(&ctx.store);
        const platform::TaskResult c =
            ConvertChain(ctx, task, source, format.rate, format.channels, converted);
        if (c != kTaskDone) return c;
        if (!ChainReplaceRange(work, from, to, converted))
          return FailEdit(ctx, &task, "The pasted audio does not fit the document.");
        pasted = ChainLength(converted);
        return kTaskDone;
      });
  if (r != kTaskDone) return r;
  doc.SetChain(std::move(work));
  // The pasted length in frames, not through milliseconds, which would lose frames.
  doc.SetSelection(from, from + pasted, doc.cursor());
  AfterEdit(ctx, doc, from, Rate(doc) / 2);
  return kTaskDone;
}

// The system clipboard's audio in out; false with a message when it has none.
platform::TaskResult TakeSystemAudio(EditContext& ctx, AudioChain& out) {
  if (!ctx.systemClipboard) return FailEdit(ctx, nullptr, "There is no system clipboard.");
  std::optional<std::string> bytes = ctx.systemClipboard->ReadWave();
  if (!bytes) return FailEdit(ctx, nullptr, "The clipboard holds no audio.");
  return LoadClipboardWave(ctx, *bytes, out);
}

// Paste Mix and Mix File after the entry is pushed.
platform::TaskResult MixChain(EditContext& ctx, WaveDocument& doc, const AudioChain& mix,
                              MixParams params, const char* title) {
  const FramePos from = doc.selStart(), to = doc.selEnd();
  // Without a selection the mix always runs on over the following audio.
  if (!doc.HasSelection()) params.longer = MixLonger::IncreaseSelection;
  params.volumePct = std::clamp(params.volumePct, 0, 100);
  AudioChain work = doc.chain();
  FrameCount mixed = 0;
  const platform::TaskResult r = RunEditTask(ctx, title, [&](EditTask& task) {
    const MixOutcome out = MixIntoChain(ctx, task, work, from, to, mix, params);
    mixed = out.mixedFrames;
    return out.result;
  });
  if (r != kTaskDone) return r;
  doc.SetChain(std::move(work));
  doc.ZoomFull();
  doc.SetSelection(from, from + mixed, doc.cursor());
  AfterEdit(ctx, doc, from, Rate(doc) / 2);
  return kTaskDone;
}

FramePos InsertPosition(const WaveDocument& doc, InsertWhere where) {
  switch (where) {
    case InsertWhere::Start: return 0;
    case InsertWhere::Cursor: return doc.cursor();
    case InsertWhere::End: return doc.length();
  }
  return 0;
}

// [from, to) of chain as a chain of its own.
AudioChain Excerpt(const AudioChain& chain, FramePos from, FramePos to) {
  AudioChain part = chain;
  ChainTrimEnd(part, to);
  ChainTrimStart(part, from);
  return part;
}

}  // namespace

void AfterEdit(EditContext& ctx, WaveDocument& doc, FramePos pos, FrameCount back) {
  doc.SetCursor(pos);
  if (!ctx.player || !ctx.settings.GetBool("Settings", "AutoPlaybackAfterEffects", true)) return;
  doc.SetCursor(std::max<FramePos>(0, pos - back));
  ctx.player->PlayFrom(doc, doc.cursor());
}

platform::TaskResult UndoEdit(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.Undo()) return FailEdit(ctx, nullptr, "There is nothing to undo.");
  return kTaskDone;
}

platform::TaskResult RedoEdit(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.Redo()) return FailEdit(ctx, nullptr, "There is nothing to redo.");
  return kTaskDone;
}

platform::TaskResult Cut(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.HasSelection()) return FailEdit(ctx, nullptr, kNoSelection);
  const FramePos from = doc.selStart(), to = doc.selEnd();
  doc.PushUndo("Cut");
  ChainCutRange(doc.mutableChain(), from, to, ctx.clipboard.chain);
  doc.AudioChanged();
  doc.SetSelection(from, from, doc.cursor());
  AfterEdit(ctx, doc, from, Rate(doc));
  return kTaskDone;
}

platform::TaskResult Copy(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  ctx.message.clear();
  ctx.messageShown = false;
  if (!guard.owns()) return FailEdit(ctx, nullptr, kBusy);
  if (!doc.HasSelection()) return FailEdit(ctx, nullptr, kNoSelection);
  ChainCopyRange(doc.chain(), doc.selStart(), doc.selEnd(), ctx.clipboard.chain);
  if (ctx.systemClipboard) {
    // Rendered from whatever the program's clipboard holds when it is asked for.
    ctx.systemClipboard->OfferWave([&ctx](std::string& bytes) {
      std::string why;
      std::optional<std::string> wave = RenderClipboardWave(ctx, ctx.clipboard.chain, &why);
      if (!wave) return false;
      bytes = std::move(*wave);
      return true;
    });
  }
  return kTaskDone;
}

platform::TaskResult Paste(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (ctx.clipboard.Empty()) return FailEdit(ctx, nullptr, "The clipboard is empty.");
  doc.PushUndo("Paste");
  const AudioChain source = ctx.clipboard.chain;
  return PasteChain(ctx, doc, source);
}

platform::TaskResult PasteFromSystem(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  // Read before the entry is pushed: a clipboard without audio must not delete the
  // selection as an empty paste would.
  AudioChain source(&ctx.store);
  if (const platform::TaskResult r = TakeSystemAudio(ctx, source); r != kTaskDone) return r;
  doc.PushUndo("Paste");
  return PasteChain(ctx, doc, source);
}

platform::TaskResult PasteMix(EditContext& ctx, WaveDocument& doc, const MixParams& params) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (ctx.clipboard.Empty()) return FailEdit(ctx, nullptr, "The clipboard is empty.");
  doc.PushUndo("Paste Mix");
  const AudioChain mix = ctx.clipboard.chain;
  return MixChain(ctx, doc, mix, params, "Paste Mix");
}

platform::TaskResult PasteMixFromSystem(EditContext& ctx, WaveDocument& doc,
                                        const MixParams& params) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  AudioChain mix(&ctx.store);
  if (const platform::TaskResult r = TakeSystemAudio(ctx, mix); r != kTaskDone) return r;
  doc.PushUndo("Paste Mix");
  return MixChain(ctx, doc, mix, params, "Paste Mix");
}

platform::TaskResult MixFile(EditContext& ctx, WaveDocument& doc, const std::filesystem::path& file,
                             const MixParams& params) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  AudioChain mix(&ctx.store);
  if (const platform::TaskResult r = LoadAudioFile(ctx, file, mix); r != kTaskDone) return r;
  doc.PushUndo("Mix File");
  return MixChain(ctx, doc, mix, params, "Mix File");
}

platform::TaskResult Delete(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.HasSelection()) return FailEdit(ctx, nullptr, kNoSelection);
  const FramePos from = doc.selStart(), to = doc.selEnd();
  doc.PushUndo("Delete");
  ChainDeleteRange(doc.mutableChain(), from, to);
  doc.AudioChanged();
  doc.SetSelection(from, from, from);
  AfterEdit(ctx, doc, from, Rate(doc));
  return kTaskDone;
}

void SelectAll(WaveDocument& doc) {
  doc.SetSelection(0, doc.length(), doc.cursor());
  doc.ZoomFull();
}

void SelectToStart(WaveDocument& doc) { doc.SetSelection(0, doc.cursor(), doc.cursor()); }

void SelectToEnd(WaveDocument& doc) { doc.SetSelection(doc.cursor(), doc.length(), doc.cursor()); }

void SelectTime(WaveDocument& doc, std::int64_t startMs, std::int64_t endMs) {
  const FrameCount rate = Rate(doc);
  doc.SetSelection(platform::FramesFromMs(startMs, rate), platform::FramesFromMs(endMs, rate),
                   doc.cursor());
}

platform::TaskResult RepeatLoop(EditContext& ctx, WaveDocument& doc, int times) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (times < 1) return FailEdit(ctx, nullptr, "The repeat count must be 1 or more.");
  if (!doc.HasSelection()) SelectAll(doc);
  const FramePos from = doc.selStart(), to = doc.selEnd();
  doc.PushUndo("Repeat Loop");
  ChainRepeatRange(doc.mutableChain(), from, to, times);
  doc.AudioChanged();
  AfterEdit(ctx, doc, from, Rate(doc));
  return kTaskDone;
}

platform::TaskResult Trim(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.HasSelection()) SelectAll(doc);
  const FramePos from = doc.selStart(), to = doc.selEnd();
  doc.PushUndo("Trim");
  ChainTrim(doc.mutableChain(), from, to);
  doc.AudioChanged();
  doc.SetSelection(0, 0, 0);
  doc.ZoomFull();
  AfterEdit(ctx, doc, 0, 0);
  return kTaskDone;
}

platform::TaskResult TrimStart(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  const FramePos at = doc.selStart();
  doc.PushUndo("Trim Start");
  ChainTrimStart(doc.mutableChain(), at);
  // The selection numbers stay (clamped to the shorter audio).
  doc.AudioChanged();
  doc.SetCursor(0);
  doc.ZoomFull();
  AfterEdit(ctx, doc, 0, 0);
  return kTaskDone;
}

platform::TaskResult TrimEnd(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  const FramePos at = doc.selEnd();
  // An untouched selection (0, 0) would throw all of the audio away.
  if (at <= 0) return FailEdit(ctx, nullptr, "Select where the audio should end first.");
  doc.PushUndo("Trim End");
  ChainTrimEnd(doc.mutableChain(), at);
  doc.AudioChanged();
  doc.SetCursor(0);
  doc.ZoomFull();
  AfterEdit(ctx, doc, 0, 0);
  return kTaskDone;
}

platform::TaskResult Silence(EditContext& ctx, WaveDocument& doc) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.HasSelection()) return FailEdit(ctx, nullptr, kNoSelection);
  const FramePos from = doc.selStart(), to = doc.selEnd();
  doc.PushUndo("Edit Silence");
  ChainSilenceRange(doc.mutableChain(), from, to);
  doc.AudioChanged();
  AfterEdit(ctx, doc, from, Rate(doc));
  return kTaskDone;
}

platform::TaskResult InsertSilence(EditContext& ctx, WaveDocument& doc, InsertWhere where,
                                   std::int64_t ms) {
  static constexpr const char* kNames[] = {"Insert Silence At The Start",
                                           "Insert Silence At Current Position",
                                           "Insert Silence At The End"};
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (ms < 0) return FailEdit(ctx, nullptr, "The silence time must be 0 ms or more.");
  const FramePos at = InsertPosition(doc, where);
  doc.PushUndo(kNames[static_cast<int>(where)]);
  ChainInsertSilence(doc.mutableChain(), at, platform::FramesFromMs(ms, Rate(doc)));
  doc.AudioChanged();
  AfterEdit(ctx, doc, doc.selStart(), Rate(doc));
  return kTaskDone;
}

platform::TaskResult InsertFile(EditContext& ctx, WaveDocument& doc, InsertWhere where,
                                const std::filesystem::path& file) {
  static constexpr const char* kNames[] = {"Insert File At Beginning",
                                           "Insert File At Current Position",
                                           "Insert File At The End"};
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  AudioChain loaded(&ctx.store);
  // A file that cannot be loaded ends the command before any undo entry.
  if (const platform::TaskResult r = LoadAudioFile(ctx, file, loaded); r != kTaskDone) return r;
  const FramePos at = InsertPosition(doc, where);
  doc.PushUndo(kNames[static_cast<int>(where)]);
  const Format format = TargetFormat(doc, loaded);
  AudioChain work = doc.chain();
  const platform::TaskResult r =
      RunEditTask(ctx, "Insert File", [&](EditTask& task) -> platform::TaskResult {
        AudioChain converted(&ctx.store);
        const platform::TaskResult c =
            ConvertChain(ctx, task, loaded, format.rate, format.channels, converted);
        if (c != kTaskDone) return c;
        if (!ChainInsert(work, at, converted))
          return FailEdit(ctx, &task, "The inserted audio does not fit the document.");
        return kTaskDone;
      });
  if (r != kTaskDone) return r;
  doc.SetChain(std::move(work));
  AfterEdit(ctx, doc, doc.selStart(), Rate(doc));
  return kTaskDone;
}

std::unique_ptr<WaveDocument> CopyToNew(EditContext& ctx, WaveDocument& doc, int untitledNumber) {
  ctx.message.clear();
  ctx.messageShown = false;
  if (doc.busy()) return FailEdit(ctx, nullptr, kBusy), nullptr;
  if (!doc.HasSelection()) return FailEdit(ctx, nullptr, kNoSelection), nullptr;
  auto made = std::make_unique<WaveDocument>(Excerpt(doc.chain(), doc.selStart(), doc.selEnd()),
                                             untitledNumber);
  made->SetModified(true);
  made->ZoomFull();
  return made;
}

std::unique_ptr<WaveDocument> Split(EditContext& ctx, WaveDocument& doc, int untitledNumber) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return nullptr;
  const FramePos at = doc.cursor();
  auto made = std::make_unique<WaveDocument>(Excerpt(doc.chain(), at, doc.length()), untitledNumber);
  ChainTrimEnd(doc.mutableChain(), at);
  doc.AudioChanged();
  for (WaveDocument* d : {&doc, made.get()}) {
    d->SetModified(true);
    d->ZoomFull();
  }
  return made;
}

void MarkFirst(EditContext& ctx, WaveDocument& doc) {
  doc.SetMark1(doc.cursor());
  RecallMarks(ctx, doc);
}

void MarkSecond(EditContext& ctx, WaveDocument& doc) {
  doc.SetMark2(doc.cursor());
  RecallMarks(ctx, doc);
}

void RecallMarks(EditContext& ctx, WaveDocument& doc) {
  const bool playing = ctx.player && ctx.player->IsPlaying();
  if (playing) ctx.player->Stop();
  doc.SetSelection(doc.mark1(), doc.mark2(), doc.mark1());
  if (playing) ctx.player->PlayFrom(doc, doc.cursor());
}

platform::TaskResult SaveSelectionAs(EditContext& ctx, WaveDocument& doc,
                                     const std::filesystem::path& file) {
  platform::BusyGuard guard(doc.busyFlag());
  if (!Begin(ctx, guard)) return kTaskFailed;
  if (!doc.HasSelection()) return FailEdit(ctx, nullptr, kNoSelection);
  if (!ctx.files) return FailEdit(ctx, nullptr, "Audio files cannot be saved here.");
  const AudioChain part = Excerpt(doc.chain(), doc.selStart(), doc.selEnd());
  return RunEditTask(ctx, "Saving...", [&](EditTask& task) {
    auto source = ChainOpenSource(part);
    const audio::TransferOutcome saved = ctx.files->SaveWave(*source, file, TaskProgress(task));
    if (saved.result == platform::kTaskFailed) return FailEdit(ctx, &task, saved.message);
    return saved.result;
  });
}

}  // namespace quillet::core
