#include "core/edit_task.h"

#include "core/chain_source.h"
#include "core/segment_sink.h"

namespace quillet::core {

bool BeginEdit(EditContext& ctx, const platform::BusyGuard& guard) {
  ctx.message.clear();
  ctx.messageShown = false;
  if (!guard.owns()) {
    ctx.message = "The document is busy with another operation.";
    return false;
  }
  if (ctx.player && ctx.player->IsPlaying()) ctx.player->Stop();
  return true;
}

platform::TaskResult RunEditTask(EditContext& ctx, std::string title, EditTask::Work work) {
  EditTask task(std::move(title), std::move(work));
  if (!task.Run(ctx.progress)) {
    if (ctx.message.empty()) ctx.message = "The progress window could not be opened.";
    return platform::kTaskFailed;
  }
  return task.result;
}

audio::ProgressFn TaskProgress(platform::LProgressDialog& task) {
  return [&task](FrameCount done, FrameCount total) {
    task.SetProgress(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0);
    return !task.Pump();
  };
}

platform::TaskResult FailEdit(EditContext& ctx, platform::LProgressDialog* task,
                              std::string message) {
  ctx.message = std::move(message);
  ctx.messageShown = task && task->running();
  if (ctx.messageShown) task->ShowError(ctx.message);
  return platform::kTaskFailed;
}

platform::TaskResult CopySourceToChain(EditContext& ctx, EditTask& task,
                                       audio::LSoundSource& source, AudioChain& out) {
  AudioChain fresh(&ctx.store);
  platform::TaskResult result = platform::kTaskFailed;
  std::string why;
  {
    auto sink = ChainOpenSink(fresh, static_cast<std::uint32_t>(source.sampleRate()),
                              source.channels());
    if (sink->failed()) return FailEdit(ctx, &task, sink->failureMessage());
    const audio::TransferOutcome moved = audio::Transfer(source, *sink, TaskProgress(task));
    result = moved.result;
    why = moved.message;
    if (result == platform::kTaskDone && !sink->Finish()) {
      result = platform::kTaskFailed;
      why = sink->failureMessage();
    }
    if (result != platform::kTaskDone) sink->Abandon();
  }
  if (result == platform::kTaskCancelled) return result;
  if (result != platform::kTaskDone) return FailEdit(ctx, &task, why);
  out = std::move(fresh);
  return platform::kTaskDone;
}

platform::TaskResult LoadAudioFile(EditContext& ctx, const std::filesystem::path& file,
                                   AudioChain& out) {
  if (!ctx.files) return FailEdit(ctx, nullptr, "Audio files cannot be opened here.");
  return RunEditTask(ctx, "Loading Audio File Source", [&](EditTask& task) {
    std::string message;
    audio::SourceHandle source = ctx.files->Open(file, &message);
    if (!source || !source->ready())
      return FailEdit(ctx, &task, message.empty() ? "Cannot open " + file.string() : message);
    source->seek(0);
    return CopySourceToChain(ctx, task, *source, out);
  });
}

platform::TaskResult ConvertChain(EditContext& ctx, EditTask& task, const AudioChain& src,
                                  std::uint32_t rate, int channels, AudioChain& out) {
  if (src.empty() || (src.sampleRate == rate && src.channels == channels)) {
    out = src;
    return platform::kTaskDone;
  }
  // Converters plug in here, through ctx.adaptors.
  std::string message;
  audio::SourceHandle adapted = audio::AdaptSource(
      ChainOpenSource(src), static_cast<std::int32_t>(rate), channels, ctx.adaptors, &message);
  if (!adapted) {
    if (message.empty())
      message = "The audio is " + std::to_string(src.sampleRate) + " Hz with " +
                std::to_string(src.channels) + " channel(s) and cannot be converted to " +
                std::to_string(rate) + " Hz with " + std::to_string(channels) + " channel(s).";
    return FailEdit(ctx, &task, message);
  }
  return CopySourceToChain(ctx, task, *adapted, out);
}

}  // namespace quillet::core
