#pragma once
// The MP3 file reader: a sound source over our layer III decoder that can seek to any
// frame exactly, and that decodes long stretches on every core while it is read through.

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

// Decoded frames [first, first + count) in the layout's channel count.
struct Mp3Span {
  int64_t first = 0;
  int64_t count = 0;
  std::vector<audio::Sample> samples;
};

// Frames come in the layout's channel count: a mono frame of a stream that changes mode
// feeds both channels. With a LAME tag the source delivers exactly the original
// samples (the encoder's delay, the decoder's delay and the padding cut off), as
// gapless decoders do; without one, every decoded sample.
//
// Reading through a long stretch decodes spans of frames ahead on worker threads, each
// span from its own lead-in (the frames the seek uses to rebuild the bit reservoir,
// overlap and filterbank), so the samples are exactly those of one decoder going through.
class LMP3SoundSource final : public audio::LSoundSource, public SourceNotices {
 public:
  // threads: workers for reading through; 0 takes one per processor, 1 decodes on the
  // reading thread only.
  LMP3SoundSource(std::unique_ptr<platform::ByteSource> bytes, Mp3Layout layout, int threads = 0);
  ~LMP3SoundSource() override;

  void read(audio::Sample* buffer, audio::FrameCount frames) override;
  audio::FramePos position() const override { return pos_; }
  audio::FrameCount length() const override { return length_; }
  // Lazy: the frame holding the new position is decoded by the next read.
  void seek(audio::FramePos frame) override { pos_ = frame; }

  const Mp3Layout& layout() const { return layout_; }
  // Frames that reached the reader through the worker threads' spans so far.
  int64_t framesFromWorkers() const { return framesFromWorkers_; }

 private:
  class Pipeline;

  // Makes span_ hold frame k: from the pipeline when reading through, else decoded here.
  void Fetch(int64_t k);
  // The first frame from which decoding reproduces frame k exactly.
  int64_t LeadInStart(int64_t k);
  // Frame k's header with the stream's free-format length.
  Mp3Header HeaderOf(int64_t k);

  std::unique_ptr<platform::ByteSource> bytes_;
  Mp3Layout layout_;
  int threads_;
  int samplesPerFrame_;
  audio::FrameCount lead_;  // decoded samples before position 0
  audio::FrameCount length_;
  audio::FramePos pos_ = 0;
  Mp3Decoder decoder_;         // for decoding here, between seeks
  int64_t nextToDecode_ = 0;   // the frame decoder_ is ready for
  int64_t runLength_ = 0;      // frames decoded here in order since the last jump
  Mp3Span span_;               // the frames being read
  std::unique_ptr<Pipeline> pipeline_;
  int64_t framesFromWorkers_ = 0;
};

// The reader for ".mp3" files and MPEG layer III data: status CannotOpen when the file
// cannot be read, Corrupt when it holds no layer III frame. threads as for LMP3SoundSource.
audio::SourceHandle OpenMp3Source(const std::filesystem::path& file, int threads = 0);
audio::SourceHandle OpenMp3Source(std::unique_ptr<platform::ByteSource> bytes, int threads = 0);

}  // namespace quillet::formats
