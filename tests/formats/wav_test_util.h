#pragma once
// Building WAVE files byte by byte for reader tests, and measuring decoded audio.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "formats/wave_format.h"
#include "platform/byte_source.h"

namespace quillet::formats::testutil {

inline std::string U16(std::uint16_t v) {
  std::string s(2, '\0');
  platform::StoreLE16(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}
inline std::string U32(std::uint32_t v) {
  std::string s(4, '\0');
  platform::StoreLE32(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}
// One chunk: id, stated size (the body's unless given), body and pad byte when odd.
inline std::string Chunk(const std::string& id, const std::string& body, std::int64_t statedSize = -1) {
  std::string s = id + U32(statedSize >= 0 ? static_cast<std::uint32_t>(statedSize) : static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() & 1) s += '\0';
  return s;
}
inline std::string FmtBody(const WaveFormat& f, bool sixteen = false) {
  std::vector<std::uint8_t> r = f.ToBytes();
  return std::string(r.begin(), r.begin() + (sixteen ? 16 : static_cast<std::ptrdiff_t>(r.size())));
}
inline std::string Riff(const std::string& chunks, std::int64_t statedSize = -1) {
  return "RIFF" + U32(statedSize >= 0 ? static_cast<std::uint32_t>(statedSize) : static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}
inline std::string Pcm16Data(const std::vector<std::int16_t>& v) {
  std::string s;
  for (std::int16_t x : v) s += U16(static_cast<std::uint16_t>(x));
  return s;
}

// Reads a whole source from its start.
inline std::vector<audio::Sample> ReadAll(audio::LSoundSource& src) {
  src.seek(0);
  std::vector<audio::Sample> out(static_cast<std::size_t>(src.length()) * static_cast<std::size_t>(src.channels()));
  src.read(out.data(), src.length());
  return out;
}

// Signal to noise of b against a, in dB, over the shorter length.
inline double SnrDb(const std::vector<double>& a, const std::vector<double>& b) {
  double sig = 0, noise = 0;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    sig += a[i] * a[i];
    noise += (a[i] - b[i]) * (a[i] - b[i]);
  }
  return noise == 0 ? 200.0 : 10.0 * std::log10(sig / noise);
}

inline std::vector<std::int16_t> Sine16(int frames, int channels, double amp = 0.7) {
  std::vector<std::int16_t> v;
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      v.push_back(static_cast<std::int16_t>(std::lrint(amp * 32767 * std::sin(0.031 * (c + 1) * i))));
  return v;
}

}  // namespace quillet::formats::testutil
