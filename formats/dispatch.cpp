#include "formats/dispatch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "audio/channel.h"
#include "core/chain_source.h"
#include "formats/dct.h"
#include "formats/document_io.h"
#include "formats/external.h"
#include "formats/messages.h"
#include "formats/ogg_head.h"
#include "formats/playlist.h"
#include "formats/simple_formats.h"
#include "formats/wav_chooser.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/paths.h"
#include "platform/safe_file_writer.h"
#include "platform/temp_file.h"

namespace quillet::formats {

namespace {

using platform::kTaskCancelled;
using platform::kTaskDone;
using platform::kTaskFailed;

bool TakeAsk(bool* ask) {
  if (!ask || !*ask) return false;
  *ask = false;
  return true;
}

// Windows for tasks when the caller has none: nothing is drawn and nothing cancels.
class SilentWindows final : public platform::ProgressWindowFactory {
  class Window final : public platform::ProgressWindow {
    void SetCaption(std::string_view) override {}
    void SetText(int, std::string_view) override {}
    void SetProgress(int) override {}
    bool PumpEvents(int waitMs) override {
      if (waitMs > 0) ::usleep(static_cast<useconds_t>(std::min(waitMs, 50)) * 1000);
      return false;
    }
    void ShowMessage(std::string_view, std::string_view, platform::MessageIcon) override {}
  };

 public:
  std::unique_ptr<platform::ProgressWindow> Create() override { return std::make_unique<Window>(); }
  void SetOwnerEnabled(bool) override {}
  void ShowOwnerMessage(std::string_view, std::string_view, platform::MessageIcon) override {}
};

platform::ProgressWindowFactory& OwnerOf(const DispatchEnv& env) {
  static SilentWindows silent;
  return env.owner ? *env.owner : silent;
}

InstallPolicy PolicyOf(const DispatchEnv& env) {
  return {env.offerInstall, env.prompter, env.owner};
}

std::string Sub(std::string_view text, const std::string& file) {
  std::string s(text);
  const std::size_t at = s.find("%s");
  if (at != std::string::npos) s.replace(at, 2, file);
  return s;
}

// Runs one decoder program, under the caller's task or a task of its own.
class DecodeTask final : public platform::LProgressDialog {
 public:
  DecodeTask(std::string_view title, std::string_view text, std::vector<std::string> argv,
             std::filesystem::path output)
      : LProgressDialog(std::string(title)), text_(text), argv_(std::move(argv)), output_(std::move(output)) {}
  bool Execute() override {
    if (!text_.empty()) SetText(0, text_);
    result = RunDecoderProgram(*this, argv_, output_, kDecoderTimeoutMs, &detail);
    return true;
  }
  std::string detail;

