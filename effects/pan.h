#pragma once
// The channel mixer filter and the stereo pan built on it.

#include <array>
#include <vector>

#include "core/edit_services.h"
#include "core/params.h"
#include "effects/pass.h"
#include "effects/status.h"

namespace quillet::effects {

// Two output channels, each the sum of the input channels at a decibel gain of the
// shared table (missing inputs count as silent).
class LChannelMixer final : public audio::LSoundSource {
 public:
  // rows[out][in]: decibels for input channel `in` in output `out`.
  LChannelMixer(SourceHandle input, const std::array<std::vector<int>, 2>& rows);
  void read(audio::Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override { input_->seek(frame); }

 private:
  SourceHandle input_;
  std::array<std::vector<std::int64_t>, 2> gains_;
  std::vector<audio::Sample> in_;
};

// The mixer over input; an empty input is handed back as it is.
SourceHandle MakeChannelMixer(SourceHandle input, const std::array<std::vector<int>, 2>& rows);

inline constexpr int kDefaultPan = 50;
// "Stereo Pan": POS 0 (left) .. 100 (right), stored as "StereoPan".
struct PanParams {
  int position = kDefaultPan;
};
extern const core::ParamTable kStereoPanTable;
PanParams PanParamsOf(const core::ParamSet& values);
Status Validate(const PanParams& p);

// The decibel rows of the pan at position 0..100 (clamped): p = 0 keeps both channels
// at +3 dB, 50 sums them at unity, 100 exchanges them at +3 dB.
std::array<std::vector<int>, 2> PanRows(int position);

// Refusal for a document that is not stereo: the message and caption the user sees.
Status CheckStereo(int channels, core::FrontEnd frontEnd = core::FrontEnd::Editor);
PassResult StereoPan(const EffectParams& params, int position, const ProgressFn& progress = {});

}  // namespace quillet::effects
