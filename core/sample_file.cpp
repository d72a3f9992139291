#include "core/sample_file.h"

#include <cstring>

#include "audio/kernel.h"
#include "core/detail/file_io.h"


namespace quillet::core {
namespace {

constexpr char kMagic[4] = {'Q', 'S', 'M', 'P'};

}  // namespace

QUILLET_KERNEL
int SampleWidthFor(const audio::Sample* in, std::size_t n, int atLeast) {
  if (atLeast >= 4) return 4;
  // Bits that a 16-bit value x 16 leaves clear or a 24-bit one leaves as sign copies.
  std::uint32_t off16 = 0, off24 = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::int32_t v = in[i];
    off16 |= static_cast<std::uint32_t>(v & 15) | static_cast<std::uint32_t>((v >> 19) ^ (v >> 31));
    off24 |= static_cast<std::uint32_t>((v >> 23) ^ (v >> 31));
  }
  if (off24) return 4;
  return off16 || atLeast == 3 ? 3 : 2;
}

// Eight samples at a time for three-byte files: bytes moved by one shuffle. The vectors
// stay inside these functions (a vector passed by value would change the ABI).
typedef std::uint8_t Bytes32 __attribute__((vector_size(32)));
typedef std::int32_t Ints8 __attribute__((vector_size(32)));

QUILLET_KERNEL
void EncodeSamples(const audio::Sample* in, std::size_t n, int width, std::uint8_t* out) {
  if (width == 2) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = static_cast<std::int16_t>(in[i] >> 4);
      std::memcpy(out + 2 * i, &v, 2);
    }
  } else if (width == 3) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      Bytes32 b;
      std::memcpy(&b, in + i, 32);
      const Bytes32 packed = __builtin_shufflevector(b, b, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20,
                                                     21, 22, 24, 25, 26, 28, 29, 30, 0, 0, 0, 0, 0, 0, 0, 0);
      std::memcpy(out + 3 * i, &packed, 24);
    }
    for (; i < n; ++i) {
      const auto v = static_cast<std::uint32_t>(in[i]);
      out[3 * i] = static_cast<std::uint8_t>(v);
      out[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
      out[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
    }
  } else {
    std::memcpy(out, in, n * sizeof(audio::Sample));
  }
}

QUILLET_KERNEL
void DecodeSamples(const std::uint8_t* in, std::size_t n, int width, audio::Sample* out) {
  if (width == 2) {
    for (std::size_t i = 0; i < n; ++i) {
      std::int16_t v;
      std::memcpy(&v, in + 2 * i, 2);
      out[i] = static_cast<audio::Sample>(v) * 16;
    }
  } else if (width == 3) {
    std::size_t i = 0;
    // Each vector load takes 32 bytes for 24: the last whole group is left to the tail.
    for (; i + 11 <= n; i += 8) {
      Bytes32 b;
      std::memcpy(&b, in + 3 * i, 32);
      // Each sample into the top three bytes of its word, then shifted down with its sign.
      const Bytes32 spread = __builtin_shufflevector(b, b, 0, 0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0, 12,
                                                     13, 14, 0, 15, 16, 17, 0, 18, 19, 20, 0, 21, 22, 23);
      const Ints8 v = reinterpret_cast<const Ints8&>(spread) >> 8;
      std::memcpy(out + i, &v, 32);
    }
    for (; i < n; ++i) {
      const auto v = static_cast<std::uint32_t>(in[3 * i] | in[3 * i + 1] << 8 | in[3 * i + 2] << 16);
      out[i] = static_cast<audio::Sample>(v << 8) >> 8;
    }
  } else {
    std::memcpy(out, in, n * sizeof(audio::Sample));
  }
}

void WriteSampleFileHeader(int width, std::uint8_t* out) {
  std::memcpy(out, kMagic, 4);
  out[4] = static_cast<std::uint8_t>(width);
  out[5] = out[6] = out[7] = 0;
}

SampleFileLayout ParseSampleFileHeader(const std::uint8_t* bytes, std::size_t size) {
  if (size >= kSampleFileHeaderBytes && std::memcmp(bytes, kMagic, 4) == 0 && bytes[4] >= 2 && bytes[4] <= 4 &&
      (bytes[5] | bytes[6] | bytes[7]) == 0)
    return {bytes[4], kSampleFileHeaderBytes};
  return {};
}

SampleFileLayout ReadSampleFileLayout(int fd) {
  std::uint8_t head[kSampleFileHeaderBytes];
  return ParseSampleFileHeader(head, detail::ReadAt(fd, head, sizeof head, 0));
}

}  // namespace quillet::core
