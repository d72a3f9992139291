#include "formats/adpcm.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>

#include "platform/byte_source.h"

namespace quillet::formats {
namespace {

using platform::LoadLE16;
using platform::StoreLE16;

constexpr std::array<int, 89> kImaSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr std::array<int, 8> kImaIndexShift = {-1, -1, -1, -1, 2, 4, 6, 8};

int Clamp16(int v) { return std::clamp(v, -32768, 32767); }

struct ImaState {
  int pred;
  int index;
  // Applies one nibble and returns the new sample.
  int Step(int nib) {
    const int step = kImaSteps[static_cast<std::size_t>(index)];
    int diff = step >> 3;
    if (nib & 4) diff += step;
    if (nib & 2) diff += step >> 1;
    if (nib & 1) diff += step >> 2;
    pred = Clamp16((nib & 8) ? pred - diff : pred + diff);
    index = std::clamp(index + kImaIndexShift[static_cast<std::size_t>(nib & 7)], 0, 88);
    return pred;
  }
  int Choose(int sample) const {
    int diff = sample - pred;
    int nib = 0;
    if (diff < 0) {
      nib = 8;
      diff = -diff;
    }
    int step = kImaSteps[static_cast<std::size_t>(index)];
    if (diff >= step) nib |= 4, diff -= step;
    step >>= 1;
    if (diff >= step) nib |= 2, diff -= step;
    step >>= 1;
    if (diff >= step) nib |= 1;
    return nib;
  }
};

constexpr std::array<int, 16> kMsAdapt = {230, 230, 230, 230, 307, 409, 512, 614,
                                          768, 614, 512, 409, 307, 230, 230, 230};

struct MsState {
  int c1, c2, delta, s1, s2;
  int Predict() const {
    return static_cast<int>((std::int64_t{s1} * c1 + std::int64_t{s2} * c2) >> 8);
  }
  int Step(int nib) {
    const int signedNib = nib >= 8 ? nib - 16 : nib;
    const int sample = Clamp16(static_cast<int>(
        std::clamp<std::int64_t>(Predict() + std::int64_t{signedNib} * delta, INT32_MIN, INT32_MAX)));
    s2 = s1;
    s1 = sample;
    delta = std::max(16, static_cast<int>((std::int64_t{kMsAdapt[static_cast<std::size_t>(nib)]} * delta) >> 8));
    return sample;
  }
  int Choose(int sample) const {
    const int err = sample - Predict();
    const int n = err >= 0 ? (err + delta / 2) / delta : -((-err + delta / 2) / delta);
    return std::clamp(n, -8, 7) & 0x0F;
  }
};

}  // namespace

int ImaFramesPerBlock(int blockAlign, int channels) {
  if (channels < 1 || blockAlign < 4 * channels) return 0;
  return (blockAlign - 4 * channels) / (4 * channels) * 8 + 1;
}

int ImaDecodeBlock(const std::uint8_t* in, std::size_t bytes, int channels, std::int16_t* out) {
  const std::size_t header = 4 * static_cast<std::size_t>(channels);
  if (bytes < header) return 0;
  std::vector<ImaState> st(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c) {
    const std::uint8_t* h = in + 4 * c;
    st[static_cast<std::size_t>(c)] = {static_cast<std::int16_t>(LoadLE16(h)), std::min<int>(h[2], 88)};
    out[c] = static_cast<std::int16_t>(st[static_cast<std::size_t>(c)].pred);
  }
  const std::size_t groups = (bytes - header) / header;  // 8 frames per group
  for (std::size_t g = 0; g < groups; ++g) {
    for (int c = 0; c < channels; ++c) {
      const std::uint8_t* p = in + header + (g * channels + static_cast<std::size_t>(c)) * 4;
      for (int i = 0; i < 8; ++i) {
        const int nib = (p[i / 2] >> ((i & 1) * 4)) & 0x0F;
        out[(1 + g * 8 + static_cast<std::size_t>(i)) * channels + static_cast<std::size_t>(c)] =
            static_cast<std::int16_t>(st[static_cast<std::size_t>(c)].Step(nib));
      }
    }
  }
  return static_cast<int>(1 + groups * 8);
}

void ImaEncoder::EncodeBlock(const std::int16_t* in, int framesPerBlock, int blockAlign,
                             std::uint8_t* out) {
  const int channels = static_cast<int>(index_.size());
  std::fill(out, out + blockAlign, std::uint8_t{0});
  for (int c = 0; c < channels; ++c) {
    int index = index_[static_cast<std::size_t>(c)];
    if (index < 0) {
      // First block: start with a step that fits the signal instead of ramping up from 7.
      const int jump = framesPerBlock > 1 ? std::abs(in[channels + c] - in[c]) : 0;
      index = 0;
      while (index < 88 && kImaSteps[static_cast<std::size_t>(index)] < jump) ++index;
    }
    ImaState st{in[c], index};
    std::uint8_t* h = out + 4 * c;
    StoreLE16(h, static_cast<std::uint16_t>(in[c]));
    h[2] = static_cast<std::uint8_t>(st.index);
    for (int f = 1; f < framesPerBlock; ++f) {
      const int k = f - 1;  // nibble number within the channel
      const int nib = st.Choose(in[f * channels + c]);
      st.Step(nib);
      std::uint8_t* p = out + 4 * channels + ((k / 8) * channels + c) * 4 + (k % 8) / 2;
      *p = static_cast<std::uint8_t>(*p | nib << ((k & 1) * 4));
    }
    index_[static_cast<std::size_t>(c)] = st.index;
  }
}

const MsAdpcmCoefs& StandardMsAdpcmCoefs() {
  static const MsAdpcmCoefs kCoefs{{256, 512, 0, 192, 240, 460, 392},
                                   {0, -256, 0, 64, 0, -208, -232}};
  return kCoefs;
}

int MsAdpcmFramesPerBlock(int blockAlign, int channels) {
  if (channels < 1 || blockAlign < 7 * channels) return 0;
  return (blockAlign - 7 * channels) * 2 / channels + 2;
}

int MsAdpcmDecodeBlock(const std::uint8_t* in, std::size_t bytes, int channels,
                       const MsAdpcmCoefs& coefs, std::int16_t* out) {
  const auto ch = static_cast<std::size_t>(channels);
  if (bytes < 7 * ch) return 0;
  std::vector<MsState> st(ch);
  bool bad = false;
  for (std::size_t c = 0; c < ch; ++c) {
    const std::size_t k = in[c];
    if (k >= coefs.c1.size()) {
      bad = true;
      break;
    }
    st[c] = {coefs.c1[k], coefs.c2[k], static_cast<std::int16_t>(LoadLE16(in + ch + 2 * c)),
             static_cast<std::int16_t>(LoadLE16(in + 3 * ch + 2 * c)),
             static_cast<std::int16_t>(LoadLE16(in + 5 * ch + 2 * c))};
    if (st[c].delta < 16) st[c].delta = 16;  // a zero or negative delta never adapts back
  }
  const std::size_t nibbles = (bytes - 7 * ch) * 2 / ch * ch;
  const std::size_t frames = 2 + nibbles / ch;
  if (bad) {
    std::fill(out, out + frames * ch, std::int16_t{0});
    return static_cast<int>(frames);
  }
  for (std::size_t c = 0; c < ch; ++c) {
    out[c] = static_cast<std::int16_t>(st[c].s2);
    out[ch + c] = static_cast<std::int16_t>(st[c].s1);
  }
  const std::uint8_t* p = in + 7 * ch;
  for (std::size_t n = 0; n < nibbles; ++n) {
    const int nib = (n & 1) ? p[n / 2] & 0x0F : p[n / 2] >> 4;
    out[2 * ch + n] = static_cast<std::int16_t>(st[n % ch].Step(nib));
  }
  return static_cast<int>(frames);
}

void MsAdpcmEncodeBlock(const std::int16_t* in, int framesPerBlock, int channels, int blockAlign,
                        std::uint8_t* out) {
  const auto ch = static_cast<std::size_t>(channels);
  const auto frames = static_cast<std::size_t>(framesPerBlock);
  const MsAdpcmCoefs& coefs = StandardMsAdpcmCoefs();
  std::fill(out, out + blockAlign, std::uint8_t{0});
  std::vector<std::uint8_t> nibs(frames * ch);
  std::vector<std::uint8_t> trial(frames);
  for (std::size_t c = 0; c < ch; ++c) {
    auto x = [&](std::size_t f) { return int{in[f * ch + c]}; };
    // Start the step near the size of the first prediction errors.
    int firstErr = 0;
    for (std::size_t f = 2; f < std::min<std::size_t>(frames, 6); ++f) firstErr += std::abs(x(f) - x(f - 1));
    const int delta0 = std::clamp(firstErr / 16, 16, 0x7FFF);
    std::int64_t bestCost = std::numeric_limits<std::int64_t>::max();
    std::size_t best = 0;
    for (std::size_t k = 0; k < coefs.c1.size(); ++k) {
      MsState st{coefs.c1[k], coefs.c2[k], delta0, x(1), x(0)};
      std::int64_t cost = 0;
      for (std::size_t f = 2; f < frames && cost < bestCost; ++f) {
        const int nib = st.Choose(x(f));
        trial[f] = static_cast<std::uint8_t>(nib);
        const std::int64_t e = st.Step(nib) - x(f);
        cost += e * e;
      }
      if (cost < bestCost) {
        bestCost = cost;
        best = k;
        for (std::size_t f = 2; f < frames; ++f) nibs[f * ch + c] = trial[f];
      }
    }
    out[c] = static_cast<std::uint8_t>(best);
    StoreLE16(out + ch + 2 * c, static_cast<std::uint16_t>(delta0));
    StoreLE16(out + 3 * ch + 2 * c, static_cast<std::uint16_t>(x(1)));
    StoreLE16(out + 5 * ch + 2 * c, static_cast<std::uint16_t>(x(0)));
  }
  std::uint8_t* p = out + 7 * ch;
  for (std::size_t n = 0; n < (frames - 2) * ch; ++n) {
    const std::uint8_t nib = nibs[2 * ch + n];
    p[n / 2] = static_cast<std::uint8_t>(p[n / 2] | ((n & 1) ? nib : nib << 4));
  }
}

}  // namespace quillet::formats
