#include "formats/messages.h"

namespace quillet::formats {

std::string OpenFailureMessage(audio::SoundStatus status, std::string_view file) {
  const std::string name(file);
  switch (status) {
    case audio::SoundStatus::Corrupt:
      return "Cannot open the file \"" + name + "\" because it is corrupt.";
    case audio::SoundStatus::CannotOpen:
      return "Cannot open the file \"" + name + "\". Check it exists and you have read access.";
    case audio::SoundStatus::CodecMissing:
      // The open dispatcher hands such files to ffmpeg when it is installed.
      return "Cannot open the file \"" + name +
             "\" because the required codec is not installed on this computer.\n\nInstall the Debian "
             "package ffmpeg (sudo apt-get install ffmpeg), then open the file again.";
    case audio::SoundStatus::Failed:
      return "Cannot read the file \"" + name + "\".";
    case audio::SoundStatus::Ready:
    case audio::SoundStatus::Empty:
      break;
  }
  return {};
}

std::string NotAFileMessage(std::string_view file, bool folder) {
  return "Cannot open \"" + std::string(file) + "\" because it is " +
         (folder ? "a folder" : "not a regular file (a pipe, a socket or a device)") + ", not an audio file.";
}

std::string SaveFailureMessage(std::string_view file) {
  return "Unable to create file \"" + std::string(file) + "\"for saving.";
}

}  // namespace quillet::formats
