#include "formats/external.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "audio/pcm.h"
#include "formats/ogg_head.h"
#include "formats/save_options.h"
#include "platform/paths.h"
#include "platform/safe_file_writer.h"

namespace quillet::formats {

namespace {

constexpr ComponentInfo kComponents[] = {
    {"aacdec", "faad", "faad"},       {"oggdec", "oggdec", "vorbis-tools"},
    {"flacdec", "flac", "flac"},      {"ffmpeg", "ffmpeg", "ffmpeg"},
    {"mp3el", "lame", "lame"},        {"oggenc", "oggenc", "vorbis-tools"},
    {"flacenc", "flac", "flac"},      {"amrenc", "quillet-amrenc", "libopencore-amrnb0"},
};

std::mutex gExtraMutex;
std::filesystem::path gExtraFolder;

bool IsExecutable(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

std::string Kbps(int k) { return std::to_string(k) + "k"; }

// floor(0.001 x rate x channels x 4.5) kbit/s, in integers.
int CapKbps(std::uint32_t rate, int channels) {
  return static_cast<int>(static_cast<std::uint64_t>(rate) * static_cast<std::uint64_t>(channels) * 45 /
                          10000);
}

}  // namespace

const ComponentInfo& InfoOf(Component c) { return kComponents[static_cast<int>(c)]; }

void SetExtraComponentFolder(const std::filesystem::path& folder) {
  std::lock_guard<std::mutex> lock(gExtraMutex);
  gExtraFolder = folder;
}

std::filesystem::path ComponentPath(Component c, const settings::Settings& s) {
  const ComponentInfo& info = InfoOf(c);
  const std::string section = "Components/" + std::string(info.name);
  for (settings::Scope scope : {settings::Scope::Machine, settings::Scope::User}) {
    const std::string stored = s.GetString(section, "Path", "", scope);
    if (!stored.empty() && IsExecutable(stored)) return stored;
  }
  std::filesystem::path found = platform::FindProgram(info.program);
  if (!found.empty()) return found;
  {
    std::lock_guard<std::mutex> lock(gExtraMutex);
    if (!gExtraFolder.empty() && IsExecutable(gExtraFolder / info.program))
      return gExtraFolder / info.program;
  }
  // Our own helper is installed beside our programs.
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && IsExecutable(self.parent_path() / info.program)) return self.parent_path() / info.program;
  return {};
}

std::string CannotInstallMessage(Component c) {
  const ComponentInfo& info = InfoOf(c);
  return "Quillet cannot install the required install-on-demand component \"" + std::string(info.name) +
         "\" (the program \"" + std::string(info.program) + "\"). Install the Debian package " +
         std::string(info.package) + " (sudo apt-get install " + std::string(info.package) +
         "), then try again.";
}

namespace {

// pkexec apt-get install, waited for under its own progress window.
class InstallTask final : public platform::LProgressDialog {
 public:
  explicit InstallTask(std::string package)
      : LProgressDialog("Install-on-Demand"), package_(std::move(package)) {}

 protected:
  bool Execute() override {
    SetText(0, "Running install-on-demand");
    SetText(1, package_);
    const std::filesystem::path pkexec = platform::FindProgram("pkexec");
    const std::filesystem::path apt = platform::FindProgram("apt-get");
    if (pkexec.empty() || apt.empty()) return true;
    platform::ChildProcess child;
    platform::ProcessOptions o;
    o.argv = {pkexec.string(), apt.string(), "install", "-y", package_};
    if (!child.Start(o)) return true;
    const platform::TaskResult waited = WaitFor([&] { return child.Poll(); }, 600000);
    if (waited != platform::kTaskDone) {
      child.Terminate();
      result = waited;
      return true;
    }
    result = child.exitStatus().success() ? platform::kTaskDone : platform::kTaskFailed;
    return true;
  }

