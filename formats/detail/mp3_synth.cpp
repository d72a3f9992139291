#include "formats/detail/mp3_synth.h"

#include <cmath>
#include <cstring>

#include "formats/detail/mp3_simd.h"
#include "formats/detail/mp3_tables.h"

namespace quillet::formats::mp3 {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kLanes = 8;  // subbands per IMDCT pass
constexpr int kSb = ChannelSynth::kSubbands;
constexpr int kHist = ChannelSynth::kHistory;
constexpr int kDctStride = ChannelSynth::kHistory + ChannelSynth::kSlotStride;
constexpr int kSlotStride = ChannelSynth::kSlotStride;

struct ImdctTables {
  // The 36-point IMDCT of 18 lines is an 18-point DCT-IV, folded. The DCT-IV comes from a
  // DCT-II of the lines scaled by 2 cos(pi (2k + 1) / 72): its outputs are y[n] + y[n - 1].
  float pre[18];
  // The DCT-II splits into two 9-point DCT-IIs; the odd half is scaled first.
  float oddScale[9];
  float dct9[9][4];  // cos(pi j (2k + 1) / 18), k = 0..3 (the rest follow by symmetry)
  // Windows by block type with the fold's signs: the output takes outWindow[i] times y of
  // outIndex[i], the overlap overlapWindow[i] times y of overlapIndex[i].
  float outWindow[4][18], overlapWindow[4][18];
  int outIndex[18], overlapIndex[18];
  // Short blocks: a 6-point DCT-IV per window, folded to 12 points.
  float shortCos[6][6];
  float shortWindow[12];

