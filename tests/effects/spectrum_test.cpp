#include "effects/spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "audio/memory.h"
#include "fixtures/signals.h"

namespace quillet::effects {
namespace {

using namespace quillet::testing;

audio::SourceHandle Source(AudioBlock b, std::int32_t rate) { return MemorySource(std::move(b), rate); }

int ColourIndex(std::uint32_t colour) {
  const auto& t = TemporalColours();
  return static_cast<int>(std::find(t.begin(), t.end(), colour) - t.begin());
}

TEST(FrequencyAnalysis, FullScaleSineReadsNearZeroDbAtItsBin) {
  struct Case {
    double amplitude;
    int level;
  } const cases[] = {{kFullScale, 0}, {kFullScale / 10.0, -20}, {kFullScale / 1000.0, -60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    auto src = Source(Sine(2, 10000, 44100, 1000, c.amplitude), 44100);
    FrequencyData d;
    ASSERT_TRUE(ComputeFrequencyData(*src, 100, d).done());
    ASSERT_EQ(d.levels.size(), 2u);
    for (const auto& levels : d.levels) {
      ASSERT_EQ(levels.size(), 2048u);
      const auto peak = std::max_element(levels.begin(), levels.end()) - levels.begin();
      EXPECT_EQ(peak, 93);  // 1000 Hz / (44100 / 4096) = 92.9
      EXPECT_NEAR(levels[93], c.level, 1);
      EXPECT_NEAR(d.BinHz(93), 1000, 44100.0 / 4096);
      EXPECT_LT(levels[400], c.level - 40);  // far from the tone: the window's leakage only
    }
  }
}

TEST(FrequencyAnalysis, SilenceAndAudioPastTheEndReadTheLowestLevel) {
  auto src = Source(Sine(1, 5000, 44100, 1000, kFullScale), 44100);
  FrequencyData d;
  ASSERT_TRUE(ComputeFrequencyData(*src, 5000, d).done());  // at the very end
  EXPECT_TRUE(std::all_of(d.levels[0].begin(), d.levels[0].end(), [](int v) { return v == kLowestLevel; }));
}

TEST(TemporalAnalysis, TransformSizeAndColumnsFollowRateAndLength) {
  struct Case {
    std::int64_t rate;
    int bits;
  } const sizes[] = {{44100, 11}, {8000, 9}, {48000, 11}, {96000, 12}, {2000, 7}, {1000, 6}, {900, 5}};
  for (const Case& c : sizes) EXPECT_EQ(TemporalBits(c.rate), c.bits) << c.rate;
  EXPECT_EQ(TemporalColumns(1023, 11), 1);  // shorter than half a transform
  EXPECT_EQ(TemporalColumns(10 * 1024 + 5, 11), 40);
  EXPECT_EQ(TemporalColumns(std::int64_t{3600} * 44100, 11), kMaxTemporalColumns);  // an hour
}

TEST(TemporalAnalysis, PixelProductIsSixtyFourBitAndSaturates) {
  EXPECT_EQ(TemporalPixel(65535, kMaxBrightness), 255);  // 2.5e9: beyond 32 bits
  EXPECT_EQ(TemporalPixel(65535, 1), 95);
  EXPECT_EQ(TemporalPixel(683, 1), 1);
  EXPECT_EQ(TemporalPixel(682, 1), 0);
  EXPECT_EQ(TemporalPixel(0, kMaxBrightness), 0);
}

// A steady tone is a bright horizontal line at its frequency's row and nothing bright
// elsewhere; in the zoomed band the same tone lands lower in a taller row.
TEST(TemporalAnalysis, ToneIsABrightLineAtItsRow) {
  auto src = Source(Sine(2, 44100, 44100, 1000, kFullScale * 0.5), 44100);
  TemporalData d;
  ASSERT_TRUE(ComputeTemporalData(*src, 0, 44100, d).done());
  EXPECT_EQ(d.bins, 1024);
  EXPECT_EQ(d.columns, 44100 / 1024 * 4);
  for (bool full : {true, false}) {
    SCOPED_TRACE(full);
    const TemporalView view{.width = 300, .height = 200, .fullZoom = full, .scroll = 100};
    const std::vector<std::uint32_t> px = RenderTemporal(d, view);
    ASSERT_EQ(px.size(), 300u * 200u);
    int line = -1;
    for (int y = 0; y < view.height; ++y)
      if (d.BinHz(BinAtRow(d, view, y)) <= 1000 && line < 0) line = y;
    ASSERT_GE(line, 0);
    for (int x : {10, 150, 290}) {
      const int lit = std::max(ColourIndex(px[static_cast<std::size_t>(line * 300 + x)]),
                               ColourIndex(px[static_cast<std::size_t>((line - 1) * 300 + x)]));
      EXPECT_EQ(lit, 255) << "x " << x;
      for (int y : {0, line - 40, line + 40}) {
        if (y < 0 || y >= view.height) continue;
        EXPECT_LT(ColourIndex(px[static_cast<std::size_t>(y * 300 + x)]), 20) << "row " << y;
      }
    }
  }
}

TEST(TemporalAnalysis, StereoIsTheMeanOfTheChannelsAndSilenceReadsLowest) {
  AudioBlock b = Sine(2, 8000, 8000, 1000, kFullScale);
  for (FrameCount i = 0; i < b.frames(); ++i) b(1, i) = 0;
  auto src = Source(b, 8000);
  TemporalData d;
  ASSERT_TRUE(ComputeTemporalData(*src, 0, 100, d).done());  // shorter than N/2: one column
  ASSERT_EQ(d.columns, 1);
  EXPECT_EQ(d.BinHz(64), 1000);  // 512 points at 8000 Hz
  EXPECT_NEAR(d.LevelAt(0, 64), -6, 1);
  auto silent = Source(Dc(1, 8000, 0), 8000);
  ASSERT_TRUE(ComputeTemporalData(*silent, 0, 8000, d).done());
  EXPECT_EQ(d.LevelAt(0, 10), kSilentTemporalLevel);
}

TEST(TemporalAnalysis, CancelKeepsThePreviousData) {
  auto src = Source(Noise(1, 50000, 2), 44100);
  TemporalData d;
  d.columns = 7;
  const auto r = ComputeTemporalData(*src, 0, 50000, d, [](FrameCount done, FrameCount) { return done < 3; });
  EXPECT_EQ(r.result, platform::kTaskCancelled);
  EXPECT_EQ(d.columns, 7);
  EXPECT_FALSE(ComputeTemporalData(*src, 0, 0, d).done());
}

}  // namespace
}  // namespace quillet::effects
