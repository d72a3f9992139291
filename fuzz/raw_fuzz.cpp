// The raw reader on arbitrary bytes, the first byte choosing codec and channels.
#include <cstddef>
#include <cstdint>

#include "formats/simple_formats.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  if (size < 1) return 0;
  const formats::RawSettings s{8000, 1 + (data[0] >> 4), (data[0] & 0x0F) % 8};
  auto bytes = std::make_shared<platform::ViewByteSource>(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  audio::SourceHandle src = formats::OpenRawSource(bytes, s);
  fuzz::Exercise(*src);
  return 0;
}
