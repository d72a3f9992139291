#include "audio/sound.h"

#include <algorithm>

namespace quillet::audio {

LSoundSource::LSoundSource(std::int32_t sampleRate, int channels, std::uint32_t peakBound)
    : sampleRate_(sampleRate), peakBound_(peakBound), channels_(channels) {
  if (sampleRate_ < 1) {
    sampleRate_ = 44100;
    status_ = SoundStatus::Corrupt;
  }
  if (channels_ < 1 || channels_ > kMaxChannels) {
    channels_ = 1;
    status_ = SoundStatus::Corrupt;
  }
}

SoundStatus LSoundSource::status() const {
  return status_ == SoundStatus::Ready && failed() ? SoundStatus::Failed : status_;
}

bool LSoundSource::failed() const {
  if (status_ == SoundStatus::Failed) return true;
  return std::any_of(inputs_.begin(), inputs_.end(),
                     [](const LSoundSource* s) { return s->failed(); });
}

const std::string& LSoundSource::failureMessage() const {
  if (!failure_.empty()) return failure_;
  for (const LSoundSource* s : inputs_)
    if (s->failed()) return s->failureMessage();
  return failure_;  // empty
}

void LSoundSource::Fail(std::string_view why) {
  if (status_ == SoundStatus::Failed) return;
  status_ = SoundStatus::Failed;
  failure_ = why.empty() ? std::string_view("The audio could not be read.") : why;
}

LNullSoundSource::LNullSoundSource(SoundStatus status) : LSoundSource(11025, 1, kWidePeakBound) {
  setStatus(status);
}

void LNullSoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames > 0) std::fill(buffer, buffer + frames, Sample{0});
}

LSoundSink::LSoundSink(std::uint32_t sampleRate, int channels)
    : sampleRate_(sampleRate), channels_(channels) {
  if (channels_ < 1 || channels_ > kMaxChannels) {
    channels_ = 1;
    Fail("The channel count " + std::to_string(channels) + " is not supported.");
  }
  if (sampleRate_ == 0) Fail("A sample rate of 0 Hz is not supported.");
}

void LSoundSink::truncate(FrameCount) {}

void LSoundSink::Fail(std::string_view message) {
  if (!failed()) message_ = message;
  status_ |= 1;
}

SourceHandle MakeNullSource(SoundStatus status) {
  return SourceHandle(MakeRef<LNullSoundSource>(status));
}

void ReleaseToEmpty(SourceHandle& h) { h = MakeNullSource(SoundStatus::Empty); }

}  // namespace quillet::audio
