#include "core/sample_file.h"

#include <cstring>

#include "core/detail/file_io.h"

// The conversions run over every sample loaded and read: built for AVX2 as well, chosen
// at load time.
#if defined(__x86_64__)
#define QUILLET_SAMPLE_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define QUILLET_SAMPLE_KERNEL
#endif

namespace quillet::core {
namespace {

constexpr char kMagic[4] = {'Q', 'S', 'M', 'P'};

}  // namespace

QUILLET_SAMPLE_KERNEL
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

QUILLET_SAMPLE_KERNEL
void EncodeSamples(const audio::Sample* in, std::size_t n, int width, std::uint8_t* out) {
  if (width == 2) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = static_cast<std::uint16_t>(in[i] >> 4);
      out[2 * i] = static_cast<std::uint8_t>(v);
      out[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  } else if (width == 3) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = static_cast<std::uint32_t>(in[i]);
      out[3 * i] = static_cast<std::uint8_t>(v);
      out[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
      out[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
    }
  } else {
    std::memcpy(out, in, n * sizeof(audio::Sample));
  }
}

QUILLET_SAMPLE_KERNEL
void DecodeSamples(const std::uint8_t* in, std::size_t n, int width, audio::Sample* out) {
  if (width == 2) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto v = static_cast<std::int16_t>(in[2 * i] | in[2 * i + 1] << 8);
      out[i] = static_cast<audio::Sample>(v) * 16;
    }
  } else if (width == 3) {
    for (std::size_t i = 0; i < n; ++i) {
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
