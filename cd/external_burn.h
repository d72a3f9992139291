#pragma once
// Burning through separate programs: the audio tracks written as WAV files into a
// private folder and burned by cdrskin (or wodim) when the internal writer is not
// chosen, and the hand-off of open files to the configured burning program with a
// list file.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "audio/sound.h"
#include "cd/burn.h"
#include "platform/result.h"
#include "platform/task.h"
#include "settings/settings.h"

namespace quillet::cd {

// The burning program of the hand-off: "CDRecorder"/"BurningProgram", a program
// name or path; empty when none is set.
inline constexpr std::string_view kBurningProgramKey = "BurningProgram";

inline constexpr std::string_view kSaveFirstMessage =
    "You need to save all the openning file(s) before copying to CD.";
inline constexpr std::string_view kSaveFirstCaption = "Saving files required";

// "Track 01.wav", "Track 02.wav", ...: names that sort in track order.
std::string ExternalTrackName(int number);

// The command line burning files (in order) as an audio disc on device with the
// program found (cdrskin or wodim, told apart by its name).
std::vector<std::string> ExternalBurnCommand(const std::filesystem::path& program,
                                             std::string_view device, const BurnSettings& s,
                                             const std::vector<std::filesystem::path>& files);
// cdrskin, else wodim, from PATH; empty when neither is installed.
std::filesystem::path FindExternalBurner();

// "Burn Audio CD" through the external program: the tracks as 16-bit 44100 Hz
// stereo WAV files in a private temporary folder ("Copy Audio Files"), then the
// program ("Burning", "Please wait..."). The folder goes with the task.
class ExternalBurnTask final : public platform::LProgressDialog {
 public:
  ExternalBurnTask(std::string drive, std::vector<audio::SourceHandle> tracks, BurnSettings settings);
  const std::string& message() const { return message_; }
  // The command line run, once it ran.
  const std::vector<std::string>& command() const { return command_; }

 protected:
  bool Execute() override;

 private:
  std::string drive_;
  std::vector<audio::SourceHandle> tracks_;
  BurnSettings settings_;
  std::string message_;
  std::vector<std::string> command_;
};

// The burning program's command line for a list file: PROGRAM -type audio|data -list FILE.
std::vector<std::string> BurningProgramCommand(const std::string& program, bool audio,
                                               const std::filesystem::path& listFile);

// "Run Burning Program": writes files, one a line, to a private list file, runs the
// configured program on it, waits for it and removes the list.
class BurningProgramTask final : public platform::LProgressDialog {
 public:
  BurningProgramTask(std::string program, bool audio, std::vector<std::filesystem::path> files);
  const std::string& message() const { return message_; }

 protected:
  bool Execute() override;

 private:
  std::string program_;
  bool audio_;
  std::vector<std::filesystem::path> files_;
  std::string message_;
};

}  // namespace quillet::cd
