// Crash journals are read after a crash or a power cut, so any byte may be wrong:
// replaying must stay inside the bytes, and every state it yields must survive being
// written whole and read back. Each input is also tried with its first record's
// checksum made right, so the fuzzer reaches the fields behind it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/journal.h"

namespace {

using namespace quillet::core;

void Check(const std::uint8_t* data, std::size_t size) {
  std::string error;
  ReplayJournal({data, size}, [](const JournalImage& j) {
    const std::string whole = EncodeJournal(j);
    std::string why;
    const auto again = DecodeJournal({reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size()}, &why);
    if (!again || !(*again == j)) std::abort();
  }, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(data, size);
  constexpr std::size_t kFirst = kJournalHeaderBytes;
  if (size < kFirst + kRecordHeaderBytes) return 0;
  std::vector<std::uint8_t> fixed(data, data + size);
  std::uint32_t payload;
  std::memcpy(&payload, fixed.data() + kFirst, 4);
  if (payload > size - kFirst - kRecordHeaderBytes) return 0;
  const std::uint32_t crc = Crc32({fixed.data() + kFirst + 8, 9 + std::size_t{payload}});
  std::memcpy(fixed.data() + kFirst + 4, &crc, 4);
  Check(fixed.data(), size);
  return 0;
}
