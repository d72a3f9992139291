#include "formats/detail/mp3_synth.h"

#include <cmath>
#include <cstring>

#include "formats/detail/mp3_tables.h"

namespace quillet::formats::mp3 {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct ImdctTables {
  float longCos[18][18];  // rows: output samples 9..26 of the 36-point transform
  float window[4][36];    // by block type; 2 holds the 12-point short window in [0..11]
  float shortCos[12][6];

  ImdctTables() {
    for (int i = 0; i < 18; ++i)
      for (int k = 0; k < 18; ++k)
        longCos[i][k] = static_cast<float>(std::cos(kPi / 72 * (2 * (i + 9) + 19) * (2 * k + 1)));
    for (int i = 0; i < 12; ++i)
      for (int k = 0; k < 6; ++k)
        shortCos[i][k] = static_cast<float>(std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1)));
    for (int i = 0; i < 36; ++i) {
      const double normal = std::sin(kPi / 36 * (i + 0.5));
      window[0][i] = static_cast<float>(normal);
      // Start block: long rise, flat top, short fall.
      window[1][i] = static_cast<float>(i < 18   ? normal
                                        : i < 24 ? 1.0
                                        : i < 30 ? std::sin(kPi / 12 * (i - 18 + 0.5))
                                                 : 0.0);
      // Stop block: the mirror image.
      window[3][i] = static_cast<float>(i < 6    ? 0.0
                                        : i < 12 ? std::sin(kPi / 12 * (i - 6 + 0.5))
                                        : i < 18 ? 1.0
                                                 : normal);
      window[2][i] = i < 12 ? static_cast<float>(std::sin(kPi / 12 * (i + 0.5))) : 0.0f;
    }
  }
};

const ImdctTables& Imdct() {
  static const ImdctTables tables;
  return tables;
}

// DCT-II by even/odd splitting: X[j] = sum x[k] cos(pi j (2k + 1) / 2N).
template <int N>
struct DctScale {
  float v[N / 2];
  DctScale() {
    for (int k = 0; k < N / 2; ++k) v[k] = static_cast<float>(0.5 / std::cos(kPi * (2 * k + 1) / (2 * N)));
  }
};

template <int N>
const DctScale<N>& Scale() {
  static const DctScale<N> s;
  return s;
}

template <int N>
struct Dct {
  static void Run(const float* in, float* out, const float* const* scales) {
    float a[N / 2], b[N / 2], ea[N / 2], ob[N / 2];
    const float* s = scales[0];
    for (int k = 0; k < N / 2; ++k) {
      a[k] = in[k] + in[N - 1 - k];
      b[k] = (in[k] - in[N - 1 - k]) * s[k];
    }
    Dct<N / 2>::Run(a, ea, scales + 1);
    Dct<N / 2>::Run(b, ob, scales + 1);
    for (int j = 0; j < N / 2 - 1; ++j) {
      out[2 * j] = ea[j];
      out[2 * j + 1] = ob[j] + ob[j + 1];
    }
    out[N - 2] = ea[N / 2 - 1];
    out[N - 1] = ob[N / 2 - 1];
  }
};

template <>
struct Dct<1> {
  static void Run(const float* in, float* out, const float* const*) { out[0] = in[0]; }
};

struct SynthTables {
  float window[512];
  const float* dctScales[5];
  SynthTables() {
    for (int i = 0; i <= 256; ++i) window[i] = static_cast<float>(kSynthesisWindowHalfQ16[i] / 65536.0);
    for (int i = 257; i < 512; ++i) window[i] = (i % 64 == 0) ? window[512 - i] : -window[512 - i];
    dctScales[0] = Scale<32>().v;
    dctScales[1] = Scale<16>().v;
    dctScales[2] = Scale<8>().v;
    dctScales[3] = Scale<4>().v;
    dctScales[4] = Scale<2>().v;
  }
};

const SynthTables& Synth() {
  static const SynthTables tables;
  return tables;
}

}  // namespace

void ImdctLong(const float* in, float* overlap, float* out, int blockType) {
  const ImdctTables& t = Imdct();
  float mid[18];  // samples 9..26; the others follow by symmetry
  for (int i = 0; i < 18; ++i) {
    float sum = 0;
    for (int k = 0; k < 18; ++k) sum += in[k] * t.longCos[i][k];
    mid[i] = sum;
  }
  float x[36];
  for (int i = 0; i < 18; ++i) x[9 + i] = mid[i];
  for (int i = 0; i < 9; ++i) {
    x[i] = -x[17 - i];
    x[27 + i] = x[26 - i];
  }
  const float* w = t.window[blockType];
  for (int i = 0; i < 18; ++i) {
    out[i] = x[i] * w[i] + overlap[i];
    overlap[i] = x[18 + i] * w[18 + i];
  }
}

void ImdctShort(const float* in, float* overlap, float* out) {
  const ImdctTables& t = Imdct();
  float z[36] = {};
  for (int w = 0; w < 3; ++w) {
    const float* x = in + w * 6;
    for (int i = 0; i < 12; ++i) {
      float sum = 0;
      for (int k = 0; k < 6; ++k) sum += x[k] * t.shortCos[i][k];
      z[6 + 6 * w + i] += sum * t.window[2][i];
    }
  }
  for (int i = 0; i < 18; ++i) {
    out[i] = z[i] + overlap[i];
    overlap[i] = z[18 + i];
  }
}

void SynthesisFilter::Reset() {
  std::memset(v_, 0, sizeof(v_));
  pos_ = 1024;
}

void SynthesisFilter::Run(const float* subbands, int stride, float* out, int outStride) {
  const SynthTables& t = Synth();
  float s[32], x[32];
  for (int k = 0; k < 32; ++k) s[k] = subbands[k * stride];
  Dct<32>::Run(s, x, t.dctScales);

  pos_ -= 64;
  if (pos_ < 0) {
    std::memmove(v_ + 1024 + 64, v_, 960 * sizeof(float));
    pos_ = 1024;
  }
  // V[i] = sum S[k] cos((16 + i)(2k + 1) pi / 64), unfolded from the 32-point DCT.
  float* v = v_ + pos_;
  for (int i = 0; i < 16; ++i) v[i] = x[16 + i];
  v[16] = 0;
  for (int i = 17; i <= 48; ++i) v[i] = -x[48 - i];
  for (int i = 49; i < 64; ++i) v[i] = -x[i - 48];

  float acc[32] = {};
  const float* d = t.window;
  for (int i = 0; i < 8; ++i) {
    const float* even = v + 128 * i;
    const float* odd = v + 128 * i + 96;
    const float* d0 = d + 64 * i;
    const float* d1 = d + 64 * i + 32;
    for (int j = 0; j < 32; ++j) acc[j] += even[j] * d0[j] + odd[j] * d1[j];
  }
  for (int j = 0; j < 32; ++j) out[j * outStride] = acc[j];
}

}  // namespace quillet::formats::mp3
