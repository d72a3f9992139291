#include "core/options.h"

#include <algorithm>
#include <system_error>

#include "core/working_folder.h"

namespace quillet::core {
namespace {

constexpr std::string_view kSection = "Settings";

void PutBool(settings::Settings& s, std::string_view key, bool was, bool now) {
  if (was != now) s.SetBool(kSection, key, now);
}

void PutInt(settings::Settings& s, std::string_view key, int was, int now) {
  if (was != now) s.SetInt(kSection, key, now);
}

}  // namespace

int ThresholdForField(int stored) {
  const int clipped = std::clamp(stored, -128, 127);
  return std::clamp(clipped, kAutoTrimThresholdMin, kAutoTrimThresholdMax);
}

OptionValues LoadOptions(const settings::Settings& s) {
  OptionValues v;
  v.promptSampleAndChannels = s.GetBool(kSection, "PromptSampleAndChannels", true);
  v.addToContextMenu = s.GetBool(kSection, "AddToWEContext", true);
  v.autoArrangeWindows = s.GetBool(kSection, "AutoArrangeWindows", true);
  v.soundOutDevice = s.GetString(kSection, "SoundOutDevice", "0");
  v.autoTrimThreshold = ThresholdForField(s.GetInt(kSection, "AutoTrimThreshold", -20));
  v.useDefaultWorkingDir = s.GetBool(kSection, "UseDefaultWorkingDir", true);
  v.workingFolder = s.GetString(kSection, "WorkingFolder", DefaultWorkingFolder().string());
  v.playWhenOpen = s.GetBool(kSection, "PlayWhenOpen", true);
  v.autoPlaybackAfterEffects = s.GetBool(kSection, "AutoPlaybackAfterEffects", true);
  v.playBookmark = s.GetBool(kSection, "PlayBookMark", false);
  v.playRegion = s.GetBool(kSection, "PlayRegion", false);
  v.reduceVolWhenRewind = s.GetBool(kSection, "ReduceVolWhenRewind", false);
  return v;
}

FolderProblem CheckWorkingFolder(const OptionValues& v) {
  if (v.useDefaultWorkingDir) return FolderProblem::None;
  if (v.workingFolder.empty()) return FolderProblem::Empty;
  std::error_code ec;
  if (!std::filesystem::is_directory(v.workingFolder, ec)) return FolderProblem::Missing;
  return FolderProblem::None;
}

std::string_view FolderProblemText(FolderProblem p) {
  switch (p) {
    case FolderProblem::Empty: return "Please enter a valid folder.";
    case FolderProblem::Missing:
      return "The working folder that you entered does not exist. Please try again.";
    case FolderProblem::None: break;
  }
  return "";
}

bool StoreOptions(settings::Settings& s, const OptionValues& before, const OptionValues& after) {
  PutBool(s, "PromptSampleAndChannels", before.promptSampleAndChannels,
          after.promptSampleAndChannels);
  PutBool(s, "AddToWEContext", before.addToContextMenu, after.addToContextMenu);
  PutBool(s, "AutoArrangeWindows", before.autoArrangeWindows, after.autoArrangeWindows);
  bool folderChanged = false;
  if (before.useDefaultWorkingDir != after.useDefaultWorkingDir) {
    s.SetBool(kSection, "UseDefaultWorkingDir", after.useDefaultWorkingDir);
    folderChanged = true;
  }
  if (!after.useDefaultWorkingDir && after.workingFolder != before.workingFolder) {
    s.SetString(kSection, "WorkingFolder", after.workingFolder);
    folderChanged = true;
  }
  if (before.soundOutDevice != after.soundOutDevice)
    s.SetString(kSection, "SoundOutDevice", after.soundOutDevice);
  PutBool(s, "AutoPlaybackAfterEffects", before.autoPlaybackAfterEffects,
          after.autoPlaybackAfterEffects);
  PutInt(s, "AutoTrimThreshold", before.autoTrimThreshold,
         std::clamp(after.autoTrimThreshold, kAutoTrimThresholdMin, kAutoTrimThresholdMax));
  PutBool(s, "PlayWhenOpen", before.playWhenOpen, after.playWhenOpen);
  PutBool(s, "PlayBookMark", before.playBookmark, after.playBookmark);
  PutBool(s, "PlayRegion", before.playRegion, after.playRegion);
  PutBool(s, "ReduceVolWhenRewind", before.reduceVolWhenRewind, after.reduceVolWhenRewind);
  return folderChanged;
}

void DeleteRecentFiles(settings::Settings& s) {
  for (int n = 1; n <= 12; ++n) {
    s.Delete("Recent", "RecentFile " + std::to_string(n));
    s.Delete("Recent", "RecentFileDate" + std::to_string(n));
  }
}

}  // namespace quillet::core
