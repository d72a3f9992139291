#pragma once
// What the AIFF, AU, raw, VOX and GSM files share: the fixed-width sample codings, a
// source over a run of coded frames, and a file sink that writes a header (possibly
// none) before the samples and rewrites it with the final sizes.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "formats/parse_log.h"
#include "platform/byte_source.h"
#include "platform/safe_file_writer.h"

namespace quillet::formats {

enum class RawCoding : std::uint8_t {
  U8, S8, S16LE, S16BE, MuLaw, ALaw,
  // Wider PCM and floating point, read from AIFF, AIFF-C and AU files.
  S24LE, S24BE, S32LE, S32BE, F32LE, F32BE, F64LE, F64BE,
};

int CodingBytes(RawCoding c);
// The PCM width a coding keeps (8, 16, 24 or 32; floating point counts as 24, all our
// samples hold); 0 for the companders.
int CodingPcmBits(RawCoding c);
// The largest magnitude a coding decodes to.
std::uint32_t CodingPeakBound(RawCoding c);
void DecodeSamples(RawCoding c, const std::uint8_t* in, audio::Sample* out, std::size_t count);
// Rounds to the coding's width and saturates.
void EncodeSamples(RawCoding c, const audio::Sample* in, std::uint8_t* out, std::size_t count);

// Frames of a fixed-width coding between dataOffset and dataOffset + dataBytes.
class LRawFileSoundSource final : public audio::LSoundSource {
 public:
  LRawFileSoundSource(std::shared_ptr<platform::ByteSource> bytes, RawCoding coding, std::int32_t rate,
                      int channels, std::uint64_t dataOffset, std::uint64_t dataBytes);
  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return pos_; }
  audio::FrameCount length() const override { return frames_; }
  void seek(audio::FramePos frame) override { pos_ = frame; }
  RawCoding coding() const { return coding_; }

 private:
  std::shared_ptr<platform::ByteSource> bytes_;
  RawCoding coding_;
  std::uint64_t dataOffset_;
  std::size_t frameBytes_;
  audio::FrameCount frames_;
  audio::FramePos pos_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// A sink writing a temporary file beside the target: header, coded data, and the
// header again with the final sizes in Finish, which also renames it into place.
class LFileSink : public audio::LSoundSink {
 public:
  // The header for dataBytes of data; final is false for the provisional one.
  using HeaderFn = std::function<std::vector<std::uint8_t>(bool final, std::uint64_t dataBytes)>;

  ~LFileSink() override;
  bool Finish() override;
  void Abandon() override;

 protected:
  // maxDataBytes: the most the header's size fields can describe.
  LFileSink(const std::filesystem::path& target, std::uint32_t rate, int channels, HeaderFn header,
            std::uint64_t maxDataBytes);
  // Appends coded bytes; fails the sink on a write error or past maxDataBytes.
  void Append(const std::uint8_t* p, std::size_t n);
  // Cuts the data back to dataBytes.
  void TruncateData(std::uint64_t dataBytes);
  // Called by Finish before the final header (a codec's last partial block).
  virtual void Flush() {}
  std::uint64_t dataBytes() const { return dataBytes_; }

 private:
  void WriteHeader(bool final);
  void FailWrite();

  std::unique_ptr<platform::SafeFileWriter> file_;
  HeaderFn header_;
  std::uint64_t maxDataBytes_;
  std::uint64_t headerBytes_ = 0;
  std::uint64_t dataBytes_ = 0;
  bool done_ = false;
};

// Samples in a fixed-width coding after the header.
class LRawFileSink final : public LFileSink {
 public:
  LRawFileSink(const std::filesystem::path& target, std::uint32_t rate, int channels, RawCoding coding,
               HeaderFn header = {}, std::uint64_t maxDataBytes = UINT64_MAX);
  void write(const audio::Sample* buffer, audio::FrameCount frames) override;
  // Cuts the file back to frame frames when no more than that were written.
  void truncate(audio::FrameCount frame) override;

 private:
  RawCoding coding_;
  std::size_t frameBytes_;
  std::vector<std::uint8_t> buffer_;
};

// The data bytes really present from offset on, for a stated size (0xFFFFFFFF: up to
// the end of the file); a log line notes a size cut to what the file holds.
std::uint64_t ClampDataBytes(std::uint64_t fileSize, std::uint64_t offset, std::uint32_t stated, ParseLog* log,
                             const char* what);

// A null source with status, and the reason added to log.
audio::SourceHandle Refuse(audio::SoundStatus status, ParseLog* log, std::string why);
// Opens a file for a reader; null (with the reason in log) when it cannot be read.
std::shared_ptr<platform::ByteSource> OpenForReading(const std::filesystem::path& file, ParseLog* log);

// Rates and channel counts a file may declare.
inline constexpr std::int64_t kMaxFileRate = 196000;
bool ValidRateAndChannels(std::int64_t rate, std::int64_t channels, ParseLog* log);

}  // namespace quillet::formats
