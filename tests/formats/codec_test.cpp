#include "formats/codec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "formats/g711.h"
#include "formats/wav_chooser.h"
#include "wav_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;

std::vector<std::uint8_t> Bytes16(const std::vector<std::int16_t>& v) {
  std::vector<std::uint8_t> b(v.size() * 2);
  for (std::size_t i = 0; i < v.size(); ++i) platform::StoreLE16(&b[2 * i], static_cast<std::uint16_t>(v[i]));
  return b;
}
std::vector<double> Doubles16(const std::vector<std::uint8_t>& b) {
  std::vector<double> v;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) v.push_back(static_cast<std::int16_t>(platform::LoadLE16(&b[i])));
  return v;
}

// Runs a whole buffer through a stream in pieces of `piece` bytes, then flushes.
std::vector<std::uint8_t> RunStream(CodecStream& s, const std::vector<std::uint8_t>& in, std::size_t piece) {
  std::vector<std::uint8_t> out, pending;
  std::vector<std::uint8_t> dst(s.Size(std::max<std::size_t>(piece, 1) + s.Size(1, kStreamSizeDestination) + 65536, kStreamSizeSource) + 65536);
  std::size_t fed = 0;
  for (int flush = 0; flush < 2;) {
    const std::size_t n = std::min(piece, in.size() - fed);
    pending.insert(pending.end(), in.begin() + static_cast<std::ptrdiff_t>(fed), in.begin() + static_cast<std::ptrdiff_t>(fed + n));
    fed += n;
    const bool end = fed == in.size();
    StreamHeader h{pending.data(), pending.size(), 0, dst.data(), dst.size(), 0};
    EXPECT_EQ(s.Convert(h, kConvertBlockAlign | (end ? kConvertEnd : 0)), CodecResult::Ok);
    out.insert(out.end(), dst.begin(), dst.begin() + static_cast<std::ptrdiff_t>(h.dstUsed));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.srcUsed));
    if (end) ++flush;
  }
  EXPECT_TRUE(pending.empty());
  return out;
}

struct CodedCase {
  const char* name;
  WaveFormat format;
  double minSnrDb;
};

std::vector<CodedCase> Cases(int channels, std::uint32_t rate) {
  std::vector<CodedCase> out;
  for (const WaveFormat& f : EncodableFormats(rate, channels)) {
    if (f.rate != rate || f.tag == wave_tag::kPcm) continue;
    double snr = 200;  // lossless for 16-bit input
    if (f.tag == wave_tag::kMuLaw || f.tag == wave_tag::kALaw) snr = 35;
    if (f.tag == wave_tag::kImaAdpcm || f.tag == wave_tag::kMsAdpcm) snr = 30;
    if (f.tag == wave_tag::kGsm610) snr = 20;
    out.push_back({"", f, snr});
  }
  return out;
}

// Every coding the chooser offers encodes and decodes within its expected error, and
// the result does not depend on how the input was cut into pieces.
TEST(Codec, EveryOfferedCodingRoundTripsWithinItsError) {
  for (int channels : {1, 2}) {
    const std::uint32_t rate = 8000;
    const auto pcm = MakePcmFormat(rate, channels, 16);
    const auto in16 = Sine16(8193, channels);
    const auto in = Bytes16(in16);
    for (const CodedCase& c : Cases(channels, rate)) {
      SCOPED_TRACE(FormatTagName(c.format.tag) + " " + DescribeFormat(c.format));
      std::unique_ptr<CodecStream> enc, dec;
      ASSERT_EQ(CodecStream::Open(&enc, pcm, c.format), CodecResult::Ok);
      ASSERT_EQ(CodecStream::Open(&dec, c.format, pcm), CodecResult::Ok);
      const auto coded = RunStream(*enc, in, in.size());
      enc->Reset();
      EXPECT_EQ(RunStream(*enc, in, 1000), coded) << "depends on piece size";
      const auto back = RunStream(*dec, coded, 777);
      // Whole blocks: at least the input, less than one more block.
      ASSERT_GE(back.size(), in.size());
      EXPECT_LT(back.size(), in.size() + static_cast<std::size_t>(enc->framesPerBlock()) * pcm.blockAlign);
      EXPECT_GE(SnrDb(Doubles16(in), Doubles16(back)), c.minSnrDb);
    }
  }
}

