// The WAVE reader on arbitrary bytes: parse, read everything, seek and read again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(
      std::string_view(reinterpret_cast<const char*>(data), size));
  formats::ParseLog log;
  audio::SourceHandle src = formats::OpenWaveSource(bytes, &log);
  if (!src->ready()) return 0;
  // Bounded work: a lying header must not make a tiny input decode for long.
  std::vector<audio::Sample> buf(static_cast<std::size_t>(4096) * static_cast<std::size_t>(src->channels()));
  audio::FrameCount total = 0;
  while (src->position() < src->length() && total < 200000) {
    src->read(buf.data(), 4096);
    total += 4096;
  }
  src->seek(src->length() / 2 + 1);
  src->read(buf.data(), 100);
  src->seek(-10);
  src->read(buf.data(), 20);
  return 0;
}
