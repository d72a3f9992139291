#pragma once
// Whole-file reading and replacing, the primitives under the settings files and
// every other small file the program keeps (record files, presets).

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillet::settings {

// Reads at most maxBytes of a file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& file, std::string& out,
                   std::size_t maxBytes = static_cast<std::size_t>(-1));
// The permissions a file made now gets: 0666 less the process's umask. The mask is
// read from /proc, never by setting it: umask() is process-wide, and changing it even
// for a moment changes the mode of files other threads create meanwhile.
mode_t NewFileMode();
// What a file written to replace target should have: target's own permissions when
// it exists, else those of a new file. Temporary files start private (0600), so
// every writer gives them these before the rename.
mode_t ReplacementMode(const std::filesystem::path& target);

// Writes a temporary file beside the target, syncs it and renames it over the
// target (with ReplacementMode), so a failed write changes nothing.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace quillet::settings
