#include "cd/external_burn.h"

#include <unistd.h>

#include <cstdio>

#include "audio/resample.h"
#include "audio/transfer.h"
#include "formats/wav_writer.h"
#include "platform/process.h"
#include "platform/sim_drive.h"
#include "platform/temp_file.h"

namespace quillet::cd {
namespace {

// The last line of a program's error output, for messages.
std::string LastLine(const std::string& text) {
  std::size_t end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return {};
  const std::size_t start = text.find_last_of('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// Waits for child under task, pumping its window; false when cancelled.
bool WaitUnder(platform::LProgressDialog& task, platform::ChildProcess& child) {
  const platform::ChildProcess::WaitOutcome o = child.Wait(-1, [&task] { return task.Pump(); });
  return o == platform::ChildProcess::WaitOutcome::Exited;
}

}  // namespace

std::string ExternalTrackName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "Track %02d.wav", number);
  return name;
}

std::vector<std::string> ExternalBurnCommand(const std::filesystem::path& program,
                                             std::string_view device, const BurnSettings& s,
                                             const std::vector<std::filesystem::path>& files) {
  const bool wodim = program.filename().string().find("wodim") != std::string::npos;
  std::vector<std::string> argv = {program.string(), "-v", "dev=" + std::string(device), "-tao",
                                   "-audio", "-pad"};
  if (s.speed > 0 && s.speed != kHighestSpeed) argv.push_back("speed=" + std::to_string(s.speed));
  // cdrskin blanks a CD-RW only when it is not blank; wodim cannot tell, so it is not asked.
  if (s.eraseCdrw && !wodim) argv.push_back("blank=as_needed");
  if (s.overburn) argv.push_back("-overburn");
  if (s.simulate) argv.push_back("-dummy");
  if (s.loadEject) argv.push_back("-eject");
  for (const std::filesystem::path& f : files) argv.push_back(f.string());
  return argv;
}

std::filesystem::path FindExternalBurner() {
  std::filesystem::path p = platform::FindProgram("cdrskin");
  if (p.empty()) p = platform::FindProgram("wodim");
  return p;
}

ExternalBurnTask::ExternalBurnTask(std::string drive, std::vector<audio::SourceHandle> tracks,
                                   BurnSettings settings)
    : LProgressDialog("Burn Audio CD"),
      drive_(std::move(drive)),
      tracks_(std::move(tracks)),
      settings_(settings) {}

bool ExternalBurnTask::Execute() {
  result = platform::kTaskFailed;
  const auto fail = [this](std::string why) {
    message_ = std::move(why);
    ShowError(message_);
    return true;
  };
  if (platform::IsSimulatedDriveName(drive_))
    return fail("The external burning program writes only to a real CD drive; choose the "
                "internal CD burner for \"" + drive_ + "\".");
  const std::filesystem::path program = FindExternalBurner();
  if (program.empty())
    return fail("No CD burning program was found. Install the package \"cdrskin\" (or "
                "\"wodim\") and try again.");

  SetText(0, "Copy Audio Files");
  platform::TempFolder folder = platform::TempFolder::Create({}, "quillet-burn-");
  if (!folder.ok()) return fail("Cannot create a temporary folder for the tracks.");
  std::vector<std::filesystem::path> files;
  for (std::size_t i = 0; i < tracks_.size(); ++i) {
    const std::filesystem::path file = folder.path() / ExternalTrackName(static_cast<int>(i) + 1);
    auto sink = audio::Ref<formats::LWavePCMSoundSink>(
        new formats::LWavePCMSoundSink(file, 44100, 0, 16, 2));
    const double n = static_cast<double>(tracks_.size());
    const audio::TransferOutcome o = audio::TransferAdapted(
        tracks_[i], *sink, audio::StandardFormatAdaptors(),
        [&](audio::FrameCount done, audio::FrameCount total) {
          if (total > 0)
            SetProgress((static_cast<double>(i) + static_cast<double>(done) / static_cast<double>(total)) / n);
          return !Pump();
        });
    if (o.result == platform::kTaskCancelled) {
      sink->Abandon();
      result = platform::kTaskCancelled;
      return true;
    }
    if (o.result != platform::kTaskDone || !sink->Finish()) {
      sink->Abandon();
      return fail(o.message.empty() ? sink->failureMessage() : o.message);
    }
    files.push_back(file);
  }

  SetText(0, "Burning");
  SetText(1, "Please wait...");
  command_ = ExternalBurnCommand(program, drive_, settings_, files);
  platform::ProcessOptions options;
  options.argv = command_;
  platform::ChildProcess child;
  if (!child.Start(options)) return fail("Cannot start " + program.string() + ".");
  if (!WaitUnder(*this, child)) {
    result = platform::kTaskCancelled;
    return true;
  }
  if (!child.exitStatus().success()) {
    const std::string last = LastLine(child.errorOutput());
    return fail(program.filename().string() + " failed" + (last.empty() ? "." : ": " + last));
  }
  result = platform::kTaskDone;
  return true;
}

std::vector<std::string> BurningProgramCommand(const std::string& program, bool audio,
                                               const std::filesystem::path& listFile) {
  return {program, "-type", audio ? "audio" : "data", "-list", listFile.string()};
}

BurningProgramTask::BurningProgramTask(std::string program, bool audio,
                                       std::vector<std::filesystem::path> files)
    : LProgressDialog("Run Burning Program"),
      program_(std::move(program)),
      audio_(audio),
      files_(std::move(files)) {}

bool BurningProgramTask::Execute() {
  result = platform::kTaskFailed;
  if (program_.empty() || platform::FindProgram(program_).empty()) {
    message_ = program_.empty()
                   ? "No CD burning program is set. Name one under CDRecorder/BurningProgram in "
                     "the settings; it is started with -type audio|data -list FILE."
                   : "The CD burning program \"" + program_ + "\" is not installed.";
    ShowError(message_);
    return true;
  }
  platform::TempFile list = platform::TempFile::Create(".txt", {}, "quillet-burn-");
  std::string text;
  for (const std::filesystem::path& f : files_) text += f.string() + "\n";
  if (!list.ok() || ::write(list.fd(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    message_ = "Cannot write the list of files for the burning program.";
    ShowError(message_);
    return true;
  }
  list.Close();
  SetText(0, "Please wait...");
  platform::ProcessOptions options;
  options.argv = BurningProgramCommand(program_, audio_, list.path());
  platform::ChildProcess child;
  if (!child.Start(options)) {
    message_ = "Cannot start the CD burning program \"" + program_ + "\".";
    ShowError(message_);
    return true;
  }
  if (!WaitUnder(*this, child)) {
    result = platform::kTaskCancelled;
    return true;
  }
  result = platform::kTaskDone;
  return true;
}

}  // namespace quillet::cd
