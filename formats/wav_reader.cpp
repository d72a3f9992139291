#include "formats/wav_reader.h"

#include "formats/mp3_source.h"

#include <algorithm>
#include <cstring>

namespace quillet::formats {
namespace {

using audio::FrameCount;
using audio::FramePos;
using audio::Sample;
using audio::SoundStatus;
using platform::LoadLE32;

constexpr std::uint32_t FourCC(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

constexpr std::uint32_t kRiff = FourCC("RIFF");
// The 64-bit forms (EBU Tech 3306 and ITU-R BS.2088): sizes that do not fit 32 bits
// are 0xFFFFFFFF in the chunk headers and given in a "ds64" chunk.
constexpr std::uint32_t kRf64 = FourCC("RF64");
constexpr std::uint32_t kBw64 = FourCC("BW64");
constexpr std::uint32_t kDs64 = FourCC("ds64");
constexpr std::uint32_t kWave = FourCC("WAVE");
constexpr std::uint32_t kFmt = FourCC("fmt ");
constexpr std::uint32_t kData = FourCC("data");
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;

SoundStatus Refuse(ParseLog* log, std::string why) {
  if (log) log->Add(std::move(why));
  return SoundStatus::Corrupt;
}

void Note(ParseLog* log, std::string line) {
  if (log) log->Add(std::move(line));
}

// Walks 8-byte chunk headers from *pos to the chunk with id; on success *pos is at
// its body and *size is its stated size.
bool FindChunk(platform::ByteSource& bytes, std::uint32_t id, std::uint64_t* pos,
               std::uint32_t* size, ParseLog* log) {
  const std::uint64_t end = bytes.Size();
  // Real files hold a handful of chunks; a run of empty ones is garbage to stop at.
  constexpr int kMaxChunks = 100000;
  for (int chunks = 0;; ++chunks) {
    if (chunks == kMaxChunks) {
      Note(log, "more than " + std::to_string(kMaxChunks) + " chunks");
      return false;
    }
    unsigned char h[8];
    if (!bytes.ReadExact(*pos, h, 8)) return false;
    *pos += 8;
    *size = LoadLE32(h + 4);
    if (LoadLE32(h) == id) return true;
    // Odd chunks carry a pad byte; the padded size must still lie in the file.
    const std::uint64_t skip = std::uint64_t{*size} + (*size & 1);
    if (skip > end - *pos) {
      Note(log, "chunk '" + std::string(reinterpret_cast<const char*>(h), 4) + "' of " +
                    std::to_string(*size) + " bytes runs past the end of the file");
      return false;
    }
    *pos += skip;
  }
}

audio::PcmLayout LayoutForBits(int bits) {
  if (bits <= 8) return audio::PcmLayout::U8;
  if (bits <= 16) return audio::PcmLayout::S16LE;
  if (bits <= 24) return audio::PcmLayout::S24LE;
  return audio::PcmLayout::S32LE;
}

}  // namespace

SoundStatus ParseWave(platform::ByteSource& bytes, WaveLayout* layout, ParseLog* log) {
  const std::uint64_t fileSize = bytes.Size();
  // Other top-level chunks may come before the RIFF form.
  std::uint64_t pos = 0;
  bool wide = false;
  for (;;) {
    unsigned char h[12];
    if (!bytes.ReadExact(pos, h, 12)) return Refuse(log, "no RIFF WAVE form in the file");
    const std::uint32_t id = LoadLE32(h);
    wide = id == kRf64 || id == kBw64;
    if ((id == kRiff || wide) && LoadLE32(h + 8) == kWave) break;
    const std::uint64_t size = std::uint64_t{LoadLE32(h + 4)} + (LoadLE32(h + 4) & 1);
    if (size < 5) return Refuse(log, "top-level chunk of " + std::to_string(size) + " bytes");
    pos += 8 + size;
    if (pos >= fileSize) return Refuse(log, "no RIFF WAVE form in the file");
  }
  if (!wide && fileSize > kMaxRiffFileBytes)
    return Refuse(log, "file of " + std::to_string(fileSize) +
                           " bytes is larger than a RIFF file can describe (4 GiB)");
  pos += 12;
  std::uint64_t wideDataBytes = 0;
  if (wide) {
    unsigned char ds[8 + 24];
    if (!bytes.ReadExact(pos, ds, sizeof ds) || LoadLE32(ds) != kDs64 || LoadLE32(ds + 4) < 24)
      return Refuse(log, "RF64 form without its 'ds64' chunk");
    wideDataBytes = std::uint64_t{LoadLE32(ds + 16)} | std::uint64_t{LoadLE32(ds + 20)} << 32;
  }

  std::uint32_t fmtSize = 0;
  if (!FindChunk(bytes, kFmt, &pos, &fmtSize, log)) return Refuse(log, "no 'fmt ' chunk");
  if (fmtSize < 16 || fmtSize > 8192)
    return Refuse(log,
                  "'fmt ' chunk of " + std::to_string(fmtSize) + " bytes (16 to 8192 allowed)");
  std::vector<std::uint8_t> rec(fmtSize);
  if (!bytes.ReadExact(pos, rec.data(), fmtSize))
    return Refuse(log, "'fmt ' chunk cut short by the end of the file");
  bool cbCut = false;
  auto fmt = WaveFormat::FromBytes(rec.data(), rec.size(), &cbCut);
  if (cbCut)
    Note(log, "fmt cbSize : " + std::to_string(platform::LoadLE16(rec.data() + 16)) +
                  " (should be at most " + std::to_string(fmtSize - kFormatHeaderBytes) + ")");
  pos += fmtSize + (fmtSize & 1);

  std::uint32_t dataSize = 0;
  if (!FindChunk(bytes, kData, &pos, &dataSize, log))
    return Refuse(log, "no 'data' chunk after 'fmt '");
  const std::uint64_t available = fileSize - pos;
  std::uint64_t dataBytes = dataSize;
  if (wide && dataSize == kUnknownSize) {
    dataBytes = wideDataBytes;
    if (dataBytes > available) {
      Note(log, "ds64 data : " + std::to_string(dataBytes) + " (should be " + std::to_string(available) + ")");
      dataBytes = available;
    }
  } else if (dataSize == kUnknownSize) {
    dataBytes = available;  // an unfinished recording: the data runs to the end
  } else if (dataBytes > available) {
    Note(log,
         "data : " + std::to_string(dataBytes) + " (should be " + std::to_string(available) + ")");
    dataBytes = available;
  }

  if (fmt->channels < 1 || fmt->channels > kMaxWaveChannels)
    return Refuse(log, "channel count " + std::to_string(fmt->channels) + " (1 to 255 allowed)");
  if (fmt->rate < 1 || fmt->rate > kMaxWaveRate)
    return Refuse(log, "sample rate " + std::to_string(fmt->rate) + " (1 to 196000 allowed)");
  layout->format = std::move(*fmt);
  layout->dataOffset = pos;
  layout->dataBytes = dataBytes;
  return SoundStatus::Ready;
}

LWavePCMSoundSource::LWavePCMSoundSource(std::shared_ptr<platform::ByteSource> bytes,
                                         const WaveLayout& layout)
    : LSoundSource(static_cast<std::int32_t>(layout.format.rate), layout.format.channels,
                   audio::kFilePeakBound),
      WaveSourceDetails(layout.format),
      bytes_(std::move(bytes)),
      layout_(LayoutForBits(layout.format.bits)),
      dataOffset_(layout.dataOffset),
      frameBytes_(static_cast<std::size_t>(channels()) *
                  static_cast<std::size_t>(audio::BytesPerSample(layout_))),
      frames_(static_cast<FrameCount>(layout.dataBytes / frameBytes_)),
      buffer_(static_cast<std::size_t>(audio::kBlockFrames) * frameBytes_) {}

void LWavePCMSoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const std::size_t ch = static_cast<std::size_t>(channels());
  const FramePos start = pos_;
  pos_ += frames;
  // Before frame 0 and from the end on: silence.
  const FramePos from = std::clamp<FramePos>(start, 0, frames_);
  const FramePos to = std::clamp<FramePos>(pos_, 0, frames_);
  const FrameCount lead = std::min<FrameCount>(frames, std::max<FramePos>(0, from - start));
  std::fill(buffer, buffer + lead * static_cast<FrameCount>(ch), Sample{0});
  Sample* out = buffer + lead * static_cast<FrameCount>(ch);
  for (FramePos f = from; f < to;) {
    const FrameCount n = std::min<FrameCount>(to - f, audio::kBlockFrames);
    const std::size_t want = static_cast<std::size_t>(n) * frameBytes_;
    const std::size_t got = bytes_->ReadAt(
        dataOffset_ + static_cast<std::uint64_t>(f) * frameBytes_, buffer_.data(), want);
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(got),
              buffer_.begin() + static_cast<std::ptrdiff_t>(want), 0);
    if (got < want) Fail(bytes_->failure());
    audio::PcmToSamples(layout_, buffer_.data(), out, static_cast<std::size_t>(n) * ch);
    out += n * static_cast<FrameCount>(ch);
    f += n;
  }
  std::fill(out, buffer + frames * static_cast<FrameCount>(ch), Sample{0});
}

