#pragma once
// WAVE writers: PCM with the 46-byte header, and every coding of the codec manager.
// They write a temporary file beside the target that replaces it only when Finish
// succeeds (tags included); a failed or abandoned save leaves the old file as it was.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "audio/pcm.h"
#include "audio/sound.h"
#include "formats/codec.h"
#include "formats/tags.h"
#include "formats/wave_format.h"
#include "platform/safe_file_writer.h"

namespace quillet::formats {

inline constexpr std::size_t kPcmHeaderBytes = 46;

// The common part: the temporary file, the header and the final rename.
class LWaveFileSink : public audio::LSoundSink {
 public:
  ~LWaveFileSink() override;
  // Rewrites the header with the final sizes and puts the file in place of the
  // target. False, with failureMessage() set, when anything went wrong.
  bool Finish() override;
  // Drops what was written; the target stays as it was (a cancelled save).
  void Abandon() override;
  // Run by Finish on the complete temporary file before it replaces the target.
  void SetFinishingStep(FinishingStep step) { finishing_ = std::move(step); }

 protected:
  LWaveFileSink(const std::filesystem::path& target, const WaveFormat& format, int channels);
  // Appends coded bytes; counts them and fails the sink past the 4 GiB limit.
  void Append(const std::uint8_t* p, std::size_t n);
  // Called by Finish before the header is rewritten (a codec's last block).
  virtual void Flush() {}
  void WriteHeader(std::uint32_t riffSize, std::uint32_t dataSize);
  std::uint64_t headerBytes() const { return 20 + record_.size() + 8; }

  std::unique_ptr<platform::SafeFileWriter> file_;
  std::vector<std::uint8_t> record_;  // the "fmt " body as written
  std::uint64_t dataBytes_ = 0;
  bool done_ = false;
  FinishingStep finishing_;
};

class LWavePCMSoundSink final : public LWaveFileSink {
 public:
  // framesKept > 0 keeps that many frames of an existing target (a resumed recording).
  LWavePCMSoundSink(const std::filesystem::path& target, std::uint32_t rate, audio::FrameCount framesKept,
                    int bits, int channels);
  void write(const audio::Sample* buffer, audio::FrameCount frames) override;
  // 16-bit files take the bytes as they are, copied in the kernel.
  audio::FrameCount writePcm16(const audio::Pcm16Span& span) override;
  void truncate(audio::FrameCount frame) override;

 private:
  audio::PcmLayout layout_;
  std::size_t frameBytes_;
  std::vector<std::uint8_t> buffer_;
};

class LACMWaveSoundSink final : public LWaveFileSink {
 public:
  LACMWaveSoundSink(const std::filesystem::path& target, const WaveFormat& format);
  void write(const audio::Sample* buffer, audio::FrameCount frames) override;

 private:
  void Flush() override;
  void Pump(std::uint32_t flags);

  std::unique_ptr<CodecStream> stream_;
  WaveFormat pcm_;
  audio::PcmLayout pcmLayout_ = audio::PcmLayout::S16LE;
  std::vector<std::uint8_t> in_, out_;
  std::size_t inFill_ = 0;
};

// bits 1-8: 8-bit unsigned, 9-16: 16-bit, 17-24: 24-bit, anything else 32-bit.
audio::SinkHandle MakeWavePcmSink(const std::filesystem::path& target, std::uint32_t rate,
                                  audio::FrameCount framesKept, int bits, int channels);
// Tag 1 gives the PCM sink at the record's rate, bits and channels; any other tag the
// codec sink. finishing (the tags of a save) runs before the file is put in place.
audio::SinkHandle MakeWaveFormatSink(const std::filesystem::path& target, const WaveFormat& format,
                                     FinishingStep finishing = {});

}  // namespace quillet::formats
