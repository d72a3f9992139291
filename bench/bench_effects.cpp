// Effects: amplify and normalize on a ten-minute document (gain changes, no samples),
// throughput of the streaming effects and converters in frames per second, and the
// resampler's and speed changes' quality figures as counters. QUILLET_BENCH_INPUT
// names an audio file to run the throughput benchmarks on (bench/effects_vs_sox.sh).
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "audio/memory.h"
#include "audio/resample.h"
#include "audio/speed.h"
#include "bench/bench_support.h"
#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "effects/echo.h"
#include "effects/equalizer.h"
#include "effects/high_pass.h"
#include "effects/levels.h"
#include "effects/pan.h"

namespace {

using namespace quillet;
using audio::AudioBlock;
using audio::FrameCount;
using audio::Sample;
using audio::SourceHandle;

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

AudioBlock Tone(int channels, FrameCount frames, double rate, double freq, double amp) {
  AudioBlock b(channels, frames);
  for (FrameCount i = 0; i < frames; ++i) {
    const auto v = static_cast<Sample>(std::lround(amp * std::sin(2 * kPi * freq * static_cast<double>(i) / rate)));
    for (int c = 0; c < channels; ++c) b(c, i) = v;
  }
  return b;
}

// The throughput input: the named file read into memory, or a minute of music-like
// stereo (two tones under noise with a slow envelope).
const AudioBlock& Input() {
  static const AudioBlock block = bench::LoadInput([] {
    AudioBlock b(2, 60LL * kRate);
    std::mt19937 rng(1);
    std::normal_distribution<double> n(0, 20000);
    for (FrameCount i = 0; i < b.frames(); ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double env = 0.5 + 0.5 * std::sin(2 * kPi * 0.3 * t);
      for (int c = 0; c < 2; ++c)
        b(c, i) = static_cast<Sample>(env * (150000 * std::sin(2 * kPi * (440 + 110 * c) * t) + n(rng)));
    }
    return b;
  });
  return block;
}

void Drain(benchmark::State& state, const std::function<SourceHandle(SourceHandle)>& build) {
  bench::Drain(state, Input(), build);
}

void BM_Fade(benchmark::State& state) {
  Drain(state, [](SourceHandle in) {
    const FrameCount len = in->length();
    return SourceHandle(audio::MakeRef<effects::LEnvelopeFilter>(in, effects::FadeInShape(), len));
  });
}
void BM_Reverse(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return SourceHandle(audio::MakeRef<effects::LReverseSource>(in)); });
}
void BM_Pan(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return effects::MakeChannelMixer(in, effects::PanRows(30)); });
}
void BM_HighPass(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return effects::MakeHighPass(in, {250}); });
}
void BM_Echo(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return effects::MakeEcho(in, {800, 50}); });
}
void BM_Reverb(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return effects::MakeReverb(in, {50, 100}); });
}
// The 4095-tap FIR by FFT, as the equalizer command runs it (band-pass 8-12 kHz).
void BM_Equalizer(benchmark::State& state) {
  const auto curve = effects::ShapeCurve(effects::EqShape::BandPass, {8000, 12000, 1000, 0});
  Drain(state, [&](SourceHandle in) { return effects::MakeEqualizer(in, curve); });
}
void BM_Rate48k(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return audio::ConvertRate(in, 48000); });
}
void BM_SpeedAndPitch110(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return audio::ChangeSpeedAndPitch(in, 1.1); });
}
void BM_Speed110(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return audio::ChangeSpeed(in, 1.1); });
}
void BM_PitchSemitone(benchmark::State& state) {
  Drain(state, [](SourceHandle in) { return audio::ChangePitch(in, std::pow(2.0, 1.0 / 12)); });
}

using bench::TenMinutes;
TenMinutes& Doc() {
  static TenMinutes doc(Input(), "effects");
  return doc;
}

void BM_AmplifyTenMinutes(benchmark::State& state) {
  core::AudioChain& chain = *Doc().chain;
  const FrameCount len = core::ChainLength(chain);
  for (auto _ : state) {
    effects::Amplify({&chain, len - 1000, 1000}, 150);
    effects::Amplify({&chain, len - 1000, 1000}, 66);
  }
  state.SetLabel(std::to_string(chain.segments().size()) + " segments");
}

void BM_NormalizeTenMinutes(benchmark::State& state) {
  core::AudioChain& chain = *Doc().chain;
  const FrameCount len = core::ChainLength(chain);
  for (auto _ : state) benchmark::DoNotOptimize(effects::SelectionPeak(chain, 0, len));
}

