#pragma once
// Whole-file reading and replacing, the primitives under the settings files and
// every other small file the program keeps (record files, presets).

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillet::settings {

// Reads at most maxBytes of a file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& file, std::string& out,
                   std::size_t maxBytes = static_cast<std::size_t>(-1));
// Writes a temporary file beside the target, syncs it and renames it over the
// target (keeping the target's permissions), so a failed write changes nothing.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);

}  // namespace quillet::settings
