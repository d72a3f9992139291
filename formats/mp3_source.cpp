#include "formats/mp3_source.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "formats/detail/mp3_simd.h"
#include "formats/mp3_stream.h"

namespace quillet::formats {
namespace {

// The sync search gives up after this many bytes without a confirmed header.
constexpr size_t kMaxSyncSkip = 65535;
// Decoded audio may exceed full scale; deliver at most four times it.
constexpr float kFullScale = 524288.0f;
constexpr float kPeak = static_cast<float>(audio::kWidePeakBound);

// Reads the file in large pieces while the scan walks from header to header.
class Window {
 public:
  explicit Window(platform::ByteSource& bytes, uint64_t end) : bytes_(bytes), end_(end) {}
  // Bytes at offset..offset+n (fewer at the end of the data); null when none.
  const uint8_t* At(uint64_t offset, size_t n, size_t& got) {
    if (offset >= end_) return got = 0, nullptr;
    const uint64_t want = std::min<uint64_t>(n, end_ - offset);
    if (offset < base_ || offset + want > base_ + buf_.size()) {
      const uint64_t len = std::min<uint64_t>(std::max<size_t>(n, kChunk), end_ - offset);
      buf_.resize(static_cast<size_t>(len));
      buf_.resize(bytes_.ReadAt(offset, buf_.data(), buf_.size()));
      base_ = offset;
    }
    got = static_cast<size_t>(std::min<uint64_t>(want, base_ + buf_.size() - offset));
    return got ? buf_.data() + (offset - base_) : nullptr;
  }

