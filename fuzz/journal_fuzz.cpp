// Crash journals are read after a crash or a power cut, so any byte may be wrong:
// decoding must stay inside the bytes, and whatever it accepts must encode back to
// exactly the same bytes. Each input is also tried with its checksum made right, so
// the fuzzer reaches the fields behind it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/journal.h"

namespace {

void Check(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::core;
  std::string error;
  const auto image = DecodeJournal({data, size}, &error);
  if (!image) {
    if (error.empty()) std::abort();
    return;
  }
  const std::string again = EncodeJournal(*image);
  if (again.size() != size || std::memcmp(again.data(), data, size) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Check(data, size);
  if (size < 4) return 0;
  std::vector<std::uint8_t> fixed(data, data + size);
  const std::uint32_t crc = quillet::core::Crc32({fixed.data(), size - 4});
  for (int i = 0; i < 4; ++i) fixed[size - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  Check(fixed.data(), size);
  return 0;
}
