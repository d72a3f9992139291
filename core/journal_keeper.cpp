#include "core/journal_keeper.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/detail/file_io.h"
#include "core/journal.h"

namespace quillet::core {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char kPrefix[] = "doc-";
// A change of selection or view alone is flushed this long after it is written:
// dragging a selection must not flush the disk at every mouse move.
constexpr auto kLightDelay = std::chrono::seconds(1);

// The distinct sample files the image names.
std::vector<FileId> NamedFiles(const JournalImage& j) {
  std::vector<FileId> ids;
  auto add = [&](const ChainImage& c) {
    for (const AudioSegment& s : c.segments)
      if (s.fileId != kNoFile) ids.push_back(s.fileId);
  };
  add(j.present.chain);
  for (const UndoImage& e : j.undo) add(e.state.chain);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

}  // namespace

std::string JournalFileName(int document, std::uint64_t sequence) {
  return kPrefix + std::to_string(document) + "-" + std::to_string(sequence) + kJournalExtension;
}

bool ParseJournalFileName(const std::string& name, int* document, std::uint64_t* sequence) {
  const std::string_view ext = kJournalExtension;
  if (name.size() <= std::string_view(kPrefix).size() + ext.size() || name.rfind(kPrefix, 0) != 0 ||
      name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
    return false;
  const char* p = name.data() + std::string_view(kPrefix).size();
  const char* end = name.data() + name.size() - ext.size();
  int doc = 0;
  std::uint64_t seq = 0;
  auto [q, ec] = std::from_chars(p, end, doc);
  if (ec != std::errc() || q == end || *q != '-' || doc < 0) return false;
  auto [r, ec2] = std::from_chars(q + 1, end, seq);
  if (ec2 != std::errc() || r != end) return false;
  *document = doc;
  *sequence = seq;
  return true;
}

bool HoldsJournals(const fs::path& folder) {
  std::error_code ec;
  auto it = fs::directory_iterator(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    int doc;
    std::uint64_t seq;
    if (ParseJournalFileName(it->path().filename().string(), &doc, &seq)) return true;
  }
  // A folder that cannot be listed might hold some: it is not ours to delete.
  return static_cast<bool>(ec);
}

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace detail {

class JournalCore {
 public:
  explicit JournalCore(SegmentStore& store) : store_(store), folder_(store.workingFolder()) {
    store_.SetDurable(true);
    thread_ = std::thread([this] { Run(); });
  }

  // Joins the thread after it has flushed everything pending; later writes (of
  // documents that outlive the keeper) flush on the caller's thread.
  void Stop() {
    {
      std::lock_guard lk(m_);
      if (stop_) return;
      stop_ = hurry_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  int Open() {
    std::lock_guard lk(m_);
    const int n = nextDocument_++;
    docs_[n];
    return n;
  }

  // Writes doc's state as journal sequence of document number.
  void Write(int number, const WaveDocument& doc, std::uint64_t sequence, std::int64_t changedAtMs,
             bool light) {
    const JournalImage image = ImageOf(doc, sequence, changedAtMs);
    const std::string bytes = EncodeJournal(image);
    Entry e;
    e.sequence = sequence;
    e.path = folder_ / JournalFileName(number, sequence);
    e.light = light;
    e.written = Clock::now();
    e.files = NamedFiles(image);
    // The document holds all of them now, so they are alive to take.
    for (FileId id : e.files) store_.AddFileRef(id);
    e.fd.reset(::open(e.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!e.fd || !WriteAt(e.fd.get(), bytes.data(), bytes.size(), 0)) {
      NoteFailure("Cannot write the recovery journal \"" + e.path.string() + "\": " + ErrnoText() + ".");
      Drop(e);
      return;
    }
    bool flushHere = false;
    {
      std::lock_guard lk(m_);
      auto it = docs_.find(number);
      if (it == docs_.end()) {
        Drop(e);
        return;
      }
      flushHere = stop_;
      it->second.push_back(std::move(e));
    }
    if (flushHere) return FlushNow();
    wake_.notify_all();
  }

  // The document is closed: its journals and their references go.
  void Close(int number) {
    std::lock_guard lk(m_);
    auto it = docs_.find(number);
    if (it == docs_.end()) return;
    for (Entry& e : it->second) Drop(e);
    docs_.erase(it);
    flushed_.notify_all();
  }

  void WaitDurable() {
    std::unique_lock lk(m_);
    hurry_ = true;
    wake_.notify_all();
    flushed_.wait(lk, [this] { return stop_ || (inFlight_ == 0 && AllSettled()); });
    hurry_ = stop_;
    if (stop_) {
      lk.unlock();
      FlushNow();
    }
  }

  std::string TakeFailure() {
    std::lock_guard lk(failureLock_);
    return std::exchange(failure_, {});
  }

  ~JournalCore() { Stop(); }

 private:
  struct Entry {
    std::uint64_t sequence = 0;
    fs::path path;
    UniqueFd fd;
    std::vector<FileId> files;  // each holding one reference of ours
    bool light = false;
    bool settled = false;  // flushed, or its flush failed: nothing more to do
    Clock::time_point written;
  };
  // A newest journal chosen for flushing: its document, sequence and own descriptor.
  struct Pick1 {
    int number;
    std::uint64_t sequence;
    UniqueFd fd;
  };

  bool AllSettled() const {
    for (const auto& [n, entries] : docs_)
      if (!entries.empty() && !entries.back().settled) return false;
    return true;
  }

  void NoteFailure(std::string text) {
    std::lock_guard lk(failureLock_);
    if (failure_.empty()) failure_ = std::move(text);
  }

  // Unlinks the file and gives back its references.
  void Drop(Entry& e) {
    e.fd.reset();
    std::error_code ec;
    fs::remove(e.path, ec);
    for (FileId id : e.files) store_.ReleaseFileRef(id);
    e.files.clear();
  }

  // The newest unsettled journal of each document that is due, with m_ held. A
  // descriptor of its own, so a document closed meanwhile is harmless.
  std::vector<Pick1> Pick(Clock::time_point* nextDue) {
    std::vector<Pick1> picks;
    const auto now = Clock::now();
    for (auto& [n, entries] : docs_) {
      if (entries.empty() || entries.back().settled) continue;
      const Entry& e = entries.back();
      if (e.light && !hurry_ && now - e.written < kLightDelay) {
        *nextDue = std::min(*nextDue, e.written + kLightDelay);
        continue;
      }
      picks.push_back({n, e.sequence, UniqueFd(::fcntl(e.fd.get(), F_DUPFD_CLOEXEC, 0))});
    }
    return picks;
  }

  // On the caller's thread, once the flushing thread is gone.
  void FlushNow() {
    std::vector<Pick1> picks;
    {
      std::lock_guard lk(m_);
      auto unused = Clock::time_point::max();
      picks = Pick(&unused);
    }
    FlushRound(std::move(picks));
  }

  // Flushes the picked journals and the folder, then deletes what they supersede.
  void FlushRound(std::vector<Pick1> picks) {
    if (picks.empty()) return;
    std::vector<bool> ok(picks.size());
    for (std::size_t i = 0; i < picks.size(); ++i) ok[i] = picks[i].fd && ::fsync(picks[i].fd.get()) == 0;
    {
      UniqueFd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!dir || ::fsync(dir.get()) != 0) std::fill(ok.begin(), ok.end(), false);
    }
    std::lock_guard lk(m_);
    for (std::size_t i = 0; i < picks.size(); ++i) {
      auto it = docs_.find(picks[i].number);
      if (it == docs_.end()) continue;
      auto& entries = it->second;
      auto e = std::find_if(entries.begin(), entries.end(),
                            [&](const Entry& x) { return x.sequence == picks[i].sequence; });
      if (e == entries.end()) continue;
      e->settled = true;
      if (!ok[i]) {
        // The older journals stay: the last flushed state is still on the disk.
        NoteFailure("Cannot flush the recovery journal \"" + e->path.string() + "\" to the disk.");
        continue;
      }
      e->fd.reset();
      for (auto old = entries.begin(); old != e; ++old) Drop(*old);
      entries.erase(entries.begin(), e);
    }
    flushed_.notify_all();
  }

  void Run() {
    std::unique_lock lk(m_);
    for (;;) {
      auto nextDue = Clock::time_point::max();
      std::vector<Pick1> picks = Pick(&nextDue);
      if (picks.empty()) {
        if (stop_) break;
        flushed_.notify_all();
        if (nextDue == Clock::time_point::max()) wake_.wait(lk);
        else wake_.wait_until(lk, nextDue);
        continue;
      }
      ++inFlight_;
      lk.unlock();
      FlushRound(std::move(picks));
      lk.lock();
      --inFlight_;
      flushed_.notify_all();
    }
  }

  SegmentStore& store_;
  fs::path folder_;
  std::mutex m_;
  std::condition_variable wake_, flushed_;
  std::map<int, std::deque<Entry>> docs_;
  int nextDocument_ = 1;
  int inFlight_ = 0;
  bool stop_ = false;
  bool hurry_ = false;  // flush selection-only changes at once
  std::mutex failureLock_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace detail

namespace {

class DocumentJournal final : public DocumentRecorder {
 public:
  DocumentJournal(std::shared_ptr<detail::JournalCore> core, std::optional<std::int64_t> changedAtMs)
      : core_(std::move(core)),
        number_(core_->Open()),
        keepTime_(changedAtMs.has_value()),
        changedAtMs_(changedAtMs.value_or(WallClockMs())) {}
  ~DocumentJournal() override { core_->Close(number_); }

  void Changed(const WaveDocument& doc, WaveDocument::Change c) override {
    const bool light = c == WaveDocument::Change::Selection || c == WaveDocument::Change::View;
    // The first call records the document as it came; its time is the one given.
    if (!light && !std::exchange(keepTime_, false)) changedAtMs_ = WallClockMs();
    keepTime_ = false;
    core_->Write(number_, doc, ++sequence_, changedAtMs_, light);
  }

 private:
  std::shared_ptr<detail::JournalCore> core_;
  int number_;
  bool keepTime_;
  std::int64_t changedAtMs_;
  std::uint64_t sequence_ = 0;
};

}  // namespace

JournalKeeper::JournalKeeper(SegmentStore& store)
    : core_(std::make_shared<detail::JournalCore>(store)) {}

JournalKeeper::~JournalKeeper() { core_->Stop(); }

std::unique_ptr<DocumentRecorder> JournalKeeper::NewRecorder(std::optional<std::int64_t> changedAtMs) {
  return std::make_unique<DocumentJournal>(core_, changedAtMs);
}

void JournalKeeper::WaitDurable() { core_->WaitDurable(); }

std::string JournalKeeper::TakeFailure() { return core_->TakeFailure(); }

}  // namespace quillet::core