 private:
  std::string package_;
};

}  // namespace

platform::TaskResult EnsureComponent(Component c, const settings::Settings& s, const InstallPolicy& policy,
                    std::string* message) {
  if (!ComponentPath(c, s).empty()) return platform::kTaskDone;
  const ComponentInfo& info = InfoOf(c);
  const std::string missing = "The program \"" + std::string(info.program) +
                              "\" is not installed (Debian package \"" + std::string(info.package) +
                              "\").";
  if (policy.offer && policy.prompter && policy.owner) {
    const platform::Answer a = policy.prompter->Message(
        missing + "\n\nInstall it now?", "Install-on-Demand", platform::MessageIcon::Question,
        platform::MessageButtons::YesNo);
    if (a != platform::Answer::Yes) return platform::kTaskCancelled;
    InstallTask install{std::string(info.package)};
    install.Run(*policy.owner);
    if (install.result == platform::kTaskCancelled) return platform::kTaskCancelled;
    if (!ComponentPath(c, s).empty()) return platform::kTaskDone;
  }
  if (message) *message = CannotInstallMessage(c);
  return platform::kTaskFailed;
}

std::string PathArg(const std::string& path) {
  return !path.empty() && path.front() == '-' ? "./" + path : path;
}

namespace {
std::string FfmpegPath(const std::string& path) { return "file:" + path; }
}  // namespace

std::vector<std::string> DecoderArgs(Component c, const std::string& program,
                                     const std::string& input, const std::string& output) {
  switch (c) {
    case Component::AacDec: return {program, "-q", "-o", PathArg(output), PathArg(input)};
    case Component::OggDec: return {program, "-Q", "-o", PathArg(output), PathArg(input)};
    // Native FLAC whatever the name says (flac takes ".ogg" for Ogg FLAC).
    case Component::FlacDec: return {program, "-s", "-d", "--no-ogg", "-o", PathArg(output), PathArg(input)};
    default: return FfmpegDecoderArgs(program, input, output);
  }
}

std::vector<std::string> OggDecoderRawArgs(const std::string& program, const std::string& input,
                                           const std::string& output) {
  return {program, "-Q", "-R", "-b", "16", "-e", "0", "-s", "1", "-o", PathArg(output), PathArg(input)};
}

std::vector<std::string> FfmpegDecoderArgs(const std::string& program, const std::string& input,
                                           const std::string& output, bool rawNarrowband) {
  std::vector<std::string> a = {program, "-nostdin", "-hide_banner", "-loglevel",  "error", "-y",
                                "-i",    FfmpegPath(input),          "-map", "0:a:0", "-vn"};
  if (rawNarrowband) {
    a.insert(a.end(), {"-ar", "8000", "-ac", "1", "-c:a", "pcm_s16le", "-f", "s16le", FfmpegPath(output)});
  } else {
    a.insert(a.end(), {"-c:a", "pcm_s16le", "-f", "wav", FfmpegPath(output)});
  }
  return a;
}

std::uint32_t Mp3EncodingRate(const core::ParamSet& m, std::uint32_t documentRate) {
  std::uint32_t r = std::min<std::uint32_t>(documentRate, 48000);
  if (Mp3TopBitRate(m) >= 161 && documentRate < 32000) return 44100;
  if (Mp3BottomBitRate(m) < 32 && r > 22050) r = 22050;
  static constexpr std::uint32_t kKept[] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};
  if (std::find(std::begin(kKept), std::end(kKept), r) != std::end(kKept)) return r;
  if (r > 44100) return 44100;
  if (r > 32000) return 44100;
  if (r > 24000) return 32000;
  if (r > 22050) return 22050;
  if (r > 16000) return 22050;
  if (r > 11025) return 11025;
  if (r > 8000) return 11025;
  return 8000;
}

EncodePlan Mp3EncodePlan(const core::ParamSet& m, const std::string& program, std::uint32_t rate,
                         int channels, const std::string& output) {
  static constexpr const char* kModes[] = {"s", "j", "f", "m"};
  EncodePlan p;
  p.rate = Mp3EncodingRate(m, rate);
  // lame takes at most two channels of raw input.
  p.channels = std::clamp(channels, 1, 2);
  const std::int64_t stored = m.Int(kMp3ChannelMode);
  int mode = stored < 0 || stored > 3 ? 1 : int(stored);
  if (Mp3TopBitRate(m) < 24) p.channels = 1;
  // lame takes the layout of raw input from the mode: any other mode would read mono
  // samples as stereo pairs (half the length, twice the pitch).
  if (p.channels == 1) mode = 3;
  p.argv.push_back(program);
  if (p.channels == 2 && mode == 3) p.argv.push_back("-a");
  p.argv.insert(p.argv.end(), {"-m", kModes[mode]});
  if (m.Bool(kMp3Crc)) p.argv.push_back("-p");
  if (m.Bool(kMp3Cbr)) {
    p.argv.insert(p.argv.end(), {"-b", std::to_string(m.Int(kMp3CbrRate))});
    if (m.Bool(kMp3HighQuality)) p.argv.push_back("-h");
  } else {
    p.argv.insert(p.argv.end(), {"-v", "-b", std::to_string(m.Int(kMp3VbrMin)), "-B",
                                 std::to_string(m.Int(kMp3VbrMax)), "-V",
                                 std::to_string(m.Int(kMp3VbrQuality))});
  }
  char khz[32];
  std::snprintf(khz, sizeof khz, "%u.%.3u", p.rate / 1000, p.rate % 1000);
  // No -x: lame reads raw input in the machine's order, which is already little-endian.
  p.argv.insert(p.argv.end(), {"-r", "-s", khz, "-S", "-", PathArg(output)});
  return p;
}

