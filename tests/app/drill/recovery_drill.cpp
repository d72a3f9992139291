// recovery_drill: drives one journaled document through selections, edits, effects
// and saves on the editor's code paths (store session, journals, commands), so that
// the kill and power-cut scripts can kill it anywhere and check what comes back.
//   recovery_drill make IN.wav          writes a 20 s stereo test file
//   recovery_drill run IN.wav OUTDIR [--fingerprints] [--checkpoint N] [--times]
//       "start K NAME" before step K, "done K [FINGERPRINT]" after it, "finished"
//       at the end (then it waits to be killed); with --checkpoint N it waits for
//       the journals to reach the disk after every Nth step and says "durable K";
//       --times adds "t=US" (microseconds since the start) to the start and done
//       lines; --kill-at K:US has the drill SIGKILL itself US microseconds after step
//       K starts (K 0: after the start), for kills that land precisely anywhere
//   recovery_drill check                recovers the one document dead copies left
//       and prints "recovered FINGERPRINT" and any "problem ..." (exit 3: none)
// The working folder comes from the settings, as for the editor (XDG_CACHE_HOME).
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/chain_source.h"
#include "core/clipboard.h"
#include "core/edit_commands.h"
#include "core/journal_keeper.h"
#include "core/recovery.h"
#include "core/working_folder.h"
#include "effects/commands.h"
#include "formats/dispatch.h"
#include "formats/document_io.h"
#include "platform/clipboard.h"
#include "platform/scripted_progress.h"
#include "settings/settings.h"

namespace {

using namespace quillet;
using core::FramePos;
using core::WaveDocument;
namespace fs = std::filesystem;

constexpr std::uint32_t kRate = 44100;

std::uint64_t Hash(const core::AudioChain& chain) {
  std::uint64_t h = 1469598103934665603ull;
  auto src = core::ChainOpenSource(chain);
  const core::FrameCount total = core::ChainLength(chain);
  std::vector<audio::Sample> buf(static_cast<std::size_t>(8192) * chain.channels);
  for (core::FrameCount done = 0; done < total;) {
    const core::FrameCount n = std::min<core::FrameCount>(8192, total - done);
    src->read(buf.data(), n);
    const auto* bytes = reinterpret_cast<const unsigned char*>(buf.data());
    for (std::size_t i = 0; i < static_cast<std::size_t>(n * chain.channels) * 4; ++i)
      h = (h ^ bytes[i]) * 1099511628211ull;
    done += n;
  }
  return h ^ static_cast<std::uint64_t>(total);
}

// Everything recovery must bring back: name, audio, positions and the undo ring.
std::string Fingerprint(const WaveDocument& d) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "file=%s len=%lld rate=%u ch=%d sel=%lld-%lld cur=%lld view=%lld-%lld audio=%016llx idx=%d",
                d.file().filename().c_str(), static_cast<long long>(d.length()), d.sampleRate(),
                d.channels(), static_cast<long long>(d.selStart()), static_cast<long long>(d.selEnd()),
                static_cast<long long>(d.cursor()), static_cast<long long>(d.viewStart()),
                static_cast<long long>(d.viewEnd()), static_cast<unsigned long long>(Hash(d.chain())),
                d.history().index());
  std::string out = buf;
  for (int i = 0; i < core::kUndoEntries; ++i) {
    const auto& e = d.history().entry(i);
    if (e.name.empty()) continue;
    std::snprintf(buf, sizeof buf, " u%d=%s:%016llx:%lld-%lld", i, e.name.c_str(),
                  static_cast<unsigned long long>(Hash(e.state.chain)),
                  static_cast<long long>(e.state.selStart), static_cast<long long>(e.state.selEnd));
    out += buf;
  }
  return out;
}

int Make(const fs::path& file) {
  auto sink = formats::MakeSaveSink(file, kRate, 2, settings::Settings::Process(), 16);
  constexpr core::FrameCount kFrames = 20 * kRate;
  std::vector<audio::Sample> v(2 * static_cast<std::size_t>(kFrames));
  std::uint32_t noise = 12345;
  for (core::FrameCount i = 0; i < kFrames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double tone = std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / kRate);
    v[2 * i] = static_cast<audio::Sample>(tone * 200000) + static_cast<audio::Sample>(noise >> 20) - 2048;
    v[2 * i + 1] = static_cast<audio::Sample>(tone * -150000);
  }
  sink->write(v.data(), kFrames);
  if (!sink->Finish()) {
    std::fprintf(stderr, "%s\n", sink->failureMessage().c_str());
    return 2;
  }
  return 0;
}

