#pragma once
// Level and time effects: amplify and normalize (segment gains only), envelopes and
// fades, DC offset correction, reverse and cross fade. Each clamps its own parameters:
// stored values and batch scripts reach it without a dialog.

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

inline constexpr int kMaxAmplifyPercent = 400;
inline constexpr int kMaxNormalizePercent = 100;
// The level normalize brings the peak to at 100 %: 16-bit full scale.
inline constexpr std::int64_t kNormalizeFullScale = 0x7FFF0;

// "Amplify": GAIN 0..400 % with its presets.
struct AmplifyParams {
  int gainPct = 100;
};
extern const core::ParamTable kAmplifyTable;
AmplifyParams AmplifyParamsOf(const core::ParamSet& values);
Status Validate(const AmplifyParams& p);

// Scales the gains of [start, end) by percent (clamped to 0..400); no samples are read
// or written, so it costs the same for any length.
PassResult Amplify(const EffectParams& params, int percent);

// The largest |sample| of [start, end), segment gains applied. Reads the peak records
// and only the blocks of samples that may hold the peak; falls back to the samples
// where a peak file is missing. 0 with *failure set (when given) when the samples
// cannot be read.
std::int64_t SelectionPeak(const AudioChain& chain, FramePos start, FramePos end,
                           std::string* failure = nullptr);
// The amplify percentage normalize applies for a peak: percent x 0x7FFF0 / peak, at
// most 400; 100 (nothing) for silence.
int NormalizeGain(int percent, std::int64_t peak);
// "Normalize": PEAK 0..100 % of full scale with its presets.
struct NormalizeParams {
  int peakPct = 100;
};
extern const core::ParamTable kNormalizeTable;
NormalizeParams NormalizeParamsOf(const core::ParamSet& values);
Status Validate(const NormalizeParams& p);

// Brings the peak of [start, end) to percent (clamped to 0..100) of full scale.
PassResult Normalize(const EffectParams& params, int percent);

// An envelope: points of (position 0..255 as a share of the selection, level 0..255
// with 128 unity), positions rising.
struct EnvelopePoint {
  std::uint8_t position = 0;
  std::uint8_t level = 128;
  friend bool operator==(const EnvelopePoint&, const EnvelopePoint&) = default;
};
using EnvelopeShape = std::vector<EnvelopePoint>;

EnvelopeShape FadeInShape();
EnvelopeShape FadeOutShape();
EnvelopeShape DefaultEnvelope();
// At least 2 points, positions not falling.
bool IsValidEnvelope(const EnvelopeShape& shape);

// The envelope command's POINTS, "POS/LEVEL;POS/LEVEL;..." (each 0..255); empty: the
// user's envelope file. The editor's envelope dialog edits that file and hands its
// points over.
inline constexpr std::size_t kMaxEnvelopePoints = 64;
extern const core::ParamTable kEnvelopeTable;
// The shape of a POINTS text, or the message refusing it.
Status ParseEnvelope(std::string_view text, EnvelopeShape& shape);
// The same for any curve of this layout; the messages name it: "<noun> points are
// <form> with both from 0 to 255, not ..." and "<article> needs 2 to 64 points with
// rising positions."
Status ParseCurvePoints(std::string_view text, EnvelopeShape& shape, std::string_view noun,
                        std::string_view form, std::string_view article);
// "POS/LEVEL;POS/LEVEL;...": the text the parsers read back.
std::string FormatCurve(const EnvelopeShape& shape);

// Frame of position x (0..255) in a selection of `frames`: x = 255 lands on frames.
FramePos EnvelopeFrame(FrameCount frames, int x);

// Multiplies each frame of a selection of `frames` by the shape's gain, linear between
// points (every channel of a frame alike).
class LEnvelopeFilter final : public audio::LSoundSource {
 public:
  LEnvelopeFilter(SourceHandle input, const EnvelopeShape& shape, FrameCount frames);
  void read(audio::Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override { input_->seek(frame); }
  // The 2^24 gain at frame i.
  std::int64_t GainAt(FramePos i) const;

 private:
  SourceHandle input_;
  std::vector<FramePos> frames_;
  std::vector<std::int64_t> gains_;
};

// An invalid shape changes nothing.
PassResult ApplyEnvelope(const EffectParams& params, const EnvelopeShape& shape,
                         const ProgressFn& progress = {});
// Fade out, then everything after the selection end is cut off.
PassResult FadeOutAndTrim(const EffectParams& params, const ProgressFn& progress = {});

// Subtracts each channel's mean over the selection (two passes; the first reports the
// first half of the progress).
PassResult DcOffsetCorrection(const EffectParams& params, const ProgressFn& progress = {});

// The input's frames in reverse order (channels within a frame kept), reading
// backwards in blocks.
class LReverseSource final : public audio::LSoundSource {
 public:
  explicit LReverseSource(SourceHandle input);
  void read(audio::Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return length_; }
  void seek(FramePos frame) override { pos_ = frame; }

 private:
  SourceHandle input_;
  FrameCount length_;
  FramePos pos_ = 0;
};

PassResult Reverse(const EffectParams& params, const ProgressFn& progress = {});

// Cross fade: the audio after the selection end arrives gapMs after the selection start,
// faded in over fadeInMs before that, while the selection fades out over fadeOutMs.
struct CrossFadeParams {
  int gapMs = 300;
  int fadeInMs = 300;
  int fadeOutMs = 300;
};
// "Cross Fade": GAP_MS, IN_MS, OUT_MS in section "CrossFade". The editor's dialog also
// edits the selection, which the command works on.
extern const core::ParamTable kCrossFadeTable;
CrossFadeParams CrossFadeParamsOf(const core::ParamSet& values);
Status Validate(const CrossFadeParams& p);
PassResult CrossFade(const EffectParams& params, const CrossFadeParams& cf,
                     const ProgressFn& progress = {});

}  // namespace quillet::effects
