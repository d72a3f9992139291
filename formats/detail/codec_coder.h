#pragma once
// One coding's block codec, behind the codec manager's streams. Samples on this side
// are 32-bit full scale (a 16-bit value v is v << 16), whatever the PCM side holds.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/codec.h"

namespace quillet::formats {

class CodecBlockCoder {
 public:
  CodecBlockCoder(int channels, std::size_t blockBytes, int framesPerBlock)
      : channels_(channels), blockBytes_(blockBytes), framesPerBlock_(framesPerBlock) {}
  virtual ~CodecBlockCoder() = default;

  // Decodes one block of at most blockBytes (a short one only at the end of the data)
  // into framesPerBlock x channels samples at most; returns the frames delivered.
  virtual int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) = 0;
  // Encodes framesPerBlock frames into one block of blockBytes.
  virtual void Encode(const std::int32_t* in, std::uint8_t* out) = 0;
  // Forgets the state carried between blocks.
  virtual void Reset() {}

  int channels() const { return channels_; }
  std::size_t blockBytes() const { return blockBytes_; }
  int framesPerBlock() const { return framesPerBlock_; }

 private:
  int channels_;
  std::size_t blockBytes_;
  int framesPerBlock_;
};

// The coder for a coded (non-PCM) format, or null with *why set: NotPossible for a
// coding the manager does not carry, BadFormat for an inconsistent record.
std::unique_ptr<CodecBlockCoder> MakeBlockCoder(const WaveFormat& coded, bool encode,
                                                CodecResult* why);

}  // namespace quillet::formats
