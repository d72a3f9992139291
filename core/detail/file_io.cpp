#include "core/detail/file_io.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

namespace quillet::core::detail {

UniqueFd& UniqueFd::operator=(UniqueFd&& o) noexcept {
  if (this != &o) reset(std::exchange(o.fd_, -1));
  return *this;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::size_t ReadAt(int fd, void* buf, std::size_t size, std::int64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, static_cast<char*>(buf) + done, size - done,
                              static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    if (n == 0) {
      errno = 0;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

bool WriteAt(int fd, const void* buf, std::size_t size, std::int64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, static_cast<const char*>(buf) + done, size - done,
                               static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ErrnoText() {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  return ::strerror_r(errno, buf, sizeof buf);
}

}  // namespace quillet::core::detail