LACMSoundSource::LACMSoundSource(std::shared_ptr<platform::ByteSource> bytes,
                                 const WaveLayout& layout)
    : LSoundSource(static_cast<std::int32_t>(layout.format.rate), layout.format.channels,
                   audio::kFilePeakBound),
      WaveSourceDetails(layout.format),
      bytes_(std::move(bytes)),
      dataOffset_(layout.dataOffset),
      dataBytes_(layout.dataBytes),
      avgBytes_(layout.format.avgBytes ? layout.format.avgBytes : layout.format.rate),
      exactFrames_(CodedFrames(layout.format, layout.dataBytes)) {
  // The decoder's best PCM; a non-real-time codec is allowed when no other is.
  CodecResult r = SuggestPcm(format_, &pcm_);
  if (r == CodecResult::Ok && CodecStream::Open(&stream_, format_, pcm_, 0) != CodecResult::Ok)
    r = CodecStream::Open(&stream_, format_, pcm_, kStreamOpenNonRealtime);
  if (r != CodecResult::Ok) {
    // A record the codec cannot make sense of is a corrupt file, not a missing codec.
    setStatus(r == CodecResult::BadFormat ? audio::SoundStatus::Corrupt
                                          : audio::SoundStatus::CodecMissing);
    stream_.reset();
    return;
  }
  pcmLayout_ = LayoutForBits(pcm_.bits);
  // At least 8192 frames of output, and always a whole block.
  const auto fpb = static_cast<std::size_t>(stream_->framesPerBlock());
  const std::size_t outFrames =
      (static_cast<std::size_t>(audio::kBlockFrames) + fpb - 1) / fpb * fpb;
  out_.resize(outFrames * pcm_.blockAlign);
  const std::size_t inBytes = stream_->Size(out_.size(), kStreamSizeDestination);
  if (inBytes == 0) {
    setStatus(audio::SoundStatus::CodecMissing);
    return;
  }
  in_.resize(inBytes);
  // Float and wide PCM may carry the whole 20-bit scale.
  if (pcm_.bits > 16) setPeakBound(static_cast<std::uint32_t>(audio::kSampleMax) + 1);
}

