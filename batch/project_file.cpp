#include "batch/project_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

#include "audio/sample.h"
#include "batch/bookmarks.h"
#include "batch/regions.h"
#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "formats/wave_format.h"
#include "platform/frame_time.h"
#include "platform/paths.h"
#include "platform/record_file.h"

namespace quillet::batch {
namespace {

using platform::Outcome;

constexpr core::FrameCount kBlockFrames = 8192;

// Samples travel as little-endian 32-bit integers.
void ToLittleEndian(audio::Sample* s, std::size_t n) {
  if constexpr (std::endian::native == std::endian::big)
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<audio::Sample>(__builtin_bswap32(static_cast<std::uint32_t>(s[i])));
}

std::uint64_t AudioBytes(const core::AudioChain& chain) {
  return kAudioHeadBytes +
         static_cast<std::uint64_t>(core::ChainLength(chain)) * static_cast<std::uint64_t>(chain.channels) * 4;
}

std::string Describe(std::string_view what, std::size_t index) {
  return std::string(what) + " " + std::to_string(index + 1);
}

// Keeps the running byte count for the progress bar.
class Progress {
 public:
  Progress(const ProjectProgress& p, std::uint64_t total) : p_(p), total_(std::max<std::uint64_t>(total, 1)) {}
  void Step(std::string_view text) const {
    if (p_.step) p_.step(text);
  }
  bool Advance(std::uint64_t bytes) {
    done_ += bytes;
    return !p_.progress || p_.progress(static_cast<double>(done_) / static_cast<double>(total_));
  }

