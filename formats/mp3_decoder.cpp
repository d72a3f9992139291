#include "formats/mp3_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/detail/mp3_bits.h"
#include "formats/detail/mp3_huffman.h"
#include "formats/detail/mp3_simd.h"
#include "formats/detail/mp3_synth.h"
#include "formats/detail/mp3_tables.h"

namespace quillet::formats {

using mp3::BitReader;

namespace {

constexpr int kBitratesKbps[2][16] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};
constexpr int kSampleRates[3] = {44100, 48000, 32000};

// The back-pointer reaches at most 511 bytes (MPEG-1) or 255 bytes (MPEG-2) back;
// the largest frame carries 1441 bytes.
constexpr int kMaxBackBytes = 511;
constexpr int kReservoirCapacity = kMaxBackBytes + 2048;
constexpr int kMaxQuantized = 15 + 8191;  // escape value plus 13 linbits
constexpr int kGainOffset = 400;          // gain exponents in quarter powers of two, from -400
constexpr int kGainEntries = 480;

struct GranuleInfo {
  int part23Length = 0;
  int bigValues = 0;
  int globalGain = 0;
  int scalefacCompress = 0;
  bool windowSwitching = false;
  int blockType = 0;
  bool mixed = false;
  int tableSelect[3] = {};
  int subblockGain[3] = {};
  int region0Count = 0;
  int region1Count = 0;
  int preflag = 0;
  int scalefacScale = 0;
  int count1Table = 0;
  bool valid = true;
};

struct SideInfo {
  int mainDataBegin = 0;
  int scfsi[2][4] = {};
  GranuleInfo gr[2][2];
};

struct ScaleFactors {
  uint8_t l[22] = {};
  uint8_t s[13][3] = {};
  // MPEG-2 only: the intensity position that marks a band as not intensity coded.
  uint8_t illegalL[22] = {};
  uint8_t illegalS[13] = {};
};

struct Numeric {
  float pow43[kMaxQuantized + 1];
  float gain[kGainEntries];  // 2^((i - kGainOffset) / 4)
  float aliasCs[8], aliasCa[8];
  float isRatioL[7], isRatioR[7];  // MPEG-1 intensity: tan(p pi / 12) split
  Numeric() {
    for (int i = 0; i <= kMaxQuantized; ++i) pow43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
    for (int i = 0; i < kGainEntries; ++i) gain[i] = static_cast<float>(std::exp2((i - kGainOffset) / 4.0));
    for (int i = 0; i < 8; ++i) {
      const double c = mp3::kAliasCoefficients[i];
      const double d = std::sqrt(1.0 + c * c);
      aliasCs[i] = static_cast<float>(1.0 / d);
      aliasCa[i] = static_cast<float>(c / d);
    }
    for (int p = 0; p < 7; ++p) {
      const double a = p * 3.14159265358979323846 / 12;
      const double s = std::sin(a), c = std::cos(a);
      isRatioL[p] = static_cast<float>(s / (s + c));
      isRatioR[p] = static_cast<float>(c / (s + c));
    }
  }
};

const Numeric& Num() {
  static const Numeric n;
  return n;
}

bool ReadGranule(BitReader& bits, bool mpeg1, GranuleInfo& g) {
  g.part23Length = static_cast<int>(bits.Read(12));
  g.bigValues = static_cast<int>(bits.Read(9));
  g.globalGain = static_cast<int>(bits.Read(8));
  g.scalefacCompress = static_cast<int>(bits.Read(mpeg1 ? 4 : 9));
  g.windowSwitching = bits.ReadBit();
  g.valid = true;
  if (g.windowSwitching) {
    g.blockType = static_cast<int>(bits.Read(2));
    g.mixed = bits.ReadBit();
    g.tableSelect[0] = static_cast<int>(bits.Read(5));
    g.tableSelect[1] = static_cast<int>(bits.Read(5));
    g.tableSelect[2] = 0;
    for (int& sg : g.subblockGain) sg = static_cast<int>(bits.Read(3));
    g.region0Count = g.blockType == 2 && !g.mixed ? 8 : 7;
    g.region1Count = 20 - g.region0Count;
    if (g.blockType == 0) g.valid = false;  // window switching needs a non-normal block
  } else {
    g.blockType = 0;
    g.mixed = false;
    for (int& t : g.tableSelect) t = static_cast<int>(bits.Read(5));
    g.subblockGain[0] = g.subblockGain[1] = g.subblockGain[2] = 0;
    g.region0Count = static_cast<int>(bits.Read(4));
    g.region1Count = static_cast<int>(bits.Read(3));
  }
  g.preflag = mpeg1 ? static_cast<int>(bits.Read(1)) : 0;
  g.scalefacScale = static_cast<int>(bits.Read(1));
  g.count1Table = static_cast<int>(bits.Read(1));
  if (g.bigValues > 288) {  // more pairs than a granule holds
    g.bigValues = 288;
    g.valid = false;
  }
  return g.valid;
}

void ReadScaleFactorsMpeg1(BitReader& bits, const GranuleInfo& g, const int* scfsi, int gr, ScaleFactors& sf) {
  const int slen1 = mp3::kScaleFactorLengths[g.scalefacCompress][0];
  const int slen2 = mp3::kScaleFactorLengths[g.scalefacCompress][1];
  if (g.blockType == 2) {
    int sfb = 0;
    if (g.mixed) {
      for (; sfb < 8; ++sfb) sf.l[sfb] = static_cast<uint8_t>(bits.Read(slen1));
      sfb = 3;
    }
    for (; sfb < 12; ++sfb)
      for (int w = 0; w < 3; ++w) sf.s[sfb][w] = static_cast<uint8_t>(bits.Read(sfb < 6 ? slen1 : slen2));
    sf.s[12][0] = sf.s[12][1] = sf.s[12][2] = 0;
    return;
  }
  static constexpr int kGroups[5] = {0, 6, 11, 16, 21};
  for (int group = 0; group < 4; ++group) {
    if (gr == 1 && scfsi[group]) continue;  // shared with granule 0
    for (int sfb = kGroups[group]; sfb < kGroups[group + 1]; ++sfb)
      sf.l[sfb] = static_cast<uint8_t>(bits.Read(group < 2 ? slen1 : slen2));
  }
  sf.l[21] = 0;
}

// MPEG-2 scale factors; returns the preflag the compress value implies.
int ReadScaleFactorsMpeg2(BitReader& bits, const GranuleInfo& g, bool intensityChannel, ScaleFactors& sf) {
  int slen[4] = {};
  int table = 0;
  int preflag = 0;
  int sfc = g.scalefacCompress;
  if (intensityChannel) {
    sfc >>= 1;
    if (sfc < 180) {
      slen[0] = sfc / 36, slen[1] = (sfc % 36) / 6, slen[2] = sfc % 6, table = 3;
    } else if (sfc < 244) {
      sfc -= 180;
      slen[0] = (sfc % 64) >> 4, slen[1] = (sfc % 16) >> 2, slen[2] = sfc % 4, table = 4;
    } else {
      sfc -= 244;
      slen[0] = sfc / 3, slen[1] = sfc % 3, table = 5;
    }
  } else if (sfc < 400) {
    slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc % 16) >> 2, slen[3] = sfc % 4;
  } else if (sfc < 500) {
    sfc -= 400;
    slen[0] = (sfc >> 2) / 5, slen[1] = (sfc >> 2) % 5, slen[2] = sfc % 4, table = 1;
  } else {
    sfc -= 500;
    slen[0] = sfc / 3, slen[1] = sfc % 3, table = 2, preflag = 1;
  }
  const int kind = g.blockType == 2 ? (g.mixed ? 2 : 1) : 0;
  const uint8_t* counts = mp3::kLsfScaleFactorCounts[table][kind];
  sf = ScaleFactors{};
  // Long bands first (all of them, or the 6 of a mixed block), then short bands by window.
  const int longCount = kind == 0 ? 21 : kind == 2 ? 6 : 0;
  const int firstShort = kind == 2 ? 3 : 0;
  int n = 0;
  for (int part = 0; part < 4; ++part) {
    const int len = slen[part];
    const auto illegal = static_cast<uint8_t>((1 << len) - 1);
    for (int i = 0; i < counts[part]; ++i, ++n) {
      const auto v = static_cast<uint8_t>(bits.Read(len));
      if (n < longCount) {
        sf.l[n] = v;
        sf.illegalL[n] = illegal;
      } else {
        const int m = n - longCount;
        const int sfb = firstShort + m / 3;
        if (sfb < 13) {
          sf.s[sfb][m % 3] = v;
          sf.illegalS[sfb] = illegal;
        }
      }
    }
  }
  // The last band carries no scale factor; intensity takes the band below's.
  sf.illegalL[21] = sf.illegalL[20];
  sf.illegalS[12] = sf.illegalS[11];
  return preflag;
}

