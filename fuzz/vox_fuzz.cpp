// The Dialogic ADPCM reader on arbitrary bytes: the predictor must stay in range
// whatever the codes, and seeking must land where reading from the start does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/simple_formats.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  auto bytes = std::make_shared<platform::ViewByteSource>(std::string_view(reinterpret_cast<const char*>(data), size));
  audio::SourceHandle src = formats::OpenVoxSource(bytes);
  fuzz::Exercise(*src);
  if (size < 2) return 0;
  const audio::FramePos at = data[0] % (2 * static_cast<audio::FramePos>(size));
  audio::Sample viaSeek = 0, viaRead = 0;
  src->seek(at);
  src->read(&viaSeek, 1);
  src->seek(0);
  for (audio::FramePos f = 0; f <= at; ++f) src->read(&viaRead, 1);
  if (viaSeek != viaRead) std::abort();
  return 0;
}