 private:
  std::string text_;
  std::vector<std::string> argv_;
  std::filesystem::path output_;
};

platform::TaskResult RunDecoder(const FormatRow& row, std::vector<std::string> argv,
                        const std::filesystem::path& output, const DispatchEnv& env,
                        platform::LProgressDialog* task, std::string* detail) {
  if (task) {
    task->SetText(0, row.openProgress.empty() ? row.openTitle : row.openProgress);
    return RunDecoderProgram(*task, argv, output, kDecoderTimeoutMs, detail);
  }
  DecodeTask t(row.openTitle, row.openProgress, std::move(argv), output);
  t.Run(OwnerOf(env));
  *detail = t.detail;
  return t.result;
}

std::string ReadFailureMessage(const FormatRow& row, audio::SoundStatus status, const std::string& name) {
  if (row.readFailure == ReadFailure::NotMpeg && status != audio::SoundStatus::CannotOpen)
    return Sub("Cannot open the file \"%s\". It is possibly either corrupt or not a true layer-3 MPEG file.",
               name);
  if (row.readFailure == ReadFailure::CannotOpen && status != audio::SoundStatus::Corrupt)
    return OpenFailureMessage(audio::SoundStatus::CannotOpen, name);
  std::string m = OpenFailureMessage(status, name);
  return m.empty() ? Sub("Cannot open the file \"%s\".", name) : m;
}

// What one attempt at reading a file with one row gave; the message is not shown yet.
struct Attempt {
  OpenOutcome out;
  std::string_view caption = kMessageCaption;
};

// The first bytes of file, for the content check; empty when it cannot be read.
std::vector<std::uint8_t> ReadHead(const std::filesystem::path& file, int* err) {
  std::vector<std::uint8_t> head(kSniffBytes);
  auto bytes = platform::FileByteSource::Open(file, err);
  head.resize(bytes ? bytes->ReadAt(0, head.data(), head.size()) : 0);
  return head;
}

const FormatRow* SniffedRow(const std::vector<std::uint8_t>& head) {
  const std::optional<std::string_view> ext = SniffExtension(head.data(), head.size());
  return ext ? &RowFor(*ext) : nullptr;
}

// Whether reading with other instead of row could change anything.
bool ReadsDifferently(const FormatRow& row, const FormatRow& other) {
  return &row != &other && row.readerName != other.readerName;
}

Attempt OpenWithRow(const FormatRow& chosen, const std::filesystem::path& file,
                    const std::vector<std::uint8_t>& head, bool* ask, const DispatchEnv& env,
                    platform::LProgressDialog* task) {
  Attempt a;
  OpenOutcome& out = a.out;
  const std::string name = file.string();
  const FormatRow* row = &chosen;
  out.reader = std::string(row->readerName);
  auto fail = [&](std::string message) {
    out.result = kTaskFailed;
    out.source = {};
    out.message = std::move(message);
    return a;
  };
  auto opened = [&](audio::SourceHandle src) {
    out.result = kTaskDone;
    out.source = std::move(src);
    return a;
  };
  auto cancelled = [&] {
    out.result = kTaskCancelled;
    return a;
  };

  if (row->read == ReadWay::Own) {
    std::optional<core::ParamSet> options;
    // Only a raw layout shapes a read (its record is the one that starts from the
    // document); an encoder's record, MP3's, waits for a save.
    if (row->options && row->options->startsFromDocument) {
      options = LoadOptions(*row->options, env.settings, 0, 0, env.notices);
      if (TakeAsk(ask) && env.options) {
        if (!env.options->EditOptions(*row->options, *options)) return cancelled();
        options->Store(env.settings);
      }
    }
    audio::SourceHandle src = row->open(file, options ? &*options : nullptr);
    if (src->ready()) return opened(std::move(src));
    out.status = src->status();
    // Codings our readers lack may still be decoded by ffmpeg, when it is there.
    if (src->status() != audio::SoundStatus::CodecMissing ||
        ComponentPath(Component::Ffmpeg, env.settings).empty())
      return fail(ReadFailureMessage(*row, src->status(), name));
    row = &RowFor({});
    out.reader = std::string(row->readerName);
  }
  if (row->read == ReadWay::Container) {
    std::string why;
    audio::SourceHandle src = OpenDctFile(file, &why);
    if (src->ready()) return opened(std::move(src));
    out.status = src->status();
    if (!why.empty()) {
      a.caption = kDctErrorCaption;
      return fail(why);
    }
    return fail(ReadFailureMessage(*row, src->status(), name));
  }

  // Decoded by a program into a private temporary file first. A file it cannot read
  // is named as such, not blamed on the program.
  if (head.empty() && !platform::FileByteSource::Open(file)) {
    out.status = audio::SoundStatus::CannotOpen;
    return fail(OpenFailureMessage(audio::SoundStatus::CannotOpen, name));
  }
  Component component = row->decoder.value_or(Component::Ffmpeg);
  // ffmpeg reads these too: use it when the format's own decoder is missing.
  if (component != Component::Ffmpeg && ComponentPath(component, env.settings).empty() &&
      !ComponentPath(Component::Ffmpeg, env.settings).empty())
    component = Component::Ffmpeg;
  std::string why;
  const platform::TaskResult ensured = EnsureComponent(component, env.settings, PolicyOf(env), &why);
  if (ensured == kTaskCancelled) return cancelled();
  if (ensured != kTaskDone) return fail(why);
  out.reader = component == Component::Ffmpeg && row->decoder != Component::Ffmpeg
                   ? std::string(InfoOf(Component::Ffmpeg).program)
                   : std::string(row->readerName);

  platform::TempFolder folder = platform::TempFolder::Create();
  if (!folder.ok()) return fail(OpenFailureMessage(audio::SoundStatus::CannotOpen, name));
  // oggdec writes surround WAVE files in a channel order of its own: take its raw
  // output, which keeps Vorbis order, and put that in WAVE order ourselves.
  std::optional<VorbisHead> vorbis;
  if (component == Component::OggDec) vorbis = ParseVorbisHead(head.data(), head.size());
  const bool surround = vorbis && vorbis->channels > 2;
  const bool raw = row->read == ReadWay::ProgramRaw || surround;
  // The input's base name for a raw output, inside the private folder.
  const std::filesystem::path output =
      folder.path() / (raw ? platform::ReplaceExtension(std::string(platform::PathFileName(name)), ".raw")
                           : std::string("Temp1.wav"));
  const std::string program = ComponentPath(component, env.settings).string();
  // The decoders guess the container from the name (flac takes ".ogg" for Ogg FLAC):
  // they get a link named for what the content is, inside the private folder.
  std::string input = name;
  if (component != Component::Ffmpeg && !row->extension.empty()) {
    std::error_code ec;
    const std::filesystem::path link = folder.path() / ("input" + std::string(row->extension));
    std::filesystem::create_symlink(std::filesystem::absolute(file, ec), link, ec);
    if (!ec) input = link.string();
  }
  std::vector<std::string> argv;
  if (surround)
    argv = OggDecoderRawArgs(program, input, output.string());
  else if (component == Component::Ffmpeg)
    argv = FfmpegDecoderArgs(program, name, output.string(), raw);
  else
    argv = DecoderArgs(component, program, input, output.string());
  std::string detail;
  const platform::TaskResult decoded = RunDecoder(*row, std::move(argv), output, env, task, &detail);
  if (decoded == kTaskCancelled) return cancelled();
  if (decoded != kTaskDone) {
    // The program's own words are chatter; only a reason of ours (it could not start,
    // it did not finish) goes with the message.
    std::string m = row->decodeFailure.empty() ? OpenFailureMessage(audio::SoundStatus::Corrupt, name)
                                               : Sub(row->decodeFailure, name);
    if (!detail.empty()) m += " " + detail;
    return fail(std::move(m));
  }
  // The source keeps its own descriptor: the folder goes when we return.
  if (surround) {
    audio::SourceHandle src = OpenRawFile(
        output, RawSettings{static_cast<std::int32_t>(vorbis->rate), vorbis->channels, kRawPcm16LE});
    if (src->ready()) return opened(audio::ReorderChannels(std::move(src), WaveFromVorbisOrder(vorbis->channels)));
    return fail(OpenFailureMessage(audio::SoundStatus::Corrupt, name));
  }
  if (raw) {
    // Read as 8000 Hz mono 16-bit without touching the stored "RawAudio" record.
    audio::SourceHandle src = OpenRawFile(output, RawSettings{8000, 1, kRawPcm16LE});
    if (src->ready()) return opened(std::move(src));
    return fail(OpenFailureMessage(audio::SoundStatus::CannotOpen, name));
  }
  audio::SourceHandle src = OpenWaveFile(output);
  if (src->ready()) return opened(std::move(src));
  return fail(ReadFailureMessage(RowFor(".wav"), src->status(), name));
}

// A WAVE or AIFF file beyond what its 32-bit sizes describe gets a message that says
// so, not "corrupt" (RF64 has no such limit).
std::optional<std::string> TooLargeMessage(const std::filesystem::path& file,
                                           const std::vector<std::uint8_t>& head) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size <= kMaxRiffFileBytes || head.size() < 4) return std::nullopt;
  const bool riff = std::memcmp(head.data(), "RIFF", 4) == 0;
  const bool form = std::memcmp(head.data(), "FORM", 4) == 0;
  if (!riff && !form) return std::nullopt;
  return "Cannot open the file \"" + file.string() + "\" because it is larger than the 4 GiB " +
         (form ? "an AIFF" : "a WAVE") + " file can describe.";
}

}  // namespace

