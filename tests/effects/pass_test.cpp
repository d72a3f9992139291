#include "effects/pass.h"

#include <gtest/gtest.h>

#include "effects/gain.h"
#include "effects/levels.h"
#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;

TEST(Pass, CancelAtAnyBlockLeavesTheDocumentAsItWas) {
  Doc doc(Noise(2, 3 * 8192 + 5, 1));
  const AudioBlock before = doc.Read();
  const auto segments = doc.chain.segments();
  for (int cancelAt : {1, 2, 4}) {
    int calls = 0;
    const PassResult r = Reverse(doc.All(), [&](FrameCount, FrameCount) { return ++calls < cancelAt; });
    EXPECT_EQ(r.result, platform::kTaskCancelled);
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(doc.chain.segments(), segments);
    EXPECT_EQ(doc.Files(), 1) << "the scratch file must go with the cancelled pass";
  }
  EXPECT_EQ(doc.Read(), before);
}

TEST(Pass, ReportsProgressInBlocksUpToTheSelectionLength) {
  Doc doc(Noise(1, 20000, 2));
  std::vector<FrameCount> seen;
  Reverse(doc.Range(100, 17000), [&](FrameCount done, FrameCount total) {
    EXPECT_EQ(total, 16900);
    seen.push_back(done);
    return true;
  });
  EXPECT_EQ(seen, (std::vector<FrameCount>{8192, 16384, 16900}));
}

TEST(Pass, SelectionIsClampedAndEmptyOrInvertedRangesChangeNothing) {
  Doc doc(Ramp(1, 1000));
  const auto segments = doc.chain.segments();
  for (auto [s, e] : {std::pair<FramePos, FramePos>{500, 400}, {300, 300}, {2000, 3000}}) {
    const PassResult r = Reverse(doc.Range(s, e));
    EXPECT_EQ(r.result, platform::kTaskDone);
    EXPECT_FALSE(r.changed);
  }
  EXPECT_EQ(doc.chain.segments(), segments);
  // Past the end: only the real audio is reversed, the length stays.
  EXPECT_TRUE(Reverse(doc.Range(900, 5000)).changed);
  EXPECT_EQ(doc.length(), 1000);
  EXPECT_EQ(doc.Read(999, 1)(0, 0), Ramp(1, 1000)(0, 900));
}

TEST(Pass, ProducerOfAnotherChannelCountFails) {
  Doc doc(Noise(2, 100, 3));
  FunctionFilterFactory mono([](SourceHandle) { return MemorySource(AudioBlock(1, 100), 44100); });
  const PassResult r = RunFilterPass(doc.All(), mono);
  EXPECT_EQ(r.result, platform::kTaskFailed);
  EXPECT_FALSE(r.message.empty());
  EXPECT_EQ(doc.length(), 100);
}

TEST(Gain, ProductIsExactAtUnityAndSaturatesInsteadOfWrapping) {
  for (Sample s : {0, 1, -1, 524287, -524288, INT32_MAX, INT32_MIN}) EXPECT_EQ(GainProduct(s, kUnity), s);
  EXPECT_EQ(GainProduct(INT32_MAX, 2 * kUnity), INT32_MAX);
  EXPECT_EQ(GainProduct(INT32_MIN, 2 * kUnity), INT32_MIN);
  EXPECT_EQ(GainProduct(1000, DecibelGain(127)), INT32_MAX);  // a 64-bit gain, still no wrap
  EXPECT_EQ(GainProduct(-1000, DecibelGain(127)), INT32_MIN);
  EXPECT_EQ(GainProduct(524272, kUnity / 2), 262136);
}

TEST(Gain, DecibelTableFollowsTwentyLogTenAndKeepsMinus127AboveZero) {
  EXPECT_EQ(DecibelGain(0), kUnity);
  EXPECT_NEAR(static_cast<double>(DecibelGain(6)) / kUnity, 1.99526, 1e-5);
  EXPECT_NEAR(static_cast<double>(DecibelGain(-20)) / kUnity, 0.1, 1e-7);
  EXPECT_GT(DecibelGain(-127), 0);  // usable as a divisor
  EXPECT_GT(DecibelGain(127), INT32_MAX);  // would have wrapped in 32 bits
  EXPECT_EQ(DecibelGain(500), DecibelGain(127));
  for (int dB = -127; dB <= 127; ++dB) EXPECT_EQ(DecibelOfGain(DecibelGain(dB)), dB);
  EXPECT_EQ(DecibelOfGain(0), -127);
  EXPECT_EQ(DecibelOfGain(-5), -127);
}

}  // namespace
}  // namespace quillet::effects
