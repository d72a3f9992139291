// Ripping from the simulated drive: READ CD through the drive's command thread,
// conversion and the WAVE writer, per sector of a generated 10-minute disc image.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "cd/rip.h"
#include "formats/wav_writer.h"

namespace {

using namespace quillet;

constexpr std::int64_t kSectors = 75 * 600;

std::filesystem::path Folder() {
  static const std::filesystem::path f = [] {
    auto p = std::filesystem::temp_directory_path() /
             ("quillet_bench_cd_" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    std::vector<char> sector(2352);
    for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<char>(i * 37);
    std::ofstream bin(p / "disc.bin", std::ios::binary);
    for (std::int64_t s = 0; s < kSectors; ++s) bin.write(sector.data(), 2352);
    std::ofstream(p / "disc.cue") << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    return p;
  }();
  return f;
}

void BM_RipToWav(benchmark::State& state) {
  const std::filesystem::path dir = Folder();
  cd::CdTrack track;
  track.number = 1;
  track.start = 0;
  track.end = kSectors;
  std::string message;
  for (auto _ : state) {
    auto device = cd::CdDevice::Open("sim:" + (dir / "disc.cue").string(), &message);
    auto sink = audio::Ref<formats::LWavePCMSoundSink>(
        new formats::LWavePCMSoundSink(dir / "out.wav", 44100, 0, 16, 2));
    const platform::Outcome o = cd::RipTrack(*device, track, *sink);
    if (!o.done() || !sink->Finish()) state.SkipWithError("rip failed");
  }
  state.counters["sectors/s"] =
      benchmark::Counter(static_cast<double>(kSectors), benchmark::Counter::kIsIterationInvariantRate);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RipToWav)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