 private:
  const ProjectProgress& p_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
};

std::string WriteErrno(int err) {
  return std::string("the file cannot be written (") + std::strerror(err ? err : EIO) + ")";
}

Outcome WriteAudio(const core::AudioChain& chain, platform::SafeFileWriter& out, Progress& progress) {
  const core::FrameCount frames = core::ChainLength(chain);
  platform::RecordWriter head;
  head.U32(chain.sampleRate);
  head.U8(static_cast<std::uint8_t>(chain.channels));
  head.U32(static_cast<std::uint32_t>(frames));
  if (!out.Write(head.bytes().data(), head.bytes().size())) return Outcome::Failed(WriteErrno(out.error()));
  auto source = core::ChainOpenSource(chain);
  std::vector<audio::Sample> block(static_cast<std::size_t>(kBlockFrames * chain.channels));
  for (core::FrameCount at = 0; at < frames;) {
    const core::FrameCount n = std::min(kBlockFrames, frames - at);
    const std::size_t samples = static_cast<std::size_t>(n * chain.channels);
    source->read(block.data(), n);
    if (source->failed()) return Outcome::Failed(source->failureMessage());
    ToLittleEndian(block.data(), samples);
    if (!out.Write(block.data(), samples * 4)) return Outcome::Failed(WriteErrno(out.error()));
    at += n;
    if (!progress.Advance(samples * 4)) return Outcome::Cancelled();
  }
  return Outcome::Done();
}

// A document's positions are stored in signed 32-bit fields.
bool FitsFrames(core::FramePos p) { return p >= 0 && p <= std::numeric_limits<std::int32_t>::max(); }

}  // namespace

std::uint64_t ProjectFileSize(const ProjectContents& c) {
  std::uint64_t size = 1 + 1 + 1 + 1 + 1;
  for (const ProjectDocument& d : c.documents) size += kDocumentRecordBytes + AudioBytes(d.audio);
  size += c.bookmarks.size() * kBookmarkRecordBytes;
  for (const core::Region& r : c.regions) size += kRegionRecordBytes + AudioBytes(r.audio);
  return size;
}

std::string CheckProjectContents(const ProjectContents& c) {
  auto tooMany = [](std::size_t n, std::string_view what) {
    return "A project holds at most 255 " + std::string(what) + "; this one has " + std::to_string(n) + ".";
  };
  if (c.documents.size() > kMaxProjectEntries) return tooMany(c.documents.size(), "files");
  if (c.bookmarks.size() > kMaxProjectEntries) return tooMany(c.bookmarks.size(), "bookmarks");
  if (c.regions.size() > kMaxProjectEntries) return tooMany(c.regions.size(), "regions");
  auto audioFits = [](const core::AudioChain& a) {
    return a.channels >= 1 && a.channels <= audio::kMaxChannels && a.sampleRate >= 1 &&
           core::ChainLength(a) <= std::numeric_limits<std::uint32_t>::max();
  };
  auto textFits = [](const std::string& t) {
    return t.size() < platform::kTextFieldBytes && t.find('\0') == std::string::npos;
  };
  for (std::size_t i = 0; i < c.documents.size(); ++i) {
    const ProjectDocument& d = c.documents[i];
    if (!textFits(d.record.path) || !textFits(d.record.previousPath))
      return "The path of " + (d.record.path.empty() ? Describe("file", i) : d.record.path) +
             " is longer than the 259 characters a project can hold.";
    if (!audioFits(d.audio) || !FitsFrames(core::ChainLength(d.audio)))
      return "The audio of " + Describe("file", i) + " is too long for a project.";
  }
  for (const core::Bookmark& b : c.bookmarks)
    if (!textFits(b.name) || !textFits(b.documentKey))
      return "The bookmark \"" + b.name.substr(0, 40) + "\" has a name too long for a project.";
  for (std::size_t i = 0; i < c.regions.size(); ++i) {
    const core::Region& r = c.regions[i];
    if (!textFits(r.name) || !textFits(r.path))
      return "The path of the region \"" + r.name.substr(0, 40) + "\" is longer than the 259 characters a project can hold.";
    if (!audioFits(r.audio)) return "The audio of the region \"" + r.name + "\" is too long for a project.";
  }
  return {};
}

Outcome WriteProject(const ProjectContents& c, platform::SafeFileWriter& out,
                     const ProjectProgress& pp) {
  if (std::string why = CheckProjectContents(c); !why.empty()) return Outcome::Failed(why);
  Progress progress(pp, ProjectFileSize(c));
  auto put = [&](const platform::RecordWriter& w) {
    return out.Write(w.bytes().data(), w.bytes().size()) && progress.Advance(w.bytes().size());
  };
  auto failed = [&] { return out.failed() ? Outcome::Failed(WriteErrno(out.error())) : Outcome::Cancelled(); };

  progress.Step("Saving files...");
  platform::RecordWriter head;
  head.U8(kProjectVersion);
  head.U8(static_cast<std::uint8_t>(c.documents.size()));
  if (!put(head)) return failed();
  for (const ProjectDocument& d : c.documents) {
    platform::RecordWriter w;
    w.Text(d.record.path);
    w.Text(d.record.previousPath);
    w.U32(d.record.cursor);
    w.U32(d.record.selStart);
    w.I32(d.record.selEnd);
    w.I32(d.record.viewStart);
    w.U32(d.record.viewEnd);
    if (!put(w)) return failed();
    if (Outcome o = WriteAudio(d.audio, out, progress); !o.done()) return o;
  }
  progress.Step("Saving bookmarks...");
  platform::RecordWriter marks;
  marks.U8(static_cast<std::uint8_t>(std::clamp(c.active, 0, 255)));
  marks.U8(static_cast<std::uint8_t>(c.bookmarks.size()));
  for (const core::Bookmark& b : c.bookmarks) WriteBookmarkRecord(marks, b);
  if (!put(marks)) return failed();
  progress.Step("Saving regions...");
  platform::RecordWriter count;
  count.U8(static_cast<std::uint8_t>(c.regions.size()));
  if (!put(count)) return failed();
  for (const core::Region& r : c.regions) {
    platform::RecordWriter w;
    WriteRegionRecord(w, r);
    if (!put(w)) return failed();
    if (Outcome o = WriteAudio(r.audio, out, progress); !o.done()) return o;
  }
  return out.failed() ? failed() : Outcome::Done();
}

namespace {

// The reading side: a cursor over the source that never reads past its end.
class Reader {
 public:
  Reader(platform::ByteSource& in, Progress& progress) : in_(in), progress_(progress) {}

  std::uint64_t remaining() const { return in_.Size() - pos_; }
  // n bytes into a record reader's buffer; false when the file ends first.
  bool Take(std::size_t n, std::string& bytes) {
    if (n > remaining()) return false;
    bytes.resize(n);
    if (!in_.ReadExact(pos_, bytes.data(), n)) return false;
    pos_ += n;
    return progress_.Advance(n) || (cancelled_ = true, false);
  }
  bool TakeRaw(void* out, std::size_t n) {
    if (n > remaining() || !in_.ReadExact(pos_, out, n)) return false;
    pos_ += n;
    return progress_.Advance(n) || (cancelled_ = true, false);
  }
  bool Skip(std::uint64_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return progress_.Advance(n) || (cancelled_ = true, false);
  }
  bool cancelled() const { return cancelled_; }
  std::string failure() const { return in_.failure(); }

