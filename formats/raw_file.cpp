#include "formats/raw_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "audio/pcm.h"
#include "formats/g711.h"

namespace quillet::formats {
namespace {

using audio::FrameCount;
using audio::FramePos;
using audio::Sample;

std::int16_t To16(Sample x) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>((std::int64_t{x} + 8) >> 4, -32768, 32767));
}

// The companders look at the top 14 (u-law) or 13 (A-law) bits of a 16-bit value;
// rounding to those here rather than truncating halves the error, as sox does.
std::int16_t ToCompanderInput(Sample x, int bits) {
  const int shift = 20 - bits;
  const std::int64_t v = std::clamp<std::int64_t>((std::int64_t{x} + (std::int64_t{1} << (shift - 1))) >> shift,
                                                  -(std::int64_t{1} << (bits - 1)), (std::int64_t{1} << (bits - 1)) - 1);
  return static_cast<std::int16_t>(v * (1 << (16 - bits)));
}

std::string WriteError(int err) {
  return err == ENOSPC ? "The disk is full." : std::string("Write error: ") + std::strerror(err) + ".";
}

}  // namespace

int CodingBytes(RawCoding c) {
  switch (c) {
    case RawCoding::S16LE: case RawCoding::S16BE: return 2;
    case RawCoding::S24LE: case RawCoding::S24BE: return 3;
    case RawCoding::S32LE: case RawCoding::S32BE: case RawCoding::F32LE: case RawCoding::F32BE: return 4;
    case RawCoding::F64LE: case RawCoding::F64BE: return 8;
    default: return 1;
  }
}

int CodingPcmBits(RawCoding c) {
  switch (c) {
    case RawCoding::MuLaw: case RawCoding::ALaw: return 0;
    case RawCoding::F32LE: case RawCoding::F32BE: case RawCoding::F64LE: case RawCoding::F64BE: return 24;
    default: return CodingBytes(c) * 8;
  }
}

std::uint32_t CodingPeakBound(RawCoding c) {
  switch (c) {
    // G.711 tops out at 32124 (u-law) and 32256 (A-law) in 16-bit terms.
    case RawCoding::MuLaw: case RawCoding::ALaw: return 0x7E000;
    case RawCoding::S24LE: case RawCoding::S24BE: case RawCoding::S32LE: case RawCoding::S32BE:
      return static_cast<std::uint32_t>(audio::kSampleMax) + 1;
    // Floating point may go beyond full scale; it is cut at four times it.
    case RawCoding::F32LE: case RawCoding::F32BE: case RawCoding::F64LE: case RawCoding::F64BE:
      return audio::kWidePeakBound;
    default: return audio::kFilePeakBound;
  }
}

namespace {

std::uint64_t LoadWord(const std::uint8_t* p, int bytes, bool bigEndian) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint64_t{p[bigEndian ? bytes - 1 - i : i]} << (8 * i);
  return v;
}

// Integer PCM of 3 or 4 bytes to the 20-bit scale, exactly as the WAVE reader takes
// the same widths, so a file reads alike whatever its container.
void DecodeWide(const std::uint8_t* in, Sample* out, std::size_t count, int bytes, bool bigEndian) {
  std::uint8_t le[4];
  const audio::PcmLayout layout = bytes == 3 ? audio::PcmLayout::S24LE : audio::PcmLayout::S32LE;
  for (std::size_t i = 0; i < count; ++i, in += bytes) {
    for (int k = 0; k < bytes; ++k) le[k] = in[bigEndian ? bytes - 1 - k : k];
    audio::PcmToSamples(layout, le, out + i, 1);
  }
}

// Floating point, full scale 1.0; NaN reads as silence and anything beyond the source's
// bound is cut there.
void DecodeFloat(const std::uint8_t* in, Sample* out, std::size_t count, int bytes, bool bigEndian) {
  constexpr double kBound = audio::kWidePeakBound;
  for (std::size_t i = 0; i < count; ++i, in += bytes) {
    const std::uint64_t bits = LoadWord(in, bytes, bigEndian);
    double v;
    if (bytes == 4) {
      float f;
      const auto b32 = static_cast<std::uint32_t>(bits);
      std::memcpy(&f, &b32, 4);
      v = f;
    } else {
      std::memcpy(&v, &bits, 8);
    }
    v *= 524288.0;
    if (!(v == v)) v = 0;
    out[i] = static_cast<Sample>(std::lrint(std::clamp(v, -kBound, kBound)));
  }
}

}  // namespace

