#include "devices/peak_limit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quillet::devices {
namespace {

constexpr std::int64_t kUnity = std::int64_t{1} << 24;

}  // namespace

LPeakLimitSource::LPeakLimitSource(audio::SourceHandle inner, std::uint32_t limit)
    : LVariableSpeedSource(inner->sampleRate(), inner->channels(), std::min<std::uint32_t>(limit, 0x3FFFFF)),
      inner_(std::move(inner)),
      limit_(std::min<std::uint32_t>(limit, 0x3FFFFF)),
      blockFrames_(std::clamp<audio::FrameCount>(inner_->sampleRate() / 35, 20, 8192)) {
  if (!inner_->ready()) setStatus(inner_->status());
  FollowInput(*inner_);
  for (auto& b : blocks_) b = audio::AudioBlock(channels(), blockFrames_);
  Fill();
}

std::int64_t LPeakLimitSource::BlockGain(const audio::AudioBlock& block) const {
  std::int64_t peak = 0;
  for (const audio::Sample s : block.samples()) peak = std::max(peak, std::abs(std::int64_t{s}));
  if (peak <= limit_) return kUnity;
  return ((limit_ << 9) / ((peak + 64) >> 6)) << 9;
}

void LPeakLimitSource::ReadBlock(std::size_t i) {
  valid_[i] = std::clamp<audio::FrameCount>(FramesLeft(*inner_), 0, blockFrames_);
  inner_->read(blocks_[i].data(), blockFrames_);
  gains_[i] = BlockGain(blocks_[i]);
}

audio::FrameCount LPeakLimitSource::framesLeft() const {
  return std::max<audio::FrameCount>(FramesLeft(*inner_), 0) +
         std::max<audio::FrameCount>(valid_[0] - offset_, 0) + valid_[1] + valid_[2];
}

void LPeakLimitSource::Fill() {
  for (std::size_t i = 0; i < 3; ++i) ReadBlock(i);
  // Starting below every block in sight, so a louder block right after a seek is
  // already covered when it arrives.
  gain_ = previousGain_ = std::min({gains_[0], gains_[1], gains_[2]});
  step_ = 0;
  offset_ = 0;
}

void LPeakLimitSource::Rotate() {
  previousGain_ = gains_[0];
  std::swap(blocks_[0], blocks_[1]);
  std::swap(blocks_[1], blocks_[2]);
  gains_[0] = gains_[1];
  gains_[1] = gains_[2];
  valid_[0] = valid_[1];
  valid_[1] = valid_[2];
  ReadBlock(2);
  offset_ = 0;
  // Reach, by the end of this block, a gain safe for it and for the next one.
  const std::int64_t average = (previousGain_ + gains_[0] + gains_[1] + gains_[2]) / 4;
  const std::int64_t target = std::min({gains_[0], gains_[1], average});
  const std::int64_t diff = target - gain_;
  step_ = diff / blockFrames_;
  gain_ += diff % blockFrames_;
}

void LPeakLimitSource::read(audio::Sample* buffer, audio::FrameCount frames) {
  const int ch = channels();
  while (frames > 0) {
    if (offset_ == blockFrames_) Rotate();
    const audio::FrameCount n = std::min(frames, blockFrames_ - offset_);
    const audio::Sample* in = blocks_[0].data() + offset_ * ch;
    if (gain_ >= kUnity && step_ == 0) {
      std::memcpy(buffer, in, static_cast<std::size_t>(n * ch) * sizeof(audio::Sample));
    } else {
      for (audio::FrameCount f = 0; f < n; ++f) {
        for (int c = 0; c < ch; ++c) {
          const std::int64_t v = (std::int64_t{in[f * ch + c]} * std::min(gain_, kUnity)) >> 24;
          buffer[f * ch + c] = static_cast<audio::Sample>(std::clamp(v, -limit_, limit_));
        }
        gain_ += step_;
      }
    }
    buffer += n * ch;
    offset_ += n;
    frames -= n;
  }
}

audio::FramePos LPeakLimitSource::position() const { return inner_->position() - bufferedFrames(); }

void LPeakLimitSource::seek(audio::FramePos frame) {
  inner_->seek(frame);
  Fill();
}

audio::SourceHandle LimitSource(audio::SourceHandle source, std::uint32_t limit) {
  if (source->peakBound() <= limit) return source;
  return audio::SourceHandle(audio::MakeRef<LPeakLimitSource>(std::move(source), limit));
}

}  // namespace quillet::devices
