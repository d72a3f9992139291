#pragma once
// The time-domain half of layer III: inverse MDCT with block windows and overlap-add, and
// the polyphase synthesis filterbank.

#include <cstdint>

namespace quillet::formats::mp3 {

// One subband of one granule: 18 spectral values in, 18 time samples out; `overlap` carries
// the second half of the previous block in and this block's out. blockType 0, 1 or 3.
void ImdctLong(const float* in, float* overlap, float* out, int blockType);
// Short blocks: in[w * 6 + k] holds line k of window w.
void ImdctShort(const float* in, float* overlap, float* out);

// One channel's synthesis filterbank state.
class SynthesisFilter {
 public:
  SynthesisFilter() { Reset(); }
  void Reset();
  // subbands[k * stride] for k = 0..31 in; 32 samples out at out[j * outStride].
  void Run(const float* subbands, int stride, float* out, int outStride);

 private:
  // Sixteen 64-value vectors, newest at pos_; sliding down keeps the window taps contiguous.
  float v_[2048];
  int pos_;
};

}  // namespace quillet::formats::mp3
