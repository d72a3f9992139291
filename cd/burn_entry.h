#pragma once
// Where the editor's commands hand audio to the burners: "Copy Region(s) to CD..."
// (named tracks, after the "Burn CD" dialog) and "Copy All Open File(s) to CD..."
// (saved documents, to the configured burning program).

#include <string>
#include <string_view>
#include <vector>

#include "audio/sound.h"
#include "cd/burn.h"
#include "core/edit_services.h"

namespace quillet::core {
class WaveDocument;
}

namespace quillet::cd {

inline constexpr std::string_view kFileNameInvalidCaption = "File Name Invalid";

struct BurnTrack {
  std::string name;  // must be usable as a file name
  audio::SourceHandle source;
};

// "The name of the region \"%s\" contains characters that are not valid ..."
std::string InvalidTrackNameMessage(std::string_view name);

// Burns tracks (in order) with settings on the drive settings.drive of the drive
// list, through the internal writer or the external program. A name that is no
// file name is refused first (through ctx.prompter, "File Name Invalid"); a failed
// burn leaves "Burn has failed..." in ctx.message after the task showed its reason.
platform::TaskResult BurnAudioTracks(core::EditContext& ctx, const std::vector<BurnTrack>& tracks,
                                     const BurnSettings& settings);

// Hands the files of docs to the burning program of the settings (audio or data).
// Every document must be saved: else "You need to save all the openning file(s)
// before copying to CD." ("Saving files required") and nothing runs.
platform::TaskResult CopyOpenFilesToCd(core::EditContext& ctx,
                                       const std::vector<const core::WaveDocument*>& docs,
                                       bool audio);

}  // namespace quillet::cd