OpenOutcome OpenDispatch(const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                         platform::LProgressDialog* task) {
  const std::string name = file.string();
  auto finish = [&](Attempt a) {
    if (a.out.result == kTaskFailed && TakeAsk(ask) && env.prompter)
      env.prompter->Message(a.out.message, a.caption, platform::MessageIcon::Error);
    return std::move(a.out);
  };
  // A pipe or a device would block the reader (or a decoder) for ever, and a folder
  // is no audio: refuse them before anything opens them.
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    Attempt refused;
    refused.out.status = audio::SoundStatus::CannotOpen;
    refused.out.message = NotAFileMessage(name, S_ISDIR(st.st_mode));
    return finish(std::move(refused));
  }
  int err = 0;
  const std::vector<std::uint8_t> head = ReadHead(file, &err);
  const FormatRow& byName = RowForFile(file);
  const FormatRow* sniffed = SniffedRow(head);
  // A decoder program given the wrong kind of file only fails, slowly and with chatter:
  // what the content says goes first there.
  const FormatRow* row = &byName;
  if (row->read != ReadWay::Own && row->read != ReadWay::Container && sniffed &&
      ReadsDifferently(*row, *sniffed) &&
      !(sniffed->decoder == Component::AacDec && row->decoder == Component::Ffmpeg))
    row = sniffed;
  Attempt first = OpenWithRow(*row, file, head, ask, env, task);
  if (first.out.result != kTaskFailed || first.out.status == audio::SoundStatus::CannotOpen) return finish(std::move(first));
  // The extension was wrong: the reader the content names, silently unless it fails too.
  if (sniffed && ReadsDifferently(*row, *sniffed)) {
    Attempt second = OpenWithRow(*sniffed, file, head, ask, env, task);
    if (second.out.result == kTaskFailed) {
      if (std::optional<std::string> big = TooLargeMessage(file, head)) second.out.message = *big;
    }
    return finish(std::move(second));
  }
  if (std::optional<std::string> big = TooLargeMessage(file, head)) first.out.message = *big;
  return finish(std::move(first));
}

