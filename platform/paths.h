#pragma once
// Path text rules shared by every module: joining, extensions and the length
// limit of the program's record files.

#include <cstddef>
#include <string>
#include <string_view>

namespace quillet::platform {

// Longest path the program stores or accepts, in bytes (record files keep
// paths in 260-byte zero-terminated fields).
inline constexpr std::size_t kMaxPathLength = 259;

// Folder and name with one '/' between them; none added when the folder is
// empty or already ends in '/'.
std::string JoinPath(std::string_view folder, std::string_view name);

// The text from the last '.' after the last '/', with the dot; empty if none.
std::string_view PathExtension(std::string_view path);
// The path with its extension replaced (ext given with its dot, or empty to remove it).
std::string ReplaceExtension(std::string_view path, std::string_view ext);
// The part after the last '/'.
std::string_view PathFileName(std::string_view path);
// Everything before the last '/' (empty when there is none; "/" for a root file).
std::string_view PathFolder(std::string_view path);
// Extensions compare without regard to ASCII case (".WAV" is ".wav").
bool SameExtension(std::string_view a, std::string_view b);

bool FitsPathLimit(std::string_view path);

// text with the characters no file name may hold (/ \ : * ? " < > | and controls)
// replaced by '_', and leading and trailing blanks and dots removed. A name is usable
// as a file name when it is not empty and this leaves it as it is.
std::string FileNameSafe(std::string_view text);
bool IsValidFileName(std::string_view name);

}  // namespace quillet::platform
