#pragma once
// Writing new audio into the store: a sample file and, in the same pass, its peak file.
// The sample file starts with 2 bytes per sample and widens (rewriting what it holds)
// the first time a sample needs 3 or 4 (sample_file.h). Blocks reach the file on a
// thread of the sink's own, so a load reads and decodes the next block meanwhile; a
// failed write fails the sink at the next write or at Finish.
// When the sink finishes (Finish, or its last reference going) the target chain becomes
// one segment over the new file. A sink that fails leaves the target as it was.

#include <filesystem>
#include <memory>
#include <vector>

#include "audio/sound.h"
#include "core/chain.h"
#include "core/detail/file_io.h"
#include "core/sample_file.h"

namespace quillet::core {

using audio::Sample;

// One peak record per block of this many frames.
inline constexpr FrameCount kPeakBlockFrames = 256;
// The record byte for the largest positive excursion v (>= 0) of a block.
inline std::uint8_t PeakByte(std::int64_t v) {
  return static_cast<std::uint8_t>(std::min<std::int64_t>(255, v >> 11));
}

class LSegmentSoundSink final : public audio::LSoundSink {
 public:
  // target must outlive the sink. Fails (status bit 0, with a message) when the target
  // has no store, no file id is free, or the files cannot be created.
  LSegmentSoundSink(AudioChain& target, std::uint32_t sampleRate, int channels);
  ~LSegmentSoundSink() override;

  void write(const Sample* buffer, FrameCount frames) override;
  // Later writes continue at frame (negative counts as 0), both files cut to match.
  void truncate(FrameCount frame) override;
  // Publishes the segment; false (target untouched) when anything failed.
  bool Finish() override;
  void Abandon() override;

  FileId fileId() const { return fileId_; }

 private:
  void Accumulate(const Sample* buffer, FrameCount frames);
  void EmitRecord();
  void AddToSummary(std::int64_t record, const std::uint8_t* bytes);
  bool FlushPeaks();
  class FileWriter;

  void FailOn(const std::filesystem::path& file, const char* what);
  // Waits until every queued block is in the file; false (failed) when one was not.
  bool Drain();
  void Discard();
  // Rewrites what the file holds with `width` bytes per sample (wider than now), from the
  // end back so nothing is overwritten before it is read.
  bool Widen(int width);
  std::int64_t OffsetOf(FrameCount frame) const {
    return kSampleFileHeaderBytes + frame * channels() * static_cast<std::int64_t>(width_);
  }

  AudioChain* target_;
  SegmentStore* store_;
  FileId fileId_ = kNoFile;
  detail::UniqueFd sampleFile_, peakFile_;
  int width_ = 2;  // bytes per sample in the file; grows when a sample needs more
  std::unique_ptr<FileWriter> writer_;  // writes the sample file behind the caller
  int recordBytes_;
  FrameCount blockFill_ = 0;
  std::vector<Sample> blockMax_, blockMin_;
  std::vector<std::uint8_t> pending_;  // records not yet in the peak file
  std::int64_t recordsInFile_ = 0;
  std::shared_ptr<PeakSummary> summary_;
  bool finished_ = false;
};

audio::Ref<LSegmentSoundSink> ChainOpenSink(AudioChain& target, std::uint32_t sampleRate,
                                            int channels);

}  // namespace quillet::core