 private:
  static constexpr size_t kChunk = 256 * 1024;
  platform::ByteSource& bytes_;
  uint64_t end_;
  uint64_t base_ = 0;
  std::vector<uint8_t> buf_;
};

// The first confirmed header at or after offset, whichever stream it belongs to.
int64_t Sync(Window& w, uint64_t offset, uint64_t end, int freeBytes, Mp3Header& h) {
  size_t got = 0;
  // Enough to see the largest frame's successor behind any start we may accept.
  const uint8_t* p = w.At(offset, kMaxSyncSkip + 4096, got);
  if (!p) return -1;
  const int64_t at = FindMp3Frame(p, got, 0, kMaxSyncSkip, offset + got >= end, freeBytes, h);
  return at < 0 ? -1 : static_cast<int64_t>(offset) + at;
}

std::string Describe(const Mp3Header& h) {
  static constexpr const char* kVersions[] = {"MPEG-1", "MPEG-2", "MPEG 2.5"};
  return std::to_string(h.sampleRate) + " Hz " + kVersions[h.version] + (h.freeFormat() ? " free format" : "");
}

}  // namespace

bool ScanMp3Layout(platform::ByteSource& bytes, Mp3Layout& layout) {
  const uint64_t size = bytes.Size();
  uint8_t head[10] = {};
  const size_t headBytes = bytes.ReadAt(0, head, sizeof head);
  layout.dataStart = std::min(Id3v2TagSize(head, headBytes), size);
  layout.dataEnd = size;
  uint8_t tail[128];
  if (size >= layout.dataStart + 128 && bytes.ReadExact(size - 128, tail, 128) && IsId3v1Tag(tail))
    layout.dataEnd = size - 128;
  layout.frames.clear();
  layout.frameChannels.clear();
  layout.notices.clear();
  layout.channels = 0;
  layout.lead = 0;
  layout.total = -1;

  Window w(bytes, layout.dataEnd);
  Mp3Header h;
  int64_t at = Sync(w, layout.dataStart, layout.dataEnd, 0, h);
  if (at < 0) return false;
  layout.first = h;
  layout.freeBytes = h.freeBytes;
  auto offset = static_cast<uint64_t>(at);
  {
    size_t got = 0;
    const uint8_t* p = w.At(offset, static_cast<size_t>(h.frameBytes()), got);
    const Mp3VbrHeader vbr = ParseMp3VbrHeader(p, got, h);
    if (vbr.present) {
      layout.vbrHeader = true;
      layout.vbrFrames = vbr.frames;
      offset += static_cast<uint64_t>(h.frameBytes());
      if (vbr.gapless) {
        layout.lead = int64_t{vbr.delay} + kMp3DecoderDelay;
        const int64_t counted = vbr.hasFrames ? int64_t{vbr.frames} * h.samplesPerFrame() : -1;
        layout.total = counted >= 0 ? std::max<int64_t>(counted - vbr.delay - vbr.padding, 0) : -1;
      }
    }
  }
  while (offset + 4 <= layout.dataEnd) {
    size_t got = 0;
    const uint8_t* p = w.At(offset, 4, got);
    Mp3Header next;
    if (!(got == 4 && ParseMp3Header(p, next) && next.SameStream(layout.first))) {
      // Garbage between frames: search on, as far as the sync search allows.
      at = Sync(w, offset, layout.dataEnd, layout.freeBytes, next);
      if (at < 0) break;
      if (!next.SameStream(layout.first)) {
        // Decoding on at the first frame's rate would play the rest at the wrong speed.
        layout.notices.push_back("The MPEG audio changes from " + Describe(layout.first) + " to " +
                                 Describe(next) + " at byte " + std::to_string(at) + ", after " +
                                 std::to_string(layout.frames.size()) + " frames; the rest of the file is left out.");
        break;
      }
      offset = static_cast<uint64_t>(at);
    }
    next.freeBytes = layout.freeBytes;
    // A last frame cut short is left out, as the reference decoders do: its main data is
    // incomplete and would decode to a burst of wrong spectrum.
    if (offset + static_cast<uint64_t>(next.frameBytes()) > layout.dataEnd) break;
    layout.frames.push_back(offset);
    layout.frameChannels.push_back(static_cast<uint8_t>(next.channels()));
    layout.channels = std::max(layout.channels, next.channels());
    offset += static_cast<uint64_t>(next.frameBytes());
  }
  if (layout.lead > 0) {
    // A tag without a frame count, or a file cut short: as much as was decoded.
    const int64_t decoded = static_cast<int64_t>(layout.frames.size()) * layout.first.samplesPerFrame();
    const int64_t available = std::max<int64_t>(decoded - layout.lead, 0);
    layout.total = layout.total < 0 ? available : std::min(layout.total, available);
  }
  return !layout.frames.empty() || layout.vbrHeader;
}

namespace {

// Frames decoded on the reading thread at once while reading through (after a jump, one).
constexpr int64_t kLocalSpan = 32;
// Frames per worker span: long enough that the lead-in costs little, short enough that
// every core gets work early.
constexpr int64_t kWorkerSpan = 96;
// Frames read in order before the workers start.
constexpr int64_t kRunBeforeWorkers = 2 * kLocalSpan;
// Zeros after a span's bytes: a frame whose header changed since the scan reads no further.
constexpr size_t kTailPadding = 4096;

// Decoded floats (full scale 1.0) to internal samples, saturated at the peak bound and
// rounded to the nearest, ties to even, as lrint does: below 2^22 in magnitude, adding
// and taking away 1.5 * 2^23 leaves exactly the rounded value.
QUILLET_KERNEL
void ToSamples(const float* in, size_t n, audio::Sample* out) {
  constexpr float kRound = 12582912.0f;
  typedef int32_t I8 __attribute__((vector_size(32)));
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const mp3::V8 v = QUILLET_LOAD8(in + i) * kFullScale;
    const mp3::V8 top = mp3::V8{} + kPeak;
    const mp3::V8 bottom = mp3::V8{} - kPeak;
    // Saturated by masks: the compiler turns a scalar clamp into branches.
    const I8 high = v > top, low = v < bottom;
    const I8 bits = ((I8)v & ~(high | low)) | ((I8)top & high) | ((I8)bottom & low);
    const I8 rounded = __builtin_convertvector(((mp3::V8)bits + kRound) - kRound, I8);
    std::memcpy(out + i, &rounded, sizeof rounded);
  }
  for (; i < n; ++i) {
    const float v = std::min(std::max(in[i] * kFullScale, -kPeak), kPeak);  // decoded values are finite
    out[i] = static_cast<audio::Sample>((v + kRound) - kRound);
  }
}

// The bytes of frames [from, to) and what decoding them gives.
struct SpanBytes {
  uint64_t base = 0;  // file offset of bytes[0]
  std::vector<uint8_t> bytes;
};

// False when the file gave fewer bytes than the scan found (an I/O error, a file cut since).
bool ReadSpanBytes(platform::ByteSource& source, const Mp3Layout& layout, int64_t from, int64_t to, SpanBytes& out) {
  out.base = layout.frames[static_cast<size_t>(from)];
  const uint64_t end = to < static_cast<int64_t>(layout.frames.size()) ? layout.frames[static_cast<size_t>(to)]
                                                                      : layout.dataEnd;
  const auto size = static_cast<size_t>(end - out.base);
  out.bytes.resize(size + kTailPadding);
  const size_t got = source.ReadAt(out.base, out.bytes.data(), size);
  std::fill(out.bytes.begin() + static_cast<std::ptrdiff_t>(got), out.bytes.end(), 0);
  return got == size;
}

// Decodes frames [from, to) from their bytes (the early frames of a lead-in only into the
// bit reservoir); those from keepFrom on go to out, one frame of samplesPerFrame x channels
// samples each, silence where a frame gives nothing. Stops early, leaving the rest
// unwritten, when stop is set.
void DecodeFrames(Mp3Decoder& decoder, const Mp3Layout& layout, int channels, const SpanBytes& in, int64_t from,
                  int64_t to, int64_t keepFrom, audio::Sample* out, float* pcm,
                  const std::atomic<bool>* stop = nullptr) {
  const int spf = layout.first.samplesPerFrame();
  const size_t frameSamples = static_cast<size_t>(spf) * static_cast<size_t>(channels);
  const size_t limit = in.bytes.size() - kTailPadding;
  // The lead-in frames before these only fill the bit reservoir: the overlap and the
  // filterbank's history reach back one frame (two one-granule frames).
  const int64_t decodedLeadIn = layout.first.version == 0 ? 1 : 2;
  for (int64_t k = from; k < to; ++k) {
    if (stop && stop->load(std::memory_order_relaxed)) return;
    const size_t at = static_cast<size_t>(layout.frames[static_cast<size_t>(k)] - in.base);
    const uint8_t* p = in.bytes.data() + at;
    Mp3Header h;
    if (at + 4 > limit || !ParseMp3Header(p, h) || !h.SameStream(layout.first)) h = layout.first;  // changed since the scan
    h.freeBytes = layout.freeBytes;
    const size_t size = std::min(static_cast<size_t>(h.frameBytes()), in.bytes.size() - at);
    if (k < keepFrom - decodedLeadIn) {
      decoder.FeedReservoir(p, size);
      continue;
    }
    const Mp3Step step = decoder.DecodeFrame(p, size, pcm);
    if (k < keepFrom) continue;
    audio::Sample* dst = out + static_cast<size_t>(k - keepFrom) * frameSamples;
    const int n = std::min(step.framesProduced, spf);
    if (step.channels == channels || n == 0) {
      ToSamples(pcm, static_cast<size_t>(n) * static_cast<size_t>(channels), dst);
    } else {
      // A mono frame among stereo ones feeds both channels, as the channel converter does.
      ToSamples(pcm, static_cast<size_t>(n), dst);
      for (int i = n - 1; i >= 0; --i)
        for (int ch = channels - 1; ch >= 0; --ch) dst[i * channels + ch] = dst[i];
    }
    // Frames the decoder could not decode (reservoir out of reach) keep the timing as silence.
    std::fill(dst + static_cast<size_t>(n) * static_cast<size_t>(channels), dst + frameSamples, 0);
  }
}

}  // namespace

