// The player's feeder on a free-running fake device: CPU time the feeder thread
// spends per second of audio played (reading the source, speed adaptor and limiter
// included, levels metered). Counters: feederMsPerAudioS (lower is better) and
// realtimeX (seconds of audio fed per second of feeder CPU).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "audio/memory.h"
#include "devices/play_speed.h"
#include "devices/player.h"
#include "devices/stretch_play.h"
#include "platform/sound_device_fake.h"

namespace {

using namespace quillet;

constexpr int kRate = 44100;
constexpr audio::FrameCount kFrames = 30 * kRate;  // 30 s of stereo

audio::AudioBlock Noise(std::int64_t amplitude) {
  audio::AudioBlock b(2, kFrames);
  std::uint32_t x = 7;
  for (std::size_t i = 0; i < b.samples().size(); ++i) {
    x = x * 1664525u + 1013904223u;
    b.data()[i] = static_cast<audio::Sample>(static_cast<std::int64_t>(x >> 8) % (2 * amplitude + 1) - amplitude);
  }
  return b;
}

struct StopWatch : devices::LPlayerListener {
  bool stopped = false;
  void Stopped(std::uintptr_t) override { stopped = true; }
};

using MakeSource = std::function<audio::SourceHandle(const audio::AudioBlock&, std::uint32_t bound)>;

void Feed(benchmark::State& state, std::int64_t amplitude, std::uint32_t bound, const MakeSource& make) {
  const audio::AudioBlock block = Noise(amplitude);
  platform::FakeSoundSystem device;
  device.SetFreeRunning(true);
  platform::NotificationQueue queue;
  devices::LSoundPlayer player(device, queue);
  StopWatch watch;
  player.InstallListener(&watch, 0);
  double audioSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    audio::SourceHandle source = make(block, bound);
    const std::int64_t before = device.playedFrames();
    watch.stopped = false;
    state.ResumeTiming();
    if (!player.Open(source)) {
      state.SkipWithError(player.lastError().c_str());
      return;
    }
    while (!watch.stopped) queue.WaitAndDispatch(5);
    audioSeconds += static_cast<double>(device.playedFrames() - before) / kRate;
  }
  const double cpuS = static_cast<double>(player.feederCpuNs()) / 1e9;
  state.counters["feederMsPerAudioS"] = cpuS * 1000 / audioSeconds;
  state.counters["realtimeX"] = audioSeconds / cpuS;
  state.counters["audioS"] = audioSeconds;
}

audio::SourceHandle Plain(const audio::AudioBlock& b, std::uint32_t bound) {
  return audio::SourceHandle(audio::MakeRef<audio::LMemorySoundSource>(kRate, b, bound));
}

void BM_FeedNormal(benchmark::State& s) { Feed(s, 0x40000, audio::kFilePeakBound, Plain); }
void BM_FeedThroughLimiter(benchmark::State& s) { Feed(s, 0x7FFF0 * 2, 0x7FFF0 * 2, Plain); }
void BM_FeedFast(benchmark::State& s) {
  Feed(s, 0x40000, audio::kFilePeakBound, [](const audio::AudioBlock& b, std::uint32_t bound) {
    return devices::SourceAtSpeed(Plain(b, bound), devices::PlaySpeed::Fast);
  });
}
void BM_FeedSlow(benchmark::State& s) {
  Feed(s, 0x40000, audio::kFilePeakBound, [](const audio::AudioBlock& b, std::uint32_t bound) {
    return devices::SourceAtSpeed(Plain(b, bound), devices::PlaySpeed::Slow);
  });
}
void BM_FeedRewind(benchmark::State& s) {
  Feed(s, 0x40000, audio::kFilePeakBound, [](const audio::AudioBlock& b, std::uint32_t bound) {
    audio::SourceHandle src = Plain(b, bound);
    src->seek(kFrames - 1);  // from the last frame back to the start
    std::string message;
    return devices::SourceAtRamp(src, devices::RewindRamp(false), devices::TimeStretchAdaptor(), &message);
  });
}

BENCHMARK(BM_FeedNormal)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FeedThroughLimiter)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FeedFast)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FeedSlow)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FeedRewind)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
