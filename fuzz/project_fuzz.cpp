// Project (".qlp") and bookmark (".qbm") files come from disk and may be cut short or
// hostile: reading must stay inside the bytes, allocate only what they hold, and
// yield either everything or nothing; what it accepts must write back to the same
// bytes it would read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

#include "batch/bookmarks.h"
#include "batch/project_file.h"
#include "core/segment_store.h"
#include "platform/byte_source.h"

namespace {

// One store for the run: audio the fuzzer's projects hold goes into real sample files,
// and the folder goes with the store at exit.
class RunStore {
 public:
  RunStore() {
    char folder[] = "/tmp/quillet-project-fuzz-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    folder_ = folder;
    store_ = std::make_unique<quillet::core::SegmentStore>(folder_);
  }
  ~RunStore() {
    store_.reset();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  quillet::core::SegmentStore& store() { return *store_; }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<quillet::core::SegmentStore> store_;
};

quillet::core::SegmentStore& Store() {
  static RunStore run;
  return run.store();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<core::Bookmark> marks;
  if (batch::ParseBookmarkFile(bytes, marks).done()) {
    if (marks.size() * batch::kBookmarkRecordBytes + 2 > size) std::abort();
    std::vector<const core::Bookmark*> refs;
    for (const auto& b : marks) refs.push_back(&b);
    std::vector<core::Bookmark> again;
    if (!batch::ParseBookmarkFile(batch::BookmarkFileBytes(refs), again).done() || again.size() != marks.size())
      std::abort();
  } else if (!marks.empty()) {
    std::abort();
  }

  // Listing (audio skipped) and loading must agree.
  platform::ViewByteSource listed(bytes);
  batch::ProjectContents skipped;
  const platform::Outcome list = batch::ReadProject(listed, nullptr, skipped);
  platform::ViewByteSource loaded(bytes);
  batch::ProjectContents full;
  const platform::Outcome load = batch::ReadProject(loaded, &Store(), full);
  if (list.done() != load.done()) std::abort();
  if (!load.done()) {
    if (!full.documents.empty() || !full.regions.empty()) std::abort();
    return 0;
  }
  if (batch::ProjectFileSize(full) > size || full.documents.size() != skipped.documents.size()) std::abort();
  for (std::size_t i = 0; i < full.documents.size(); ++i) {
    const auto& d = full.documents[i];
    const auto length = core::ChainLength(d.audio);
    if (length != core::ChainLength(skipped.documents[i].audio)) std::abort();
    if (d.record.cursor > length || d.record.selEnd < 0 || d.record.selEnd > length) std::abort();
  }
  return 0;
}
