#include "formats/dispatch.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/chain_source.h"
#include "formats/dct.h"
#include "formats/document_io.h"
#include "formats/external.h"
#include "formats/messages.h"
#include "formats/mp3_source.h"
#include "formats/simple_formats.h"
#include "formats/wav_chooser.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/paths.h"
#include "platform/temp_file.h"
#include "settings/settings.h"

namespace quillet::formats {

namespace {

using platform::kTaskCancelled;
using platform::kTaskDone;
using platform::kTaskFailed;

enum class How {
  Wave, Mp3, Aiff, Au, Gsm, Vox, Raw,  // our own readers
  Dct,                                 // our container around a WAVE file
  Faad, OggDec, FlacDec,               // the format's own decoder program
  Wma, Ffmpeg, Amr,                    // ffmpeg
};

struct OpenRow {
  std::array<std::string_view, 4> extensions;
  How how;
  std::string_view title;     // of the decoder task
  std::string_view progress;  // its first text line
};

constexpr OpenRow kOpenTable[] = {
    {{".wav"}, How::Wave, {}, {}},
    {{".mp3"}, How::Mp3, {}, {}},
    {{".aif", ".aiff"}, How::Aiff, {}, {}},
    {{".au"}, How::Au, {}, {}},
    {{".gsm"}, How::Gsm, {}, {}},
    {{".vox"}, How::Vox, {}, {}},
    {{".raw", ".snd"}, How::Raw, {}, {}},
    {{".wma"}, How::Wma, "Loading WMA file", "Decoding with FFmpeg"},
    {{".dss"}, How::Ffmpeg, "Loading DSS file", "Decoding DSS File"},
    {{".ra", ".ram", ".rm", ".rmj"}, How::Ffmpeg, "Loading RealAudio file", "Decoding Real Audio"},
    {{".aac", ".m4a"}, How::Faad, "Loading AAC file", "Decoding AAC file"},
    {{".ogg"}, How::OggDec, "Loading OGG file", "Decoding Ogg file"},
    {{".flac"}, How::FlacDec, "Loading FLAC file", "Decoding FLAC file"},
    {{".sri"}, How::Ffmpeg, "Loading SRI file", "Decoding VoiceIt File"},
    {{".act", ".rec", ".rcd"}, How::Ffmpeg, "Loading Record file", "Decoding Record file"},
    {{".shn"}, How::Ffmpeg, "Loading Shorten file", "Decoding Shn file"},
    {{".amr"}, How::Amr, "Loading AMR file", {}},
    {{".dct"}, How::Dct, "Loading DCT file", {}},
};
constexpr OpenRow kOtherRow = {{}, How::Ffmpeg, "Loading with FFmpeg", "Decoding with FFmpeg"};

const OpenRow& RowFor(std::string_view ext) {
  if (ext.empty()) return kOtherRow;
  for (const OpenRow& row : kOpenTable)
    for (std::string_view e : row.extensions)
      if (!e.empty() && platform::SameExtension(e, ext)) return row;
  return kOtherRow;
}

std::string Ext(const std::filesystem::path& file) {
  return std::string(platform::PathExtension(file.string()));
}

bool Is(std::string_view ext, std::initializer_list<std::string_view> list) {
  return std::any_of(list.begin(), list.end(),
                     [&](std::string_view e) { return platform::SameExtension(ext, e); });
}

bool TakeAsk(bool* ask) {
  if (!ask || !*ask) return false;
  *ask = false;
  return true;
}

void ShowStop(const DispatchEnv& env, std::string_view text) {
  if (env.prompter)
    env.prompter->Message(text, kMessageCaption, platform::MessageIcon::Error);
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

constexpr std::string_view kFormatsPage = "https://www.orvanta.com/quillet/formats";
constexpr std::string_view kCodecPage = "https://www.orvanta.com/quillet/codecs";

// The message of a failed ffmpeg row (the platform decoder of the original design).
std::string FfmpegFailure(How how, const std::filesystem::path& file) {
  const std::string name = file.string();
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return OpenFailureMessage(audio::SoundStatus::CannotOpen, name);
  if (how == How::Wma)
    return Sub("Cannot open file \"%s\". It is possible that the file does not exist, it is corrupt or the "
               "file is protected with Digital Rights Management (DRM) which limits the recording to "
               "limited players.",
               name);
  const std::string ext = Ext(file);
  if (Is(ext, {".msv", ".dvf"}))
    return Sub("Cannot open the file \"%s\" because the codec is not installed. Please download the Sony "
               "codec following the links from ",
               name) +
           std::string(kCodecPage);
  return Sub("Cannot open the file \"%s\". This means that either the file format is not supported by "
             "this program or that a required codec or plugin is not installed. Please see ",
             name) +
         std::string(kFormatsPage) + " for more information.";
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

platform::TaskResult RunDecoder(const OpenRow& row, std::vector<std::string> argv,
                                const std::filesystem::path& output, const DispatchEnv& env,
                                platform::LProgressDialog* task, std::string* detail) {
  if (task) {
    task->SetText(0, row.progress.empty() ? row.title : row.progress);
    return RunDecoderProgram(*task, argv, output, kDecoderTimeoutMs, detail);
  }
  DecodeTask t(row.title, row.progress, std::move(argv), output);
  t.Run(OwnerOf(env));
  *detail = t.detail;
  return t.result;
}

audio::SourceHandle OpenOwnFormat(How how, const std::filesystem::path& file, bool* ask,
                                  const DispatchEnv& env, bool* cancelled) {
  switch (how) {
    case How::Wave: return OpenWaveFile(file);
    case How::Mp3: return OpenMp3Source(file);
    case How::Aiff: return OpenAiffFile(file);
    case How::Au: return OpenAuFile(file);
    case How::Gsm: return OpenGsmFile(file);
    case How::Vox:
    case How::Raw: {
      const std::string_view section = how == How::Vox ? kVoxSection : kRawSection;
      settings::Settings& s = settings::Settings::Process();
      RawSettings r = LoadRawSettings(s, section);
      if (TakeAsk(ask) && env.options) {
        if (!env.options->EditRaw(r, section)) {
          *cancelled = true;
          return audio::MakeNullSource();
        }
        StoreRawSettings(s, section, r);
      }
      return how == How::Vox ? OpenVoxFile(file, r) : OpenRawFile(file, r);
    }
    default: return audio::MakeNullSource(audio::SoundStatus::Corrupt);
  }
}

std::string_view ReaderName(How how) {
  switch (how) {
    case How::Wave: return "wave";
    case How::Mp3: return "mp3";
    case How::Aiff: return "aiff";
    case How::Au: return "au";
    case How::Gsm: return "gsm";
    case How::Vox: return "vox";
    case How::Raw: return "raw";
    case How::Dct: return "dct";
    case How::Faad: return "faad";
    case How::OggDec: return "oggdec";
    case How::FlacDec: return "flac";
    case How::Wma:
    case How::Ffmpeg: return "ffmpeg";
    case How::Amr: return "ffmpeg-amr";
  }
  return "";
}

std::string OwnFormatMessage(How how, audio::SoundStatus status, const std::string& name) {
  if (how == How::Mp3 && status != audio::SoundStatus::CannotOpen)
    return Sub("Cannot open the file \"%s\". It is possibly either corrupt or not a true layer-3 MPEG file.",
               name);
  if ((how == How::Gsm || how == How::Raw || how == How::Vox) && status != audio::SoundStatus::Corrupt)
    return OpenFailureMessage(audio::SoundStatus::CannotOpen, name);
  std::string m = OpenFailureMessage(status, name);
  return m.empty() ? Sub("Cannot open the file \"%s\".", name) : m;
}

}  // namespace

OpenOutcome OpenDispatch(const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                         platform::LProgressDialog* task) {
  OpenOutcome out;
  const std::string name = file.string();
  const OpenRow& row = RowFor(Ext(file));
  out.reader = std::string(ReaderName(row.how));
  auto fail = [&](std::string message) {
    out.result = kTaskFailed;
    out.source = {};
    out.message = std::move(message);
    if (TakeAsk(ask)) ShowStop(env, out.message);
    return out;
  };
  auto opened = [&](audio::SourceHandle src) {
    out.result = kTaskDone;
    out.source = std::move(src);
    return out;
  };

  if (row.how <= How::Raw) {
    bool cancelled = false;
    audio::SourceHandle src = OpenOwnFormat(row.how, file, ask, env, &cancelled);
    if (cancelled) {
      out.result = kTaskCancelled;
      return out;
    }
    if (src->ready()) return opened(std::move(src));
    out.status = src->status();
    return fail(OwnFormatMessage(row.how, src->status(), name));
  }
  if (row.how == How::Dct) {
    std::string why;
    audio::SourceHandle src = OpenDctFile(file, &why);
    if (src->ready()) return opened(std::move(src));
    if (!why.empty()) {
      out.result = kTaskFailed;
      out.message = why;
      if (TakeAsk(ask) && env.prompter)
        env.prompter->Message(why, kDctErrorCaption, platform::MessageIcon::Error);
      return out;
    }
    return fail(OwnFormatMessage(How::Wave, src->status(), name));
  }

  // Decoded by a program into a private temporary file first.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    out.status = audio::SoundStatus::CannotOpen;
    return fail(OpenFailureMessage(audio::SoundStatus::CannotOpen, name));
  }
  Component component = Component::Ffmpeg;
  if (row.how == How::Faad) component = Component::AacDec;
  if (row.how == How::OggDec) component = Component::OggDec;
  if (row.how == How::FlacDec) component = Component::FlacDec;
  // ffmpeg reads these too: use it when the format's own decoder is missing.
  if (component != Component::Ffmpeg && ComponentPath(component).empty() &&
      !ComponentPath(Component::Ffmpeg).empty())
    component = Component::Ffmpeg;
  std::string why;
  const platform::TaskResult ensured = EnsureComponent(component, PolicyOf(env), &why);
  if (ensured == kTaskCancelled) {
    out.result = kTaskCancelled;
    return out;
  }
  if (ensured != kTaskDone) return fail(why);

  platform::TempFolder folder = platform::TempFolder::Create();
  if (!folder.ok()) return fail(OpenFailureMessage(audio::SoundStatus::CannotOpen, name));
  const bool amr = row.how == How::Amr;
  // The input's base name for a raw AMR output, inside the private folder.
  const std::filesystem::path output =
      folder.path() / (amr ? platform::ReplaceExtension(std::string(platform::PathFileName(name)), ".raw")
                           : std::string("Temp1.wav"));
  const std::string program = ComponentPath(component).string();
  std::vector<std::string> argv = component == Component::Ffmpeg
                                      ? FfmpegDecoderArgs(program, name, output.string(), amr)
                                      : DecoderArgs(component, program, name, output.string());
  std::string detail;
  const platform::TaskResult decoded = RunDecoder(row, std::move(argv), output, env, task, &detail);
  if (decoded == kTaskCancelled) {
    out.result = kTaskCancelled;
    return out;
  }
  if (decoded != kTaskDone) {
    std::string m = component == Component::Ffmpeg
                        ? FfmpegFailure(row.how, file)
                        : OpenFailureMessage(audio::SoundStatus::Corrupt, name);
    if (!detail.empty()) m += "\n" + detail;
    return fail(std::move(m));
  }
  // The source keeps its own descriptor: the folder goes when we return.
  if (amr) {
    // Read as 8000 Hz mono 16-bit without touching the stored "RawAudio" record.
    audio::SourceHandle src = OpenRawFile(output, RawSettings{8000, 1, kRawPcm16LE});
    if (src->ready()) return opened(std::move(src));
    return fail(OpenFailureMessage(audio::SoundStatus::CannotOpen, name));
  }
  audio::SourceHandle src = OpenWaveFile(output);
  if (src->ready()) return opened(std::move(src));
  return fail(OwnFormatMessage(How::Wave, src->status(), name));
}

// ---- save side

namespace {

std::optional<Component> EncoderOf(std::string_view ext) {
  if (Is(ext, {".mp3"})) return Component::Mp3Enc;
  if (Is(ext, {".ogg"})) return Component::OggEnc;
  if (Is(ext, {".flac"})) return Component::FlacEnc;
  if (Is(ext, {".aac", ".m4a"})) return Component::Ffmpeg;
  if (Is(ext, {".amr"})) return Component::AmrEnc;
  return std::nullopt;
}

bool WritesItself(std::string_view ext) {
  return Is(ext, {".wav", ".au", ".aif", ".aiff", ".gsm", ".vox", ".raw", ".rss", ".m3u", ".pls",
                  ".wpl"});
}

// The stored WAVE format's chooser, answered by the front end.
bool AcceptOptions(bool answered, settings::Settings& s, const auto& record) {
  if (answered) record.Store(s);
  return answered;
}

}  // namespace

bool SaveCheck(std::string_view ext, const DispatchEnv& env, std::string* message) {
  if (WritesItself(ext)) return true;
  const std::optional<Component> c = EncoderOf(ext);
  if (!c) {
    if (message) *message = "Files of this type cannot be written.";
    return false;
  }
  return EnsureComponent(*c, PolicyOf(env), message) == kTaskDone;
}

bool SaveOptions(std::string_view ext, std::uint32_t rate, int channels, const DispatchEnv& env) {
  settings::Settings& s = settings::Settings::Process();
  if (Is(ext, {".au", ".aif", ".aiff", ".gsm"})) return true;
  if (!env.options) return WritesItself(ext) || EncoderOf(ext).has_value();
  SaveOptionsUi& ui = *env.options;
  if (Is(ext, {".wav"})) return WaveSaveOptions(rate, channels, ui.WaveChooser());
  if (Is(ext, {".vox", ".raw"})) {
    const std::string_view section = Is(ext, {".vox"}) ? kVoxSection : kRawSection;
    RawSettings r = LoadRawSettings(s, section);
    if (rate != 0) r.sampleRate = static_cast<std::int32_t>(rate);
    if (channels > 0) r.channels = channels;
    if (!ui.EditRaw(r, section)) return false;
    StoreRawSettings(s, section, r);
    return true;
  }
  if (Is(ext, {".ogg"})) {
    OggEncoderSettings o = OggEncoderSettings::Load(s, channels);
    return AcceptOptions(ui.EditOgg(o), s, o);
  }
  if (Is(ext, {".flac"})) {
    FlacEncoderSettings f = FlacEncoderSettings::Load(s, rate, channels);
    return AcceptOptions(ui.EditFlac(f), s, f);
  }
  if (Is(ext, {".aac", ".m4a"})) {
    AacEncoderSettings a = AacEncoderSettings::Load(s);
    return AcceptOptions(ui.EditAac(a), s, a);
  }
  if (Is(ext, {".mp3", ".rss", ".m3u", ".pls", ".wpl"})) {
    Mp3EncoderSettings m = Mp3EncoderSettings::Load(s);
    return AcceptOptions(ui.EditMp3(m), s, m);
  }
  if (Is(ext, {".amr"})) {
    AmrEncoderSettings a = AmrEncoderSettings::Load(s);
    return AcceptOptions(ui.EditAmr(a), s, a);
  }
  return false;
}

audio::SinkHandle MakeSaveSink(const std::filesystem::path& file, std::uint32_t rate, int channels,
                               int sourceBits) {
  const std::string ext = Ext(file);
  const settings::Settings& s = settings::Settings::Process();
  if (Is(ext, {".wav"})) {
    // A PCM file saved back without a stored choice keeps its depth.
    if (!ReadWavCodecFile(WavCodecFilePath()) &&
        (sourceBits == 8 || sourceBits == 24 || sourceBits == 32))
      return MakeWaveFormatSink(file, MakePcmFormat(rate, channels, sourceBits));
    return MakeWaveFormatSink(file, WaveSaveFormat(rate, channels, /*followDocument=*/true));
  }
  if (Is(ext, {".au"})) return MakeAuSink(file, rate, channels);
  if (Is(ext, {".aif", ".aiff"})) return MakeAiffSink(file, rate, channels);
  if (Is(ext, {".gsm"})) return MakeGsmSink(file);
  if (Is(ext, {".vox"})) {
    const RawSettings r = LoadRawSettings(s, kVoxSection);
    return MakeVoxSink(file, static_cast<std::uint32_t>(r.sampleRate), r.channels, r.codec);
  }
  if (Is(ext, {".raw"})) {
    // Like FLAC, a raw file nobody chose a layout for keeps the document's rate and
    // channels rather than folding a stereo recording to mono.
    RawSettings r = LoadRawSettings(s, kRawSection);
    if (!s.Find(kRawSection, "SampleRate")) r.sampleRate = static_cast<std::int32_t>(rate);
    if (!s.Find(kRawSection, "Channels")) r.channels = channels;
    return MakeRawSink(file, static_cast<std::uint32_t>(r.sampleRate), r.channels, r.codec);
  }
  const std::optional<Component> c = EncoderOf(ext);
  if (!c || *c == Component::AmrEnc) return nullptr;
  const std::string program = ComponentPath(*c).string();
  if (program.empty()) return nullptr;
  switch (*c) {
    case Component::Mp3Enc: {
      const Mp3EncoderSettings m = Mp3EncoderSettings::Load(s);
      return MakeEncoderSink(file, [&](const std::string& out) {
        return Mp3EncodePlan(m, program, rate, channels, out);
      });
    }
    case Component::OggEnc: {
      const OggEncoderSettings o = OggEncoderSettings::Load(s, channels);
      return MakeEncoderSink(file, [&](const std::string& out) {
        return OggEncodePlan(o, program, rate, channels, out);
      });
    }
    case Component::FlacEnc: {
      const FlacEncoderSettings f = FlacEncoderSettings::Load(s, rate, channels);
      return MakeEncoderSink(file, [&](const std::string& out) { return FlacEncodePlan(f, program, out); });
    }
    default: {
      const AacEncoderSettings a = AacEncoderSettings::Load(s);
      return MakeEncoderSink(file, [&](const std::string& out) {
        return AacEncodePlan(a, program, rate, channels, out);
      });
    }
  }
}

std::span<const platform::FileFilter> SaveAsFilters() {
  static const platform::FileFilter kFilters[] = {
      {"Wave (*.wav)", "*.wav"},
      {"MPEG Layer-3 (*.mp3)", "*.mp3"},
      {"Ogg Vorbis (*.ogg)", "*.ogg"},
      {"Apple AIFF(*.aif, *.aiff)", "*.aif;*.aiff"},
      {"Sun AU (*.au)", "*.au"},
      {"FLAC (*.flac)", "*.flac"},
      {"AAC (*.aac)", "*.aac"},
      {"MPEG-4 Audio (*.m4a)", "*.m4a"},
      {"GSM (*.gsm)", "*.gsm"},
      {"Dialogic Vox (*.vox)", "*.vox"},
      {"Raw Audio (*.raw)", "*.raw"},
      {"RSS Podcast Audio (*.rss)", "*.rss"},
      {"M3U Playlist File (*.m3u)", "*.m3u"},
      {"PLS Playlist File (*.pls)", "*.pls"},
      {"WPL Playlist File (*.wpl)", "*.wpl"},
      {"AMR Narrowband Audio (*.amr)", "*.amr"},
  };
  return kFilters;
}

std::string_view OpenFilterPatterns() {
  return "*.wav;*.mp3;*.ogg;*.wma;*.aif;*.aiff;*.au;*.ra;*.ram;*.flac;*.aac;*.gsm;*.vox;*.raw;*.dss;"
         "*.dct;*.m4a;*.mp2;*.sri;*.mpga;*.msv;*.dvf;*.act;*.rcd;*.rec;*.shn;*.amr";
}

namespace {

platform::TaskResult SaveAmr(platform::LProgressDialog& task, const core::AudioChain& chain,
                             const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                             std::string* why) {
  settings::Settings& s = settings::Settings::Process();
  AmrEncoderSettings a = AmrEncoderSettings::Load(s);
  if (TakeAsk(ask) && env.options) {
    if (!env.options->EditAmr(a)) return kTaskCancelled;
    a.Store(s);
  }
  const platform::TaskResult ensured = EnsureComponent(Component::AmrEnc, PolicyOf(env), why);
  if (ensured != kTaskDone) return ensured;
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
    const audio::TransferOutcome moved = TransferUnderTask(task, core::ChainOpenSource(chain), *sink);
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
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = ".";
  platform::TempFile out = platform::TempFile::Create(".amr", dir, "." + file.stem().string().substr(0, 64) + "-");
  if (!out.ok()) {
    *why = std::string("Cannot create a file there: ") + std::strerror(out.error());
    return kTaskFailed;
  }
  out.Close();
  const platform::TaskResult ran =
      RunDecoderProgram(task,
                        AmrEncoderArgs(ComponentPath(Component::AmrEnc).string(),
                                       a.modeRateSelection, wave.string(), out.path().string()),
                        out.path(), kDecoderTimeoutMs, why);
  if (ran != kTaskDone) return ran;
  if (!PutInPlace(out, file, why)) return kTaskFailed;
  return kTaskDone;
}

}  // namespace

platform::Outcome RunSaveSteps(platform::LProgressDialog& task, const core::AudioChain& chain,
                               const std::filesystem::path& file, bool* ask, const DispatchEnv& env,
                               int sourceBits) {
  const bool asking = ask && *ask;
  const std::string ext = Ext(file);
  std::string why;
  auto finish = [&](platform::TaskResult result) {
    if (result != kTaskFailed) return platform::Outcome{result, {}};
    platform::Outcome failed = platform::Outcome::Failed(SaveFailureMessage(file.string()));
    if (!why.empty()) failed.message += "\n" + why;
    if (asking && env.prompter)
      env.prompter->Message(failed.message, kMessageCaption, platform::MessageIcon::Error);
    if (ask) *ask = false;
    return failed;
  };
  task.SetText(0, "Process Audio");
  if (Is(ext, {".amr"})) return finish(SaveAmr(task, chain, file, ask, env, &why));
  task.SetText(1, "Saving file...");
  if (!SaveCheck(ext, env, &why)) return finish(kTaskFailed);
  if (TakeAsk(ask) && !SaveOptions(ext, chain.sampleRate, chain.channels, env))
    return platform::Outcome::Cancelled();
  audio::SinkHandle sink = MakeSaveSink(file, chain.sampleRate, chain.channels, sourceBits);
  if (!sink) return finish(kTaskFailed);
  if (sink->failed()) {
    why = sink->failureMessage();
    sink->Abandon();
    return finish(kTaskFailed);
  }
  const audio::TransferOutcome moved = TransferUnderTask(task, core::ChainOpenSource(chain), *sink);
  if (moved.result == kTaskFailed) why = moved.message;
  return finish(moved.result);
}

// ---- the file dialogs of the commands

std::vector<std::filesystem::path> ChooseFilesToOpen(platform::Prompter& prompter) {
  settings::Settings& s = settings::Settings::Process();
  platform::FileRequest r;
  r.mode = platform::FileDialogMode::Open;
  r.title = "Open Audio File";
  r.filters = {{"All Files", "*.*"}, {"Audio Files", std::string(OpenFilterPatterns())}};
  r.defaultExtension = "wav";
  r.folder = s.GetString("Settings", "OpenFileDir", "");
  r.multiSelect = true;
  const platform::FileChoice choice = prompter.ChooseFiles(r);
  if (!choice.accepted()) return {};
  s.SetString("Settings", "OpenFileDir", choice.files.front().parent_path().string());
  return choice.files;
}

std::optional<std::filesystem::path> ChooseSaveAsTarget(platform::Prompter& prompter,
                                                        const std::filesystem::path& current) {
  settings::Settings& s = settings::Settings::Process();
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
    std::filesystem::path chosen = choice.files.front();
    const std::string& pattern = r.filters[static_cast<std::size_t>(
        std::clamp(choice.filterIndex, 0, static_cast<int>(r.filters.size()) - 1))].patterns;
    chosen = platform::WithDefaultExtension(chosen, pattern.substr(2, pattern.find(';') == std::string::npos
                                                                          ? std::string::npos
                                                                          : pattern.find(';') - 2));
    for (std::size_t i = 0; i < filters.size(); ++i)
      if (filters[i].patterns == pattern) s.SetInt("Settings", "SaveAsFormat", static_cast<int>(i) + 1);
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

bool IsRealAudioName(const std::filesystem::path& file) {
  return Is(Ext(file), {".ra", ".ram", ".rm"});
}

bool AskSaveRealAudioElsewhere(platform::Prompter& prompter) {
  return prompter.Message(
             "Saving in real audio file format is not supported. Do you want to save in another format "
             "(wav, mp3, gsm, vox) instead?",
             kMessageCaption, platform::MessageIcon::Question,
             platform::MessageButtons::YesNoCancel) == platform::Answer::Yes;
}

}  // namespace quillet::formats
