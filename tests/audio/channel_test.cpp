#include "audio/channel.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fixtures/signals.h"

namespace quillet::audio {
namespace {

using namespace quillet::testing;

TEST(Channels, StereoToMonoKeepsLeftAndMonoToStereoDuplicatesInAnyBlockSize) {
  AudioBlock st = Ramp(2, 8193);
  for (FrameCount i = 0; i < st.frames(); ++i) st(1, i) = -1;
  for (FrameCount block : {1, 8191, 8192, 20000}) {
    auto mono = ConvertChannels(MemorySource(st, 8000), 1);
    const AudioBlock m = ReadSource(*mono, block);
    ASSERT_EQ(m.channels(), 1);
    for (FrameCount i = 0; i < m.frames(); ++i) ASSERT_EQ(m(0, i), st(0, i));
    auto back = ConvertChannels(MemorySource(m, 8000), 2);
    const AudioBlock s = ReadSource(*back, block);
    for (FrameCount i = 0; i < s.frames(); ++i) ASSERT_TRUE(s(0, i) == st(0, i) && s(1, i) == st(0, i));
  }
}

TEST(Channels, SameCountEmptyAndBadTargetsPassThrough) {
  auto src = MemorySource(Ramp(2, 10), 8000);
  EXPECT_EQ(ConvertChannels(src, 2), src);
  auto empty = MakeNullSource();
  EXPECT_EQ(ConvertChannels(empty, 2), empty);
  EXPECT_EQ(ConvertChannels(src, 0)->channels(), 1);  // 0 counts as mono
  auto wide = ConvertChannels(MemorySource(Ramp(2, 10), 8000), 4);
  const AudioBlock w = ReadSource(*wide);
  EXPECT_EQ(w(3, 5), w(1, 5));  // extra channels repeat the last input channel
}

// A surround source brought to stereo or mono loses no channel but the LFE: each
// channel reaches the side it belongs to, and full scale everywhere stays full scale.
TEST(Channels, SurroundMixesDownByTheSpeakerLayout) {
  constexpr Sample kLevel = 100000;
  struct Case {
    int in;
    std::vector<int> lefts, rights, centres, lfe;
  } cases[] = {{3, {0}, {1}, {2}, {}},
               {4, {0, 2}, {1, 3}, {}, {}},
               {6, {0, 4}, {1, 5}, {2}, {3}},
               {8, {0, 4, 6}, {1, 5, 7}, {2}, {3}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    for (int only = 0; only < c.in; ++only) {
      AudioBlock b = Dc(c.in, 10, 0);
      for (FrameCount i = 0; i < 10; ++i) b(only, i) = kLevel;
      const AudioBlock st = ReadSource(*ConvertChannels(MemorySource(b, 8000), 2));
      const AudioBlock mono = ReadSource(*ConvertChannels(MemorySource(b, 8000), 1));
      auto has = [only](const std::vector<int>& v) { return std::find(v.begin(), v.end(), only) != v.end(); };
      EXPECT_EQ(st(0, 5) > 0, has(c.lefts) || has(c.centres)) << only;
      EXPECT_EQ(st(1, 5) > 0, has(c.rights) || has(c.centres)) << only;
      EXPECT_EQ(mono(0, 5) > 0, !has(c.lfe)) << only;
      if (has(c.centres)) {
        EXPECT_EQ(st(0, 5), st(1, 5));
      }
    }
    const AudioBlock full = ReadSource(*ConvertChannels(MemorySource(Dc(c.in, 10, kLevel), 8000), 2));
    EXPECT_NEAR(full(0, 3), kLevel, kLevel / 1000);
    EXPECT_NEAR(full(1, 3), kLevel, kLevel / 1000);
  }
  // Fewer than three channels keep the plain rules; more than two wanted keep the first.
  EXPECT_TRUE(MixdownWeights(2, 1).empty());
  EXPECT_TRUE(MixdownWeights(6, 4).empty());
}

TEST(Channels, ReorderTakesTheNamedChannels) {
  const AudioBlock ramp = Ramp(3, 5);
  AudioBlock tagged = ramp;
  for (FrameCount i = 0; i < 5; ++i)
    for (int c = 0; c < 3; ++c) tagged(c, i) = static_cast<Sample>(c * 1000 + i);
  const AudioBlock r = ReadSource(*ReorderChannels(MemorySource(tagged, 8000), {0, 2, 1}));
  for (FrameCount i = 0; i < 5; ++i) {
    EXPECT_EQ(r(1, i), 2000 + i);
    EXPECT_EQ(r(2, i), 1000 + i);
  }
  auto src = MemorySource(ramp, 8000);
  EXPECT_EQ(ReorderChannels(src, {0, 1, 2}), src);  // nothing to do
  EXPECT_EQ(ReorderChannels(src, {0, 5, 1}), src);  // a channel it does not have
}

}  // namespace
}  // namespace quillet::audio
