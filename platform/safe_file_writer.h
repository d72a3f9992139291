#pragma once
// Writes a file without ever destroying the one it replaces: the bytes go to a
// private temporary file beside the target, which is renamed over the target only
// by Commit. Destroying an uncommitted writer (failure, cancellation) removes the
// temporary file and leaves the target as it was.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "settings/atomic_file.h"

namespace quillet::platform {

// The file a save of target really replaces: a symbolic link is followed (link by
// link, a dangling one to the place it names), so the link stays and its file gets
// the new contents. error is EACCES, with nothing to write, when that file exists and
// may not be written (by this user, or by anyone: a read-only file is never replaced).
struct SaveTarget {
  std::filesystem::path path;
  int error = 0;
};
SaveTarget ResolveSaveTarget(const std::filesystem::path& target);

// The start of a temporary name beside target: "." and at most 64 bytes of its name
// (cut at a character boundary), so the temporary name stays within the 255 bytes a
// name may have however long target's is.
std::string TempNamePrefix(const std::filesystem::path& target);

// Why a save of target could not begin, for errno err from the calls above.
std::string CannotSaveMessage(const std::filesystem::path& target, int err);

using settings::NewFileMode;
using settings::ReplacementMode;

class SafeFileWriter {
 public:
  // Writes through ResolveSaveTarget(target). Null when it may not be written or no
  // temporary file can be created in its folder; errnoOut receives the reason.
  static std::unique_ptr<SafeFileWriter> Create(const std::filesystem::path& target,
                                                int* errnoOut = nullptr);
  ~SafeFileWriter();
  SafeFileWriter(const SafeFileWriter&) = delete;
  SafeFileWriter& operator=(const SafeFileWriter&) = delete;

  // Appends (buffered). Any failure is sticky: later calls do nothing and return false.
  bool Write(const void* data, std::size_t n);
  // Overwrites bytes already written (a header with the final sizes).
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t n);
  // Reads back what was written, buffered bytes included; fewer at the end, none
  // after a failure.
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n);
  // Cuts the file to size bytes; the next Write appends there.
  bool Truncate(std::uint64_t size);
  std::uint64_t size() const { return size_; }

  bool failed() const { return error_ != 0; }
  int error() const { return error_; }  // errno of the first failure, ENOSPC for a full disk
  // Flushes, syncs and renames over the target. False (target untouched) on any failure.
  bool Commit();

  const std::filesystem::path& target() const { return target_; }

 private:
  SafeFileWriter(int fd, std::filesystem::path target, std::string temp);
  bool Flush();
  bool Fail(int err);

  int fd_;
  std::filesystem::path target_;
  std::string temp_;
  std::vector<unsigned char> buffer_;
  std::uint64_t flushed_ = 0;  // bytes on disk
  std::uint64_t size_ = 0;     // bytes written, buffered included
  int error_ = 0;
  bool committed_ = false;
};

}  // namespace quillet::platform
