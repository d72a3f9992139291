#include "devices/peak_trail.h"

#include <algorithm>

namespace quillet::devices {

using audio::FrameCount;
using audio::Sample;

PeakTrail::PeakTrail(int channels, FrameCount framesPerColumn, std::size_t capacity)
    : channels_(std::max(channels, 1)),
      perColumn_(std::max<FrameCount>(framesPerColumn, 1)),
      capacity_(std::max<std::size_t>(capacity, 1)),
      ring_(capacity_ * std::size_t(channels_) * 2, 0) {}

std::size_t PeakTrail::Offset(std::int64_t column) const {
  return std::size_t(column % std::int64_t(capacity_)) * std::size_t(channels_) * 2;
}

void PeakTrail::Add(const Sample* samples, FrameCount frames) {
  std::lock_guard lock(mutex_);
  for (FrameCount f = 0; f < frames; ++f, ++end_) {
    const std::int64_t col = end_ / perColumn_;
    Sample* peaks = ring_.data() + Offset(col);
    if (end_ % perColumn_ == 0) {
      // A new column starts from its first frame and pushes the oldest out.
      for (int c = 0; c < channels_; ++c) peaks[2 * c] = peaks[2 * c + 1] = samples[f * channels_ + c];
      first_ = std::max(first_, col - std::int64_t(capacity_) + 1);
    }
    for (int c = 0; c < channels_; ++c) {
      const Sample v = samples[f * channels_ + c];
      peaks[2 * c] = std::min(peaks[2 * c], v);
      peaks[2 * c + 1] = std::max(peaks[2 * c + 1], v);
    }
  }
}

void PeakTrail::Truncate(FrameCount frame) {
  std::lock_guard lock(mutex_);
  frame = std::max<FrameCount>(frame, 0);
  if (frame >= end_) return;
  end_ = frame;
  // Nothing held is left: start over at the cut.
  if (end_ / perColumn_ < first_) {
    first_ = end_ / perColumn_;
    std::fill_n(ring_.begin() + std::ptrdiff_t(Offset(first_)), channels_ * 2, 0);
  }
}

void PeakTrail::Reset(FrameCount frame) {
  std::lock_guard lock(mutex_);
  end_ = std::max<FrameCount>(frame, 0);
  first_ = end_ / perColumn_;
  // A take starting inside a column draws that column from its own frames only.
  std::fill_n(ring_.begin() + std::ptrdiff_t(Offset(first_)), channels_ * 2, 0);
}

FrameCount PeakTrail::end() const {
  std::lock_guard lock(mutex_);
  return end_;
}

std::size_t PeakTrail::Snapshot::columns() const { return peaks.size() / (std::size_t(channels) * 2); }

PeakTrail::Snapshot PeakTrail::Latest(std::size_t columns) const {
  std::lock_guard lock(mutex_);
  Snapshot s;
  s.channels = channels_;
  // The column in progress counts once it has a frame.
  const std::int64_t stop = (end_ + perColumn_ - 1) / perColumn_;
  s.firstColumn = std::max(first_, stop - std::int64_t(std::min(columns, capacity_)));
  for (std::int64_t col = s.firstColumn; col < stop; ++col) {
    const Sample* peaks = ring_.data() + Offset(col);
    s.peaks.insert(s.peaks.end(), peaks, peaks + channels_ * 2);
  }
  return s;
}

namespace {

class LTrailSink final : public audio::LSoundSink {
 public:
  LTrailSink(audio::SinkHandle inner, PeakTrail& trail)
      : LSoundSink(inner->sampleRate(), inner->channels()), inner_(std::move(inner)), trail_(trail) {
    Sync();
  }
  void write(const Sample* buffer, FrameCount frames) override {
    if (failed()) return;
    const FrameCount before = inner_->framesWritten();
    inner_->write(buffer, frames);
    if (inner_->framesWritten() > before) trail_.Add(buffer, inner_->framesWritten() - before);
    Sync();
  }
  void truncate(FrameCount frame) override {
    inner_->truncate(frame);
    trail_.Truncate(frame);
    Sync();
  }
  bool Finish() override {
    const bool ok = inner_->Finish();
    Sync();
    return ok && !failed();
  }
  void Abandon() override { inner_->Abandon(); }

 private:
  void Sync() {
    setFramesWritten(inner_->framesWritten());
    if (inner_->failed() && !failed()) Fail(inner_->failureMessage());
  }

  audio::SinkHandle inner_;
  PeakTrail& trail_;
};

}  // namespace

audio::SinkHandle TrailSink(audio::SinkHandle inner, PeakTrail& trail) {
  return audio::SinkHandle(audio::MakeRef<LTrailSink>(std::move(inner), trail));
}

}  // namespace quillet::devices