void LACMSoundSource::ClearBuffers() { inFill_ = outPos_ = outFill_ = 0; }

void LACMSoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const auto ch = static_cast<std::size_t>(channels());
  const FramePos start = pos_;
  pos_ += frames;
  std::fill(buffer, buffer + frames * static_cast<FrameCount>(ch), Sample{0});
  if (!ready() || pos_ <= 0) return;
  const FrameCount lead = start < 0 ? -start : 0;
  Sample* out = buffer + lead * static_cast<FrameCount>(ch);
  FrameCount wanted = frames - lead;
  const std::size_t frameBytes = pcm_.blockAlign;
  while (wanted > 0) {
    const FrameCount ready = static_cast<FrameCount>((outFill_ - outPos_) / frameBytes);
    const FrameCount take = std::min(wanted, ready);
    if (take > 0) {
      audio::PcmToSamples(pcmLayout_, out_.data() + outPos_, out,
                          static_cast<std::size_t>(take) * ch);
      outPos_ += static_cast<std::size_t>(take) * frameBytes;
      out += take * static_cast<FrameCount>(ch);
      wanted -= take;
      continue;
    }
    if (endFrame_ >= 0) return;  // the rest stays silent
    // Top the input up; nothing beyond the data chunk is taken.
    const std::size_t room = in_.size() - inFill_;
    const auto more =
        static_cast<std::size_t>(std::min<std::uint64_t>(room, dataBytes_ - consumed_));
    const std::size_t got = bytes_->ReadAt(dataOffset_ + consumed_, in_.data() + inFill_, more);
    consumed_ += more;
    if (got < more) {
      Fail(bytes_->failure());
      return;
    }
    std::fill(in_.begin() + static_cast<std::ptrdiff_t>(inFill_ + got),
              in_.begin() + static_cast<std::ptrdiff_t>(inFill_ + more), 0);
    inFill_ += more;
    const bool exhausted = inFill_ < in_.size();
    StreamHeader h{in_.data(), inFill_, 0, out_.data(), out_.size(), 0};
    if (stream_->Convert(h, kConvertBlockAlign) != CodecResult::Ok) h.srcUsed = (inFill_ + 3) / 4;
    if (h.dstUsed == 0 && (exhausted || h.srcUsed == 0)) {
      h = StreamHeader{in_.data(), inFill_, 0, out_.data(), out_.size(), 0};
      if (stream_->Convert(h, kConvertEnd) != CodecResult::Ok) h.srcUsed = inFill_;
      if (h.dstUsed == 0) endFrame_ = std::max<FramePos>(0, pos_ - wanted);
    }
    std::memmove(in_.data(), in_.data() + h.srcUsed, inFill_ - h.srcUsed);
    inFill_ -= h.srcUsed;
    outPos_ = 0;
    outFill_ = h.dstUsed;
  }
}

