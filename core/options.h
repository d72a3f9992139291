#pragma once
// The values the Options sheet edits, read from and written to section "Settings".
// The sheet works on a copy; Store writes only what changed, so keys the user never
// touched keep following their defaults.

#include <filesystem>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace quillet::core {

inline constexpr int kAutoTrimThresholdMin = -40;
inline constexpr int kAutoTrimThresholdMax = -12;

struct OptionValues {
  bool promptSampleAndChannels = true;
  bool addToContextMenu = true;  // "AddToWEContext"
  bool autoArrangeWindows = true;
  std::string soundOutDevice = "0";  // a device name, or an old list position
  int autoTrimThreshold = -20;
  bool useDefaultWorkingDir = true;
  std::string workingFolder;
  bool playWhenOpen = true;
  bool autoPlaybackAfterEffects = true;
  bool playBookmark = false;
  bool playRegion = false;
  bool reduceVolWhenRewind = false;
  friend bool operator==(const OptionValues&, const OptionValues&) = default;
};

// The stored threshold is clipped to -128..127 first, as it always was, and then to
// the field's own range so an out-of-range value shows as its nearest allowed one.
int ThresholdForField(int stored);

OptionValues LoadOptions(const settings::Settings& s);

enum class FolderProblem { None, Empty, Missing };
// The check made on OK when "Use this specified folder" is chosen.
FolderProblem CheckWorkingFolder(const OptionValues& v);
std::string_view FolderProblemText(FolderProblem p);  // "" for None
inline constexpr std::string_view kInvalidFolderCaption = "Invalid Folder";
inline constexpr std::string_view kShutDownCaption = "Shut Down Required";
inline constexpr std::string_view kShutDownMessage =
    "Quillet will now close because you changed the audio working folder.\n\n"
    "Please re-run Quillet to start with the new folders.";

// Writes the keys whose value differs from `before`; true when the working folder
// setting changed (the program must then close).
bool StoreOptions(settings::Settings& s, const OptionValues& before, const OptionValues& after);

// "Delete Recent Files List": both values of entries 1 to 12 of section "Recent".
void DeleteRecentFiles(settings::Settings& s);

}  // namespace quillet::core
