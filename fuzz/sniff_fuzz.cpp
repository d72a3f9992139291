// The content check of the open dispatch on arbitrary bytes: what the first bytes
// name, the Ogg Vorbis head, and the reader the content chooses on the whole input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "formats/format_table.h"
#include "formats/mp3_source.h"
#include "formats/ogg_head.h"
#include "formats/simple_formats.h"
#include "formats/wav_reader.h"
#include "simple_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillet;
  const std::size_t head = std::min(size, formats::kSniffBytes);
  const auto kind = formats::SniffExtension(data, head);
  if (const auto vorbis = formats::ParseVorbisHead(data, head)) {
    if (vorbis->channels < 1 || vorbis->rate < 1) std::abort();
    const auto order = formats::WaveFromVorbisOrder(vorbis->channels);
    if (static_cast<int>(order.size()) != vorbis->channels) std::abort();
  }
  if (!kind) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto bytes = std::make_shared<platform::ViewByteSource>(text);
  audio::SourceHandle src;
  if (*kind == ".wav") src = formats::OpenWaveSource(bytes);
  else if (*kind == ".aiff") src = formats::OpenAiffSource(bytes);
  else if (*kind == ".au") src = formats::OpenAuSource(bytes);
  else if (*kind == ".mp3") src = formats::OpenMp3Source(std::make_unique<platform::ViewByteSource>(text));
  if (src) fuzz::Exercise(*src, false);
  return 0;
}
