#pragma once
// Every audio file enters and leaves through these functions, by the row of the format
// table its extension names (compared without regard to case): the open dispatcher
// turns a file into a source, decoding formats we do not read ourselves through a
// codec program first; the save side checks that the target can be written, asks for
// the format's options and builds the sink that writes it, tags included.
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
#include "formats/format_table.h"
#include "formats/save_options.h"
#include "formats/tags.h"
#include "platform/prompter.h"
#include "platform/result.h"
#include "platform/task.h"
#include "settings/settings.h"

namespace quillet::formats {

// The caller's settings store, and what the dispatcher may use to reach a person
// (every pointer is optional).
struct DispatchEnv {
  explicit DispatchEnv(settings::Settings& store) : settings(store) {}
  // Format options, the raw records, codec program paths and the dialogs' folders.
  settings::Settings& settings;
  platform::Prompter* prompter = nullptr;            // message boxes and questions
  platform::ProgressWindowFactory* owner = nullptr;  // windows of decoder and install tasks
  SaveOptionsUi* options = nullptr;  // the settings dialogs; none: the stored settings
  bool offerInstall = false;         // offer to install a missing program (editor only)
  // Receives a line for each stored option that could not be used and was replaced
  // by its default (quillet-cli prints them).
  std::vector<std::string>* notices = nullptr;
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
// The sink for file with its stored options (from s); null for an extension it cannot
// write through a sink. With no WAVE format stored, PCM keeps sourceBits (8, 16, 24 or
// 32). tags go into the file before it replaces the target when its format carries
// them; a failed tag write fails the sink.
audio::SinkHandle MakeSaveSink(const std::filesystem::path& file, std::uint32_t rate, int channels,
                               const settings::Settings& s, int sourceBits = 0,
                               const LAudioTagList* tags = nullptr,
                               std::vector<std::string>* notices = nullptr);

// Saves chain into file (the "Saving..." steps), tags included; the target is replaced
// only when every block was read and written. A failure is shown when *ask was set.
platform::Outcome RunSaveSteps(platform::LProgressDialog& task, const core::AudioChain& chain,
                               const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                               int sourceBits, const LAudioTagList* tags);
// The same steps for any source read from its position on: a file converted straight
// from its reader, with no sample files.
platform::Outcome RunSaveSteps(platform::LProgressDialog& task, audio::SourceHandle source,
                               const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                               int sourceBits, const LAudioTagList* tags);

// The file dialogs of the Open and Save As commands, with their folders stored in s.
// Files to open, empty when cancelled ("Open Audio File", "OpenFileDir").
std::vector<std::filesystem::path> ChooseFilesToOpen(platform::Prompter& prompter,
                                                     settings::Settings& s);
// The target of a Save As ("Save Audio File As", "SaveAsDir", "SaveAsFormat"), asking
// before replacing an existing file; nullopt when cancelled.
std::optional<std::filesystem::path> ChooseSaveAsTarget(platform::Prompter& prompter,
                                                        settings::Settings& s,
                                                        const std::filesystem::path& current);
// The question Save asks instead of writing file (RealAudio names), or empty; Ask...
// is true when the person chose to save in another format (Save As), false to stop.
std::string_view SaveElsewhereQuestion(const std::filesystem::path& file);
bool AskSaveElsewhere(platform::Prompter& prompter, std::string_view question);

}  // namespace quillet::formats
