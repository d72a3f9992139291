#pragma once
// Channel conversion as a source adaptor: fewer channels keep the first ones of each
// frame (stereo to mono keeps the left), more channels repeat the last input channel
// (mono to stereo writes each sample to both).

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
};

// input delivering `channels` channels: input itself when it is empty, not ready, or
// already has that many; channels outside 1..255 count as 1.
SourceHandle ConvertChannels(SourceHandle input, int channels);

}  // namespace quillet::audio
