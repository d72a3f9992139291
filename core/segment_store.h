#pragma once
// The store of sample files ("N.aud", laid out as sample_file.h says) and peak files
// ("N.grf") in one working folder.
// A file id lives from AllocateFileId until its last reference goes; then both files
// are deleted before the id can be handed out again.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

namespace quillet::core {

using FileId = std::uint16_t;
// "No file": a segment with this id is silence.
inline constexpr FileId kNoFile = 65535;
inline constexpr std::uint32_t kMaxFileIds = 65535;

// Peak records merged over groups of kSummaryRecords records (2 x channels bytes per
// group, the larger of each byte), kept in memory so wide views need not read the
// whole peak file.
inline constexpr std::int64_t kSummaryRecords = 64;
struct PeakSummary {
  int channels = 1;
  std::vector<std::uint8_t> bytes;
  std::int64_t groups() const { return static_cast<std::int64_t>(bytes.size()) / (2 * channels); }
};

class SegmentStore {
 public:
  // folder must exist; capacity (at most kMaxFileIds) bounds the ids in use at once.
  explicit SegmentStore(std::filesystem::path folder, std::uint32_t capacity = kMaxFileIds);
  // Deletes every "*.aud" and "*.grf" of the folder, referenced or not.
  ~SegmentStore();
  SegmentStore(const SegmentStore&) = delete;
  SegmentStore& operator=(const SegmentStore&) = delete;

  // The lowest free id, now holding one reference; kNoFile when every id is taken.
  FileId AllocateFileId();
  // Both do nothing for kNoFile. The last release deletes the id's two files.
  void AddFileRef(FileId id);
  void ReleaseFileRef(FileId id);
  std::uint32_t RefCount(FileId id) const;

  // Empty for kNoFile.
  std::filesystem::path SampleFilePath(FileId id) const;
  std::filesystem::path PeakFilePath(FileId id) const;
  const std::filesystem::path& workingFolder() const { return folder_; }

  // Whether new sample files take 2 or 3 bytes per sample where their audio allows (the
  // default) or always 4; the benchmarks compare the two.
  bool compactSampleFiles() const { return compact_.load(std::memory_order_relaxed); }
  void SetCompactSampleFiles(bool on) { compact_.store(on, std::memory_order_relaxed); }

  // Durable: a crash journal keeps this store's chains, so finished sample files are
  // noted as fresh, and the journal flushes them to the disk before any record that
  // names them. Off by default.
  void SetDurable(bool durable) { durable_.store(durable, std::memory_order_relaxed); }
  bool durable() const { return durable_.load(std::memory_order_relaxed); }
  void NoteFresh(FileId id);
  // The ids noted fresh since the last call.
  std::vector<FileId> TakeFresh();

  // Set by the sink when it publishes; dropped with the id.
  void SetPeakSummary(FileId id, std::shared_ptr<const PeakSummary> summary);
  std::shared_ptr<const PeakSummary> PeakSummaryOf(FileId id) const;

 private:
  std::filesystem::path folder_;
  std::uint32_t capacity_;
  // 0 free, kDying while the files of a released id are being deleted.
  std::unique_ptr<std::atomic<std::uint32_t>[]> refs_;
  mutable std::mutex lock_;  // allocation, deletion, summaries
  std::uint32_t lowestFree_ = 0;
  std::atomic<bool> durable_{false};
  std::vector<FileId> fresh_;  // under lock_
  std::vector<std::shared_ptr<const PeakSummary>> summaries_;
  std::atomic<bool> compact_{true};
};

}  // namespace quillet::core
