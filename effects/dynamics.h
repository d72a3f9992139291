#pragma once
// Dynamics: the compressor and the multi-band noise gate, source filters whose gains
// follow the level of the audio a block ahead, and the block level they share with the
// automatic gain control. Each clamps its own values: stored values and batch scripts
// reach it without a dialog.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

// 10 x log10(M / 0x800012) for M the mean of (s >> 5)^2 over samples, rounded half away
// from zero, clamped to -127..127; -127 for silence or no samples. Full-scale square
// waves read 15, full-scale sines 12.
int BlockLevel(std::span<const audio::Sample> samples);

// The one-pole section coefficient (1 - e^(-2 pi f / rate)) x 256, truncated.
std::int64_t OnePoleCoefficient(double hz, std::int64_t rate);

// "Dynamic Range Compressor": THRESHOLD_DB 0..-40, RATIO_INDEX into the ratio list,
// LIMIT_DB 0..12, with its presets.
inline constexpr int kCompressorRatioCount = 7;
struct CompressorParams {
  int thresholdDb = 0;
  int ratioIndex = 0;
  int limitDb = 0;
};
// "1:1", "3:2", "2:1", "3:1", "4:1", "5:1", "Limit".
std::span<const std::string_view> CompressorRatioNames();
// The gain factor per dB above the threshold, 10^(-(1 - 1/r) / 20); ratio index clamped.
double CompressorSlope(int ratioIndex);
extern const core::ParamTable kCompressorTable;
CompressorParams CompressorParamsOf(const core::ParamSet& values);
Status Validate(const CompressorParams& p);

// 2^24 gains indexed by block level + 128: unity times b^threshold below the threshold
// (so that level 0 comes back to unity), then b less per dB up to upper, then 1 dB less
// per dB. Entries are truncated; thresholds are clamped to -127..127.
using CompressorGains = std::array<std::int64_t, 256>;
CompressorGains CompressorGainTable(int thresholdDb, double slope, int upper);
// Where the limit acts: 1 dB less gain per dB from thresholdDb + limitDb on; a limit
// of 0 (or below) leaves it off (127).
int CompressorUpperBound(const CompressorParams& p);

// Window length: 45 ms of frames, 128..8192.
FrameCount CompressorWindow(std::int64_t rate);

// The compressor over input: each window of frames is measured a window ahead, and the
// gain glides toward the next window's table entry, faster when the sound gets louder.
class LCompressorFilter final : public audio::LSoundSource {
 public:
  LCompressorFilter(SourceHandle input, const CompressorParams& params);
  void read(audio::Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override;

 private:
  void Start();
  void Advance();
  // The step that glides the gain toward the next window's target.
  void AimAtNext();
  std::int64_t TargetOf(const std::vector<audio::Sample>& window) const;

  SourceHandle input_;
  CompressorGains table_;
  FrameCount window_;
  std::vector<audio::Sample> current_, next_;
  FrameCount used_ = 0;  // frames of current_ already output
  std::int64_t gain_ = 0, step_ = 0, currentTarget_ = 0, nextTarget_ = 0;
  FramePos pos_ = 0;
  bool started_ = false;
};

PassResult Compress(const EffectParams& params, const CompressorParams& compressor,
                    const ProgressFn& progress = {});

// "Apply Multi-band Noise Gating": LEVEL 0..-40 dB, with its preset.
struct NoiseGateParams {
  int levelDb = -30;
};
extern const core::ParamTable kNoiseGateTable;
NoiseGateParams NoiseGateParamsOf(const core::ParamSet& values);
Status Validate(const NoiseGateParams& p);

inline constexpr int kGateBands = 4;
// The bands' thresholds for level: below 400 Hz 3 dB higher, above 1100 Hz 3 dB lower
// up to 2600 Hz, each clamped to -127..127.
std::array<int, kGateBands> GateThresholds(int levelDb);
// Block length: a thirtieth of a second of frames, 20..8192.
FrameCount GateBlock(std::int64_t rate);

// The gate over input: hum below 50 Hz removed, the rest split into four bands at 400,
// 1100 and 2600 Hz by one-pole sections, each band's gain following its peak a block
// ahead against its threshold (unity from 1.25 times the threshold, silence at a
// quarter of it), and the bands summed again.
class LNoiseGateFilter final : public audio::LSoundSource {
 public:
  LNoiseGateFilter(SourceHandle input, int levelDb);
  void read(audio::Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override;

 private:
  void Start();
  void ReadAndSplit(std::vector<std::int64_t>& bands);
  std::array<std::int64_t, kGateBands> TargetsOf(const std::vector<std::int64_t>& bands) const;

  SourceHandle input_;
  FrameCount block_;
  std::array<std::int64_t, kGateBands> scale_{};  // 2^16 over each band's linear threshold
  std::int64_t humCoef_;
  std::array<std::int64_t, 3> edgeCoef_;
  // Per channel: the hum state, then the three sections'.
  std::vector<std::array<std::int64_t, 4>> state_;
  std::vector<audio::Sample> in_;
  // Per frame and channel the four band samples.
  std::vector<std::int64_t> current_, next_;
  std::array<std::int64_t, kGateBands> gain_{}, step_{};
  FrameCount used_ = 0;
  FramePos pos_ = 0;
  bool started_ = false;
};

PassResult NoiseGate(const EffectParams& params, int levelDb, const ProgressFn& progress = {});

}  // namespace quillet::effects
