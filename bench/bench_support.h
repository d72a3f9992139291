#pragma once
// What the effect benchmarks share: their input (a file named by QUILLET_BENCH_INPUT,
// or a generated minute), draining a filter over it, and a ten-minute stereo document
// in a private store.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/memory.h"
#include "core/segment_sink.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace quillet::bench {

using audio::AudioBlock;
using audio::FrameCount;
using audio::Sample;
using audio::SourceHandle;

inline constexpr int kBenchRate = 44100;

// The file QUILLET_BENCH_INPUT names, read into memory (with the user's stored raw
// records, as quillet-cli would read it); otherwise generate().
inline AudioBlock LoadInput(const std::function<AudioBlock()>& generate) {
  const char* file = std::getenv("QUILLET_BENCH_INPUT");
  if (!file) return generate();
  settings::Settings store(settings::DefaultLocations());
  SourceHandle src = formats::OpenAudioFile(file, store);
  AudioBlock b(src->channels(), src->length());
  src->read(b.data(), b.frames());
  return b;
}

// Reads the filter build() makes over input to its end, once per iteration; the
// items are input frames, as a peer's time is for the same input.
inline void Drain(benchmark::State& state, const AudioBlock& input,
                  const std::function<SourceHandle(SourceHandle)>& build) {
  std::vector<Sample> buf(8192 * static_cast<std::size_t>(input.channels()));
  FrameCount frames = 0;
  for (auto _ : state) {
    SourceHandle s = build(audio::MakeRef<audio::LMemorySoundSource>(kBenchRate, input));
    const FrameCount len = s->length();
    for (FrameCount done = 0; done < len; done += 8192)
      s->read(buf.data(), std::min<FrameCount>(8192, len - done));
    benchmark::DoNotOptimize(buf.data());
    frames += input.frames();
  }
  state.SetItemsProcessed(frames);
}

// Ten copies of the first minute of input (its first channel twice when mono) as a
// stereo document in a private store, removed with it.
struct TenMinutes {
  std::filesystem::path dir;
  std::unique_ptr<core::SegmentStore> store;
  std::unique_ptr<core::AudioChain> chain;
  TenMinutes(const AudioBlock& input, const std::string& name)
      : dir(std::filesystem::temp_directory_path() /
            ("quillet-bench-" + name + "-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir);
    store = std::make_unique<core::SegmentStore>(dir);
    chain = std::make_unique<core::AudioChain>(store.get());
    auto sink = core::ChainOpenSink(*chain, kBenchRate, 2);
    const FrameCount minute = std::min<FrameCount>(input.frames(), 60LL * kBenchRate);
    std::vector<Sample> stereo(static_cast<std::size_t>(minute) * 2);
    for (FrameCount i = 0; i < minute; ++i)
      for (int c = 0; c < 2; ++c)
        stereo[static_cast<std::size_t>(i * 2 + c)] = input(std::min(c, input.channels() - 1), i);
    for (int i = 0; i < 10; ++i) sink->write(stereo.data(), minute);
    sink->Finish();
  }
  ~TenMinutes() {
    chain.reset();
    store.reset();
    std::filesystem::remove_all(dir);
  }
};

}  // namespace quillet::bench
