#pragma once
// The Edit menu's commands as operations on a document. Each follows one protocol:
// refuse a busy document, stop playback, push an undo entry under its name, do the
// work (as a task where it may take long), move the selection and cursor, and play
// from just before the edit when "AutoPlaybackAfterEffects" is set. Every range is
// clamped to the document first, so no edit lengthens it by accident.
//
// Each returns a task result: kTaskDone, kTaskCancelled, or kTaskFailed with the
// reason in ctx.message. A command that is not available (no selection, nothing to
// undo) changes nothing and returns kTaskFailed with a message.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "core/clipboard.h"
#include "core/command_table.h"
#include "core/document.h"
#include "core/edit_services.h"
#include "core/mix.h"
#include "platform/result.h"

namespace quillet::core {

enum class InsertWhere { Start, Cursor, End };

platform::TaskResult UndoEdit(EditContext& ctx, WaveDocument& doc);
platform::TaskResult RedoEdit(EditContext& ctx, WaveDocument& doc);

platform::TaskResult Cut(EditContext& ctx, WaveDocument& doc);
// Also offers the audio on the system clipboard, rendered when asked for.
platform::TaskResult Copy(EditContext& ctx, WaveDocument& doc);
// Replaces the selection by the clipboard's audio (inserts it at selStart without a
// selection) and selects what was pasted.
platform::TaskResult Paste(EditContext& ctx, WaveDocument& doc);
platform::TaskResult PasteFromSystem(EditContext& ctx, WaveDocument& doc);
platform::TaskResult PasteMix(EditContext& ctx, WaveDocument& doc, const MixParams& params);
platform::TaskResult PasteMixFromSystem(EditContext& ctx, WaveDocument& doc,
                                        const MixParams& params);
platform::TaskResult MixFile(EditContext& ctx, WaveDocument& doc, const std::filesystem::path& file,
                             const MixParams& params);
platform::TaskResult Delete(EditContext& ctx, WaveDocument& doc);

void SelectAll(WaveDocument& doc);
void SelectToStart(WaveDocument& doc);
void SelectToEnd(WaveDocument& doc);
// Selection from typed times in milliseconds, converted at the document's rate.
void SelectTime(WaveDocument& doc, std::int64_t startMs, std::int64_t endMs);

// The selection (all of the audio without one) followed by times more copies.
platform::TaskResult RepeatLoop(EditContext& ctx, WaveDocument& doc, int times);
// Keeps only the selection (all of the audio without one).
platform::TaskResult Trim(EditContext& ctx, WaveDocument& doc);
platform::TaskResult TrimStart(EditContext& ctx, WaveDocument& doc);
platform::TaskResult TrimEnd(EditContext& ctx, WaveDocument& doc);
// The selection becomes silence of the same length.
platform::TaskResult Silence(EditContext& ctx, WaveDocument& doc);
platform::TaskResult InsertSilence(EditContext& ctx, WaveDocument& doc, InsertWhere where,
                                   std::int64_t ms);
platform::TaskResult InsertFile(EditContext& ctx, WaveDocument& doc, InsertWhere where,
                                const std::filesystem::path& file);

// A new document holding the selection; null (with ctx.message) when there is none.
std::unique_ptr<WaveDocument> CopyToNew(EditContext& ctx, WaveDocument& doc, int untitledNumber);
// Moves [cursor, end) into a new document; not undoable.
std::unique_ptr<WaveDocument> Split(EditContext& ctx, WaveDocument& doc, int untitledNumber);

void MarkFirst(EditContext& ctx, WaveDocument& doc);
void MarkSecond(EditContext& ctx, WaveDocument& doc);
void RecallMarks(EditContext& ctx, WaveDocument& doc);

// Writes the selection as a WAVE file; the document does not change.
platform::TaskResult SaveSelectionAs(EditContext& ctx, WaveDocument& doc,
                                     const std::filesystem::path& file);

// AfterEdit: the cursor goes to pos; with "AutoPlaybackAfterEffects" and a player,
// playback starts back frames before it.
void AfterEdit(EditContext& ctx, WaveDocument& doc, FramePos pos, FrameCount back);

// The Edit menu's commands (all but Auto Trim, which comes with its effect) into r.
void RegisterEditCommands(CommandRegistry& r);

}  // namespace quillet::core
