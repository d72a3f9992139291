// The dictation container on arbitrary bytes: parse, then read the WAVE inside.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/dct.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(
      std::string_view(reinterpret_cast<const char*>(data), size));
  std::string message;
  audio::SourceHandle src = formats::OpenDctSource(bytes, &message);
  if (!src->ready()) return 0;
  std::vector<audio::Sample> buf(static_cast<std::size_t>(4096) * static_cast<std::size_t>(src->channels()));
  audio::FrameCount total = 0;
  while (src->position() < src->length() && total < 200000) {
    src->read(buf.data(), 4096);
    total += 4096;
  }
  src->seek(src->length() / 2 + 1);
  src->read(buf.data(), 100);
  return 0;
}
