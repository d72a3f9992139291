#include "audio/channel.h"

#include <algorithm>

namespace quillet::audio {

LChannelConverter::LChannelConverter(SourceHandle input, int channels)
    : LSoundSource(input->sampleRate(), channels, input->peakBound()), input_(std::move(input)) {
  FollowInput(*input_);
}

void LChannelConverter::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int in = input_->channels();
  const int out = channels();
  // Whole request at once when it fits the scratch; big requests go in pieces.
  const FrameCount piece = kBlockFrames;
  scratch_.resize(static_cast<std::size_t>(std::min(frames, piece)) * in);
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(piece, frames - done);
    input_->read(scratch_.data(), n);
    Sample* dst = buffer + done * out;
    const Sample* src = scratch_.data();
    if (in == 1 && out == 2) {
      for (FrameCount i = 0; i < n; ++i) dst[2 * i] = dst[2 * i + 1] = src[i];
    } else if (in == 2 && out == 1) {
      for (FrameCount i = 0; i < n; ++i) dst[i] = src[2 * i];
    } else {
      for (FrameCount i = 0; i < n; ++i)
        for (int c = 0; c < out; ++c) dst[i * out + c] = src[i * in + std::min(c, in - 1)];
    }
    done += n;
  }
}

SourceHandle ConvertChannels(SourceHandle input, int channels) {
  if (channels < 1 || channels > kMaxChannels) channels = 1;
  if (!input || !input->ready() || input->channels() == channels) return input;
  return MakeRef<LChannelConverter>(std::move(input), channels);
}

}  // namespace quillet::audio
