#include "core/chain.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <utility>

namespace quillet::core {

// The operations that edit a chain's segment list.
struct ChainEdit {
  static std::vector<AudioSegment>& Segs(AudioChain& c) { return c.segments_; }
  static void AdoptStore(AudioChain& dst, const AudioChain& src) {
    if (!dst.store_) dst.store_ = src.store_;
    assert((!src.store_ || dst.store_ == src.store_) && "chains of different stores");
  }
  static void Ref(const AudioChain& c, const AudioSegment& s) {
    if (c.store_) c.store_->AddFileRef(s.fileId);
  }
  static void Unref(const AudioChain& c, const AudioSegment& s) {
    if (c.store_) c.store_->ReleaseFileRef(s.fileId);
  }
};

namespace {

using Segs = std::vector<AudioSegment>;
constexpr FramePos kEnd = std::numeric_limits<FramePos>::max();

AudioSegment Silence(FrameCount n) { return AudioSegment{kNoFile, n, kUnityGain, 0}; }

// Copies of src's segments, each holding a reference.
Segs Copies(const AudioChain& src) {
  for (const auto& s : src.segments()) ChainEdit::Ref(src, s);
  return src.segments();
}

// Index where an insertion at pos goes, after splitting the segment that holds pos.
// pos is left as what remains past the end (> 0 only when the walk ran off the end)
// or, when it was negative, as is.
std::size_t SplitAt(AudioChain& chain, FramePos& pos) {
  Segs& v = ChainEdit::Segs(chain);
  std::size_t i = 0;
  while (i < v.size() && pos > 0 && v[i].frameCount <= pos) pos -= v[i++].frameCount;
  if (i < v.size() && pos > 0) {
    AudioSegment tail = v[i];
    tail.startFrame += pos;
    tail.frameCount -= pos;
    v[i].frameCount = pos;
    ChainEdit::Ref(chain, tail);
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
    pos = 0;
    return i + 1;
  }
  return i;
}

}  // namespace

AudioChain::AudioChain(const AudioChain& other)
    : sampleRate(other.sampleRate), channels(other.channels), store_(other.store_),
      segments_(Copies(other)) {}

AudioChain::AudioChain(AudioChain&& other) noexcept
    : sampleRate(other.sampleRate), channels(other.channels), store_(other.store_),
      segments_(std::move(other.segments_)) {
  other.segments_.clear();
}

AudioChain& AudioChain::operator=(const AudioChain& other) {
  if (this == &other) return *this;
  Segs fresh = Copies(other);
  ChainClear(*this);
  store_ = other.store_;
  segments_ = std::move(fresh);
  sampleRate = other.sampleRate;
  channels = other.channels;
  return *this;
}

AudioChain& AudioChain::operator=(AudioChain&& other) noexcept {
  if (this == &other) return *this;
  ChainClear(*this);
  store_ = other.store_;
  segments_ = std::move(other.segments_);
  other.segments_.clear();
  sampleRate = other.sampleRate;
  channels = other.channels;
  return *this;
}

AudioChain::~AudioChain() { ChainClear(*this); }

void ChainAppendSegment(AudioChain& chain, const AudioSegment& seg) {
  ChainEdit::Ref(chain, seg);
  ChainEdit::Segs(chain).push_back(seg);
}

FrameCount ChainLength(const AudioChain& chain) {
  FrameCount n = 0;
  for (const auto& s : chain.segments()) n += s.frameCount;
  return n;
}

void ChainClear(AudioChain& chain) {
  Segs& v = ChainEdit::Segs(chain);
  for (const auto& s : v) ChainEdit::Unref(chain, s);
  v.clear();
}

void ChainCopy(AudioChain& dst, const AudioChain& src) {
  if (&dst == &src) return;
  Segs fresh = Copies(src);
  ChainClear(dst);
  ChainEdit::AdoptStore(dst, src);
  ChainEdit::Segs(dst) = std::move(fresh);
}

void ChainDeleteRange(AudioChain& chain, FramePos from, FramePos to) {
  if (to < from || to < 0) return;
  const FramePos s = std::max<FramePos>(from, 0);
  Segs& v = ChainEdit::Segs(chain);
  std::size_t i = 0;
  FramePos p = 0;
  while (i < v.size() && p + v[i].frameCount <= s) p += v[i++].frameCount;
  if (i == v.size()) return;

  AudioSegment& seg = v[i];
  if (to < p + seg.frameCount) {  // the range ends inside this segment
    const FrameCount d = to - p;
    if (p >= s) {
      seg.startFrame += d;
      seg.frameCount -= d;
      return;
    }
    AudioSegment tail = seg;
    tail.startFrame += d;
    tail.frameCount -= d;
    seg.frameCount = s - p;
    ChainEdit::Ref(chain, tail);
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
    return;
  }
  // The range covers the tail of segment i and goes on.
  FramePos q = p + seg.frameCount;
  std::size_t eraseFrom = i;
  if (s > p) {
    seg.frameCount = s - p;
    eraseFrom = i + 1;
  }
  std::size_t j = i + 1;
  while (j < v.size() && q + v[j].frameCount <= to) q += v[j++].frameCount;
  if (j < v.size() && to > q) {
    v[j].startFrame += to - q;
    v[j].frameCount -= to - q;
  }
  for (std::size_t k = eraseFrom; k < j; ++k) ChainEdit::Unref(chain, v[k]);
  v.erase(v.begin() + static_cast<std::ptrdiff_t>(eraseFrom),
          v.begin() + static_cast<std::ptrdiff_t>(j));
}

bool ChainInsert(AudioChain& chain, FramePos pos, const AudioChain& other) {
  if (&chain == &other) {
    const AudioChain copy(other);
    return ChainInsert(chain, pos, copy);
  }
  if (!chain.empty() && !other.empty() && chain.channels != other.channels) return false;
  ChainEdit::AdoptStore(chain, other);
  Segs& v = ChainEdit::Segs(chain);
  if (v.empty()) {
    ChainEdit::Segs(chain) = Copies(other);
    if (!other.empty()) {
      chain.sampleRate = other.sampleRate;
      chain.channels = other.channels;
    }
    return true;
  }
  const std::size_t at = SplitAt(chain, pos);
  Segs ins;
  if (at == v.size() && pos > 0) ins.push_back(Silence(pos));
  for (const auto& s : Copies(other)) ins.push_back(s);
  if (at < v.size() && pos < 0) ins.push_back(Silence(-pos));
  v.insert(v.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
  return true;
}

void ChainInsertSilence(AudioChain& chain, FramePos pos, FrameCount count) {
  if (pos < 0) {
    if (count < -pos) return;
    count += pos;
    pos = 0;
  }
  if (count <= 0) return;
  const std::size_t at = SplitAt(chain, pos);
  Segs& v = ChainEdit::Segs(chain);
  v.insert(v.begin() + static_cast<std::ptrdiff_t>(at), Silence(count + pos));
}

void ChainCopyRange(const AudioChain& src, FramePos from, FramePos to, AudioChain& dst) {
  if (from > to) return;
  const FrameCount len = to - from;
  Segs out;
  FrameCount filled = 0;
  if (from < 0) {
    filled = std::min(-from, len);
    out.push_back(Silence(filled));
  }
  const FramePos a = std::max<FramePos>(from, 0);
  FramePos p = 0;
  for (const auto& s : src.segments()) {
    if (p >= to) break;
    const FramePos end = p + s.frameCount;
    if (end > a && s.frameCount > 0) {
      AudioSegment piece = s;
      const FramePos lo = std::max(p, a), hi = std::min(end, to);
      piece.startFrame += lo - p;
      piece.frameCount = hi - lo;
      ChainEdit::Ref(src, piece);
      out.push_back(piece);
      filled += piece.frameCount;
    }
    p = end;
  }
  if (filled < len) out.push_back(Silence(len - filled));

  const std::uint32_t rate = src.sampleRate;
  const int channels = src.channels;
  ChainClear(dst);
  ChainEdit::AdoptStore(dst, src);
  ChainEdit::Segs(dst) = std::move(out);
  dst.sampleRate = rate;
  dst.channels = channels;
}

void ChainCutRange(AudioChain& src, FramePos from, FramePos to, AudioChain& dst) {
  if (&src == &dst) return;
  ChainCopyRange(src, from, to, dst);
  ChainDeleteRange(src, from, to);
}

bool ChainReplaceRange(AudioChain& chain, FramePos from, FramePos to, const AudioChain& other) {
  if (&chain == &other) {
    const AudioChain copy(other);
    return ChainReplaceRange(chain, from, to, copy);
  }
  if (!chain.empty() && !other.empty() && chain.channels != other.channels) return false;
  ChainDeleteRange(chain, from, to);
  return ChainInsert(chain, from, other);
}

void ChainSilenceRange(AudioChain& chain, FramePos from, FramePos to) {
  ChainDeleteRange(chain, from, to);
  ChainInsertSilence(chain, from, to - from);
}

void ChainTrim(AudioChain& chain, FramePos from, FramePos to) {
  if (from >= 1) ChainDeleteRange(chain, 0, from);
  else from = 0;
  ChainDeleteRange(chain, to - from, kEnd);
}

void ChainTrimStart(AudioChain& chain, FrameCount n) {
  if (n > 0) ChainDeleteRange(chain, 0, n);
}

void ChainTrimEnd(AudioChain& chain, FrameCount n) { ChainDeleteRange(chain, n, kEnd); }

void ChainRepeatRange(AudioChain& chain, FramePos from, FramePos to, int times) {
  if (times < 1 || from > to) return;
  AudioChain once(chain.store());
  ChainCopyRange(chain, from, to, once);
  // times copies inserted at one place in one step: the same as inserting one copy
  // times over, without walking the chain each time.
  AudioChain all(chain.store());
  all.sampleRate = once.sampleRate;
  all.channels = once.channels;
  for (int t = 0; t < times; ++t)
    for (const auto& s : once.segments()) ChainAppendSegment(all, s);
  ChainInsert(chain, from, all);
}

void ChainScaleRangeGain(AudioChain& chain, FramePos from, FramePos to, int percent) {
  // Clamped, so that a range running past the end does not lengthen the audio.
  from = std::max<FramePos>(from, 0);
  to = std::min(to, ChainLength(chain));
  if (to < from || percent == 100) return;
  AudioChain part(chain.store());
  ChainCutRange(chain, from, to, part);
  ChainScaleGain(part, percent);
  ChainInsert(chain, from, part);
}

void ChainScaleGain(AudioChain& chain, int percent) {
  if (percent == 100) return;
  // Only amplification saturates: a saturated gain can still be turned down or off.
  const std::int32_t limit = percent > 100 ? (kMaxGain / percent) * 100 : kMaxGain;
  for (auto& s : ChainEdit::Segs(chain)) {
    if (percent < 0) {  // phase inversion: 64-bit, saturated both ways
      const std::int64_t g = static_cast<std::int64_t>(s.gain / 100) * percent;
      s.gain = static_cast<std::int32_t>(std::clamp<std::int64_t>(g, -kMaxGain, kMaxGain));
    } else if (percent > 100 && s.gain >= limit) {
      s.gain = kMaxGain;
    } else {
      s.gain = (s.gain / 100) * percent;
    }
  }
}

}  // namespace quillet::core
