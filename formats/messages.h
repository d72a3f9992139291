#pragma once
// The words the user sees when a file cannot be opened or saved.

#include <string>
#include <string_view>

#include "audio/sound.h"

namespace quillet::formats {

// The message for a source's status (Corrupt, CannotOpen or CodecMissing); empty for
// Ready and Empty.
std::string OpenFailureMessage(audio::SoundStatus status, std::string_view file);
// A path that names a folder, a pipe or a device instead of a file.
std::string NotAFileMessage(std::string_view file, bool folder);
// A sink that could not be created or failed while writing.
std::string SaveFailureMessage(std::string_view file);

}  // namespace quillet::formats
