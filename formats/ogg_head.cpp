#include "formats/ogg_head.h"

#include <cstring>
#include <numeric>

#include "platform/byte_source.h"

namespace quillet::formats {

std::optional<VorbisHead> ParseVorbisHead(const std::uint8_t* bytes, std::size_t n) {
  // Page header: "OggS", version, type, granule (8), serial, sequence, CRC, segment
  // count, then the segment table; the identification packet is 30 bytes.
  if (n < 27 || std::memcmp(bytes, "OggS", 4) != 0 || bytes[4] != 0) return std::nullopt;
  const std::size_t packet = 27 + std::size_t{bytes[26]};
  if (n < packet + 16 || std::memcmp(bytes + packet, "\x01vorbis", 7) != 0) return std::nullopt;
  const std::uint8_t* p = bytes + packet + 7;
  if (platform::LoadLE32(p) != 0) return std::nullopt;  // Vorbis I only
  VorbisHead head;
  head.channels = p[4];
  head.rate = platform::LoadLE32(p + 5);
  if (head.channels < 1 || head.rate < 1) return std::nullopt;
  return head;
}

std::vector<int> WaveFromVorbisOrder(int channels) {
  switch (channels) {
    case 3: return {0, 2, 1};
    case 5: return {0, 2, 1, 3, 4};
    case 6: return {0, 2, 1, 5, 3, 4};
    case 7: return {0, 2, 1, 6, 5, 3, 4};
    case 8: return {0, 2, 1, 7, 5, 6, 3, 4};
    default: break;
  }
  std::vector<int> same(static_cast<std::size_t>(std::max(channels, 0)));
  std::iota(same.begin(), same.end(), 0);
  return same;
}

std::vector<int> VorbisFromWaveOrder(int channels) {
  const std::vector<int> forward = WaveFromVorbisOrder(channels);
  std::vector<int> back(forward.size());
  for (std::size_t w = 0; w < forward.size(); ++w) back[static_cast<std::size_t>(forward[w])] = static_cast<int>(w);
  return back;
}

}  // namespace quillet::formats