EncodePlan OggEncodePlan(const core::ParamSet& o, const std::string& program, std::uint32_t rate,
                         int channels, const std::string& output) {
  EncodePlan p;
  p.rate = rate;
  const int wanted = int(o.Int(kOggChannels));
  // A surround document chosen as mono is mixed down by us; stereo by oggenc.
  p.channels = channels > 2 && wanted == 1 ? 1 : channels;
  p.argv = {program, "-C", std::to_string(p.channels), "-R", std::to_string(rate)};
  if (p.channels == 2 && wanted == 1) p.argv.push_back("--downmix");
  // oggenc keeps raw input in the order given, which must be Vorbis order.
  if (p.channels > 2) p.channelOrder = VorbisFromWaveOrder(p.channels);
  if (!o.Bool(kOggByQuality)) {
    const int c = std::min(p.channels, wanted);
    const int maxRate = std::min(int(o.Int(kOggVbrMax)), CapKbps(rate, c));
    const int minRate = std::min(int(o.Int(kOggVbrMin)), maxRate);
    p.argv.insert(p.argv.end(),
                  {"-m", std::to_string(minRate), "-M", std::to_string(maxRate)});
  } else {
    p.argv.insert(p.argv.end(), {"-q", std::to_string(o.Int(kOggQuality))});
  }
  if (o.Bool(kOggStripComments)) p.argv.push_back("--discard-comments");
  p.argv.insert(p.argv.end(), {"-Q", "-", "-o", PathArg(output)});
  return p;
}

int ChosenChannels(std::int64_t chosen, int documentChannels, int max) {
  if (chosen == 1) return 1;
  return std::clamp(documentChannels, 2, max);
}

EncodePlan FlacEncodePlan(const core::ParamSet& f, const std::string& program, int channels,
                          int sourceBits, const std::string& output) {
  EncodePlan p;
  p.rate = std::uint32_t(f.Int(kFlacRate));
  // FLAC holds eight channels in WAVE order.
  p.channels = ChosenChannels(f.Int(kFlacChannels), channels, 8);
  p.bits = sourceBits > 16 ? 24 : 16;
  p.argv = {program,
            "--channels=" + std::to_string(p.channels),
            "--sample-rate=" + std::to_string(p.rate),
            "--compression-level-" + std::to_string(std::clamp<std::int64_t>(f.Int(kFlacCompression), 0, 8)),
            "--endian=little",
            "--bps=" + std::to_string(p.bits),
            "--sign=signed",
            "-s",
            "-f",
            "-o",
            PathArg(output),
            "-"};
  return p;
}

EncodePlan AacEncodePlan(const core::ParamSet& a, const std::string& program, std::uint32_t rate,
                         int channels, const std::string& output) {
  const bool adts = platform::SameExtension(platform::PathExtension(output), ".aac");
  EncodePlan p;
  p.rate = rate;
  p.channels = std::clamp(channels, 1, 8);  // what ffmpeg's AAC encoder lays out
  channels = p.channels;
  p.argv = {program, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
            "-f",    "s16le",    "-ac",          std::to_string(channels),
            "-ar",   std::to_string(rate),       "-i",       "-",     "-c:a", "aac"};
  if (a.Bool(kAacAbr)) {
    p.argv.insert(p.argv.end(), {"-b:a", Kbps(std::min(int(a.Int(kAacAbrRate)), CapKbps(rate, channels)))});
  } else {
    // Quality in percent (100 = the encoder's normal quality) on ffmpeg's 0.1..2 scale.
    char q[16];
    std::snprintf(q, sizeof q, "%.2f", double(std::clamp<std::int64_t>(a.Int(kAacQuality), 10, 200)) / 100.0);
    p.argv.insert(p.argv.end(), {"-q:a", q});
  }
  if (a.Bool(kAacMpeg2) && adts) p.argv.insert(p.argv.end(), {"-write_mpeg2", "1"});
  if (a.Bool(kAacNoTns)) p.argv.insert(p.argv.end(), {"-aac_tns", "0"});
  p.argv.insert(p.argv.end(), {"-f", adts ? "adts" : "ipod", FfmpegPath(output)});
  return p;
}

