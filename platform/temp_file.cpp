#include "platform/temp_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace quillet::platform {
namespace {

bool HasSeparatorOrNul(std::string_view s) {
  return s.find('/') != std::string_view::npos || s.find('\0') != std::string_view::npos;
}

std::string Template(const std::filesystem::path& folder, std::string_view prefix,
                     std::string_view extension) {
  const std::filesystem::path dir = folder.empty() ? TempFolderPath() : folder;
  std::string name(prefix);
  name += "XXXXXX";
  name += extension;
  return (dir / name).string();
}

}  // namespace

std::filesystem::path TempFolderPath() {
  const char* env = std::getenv("TMPDIR");
  std::error_code ec;
  if (env && *env && std::filesystem::is_directory(env, ec)) return env;
  return "/tmp";
}

TempFile::~TempFile() { Remove(); }

TempFile::TempFile(TempFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), fd_(std::move(other.fd_)), error_(other.error_) {}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
    fd_ = std::move(other.fd_);
    error_ = other.error_;
  }
  return *this;
}

TempFile TempFile::Create(std::string_view extension, const std::filesystem::path& folder,
                          std::string_view prefix) {
  TempFile file;
  if (HasSeparatorOrNul(extension) || HasSeparatorOrNul(prefix)) {
    file.error_ = EINVAL;
    return file;
  }
  std::string name = Template(folder, prefix, extension);
  const int fd = ::mkostemps(name.data(), static_cast<int>(extension.size()), O_CLOEXEC);
  if (fd < 0) {
    file.error_ = errno;
    return file;
  }
  file.fd_.Reset(fd);
  file.path_ = name;
  return file;
}

std::filesystem::path TempFile::Release() {
  fd_.Reset();
  return std::exchange(path_, {});
}

void TempFile::Remove() {
  fd_.Reset();
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

TempFolder::~TempFolder() { Remove(); }

TempFolder::TempFolder(TempFolder&& other) noexcept
    : path_(std::exchange(other.path_, {})), error_(other.error_) {}

TempFolder& TempFolder::operator=(TempFolder&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
    error_ = other.error_;
  }
  return *this;
}

TempFolder TempFolder::Create(const std::filesystem::path& parent, std::string_view prefix) {
  TempFolder folder;
  if (HasSeparatorOrNul(prefix)) {
    folder.error_ = EINVAL;
    return folder;
  }
  std::string name = Template(parent, prefix, {});
  if (::mkdtemp(name.data()) == nullptr) {
    folder.error_ = errno;
    return folder;
  }
  folder.path_ = name;
  return folder;
}

std::filesystem::path TempFolder::Release() { return std::exchange(path_, {}); }

void TempFolder::Remove() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  path_.clear();
}

}  // namespace quillet::platform
