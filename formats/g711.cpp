#include "formats/g711.h"

namespace quillet::formats {
namespace {

// The segment of a biased magnitude: the position of its top bit above bit 7.
int Segment(int v, int firstEnd) {
  int seg = 0;
  for (int end = firstEnd; seg < 8 && v > end; end = end * 2 + 1) ++seg;
  return seg;
}

}  // namespace

std::int16_t MuLawToLinear(std::uint8_t u) {
  u = static_cast<std::uint8_t>(~u);
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return static_cast<std::int16_t>((u & 0x80) ? 0x84 - t : t - 0x84);
}

std::uint8_t LinearToMuLaw(std::int16_t pcm) {
  // 14-bit magnitude with the G.711 bias of 33.
  int v = pcm >> 2;
  int mask = 0xFF;
  if (v < 0) {
    v = -v;
    mask = 0x7F;
  }
  if (v > 8159) v = 8159;
  v += 0x21;
  const int seg = Segment(v, 0x3F);
  if (seg >= 8) return static_cast<std::uint8_t>(0x7F ^ mask);
  const int uval = (seg << 4) | ((v >> (seg + 1)) & 0x0F);
  return static_cast<std::uint8_t>(uval ^ mask);
}

std::int16_t ALawToLinear(std::uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  const int seg = (a & 0x70) >> 4;
  if (seg == 0)
    t += 8;
  else
    t = (t + 0x108) << (seg - 1);
  return static_cast<std::int16_t>((a & 0x80) ? t : -t);
}

std::uint8_t LinearToALaw(std::int16_t pcm) {
  // 13-bit magnitude; negative values take one's complement as G.711 does.
  int v = pcm >> 3;
  int mask = 0xD5;
  if (v < 0) {
    v = -v - 1;
    mask = 0x55;
  }
  const int seg = Segment(v, 0x1F);
  if (seg >= 8) return static_cast<std::uint8_t>(0x7F ^ mask);
  int aval = seg << 4;
  aval |= seg < 2 ? (v >> 1) & 0x0F : (v >> seg) & 0x0F;
  return static_cast<std::uint8_t>(aval ^ mask);
}

}  // namespace quillet::formats
