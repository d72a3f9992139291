#include "audio/resample.h"

#include <gtest/gtest.h>

#include <cmath>

#include "audio/memory.h"
#include "fixtures/signals.h"

namespace quillet::audio {
namespace {

using namespace quillet::testing;

constexpr std::int32_t kRates[] = {6000,  8000,  11025, 16000, 22050, 32000,
                                   44100, 48000, 64000, 88200, 96000};

// Every rate pair the program offers: a tone at 70 % of the lower Nyquist frequency
// keeps its level and its exact frequency, and the length follows the exact ratio.
TEST(Resample, EveryOfferedPairKeepsToneLevelAndFrequency) {
  for (std::int32_t from : kRates) {
    for (std::int32_t to : kRates) {
      if (from == to) continue;
      SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
      const double freq = 0.35 * std::min(from, to);
      const FrameCount frames = from / 2;
      auto src = ConvertRate(MemorySource(Sine(1, frames, from, freq, 200000), from), to);
      ASSERT_EQ(src->sampleRate(), to);
      const FrameCount expected = (frames * std::int64_t{to} + from - 1) / from;
      EXPECT_EQ(src->length(), expected);
      const AudioBlock out = ReadSource(*src);
      // Away from the edges, where the filter sees silence beyond the input.
      const FrameCount edge = to / 50;
      const Tone t = MeasureTone(out, 0, to, freq, edge, out.frames() - edge);
      EXPECT_NEAR(Db(t.amplitude / 200000), 0.0, 0.1);
      EXPECT_NEAR(t.frequency / freq, 1.0, 2e-6);
    }
  }
}

// A tone just above the output's Nyquist frequency must not fold back into the band.
TEST(Resample, DownsamplingRejectsAliases) {
  const std::pair<std::int32_t, std::int32_t> pairs[] = {
      {48000, 44100}, {44100, 22050}, {96000, 8000}, {96000, 6000}, {44100, 32000}};
  for (const auto& [from, to] : pairs) {
    SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
    const double freq = 0.55 * to;  // folds to 0.45 x to
    auto src = ConvertRate(MemorySource(Sine(1, from / 2, from, freq, 400000), from), to);
    const AudioBlock out = ReadSource(*src);
    const FrameCount edge = to / 50;
    EXPECT_LT(Db(RmsOf(out, 0, edge, out.frames() - edge) * std::sqrt(2.0) / 400000), -45.0);
  }
}

TEST(Resample, ExactRatioUsesReducedPhaseCount) {
  LRateConverter c(MemorySource(AudioBlock(2, 44100LL * 3600), 44100), 48000, 0.046875);
  EXPECT_EQ(c.up(), 160);
  EXPECT_EQ(c.down(), 147);
  EXPECT_EQ(c.length(), 48000LL * 3600);  // an hour stays an hour, to the frame
}

// The pass cuts blocks anywhere; seeks land on the same samples as a continuous read.
TEST(Resample, BlockSizeAndSeekDoNotChangeTheOutput) {
  const AudioBlock in = Noise(2, 3 * 8192 + 17, 5);
  for (std::int32_t to : {48000, 22050, 8000, 96000}) {
    SCOPED_TRACE(to);
    auto whole = ConvertRate(MemorySource(in, 44100), to);
    const AudioBlock ref = ReadSource(*whole, 1 << 20);
    for (FrameCount block : {1, 441, 8191, 8192, 8193}) {
      auto s = ConvertRate(MemorySource(in, 44100), to);
      EXPECT_EQ(ReadSource(*s, block), ref) << "block " << block;
    }
    auto s = ConvertRate(MemorySource(in, 44100), to);
    const FrameCount at = ref.frames() / 3;
    s->seek(at);
    const AudioBlock rest = ReadSource(*s, 1000);
    ASSERT_EQ(rest.frames(), ref.frames() - at);
    for (FrameCount i = 0; i < rest.frames(); i += 97)
      for (int c = 0; c < 2; ++c) ASSERT_EQ(rest(c, i), ref(c, at + i)) << i;
  }
}

TEST(Resample, TinyInputsAndPastTheEnd) {
  for (FrameCount frames : {0, 1, 2}) {
    auto s = ConvertRate(MemorySource(Dc(1, frames, 1000), 8000), 44100);
    EXPECT_EQ(s->length(), (frames * 44100 + 7999) / 8000);
    const AudioBlock out = ReadFrames(*s, s->length() + 100);
    for (FrameCount i = s->length(); i < out.frames(); ++i) EXPECT_EQ(out(0, i), 0);
  }
}

// Samples far beyond 16-bit full scale (gains above unity) saturate, never wrap.
TEST(Resample, HugeSamplesSaturate) {
  AudioBlock in(1, 4000);
  for (FrameCount i = 0; i < in.frames(); ++i) in(0, i) = (i / 100) % 2 ? INT32_MAX : INT32_MIN;
  auto s = ConvertRate(MemorySource(in, 44100), 48000);
  const AudioBlock out = ReadSource(*s);
  const FrameCount mid = 50 * 48000 / 44100;  // inside the first run of INT32_MIN
  EXPECT_LT(out(0, mid), -2000000000);
  const FrameCount high = 150 * 48000 / 44100;
  EXPECT_GT(out(0, high), 2000000000);
}

TEST(Resample, PassThroughAndRelabel) {
  auto in = MemorySource(Dc(1, 10, 5), 44100);
  EXPECT_EQ(ConvertRate(in, 44100), in);
  // Relabelled: twice as fast and twice as high, at the original rate.
  auto fast = ResampleRelabel(MemorySource(Sine(1, 44100, 44100, 440, 100000), 44100), 2.0);
  EXPECT_EQ(fast->sampleRate(), 44100);
  EXPECT_EQ(fast->length(), 22050);
  const AudioBlock out = ReadSource(*fast);
  EXPECT_NEAR(MeasureTone(out, 0, 44100, 880, 1000, 21000).frequency, 880.0, 0.01);
  // NaN and zero factors cannot divide by zero.
  EXPECT_EQ(ResampleRelabel(MemorySource(Dc(1, 100, 5), 44100), 0.0)->length(), 1000);
  EXPECT_EQ(ResampleRelabel(MemorySource(Dc(1, 100, 5), 44100), std::nan(""))->length(), 1000);
}

TEST(Resample, StandardAdaptorsReduceChannelsThenResample) {
  AudioBlock in = Sine(2, 22050, 44100, 1000, 100000);
  for (FrameCount i = 0; i < in.frames(); ++i) in(1, i) = 0;  // right silent
  std::string message;
  auto s = ConvertFormat(MemorySource(in, 44100), 8000, 1, &message);
  ASSERT_TRUE(s) << message;
  EXPECT_EQ(s->channels(), 1);
  EXPECT_EQ(s->sampleRate(), 8000);
  const AudioBlock out = ReadSource(*s);
  EXPECT_NEAR(MeasureTone(out, 0, 8000, 1000, 200, 3800).amplitude, 100000, 200);
}

}  // namespace
}  // namespace quillet::audio
