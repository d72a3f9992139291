#pragma once
// ITU-T G.711 companding: one byte per 16-bit sample.

#include <cstdint>

namespace quillet::formats {

std::int16_t MuLawToLinear(std::uint8_t u);
std::uint8_t LinearToMuLaw(std::int16_t pcm);
std::int16_t ALawToLinear(std::uint8_t a);
std::uint8_t LinearToALaw(std::int16_t pcm);

}  // namespace quillet::formats
