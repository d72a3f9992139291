// WAVE reading, writing and codec throughput (frames per second in the counters).
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>

#include "formats/codec.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"

namespace {

using namespace quillet;

constexpr audio::FrameCount kFrames = 44100 * 10;  // ten seconds of stereo

std::filesystem::path BenchFile(const char* name) {
  return std::filesystem::temp_directory_path() / (std::string("quillet_bench_") + std::to_string(getpid()) + name);
}

std::vector<audio::Sample> Signal() {
  std::vector<audio::Sample> v(static_cast<std::size_t>(kFrames) * 2);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<audio::Sample>(400000 * std::sin(0.001 * static_cast<double>(i)));
  return v;
}

void WriteFile(const std::filesystem::path& f, const formats::WaveFormat& fmt, const std::vector<audio::Sample>& s) {
  auto sink = formats::MakeWaveFormatSink(f, fmt);
  sink->write(s.data(), kFrames);
  sink->Finish();
}

// Opens f and reads it through in blocks, as a save or an open does.
void ReadThrough(const std::filesystem::path& f) {
  std::vector<audio::Sample> buf(8192 * 2);
  auto src = formats::OpenWaveFile(f);
  for (audio::FrameCount done = 0; done < src->length(); done += 8192) src->read(buf.data(), 8192);
  benchmark::DoNotOptimize(buf.data());
}

void BM_WaveWrite(benchmark::State& state) {
  const auto s = Signal();
  const auto f = BenchFile("w.wav");
  const auto fmt = formats::MakePcmFormat(44100, 2, static_cast<int>(state.range(0)));
  for (auto _ : state) WriteFile(f, fmt, s);
  std::filesystem::remove(f);
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_WaveWrite)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);

void BM_WaveRead(benchmark::State& state) {
  const auto f = BenchFile("r.wav");
  WriteFile(f, formats::MakePcmFormat(44100, 2, static_cast<int>(state.range(0))), Signal());
  for (auto _ : state) ReadThrough(f);
  std::filesystem::remove(f);
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_WaveRead)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);

// Decoding each coding the manager writes, from a file made by our own encoder.
void BM_CodecDecode(benchmark::State& state) {
  const auto tag = static_cast<std::uint16_t>(state.range(0));
  formats::WaveFormat fmt;
  for (const auto& f : formats::EncodableFormats(44100, tag == formats::wave_tag::kGsm610 ? 1 : 2))
    if (f.tag == tag && f.rate == 44100) {
      fmt = f;
      break;
    }
  const auto f = BenchFile("c.wav");
  WriteFile(f, fmt, Signal());
  for (auto _ : state) ReadThrough(f);
  std::filesystem::remove(f);
  state.SetLabel(formats::FormatTagName(tag));
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_CodecDecode)
    ->Arg(formats::wave_tag::kFloat)
    ->Arg(formats::wave_tag::kMuLaw)
    ->Arg(formats::wave_tag::kImaAdpcm)
    ->Arg(formats::wave_tag::kMsAdpcm)
    ->Arg(formats::wave_tag::kGsm610)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
