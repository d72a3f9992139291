// The codings the codec manager carries, each as a block coder.

#include <gsm.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "formats/adpcm.h"
#include "formats/detail/codec_coder.h"
#include "formats/g711.h"
#include "platform/byte_source.h"

namespace quillet::formats {
namespace {

std::int32_t Wide16(int v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 16); }
std::int16_t Narrow16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int64_t>((std::int64_t{v} + 0x8000) >> 16, -32768, 32767));
}

// Plain integer samples of 1..4 bytes (the extensible PCM sub-format).
class PcmCoder final : public CodecBlockCoder {
 public:
  PcmCoder(int channels, int width) : CodecBlockCoder(channels, static_cast<std::size_t>(channels * width), 1), width_(width) {}
  int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) override {
    if (bytes < blockBytes()) return 0;
    for (int c = 0; c < channels(); ++c, in += width_) {
      std::uint32_t v = 0;
      for (int b = 0; b < width_; ++b) v |= std::uint32_t{in[b]} << (8 * (4 - width_ + b));
      if (width_ == 1) v ^= 0x80000000u;  // 8-bit samples are unsigned
      out[c] = static_cast<std::int32_t>(v);
    }
    return 1;
  }
  void Encode(const std::int32_t* in, std::uint8_t* out) override {
    for (int c = 0; c < channels(); ++c, out += width_) {
      const int shift = 8 * (4 - width_);
      const std::int64_t r = shift ? (std::int64_t{in[c]} + (std::int64_t{1} << (shift - 1))) >> shift : in[c];
      const std::int64_t lim = std::int64_t{1} << (8 * width_ - 1);
      auto v = static_cast<std::uint32_t>(std::clamp(r, -lim, lim - 1));
      if (width_ == 1) v ^= 0x80;
      for (int b = 0; b < width_; ++b) out[b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
  }

 private:
  int width_;
};

class FloatCoder final : public CodecBlockCoder {
 public:
  FloatCoder(int channels, int bytes) : CodecBlockCoder(channels, static_cast<std::size_t>(channels * bytes), 1), bytes_(bytes) {}
  int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) override {
    if (bytes < blockBytes()) return 0;
    for (int c = 0; c < channels(); ++c, in += bytes_) {
      double x;
      if (bytes_ == 4) {
        float f;
        std::uint32_t u = platform::LoadLE32(in);
        std::memcpy(&f, &u, 4);
        x = f;
      } else {
        std::uint64_t u = platform::LoadLE32(in) | std::uint64_t{platform::LoadLE32(in + 4)} << 32;
        std::memcpy(&x, &u, 8);
      }
      // NaN reads as silence; beyond full scale clips.
      const double s = std::isnan(x) ? 0.0 : std::clamp(x * 2147483648.0, -2147483648.0, 2147483647.0);
      out[c] = static_cast<std::int32_t>(std::lrint(s));
    }
    return 1;
  }
  void Encode(const std::int32_t* in, std::uint8_t* out) override {
    for (int c = 0; c < channels(); ++c, out += bytes_) {
      const double x = in[c] / 2147483648.0;
      if (bytes_ == 4) {
        const auto f = static_cast<float>(x);
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        platform::StoreLE32(out, u);
      } else {
        std::uint64_t u;
        std::memcpy(&u, &x, 8);
        platform::StoreLE32(out, static_cast<std::uint32_t>(u));
        platform::StoreLE32(out + 4, static_cast<std::uint32_t>(u >> 32));
      }
    }
  }

 private:
  int bytes_;
};

class G711Coder final : public CodecBlockCoder {
 public:
  G711Coder(int channels, bool muLaw) : CodecBlockCoder(channels, static_cast<std::size_t>(channels), 1), muLaw_(muLaw) {}
  int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) override {
    if (bytes < blockBytes()) return 0;
    for (int c = 0; c < channels(); ++c) out[c] = Wide16(muLaw_ ? MuLawToLinear(in[c]) : ALawToLinear(in[c]));
    return 1;
  }
  void Encode(const std::int32_t* in, std::uint8_t* out) override {
    for (int c = 0; c < channels(); ++c)
      out[c] = muLaw_ ? LinearToMuLaw(Narrow16(in[c])) : LinearToALaw(Narrow16(in[c]));
  }

 private:
  bool muLaw_;
};

