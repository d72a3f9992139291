#include "formats/vox.h"

#include <algorithm>

#include "formats/raw_file.h"

namespace quillet::formats {
namespace {

using audio::FrameCount;
using audio::FramePos;
using audio::Sample;

// The Dialogic step table and index changes.
constexpr int kSteps[49] = {16,  17,  19,  21,  23,  25,  28,  31,  34,  37,  41,  45,   50,   55,   60,   66,   73,
                            80,  88,  97,  107, 118, 130, 143, 157, 173, 190, 209, 230,  253,  279,  307,  337,  371,
                            408, 449, 494, 544, 598, 658, 724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552};
constexpr int kIndexChange[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// 12-bit predictor to the internal scale (12 bits become 16, then times 16).
constexpr int kScaleShift = 8;
// Decoder states kept while reading, one per this many samples.
constexpr FrameCount kCheckpointSamples = 65536;

class LVoxSoundSink final : public LFileSink {
 public:
  LVoxSoundSink(const std::filesystem::path& target, std::uint32_t rate)
      : LFileSink(target, rate, 1, {}, UINT64_MAX) {}
  ~LVoxSoundSink() override { Finish(); }

  void write(const Sample* buffer, FrameCount frames) override {
    for (FrameCount done = 0; done < frames && !failed();) {
      const FrameCount n = std::min(frames - done, audio::kBlockFrames);
      std::size_t out = 0;
      for (FrameCount i = 0; i < n; ++i) {
        const int code = state_.Encode(buffer[done + i]);
        if (pending_ < 0) {
          pending_ = code;
        } else {
          buffer_[out++] = static_cast<std::uint8_t>(pending_ << 4 | code);
          pending_ = -1;
        }
      }
      Append(buffer_.data(), out);
      if (!failed()) setFramesWritten(framesWritten() + n);
      done += n;
    }
  }

 private:
  void Flush() override {
    if (pending_ < 0) return;
    const auto last = static_cast<std::uint8_t>(pending_ << 4);
    pending_ = -1;
    Append(&last, 1);
  }

  DialogicAdpcm state_;
  int pending_ = -1;  // a high nibble waiting for its partner
  std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(static_cast<std::size_t>(audio::kBlockFrames) / 2 + 1);
};

}  // namespace

Sample DialogicAdpcm::Decode(int code) {
  const int step = kSteps[index_];
  const int diff = step * (2 * (code & 7) + 1) >> 3;
  predictor_ = std::clamp(code & 8 ? predictor_ - diff : predictor_ + diff, -2048, 2047);
  index_ = std::clamp(index_ + kIndexChange[code & 7], 0, 48);
  return predictor_ * (1 << kScaleShift);
}

int DialogicAdpcm::Encode(Sample x) {
  const int target = static_cast<int>(std::clamp<std::int64_t>((std::int64_t{x} + (1 << (kScaleShift - 1))) >> kScaleShift, -2048, 2047));
  int d = target - predictor_;
  int code = 0;
  if (d < 0) {
    code = 8;
    d = -d;
  }
  const int step = kSteps[index_];
  if (d >= step) {
    code |= 4;
    d -= step;
  }
  if (d >= step >> 1) {
    code |= 2;
    d -= step >> 1;
  }
  if (d >= step >> 2) code |= 1;
  Decode(code);
  return code;
}

LVoxSoundSource::LVoxSoundSource(std::shared_ptr<platform::ByteSource> bytes, std::int32_t rate)
    : LSoundSource(rate, 1, audio::kFilePeakBound),
      bytes_(std::move(bytes)),
      length_(static_cast<FrameCount>(std::min<std::uint64_t>(bytes_->Size(), INT64_MAX / 2) * 2)),
      checkpoints_(1),
      buffer_(static_cast<std::size_t>(audio::kBlockFrames) / 2 + 1) {}

void LVoxSoundSource::MoveDecoderTo(FramePos frame) {
  if (frame == decoded_) return;
  // The nearest known state before frame, unless decoding on from here is closer.
  const auto k = std::min(static_cast<std::size_t>(frame / kCheckpointSamples), checkpoints_.size() - 1);
  const FramePos at = static_cast<FramePos>(k) * kCheckpointSamples;
  if (frame < decoded_ || at > decoded_) {
    state_ = checkpoints_[k];
    decoded_ = at;
  }
  while (decoded_ < frame) Decode(nullptr, std::min<FrameCount>(frame - decoded_, audio::kBlockFrames));
}

void LVoxSoundSource::Decode(Sample* out, FrameCount n) {
  // Bytes covering samples [decoded_, decoded_ + n).
  const std::uint64_t firstByte = static_cast<std::uint64_t>(decoded_) / 2;
  const std::uint64_t lastByte = static_cast<std::uint64_t>(decoded_ + n - 1) / 2;
  const std::size_t want = static_cast<std::size_t>(lastByte - firstByte + 1);
  const std::size_t got = bytes_->ReadAt(firstByte, buffer_.data(), want);
  if (got < want && firstByte + want <= bytes_->Size()) Fail(bytes_->failure());
  std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(got), buffer_.begin() + static_cast<std::ptrdiff_t>(want), 0);
  for (FrameCount i = 0; i < n; ++i, ++decoded_) {
    if (decoded_ % kCheckpointSamples == 0 &&
        static_cast<std::size_t>(decoded_ / kCheckpointSamples) == checkpoints_.size())
      checkpoints_.push_back(state_);
    const std::uint8_t b = buffer_[static_cast<std::size_t>(static_cast<std::uint64_t>(decoded_) / 2 - firstByte)];
    const Sample s = state_.Decode(decoded_ & 1 ? b & 0x0F : b >> 4);
    if (out) out[i] = s;
  }
}

void LVoxSoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const FramePos start = pos_;
  pos_ += frames;
  const FramePos from = std::clamp<FramePos>(start, 0, length_);
  const FramePos to = std::clamp<FramePos>(pos_, 0, length_);
  const FrameCount lead = std::min<FrameCount>(frames, std::max<FramePos>(0, from - start));
  std::fill(buffer, buffer + lead, Sample{0});
  Sample* out = buffer + lead;
  if (from < to) MoveDecoderTo(from);
  for (FramePos f = from; f < to;) {
    const FrameCount n = std::min<FrameCount>(to - f, audio::kBlockFrames);
    Decode(out, n);
    out += n;
    f += n;
  }
  std::fill(out, buffer + frames, Sample{0});
}

audio::SinkHandle MakeDialogicSink(const std::filesystem::path& file, std::uint32_t rate) {
  return audio::SinkHandle(audio::MakeRef<LVoxSoundSink>(file, rate));
}

}  // namespace quillet::formats
