// What the crash journal adds to the normal path. Edits on a ten-hour stereo document
// (Delete and its Undo, as in bench_edit) with and without a journal attached, over
// 1, 1,000 and 10,000 segments; and an effect pass (Fade In over ten minutes of real
// audio) in a plain store and in a durable one whose sink flushes its file to the
// disk before a journal may name it. Arg 0: no journal; 1: journaled.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/clipboard.h"
#include "core/document.h"
#include "core/edit_commands.h"
#include "core/journal_keeper.h"
#include "core/segment_sink.h"
#include "core/working_folder.h"
#include "effects/commands.h"
#include "platform/scripted_progress.h"
#include "settings/settings.h"

namespace {

using namespace quillet::core;

constexpr FrameCount kRate = 44100;
constexpr FrameCount kTenHours = 10 * 3600 * kRate;

std::unique_ptr<StoreSession> Session() {
  std::string msg;
  auto s = StoreSession::StartIn(DefaultWorkingFolder().parent_path() / "bench", &msg);
  if (!s) {
    std::fprintf(stderr, "%s\n", msg.c_str());
    std::abort();
  }
  return s;
}

struct Bench {
  std::unique_ptr<StoreSession> session = Session();
  quillet::settings::Settings settings{quillet::settings::FolderLocations(
      std::filesystem::temp_directory_path() / "quillet-bench-recovery-settings")};
  quillet::platform::ScriptedProgressFactory progress;
  ProgramClipboard clipboard{&session->store()};
  EditContext ctx{session->store(), clipboard, progress, settings, nullptr, nullptr, nullptr, nullptr,
                  {}, {}, false};
  SegmentStore& store() { return session->store(); }
};

// Ten hours of stereo over segments segments of reserved ids (edits never read audio).
AudioChain TenHours(SegmentStore& store, std::int64_t segments) {
  AudioChain chain(&store);
  chain.channels = 2;
  chain.sampleRate = kRate;
  const FrameCount each = kTenHours / segments;
  for (std::int64_t i = 0; i < segments; ++i) {
    const FileId id = store.AllocateFileId();
    ChainAppendSegment(chain, {id, i + 1 == segments ? kTenHours - each * i : each, kUnityGain, 0});
    store.ReleaseFileRef(id);
  }
  return chain;
}

void EditJournaled(benchmark::State& state) {
  Bench b;
  WaveDocument doc(TenHours(b.store(), state.range(0)));
  if (state.range(1)) doc.SetRecorder(b.session->journals().NewRecorder());
  const FramePos from = 3 * 3600 * kRate, to = 5 * 3600 * kRate;
  doc.SetSelection(from, to, from);
  for (auto _ : state) {
    if (Delete(b.ctx, doc) != 0 || !doc.Undo()) state.SkipWithError(b.ctx.message.c_str());
    doc.SetSelection(from, to, from);
  }
  if (state.range(1)) b.session->journals().WaitDurable();
  state.counters["segments"] = static_cast<double>(doc.chain().segments().size());
}
BENCHMARK(EditJournaled)
    ->ArgsProduct({{1, 1000, 10000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// Ten minutes of stereo noise, written once per run.
AudioChain TenMinutes(SegmentStore& store) {
  constexpr FrameCount kFrames = 600 * kRate;
  AudioChain chain(&store);
  auto sink = ChainOpenSink(chain, kRate, 2);
  std::vector<quillet::audio::Sample> block(2 * 8192);
  std::uint32_t x = 1;
  for (FrameCount done = 0; done < kFrames; done += 8192) {
    for (auto& s : block) s = static_cast<quillet::audio::Sample>((x = x * 1664525u + 1013904223u) >> 13) - 262144;
    sink->write(block.data(), std::min<FrameCount>(8192, kFrames - done));
  }
  if (!sink->Finish()) std::abort();
  return chain;
}

// The command's own time, which the person waits for. The journal then writes the new
// audio to the disk in the background; that is timed apart ("flushMs" per pass), and
// waited for outside the timing so that one pass's flush does not slow the next.
void EffectDurable(benchmark::State& state) {
  Bench b;
  WaveDocument doc(TenMinutes(b.store()));
  if (state.range(0)) doc.SetRecorder(b.session->journals().NewRecorder());
  double flushMs = 0;
  for (auto _ : state) {
    doc.SetSelection(0, doc.length(), 0);
    if (quillet::effects::FadeInCommand(b.ctx, doc) != 0 || !doc.Undo())
      state.SkipWithError(b.ctx.message.c_str());
    state.PauseTiming();
    const auto t0 = std::chrono::steady_clock::now();
    b.session->journals().WaitDurable();
    ::sync();  // the plain store's audio too, so both passes start from a quiet disk
    flushMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    state.ResumeTiming();
  }
  state.counters["flushMs"] = flushMs / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * doc.length() * 2 * 4);
}
BENCHMARK(EffectDurable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);

}  // namespace

BENCHMARK_MAIN();