struct Step {
  const char* name;
  std::function<std::int32_t()> run;
};

// A SIGKILL from a thread of our own after us microseconds: a kill that lands at an
// exact moment, which no outside poller can aim at within an edit.
void KillAfter(long long us) {
  std::thread([us] {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
    ::kill(::getpid(), SIGKILL);
  }).detach();
}

struct RunOptions {
  bool fingerprints = false;
  bool times = false;
  int checkpoint = 0;
  long long killStep = -1, killUs = 0;
};

int Run(const fs::path& in, const fs::path& outDir, const RunOptions& o) {
  const bool fingerprints = o.fingerprints;
  const auto t0 = std::chrono::steady_clock::now();
  if (o.killStep == 0) KillAfter(o.killUs);
  auto stamp = [&]() -> std::string {
    if (!o.times) return "";
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    return " t=" + std::to_string(us.count());
  };
  std::string why;
  auto session = core::StoreSession::Start(settings::Settings::Process(), &why);
  if (!session) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 2;
  }
  core::SegmentStore& store = session->store();
  core::JournalKeeper& journals = session->journals();
  formats::DispatchEnv env(settings::Settings::Process());
  formats::LoadFileTask load(in, store, env);
  platform::ScriptedProgressFactory progress;
  load.Run(progress);
  if (load.result != platform::kTaskDone) {
    std::fprintf(stderr, "%s\n", load.message().c_str());
    return 2;
  }
  WaveDocument doc(std::move(load.chain()), 0, in);
  doc.SetRecorder(journals.NewRecorder());

  core::ProgramClipboard clipboard(&store);
  platform::FakeClipboard system;
  formats::FormatsFileIo files(settings::Settings::Process());
  core::EditContext ctx{store, clipboard, progress, settings::Settings::Process(), nullptr, &files,
                        &system, nullptr, formats::DefaultAdaptors(), {}, false};
  auto sec = [](double s) { return static_cast<FramePos>(s * kRate); };
  auto select = [&](double a, double b) {
    return [&doc, &sec, a, b]() -> std::int32_t {
      doc.SetSelection(sec(a), sec(b), sec(a));
      return platform::kTaskDone;
    };
  };
  auto save = [&](const char* name) {
    return [&, name]() -> std::int32_t {
      const fs::path target = outDir / name;
      formats::SaveChainTask task(doc.chain(), target, env, 24);
      task.Run(progress);
      if (task.result != platform::kTaskDone) return task.result;
      // One change: the document names its new file and counts as saved together.
      platform::BusyGuard guard(doc.busyFlag());
      doc.SetFile(target);
      doc.MarkSaved();
      return platform::kTaskDone;
    };
  };
  using core::InsertWhere;
  const std::vector<Step> steps = {
      {"select", select(0, 0)},
      {"amplify", [&] { return effects::AmplifyCommand(ctx, doc, 150); }},
      {"select", select(1, 3)},
      {"delete", [&] { return core::Delete(ctx, doc); }},
      {"select", select(2, 6)},
      {"fade-in", [&] { return effects::FadeInCommand(ctx, doc); }},
      {"select", select(0, 0.5)},
      {"cut", [&] { return core::Cut(ctx, doc); }},
      {"select", select(5, 5)},
      {"paste", [&] { return core::Paste(ctx, doc); }},
      {"select", select(0, 0)},
      {"normalize", [&] { return effects::NormalizeCommand(ctx, doc, 90); }},
      {"select", select(3, 3)},
      {"insert-silence", [&] { return core::InsertSilence(ctx, doc, InsertWhere::Cursor, 300); }},
      {"select", select(4, 12)},
      {"speed", [&] { return effects::SpeedCommand(ctx, doc, effects::SpeedKind::SpeedOnly, 90); }},
      {"save", save("saved.wav")},
      {"select", select(1, 9)},
      {"reverse", [&] { return effects::ReverseCommand(ctx, doc); }},
      {"undo", [&] { return core::UndoEdit(ctx, doc); }},
      {"redo", [&] { return core::RedoEdit(ctx, doc); }},
      {"select", select(0, 0)},
      {"dc-offset", [&] { return effects::DcOffsetCommand(ctx, doc); }},
      {"select", select(0.5, 15)},
      {"trim", [&] { return core::Trim(ctx, doc); }},
      {"select", select(1, 2)},
      {"repeat", [&] { return core::RepeatLoop(ctx, doc, 2); }},
      {"select", select(8, 14)},
      {"fade-out", [&] { return effects::FadeOutCommand(ctx, doc); }},
      {"select", select(0, 0)},
      {"pan", [&] { return effects::StereoPanCommand(ctx, doc, 30); }},
      {"undo", [&] { return core::UndoEdit(ctx, doc); }},
      {"save", save("saved.wav")},
      {"select", select(2, 4)},
      {"amplify", [&] { return effects::AmplifyCommand(ctx, doc, 80); }},
      {"select", select(0, 0)},
      {"speed", [&] { return effects::SpeedCommand(ctx, doc, effects::SpeedKind::SpeedAndPitch, 110); }},
  };
  std::printf("done 0%s%s%s\n", fingerprints ? " " : "", fingerprints ? Fingerprint(doc).c_str() : "",
              stamp().c_str());
  std::fflush(stdout);
  for (std::size_t k = 1; k <= steps.size(); ++k) {
    const Step& s = steps[k - 1];
    std::printf("start %zu %s%s\n", k, s.name, stamp().c_str());
    std::fflush(stdout);
    if (o.killStep == static_cast<long long>(k)) KillAfter(o.killUs);
    const std::int32_t r = s.run();
    if (r != platform::kTaskDone) {
      std::fprintf(stderr, "step %zu (%s) failed: %s\n", k, s.name, ctx.message.c_str());
      return 2;
    }
    std::printf("done %zu%s%s%s\n", k, fingerprints ? " " : "", fingerprints ? Fingerprint(doc).c_str() : "",
                stamp().c_str());
    if (o.checkpoint > 0 && k % static_cast<std::size_t>(o.checkpoint) == 0) {
      journals.WaitDurable();
      std::printf("durable %zu\n", k);
    }
    std::fflush(stdout);
  }
  const std::string failure = journals.TakeFailure();
  if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
  std::printf("finished\n");
  std::fflush(stdout);
  if (!fingerprints) ::pause();  // killed here: the last state must come back
  return 0;
}

