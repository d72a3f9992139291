#include "platform/safe_file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace quillet::platform {

namespace {
constexpr std::size_t kBufferBytes = 1 << 18;

bool PwriteAll(int fd, const unsigned char* p, std::size_t n, std::uint64_t offset, int* err) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      *err = w < 0 ? errno : ENOSPC;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += static_cast<std::uint64_t>(w);
  }
  return true;
}
}  // namespace

SaveTarget ResolveSaveTarget(const std::filesystem::path& target) {
  SaveTarget out{target, 0};
  // As many links as the system follows itself.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(out.path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::error_code ec;
    const std::filesystem::path next = std::filesystem::read_symlink(out.path, ec);
    if (ec) break;
    out.path = next.is_absolute() ? next : out.path.parent_path() / next;
  }
  struct stat st {};
  if (::stat(out.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(out.path.c_str(), W_OK) != 0))
    out.error = EACCES;
  return out;
}

std::string TempNamePrefix(const std::filesystem::path& target) {
  std::string name = target.filename().string();
  if (name.size() > 64) {
    std::size_t cut = 64;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    name.resize(cut);
  }
  return "." + name;
}

std::string CannotSaveMessage(const std::filesystem::path& target, int err) {
  if (err == EACCES) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0)
      return "The file " + target.string() + " is read-only; it was not replaced.";
  }
  return "Cannot create a file beside " + target.string() + ": " + std::strerror(err) + ".";
}

std::unique_ptr<SafeFileWriter> SafeFileWriter::Create(const std::filesystem::path& requested,
                                                       int* errnoOut) {
  const SaveTarget resolved = ResolveSaveTarget(requested);
  if (resolved.error) {
    if (errnoOut) *errnoOut = resolved.error;
    return nullptr;
  }
  const std::filesystem::path& target = resolved.path;
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string name = (folder / (TempNamePrefix(target) + ".XXXXXX")).string();
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (errnoOut) *errnoOut = errno;
    return nullptr;
  }
  ::fchmod(fd, ReplacementMode(target));
  return std::unique_ptr<SafeFileWriter>(new SafeFileWriter(fd, target, name));
}

SafeFileWriter::SafeFileWriter(int fd, std::filesystem::path target, std::string temp)
    : fd_(fd), target_(std::move(target)), temp_(std::move(temp)) {
  buffer_.reserve(kBufferBytes);
}

SafeFileWriter::~SafeFileWriter() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(temp_.c_str());
}

bool SafeFileWriter::Fail(int err) {
  if (error_ == 0) error_ = err;
  return false;
}

bool SafeFileWriter::Flush() {
  if (failed()) return false;
  if (buffer_.empty()) return true;
  int err = 0;
  if (!PwriteAll(fd_, buffer_.data(), buffer_.size(), flushed_, &err)) return Fail(err);
  flushed_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool SafeFileWriter::Write(const void* data, std::size_t n) {
  if (failed() || committed_) return false;
  const auto* p = static_cast<const unsigned char*>(data);
  size_ += n;
  if (buffer_.size() + n > kBufferBytes) {
    if (!Flush()) return false;
    if (n >= kBufferBytes) {
      int err = 0;
      if (!PwriteAll(fd_, p, n, flushed_, &err)) return Fail(err);
      flushed_ += n;
      return true;
    }
  }
  buffer_.insert(buffer_.end(), p, p + n);
  return true;
}

bool SafeFileWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t n) {
  if (failed() || committed_) return false;
  if (offset + n > size_) return Fail(EINVAL);
  if (!Flush()) return false;
  int err = 0;
  if (!PwriteAll(fd_, static_cast<const unsigned char*>(data), n, offset, &err)) return Fail(err);
  return true;
}

std::size_t SafeFileWriter::ReadAt(std::uint64_t offset, void* out, std::size_t n) {
  if (committed_ || !Flush()) return 0;
  std::size_t done = 0;
  while (done < n && offset + done < size_) {
    const ssize_t r = ::pread(fd_, static_cast<char*>(out) + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

bool SafeFileWriter::Truncate(std::uint64_t size) {
  if (failed() || committed_) return false;
  if (!Flush()) return false;
  if (size > size_) return Fail(EINVAL);
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Fail(errno);
  size_ = flushed_ = size;
  return true;
}

bool SafeFileWriter::Commit() {
  if (committed_) return true;
  if (!Flush()) return false;
  if (::fsync(fd_) != 0) return Fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Fail(errno);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return Fail(errno);
  committed_ = true;
  return true;
}

}  // namespace quillet::platform
