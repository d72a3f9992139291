#include "core/segment_sink.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "audio/kernel.h"
#include "platform/file_copy.h"

namespace quillet::core {
namespace {

constexpr std::size_t kPendingLimit = 64 * 1024;
// Blocks queued for the writer thread before the caller waits.
constexpr std::size_t kQueuedBlocks = 4;

// Raises mx and lowers mn to the extremes of each channel over frames frames of samples,
// or of 16-bit words (2-byte sample files) that stand for sixteen times their value.
// Mono and stereo go a vector at a time (a stereo vector's even lanes are channel 0).
template <typename T>
[[gnu::always_inline]] inline void ExtremesOf(const T* in, FrameCount frames, int channels, Sample* mx,
                                              Sample* mn) {
  constexpr Sample kScale = sizeof(T) == 2 ? 16 : 1;
  constexpr int kLanes = 32 / sizeof(T);
  typedef T Lanes __attribute__((vector_size(32)));
  std::size_t i = 0;
  const std::size_t n = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels);
  // Within a block every extreme starts at 0, so lanes start there too.
  T hiOut[kLanes] = {}, loOut[kLanes] = {};
  if (channels <= 2) {
    Lanes hi{}, lo{};
    for (; i + kLanes <= n; i += kLanes) {
      Lanes v;
      std::memcpy(&v, in + i, sizeof v);
      const Lanes above = v > hi, below = v < lo;
      hi = (v & above) | (hi & ~above);
      lo = (v & below) | (lo & ~below);
    }
    std::memcpy(hiOut, &hi, sizeof hi);
    std::memcpy(loOut, &lo, sizeof lo);
    for (int k = 0; k < kLanes; ++k) {
      mx[k % channels] = std::max(mx[k % channels], Sample{hiOut[k]} * kScale);
      mn[k % channels] = std::min(mn[k % channels], Sample{loOut[k]} * kScale);
    }
  }
  for (; i < n; ++i) {
    const int c = static_cast<int>(i % static_cast<std::size_t>(channels));
    mx[c] = std::max(mx[c], Sample{in[i]} * kScale);
    mn[c] = std::min(mn[c], Sample{in[i]} * kScale);
  }
}

// Built per target here, not on the template: clang does not clone templates.
QUILLET_KERNEL void Extremes(const Sample* in, FrameCount frames, int channels, Sample* mx, Sample* mn) {
  ExtremesOf(in, frames, channels, mx, mn);
}
QUILLET_KERNEL void Extremes(const std::int16_t* in, FrameCount frames, int channels, Sample* mx,
                             Sample* mn) {
  ExtremesOf(in, frames, channels, mx, mn);
}

}  // namespace

// One thread writing queued blocks of bytes at their offsets, in order. The first failure
// stops it; later blocks are dropped and the caller learns of it when it next asks.
class LSegmentSoundSink::FileWriter {
 public:
  explicit FileWriter(int fd) : fd_(fd) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // No thread to be had: Write writes at once.
    }
  }
  ~FileWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // A buffer for the next block, recycled from written ones.
  std::vector<std::uint8_t> Buffer() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.empty()) return {};
    std::vector<std::uint8_t> b = std::move(spare_.back());
    spare_.pop_back();
    return b;
  }
  // Queues bytes for offset, waiting while the queue is full; false when a write failed.
  bool Write(std::vector<std::uint8_t> bytes, std::int64_t offset) {
    if (!thread_.joinable()) {
      if (error_ == 0 && !detail::WriteAt(fd_, bytes.data(), bytes.size(), offset)) error_ = errno ? errno : EIO;
      return error_ == 0;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < kQueuedBlocks || error_; });
    if (error_) return false;
    queue_.push_back({std::move(bytes), offset});
    changed_.notify_all();
    return true;
  }
  // Waits for the queue to empty; 0, or the errno of the failed write.
  int Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return (queue_.empty() && !busy_) || error_; });
    return error_;
  }

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;
    std::int64_t offset;
  };

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopped with nothing left
      Block b = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      lock.unlock();
      const bool ok = error_ == 0 && detail::WriteAt(fd_, b.bytes.data(), b.bytes.size(), b.offset);
      const int why = ok ? 0 : errno;
      lock.lock();
      busy_ = false;
      if (!ok && error_ == 0) error_ = why ? why : EIO;
      if (spare_.size() < kQueuedBlocks) spare_.push_back(std::move(b.bytes));
      changed_.notify_all();
    }
  }

  int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> queue_;
  std::vector<std::vector<std::uint8_t>> spare_;
  bool busy_ = false;
  bool stop_ = false;
  int error_ = 0;
  std::thread thread_;  // started once everything it uses exists
};

