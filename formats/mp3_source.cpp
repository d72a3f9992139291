#include "formats/mp3_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/mp3_stream.h"

namespace quillet::formats {
namespace {

// The sync search gives up after this many bytes without a confirmed header.
constexpr size_t kMaxSyncSkip = 65535;
// Decoded audio may exceed full scale; deliver at most four times it.
constexpr float kFullScale = 524288.0f;
constexpr float kPeak = static_cast<float>(audio::kWidePeakBound);

// Reads the file in large pieces while the scan walks from header to header.
class Window {
 public:
  explicit Window(platform::ByteSource& bytes, uint64_t end) : bytes_(bytes), end_(end) {}
  // Bytes at offset..offset+n (fewer at the end of the data); null when none.
  const uint8_t* At(uint64_t offset, size_t n, size_t& got) {
    if (offset >= end_) return got = 0, nullptr;
    const uint64_t want = std::min<uint64_t>(n, end_ - offset);
    if (offset < base_ || offset + want > base_ + buf_.size()) {
      const uint64_t len = std::min<uint64_t>(std::max<size_t>(n, kChunk), end_ - offset);
      buf_.resize(static_cast<size_t>(len));
      buf_.resize(bytes_.ReadAt(offset, buf_.data(), buf_.size()));
      base_ = offset;
    }
    got = static_cast<size_t>(std::min<uint64_t>(want, base_ + buf_.size() - offset));
    return got ? buf_.data() + (offset - base_) : nullptr;
  }

