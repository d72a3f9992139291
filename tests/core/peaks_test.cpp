#include "core/peaks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/peak_worker.h"
#include "core_fixture.h"

namespace quillet::core {
namespace {

using quillet::testing::Noise;
using testing::Written;

class PeaksTest : public ::testing::Test, protected testing::StoreFixture {
 protected:
  struct Cols {
    std::vector<std::uint8_t> top, bottom;
  };
  Cols Compute(const AudioChain& c, const ColumnMapping& m, PeakSource src, PeakOptions o = {}) {
    Cols out{std::vector<std::uint8_t>(m.width + 1), std::vector<std::uint8_t>(m.width + 1)};
    EXPECT_TRUE(ComputePeakColumns(c, m, 0, m.width + 1, o, src, out.top.data(), out.bottom.data()));
    return out;
  }
};

TEST_F(PeaksTest, MappingStaysInBoundsAndPicksPeakFilesAbove256FramesPerColumn) {
  EXPECT_EQ(ChoosePeakSource(ColumnMapping::Make(0, 100 * 256, 100)), PeakSource::Samples);
  EXPECT_EQ(ChoosePeakSource(ColumnMapping::Make(0, 100 * 256 + 1, 100)), PeakSource::PeakFiles);
  const auto none = ColumnMapping::Make(0, 0, 500);
  EXPECT_FALSE(none.valid());
  EXPECT_EQ(none.ColumnOf(10), -1);
  const auto deep = ColumnMapping::Make(std::int64_t{1} << 40, 16, 2048);  // origin needs 64 bits
  EXPECT_EQ(deep.ColumnOf(std::int64_t{1} << 40), 0);
  EXPECT_EQ(deep.ColumnOf((std::int64_t{1} << 40) + 1000), 2048);
  EXPECT_EQ(ColumnMapping::Make(0, 100, 5000).width, kMaxColumns);
}

// Where columns fall on 256-frame blocks both ways measure the same audio.
TEST_F(PeaksTest, PeakFilesAgreeWithSamplesAtBlockAlignedColumns) {
  auto s = Noise(2, 64 * 256 * 4, 11, 300000).samples();
  s[2 * 5000] = 524272;     // one loud sample per channel
  s[2 * 9000 + 1] = -524288;
  AudioChain c = Written(store, 2, s);
  const auto m = ColumnMapping::Make(0, 64 * 256 * 4, 64);  // 1024 frames per column
  for (int mode : {0, 1}) {
    for (bool zoom : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " zoom " << zoom);
      const PeakOptions o{mode, zoom};
      const auto fromSamples = Compute(c, m, PeakSource::Samples, o);
      const auto fromPeaks = Compute(c, m, PeakSource::PeakFiles, o);
      EXPECT_EQ(fromSamples.top, fromPeaks.top);
      EXPECT_EQ(fromSamples.bottom, fromPeaks.bottom);
    }
  }
  const auto p = Compute(c, m, PeakSource::PeakFiles);
  EXPECT_EQ(p.top[5000 / 1024], 255);
  EXPECT_EQ(p.bottom[9000 / 1024], 255);
  EXPECT_EQ(p.top[64], 0);  // the edge column past the end
}

TEST_F(PeaksTest, GainsSilenceAndSegmentBoundaries) {
  std::vector<Sample> s(4096, 0);
  for (int i = 0; i < 4096; i += 7) s[i] = 262144;  // 128 at normal zoom
  AudioChain c = Written(store, 1, s);
  ChainScaleRangeGain(c, 0, 2048, 50);
  ChainInsertSilence(c, 4096, 2048);
  const auto m = ColumnMapping::Make(0, 6144, 12);  // 512 frames per column
  for (auto src : {PeakSource::Samples, PeakSource::PeakFiles}) {
    SCOPED_TRACE(static_cast<int>(src));
    const auto cols = Compute(c, m, src);
    EXPECT_EQ(cols.top[0], 63);   // half gain: 255/512 of 128, truncated
    EXPECT_EQ(cols.top[5], 128);
    EXPECT_EQ(cols.top[9], 0);    // silence
    EXPECT_EQ(cols.top[12], 0);   // past the end
  }
  // A column across the gain change shows the larger of the two.
  const auto across = ColumnMapping::Make(0, 4800, 8);  // column 3 is [1800, 2400)
  EXPECT_EQ(Compute(c, across, PeakSource::PeakFiles).top[3], 128);
  EXPECT_EQ(Compute(c, across, PeakSource::Samples).top[3], 128);
  EXPECT_EQ(Compute(c, across, PeakSource::Samples).top[2], 63);
}

TEST_F(PeaksTest, ZeroGainSegmentDoesNotHideItsNeighbour) {
  AudioChain c = Written(store, 1, std::vector<Sample>(1024, 262144));
  ChainScaleRangeGain(c, 512, 1024, 0);
  const auto m = ColumnMapping::Make(0, 1024, 1);
  EXPECT_EQ(Compute(c, m, PeakSource::PeakFiles).top[0], 128);
}

TEST_F(PeaksTest, SummaryShortcutGivesTheSameColumnsAsTheFullScan) {
  // Wide columns use the in-memory summary; cutting the chain at odd places makes the
  // columns start and end inside summary groups.
  auto s = Noise(1, 256 * 64 * 40, 12, 200000).samples();
  for (std::size_t i = 1234; i < s.size(); i += 77777) s[i] = 524272 - static_cast<Sample>(i % 1000) * 512;
  AudioChain c = Written(store, 1, s);
  ChainDeleteRange(c, 100000, 100333);
  const auto m = ColumnMapping::Make(777, ChainLength(c) - 5000, 37);
  const auto fast = Compute(c, m, PeakSource::PeakFiles);
  store.SetPeakSummary(c.segments()[0].fileId, nullptr);  // forces a scan of every record
  const auto slow = Compute(c, m, PeakSource::PeakFiles);
  EXPECT_EQ(fast.top, slow.top);
  EXPECT_EQ(fast.bottom, slow.bottom);
  EXPECT_GT(*std::max_element(fast.top.begin(), fast.top.end()), 150);  // the loud samples count
}

TEST_F(PeaksTest, WorkerComputesRequestsAndScrollsReuseColumns) {
  AudioChain c = Written(store, 1, Noise(1, 256 * 4000, 13).samples());
  std::atomic<int> lastCount{-1}, lastShift{0};
  PeakWorker w([&](int, int count, int shift) {
    lastCount = count;
    lastShift = shift;
  });
  w.Resize(100);
  w.SetAudio(c, {});
  w.RequestView(0, 256 * 1000);
  ASSERT_TRUE(w.WaitIdle(std::chrono::seconds(10)));
  EXPECT_EQ(lastCount, 101);
  w.RequestView(2560 * 10, 256 * 1000);  // ten columns to the right
  ASSERT_TRUE(w.WaitIdle(std::chrono::seconds(10)));
  EXPECT_EQ(lastCount, 10);
  EXPECT_EQ(lastShift, 10);
  const auto scrolled = w.Snapshot();
  std::vector<std::uint8_t> top(101), bottom(101);
  ComputePeakColumns(c, scrolled.map, 0, 101, {}, PeakSource::PeakFiles, top.data(), bottom.data());
  EXPECT_EQ(scrolled.top, top);
  EXPECT_EQ(scrolled.bottom, bottom);
  w.Resize(50);
  ASSERT_TRUE(w.WaitIdle(std::chrono::seconds(10)));
  EXPECT_EQ(lastCount, 51);
}

TEST_F(PeaksTest, DestroyingTheWorkerJoinsItAndLetsGoOfItsChain) {
  AudioChain c = Written(store, 1, Noise(1, 200000, 14).samples());
  const FileId id = c.segments()[0].fileId;
  std::atomic<int> ready{0};
  {
    PeakWorker w([&](int, int, int) { ++ready; });
    w.Resize(2048);
    w.SetAudio(c, {});
    EXPECT_EQ(store.RefCount(id), 2u);  // the worker reads its own copy
    // From samples, and still under way when the worker goes.
    for (int i = 0; i < 20; ++i) w.RequestView(i * 1000, 2048 * 90);
  }
  const int atDestruction = ready.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ready.load(), atDestruction);  // nothing ran after the destructor returned
  EXPECT_EQ(store.RefCount(id), 1u);
  ChainClear(c);
  EXPECT_FALSE(std::filesystem::exists(store.SampleFilePath(id)));
}

}  // namespace
}  // namespace quillet::core
