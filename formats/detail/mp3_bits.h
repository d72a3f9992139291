#pragma once
// A bounded MSB-first bit reader: reads past the limit yield zero bits and never touch
// memory beyond it, so a corrupt length cannot make the decoder overread. The next bits
// wait in a 64-bit cache refilled eight bytes at a time, so the Huffman loop peeks with
// one shift.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillet::formats::mp3 {

class BitReader {
 public:
  // At least this many bits are in the cache after Fill().
  static constexpr int kFillBits = 56;

  BitReader(const uint8_t* data, size_t bytes) : data_(data), bytes_(bytes), limitBits_(bytes * 8) { Fill(); }

  // Tops the cache up to at least kFillBits; bits past the limit are zeros.
  void Fill() {
    if (next_ + 8 <= bytes_) {
      uint64_t word;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
// GCC 12 flags this guarded load when inlined next to a short constant array.
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif
      std::memcpy(&word, data_ + next_, 8);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
      word = __builtin_bswap64(word);
      // Bits beyond the whole bytes taken are the true next bits: the next fill ORs the
      // same values over them.
      cache_ |= word >> avail_;
      const int taken = (63 - avail_) >> 3;
      next_ += static_cast<size_t>(taken);
      avail_ += taken * 8;
      return;
    }
    while (avail_ <= 56) {
      const uint64_t byte = next_ < bytes_ ? data_[next_] : 0;
      cache_ |= byte << (56 - avail_);
      ++next_;
      avail_ += 8;
    }
  }
  // Fills only when fewer than n (at most kFillBits) bits are cached.
  void Ensure(int n) {
    if (avail_ < n) Fill();
  }
  // Without a refill: at most the bits Fill() guaranteed, less those used since.
  uint32_t PeekCached(int n) const { return static_cast<uint32_t>(cache_ >> 1 >> (63 - n)); }
  void SkipCached(int n) {
    cache_ <<= n;
    avail_ -= n;
  }

  // Up to 32 bits from the current position, without advancing.
  uint32_t Peek(int n) {
    if (avail_ < n) Fill();
    return PeekCached(n);
  }
  void Skip(int n) {
    if (n <= avail_) {
      SkipCached(n);
    } else {
      set_position(position() + static_cast<size_t>(n));
    }
  }
  uint32_t Read(int n) {
    const uint32_t v = Peek(n);
    SkipCached(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }

  size_t position() const { return next_ * 8 - static_cast<size_t>(avail_); }
  void set_position(size_t bits) {
    next_ = bits >> 3;
    cache_ = 0;
    avail_ = 0;
    Fill();
    SkipCached(static_cast<int>(bits & 7));
  }
  // True when more bits were consumed than the data holds.
  bool overrun() const { return position() > limitBits_; }

 private:
  const uint8_t* data_;
  size_t bytes_;
  size_t limitBits_;
  size_t next_ = 0;     // the next byte to move into the cache
  uint64_t cache_ = 0;  // the next avail_ bits, MSB first; zeros below them
  int avail_ = 0;
};

}  // namespace quillet::formats::mp3
