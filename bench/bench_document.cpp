// Opening a file into the store and saving the document, as the editor does, and
// converting a file straight from its reader to its writer, as quillet-cli convert does.
// Inputs: QUILLET_BENCH_WAVE (a 16-bit WAVE file) and QUILLET_BENCH_MP3; each benchmark
// runs once per repetition (the files are long), after a sync so that no write-back of
// an earlier case is charged to it. Counters: seconds of each step, the
// bytes the document keeps in the store (sample and peak files: disk and page cache per
// document) and the process's peak resident memory so far.
// bench/io_vs_peers.sh runs these beside sox and mpg123.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/peaks.h"
#include "core/working_folder.h"
#include "formats/document_io.h"
#include "settings/settings.h"

namespace {

using namespace quillet;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class QuietWindow final : public platform::ProgressWindow {
 public:
  void SetCaption(std::string_view) override {}
  void SetText(int, std::string_view) override {}
  void SetProgress(int) override {}
  bool PumpEvents(int) override { return false; }
  void ShowMessage(std::string_view, std::string_view, platform::MessageIcon) override {}
};

class QuietOwner final : public platform::ProgressWindowFactory {
 public:
  std::unique_ptr<platform::ProgressWindow> Create() override { return std::make_unique<QuietWindow>(); }
  void SetOwnerEnabled(bool) override {}
  void ShowOwnerMessage(std::string_view, std::string_view, platform::MessageIcon) override {}
};

core::SegmentStore& Store() {
  static std::unique_ptr<core::StoreSession> session = [] {
    std::string msg;
    auto s = core::StoreSession::StartIn(core::DefaultWorkingFolder().parent_path() / "bench-document", &msg);
    if (!s) {
      std::fprintf(stderr, "%s\n", msg.c_str());
      std::abort();
    }
    return s;
  }();
  return session->store();
}

// The user's stored options (bench/io_vs_peers.sh points XDG_CONFIG_HOME at an empty
// folder: WAVE is written as 16-bit PCM, like the input).
settings::Settings& BenchSettings() { return settings::Settings::Process(); }

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::uint64_t StoreBytes() {
  std::uint64_t n = 0;
  for (const auto& e : fs::directory_iterator(Store().workingFolder())) n += e.file_size();
  return n;
}

double PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// No write-back left over from the case before is charged to this one.
void Settle(benchmark::State& state) {
  state.PauseTiming();
  ::sync();
  state.ResumeTiming();
}

fs::path Output(const char* name) { return Store().workingFolder().parent_path() / name; }

// range(0): 1 for compact sample files, 0 for four bytes a sample.
void OpenAndSave(benchmark::State& state, const char* variable) {
  const char* file = std::getenv(variable);
  if (!file) return state.SkipWithError("set the input file's variable");
  Store().SetCompactSampleFiles(state.range(0) != 0);
  QuietOwner owner;
  formats::DispatchEnv env(BenchSettings());
  env.owner = &owner;
  double load = 0, save = 0, kept = 0;
  for (auto _ : state) {
    Settle(state);
    auto start = Clock::now();
    formats::LoadFileTask opened(file, Store(), env);
    opened.Run(owner);
    if (opened.result != platform::kTaskDone) return state.SkipWithError(opened.message().c_str());
    load += Seconds(start);
    kept = static_cast<double>(StoreBytes());
    start = Clock::now();
    formats::SaveChainTask saved(opened.chain(), Output("bench-document-out.wav"), env);
    saved.Run(owner);
    if (saved.result != platform::kTaskDone) return state.SkipWithError(saved.message().c_str());
    save += Seconds(start);
  }
  fs::remove(Output("bench-document-out.wav"));
  const auto n = static_cast<double>(state.iterations());
  state.counters["load_s"] = load / n;
  state.counters["save_s"] = save / n;
  state.counters["store_MB"] = kept / 1e6;
  state.counters["peak_rss_MB"] = PeakRssMb();
}

void BM_OpenSaveWave(benchmark::State& state) { OpenAndSave(state, "QUILLET_BENCH_WAVE"); }
void BM_OpenSaveMp3(benchmark::State& state) { OpenAndSave(state, "QUILLET_BENCH_MP3"); }
BENCHMARK(BM_OpenSaveWave)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_OpenSaveMp3)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The editor's open up to its first full waveform: the file into the store, then the
// peak columns of the whole document at 1920 pixels.
void BM_OpenToFullWaveform(benchmark::State& state) {
  const char* file = std::getenv("QUILLET_BENCH_MP3");
  if (!file) return state.SkipWithError("set QUILLET_BENCH_MP3");
  Store().SetCompactSampleFiles(true);
  QuietOwner owner;
  formats::DispatchEnv env(BenchSettings());
  env.owner = &owner;
  std::vector<std::uint8_t> top(1920), bottom(1920);
  for (auto _ : state) {
    Settle(state);
    formats::LoadFileTask opened(file, Store(), env);
    opened.Run(owner);
    if (opened.result != platform::kTaskDone) return state.SkipWithError(opened.message().c_str());
    const auto map = core::ColumnMapping::Make(0, core::ChainLength(opened.chain()), 1920);
    if (!core::ComputePeakColumns(opened.chain(), map, 0, 1920, {}, core::ChoosePeakSource(map), top.data(),
                                  bottom.data()))
      return state.SkipWithError("no columns");
  }
  state.counters["peak_rss_MB"] = PeakRssMb();
}
BENCHMARK(BM_OpenToFullWaveform)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Straight from the reader to the writer, no store.
void Convert(benchmark::State& state, const char* variable) {
  const char* file = std::getenv(variable);
  if (!file) return state.SkipWithError("set the input file's variable");
  QuietOwner owner;
  formats::DispatchEnv env(BenchSettings());
  env.owner = &owner;
  for (auto _ : state) {
    Settle(state);
    formats::ConvertFileTask converted(file, Output("bench-document-out.wav"), env);
    converted.Run(owner);
    if (converted.result != platform::kTaskDone) return state.SkipWithError(converted.message().c_str());
  }
  fs::remove(Output("bench-document-out.wav"));
  state.counters["peak_rss_MB"] = PeakRssMb();
}

void BM_ConvertWave(benchmark::State& state) { Convert(state, "QUILLET_BENCH_WAVE"); }
void BM_ConvertMp3(benchmark::State& state) { Convert(state, "QUILLET_BENCH_MP3"); }
BENCHMARK(BM_ConvertWave)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ConvertMp3)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
