#pragma once
// Layer III Huffman decoding through lookup tables built once from the standard's codes.

#include <cstddef>
#include <cstdint>

#include "formats/detail/mp3_bits.h"

namespace quillet::formats::mp3 {

// Decodes one pair of a big-value table (0..31) without linbits or signs.
// Returns false for a table that carries no codes (4, 14) or a code the table lacks.
bool DecodePair(int table, BitReader& bits, int& x, int& y);
// Decodes one count1 quadruple (table 0 = A, 1 = B) as vwxy without signs.
int DecodeQuad(int table, BitReader& bits);

// Decodes the big-value lines [begin, end) (pairs) with table, linbits and signs into q.
// Returns the line reached: end, or the first pair that ran past endBit or held a code
// the table lacks (that pair is not stored). `last` becomes the end of the last non-zero pair.
int DecodeBigValues(int table, BitReader& bits, size_t endBit, int begin, int end, int* q, int& last);
// Decodes count1 quadruples from line begin while bits remain before endBit and lines before
// 576; a quadruple that overruns endBit is dropped. Returns the line reached.
int DecodeCount1(int table, BitReader& bits, size_t endBit, int begin, int* q, int& last);

}  // namespace quillet::formats::mp3
