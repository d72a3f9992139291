// The WAVE reader on arbitrary bytes: parse, read everything (bounded work, so a
// lying header cannot make a tiny input decode for long), seek and read again.
#include <cstddef>
#include <cstdint>

#include "formats/wav_reader.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(
      std::string_view(reinterpret_cast<const char*>(data), size));
  formats::ParseLog log;
  audio::SourceHandle src = formats::OpenWaveSource(bytes, &log);
  fuzz::Exercise(*src, /*checkBound=*/false);
  return 0;
}
