#include "audio/memory.h"

#include <algorithm>
#include <cstring>

namespace quillet::audio {

LMemorySoundSource::LMemorySoundSource(std::int32_t sampleRate, AudioBlock samples,
                                       std::uint32_t peakBound)
    : LSoundSource(sampleRate, samples.channels(), peakBound), samples_(std::move(samples)) {}

void LMemorySoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int ch = channels();
  std::fill(buffer, buffer + frames * ch, Sample{0});
  const FramePos from = std::max<FramePos>(pos_, 0);
  const FramePos to = std::min(pos_ + frames, samples_.frames());
  if (to > from)
    std::memcpy(buffer + (from - pos_) * ch, samples_.data() + from * ch,
                static_cast<std::size_t>(to - from) * ch * sizeof(Sample));
  pos_ += frames;
}

LMemorySoundSink::LMemorySoundSink(std::uint32_t sampleRate, int channels)
    : LSoundSink(sampleRate, channels), samples_(LSoundSink::channels(), 0) {}

void LMemorySoundSink::write(const Sample* buffer, FrameCount frames) {
  if (failed() || frames <= 0) return;
  const FrameCount at = framesWritten();
  if (samples_.frames() < at + frames) samples_.resize(at + frames);
  std::memcpy(samples_.data() + at * channels(), buffer,
              static_cast<std::size_t>(frames) * channels() * sizeof(Sample));
  setFramesWritten(at + frames);
}

void LMemorySoundSink::truncate(FrameCount frame) {
  frame = std::max<FrameCount>(frame, 0);
  samples_.resize(frame);
  setFramesWritten(frame);
}

}  // namespace quillet::audio
