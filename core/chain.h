#pragma once
// A document's audio as an ordered list of segments, each a range of one sample file
// played at a gain. Edits rearrange or retune segments and never touch the audio, so
// their cost follows the number of segments, not the length of the audio.

#include <cstdint>
#include <vector>

#include "audio/sample.h"
#include "core/segment_store.h"

namespace quillet::core {

using audio::FrameCount;
using audio::FramePos;

// Segment gains are 8.24 fixed point; at the point of use gain >> 15, so 512 is unity.
inline constexpr std::int32_t kUnityGain = 0x1000000;
inline constexpr std::int32_t kMaxGain = 0x7FFFFFFF;

struct AudioSegment {
  FileId fileId = kNoFile;  // kNoFile: silence
  FrameCount frameCount = 0;
  std::int32_t gain = kUnityGain;
  FramePos startFrame = 0;  // first frame of the sample file that the segment plays
  friend bool operator==(const AudioSegment&, const AudioSegment&) = default;
};

// Owns its segments and one reference on each segment's file. A fresh chain is
// 44100 Hz mono and empty. Copying takes references; chains are edited on one thread.
class AudioChain {
 public:
  explicit AudioChain(SegmentStore* store = nullptr) : store_(store) {}
  AudioChain(const AudioChain& other);
  AudioChain(AudioChain&& other) noexcept;
  AudioChain& operator=(const AudioChain& other);
  AudioChain& operator=(AudioChain&& other) noexcept;
  ~AudioChain();

  std::uint32_t sampleRate = 44100;
  int channels = 1;

  SegmentStore* store() const { return store_; }
  const std::vector<AudioSegment>& segments() const { return segments_; }
  bool empty() const { return segments_.empty(); }

 private:
  friend struct ChainEdit;
  SegmentStore* store_;
  std::vector<AudioSegment> segments_;
};

// Appends seg, taking a reference on its file.
void ChainAppendSegment(AudioChain& chain, const AudioSegment& seg);

FrameCount ChainLength(const AudioChain& chain);
// Releases every segment; rate and channels stay.
void ChainClear(AudioChain& chain);
// dst's segments become copies of src's; rate and channels are the caller's business.
void ChainCopy(AudioChain& dst, const AudioChain& src);

// Removes frames [from, to). Nothing when to < from or to < 0; a negative from counts
// as 0; a range past the end removes everything from from on. An empty range inside a
// segment splits it there.
void ChainDeleteRange(AudioChain& chain, FramePos from, FramePos to);
// Inserts copies of other's segments at pos. Past the end, silence fills the gap first;
// at -k, other comes first, then k frames of silence, then the old chain. An empty
// chain takes other's rate and channels. Refuses (false, nothing changed) audio whose
// channel count differs from a non-empty chain's.
bool ChainInsert(AudioChain& chain, FramePos pos, const AudioChain& other);
// Inserts count frames of silence at pos; the part of it before 0 is dropped; past the
// end the silence also fills the gap. A negative count inserts nothing.
void ChainInsertSilence(AudioChain& chain, FramePos pos, FrameCount count);
// dst becomes exactly to - from frames of src from from, padded with silence where the
// range lies outside src, with src's rate and channels. Nothing when from > to.
void ChainCopyRange(const AudioChain& src, FramePos from, FramePos to, AudioChain& dst);
void ChainCutRange(AudioChain& src, FramePos from, FramePos to, AudioChain& dst);
// [from, to) deleted, then other inserted at from. False (nothing changed) as for ChainInsert.
bool ChainReplaceRange(AudioChain& chain, FramePos from, FramePos to, const AudioChain& other);
void ChainSilenceRange(AudioChain& chain, FramePos from, FramePos to);
// Keeps [from, to).
void ChainTrim(AudioChain& chain, FramePos from, FramePos to);
void ChainTrimStart(AudioChain& chain, FrameCount n);
void ChainTrimEnd(AudioChain& chain, FrameCount n);
// [from, to) followed by times more copies of itself.
void ChainRepeatRange(AudioChain& chain, FramePos from, FramePos to, int times);
// Scales the gains of [from, to) (clamped to the audio) by percent.
void ChainScaleRangeGain(AudioChain& chain, FramePos from, FramePos to, int percent);
// Every gain times percent / 100, truncated before the multiplication; amplification
// saturates at kMaxGain, and 0 silences (a saturated gain too).
void ChainScaleGain(AudioChain& chain, int percent);

}  // namespace quillet::core