// Quality of the resampler: passband ripple (largest level deviation of tones up to
// 90 % of the lower Nyquist frequency) and alias rejection (the worst level, in the
// output band, of tones that must be removed).
double LevelDb(const AudioBlock& out, double rate, double freq, double amp) {
  const FrameCount edge = static_cast<FrameCount>(rate / 20);
  std::complex<double> z = 0;
  double w = 0;
  for (FrameCount i = edge; i < out.frames() - edge; ++i) {
    const double h = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i - edge) / static_cast<double>(out.frames() - 2 * edge));
    z += h * static_cast<double>(out(0, i)) * std::polar(1.0, -2 * kPi * freq * static_cast<double>(i) / rate);
    w += h;
  }
  return 20 * std::log10(std::abs(z) * 2 / w / amp);
}
double RmsDb(const AudioBlock& out, double rate, double amp) {
  const FrameCount edge = static_cast<FrameCount>(rate / 20);
  double s = 0;
  for (FrameCount i = edge; i < out.frames() - edge; ++i) s += static_cast<double>(out(0, i)) * out(0, i);
  return 10 * std::log10(s / static_cast<double>(out.frames() - 2 * edge) * 2 / (amp * amp));
}
AudioBlock Convert(const AudioBlock& in, int from, int to) {
  SourceHandle s = audio::ConvertRate(audio::MakeRef<audio::LMemorySoundSource>(from, in), to);
  AudioBlock out(1, s->length());
  s->read(out.data(), out.frames());
  return out;
}

void BM_ResamplerQuality(benchmark::State& state) {
  const int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
  const double lower = std::min(from, to) / 2.0, amp = 300000;
  double ripple = 0, alias = -200;
  for (auto _ : state) {
    for (double f = 100; f <= 0.9 * lower; f += 0.9 * lower / 23)
      ripple = std::max(ripple, std::abs(LevelDb(Convert(Tone(1, from / 2, from, f, amp), from, to), to, f, amp)));
    // Downsampling: tones above the output band fold into it. Upsampling: tones near
    // the input's Nyquist leave images above it.
    for (double k = 1.05; k < 1.95; k += 0.1) {
      const double f = k * to / 2;
      if (to < from && f < from / 2.0) alias = std::max(alias, RmsDb(Convert(Tone(1, from / 2, from, f, amp), from, to), to, amp));
    }
    if (to > from) {
      for (double k = 1.05; k < 1.95 && k * from / 2 < to / 2.0; k += 0.1) {
        const double image = k * from / 2, f = from - image;
        const AudioBlock out = Convert(Tone(1, from / 2, from, f, amp), from, to);
        alias = std::max(alias, LevelDb(out, to, image, amp));
      }
    }
  }
  state.counters["ripple_dB"] = ripple;
  state.counters["alias_dB"] = alias;
}

// The tone a 440 Hz input becomes: measured frequency over the expected one, in cents.
void BM_PitchAccuracy(benchmark::State& state) {
  const double r = static_cast<double>(state.range(1)) / 100;
  const int kind = static_cast<int>(state.range(0));
  double cents = 0;
  for (auto _ : state) {
    SourceHandle in = audio::MakeRef<audio::LMemorySoundSource>(kRate, Tone(1, 4 * kRate, kRate, 440, 200000));
    SourceHandle s = kind == 0 ? audio::ChangeSpeedAndPitch(in, r) : kind == 1 ? audio::ChangeSpeed(in, r) : audio::ChangePitch(in, r);
    AudioBlock out(1, s->length());
    s->read(out.data(), out.frames());
    const double want = kind == 1 ? 440 : 440 * r;
    // Phase advance over 40 ms windows.
    const FrameCount w = kRate / 25;
    std::complex<double> prev = 0;
    double sum = 0;
    int n = 0;
    for (FrameCount at = 4000; at + w < out.frames() - 4000; at += w) {
      std::complex<double> z = 0;
      for (FrameCount i = 0; i < w; ++i)
        z += static_cast<double>(out(0, at + i)) * std::polar(1.0, -2 * kPi * want * static_cast<double>(at + i) / kRate);
      if (n++ > 0) sum += std::arg(z / prev);
      prev = z;
    }
    const double got = want + sum / (n - 1) / (2 * kPi * static_cast<double>(w) / kRate);
    cents = 1200 * std::log2(got / want);
  }
  state.counters["error_cents"] = cents;
}

}  // namespace

BENCHMARK(BM_AmplifyTenMinutes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NormalizeTenMinutes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fade)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reverse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HighPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Echo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reverb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Equalizer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rate48k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpeedAndPitch110)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Speed110)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PitchSemitone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResamplerQuality)->Args({44100, 48000})->Args({48000, 44100})->Args({44100, 22050})->Args({96000, 8000})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PitchAccuracy)->Args({0, 150})->Args({1, 150})->Args({2, 150})->Args({1, 80})->Args({2, 80})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
