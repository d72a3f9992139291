// Click repair and the analysis windows' maths on a ten-minute stereo document: the
// automatic repair with 200 clicks added (throughput, and how many were repaired with
// the rest of the audio untouched), the time-frequency picture of the whole ten
// minutes, and one spectrum. bench/click_vs_adeclick.sh sets the repair beside ffmpeg.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <random>

#include "audio/memory.h"
#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "effects/click_repair.h"
#include "effects/spectrum.h"

namespace {

using namespace quillet;
using audio::FrameCount;
using audio::FramePos;
using audio::Sample;

constexpr int kRate = 44100;
constexpr FrameCount kFrames = 600LL * kRate;
constexpr int kClicks = 200;
constexpr double kPi = 3.14159265358979323846;

// Music-like stereo (two tones under soft noise, a slow envelope) and the same with
// 200 three-frame clicks, alternating channels, three seconds apart.
struct Documents {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quillet-bench-analysis-" + std::to_string(::getpid()));
  std::unique_ptr<core::SegmentStore> store;
  std::unique_ptr<core::AudioChain> clean, clicked;
  std::vector<FramePos> clicks;

  Documents() {
    std::filesystem::create_directories(dir);
    store = std::make_unique<core::SegmentStore>(dir);
    clean = std::make_unique<core::AudioChain>(store.get());
    clicked = std::make_unique<core::AudioChain>(store.get());
    for (int k = 0; k < kClicks; ++k) clicks.push_back(kRate + FramePos{k} * 3 * kRate + k * 17);
    auto a = core::ChainOpenSink(*clean, kRate, 2);
    auto b = core::ChainOpenSink(*clicked, kRate, 2);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, 3000);
    std::vector<Sample> block(8192 * 2);
    std::size_t next = 0;
    for (FramePos at = 0; at < kFrames; at += 8192) {
      const FrameCount n = std::min<FrameCount>(8192, kFrames - at);
      for (FrameCount i = 0; i < n; ++i) {
        const double t = static_cast<double>(at + i) / kRate;
        const double env = 0.6 + 0.4 * std::sin(2 * kPi * 0.2 * t);
        for (int c = 0; c < 2; ++c)
          block[static_cast<std::size_t>(i * 2 + c)] =
              static_cast<Sample>(env * 120000 * std::sin(2 * kPi * (220 + 110 * c) * t) + noise(rng));
      }
      a->write(block.data(), n);
      for (; next < clicks.size() && clicks[next] + 3 <= at + n; ++next) {
        const int c = static_cast<int>(next % 2);
        const Sample shape[] = {260000, 390000, -170000};
        for (int i = 0; i < 3; ++i) block[static_cast<std::size_t>((clicks[next] - at + i) * 2 + c)] += shape[i];
      }
      b->write(block.data(), n);
    }
    a->Finish();
    b->Finish();
  }
  ~Documents() {
    clean.reset();
    clicked.reset();
    store.reset();
    std::filesystem::remove_all(dir);
  }
};

Documents& Docs() {
  static Documents d;
  return d;
}

void BM_ClickRepairTenMinutes(benchmark::State& state) {
  Documents& d = Docs();
  core::AudioChain result(d.store.get());
  for (auto _ : state) {
    result = *d.clicked;
    const auto r = effects::AutoClickRepair({&result, kFrames, 0}, {});
    if (!r.done()) state.SkipWithError(r.message.c_str());
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  // Quality, once: spikes brought back near the clean audio, and every frame more
  // than 25 away from a spike exactly as it was.
  auto fixed = core::ChainOpenSource(result), clean = core::ChainOpenSource(*d.clean),
       clicked = core::ChainOpenSource(*d.clicked);
  std::vector<Sample> f(8192 * 2), c(8192 * 2), k(8192 * 2);
  std::int64_t repaired = 0, changedFar = 0;
  std::size_t near = 0;
  for (FramePos at = 0; at < kFrames; at += 8192) {
    const FrameCount n = std::min<FrameCount>(8192, kFrames - at);
    fixed->read(f.data(), n);
    clean->read(c.data(), n);
    clicked->read(k.data(), n);
    for (FrameCount i = 0; i < n; ++i) {
      const FramePos p = at + i;
      while (near + 1 < d.clicks.size() && d.clicks[near + 1] <= p) ++near;
      const FramePos spike = d.clicks[near];
      const bool far = std::abs(p - spike) > 25 && (near + 1 >= d.clicks.size() || d.clicks[near + 1] - p > 25);
      for (int ch = 0; ch < 2; ++ch) {
        const auto s = static_cast<std::size_t>(i * 2 + ch);
        if (far && f[s] != k[s]) ++changedFar;
        if (p == spike + 1 && ch == static_cast<int>(near % 2) && std::abs(f[s] - c[s]) < 40000) ++repaired;
      }
    }
  }
  state.counters["repaired_of_200"] = static_cast<double>(repaired);
  state.counters["far_frames_changed"] = static_cast<double>(changedFar);
}

void BM_SpectrogramTenMinutes(benchmark::State& state) {
  Documents& d = Docs();
  effects::TemporalData data;
  for (auto _ : state) {
    auto src = core::ChainOpenSource(*d.clean);
    if (!effects::ComputeTemporalData(*src, 0, kFrames, data).done()) state.SkipWithError("failed");
    auto px = effects::RenderTemporal(data, {.width = 1000, .height = 500});
    benchmark::DoNotOptimize(px.data());
  }
  state.counters["columns"] = static_cast<double>(data.columns);
}

void BM_SpectrumFullScaleSine(benchmark::State& state) {
  audio::AudioBlock b(2, 8192);
  for (FrameCount i = 0; i < b.frames(); ++i)
    b(0, i) = b(1, i) = static_cast<Sample>(std::lround(0x7FFF0 * std::sin(2 * kPi * 1000 * static_cast<double>(i) / kRate)));
  effects::FrequencyData data;
  for (auto _ : state) {
    auto src = audio::MakeRef<audio::LMemorySoundSource>(kRate, b);
    effects::ComputeFrequencyData(*src, 0, data);
  }
  const auto& l = data.levels[0];
  state.counters["peak_bin"] = static_cast<double>(std::max_element(l.begin(), l.end()) - l.begin());
  state.counters["peak_db"] = *std::max_element(l.begin(), l.end());
}

}  // namespace

BENCHMARK(BM_ClickRepairTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpectrogramTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SpectrumFullScaleSine)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
