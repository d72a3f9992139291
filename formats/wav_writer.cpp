#include "formats/wav_writer.h"

#include <algorithm>
#include <cstring>

#include "formats/wav_reader.h"
#include "platform/byte_source.h"

namespace quillet::formats {
namespace {

using audio::FrameCount;
using audio::Sample;

constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;

std::string WriteError(int err) {
  return err == ENOSPC ? "The disk is full." : std::string("Write error: ") + std::strerror(err) + ".";
}

int WidthForBits(int bits) {
  if (bits >= 1 && bits <= 8) return 1;
  if (bits >= 9 && bits <= 16) return 2;
  if (bits >= 17 && bits <= 24) return 3;
  return 4;
}

audio::PcmLayout LayoutForWidth(int width) {
  switch (width) {
    case 1: return audio::PcmLayout::U8;
    case 2: return audio::PcmLayout::S16LE;
    case 3: return audio::PcmLayout::S24LE;
  }
  return audio::PcmLayout::S32LE;
}

// The temporary file as bytes a finishing step can read, overwrite and extend.
class WriterBytes final : public WritableBytes {
 public:
  explicit WriterBytes(platform::SafeFileWriter& file) : file_(file) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override {
    return file_.ReadAt(offset, out, n);
  }
  std::uint64_t Size() const override { return file_.size(); }
  bool WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const std::uint8_t zero = 0;
    while (file_.size() < offset)
      if (!file_.Write(&zero, 1)) return false;
    const std::size_t inside = static_cast<std::size_t>(std::min<std::uint64_t>(n, file_.size() - offset));
    if (inside > 0 && !file_.WriteAt(offset, p, inside)) return false;
    return inside == n || file_.Write(p + inside, n - inside);
  }

 private:
  platform::SafeFileWriter& file_;
};

// The sink's rate and channels, checked by the LSoundSink base.
int SinkChannels(const WaveFormat& f) { return f.channels == 0 ? 1 : f.channels; }

}  // namespace

LWaveFileSink::LWaveFileSink(const std::filesystem::path& target, const WaveFormat& format, int channels)
    : LSoundSink(format.rate, channels), record_(format.ToBytes()) {
  if (format.rate > kMaxWaveRate) Fail("A sample rate of " + std::to_string(format.rate) + " Hz is not supported.");
  int err = 0;
  file_ = platform::SafeFileWriter::Create(target, &err);
  if (!file_) {
    Fail(platform::CannotSaveMessage(target, err));
    return;
  }
  WriteHeader(kUnknownSize, kUnknownSize);
}

LWaveFileSink::~LWaveFileSink() {
  if (!done_) Finish();
}

void LWaveFileSink::WriteHeader(std::uint32_t riffSize, std::uint32_t dataSize) {
  std::vector<std::uint8_t> h(headerBytes());
  std::memcpy(h.data(), "RIFF", 4);
  platform::StoreLE32(h.data() + 4, riffSize);
  std::memcpy(h.data() + 8, "WAVEfmt ", 8);
  platform::StoreLE32(h.data() + 16, static_cast<std::uint32_t>(record_.size()));
  std::copy(record_.begin(), record_.end(), h.begin() + 20);
  std::memcpy(h.data() + 20 + record_.size(), "data", 4);
  platform::StoreLE32(h.data() + 24 + record_.size(), dataSize);
  if (file_->size() < h.size())
    file_->Write(h.data(), h.size());
  else
    file_->WriteAt(0, h.data(), h.size());
  if (file_->failed()) Fail(WriteError(file_->error()));
}

void LWaveFileSink::Append(const std::uint8_t* p, std::size_t n) {
  if (failed()) return;
  // The RIFF size field must describe header, data and pad byte.
  if (headerBytes() - 8 + dataBytes_ + n + 1 > kUnknownSize) {
    Fail("The file would be larger than 4 GiB, the most a WAVE file can hold.");
    return;
  }
  if (!file_->Write(p, n)) {
    Fail(WriteError(file_->error()));
    return;
  }
  dataBytes_ += n;
}

bool LWaveFileSink::Finish() {
  if (done_) return !failed();
  done_ = true;
  if (!file_) return false;
  Flush();
  if (!failed()) {
    // Odd data gets its pad byte so that chunks appended later stay aligned.
    const std::uint8_t pad = 0;
    if (dataBytes_ & 1 && !file_->Write(&pad, 1)) Fail(WriteError(file_->error()));
    const std::uint64_t riff = headerBytes() - 8 + dataBytes_ + (dataBytes_ & 1);
    WriteHeader(static_cast<std::uint32_t>(riff), static_cast<std::uint32_t>(dataBytes_));
  }
  if (!failed() && finishing_) {
    WriterBytes bytes(*file_);
    std::string why;
    if (!finishing_(bytes, &why))
      Fail(why + (file_->error() ? " " + WriteError(file_->error()) : std::string()));
  }
  if (!failed() && !file_->Commit()) Fail(WriteError(file_->error() ? file_->error() : EIO));
  file_.reset();  // an uncommitted temporary file goes with it
  return !failed();
}

void LWaveFileSink::Abandon() {
  done_ = true;
  file_.reset();
}