LSegmentSoundSink::LSegmentSoundSink(AudioChain& target, std::uint32_t sampleRate, int channels)
    : LSoundSink(sampleRate, channels),
      target_(&target),
      store_(target.store()),
      recordBytes_(2 * LSoundSink::channels()),
      blockMax_(LSoundSink::channels(), 0),
      blockMin_(LSoundSink::channels(), 0),
      summary_(std::make_shared<PeakSummary>()) {
  summary_->channels = LSoundSink::channels();
  if (failed()) return;
  if (!store_) {
    Fail("There is no working folder to keep the audio in.");
    return;
  }
  fileId_ = store_->AllocateFileId();
  if (fileId_ == kNoFile) {
    Fail("Cannot keep more audio: all " + std::to_string(kMaxFileIds) +
         " sample files are in use. Close some documents and try again.");
    return;
  }
  const auto samplePath = store_->SampleFilePath(fileId_);
  const auto peakPath = store_->PeakFilePath(fileId_);
  constexpr int kFlags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
  sampleFile_.reset(::open(samplePath.c_str(), kFlags, 0600));
  if (!sampleFile_) {
    FailOn(samplePath, "create");
    return;
  }
  peakFile_.reset(::open(peakPath.c_str(), kFlags, 0600));
  if (!peakFile_) {
    FailOn(peakPath, "create");
    return;
  }
  width_ = store_->compactSampleFiles() ? 2 : 4;
  std::uint8_t header[kSampleFileHeaderBytes];
  WriteSampleFileHeader(width_, header);
  if (!detail::WriteAt(sampleFile_.get(), header, sizeof header, 0)) {
    FailOn(samplePath, "write");
    return;
  }
  writer_ = std::make_unique<FileWriter>(sampleFile_.get());
}

LSegmentSoundSink::~LSegmentSoundSink() { Finish(); }

void LSegmentSoundSink::FailOn(const std::filesystem::path& file, const char* what) {
  Fail(std::string("Cannot ") + what + " the temporary audio file \"" + file.string() +
       "\": " + detail::ErrnoText() + ".");
  Discard();
}

bool LSegmentSoundSink::Drain() {
  if (!writer_) return !failed();
  if (const int why = writer_->Drain()) {
    errno = why;
    FailOn(store_->SampleFilePath(fileId_), "write");
    return false;
  }
  return !failed();
}

// Gives the id and its files back; the target is not touched.
void LSegmentSoundSink::Discard() {
  writer_.reset();  // joined before its file is closed
  sampleFile_.reset();
  peakFile_.reset();
  if (store_ && fileId_ != kNoFile) store_->ReleaseFileRef(fileId_);
  fileId_ = kNoFile;
}

void LSegmentSoundSink::Abandon() {
  if (finished_) return;
  finished_ = true;
  Discard();
}

void LSegmentSoundSink::write(const Sample* buffer, FrameCount frames) {
  if (failed() || finished_ || frames <= 0) return;
  const std::size_t n = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels());
  const int width = SampleWidthFor(buffer, n, width_);
  if (width > width_ && !(Drain() && Widen(width))) return;
  std::vector<std::uint8_t> bytes = writer_->Buffer();
  bytes.resize(n * static_cast<std::size_t>(width_));
  EncodeSamples(buffer, n, width_, bytes.data());
  if (!writer_->Write(std::move(bytes), OffsetOf(framesWritten()))) {
    Drain();
    return;
  }
  setFramesWritten(framesWritten() + frames);
  Accumulate(buffer, frames);
}

