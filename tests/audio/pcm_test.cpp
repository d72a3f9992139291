#include "audio/pcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quillet::audio {
namespace {

std::vector<std::uint8_t> ToPcm(PcmLayout l, const std::vector<Sample>& in) {
  std::vector<std::uint8_t> out(in.size() * BytesPerSample(l));
  SamplesToPcm(l, in.data(), out.data(), in.size());
  return out;
}

std::vector<Sample> FromPcm(PcmLayout l, const std::vector<std::uint8_t>& in) {
  std::vector<Sample> out(in.size() / BytesPerSample(l));
  PcmToSamples(l, in.data(), out.data(), out.size());
  return out;
}

// Every code of the narrow widths reads on the 20-bit scale and writes back unchanged.
TEST(Pcm, EveryEightAndSixteenBitCodeRoundTrips) {
  const struct {
    PcmLayout layout;
    int lowest, highest;  // codes, in the order written
    Sample first, last;   // what the lowest and highest read as
    std::size_t zeroAt;   // the index of the code that reads as 0
  } cases[] = {{PcmLayout::U8, 0, 255, kSampleMin, 127 * 4096, 0x80},
               {PcmLayout::S16LE, -32768, 32767, -524288, 524272, 32768}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.layout));
    std::vector<std::uint8_t> bytes;
    for (int v = c.lowest; v <= c.highest; ++v)
      for (int b = 0; b < BytesPerSample(c.layout); ++b)
        bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    const auto samples = FromPcm(c.layout, bytes);
    EXPECT_EQ(samples.front(), c.first);
    EXPECT_EQ(samples.back(), c.last);
    EXPECT_EQ(samples[c.zeroAt], 0);
    EXPECT_EQ(ToPcm(c.layout, samples), bytes);
  }
  EXPECT_EQ(ToPcm(PcmLayout::U8, {0})[0], 0x80);
}

TEST(Pcm, TwentyFourAndThirtyTwoBitKeepTheTopBitsAndRoundTrip) {
  // 24-bit values that are multiples of 16 survive exactly; others lose the low 4 bits.
  const std::vector<std::uint8_t> b24 = {0x10, 0x00, 0x00, 0xF0, 0xFF, 0x7F, 0x00, 0x00, 0x80,
                                         0x1F, 0x00, 0x00};
  const auto s24 = FromPcm(PcmLayout::S24LE, b24);
  EXPECT_EQ(s24, (std::vector<Sample>{1, 524287, -524288, 1}));
  EXPECT_EQ(ToPcm(PcmLayout::S24LE, {1, 524287, -524288}),
            std::vector<std::uint8_t>(b24.begin(), b24.begin() + 9));

  // 0x7FFFFFFF rounds up to one above 20-bit full scale, never to a negative value.
  const auto s32 = FromPcm(PcmLayout::S32LE, {0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80,
                                              0x00, 0x08, 0x00, 0x00});
  EXPECT_EQ(s32, (std::vector<Sample>{524288, -524288, 1}));
  EXPECT_EQ(FromPcm(PcmLayout::S32LE, ToPcm(PcmLayout::S32LE, {-524288, -1, 0, 7, 524287})),
            (std::vector<Sample>{-524288, -1, 0, 7, 524287}));
}

// Levels above full scale (gains, effects, decoders) must clip, not wrap to the other sign.
TEST(Pcm, WritingBeyondFullScaleSaturates) {
  const std::vector<Sample> loud = {524287, 524288, 0x200000, INT32_MAX, -524289, INT32_MIN};
  struct Case {
    PcmLayout layout;
    std::vector<std::uint8_t> expect;
  };
  const Case cases[] = {
      {PcmLayout::U8, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
      {PcmLayout::S16LE,
       {0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80, 0x00, 0x80}},
      {PcmLayout::S24LE, {0xF0, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F,
                          0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x80}},
      {PcmLayout::S32LE, {0x00, 0xF0, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F,
                          0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.layout));
    EXPECT_EQ(ToPcm(c.layout, loud), c.expect);
  }
}

// Long runs go through the vector loops: every sample as the scalar rule says, there and back.
TEST(Pcm, LongRunsOf16BitSamplesMatchTheRule) {
  std::vector<Sample> samples;
  std::uint32_t x = 12345;
  for (int i = 0; i < 1000; ++i) {
    x = x * 1664525u + 1013904223u;
    samples.push_back(i % 7 == 0 ? static_cast<Sample>(x) : static_cast<Sample>(x >> 11) - 0x100000);
  }
  samples.insert(samples.end(), {INT32_MAX, INT32_MIN, 524280, 524279, -524296, -524297, 7, 8, -8, -9});
  const std::vector<std::uint8_t> bytes = ToPcm(PcmLayout::S16LE, samples);
  ASSERT_EQ(bytes.size(), 2 * samples.size());
  std::vector<Sample> back(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto expected = static_cast<std::int16_t>(std::clamp<std::int64_t>((std::int64_t{samples[i]} + 8) >> 4, -32768, 32767));
    const auto got = static_cast<std::int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    ASSERT_EQ(got, expected) << "sample " << i << " = " << samples[i];
    back[i] = Sample{expected} * 16;
  }
  EXPECT_EQ(FromPcm(PcmLayout::S16LE, bytes), back);
}

TEST(Pcm, WritingRoundsToNearest) {
  // 16-bit: one step is 16 internal units; half a step rounds up.
  EXPECT_EQ(ToPcm(PcmLayout::S16LE, {7, 8, -8, -9}),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(ToPcm(PcmLayout::U8, {2047, 2048, -2048, -2049}),
            (std::vector<std::uint8_t>{0x80, 0x81, 0x80, 0x7F}));
}

}  // namespace
}  // namespace quillet::audio
