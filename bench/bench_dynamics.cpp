// Dynamics and noise reduction: throughput of the compressor, the noise gate and the
// spectral subtraction in frames per second, the automatic gain control and auto trim
// on a ten-minute stereo document, and the quality figures the effects promise as
// counters. QUILLET_BENCH_INPUT names an audio file for the throughput benchmarks
// (bench/dynamics_vs_peers.sh).
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "audio/memory.h"
#include "bench/bench_support.h"
#include "core/chain_source.h"
#include "effects/auto_trim.h"
#include "effects/dynamics.h"
#include "effects/gain_control.h"
#include "effects/noise_reduction.h"

namespace {

using namespace quillet;
using audio::AudioBlock;
using audio::FrameCount;
using audio::Sample;
using audio::SourceHandle;

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 0x7FFF0;

// The throughput input: the named file read into memory, or a minute of speech-like
// stereo (a tone whose level comes and goes, over steady hiss).
const AudioBlock& Input() {
  static const AudioBlock block = bench::LoadInput([] {
    AudioBlock b(2, 60LL * kRate);
    std::mt19937 rng(1);
    std::normal_distribution<double> hiss(0, 500);
    for (FrameCount i = 0; i < b.frames(); ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double env = std::max(0.0, std::sin(2 * kPi * 0.7 * t));
      for (int c = 0; c < 2; ++c)
        b(c, i) =
            static_cast<Sample>(env * 150000 * std::sin(2 * kPi * (300 + 50 * c) * t) + hiss(rng));
    }
    return b;
  });
  return block;
}

// The first two seconds of the input as the noise sample (the generated input holds
// hiss alone at its very start and between its bursts).
const effects::NoiseProfile& Profile() {
  static const effects::NoiseProfile profile = [] {
    effects::NoiseProfile p;
    auto src = audio::MakeRef<audio::LMemorySoundSource>(kRate, Input());
    effects::EstimateNoiseProfile(*src, std::min<FrameCount>(2 * kRate, Input().frames()),
                                  effects::kGrabPercentile, p);
    return p;
  }();
  return profile;
}

void Drain(benchmark::State& state, const std::function<SourceHandle(SourceHandle)>& build) {
  bench::Drain(state, Input(), build);
}

void BM_Compressor(benchmark::State& state) {
  Drain(state, [](SourceHandle in) {
    return SourceHandle(
        audio::MakeRef<effects::LCompressorFilter>(in, effects::CompressorParams{-20, 4, 0}));
  });
}
void BM_NoiseGate(benchmark::State& state) {
  Drain(state, [](SourceHandle in) {
    return SourceHandle(audio::MakeRef<effects::LNoiseGateFilter>(in, -30));
  });
}
void BM_NoiseReduction(benchmark::State& state) {
  Profile();
  Drain(state, [](SourceHandle in) {
    return SourceHandle(audio::MakeRef<effects::LSpectralSubtraction>(in, Profile()));
  });
}
void BM_NoiseReductionAutoProfile(benchmark::State& state) {
  FrameCount frames = 0;
  for (auto _ : state) {
    auto src = audio::MakeRef<audio::LMemorySoundSource>(kRate, Input());
    effects::NoiseProfile p;
    effects::EstimateNoiseProfile(*src, Input().frames(), 30, p);
    benchmark::DoNotOptimize(p.magnitudes.data());
    frames += Input().frames();
  }
  state.SetItemsProcessed(frames);
}

using bench::TenMinutes;
TenMinutes& Doc() {
  static TenMinutes doc(Input(), "dynamics");
  return doc;
}

// Both passes over the document (the second writes into the store), then undone.
void BM_AutoGainControlTenMinutes(benchmark::State& state) {
  const core::AudioChain& original = *Doc().chain;
  const FrameCount len = core::ChainLength(original);
  for (auto _ : state) {
    core::AudioChain work = original;
    benchmark::DoNotOptimize(effects::AutomaticGainControl({&work, len, 0}).result);
  }
  state.SetItemsProcessed(state.iterations() * len);
}

// Peak records only: no sample is read.
void BM_AutoTrimTenMinutes(benchmark::State& state) {
  const core::AudioChain& chain = *Doc().chain;
  std::vector<std::uint8_t> peaks;
  for (auto _ : state) {
    effects::ChainBlockPeaks(chain, peaks);
    benchmark::DoNotOptimize(effects::AutoTrimRange(peaks, core::ChainLength(chain), -20));
  }
  state.SetItemsProcessed(state.iterations() * core::ChainLength(chain));
}

// ---- Quality ----

AudioBlock Sine(FrameCount frames, double freq, double amplitude) {
  AudioBlock b(1, frames);
  for (FrameCount i = 0; i < frames; ++i)
    b(0, i) = static_cast<Sample>(
        std::lround(amplitude * std::sin(2 * kPi * freq * static_cast<double>(i) / kRate)));
  return b;
}
AudioBlock WhiteNoise(FrameCount frames, double dBfs, unsigned seed) {
  AudioBlock b(1, frames);
  std::mt19937 rng(seed);
  std::normal_distribution<double> n(0, kFullScale * std::pow(10.0, dBfs / 20));
  for (FrameCount i = 0; i < frames; ++i) b(0, i) = static_cast<Sample>(std::lround(n(rng)));
  return b;
}
AudioBlock Plus(AudioBlock a, const AudioBlock& b, double sign = 1) {
  for (FrameCount i = 0; i < a.frames(); ++i) a(0, i) += static_cast<Sample>(sign * b(0, i));
  return a;
}
AudioBlock Run(audio::LSoundSource& s) {
  AudioBlock out(s.channels(), s.length());
  s.read(out.data(), out.frames());
  return out;
}
double Rms(const AudioBlock& b, FrameCount from, FrameCount to) {
  double sum = 0;
  for (FrameCount i = from; i < to; ++i) sum += static_cast<double>(b(0, i)) * b(0, i);
  return std::sqrt(sum / static_cast<double>(to - from));
}
double ToneLevel(const AudioBlock& b, double freq, FrameCount from, FrameCount to) {
  std::complex<double> z = 0;
  for (FrameCount i = from; i < to; ++i)
    z += static_cast<double>(b(0, i)) *
         std::polar(1.0, -2 * kPi * freq * static_cast<double>(i) / kRate);
  return std::abs(z) * 2 / static_cast<double>(to - from);
}
double Db(double ratio) { return 20 * std::log10(ratio); }

// White noise at -40 dBFS under a 1 kHz tone, reduced with a profile grabbed from two
// seconds of the same noise: how far the noise drops (the output less the clean tone,
// so tone distortion counts against it), the tone's change and the length's.
void BM_NoiseReductionQuality(benchmark::State& state) {
  const double toneDb = -static_cast<double>(state.range(0));
  const FrameCount n = 6 * kRate;
  const AudioBlock tone = Sine(n, 1000, kFullScale * std::pow(10.0, toneDb / 20));
  const AudioBlock noise = WhiteNoise(n, -40, 2);
  effects::NoiseProfile profile;
  auto sample = audio::MakeRef<audio::LMemorySoundSource>(kRate, WhiteNoise(2 * kRate, -40, 3));
  effects::EstimateNoiseProfile(*sample, 2 * kRate, effects::kGrabPercentile, profile);
  AudioBlock out;
  for (auto _ : state) {
    effects::LSpectralSubtraction f(
        audio::MakeRef<audio::LMemorySoundSource>(kRate, Plus(tone, noise)), profile);
    out = Run(f);
  }
  const FrameCount a = kRate, b = 5 * kRate;
  state.counters["noise_dB"] = Db(Rms(Plus(out, tone, -1), a, b) / Rms(noise, a, b));
  state.counters["tone_dB"] = Db(ToneLevel(out, 1000, a, b) / ToneLevel(tone, 1000, a, b));
  state.counters["length_change"] = static_cast<double>(out.frames() - n);
  state.SetLabel("tone at " + std::to_string(static_cast<int>(toneDb)) + " dBFS");
}

// The gate at -30 dB over noise at -60 dBFS, and a -6 dBFS tone through it.
void BM_NoiseGateQuality(benchmark::State& state) {
  const AudioBlock noise = WhiteNoise(3 * kRate, -60, 4),
                   tone = Sine(3 * kRate, 1000, kFullScale / 2);
  AudioBlock gated, passed;
  for (auto _ : state) {
    effects::LNoiseGateFilter g(audio::MakeRef<audio::LMemorySoundSource>(kRate, noise), -30);
    gated = Run(g);
    effects::LNoiseGateFilter t(audio::MakeRef<audio::LMemorySoundSource>(kRate, tone), -30);
    passed = Run(t);
  }
  state.counters["noise_dB"] =
      Db(Rms(gated, kRate / 10, 3 * kRate) / Rms(noise, kRate / 10, 3 * kRate));
  state.counters["tone_dB"] = Db(ToneLevel(passed, 1000, kRate / 10, 3 * kRate) / (kFullScale / 2));
}

// "1:1" at 0 dB must hand back every sample as it was.
void BM_CompressorIdentity(benchmark::State& state) {
  const AudioBlock in = Plus(Sine(3 * kRate, 440, kFullScale), WhiteNoise(3 * kRate, -20, 5));
  AudioBlock out;
  for (auto _ : state) {
    effects::LCompressorFilter f(audio::MakeRef<audio::LMemorySoundSource>(kRate, in), {0, 0, 0});
    out = Run(f);
  }
  state.counters["identical"] = out == in ? 1 : 0;
}

}  // namespace

BENCHMARK(BM_Compressor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoiseGate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoiseReduction)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoiseReductionAutoProfile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoGainControlTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_AutoTrimTenMinutes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoiseReductionQuality)->Arg(20)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_NoiseGateQuality)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CompressorIdentity)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
