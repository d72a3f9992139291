#pragma once
// Channel conversion as a source adaptor: fewer channels keep the first ones of each
// frame (stereo to mono keeps the left), more channels repeat the last input channel
// (mono to stereo writes each sample to both). A surround source (three channels or
// more, in WAVE order) brought down to stereo or mono is mixed down instead, so no
// channel is lost: front, centre and surround channels go to their side (centre to
// both at -3 dB), the LFE channel is left out, and each output is scaled so that a
// full-scale signal in every channel stays at full scale.

#include <vector>

#include "audio/sound.h"

namespace quillet::audio {

class LChannelConverter final : public LSoundSource {
 public:
  LChannelConverter(SourceHandle input, int channels);

  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override { input_->seek(frame); }

 private:
  SourceHandle input_;
  std::vector<Sample> scratch_;
  std::vector<std::int64_t> mix_;  // out x in weights, 2^16 = unity; empty: no mixdown
};

// The mixdown weights (2^16 = unity, row by output channel) of in WAVE-order channels
// to out; empty when the conversion is not a mixdown (in below 3 or out above 2).
std::vector<std::int64_t> MixdownWeights(int in, int out);

// A source whose channel i is input's channel take[i] (every entry within input's
// channels): for formats that order channels differently.
class LChannelReorder final : public LSoundSource {
 public:
  LChannelReorder(SourceHandle input, std::vector<int> take);
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return input_->position(); }
  FrameCount length() const override { return input_->length(); }
  void seek(FramePos frame) override { input_->seek(frame); }

 private:
  SourceHandle input_;
  std::vector<int> take_;
  std::vector<Sample> scratch_;
};
SourceHandle ReorderChannels(SourceHandle input, std::vector<int> take);

// input delivering `channels` channels: input itself when it is empty, not ready, or
// already has that many; channels outside 1..255 count as 1.
SourceHandle ConvertChannels(SourceHandle input, int channels);

}  // namespace quillet::audio
