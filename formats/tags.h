#pragma once
// Descriptive tags of a document (title, artist, album, genre, track, date, comment):
// read from and written to an MP3 file's ID3v1.1 tag or a WAVE file's RIFF "INFO" list
// and "DISP" chunk; the format table says which files carry which. Writing touches
// only the tag's own bytes and the end of the file, never the audio. A save writes
// them into its temporary file (TagStep), so a failed tag write fails the save and
// leaves the old file alone.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

// The tags a format carries.
enum class TagSupport : std::uint8_t {
  None,
  RiffInfo,  // "LIST"/"INFO" and "DISP" chunks of a WAVE file
  Id3v1,     // the last 128 bytes of an MP3 file
};

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

// Reads the tags the file's format carries; true when anything was read.
bool ReadTags(LAudioTagList& tags, const std::filesystem::path& file);

// Bytes that can also be overwritten and extended: a file opened for update, or memory.
class WritableBytes : public platform::ByteSource {
 public:
  // Writes all n bytes at offset (growing the data when it reaches past the end).
  virtual bool WriteAt(std::uint64_t offset, const void* data, std::size_t n) = 0;
};

class MemoryWritableBytes final : public WritableBytes {
 public:
  explicit MemoryWritableBytes(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override;
  std::uint64_t Size() const override { return bytes_.size(); }
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t n) override;
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// A regular file opened for update; null (errno in *err) when it cannot be.
std::unique_ptr<WritableBytes> OpenWritableFile(const std::filesystem::path& file, int* err = nullptr);

// One more step on a finished temporary file before it replaces its target: false,
// with *why set, fails the save.
using FinishingStep = std::function<bool(WritableBytes& bytes, std::string* why)>;
// Writes tags of kind into the file; empty when there is nothing to write.
FinishingStep TagStep(TagSupport kind, const LAudioTagList& tags);

// The parsers and writers on bytes; the readers only add to tags.
bool ReadId3v1(platform::ByteSource& bytes, LAudioTagList& tags);
bool ReadRiffTags(platform::ByteSource& bytes, LAudioTagList& tags);
bool WriteId3v1(WritableBytes& bytes, const LAudioTagList& tags);
// False (nothing changed) when the bytes hold no RIFF WAVE form.
bool WriteRiffTags(WritableBytes& bytes, const LAudioTagList& tags);

// The tag editor ("Edit Audio Tags") as a plain model: its fields in order, each with
// its label and key.
struct TagField {
  std::string_view key;
  std::string_view label;
};
std::span<const TagField> TagEditorFields();
// Only files whose format carries tags can have them edited.
bool CanCarryTags(const std::filesystem::path& file);
inline constexpr std::string_view kTagsRefusedMessage = "Only wav and mp3 files can have tags edited.";

}  // namespace quillet::formats
