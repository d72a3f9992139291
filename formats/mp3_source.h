#pragma once
// The MP3 file reader: a sound source over our layer III decoder that can seek to any
// frame exactly.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "formats/mp3_decoder.h"
#include "formats/parse_log.h"
#include "platform/byte_source.h"

namespace quillet::formats {

// Where the audio frames of a file lie, found by one pass over the frame headers.
struct Mp3Layout {
  Mp3Header first;                    // the first frame's header: rate, version, free format
  std::vector<uint64_t> frames;       // byte offset of every audio frame (VBR header frame left out)
  std::vector<uint8_t> frameChannels; // 1 or 2 for each of frames: the mode may change between frames
  int channels = 0;                   // the most any frame has
  int freeBytes = 0;                  // free format: the frame length without padding
  uint64_t dataStart = 0;             // after an ID3v2 tag
  uint64_t dataEnd = 0;               // before an ID3v1 tag
  bool vbrHeader = false;             // a "Xing", "Info" or "VBRI" frame was passed over
  uint32_t vbrFrames = 0;             // its frame count, 0 when it gives none
  // From its LAME tag: the decoded samples before the first original one (the encoder's
  // delay and the decoder's) and the original length; lead 0 and total -1 without one.
  int64_t lead = 0;
  int64_t total = -1;
  std::vector<std::string> notices;   // what was left out of the stream, and why
};

// Scans bytes for layer III frames; false when no confirmed frame exists. Frames end where
// the version or sample rate changes (with a notice) and before a frame cut short by the
// end of the data.
bool ScanMp3Layout(platform::ByteSource& bytes, Mp3Layout& layout);

// Frames come in the layout's channel count: a mono frame of a stream that changes mode
// feeds both channels. With a LAME tag the source delivers exactly the original
// samples (the encoder's delay, the decoder's delay and the padding cut off), as
// gapless decoders do; without one, every decoded sample.
class LMP3SoundSource final : public audio::LSoundSource, public SourceNotices {
 public:
  LMP3SoundSource(std::unique_ptr<platform::ByteSource> bytes, Mp3Layout layout);

  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return pos_; }
  audio::FrameCount length() const override { return length_; }
  // Lazy: the frame holding the new position is decoded by the next read.
  void seek(audio::FramePos frame) override { pos_ = frame; }

  const Mp3Layout& layout() const { return layout_; }

 private:
  // Decodes frame k into current_, through a lead-in from an earlier frame when k does not
  // follow the last decoded frame.
  void DecodeFrameAt(int64_t k);
  // Frame k's header with the stream's free-format length.
  Mp3Header HeaderOf(int64_t k);
  void DecodeNext(bool keep);

  std::unique_ptr<platform::ByteSource> bytes_;
  Mp3Layout layout_;
  Mp3Decoder decoder_;
  int samplesPerFrame_;
  audio::FrameCount lead_;  // decoded samples before position 0
  audio::FrameCount length_;
  audio::FramePos pos_ = 0;
  int64_t nextToDecode_ = 0;  // the frame the decoder state is ready for
  int64_t currentFrame_ = -1;  // the frame held in current_
  std::vector<audio::Sample> current_;
  std::vector<uint8_t> frameBytes_;
  std::vector<float> pcm_;
};

// The reader for ".mp3" files and MPEG layer III data: status CannotOpen when the file
// cannot be read, Corrupt when it holds no layer III frame.
audio::SourceHandle OpenMp3Source(const std::filesystem::path& file);
audio::SourceHandle OpenMp3Source(std::unique_ptr<platform::ByteSource> bytes);

}  // namespace quillet::formats
