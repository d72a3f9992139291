#pragma once
// Our MPEG-1, MPEG-2 and MPEG 2.5 layer III decoder (ISO/IEC 11172-3, 13818-3).
// The decoder works on whole frames in memory and owns no file; the stream helpers
// (sync search, VBR headers, ID3 tags) and the sound source sit on top of it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillet::formats {

struct Mp3Header {
  int version = 0;          // 0 = MPEG-1, 1 = MPEG-2, 2 = MPEG 2.5
  bool crc = false;         // a 16-bit CRC follows the header
  int bitrate = 0;          // bit/s
  int sampleRateIndex = 0;  // 0..2
  int sampleRate = 0;       // Hz
  int padding = 0;
  int mode = 0;             // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int modeExtension = 0;

  int channels() const { return mode == 3 ? 1 : 2; }
  int samplesPerFrame() const { return version == 0 ? 1152 : 576; }
  int frameBytes() const { return (version == 0 ? 144 : 72) * bitrate / sampleRate + padding; }
  int sideInfoBytes() const {
    return version == 0 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
  }
  // Bytes of main data this frame adds to the bit reservoir.
  int mainDataBytes() const { return frameBytes() - 4 - (crc ? 2 : 0) - sideInfoBytes(); }
  // True when two headers may belong to one stream.
  bool SameStream(const Mp3Header& o) const {
    return version == o.version && sampleRateIndex == o.sampleRateIndex && (mode == 3) == (o.mode == 3);
  }
};

// Parses 4 bytes as a layer III header. Refuses other layers, free format, reserved values.
bool ParseMp3Header(const uint8_t* bytes, Mp3Header& out);

enum class Mp3Status {
  kOk,         // samples produced
  kReservoir,  // the frame's main data begins before what the reservoir holds: no samples
  kCorrupt,    // side information or main data inconsistent: silence produced
  kTruncated,  // fewer bytes than the header's frame length
  kNoHeader,   // data[0..3] is not a layer III header
};

struct Mp3Step {
  size_t bytesConsumed = 0;
  int framesProduced = 0;  // samples per channel written to the output
  Mp3Status status = Mp3Status::kNoHeader;
  uint8_t blockTypes = 0;  // bit t set when a granule used block type t; bit 4 for a mixed block
};

class Mp3Decoder {
 public:
  static constexpr int kMaxSamplesPerFrame = 1152;

  Mp3Decoder();
  ~Mp3Decoder();
  Mp3Decoder(const Mp3Decoder&) = delete;
  Mp3Decoder& operator=(const Mp3Decoder&) = delete;

  // Decodes the frame at data[0..size). On kOk and kCorrupt, out receives
  // framesProduced * channels interleaved floats, full scale 1.0 (not clipped).
  // bytesConsumed is the frame length whenever a header was found, so callers always advance.
  Mp3Step DecodeFrame(const uint8_t* data, size_t size, float* out);

  // Forgets the reservoir, overlap and filterbank state (before decoding from a new place).
  void Reset();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quillet::formats