std::vector<std::string> AmrEncoderArgs(const std::string& program, std::int64_t modeIndex,
                                        const std::string& input, const std::string& output) {
  if (modeIndex < 0 || modeIndex >= std::int64_t(std::size(kAmrModeNames))) modeIndex = 4;
  return {program, std::string(kAmrModeNames[static_cast<std::size_t>(modeIndex)]), PathArg(input),
          PathArg(output)};
}

platform::TaskResult RunDecoderProgram(platform::LProgressDialog& task,
                                       const std::vector<std::string>& argv,
                                       const std::filesystem::path& output, std::int64_t timeoutMs,
                                       std::string* message) {
  platform::ChildProcess child;
  platform::ProcessOptions o;
  o.argv = argv;
  o.output = platform::StreamMode::Pipe;  // chatter is read and dropped so it never blocks
  if (!child.Start(o)) {
    if (message) *message = "Cannot start \"" + argv.front() + "\": " + std::strerror(child.startError());
    return platform::kTaskFailed;
  }
  double p = 0.97;
  const auto exited = [&] {
    while (child.outputOpen()) {
      const platform::ChildProcess::Ready r = child.WaitIo(0);
      if (!r.output) break;
      char sink[4096];
      if (child.Read(sink, sizeof sink).bytes == 0) break;
    }
    return child.Poll();
  };
  std::int64_t left = timeoutMs;
  for (;;) {
    const std::int64_t slice = left < 0 ? 500 : std::min<std::int64_t>(500, left);
    const platform::TaskResult w = task.WaitFor(exited, slice);
    if (w == platform::kTaskDone) break;
    if (w == platform::kTaskCancelled) {
      child.Terminate();
      return platform::kTaskCancelled;
    }
    if (left >= 0) {
      left -= slice;
      if (left <= 0) {
        child.Terminate();
        if (message) *message = "\"" + argv.front() + "\" did not finish in time.";
        return platform::kTaskFailed;
      }
    }
    task.SetProgress(1.0 - p);
    p *= 0.99;
  }
  child.Wait();  // collects the last of its error output
  std::error_code ec;
  const bool wrote = std::filesystem::file_size(output, ec) > 0 && !ec;
  if (!child.exitStatus().success() || !wrote) {
    // What the program printed is its own chatter, not a reason the user can act on:
    // the caller words the failure.
    if (message) message->clear();
    return platform::kTaskFailed;
  }
  task.SetProgress(1.0);
  return platform::kTaskDone;
}

// ---- LPipeSoundSink

namespace {
constexpr int kStallMs = 60000;          // an encoder that takes nothing for this long is stuck
constexpr std::int64_t kExitWaitMs = 120000;  // after the end of input
}  // namespace

LPipeSoundSink::LPipeSoundSink(const EncodePlan& plan, platform::TempFile outputTemp,
                               std::filesystem::path target, FinishingStep finishing)
    : LSoundSink(plan.rate, plan.channels),
      layout_(plan.bits == 24 ? audio::PcmLayout::S24LE : audio::PcmLayout::S16LE),
      order_(plan.channelOrder),
      output_(std::move(outputTemp)),
      target_(std::move(target)),
      program_(plan.argv.empty() ? std::string() : plan.argv.front()),
      finishing_(std::move(finishing)) {
  if (failed()) return;
  output_.Close();  // the program writes it
  platform::ProcessOptions o;
  o.argv = plan.argv;
  o.input = platform::StreamMode::Pipe;
  o.output = platform::StreamMode::Null;
  if (!child_.Start(o)) {
    Fail("Cannot start \"" + program_ + "\": " + std::strerror(child_.startError()));
    done_ = true;
  }
}

LPipeSoundSink::~LPipeSoundSink() {
  if (!done_) Finish();
}

void LPipeSoundSink::FailWithProgram(std::string_view what) {
  // The program's own output stays out of the message: it is chatter, often several
  // lines, in the program's words.
  std::string m(what);
  const platform::ExitStatus& e = child_.exitStatus();
  if (e.exited && e.code != 0) m += " (exit status " + std::to_string(e.code) + ")";
  Fail(m + ".");
}

bool LPipeSoundSink::WriteAll(const std::uint8_t* p, std::size_t n) {
  int idleMs = 0;
  while (n > 0) {
    const platform::IoResult r = child_.Write(p, n);
    if (r.bytes > 0) {
      p += r.bytes;
      n -= r.bytes;
      idleMs = 0;
      continue;
    }
    if (r.error != EAGAIN) {
      child_.Wait(2000);
      FailWithProgram("\"" + program_ + "\" stopped taking audio");
      return false;
    }
    if (idleMs >= kStallMs) {
      FailWithProgram("\"" + program_ + "\" stopped taking audio");
      return false;
    }
    if (platform::ProgramStopRequested()) {
      child_.Terminate();
      Fail("The save was stopped.");
      return false;
    }
    child_.WaitIo(500);
    idleMs += 500;
  }
  return true;
}