LWavePCMSoundSink::LWavePCMSoundSink(const std::filesystem::path& target, std::uint32_t rate,
                                     FrameCount framesKept, int bits, int channels)
    : LWaveFileSink(target, MakePcmFormat(rate, std::clamp(channels, 1, kMaxWaveChannels), 8 * WidthForBits(bits)), channels),
      layout_(LayoutForWidth(WidthForBits(bits))),
      frameBytes_(static_cast<std::size_t>(this->channels()) * static_cast<std::size_t>(WidthForBits(bits))),
      buffer_(static_cast<std::size_t>(audio::kBlockFrames) * frameBytes_) {
  if (failed() || framesKept <= 0) return;
  // Keep the first frames of the existing file: copy them into the new one.
  audio::SourceHandle old = OpenWaveFile(target);
  if (!old->ready() || old->channels() != this->channels()) return;
  std::vector<Sample> block(static_cast<std::size_t>(audio::kBlockFrames) * static_cast<std::size_t>(this->channels()));
  for (FrameCount left = std::min(framesKept, old->length()); left > 0 && !failed();) {
    const FrameCount n = std::min(left, audio::kBlockFrames);
    old->read(block.data(), n);
    if (old->failed()) {
      Fail(old->failureMessage());
      return;
    }
    write(block.data(), n);
    left -= n;
  }
}

void LWavePCMSoundSink::write(const Sample* buffer, FrameCount frames) {
  const auto ch = static_cast<std::size_t>(channels());
  for (FrameCount done = 0; done < frames && !failed();) {
    const FrameCount n = std::min(frames - done, audio::kBlockFrames);
    audio::SamplesToPcm(layout_, buffer + done * static_cast<FrameCount>(ch), buffer_.data(), static_cast<std::size_t>(n) * ch);
    Append(buffer_.data(), static_cast<std::size_t>(n) * frameBytes_);
    if (!failed()) setFramesWritten(framesWritten() + n);
    done += n;
  }
}

void LWavePCMSoundSink::truncate(FrameCount frame) {
  if (failed() || frame > framesWritten()) return;
  frame = std::max<FrameCount>(frame, 0);
  setFramesWritten(frame);
  dataBytes_ = static_cast<std::uint64_t>(frame) * frameBytes_;
  if (!file_->Truncate(headerBytes() + dataBytes_)) Fail(WriteError(file_->error()));
}

LACMWaveSoundSink::LACMWaveSoundSink(const std::filesystem::path& target, const WaveFormat& format)
    : LWaveFileSink(target, format, SinkChannels(format)) {
  if (failed()) return;
  const char* refused = "The chosen format cannot be written: no codec for " ;
  if (SuggestPcm(format, &pcm_) != CodecResult::Ok ||
      (CodecStream::Open(&stream_, pcm_, format, 0) != CodecResult::Ok &&
       CodecStream::Open(&stream_, pcm_, format, kStreamOpenNonRealtime) != CodecResult::Ok)) {
    Fail(refused + FormatTagName(format.tag) + " " + DescribeFormat(format) + ".");
    return;
  }
  pcmLayout_ = LayoutForWidth(pcm_.bits / 8);
  in_.resize(static_cast<std::size_t>(audio::kBlockFrames) * pcm_.blockAlign);
  // Room for a whole block even when one block holds more than 8192 frames.
  const std::size_t blockIn = static_cast<std::size_t>(stream_->framesPerBlock()) * pcm_.blockAlign;
  if (in_.size() < blockIn) in_.resize(blockIn);
  out_.resize(stream_->Size(in_.size(), kStreamSizeSource));
  if (out_.empty()) Fail(refused + FormatTagName(format.tag) + ".");
}

void LACMWaveSoundSink::Pump(std::uint32_t flags) {
  for (;;) {
    StreamHeader h{in_.data(), inFill_, 0, out_.data(), out_.size(), 0};
    stream_->Convert(h, flags);
    Append(out_.data(), h.dstUsed);
    std::memmove(in_.data(), in_.data() + h.srcUsed, inFill_ - h.srcUsed);
    inFill_ -= h.srcUsed;
    // Less than a block left: wait for more (or the end).
    if (h.srcUsed == 0 || failed()) return;
  }
}

void LACMWaveSoundSink::write(const Sample* buffer, FrameCount frames) {
  if (failed() || !stream_) return;
  const auto ch = static_cast<std::size_t>(channels());
  const std::size_t frameBytes = pcm_.blockAlign;
  for (FrameCount done = 0; done < frames && !failed();) {
    const auto room = static_cast<FrameCount>((in_.size() - inFill_) / frameBytes);
    const FrameCount n = std::min(frames - done, room);
    audio::SamplesToPcm(pcmLayout_, buffer + done * static_cast<FrameCount>(ch), in_.data() + inFill_, static_cast<std::size_t>(n) * ch);
    inFill_ += static_cast<std::size_t>(n) * frameBytes;
    done += n;
    Pump(kConvertBlockAlign);
    if (!failed()) setFramesWritten(framesWritten() + n);
  }
}

void LACMWaveSoundSink::Flush() {
  if (stream_ && !failed()) Pump(kConvertBlockAlign | kConvertEnd);
}

audio::SinkHandle MakeWavePcmSink(const std::filesystem::path& target, std::uint32_t rate,
                                  FrameCount framesKept, int bits, int channels) {
  return audio::SinkHandle(audio::MakeRef<LWavePCMSoundSink>(target, rate, framesKept, bits, channels));
}

audio::SinkHandle MakeWaveFormatSink(const std::filesystem::path& target, const WaveFormat& format,
                                     FinishingStep finishing) {
  if (format.tag == wave_tag::kPcm) {
    auto sink = audio::MakeRef<LWavePCMSoundSink>(target, format.rate, 0, format.bits, format.channels);
    sink->SetFinishingStep(std::move(finishing));
    return audio::SinkHandle(std::move(sink));
  }
  auto sink = audio::MakeRef<LACMWaveSoundSink>(target, format);
  sink->SetFinishingStep(std::move(finishing));
  return audio::SinkHandle(std::move(sink));
}

}  // namespace quillet::formats
