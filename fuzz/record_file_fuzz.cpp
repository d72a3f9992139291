// Record files come from disk and may be truncated or hostile: reading any mix of
// fields must stay inside the bytes and end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/record_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The first byte chooses the field sequence, the rest is the file.
  const unsigned plan = static_cast<unsigned char>(bytes[0]);
  quillet::platform::RecordReader r(bytes.substr(1));
  for (int step = 0; step < 64 && !r.AtEnd(); ++step) {
    switch ((plan >> (step % 4 * 2)) & 3) {
      case 0:
        r.U8();
        break;
      case 1:
        r.U32();
        break;
      case 2: {
        const auto t = r.Text();
        if (t.size() > 259) std::abort();
        break;
      }
      default:
        r.Bytes(r.U16());
        break;
    }
  }
  return 0;
}