void DecodeSamples(RawCoding c, const std::uint8_t* in, Sample* out, std::size_t count) {
  switch (c) {
    case RawCoding::S24LE: return DecodeWide(in, out, count, 3, false);
    case RawCoding::S24BE: return DecodeWide(in, out, count, 3, true);
    case RawCoding::S32LE: return DecodeWide(in, out, count, 4, false);
    case RawCoding::S32BE: return DecodeWide(in, out, count, 4, true);
    case RawCoding::F32LE: return DecodeFloat(in, out, count, 4, false);
    case RawCoding::F32BE: return DecodeFloat(in, out, count, 4, true);
    case RawCoding::F64LE: return DecodeFloat(in, out, count, 8, false);
    case RawCoding::F64BE: return DecodeFloat(in, out, count, 8, true);
    case RawCoding::U8:
      audio::PcmToSamples(audio::PcmLayout::U8, in, out, count);
      return;
    case RawCoding::S8:
      for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::int8_t>(in[i]) * 4096;
      return;
    case RawCoding::S16LE:
      audio::PcmToSamples(audio::PcmLayout::S16LE, in, out, count);
      return;
    case RawCoding::S16BE:
      for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::int16_t>(platform::LoadBE16(in + 2 * i)) * 16;
      return;
    case RawCoding::MuLaw:
      for (std::size_t i = 0; i < count; ++i) out[i] = MuLawToLinear(in[i]) * 16;
      return;
    case RawCoding::ALaw:
      for (std::size_t i = 0; i < count; ++i) out[i] = ALawToLinear(in[i]) * 16;
      return;
  }
}

void EncodeSamples(RawCoding c, const Sample* in, std::uint8_t* out, std::size_t count) {
  switch (c) {
    case RawCoding::S24LE:
      audio::SamplesToPcm(audio::PcmLayout::S24LE, in, out, count);
      return;
    case RawCoding::S32LE:
      audio::SamplesToPcm(audio::PcmLayout::S32LE, in, out, count);
      return;
    case RawCoding::S24BE: case RawCoding::S32BE: {
      const int bytes = CodingBytes(c);
      EncodeSamples(bytes == 3 ? RawCoding::S24LE : RawCoding::S32LE, in, out, count);
      for (std::size_t i = 0; i < count; ++i) std::reverse(out + i * bytes, out + (i + 1) * bytes);
      return;
    }
    case RawCoding::F32LE: case RawCoding::F32BE: case RawCoding::F64LE: case RawCoding::F64BE: {
      const int bytes = CodingBytes(c);
      const bool big = c == RawCoding::F32BE || c == RawCoding::F64BE;
      for (std::size_t i = 0; i < count; ++i, out += bytes) {
        const double v = static_cast<double>(in[i]) / 524288.0;
        std::uint64_t bits;
        if (bytes == 4) {
          const auto f = static_cast<float>(v);
          std::uint32_t b32;
          std::memcpy(&b32, &f, 4);
          bits = b32;
        } else {
          std::memcpy(&bits, &v, 8);
        }
        for (int k = 0; k < bytes; ++k) out[big ? bytes - 1 - k : k] = static_cast<std::uint8_t>(bits >> (8 * k));
      }
      return;
    }
    case RawCoding::U8:
      audio::SamplesToPcm(audio::PcmLayout::U8, in, out, count);
      return;
    case RawCoding::S8:
      for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(std::clamp<std::int64_t>((std::int64_t{in[i]} + 2048) >> 12, -128, 127));
      return;
    case RawCoding::S16LE:
      audio::SamplesToPcm(audio::PcmLayout::S16LE, in, out, count);
      return;
    case RawCoding::S16BE:
      for (std::size_t i = 0; i < count; ++i) platform::StoreBE16(out + 2 * i, static_cast<std::uint16_t>(To16(in[i])));
      return;
    case RawCoding::MuLaw:
      for (std::size_t i = 0; i < count; ++i) out[i] = LinearToMuLaw(ToCompanderInput(in[i], 14));
      return;
    case RawCoding::ALaw:
      for (std::size_t i = 0; i < count; ++i) out[i] = LinearToALaw(ToCompanderInput(in[i], 13));
      return;
  }
}