// Worker threads decoding the spans after the one being read, each from its own lead-in.
// The reading thread reads every span's bytes (the byte source serves one thread) and
// decodes a span itself when no worker has begun it by the time it is wanted.
class LMP3SoundSource::Pipeline {
 public:
  Pipeline(LMP3SoundSource& source, int64_t first, int workers) : source_(source), next_(first) {
    depth_ = 2 * workers;
    Schedule();
    for (int i = 0; i < workers; ++i) {
      try {
        threads_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // no thread to be had: the reading thread decodes every span itself
      }
    }
  }
  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    stopping_ = true;
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // The first frame of the span Take gives next.
  int64_t next() const { return ahead_.empty() ? next_ : ahead_.front()->first; }

  // The next span, decoded here when no worker has it yet; the spans after it are scheduled.
  void Take(Mp3Span& out) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      job = ahead_.front();
      if (job->state == State::kQueued) {
        job->state = State::kRunning;
        lock.unlock();
        Run(*job);
        lock.lock();
        job->state = State::kDone;
      }
      changed_.wait(lock, [&] { return job->state == State::kDone; });
      ahead_.pop_front();
    }
    out.first = job->first;
    out.count = job->count;
    std::swap(out.samples, job->samples);
    Schedule();
  }

 private:
  enum class State { kQueued, kRunning, kDone };
  struct Job {
    int64_t leadStart = 0, first = 0, count = 0;
    SpanBytes in;
    std::vector<audio::Sample> samples;
    State state = State::kQueued;
  };

  void Schedule() {
    const auto frames = static_cast<int64_t>(source_.layout_.frames.size());
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (static_cast<int>(ahead_.size()) >= depth_ || next_ >= frames) return;
      }
      auto job = std::make_shared<Job>();
      job->first = next_;
      job->count = std::min(kWorkerSpan, frames - next_);
      job->leadStart = source_.LeadInStart(job->first);
      if (!ReadSpanBytes(*source_.bytes_, source_.layout_, job->leadStart, job->first + job->count, job->in))
        source_.Fail(source_.bytes_->failure());
      next_ += job->count;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ahead_.push_back(std::move(job));
      }
      changed_.notify_one();
    }
  }

  void Run(Job& job) {
    const LMP3SoundSource& s = source_;
    Mp3Decoder decoder;
    decoder.SetFreeFormatBytes(s.layout_.freeBytes);
    std::vector<float> pcm(Mp3Decoder::kMaxSamplesPerFrame * 2);
    job.samples.resize(static_cast<size_t>(job.count) * static_cast<size_t>(s.samplesPerFrame_) *
                       static_cast<size_t>(s.channels()));
    DecodeFrames(decoder, s.layout_, s.channels(), job.in, job.leadStart, job.first + job.count, job.first,
                 job.samples.data(), pcm.data(), &stopping_);
    job.in.bytes = {};
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::shared_ptr<Job> job;
      changed_.wait(lock, [&] {
        if (stop_) return true;
        for (const auto& j : ahead_)
          if (j->state == State::kQueued) return job = j, true;
        return false;
      });
      if (stop_) return;
      job->state = State::kRunning;
      lock.unlock();
      Run(*job);
      lock.lock();
      job->state = State::kDone;
      changed_.notify_all();
    }
  }

  LMP3SoundSource& source_;
  int64_t next_;  // the first frame not yet scheduled
  int depth_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Job>> ahead_;  // in frame order
  bool stop_ = false;
  std::atomic<bool> stopping_{false};  // lets a running job end between frames
  std::vector<std::thread> threads_;
};

