#include "core/journal_keeper.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
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
// At most this often the disk is asked to flush, however fast the edits come.
constexpr auto kFlushGap = std::chrono::milliseconds(20);
// A log is started afresh (one whole record) once it grows past this and past twice
// its first record, so that replaying it stays quick.
constexpr std::int64_t kRotateBytes = 1 << 20;

// Which of the 65,536 file ids a set of chains names.
class IdSet {
 public:
  IdSet() : words_(kWords, 0) {}
  void Add(const ChainImage& c) {
    for (const AudioSegment& s : c.segments)
      if (s.fileId != kNoFile) words_[s.fileId >> 6] |= std::uint64_t{1} << (s.fileId & 63);
  }
  bool Has(FileId id) const { return words_[id >> 6] >> (id & 63) & 1; }
  // The ids of this set that other lacks.
  std::vector<FileId> Minus(const IdSet& other) const {
    std::vector<FileId> out;
    for (std::size_t w = 0; w < kWords; ++w)
      for (std::uint64_t bits = words_[w] & ~other.words_[w]; bits; bits &= bits - 1)
        out.push_back(static_cast<FileId>(w * 64 + static_cast<std::size_t>(std::countr_zero(bits))));
    return out;
  }

 private:
  static constexpr std::size_t kWords = 65536 / 64;
  std::vector<std::uint64_t> words_;
};

IdSet NamedIds(const JournalImage& j) {
  IdSet ids;
  ids.Add(j.present.chain);
  for (const UndoImage& e : j.undo) ids.Add(e.state.chain);
  return ids;
}

// Whether an undo entry still holds the state last written for it. The segments are
// compared too: a version does not always fix the audio (Split changes it without a
// push), and the comparison costs far less than writing the chain again.
bool SameState(const UndoHistory::Entry& e, const UndoImage& image) {
  if (e.name != image.name) return false;
  if (e.name.empty()) return true;
  const DocumentState& s = e.state;
  const StateImage& i = image.state;
  return s.version == i.version && s.cursor == i.cursor && s.selStart == i.selStart &&
         s.selEnd == i.selEnd && s.viewStart == i.viewStart && s.viewEnd == i.viewEnd &&
         s.chain.sampleRate == i.chain.sampleRate && s.chain.channels == i.chain.channels &&
         s.chain.segments() == i.chain.segments;
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
    std::uint64_t generation;
    if (ParseJournalFileName(it->path().filename().string(), &doc, &generation) &&
        !EmptyJournal(it->path()))
      return true;
  }
  // A folder that cannot be listed might hold some: it is not ours to delete.
  return static_cast<bool>(ec);
}

bool EmptyJournal(const fs::path& file) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  return !ec && size <= kJournalHeaderBytes;
}

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

namespace detail {

// The logs of every document and the thread that flushes them. A document's newest
// log file takes its records; older ones wait until it is on the disk, then go.
class JournalCore {
 public:
  explicit JournalCore(SegmentStore& store) : store_(store), folder_(store.workingFolder()) {
    store_.SetDurable(true);
    thread_ = std::thread([this] { Run(); });
  }
  ~JournalCore() { Stop(); }

  SegmentStore& store() { return store_; }
  const fs::path& folder() const { return folder_; }

  // Joins the thread after it has flushed everything pending; later records (of
  // documents that outlive the keeper) are flushed on the caller's thread.
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

  // A new log of document number, its first record written; it holds held.
  void Started(int number, std::uint64_t generation, fs::path path, UniqueFd fd, std::int64_t bytes,
               std::vector<FileId> held) {
    {
      std::lock_guard lk(m_);
      auto it = docs_.find(number);
      if (it == docs_.end()) return;
      LogFile& f = it->second.emplace_back();
      f.generation = generation;
      f.path = std::move(path);
      f.fd = std::move(fd);
      f.written = bytes;
      f.held = std::move(held);
      f.heavyPending = true;
    }
    Kick();
  }

