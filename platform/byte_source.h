#pragma once
// Random-access bytes that readers parse: a file or memory. Readers take one of
// these, never a path, so tests and fuzz targets feed bytes directly.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quillet::platform {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Copies up to n bytes at offset into out; returns how many were copied (fewer
  // at the end, 0 past it or on a read error).
  virtual std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) = 0;
  virtual std::uint64_t Size() const = 0;
  // Why a read before Size() came up short (the system's reason, or a file that shrank
  // after it was opened), in a message naming the file; empty while none did. Sticky.
  virtual std::string failure() const { return {}; }

  // Reads exactly n bytes or fails.
  bool ReadExact(std::uint64_t offset, void* out, std::size_t n) {
    return ReadAt(offset, out, n) == n;
  }
};

class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override;
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  std::string bytes_;
};

// Views bytes it does not own (the caller keeps them alive): for fuzz targets.
class ViewByteSource final : public ByteSource {
 public:
  explicit ViewByteSource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override;
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
};

// A stretch of another source (the data chunk of a container), seen from its start.
class RangeByteSource final : public ByteSource {
 public:
  RangeByteSource(std::shared_ptr<ByteSource> base, std::uint64_t offset, std::uint64_t size);
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override;
  std::uint64_t Size() const override { return size_; }
  std::string failure() const override { return base_->failure(); }

 private:
  std::shared_ptr<ByteSource> base_;
  std::uint64_t offset_;
  std::uint64_t size_;
};

class FileByteSource final : public ByteSource {
 public:
  // Null when the file cannot be opened for reading or is not a regular file (a pipe
  // or a device is refused without waiting on it); errnoOut receives the reason.
  static std::unique_ptr<FileByteSource> Open(const std::filesystem::path& file,
                                              int* errnoOut = nullptr);
  ~FileByteSource() override;
  FileByteSource(const FileByteSource&) = delete;
  FileByteSource& operator=(const FileByteSource&) = delete;

  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override;
  std::uint64_t Size() const override { return size_; }
  std::string failure() const override { return failure_; }

 private:
  FileByteSource(int fd, std::uint64_t size, std::filesystem::path path)
      : fd_(fd), size_(size), path_(std::move(path)) {}
  void SetFailure(const std::string& reason);

  int fd_;
  std::uint64_t size_;
  std::filesystem::path path_;
  std::string failure_;
};

// Little-endian and big-endian field access over raw bytes.
inline std::uint16_t LoadLE16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadLE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t LoadBE16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t LoadBE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}
inline void StoreLE16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreLE32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void StoreBE16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void StoreBE32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

}  // namespace quillet::platform
