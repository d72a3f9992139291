#include "formats/codec.h"

#include <algorithm>

#include "formats/adpcm.h"
#include "formats/detail/codec_coder.h"
#include "platform/byte_source.h"

namespace quillet::formats {
namespace {

bool IsPcm(const WaveFormat& f) {
  return f.tag == wave_tag::kPcm && (f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32) &&
         f.channels >= 1 && f.blockAlign == f.channels * (f.bits / 8) && f.rate >= 1 &&
         f.rate <= kMaxWaveRate;
}

std::size_t PcmFrameBytes(const WaveFormat& pcm) { return pcm.blockAlign; }

// PCM bytes <-> 32-bit full-scale samples.
void PcmToWide(const std::uint8_t* in, int bits, std::size_t count, std::int32_t* out) {
  const int width = bits / 8;
  for (std::size_t i = 0; i < count; ++i, in += width) {
    std::uint32_t v = 0;
    for (int b = 0; b < width; ++b) v |= std::uint32_t{in[b]} << (8 * (4 - width + b));
    if (width == 1) v ^= 0x80000000u;
    out[i] = static_cast<std::int32_t>(v);
  }
}

void WideToPcm(const std::int32_t* in, int bits, std::size_t count, std::uint8_t* out) {
  const int width = bits / 8;
  const int shift = 32 - bits;
  const std::int64_t lim = std::int64_t{1} << (bits - 1);
  for (std::size_t i = 0; i < count; ++i, out += width) {
    const std::int64_t r =
        shift ? (std::int64_t{in[i]} + (std::int64_t{1} << (shift - 1))) >> shift : in[i];
    auto v = static_cast<std::uint32_t>(std::clamp(r, -lim, lim - 1));
    if (width == 1) v ^= 0x80;
    for (int b = 0; b < width; ++b) out[b] = static_cast<std::uint8_t>(v >> (8 * b));
  }
}

WaveFormat WithBlock(WaveFormat f, int blockAlign, int framesPerBlock, std::uint16_t spbExtra) {
  f.blockAlign = static_cast<std::uint16_t>(blockAlign);
  f.avgBytes =
      static_cast<std::uint32_t>(std::uint64_t{f.rate} * static_cast<std::uint64_t>(blockAlign) /
                                 static_cast<std::uint64_t>(framesPerBlock));
  if (spbExtra) {
    f.extra.resize(2);
    platform::StoreLE16(f.extra.data(), spbExtra);
  }
  return f;
}

// Block sizes the usual encoders pick for a rate: larger blocks at higher rates.
int AdpcmBlockAlign(std::uint32_t rate, int channels) {
  const int perChannel = rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024;
  return perChannel * channels;
}

// A 4-bit ADPCM record with the usual block size and its frames per block.
WaveFormat MakeAdpcmFormat(std::uint16_t tag, std::uint32_t rate, int ch,
                           int (*framesPerBlock)(int blockAlign, int channels)) {
  WaveFormat f;
  f.tag = tag;
  f.channels = static_cast<std::uint16_t>(ch);
  f.rate = rate;
  f.bits = 4;
  const int align = AdpcmBlockAlign(rate, ch);
  const int spb = framesPerBlock(align, ch);
  return WithBlock(f, align, spb, static_cast<std::uint16_t>(spb));
}

WaveFormat MakeMsAdpcmFormat(std::uint32_t rate, int ch) {
  WaveFormat f = MakeAdpcmFormat(wave_tag::kMsAdpcm, rate, ch, &MsAdpcmFramesPerBlock);
  const MsAdpcmCoefs& coefs = StandardMsAdpcmCoefs();
  f.extra.resize(4 + 4 * coefs.c1.size());
  platform::StoreLE16(f.extra.data() + 2, static_cast<std::uint16_t>(coefs.c1.size()));
  for (std::size_t i = 0; i < coefs.c1.size(); ++i) {
    platform::StoreLE16(f.extra.data() + 4 + 4 * i, static_cast<std::uint16_t>(coefs.c1[i]));
    platform::StoreLE16(f.extra.data() + 6 + 4 * i, static_cast<std::uint16_t>(coefs.c2[i]));
  }
  return f;
}

}  // namespace

CodecStream::CodecStream(WaveFormat src, WaveFormat dst, bool decoding,
                         std::unique_ptr<CodecBlockCoder> coder)
    : src_(std::move(src)), dst_(std::move(dst)), decoding_(decoding), coder_(std::move(coder)) {
  scratch_.resize(static_cast<std::size_t>(coder_->framesPerBlock()) *
                  static_cast<std::size_t>(coder_->channels()));
}

CodecStream::~CodecStream() = default;

CodecResult CodecStream::Open(std::unique_ptr<CodecStream>* out, const WaveFormat& src,
                              const WaveFormat& dst, std::uint32_t flags) {
  const bool decoding = IsPcm(dst) && !IsPcm(src);
  const bool encoding = IsPcm(src) && !IsPcm(dst);
  if (!decoding && !encoding) return CodecResult::NotPossible;
  const WaveFormat& coded = decoding ? src : dst;
  const WaveFormat& pcm = decoding ? dst : src;
  CodecResult why;
  auto coder = MakeBlockCoder(coded, encoding, &why);
  if (!coder) return why;
  // The manager converts codings, not rates or channel counts.
  if (pcm.rate != coded.rate || pcm.channels != coded.channels) return CodecResult::NotPossible;
  if (flags & kStreamOpenQuery) return CodecResult::Ok;
  out->reset(new CodecStream(src, dst, decoding, std::move(coder)));
  return CodecResult::Ok;
}

std::size_t CodecStream::blockBytes() const { return coder_->blockBytes(); }
int CodecStream::framesPerBlock() const { return coder_->framesPerBlock(); }

std::size_t CodecStream::Size(std::size_t bytes, std::uint32_t flags) const {
  const std::size_t block = coder_->blockBytes();
  const std::size_t pcmBlock =
      static_cast<std::size_t>(coder_->framesPerBlock()) * PcmFrameBytes(decoding_ ? dst_ : src_);
  const std::size_t codedBlock = decoding_ ? block : pcmBlock;  // source side
  const std::size_t otherBlock = decoding_ ? pcmBlock : block;
  if (flags & kStreamSizeDestination) return bytes / otherBlock * codedBlock;
  // A short last block still yields a whole block at the end.
  return (bytes + codedBlock - 1) / codedBlock * otherBlock;
}

CodecResult CodecStream::Convert(StreamHeader& h, std::uint32_t flags) {
  h.srcUsed = h.dstUsed = 0;
  if ((h.srcLength && !h.src) || (h.dstLength && !h.dst)) return CodecResult::Invalid;
  if (flags & kConvertStart) coder_->Reset();
  const int ch = coder_->channels();
  const auto fpb = static_cast<std::size_t>(coder_->framesPerBlock());
  const std::size_t block = coder_->blockBytes();
  if (decoding_) {
    const int bits = dst_.bits;
    const std::size_t outBlock = fpb * PcmFrameBytes(dst_);
    while (h.dstLength - h.dstUsed >= outBlock) {
      const std::size_t left = h.srcLength - h.srcUsed;
      if (left == 0 || (left < block && !(flags & kConvertEnd))) break;
      const std::size_t take = std::min(left, block);
      const int frames = coder_->Decode(h.src + h.srcUsed, take, scratch_.data());
      WideToPcm(scratch_.data(), bits,
                static_cast<std::size_t>(frames) * static_cast<std::size_t>(ch), h.dst + h.dstUsed);
      h.srcUsed += take;
      h.dstUsed += static_cast<std::size_t>(frames) * PcmFrameBytes(dst_);
    }
    return CodecResult::Ok;
  }
  const int bits = src_.bits;
  const std::size_t inBlock = fpb * PcmFrameBytes(src_);
  while (h.dstLength - h.dstUsed >= block) {
    const std::size_t left = (h.srcLength - h.srcUsed) / PcmFrameBytes(src_) * PcmFrameBytes(src_);
    if (left == 0 || (left < inBlock && !(flags & kConvertEnd))) break;
    const std::size_t take = std::min(left, inBlock);
    const std::size_t samples = take / PcmFrameBytes(src_) * static_cast<std::size_t>(ch);
    PcmToWide(h.src + h.srcUsed, bits, samples, scratch_.data());
    std::fill(scratch_.begin() + static_cast<std::ptrdiff_t>(samples), scratch_.end(),
              0);  // pad a last short block
    coder_->Encode(scratch_.data(), h.dst + h.dstUsed);
    h.srcUsed += take;
    h.dstUsed += block;
  }
  // A trailing partial frame can never be used; take it so the caller does not wait for it.
  if ((flags & kConvertEnd) && h.srcLength - h.srcUsed < PcmFrameBytes(src_))
    h.srcUsed = h.srcLength;
  return CodecResult::Ok;
}

void CodecStream::Reset() { coder_->Reset(); }

CodecResult SuggestPcm(const WaveFormat& coded, WaveFormat* pcm) {
  CodecResult why;
  if (!MakeBlockCoder(coded, false, &why)) return why;
  int bits = 16;
  if (coded.tag == wave_tag::kFloat ||
      (coded.tag == wave_tag::kExtensible && coded.SubFormatTag() == wave_tag::kFloat))
    bits = 32;
  else if (coded.tag == wave_tag::kExtensible)
    bits = coded.bits;
  *pcm = MakePcmFormat(coded.rate, coded.channels, bits);
  return CodecResult::Ok;
}

std::int64_t CodedFrames(const WaveFormat& coded, std::uint64_t dataBytes) {
  CodecResult why;
  auto coder = MakeBlockCoder(coded, false, &why);
  if (!coder) return -1;
  const std::uint64_t block = coder->blockBytes();
  const auto fpb = static_cast<std::uint64_t>(coder->framesPerBlock());
  std::int64_t frames = static_cast<std::int64_t>(dataBytes / block * fpb);
  const std::uint64_t rest = dataBytes % block;
  if (rest) {
    // Ask the coder what a short last block yields, from a block of zeros.
    std::vector<std::uint8_t> zeros(block);
    std::vector<std::int32_t> out(static_cast<std::size_t>(fpb) *
                                  static_cast<std::size_t>(coder->channels()));
    frames += coder->Decode(zeros.data(), static_cast<std::size_t>(rest), out.data());
  }
  return frames;
}

std::vector<WaveFormat> EncodableFormats(std::uint32_t rate, int channels) {
  std::vector<std::uint32_t> rates = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000};
  if (rate >= 1 && rate <= kMaxWaveRate &&
      std::find(rates.begin(), rates.end(), rate) == rates.end()) {
    rates.push_back(rate);
    std::sort(rates.begin(), rates.end());
  }
  std::vector<int> chans = channels > 0 ? std::vector<int>{channels} : std::vector<int>{1, 2};
  std::vector<WaveFormat> out;
  auto each = [&](auto make) {
    for (std::uint32_t r : rates)
      for (int c : chans) make(r, c);
  };
  each([&](std::uint32_t r, int c) {
    for (int bits : {8, 16, 24, 32}) out.push_back(MakePcmFormat(r, c, bits));
  });
  each([&](std::uint32_t r, int c) {
    for (int bits : {32, 64}) {
      WaveFormat f = MakePcmFormat(r, c, bits);
      f.tag = wave_tag::kFloat;
      out.push_back(f);
    }
  });
  each([&](std::uint32_t r, int c) {
    for (int bits : {16, 24, 32}) out.push_back(MakeExtensibleFormat(r, c, bits, wave_tag::kPcm));
    out.push_back(MakeExtensibleFormat(r, c, 32, wave_tag::kFloat));
  });
  for (std::uint16_t tag : {wave_tag::kMuLaw, wave_tag::kALaw})
    each([&](std::uint32_t r, int c) {
      WaveFormat f = MakePcmFormat(r, c, 8);
      f.tag = tag;
      out.push_back(f);
    });
  each([&](std::uint32_t r, int c) {
    out.push_back(MakeAdpcmFormat(wave_tag::kImaAdpcm, r, c, &ImaFramesPerBlock));
  });
  each([&](std::uint32_t r, int c) { out.push_back(MakeMsAdpcmFormat(r, c)); });
  if (channels <= 1) {
    for (std::uint32_t r : rates) {
      WaveFormat f;
      f.tag = wave_tag::kGsm610;
      f.channels = 1;
      f.rate = r;
      f.bits = 0;
      WaveFormat g = WithBlock(f, 65, 320, 320);
      CodecResult why;
      if (MakeBlockCoder(g, true, &why)) out.push_back(g);
    }
  }
  return out;
}

}  // namespace quillet::formats
