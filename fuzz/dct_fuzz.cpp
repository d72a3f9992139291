// The dictation container on arbitrary bytes: parse, then read the WAVE inside.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/dct.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(
      std::string_view(reinterpret_cast<const char*>(data), size));
  std::string message;
  audio::SourceHandle src = formats::OpenDctSource(bytes, &message);
  fuzz::Exercise(*src, /*checkBound=*/false);
  return 0;
}