int Check() {
  const fs::path base = core::ChooseWorkingFolder(settings::Settings::Process());
  auto runs = core::FindDeadRuns(base);
  std::string why;
  auto session = core::StoreSession::Start(settings::Settings::Process(), &why);
  if (!session) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 2;
  }
  int found = 0;
  for (auto& run : runs) {
    for (const core::RecoverableDocument& d : run->documents()) {
      ++found;
      if (!d.problem.empty()) std::printf("problem %s\n", d.problem.c_str());
      auto doc = run->Recover(d, session->store(), &why);
      if (!doc) {
        std::printf("unrecoverable %s\n", why.c_str());
        continue;
      }
      std::printf("recovered %s\n", Fingerprint(*doc).c_str());
    }
  }
  return found == 0 ? 3 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 2 && a[0] == "make") return Make(a[1]);
  if (a.size() == 1 && a[0] == "check") return Check();
  if (a.size() >= 3 && a[0] == "run") {
    RunOptions o;
    for (std::size_t i = 3; i < a.size(); ++i) {
      if (a[i] == "--fingerprints") o.fingerprints = true;
      else if (a[i] == "--times") o.times = true;
      else if (a[i] == "--checkpoint" && i + 1 < a.size()) o.checkpoint = std::atoi(a[++i].c_str());
      else if (a[i] == "--kill-at" && i + 1 < a.size() &&
               std::sscanf(a[++i].c_str(), "%lld:%lld", &o.killStep, &o.killUs) == 2) {}
      else {
        std::fprintf(stderr, "recovery_drill: unknown option \"%s\"\n", a[i].c_str());
        return 2;
      }
    }
    return Run(a[1], a[2], o);
  }
  std::fputs("usage: recovery_drill make IN | run IN OUTDIR [--fingerprints] [--checkpoint N] [--times] [--kill-at K:US] | check\n", stderr);
  return 2;
}