  // Records appended to the newest log, now bytes long; it also holds added.
  void Appended(int number, std::int64_t bytes, bool light, const std::vector<FileId>& added) {
    bool wake;
    {
      std::lock_guard lk(m_);
      auto it = docs_.find(number);
      if (it == docs_.end() || it->second.empty()) return;
      LogFile& f = it->second.back();
      f.written = bytes;
      f.held.insert(f.held.end(), added.begin(), added.end());
      // The thread is woken only for news: an edit while one already waits is taken
      // along with it, which spares a thread switch per edit.
      wake = stop_ || (light ? !f.lightSince && !f.heavyPending : !f.heavyPending);
      if (!light) f.heavyPending = true;
      else if (!f.lightSince) f.lightSince = Clock::now();
    }
    if (wake) Kick();
  }

  // The document is closed: its logs and their references go.
  void Close(int number) {
    std::lock_guard lk(m_);
    auto it = docs_.find(number);
    if (it == docs_.end()) return;
    for (LogFile& f : it->second) Drop(f);
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

  void NoteFailure(std::string text) {
    std::lock_guard lk(failureLock_);
    if (failure_.empty()) failure_ = std::move(text);
  }

  std::string TakeFailure() {
    std::lock_guard lk(failureLock_);
    return std::exchange(failure_, {});
  }

 private:
  struct LogFile {
    std::uint64_t generation = 0;
    fs::path path;
    UniqueFd fd;
    std::int64_t written = 0;     // bytes of whole records
    std::int64_t synced = 0;      // of them on the disk
    std::int64_t failedAt = -1;   // a flush up to here failed: not retried until more is written
    bool named = false;           // its folder entry is on the disk
    bool heavyPending = false;    // an edit waits to be flushed
    std::optional<Clock::time_point> lightSince;  // only selection changes wait, since then
    std::vector<FileId> held;     // each holding one reference of ours
  };
  // A log chosen for flushing: its document, generation, length and own descriptor.
  struct Pick1 {
    int number;
    std::uint64_t generation;
    std::int64_t upTo;
    bool name;
    UniqueFd fd;
  };

  void Kick() {
    bool here;
    {
      std::lock_guard lk(m_);
      here = stop_;
    }
    if (here) FlushNow();
    else wake_.notify_all();
  }

  static bool Settled(const LogFile& f) { return (f.synced >= f.written && f.named) || f.failedAt >= f.written; }

  bool AllSettled() const {
    for (const auto& [n, files] : docs_)
      if (!files.empty() && !Settled(files.back())) return false;
    return true;
  }

  // Unlinks the file and gives back its references.
  void Drop(LogFile& f) {
    f.fd.reset();
    std::error_code ec;
    fs::remove(f.path, ec);
    for (FileId id : f.held) store_.ReleaseFileRef(id);
    f.held.clear();
  }

  // The newest log of each document with records due for flushing, with m_ held. A
  // descriptor of its own, so a document closed meanwhile is harmless.
  std::vector<Pick1> Pick(Clock::time_point* nextDue) {
    std::vector<Pick1> picks;
    const auto now = Clock::now();
    for (auto& [n, files] : docs_) {
      if (files.empty() || Settled(files.back())) continue;
      LogFile& f = files.back();
      const bool due = hurry_ || f.heavyPending || !f.named || !f.lightSince || now - *f.lightSince >= kLightDelay;
      if (!due) {
        *nextDue = std::min(*nextDue, *f.lightSince + kLightDelay);
        continue;
      }
      f.heavyPending = false;
      f.lightSince.reset();
      picks.push_back({n, f.generation, f.written, !f.named, UniqueFd(::fcntl(f.fd.get(), F_DUPFD_CLOEXEC, 0))});
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

  // Flushes the picked logs (and the folder for new ones), then deletes the logs that
  // a flushed one supersedes.
  void FlushRound(std::vector<Pick1> picks) {
    if (picks.empty()) return;
    // The audio first: a record must never reach the disk before the samples it names.
    // Every file the picked records name was noted fresh before they were written.
    bool audioOk = true;
    std::vector<FileId> fresh = store_.TakeFresh();
    for (std::size_t i = 0; i < fresh.size(); ++i) {
      for (const fs::path& p : {store_.SampleFilePath(fresh[i]), store_.PeakFilePath(fresh[i])}) {
        UniqueFd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd && errno == ENOENT) continue;  // let go of meanwhile
        if (!fd || ::fsync(fd.get()) != 0) {
          audioOk = false;
          for (std::size_t k = i; k < fresh.size(); ++k) store_.NoteFresh(fresh[k]);
          break;
        }
      }
      if (!audioOk) break;
    }
    std::vector<bool> ok(picks.size(), audioOk);
    bool anyNew = false;
    for (std::size_t i = 0; i < picks.size(); ++i) {
      ok[i] = ok[i] && picks[i].fd && ::fdatasync(picks[i].fd.get()) == 0;
      anyNew |= picks[i].name;
    }
    bool dirOk = true;
    if (anyNew) {
      UniqueFd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      dirOk = dir && ::fsync(dir.get()) == 0;
    }
    std::lock_guard lk(m_);
    for (std::size_t i = 0; i < picks.size(); ++i) {
      auto it = docs_.find(picks[i].number);
      if (it == docs_.end()) continue;
      auto& files = it->second;
      auto f = std::find_if(files.begin(), files.end(),
                            [&](const LogFile& x) { return x.generation == picks[i].generation; });
      if (f == files.end()) continue;
      if (!ok[i] || (picks[i].name && !dirOk)) {
        // The older logs stay: the last flushed state is still on the disk.
        f->failedAt = picks[i].upTo;
        NoteFailure("Cannot flush the recovery journal \"" + f->path.string() + "\" to the disk.");
        continue;
      }
      f->synced = std::max(f->synced, picks[i].upTo);
      f->named = true;
      for (auto old = files.begin(); old != f; ++old) Drop(*old);
      files.erase(files.begin(), f);
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
      // A breather between flushes: edits in quick succession share the next one,
      // and appends do not keep meeting pages that are being written out.
      wake_.wait_for(lk, kFlushGap, [this] { return stop_ || hurry_; });
    }
  }

  SegmentStore& store_;
  fs::path folder_;
  std::mutex m_;
  std::condition_variable wake_, flushed_;
  std::map<int, std::deque<LogFile>> docs_;
  int nextDocument_ = 1;
  int inFlight_ = 0;
  bool stop_ = false;
  bool hurry_ = false;  // flush selection changes at once
  std::mutex failureLock_;
  std::string failure_;
  std::thread thread_;
};

}  // namespace detail

namespace {

using detail::ErrnoText;
using detail::UniqueFd;
using detail::WriteAt;

// One document's log, written on the document's thread. It keeps the state it last
// wrote, so each record carries only what changed since.
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
    // The first record keeps the time given for the document.
    if (!light && !std::exchange(keepTime_, false)) changedAtMs_ = WallClockMs();
    keepTime_ = false;
    last_.sequence = ++sequence_;
    Scalars(doc);
    if (light && fd_ >= 0 && !restart_) return Append(EncodeRecord(last_, {false, 0}), true, {});