void LPipeSoundSink::write(const audio::Sample* buffer, audio::FrameCount frames) {
  if (failed() || done_ || frames <= 0) return;
  const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels());
  if (!order_.empty()) {
    const auto ch = static_cast<std::size_t>(channels());
    ordered_.resize(count);
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames); ++i)
      for (std::size_t c = 0; c < ch; ++c) ordered_[i * ch + c] = buffer[i * ch + static_cast<std::size_t>(order_[c])];
    buffer = ordered_.data();
  }
  pcm_.resize(count * static_cast<std::size_t>(audio::BytesPerSample(layout_)));
  audio::SamplesToPcm(layout_, buffer, pcm_.data(), count);
  if (WriteAll(pcm_.data(), pcm_.size())) setFramesWritten(framesWritten() + frames);
}

bool LPipeSoundSink::Finish() {
  if (done_) return !failed();
  done_ = true;
  child_.CloseInput();
  if (child_.running()) {
    const auto outcome = child_.Wait(kExitWaitMs, [] { return platform::ProgramStopRequested(); });
    if (outcome == platform::ChildProcess::WaitOutcome::Cancelled)
      Fail("The save was stopped.");
    else if (outcome != platform::ChildProcess::WaitOutcome::Exited)
      FailWithProgram("\"" + program_ + "\" did not finish");
  }
  if (!failed() && !child_.exitStatus().success())
    FailWithProgram("\"" + program_ + "\" failed");
  std::error_code ec;
  if (!failed() && (std::filesystem::file_size(output_.path(), ec) == 0 || ec))
    FailWithProgram("\"" + program_ + "\" wrote nothing");
  if (!failed() && finishing_) {
    int err = 0;
    std::string why;
    const std::unique_ptr<WritableBytes> bytes = OpenWritableFile(output_.path(), &err);
    if (!bytes)
      Fail(std::string("Cannot reopen the encoded file: ") + std::strerror(err));
    else if (!finishing_(*bytes, &why))
      Fail(why);
  }
  if (failed()) return false;
  std::string why;
  if (!PutInPlace(output_, target_, &why)) {
    Fail(why);
    return false;
  }
  return true;
}

void LPipeSoundSink::Abandon() {
  if (done_) return;
  done_ = true;
  child_.Terminate();
  Fail("The save was stopped.");
  // output_ removes the partial file.
}

bool PutInPlace(platform::TempFile& temp, const std::filesystem::path& requested, std::string* why) {
  // Through a link to its file; the temporary file was made beside that.
  const std::filesystem::path target = platform::ResolveSaveTarget(requested).path;
  ::chmod(temp.path().c_str(), platform::ReplacementMode(target));
  if (::rename(temp.path().c_str(), target.c_str()) != 0) {
    if (why) *why = std::string("Cannot replace the file: ") + std::strerror(errno);
    return false;
  }
  temp.Release();
  return true;
}

platform::TempFile TempFileBeside(const std::filesystem::path& target, int* err) {
  const platform::SaveTarget resolved = platform::ResolveSaveTarget(target);
  if (resolved.error) {
    *err = resolved.error;
    return {};
  }
  std::filesystem::path folder = resolved.path.parent_path();
  if (folder.empty()) folder = ".";
  // The extension tells the encoder the container (ffmpeg); a long one is no extension.
  std::string ext(platform::PathExtension(resolved.path.filename().string()));
  if (ext.size() > 16) ext.clear();
  platform::TempFile temp = platform::TempFile::Create(ext, folder, platform::TempNamePrefix(resolved.path) + "-");
  *err = temp.ok() ? 0 : temp.error();
  return temp;
}

audio::SinkHandle MakeEncoderSink(const std::filesystem::path& target,
                                  const std::function<EncodePlan(const std::string& output)>& plan,
                                  FinishingStep finishing) {
  int err = 0;
  platform::TempFile temp = TempFileBeside(target, &err);
  if (!temp.ok()) {
    struct Failed final : audio::LSoundSink {
      explicit Failed(std::string why) : LSoundSink(44100, 1) {  // a real rate: its own reason is the message
        Fail(why);
      }
      void write(const audio::Sample*, audio::FrameCount) override {}
    };
    return audio::SinkHandle(new Failed(platform::CannotSaveMessage(target, err)));
  }
  const EncodePlan p = plan(temp.path().string());
  return audio::SinkHandle(new LPipeSoundSink(p, std::move(temp), target, std::move(finishing)));
}

}  // namespace quillet::formats
