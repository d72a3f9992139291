// Decoding speed of our MP3 decoder on a file given by QUILLET_MP3_BENCH_FILE
// (bench/mp3_vs_mpg123.sh makes a 10-minute 320 kbit/s stereo file and compares with mpg123).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_source.h"
#include "platform/byte_source.h"

namespace {

using namespace quillet;

const char* BenchFile() { return std::getenv("QUILLET_MP3_BENCH_FILE"); }

// The frame decoder alone over the file in memory: the work mpg123 -t does.
void BM_Mp3DecodeFrames(benchmark::State& state) {
  const char* file = BenchFile();
  auto bytes = file ? platform::FileByteSource::Open(file) : nullptr;
  if (!bytes) return state.SkipWithError("set QUILLET_MP3_BENCH_FILE to an MP3 file");
  formats::Mp3Layout layout;
  if (!formats::ScanMp3Layout(*bytes, layout)) return state.SkipWithError("not an MP3 file");
  std::vector<uint8_t> data(bytes->Size());
  bytes->ReadAt(0, data.data(), data.size());
  std::vector<float> pcm(formats::Mp3Decoder::kMaxSamplesPerFrame * 2);
  int64_t frames = 0;
  for (auto _ : state) {
    formats::Mp3Decoder dec;
    for (uint64_t offset : layout.frames) {
      const auto step = dec.DecodeFrame(data.data() + offset, data.size() - offset, pcm.data());
      benchmark::DoNotOptimize(pcm.data());
      frames += step.framesProduced ? 1 : 0;
    }
  }
  state.counters["mp3_frames_per_s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(frames) * layout.first.samplesPerFrame() / layout.first.sampleRate,
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Mp3DecodeFrames)->Unit(benchmark::kMillisecond)->UseRealTime();
// One pass, for timing the whole process beside mpg123 -t (bench/io_vs_peers.sh).
BENCHMARK(BM_Mp3DecodeFrames)->Name("BM_Mp3DecodeOnce")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening and reading the whole file through the sound source in 8192-frame blocks, as the
// store's copy does: on the reading thread alone, and with the worker threads.
void BM_Mp3SourceReadAll(benchmark::State& state) {
  const char* file = BenchFile();
  if (!file) return state.SkipWithError("set QUILLET_MP3_BENCH_FILE to an MP3 file");
  int64_t frames = 0;
  for (auto _ : state) {
    auto src = formats::OpenMp3Source(file, static_cast<int>(state.range(0)));
    if (!src->ready()) return state.SkipWithError("cannot open the file");
    std::vector<audio::Sample> buf(static_cast<size_t>(audio::kBlockFrames * src->channels()));
    for (audio::FrameCount done = 0; done < src->length(); done += audio::kBlockFrames)
      src->read(buf.data(), audio::kBlockFrames);
    frames += src->length();
  }
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(frames) / 44100.0, benchmark::Counter::kIsRate);
}
// range(0): decoding threads (0: one per processor).
BENCHMARK(BM_Mp3SourceReadAll)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
