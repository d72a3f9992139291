#pragma once
// Descriptors owned by RAII and whole-buffer positional reads and writes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace quillet::core::detail {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Reads up to size bytes at offset, retrying short reads; returns the bytes read
// (fewer only at end of file, with errno 0, or on an error, with errno set).
std::size_t ReadAt(int fd, void* buf, std::size_t size, std::int64_t offset);
// Writes all of buf at offset; false on any error (errno says which).
bool WriteAt(int fd, const void* buf, std::size_t size, std::int64_t offset);
// "path: reason" for the current errno.
std::string ErrnoText();

}  // namespace quillet::core::detail
