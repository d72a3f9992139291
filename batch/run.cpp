#include "batch/run.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "batch/types.h"
#include "core/clipboard.h"
#include "core/document.h"
#include "core/edit_commands.h"
#include "formats/document_io.h"
#include "formats/format_table.h"
#include "formats/playlist.h"
#include "formats/tags.h"
#include "platform/clipboard.h"

namespace quillet::batch {
namespace {

namespace fs = std::filesystem;
constexpr std::string_view kSection = "BatchConverter";

// The progress windows of one job: no window at all, only its state for the run's
// display, and the run's cancel flag.
class JobWindows final : public platform::ProgressWindowFactory {
 public:
  JobWindows(std::mutex& lock, FileProgress& state, const std::atomic<bool>& cancel)
      : lock_(lock), state_(state), cancel_(cancel) {}

  std::unique_ptr<platform::ProgressWindow> Create() override {
    return std::make_unique<Window>(*this);
  }
  void SetOwnerEnabled(bool) override {}
  void ShowOwnerMessage(std::string_view text, std::string_view, platform::MessageIcon) override {
    Keep(text);
  }

  void SetText(std::string_view text) {
    std::lock_guard guard(lock_);
    state_.text = text;
    state_.percent = 0;
  }
  // The last message a task showed: the reason when nothing else gave one.
  const std::string& message() const { return message_; }

 private:
  class Window final : public platform::ProgressWindow {
   public:
    explicit Window(JobWindows& owner) : owner_(owner) {}
    void SetCaption(std::string_view) override {}
    void SetText(int line, std::string_view text) override {
      if (line == 0 && !text.empty()) owner_.SetText(text);
    }
    void SetProgress(int percent) override {
      std::lock_guard guard(owner_.lock_);
      owner_.state_.percent = percent;
    }
    bool PumpEvents(int) override { return owner_.cancel_.load(); }
    void ShowMessage(std::string_view text, std::string_view, platform::MessageIcon) override {
      owner_.Keep(text);
    }

   private:
    JobWindows& owner_;
  };

  void Keep(std::string_view text) { message_ = text; }