bool LSegmentSoundSink::Widen(int width) {
  const int ch = channels();
  const int old = width_;
  constexpr FrameCount kChunk = 16384;
  std::vector<std::uint8_t> from(static_cast<std::size_t>(kChunk) * ch * old);
  std::vector<Sample> samples(static_cast<std::size_t>(kChunk) * ch);
  std::vector<std::uint8_t> to(static_cast<std::size_t>(kChunk) * ch * width);
  for (FrameCount end = framesWritten(); end > 0;) {
    const FrameCount start = std::max<FrameCount>(end - kChunk, 0);
    const std::size_t n = static_cast<std::size_t>(end - start) * ch;
    width_ = old;
    const std::int64_t at = OffsetOf(start);
    if (detail::ReadAt(sampleFile_.get(), from.data(), n * old, at) != n * old) {
      FailOn(store_->SampleFilePath(fileId_), "read");
      return false;
    }
    DecodeSamples(from.data(), n, old, samples.data());
    EncodeSamples(samples.data(), n, width, to.data());
    width_ = width;
    if (!detail::WriteAt(sampleFile_.get(), to.data(), n * width, OffsetOf(start))) {
      FailOn(store_->SampleFilePath(fileId_), "write");
      return false;
    }
    end = start;
  }
  width_ = width;
  std::uint8_t header[kSampleFileHeaderBytes];
  WriteSampleFileHeader(width_, header);
  if (!detail::WriteAt(sampleFile_.get(), header, sizeof header, 0)) {
    FailOn(store_->SampleFilePath(fileId_), "write");
    return false;
  }
  return true;
}

FrameCount LSegmentSoundSink::writePcm16(const audio::Pcm16Span& span) {
  if (failed() || finished_ || span.frames <= 0 || width_ != 2 || !Drain()) return 0;
  const std::int64_t frameBytes = 2 * std::int64_t{channels()};
  const FrameCount first = framesWritten();
  const platform::CopyResult copied =
      platform::CopyFileBytes(span.fd, static_cast<std::uint64_t>(span.offset), sampleFile_.get(),
                              static_cast<std::uint64_t>(OffsetOf(first)),
                              static_cast<std::uint64_t>(span.frames * frameBytes));
  if (platform::IsTargetFull(copied.error)) {
    errno = copied.error;
    FailOn(store_->SampleFilePath(fileId_), "write");
    return 0;
  }
  // A part frame at a short end is overwritten by whatever comes next.
  const FrameCount frames = static_cast<FrameCount>(copied.bytes) / frameBytes;
  if (frames == 0 || !AccumulateCopied(first, frames)) return 0;
  setFramesWritten(first + frames);
  return frames;
}

bool LSegmentSoundSink::AccumulateCopied(FrameCount first, FrameCount frames) {
  // Mapped rather than read: the copy's pages are in memory, and reading them would
  // copy them once more. The file is the store's own, so nobody cuts it meanwhile.
  static const std::int64_t kPage = ::sysconf(_SC_PAGESIZE);
  constexpr FrameCount kChunk = FrameCount{1} << 19;
  const int ch = channels();
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(kChunk, frames - done);
    const std::int64_t at = OffsetOf(first + done);
    const std::int64_t mapAt = at / kPage * kPage;
    const auto mapBytes = static_cast<std::size_t>(at - mapAt + n * ch * 2);
    void* map = ::mmap(nullptr, mapBytes, PROT_READ, MAP_SHARED | MAP_POPULATE, sampleFile_.get(), mapAt);
    if (map == MAP_FAILED) {
      FailOn(store_->SampleFilePath(fileId_), "read");
      return false;
    }
    Accumulate(reinterpret_cast<const std::int16_t*>(static_cast<const char*>(map) + (at - mapAt)), n);
    ::munmap(map, mapBytes);
    done += n;
  }
  return true;
}

template <typename T>
void LSegmentSoundSink::Accumulate(const T* buffer, FrameCount frames) {
  const int ch = channels();
  while (frames > 0) {
    const FrameCount n = std::min(kPeakBlockFrames - blockFill_, frames);
    Extremes(buffer, n, ch, blockMax_.data(), blockMin_.data());
    buffer += n * ch;
    frames -= n;
    blockFill_ += n;
    if (blockFill_ == kPeakBlockFrames) EmitRecord();
  }
}

void LSegmentSoundSink::EmitRecord() {
  const std::int64_t record = recordsInFile_ + static_cast<std::int64_t>(pending_.size()) / recordBytes_;
  const std::size_t at = pending_.size();
  for (int c = 0; c < channels(); ++c) {
    pending_.push_back(PeakByte(blockMax_[c]));
    pending_.push_back(PeakByte(-std::int64_t{blockMin_[c]}));
    blockMax_[c] = blockMin_[c] = 0;
  }
  AddToSummary(record, pending_.data() + at);
  blockFill_ = 0;
  if (pending_.size() >= kPendingLimit) FlushPeaks();
}

