// The user's mimeapps.list is rewritten when a file type is handed back: any text must
// come out with no entry naming us as a default and every other line kept.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/desktop_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet::platform;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> types = {"audio/x-wav", "audio/mpeg"};
  const std::string once = RemoveDefaults(text, types);
  // Removing twice changes nothing more, and nothing grows.
  if (RemoveDefaults(once, types) != once) std::abort();
  if (once.size() > text.size() + text.size() / 2 + 1) std::abort();
  return 0;
}