  std::mutex& lock_;
  FileProgress& state_;
  const std::atomic<bool>& cancel_;
  std::string message_;
};

struct Shared {
  const std::vector<fs::path>& files;
  const std::vector<PreparedStep>& steps;
  const OutputRule& rule;
  settings::Settings& settings;
  core::SegmentStore& store;
  std::mutex lock;  // progress, outcomes, finished
  std::condition_variable changed;
  std::vector<FileProgress> progress;
  std::vector<std::optional<FileOutcome>> outcomes;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> cancel{false};
  std::atomic<bool> stop{false};  // no new files
  bool stopOnFailure = true;
};

platform::Outcome Failed(const std::string& why, const JobWindows& windows) {
  return platform::Outcome::Failed(why.empty() ? windows.message() : why);
}

platform::Outcome ConvertOne(Shared& sh, std::size_t index, FileOutcome& out) {
  JobWindows windows(sh.lock, sh.progress[index], sh.cancel);
  const fs::path& source = sh.files[index];
  formats::DispatchEnv env(sh.settings);
  env.owner = &windows;

  windows.SetText("Loading file " + source.string());
  formats::LoadFileTask load(source, sh.store, env);
  load.Run(windows);
  if (load.result == platform::kTaskCancelled) return platform::Outcome::Cancelled();
  if (load.result != platform::kTaskDone) return Failed(load.message(), windows);
  core::WaveDocument doc(std::move(load.chain()), 0, source);

  core::ProgramClipboard clipboard(&sh.store);
  platform::FakeClipboard system;
  formats::FormatsFileIo fileIo(sh.settings);
  core::EditContext ctx{sh.store, clipboard, windows, sh.settings, nullptr, &fileIo, &system,
                        nullptr, formats::DefaultAdaptors(), {}, false};
  for (const PreparedStep& step : sh.steps) {
    if (step.skip) continue;
    if (!step.command) return platform::Outcome::Failed(step.message);
    windows.SetText(step.command->progressText.empty() ? core::MenuLabel(step.command->menuText)
                                                       : step.command->progressText);
    core::SelectAll(doc);
    core::CommandCall call{ctx, &doc, step.values ? &*step.values : nullptr, nullptr,
                           step.command};
    ctx.message.clear();
    const platform::TaskResult result = step.command->run(call);
    if (result == platform::kTaskCancelled) return platform::Outcome::Cancelled();
    if (result != platform::kTaskDone)
      return Failed(core::MenuLabel(step.command->menuText) + ": " + ctx.message, windows);
  }

  windows.SetText("Saving file...");
  formats::LAudioTagList tags;
  formats::ReadTags(tags, source);
  formats::SaveChainTask save(doc.chain(), out.target, env, load.sourceBits(), nullptr,
                              std::move(tags));
  save.Run(windows);
  if (save.result == platform::kTaskCancelled) return platform::Outcome::Cancelled();
  if (save.result != platform::kTaskDone) return Failed(save.message(), windows);
  return platform::Outcome::Done();
}

void Work(Shared& sh) {
  for (;;) {
    const std::size_t i = sh.next.fetch_add(1);
    if (i >= sh.files.size()) return;
    FileOutcome out{sh.files[i], {}, platform::Outcome::Cancelled()};
    if (!sh.stop.load() && !sh.cancel.load()) {
      {
        std::lock_guard guard(sh.lock);
        sh.progress[i].state = FileProgress::State::Running;
      }
      // Checked before the run starts; nullopt cannot reach here.
      out.target = OutputPathFor(out.source, sh.rule).value_or(fs::path());
      out.outcome = ConvertOne(sh, i, out);
      // Files start in list order, so every earlier one has started: it may finish.
      if (!out.outcome.done() && sh.stopOnFailure) sh.stop = true;
    }
    std::lock_guard guard(sh.lock);
    using S = FileProgress::State;
    sh.progress[i].state = out.outcome.done() ? S::Done
                           : out.outcome.result == platform::kTaskCancelled ? S::Cancelled
                                                                            : S::Failed;
    sh.outcomes[i] = std::move(out);
    sh.changed.notify_all();
  }
}

fs::path Normal(const fs::path& p) {
  std::error_code ec;
  fs::path n = fs::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : n;
}

}  // namespace

OutputRule LoadOutputRule(const settings::Settings& s) {
  OutputRule r;
  r.sameFormat = s.GetBool(kSection, "SaveSameFileFormat", true);
  r.formatIndex = std::size_t(std::max(0, s.GetInt(kSection, "SaveFileFormat", 0)));
  r.sameFolder = s.GetBool(kSection, "SameOutputFolder", true);
  r.folder = s.GetString(kSection, "OutputFolder", "");
  return r;
}

void StoreOutputRule(settings::Settings& s, const OutputRule& rule) {
  s.SetBool(kSection, "SaveSameFileFormat", rule.sameFormat);
  s.SetInt(kSection, "SaveFileFormat", int(rule.formatIndex));
  s.SetBool(kSection, "SameOutputFolder", rule.sameFolder);
  s.SetString(kSection, "OutputFolder", rule.folder.string());
}

std::string ExtensionOf(const fs::path& file) {
  const std::string text = file.string();
  const std::size_t slash = text.rfind('/');
  const std::size_t dot = text.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return text.substr(dot);
}

std::optional<fs::path> OutputPathFor(const fs::path& source, const OutputRule& rule) {
  std::string ext = ExtensionOf(source);
  if (!rule.sameFormat) {
    const auto list = formats::OutputFormatList();
    if (rule.formatIndex >= list.size()) return std::nullopt;
    ext = list[rule.formatIndex];
  }
  const std::string text = source.string();
  const std::size_t slash = text.rfind('/');
  const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
  const std::string stem = name.substr(0, name.size() - ExtensionOf(name).size());
  std::string folder = rule.sameFolder ? (slash == std::string::npos ? std::string()
                                                                     : text.substr(0, slash + 1))
                                       : rule.folder.string();
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return fs::path(folder + stem + ext);
}

std::string CheckOutputs(const std::vector<fs::path>& files, const OutputRule& rule) {
  std::map<fs::path, std::size_t> sources;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!sources.emplace(Normal(files[i]), i).second)
      return "The file \"" + files[i].string() + "\" is in the list more than once.";
  }
  std::map<fs::path, std::size_t> targets;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::optional<fs::path> target = OutputPathFor(files[i], rule);
    if (!target) return "The output format is not in the list of formats.";
    const fs::path t = Normal(*target);
    const auto s = sources.find(t);
    if (s != sources.end() && s->second != i)
      return "Converting \"" + files[i].string() + "\" would replace \"" +
             files[s->second].string() + "\", which is also in the list.";
    const auto [at, fresh] = targets.emplace(t, i);
    if (!fresh)
      return "\"" + files[at->second].string() + "\" and \"" + files[i].string() +
             "\" would both be saved as \"" + target->string() + "\".";
    // A playlist also writes its MP3 beside it.
    if (formats::WritesBesideTarget(formats::RowForFile(*target))) {
      const fs::path mp3 = Normal(formats::PlaylistMp3Path(*target));
      const auto m = sources.find(mp3);
      if (m != sources.end())
        return "Converting \"" + files[i].string() + "\" would replace \"" +
               files[m->second].string() + "\", which is also in the list.";
      if (!targets.emplace(mp3, i).second)
        return "Two files of the list would both be saved as \"" + mp3.string() + "\".";
    }
  }
  return {};
}