// Huffman-decodes one granule channel into quantized values; returns the count of lines
// up to the last non-zero one. Stops, keeping what it has, when the code runs past endBit.
int DecodeSpectrum(BitReader& bits, const GranuleInfo& g, size_t endBit, const mp3::ScaleFactorBands& bands,
                   int* q) {
  const int bigEnd = std::min(g.bigValues * 2, 576);
  int region1, region2;
  if (g.windowSwitching && g.blockType == 2) {
    region1 = g.mixed ? 36 : 3 * bands.shortEdges[3];
    region2 = 576;
  } else {
    region1 = bands.longEdges[std::min(g.region0Count + 1, 22)];
    region2 = bands.longEdges[std::min(g.region0Count + g.region1Count + 2, 22)];
  }
  const int regionEnd[3] = {std::min(region1, bigEnd), std::min(region2, bigEnd), bigEnd};
  int i = 0;
  int last = 0;
  for (int r = 0; r < 3; ++r) {
    const int end = std::max(regionEnd[r], i);
    const int reached = mp3::DecodeBigValues(g.tableSelect[r], bits, endBit, i, end, q, last);
    i = reached;
    if (reached < end) break;  // a bad code or the granule's end
  }
  if (i >= bigEnd) i = mp3::DecodeCount1(g.count1Table, bits, endBit, i, q, last);
  std::fill(q + std::min(i, 576), q + 576, 0);
  return last;
}

