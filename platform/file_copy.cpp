#include "platform/file_copy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace quillet::platform {
namespace {

// Reasons copy_file_range gives for a pair of files it cannot copy between (different
// file systems, a kernel or file system without it): a buffer does the copy instead.
bool Unsupported(int err) {
  return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF ||
         err == ETXTBSY;
}

CopyResult CopyThroughBuffer(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset,
                             std::uint64_t n, CopyResult done) {
  std::vector<char> buffer(std::min<std::uint64_t>(n - done.bytes, 1 << 20));
  while (done.bytes < n) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done.bytes, buffer.size()));
    const ssize_t got = ::pread(in, buffer.data(), want, static_cast<off_t>(inOffset + done.bytes));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      done.error = got < 0 ? errno : 0;
      return done;
    }
    for (ssize_t put = 0; put < got;) {
      const ssize_t w = ::pwrite(out, buffer.data() + put, static_cast<std::size_t>(got - put),
                                 static_cast<off_t>(outOffset + done.bytes + static_cast<std::uint64_t>(put)));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        done.bytes += static_cast<std::uint64_t>(put);
        done.error = w < 0 ? errno : ENOSPC;
        return done;
      }
      put += w;
    }
    done.bytes += static_cast<std::uint64_t>(got);
  }
  return done;
}

}  // namespace

CopyResult CopyFileBytes(int in, std::uint64_t inOffset, int out, std::uint64_t outOffset,
                         std::uint64_t n) {
  CopyResult done;
  while (done.bytes < n) {
    auto from = static_cast<off_t>(inOffset + done.bytes);
    auto to = static_cast<off_t>(outOffset + done.bytes);
    // At most 1 GiB a call: the kernel copies no more at once anyway.
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(n - done.bytes, 1 << 30));
    const ssize_t got = ::copy_file_range(in, &from, out, &to, want, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && Unsupported(errno)) return CopyThroughBuffer(in, inOffset, out, outOffset, n, done);
    if (got <= 0) {
      done.error = got < 0 ? errno : 0;
      return done;
    }
    done.bytes += static_cast<std::uint64_t>(got);
  }
  return done;
}

bool IsTargetFull(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

}  // namespace quillet::platform