  ImdctTables() {
    for (int k = 0; k < 18; ++k) pre[k] = static_cast<float>(2 * std::cos(kPi * (2 * k + 1) / 72));
    for (int k = 0; k < 9; ++k) oddScale[k] = static_cast<float>(0.5 / std::cos(kPi * (2 * k + 1) / 36));
    for (int j = 0; j < 9; ++j)
      for (int k = 0; k < 4; ++k) dct9[j][k] = static_cast<float>(std::cos(kPi * j * (2 * k + 1) / 18));
    float window[4][36];
    for (int i = 0; i < 36; ++i) {
      const double normal = std::sin(kPi / 36 * (i + 0.5));
      window[0][i] = static_cast<float>(normal);
      // Start block: long rise, flat top, short fall.
      window[1][i] = static_cast<float>(i < 18   ? normal
                                        : i < 24 ? 1.0
                                        : i < 30 ? std::sin(kPi / 12 * (i - 18 + 0.5))
                                                 : 0.0);
      window[2][i] = 0;  // short blocks use shortWindow
      // Stop block: the mirror image.
      window[3][i] = static_cast<float>(i < 6    ? 0.0
                                        : i < 12 ? std::sin(kPi / 12 * (i - 6 + 0.5))
                                        : i < 18 ? 1.0
                                                 : normal);
    }
    // x[i] = y[i + 9] for i < 9, -y[26 - i] for 9 <= i < 27, -y[i - 27] above.
    for (int i = 0; i < 18; ++i) {
      outIndex[i] = i < 9 ? 9 + i : 26 - i;
      overlapIndex[i] = i < 9 ? 8 - i : i - 9;
      for (int t = 0; t < 4; ++t) {
        outWindow[t][i] = i < 9 ? window[t][i] : -window[t][i];
        overlapWindow[t][i] = -window[t][18 + i];
      }
    }
    for (int n = 0; n < 6; ++n)
      for (int k = 0; k < 6; ++k) shortCos[n][k] = static_cast<float>(std::cos(kPi / 24 * (2 * n + 1) * (2 * k + 1)));
    for (int i = 0; i < 12; ++i) shortWindow[i] = static_cast<float>(std::sin(kPi / 12 * (i + 0.5)));
  }
};

const ImdctTables& Imdct() {
  static const ImdctTables tables;
  return tables;
}

// 9-point DCT-II of each lane: out[j] = sum in[k] cos(pi j (2k + 1) / 18).
QUILLET_INLINE void Dct9(const ImdctTables& t, const V8* in, V8* out) {
  V8 s[4], d[4];
  for (int k = 0; k < 4; ++k) {
    s[k] = in[k] + in[8 - k];
    d[k] = in[k] - in[8 - k];
  }
  out[0] = s[0] + s[1] + s[2] + s[3] + in[4];
  for (int j = 1; j < 9; ++j) {
    const float* c = t.dct9[j];
    if (j & 1) {
      out[j] = d[0] * c[0] + d[1] * c[1] + d[2] * c[2] + d[3] * c[3];
    } else if (j & 2) {  // the middle line's cos(pi j / 2) is -1 or 1
      out[j] = s[0] * c[0] + s[1] * c[1] + s[2] * c[2] + s[3] * c[3] - in[4];
    } else {
      out[j] = s[0] * c[0] + s[1] * c[1] + s[2] * c[2] + s[3] * c[3] + in[4];
    }
  }
}

// Long blocks of eight subbands: in[k] lines, overlap and out by time.
QUILLET_INLINE void LongLanes(const ImdctTables& t, const V8* in, V8* ov, V8* out, int blockType) {
  V8 a[9], b[9], e[9], o[9], y[18];
  for (int k = 0; k < 9; ++k) {
    const V8 lo = in[k] * t.pre[k], hi = in[17 - k] * t.pre[17 - k];
    a[k] = lo + hi;
    b[k] = (lo - hi) * t.oddScale[k];
  }
  Dct9(t, a, e);
  Dct9(t, b, o);
  // DCT-II outputs z[2j] = e[j], z[2j + 1] = o[j] + o[j + 1], z[17] = o[8]; then y[n] = z[n] - y[n - 1].
  y[0] = e[0] * 0.5f;
  for (int n = 1; n < 18; ++n) {
    if ((n & 1) == 0) {
      y[n] = e[n / 2] - y[n - 1];
    } else if (n == 17) {
      y[n] = o[8] - y[n - 1];
    } else {
      y[n] = (o[n / 2] + o[n / 2 + 1]) - y[n - 1];
    }
  }
  const float* wo = t.outWindow[blockType];
  const float* wv = t.overlapWindow[blockType];
  for (int i = 0; i < 18; ++i) {
    out[i] = y[t.outIndex[i]] * wo[i] + ov[i];
    ov[i] = y[t.overlapIndex[i]] * wv[i];
  }
}

// Short blocks of eight subbands: in[6 w + k] is line k of window w.
QUILLET_INLINE void ShortLanes(const ImdctTables& t, const V8* in, V8* ov, V8* out) {
  V8 z[36] = {};
  for (int w = 0; w < 3; ++w) {
    V8 y[6];
    for (int n = 0; n < 6; ++n) {
      const float* c = t.shortCos[n];
      const V8* x = in + 6 * w;
      y[n] = x[0] * c[0] + x[1] * c[1] + x[2] * c[2] + x[3] * c[3] + x[4] * c[4] + x[5] * c[5];
    }
    // The 12 outputs: y[i + 3] for i < 3, -y[8 - i] for i < 9, -y[i - 9] above.
    for (int i = 0; i < 12; ++i) {
      const float sign = i < 3 ? 1.0f : -1.0f;
      const int n = i < 3 ? i + 3 : i < 9 ? 8 - i : i - 9;
      z[6 + 6 * w + i] += y[n] * (sign * t.shortWindow[i]);
    }
  }
  for (int i = 0; i < 18; ++i) {
    out[i] = z[i] + ov[i];
    ov[i] = z[18 + i];
  }
}

QUILLET_KERNEL
void ImdctGranule(const float* lines, int subbands, int blockType, bool mixed, float (*overlap)[kSb],
                  float (*slots)[ChannelSynth::kSlotStride], int firstSlot) {
  const ImdctTables& t = Imdct();
  const int groups = (subbands + kLanes - 1) / kLanes;
  for (int g = 0; g < kSb / kLanes; ++g) {
    const int sb0 = g * kLanes;
    V8 ov[18], out[18];
    for (int i = 0; i < 18; ++i) ov[i] = QUILLET_LOAD8(overlap[i] + sb0);
    if (g >= groups) {
      // Nothing coded here: the overlap plays out.
      for (int i = 0; i < 18; ++i) out[i] = ov[i], ov[i] = V8{};
    } else {
      // Lines 0..15 of the eight subbands by two transposes, 16 and 17 one by one.
      V8 in[18];
      const float* first = lines + 18 * sb0;
      for (int k0 = 0; k0 < 16; k0 += 8) {
        for (int l = 0; l < kLanes; ++l) in[k0 + l] = QUILLET_LOAD8(first + 18 * l + k0);
        Transpose8(in + k0);
      }
      for (int k = 16; k < 18; ++k)
        for (int l = 0; l < kLanes; ++l) in[k][l] = first[18 * l + k];
      // A mixed block's subbands 0 and 1 are long blocks of type 0.
      const bool mixedLow = mixed && g == 0 && blockType != 0;
      V8 ovLow[18], outLow[18];
      if (mixedLow) {
        for (int i = 0; i < 18; ++i) ovLow[i] = ov[i];
        LongLanes(t, in, ovLow, outLow, 0);
      }
      if (blockType == 2) {
        ShortLanes(t, in, ov, out);
      } else {
        LongLanes(t, in, ov, out, blockType);
      }
      if (mixedLow)
        for (int i = 0; i < 18; ++i)
          for (int l = 0; l < 2; ++l) out[i][l] = outLow[i][l], ov[i][l] = ovLow[i][l];
    }
    for (int i = 0; i < 18; ++i) QUILLET_STORE8(overlap[i] + sb0, ov[i]);
    // Into the subbands' rows, the odd subbands with every other time sample negated (the
    // frequency inversion): samples 0..15 by two transposes, 16 and 17 one by one.
    const V8 inversion = {1, -1, 1, -1, 1, -1, 1, -1};
    for (int i0 = 0; i0 < 16; i0 += 8) {
      Transpose8(out + i0);
      for (int l = 0; l < kLanes; ++l)
        QUILLET_STORE8(slots[sb0 + l] + firstSlot + i0, (l & 1) ? out[i0 + l] * inversion : out[i0 + l]);
    }
    for (int l = 0; l < kLanes; ++l) {
      slots[sb0 + l][firstSlot + 16] = out[16][l];
      slots[sb0 + l][firstSlot + 17] = (l & 1) ? -out[17][l] : out[17][l];
    }
  }
}

// The filterbank: per slot a 32-point DCT-II of the subband samples (by even/odd splitting,
// X[j] = sum x[k] cos(pi j (2k + 1) / 64)) and a 512-tap window over the last 16 slots' DCTs.
template <int N>
struct DctScale {
  float v[N / 2];
  DctScale() {
    for (int k = 0; k < N / 2; ++k) v[k] = static_cast<float>(0.5 / std::cos(kPi * (2 * k + 1) / (2 * N)));
  }
};

template <int N>
const float* Scale() {
  static const DctScale<N> s;
  return s.v;
}

// N-point DCT-II of L lanes: rows in[k * is], out[j * os].
template <int N, int L>
struct LaneDct {
  QUILLET_INLINE static void Run(const float* __restrict in, int is, float* __restrict out, int os,
                                 const float* const* scales) {
    float a[N / 2][L], b[N / 2][L], ob[N / 2][L];
    const float* s = scales[0];
    for (int k = 0; k < N / 2; ++k)
      for (int l = 0; l < L; ++l) {
        const float x = in[k * is + l], y = in[(N - 1 - k) * is + l];
        a[k][l] = x + y;
        b[k][l] = (x - y) * s[k];
      }
    LaneDct<N / 2, L>::Run(a[0], L, out, 2 * os, scales + 1);
    LaneDct<N / 2, L>::Run(b[0], L, ob[0], L, scales + 1);
    for (int j = 0; j < N / 2 - 1; ++j)
      for (int l = 0; l < L; ++l) out[(2 * j + 1) * os + l] = ob[j][l] + ob[j + 1][l];
    for (int l = 0; l < L; ++l) out[(N - 1) * os + l] = ob[N / 2 - 1][l];
  }
};

template <int L>
struct LaneDct<1, L> {
  QUILLET_INLINE static void Run(const float* __restrict in, int, float* __restrict out, int,
                                 const float* const*) {
    for (int l = 0; l < L; ++l) out[l] = in[l];
  }
};

struct WindowTables {
  // Output j of a slot is sum over i < 8 of first[j][i] times DCT row firstRow(j) of the
  // slot 2i back, and second[j][i] times row secondRow(j) of the slot 2i + 1 back: the
  // standard's 64-value vector V holds the 32 DCT outputs once each, with signs.
  float first[kSb][8], second[kSb][8];
  const float* dctScales[5];

