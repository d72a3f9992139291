// The GSM 06.10 file reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "formats/simple_formats.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(std::string_view(reinterpret_cast<const char*>(data), size));
  audio::SourceHandle src = formats::OpenGsmSource(bytes);
  fuzz::Exercise(*src);
  return 0;
}
