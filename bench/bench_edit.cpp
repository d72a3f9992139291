// Edit commands on a ten-hour stereo document: each must cost microseconds whatever
// the length, because it rearranges segments and never copies audio. Every loop
// pairs the edit with its undo so the document is the same on each pass; the
// "bytesWritten" counter is what the working folder grew by (it must be 0).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/clipboard.h"
#include "core/document.h"
#include "core/edit_commands.h"
#include "core/working_folder.h"
#include "platform/scripted_progress.h"
#include "settings/settings.h"

namespace {

using namespace quillet::core;

constexpr FrameCount kRate = 44100;
constexpr FrameCount kTenHours = 10 * 3600 * kRate;

SegmentStore& Store() {
  static std::unique_ptr<StoreSession> session = [] {
    std::string msg;
    auto s = StoreSession::StartIn(DefaultWorkingFolder().parent_path() / "bench", &msg);
    if (!s) {
      std::fprintf(stderr, "%s\n", msg.c_str());
      std::abort();
    }
    return s;
  }();
  return session->store();
}

// Ten hours of stereo over segments segments of reserved ids (no files: edits never
// read audio, which is the point).
AudioChain TenHours(std::int64_t segments) {
  AudioChain chain(&Store());
  chain.channels = 2;
  chain.sampleRate = kRate;
  const FrameCount each = kTenHours / segments;
  for (std::int64_t i = 0; i < segments; ++i) {
    const FileId id = Store().AllocateFileId();
    ChainAppendSegment(chain, {id, i + 1 == segments ? kTenHours - each * i : each, kUnityGain, 0});
    Store().ReleaseFileRef(id);
  }
  return chain;
}

std::uintmax_t FolderBytes() {
  std::uintmax_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(Store().workingFolder(), ec))
    if (e.is_regular_file(ec)) n += e.file_size(ec);
  return n;
}

struct Bench {
  explicit Bench(std::int64_t segments) : doc(TenHours(segments)) {}
  quillet::settings::Settings settings{quillet::settings::FolderLocations(
      std::filesystem::temp_directory_path() / "quillet-bench-edit-settings")};
  quillet::platform::ScriptedProgressFactory progress;
  ProgramClipboard clipboard{&Store()};
  EditContext ctx{Store(), clipboard, progress, settings, nullptr, nullptr, nullptr, nullptr,
                  {}, {}, false};
  WaveDocument doc;
};

// An edit in the middle of the document (3 h to 5 h selected) and its undo.
template <class Edit>
void EditAndUndo(benchmark::State& state, Edit edit) {
  Bench b(state.range(0));
  b.doc.SetSelection(3 * 3600 * kRate, 5 * 3600 * kRate, 3 * 3600 * kRate);
  const std::uintmax_t before = FolderBytes();
  for (auto _ : state) {
    if (edit(b.ctx, b.doc) != 0 || !b.doc.Undo()) state.SkipWithError(b.ctx.message.c_str());
    b.doc.SetSelection(3 * 3600 * kRate, 5 * 3600 * kRate, 3 * 3600 * kRate);
  }
  state.counters["bytesWritten"] = static_cast<double>(FolderBytes() - before);
  state.counters["frames"] = static_cast<double>(b.doc.length());
}

void DeleteUndo(benchmark::State& s) { EditAndUndo(s, Delete); }
void CutUndo(benchmark::State& s) { EditAndUndo(s, Cut); }
void SilenceUndo(benchmark::State& s) { EditAndUndo(s, Silence); }
void TrimUndo(benchmark::State& s) { EditAndUndo(s, Trim); }
void RepeatUndo(benchmark::State& s) {
  EditAndUndo(s, [](EditContext& c, WaveDocument& d) { return RepeatLoop(c, d, 3); });
}
void InsertSilenceUndo(benchmark::State& s) {
  EditAndUndo(s, [](EditContext& c, WaveDocument& d) {
    return InsertSilence(c, d, InsertWhere::Cursor, 60'000);
  });
}
// Paste of two hours of clipboard audio over the selection, as a task.
void PasteUndo(benchmark::State& s) {
  EditAndUndo(s, [](EditContext& c, WaveDocument& d) {
    if (c.clipboard.Empty()) ChainCopyRange(d.chain(), 0, 2 * 3600 * kRate, c.clipboard.chain);
    return Paste(c, d);
  });
}
void UndoRedo(benchmark::State& state) {
  Bench b(state.range(0));
  b.doc.SetSelection(0, kRate, 0);
  Delete(b.ctx, b.doc);
  for (auto _ : state) {
    if (!b.doc.Undo() || !b.doc.Redo()) state.SkipWithError("undo/redo");
  }
}

#define EDIT_BENCH(f) BENCHMARK(f)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)
EDIT_BENCH(DeleteUndo);
EDIT_BENCH(CutUndo);
EDIT_BENCH(SilenceUndo);
EDIT_BENCH(TrimUndo);
EDIT_BENCH(RepeatUndo);
EDIT_BENCH(InsertSilenceUndo);
EDIT_BENCH(PasteUndo);
EDIT_BENCH(UndoRedo);

}  // namespace

BENCHMARK_MAIN();