// ---- save side

bool SaveCheck(std::string_view ext, const DispatchEnv& env, std::string* message) {
  const FormatRow& row = RowFor(ext);
  if (!CanWrite(row)) {
    if (message) *message = "Files of this type cannot be written.";
    return false;
  }
  if (!row.encoder) return true;
  return EnsureComponent(*row.encoder, env.settings, PolicyOf(env), message) == kTaskDone;
}

bool SaveOptions(std::string_view ext, std::uint32_t rate, int channels, const DispatchEnv& env) {
  const FormatRow& row = RowFor(ext);
  if (!CanWrite(row)) return false;
  if (!env.options) return true;
  if (row.waveChooser) return WaveSaveOptions(rate, channels, env.options->WaveChooser(), env.documentWave);
  if (!row.options) return true;
  DocumentOptions* own = env.documentOptions && env.documentOptions->Covers(row) ? env.documentOptions : nullptr;
  core::ParamSet values = own ? *own->values : LoadOptions(*row.options, env.settings, rate, channels, env.notices);
  StartFromDocument(*row.options, values, rate, channels);
  std::string note = MixdownNote(row, channels);
  if (own && !own->note.empty()) note += (note.empty() ? "" : "\n") + own->note;
  if (!env.options->EditOptions(*row.options, values, note)) return false;
  values.Store(env.settings);
  if (own) {
    own->values = values;
    own->note.clear();
  }
  return true;
}

audio::SinkHandle MakeSaveSink(const std::filesystem::path& file, std::uint32_t rate, int channels,
                               const settings::Settings& s, int sourceBits, const LAudioTagList* tags,
                               std::vector<std::string>* notices, const WaveFormat* documentWave,
                               const DocumentOptions* documentOptions) {
  const FormatRow& row = RowForFile(file);
  if (!row.makeSink) return nullptr;
  SinkRequest request;
  request.file = file;
  request.rate = rate;
  request.channels = channels;
  request.sourceBits = sourceBits;
  request.documentWave = documentWave;
  if (row.encoder) {
    request.program = ComponentPath(*row.encoder, s).string();
    if (request.program.empty()) return nullptr;
  }
  std::optional<core::ParamSet> options;
  if (documentOptions && documentOptions->Covers(row)) options = *documentOptions->values;
  else if (row.options) options = LoadOptions(*row.options, s, rate, channels, notices);
  request.options = options ? &*options : nullptr;
  if (tags) request.finishing = TagStep(row.tags, *tags);
  return row.makeSink(request);
}

