#include "audio/channel.h"

#include <algorithm>

namespace quillet::audio {

namespace {

// Where each channel of a WAVE-order layout goes in a mixdown.
enum class Side : std::uint8_t { Left, Right, Centre, Lfe };

Side SideOf(int channel, int channels) {
  // The default speaker masks of 3 to 8 channels: FL FR FC; FL FR BL BR; FL FR FC BL BR;
  // FL FR FC LFE BL BR; FL FR FC LFE BC SL SR; FL FR FC LFE BL BR SL SR.
  static constexpr Side L = Side::Left, R = Side::Right, C = Side::Centre, F = Side::Lfe;
  static constexpr Side kLayouts[6][8] = {
      {L, R, C}, {L, R, L, R}, {L, R, C, L, R}, {L, R, C, F, L, R}, {L, R, C, F, C, L, R},
      {L, R, C, F, L, R, L, R}};
  if (channels >= 3 && channels <= 8) return kLayouts[channels - 3][channel];
  return channel % 2 == 0 ? Side::Left : Side::Right;  // beyond any standard layout
}

}  // namespace

std::vector<std::int64_t> MixdownWeights(int in, int out) {
  if (in < 3 || out < 1 || out > 2) return {};
  constexpr std::int64_t kUnit = 1 << 16;
  constexpr std::int64_t kCentre = 46341;  // -3 dB
  std::vector<std::int64_t> w(static_cast<std::size_t>(2 * in), 0);
  for (int c = 0; c < in; ++c) {
    const Side s = SideOf(c, in);
    w[static_cast<std::size_t>(c)] = s == Side::Left ? kUnit : s == Side::Centre ? kCentre : 0;
    w[static_cast<std::size_t>(in + c)] = s == Side::Right ? kUnit : s == Side::Centre ? kCentre : 0;
  }
  for (int row = 0; row < 2; ++row) {
    std::int64_t sum = 0;
    for (int c = 0; c < in; ++c) sum += w[static_cast<std::size_t>(row * in + c)];
    for (int c = 0; c < in && sum > 0; ++c) {
      std::int64_t& x = w[static_cast<std::size_t>(row * in + c)];
      x = x * kUnit / sum;
    }
  }
  if (out == 2) return w;
  std::vector<std::int64_t> mono(static_cast<std::size_t>(in));
  for (int c = 0; c < in; ++c)
    mono[static_cast<std::size_t>(c)] = (w[static_cast<std::size_t>(c)] + w[static_cast<std::size_t>(in + c)]) / 2;
  return mono;
}

LChannelConverter::LChannelConverter(SourceHandle input, int channels)
    : LSoundSource(input->sampleRate(), channels, input->peakBound()),
      input_(std::move(input)),
      mix_(MixdownWeights(input_->channels(), channels)) {
  FollowInput(*input_);
}

void LChannelConverter::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int in = input_->channels();
  const int out = channels();
  // Whole request at once when it fits the scratch; big requests go in pieces.
  const FrameCount piece = kBlockFrames;
  scratch_.resize(static_cast<std::size_t>(std::min(frames, piece)) * in);
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(piece, frames - done);
    input_->read(scratch_.data(), n);
    Sample* dst = buffer + done * out;
    const Sample* src = scratch_.data();
    if (!mix_.empty()) {
      for (FrameCount i = 0; i < n; ++i)
        for (int o = 0; o < out; ++o) {
          std::int64_t acc = 0;
          for (int c = 0; c < in; ++c) acc += mix_[static_cast<std::size_t>(o * in + c)] * src[i * in + c];
          dst[i * out + o] = SaturateSample(acc >> 16);
        }
    } else if (in == 1 && out == 2) {
      for (FrameCount i = 0; i < n; ++i) dst[2 * i] = dst[2 * i + 1] = src[i];
    } else if (in == 2 && out == 1) {
      for (FrameCount i = 0; i < n; ++i) dst[i] = src[2 * i];
    } else {
      for (FrameCount i = 0; i < n; ++i)
        for (int c = 0; c < out; ++c) dst[i * out + c] = src[i * in + std::min(c, in - 1)];
    }
    done += n;
  }
}

SourceHandle ConvertChannels(SourceHandle input, int channels) {
  if (channels < 1 || channels > kMaxChannels) channels = 1;
  if (!input || !input->ready() || input->channels() == channels) return input;
  return MakeRef<LChannelConverter>(std::move(input), channels);
}

}  // namespace quillet::audio

namespace quillet::audio {

LChannelReorder::LChannelReorder(SourceHandle input, std::vector<int> take)
    : LSoundSource(input->sampleRate(), static_cast<int>(take.size()), input->peakBound()),
      input_(std::move(input)),
      take_(std::move(take)) {
  FollowInput(*input_);
}

void LChannelReorder::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int in = input_->channels();
  const int out = channels();
  scratch_.resize(static_cast<std::size_t>(std::min(frames, kBlockFrames)) * static_cast<std::size_t>(in));
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(kBlockFrames, frames - done);
    input_->read(scratch_.data(), n);
    Sample* dst = buffer + done * out;
    for (FrameCount i = 0; i < n; ++i)
      for (int c = 0; c < out; ++c) dst[i * out + c] = scratch_[static_cast<std::size_t>(i * in + take_[static_cast<std::size_t>(c)])];
    done += n;
  }
}

SourceHandle ReorderChannels(SourceHandle input, std::vector<int> take) {
  if (!input || !input->ready()) return input;
  bool same = static_cast<int>(take.size()) == input->channels();
  for (std::size_t c = 0; c < take.size(); ++c) {
    if (take[c] < 0 || take[c] >= input->channels()) return input;
    same = same && take[c] == static_cast<int>(c);
  }
  if (same || take.empty()) return input;
  return MakeRef<LChannelReorder>(std::move(input), std::move(take));
}

}  // namespace quillet::audio
