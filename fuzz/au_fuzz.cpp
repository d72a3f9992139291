// The AU reader on arbitrary bytes: parse, read everything, seek and read again.
#include <cstddef>
#include <cstdint>

#include "formats/simple_formats.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(std::string_view(reinterpret_cast<const char*>(data), size));
  formats::ParseLog log;
  audio::SourceHandle src = formats::OpenAuSource(bytes, &log);
  fuzz::Exercise(*src);
  return 0;
}
