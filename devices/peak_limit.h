#pragma once
// The look-ahead peak limiter: keeps a source that may exceed full scale within a
// limit by lowering the gain smoothly before loud blocks arrive, instead of clipping.

#include <array>

#include "audio/block.h"
#include "audio/sound.h"
#include "devices/play_speed.h"

namespace quillet::devices {

// The limit the player uses: 16-bit full scale in internal samples.
inline constexpr std::uint32_t kPlaybackLimit = 0x7FFF0;

class LPeakLimitSource final : public LVariableSpeedSource {
 public:
  // limit is at most 0x3FFFFF. Reads from inner's current position.
  LPeakLimitSource(audio::SourceHandle inner, std::uint32_t limit);

  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override;
  audio::FrameCount length() const override { return inner_->length(); }
  void seek(audio::FramePos frame) override;

  const audio::SourceHandle& inner() const { return inner_; }
  // Frames read from inner and not yet delivered.
  audio::FrameCount bufferedFrames() const { return 3 * blockFrames_ - offset_; }
  audio::FrameCount blockFrames() const { return blockFrames_; }
  // What is left of inner, plus the frames of it still held here.
  audio::FrameCount framesLeft() const override;

 private:
  std::int64_t BlockGain(const audio::AudioBlock& block) const;
  void Fill();
  void Rotate();
  void ReadBlock(std::size_t i);

  audio::SourceHandle inner_;
  std::int64_t limit_;
  audio::FrameCount blockFrames_;
  std::array<audio::AudioBlock, 3> blocks_;  // current, next, after next
  std::array<std::int64_t, 3> gains_{};      // 24 fractional bits
  std::array<audio::FrameCount, 3> valid_{};  // frames of each block before inner's end
  std::int64_t previousGain_ = 0;
  std::int64_t gain_ = 0;  // the running gain
  std::int64_t step_ = 0;  // per frame
  audio::FrameCount offset_ = 0;  // into the current block
};

// source itself when its peak bound is within limit, else a limiter around it.
audio::SourceHandle LimitSource(audio::SourceHandle source, std::uint32_t limit);

}  // namespace quillet::devices
