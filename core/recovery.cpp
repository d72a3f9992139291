#include "core/recovery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <system_error>

#include "core/journal_keeper.h"
#include "core/peaks.h"
#include "core/sample_file.h"
#include "core/segment_sink.h"

namespace quillet::core {
namespace {

namespace fs = std::filesystem;

constexpr char kRunPrefix[] = "run-";
constexpr char kLockName[] = ".lock";

std::string SampleName(FileId id) { return std::to_string(id) + ".aud"; }
std::string PeakName(FileId id) { return std::to_string(id) + ".grf"; }

// Size in bytes, or -1 when the file is not there.
std::int64_t SizeOf(const fs::path& p) {
  struct stat st;
  if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

// Whole frames of a sample file in whatever sample width its header gives, or -1 when
// the file is not there.
FrameCount FramesIn(const fs::path& p, int channels) {
  const std::int64_t bytes = SizeOf(p);
  if (bytes < 0) return -1;
  detail::UniqueFd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return -1;
  const SampleFileLayout layout = ReadSampleFileLayout(fd.get());
  const std::int64_t frameBytes = std::int64_t{channels} * layout.width;
  return frameBytes <= 0 ? 0 : std::max<std::int64_t>(0, bytes - layout.headerBytes) / frameBytes;
}

template <typename F>
void ForEachChain(const JournalImage& j, F&& f) {
  f(j.present.chain);
  for (const UndoImage& e : j.undo)
    if (!e.name.empty()) f(e.state.chain);
}

// What the image's segments miss in folder: frames that would be silence.
struct Damage {
  FrameCount frames = 0;
  int files = 0;  // sample files missing or short
};

Damage Inspect(const JournalImage& j, const fs::path& folder) {
  std::map<FileId, FrameCount> frames;
  std::map<FileId, bool> counted;
  Damage d;
  ForEachChain(j, [&](const ChainImage& c) {
    for (const AudioSegment& s : c.segments) {
      if (s.fileId == kNoFile) continue;
      auto it = frames.find(s.fileId);
      if (it == frames.end())
        it = frames.emplace(s.fileId, FramesIn(folder / SampleName(s.fileId), c.channels)).first;
      const FrameCount have = std::max<FrameCount>(0, it->second);
      const FrameCount missing = std::min(s.frameCount, std::max<FrameCount>(0, s.startFrame + s.frameCount - have));
      if (missing <= 0) continue;
      d.frames += missing;
      if (!std::exchange(counted[s.fileId], true)) ++d.files;
    }
  });
  return d;
}

// The whole of a journal file; false with *error when it cannot be read.
bool ReadJournalFile(const fs::path& p, std::vector<std::uint8_t>& bytes, std::string* error) {
  detail::UniqueFd fd(::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    *error = detail::ErrnoText();
    return false;
  }
  // Logs start afresh long before this; anything larger is not one of ours.
  constexpr off_t kMaxLogBytes = off_t{1} << 30;
  if (st.st_size > kMaxLogBytes) {
    *error = "the journal is " + std::to_string(st.st_size) + " bytes long, larger than any journal can be";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
  bytes.resize(detail::ReadAt(fd.get(), bytes.data(), bytes.size(), 0));
  return true;
}

// What one journal file offers: its newest state, and the newest state whose audio is
// all there.
struct Replayed {
  std::optional<JournalImage> newest, intact;
  Damage newestDamage;
  std::string error;  // why the replay stopped before the end
};

Replayed Replay(const fs::path& file, const fs::path& folder) {
  Replayed r;
  std::vector<std::uint8_t> bytes;
  if (!ReadJournalFile(file, bytes, &r.error)) return r;
  ReplayJournal(bytes, [&](const JournalImage& j) { r.newest = j; }, &r.error);
  if (!r.newest) return r;
  r.newestDamage = Inspect(*r.newest, folder);
  if (r.newestDamage.frames == 0) {
    r.intact = r.newest;
    return r;
  }
  // Rare: an earlier state may still be whole.
  ReplayJournal(bytes, [&](const JournalImage& j) {
    if (Inspect(j, folder).frames == 0) r.intact = j;
  }, nullptr);
  return r;
}

// Links from to to (the same file under a second name, which costs nothing), copying
// when the two folders are on different file systems.
bool LinkOrCopy(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::remove(to, ec);
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  return fs::copy_file(from, to, ec);
}

// The sample file's audio written anew through a sink: its peak file and summary
// come out right whatever state the old peak file was in.
bool CopyThroughSink(const fs::path& file, std::uint32_t rate, int channels, AudioChain& out,
                     std::string* message) {
  detail::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) {
    *message = "Cannot read \"" + file.string() + "\": " + detail::ErrnoText() + ".";
    return false;
  }
  const SampleFileLayout layout = ReadSampleFileLayout(fd.get());
  auto sink = ChainOpenSink(out, rate, channels);
  constexpr FrameCount kBlock = 8192;
  const std::size_t frameBytes = static_cast<std::size_t>(channels) * static_cast<std::size_t>(layout.width);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kBlock) * frameBytes);
  std::vector<Sample> buf(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(channels));
  for (std::int64_t at = layout.headerBytes;;) {
    const std::size_t got = detail::ReadAt(fd.get(), bytes.data(), bytes.size(), at);
    const FrameCount frames = static_cast<FrameCount>(got / frameBytes);
    if (frames == 0) break;
    const std::size_t samples = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
    DecodeSamples(bytes.data(), samples, layout.width, buf.data());
    sink->write(buf.data(), frames);
    at += static_cast<std::int64_t>(samples) * layout.width;
  }
  if (!sink->Finish()) {
    *message = sink->failureMessage();
    return false;
  }
  return true;
}

// Where a dead copy's sample file went in the live store.
struct Moved {
  FileId id = kNoFile;
  FrameCount frames = 0;  // frames the file holds
};

AudioChain Rebuild(const ChainImage& c, const std::map<FileId, Moved>& moved, SegmentStore& store) {
  AudioChain chain(&store);
  chain.sampleRate = c.sampleRate;
  chain.channels = c.channels;
  for (AudioSegment s : c.segments) {
    FrameCount have = s.frameCount;
    if (s.fileId != kNoFile) {
      const Moved& m = moved.at(s.fileId);
      s.fileId = m.id;
      have = m.id == kNoFile ? 0 : std::clamp<FrameCount>(m.frames - s.startFrame, 0, s.frameCount);
    }
    if (have > 0) ChainAppendSegment(chain, AudioSegment{s.fileId, have, s.gain, s.startFrame});
    if (have < s.frameCount)
      ChainAppendSegment(chain, AudioSegment{kNoFile, s.frameCount - have, kUnityGain, 0});
  }
  return chain;
}

DocumentState RebuildState(const StateImage& s, const std::map<FileId, Moved>& moved,
                           SegmentStore& store) {
  return DocumentState{Rebuild(s.chain, moved, store), s.cursor, s.selStart, s.selEnd,
                       s.viewStart, s.viewEnd, s.version};
}

std::string FramesText(FrameCount n) { return std::to_string(n) + (n == 1 ? " frame" : " frames"); }

}  // namespace