LMP3SoundSource::LMP3SoundSource(std::unique_ptr<platform::ByteSource> bytes, Mp3Layout layout, int threads)
    : LSoundSource(layout.first.sampleRate, std::max(layout.channels, 1), audio::kWidePeakBound),
      SourceNotices(layout.notices),
      bytes_(std::move(bytes)),
      layout_(std::move(layout)),
      threads_(threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))),
      samplesPerFrame_(layout_.first.samplesPerFrame()),
      lead_(layout_.total >= 0 ? layout_.lead : 0),
      length_(layout_.total >= 0 ? layout_.total
                                 : static_cast<audio::FrameCount>(layout_.frames.size()) * samplesPerFrame_) {
  decoder_.SetFreeFormatBytes(layout_.freeBytes);
}

LMP3SoundSource::~LMP3SoundSource() = default;

Mp3Header LMP3SoundSource::HeaderOf(int64_t k) {
  uint8_t head[4];
  Mp3Header h;
  if (bytes_->ReadAt(layout_.frames[static_cast<size_t>(k)], head, 4) != 4 || !ParseMp3Header(head, h) ||
      !h.SameStream(layout_.first))
    h = layout_.first;  // the file changed since the scan
  h.freeBytes = layout_.freeBytes;
  return h;
}

int64_t LMP3SoundSource::LeadInStart(int64_t k) {
  // The result must equal reading through: the last frames before k must decode with
  // their whole bit reservoir, and those before them rebuild overlap and filterbank.
  const bool mpeg1 = layout_.first.version == 0;
  const int maxBack = mpeg1 ? 511 : 255;
  int64_t s = std::max<int64_t>(k - (mpeg1 ? 1 : 2), 0);
  int reach = 0;
  while (s > 0 && reach < maxBack) {
    --s;
    reach += std::max(HeaderOf(s).mainDataBytes(), 1);
  }
  return s;
}