    RecordParts parts{false, 0};
    if (doc.chain().sampleRate != last_.present.chain.sampleRate ||
        doc.chain().channels != last_.present.chain.channels ||
        doc.chain().segments() != last_.present.chain.segments) {
      last_.present.chain = ImageOf(doc.chain());
      parts.presentChain = true;
    }
    for (int i = 0; i < kUndoEntries; ++i) {
      const UndoHistory::Entry& e = doc.history().entry(i);
      UndoImage& image = last_.undo[static_cast<std::size_t>(i)];
      if (SameState(e, image)) continue;
      image.name = e.name;
      image.state = e.name.empty() ? StateImage{} : StateImage{ImageOf(e.state.chain), e.state.cursor, e.state.selStart,
                                                               e.state.selEnd, e.state.viewStart, e.state.viewEnd,
                                                               e.state.version};
      parts.entries = static_cast<std::uint8_t>(parts.entries | 1u << i);
    }
    IdSet named = NamedIds(last_);
    const std::vector<FileId> dropped = held_.Minus(named);
    const bool big = written_ > std::max(kRotateBytes, 2 * wholeBytes_);
    if (fd_ < 0 || restart_ || !dropped.empty() || big) return Restart(std::move(named));
    const std::vector<FileId> added = named.Minus(held_);
    for (FileId id : added) core_->store().AddFileRef(id);
    held_ = std::move(named);
    Append(EncodeRecord(last_, parts), false, added);
  }