 private:
  static constexpr size_t kChunk = 256 * 1024;
  platform::ByteSource& bytes_;
  uint64_t end_;
  uint64_t base_ = 0;
  std::vector<uint8_t> buf_;
};

// The first confirmed header at or after offset, whichever stream it belongs to.
int64_t Sync(Window& w, uint64_t offset, uint64_t end, int freeBytes, Mp3Header& h) {
  size_t got = 0;
  // Enough to see the largest frame's successor behind any start we may accept.
  const uint8_t* p = w.At(offset, kMaxSyncSkip + 4096, got);
  if (!p) return -1;
  const int64_t at = FindMp3Frame(p, got, 0, kMaxSyncSkip, offset + got >= end, freeBytes, h);
  return at < 0 ? -1 : static_cast<int64_t>(offset) + at;
}

std::string Describe(const Mp3Header& h) {
  static constexpr const char* kVersions[] = {"MPEG-1", "MPEG-2", "MPEG 2.5"};
  return std::to_string(h.sampleRate) + " Hz " + kVersions[h.version] + (h.freeFormat() ? " free format" : "");
}

}  // namespace

bool ScanMp3Layout(platform::ByteSource& bytes, Mp3Layout& layout) {
  const uint64_t size = bytes.Size();
  uint8_t head[10] = {};
  const size_t headBytes = bytes.ReadAt(0, head, sizeof head);
  layout.dataStart = std::min(Id3v2TagSize(head, headBytes), size);
  layout.dataEnd = size;
  uint8_t tail[128];
  if (size >= layout.dataStart + 128 && bytes.ReadExact(size - 128, tail, 128) && IsId3v1Tag(tail))
    layout.dataEnd = size - 128;
  layout.frames.clear();
  layout.frameChannels.clear();
  layout.notices.clear();
  layout.channels = 0;
  layout.lead = 0;
  layout.total = -1;

  Window w(bytes, layout.dataEnd);
  Mp3Header h;
  int64_t at = Sync(w, layout.dataStart, layout.dataEnd, 0, h);
  if (at < 0) return false;
  layout.first = h;
  layout.freeBytes = h.freeBytes;
  auto offset = static_cast<uint64_t>(at);
  {
    size_t got = 0;
    const uint8_t* p = w.At(offset, static_cast<size_t>(h.frameBytes()), got);
    const Mp3VbrHeader vbr = ParseMp3VbrHeader(p, got, h);
    if (vbr.present) {
      layout.vbrHeader = true;
      layout.vbrFrames = vbr.frames;
      offset += static_cast<uint64_t>(h.frameBytes());
      if (vbr.gapless) {
        layout.lead = int64_t{vbr.delay} + kMp3DecoderDelay;
        const int64_t counted = vbr.hasFrames ? int64_t{vbr.frames} * h.samplesPerFrame() : -1;
        layout.total = counted >= 0 ? std::max<int64_t>(counted - vbr.delay - vbr.padding, 0) : -1;
      }
    }
  }
  while (offset + 4 <= layout.dataEnd) {
    size_t got = 0;
    const uint8_t* p = w.At(offset, 4, got);
    Mp3Header next;
    if (!(got == 4 && ParseMp3Header(p, next) && next.SameStream(layout.first))) {
      // Garbage between frames: search on, as far as the sync search allows.
      at = Sync(w, offset, layout.dataEnd, layout.freeBytes, next);
      if (at < 0) break;
      if (!next.SameStream(layout.first)) {
        // Decoding on at the first frame's rate would play the rest at the wrong speed.
        layout.notices.push_back("The MPEG audio changes from " + Describe(layout.first) + " to " +
                                 Describe(next) + " at byte " + std::to_string(at) + ", after " +
                                 std::to_string(layout.frames.size()) + " frames; the rest of the file is left out.");
        break;
      }
      offset = static_cast<uint64_t>(at);
    }
    next.freeBytes = layout.freeBytes;
    // A last frame cut short is left out, as the reference decoders do: its main data is
    // incomplete and would decode to a burst of wrong spectrum.
    if (offset + static_cast<uint64_t>(next.frameBytes()) > layout.dataEnd) break;
    layout.frames.push_back(offset);
    layout.frameChannels.push_back(static_cast<uint8_t>(next.channels()));
    layout.channels = std::max(layout.channels, next.channels());
    offset += static_cast<uint64_t>(next.frameBytes());
  }
  if (layout.lead > 0) {
    // A tag without a frame count, or a file cut short: as much as was decoded.
    const int64_t decoded = static_cast<int64_t>(layout.frames.size()) * layout.first.samplesPerFrame();
    const int64_t available = std::max<int64_t>(decoded - layout.lead, 0);
    layout.total = layout.total < 0 ? available : std::min(layout.total, available);
  }
  return !layout.frames.empty() || layout.vbrHeader;
}

LMP3SoundSource::LMP3SoundSource(std::unique_ptr<platform::ByteSource> bytes, Mp3Layout layout)
    : LSoundSource(layout.first.sampleRate, std::max(layout.channels, 1), audio::kWidePeakBound),
      SourceNotices(layout.notices),
      bytes_(std::move(bytes)),
      layout_(std::move(layout)),
      samplesPerFrame_(layout_.first.samplesPerFrame()),
      lead_(layout_.total >= 0 ? layout_.lead : 0),
      length_(layout_.total >= 0 ? layout_.total
                                 : static_cast<audio::FrameCount>(layout_.frames.size()) * samplesPerFrame_),
      current_(static_cast<size_t>(samplesPerFrame_) * static_cast<size_t>(channels())),
      pcm_(Mp3Decoder::kMaxSamplesPerFrame * 2) {
  decoder_.SetFreeFormatBytes(layout_.freeBytes);
}

Mp3Header LMP3SoundSource::HeaderOf(int64_t k) {
  uint8_t head[4];
  Mp3Header h;
  if (bytes_->ReadAt(layout_.frames[static_cast<size_t>(k)], head, 4) != 4 || !ParseMp3Header(head, h) ||
      !h.SameStream(layout_.first))
    h = layout_.first;  // the file changed since the scan
  h.freeBytes = layout_.freeBytes;
  return h;
}

void LMP3SoundSource::DecodeNext(bool keep) {
  const int64_t k = nextToDecode_++;
  const uint64_t offset = layout_.frames[static_cast<size_t>(k)];
  const auto frameSize = static_cast<size_t>(HeaderOf(k).frameBytes());
  frameBytes_.assign(frameSize, 0);
  const uint64_t available = layout_.dataEnd - offset;
  const auto want = static_cast<size_t>(std::min<uint64_t>(frameSize, available));
  if (bytes_->ReadAt(offset, frameBytes_.data(), want) < want) Fail(bytes_->failure());
  const Mp3Step step = decoder_.DecodeFrame(frameBytes_.data(), frameBytes_.size(), pcm_.data());
  if (!keep) return;
  currentFrame_ = k;
  const int outChannels = channels();
  const int inChannels = std::max(step.channels, 1);
  const int n = std::min(step.framesProduced, samplesPerFrame_);
  audio::Sample* out = current_.data();
  for (int i = 0; i < n; ++i) {
    for (int ch = 0; ch < outChannels; ++ch) {
      // A mono frame among stereo ones feeds both channels, as the channel converter does.
      float v = pcm_[static_cast<size_t>(i * inChannels + std::min(ch, inChannels - 1))];
      v = std::clamp(v * kFullScale, -kPeak, kPeak);  // saturate; NaN cannot arise from finite input
      out[i * outChannels + ch] = static_cast<audio::Sample>(std::lrint(v));
    }
  }
  // Frames the decoder could not decode (reservoir out of reach) keep the timing as silence.
  std::fill(out + static_cast<size_t>(n) * static_cast<size_t>(outChannels), out + current_.size(), 0);
}

void LMP3SoundSource::DecodeFrameAt(int64_t k) {
  if (k != nextToDecode_) {
    // The result must equal reading through: the last frames before k must decode with
    // their whole bit reservoir, and those before them rebuild overlap and filterbank.
    const bool mpeg1 = layout_.first.version == 0;
    const int maxBack = mpeg1 ? 511 : 255;
    int64_t s = std::max<int64_t>(k - (mpeg1 ? 1 : 2), 0);
    int reach = 0;
    while (s > 0 && reach < maxBack) {
      --s;
      reach += std::max(HeaderOf(s).mainDataBytes(), 1);
    }
    decoder_.Reset();
    nextToDecode_ = s;
  }
  while (nextToDecode_ < k) DecodeNext(false);
  DecodeNext(true);
}

void LMP3SoundSource::read(audio::Sample* buffer, audio::FrameCount frames) {
  const int ch = channels();
  while (frames > 0) {
    audio::FrameCount n;
    if (pos_ < 0 || pos_ >= length_) {
      n = pos_ < 0 ? std::min(frames, -pos_) : frames;
      std::fill(buffer, buffer + n * ch, 0);
    } else {
      const int64_t decoded = pos_ + lead_;
      const int64_t k = decoded / samplesPerFrame_;
      const int inFrame = static_cast<int>(decoded % samplesPerFrame_);
      if (k != currentFrame_) DecodeFrameAt(k);
      n = std::min<audio::FrameCount>({frames, samplesPerFrame_ - inFrame, length_ - pos_});
      std::copy_n(current_.data() + static_cast<size_t>(inFrame) * static_cast<size_t>(ch),
                  static_cast<size_t>(n) * static_cast<size_t>(ch), buffer);
    }
    buffer += n * ch;
    frames -= n;
    pos_ += n;
  }
}

audio::SourceHandle OpenMp3Source(std::unique_ptr<platform::ByteSource> bytes) {
  Mp3Layout layout;
  if (!bytes || !ScanMp3Layout(*bytes, layout) || layout.frames.empty())
    return audio::MakeNullSource(audio::SoundStatus::Corrupt);
  return audio::SourceHandle(audio::MakeRef<LMP3SoundSource>(std::move(bytes), std::move(layout)));
}

audio::SourceHandle OpenMp3Source(const std::filesystem::path& file) {
  auto bytes = platform::FileByteSource::Open(file);
  if (!bytes) return audio::MakeNullSource(audio::SoundStatus::CannotOpen);
  return OpenMp3Source(std::unique_ptr<platform::ByteSource>(std::move(bytes)));
}

}  // namespace quillet::formats