// Shared by the ADPCM coders: 16-bit scratch for one block.
class Adpcm16Coder : public CodecBlockCoder {
 public:
  using CodecBlockCoder::CodecBlockCoder;

 protected:
  std::int16_t* Scratch() {
    pcm_.resize(static_cast<std::size_t>(framesPerBlock()) * static_cast<std::size_t>(channels()));
    return pcm_.data();
  }
  int Widen(int frames, std::int32_t* out) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels()); ++i) out[i] = Wide16(pcm_[i]);
    return frames;
  }
  std::int16_t* Narrow(const std::int32_t* in) {
    std::int16_t* p = Scratch();
    for (std::size_t i = 0; i < pcm_.size(); ++i) p[i] = Narrow16(in[i]);
    return p;
  }
  std::vector<std::int16_t> pcm_;
};

class ImaCoder final : public Adpcm16Coder {
 public:
  ImaCoder(int channels, int blockAlign)
      : Adpcm16Coder(channels, static_cast<std::size_t>(blockAlign), ImaFramesPerBlock(blockAlign, channels)), encoder_(channels) {}
  int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) override {
    return Widen(ImaDecodeBlock(in, std::min(bytes, blockBytes()), channels(), Scratch()), out);
  }
  void Encode(const std::int32_t* in, std::uint8_t* out) override {
    encoder_.EncodeBlock(Narrow(in), framesPerBlock(), static_cast<int>(blockBytes()), out);
  }
  void Reset() override { encoder_.Reset(); }

 private:
  ImaEncoder encoder_;
};

class MsAdpcmCoder final : public Adpcm16Coder {
 public:
  MsAdpcmCoder(int channels, int blockAlign, MsAdpcmCoefs coefs)
      : Adpcm16Coder(channels, static_cast<std::size_t>(blockAlign), MsAdpcmFramesPerBlock(blockAlign, channels)),
        coefs_(std::move(coefs)) {}
  int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) override {
    return Widen(MsAdpcmDecodeBlock(in, std::min(bytes, blockBytes()), channels(), coefs_, Scratch()), out);
  }
  void Encode(const std::int32_t* in, std::uint8_t* out) override {
    MsAdpcmEncodeBlock(Narrow(in), framesPerBlock(), channels(), static_cast<int>(blockBytes()), out);
  }

 private:
  MsAdpcmCoefs coefs_;
};

// GSM 06.10 in WAVE: two 160-sample frames packed into 65 bytes (WAV49).
class GsmCoder final : public Adpcm16Coder {
 public:
  GsmCoder() : Adpcm16Coder(1, 65, 320) { Reset(); }
  ~GsmCoder() override {
    if (gsm_) gsm_destroy(gsm_);
  }
  bool ok() const { return gsm_ != nullptr; }
  int Decode(const std::uint8_t* in, std::size_t bytes, std::int32_t* out) override {
    if (!gsm_ || bytes < blockBytes()) return 0;
    std::int16_t* p = Scratch();
    std::uint8_t frame[65];
    std::memcpy(frame, in, 65);
    // A frame libgsm refuses decodes as silence; the next one starts afresh.
    if (gsm_decode(gsm_, frame, p) < 0 || gsm_decode(gsm_, frame + 33, p + 160) < 0)
      std::fill(p, p + 320, std::int16_t{0});
    return Widen(320, out);
  }
  void Encode(const std::int32_t* in, std::uint8_t* out) override {
    if (!gsm_) {
      std::fill(out, out + 65, std::uint8_t{0});
      return;
    }
    std::int16_t* p = Narrow(in);
    gsm_encode(gsm_, p, out);
    gsm_encode(gsm_, p + 160, out + 32);
  }
  void Reset() override {
    if (gsm_) gsm_destroy(gsm_);
    gsm_ = gsm_create();
    int one = 1;
    if (gsm_ && gsm_option(gsm_, GSM_OPT_WAV49, &one) < 0) {
      gsm_destroy(gsm_);  // a libgsm built without WAV49 support cannot read these files
      gsm_ = nullptr;
    }
  }

