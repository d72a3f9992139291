// Conversion: one-minute stereo WAVE files through Amplify (150 %) and Normalize
// (100 %) to MP3 with the stored encoder settings, at 1 and 2 jobs;
// QUILLET_BENCH_FILES sets the file count (100 unless given).
// Projects: writing two stereo documents from the store into a ".qlp" and reading
// them back into new sample files, per byte of the project. Both sides stream in
// blocks, so the time should be the disk's; the peak RSS counter shows that no
// whole document is ever buffered.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/registry.h"
#include "batch/project_file.h"
#include "batch/run.h"
#include "batch/types.h"
#include "core/segment_sink.h"
#include "core/segment_store.h"
#include "core/working_folder.h"
#include "formats/wav_writer.h"
#include "platform/byte_source.h"
#include "platform/safe_file_writer.h"

namespace {

using namespace quillet;

constexpr std::int64_t kFrames = 44100LL * 60 * 5;  // five minutes a document

struct Fixture {
  std::filesystem::path dir;
  std::unique_ptr<core::SegmentStore> store;
  batch::ProjectContents contents;
};

Fixture& Shared() {
  static Fixture f = [] {
    Fixture out;
    out.dir = std::filesystem::temp_directory_path() / ("quillet_bench_batch_" + std::to_string(getpid()));
    std::filesystem::create_directories(out.dir / "store");
    out.store = std::make_unique<core::SegmentStore>(out.dir / "store");
    std::vector<audio::Sample> block(2 * 8192);
    for (int d = 0; d < 2; ++d) {
      batch::ProjectDocument doc;
      doc.audio = core::AudioChain(out.store.get());
      auto sink = core::ChainOpenSink(doc.audio, 44100, 2);
      std::uint32_t x = 12345u + static_cast<std::uint32_t>(d);
      for (std::int64_t done = 0; done < kFrames; done += 8192) {
        for (auto& s : block) s = static_cast<audio::Sample>(x = x * 1664525u + 1013904223u);
        sink->write(block.data(), std::min<std::int64_t>(8192, kFrames - done));
      }
      if (!sink->Finish()) std::abort();
      doc.record.path = "/music/take" + std::to_string(d) + ".wav";
      doc.record.viewEnd = static_cast<std::uint32_t>(kFrames);
      out.contents.documents.push_back(std::move(doc));
    }
    return out;
  }();
  return f;
}

void PeakRss(benchmark::State& state) {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  state.counters["peak_rss_MB"] = static_cast<double>(use.ru_maxrss) / 1024.0;
}

void BM_SaveProject(benchmark::State& state) {
  Fixture& f = Shared();
  const auto file = f.dir / "bench.qlp";
  for (auto _ : state) {
    auto writer = platform::SafeFileWriter::Create(file);
    if (!writer || !batch::WriteProject(f.contents, *writer).done() || !writer->Commit())
      state.SkipWithError("save failed");
  }
  state.counters["bytes/s"] = benchmark::Counter(static_cast<double>(batch::ProjectFileSize(f.contents)),
                                                 benchmark::Counter::kIsIterationInvariantRate);
  PeakRss(state);
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LoadProject(benchmark::State& state) {
  Fixture& f = Shared();
  const auto file = f.dir / "bench.qlp";
  if (!std::filesystem::exists(file)) {
    auto writer = platform::SafeFileWriter::Create(file);
    if (!writer || !batch::WriteProject(f.contents, *writer).done() || !writer->Commit()) std::abort();
  }
  for (auto _ : state) {
    auto in = platform::FileByteSource::Open(file);
    batch::ProjectContents loaded;
    if (!in || !batch::ReadProject(*in, f.store.get(), loaded).done() || loaded.documents.size() != 2)
      state.SkipWithError("load failed");
  }
  state.counters["bytes/s"] = benchmark::Counter(static_cast<double>(batch::ProjectFileSize(f.contents)),
                                                 benchmark::Counter::kIsIterationInvariantRate);
  PeakRss(state);
}
BENCHMARK(BM_LoadProject)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

namespace {

using namespace quillet;

namespace fs = std::filesystem;

struct Corpus {
  fs::path dir;
  std::vector<fs::path> files;
  std::unique_ptr<settings::Settings> settings;
  std::unique_ptr<core::StoreSession> session;
  core::CommandRegistry registry = app::BuildCommandRegistry();

  Corpus() {
    char name[] = "/tmp/quillet-bench-batch-XXXXXX";
    dir = ::mkdtemp(name);
    settings = std::make_unique<settings::Settings>(settings::FolderLocations(dir / "cfg"));
    fs::create_directories(dir / "work");
    std::string why;
    session = core::StoreSession::StartIn(dir / "work", &why);
    const char* count = std::getenv("QUILLET_BENCH_FILES");
    const int n = count ? std::atoi(count) : 100;
    constexpr audio::FrameCount kMinute = 44100 * 60;
    std::vector<audio::Sample> block(2 * kMinute);
    for (audio::FrameCount i = 0; i < kMinute; ++i)
      block[2 * i] = block[2 * i + 1] =
          audio::Sample(0x20000 * std::sin(double(i) * 2 * M_PI * 440 / 44100));
    for (int k = 0; k < n; ++k) {
      files.push_back(dir / ("in" + std::to_string(k) + ".wav"));
      audio::SinkHandle sink =
          formats::MakeWaveFormatSink(files.back(), formats::MakePcmFormat(44100, 2, 16));
      sink->write(block.data(), kMinute);
      sink->Finish();
    }
  }
  ~Corpus() {
    session.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

void BM_BatchAmplifyNormalizeToMp3(benchmark::State& state) {
  static Corpus corpus;
  const batch::BatchCommandList commands = {{3, batch::BlockOf(3, {150})},
                                            {4, batch::BlockOf(4, {100})}};
  const fs::path out = corpus.dir / "out";
  fs::create_directories(out);
  batch::RunOptions options;
  options.jobs = int(state.range(0));
  options.stopOnFailure = false;
  for (auto _ : state) {
    const platform::Outcome r =
        batch::RunBatch(corpus.files, commands, batch::OutputRule{false, 1, false, out},
                        corpus.registry, *corpus.settings, corpus.session->store(), options);
    if (!r.done()) state.SkipWithError(r.message.c_str());
  }
  state.counters["files/s"] = benchmark::Counter(double(corpus.files.size()) * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BatchAmplifyNormalizeToMp3)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace


int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Fixture& f = Shared();
  f.contents = {};
  f.store.reset();
  std::filesystem::remove_all(f.dir);
  return 0;
}
