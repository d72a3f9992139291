// Echo and reverb: where the delayed copies land and how loud, the delay line's
// limits, saturation, and the dialogs' refusals in their order.
#include "effects/echo.h"

#include <gtest/gtest.h>

#include "core/command_table.h"
#include "effects/registry.h"
#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;

constexpr Sample kImpulse = 1 << 18;

AudioBlock Impulse(int channels, FrameCount frames, FramePos at = 0) {
  AudioBlock b(channels, frames);
  for (int c = 0; c < channels; ++c) b(c, at) = kImpulse;
  return b;
}

AudioBlock Through(SourceHandle filter, FrameCount block = 8192) { return ReadSource(*filter, block); }

// Frames of channel ch that are not silent.
std::vector<FramePos> Sounding(const AudioBlock& b, int ch) {
  std::vector<FramePos> at;
  for (FrameCount i = 0; i < b.frames(); ++i)
    if (b(ch, i) != 0) at.push_back(i);
  return at;
}

TEST(Echo, ImpulseRepeatsEveryDelayFallingByTheGain) {
  const AudioBlock out = Through(MakeEcho(MemorySource(Impulse(2, 2000), 44100), {10, 50}));
  for (int ch : {0, 1}) {
    EXPECT_EQ(Sounding(out, ch), (std::vector<FramePos>{0, 441, 882, 1323, 1764})) << ch;
    EXPECT_EQ(out(ch, 441), kImpulse / 2);
    EXPECT_EQ(out(ch, 1764), kImpulse / 16);
  }
  // 75 %: e = 192 of 256.
  const AudioBlock canyon = Through(MakeEcho(MemorySource(Impulse(1, 70000), 44100), {750, 75}));
  EXPECT_EQ(Sounding(canyon, 0), (std::vector<FramePos>{0, 33075, 66150}));
  EXPECT_EQ(canyon(0, 66150), kImpulse * 9 / 16);
}

TEST(Echo, ShortLinesHoldAtLeast128SamplesOfAllChannels) {
  // 10 ms at 6000 Hz is 60 frames: raised to 128 samples (128 frames mono, 64 stereo).
  EXPECT_EQ(Sounding(Through(MakeEcho(MemorySource(Impulse(1, 200), 6000), {10, 50})), 0),
            (std::vector<FramePos>{0, 128}));
  EXPECT_EQ(Sounding(Through(MakeEcho(MemorySource(Impulse(2, 200), 6000), {10, 50})), 1),
            (std::vector<FramePos>{0, 64, 128, 192}));
  EXPECT_EQ(DelayLineSamples(5, 6000, 3), 129);  // whole frames, so a channel hears itself
}

// Values from stored settings or scripts are clamped by the effect itself.
TEST(Echo, ClampsItsOwnValuesAndADyingEchoReachesSilence) {
  const auto sounding = [](EchoParams p) {
    return Sounding(Through(MakeEcho(MemorySource(Impulse(1, 30000), 44100), p)), 0);
  };
  EXPECT_EQ(sounding({10, -50}), (std::vector<FramePos>{0}));      // no negative feedback
  EXPECT_EQ(sounding({1, 50}), sounding({10, 50}));                 // at least 10 ms
  EXPECT_EQ(sounding({100000, 50}), (std::vector<FramePos>{0}));   // 3000 ms: past the end
  const AudioBlock out = Through(MakeEcho(MemorySource(Impulse(1, 441 * 2000), 44100), {10, 1000}));
  EXPECT_EQ(out(0, 441), kImpulse * 253 / 256);  // 99 %
  // A negative echo decays to 0, not to a lasting -1.
  AudioBlock neg = Impulse(1, 441 * 2000);
  neg(0, 0) = -kImpulse;
  const AudioBlock tail = Through(MakeEcho(MemorySource(neg, 44100), {10, 99}));
  EXPECT_EQ(tail(0, tail.frames() - 1), 0);
}

TEST(Echo, FullScaleSaturatesAndBlocksDoNotMatter) {
  const AudioBlock loud = Dc(2, 30000, INT32_MAX / 2);
  const AudioBlock out = Through(MakeEcho(MemorySource(loud, 44100), {10, 99}));
  EXPECT_EQ(out(0, 29999), INT32_MAX);
  EXPECT_GT(*std::min_element(out.samples().begin(), out.samples().end()), 0);
  const AudioBlock in = Noise(2, 3 * 8192 + 17, 7);
  const AudioBlock whole = Through(MakeEcho(MemorySource(in, 44100), {250, 60}));
  for (FrameCount block : {1, 441, 8191, 8193})
    EXPECT_EQ(Through(MakeEcho(MemorySource(in, 44100), {250, 60}), block), whole) << block;
}

TEST(Echo, EachPassStartsFromASilentLine) {
  // A click before the selection is not echoed into it, however often the echo runs.
  AudioBlock b = Impulse(1, 10000, 100);
  Doc doc(b);
  for (int run = 0; run < 2; ++run) ASSERT_TRUE(Echo(doc.Range(200, 10000), {10, 90}).done());
  EXPECT_EQ(doc.Read(), b);
  EXPECT_FALSE(Echo(doc.All(), {500, 0}).changed);  // 0 %: untouched
}

