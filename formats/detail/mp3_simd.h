#pragma once
// Eight-lane float vectors for the decoder's kernels (built as audio/kernel.h says).

#include "audio/kernel.h"

#define QUILLET_INLINE inline __attribute__((always_inline))

namespace quillet::formats::mp3 {

// Eight lanes of floats: one AVX register, or two SSE ones in the baseline build. Values
// travel only through pointers and locals (a by-value parameter would change the ABI).
typedef float V8 __attribute__((vector_size(32)));
typedef float V8Unaligned __attribute__((vector_size(32), aligned(4), may_alias));
#define QUILLET_LOAD8(p) (*reinterpret_cast<const ::quillet::formats::mp3::V8Unaligned*>(p))
#define QUILLET_STORE8(p, v) (*reinterpret_cast<::quillet::formats::mp3::V8Unaligned*>(p) = (v))

// r[i][j] becomes r[j][i].
QUILLET_INLINE void Transpose8(V8* r) {
  V8 t[8], u[8];
  for (int i = 0; i < 8; i += 2) {
    t[i] = __builtin_shufflevector(r[i], r[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
    t[i + 1] = __builtin_shufflevector(r[i], r[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
  }
  for (int i = 0; i < 8; i += 4)
    for (int h = 0; h < 2; ++h) {
      u[i + 2 * h] = __builtin_shufflevector(t[i + h], t[i + h + 2], 0, 1, 8, 9, 4, 5, 12, 13);
      u[i + 2 * h + 1] = __builtin_shufflevector(t[i + h], t[i + h + 2], 2, 3, 10, 11, 6, 7, 14, 15);
    }
  for (int i = 0; i < 4; ++i) {
    r[i] = __builtin_shufflevector(u[i], u[i + 4], 0, 1, 2, 3, 8, 9, 10, 11);
    r[i + 4] = __builtin_shufflevector(u[i], u[i + 4], 4, 5, 6, 7, 12, 13, 14, 15);
  }
}

}  // namespace quillet::formats::mp3
