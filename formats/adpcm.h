#pragma once
// IMA ADPCM and Microsoft ADPCM blocks as WAVE files carry them. Each block stands
// alone (its header holds the predictor state), so any block can be decoded first.

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace quillet::formats {

// IMA ADPCM (DVI): per channel a 4-byte header (first sample, step index), then
// groups of 4 bytes per channel holding 8 samples each, low nibble first.
int ImaFramesPerBlock(int blockAlign, int channels);  // 0 when the block cannot hold a frame
// Decodes one block of up to blockAlign bytes (a short final block gives fewer frames);
// returns the frames written to out (interleaved).
int ImaDecodeBlock(const std::uint8_t* in, std::size_t bytes, int channels, std::int16_t* out);

class ImaEncoder {
 public:
  explicit ImaEncoder(int channels) : index_(static_cast<std::size_t>(channels), -1) {}
  // Encodes framesPerBlock frames into one block of blockAlign bytes.
  void EncodeBlock(const std::int16_t* in, int framesPerBlock, int blockAlign, std::uint8_t* out);
  void Reset() { std::fill(index_.begin(), index_.end(), -1); }

 private:
  std::vector<int> index_;  // step index carried from block to block; -1 before the first
};

// Microsoft ADPCM: per channel a predictor number, a delta and two start samples,
// then nibbles (high nibble first) interleaved by channel.
struct MsAdpcmCoefs {
  std::vector<std::int16_t> c1, c2;
};
const MsAdpcmCoefs& StandardMsAdpcmCoefs();  // the seven pairs every decoder knows
int MsAdpcmFramesPerBlock(int blockAlign, int channels);
// As ImaDecodeBlock. A block naming a predictor beyond coefs decodes as silence.
int MsAdpcmDecodeBlock(const std::uint8_t* in, std::size_t bytes, int channels,
                       const MsAdpcmCoefs& coefs, std::int16_t* out);
// Encodes one block with the standard coefficients, choosing the best predictor for
// each channel.
void MsAdpcmEncodeBlock(const std::int16_t* in, int framesPerBlock, int channels, int blockAlign,
                        std::uint8_t* out);

}  // namespace quillet::formats
