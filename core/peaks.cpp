#include "core/peaks.h"

#include <fcntl.h>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/chain_source.h"
#include "core/detail/file_io.h"
#include "core/segment_sink.h"

namespace quillet::core {
namespace {

bool Stopped(const std::atomic<bool>* stop) {
  return stop && stop->load(std::memory_order_relaxed);
}

bool SplitChannels(const AudioChain& chain, const PeakOptions& o) {
  return chain.channels == 2 && (o.displayMode == 1 || o.displayMode == 2);
}

// Column extremes gathered from samples, with gains already applied by the source.
bool FromSamples(const AudioChain& chain, const ColumnMapping& map, int first, int count,
                 const PeakOptions& o, std::uint8_t* top, std::uint8_t* bottom,
                 const std::atomic<bool>* stop) {
  const int ch = std::max(chain.channels, 1);
  const int shift = o.verticalZoom ? 8 : 11;
  const bool split = SplitChannels(chain, o);
  LChainSoundSource source(chain);
  source.seek(map.FrameOf(first));
  std::vector<Sample> buf(static_cast<std::size_t>(audio::kBlockFrames) * ch);
  for (int i = 0; i < count; ++i) {
    const FramePos end = map.FrameOf(first + i + 1);
    std::int64_t hi[2] = {0, 0}, lo[2] = {0, 0};  // per lane
    while (source.position() < end) {
      const FrameCount n = std::min(audio::kBlockFrames, end - source.position());
      source.read(buf.data(), n);
      for (FrameCount f = 0; f < n; ++f)
        for (int c = 0; c < ch; ++c) {
          const std::int64_t v = buf[static_cast<std::size_t>(f * ch + c)];
          const int lane = split ? c : 0;
          hi[lane] = std::max(hi[lane], v);
          lo[lane] = std::min(lo[lane], v);
        }
    }
    auto level = [&](std::int64_t v) { return static_cast<std::uint8_t>(std::min<std::int64_t>(255, v >> shift)); };
    if (split) {
      top[i] = level(std::max(hi[0], -lo[0]));
      bottom[i] = level(std::max(hi[1], -lo[1]));
    } else {
      top[i] = level(hi[0]);
      bottom[i] = level(-lo[0]);
    }
    if (Stopped(stop)) return false;
  }
  return true;
}

// Reads peak records of one file through a window, so neighbouring columns share reads.
class PeakFileReader {
 public:
  PeakFileReader(const SegmentStore& store, FileId id, int recordBytes)
      : fd_(::open(store.PeakFilePath(id).c_str(), O_RDONLY | O_CLOEXEC)),
        summary_(store.PeakSummaryOf(id)),
        recordBytes_(recordBytes) {}

  // Raises acc[0..recordBytes) to the largest bytes of records [r0, r1).
  void Gather(std::int64_t r0, std::int64_t r1, std::uint8_t* acc) {
    if (r1 <= r0) return;
    if (summary_ && summary_->channels * 2 == recordBytes_) {
      const std::int64_t g0 = (r0 + kSummaryRecords - 1) / kSummaryRecords;
      const std::int64_t g1 = std::min(r1 / kSummaryRecords, summary_->groups());
      if (g0 < g1) {
        GatherRecords(r0, g0 * kSummaryRecords, acc);
        for (std::int64_t g = g0; g < g1; ++g) Max(summary_->bytes.data() + g * recordBytes_, acc);
        GatherRecords(g1 * kSummaryRecords, r1, acc);
        return;
      }
    }
    GatherRecords(r0, r1, acc);
  }

 private:
  static constexpr std::int64_t kWindowRecords = 1024;

  void Max(const std::uint8_t* rec, std::uint8_t* acc) const {
    for (int b = 0; b < recordBytes_; ++b) acc[b] = std::max(acc[b], rec[b]);
  }

  void GatherRecords(std::int64_t r0, std::int64_t r1, std::uint8_t* acc) {
    while (r0 < r1) {
      if (r0 < winStart_ || r0 >= winStart_ + winRecords_) Fill(r0);
      if (winRecords_ == 0) return;  // past the end of a short file: nothing there
      const std::int64_t stop = std::min(r1, winStart_ + winRecords_);
      for (std::int64_t r = r0; r < stop; ++r)
        Max(window_.data() + (r - winStart_) * recordBytes_, acc);
      r0 = stop;
    }
  }

  void Fill(std::int64_t r0) {
    window_.resize(static_cast<std::size_t>(kWindowRecords * recordBytes_));
    winStart_ = r0;
    winRecords_ = fd_ ? static_cast<std::int64_t>(detail::ReadAt(fd_.get(), window_.data(), window_.size(),
                                                                 r0 * recordBytes_)) /
                            recordBytes_
                      : 0;
  }

