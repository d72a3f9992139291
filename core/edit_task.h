#pragma once
// Running edit work as tasks: one task type around a function, the bridge from the
// store's progress callback to the task's window, and the steps several commands
// share (loading a file into a scratch chain, converting a chain to a document's
// format).

#include <functional>
#include <string>

#include "audio/transfer.h"
#include "core/chain.h"
#include "core/edit_services.h"
#include "platform/task.h"

namespace quillet::core {

class EditTask final : public platform::LProgressDialog {
 public:
  using Work = std::function<platform::TaskResult(EditTask&)>;
  EditTask(std::string title, Work work)
      : LProgressDialog(std::move(title)), work_(std::move(work)) {}

 protected:
  bool Execute() override {
    result = work_(*this);
    return true;
  }

 private:
  Work work_;
};

// The start of every command that changes audio: guard must own the document's busy
// flag (a task pumping events may be using it), and playback stops. Clears
// ctx.message; false, with the message set, when the document is busy.
bool BeginEdit(EditContext& ctx, const platform::BusyGuard& guard);

// Runs work as a task titled title over ctx's progress windows; its result, or
// kTaskFailed when the window could not be opened.
platform::TaskResult RunEditTask(EditContext& ctx, std::string title, EditTask::Work work);

// Progress of a store operation shown on task's bar, with its events pumped after
// every block; returns false (stop) once the window is closed.
audio::ProgressFn TaskProgress(platform::LProgressDialog& task);

// Records why a command failed and shows it over the task's window (or, without a
// task, leaves the showing to the front end). Returns kTaskFailed.
platform::TaskResult FailEdit(EditContext& ctx, platform::LProgressDialog* task,
                              std::string message);

// Copies source (from its start) into a fresh chain of ctx.store, under task. out
// receives it only when everything was copied.
platform::TaskResult CopySourceToChain(EditContext& ctx, EditTask& task,
                                       audio::LSoundSource& source, AudioChain& out);

// Loads file into out under a task titled "Loading Audio File Source". out is
// untouched unless the result is kTaskDone.
platform::TaskResult LoadAudioFile(EditContext& ctx, const std::filesystem::path& file,
                                   AudioChain& out);

// out = src in rate and channels: a copy of the segments when src already has them
// (or is empty), otherwise src read through ctx.adaptors into new audio, under task.
// Fails with a message when no converter is available.
platform::TaskResult ConvertChain(EditContext& ctx, EditTask& task, const AudioChain& src,
                                  std::uint32_t rate, int channels, AudioChain& out);

}  // namespace quillet::core