 private:
  gsm gsm_ = nullptr;
};

std::unique_ptr<CodecBlockCoder> Fail(CodecResult* why, CodecResult r) {
  *why = r;
  return nullptr;
}

std::unique_ptr<CodecBlockCoder> MakePlainCoder(std::uint16_t tag, const WaveFormat& f, CodecResult* why) {
  const int ch = f.channels;
  const int width = (f.bits + 7) / 8;
  switch (tag) {
    case wave_tag::kPcm:
      if (f.bits < 1 || f.bits > 32 || f.blockAlign != ch * width) return Fail(why, CodecResult::BadFormat);
      return std::make_unique<PcmCoder>(ch, width);
    case wave_tag::kFloat:
      if ((f.bits != 32 && f.bits != 64) || f.blockAlign != ch * width) return Fail(why, CodecResult::BadFormat);
      return std::make_unique<FloatCoder>(ch, width);
  }
  return Fail(why, CodecResult::NotPossible);
}

}  // namespace

std::unique_ptr<CodecBlockCoder> MakeBlockCoder(const WaveFormat& f, bool encode, CodecResult* why) {
  *why = CodecResult::Ok;
  if (f.channels < 1 || f.channels > kMaxWaveChannels || f.rate < 1 || f.rate > kMaxWaveRate)
    return Fail(why, CodecResult::BadFormat);
  const int ch = f.channels;
  switch (f.tag) {
    case wave_tag::kFloat:
      return MakePlainCoder(wave_tag::kFloat, f, why);
    case wave_tag::kExtensible: {
      if (f.extra.size() < 22) return Fail(why, CodecResult::BadFormat);
      const std::uint16_t sub = f.SubFormatTag();
      if (sub != wave_tag::kPcm && sub != wave_tag::kFloat) return Fail(why, CodecResult::NotPossible);
      if (sub == wave_tag::kPcm && f.bits % 8 != 0) return Fail(why, CodecResult::BadFormat);
      return MakePlainCoder(sub, f, why);
    }
    case wave_tag::kMuLaw:
    case wave_tag::kALaw:
      if (f.bits != 8 || f.blockAlign != ch) return Fail(why, CodecResult::BadFormat);
      return std::make_unique<G711Coder>(ch, f.tag == wave_tag::kMuLaw);
    case wave_tag::kImaAdpcm:
      if (f.bits != 4 || ImaFramesPerBlock(f.blockAlign, ch) < 1) return Fail(why, CodecResult::BadFormat);
      return std::make_unique<ImaCoder>(ch, f.blockAlign);
    case wave_tag::kMsAdpcm: {
      if (f.bits != 4 || MsAdpcmFramesPerBlock(f.blockAlign, ch) < 2) return Fail(why, CodecResult::BadFormat);
      MsAdpcmCoefs coefs = StandardMsAdpcmCoefs();
      if (!encode && f.extra.size() >= 4) {
        const std::size_t n = platform::LoadLE16(f.extra.data() + 2);
        if (n < 1 || f.extra.size() < 4 + 4 * n) return Fail(why, CodecResult::BadFormat);
        coefs.c1.clear();
        coefs.c2.clear();
        for (std::size_t i = 0; i < n; ++i) {
          coefs.c1.push_back(static_cast<std::int16_t>(platform::LoadLE16(f.extra.data() + 4 + 4 * i)));
          coefs.c2.push_back(static_cast<std::int16_t>(platform::LoadLE16(f.extra.data() + 6 + 4 * i)));
        }
      }
      return std::make_unique<MsAdpcmCoder>(ch, f.blockAlign, std::move(coefs));
    }
    case wave_tag::kGsm610: {
      if (ch != 1 || f.blockAlign != 65) return Fail(why, CodecResult::BadFormat);
      auto coder = std::make_unique<GsmCoder>();
      if (!coder->ok()) return Fail(why, CodecResult::NotPossible);
      return coder;
    }
  }
  return Fail(why, CodecResult::NotPossible);
}

}  // namespace quillet::formats
