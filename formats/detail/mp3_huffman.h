#pragma once
// Layer III Huffman decoding through lookup tables built once from the standard's codes.

#include <cstdint>

#include "formats/detail/mp3_bits.h"

namespace quillet::formats::mp3 {

// Decodes one pair of a big-value table (0..31) without linbits or signs.
// Returns false for a table that carries no codes (4, 14) or a code the table lacks.
bool DecodePair(int table, BitReader& bits, int& x, int& y);
// Decodes one count1 quadruple (table 0 = A, 1 = B) as vwxy without signs.
int DecodeQuad(int table, BitReader& bits);

}  // namespace quillet::formats::mp3