namespace {

// The AMR save: the document converted to 8000 Hz mono in a temporary WAVE file, which
// the encoder program turns into the target.
platform::TaskResult SaveThroughWave(platform::LProgressDialog& task, audio::SourceHandle source,
                             const std::filesystem::path& file, const FormatRow& row,
                             const DispatchEnv& env, std::string* why) {
  const core::ParamSet options = env.documentOptions && env.documentOptions->Covers(row)
                                     ? *env.documentOptions->values
                                     : LoadOptions(*row.options, env.settings, 0, 0, env.notices);
  task.SetText(1, "Preprocessing file...");
  platform::TempFolder folder = platform::TempFolder::Create();
  if (!folder.ok()) return kTaskFailed;
  const std::filesystem::path wave = folder.path() / "amr-input.wav";
  {
    audio::SinkHandle sink = MakeWavePcmSink(wave, 8000, 0, 16, 1);
    if (sink->failed()) {
      *why = sink->failureMessage();
      return kTaskFailed;
    }
    const audio::TransferOutcome moved = TransferUnderTask(task, std::move(source), *sink);
    if (!moved.done()) {
      *why = moved.message;
      return moved.result;
    }
  }
  {
    const audio::SourceHandle check = OpenWaveFile(wave);
    if (!check->ready() || check->sampleRate() != 8000 || check->channels() != 1) {
      *why = "The audio could not be converted to 8000 Hz mono.";
      return kTaskFailed;
    }
  }
  int err = 0;
  platform::TempFile out = TempFileBeside(file, &err);
  if (!out.ok()) {
    *why = platform::CannotSaveMessage(file, err);
    return kTaskFailed;
  }
  out.Close();
  const platform::TaskResult ran = RunDecoderProgram(
      task,
      AmrEncoderArgs(ComponentPath(*row.encoder, env.settings).string(), options.Int(kAmrMode), wave.string(),
                     out.path().string()),
      out.path(), kDecoderTimeoutMs, why);
  if (ran != kTaskDone) return ran;
  if (!PutInPlace(out, file, why)) return kTaskFailed;
  return kTaskDone;
}

}  // namespace

platform::Outcome RunSaveSteps(platform::LProgressDialog& task, const core::AudioChain& chain,
                               const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                               int sourceBits, const LAudioTagList* tags) {
  return RunSaveSteps(task, core::ChainOpenSource(chain), file, ask, env, sourceBits, tags);
}

platform::Outcome RunSaveSteps(platform::LProgressDialog& task, audio::SourceHandle source,
                               const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                               int sourceBits, const LAudioTagList* tags) {
  const auto rate = static_cast<std::uint32_t>(source->sampleRate());
  const int channels = source->channels();
  const bool asking = ask && *ask;
  const std::string name = file.string();
  const std::string_view ext = platform::PathExtension(name);
  const FormatRow& row = RowFor(ext);
  std::string why;
  auto finish = [&](platform::TaskResult result) {
    if (result != kTaskFailed) return platform::Outcome{result, {}};
    platform::Outcome failed = platform::Outcome::Failed(SaveFailureMessage(name));
    if (!why.empty()) failed.message += "\n" + why;
    if (asking && env.prompter)
      env.prompter->Message(failed.message, kMessageCaption, platform::MessageIcon::Error);
    if (ask) *ask = false;
    return failed;
  };
  task.SetText(0, "Process Audio");
  task.SetText(1, "Saving file...");
  if (!SaveCheck(ext, env, &why)) return finish(kTaskFailed);
  // Without a dialog to show it in, the mixdown is told with the other notices.
  if (const std::string note = MixdownNote(row, channels); !note.empty() && env.notices && !(asking && env.options))
    env.notices->push_back(note);
  if (TakeAsk(ask) && !SaveOptions(ext, rate, channels, env)) return platform::Outcome::Cancelled();
  // A playlist's MP3 goes beside it: asked before it replaces a file of that name.
  if (WritesBesideTarget(row) && asking && env.prompter) {
    const std::filesystem::path mp3 = PlaylistMp3Path(file);
    std::error_code ec;
    if (std::filesystem::exists(mp3, ec) &&
        env.prompter->Message("The file \"" + mp3.string() + "\" already exists - overwrite?", kMessageCaption,
                              platform::MessageIcon::Question,
                              platform::MessageButtons::YesNoCancel) != platform::Answer::Yes)
      return platform::Outcome::Cancelled();
  }
  if (row.encodesFromWave) return finish(SaveThroughWave(task, std::move(source), file, row, env, &why));
  audio::SinkHandle sink = MakeSaveSink(file, rate, channels, env.settings, sourceBits, tags, env.notices,
                                        env.documentWave && *env.documentWave ? &**env.documentWave : nullptr,
                                        env.documentOptions);
  if (!sink) return finish(kTaskFailed);
  if (sink->failed()) {
    why = sink->failureMessage();
    sink->Abandon();
    return finish(kTaskFailed);
  }
  const audio::TransferOutcome moved = TransferUnderTask(task, std::move(source), *sink);
  if (moved.result == kTaskFailed) why = moved.message;
  return finish(moved.result);
}

