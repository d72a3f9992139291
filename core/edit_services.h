#pragma once
// What edit commands need from the layers above the core, as small interfaces: the
// player (stopped before every change, started after one), audio files (opened and
// saved through the format code), and the person's settings, progress windows and
// clipboard. The editor wires them to its parts; quillet-cli and tests to their own.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "audio/resample.h"
#include "audio/sound.h"
#include "audio/transfer.h"
#include "core/chain.h"
#include "core/session.h"
#include "platform/clipboard.h"
#include "platform/prompter.h"
#include "platform/task.h"
#include "settings/settings.h"

namespace quillet::core {

class ProgramClipboard;
class WaveDocument;

class PlaybackControl {
 public:
  virtual ~PlaybackControl() = default;
  virtual bool IsPlaying() const = 0;
  virtual void Stop() = 0;
  // Plays doc's audio (a snapshot of it) from frame pos.
  virtual void PlayFrom(const WaveDocument& doc, FramePos pos) = 0;
  // Plays [from, to) of chain (the preview of a typed range).
  virtual void PlayRange(const AudioChain& chain, FramePos from, FramePos to) = 0;
  // Plays source from its position at normal speed (an effect's preview); false with
  // *message set when the device refuses it.
  virtual bool PlaySource(audio::SourceHandle source, std::string* message) = 0;
};

class AudioFileIo {
 public:
  virtual ~AudioFileIo() = default;
  // A source over the file; when it is not ready(), *message holds the system's text.
  virtual audio::SourceHandle Open(const std::filesystem::path& file, std::string* message) = 0;
  // Writes source, from its position to its end, as a WAVE file in place of target,
  // which is replaced only when everything was written (a cancelled or failed save
  // leaves it as it was).
  virtual audio::TransferOutcome SaveWave(audio::LSoundSource& source,
                                          const std::filesystem::path& target,
                                          const audio::ProgressFn& progress) = 0;
};

// Everything a command runs with. Pointers may be null where the front end has no
// such part (no player in quillet-cli); the commands then skip that step.
// Which front end runs a command: a message that sends the user to another command
// names it as that front end runs it.
enum class FrontEnd : std::uint8_t { Editor, CommandLine };

// The editor's menu path or quillet-cli's words for one command.
inline std::string_view CommandWording(FrontEnd fe, std::string_view menuPath, std::string_view cliWords) {
  return fe == FrontEnd::CommandLine ? cliWords : menuPath;
}

struct EditContext {
  SegmentStore& store;
  ProgramClipboard& clipboard;
  platform::ProgressWindowFactory& progress;
  settings::Settings& settings;
  PlaybackControl* player = nullptr;
  AudioFileIo* files = nullptr;
  platform::SystemClipboard* systemClipboard = nullptr;
  platform::Prompter* prompter = nullptr;
  // Rate and channel converters for audio that differs from the document's (paste,
  // mixes, inserted files): the standard ones unless a front end or test replaces them.
  audio::FormatAdaptors adaptors = audio::StandardFormatAdaptors();
  // Why the last command failed (also shown through the progress window when it ran
  // as a task); empty after a success.
  std::string message;
  // The message was already shown (over a task's window).
  bool messageShown = false;
  FrontEnd frontEnd = FrontEnd::Editor;
  // What commands keep for the rest of this front end's run.
  SessionState session;
};

}  // namespace quillet::core
