#pragma once
// Sound sources (everything that delivers audio) and sound sinks (everything that
// takes it), passed around in counted handles. Failures travel as status values:
// a factory that fails still returns an object, carrying the reason.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio/block.h"
#include "audio/ref.h"
#include "audio/sample.h"

namespace quillet::audio {

// The status byte of a source. The first five are set when the source is made; Failed
// comes later, when reading its audio goes wrong.
enum class SoundStatus : std::uint8_t {
  Ready = 0,
  Empty = 1,         // the handle holds no real source
  Corrupt = 3,       // not a valid file of its format (layout, rate or channels)
  CannotOpen = 4,    // the file cannot be opened
  CodecMissing = 5,  // a codec needed to decode it is missing
  // Reading failed (an I/O error, a file shorter than it should be, a decoder that
  // died): what it delivers is no longer the real audio. Sticky, with a reason in
  // failureMessage(). Reads still fill the buffer (zeros where nothing was read).
  Failed = 6,
};

// Frames lying in an open file as 16-bit little-endian PCM, channel-interleaved, from
// offset on: what a sink of that layout can copy in the kernel without decoding them.
struct Pcm16Span {
  int fd = -1;
  std::int64_t offset = 0;
  FrameCount frames = 0;
};

class LSoundSource : public RefCounted {
 public:
  // A rate below 1 becomes 44100 and channels outside 1..255 become 1; either sets
  // status Corrupt.
  LSoundSource(std::int32_t sampleRate, int channels, std::uint32_t peakBound);

  // Fills frames x channels samples at the position and advances it by frames.
  // Anything before frame 0 or at or after the end reads as zeros. A read that cannot
  // deliver the real audio still fills the buffer but marks the source failed: every
  // consumer that keeps what it reads checks failed() after each block.
  virtual void read(Sample* buffer, FrameCount frames) = 0;
  void read(BlockView out) { read(out.data(), out.frames()); }
  // Frames delivered so far; negative after a seek before the start.
  virtual FramePos position() const = 0;
  // Total frames; an estimate while a decoder has not reached the end.
  virtual FrameCount length() const = 0;
  virtual void seek(FramePos frame) = 0;
  // Where the next frames (at most max) lie as 16-bit PCM in a file, when a read would
  // deliver exactly them; 0 frames when they do not lie so. The position stays (a
  // source may open a file to answer).
  virtual Pcm16Span Pcm16At(FrameCount /*max*/) { return {}; }

  std::int32_t sampleRate() const { return sampleRate_; }
  int channels() const { return channels_; }
  // The largest absolute sample value this source may deliver.
  std::uint32_t peakBound() const { return peakBound_; }
  // Failed as soon as this source or any input it follows has failed.
  SoundStatus status() const;
  bool ready() const { return status() == SoundStatus::Ready; }
  bool failed() const;
  // Why reading failed; empty while it has not.
  const std::string& failureMessage() const;

 protected:
  void setStatus(SoundStatus s) { status_ = s; }
  void setPeakBound(std::uint32_t b) { peakBound_ = b; }
  // Marks the source Failed; the first reason is kept (a general one when why is empty).
  void Fail(std::string_view why);
  // For filters and adaptors: input's failure becomes this source's, so no filter has
  // to pass it on by hand. input must live as long as this source (a held handle).
  void FollowInput(const LSoundSource& input) { inputs_.push_back(&input); }

 private:
  std::int32_t sampleRate_;
  std::uint32_t peakBound_;
  int channels_;
  SoundStatus status_ = SoundStatus::Ready;
  std::string failure_;
  std::vector<const LSoundSource*> inputs_;
};

// The empty source: 11025 Hz mono, reads zeros, length 0.
class LNullSoundSource final : public LSoundSource {
 public:
  explicit LNullSoundSource(SoundStatus status = SoundStatus::Empty);
  void read(Sample* buffer, FrameCount frames) override;
  FramePos position() const override { return 0; }
  FrameCount length() const override { return 0; }
  void seek(FramePos) override {}
};

class LSoundSink : public RefCounted {
 public:
  // Channels outside 1..255 become 1 and a rate of 0 stays 0; either marks the sink
  // failed.
  LSoundSink(std::uint32_t sampleRate, int channels);

  // Appends frames x channels samples. A failed sink ignores writes.
  virtual void write(const Sample* buffer, FrameCount frames) = 0;
  void write(ConstBlockView in) { write(in.data(), in.frames()); }
  // Cuts what was written back to (or moves the write position to) frame; the base
  // does nothing.
  virtual void truncate(FrameCount frame);
  // Appends the span's frames by copying their bytes, as writing the samples read from
  // them would. Returns the frames appended: 0 when this sink cannot take a span (the
  // caller writes samples), fewer when the file holds fewer; fails only on a write error.
  virtual FrameCount writePcm16(const Pcm16Span& /*span*/) { return 0; }
  // Completes the target (final headers, flushes); later calls do nothing. Returns
  // true when everything was written. Derived destructors call it when nobody did,
  // but only a caller of Finish learns of a failure in that last step.
  virtual bool Finish() { return !failed(); }
  // Drops what was written without completing the target (a cancelled save or
  // load): the old file or chain stays as it was, and later writes are ignored.
  virtual void Abandon() {}

  FrameCount framesWritten() const { return framesWritten_; }
  std::uint32_t sampleRate() const { return sampleRate_; }
  int channels() const { return channels_; }
  // Status bit 0 set: the sink failed and failureMessage() says why.
  std::uint8_t status() const { return status_; }
  bool failed() const { return (status_ & 1) != 0; }
  const std::string& failureMessage() const { return message_; }

 protected:
  // Marks the sink failed; the first message is kept.
  void Fail(std::string_view message);
  void setFramesWritten(FrameCount n) { framesWritten_ = n; }

 private:
  FrameCount framesWritten_ = 0;
  std::uint32_t sampleRate_;
  int channels_;
  std::uint8_t status_ = 0;
  std::string message_;
};

using SourceHandle = Ref<LSoundSource>;
using SinkHandle = Ref<LSoundSink>;

// A fresh LNullSoundSource with the given status, in a handle.
SourceHandle MakeNullSource(SoundStatus status = SoundStatus::Empty);
// Drops h's source and leaves it holding a fresh empty source (status Empty), for
// places where a later reader must always find one.
void ReleaseToEmpty(SourceHandle& h);

}  // namespace quillet::audio