// ---- the file dialogs of the commands

std::vector<std::filesystem::path> ChooseFilesToOpen(platform::Prompter& prompter, settings::Settings& s) {
  platform::FileRequest r;
  r.mode = platform::FileDialogMode::Open;
  r.title = "Open Audio File";
  r.filters = {{"All Files", "*.*"}, {"Audio Files", OpenFilterPatterns()}};
  r.defaultExtension = "wav";
  r.folder = s.GetString("Settings", "OpenFileDir", "");
  r.multiSelect = true;
  const platform::FileChoice choice = prompter.ChooseFiles(r);
  if (!choice.accepted()) return {};
  s.SetString("Settings", "OpenFileDir", choice.files.front().parent_path().string());
  return choice.files;
}

std::optional<std::filesystem::path> ChooseSaveAsTarget(platform::Prompter& prompter, settings::Settings& s,
                                                        const std::filesystem::path& current) {
  const auto filters = SaveAsFilters();
  for (;;) {
    platform::FileRequest r;
    r.mode = platform::FileDialogMode::Save;
    r.title = "Save Audio File As";
    r.filters.assign(filters.begin(), filters.end());
    r.defaultExtension = "wav";
    r.folder = s.GetString("Settings", "SaveAsDir", "");
    r.fileName = current.filename().string();
    const platform::FileChoice choice = prompter.ChooseFiles(r);
    if (!choice.accepted()) return std::nullopt;
    const std::size_t index = static_cast<std::size_t>(
        std::clamp(choice.filterIndex, 0, static_cast<int>(filters.size()) - 1));
    // The chosen entry's first extension, when the name has none.
    const std::string& pattern = filters[index].patterns;
    const std::filesystem::path chosen =
        platform::WithDefaultExtension(choice.files.front(), pattern.substr(2, pattern.find(';') - 2));
    s.SetInt("Settings", "SaveAsFormat", static_cast<int>(index) + 1);
    s.SetString("Settings", "SaveAsDir", chosen.parent_path().string());
    std::error_code ec;
    if (!std::filesystem::exists(chosen, ec)) return chosen;
    const platform::Answer a = prompter.Message(
        "Another file with the same name already exists. Do you want to replace it?", kMessageCaption,
        platform::MessageIcon::Question, platform::MessageButtons::YesNoCancel);
    if (a == platform::Answer::Yes) return chosen;
    if (a != platform::Answer::No) return std::nullopt;
  }
}

std::string_view SaveElsewhereQuestion(const std::filesystem::path& file) {
  return RowForFile(file).saveQuestion;
}

bool AskSaveElsewhere(platform::Prompter& prompter, std::string_view question) {
  return prompter.Message(question, kMessageCaption, platform::MessageIcon::Question,
                          platform::MessageButtons::YesNoCancel) == platform::Answer::Yes;
}

}  // namespace quillet::formats