std::string LocalTimeText(std::int64_t ms) {
  const std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  char buf[32];
  if (!::localtime_r(&t, &tm) || std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm) == 0)
    return "?";
  return buf;
}

std::vector<std::unique_ptr<DeadRun>> FindDeadRuns(const fs::path& base) {
  std::vector<std::unique_ptr<DeadRun>> runs;
  std::vector<std::pair<fs::file_time_type, std::size_t>> order;
  std::error_code ec;
  for (auto it = fs::directory_iterator(base, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (it->is_symlink(ec) || !it->is_directory(ec)) continue;
    if (it->path().filename().string().rfind(kRunPrefix, 0) != 0) continue;
    detail::UniqueFd lock(::open((it->path() / kLockName).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    // A lock we cannot take belongs to a copy that is still running (or another
    // copy recovering this one).
    if (!lock || ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (!HoldsJournals(it->path())) continue;
    std::unique_ptr<DeadRun> run(new DeadRun(it->path(), std::move(lock)));
    run->Scan();
    if (run->documents().empty()) continue;
    order.emplace_back(it->last_write_time(ec), runs.size());
    runs.push_back(std::move(run));
  }
  std::sort(order.begin(), order.end());
  std::vector<std::unique_ptr<DeadRun>> sorted;
  for (const auto& [time, i] : order) sorted.push_back(std::move(runs[i]));
  return sorted;
}

void DeadRun::Scan() {
  std::map<int, std::vector<std::uint64_t>> journals;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder_, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    int doc;
    std::uint64_t generation;
    if (ParseJournalFileName(it->path().filename().string(), &doc, &generation) && !EmptyJournal(it->path()))
      journals[doc].push_back(generation);
  }
  for (auto& [number, generations] : journals) {
    std::sort(generations.rbegin(), generations.rend());
    RecoverableDocument d;
    d.number = number;
    // The newest log first; an older one is there only while the newest was not yet
    // on the disk, and stands in when the newest has nothing whole to offer.
    std::optional<JournalImage> chosen, fallback;
    Damage fallbackDamage;
    std::string newestError;
    bool newestCut = false, chosenNotNewest = false;
    for (std::size_t i = 0; i < generations.size() && !chosen; ++i) {
      Replayed r = Replay(folder_ / JournalFileName(number, generations[i]), folder_);
      if (i == 0) {
        newestError = r.error;
        newestCut = !r.error.empty();
      }
      if (r.intact) {
        chosenNotNewest = i > 0 || !r.newest || r.intact->sequence != r.newest->sequence;
        chosen = std::move(r.intact);
      } else if (r.newest && !fallback) {
        fallback = std::move(r.newest);
        fallbackDamage = r.newestDamage;
      }
    }
    if (!chosen && !fallback) {
      d.name = JournalFileName(number, generations.front());
      d.problem = "No journal of it can be read: " + newestError + ".";
      documents_.push_back(std::move(d));
      continue;
    }
    Damage damage;
    if (!chosen) {
      chosen = std::move(fallback);
      damage = fallbackDamage;
    }
    d.readable = true;
    d.name = DocumentName(*chosen);
    d.frames = ImageLength(chosen->present.chain);
    d.sampleRate = chosen->present.chain.sampleRate;
    d.channels = chosen->present.chain.channels;
    d.changedAtMs = chosen->changedAtMs;
    auto say = [&](const std::string& text) { d.problem += (d.problem.empty() ? "" : " ") + text; };
    if (newestCut) say("The end of its journal is damaged (" + newestError + "); the last whole state before it is recovered.");
    if (chosenNotNewest && damage.frames == 0)
      say("Its latest state names audio that is gone; an earlier state is recovered.");
    if (damage.frames > 0)
      say(std::to_string(damage.files) + " of its sample files are missing or short: " + FramesText(damage.frames) +
          " of its audio and undo history become silence.");
    images_.emplace(number, std::move(*chosen));
    documents_.push_back(std::move(d));
  }
}

std::unique_ptr<WaveDocument> DeadRun::Recover(const RecoverableDocument& doc, SegmentStore& store,
                                               std::string* message) {
  auto fail = [&](std::string text) -> std::unique_ptr<WaveDocument> {
    if (message) *message = std::move(text);
    return nullptr;
  };
  auto found = images_.find(doc.number);
  if (gone_ || found == images_.end()) return fail("\"" + doc.name + "\" cannot be recovered: " + doc.problem);
  const JournalImage& j = found->second;

  // Every sample file the journal names, each brought into store once.
  std::map<FileId, Moved> moved;
  std::vector<AudioChain> copies;  // hold the files written anew until the chains do
  std::vector<FileId> allocated;   // ids holding our allocation's reference
  auto release = [&] {
    for (FileId id : allocated) store.ReleaseFileRef(id);
  };
  bool ok = true;
  std::string why;
  ForEachChain(j, [&](const ChainImage& c) {
    for (const AudioSegment& s : c.segments) {
      if (!ok || s.fileId == kNoFile || moved.count(s.fileId)) continue;
      Moved& m = moved[s.fileId];
      const fs::path sample = folder_ / SampleName(s.fileId);
      const FrameCount framesThere = FramesIn(sample, c.channels);
      if (framesThere < 0) continue;  // gone: its segments become silence
      m.frames = framesThere;
      const std::int64_t records = (m.frames + kPeakBlockFrames - 1) / kPeakBlockFrames;
      const fs::path peaks = folder_ / PeakName(s.fileId);
      if (SizeOf(peaks) == records * 2 * c.channels) {
        const FileId id = store.AllocateFileId();
        if (id == kNoFile) {
          ok = false;
          why = "Cannot keep more audio: all " + std::to_string(kMaxFileIds) + " sample files are in use.";
          return;
        }
        allocated.push_back(id);
        if (!LinkOrCopy(sample, store.SampleFilePath(id)) || !LinkOrCopy(peaks, store.PeakFilePath(id))) {
          ok = false;
          why = "Cannot bring \"" + sample.string() + "\" into the working folder: " + detail::ErrnoText() + ".";
          return;
        }
        std::vector<std::uint8_t> bytesOfPeaks(static_cast<std::size_t>(records * 2 * c.channels));
        detail::UniqueFd pfd(::open(peaks.c_str(), O_RDONLY | O_CLOEXEC));
        if (pfd && detail::ReadAt(pfd.get(), bytesOfPeaks.data(), bytesOfPeaks.size(), 0) == bytesOfPeaks.size())
          store.SetPeakSummary(id, SummarizePeakRecords(bytesOfPeaks.data(), records, c.channels));
        m.id = id;
      } else {
        AudioChain copy(&store);
        if (!CopyThroughSink(sample, c.sampleRate, c.channels, copy, &why)) {
          ok = false;
          return;
        }
        m.id = copy.empty() ? kNoFile : copy.segments().front().fileId;
        copies.push_back(std::move(copy));
      }
    }
  });
  if (!ok) {
    release();
    return fail("\"" + doc.name + "\" cannot be recovered: " + why);
  }

  DocumentRecord r;
  r.present = RebuildState(j.present, moved, store);
  r.mark1 = j.mark1;
  r.mark2 = j.mark2;
  r.savedVersion = j.savedVersion;
  r.nextVersion = j.nextVersion;
  r.untitledNumber = j.untitledNumber;
  r.file = j.file;
  r.undoIndex = j.undoIndex;
  for (int i = 0; i < kUndoEntries; ++i) {
    const UndoImage& e = j.undo[static_cast<std::size_t>(i)];
    UndoHistory::Entry& out = r.undo[static_cast<std::size_t>(i)];
    out.name = e.name;
    out.state = e.name.empty() ? DocumentState{AudioChain(&store)} : RebuildState(e.state, moved, store);
  }
  release();  // the chains hold their own references now
  std::unique_ptr<WaveDocument> d = WaveDocument::FromRecord(std::move(r));
  if (!d->modified()) d->SetModified(true);
  if (message) message->clear();
  return d;
}

bool RecoverDocument(DeadRun& run, const RecoverableDocument& doc, SegmentStore& store,
                     JournalKeeper& journals,
                     const std::function<void(std::unique_ptr<WaveDocument>)>& adopt,
                     std::string* message) {
  const RecoverableDocument keep = doc;  // Forget drops the run's entry
  std::unique_ptr<WaveDocument> d = run.Recover(keep, store, message);
  if (!d) return false;
  d->SetRecorder(journals.NewRecorder(keep.changedAtMs));
  adopt(std::move(d));
  journals.WaitDurable();
  run.Forget(keep.number);
  return true;
}

void DeadRun::Forget(int number) {
  if (gone_) return;
  std::error_code ec;
  std::vector<fs::path> doomed;
  for (auto it = fs::directory_iterator(folder_, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    int doc;
    std::uint64_t seq;
    if (ParseJournalFileName(it->path().filename().string(), &doc, &seq) && doc == number)
      doomed.push_back(it->path());
  }
  for (const fs::path& p : doomed) fs::remove(p, ec);
  images_.erase(number);
  std::erase_if(documents_, [&](const RecoverableDocument& d) { return d.number == number; });
  if (!HoldsJournals(folder_)) Discard();
}

void DeadRun::Discard() {
  std::error_code ec;
  fs::remove_all(folder_, ec);
  gone_ = true;
  documents_.clear();
  images_.clear();
}

}  // namespace quillet::core
