#pragma once
// The codec manager: conversion streams between PCM and the compressed WAVE codings,
// with the stream steps of the platform's compression manager (open, size, convert
// with block-align / start / end flags, reset). One side of every stream is PCM
// (8, 16, 24 or 32 bits); the other is a coding the manager carries:
//   IEEE float (32/64-bit), WAVE_FORMAT_EXTENSIBLE around PCM or float, u-law, A-law,
//   IMA ADPCM, Microsoft ADPCM and GSM 6.10 (WAV49 packing).
// Streams always work in whole codec blocks: input that does not fill a block stays
// unused until more arrives or the end flag is given.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/wave_format.h"

namespace quillet::formats {

enum class CodecResult {
  Ok = 0,
  NotPossible,  // no codec for this pair of formats (or not with these flags)
  BadFormat,    // the format record is inconsistent (sizes, channels, rate)
  Invalid,      // a call the stream cannot honour (buffers, flags)
};

// Open flags.
inline constexpr std::uint32_t kStreamOpenQuery = 0x1;        // only check that it can be done
inline constexpr std::uint32_t kStreamOpenNonRealtime = 0x4;  // slow codecs allowed
// Size flags: which side the given byte count describes.
inline constexpr std::uint32_t kStreamSizeSource = 0x0;
inline constexpr std::uint32_t kStreamSizeDestination = 0x1;
// Convert flags.
inline constexpr std::uint32_t kConvertBlockAlign = 0x4;
inline constexpr std::uint32_t kConvertStart = 0x10;  // reset the codec's state first
inline constexpr std::uint32_t kConvertEnd = 0x20;    // flush: a last short block too

struct StreamHeader {
  const std::uint8_t* src = nullptr;
  std::size_t srcLength = 0;
  std::size_t srcUsed = 0;  // set by Convert
  std::uint8_t* dst = nullptr;
  std::size_t dstLength = 0;
  std::size_t dstUsed = 0;  // set by Convert
};

class CodecBlockCoder;  // one codec's state (detail)

class CodecStream {
 public:
  // Opens a stream from src to dst (one of them plain PCM). With kStreamOpenQuery
  // only the result is given and *out is left alone.
  static CodecResult Open(std::unique_ptr<CodecStream>* out, const WaveFormat& src,
                          const WaveFormat& dst, std::uint32_t flags = 0);
  ~CodecStream();
  CodecStream(const CodecStream&) = delete;
  CodecStream& operator=(const CodecStream&) = delete;

  // With kStreamSizeSource: the destination bytes that bytes of input can produce;
  // with kStreamSizeDestination: the input bytes that fill at most bytes of output
  // (at least one block). 0 when no whole block fits.
  std::size_t Size(std::size_t bytes, std::uint32_t flags) const;
  // Converts whole blocks from h.src into h.dst and sets srcUsed and dstUsed. Input
  // that is corrupt still decodes (as silence where nothing can be recovered).
  CodecResult Convert(StreamHeader& h, std::uint32_t flags);
  // Back to the state of a fresh stream.
  void Reset();

  const WaveFormat& source() const { return src_; }
  const WaveFormat& destination() const { return dst_; }
  bool decoding() const { return decoding_; }
  // Coded bytes and frames of one block.
  std::size_t blockBytes() const;
  int framesPerBlock() const;

 private:
  CodecStream(WaveFormat src, WaveFormat dst, bool decoding, std::unique_ptr<CodecBlockCoder> coder);
  WaveFormat src_, dst_;
  bool decoding_;
  std::unique_ptr<CodecBlockCoder> coder_;
  std::vector<std::int32_t> scratch_;
};

// The PCM format a coding decodes to without loss, at its rate and channels: 32-bit
// for float and for extensible PCM wider than 16 bits, the container width for
// narrower extensible PCM, 16-bit for the rest. Also the PCM a writer feeds its
// encoder. NotPossible when the manager does not carry the coding.
CodecResult SuggestPcm(const WaveFormat& coded, WaveFormat* pcm);

// Decoded frames in dataBytes of the coding when its blocks have a fixed frame count
// (a short last block counted as a decoder delivers it); -1 when only an estimate exists.
std::int64_t CodedFrames(const WaveFormat& coded, std::uint64_t dataBytes);

// Every format the manager can encode at rate with channels (0: any of 1 and 2),
// for the format chooser, grouped by tag in the order of the list of codings above.
std::vector<WaveFormat> EncodableFormats(std::uint32_t rate, int channels);

}  // namespace quillet::formats
