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
  int bitrate = 0;          // bit/s; 0 for free format (bit-rate index 0)
  int sampleRateIndex = 0;  // 0..2
  int sampleRate = 0;       // Hz
  int padding = 0;
  int mode = 0;             // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int modeExtension = 0;
  // Free format: the frame length without padding, found from the distance between sync
  // words (FindFreeFormatBytes); 0 while unknown.
  int freeBytes = 0;

  bool freeFormat() const { return bitrate == 0; }
  int channels() const { return mode == 3 ? 1 : 2; }
  int samplesPerFrame() const { return version == 0 ? 1152 : 576; }
  // 0 for a free-format frame whose length is not known yet.
  int frameBytes() const {
    if (freeFormat()) return freeBytes ? freeBytes + padding : 0;
    return (version == 0 ? 144 : 72) * bitrate / sampleRate + padding;
  }
  // The longest frame the standards allow at this rate: free format need not be supported
  // above 320 kbit/s (MPEG-1) or 160 kbit/s (MPEG-2 and 2.5).
  int maxFrameBytes() const { return (version == 0 ? 144 * 320000 : 72 * 160000) / sampleRate + 1; }
  int sideInfoBytes() const {
    return version == 0 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
  }
  // Bytes of main data this frame adds to the bit reservoir.
  int mainDataBytes() const { return frameBytes() - 4 - (crc ? 2 : 0) - sideInfoBytes(); }
  // True when two headers may belong to one stream: the channel mode may change from frame
  // to frame, the version, rate and free format may not.
  bool SameStream(const Mp3Header& o) const {
    return version == o.version && sampleRateIndex == o.sampleRateIndex && freeFormat() == o.freeFormat();
  }
};

// Parses 4 bytes as a layer III header. Refuses other layers, bit-rate index 15 and
// reserved values; accepts free format with bitrate 0.
bool ParseMp3Header(const uint8_t* bytes, Mp3Header& out);

// The free-format frame at data[0..]: its length without padding, from the distance to the
// next header of the same stream, confirmed by the header after that (or by the end of the
// data when atEnd). 0 when no such header lies within maxFrameBytes().
int FindFreeFormatBytes(const uint8_t* data, size_t size, bool atEnd);

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
  int channels = 0;        // of this frame, which may differ from the one before
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
  // A free-format frame takes the length set by SetFreeFormatBytes; without one, the length
  // is found from the next sync word in data and kept (no header counts as kNoHeader).
  Mp3Step DecodeFrame(const uint8_t* data, size_t size, float* out);

  // Only appends the frame's main data to the bit reservoir, as DecodeFrame does, without
  // decoding it: frames whose audio is not wanted but whose data a later frame's may
  // reach back into. Produces no samples and leaves the other state as it was.
  Mp3Step FeedReservoir(const uint8_t* data, size_t size);

  // Forgets the reservoir, overlap and filterbank state (before decoding from a new place),
  // not the free-format frame length.
  void Reset();

  // The frame length without padding of the free-format stream to decode; 0 to find it.
  void SetFreeFormatBytes(int bytes) { freeBytes_ = bytes; }

 private:
  // out null: feed the reservoir only.
  Mp3Step Frame(const uint8_t* data, size_t size, float* out);

  struct State;
  std::unique_ptr<State> state_;
  int freeBytes_ = 0;
};

}  // namespace quillet::formats
