// The segment store: writing and reading audio through it against plain file I/O of
// the same bytes, the cost of chain edits by audio length and segment count, and peak
// columns of a ten-hour document.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/chain_source.h"
#include "core/detail/file_io.h"
#include "core/peaks.h"
#include "core/segment_sink.h"
#include "core/working_folder.h"

namespace {

using namespace quillet::core;
using quillet::audio::Sample;

constexpr int kChannels = 2;
constexpr FrameCount kRate = 44100;
constexpr FrameCount kIoFrames = 30 * kRate;  // 30 s of stereo: 10.6 MB per pass

// One working folder for the whole run, where the editor would put it.
SegmentStore& Store() {
  static std::unique_ptr<StoreSession> session = [] {
    std::string msg;
    auto s = StoreSession::StartIn(DefaultWorkingFolder().parent_path() / "bench", &msg);
    if (!s) {
      fprintf(stderr, "%s\n", msg.c_str());
      abort();
    }
    return s;
  }();
  return session->store();
}

const std::vector<Sample>& Block() {
  static const std::vector<Sample> block = [] {
    std::mt19937 rng(1);
    std::vector<Sample> v(static_cast<std::size_t>(quillet::audio::kBlockFrames) * kChannels);
    for (auto& s : v) s = static_cast<Sample>(rng() % 1048576) - 524288;
    return v;
  }();
  return block;
}

// range(0): 1 for compact sample files (3 bytes a sample for this audio), 0 for 4 bytes.
void SinkWrite(benchmark::State& state) {
  Store().SetCompactSampleFiles(state.range(0) != 0);
  for (auto _ : state) {
    AudioChain chain(&Store());
    auto sink = ChainOpenSink(chain, kRate, kChannels);
    for (FrameCount done = 0; done < kIoFrames; done += quillet::audio::kBlockFrames)
      sink->write(Block().data(), quillet::audio::kBlockFrames);
    if (!sink->Finish()) state.SkipWithError(sink->failureMessage().c_str());
  }
  state.SetItemsProcessed(state.iterations() * kIoFrames);
  state.SetBytesProcessed(state.iterations() * kIoFrames * kChannels * 4);
}
BENCHMARK(SinkWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void PlainWrite(benchmark::State& state) {
  const auto path = Store().workingFolder() / "plain.raw";
  const std::size_t bytes = Block().size() * sizeof(Sample);
  for (auto _ : state) {
    // A new file each pass, as the sink makes one.
    std::filesystem::remove(path);
    detail::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    std::int64_t at = 0;
    for (FrameCount done = 0; done < kIoFrames; done += quillet::audio::kBlockFrames, at += bytes)
      detail::WriteAt(fd.get(), Block().data(), bytes, at);
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * kIoFrames);
  state.SetBytesProcessed(state.iterations() * kIoFrames * kChannels * 4);
}
BENCHMARK(PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

AudioChain WrittenChain() {
  AudioChain chain(&Store());
  auto sink = ChainOpenSink(chain, kRate, kChannels);
  for (FrameCount done = 0; done < kIoFrames; done += quillet::audio::kBlockFrames)
    sink->write(Block().data(), quillet::audio::kBlockFrames);
  sink->Finish();
  return chain;
}

// range(0): segments the audio is cut into (each cut removes one frame), range(1): 1
// when the gains are not unity, range(2): 1 for a compact sample file.
void ChainRead(benchmark::State& state) {
  Store().SetCompactSampleFiles(state.range(2) != 0);
  AudioChain chain = WrittenChain();
  const FrameCount step = kIoFrames / state.range(0);
  for (FramePos p = step; p < ChainLength(chain); p += step) ChainDeleteRange(chain, p, p + 1);
  if (state.range(1)) ChainScaleGain(chain, 150);
  std::vector<Sample> buf(Block().size());
  FrameCount frames = 0;
  for (auto _ : state) {
    auto src = ChainOpenSource(chain);
    for (FrameCount done = 0; done < src->length(); done += quillet::audio::kBlockFrames)
      src->read(buf.data(), quillet::audio::kBlockFrames);
    frames += src->length();
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(frames);
  state.SetBytesProcessed(frames * kChannels * 4);
}
BENCHMARK(ChainRead)
    ->Args({1, 0, 0})
    ->Args({1, 1, 0})
    ->Args({1000, 0, 0})
    ->Args({1, 0, 1})
    ->Args({1, 1, 1})
    ->Args({1000, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void PlainRead(benchmark::State& state) {
  Store().SetCompactSampleFiles(false);
  AudioChain chain = WrittenChain();
  detail::UniqueFd fd(::open(Store().SampleFilePath(chain.segments()[0].fileId).c_str(), O_RDONLY));
  std::vector<Sample> buf(Block().size());
  const std::size_t bytes = buf.size() * sizeof(Sample);
  for (auto _ : state) {
    std::int64_t at = 0;
    for (FrameCount done = 0; done < kIoFrames; done += quillet::audio::kBlockFrames, at += bytes)
      detail::ReadAt(fd.get(), buf.data(), bytes, at);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * kIoFrames);
  state.SetBytesProcessed(state.iterations() * kIoFrames * kChannels * 4);
}
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// A chain of `length` frames in `segments` segments over distinct ids (the edits never
// open the files, so none are written).
AudioChain SyntheticChain(FrameCount length, std::int64_t segments) {
  AudioChain chain(&Store());
  chain.channels = kChannels;
  const FrameCount each = length / segments;
  for (std::int64_t i = 0; i < segments; ++i) {
    const FileId id = Store().AllocateFileId();
    ChainAppendSegment(chain, {id, i + 1 == segments ? length - each * i : each, kUnityGain, 0});
    Store().ReleaseFileRef(id);
  }
  return chain;
}

enum Op { Delete, Insert, Copy, Cut, Replace, Trim, Repeat, ScaleGain };

// range(0): the operation, range(1): seconds of audio, range(2): segments.
void ChainEdit(benchmark::State& state) {
  const FrameCount length = state.range(1) * kRate;
  const AudioChain base = SyntheticChain(length, state.range(2));
  const AudioChain clip = SyntheticChain(kRate, 10);
  const FramePos a = length / 3, b = 2 * length / 3, small = a + length / 100;
  for (auto _ : state) {
    state.PauseTiming();
    AudioChain chain = base;
    AudioChain scratch(&Store());
    state.ResumeTiming();
    switch (state.range(0)) {
      case Delete: ChainDeleteRange(chain, a, b); break;
      case Insert: ChainInsert(chain, a, clip); break;
      case Copy: ChainCopyRange(chain, a, b, scratch); break;
      case Cut: ChainCutRange(chain, a, b, scratch); break;
      case Replace: ChainReplaceRange(chain, a, b, clip); break;
      case Trim: ChainTrim(chain, a, b); break;
      case Repeat: ChainRepeatRange(chain, a, small, 3); break;
      case ScaleGain: ChainScaleRangeGain(chain, a, b, 150); break;
    }
    state.PauseTiming();
    chain = AudioChain();
    scratch = AudioChain();
    state.ResumeTiming();
  }
}
void EditArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"op", "seconds", "segments"});
  for (int op = Delete; op <= ScaleGain; ++op) {
    b->Args({op, 1, 1})->Args({op, 1, 1000});
    for (std::int64_t secs : {3600, 36000})
      for (std::int64_t segs : {1, 1000, 100000}) b->Args({op, secs, segs});
  }
}
BENCHMARK(ChainEdit)->Apply(EditArgs)->Unit(benchmark::kMicrosecond);

// A ten-hour stereo document drawn 2,048 columns wide from its peak files. The sample
// file is never read, so only the 25 MB peak file is made. range(0): segments,
// range(1): 1 to use the in-memory summary.
void PeakColumns10h(benchmark::State& state) {
  const FrameCount length = 36000 * kRate;
  const std::int64_t records = (length + kPeakBlockFrames - 1) / kPeakBlockFrames;
  const FileId id = Store().AllocateFileId();
  std::vector<std::uint8_t> peaks(static_cast<std::size_t>(records) * 2 * kChannels);
  std::mt19937 rng(2);
  for (auto& b : peaks) b = static_cast<std::uint8_t>(rng() % 200);
  {
    detail::UniqueFd fd(::open(Store().PeakFilePath(id).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600));
    detail::WriteAt(fd.get(), peaks.data(), peaks.size(), 0);
  }
  if (state.range(1)) Store().SetPeakSummary(id, SummarizePeakRecords(peaks.data(), records, kChannels));
  AudioChain chain(&Store());
  chain.channels = kChannels;
  ChainAppendSegment(chain, {id, length, kUnityGain, 0});
  Store().ReleaseFileRef(id);
  const FrameCount each = length / state.range(0);
  for (std::int64_t i = 1; i < state.range(0); ++i) ChainDeleteRange(chain, i * each, i * each);  // splits
  ChainScaleRangeGain(chain, 0, length / 2, 80);
  const auto map = ColumnMapping::Make(0, length, kMaxColumns);
  std::vector<std::uint8_t> top(kMaxColumns + 1), bottom(kMaxColumns + 1);
  for (auto _ : state) {
    ComputePeakColumns(chain, map, 0, kMaxColumns + 1, {}, PeakSource::PeakFiles, top.data(), bottom.data());
    benchmark::DoNotOptimize(top.data());
  }
}
BENCHMARK(PeakColumns10h)->ArgNames({"segments", "summary"})->Args({1, 1})->Args({1000, 1})->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
