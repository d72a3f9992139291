#include "cd/commands.h"

#include <cstdio>

#include "cd/burn_entry.h"
#include "cd/external_burn.h"
#include "core/chain_source.h"
#include "cd/rip.h"
#include "core/document.h"
#include "core/segment_sink.h"

namespace quillet::cd {

std::vector<std::string> CdLoadModel::DriveNames() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < drives.size(); ++i) names.push_back(DriveDisplayName(static_cast<int>(i)));
  return names;
}

std::string CdLoadModel::DurationText(const CdTrack& track) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%.2d", track.duration / 60, track.duration % 60);
  return text;
}

platform::TaskResult ImportCdTracks(core::EditContext& ctx, core::CommandHost& host,
                                    const std::string& drive, const CdDisc& disc,
                                    const std::vector<int>& indexes) {
  platform::TaskResult result = platform::kTaskDone;
  ctx.message.clear();
  for (int index : indexes) {
    if (index < 0 || index >= static_cast<int>(disc.tracks.size())) continue;
    const CdTrack& track = disc.tracks[static_cast<std::size_t>(index)];
    core::AudioChain chain(&ctx.store);
    chain.sampleRate = 44100;
    chain.channels = 2;
    {
      auto sink = core::ChainOpenSink(chain, 44100, 2);
      RipTrackTask rip(drive, track, *sink);
      rip.Run(ctx.progress);
      if (rip.result != platform::kTaskDone) {
        if (rip.result == platform::kTaskFailed) ctx.message = rip.message();
        result = static_cast<platform::TaskResult>(rip.result);
        continue;
      }
    }
    auto doc = std::make_unique<core::WaveDocument>(std::move(chain), host.NextUntitledNumber());
    doc->SetDisplayTitle(track.title);
    host.AdoptDocument(std::move(doc));
  }
  return result;
}

void RegisterCdCommands(core::CommandRegistry& registry, CdFront& front) {
  core::Command load;
  load.id = core::kCmdLoadCdTracks;
  load.menuText = "&Load Audio CD Track(s)...\tCtrl+L";
  load.description = "Load audio track(s) from CDs.";
  load.keys = "Ctrl+L";
  load.place = {"&File", {}, 300};
  load.icon = "media-optical-audio";
  load.run = [&front](core::CommandCall& call) { return front.LoadCdTracks(call); };
  registry.Add(std::move(load));

  const auto copy = [&front](core::CommandId id, const char* text, bool audio, int order) {
    core::Command c;
    c.id = id;
    c.menuText = text;
    c.description = audio ? "Copy the open files to an audio CD with the CD burning program."
                          : "Copy the open files to a data CD with the CD burning program.";
    c.needs = core::kNeedsOpenDocuments;
    c.place = {"&File", "Copy All Open File(s) to CD...", order};
    c.run = [&front, audio](core::CommandCall& call) {
      const bool handOff =
          !call.ctx.settings.GetString(kRecorderSection, kBurningProgramKey, "").empty();
      if (handOff || !audio) return CopyOpenFilesToCd(call.ctx, front.OpenDocuments(), audio);
      BurnSettings settings;
      if (!front.AskBurnSettings(&settings)) return platform::kTaskCancelled;
      std::vector<BurnTrack> tracks;
      for (const core::WaveDocument* d : front.OpenDocuments()) {
        std::string name = FileNameSafe(d->Title());
        tracks.push_back({name.empty() ? "Track" : name, core::ChainOpenSource(d->chain())});
      }
      return BurnAudioTracks(call.ctx, tracks, settings);
    };
    return c;
  };
  registry.Add(copy(core::kCmdCopyToCdAudio, "Audio", true, 310));
  registry.Add(copy(core::kCmdCopyToCdData, "Data", false, 311));
}

}  // namespace quillet::cd
