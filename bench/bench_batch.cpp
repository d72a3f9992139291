// The batch converter's largest job: one-minute stereo WAVE files through Amplify
// (150 %) and Normalize (100 %) to MP3 with the stored encoder settings, at 1 and 2
// jobs. QUILLET_BENCH_FILES sets the file count (100 unless given); the files are
// made once per process in a scratch folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/registry.h"
#include "batch/run.h"
#include "batch/types.h"
#include "core/working_folder.h"
#include "formats/wav_writer.h"

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
    constexpr audio::FrameCount kFrames = 44100 * 60;
    std::vector<audio::Sample> block(2 * kFrames);
    for (audio::FrameCount i = 0; i < kFrames; ++i)
      block[2 * i] = block[2 * i + 1] =
          audio::Sample(0x20000 * std::sin(double(i) * 2 * M_PI * 440 / 44100));
    for (int k = 0; k < n; ++k) {
      files.push_back(dir / ("in" + std::to_string(k) + ".wav"));
      audio::SinkHandle sink =
          formats::MakeWaveFormatSink(files.back(), formats::MakePcmFormat(44100, 2, 16));
      sink->write(block.data(), kFrames);
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

BENCHMARK_MAIN();
