// The LADSPA host on ladspa-sdk's amp_mono at 0.5 over ten minutes of stereo held in
// memory: in this process, and through quillet-plugin-host (what the editor uses), so
// the helper's cost shows as the ratio of the two.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>

#include "audio/block.h"
#include "audio/memory.h"
#include "effects/plugins/ladspa_host.h"
#include "effects/plugins/plugin_filter.h"

namespace {

using namespace quillet;

constexpr audio::FrameCount kFrames = 44100 * 600;

const audio::AudioBlock& Input() {
  static const audio::AudioBlock block = [] {
    audio::AudioBlock b(2, kFrames);
    for (audio::FrameCount i = 0; i < kFrames; ++i)
      for (int c = 0; c < 2; ++c) b(c, i) = audio::Sample((i * 7919 + c * 104729) % 600000) - 300000;
    return b;
  }();
  return block;
}

void Run(benchmark::State& state, bool hosted) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  setenv("QUILLET_PLUGIN_HOST", (self.parent_path().parent_path() / "app" / "quillet-plugin-host").c_str(), 0);
  effects::plugins::PluginInfo info;
  std::string why;
  if (!effects::plugins::FindLadspa({"/usr/lib/ladspa"}, "amp_mono", info, &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::vector<audio::Sample> out(std::size_t(audio::kBlockFrames) * 2);
  for (auto _ : state) {
    auto src = effects::plugins::MakePluginEffectFilter(audio::SourceHandle(audio::MakeRef<audio::LMemorySoundSource>(44100, Input())), info, {0.5f}, hosted);
    for (audio::FrameCount done = 0; done < kFrames; done += audio::kBlockFrames)
      src->read(out.data(), std::min(audio::kBlockFrames, kFrames - done));
    if (src->failed()) state.SkipWithError(src->failureMessage().c_str());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["frames/s"] = benchmark::Counter(double(kFrames), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_LadspaAmpHere(benchmark::State& state) { Run(state, false); }
void BM_LadspaAmpHosted(benchmark::State& state) { Run(state, true); }
BENCHMARK(BM_LadspaAmpHere)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_LadspaAmpHosted)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
