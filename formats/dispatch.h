#pragma once
// Every audio file enters and leaves through these functions, chosen by the file's
// extension (compared without regard to case): the open dispatcher turns a file into a
// source, decoding formats we do not read ourselves through a codec program first; the
// save side checks that the target can be written, asks for the format's options and
// builds the sink that writes it.
//
// The ask flag belongs to the caller and is passed by pointer. Reading it clears it:
// the first dialog or message box uses it up, so many files sharing one flag give at
// most one box, and later files use the stored settings and fail silently.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/sound.h"
#include "core/chain.h"
#include "formats/save_options.h"
#include "platform/prompter.h"
#include "platform/result.h"
#include "platform/task.h"

namespace quillet::formats {

// What the dispatcher may use to reach a person. Every member is optional.
struct DispatchEnv {
  platform::Prompter* prompter = nullptr;            // message boxes and questions
  platform::ProgressWindowFactory* owner = nullptr;  // windows of decoder and install tasks
  SaveOptionsUi* options = nullptr;  // the settings dialogs; none: the stored settings
  bool offerInstall = false;         // offer to install a missing program (editor only)
};

// The system's default caption of the dispatcher's message boxes.
inline constexpr std::string_view kMessageCaption = "Quillet";

// The message is why it failed, in the words of the message box.
struct OpenOutcome : platform::Outcome {
  OpenOutcome() : Outcome(Failed({})) {}
  audio::SourceHandle source;  // set when opened
  std::string reader;  // "wave", "mp3", "aiff", "au", "gsm", "vox", "raw", "dct", or the program
  audio::SoundStatus status = audio::SoundStatus::Corrupt;  // of a failed open
};

// Opens file. Decoders run under task when one is given (its window shows their text
// and cancels them), else as tasks of their own over env.owner. The failure message
// is shown in a stop box when *ask was set, and returned in any case.
OpenOutcome OpenDispatch(const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                         platform::LProgressDialog* task = nullptr);

// Whether the target's format can be written: at once for our own formats, after
// making sure the encoder program is there for the others. *message says why not.
bool SaveCheck(std::string_view extension, const DispatchEnv& env, std::string* message);
// Asks for the format's options (from the stored record, preset with the document's
// rate and channels where the dialog takes them) and stores the answer; false when the
// person cancelled or the format has no options step.
bool SaveOptions(std::string_view extension, std::uint32_t rate, int channels,
                 const DispatchEnv& env);
// The sink for file with its stored options; null for an extension it cannot write.
// With no WAVE format stored, PCM keeps sourceBits (8, 16, 24 or 32).
audio::SinkHandle MakeSaveSink(const std::filesystem::path& file, std::uint32_t rate,
                               int channels, int sourceBits = 0);

// "Wave (*.wav)" ... "AMR Narrowband Audio (*.amr)", in the save dialog's order.
std::span<const platform::FileFilter> SaveAsFilters();
// Every extension of the open table, as the open dialog's audio filter.
std::string_view OpenFilterPatterns();

// Saves chain into file (the "Saving..." steps); the target is replaced only when
// every block was read and written. A failure is shown when *ask was set.
platform::Outcome RunSaveSteps(platform::LProgressDialog& task, const core::AudioChain& chain,
                               const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                               int sourceBits);

// The file dialogs of the Open and Save As commands, with their stored folders.
// Files to open, empty when cancelled ("Open Audio File", "OpenFileDir").
std::vector<std::filesystem::path> ChooseFilesToOpen(platform::Prompter& prompter);
// The target of a Save As ("Save Audio File As", "SaveAsDir", "SaveAsFormat"), asking
// before replacing an existing file; nullopt when cancelled.
std::optional<std::filesystem::path> ChooseSaveAsTarget(platform::Prompter& prompter,
                                                        const std::filesystem::path& current);
// The question Save asks for a RealAudio name; true when the person chose to save in
// another format (Save As), false to stop.
bool IsRealAudioName(const std::filesystem::path& file);
bool AskSaveRealAudioElsewhere(platform::Prompter& prompter);

}  // namespace quillet::formats
