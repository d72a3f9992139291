#include "effects/auto_trim.h"

#include <algorithm>

#include "core/peaks.h"
#include "core/segment_sink.h"
#include "effects/gain.h"

namespace quillet::effects {
namespace {

static_assert(kTrimBlock == core::kPeakBlockFrames, "auto trim works in peak records");
// Peak records read at a time (a few kilobytes), with progress and cancel between.
constexpr std::int64_t kRecordsPerRead = 8192;

constexpr core::ParamInfo kAutoTrimFields[] = {{.name = "DB",
                                                .label = "AutoTrim &Threshold",
                                                .key = "AutoTrimThreshold",
                                                .def = -20,
                                                .min = kMinDecibel,
                                                .max = 0,
                                                .unit = "dB",
                                                .section = "Settings"}};

}  // namespace

const core::ParamTable kAutoTrimTable{"Auto Trim", kAutoTrimFields};

Outcome ChainBlockPeaks(const AudioChain& chain, std::vector<std::uint8_t>& peaks,
                        const ProgressFn& progress) {
  const FrameCount length = core::ChainLength(chain);
  peaks.assign(static_cast<std::size_t>((length + kTrimBlock - 1) / kTrimBlock), 0);
  const int ch = std::max(chain.channels, 1);
  std::vector<std::uint8_t> records;
  FramePos at = 0;  // the segment's first frame in the document
  for (const core::AudioSegment& seg : chain.segments()) {
    const FramePos segStart = at;
    at += seg.frameCount;
    if (seg.fileId == core::kNoFile || seg.gain == 0 || seg.frameCount <= 0) continue;
    if (!chain.store()) return Outcome::Failed("The audio has no peak files to trim by.");
    // value x (gain >> 16) >> 8: unity leaves a byte as it is; louder saturates at 255.
    const std::int64_t scale = std::abs(std::int64_t{seg.gain}) >> 16;
    const FramePos fileEnd = seg.startFrame + seg.frameCount;
    const std::int64_t r1 = (fileEnd - 1) / kTrimBlock + 1;
    for (std::int64_t r0 = seg.startFrame / kTrimBlock; r0 < r1; r0 += kRecordsPerRead) {
      const std::int64_t n = std::min(kRecordsPerRead, r1 - r0);
      if (!core::ReadPeakRecords(*chain.store(), seg.fileId, r0, n, ch, records))
        return Outcome::Failed("The peak file " + chain.store()->PeakFilePath(seg.fileId).string() +
                               " cannot be read.");
      for (std::int64_t r = r0; r < r0 + n; ++r) {
        const std::uint8_t* rec = records.data() + (r - r0) * 2 * ch;
        const std::int64_t byte = *std::max_element(rec, rec + 2 * ch);
        const auto value =
            static_cast<std::uint8_t>(std::min<std::int64_t>(byte * scale >> 8, 255));
        if (value == 0) continue;
        // The record's frames that the segment plays, in document frames.
        const FramePos from = segStart + std::max(r * kTrimBlock, seg.startFrame) - seg.startFrame;
        const FramePos to = segStart + std::min((r + 1) * kTrimBlock, fileEnd) - seg.startFrame;
        for (FramePos b = from / kTrimBlock; b <= (to - 1) / kTrimBlock; ++b)
          peaks[static_cast<std::size_t>(b)] = std::max(peaks[static_cast<std::size_t>(b)], value);
      }
      const FrameCount done =
          segStart + std::min((r0 + n) * kTrimBlock - seg.startFrame, seg.frameCount);
      if (progress && !progress(done, length)) return Outcome::Cancelled();
    }
  }
  return {};
}

TrimRange AutoTrimRange(std::span<const std::uint8_t> peaks, FrameCount length, int thresholdDb) {
  const TrimRange all{0, length};
  if (peaks.empty()) return all;
  const std::int64_t loudest = *std::max_element(peaks.begin(), peaks.end());
  // 64-bit: the table's gains above +42 dB do not fit 32 bits.
  const std::int64_t threshold = (loudest * DecibelGain(thresholdDb)) >> 24;
  const auto loud = [&](std::uint8_t v) { return v > threshold; };
  const auto first = std::find_if(peaks.begin(), peaks.end(), loud);
  if (first == peaks.end()) return all;
  const auto last = std::find_if(peaks.rbegin(), peaks.rend(), loud);
  const FramePos firstBlock = first - peaks.begin();
  const FramePos lastBlock = static_cast<FramePos>(peaks.size()) - 1 - (last - peaks.rbegin());
  return {std::max<FramePos>(0, (firstBlock - 1) * kTrimBlock),
          std::min<FramePos>(length, (lastBlock + 2) * kTrimBlock)};
}

}  // namespace quillet::effects
