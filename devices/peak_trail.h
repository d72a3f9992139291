#pragma once
// The latest stretch of a recording as peak columns, for the record dialog's live
// wave view. The recorder's thread feeds it through TrailSink with exactly the blocks
// it writes (and the cuts it makes); the interface thread takes copies to draw.

#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/sound.h"

namespace quillet::devices {

class PeakTrail {
 public:
  // Keeps the last `capacity` columns of framesPerColumn frames each.
  PeakTrail(int channels, audio::FrameCount framesPerColumn, std::size_t capacity);

  // Appends frames x channels interleaved samples at the current end.
  void Add(const audio::Sample* samples, audio::FrameCount frames);
  // The end moves back to frame; columns wholly after it go.
  void Truncate(audio::FrameCount frame);
  // Empty again, with the end at frame (a take that starts later in the recording).
  void Reset(audio::FrameCount frame = 0);

  struct Snapshot {
    std::int64_t firstColumn = 0;  // the column index of the first entry
    // Per column, per channel: minimum then maximum.
    std::vector<audio::Sample> peaks;
    std::size_t columns() const;
    int channels = 1;
  };
  // The last (at most) `columns` columns up to the end, the one in progress included.
  Snapshot Latest(std::size_t columns) const;
  audio::FrameCount end() const;
  audio::FrameCount framesPerColumn() const { return perColumn_; }
  int channels() const { return channels_; }

 private:
  std::size_t Offset(std::int64_t column) const;

  const int channels_;
  const audio::FrameCount perColumn_;
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::vector<audio::Sample> ring_;  // capacity x channels x 2, allocated once
  std::int64_t first_ = 0;           // oldest column held
  audio::FrameCount end_ = 0;
};

// Passes everything to `inner` and feeds `trail` with what was written. The recorder
// sees the inner sink's length and failures through it.
audio::SinkHandle TrailSink(audio::SinkHandle inner, PeakTrail& trail);

}  // namespace quillet::devices
