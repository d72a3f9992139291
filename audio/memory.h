#pragma once
// A source over samples held in memory and a sink that collects into memory: for
// small buffers (generated tones, clipboard-sized audio) and for tests.

#include "audio/sound.h"

namespace quillet::audio {

class LMemorySoundSource final : public LSoundSource {
 public:
  LMemorySoundSource(std::int32_t sampleRate, AudioBlock samples,
                     std::uint32_t peakBound = kWidePeakBound);
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return samples_.frames(); }
  void seek(FramePos frame) override { pos_ = frame; }

 private:
  AudioBlock samples_;
  FramePos pos_ = 0;
};

class LMemorySoundSink final : public LSoundSink {
 public:
  LMemorySoundSink(std::uint32_t sampleRate, int channels);
  void write(const Sample* buffer, FrameCount frames) override;
  void truncate(FrameCount frame) override;
  const AudioBlock& samples() const { return samples_; }

 private:
  AudioBlock samples_;
};

}  // namespace quillet::audio