void LSegmentSoundSink::AddToSummary(std::int64_t record, const std::uint8_t* bytes) {
  auto& s = summary_->bytes;
  const std::size_t at = static_cast<std::size_t>(record / kSummaryRecords) * recordBytes_;
  if (s.size() < at + recordBytes_) s.resize(at + recordBytes_, 0);
  for (int i = 0; i < recordBytes_; ++i) s[at + i] = std::max(s[at + i], bytes[i]);
}

bool LSegmentSoundSink::FlushPeaks() {
  if (failed()) return false;
  if (pending_.empty()) return true;
  if (!detail::WriteAt(peakFile_.get(), pending_.data(), pending_.size(), recordsInFile_ * recordBytes_)) {
    FailOn(store_->PeakFilePath(fileId_), "write");
    return false;
  }
  recordsInFile_ += static_cast<std::int64_t>(pending_.size()) / recordBytes_;
  pending_.clear();
  return true;
}

void LSegmentSoundSink::truncate(FrameCount frame) {
  if (failed() || finished_ || !Drain() || !FlushPeaks()) return;
  frame = std::max<FrameCount>(frame, 0);
  const std::int64_t records = frame / kPeakBlockFrames;
  if (::ftruncate(sampleFile_.get(), OffsetOf(frame)) != 0)
    return FailOn(store_->SampleFilePath(fileId_), "write");
  if (::ftruncate(peakFile_.get(), records * recordBytes_) != 0)
    return FailOn(store_->PeakFilePath(fileId_), "write");
  setFramesWritten(frame);
  recordsInFile_ = records;

  // The summary group that the cut falls into is rebuilt from the records kept.
  const std::int64_t group = records / kSummaryRecords;
  summary_->bytes.resize(static_cast<std::size_t>(group) * recordBytes_);
  std::vector<std::uint8_t> kept(static_cast<std::size_t>(records - group * kSummaryRecords) * recordBytes_);
  const std::size_t gotRecords =
      detail::ReadAt(peakFile_.get(), kept.data(), kept.size(), group * kSummaryRecords * recordBytes_) /
      recordBytes_;
  for (std::size_t r = 0; r < gotRecords; ++r)
    AddToSummary(group * kSummaryRecords + static_cast<std::int64_t>(r), kept.data() + r * recordBytes_);

  // The frames of the cut block that stay must still count in its peak record.
  std::fill(blockMax_.begin(), blockMax_.end(), 0);
  std::fill(blockMin_.begin(), blockMin_.end(), 0);
  blockFill_ = 0;
  const FrameCount partial = frame - records * kPeakBlockFrames;
  std::vector<Sample> tail(static_cast<std::size_t>(partial) * channels(), 0);
  std::vector<std::uint8_t> bytes(tail.size() * static_cast<std::size_t>(width_));
  const std::size_t got = detail::ReadAt(sampleFile_.get(), bytes.data(), bytes.size(), OffsetOf(records * kPeakBlockFrames));
  DecodeSamples(bytes.data(), got / static_cast<std::size_t>(width_), width_, tail.data());
  Accumulate(tail.data(), partial);
}

bool LSegmentSoundSink::Finish() {
  if (finished_) return !failed();
  finished_ = true;
  Drain();
  if (!failed() && blockFill_ > 0) EmitRecord();
  FlushPeaks();
  if (failed()) {
    Discard();
    return false;
  }
  writer_.reset();
  sampleFile_.reset();
  peakFile_.reset();
  ChainClear(*target_);
  target_->sampleRate = sampleRate();
  target_->channels = channels();
  if (framesWritten() == 0) {
    Discard();
    return true;
  }
  store_->SetPeakSummary(fileId_, std::move(summary_));
  // The journal flushes it before any record naming it: the edit does not wait for the disk.
  if (store_->durable()) store_->NoteFresh(fileId_);
  // The segment takes over the sink's own reference.
  ChainAppendSegment(*target_, AudioSegment{fileId_, framesWritten(), kUnityGain, 0});
  store_->ReleaseFileRef(fileId_);
  return true;
}

audio::Ref<LSegmentSoundSink> ChainOpenSink(AudioChain& target, std::uint32_t sampleRate,
                                            int channels) {
  return audio::MakeRef<LSegmentSoundSink>(target, sampleRate, channels);
}

}  // namespace quillet::core
