#pragma once
// The maths of the analysis windows, headless so that quillet-cli draws the same
// pictures: the level per frequency at a point (Hamming window, 4096 points) and the
// time-frequency data of a range with its picture. Levels are relative to full scale:
// a full-scale sine reads about 0 dB in its bin.

#include <array>
#include <cstdint>
#include <vector>

#include "audio/sound.h"
#include "audio/transfer.h"
#include "platform/result.h"
#include "platform/task.h"

namespace quillet::effects {

using audio::FrameCount;
using audio::FramePos;

inline constexpr int kFrequencyBits = 12;  // 4096 points
inline constexpr int kLowestLevel = -127;
inline constexpr int kHighestLevel = 127;
// The temporal status line's level of a magnitude of 0.
inline constexpr int kSilentTemporalLevel = -128;

// The level of each bin at one point, per channel.
struct FrequencyData {
  std::int64_t rate = 0;
  int bits = kFrequencyBits;
  std::vector<std::vector<int>> levels;  // [channel][bin], dB in -127..127

  int bins() const { return 1 << (bits - 1); }
  // Frequency of bin k in Hz.
  double BinHz(int k) const { return static_cast<double>(k) * static_cast<double>(rate) / (1 << bits); }
};

// Reads 4096 frames of source from `at` (zeros past the end). Failed when the source
// cannot be read.
platform::Outcome ComputeFrequencyData(audio::LSoundSource& source, FramePos at, FrequencyData& out);

// The transform size (as bits) of the time-frequency data at rate: bins of at most
// about 30 Hz, 32 to 65536 points.
int TemporalBits(std::int64_t rate);
// Column count for `frames` of audio: four per half transform, at least 1, and at most
// kMaxTemporalColumns so that a long selection cannot take gigabytes.
inline constexpr std::int64_t kMaxTemporalColumns = 8192;
std::int64_t TemporalColumns(FrameCount frames, int bits);

struct TemporalData {
  std::int64_t rate = 0;
  int bits = 0;
  int bins = 0;               // half the transform size
  std::int64_t columns = 0;
  FramePos start = 0;         // the analysed range, in document frames
  FrameCount length = 0;
  FrameCount hop = 0;         // frames between columns
  // columns x bins magnitudes, column after column: 65535 is a full-scale sine.
  std::vector<std::uint16_t> magnitudes;

  std::uint16_t At(std::int64_t column, int bin) const {
    return magnitudes[static_cast<std::size_t>(column * bins + bin)];
  }
  // Frequency of bin k in whole Hz, as the status line shows it.
  std::int64_t BinHz(int k) const { return (std::int64_t{k} * rate) >> bits; }
  // dB relative to full scale, rounded; -128 for a magnitude of 0.
  int LevelAt(std::int64_t column, int bin) const;
};

// The time-frequency data of [start, start + length) of source; progress(column,
// columns) returning false cancels before that column.
platform::Outcome ComputeTemporalData(audio::LSoundSource& source, FramePos start,
                                      FrameCount length, TemporalData& out,
                                      const audio::ProgressFn& progress = {});

// ComputeTemporalData as a task: its window shows the progress, closing it cancels.
class TemporalTask final : public platform::LProgressDialog {
 public:
  TemporalTask(audio::SourceHandle source, FramePos start, FrameCount length);
  TemporalData data;  // set when the task is done
  std::string message;  // why it failed

 protected:
  bool Execute() override;

 private:
  audio::SourceHandle source_;
  FramePos start_;
  FrameCount length_;
};

// The picture's colour index of a magnitude: min(255, m x brightness x 96 / 2^16).
inline constexpr int kMinBrightness = 1;
inline constexpr int kMaxBrightness = 400;
inline constexpr int kDefaultBrightness = 40;
int TemporalPixel(std::uint16_t magnitude, int brightness);
// The 256 colours of the picture, 0xFFRRGGBB, dark to bright; the low end is spread
// out so that faint partials stay visible.
const std::array<std::uint32_t, 256>& TemporalColours();

// What part of the data a picture shows.
struct TemporalView {
  int width = 0;
  int height = 0;
  int brightness = kDefaultBrightness;
  bool fullZoom = true;  // the whole frequency range, else a band of 4000 Hz
  int scroll = 100;      // the band's place, 0 (top of the range) .. 100 (from 0 Hz)
};
inline constexpr int kZoomedBandHz = 4000;

// The bins [lowBin, highBin) a view shows, from the bottom row up.
struct BinRange {
  int lowBin = 0;
  int highBin = 0;
};
BinRange VisibleBins(const TemporalData& data, const TemporalView& view);
// The bin shown at row y (0 at the top) and the column at x.
int BinAtRow(const TemporalData& data, const TemporalView& view, int y);
std::int64_t ColumnAtX(const TemporalData& data, const TemporalView& view, int x);

// The picture, width x height colours row after row (top row first). Each pixel shows
// the loudest of the bins and columns it covers, so no thin line is skipped.
std::vector<std::uint32_t> RenderTemporal(const TemporalData& data, const TemporalView& view);

}  // namespace quillet::effects
