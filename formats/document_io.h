#pragma once
// Bringing a file into the store and a chain back out to a file: the loading and
// saving tasks every command uses (opening a document, Insert File, Mix File,
// clipboard exchange, convert). Both run under a progress window and can be
// cancelled; a cancelled or failed task changes nothing.

#include <filesystem>
#include <string>

#include "audio/sound.h"
#include "audio/transfer.h"
#include "core/chain.h"
#include "core/edit_services.h"
#include "formats/dispatch.h"
#include "platform/task.h"

namespace quillet::formats {

// The reader for a file, chosen by its extension (OpenDispatch without questions or
// windows, with the raw records and program paths of s); a source whose status tells
// why it cannot be used when the file cannot be read. readerName (optional) receives
// the reader's name for quillet-cli info.
audio::SourceHandle OpenAudioFile(const std::filesystem::path& file, settings::Settings& s,
                                  std::string* readerName = nullptr);

// The PCM width of the file a source reads (8, 16, 24 or 32; floating point counts as
// 24), 0 when not PCM.
int SourcePcmBits(const audio::LSoundSource& source);

// The rate and channel converters of this build, for the transfer loop.
const audio::FormatAdaptors& DefaultAdaptors();

// Audio files for the edit commands through the format code: the reader chosen by
// extension, and the writer chosen by the target's extension with the format options
// stored in the caller's store. Shared by the editor and quillet-cli.
class FormatsFileIo final : public core::AudioFileIo {
 public:
  explicit FormatsFileIo(settings::Settings& s) : settings_(s) {}
  audio::SourceHandle Open(const std::filesystem::path& file, std::string* message) override;
  audio::TransferOutcome SaveWave(audio::LSoundSource& source, const std::filesystem::path& target,
                                  const audio::ProgressFn& progress) override;

 private:
  settings::Settings& settings_;
};

// "Loading Audio File Source": opens file and copies it into a new chain of store.
class LoadFileTask final : public platform::LProgressDialog {
 public:
  // env: the settings and who answers questions; ask: the caller's ask flag (see
  // dispatch.h).
  LoadFileTask(std::filesystem::path file, core::SegmentStore& store, DispatchEnv env,
               bool* ask = nullptr);

  // The loaded audio once result is 0.
  core::AudioChain& chain() { return chain_; }
  // Why it failed, in the words the user sees; empty otherwise.
  const std::string& message() const { return message_; }
  // The PCM width of the file (SourcePcmBits), for saving it back alike.
  int sourceBits() const { return sourceBits_; }

 protected:
  bool Execute() override;

 private:
  std::filesystem::path file_;
  DispatchEnv env_;
  bool* ask_;
  core::AudioChain chain_;
  std::string message_;
  int sourceBits_ = 0;
};

// "Saving...": writes chain (from its start) into file with the writer its extension
// chooses (RunSaveSteps), with tags inside when the format carries them. The target is
// replaced only when everything, tags included, was written. With the ask flag set
// the format's options are asked first and a failure is shown.
class SaveChainTask final : public platform::LProgressDialog {
 public:
  SaveChainTask(const core::AudioChain& chain, std::filesystem::path file, DispatchEnv env,
                int sourceBits = 0, bool* ask = nullptr, LAudioTagList tags = {});

  const std::string& message() const { return message_; }

 protected:
  bool Execute() override;

 private:
  const core::AudioChain& chain_;
  std::filesystem::path file_;
  DispatchEnv env_;
  int sourceBits_;
  bool* ask_;
  LAudioTagList tags_;
  std::string message_;
};

// "Converting Audio File": file's reader straight into target's writer (the "Saving..."
// steps with the stored format options), with no sample files: quillet-cli convert and
// a batch without commands. The target is replaced only when everything was written.
class ConvertFileTask final : public platform::LProgressDialog {
 public:
  ConvertFileTask(std::filesystem::path file, std::filesystem::path target, DispatchEnv env,
                  LAudioTagList tags = {});

  // Why it failed, in the words the user sees; empty otherwise.
  const std::string& message() const { return message_; }

 protected:
  bool Execute() override;

 private:
  std::filesystem::path file_;
  std::filesystem::path target_;
  DispatchEnv env_;
  LAudioTagList tags_;
  std::string message_;
};

// Moves source into sink as a task step: progress on the task's bar, cancel from
// its window. The sink is finished on success and abandoned otherwise.
audio::TransferOutcome TransferUnderTask(platform::LProgressDialog& task,
                                         audio::SourceHandle source, audio::LSoundSink& sink);

}  // namespace quillet::formats