  WindowTables() {
    float d[512];
    for (int i = 0; i <= 256; ++i) d[i] = static_cast<float>(kSynthesisWindowHalfQ16[i] / 65536.0);
    for (int i = 257; i < 512; ++i) d[i] = (i % 64 == 0) ? d[512 - i] : -d[512 - i];
    // V[m] = x[16 + m] (m < 16), 0 (m = 16), -x[48 - m] (m <= 48), -x[m - 48] above.
    for (int j = 0; j < kSb; ++j)
      for (int i = 0; i < 8; ++i) {
        const float sign = j < 16 ? 1.0f : j == 16 ? 0.0f : -1.0f;
        first[j][i] = sign * d[64 * i + j];
        second[j][i] = -d[64 * i + 32 + j];
      }
    dctScales[0] = Scale<32>();
    dctScales[1] = Scale<16>();
    dctScales[2] = Scale<8>();
    dctScales[3] = Scale<4>();
    dctScales[4] = Scale<2>();
  }
};

const WindowTables& Window() {
  static const WindowTables tables;
  return tables;
}

template <int NS>
QUILLET_INLINE void FilterbankSlots(const float (*slots)[ChannelSynth::kSlotStride], float (*dct)[kDctStride],
                                    float* out) {
  const WindowTables& w = Window();
  // Whole groups of eight slots; lanes past NS are computed and not used.
  constexpr int kGroupSlots = (NS + kLanes - 1) / kLanes * kLanes;
  static_assert(kGroupSlots <= kSlotStride);
  LaneDct<kSb, kGroupSlots>::Run(slots[0], kSlotStride, dct[0] + kHist, kDctStride, w.dctScales);
  alignas(32) float res[kSb][kGroupSlots];
  // Outputs j and 32 - j read the same two rows (16 + j and 16 - j).
  for (int j = 0; j <= 16; ++j) {
    const float* c1 = w.first[j];
    const float* c2 = w.second[j];
    const float* m1 = w.first[(32 - j) & 31];
    const float* m2 = w.second[(32 - j) & 31];
    const float* rowA = dct[j == 16 ? 0 : 16 + j] + kHist;  // j = 16 has no first term
    const float* rowB = dct[16 - j] + kHist - 1;
    for (int t0 = 0; t0 < NS; t0 += kLanes) {
      V8 s = {}, m = {};
      for (int i = 0; i < 8; ++i) {
        const V8 a = QUILLET_LOAD8(rowA + t0 - 2 * i), b = QUILLET_LOAD8(rowB + t0 - 2 * i);
        s += a * c1[i] + b * c2[i];
        m += a * m1[i] + b * m2[i];
      }
      QUILLET_STORE8(res[j] + t0, s);
      if (j != 0 && j != 16) QUILLET_STORE8(res[32 - j] + t0, m);  // 0 and 16 have no partner
    }
  }
  // Slot by slot into the output: eight outputs of eight slots per transpose.
  for (int t0 = 0; t0 < NS; t0 += kLanes)
    for (int j0 = 0; j0 < kSb; j0 += kLanes) {
      V8 r[8];
      for (int j = 0; j < 8; ++j) r[j] = QUILLET_LOAD8(res[j0 + j] + t0);
      Transpose8(r);
      for (int l = 0; l < kLanes && t0 + l < NS; ++l) QUILLET_STORE8(out + kSb * (t0 + l) + j0, r[l]);
    }
  for (int k = 0; k < kSb; ++k)
    for (int i = 0; i < kHist; ++i) dct[k][i] = dct[k][NS + i];
}

QUILLET_KERNEL
void Filterbank(const float (*slots)[ChannelSynth::kSlotStride], float (*dct)[kDctStride], int granules,
                float* out) {
  if (granules == 2) {
    FilterbankSlots<2 * ChannelSynth::kSlotsPerGranule>(slots, dct, out);
  } else {
    FilterbankSlots<ChannelSynth::kSlotsPerGranule>(slots, dct, out);
  }
}

}  // namespace

void ChannelSynth::Reset() {
  std::memset(overlap_, 0, sizeof overlap_);
  std::memset(slots_, 0, sizeof slots_);
  std::memset(dct_, 0, sizeof dct_);
}

void ChannelSynth::Imdct(const float* lines, int subbands, int blockType, bool mixed, int granule) {
  ImdctGranule(lines, subbands, blockType, mixed, overlap_, slots_, granule * kSlotsPerGranule);
}

void ChannelSynth::Synthesize(int granules, float* out) { Filterbank(slots_, dct_, granules, out); }

}  // namespace quillet::formats::mp3
