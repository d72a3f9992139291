// GSM 06.10 full-rate files: bare 33-byte frames of 160 samples at 8000 Hz mono, coded
// by libgsm (the same library as the WAVE codec, here without the WAV49 packing).
#include <gsm.h>

#include <algorithm>
#include <cstring>

#include "formats/raw_file.h"
#include "formats/simple_formats.h"

namespace quillet::formats {
namespace {

using audio::FrameCount;
using audio::FramePos;
using audio::Sample;

constexpr std::size_t kFrameBytes = 33;
constexpr FrameCount kFrameSamples = 160;
constexpr std::uint32_t kGsmRate = 8000;
// Frames decoded ahead of a seek target so that the decoder's state settles.
constexpr std::int64_t kWarmupFrames = 8;

struct GsmDeleter {
  void operator()(gsm_state* g) const { gsm_destroy(g); }
};
using GsmPtr = std::unique_ptr<gsm_state, GsmDeleter>;

class LGsmSoundSource final : public audio::LSoundSource {
 public:
  explicit LGsmSoundSource(std::shared_ptr<platform::ByteSource> bytes)
      : LSoundSource(kGsmRate, 1, audio::kFilePeakBound),
        bytes_(std::move(bytes)),
        frames_(static_cast<std::int64_t>(bytes_->Size() / kFrameBytes)),
        gsm_(gsm_create()) {
    if (!gsm_) setStatus(audio::SoundStatus::CodecMissing);
  }

  void read(Sample* buffer, FrameCount frames) override {
    if (frames <= 0) return;
    const FramePos start = pos_;
    pos_ += frames;
    const FramePos from = std::clamp<FramePos>(start, 0, length());
    const FramePos to = std::clamp<FramePos>(pos_, 0, length());
    const FrameCount lead = std::min<FrameCount>(frames, std::max<FramePos>(0, from - start));
    std::fill(buffer, buffer + frames, Sample{0});
    Sample* out = buffer + lead;
    for (FramePos f = from; f < to && gsm_;) {
      const std::int64_t frame = f / kFrameSamples;
      if (frame != current_) DecodeUpTo(frame);
      const FrameCount at = f % kFrameSamples;
      const FrameCount n = std::min<FrameCount>(kFrameSamples - at, to - f);
      for (FrameCount i = 0; i < n; ++i) out[i] = decoded_[static_cast<std::size_t>(at + i)] * 16;
      out += n;
      f += n;
    }
  }
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return frames_ * kFrameSamples; }
  void seek(FramePos frame) override { pos_ = frame; }

 private:
  // Leaves frame decoded in decoded_; going back or far ahead restarts the decoder a
  // few frames early.
  void DecodeUpTo(std::int64_t frame) {
    if (frame <= current_ || frame > current_ + kWarmupFrames) {
      gsm_.reset(gsm_create());
      if (!gsm_) return;
      current_ = std::max<std::int64_t>(frame - kWarmupFrames, 0) - 1;
    }
    while (current_ < frame) DecodeFrame(++current_);
  }

  void DecodeFrame(std::int64_t frame) {
    gsm_byte in[kFrameBytes] = {};
    const std::uint64_t at = static_cast<std::uint64_t>(frame) * kFrameBytes;
    if (bytes_->ReadAt(at, in, kFrameBytes) < kFrameBytes && at + kFrameBytes <= bytes_->Size())
      Fail(bytes_->failure());
    // The signature nibble carries no audio; a frame that lacks it is decoded anyway.
    in[0] = static_cast<gsm_byte>((GSM_MAGIC << 4) | (in[0] & 0x0F));
    if (gsm_decode(gsm_.get(), in, decoded_) < 0) std::fill(std::begin(decoded_), std::end(decoded_), gsm_signal{0});
  }

  std::shared_ptr<platform::ByteSource> bytes_;
  std::int64_t frames_;
  GsmPtr gsm_;
  std::int64_t current_ = -1;  // the frame in decoded_
  gsm_signal decoded_[kFrameSamples] = {};
  FramePos pos_ = 0;
};

class LGsmSoundSink final : public LFileSink {
 public:
  explicit LGsmSoundSink(const std::filesystem::path& target)
      : LFileSink(target, kGsmRate, 1, {}, UINT64_MAX), gsm_(gsm_create()) {
    if (!gsm_) Fail("The GSM 6.10 encoder could not be started.");
  }
  ~LGsmSoundSink() override { Finish(); }

  void write(const Sample* buffer, FrameCount frames) override {
    if (failed()) return;
    for (FrameCount i = 0; i < frames && !failed(); ++i) {
      pcm_[fill_++] = static_cast<gsm_signal>(std::clamp<std::int64_t>((std::int64_t{buffer[i]} + 8) >> 4, -32768, 32767));
      if (fill_ == kFrameSamples) EncodeFrame();
    }
    if (!failed()) setFramesWritten(framesWritten() + frames);
  }

 private:
  void EncodeFrame() {
    gsm_byte out[kFrameBytes];
    gsm_encode(gsm_.get(), pcm_, out);
    fill_ = 0;
    Append(out, kFrameBytes);
  }
  // A last partial frame is completed with silence.
  void Flush() override {
    if (fill_ == 0) return;
    std::fill(pcm_ + fill_, std::end(pcm_), gsm_signal{0});
    EncodeFrame();
  }

  GsmPtr gsm_;
  gsm_signal pcm_[kFrameSamples] = {};
  std::size_t fill_ = 0;
};

}  // namespace

audio::SourceHandle OpenGsmSource(std::shared_ptr<platform::ByteSource> bytes) {
  return audio::SourceHandle(audio::MakeRef<LGsmSoundSource>(std::move(bytes)));
}

audio::SourceHandle OpenGsmFile(const std::filesystem::path& file) {
  auto bytes = OpenForReading(file, nullptr);
  if (!bytes) return audio::MakeNullSource(audio::SoundStatus::CannotOpen);
  return OpenGsmSource(std::move(bytes));
}

audio::SinkHandle MakeGsmSink(const std::filesystem::path& file, std::uint32_t, int) {
  return audio::SinkHandle(audio::MakeRef<LGsmSoundSink>(file));
}

}  // namespace quillet::formats
