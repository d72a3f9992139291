// The MP3 reader on arbitrary bytes (seeds include free format, mode changes and a rate
// change): open, read through, seek back and read again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "formats/mp3_decoder.h"
#include "formats/mp3_source.h"
#include "platform/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quillet;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto src = formats::OpenMp3Source(std::make_unique<platform::ViewByteSource>(bytes));
  if (src->ready()) {
    // Bounded: at most a few seconds' worth, whatever the file claims.
    const audio::FrameCount n = std::min<audio::FrameCount>(src->length(), 200000);
    std::vector<audio::Sample> buf(static_cast<size_t>(4096 * src->channels()));
    for (audio::FrameCount done = 0; done < n; done += 4096) src->read(buf.data(), 4096);
    src->seek(n / 2);
    src->read(buf.data(), 4096);
    src->seek(-10);
    src->read(buf.data(), 4096);
  }
  // The frame decoder directly, at every offset that parses as a header.
  formats::Mp3Decoder dec;
  std::vector<float> pcm(formats::Mp3Decoder::kMaxSamplesPerFrame * 2);
  for (size_t pos = 0; pos + 4 <= size && pos < 65536;) {
    const formats::Mp3Step step = dec.DecodeFrame(data + pos, size - pos, pcm.data());
    pos += step.bytesConsumed ? step.bytesConsumed : 1;
  }
  return 0;
}