 private:
  platform::ByteSource& in_;
  Progress& progress_;
  std::uint64_t pos_ = 0;
  bool cancelled_ = false;
};

Outcome Stop(const Reader& r, std::string why) {
  if (r.cancelled()) return Outcome::Cancelled();
  const std::string io = r.failure();
  return Outcome::Failed(io.empty() ? std::move(why) : io);
}

// An AudioBlock into chain (or, without a store, its length as silence).
Outcome ReadAudio(Reader& r, core::SegmentStore* store, std::string_view what, core::AudioChain& chain) {
  std::string head;
  if (!r.Take(kAudioHeadBytes, head)) return Stop(r, std::string(what) + " is cut short.");
  platform::RecordReader h(head);
  const std::uint32_t rate = h.U32();
  const int channels = h.U8();
  const std::uint32_t frames = h.U32();
  if (rate < 1 || rate > formats::kMaxWaveRate)
    return Outcome::Failed(std::string(what) + " has the sample rate " + std::to_string(rate) + ".");
  if (channels < 1) return Outcome::Failed(std::string(what) + " has no channels.");
  const std::uint64_t bytes = std::uint64_t{frames} * static_cast<std::uint64_t>(channels) * 4;
  if (bytes > r.remaining())
    return Stop(r, std::string(what) + " claims " + std::to_string(frames) + " frames, more than the file holds.");
  chain = core::AudioChain(store);
  chain.sampleRate = rate;
  chain.channels = channels;
  if (!store) {
    core::ChainInsertSilence(chain, 0, frames);
    return r.Skip(bytes) ? Outcome::Done() : Stop(r, std::string(what) + " is cut short.");
  }
  if (frames == 0) return Outcome::Done();
  auto sink = core::ChainOpenSink(chain, rate, channels);
  if (sink->failed()) return Outcome::Failed(sink->failureMessage());
  std::vector<audio::Sample> block(static_cast<std::size_t>(kBlockFrames * channels));
  for (std::uint64_t at = 0; at < frames;) {
    const core::FrameCount n = static_cast<core::FrameCount>(std::min<std::uint64_t>(kBlockFrames, frames - at));
    const std::size_t samples = static_cast<std::size_t>(n * channels);
    if (!r.TakeRaw(block.data(), samples * 4)) {
      sink->Abandon();
      return Stop(r, std::string(what) + " is cut short.");
    }
    ToLittleEndian(block.data(), samples);
    sink->write(block.data(), n);
    if (sink->failed()) {
      sink->Abandon();
      return Outcome::Failed(sink->failureMessage());
    }
    at += static_cast<std::uint64_t>(n);
  }
  if (!sink->Finish()) return Outcome::Failed(sink->failureMessage());
  return Outcome::Done();
}

// The display name a document had when saved; empty for an unsaved one.
std::string SavedTitle(const DocumentRecord& d) { return std::string(platform::PathFileName(d.path)); }

// Bookmarks were stored grouped by document in document order: each goes to the first
// document from the previous one's on whose name is its key and whose audio reaches
// its position. Unsaved documents had titles the file does not keep, so a key no
// saved document has goes to the next unsaved one. (Two documents of one name leave
// no mark where the first one's group ends: the position is the only hint.)
std::vector<int> AssignBookmarks(const std::vector<ProjectDocument>& docs,
                                 const std::vector<core::Bookmark>& marks) {
  auto savedName = [&](std::string_view key) {
    return std::any_of(docs.begin(), docs.end(),
                       [&](const ProjectDocument& d) { return !d.record.path.empty() && SameName(SavedTitle(d.record), key); });
  };
  auto named = [&](std::size_t j, const core::Bookmark& b) {
    const DocumentRecord& rec = docs[j].record;
    return rec.path.empty() ? !savedName(b.documentKey) : SameName(SavedTitle(rec), b.documentKey);
  };
  auto matches = [&](std::size_t j, const core::Bookmark& b) {
    const core::AudioChain& a = docs[j].audio;
    return platform::MsFromFrames(core::ChainLength(a), a.sampleRate) >= b.positionMs && named(j, b);
  };
  std::vector<int> out;
  std::size_t from = 0;
  for (const core::Bookmark& b : marks) {
    int found = -1;
    for (std::size_t j = from; j < docs.size() && found < 0; ++j)
      if (matches(j, b)) found = static_cast<int>(j);
    for (std::size_t j = 0; j < from && found < 0; ++j)
      if (matches(j, b)) found = static_cast<int>(j);
    for (std::size_t j = 0; j < docs.size() && found < 0; ++j)
      if (named(j, b)) found = static_cast<int>(j);
    if (found >= 0) from = static_cast<std::size_t>(found);
    out.push_back(found);
  }
  return out;
}

DocumentRecord ClampRecord(DocumentRecord d, core::FrameCount length) {
  const auto len = static_cast<std::int64_t>(length);
  auto clampU = [len](std::uint32_t v) { return static_cast<std::uint32_t>(std::min<std::int64_t>(v, len)); };
  auto clampI = [len](std::int32_t v) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, len)); };
  d.cursor = clampU(d.cursor);
  d.selStart = clampU(d.selStart);
  d.selEnd = clampI(d.selEnd);
  if (static_cast<std::int64_t>(d.selEnd) < d.selStart) d.selEnd = static_cast<std::int32_t>(d.selStart);
  d.viewStart = clampI(d.viewStart);
  d.viewEnd = clampU(d.viewEnd);
  if (static_cast<std::int64_t>(d.viewEnd) <= d.viewStart) {
    d.viewStart = 0;
    d.viewEnd = static_cast<std::uint32_t>(std::min<std::int64_t>(len, std::numeric_limits<std::uint32_t>::max()));
  }
  return d;
}

}  // namespace