 private:
  void Scalars(const WaveDocument& doc) {
    last_.changedAtMs = changedAtMs_;
    last_.untitledNumber = doc.untitledNumber();
    last_.file = doc.file().string();
    last_.savedVersion = doc.savedVersion();
    last_.nextVersion = doc.nextVersion();
    last_.mark1 = doc.mark1();
    last_.mark2 = doc.mark2();
    last_.undoIndex = doc.history().index();
    StateImage& p = last_.present;
    p.cursor = doc.cursor();
    p.selStart = doc.selStart();
    p.selEnd = doc.selEnd();
    p.viewStart = doc.viewStart();
    p.viewEnd = doc.viewEnd();
    p.version = doc.version();
  }

  // A new log file opening with the whole state; the old one goes once it is flushed.
  void Restart(IdSet named) {
    restart_ = true;
    const std::uint64_t generation = ++generation_;
    const fs::path path = core_->folder() / JournalFileName(number_, generation);
    const std::string bytes = JournalFileHeader() + EncodeRecord(last_);
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd || !WriteAt(fd.get(), bytes.data(), bytes.size(), 0)) {
      core_->NoteFailure("Cannot write the recovery journal \"" + path.string() + "\": " + ErrnoText() + ".");
      if (fd) fs::remove(path);
      return;  // the last log stays as it was; the next change tries again
    }
    // The document holds every one of them now, so they are alive to take.
    std::vector<FileId> held = named.Minus(IdSet());
    for (FileId id : held) core_->store().AddFileRef(id);
    fd_ = fd.get();
    written_ = wholeBytes_ = static_cast<std::int64_t>(bytes.size());
    held_ = std::move(named);
    restart_ = false;
    core_->Started(number_, generation, path, std::move(fd), written_, std::move(held));
  }

  void Append(const std::string& bytes, bool light, const std::vector<FileId>& added) {
    if (!WriteAt(fd_, bytes.data(), bytes.size(), written_)) {
      core_->NoteFailure("Cannot write the recovery journal: " + ErrnoText() + ".");
      // Whatever part of the record got in goes, and the next change starts afresh.
      if (::ftruncate(fd_, written_) != 0) {}
      restart_ = true;
      core_->Appended(number_, written_, light, added);
      return;
    }
    written_ += static_cast<std::int64_t>(bytes.size());
    core_->Appended(number_, written_, light, added);
  }

  std::shared_ptr<detail::JournalCore> core_;
  int number_;
  bool keepTime_;
  std::int64_t changedAtMs_;
  std::uint64_t sequence_ = 0;
  std::uint64_t generation_ = 0;
  JournalImage last_;        // the state the records so far add up to
  IdSet held_;               // the ids the newest log holds
  int fd_ = -1;              // the newest log, owned by the core
  std::int64_t written_ = 0;
  std::int64_t wholeBytes_ = 0;  // its first record
  bool restart_ = false;     // a write failed: the next change starts a new log
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
