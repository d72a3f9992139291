// keys.dat comes from disk and may be truncated or hostile: parsing must stay inside
// the bytes, and whatever it accepts must survive a write and a second read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/hot_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::platform;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const HotKeyFile file = ParseHotKeys(bytes);
  if (file.status != HotKeyStatus::Ok) {
    if (!file.keys.empty()) std::abort();
    return 0;
  }
  // Each record takes at least five bytes after the version byte.
  if (file.keys.size() * 5 > size) std::abort();
  const HotKeyFile again = ParseHotKeys(SerializeHotKeys(file.keys));
  if (again.status != HotKeyStatus::Ok || again.keys != file.keys) std::abort();
  return 0;
}