LRawFileSoundSource::LRawFileSoundSource(std::shared_ptr<platform::ByteSource> bytes, RawCoding coding,
                                         std::int32_t rate, int channels, std::uint64_t dataOffset,
                                         std::uint64_t dataBytes)
    : LSoundSource(rate, channels, CodingPeakBound(coding)),
      bytes_(std::move(bytes)),
      coding_(coding),
      dataOffset_(dataOffset),
      frameBytes_(static_cast<std::size_t>(this->channels()) * static_cast<std::size_t>(CodingBytes(coding))),
      frames_(static_cast<FrameCount>(std::min<std::uint64_t>(dataBytes / frameBytes_, INT64_MAX))),
      buffer_(static_cast<std::size_t>(audio::kBlockFrames) * frameBytes_) {}

void LRawFileSoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const auto ch = static_cast<FrameCount>(channels());
  const FramePos start = pos_;
  pos_ += frames;
  // Before frame 0 and from the end on: silence.
  const FramePos from = std::clamp<FramePos>(start, 0, frames_);
  const FramePos to = std::clamp<FramePos>(pos_, 0, frames_);
  const FrameCount lead = std::min<FrameCount>(frames, std::max<FramePos>(0, from - start));
  std::fill(buffer, buffer + lead * ch, Sample{0});
  Sample* out = buffer + lead * ch;
  for (FramePos f = from; f < to;) {
    const FrameCount n = std::min<FrameCount>(to - f, audio::kBlockFrames);
    const std::size_t want = static_cast<std::size_t>(n) * frameBytes_;
    const std::size_t got = bytes_->ReadAt(dataOffset_ + static_cast<std::uint64_t>(f) * frameBytes_, buffer_.data(), want);
    if (got < want) Fail(bytes_->failure());
    std::fill(buffer_.begin() + static_cast<std::ptrdiff_t>(got), buffer_.begin() + static_cast<std::ptrdiff_t>(want),
              coding_ == RawCoding::U8 ? 0x80 : coding_ == RawCoding::MuLaw ? 0xFF : coding_ == RawCoding::ALaw ? 0xD5 : 0);
    DecodeSamples(coding_, buffer_.data(), out, static_cast<std::size_t>(n * ch));
    out += n * ch;
    f += n;
  }
  std::fill(out, buffer + frames * ch, Sample{0});
}

LFileSink::LFileSink(const std::filesystem::path& target, std::uint32_t rate, int channels, HeaderFn header,
                     std::uint64_t maxDataBytes)
    : LSoundSink(rate, channels), header_(std::move(header)), maxDataBytes_(maxDataBytes) {
  if (rate < 1 || rate > kMaxFileRate) {
    Fail("A sample rate of " + std::to_string(rate) + " Hz is not supported.");
    return;
  }
  if (failed()) return;
  int err = 0;
  file_ = platform::SafeFileWriter::Create(target, &err);
  if (!file_) {
    Fail(platform::CannotSaveMessage(target, err));
    return;
  }
  WriteHeader(false);
}

LFileSink::~LFileSink() {
  if (!done_) Finish();
}

void LFileSink::FailWrite() { Fail(WriteError(file_->error() ? file_->error() : EIO)); }

void LFileSink::WriteHeader(bool final) {
  if (!header_) return;
  const std::vector<std::uint8_t> h = header_(final, dataBytes_);
  if (!final) {
    headerBytes_ = h.size();
    file_->Write(h.data(), h.size());
  } else if (h.size() == headerBytes_) {
    file_->WriteAt(0, h.data(), h.size());
  }
  if (file_->failed()) FailWrite();
}