TEST(Codec, StreamStepsKeepPartialBlocksUntilTheEnd) {
  const auto pcm = MakePcmFormat(8000, 1, 16);
  WaveFormat gsm;
  for (const WaveFormat& f : EncodableFormats(8000, 1))
    if (f.tag == wave_tag::kGsm610 && f.rate == 8000) gsm = f;
  ASSERT_EQ(gsm.tag, wave_tag::kGsm610);
  std::unique_ptr<CodecStream> enc;
  ASSERT_EQ(CodecStream::Open(&enc, pcm, gsm), CodecResult::Ok);
  EXPECT_EQ(enc->Size(640, kStreamSizeSource), 65u);
  EXPECT_EQ(enc->Size(641, kStreamSizeSource), 130u);
  EXPECT_EQ(enc->Size(130, kStreamSizeDestination), 1280u);
  EXPECT_EQ(enc->Size(64, kStreamSizeDestination), 0u);

  std::vector<std::uint8_t> in(700, 0), out(200);
  StreamHeader h{in.data(), in.size(), 0, out.data(), out.size(), 0};
  enc->Convert(h, kConvertBlockAlign);
  EXPECT_EQ(h.srcUsed, 640u);
  EXPECT_EQ(h.dstUsed, 65u);
  StreamHeader rest{in.data() + 640, 60, 0, out.data(), out.size(), 0};
  enc->Convert(rest, kConvertBlockAlign);
  EXPECT_EQ(rest.srcUsed, 0u);  // less than a block: kept for later
  enc->Convert(rest, kConvertBlockAlign | kConvertEnd);
  EXPECT_EQ(rest.srcUsed, 60u);
  EXPECT_EQ(rest.dstUsed, 65u);  // padded to a whole block

  // Start resets the state: the same block decodes the same way twice.
  std::unique_ptr<CodecStream> dec;
  ASSERT_EQ(CodecStream::Open(&dec, gsm, pcm), CodecResult::Ok);
  const auto coded = RunStream(*enc, Bytes16(Sine16(640, 1)), 10000);
  std::vector<std::uint8_t> a(640), b(640);
  StreamHeader ha{coded.data() + 65, 65, 0, a.data(), a.size(), 0};
  dec->Convert(ha, kConvertBlockAlign | kConvertStart);
  StreamHeader hb{coded.data() + 65, 65, 0, b.data(), b.size(), 0};
  dec->Convert(hb, kConvertBlockAlign | kConvertStart);
  EXPECT_EQ(a, b);
}

TEST(Codec, OpenRefusesWhatItCannotDo) {
  const auto pcm = MakePcmFormat(8000, 2, 16);
  std::unique_ptr<CodecStream> s;
  WaveFormat unknown = pcm;
  unknown.tag = wave_tag::kMpegLayer3;
  EXPECT_EQ(CodecStream::Open(&s, unknown, pcm), CodecResult::NotPossible);
  EXPECT_EQ(CodecStream::Open(&s, pcm, pcm), CodecResult::NotPossible);
  WaveFormat mu = MakePcmFormat(8000, 2, 8);
  mu.tag = wave_tag::kMuLaw;
  EXPECT_EQ(CodecStream::Open(&s, mu, MakePcmFormat(16000, 2, 16)), CodecResult::NotPossible);  // no rate change
  EXPECT_EQ(CodecStream::Open(&s, mu, pcm, kStreamOpenQuery), CodecResult::Ok);
  EXPECT_EQ(s, nullptr);  // a query opens nothing

  WaveFormat gsmStereo = mu;
  gsmStereo.tag = wave_tag::kGsm610;
  gsmStereo.blockAlign = 65;
  EXPECT_EQ(CodecStream::Open(&s, gsmStereo, pcm), CodecResult::BadFormat);
  WaveFormat ima = mu;
  ima.tag = wave_tag::kImaAdpcm;
  ima.bits = 4;
  ima.blockAlign = 7;  // smaller than the two channel headers
  EXPECT_EQ(CodecStream::Open(&s, ima, pcm), CodecResult::BadFormat);
  WaveFormat ms = ima;
  ms.tag = wave_tag::kMsAdpcm;
  ms.blockAlign = 256;
  ms.extra = {0xF4, 0x01, 0x07, 0x00};  // seven coefficient pairs promised, none there
  EXPECT_EQ(CodecStream::Open(&s, ms, pcm), CodecResult::BadFormat);
}

