// Our decoder against mpg123 on lame-encoded files, with the ISO 11172-4 "full accuracy"
// bounds: RMS error below 2^-15 / sqrt(12) of full scale and no sample off by more than 2^-14.

#include <cmath>

#include "mp3_test_util.h"

namespace quillet::testing {
namespace {

struct ConformanceCase {
  const char* name;
  int channels;
  const std::vector<std::string>* signal;
  std::vector<std::string> lame;
  int version;             // expected MPEG version (0 = 1, 1 = 2, 2 = 2.5)
  bool expectShortBlocks;  // the signal must make lame switch to short blocks
};

void PrintTo(const ConformanceCase& c, std::ostream* os) { *os << c.name; }

class Mp3Conformance : public ::testing::TestWithParam<ConformanceCase> {};

TEST_P(Mp3Conformance, MatchesReferenceWithinFullAccuracy) {
  QUILLET_REQUIRE_MP3_TOOLS();
  const ConformanceCase& c = GetParam();
  TempDir dir;
  const auto mp3 = MakeMp3(dir, c.name, c.channels, *c.signal, c.lame);
  const std::vector<float> ref = Mpg123Decode(dir, mp3);
  const OurDecoding ours = DecodeOurs(mp3);

  auto bytes = platform::FileByteSource::Open(mp3);
  ASSERT_TRUE(bytes);
  formats::Mp3Layout layout;
  ASSERT_TRUE(formats::ScanMp3Layout(*bytes, layout));
  EXPECT_EQ(layout.first.version, c.version);
  if (c.expectShortBlocks) {
    EXPECT_TRUE(ours.blockTypes & 4) << "no short blocks in the test file";
  }

  ASSERT_FALSE(ref.empty());
  ASSERT_EQ(ours.samples.size(), ref.size());
  double sumSquares = 0, worst = 0;
  size_t worstAt = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    const double d = std::abs(static_cast<double>(ours.samples[i]) - ref[i]);
    sumSquares += d * d;
    if (d > worst) worst = d, worstAt = i;
  }
  const double rms = std::sqrt(sumSquares / static_cast<double>(ref.size()));
  EXPECT_LT(rms, std::ldexp(1.0, -15) / std::sqrt(12.0));
  EXPECT_LE(worst, std::ldexp(1.0, -14)) << "at sample " << worstAt;
  // A silent decoder would pass the bounds on silence: the signal must be there.
  double energy = 0;
  for (float v : ref) energy += static_cast<double>(v) * v;
  EXPECT_GT(energy / static_cast<double>(ref.size()), 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    LameFiles, Mp3Conformance,
    ::testing::Values(
        ConformanceCase{"mpeg1_joint_cbr128", 2, &kToneSweep, {"-b", "128", "-m", "j"}, 0, false},
        ConformanceCase{"mpeg1_stereo_cbr96", 2, &kToneSweep, {"-b", "96", "-m", "s"}, 0, false},
        ConformanceCase{"mpeg1_mono_cbr64", 1, &kToneSweep, {"-b", "64", "-m", "m"}, 0, false},
        ConformanceCase{"mpeg1_forced_ms_320", 2, &kPinkNoise, {"-b", "320", "-m", "f"}, 0, false},
        ConformanceCase{"mpeg1_vbr_v2", 2, &kToneSweep, {"-V", "2"}, 0, false},
        ConformanceCase{"mpeg1_48k_vbr_v0", 2, &kPinkNoise, {"--resample", "48", "-V", "0"}, 0, false},
        ConformanceCase{"mpeg1_32k_short_blocks", 2, &kClicks, {"--resample", "32", "-b", "48"}, 0, true},
        ConformanceCase{"mpeg1_short_blocks", 2, &kClicks, {"-b", "128"}, 0, true},
        ConformanceCase{"mpeg2_22k_joint", 2, &kToneSweep, {"--resample", "22.05", "-b", "64", "-m", "j"}, 1, false},
        ConformanceCase{"mpeg2_24k_cbr48", 2, &kToneSweep, {"--resample", "24", "-b", "48"}, 1, false},
        ConformanceCase{"mpeg2_16k_vbr", 2, &kPinkNoise, {"--resample", "16", "-V", "5"}, 1, false},
        ConformanceCase{"mpeg2_22k_short_blocks", 2, &kClicks, {"--resample", "22.05", "-b", "64"}, 1, true},
        ConformanceCase{"mpeg25_11k", 2, &kToneSweep, {"--resample", "11.025", "-b", "32"}, 2, false},
        ConformanceCase{"mpeg25_12k_joint", 2, &kToneSweep, {"--resample", "12", "-b", "32", "-m", "j"}, 2, false},
        ConformanceCase{"mpeg25_8k_mono", 1, &kToneSweep, {"--resample", "8", "-b", "24", "-m", "m"}, 2, false},
        ConformanceCase{"mpeg25_8k_short_blocks", 2, &kClicks, {"--resample", "8", "-b", "16"}, 2, true},
        ConformanceCase{"mpeg25_12k_short_blocks", 2, &kClicks, {"--resample", "12", "-b", "32"}, 2, true}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quillet::testing