void LFileSink::Append(const std::uint8_t* p, std::size_t n) {
  if (failed() || !file_) return;
  if (n > maxDataBytes_ - dataBytes_) {
    Fail("The file would be larger than this format can describe (4 GiB).");
    return;
  }
  if (!file_->Write(p, n)) {
    FailWrite();
    return;
  }
  dataBytes_ += n;
}

void LFileSink::TruncateData(std::uint64_t bytes) {
  if (failed() || !file_ || bytes > dataBytes_) return;
  dataBytes_ = bytes;
  if (!file_->Truncate(headerBytes_ + bytes)) FailWrite();
}

bool LFileSink::Finish() {
  if (done_) return !failed();
  done_ = true;
  if (!file_) return false;
  if (!failed()) Flush();
  if (!failed()) WriteHeader(true);
  if (!failed() && !file_->Commit()) FailWrite();
  file_.reset();  // an uncommitted temporary file goes with it
  return !failed();
}

void LFileSink::Abandon() {
  done_ = true;
  file_.reset();
}

LRawFileSink::LRawFileSink(const std::filesystem::path& target, std::uint32_t rate, int channels, RawCoding coding,
                           HeaderFn header, std::uint64_t maxDataBytes)
    : LFileSink(target, rate, channels, std::move(header), maxDataBytes),
      coding_(coding),
      frameBytes_(static_cast<std::size_t>(this->channels()) * static_cast<std::size_t>(CodingBytes(coding))),
      buffer_(static_cast<std::size_t>(audio::kBlockFrames) * frameBytes_) {}

void LRawFileSink::write(const Sample* buffer, FrameCount frames) {
  const auto ch = static_cast<FrameCount>(channels());
  for (FrameCount done = 0; done < frames && !failed();) {
    const FrameCount n = std::min(frames - done, audio::kBlockFrames);
    EncodeSamples(coding_, buffer + done * ch, buffer_.data(), static_cast<std::size_t>(n * ch));
    Append(buffer_.data(), static_cast<std::size_t>(n) * frameBytes_);
    if (!failed()) setFramesWritten(framesWritten() + n);
    done += n;
  }
}

void LRawFileSink::truncate(FrameCount frame) {
  if (failed() || frame > framesWritten()) return;
  frame = std::max<FrameCount>(frame, 0);
  setFramesWritten(frame);
  TruncateData(static_cast<std::uint64_t>(frame) * frameBytes_);
}

std::uint64_t ClampDataBytes(std::uint64_t fileSize, std::uint64_t offset, std::uint32_t stated, ParseLog* log,
                             const char* what) {
  const std::uint64_t available = offset < fileSize ? fileSize - offset : 0;
  if (stated == 0xFFFFFFFF) return available;  // an unfinished file: up to its end
  if (stated > available) {
    if (log) log->Add(std::string(what) + " : " + std::to_string(stated) + " (should be " + std::to_string(available) + ")");
    return available;
  }
  return stated;
}

audio::SourceHandle Refuse(audio::SoundStatus status, ParseLog* log, std::string why) {
  if (log) log->Add(std::move(why));
  return audio::MakeNullSource(status);
}

std::shared_ptr<platform::ByteSource> OpenForReading(const std::filesystem::path& file, ParseLog* log) {
  int err = 0;
  std::shared_ptr<platform::ByteSource> bytes = platform::FileByteSource::Open(file, &err);
  if (!bytes && log) log->Add("cannot open " + file.string() + ": " + std::strerror(err));
  return bytes;
}

bool ValidRateAndChannels(std::int64_t rate, std::int64_t channels, ParseLog* log) {
  if (channels < 1 || channels > audio::kMaxChannels) {
    if (log) log->Add("channel count " + std::to_string(channels) + " (1 to 255 allowed)");
    return false;
  }
  if (rate < 1 || rate > kMaxFileRate) {
    if (log) log->Add("sample rate " + std::to_string(rate) + " (1 to 196000 allowed)");
    return false;
  }
  return true;
}

}  // namespace quillet::formats
