#pragma once
// Fixed tables of MPEG audio layer III, shared by the decoder's parts.

#include <cstdint>

namespace quillet::formats::mp3 {

struct HuffmanTableInfo {
  const uint32_t* codes;  // size*size entries, x-major: (length << 16) | code; null for unused tables
  int size;               // values per dimension (16 for the escape tables)
  int linbits;            // extra bits for the value 15
};

// Big-value tables 0..31 (0, 4 and 14 carry no codes).
extern const HuffmanTableInfo kBigValueTables[32];
// Count1 table A, 16 entries indexed by vwxy; table B is the plain 4-bit inverted code.
extern const uint32_t* const kCount1TableA;

// D[0..256] of the synthesis window in units of 2^-16.
extern const int32_t* const kSynthesisWindowHalfQ16;

struct ScaleFactorBands {
  int16_t longEdges[23];
  int16_t shortEdges[14];
};
// Indexed by version * 3 + sample-rate index (version 0 = MPEG-1, 1 = MPEG-2, 2 = MPEG 2.5).
extern const ScaleFactorBands kScaleFactorBands[9];

extern const uint8_t kPretab[22];
extern const uint8_t kLsfScaleFactorCounts[6][3][4];
extern const uint8_t kScaleFactorLengths[16][2];
extern const float kAliasCoefficients[8];

}  // namespace quillet::formats::mp3
