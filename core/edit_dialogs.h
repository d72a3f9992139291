#pragma once
// The models of the Edit commands' dialogs: their fields, the stored values they
// start from and write back, and validation with the message the person sees. The
// editor draws them; quillet-cli fills them from its parameters.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/document.h"
#include "core/edit_services.h"
#include "core/mix.h"
#include "platform/prompter.h"
#include "settings/settings.h"

namespace quillet::core {

// The caption of every refusal of a dialog's input (the dialog stays open).
inline constexpr const char* kInvalidValueCaption = "Invalid value";

// "Paste Mix" or "Mix File".
struct MixDialogModel {
  std::string title;
  int volumePct = 100;     // "&Mix Volume (%)", stored as "PasteMixVolume"
  int pan = 50;            // "&Stereo Pan (L - R)", 0..100
  bool panEnabled = false; // stereo documents only
  int longer = 1;          // "If mi&x audio is longer than selection:", stored as "LongerSelection"
  bool longerEnabled = false;  // only with a selection; otherwise "Increase se&lection"
  int fadeOut = 250;       // "Fade &out time:" in frames, stored as "FadeOutTime"
  bool fadeEnabled() const { return longerEnabled && longer == 2; }

  static MixDialogModel Load(const settings::Settings& s, const WaveDocument& doc,
                             std::string title);
  // The message to show, or nullopt when the input can be taken.
  std::optional<std::string> Validate() const;
  // Writes the volume, the choice and, with "&Fade out mix", the fade time.
  void Store(settings::Settings& s) const;
  MixParams Params() const;
};

// "Insert Silence": "Silence &Time (ms):", stored as "SilenceTimes".
struct InsertSilenceDialogModel {
  std::int64_t ms = 0;
  static InsertSilenceDialogModel Load(const settings::Settings& s);
  std::optional<std::string> Validate() const;
  void Store(settings::Settings& s) const;
};

// "Repeat Loop": "&Repeat number of times:", stored as "RepeatNumTimes".
struct RepeatLoopDialogModel {
  inline static constexpr int kMaxTimes = 10000;
  int times = 1;
  static RepeatLoopDialogModel Load(const settings::Settings& s);
  std::optional<std::string> Validate() const;
  void Store(settings::Settings& s) const;
};

// "Select Specified Time": "Specified &Time Start" and "Specified Time &End" as typed.
struct SelectTimeDialogModel {
  std::string start, end;
  static SelectTimeDialogModel Load(const WaveDocument& doc);
  // "Pre&view": plays the typed range.
  void Preview(EditContext& ctx, const WaveDocument& doc) const;
  // OK: the selection becomes the typed range.
  void Apply(WaveDocument& doc) const;
};

// The open dialog of Insert File and Mix File ("Open Audio Files"), starting in the
// folder stored under folderKey of "Settings" ("InsertFileDir", "MixFileDir") and
// storing the chosen file's folder back. nullopt when cancelled.
std::optional<std::filesystem::path> AskAudioFileToOpen(platform::Prompter& prompter,
                                                        settings::Settings& s,
                                                        const char* folderKey);
// The save dialog of Save Select Region As, asking before it replaces a file: No asks
// for another name, Cancel ends. nullopt when cancelled.
std::optional<std::filesystem::path> AskRegionFileToSave(platform::Prompter& prompter,
                                                         settings::Settings& s);

}  // namespace quillet::core
