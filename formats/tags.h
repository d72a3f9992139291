#pragma once
// Descriptive tags of a document (title, artist, album, genre, track, date, comment):
// read from and written to an MP3 file's ID3v1.1 tag or a WAVE file's RIFF "INFO" list
// and "DISP" chunk. Other files carry none. Writing touches only the tag's own bytes
// and the end of the file, never the audio.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/byte_source.h"

namespace quillet::formats {

inline constexpr std::string_view kTagTitle = "TITLE";
inline constexpr std::string_view kTagArtist = "ARTIST";
inline constexpr std::string_view kTagAlbum = "ALBUM";
inline constexpr std::string_view kTagGenre = "GENRE";
inline constexpr std::string_view kTagTrack = "TRACKNUMBER";
inline constexpr std::string_view kTagDate = "DATE";
inline constexpr std::string_view kTagComment = "COMMENT";

// An ordered list of (key, value) pairs.
class LAudioTagList {
 public:
  // Replaces the key's value, or appends the pair.
  void Set(std::string_view key, std::string_view value);
  // The value, or empty text when the key is missing.
  std::string Get(std::string_view key) const;
  bool Has(std::string_view key) const;
  void Remove(std::string_view key);
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }
  friend bool operator==(const LAudioTagList&, const LAudioTagList&) = default;

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The 148 ID3v1 genre names in their standard order ("Synthpop" is 147).
std::span<const std::string_view> Id3Genres();
// Index of a genre name, without regard to ASCII case.
std::optional<int> GenreIndex(std::string_view name);

// Reads by extension (".mp3": ID3v1, ".wav": RIFF); true when anything was read.
bool ReadTags(LAudioTagList& tags, const std::filesystem::path& file);
// Writes by extension; false when the file cannot be opened or written, carries no
// tags, or is not a valid file of its kind.
bool WriteTags(const LAudioTagList& tags, const std::filesystem::path& file);

// The parsers on bytes (tests and fuzzing); both only add to tags.
bool ReadId3v1(platform::ByteSource& bytes, LAudioTagList& tags);
bool ReadRiffTags(platform::ByteSource& bytes, LAudioTagList& tags);

// The tag editor ("Edit Audio Tags") as a plain model: its fields in order, each with
// its label and key.
struct TagField {
  std::string_view key;
  std::string_view label;
};
std::span<const TagField> TagEditorFields();
// Only these files can have their tags edited.
bool CanCarryTags(const std::filesystem::path& file);
inline constexpr std::string_view kTagsRefusedMessage = "Only wav and mp3 files can have tags edited.";

}  // namespace quillet::formats