void LMP3SoundSource::Fetch(int64_t k) {
  const auto frames = static_cast<int64_t>(layout_.frames.size());
  const bool inOrder = span_.count > 0 && k == span_.first + span_.count;
  if (pipeline_ && !(inOrder && pipeline_->next() == k)) pipeline_.reset();  // a jump: the workers stop
  runLength_ = inOrder ? runLength_ + span_.count : 0;
  if (!pipeline_ && threads_ > 1 && runLength_ >= kRunBeforeWorkers && frames - k > 2 * kWorkerSpan)
    pipeline_ = std::make_unique<Pipeline>(*this, k, threads_);
  if (pipeline_) {
    pipeline_->Take(span_);
    framesFromWorkers_ += span_.count;
    return;
  }
  // Here: on with the decoder when it is ready for k, else from the lead-in.
  const int64_t count = std::min(inOrder ? std::clamp<int64_t>(2 * span_.count, 1, kLocalSpan) : 1, frames - k);
  int64_t from = k;
  if (k != nextToDecode_) {
    decoder_.Reset();
    from = LeadInStart(k);
  }
  SpanBytes in;
  if (!ReadSpanBytes(*bytes_, layout_, from, k + count, in)) Fail(bytes_->failure());
  span_.first = k;
  span_.count = count;
  span_.samples.resize(static_cast<size_t>(count) * static_cast<size_t>(samplesPerFrame_) *
                       static_cast<size_t>(channels()));
  std::vector<float> pcm(Mp3Decoder::kMaxSamplesPerFrame * 2);
  DecodeFrames(decoder_, layout_, channels(), in, from, k + count, k, span_.samples.data(), pcm.data());
  nextToDecode_ = k + count;
}

void LMP3SoundSource::read(audio::Sample* buffer, audio::FrameCount frames) {
  const int ch = channels();
  while (frames > 0) {
    audio::FrameCount n;
    if (pos_ < 0 || pos_ >= length_) {
      n = pos_ < 0 ? std::min(frames, -pos_) : frames;
      std::fill(buffer, buffer + n * ch, 0);
    } else {
      const int64_t decoded = pos_ + lead_;
      const int64_t k = decoded / samplesPerFrame_;
      if (span_.count == 0 || k < span_.first || k >= span_.first + span_.count) Fetch(k);
      const int64_t offset = decoded - span_.first * samplesPerFrame_;
      n = std::min<audio::FrameCount>({frames, span_.count * samplesPerFrame_ - offset, length_ - pos_});
      std::copy_n(span_.samples.data() + static_cast<size_t>(offset) * static_cast<size_t>(ch),
                  static_cast<size_t>(n) * static_cast<size_t>(ch), buffer);
    }
    buffer += n * ch;
    frames -= n;
    pos_ += n;
  }
}

audio::SourceHandle OpenMp3Source(std::unique_ptr<platform::ByteSource> bytes, int threads) {
  Mp3Layout layout;
  if (!bytes || !ScanMp3Layout(*bytes, layout) || layout.frames.empty())
    return audio::MakeNullSource(audio::SoundStatus::Corrupt);
  return audio::SourceHandle(audio::MakeRef<LMP3SoundSource>(std::move(bytes), std::move(layout), threads));
}

audio::SourceHandle OpenMp3Source(const std::filesystem::path& file, int threads) {
  auto bytes = platform::FileByteSource::Open(file);
  if (!bytes) return audio::MakeNullSource(audio::SoundStatus::CannotOpen);
  return OpenMp3Source(std::unique_ptr<platform::ByteSource>(std::move(bytes)), threads);
}

}  // namespace quillet::formats
