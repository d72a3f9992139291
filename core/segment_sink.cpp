#include "core/segment_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace quillet::core {
namespace {

constexpr std::size_t kPendingLimit = 64 * 1024;

// Raises mx and lowers mn to the extremes of frames frames of C channels.
template <int C>
void Extremes(const Sample* in, FrameCount frames, int channels, Sample* mx, Sample* mn) {
  const int ch = C > 0 ? C : channels;
  for (int c = 0; c < ch; ++c) {
    Sample hi = mx[c], lo = mn[c];
    for (FrameCount f = 0; f < frames; ++f) {
      const Sample v = in[f * ch + c];
      hi = std::max(hi, v);
      lo = std::min(lo, v);
    }
    mx[c] = hi;
    mn[c] = lo;
  }
}

}  // namespace

LSegmentSoundSink::LSegmentSoundSink(AudioChain& target, std::uint32_t sampleRate, int channels)
    : LSoundSink(sampleRate, channels),
      target_(&target),
      store_(target.store()),
      frameBytes_(LSoundSink::channels() * static_cast<int>(sizeof(Sample))),
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
  if (!peakFile_) FailOn(peakPath, "create");
}

LSegmentSoundSink::~LSegmentSoundSink() { Finish(); }

void LSegmentSoundSink::FailOn(const std::filesystem::path& file, const char* what) {
  Fail(std::string("Cannot ") + what + " the temporary audio file \"" + file.string() +
       "\": " + detail::ErrnoText() + ".");
  Discard();
}

// Gives the id and its files back; the target is not touched.
void LSegmentSoundSink::Discard() {
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
  const std::int64_t at = framesWritten() * frameBytes_;
  if (!detail::WriteAt(sampleFile_.get(), buffer, static_cast<std::size_t>(frames) * frameBytes_, at))
    return FailOn(store_->SampleFilePath(fileId_), "write");
  setFramesWritten(framesWritten() + frames);
  Accumulate(buffer, frames);
}

void LSegmentSoundSink::Accumulate(const Sample* buffer, FrameCount frames) {
  const int ch = channels();
  while (frames > 0) {
    const FrameCount n = std::min(kPeakBlockFrames - blockFill_, frames);
    if (ch == 1) Extremes<1>(buffer, n, ch, blockMax_.data(), blockMin_.data());
    else if (ch == 2) Extremes<2>(buffer, n, ch, blockMax_.data(), blockMin_.data());
    else Extremes<0>(buffer, n, ch, blockMax_.data(), blockMin_.data());
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
  if (failed() || finished_ || !FlushPeaks()) return;
  frame = std::max<FrameCount>(frame, 0);
  const std::int64_t records = frame / kPeakBlockFrames;
  if (::ftruncate(sampleFile_.get(), frame * frameBytes_) != 0)
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
  detail::ReadAt(sampleFile_.get(), tail.data(), tail.size() * sizeof(Sample),
                 records * kPeakBlockFrames * frameBytes_);
  Accumulate(tail.data(), partial);
}

bool LSegmentSoundSink::Finish() {
  if (finished_) return !failed();
  finished_ = true;
  if (!failed() && blockFill_ > 0) EmitRecord();
  FlushPeaks();
  if (failed()) {
    Discard();
    return false;
  }
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