TEST(Reverb, TapsLandAtTheirFractionsOfTheTimeWithTheirLevels) {
  // 50 ms mono at 44100: a line of 2205 samples, read 571, 975, 1363 and 1740 samples
  // back by the taps and 2205 back by the feedback; level 50 gives a base of 256.
  const AudioBlock out = Through(MakeReverb(MemorySource(Impulse(1, 2300), 44100), {50, 50}));
  const std::pair<FramePos, Sample> taps[] = {{571, kImpulse * 102 / 512},  {975, kImpulse * 25 / 512},
                                              {1363, kImpulse * 76 / 512}, {1740, kImpulse * 17 / 512},
                                              {2205, kImpulse * 33 / 512}};
  for (const auto& [at, level] : taps) EXPECT_EQ(out(0, at), level) << at;
  for (FrameCount i = 1; i < 571; ++i) ASSERT_EQ(out(0, i), 0) << i;
  // In stereo the line is 4410 samples and the first tap 1141 back: the other channel.
  const AudioBlock left = [] {
    AudioBlock b(2, 2300);
    b(0, 0) = kImpulse;
    return b;
  }();
  const AudioBlock crossed = Through(MakeReverb(MemorySource(left, 44100), {50, 50}));
  EXPECT_EQ(crossed(1, 570), kImpulse * 102 / 512);
}

TEST(Reverb, LoopGainStaysBelowOneAtEveryLevel) {
  // Fed back through all five taps, DC settles at 1 / (1 - loop gain) of its level.
  for (int level : {89, 100, 1000}) {
    const AudioBlock out = Through(MakeReverb(MemorySource(Dc(1, 44100 * 5, 1000), 44100), {50, level}));
    const Sample settled = out(0, out.frames() - 1);
    EXPECT_GT(settled, 8000) << level;
    EXPECT_LT(settled, 10000) << level;  // at most about ten times, never 171
  }
  const AudioBlock loud = Through(MakeReverb(MemorySource(Dc(2, 44100, INT32_MAX / 4), 44100), {50, 100}));
  EXPECT_EQ(loud(1, loud.frames() - 1), INT32_MAX);
  EXPECT_GT(*std::min_element(loud.samples().begin(), loud.samples().end()), 0);
  Doc doc(Noise(1, 5000, 3));
  EXPECT_FALSE(Reverb(doc.All(), {500, 0}).changed);  // level 0: untouched
}

TEST(EchoDialogs, RefusalsComeInTheDialogsOrderAndPresetsPass) {
  struct Case {
    const core::ParamTable* table;
    std::int64_t ms, pct;
    const char* message;  // empty: accepted
  };
  const Case cases[] = {
      {&kEchoTable, 10, 0, ""},
      {&kEchoTable, 2999, 99, ""},
      {&kEchoTable, 9, 100, "Echo time must be between 10 and 3000ms. Please try again."},
      {&kEchoTable, 3000, 50, "Echo time must be between 10 and 3000ms. Please try again."},
      {&kEchoTable, 800, 100, "Echo Gain must be less than 100%. Please try again."},
      {&kReverbTable, 50, 100, ""},
      {&kReverbTable, 1000, 0, ""},
      {&kReverbTable, 10, 101, "Reverb level must be less than 100. Please try again."},
      {&kReverbTable, 49, 100, "Reverb time must be between 50 and 1000. Please try again."},
      {&kReverbTable, 1001, 50, "Reverb time must be between 50 and 1000. Please try again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table->title) + " " + std::to_string(c.ms) + "," + std::to_string(c.pct));
    EXPECT_EQ(core::CheckValues(*c.table, {c.ms, c.pct}), c.message);
  }
  for (const core::ParamTable* t : {&kEchoTable, &kReverbTable}) {
    core::ParamSet values(*t);
    for (std::size_t i = 0; i < t->presets.size(); ++i) {
      values.ChoosePreset(i);
      EXPECT_EQ(values.Validate(), "") << t->presets[i].name;
    }
  }
  core::ParamSet canyon(kEchoTable);
  canyon.ChoosePreset(2);
  EXPECT_EQ(std::tuple(EchoParamsOf(canyon).timeMs, EchoParamsOf(canyon).gainPct), std::tuple(750, 75));
}

// The preview clamps where OK refuses: 3000 ms is heard, 5000 ms is heard as 3000.
TEST(EchoDialogs, PreviewsClampInsteadOfRefusing) {
  core::CommandRegistry registry;
  RegisterEffectCommands(registry);
  const core::Command* echo = registry.Find(core::kCmdEcho);
  ASSERT_TRUE(echo && echo->preview);
  core::ParamSet values(*echo->params);
  for (std::int64_t ms : {3000, 5000}) {
    values.SetInt(0, ms);
    values.SetInt(1, 150);
    EXPECT_NE(values.Validate(), "");
    std::string refusal;
    SourceHandle heard = echo->preview(MemorySource(Impulse(1, 8000 * 4), 8000), values, &refusal);
    ASSERT_TRUE(heard);
    const AudioBlock out = ReadSource(*heard);
    EXPECT_EQ(Sounding(out, 0), (std::vector<FramePos>{0, 24000})) << ms;
    EXPECT_EQ(out(0, 24000), kImpulse * 253 / 256);
  }
  const core::Command* reverb = registry.Find(core::kCmdReverb);
  core::ParamSet rv(*reverb->params);
  rv.SetInt(0, 10);  // refused on OK (below 50), heard at 10 ms
  std::string refusal;
  const AudioBlock out = ReadSource(*reverb->preview(MemorySource(Impulse(1, 8000), 8000), rv, &refusal));
  EXPECT_NE(out(0, 128), 0);  // 80 frames, raised to the 128-sample line
}

}  // namespace
}  // namespace quillet::effects