int DefaultJobs() { return std::max(1, int(std::thread::hardware_concurrency())); }

platform::Outcome RunBatch(const std::vector<fs::path>& files, const BatchCommandList& commands,
                           const OutputRule& rule, const core::CommandRegistry& registry,
                           settings::Settings& settings, core::SegmentStore& store,
                           const RunOptions& options) {
  if (std::string why = CheckOutputs(files, rule); !why.empty())
    return platform::Outcome::Failed(why);
  if (!rule.sameFolder && !fs::is_directory(rule.folder))
    return platform::Outcome::Failed("The folder  \"" + rule.folder.string() +
                                     "\" does not exist.");
  // Values are taken once, before any job starts, so every file runs with the same.
  std::vector<PreparedStep> steps;
  for (const BatchCommand& c : commands) steps.push_back(PrepareStep(c, registry, settings));

  Shared sh{files, steps, rule, settings, store};
  sh.stopOnFailure = options.stopOnFailure;
  sh.progress.resize(files.size());
  sh.outcomes.resize(files.size());
  const int jobs = std::clamp<int>(options.jobs, 1, std::max<int>(1, int(files.size())));
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j) workers.emplace_back([&sh] { Work(sh); });

  platform::Outcome total = platform::Outcome::Done();
  std::size_t reported = 0;
  std::unique_lock guard(sh.lock);
  while (reported < files.size()) {
    sh.changed.wait_for(guard, std::chrono::milliseconds(100));
    while (reported < files.size() && sh.outcomes[reported]) {
      const FileOutcome out = *sh.outcomes[reported];
      if (!out.outcome.done() && total.done()) {
        total = out.outcome.result == platform::kTaskCancelled
                    ? platform::Outcome::Cancelled()
                    : platform::Outcome::Failed(out.source.string() + ": " + out.outcome.message);
        // Every earlier file is finished: only later ones are still running.
        if (options.stopOnFailure) sh.stop = sh.cancel = true;
      }
      guard.unlock();
      if (options.report) options.report(reported, out);
      guard.lock();
      ++reported;
    }
    if (options.tick) {
      const std::vector<FileProgress> snapshot = sh.progress;
      guard.unlock();
      if (!options.tick(snapshot)) sh.cancel = true;
      guard.lock();
    }
  }
  guard.unlock();
  for (std::thread& t : workers) t.join();
  return total;
}

}  // namespace quillet::batch
