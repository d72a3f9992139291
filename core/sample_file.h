#pragma once
// The layout of a sample file ("N.aud"). A file opens with an 8-byte header: "QSMP", the
// bytes per sample (2, 3 or 4) and three zero bytes; the frames follow, channel-
// interleaved, each sample little-endian:
//   2 bytes: the sample divided by 16 (every sample of the file is a 16-bit value x 16,
//            as everything read from 16-bit audio is),
//   3 bytes: the sample in 24 bits (decoded and processed audio, to 16 x full scale),
//   4 bytes: the sample as it is.
// A file without the header holds 4-byte samples from its first byte. The channel count
// and rate are those of the chains that use the file.

#include <cstddef>
#include <cstdint>

#include "audio/sample.h"

namespace quillet::core {

inline constexpr int kSampleFileHeaderBytes = 8;

struct SampleFileLayout {
  int width = 4;        // bytes per sample
  int headerBytes = 0;  // where frame 0 starts
};

// The narrowest width, at least atLeast, that holds each of the n samples.
int SampleWidthFor(const audio::Sample* in, std::size_t n, int atLeast);
// n samples to width bytes each (a width that holds them all).
void EncodeSamples(const audio::Sample* in, std::size_t n, int width, std::uint8_t* out);
void DecodeSamples(const std::uint8_t* in, std::size_t n, int width, audio::Sample* out);

void WriteSampleFileHeader(int width, std::uint8_t* out);
// The layout of the file whose first bytes (size of them, fewer for a short file) are
// these: headerless 4-byte samples when they are not a header.
SampleFileLayout ParseSampleFileHeader(const std::uint8_t* bytes, std::size_t size);
// The same for an open file, reading its first bytes.
SampleFileLayout ReadSampleFileLayout(int fd);

}  // namespace quillet::core
