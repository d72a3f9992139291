#pragma once
// The program's own record files (batch scripts, projects, bookmarks, hot keys):
// little-endian fields after a version byte, text in 260-byte zero-terminated
// fields. The reader never reads past its bytes: a field cut short marks the
// reader failed and reads as zero or empty.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "settings/atomic_file.h"

namespace quillet::platform {

inline constexpr std::size_t kTextFieldBytes = 260;
inline constexpr std::string_view kFileErrorCaption = "File Error";
inline constexpr std::string_view kFileVersionMessage =
    "This file does not have the same version with the current Quillet version or it is "
    "corrupted.";
inline constexpr std::string_view kCannotOpenFileMessage =
    "Quillet cannot open this file. The file does not exist or may be corrupted.";

class RecordReader {
 public:
  explicit RecordReader(std::string_view bytes) : bytes_(bytes) {}

  std::uint8_t U8();
  std::uint16_t U16();
  std::uint32_t U32();
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::uint64_t U64();
  // A 260-byte field: the text up to its first zero (a field without one is cut at 259).
  std::string Text();
  // n raw bytes (fewer, and failed, when the data runs out).
  std::string_view Bytes(std::size_t n);

  // True until a read asked for more than was left.
  bool ok() const { return ok_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }
  bool AtEnd() const { return pos_ == bytes_.size(); }
  std::size_t position() const { return pos_; }

 private:
  bool Take(std::size_t n, const char** out);
  std::string_view bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

class RecordWriter {
 public:
  void U8(std::uint8_t v);
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void U64(std::uint64_t v);
  // Refuses (and marks the writer failed) text of 260 bytes or more, or with a zero
  // byte, rather than storing a cut path that names another file.
  bool Text(std::string_view text);
  void Bytes(std::string_view bytes) { out_.append(bytes); }

  bool ok() const { return ok_; }
  const std::string& bytes() const { return out_; }

 private:
  std::string out_;
  bool ok_ = true;
};

// Whole-file reading and atomic replacing, shared with the settings store.
using settings::WriteFileAtomically;
inline bool ReadFile(const std::filesystem::path& file, std::string& out) {
  return settings::ReadWholeFile(file, out);
}

}  // namespace quillet::platform