// x^(4/3) of each quantized value, with its sign, times the band's scale.
// Branch-free: the signs of coded values are as good as random, so a branch on them
// would miss half the time.
QUILLET_KERNEL
void Dequantize(const int* q, int n, float scale, const float* pow43, float* xr) {
  for (int i = 0; i < n; ++i) {
    const auto v = static_cast<std::uint32_t>(q[i]);
    const auto negative = static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> 31);
    const float m = pow43[(v ^ negative) - negative] * scale;
    std::uint32_t bits;
    std::memcpy(&bits, &m, 4);
    bits ^= v & 0x80000000u;
    std::memcpy(xr + i, &bits, 4);
  }
}

// The butterflies between each pair of long subbands, all eight of a boundary at once.
QUILLET_KERNEL
void ReduceAliases(float* x, int boundaries, const float* cs, const float* ca) {
  const mp3::V8 c = QUILLET_LOAD8(cs), a = QUILLET_LOAD8(ca);
  for (int sb = 1; sb <= boundaries; ++sb) {
    float* hi = x + 18 * sb;
    const mp3::V8 below = QUILLET_LOAD8(hi - 8);
    const mp3::V8 lo = __builtin_shufflevector(below, below, 7, 6, 5, 4, 3, 2, 1, 0);  // hi[-1 - i]
    const mp3::V8 up = QUILLET_LOAD8(hi);
    const mp3::V8 newLo = lo * c - up * a;
    QUILLET_STORE8(hi - 8, __builtin_shufflevector(newLo, newLo, 7, 6, 5, 4, 3, 2, 1, 0));
    QUILLET_STORE8(hi, up * c + lo * a);
  }
}

inline int GainIndex(int exp4) { return std::clamp(exp4 + kGainOffset, 0, kGainEntries - 1); }

