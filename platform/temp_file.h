#pragma once
// Private temporary files and folders: unique names from mkstemp/mkdtemp, readable
// only by their owner, removed when the owning object goes.

#include <filesystem>
#include <string_view>

#include "platform/unique_fd.h"

namespace quillet::platform {

// $TMPDIR when it names a folder, else /tmp.
std::filesystem::path TempFolderPath();

class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // A new empty file "<prefix>XXXXXX<extension>" (mode 0600) in folder, or in
  // TempFolderPath() when folder is empty; left open for reading and writing.
  // On failure ok() is false and error() holds the errno (EINVAL for a prefix or
  // extension with a '/').
  static TempFile Create(std::string_view extension = {}, const std::filesystem::path& folder = {},
                         std::string_view prefix = "quillet-");

  bool ok() const { return !path_.empty(); }
  int error() const { return error_; }
  const std::filesystem::path& path() const { return path_; }
  int fd() const { return fd_.get(); }
  // Closes the descriptor (e.g. before another program writes the file); the file stays.
  void Close() { fd_.Reset(); }
  // Gives up ownership: the file is kept (e.g. after it was renamed into place).
  std::filesystem::path Release();

 private:
  void Remove();
  std::filesystem::path path_;
  UniqueFd fd_;
  int error_ = 0;
};

class TempFolder {
 public:
  TempFolder() = default;
  // Removes the folder with everything in it (symbolic links are not followed).
  ~TempFolder();
  TempFolder(TempFolder&& other) noexcept;
  TempFolder& operator=(TempFolder&& other) noexcept;
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // A new folder "<prefix>XXXXXX" (mode 0700) in parent, or in TempFolderPath().
  static TempFolder Create(const std::filesystem::path& parent = {},
                           std::string_view prefix = "quillet-");

  bool ok() const { return !path_.empty(); }
  int error() const { return error_; }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path Release();

 private:
  void Remove();
  std::filesystem::path path_;
  int error_ = 0;
};

}  // namespace quillet::platform
