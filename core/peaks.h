#pragma once
// Peak columns for drawing a chain: for each pixel column the largest positive and
// negative excursion of the audio under it (0..255, 255 = 16-bit full scale), with the
// segment gains applied. Narrow views read samples; wide ones read the peak records.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/chain.h"

namespace quillet::core {

// Columns a display may have; the arrays hold one more, for the column at the edge.
inline constexpr int kMaxColumns = 2048;

// Maps pixel columns to frames for one view. Each product or quotient is truncated.
struct ColumnMapping {
  FramePos viewStart = 0;
  FrameCount viewLength = 0;  // 0: no view
  int width = 1;              // usable columns, 1..kMaxColumns
  double pixelsPerFrame = 0;
  std::int64_t originColumn = 0;

  static ColumnMapping Make(FramePos start, FrameCount length, int width);
  bool valid() const { return viewLength > 0; }
  // The first frame of column c (column c covers [FrameOf(c), FrameOf(c + 1))).
  FramePos FrameOf(std::int64_t column) const;
  // The column of frame f, at most width; -1 when f is left of the view or there is none.
  std::int64_t ColumnOf(FramePos f) const;
};

enum class PeakSource { Samples, PeakFiles };

struct PeakOptions {
  int displayMode = 0;        // 0: +/- peaks; 1, 2: left up, right down (stereo only)
  bool verticalZoom = false;  // heights eight times larger
};

// The in-memory summary of count peak records (2 x channels bytes each).
std::shared_ptr<PeakSummary> SummarizePeakRecords(const std::uint8_t* records, std::int64_t count,
                                                  int channels);

// Records [first, first + count) of id's peak file (2 x channels bytes each) into out;
// false when the file cannot be read or holds fewer.
bool ReadPeakRecords(const SegmentStore& store, FileId id, std::int64_t first, std::int64_t count,
                     int channels, std::vector<std::uint8_t>& out);

// Whether the view is drawn from samples (at most 256 frames per column) or peak files.
PeakSource ChoosePeakSource(const ColumnMapping& map);

// Fills top[i], bottom[i] for the columns first + i, i < count, from source. Gives up
// and returns false as soon as *stop is set.
bool ComputePeakColumns(const AudioChain& chain, const ColumnMapping& map, int first, int count,
                        const PeakOptions& options, PeakSource source, std::uint8_t* top,
                        std::uint8_t* bottom, const std::atomic<bool>* stop = nullptr);

}  // namespace quillet::core
