#include "core/segment_store.h"

#include <cassert>
#include <string>
#include <system_error>
#include <utility>

namespace quillet::core {
namespace {

constexpr std::uint32_t kDying = 0xFFFFFFFF;

}  // namespace

SegmentStore::SegmentStore(std::filesystem::path folder, std::uint32_t capacity)
    : folder_(std::move(folder)),
      capacity_(std::min(capacity, kMaxFileIds)),
      refs_(new std::atomic<std::uint32_t>[capacity_]),
      summaries_(capacity_) {
  for (std::uint32_t i = 0; i < capacity_; ++i) refs_[i].store(0, std::memory_order_relaxed);
}

SegmentStore::~SegmentStore() {
  std::error_code ec;
  std::vector<std::filesystem::path> doomed;
  for (auto it = std::filesystem::directory_iterator(folder_, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const auto ext = it->path().extension();
    if (ext == ".aud" || ext == ".grf") doomed.push_back(it->path());
  }
  for (const auto& p : doomed) std::filesystem::remove(p, ec);
}

FileId SegmentStore::AllocateFileId() {
  std::lock_guard guard(lock_);
  for (std::uint32_t id = lowestFree_; id < capacity_; ++id) {
    std::uint32_t expect = 0;
    if (refs_[id].compare_exchange_strong(expect, 1, std::memory_order_acq_rel)) {
      lowestFree_ = id + 1;
      return static_cast<FileId>(id);
    }
  }
  lowestFree_ = capacity_;
  return kNoFile;
}

void SegmentStore::AddFileRef(FileId id) {
  if (id == kNoFile || id >= capacity_) return;
  [[maybe_unused]] const std::uint32_t before = refs_[id].fetch_add(1, std::memory_order_relaxed);
  assert(before != 0 && before != kDying && "reference taken on a file nobody holds");
}

void SegmentStore::ReleaseFileRef(FileId id) {
  if (id == kNoFile || id >= capacity_) return;
  std::uint32_t c = refs_[id].load(std::memory_order_acquire);
  for (;;) {
    if (c == 0 || c == kDying) return;
    // The last holder marks the id dying, so nobody can allocate it before its old
    // files are gone: a new sink would otherwise lose its fresh files to our unlink.
    const std::uint32_t next = c == 1 ? kDying : c - 1;
    if (refs_[id].compare_exchange_weak(c, next, std::memory_order_acq_rel)) break;
  }
  if (c != 1) return;
  std::lock_guard guard(lock_);
  std::error_code ec;
  std::filesystem::remove(SampleFilePath(id), ec);
  std::filesystem::remove(PeakFilePath(id), ec);
  summaries_[id].reset();
  refs_[id].store(0, std::memory_order_release);
  lowestFree_ = std::min<std::uint32_t>(lowestFree_, id);
}

std::uint32_t SegmentStore::RefCount(FileId id) const {
  if (id == kNoFile || id >= capacity_) return 0;
  const std::uint32_t c = refs_[id].load(std::memory_order_acquire);
  return c == kDying ? 0 : c;
}

std::filesystem::path SegmentStore::SampleFilePath(FileId id) const {
  if (id == kNoFile) return {};
  return folder_ / (std::to_string(id) + ".aud");
}

std::filesystem::path SegmentStore::PeakFilePath(FileId id) const {
  if (id == kNoFile) return {};
  return folder_ / (std::to_string(id) + ".grf");
}

void SegmentStore::SetPeakSummary(FileId id, std::shared_ptr<const PeakSummary> summary) {
  if (id == kNoFile || id >= capacity_) return;
  std::lock_guard guard(lock_);
  summaries_[id] = std::move(summary);
}

void SegmentStore::NoteFresh(FileId id) {
  if (id == kNoFile) return;
  std::lock_guard guard(lock_);
  fresh_.push_back(id);
}

std::vector<FileId> SegmentStore::TakeFresh() {
  std::lock_guard guard(lock_);
  return std::exchange(fresh_, {});
}

std::shared_ptr<const PeakSummary> SegmentStore::PeakSummaryOf(FileId id) const {
  if (id == kNoFile || id >= capacity_) return nullptr;
  std::lock_guard guard(lock_);
  return summaries_[id];
}

}  // namespace quillet::core