  detail::UniqueFd fd_;
  std::shared_ptr<const PeakSummary> summary_;
  int recordBytes_;
  std::vector<std::uint8_t> window_;
  std::int64_t winStart_ = 0, winRecords_ = 0;
};

}  // namespace

bool ReadPeakRecords(const SegmentStore& store, FileId id, std::int64_t first, std::int64_t count,
                     int channels, std::vector<std::uint8_t>& out) {
  const std::int64_t recordBytes = 2 * std::int64_t{channels};
  out.resize(static_cast<std::size_t>(std::max<std::int64_t>(count, 0) * recordBytes));
  if (id == kNoFile || first < 0) return false;
  detail::UniqueFd fd(::open(store.PeakFilePath(id).c_str(), O_RDONLY | O_CLOEXEC));
  return fd && detail::ReadAt(fd.get(), out.data(), out.size(), first * recordBytes) == out.size();
}

namespace {

bool FromPeakFiles(const AudioChain& chain, const ColumnMapping& map, int first, int count,
                   const PeakOptions& o, std::uint8_t* top, std::uint8_t* bottom,
                   const std::atomic<bool>* stop) {
  const int ch = std::max(chain.channels, 1);
  const int recordBytes = 2 * ch;
  const bool split = SplitChannels(chain, o);
  const auto& segs = chain.segments();
  std::unordered_map<FileId, std::unique_ptr<PeakFileReader>> readers;  // one per file
  std::vector<std::uint8_t> acc(static_cast<std::size_t>(recordBytes));

  // The segment walk moves forward with the columns.
  std::size_t si = 0;
  FramePos segStart = 0;
  for (int i = 0; i < count; ++i) {
    const FramePos a = std::max<FramePos>(map.FrameOf(first + i), 0);
    const FramePos b = map.FrameOf(first + i + 1);
    std::int64_t up = 0, down = 0;
    while (si < segs.size() && segStart + segs[si].frameCount <= a) segStart += segs[si++].frameCount;
    FramePos p = segStart;
    for (std::size_t k = si; k < segs.size() && p < b; p += segs[k++].frameCount) {
      const AudioSegment& s = segs[k];
      if (s.fileId == kNoFile || s.frameCount <= 0 || !chain.store()) continue;
      const FramePos lo = std::max(a, p) - p + s.startFrame;
      const FramePos hi = std::min(b, p + s.frameCount) - p + s.startFrame;
      if (hi <= lo || lo < 0) continue;
      auto& reader = readers[s.fileId];
      if (!reader) reader = std::make_unique<PeakFileReader>(*chain.store(), s.fileId, recordBytes);
      std::fill(acc.begin(), acc.end(), 0);
      reader->Gather(lo / kPeakBlockFrames, (hi + kPeakBlockFrames - 1) / kPeakBlockFrames, acc.data());
      std::int64_t t = 0, d = 0;
      for (int c = 0; c < ch; ++c) {
        const std::int64_t pos = acc[2 * c], neg = acc[2 * c + 1];
        if (split) (c == 0 ? t : d) = std::max({c == 0 ? t : d, pos, neg});
        else {
          t = std::max(t, pos);
          d = std::max(d, neg);
        }
      }
      // Unity is 256 (2048 with vertical zoom); a negative gain turns the wave over.
      const std::int64_t g = s.gain;
      const std::int64_t scale = (g < 0 ? -g : g) >> (o.verticalZoom ? 13 : 16);
      if (g < 0 && !split) std::swap(t, d);
      up = std::max(up, std::min<std::int64_t>(255, (t * scale) >> 8));
      down = std::max(down, std::min<std::int64_t>(255, (d * scale) >> 8));
    }
    top[i] = static_cast<std::uint8_t>(up);
    bottom[i] = static_cast<std::uint8_t>(down);
    if (Stopped(stop)) return false;
  }
  return true;
}

}  // namespace

ColumnMapping ColumnMapping::Make(FramePos start, FrameCount length, int width) {
  ColumnMapping m;
  m.width = std::clamp(width, 1, kMaxColumns);
  if (length <= 0) return m;
  m.viewStart = start;
  m.viewLength = length;
  m.pixelsPerFrame = std::max(m.width, 8) / static_cast<double>(length);
  m.originColumn = static_cast<std::int64_t>(static_cast<double>(start) * m.pixelsPerFrame);
  return m;
}

FramePos ColumnMapping::FrameOf(std::int64_t column) const {
  if (!valid()) return 0;
  return static_cast<FramePos>(static_cast<double>(column + originColumn) / pixelsPerFrame);
}

std::int64_t ColumnMapping::ColumnOf(FramePos f) const {
  if (!valid()) return -1;
  const std::int64_t c = static_cast<std::int64_t>(static_cast<double>(f) * pixelsPerFrame) - originColumn;
  if (c < 0) return -1;
  return std::min<std::int64_t>(c, width);
}

std::shared_ptr<PeakSummary> SummarizePeakRecords(const std::uint8_t* records, std::int64_t count,
                                                  int channels) {
  auto s = std::make_shared<PeakSummary>();
  s->channels = channels;
  const std::int64_t rb = 2 * channels;
  s->bytes.assign(static_cast<std::size_t>((count + kSummaryRecords - 1) / kSummaryRecords * rb), 0);
  for (std::int64_t r = 0; r < count; ++r)
    for (std::int64_t b = 0; b < rb; ++b) {
      auto& g = s->bytes[static_cast<std::size_t>(r / kSummaryRecords * rb + b)];
      g = std::max(g, records[r * rb + b]);
    }
  return s;
}

PeakSource ChoosePeakSource(const ColumnMapping& map) {
  return map.viewLength <= std::int64_t{map.width} * kPeakBlockFrames ? PeakSource::Samples
                                                                       : PeakSource::PeakFiles;
}

bool ComputePeakColumns(const AudioChain& chain, const ColumnMapping& map, int first, int count,
                        const PeakOptions& options, PeakSource source, std::uint8_t* top,
                        std::uint8_t* bottom, const std::atomic<bool>* stop) {
  if (count <= 0) return true;
  if (!map.valid()) {
    std::fill(top, top + count, 0);
    std::fill(bottom, bottom + count, 0);
    return true;
  }
  return source == PeakSource::Samples
             ? FromSamples(chain, map, first, count, options, top, bottom, stop)
             : FromPeakFiles(chain, map, first, count, options, top, bottom, stop);
}

}  // namespace quillet::core
