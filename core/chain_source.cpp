#include "core/chain_source.h"

#include <fcntl.h>

#include <algorithm>
#include <bit>
#include <cerrno>

namespace quillet::core {
namespace {

// Sample files hold little-endian words, read straight into the buffer.
static_assert(std::endian::native == std::endian::little, "sample files assume a little-endian host");
constexpr std::size_t kMaxOpenFiles = 16;

// Gain in the same pass as the read. While every product fits 32 bits (ordinary
// levels) the narrow multiply is exact and much faster; otherwise 64-bit, saturated.
// Built for AVX2 as well where the compiler can, chosen at load time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(QUILLET_NO_TARGET_CLONES)
__attribute__((target_clones("avx2", "default")))
#endif
void ScaleBySegmentGain(Sample* s, std::size_t n, std::int32_t g) {
  std::uint32_t peak = 0;
  for (std::size_t i = 0; i < n; ++i)
    peak = std::max(peak, static_cast<std::uint32_t>(s[i] < 0 ? -static_cast<std::int64_t>(s[i]) : s[i]));
  const std::uint64_t absGain = static_cast<std::uint64_t>(g < 0 ? -std::int64_t{g} : g);
  if (absGain * peak < (std::uint64_t{1} << 31)) {
    for (std::size_t i = 0; i < n; ++i) s[i] = (g * s[i]) >> 9;
    return;
  }
  for (std::size_t i = 0; i < n; ++i) s[i] = ApplyGain(s[i], g);
}

}  // namespace

LChainSoundSource::LChainSoundSource(const AudioChain& chain)
    : LSoundSource(static_cast<std::int32_t>(std::min<std::uint32_t>(chain.sampleRate, INT32_MAX)),
                   chain.channels, audio::kWidePeakBound),
      chain_(chain) {
  starts_.reserve(chain_.segments().size());
  for (const auto& s : chain_.segments()) {
    starts_.push_back(chainLength_);
    chainLength_ += s.frameCount;
  }
}

void LChainSoundSource::seek(FramePos frame) {
  framePos_ = frame;
  offset_ = 0;
  current_ = 0;
  if (frame < 1) return;
  if (frame >= chainLength_) {
    current_ = starts_.size();
    return;
  }
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), frame);
  current_ = static_cast<std::size_t>(it - starts_.begin()) - 1;
  offset_ = frame - starts_[current_];
}

void LChainSoundSource::read(Sample* buffer, FrameCount frames) {
  if (frames <= 0) return;
  const int ch = channels();
  if (framePos_ < 0) {
    const FrameCount z = std::min(-framePos_, frames);
    std::fill(buffer, buffer + z * ch, Sample{0});
    buffer += z * ch;
    frames -= z;
    framePos_ += z;
  }
  const auto& segs = chain_.segments();
  while (frames > 0 && current_ < segs.size()) {
    const AudioSegment& seg = segs[current_];
    const FrameCount n = std::min(seg.frameCount - offset_, frames);
    if (n > 0) {
      ReadSegment(seg, offset_, n, buffer);
      buffer += n * ch;
      frames -= n;
      framePos_ += n;
      offset_ += n;
    }
    if (offset_ >= seg.frameCount) {
      ++current_;
      offset_ = 0;
    }
  }
  if (frames > 0) {
    std::fill(buffer, buffer + frames * ch, Sample{0});
    framePos_ += frames;
  }
}

LChainSoundSource::OpenFile* LChainSoundSource::FileFor(FileId id) {
  ++useClock_;
  for (auto& f : files_)
    if (f.id == id) {
      f.lastUse = useClock_;
      return &f;
    }
  const std::filesystem::path path = chain_.store()->SampleFilePath(id);
  detail::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd && (errno == EMFILE || errno == ENFILE) && !files_.empty()) {
    // Our own cache may be what holds the descriptors: give them back and try once more.
    files_.clear();
    fd = detail::UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  }
  if (!fd) {
    FailFile(id, detail::ErrnoText());
    return nullptr;  // the failure is sticky, so it is not retried per block
  }
  if (files_.size() == kMaxOpenFiles) {
    auto oldest = std::min_element(files_.begin(), files_.end(),
                                   [](const auto& a, const auto& b) { return a.lastUse < b.lastUse; });
    files_.erase(oldest);
  }
  const SampleFileLayout layout = ReadSampleFileLayout(fd.get());
  files_.push_back({id, std::move(fd), layout, useClock_});
  return &files_.back();
}

void LChainSoundSource::FailFile(FileId id, const std::string& reason) {
  Fail("Cannot read the audio of this document: " + chain_.store()->SampleFilePath(id).string() +
       ": " + reason);
}

void LChainSoundSource::ReadSegment(const AudioSegment& seg, FrameCount offset, FrameCount frames,
                                    Sample* out) {
  const std::size_t count = static_cast<std::size_t>(frames) * channels();
  const bool silent = seg.fileId == kNoFile || !chain_.store();
  const OpenFile* file = silent || failed() ? nullptr : FileFor(seg.fileId);
  std::size_t got = 0;
  if (file) {
    const auto width = static_cast<std::size_t>(file->layout.width);
    const std::int64_t frame = seg.startFrame + offset;
    const std::int64_t at = file->layout.headerBytes + frame * channels() * static_cast<std::int64_t>(width);
    const std::size_t want = count * width;
    void* to = out;
    if (width < sizeof(Sample)) {
      encoded_.resize(want);
      to = encoded_.data();
    }
    const std::size_t bytes = frame < 0 ? 0 : detail::ReadAt(file->fd.get(), to, want, at);
    if (bytes < want)
      FailFile(seg.fileId,
               frame < 0 || errno == 0 ? "File shorter than its audio" : detail::ErrnoText());
    got = bytes / width;
    if (to != out) DecodeSamples(encoded_.data(), got, static_cast<int>(width), out);
  }
  std::fill(out + got, out + count, Sample{0});
  const std::int32_t g = seg.gain >> 15;
  if (g == 512) return;
  ScaleBySegmentGain(out, got, g);
}

audio::Ref<LChainSoundSource> ChainOpenSource(const AudioChain& chain) {
  return audio::MakeRef<LChainSoundSource>(chain);
}

}  // namespace quillet::core
