#pragma once
// Codec programs run as separate processes: decoders that write a WAVE (or raw) file,
// and encoders fed 16-bit little-endian PCM through a pipe. Programs are found
// through the caller's settings store first ("Components/<name>", key "Path") and the
// PATH second, and started from an argument vector, never through a shell.

#include <cstdint>
#include <functional>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/pcm.h"
#include "audio/sound.h"
#include "core/params.h"
#include "formats/tags.h"
#include "platform/process.h"
#include "platform/prompter.h"
#include "platform/task.h"
#include "platform/temp_file.h"
#include "settings/settings.h"

namespace quillet::formats {

enum class Component {
  AacDec,   // faad
  OggDec,   // oggdec
  FlacDec,  // flac -d
  Ffmpeg,   // every other decoder, and the AAC/M4A encoder
  Mp3Enc,   // lame
  OggEnc,   // oggenc
  FlacEnc,  // flac
  AmrEnc,   // our quillet-amrenc helper
};

struct ComponentInfo {
  std::string_view name;     // the settings key's section is "Components/" + name
  std::string_view program;  // looked up on the PATH
  std::string_view package;  // the Debian package that brings it
};
const ComponentInfo& InfoOf(Component c);

// Where components live besides the PATH (the helper beside our own programs).
// Empty entries are skipped.
void SetExtraComponentFolder(const std::filesystem::path& folder);

// The program's full path, or empty when it is not installed.
std::filesystem::path ComponentPath(Component c, const settings::Settings& s);

// "Quillet cannot install the required install-on-demand component ..." for c, with
// the Debian package that brings it.
std::string CannotInstallMessage(Component c);

// How a missing component is handled.
struct InstallPolicy {
  // The editor offers `pkexec apt-get install PKG`, after asking; quillet-cli and
  // tests never run it and only say what is missing.
  bool offer = false;
  platform::Prompter* prompter = nullptr;  // for the question and the message
  platform::ProgressWindowFactory* owner = nullptr;
};

// Done when the component is (now) installed, cancelled when the person declined or
// cancelled the installation, failed when it is missing (message set: what to install).
platform::TaskResult EnsureComponent(Component c, const settings::Settings& s,
                                     const InstallPolicy& policy, std::string* message);

// A path as a program's argument that no program can take for an option: "./"
// before a relative path that starts with '-'.
std::string PathArg(const std::string& path);

// Command lines. Each starts with the program's path; every file name goes through
// PathArg (and ffmpeg's through its "file:" protocol, so no name is a protocol).
std::vector<std::string> DecoderArgs(Component c, const std::string& program,
                                     const std::string& input, const std::string& output);
// ffmpeg decoding the first audio stream of input into a 16-bit WAVE file, or into
// raw 8000 Hz mono 16-bit PCM when rawNarrowband.
std::vector<std::string> FfmpegDecoderArgs(const std::string& program, const std::string& input,
                                           const std::string& output, bool rawNarrowband = false);
// oggdec writing raw 16-bit little-endian PCM in the stream's own (Vorbis) channel order.
std::vector<std::string> OggDecoderRawArgs(const std::string& program, const std::string& input,
                                           const std::string& output);

// What an encoder is run with and what it takes on its input.
struct EncodePlan {
  std::vector<std::string> argv;
  std::uint32_t rate = 0;  // of the PCM fed to it
  int channels = 0;
  int bits = 16;           // 16 or 24, little-endian signed
  // The order the program wants the channels in: entry i is the channel (of ours, in
  // WAVE order) fed as its channel i; empty: as they are.
  std::vector<int> channelOrder;
};
// Each from its record's values (save_options.h); rate and channels are the document's.
EncodePlan Mp3EncodePlan(const core::ParamSet& m, const std::string& program, std::uint32_t rate,
                         int channels, const std::string& output);
EncodePlan OggEncodePlan(const core::ParamSet& o, const std::string& program, std::uint32_t rate,
                         int channels, const std::string& output);
// FLAC keeps up to eight channels in WAVE order and 24 bits when the document came
// from a file of more than 16.
EncodePlan FlacEncodePlan(const core::ParamSet& f, const std::string& program, int channels,
                          int sourceBits, const std::string& output);
// The channels a format that offers "Mono" or "Stereo" writes for a document: mono when
// chosen, else the document's own up to max (stereo for a mono document).
int ChosenChannels(std::int64_t chosen, int documentChannels, int max);
// ffmpeg's AAC encoder; output's extension picks ADTS (".aac") or MP4 (".m4a").
EncodePlan AacEncodePlan(const core::ParamSet& a, const std::string& program, std::uint32_t rate,
                         int channels, const std::string& output);
std::vector<std::string> AmrEncoderArgs(const std::string& program, std::int64_t modeIndex,
                                        const std::string& input, const std::string& output);

// The MP3 encoding rate for a document rate under the bit rates of m.
std::uint32_t Mp3EncodingRate(const core::ParamSet& m, std::uint32_t documentRate);

inline constexpr std::int64_t kDecoderTimeoutMs = 3600000;

// Runs a decoder program under task: waits in slices while the window is pumped, the
// bar creeping towards the end. Done when it exited with status 0 and output is a
// non-empty file; cancelled; failed otherwise (message set, with the program's last
// words). A cancelled or timed-out program is stopped with its whole group.
platform::TaskResult RunDecoderProgram(platform::LProgressDialog& task,
                                       const std::vector<std::string>& argv,
                                       const std::filesystem::path& output, std::int64_t timeoutMs,
                                       std::string* message);

// The sink of every encoder program. The program writes a private temporary file
// beside target; Finish waits for it to exit, runs the finishing step (the tags) on
// that file and renames it over target only when both succeeded, so a dead, failing
// or cancelled encoder never leaves a half-written file in place of a good one.
class LPipeSoundSink final : public audio::LSoundSink {
 public:
  // plan.argv must name the output as outputTemp's path.
  LPipeSoundSink(const EncodePlan& plan, platform::TempFile outputTemp,
                 std::filesystem::path target, FinishingStep finishing = {});
  ~LPipeSoundSink() override;
  void write(const audio::Sample* buffer, audio::FrameCount frames) override;
  bool Finish() override;
  void Abandon() override;

 private:
  bool WriteAll(const std::uint8_t* p, std::size_t n);
  void FailWithProgram(std::string_view what);

  platform::ChildProcess child_;
  audio::PcmLayout layout_;
  std::vector<int> order_;
  std::vector<audio::Sample> ordered_;
  platform::TempFile output_;
  std::filesystem::path target_;
  std::string program_;
  std::vector<std::uint8_t> pcm_;
  FinishingStep finishing_;
  bool done_ = false;
};

// Puts a finished temporary file in place of target: a replaced file keeps its
// permissions, a new one gets the usual ones. False with *why set when it cannot.
bool PutInPlace(platform::TempFile& temp, const std::filesystem::path& target, std::string* why);

// A private temporary file beside the file a save of target replaces (through links),
// named within the length limit; not ok() with *err set when it cannot be made or
// that file may not be replaced (EACCES).
platform::TempFile TempFileBeside(const std::filesystem::path& target, int* err);

// An encoder sink for target; the temporary output beside target gets target's
// extension. A failed sink (status bit 0, failureMessage set) when the program cannot
// be started or the file cannot be created.
audio::SinkHandle MakeEncoderSink(const std::filesystem::path& target,
                                  const std::function<EncodePlan(const std::string& output)>& plan,
                                  FinishingStep finishing = {});

}  // namespace quillet::formats
