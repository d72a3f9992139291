#include "core/chain.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <tuple>

#include "core_fixture.h"

namespace quillet::core {
namespace {

using testing::StoreFixture;

// Segments as (file, start, count, gain) for compact expectations.
using Seg = std::tuple<int, FramePos, FrameCount, std::int32_t>;
std::vector<Seg> Layout(const AudioChain& c) {
  std::vector<Seg> out;
  for (const auto& s : c.segments())
    out.emplace_back(s.fileId == kNoFile ? -1 : s.fileId, s.startFrame, s.frameCount, s.gain);
  return out;
}
constexpr std::int32_t U = kUnityGain;

class ChainTest : public ::testing::Test, protected StoreFixture {
 protected:
  // A chain over fresh ids (no files are needed to edit segments).
  AudioChain Make(std::initializer_list<FrameCount> lengths) {
    AudioChain c(&store);
    for (FrameCount n : lengths) {
      const FileId id = store.AllocateFileId();
      ChainAppendSegment(c, {id, n, U, 0});
      store.ReleaseFileRef(id);  // the chain keeps the only reference
    }
    return c;
  }
};

TEST_F(ChainTest, DeleteInsideASegmentSplitsItAndSharesTheFile) {
  AudioChain c = Make({1000});
  ChainDeleteRange(c, 400, 600);
  EXPECT_EQ(Layout(c), (std::vector<Seg>{{0, 0, 400, U}, {0, 600, 400, U}}));
  EXPECT_EQ(store.RefCount(0), 2u);
  ChainDeleteRange(c, 500, 500);  // empty range: split, nothing removed
  EXPECT_EQ(ChainLength(c), 800);
  EXPECT_EQ(c.segments().size(), 3u);
}

TEST_F(ChainTest, DeleteRangeBoundaries) {
  struct Case {
    FramePos from, to;
    std::vector<Seg> want;
  };
  // Two segments [0,100) of file 0 and [100,300) of file 1.
  const Case cases[] = {
      {0, 100, {{1, 0, 200, U}}},                       // exactly the first segment
      {100, 300, {{0, 0, 100, U}}},                     // exactly the second
      {99, 101, {{0, 0, 99, U}, {1, 1, 199, U}}},       // across the boundary
      {-50, 10, {{0, 10, 90, U}, {1, 0, 200, U}}},      // negative from counts as 0
      {250, 1000, {{0, 0, 100, U}, {1, 0, 150, U}}},    // past the end
      {300, 400, {{0, 0, 100, U}, {1, 0, 200, U}}},     // wholly past the end
      {50, 40, {{0, 0, 100, U}, {1, 0, 200, U}}},       // to < from
      {-20, -10, {{0, 0, 100, U}, {1, 0, 200, U}}},     // to < 0
      {0, 300, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "[" << c.from << ", " << c.to << ")");
    AudioChain chain = Make({100, 200});
    ChainDeleteRange(chain, c.from, c.to);
    EXPECT_EQ(Layout(chain), c.want);
  }
  EXPECT_EQ(store.RefCount(0), 0u);  // every chain above is gone, so are its references
}

TEST_F(ChainTest, InsertAtEdgesNegativePositionsAndPastTheEnd) {
  AudioChain other = Make({10});  // file 0
  struct Case {
    FramePos pos;
    std::vector<Seg> want;
  };
  const Case cases[] = {
      {0, {{0, 0, 10, U}, {1, 0, 100, U}}},
      {100, {{1, 0, 100, U}, {0, 0, 10, U}}},
      {40, {{1, 0, 40, U}, {0, 0, 10, U}, {1, 40, 60, U}}},
      {130, {{1, 0, 100, U}, {-1, 0, 30, U}, {0, 0, 10, U}}},
      {-5, {{0, 0, 10, U}, {-1, 0, 5, U}, {1, 0, 100, U}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pos);
    AudioChain chain = Make({100});
    ASSERT_TRUE(ChainInsert(chain, c.pos, other));
    EXPECT_EQ(Layout(chain), c.want);
    const FrameCount before = ChainLength(chain);
    ASSERT_TRUE(ChainInsert(chain, 0, chain));  // inserting a chain into itself doubles it
    EXPECT_EQ(ChainLength(chain), 2 * before);
  }
  EXPECT_EQ(Layout(other), (std::vector<Seg>{{0, 0, 10, U}}));
}

TEST_F(ChainTest, InsertRefusesAnotherChannelCountAndEmptyChainAdoptsTheFormat) {
  AudioChain stereo = Make({10});
  stereo.channels = 2;
  stereo.sampleRate = 48000;
  AudioChain mono = Make({100});
  EXPECT_FALSE(ChainInsert(mono, 0, stereo));
  EXPECT_FALSE(ChainReplaceRange(mono, 0, 50, stereo));
  EXPECT_EQ(ChainLength(mono), 100);

  AudioChain empty(&store);
  ASSERT_TRUE(ChainInsert(empty, 500, stereo));  // an empty chain gets no leading silence
  EXPECT_EQ(ChainLength(empty), 10);
  EXPECT_EQ(empty.channels, 2);
  EXPECT_EQ(empty.sampleRate, 48000u);
}

TEST_F(ChainTest, InsertSilenceClipsBeforeZeroAndFillsPastTheEnd) {
  AudioChain c = Make({100});
  ChainInsertSilence(c, -10, 5);  // wholly before 0
  EXPECT_EQ(ChainLength(c), 100);
  ChainInsertSilence(c, -10, 25);  // 15 frames reach past 0
  EXPECT_EQ(Layout(c), (std::vector<Seg>{{-1, 0, 15, U}, {0, 0, 100, U}}));
  ChainInsertSilence(c, 200, 10);  // 85 frames of gap, then 10
  EXPECT_EQ(ChainLength(c), 210);
  ChainInsertSilence(c, 50, -44);  // a negative count must not shorten the chain
  EXPECT_EQ(ChainLength(c), 210);
}

TEST_F(ChainTest, CopyRangePadsOutsideTheAudioWithSilence) {
  AudioChain src = Make({100});
  AudioChain dst(&store);
  ChainCopyRange(src, -10, 20, dst);
  EXPECT_EQ(Layout(dst), (std::vector<Seg>{{-1, 0, 10, U}, {0, 0, 20, U}}));
  ChainCopyRange(src, 90, 130, dst);
  EXPECT_EQ(Layout(dst), (std::vector<Seg>{{0, 90, 10, U}, {-1, 0, 30, U}}));
  ChainCopyRange(src, 50, 40, dst);  // from > to: dst unchanged
  EXPECT_EQ(ChainLength(dst), 40);
  ChainCopyRange(src, -30, -10, dst);
  EXPECT_EQ(Layout(dst), (std::vector<Seg>{{-1, 0, 20, U}}));
  EXPECT_EQ(store.RefCount(0), 1u);
}

TEST_F(ChainTest, TrimRepeatAndSilence) {
  AudioChain c = Make({100, 100});
  ChainTrim(c, 50, 150);
  EXPECT_EQ(Layout(c), (std::vector<Seg>{{0, 50, 50, U}, {1, 0, 50, U}}));
  ChainRepeatRange(c, 40, 60, 3);
  EXPECT_EQ(ChainLength(c), 160);
  // The copies go in at 40, ahead of the original range.
  EXPECT_EQ(Layout(c)[1], (Seg{0, 90, 10, U}));
  EXPECT_EQ(Layout(c)[5], (Seg{0, 90, 10, U}));
  EXPECT_EQ(Layout(c)[7], (Seg{0, 90, 10, U}));
  EXPECT_EQ(Layout(c)[8], (Seg{1, 0, 50, U}));
  ChainSilenceRange(c, 10, 20);
  EXPECT_EQ(ChainLength(c), 160);
  EXPECT_EQ(Layout(c)[1], (Seg{-1, 0, 10, U}));
  ChainTrimStart(c, -5);
  EXPECT_EQ(ChainLength(c), 160);
  ChainTrimEnd(c, 30);
  EXPECT_EQ(ChainLength(c), 30);
}

TEST_F(ChainTest, ScaleGainTruncatesThenMultipliesAndSaturates) {
  struct Case {
    int percent;
    std::int32_t want;
  };
  const Case cases[] = {{50, 8388600}, {200, 33554400}, {20000, kMaxGain}, {0, 0}, {100, U}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.percent);
    AudioChain chain = Make({10});
    ChainScaleGain(chain, c.percent);
    EXPECT_EQ(chain.segments()[0].gain, c.want);
    ChainScaleGain(chain, 150);  // a saturated gain stays saturated
    if (c.want == kMaxGain) {
      EXPECT_EQ(chain.segments()[0].gain, kMaxGain);
      ChainScaleGain(chain, 50);  // but can still be turned down
      EXPECT_EQ(chain.segments()[0].gain, 1073741800);
    }
  }
}

TEST_F(ChainTest, ScaleRangeGainPastTheEndDoesNotLengthen) {
  AudioChain c = Make({100});
  ChainScaleRangeGain(c, 50, 500, 200);
  EXPECT_EQ(Layout(c), (std::vector<Seg>{{0, 0, 50, U}, {0, 50, 50, 33554400}}));
  ChainScaleRangeGain(c, -50, 10, 50);
  EXPECT_EQ(ChainLength(c), 100);
}

TEST_F(ChainTest, LastReferenceDeletesBothFilesAndFreesTheId) {
  AudioChain c = testing::Written(store, 1, quillet::testing::Noise(1, 1000, 1).samples());
  const FileId id = c.segments()[0].fileId;
  ASSERT_TRUE(std::filesystem::exists(store.SampleFilePath(id)));
  AudioChain copy = c;
  EXPECT_EQ(store.RefCount(id), 2u);
  ChainClear(c);
  EXPECT_TRUE(std::filesystem::exists(store.PeakFilePath(id)));
  ChainClear(copy);
  EXPECT_FALSE(std::filesystem::exists(store.SampleFilePath(id)));
  EXPECT_FALSE(std::filesystem::exists(store.PeakFilePath(id)));
  EXPECT_EQ(store.AllocateFileId(), id);  // the lowest free id comes back
}

TEST_F(ChainTest, ReferenceCountsStayExactAcrossThreads) {
  AudioChain c = Make({10});
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        store.AddFileRef(0);
        store.ReleaseFileRef(0);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(store.RefCount(0), 1u);
}

// Random edits on a chain and on a plain frame model must read back the same audio.
TEST_F(ChainTest, RandomEditsMatchAFrameModel) {
  const auto samples = quillet::testing::Noise(1, 400, 9).samples();
  AudioChain doc = testing::Written(store, 1, samples);
  struct Frame {
    Sample value;
    std::int32_t gain;
  };
  std::vector<Frame> model;
  for (Sample s : samples) model.push_back({s, U});
  auto length = [&] { return static_cast<FramePos>(model.size()); };

  std::mt19937 rng(5);
  auto pick = [&](FramePos lo, FramePos hi) { return std::uniform_int_distribution<FramePos>(lo, hi)(rng); };
  for (int step = 0; step < 300; ++step) {
    SCOPED_TRACE(step);
    const FramePos a = pick(-20, length() + 20), b = pick(a, a + 120);
    const FramePos ca = std::clamp<FramePos>(a, 0, length()), cb = std::clamp<FramePos>(b, 0, length());
    switch (step % 5) {
      case 0:
        ChainDeleteRange(doc, a, b);
        model.erase(model.begin() + ca, model.begin() + std::max(ca, cb));
        break;
      case 1: {  // paste a copy of [a, b) at a random place inside
        AudioChain clip(&store);
        ChainCopyRange(doc, a, b, clip);
        std::vector<Frame> m;
        for (FramePos f = a; f < b; ++f)
          m.push_back(f >= 0 && f < length() ? model[static_cast<std::size_t>(f)] : Frame{0, U});
        const FramePos at = pick(0, length());
        ASSERT_TRUE(ChainInsert(doc, at, clip));
        model.insert(model.begin() + at, m.begin(), m.end());
        break;
      }
      case 2: {
        const int pct = static_cast<int>(pick(0, 400));
        ChainScaleRangeGain(doc, a, b, pct);
        if (pct != 100)
          for (FramePos f = ca; f < cb; ++f) {
            auto& g = model[static_cast<std::size_t>(f)].gain;
            const std::int32_t limit = pct > 100 ? (kMaxGain / pct) * 100 : kMaxGain;
            g = pct > 100 && g >= limit ? kMaxGain : (g / 100) * pct;
          }
        break;
      }
      case 3:
        ChainSilenceRange(doc, ca, cb);
        for (FramePos f = ca; f < cb; ++f) model[static_cast<std::size_t>(f)] = {0, U};
        break;
      case 4:
        if (length() > 1000) {
          ChainTrim(doc, 100, length() - 100);
          model = std::vector<Frame>(model.begin() + 100, model.end() - 100);
        }
        break;
    }
    ASSERT_EQ(ChainLength(doc), length());
  }
  std::vector<Sample> want;
  for (const auto& f : model) want.push_back(ApplyGain(f.value, f.gain >> 15));
  EXPECT_EQ(testing::ReadAll(doc, 0, length(), 77), want);
  EXPECT_GT(doc.segments().size(), 10u);
}

}  // namespace
}  // namespace quillet::core
