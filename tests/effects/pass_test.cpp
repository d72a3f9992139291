#include "effects/pass.h"

#include <gtest/gtest.h>

#include "effects/conversion.h"
#include "effects/gain.h"
#include "effects/levels.h"
#include "effects/pan.h"
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

// A cache cleaner took the document's sample file (and its peaks): every kind of pass
// fails with the system's reason and leaves the chain and the store as they were.
TEST(Pass, UnreadableAudioFailsEveryKindOfPassWithoutChangingTheDocument) {
  using PassFn = PassResult (*)(EffectParams);
  struct Case {
    const char* name;
    PassFn run;
  };
  const Case cases[] = {
      {"filter", [](EffectParams p) { return Reverse(p); }},
      {"envelope", [](EffectParams p) { return ApplyEnvelope(p, FadeInShape()); }},
      {"scan then filter", [](EffectParams p) { return DcOffsetCorrection(p); }},
      {"peak scan", [](EffectParams p) { return Normalize(p, 100); }},
      {"own producer", [](EffectParams p) { return CrossFade(p, {}); }},
      {"speed", [](EffectParams p) { return ChangeSpeed(p, SpeedKind::SpeedOnly, 150); }},
      {"channel mixer", [](EffectParams p) { return StereoPan(p, 20); }},
      {"whole chain", [](EffectParams p) { return ConvertSampleRate(*p.chain, 22050); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Doc doc(Noise(2, 3 * 8192, 9));
    const auto segments = doc.chain.segments();
    const core::FileId id = segments[0].fileId;
    std::filesystem::remove(doc.store.SampleFilePath(id));
    std::filesystem::remove(doc.store.PeakFilePath(id));
    const PassResult r = c.run(doc.Range(1000, 20000));
    EXPECT_EQ(r.result, platform::kTaskFailed);
    EXPECT_FALSE(r.changed);
    EXPECT_EQ(r.message, "Cannot read the audio of this document: " +
                             doc.store.SampleFilePath(id).string() + ": No such file or directory");
    EXPECT_EQ(doc.chain.segments(), segments);
    EXPECT_EQ(doc.chain.sampleRate, 44100u);
    EXPECT_EQ(doc.Files(), 0) << "no scratch file may stay behind";
  }
}

// A filter that cannot start says why instead of a general message.
TEST(Pass, FilterThatCannotStartGivesItsReason) {
  class Refused final : public audio::LSoundSource {
   public:
    Refused() : LSoundSource(44100, 1, audio::kWidePeakBound) {
      Fail("The plug-in x.so could not be loaded.");
    }
    void read(Sample*, FrameCount) override {}
    FramePos position() const override { return 0; }
    FrameCount length() const override { return 0; }
    void seek(FramePos) override {}
  };
  Doc doc(Noise(1, 100, 3));
  FunctionFilterFactory refused(
      [](SourceHandle) { return SourceHandle(audio::MakeRef<Refused>()); });
  EXPECT_EQ(RunFilterPass(doc.All(), refused).message, "The plug-in x.so could not be loaded.");
  FunctionFilterFactory none([](SourceHandle) { return SourceHandle(); });
  EXPECT_EQ(RunFilterPass(doc.All(), none).message, "The effect could not be started.");
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