void Requantize(const GranuleInfo& g, const ScaleFactors& sf, const mp3::ScaleFactorBands& bands, const int* q,
                int count, float* xr) {
  const Numeric& num = Num();
  const int gain = g.globalGain - 210;
  const int sfShift = 2 * (1 + g.scalefacScale);
  int i = 0;
  if (g.blockType != 2 || g.mixed) {
    const int longEnd = g.blockType == 2 ? 36 : 576;
    for (int sfb = 0; sfb < 22 && i < std::min(count, longEnd); ++sfb) {
      const int exp4 = gain - sfShift * (sf.l[sfb] + (g.preflag ? mp3::kPretab[sfb] : 0));
      const float scale = num.gain[GainIndex(exp4)];
      const int end = std::min<int>(bands.longEdges[sfb + 1], longEnd);
      Dequantize(q + i, end - i, scale, num.pow43, xr + i);
      i = std::max(i, end);
    }
  }
  if (g.blockType == 2) {
    for (int sfb = g.mixed ? 3 : 0; sfb < 13 && i < count; ++sfb) {
      const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
      for (int w = 0; w < 3; ++w) {
        const int exp4 = gain - 8 * g.subblockGain[w] - sfShift * sf.s[sfb][w];
        const float scale = num.gain[GainIndex(exp4)];
        const int start = 3 * bands.shortEdges[sfb] + w * width;
        Dequantize(q + start, width, scale, num.pow43, xr + start);
      }
      i = 3 * bands.shortEdges[sfb + 1];
    }
  }
  std::fill(xr + std::min(i, 576), xr + 576, 0.0f);
}

}  // namespace

bool ParseMp3Header(const uint8_t* b, Mp3Header& h) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return false;
  const int versionBits = (b[1] >> 3) & 3;
  if (versionBits == 1) return false;       // reserved
  if (((b[1] >> 1) & 3) != 1) return false;  // layer III only
  const int bitrateIndex = b[2] >> 4;
  const int rateIndex = (b[2] >> 2) & 3;
  if (bitrateIndex == 15 || rateIndex == 3) return false;
  h.version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
  h.crc = (b[1] & 1) == 0;
  h.bitrate = kBitratesKbps[h.version == 0 ? 0 : 1][bitrateIndex] * 1000;
  h.sampleRateIndex = rateIndex;
  h.sampleRate = kSampleRates[rateIndex] >> h.version;
  h.padding = (b[2] >> 1) & 1;
  h.mode = b[3] >> 6;
  h.modeExtension = (b[3] >> 4) & 3;
  h.freeBytes = 0;
  return true;
}

int FindFreeFormatBytes(const uint8_t* data, size_t size, bool atEnd) {
  Mp3Header h;
  if (size < 4 || !ParseMp3Header(data, h) || !h.freeFormat()) return 0;
  // The frame must hold its header, CRC and side information.
  const size_t shortest = 4 + (h.crc ? 2 : 0) + static_cast<size_t>(h.sideInfoBytes());
  const size_t longest = std::min(static_cast<size_t>(h.maxFrameBytes()), size - 4);
  for (size_t d = shortest; d <= longest; ++d) {
    Mp3Header n;
    if (data[d] != 0xFF || !ParseMp3Header(data + d, n) || !n.SameStream(h)) continue;
    const int unpadded = static_cast<int>(d) - h.padding;
    const size_t after = d + static_cast<size_t>(unpadded + n.padding);
    Mp3Header m;
    const bool confirmed = after + 4 <= size ? ParseMp3Header(data + after, m) && m.SameStream(h)
                                             : atEnd && after == size;
    if (confirmed) return unpadded;
  }
  return 0;
}

struct Mp3Decoder::State {
  uint8_t reservoir[kReservoirCapacity + 8] = {};  // zero tail: peeks past the end read zeros
  int reservoirBytes = 0;
  mp3::ChannelSynth synth[2];
  alignas(32) float planar[2][Mp3Decoder::kMaxSamplesPerFrame];  // stereo output before interleaving
  ScaleFactors sf[2];
  int q[576] = {};
  float xr[2][576] = {};
  int count[2] = {};  // lines up to the last non-zero one, per channel
  // A mono frame leaves channel 1 behind: stereo resumes from silence there, not from
  // whatever came before the mono frames, so seeking gives what reading through gives.
  bool channel1Idle = false;

  void Stereo(const Mp3Header& h, const GranuleInfo* g, const mp3::ScaleFactorBands& bands, int intensityScale);
  // Reordering, alias reduction and the IMDCT of one granule channel.
  void Transform(int ch, int gr, const GranuleInfo& g, const mp3::ScaleFactorBands& bands);
  void DecodeGranules(const Mp3Header& h, const SideInfo& si, BitReader& bits, size_t mainBits, float* out,
                      bool& corrupt);
  uint8_t blockTypes = 0;
};

