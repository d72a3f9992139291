#pragma once
// Reading a chain: a source over a snapshot of it, so later edits of the document do
// not disturb a reader (player, effect, save, display) that is already running.

#include <vector>

#include "audio/sound.h"
#include "core/chain.h"
#include "core/detail/file_io.h"
#include "core/sample_file.h"

namespace quillet::core {

using audio::Sample;

// A sample scaled by a segment gain taken at the point of use (gain >> 15, 512 is
// unity), in 64 bits and saturated: gains can reach 128x.
inline Sample ApplyGain(Sample x, std::int32_t useGain) {
  return audio::SaturateSample((std::int64_t{useGain} * x) >> 9);
}

class LChainSoundSource final : public audio::LSoundSource {
 public:
  explicit LChainSoundSource(const AudioChain& chain);

  // Silence before frame 0, past the end and for silent segments. A sample file that
  // cannot be opened or read, or is shorter than its segment, reads as zeros and fails
  // the source with the system's reason ("Cannot read the audio of this document:
  // PATH: REASON").
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return framePos_; }
  FrameCount length() const override { return chainLength_; }
  void seek(FramePos frame) override;

 private:
  // The descriptor of a segment file, from a small cache: reading across many segments
  // of a few files must not reopen a file per block.
  struct OpenFile;
  OpenFile* FileFor(FileId id);
  void FailFile(FileId id, const std::string& reason);
  void ReadSegment(const AudioSegment& seg, FrameCount offset, FrameCount frames, Sample* out);

  AudioChain chain_;
  std::vector<FramePos> starts_;  // first frame of each segment
  FramePos framePos_ = 0;
  FrameCount chainLength_ = 0;
  std::size_t current_ = 0;   // segment holding framePos_ (when framePos_ >= 0)
  FrameCount offset_ = 0;     // frames into it

  struct OpenFile {
    FileId id;
    detail::UniqueFd fd;
    SampleFileLayout layout;
    std::uint64_t lastUse;
  };
  std::vector<OpenFile> files_;
  std::vector<std::uint8_t> encoded_;  // samples as a compact file holds them
  std::uint64_t useClock_ = 0;
};

audio::Ref<LChainSoundSource> ChainOpenSource(const AudioChain& chain);

}  // namespace quillet::core