Outcome ReadProject(platform::ByteSource& in, core::SegmentStore* store, ProjectContents& out,
                    const ProjectProgress& pp) {
  Progress progress(pp, in.Size());
  Reader r(in, progress);
  ProjectContents c;
  std::string bytes;
  progress.Step("Loading files...");
  if (!r.Take(2, bytes)) return Stop(r, "The project is empty.");
  if (static_cast<std::uint8_t>(bytes[0]) != kProjectVersion)
    return Outcome::Failed(std::string(platform::kFileVersionMessage));
  const int documents = static_cast<std::uint8_t>(bytes[1]);
  for (int i = 0; i < documents; ++i) {
    const std::string what = Describe("File", static_cast<std::size_t>(i));
    if (!r.Take(kDocumentRecordBytes, bytes)) return Stop(r, what + " is cut short.");
    platform::RecordReader rec(bytes);
    ProjectDocument d;
    d.record.path = rec.Text();
    d.record.previousPath = rec.Text();
    d.record.cursor = rec.U32();
    d.record.selStart = rec.U32();
    d.record.selEnd = rec.I32();
    d.record.viewStart = rec.I32();
    d.record.viewEnd = rec.U32();
    if (Outcome o = ReadAudio(r, store, what, d.audio); !o.done()) return o;
    d.record = ClampRecord(d.record, core::ChainLength(d.audio));
    c.documents.push_back(std::move(d));
  }
  progress.Step("Loading bookmark...");
  if (!r.Take(2, bytes)) return Stop(r, "The project ends before its bookmarks.");
  c.active = documents == 0 ? 0 : std::min<int>(static_cast<std::uint8_t>(bytes[0]), documents - 1);
  const int marks = static_cast<std::uint8_t>(bytes[1]);
  if (std::uint64_t{static_cast<unsigned>(marks)} * kBookmarkRecordBytes > r.remaining())
    return Stop(r, "The project's bookmarks are cut short.");
  for (int i = 0; i < marks; ++i) {
    if (!r.Take(kBookmarkRecordBytes, bytes)) return Stop(r, "The project's bookmarks are cut short.");
    platform::RecordReader rec(bytes);
    c.bookmarks.push_back(ReadBookmarkRecord(rec));
  }
  c.bookmarkDocuments = AssignBookmarks(c.documents, c.bookmarks);
  progress.Step("Loading region...");
  if (!r.Take(1, bytes)) return Stop(r, "The project ends before its regions.");
  const int regions = static_cast<std::uint8_t>(bytes[0]);
  for (int i = 0; i < regions; ++i) {
    const std::string what = Describe("Region", static_cast<std::size_t>(i));
    if (!r.Take(kRegionRecordBytes, bytes)) return Stop(r, what + " is cut short.");
    platform::RecordReader rec(bytes);
    core::Region region = ReadRegionRecord(rec);
    if (Outcome o = ReadAudio(r, store, what, region.audio); !o.done()) return o;
    c.regions.push_back(std::move(region));
  }
  out = std::move(c);
  return Outcome::Done();
}

bool SaveProjectTask::Execute() {
  SetText(0, "Saving project");
  int err = 0;
  auto writer = platform::SafeFileWriter::Create(file_, &err);
  if (!writer) {
    message_ = "Cannot create a file beside " + file_.string() + ": " + std::strerror(err);
    result = platform::kTaskFailed;
    return true;
  }
  ProjectProgress pp;
  pp.step = [this](std::string_view s) { SetText(1, s); };
  pp.progress = [this](double f) {
    SetProgress(f);
    return !Pump();
  };
  Outcome o = WriteProject(contents_, *writer, pp);
  if (o.done() && !writer->Commit()) o = Outcome::Failed(WriteErrno(writer->error()));
  result = o.result;
  message_ = o.message;
  return true;
}

bool LoadProjectTask::Execute() {
  int err = 0;
  auto in = platform::FileByteSource::Open(file_, &err);
  if (!in) {
    message_ = file_.string() + ": " + std::strerror(err);
    result = platform::kTaskFailed;
    return true;
  }
  ProjectProgress pp;
  pp.step = [this](std::string_view s) { SetText(0, s); };
  pp.progress = [this](double f) {
    SetProgress(f);
    return !Pump();
  };
  const Outcome o = ReadProject(*in, &store_, contents_, pp);
  wrongVersion_ = o.message == platform::kFileVersionMessage;
  result = o.result;
  message_ = o.message;
  return true;
}

}  // namespace quillet::batch
