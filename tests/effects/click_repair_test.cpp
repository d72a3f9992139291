#include "effects/click_repair.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "effects_fixture.h"

namespace quillet::effects {
namespace {

using namespace testing;
constexpr int kRate = 44100;

// Music-like background (a low tone and soft noise) with short sharp clicks added.
struct Clicked {
  AudioBlock clean, clicked;
  std::vector<FramePos> at;
};

Clicked WithClicks(int channels, FrameCount frames, FramePos first, FrameCount spacing, int count) {
  Clicked c;
  c.clean = Sine(channels, frames, kRate, 220, kFullScale * 0.3);
  const AudioBlock hiss = Noise(channels, frames, 3, kFullScale / 200);
  for (std::size_t i = 0; i < c.clean.samples().size(); ++i) c.clean.data()[i] += hiss.data()[i];
  c.clicked = c.clean;
  for (int k = 0; k < count; ++k) {
    const FramePos p = first + k * spacing;
    c.at.push_back(p);
    const int ch = k % channels;  // clicks on either channel
    const Sample shape[] = {kFullScale / 2, kFullScale * 3 / 4, -kFullScale / 3};
    for (int i = 0; i < 3; ++i) c.clicked(ch, p + i) = audio::SaturateSample(std::int64_t{c.clicked(ch, p + i)} + shape[i]);
  }
  return c;
}

FrameCount DistanceToClick(const std::vector<FramePos>& at, FramePos f) {
  FrameCount best = INT64_MAX;
  for (FramePos p : at) best = std::min(best, f < p ? p - f : f - (p + 2));
  return best;
}

TEST(ClickRepair, GeometryFollowsTheRate) {
  struct Case {
    std::int64_t rate;
    int us;
    FrameCount block, lag, maxLength;
  } const cases[] = {
      {44100, 450, 444, 2, 19},  // 441 + 4 = 445, down to a multiple of 4
      {48000, 450, 484, 2, 21},
      {8000, 150, 84, 1, 1},
      {96000, 1000, 964, 3, 96},
      {44100, 1, 444, 2, 1},  // a click of no frames at all would never end a walk
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const ClickGeometry g = ClickGeometryOf(c.rate, c.us);
    EXPECT_EQ(g.block, c.block);
    EXPECT_EQ(g.lag, c.lag);
    EXPECT_EQ(g.maxLength, c.maxLength);
  }
}

// Raising the sensitivity must never make the detector less sensitive, nor switch
// the jump test off (an integer s / 10 made it 0 from 91 up).
TEST(ClickRepair, JumpThresholdFallsWithSensitivityAndStaysPositive) {
  std::int64_t previous = INT64_MAX;
  for (int sens = 0; sens <= 100; ++sens) {
    SCOPED_TRACE(sens);
    const std::int64_t t = JumpThreshold(400, 1000, sens);
    EXPECT_LE(t, previous);
    EXPECT_GT(t, 0);
    previous = t;
  }
  EXPECT_EQ(JumpThreshold(400, 1000, 150), JumpThreshold(400, 1000, 100));  // clamped
}

TEST(ClickRepair, StraightLineIsIntegerInterpolationBetweenNeighbours) {
  Sample one[] = {10, 999, -3};
  StraightLine(one, 1, 1);
  EXPECT_EQ(one[1], 3);  // (10 - 3) / 2, truncated
  // Two channels interleaved: only the channel handed over changes.
  Sample two[] = {0, 7, 5, 7, 5, 7, 5, 7, 30, 7};
  StraightLine(two, 2, 3);
  EXPECT_EQ((std::vector<Sample>(two, two + 10)), (std::vector<Sample>{0, 7, 7, 7, 15, 7, 22, 7, 30, 7}));
}

TEST(ClickRepair, RepairsSeparatedClicksAndLeavesTheRestUntouched) {
  const Clicked c = WithClicks(2, 20 * 20000 + 5000, 10000, 20000, 20);
  Doc doc(c.clicked);
  std::int64_t repairs = 0;
  const PassResult r = AutoClickRepair(doc.All(), {}, {}, &repairs);
  ASSERT_TRUE(r.done()) << r.message;
  const AudioBlock out = doc.Read();
  int repaired = 0;
  for (std::size_t k = 0; k < c.at.size(); ++k) {
    const int ch = static_cast<int>(k % 2);
    const FramePos p = c.at[k];
    // Repaired: the click's peak is gone, back near the clean signal.
    Sample worst = 0;
    for (FramePos f = p; f < p + 3; ++f) worst = std::max(worst, std::abs(out(ch, f) - c.clean(ch, f)));
    repaired += worst < kFullScale / 10;
  }
  EXPECT_GE(repaired, 18);
  EXPECT_GE(repairs, 18);
  for (FramePos f = 0; f < out.frames(); ++f) {
    if (DistanceToClick(c.at, f) <= 25) continue;
    for (int ch = 0; ch < 2; ++ch)
      ASSERT_EQ(out(ch, f), c.clicked(ch, f)) << "frame " << f << " channel " << ch;
  }
}

// The pass reads in blocks of 8192 frames while the detector works in blocks of 444:
// clicks across those edges and near the selection's ends must be treated alike, and
// nothing outside the selection may change.
TEST(ClickRepair, ClicksAtBlockAndSelectionEdgesAreRepairedInsideOnly) {
  for (FramePos p : {FramePos{8190}, FramePos{8192}, FramePos{16383}, FramePos{300}, FramePos{24400}}) {
    SCOPED_TRACE(p);
    Clicked c = WithClicks(1, 30000, p, 1, 1);
    Doc doc(c.clicked);
    const FramePos from = 200, to = 24500;
    ASSERT_TRUE(AutoClickRepair(doc.Range(from, to), {}).done());
    const AudioBlock out = doc.Read();
    EXPECT_LT(std::abs(out(0, p + 1) - c.clean(0, p + 1)), kFullScale / 10);
    for (FramePos f = 0; f < out.frames(); ++f) {
      if (f >= from && f < to && f >= p - 25 && f <= p + 27) continue;
      ASSERT_EQ(out(0, f), c.clicked(0, f)) << f;
    }
  }
}

TEST(ClickRepair, LoudBurstLongerThanTheLimitIsNoClick) {
  AudioBlock b = Sine(1, 20000, kRate, 220, kFullScale * 0.2);
  for (FramePos f = 10000; f < 10200; ++f) b(0, f) = (f % 2 ? 1 : -1) * kFullScale;  // 200 loud frames
  Doc doc(b);
  ASSERT_TRUE(AutoClickRepair(doc.All(), {.sensitivity = 50, .maxLengthUs = 100}).done());
  EXPECT_EQ(doc.Read(), b);
}

// The start of a selection inside a tone, or of a document that starts mid-sound, is
// no jump.
TEST(ClickRepair, CleanToneStaysAsItIs) {
  const AudioBlock b = Sine(2, 30000, kRate, 440, kFullScale * 0.5, 0.7);
  for (auto [sensitivity, from] : {std::pair{0, 0}, {50, 0}, {80, 5003}, {95, 5003}, {80, 0}}) {
    SCOPED_TRACE(sensitivity);
    SCOPED_TRACE(from);
    Doc doc(b);
    std::int64_t repairs = -1;
    ASSERT_TRUE(AutoClickRepair(doc.Range(from, 25000), {.sensitivity = sensitivity}, {}, &repairs).done());
    EXPECT_EQ(repairs, 0);
    EXPECT_EQ(doc.Read(), b);
  }
}

// Thousands of repairs go into one output instead of a sample file each.
TEST(ClickRepair, ManyClicksCostOneOutputAndCancelKeepsTheAudio) {
  const Clicked c = WithClicks(1, 1000 * 1000 + 1000, 500, 1000, 1000);
  Doc doc(c.clicked);
  const auto before = doc.chain.segments();
  const PassResult cancelled =
      AutoClickRepair(doc.All(), {}, [](FrameCount done, FrameCount) { return done < 300000; });
  EXPECT_EQ(cancelled.result, platform::kTaskCancelled);
  EXPECT_EQ(doc.chain.segments(), before);
  std::int64_t repairs = 0;
  ASSERT_TRUE(AutoClickRepair(doc.All(), {}, {}, &repairs).done());
  EXPECT_GE(repairs, 950);
  EXPECT_LE(doc.Files(), 3);
}

TEST(ClickRepair, ManualRepairDrawsTheLineAndRefusesMoreThanAMillisecond) {
  struct Case {
    FrameCount frames;
    std::int64_t rate;
    bool ok;
  } const cases[] = {{44, 44100, true}, {45, 44100, false}, {8, 8000, true}, {9, 8000, false}, {1, 8000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    const Status s = CheckManualRepairLength(c.frames, c.rate);
    EXPECT_EQ(s.ok(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(s.message,
                "Quillet cannot do a manual reduction of an area this size. Please select a smaller area.");
      EXPECT_EQ(s.caption, "Quillet");
    }
  }
  AudioBlock b = Ramp(2, 100);
  b(0, 50) = b(1, 51) = kFullScale;
  Doc doc(b);
  ASSERT_TRUE(ManualClickRepair(doc.Range(50, 52)).done());
  const AudioBlock out = doc.Read();
  EXPECT_EQ(out, Ramp(2, 100));  // a ramp is its own straight line
  // At the document start the missing neighbour reads as silence.
  Doc start(Dc(1, 10, 900));
  ASSERT_TRUE(ManualClickRepair(start.Range(0, 2)).done());
  EXPECT_EQ(start.Read()(0, 0), 300);
  EXPECT_EQ(start.Read()(0, 1), 600);
}

}  // namespace
}  // namespace quillet::effects
