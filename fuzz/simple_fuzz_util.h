#pragma once
// The common body of the fuzz targets of the simple formats: read a source to its end
// with bounded work, seek around and read again, checking the source's promises.

#include <cstdlib>
#include <vector>

#include "audio/sound.h"

namespace quillet::fuzz {

// checkBound: samples stay within the source's peak bound (not promised by readers
// of 32-bit and float data, which may deliver one step above it).
inline void Exercise(audio::LSoundSource& src, bool checkBound = true) {
  if (!src.ready()) return;
  const auto ch = static_cast<std::size_t>(src.channels());
  std::vector<audio::Sample> buf(4096 * ch);
  audio::FrameCount total = 0;
  while (src.position() < src.length() && total < 200000) {
    src.read(buf.data(), 4096);
    total += 4096;
    // The bound is that of the positive side; 16-bit sources reach one step further down.
    if (!checkBound) continue;
    for (audio::Sample s : buf)
      if (s > static_cast<std::int64_t>(src.peakBound()) ||
          s < -static_cast<std::int64_t>(src.peakBound()) - 16)
        std::abort();
  }
  src.seek(src.length() / 2 + 1);
  src.read(buf.data(), 100);
  src.seek(-10);
  src.read(buf.data(), 20);
  src.seek(src.length() + 5);
  src.read(buf.data(), 3);
}

}  // namespace quillet::fuzz