namespace {

// The first line of each long band, or of each short band of one window, that lies above the
// right channel's last non-zero value: intensity coding starts there.
int FirstZeroLongBand(const float* xr, const mp3::ScaleFactorBands& bands, int maxBand) {
  for (int sfb = maxBand - 1; sfb >= 0; --sfb)
    for (int i = bands.longEdges[sfb]; i < bands.longEdges[sfb + 1]; ++i)
      if (xr[i] != 0) return sfb + 1;
  return 0;
}

int FirstZeroShortBand(const float* xr, const mp3::ScaleFactorBands& bands, int w, int minBand) {
  for (int sfb = 12; sfb >= minBand; --sfb) {
    const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
    const int start = 3 * bands.shortEdges[sfb] + w * width;
    for (int i = 0; i < width; ++i)
      if (xr[start + i] != 0) return sfb + 1;
  }
  return minBand;
}

}  // namespace

void Mp3Decoder::State::Stereo(const Mp3Header& h, const GranuleInfo* g, const mp3::ScaleFactorBands& bands,
                               int intensityScale) {
  const bool ms = (h.modeExtension & 2) != 0;
  const bool intensity = (h.modeExtension & 1) != 0;
  float* l = xr[0];
  float* r = xr[1];
  const Numeric& num = Num();
  bool done[576];  // lines already handled by intensity coding
  if (intensity) {
    std::fill(done, done + 576, false);
    const GranuleInfo& gr = g[1];
    const ScaleFactors& right = sf[1];
    const bool mpeg1 = h.version == 0;
    const float io = intensityScale ? 0.70710678f : 0.84089642f;  // 2^-1/2 or 2^-1/4
    auto apply = [&](int begin, int end, int pos, int illegal) {
      if (pos == illegal || (mpeg1 && pos >= 7)) return;  // not intensity coded: plain or mid/side
      float kl, kr;
      if (mpeg1) {
        kl = num.isRatioL[pos];
        kr = num.isRatioR[pos];
      } else if (pos == 0) {
        kl = kr = 1.0f;
      } else if (pos & 1) {
        kl = std::pow(io, static_cast<float>((pos + 1) / 2));
        kr = 1.0f;
      } else {
        kl = 1.0f;
        kr = std::pow(io, static_cast<float>(pos / 2));
      }
      for (int i = begin; i < end; ++i) {
        const float v = l[i];
        l[i] = v * kl;
        r[i] = v * kr;
        done[i] = true;
      }
    };
    if (gr.blockType == 2) {
      const int minBand = gr.mixed ? 3 : 0;
      bool shortPartEmpty = true;
      for (int w = 0; w < 3; ++w) {
        const int first = FirstZeroShortBand(r, bands, w, minBand);
        if (first > minBand) shortPartEmpty = false;
        for (int sfb = first; sfb < 13; ++sfb) {
          const int width = bands.shortEdges[sfb + 1] - bands.shortEdges[sfb];
          const int start = 3 * bands.shortEdges[sfb] + w * width;
          const int src = sfb == 12 ? 11 : sfb;
          apply(start, start + width, right.s[src][w], mpeg1 ? 7 : right.illegalS[sfb]);
        }
      }
      if (gr.mixed && shortPartEmpty) {
        const int longBands = h.version == 0 ? 8 : 6;
        for (int sfb = FirstZeroLongBand(r, bands, longBands); sfb < longBands; ++sfb)
          apply(bands.longEdges[sfb], bands.longEdges[sfb + 1], right.l[sfb], mpeg1 ? 7 : right.illegalL[sfb]);
      }
    } else {
      for (int sfb = FirstZeroLongBand(r, bands, 22); sfb < 22; ++sfb) {
        const int src = sfb == 21 ? 20 : sfb;
        apply(bands.longEdges[sfb], bands.longEdges[sfb + 1], right.l[src], mpeg1 ? 7 : right.illegalL[sfb]);
      }
    }
  }
  const int n = std::max(count[0], count[1]);
  if (ms) {
    constexpr float kInvSqrt2 = 0.70710678118654752f;
    for (int i = 0; i < n; ++i) {
      if (intensity && done[i]) continue;
      const float m = l[i], s = r[i];
      l[i] = (m + s) * kInvSqrt2;
      r[i] = (m - s) * kInvSqrt2;
    }
  }
  count[0] = count[1] = intensity ? 576 : n;
}

