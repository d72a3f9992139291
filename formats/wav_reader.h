#pragma once
// The WAVE reader: walks the RIFF chunks, checks every size against the file, and
// returns a source. PCM data is read directly; every other coding goes through the
// codec manager.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/pcm.h"
#include "audio/sound.h"
#include "formats/codec.h"
#include "formats/parse_log.h"
#include "formats/wave_format.h"
#include "platform/byte_source.h"

namespace quillet::formats {

// The largest file the RIFF sizes can describe: a 0xFFFFFFFF-byte form plus its header.
inline constexpr std::uint64_t kMaxRiffFileBytes = 0xFFFFFFFFull + 8;

struct WaveLayout {
  WaveFormat format;
  std::uint64_t dataOffset = 0;  // first byte of the samples
  std::uint64_t dataBytes = 0;   // as far as the file really holds them
  std::uint64_t promisedBytes = 0;  // what the header said, when the file holds less
};

// The notice for a file cut short (how much its header promised, how much is there);
// empty for a whole one.
std::string CutShortNotice(const WaveLayout& layout);

// Parses the chunk structure. Ready, or Corrupt with the reason in log.
audio::SoundStatus ParseWave(platform::ByteSource& bytes, WaveLayout* layout, ParseLog* log = nullptr);

// What a WAVE source read from its file, and whether it was cut short.
class WaveSourceDetails : public SourceNotices {
 public:
  const WaveFormat& format() const { return format_; }

 protected:
  explicit WaveSourceDetails(const WaveLayout& layout);
  WaveFormat format_;
};

// PCM of 1 (unsigned), 2, 3 or 4 bytes per sample.
class LWavePCMSoundSource final : public audio::LSoundSource, public WaveSourceDetails {
 public:
  LWavePCMSoundSource(std::shared_ptr<platform::ByteSource> bytes, const WaveLayout& layout);
  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return pos_; }
  audio::FrameCount length() const override { return frames_; }
  void seek(audio::FramePos frame) override { pos_ = frame; }
  audio::Pcm16Span Pcm16At(audio::FrameCount max) override;

 private:
  std::shared_ptr<platform::ByteSource> bytes_;
  audio::PcmLayout layout_;
  std::uint64_t dataOffset_;
  std::size_t frameBytes_;
  audio::FrameCount frames_;
  audio::FramePos pos_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// Any coding of the codec manager; status CodecMissing when it has none for the file.
class LACMSoundSource final : public audio::LSoundSource, public WaveSourceDetails {
 public:
  LACMSoundSource(std::shared_ptr<platform::ByteSource> bytes, const WaveLayout& layout);
  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return pos_; }
  audio::FrameCount length() const override;
  void seek(audio::FramePos frame) override;

 private:
  audio::FramePos FrameOfByte(std::uint64_t byte) const;
  std::uint64_t ByteOfFrame(audio::FramePos frame) const;
  void ClearBuffers();

  std::shared_ptr<platform::ByteSource> bytes_;
  std::uint64_t dataOffset_;
  std::uint64_t dataBytes_;
  std::uint64_t consumed_ = 0;  // data bytes taken into the input buffer so far
  std::unique_ptr<CodecStream> stream_;
  WaveFormat pcm_;
  audio::PcmLayout pcmLayout_ = audio::PcmLayout::S16LE;
  std::vector<std::uint8_t> in_, out_;
  std::size_t inFill_ = 0, outPos_ = 0, outFill_ = 0;
  std::uint32_t avgBytes_;
  std::int64_t exactFrames_;  // -1 when only an estimate exists
  audio::FramePos pos_ = 0;
  audio::FramePos endFrame_ = -1;
};

// Never null: on failure an LNullSoundSource with status Corrupt or CannotOpen, or an
// LACMSoundSource with status CodecMissing.
audio::SourceHandle OpenWaveSource(std::shared_ptr<platform::ByteSource> bytes, ParseLog* log = nullptr);
audio::SourceHandle OpenWaveFile(const std::filesystem::path& file, ParseLog* log = nullptr);

}  // namespace quillet::formats
