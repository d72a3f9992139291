// Batch scripts: whatever the bytes, the reader stays inside them, accepts only
// types 0..17, and what it accepts writes back to the same bytes; every accepted
// command's summary and curve text can be formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "batch/script.h"
#include "batch/types.h"

using namespace quillet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const settings::Settings stored(settings::FolderLocations("/nonexistent/quillet-fuzz"));
  batch::BatchCommandList list;
  if (!batch::ParseBatchScript({data, size}, list).done()) {
    if (!list.empty()) std::abort();
    return 0;
  }
  const std::string back = batch::SerializeBatchScript(list);
  // Only a cut-short trailing header may be dropped.
  if (back.size() > size || size - back.size() >= 8 ||
      std::string_view(reinterpret_cast<const char*>(data), back.size()) != back)
    std::abort();
  for (const batch::BatchCommand& c : list) {
    if (c.type >= batch::kBatchTypeCount) std::abort();
    (void)batch::SummaryOf(c, stored);
    (void)batch::CurveTextOf(c);
  }
  return 0;
}
