#pragma once
// A bounded MSB-first bit reader: reads past the limit yield zero bits and never touch
// memory beyond it, so a corrupt length cannot make the decoder overread.

#include <cstddef>
#include <cstdint>

namespace quillet::formats::mp3 {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t bytes) : data_(data), bytes_(bytes), limitBits_(bytes * 8) {}

  // Up to 25 bits from the current position, without advancing.
  uint32_t Peek(int n) const {
    const size_t byte = pos_ >> 3;
    uint32_t word;
    if (byte + 4 <= bytes_) {
      word = (uint32_t{data_[byte]} << 24) | (uint32_t{data_[byte + 1]} << 16) |
             (uint32_t{data_[byte + 2]} << 8) | data_[byte + 3];
    } else {
      word = 0;
      for (size_t i = 0; i < 4; ++i)
        word = (word << 8) | (byte + i < bytes_ ? data_[byte + i] : 0u);
    }
    return n == 0 ? 0 : (word << (pos_ & 7)) >> (32 - n);
  }
  void Skip(int n) { pos_ += static_cast<size_t>(n); }
  uint32_t Read(int n) {
    const uint32_t v = Peek(n);
    pos_ += static_cast<size_t>(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }

  size_t position() const { return pos_; }
  void set_position(size_t bits) { pos_ = bits; }
  // True when more bits were consumed than the data holds.
  bool overrun() const { return pos_ > limitBits_; }

 private:
  const uint8_t* data_;
  size_t bytes_;
  size_t limitBits_;
  size_t pos_ = 0;
};

}  // namespace quillet::formats::mp3