void Mp3Decoder::State::Transform(int ch, int gr, const GranuleInfo& g, const mp3::ScaleFactorBands& bands) {
  const Numeric& num = Num();
  float* x = xr[ch];
  int lines = count[ch];
  float reordered[576];
  if (g.blockType == 2) {
    // Short bands are stored band by band, window by window; the transform wants each
    // subband's six lines of every window together.
    std::fill(reordered, reordered + 576, 0.0f);
    int top = g.mixed ? 36 : 0;
    for (int sfb = g.mixed ? 3 : 0; sfb < 13; ++sfb) {
      const int s = bands.shortEdges[sfb];
      const int width = bands.shortEdges[sfb + 1] - s;
      if (3 * s >= lines) break;
      for (int w = 0; w < 3; ++w)
        for (int i = 0; i < width; ++i) {
          const int f = s + i;
          reordered[(f / 6) * 18 + w * 6 + f % 6] = x[3 * s + w * width + i];
        }
      top = (s + width + 5) / 6 * 18;
    }
    lines = top;
  }
  // Alias reduction between long subbands (only the first boundary of a mixed block).
  if (g.blockType != 2 || g.mixed) {
    const int boundaries = g.blockType == 2 ? 1 : std::min((lines + 17) / 18, 31);
    ReduceAliases(x, boundaries, num.aliasCs, num.aliasCa);
    lines = std::min(576, std::max(lines, 18 * (boundaries + 1)));
    if (g.blockType == 2) std::copy(x, x + 36, reordered);
  }
  const int subbands = std::min(32, (lines + 17) / 18);
  synth[ch].Imdct(g.blockType == 2 ? reordered : x, subbands, g.blockType, g.mixed, gr);
}

void Mp3Decoder::State::DecodeGranules(const Mp3Header& h, const SideInfo& si, BitReader& bits, size_t mainBits,
                                       float* out, bool& corrupt) {
  const bool mpeg1 = h.version == 0;
  const int channels = h.channels();
  const mp3::ScaleFactorBands& bands = mp3::kScaleFactorBands[h.version * 3 + h.sampleRateIndex];
  const bool intensity = h.mode == 1 && (h.modeExtension & 1);
  if (channels == 1) {
    channel1Idle = true;
  } else if (channel1Idle) {
    synth[1].Reset();
    channel1Idle = false;
  }
  for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr) {
    int intensityScale = 0;
    for (int ch = 0; ch < channels; ++ch) {
      const GranuleInfo& g = si.gr[gr][ch];
      const size_t start = bits.position();
      const size_t end = start + static_cast<size_t>(g.part23Length);
      if (!g.valid || end > mainBits) {
        corrupt = true;
        std::fill(xr[ch], xr[ch] + 576, 0.0f);
        count[ch] = 0;
        bits.set_position(std::min(end, mainBits));
        continue;
      }
      blockTypes = static_cast<uint8_t>(blockTypes | (1 << g.blockType) | (g.mixed ? 16 : 0));
      GranuleInfo eff = g;
      if (mpeg1) {
        ReadScaleFactorsMpeg1(bits, g, si.scfsi[ch], gr, sf[ch]);
      } else {
        eff.preflag = ReadScaleFactorsMpeg2(bits, g, intensity && ch == 1, sf[ch]);
        if (ch == 1) intensityScale = g.scalefacCompress & 1;
      }
      const int n = bits.position() > end ? 0 : DecodeSpectrum(bits, g, end, bands, q);
      if (n == 0) std::fill(q, q + 576, 0);
      count[ch] = n;
      Requantize(eff, sf[ch], bands, q, n, xr[ch]);
      bits.set_position(end);
    }
    if (h.mode == 1 && h.modeExtension != 0) Stereo(h, si.gr[gr], bands, intensityScale);
    for (int ch = 0; ch < channels; ++ch) Transform(ch, gr, si.gr[gr][ch], bands);
  }
  const int granules = mpeg1 ? 2 : 1;
  if (channels == 1) {
    synth[0].Synthesize(granules, out);
    return;
  }
  for (int ch = 0; ch < 2; ++ch) synth[ch].Synthesize(granules, planar[ch]);
  const int n = granules * 576;
  for (int i = 0; i < n; ++i) {
    out[2 * i] = planar[0][i];
    out[2 * i + 1] = planar[1][i];
  }
}

