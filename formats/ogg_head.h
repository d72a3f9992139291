#pragma once
// The identification header at the start of an Ogg Vorbis file: enough to know its
// rate and channels before a decoder program runs, and to put a multichannel
// stream's channels back into WAVE order afterwards.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillet::formats {

struct VorbisHead {
  std::uint32_t rate = 0;
  int channels = 0;
};

// The first page's Vorbis identification packet; nullopt when the bytes do not start
// with one or its fields are out of range (no rate, no channels).
std::optional<VorbisHead> ParseVorbisHead(const std::uint8_t* bytes, std::size_t n);

// Vorbis orders 3 to 8 channels differently from WAVE (Vorbis I, 4.3.9): for a
// stream of `channels`, the Vorbis channel that each WAVE channel takes, in WAVE
// order. Identity for 1, 2, 4 and above 8.
std::vector<int> WaveFromVorbisOrder(int channels);
// The reverse, for feeding an encoder that expects Vorbis order.
std::vector<int> VorbisFromWaveOrder(int channels);

}  // namespace quillet::formats
