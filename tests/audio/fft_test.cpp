#include "audio/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace quillet::audio {
namespace {

TEST(RealFft, SineLandsInItsBinWithAmplitudeTimesHalfN) {
  for (std::size_t n : {8u, 1024u, 4096u, 6u * 1000u}) {
    SCOPED_TRACE(n);
    RealFft fft(n);
    FftBuffer<float> in(n);
    FftBuffer<Complex> out(fft.bins());
    const std::size_t bin = n / 4 - 1;
    for (std::size_t i = 0; i < n; ++i)
      in[i] = 0.5f * float(std::sin(2 * std::numbers::pi * double(bin * i) / double(n)));
    fft.Forward(in, out);
    for (std::size_t k = 0; k < fft.bins(); ++k) {
      const float expected = k == bin ? 0.5f * float(n) / 2 : 0.0f;
      EXPECT_NEAR(std::abs(out[k]), expected, 1e-3f * float(n)) << "bin " << k;
    }
  }
}

TEST(RealFft, InverseUndoesForwardTimesN) {
  const std::size_t n = 2048;
  RealFft fft(n);
  FftBuffer<float> in(n), back(n);
  FftBuffer<Complex> bins(fft.bins());
  for (std::size_t i = 0; i < n; ++i) in[i] = float((i * 7919) % 1000) / 1000.0f - 0.5f;
  fft.Forward(in, bins);
  fft.Inverse(bins, back);
  for (std::size_t i = 0; i < n; ++i) ASSERT_NEAR(back[i] / float(n), in[i], 1e-5f) << i;
}

// Plans are shared: transforms of several sizes from several threads at once agree
// with the same transforms done one after another.
TEST(RealFft, ConcurrentUseGivesTheSameBins) {
  auto energy = [](std::size_t n) {
    RealFft fft(n);
    FftBuffer<float> in(n);
    FftBuffer<Complex> out(fft.bins());
    for (std::size_t i = 0; i < n; ++i) in[i] = float(i % 17) - 8.0f;
    double sum = 0;
    for (int round = 0; round < 20; ++round) {
      fft.Forward(in, out);
      for (std::size_t k = 0; k < fft.bins(); ++k) sum += std::norm(out[k]);
    }
    return sum;
  };
  const std::vector<std::size_t> sizes = {512, 1024, 3000, 8192};
  std::vector<double> alone, together(sizes.size());
  for (std::size_t n : sizes) alone.push_back(energy(n));
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < sizes.size(); ++i)
    threads.emplace_back([&, i] { together[i] = energy(sizes[i]); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(alone, together);
}

}  // namespace
}  // namespace quillet::audio
