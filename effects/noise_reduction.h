#pragma once
// Spectral noise reduction: a noise profile (per channel and frequency bin, the level
// the noise reaches) is estimated from a stretch of audio, and spectral subtraction
// takes that much off every bin of the audio's short-time spectra. The profile comes
// from the selection itself (automatic) or from a stretch of noise grabbed before.

#include <cstdint>
#include <vector>

#include "audio/fft.h"
#include "core/edit_services.h"
#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

// Spectral frame size N for a rate: the smallest power of two of at least 8 and at
// least n - n / 4 for n = rate / 33 (about 30 ms): 1024 at 44100 Hz. 0 when that is
// above kMaxSpectralFrame.
inline constexpr int kMaxSpectralFrame = 8192;
int SpectralFrameSize(std::int64_t rate);

// Bin magnitudes (of the Hamming-windowed, unnormalised transform) that count as 0 dB.
inline constexpr double kSpectralReference = 92682;

struct NoiseProfile {
  int frameSize = 0;  // the N it was made for; 0: no profile
  int channels = 0;
  // Per channel N / 2 bin magnitudes, channel after channel.
  std::vector<float> magnitudes;
  bool empty() const { return frameSize == 0; }
};

// The profile of [0, frames) of source (read from its position): per channel and bin
// the level below which percentile % (clamped to 0..100) of the N-frame stretches lie,
// plus 1 dB. A source shorter than N still gives a profile, from its one stretch.
// Fails when the rate needs a frame above 8192 or a read fails.
Outcome EstimateNoiseProfile(audio::LSoundSource& source, FrameCount frames, int percentile,
                             NoiseProfile& profile, const ProgressFn& progress = {});

// The audio less the profile: in frames of N overlapping by three quarters, every bin
// louder than its profile magnitude loses that much, every quieter one goes. The output
// has the input's length. The profile must fit (CheckProfileFits).
class LSpectralSubtraction final : public audio::LSoundSource {
 public:
  LSpectralSubtraction(SourceHandle input, const NoiseProfile& profile);
  void read(audio::Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override;

 private:
  void Step();

  SourceHandle input_;
  std::size_t n_, hop_, bins_;
  audio::RealFft fft_;
  std::vector<float> window_;
  std::vector<float> limit_, limitSquared_;  // per channel and bin
  std::vector<audio::Sample> raw_;           // the last n_ input frames, interleaved
  std::vector<float> overlap_;               // per channel n_ samples of noise estimate
  audio::FftBuffer<float> frame_;
  audio::FftBuffer<audio::Complex> spectrum_;
  std::vector<audio::Sample> out_;  // the latest hop's output
  FramePos outAt_ = 0;              // the frame out_ starts at
  FramePos pos_ = 0;
};

// The grab refuses more than 8 whole seconds, with its message and caption.
inline constexpr int kMaxGrabSeconds = 8;
inline constexpr int kGrabPercentile = 90;
Status CheckGrabLength(FrameCount frames, std::int64_t rate);
// Refused with its message when profile was made for another frame size or channel count.
Status CheckProfileFits(const NoiseProfile& profile, std::int64_t rate, int channels,
                        core::FrontEnd frontEnd = core::FrontEnd::Editor);

// The profile of [from, to) of chain at the grab's percentile.
Outcome GrabNoiseProfile(const AudioChain& chain, FramePos from, FramePos to, NoiseProfile& profile,
                         const ProgressFn& progress = {});
// The selection less profile (which must fit).
PassResult SubtractNoise(const EffectParams& params, const NoiseProfile& profile,
                         const ProgressFn& progress = {});
// The selection less its own profile at percentile: the estimate reports the first 30 %
// of the progress.
PassResult SubtractNoiseAuto(const EffectParams& params, int percentile,
                             const ProgressFn& progress = {});

// The grabbed profile, kept in the front end's session until the next grab.
struct GrabbedNoise {
  NoiseProfile profile;
};

// "Apply Auto Spectral Subtraction": THRESHOLD, the percentile, stored as "SSNoiseThreshold".
extern const core::ParamTable kAutoNoiseReductionTable;
// The grab's stretch FROM,TO in frames: quillet-cli's words; the editor takes the selection.
extern const core::ParamTable kNoiseGrabTable;

}  // namespace quillet::effects
