#pragma once
// The time-domain half of layer III for one channel: inverse MDCT with block windows and
// overlap-add, and the polyphase synthesis filterbank.
//
// Both run on several independent transforms at once so that every inner loop is a plain
// loop over lanes the compiler vectorises: the IMDCT over eight subbands, the filterbank
// over all time slots of a frame. The kernels are built twice, for AVX2 and for the
// baseline, and picked at run time; both give the same results (no fused multiply-add).

#include <cstdint>

namespace quillet::formats::mp3 {

class ChannelSynth {
 public:
  static constexpr int kSubbands = 32;
  static constexpr int kSlotsPerGranule = 18;
  static constexpr int kMaxSlots = 2 * kSlotsPerGranule;
  // Earlier slots the synthesis window reaches back to.
  static constexpr int kHistory = 15;
  // Rows of slots are padded to whole groups of eight.
  static constexpr int kSlotStride = 40;

  ChannelSynth() { Reset(); }
  void Reset();

  // One granule's spectrum, 18 lines per subband (a short block's line k of window w at
  // 18 * subband + 6 * w + k), of which only the first `subbands` subbands may be non-zero,
  // into time slots 18 * granule .. 18 * granule + 17. blockType 0..3; a mixed block
  // transforms subbands 0 and 1 as long blocks of type 0.
  void Imdct(const float* lines, int subbands, int blockType, bool mixed, int granule);

  // The filterbank over the slots of the first `granules` granules: 32 samples per slot,
  // sample j of slot t to out[32 * t + j].
  void Synthesize(int granules, float* out);

 private:
  alignas(32) float overlap_[kSlotsPerGranule][kSubbands];  // the last block's second half, by time
  alignas(32) float slots_[kSubbands][kSlotStride];             // this frame's subband samples, by subband
  alignas(32) float dct_[kSubbands][kHistory + kSlotStride];    // the filterbank's DCT outputs, by row
};

}  // namespace quillet::formats::mp3
