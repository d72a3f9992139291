#include "audio/channel.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillet::audio
