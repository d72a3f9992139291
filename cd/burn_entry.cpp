#include "cd/burn_entry.h"

#include "batch/regions.h"
#include "cd/disc.h"
#include "cd/external_burn.h"
#include "core/document.h"

namespace quillet::cd {
namespace {

void Tell(core::EditContext& ctx, std::string_view text, std::string_view caption) {
  if (ctx.prompter) {
    ctx.prompter->Message(text, caption, platform::MessageIcon::Error);
    ctx.messageShown = true;
  }
  ctx.message = std::string(text);
}

}  // namespace

std::string InvalidTrackNameMessage(std::string_view name) {
  return batch::InvalidRegionNameMessage(name);
}

platform::TaskResult BurnAudioTracks(core::EditContext& ctx, const std::vector<BurnTrack>& tracks,
                                     const BurnSettings& settings) {
  ctx.message.clear();
  ctx.messageShown = false;
  for (const BurnTrack& t : tracks) {
    if (!platform::IsValidFileName(t.name)) {
      Tell(ctx, InvalidTrackNameMessage(t.name), kFileNameInvalidCaption);
      return platform::kTaskFailed;
    }
  }
  const std::vector<DriveEntry> drives = ListCdDrives(ctx.settings);
  if (settings.drive < 0 || settings.drive >= static_cast<int>(drives.size())) {
    Tell(ctx, kCannotAccessMessage, "Quillet");
    return platform::kTaskFailed;
  }
  const std::string drive = drives[static_cast<std::size_t>(settings.drive)].name;
  std::vector<audio::SourceHandle> sources;
  for (const BurnTrack& t : tracks) sources.push_back(t.source);
  std::int32_t result;
  if (settings.internal) {
    BurnAudioTask task(drive, std::move(sources), settings);
    task.Run(ctx.progress);
    result = task.result;
  } else {
    ExternalBurnTask task(drive, std::move(sources), settings);
    task.Run(ctx.progress);
    result = task.result;
  }
  if (result == platform::kTaskFailed) Tell(ctx, kBurnFailedMessage, "Quillet");
  return static_cast<platform::TaskResult>(result);
}

platform::TaskResult CopyOpenFilesToCd(core::EditContext& ctx,
                                       const std::vector<const core::WaveDocument*>& docs,
                                       bool audio) {
  ctx.message.clear();
  ctx.messageShown = false;
  std::vector<std::filesystem::path> files;
  for (const core::WaveDocument* d : docs) {
    if (d->file().empty() || d->modified()) {
      Tell(ctx, kSaveFirstMessage, kSaveFirstCaption);
      return platform::kTaskFailed;
    }
    files.push_back(d->file());
  }
  BurningProgramTask task(ctx.settings.GetString(kRecorderSection, kBurningProgramKey, ""), audio,
                          std::move(files));
  task.Run(ctx.progress);
  if (task.result == platform::kTaskFailed) {
    ctx.message = task.message();
    ctx.messageShown = true;  // shown by the task
  }
  return static_cast<platform::TaskResult>(task.result);
}

}  // namespace quillet::cd
