#include "platform/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillet::platform {

namespace {
std::size_t CopyFrom(std::string_view bytes, std::uint64_t offset, void* out, std::size_t n) {
  if (offset >= bytes.size()) return 0;
  const std::size_t have = bytes.size() - static_cast<std::size_t>(offset);
  const std::size_t take = n < have ? n : have;
  if (take == 0) return 0;  // an empty read may come with no buffer at all
  std::memcpy(out, bytes.data() + offset, take);
  return take;
}
}  // namespace

std::size_t MemoryByteSource::ReadAt(std::uint64_t offset, void* out, std::size_t n) {
  return CopyFrom(bytes_, offset, out, n);
}

std::size_t ViewByteSource::ReadAt(std::uint64_t offset, void* out, std::size_t n) {
  return CopyFrom(bytes_, offset, out, n);
}

RangeByteSource::RangeByteSource(std::shared_ptr<ByteSource> base, std::uint64_t offset,
                                 std::uint64_t size)
    : base_(std::move(base)), offset_(offset), size_(0) {
  const std::uint64_t total = base_->Size();
  if (offset_ > total) offset_ = total;
  size_ = size < total - offset_ ? size : total - offset_;
}

std::size_t RangeByteSource::ReadAt(std::uint64_t offset, void* out, std::size_t n) {
  if (offset >= size_) return 0;
  const std::uint64_t have = size_ - offset;
  return base_->ReadAt(offset_ + offset, out, n < have ? n : static_cast<std::size_t>(have));
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::filesystem::path& file,
                                                     int* errnoOut) {
  // Non-blocking: opening a pipe that nobody writes would otherwise wait for ever.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errnoOut) *errnoOut = errno;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (errnoOut) *errnoOut = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileByteSource>(
      new FileByteSource(fd, static_cast<std::uint64_t>(st.st_size), file));
}

FileByteSource::~FileByteSource() { ::close(fd_); }

std::size_t FileByteSource::ReadAt(std::uint64_t offset, void* out, std::size_t n) {
  std::size_t done = 0;
  auto* p = static_cast<char*>(out);
  while (done < n) {
    const ssize_t got = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      SetFailure(std::strerror(errno));
      break;
    }
    if (got == 0) {
      if (offset + done < size_) SetFailure("File shorter than when it was opened");
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void FileByteSource::SetFailure(const std::string& reason) {
  if (failure_.empty()) failure_ = "Cannot read the file " + path_.string() + ": " + reason;
}

}  // namespace quillet::platform