TEST(Codec, G711CodesSurviveDecodeAndEncode) {
  for (int code = 0; code < 256; ++code) {
    const auto u = static_cast<std::uint8_t>(code);
    EXPECT_EQ(LinearToALaw(ALawToLinear(u)), u) << code;
    if (code != 0x7F) {  // 0x7F is -0
      EXPECT_EQ(LinearToMuLaw(MuLawToLinear(u)), u) << code;
    }
  }
  // G.711 end points: u-law full scale is 32124, A-law 32256.
  EXPECT_EQ(MuLawToLinear(0x80), 32124);
  EXPECT_EQ(MuLawToLinear(0x00), -32124);
  EXPECT_EQ(ALawToLinear(0xAA), 32256);
  EXPECT_EQ(LinearToMuLaw(32767), 0x80);
  EXPECT_EQ(LinearToMuLaw(-32768), 0x00);
  EXPECT_EQ(LinearToALaw(-32768), 0x2A);
}

TEST(Codec, FloatClipsBeyondFullScaleAndReadsNanAsSilence) {
  WaveFormat f = MakePcmFormat(8000, 1, 32);
  f.tag = wave_tag::kFloat;
  const auto pcm = MakePcmFormat(8000, 1, 32);
  std::unique_ptr<CodecStream> dec;
  ASSERT_EQ(CodecStream::Open(&dec, f, pcm), CodecResult::Ok);
  const float in[4] = {2.0f, -3.0f, std::nanf(""), 0.5f};
  std::vector<std::uint8_t> bytes(16), out(16);
  std::memcpy(bytes.data(), in, 16);
  StreamHeader h{bytes.data(), 16, 0, out.data(), 16, 0};
  dec->Convert(h, kConvertBlockAlign);
  ASSERT_EQ(h.dstUsed, 16u);
  EXPECT_EQ(static_cast<std::int32_t>(platform::LoadLE32(&out[0])), INT32_MAX);
  EXPECT_EQ(static_cast<std::int32_t>(platform::LoadLE32(&out[4])), INT32_MIN);
  EXPECT_EQ(platform::LoadLE32(&out[8]), 0u);
  EXPECT_EQ(platform::LoadLE32(&out[12]), 0x40000000u);
}

TEST(Codec, CodedFramesCountsShortLastBlocks) {
  WaveFormat ima;
  ima.tag = wave_tag::kImaAdpcm;
  ima.channels = 1;
  ima.rate = 8000;
  ima.bits = 4;
  ima.blockAlign = 256;  // 505 frames
  EXPECT_EQ(CodedFrames(ima, 512), 1010);
  EXPECT_EQ(CodedFrames(ima, 512 + 4 + 8), 1010 + 1 + 16);
  EXPECT_EQ(CodedFrames(ima, 512 + 3), 1010);
  WaveFormat unknown = ima;
  unknown.tag = 0x4242;
  EXPECT_EQ(CodedFrames(unknown, 512), -1);
}

}  // namespace
}  // namespace quillet::formats