FramePos LACMSoundSource::FrameOfByte(std::uint64_t b) const {
  if (exactFrames_ >= 0)
    return static_cast<FramePos>(b / stream_->blockBytes()) * stream_->framesPerBlock();
  return static_cast<FramePos>(b / avgBytes_ * static_cast<std::uint64_t>(sampleRate()) +
                               b % avgBytes_ * static_cast<std::uint64_t>(sampleRate()) /
                                   avgBytes_);
}

std::uint64_t LACMSoundSource::ByteOfFrame(FramePos f) const {
  const auto uf = static_cast<std::uint64_t>(f);
  if (exactFrames_ >= 0)
    return uf / static_cast<std::uint64_t>(stream_->framesPerBlock()) * stream_->blockBytes();
  const auto rate = static_cast<std::uint64_t>(sampleRate());
  return uf / rate * avgBytes_ + uf % rate * avgBytes_ / rate;
}

FrameCount LACMSoundSource::length() const {
  if (endFrame_ >= 0) return endFrame_;
  if (exactFrames_ >= 0) return exactFrames_;
  if (!stream_) return 0;
  // Estimate: undecoded bytes at the average rate, plus what is decoded and pending.
  const std::uint64_t undecoded = dataBytes_ - consumed_ + inFill_;
  const FrameCount pending = static_cast<FrameCount>((outFill_ - outPos_) / pcm_.blockAlign);
  return FrameOfByte(undecoded) + pending + std::max<FramePos>(pos_, 0);
}

void LACMSoundSource::seek(FramePos f) {
  if (!stream_) {
    pos_ = f;
    return;
  }
  StreamHeader empty;
  stream_->Convert(empty, kConvertStart);
  ClearBuffers();
  endFrame_ = -1;
  consumed_ = 0;
  pos_ = 0;
  if (f >= 1) {
    const std::uint64_t b = ByteOfFrame(f);
    if (b < dataBytes_) {
      // Start a little early so the decoder's state settles before f.
      const std::uint64_t back = std::max<std::uint64_t>(2 * format_.blockAlign, 256);
      std::uint64_t startByte = b > back ? b - back : 0;
      const std::uint64_t align = exactFrames_ >= 0
                                      ? stream_->blockBytes()
                                      : std::max<std::uint16_t>(format_.blockAlign, 1);
      startByte -= startByte % align;
      consumed_ = startByte;
      pos_ = FrameOfByte(startByte);
      std::vector<Sample> scratch(static_cast<std::size_t>(audio::kBlockFrames) *
                                  static_cast<std::size_t>(channels()));
      while (pos_ < f && endFrame_ < 0)
        read(scratch.data(), std::min<FrameCount>(f - pos_, audio::kBlockFrames));
    } else {
      consumed_ = dataBytes_;
      endFrame_ = exactFrames_ >= 0 ? exactFrames_ : FrameOfByte(dataBytes_);
    }
  }
  pos_ = f;
}

audio::SourceHandle OpenWaveSource(std::shared_ptr<platform::ByteSource> bytes, ParseLog* log) {
  WaveLayout layout;
  const SoundStatus st = ParseWave(*bytes, &layout, log);
  if (st != SoundStatus::Ready) return audio::MakeNullSource(st);
  if (layout.format.tag == wave_tag::kPcm)
    return audio::SourceHandle(audio::MakeRef<LWavePCMSoundSource>(std::move(bytes), layout));
  if (layout.format.tag == wave_tag::kMpegLayer3) {
    // MPEG frames vary in size, so they are not codec blocks: the data chunk is
    // read as the MP3 stream it is.
    return OpenMp3Source(std::make_unique<platform::RangeByteSource>(
        std::move(bytes), layout.dataOffset, layout.dataBytes));
  }
  auto src = audio::MakeRef<LACMSoundSource>(std::move(bytes), layout);
  if (src->status() != SoundStatus::Ready && log)
    log->Add("no usable codec for format tag " + std::to_string(layout.format.tag) + " (" +
             FormatTagName(layout.format.tag) + ")");
  return audio::SourceHandle(std::move(src));
}

audio::SourceHandle OpenWaveFile(const std::filesystem::path& file, ParseLog* log) {
  int err = 0;
  std::shared_ptr<platform::ByteSource> bytes = platform::FileByteSource::Open(file, &err);
  if (!bytes) {
    if (log) log->Add("cannot open " + file.string() + ": " + std::strerror(err));
    return audio::MakeNullSource(SoundStatus::CannotOpen);
  }
  return OpenWaveSource(std::move(bytes), log);
}

}  // namespace quillet::formats