Mp3Decoder::Mp3Decoder() : state_(std::make_unique<State>()) {}
Mp3Decoder::~Mp3Decoder() = default;

void Mp3Decoder::Reset() { state_ = std::make_unique<State>(); }

Mp3Step Mp3Decoder::DecodeFrame(const uint8_t* data, size_t size, float* out) { return Frame(data, size, out); }

Mp3Step Mp3Decoder::FeedReservoir(const uint8_t* data, size_t size) { return Frame(data, size, nullptr); }

Mp3Step Mp3Decoder::Frame(const uint8_t* data, size_t size, float* out) {
  Mp3Step step;
  Mp3Header h;
  if (size < 4 || !ParseMp3Header(data, h)) return step;
  if (h.freeFormat()) {
    if (freeBytes_ == 0) freeBytes_ = FindFreeFormatBytes(data, size, true);
    h.freeBytes = freeBytes_;
    // A length set for another stream must not overflow the reservoir.
    if (freeBytes_ == 0 || h.frameBytes() > h.maxFrameBytes()) return step;
  }
  const auto frameBytes = static_cast<size_t>(h.frameBytes());
  const size_t sideStart = 4 + (h.crc ? 2 : 0);
  const size_t mainStart = sideStart + static_cast<size_t>(h.sideInfoBytes());
  step.bytesConsumed = std::min(frameBytes, size);
  if (size < frameBytes || frameBytes < mainStart) {
    step.status = Mp3Status::kTruncated;
    return step;
  }
  State& s = *state_;
  const bool mpeg1 = h.version == 0;
  const int channels = h.channels();
  step.channels = channels;
  SideInfo si;
  BitReader side(data + sideStart, static_cast<size_t>(h.sideInfoBytes()));
  if (mpeg1) {
    si.mainDataBegin = static_cast<int>(side.Read(9));
    side.Skip(channels == 1 ? 5 : 3);
    for (int ch = 0; ch < channels; ++ch)
      for (int& band : si.scfsi[ch]) band = static_cast<int>(side.Read(1));
  } else {
    si.mainDataBegin = static_cast<int>(side.Read(8));
    side.Skip(channels == 1 ? 1 : 2);
  }
  for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr)
    for (int ch = 0; ch < channels; ++ch) ReadGranule(side, mpeg1, si.gr[gr][ch]);

  // Append this frame's main data behind what earlier frames left.
  const int newBytes = static_cast<int>(frameBytes - mainStart);
  const bool reachable = si.mainDataBegin <= s.reservoirBytes;
  const int begin = s.reservoirBytes - si.mainDataBegin;
  std::memcpy(s.reservoir + s.reservoirBytes, data + mainStart, static_cast<size_t>(newBytes));
  const int total = s.reservoirBytes + newBytes;
  std::memset(s.reservoir + total, 0, 8);

  if (reachable && !out) {
    step.status = Mp3Status::kOk;  // fed, not decoded
  } else if (reachable) {
    BitReader bits(s.reservoir + begin, static_cast<size_t>(total - begin));
    bool corrupt = false;
    s.blockTypes = 0;
    s.DecodeGranules(h, si, bits, static_cast<size_t>(total - begin) * 8, out, corrupt);
    step.framesProduced = h.samplesPerFrame();
    step.status = corrupt ? Mp3Status::kCorrupt : Mp3Status::kOk;
    step.blockTypes = s.blockTypes;
  } else {
    step.status = Mp3Status::kReservoir;
  }
  // Keep only what a later back-pointer can reach.
  const int keep = std::min(total, kMaxBackBytes);
  std::memmove(s.reservoir, s.reservoir + total - keep, static_cast<size_t>(keep));
  s.reservoirBytes = keep;
  return step;
}

}  // namespace quillet::formats
