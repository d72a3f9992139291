#pragma once
// The equalizer: a zero-phase FIR filter of 4095 taps designed from a drawn frequency
// curve, and the six filter shapes that generate such a curve. The curve has the
// layout of an envelope: points of (x, y) bytes with x the frequency in steps of
// 78.125 Hz (0..255 spans 0 to just under 20000 Hz) and y the gain, 128 unity.
//
// A flat curve is exactly unity: the end bins of the cosine sum weigh half (weighed
// fully they would double DC and null Nyquist). The shapes' curve bytes stop at 255,
// and the high and low pass shapes slope on their inner edge (the band's outer edge
// lies at 0 or 20000 Hz, where a slope would vanish). The filter convolves by FFT
// (overlap-save) with the kernel in single precision, which equals the direct form's
// 64-bit sums within one 16-bit step at a small fraction of its cost, and saturates.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/params.h"
#include "effects/levels.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

using EqualizerCurve = EnvelopeShape;

inline constexpr double kEqHzPerStep = 78.125;
inline constexpr int kEqTopHz = 20000;
// The kernel's half width: taps -2047..2047.
inline constexpr int kEqHalfTaps = 2047;
// Bins 0..2048 of the magnitude array (bin j is j x rate / 4096 Hz).
inline constexpr int kEqBins = 2049;

EqualizerCurve FlatCurve();
// The curve position of f Hz: f / 78.125, truncated, 0..255.
int EqPosition(double hz);

// The frequency axis of the curve editor: pixel p of a width w stands for
// 20000 x p / w Hz (linear) or 20000 x (16^(p / w) - 1) / 15 Hz (logarithmic), and back.
double EqFrequencyAt(double p, double w, bool linear);
double EqPixelOf(double hz, double w, bool linear);

// The shapes, numbered as the "EQPreset" drop-down lists them after "Select Preset".
enum class EqShape : int { BandPass = 1, BandStop, HighPass, LowPass, Notch, BoostCut };
inline constexpr int kEqShapeCount = 6;

struct EqShapeParams {
  int startHz = 8000;  // the pass frequency of the high and low pass
  int endHz = 12000;   // not used by the high and low pass
  int slopeHz = 1000;
  int ampPct = 1000;
};

// "BandPass" ... "Boost/Cut": the drop-down's entry, the settings' title is this and
// " Settings"; the registry section ("BoostCut" for Boost/Cut); quillet-cli's word.
std::string_view ShapeName(EqShape s);
std::string_view ShapeSection(EqShape s);
std::string_view ShapeWord(EqShape s);
bool ShapeOfWord(std::string_view word, EqShape& s);
// High and low pass take a pass frequency instead of a band.
bool IsPassFrequencyShape(EqShape s);
// The settings' fields in their section, with the stored defaults: START,END,SLOPE,AMP
// or FREQ,SLOPE,AMP.
const core::ParamTable& ShapeTable(EqShape s);
EqShapeParams ShapeParamsOf(EqShape s, const core::ParamSet& values);
// What the settings' "Defaults" button sets.
EqShapeParams ShapeDefaults(EqShape s);

// Remembers the chosen shape in "Settings": "EqualizerFilterName" and the flags
// "EqualizerPassFilter" (band pass rather than band stop), "EqualizerBoostCutFilter",
// "EqualizerNotchFilter", "EqualizerHighPassFilter", "EqualizerLowPassFilter".
void StoreShapeChoice(settings::Settings& s, EqShape shape);

// The six points of a shape's curve: amplitudes capped at 100 % (199 % for notch and
// boost/cut), a notch at least 50 Hz wide, the band inside 0..20000 Hz; pass shapes
// have the amplitude outside and 100 % inside, stop shapes the other way round.
EqualizerCurve ShapeCurve(EqShape s, EqShapeParams p);

// "equalizer.dat" in the data folder: the count byte, then x and y per point. A
// missing, empty or damaged file gives the flat curve (written back when the file is
// missing or its count is 0).
inline constexpr std::string_view kEqualizerFileName = "equalizer.dat";
EqualizerCurve LoadEqualizerCurve(const std::filesystem::path& folder);
bool SaveEqualizerCurve(const std::filesystem::path& folder, const EqualizerCurve& curve);
// "X/Y;X/Y;...", 2..64 points each 0..255, x not falling.
Status ParseEqualizerCurve(std::string_view text, EqualizerCurve& curve);

// m[0..2048] for a curve at rate (44100 for a rate below 1): each point at bin
// x x 320000 / rate (the first at bin 0), capped at 2048, linear between points, the
// last point's level after it.
std::array<int, kEqBins> CurveMagnitudes(const EqualizerCurve& curve, std::int64_t rate);
// h[0..2047]: ((m[0] / 2 + sum of m[j] cos(k j pi / 2048) + m[2048] cos(k pi) / 2,
// truncated) + 4) >> 3, so that 32768 is unity for an output (sum) / 32768.
std::vector<std::int32_t> EqualizerKernel(const std::array<int, kEqBins>& m);

// The FIR over its input: output frame n is centred on input frame n, with
// kEqHalfTaps frames of history and look-ahead (zeros outside the input).
class LEqualizerFilter final : public audio::LSoundSource {
 public:
  LEqualizerFilter(SourceHandle input, const std::vector<std::int32_t>& kernel);
  ~LEqualizerFilter() override;
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override;

 private:
  struct Fft;
  void Compute(FramePos from);

  SourceHandle input_;
  std::unique_ptr<Fft> fft_;
  std::vector<Sample> window_;  // interleaved input from blockStart_ - 2047
  std::vector<Sample> out_;     // interleaved output of the block
  FramePos blockStart_ = 0;
  FrameCount blockFrames_ = 0;  // 0: none computed
  FramePos windowStart_ = 0;    // the input frame at window_[0]
  FrameCount windowFrames_ = 0; // valid frames in window_
  FramePos pos_ = 0;
};

SourceHandle MakeEqualizer(SourceHandle input, const EqualizerCurve& curve);

// The equalizer over [start, end): the filter reads the document around the
// selection, so the history and look-ahead at its edges are real audio.
PassResult Equalize(const EffectParams& params, const EqualizerCurve& curve,
                    const ProgressFn& progress = {});

// "Equalizer": one text, empty for the curve of "equalizer.dat", a shape as
// SHAPE,START,END,SLOPE,AMP (bandpass, bandstop, boostcut, notch) or SHAPE,FREQ,SLOPE,AMP
// (highpass, lowpass) with missing numbers from the shape's stored settings, or a
// curve X/Y;X/Y;... "equalizer-curve": the curve only.
extern const core::ParamTable kEqualizerTable;
extern const core::ParamTable kEqualizerCurveTable;
// The curve text means, read with the stored settings; the refusal otherwise.
Status EqualizerCurveOf(std::string_view text, const settings::Settings& s,
                        const std::filesystem::path& folder, EqualizerCurve& curve);

}  // namespace quillet::effects
