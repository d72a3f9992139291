#pragma once
// Blocks of interleaved frames: AudioBlock owns its samples, BlockView and
// ConstBlockView only refer to memory that someone else keeps alive.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "audio/sample.h"

namespace quillet::audio {

// channels x frames interleaved samples in memory owned elsewhere; T is Sample or
// const Sample.
template <class T>
class BasicBlockView {
 public:
  BasicBlockView() = default;
  BasicBlockView(T* data, int channels, FrameCount frames)
      : data_(data), channels_(channels), frames_(frames) {}
  // A writable view reads as a read-only one.
  template <class U>
    requires std::is_same_v<const U, T> && (!std::is_same_v<U, T>)
  BasicBlockView(const BasicBlockView<U>& o) : BasicBlockView(o.data(), o.channels(), o.frames()) {}

  T* data() const { return data_; }
  int channels() const { return channels_; }
  FrameCount frames() const { return frames_; }
  std::size_t samples() const { return static_cast<std::size_t>(frames_) * channels_; }
  T& operator()(int ch, FrameCount frame) const {
    assert(ch < channels_ && frame < frames_ && "sample out of range");
    return data_[frame * channels_ + ch];
  }
  BasicBlockView first(FrameCount n) const { return {data_, channels_, std::min(n, frames_)}; }
  BasicBlockView from(FrameCount start) const {
    start = std::min(start, frames_);
    return {data_ + start * channels_, channels_, frames_ - start};
  }
  void fillSilence() const
    requires(!std::is_const_v<T>)
  {
    std::fill(data_, data_ + samples(), Sample{0});
  }

 private:
  T* data_ = nullptr;
  int channels_ = 1;
  FrameCount frames_ = 0;
};

using BlockView = BasicBlockView<Sample>;
using ConstBlockView = BasicBlockView<const Sample>;

// Owns channels x frames samples, zeroed at construction and on growth.
class AudioBlock {
 public:
  AudioBlock() = default;
  AudioBlock(int channels, FrameCount frames)
      : channels_(channels), samples_(static_cast<std::size_t>(frames) * channels) {}

  int channels() const { return channels_; }
  FrameCount frames() const {
    return static_cast<FrameCount>(samples_.size()) / std::max(channels_, 1);
  }
  Sample* data() { return samples_.data(); }
  const Sample* data() const { return samples_.data(); }
  Sample& operator()(int ch, FrameCount frame) { return view()(ch, frame); }
  const Sample& operator()(int ch, FrameCount frame) const { return view()(ch, frame); }
  void resize(FrameCount frames) { samples_.resize(static_cast<std::size_t>(frames) * channels_); }

  BlockView view() { return {samples_.data(), channels_, frames()}; }
  ConstBlockView view() const { return {samples_.data(), channels_, frames()}; }
  const std::vector<Sample>& samples() const { return samples_; }

  friend bool operator==(const AudioBlock&, const AudioBlock&) = default;

 private:
  int channels_ = 1;
  std::vector<Sample> samples_;
};

}  // namespace quillet::audio
