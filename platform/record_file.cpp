#include "platform/record_file.h"

#include <cstring>

namespace quillet::platform {

bool RecordReader::Take(std::size_t n, const char** out) {
  if (!ok_ || n > remaining()) {
    ok_ = false;
    pos_ = bytes_.size();
    return false;
  }
  *out = bytes_.data() + pos_;
  pos_ += n;
  return true;
}

std::uint8_t RecordReader::U8() {
  const char* p = nullptr;
  return Take(1, &p) ? static_cast<std::uint8_t>(p[0]) : 0;
}

std::uint16_t RecordReader::U16() {
  const char* p = nullptr;
  if (!Take(2, &p)) return 0;
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                    static_cast<unsigned char>(p[1]) << 8);
}

std::uint32_t RecordReader::U32() {
  const char* p = nullptr;
  if (!Take(4, &p)) return 0;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(p[i]);
  return v;
}

std::uint64_t RecordReader::U64() {
  const std::uint64_t lo = U32();
  const std::uint64_t hi = U32();
  return ok_ ? (hi << 32 | lo) : 0;
}

std::string RecordReader::Text() {
  const char* p = nullptr;
  if (!Take(kTextFieldBytes, &p)) return {};
  const void* zero = std::memchr(p, 0, kTextFieldBytes - 1);
  const std::size_t len =
      zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - p) : kTextFieldBytes - 1;
  return std::string(p, len);
}

std::string_view RecordReader::Bytes(std::size_t n) {
  const char* p = nullptr;
  if (n > remaining()) {
    const std::size_t have = remaining();
    Take(have, &p);
    ok_ = false;
    return std::string_view(p ? p : "", have);
  }
  if (!Take(n, &p)) return {};
  return std::string_view(p, n);
}

void RecordWriter::U8(std::uint8_t v) { out_ += static_cast<char>(v); }

void RecordWriter::U16(std::uint16_t v) {
  out_ += static_cast<char>(v & 0xFF);
  out_ += static_cast<char>(v >> 8);
}

void RecordWriter::U32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out_ += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void RecordWriter::U64(std::uint64_t v) {
  U32(static_cast<std::uint32_t>(v));
  U32(static_cast<std::uint32_t>(v >> 32));
}

bool RecordWriter::Text(std::string_view text) {
  if (text.size() >= kTextFieldBytes || text.find('\0') != std::string_view::npos) {
    ok_ = false;
    out_.append(kTextFieldBytes, '\0');  // keep the layout; the caller must not save
    return false;
  }
  out_.append(text);
  out_.append(kTextFieldBytes - text.size(), '\0');
  return true;
}

}  // namespace quillet::platform
