// The decoder's building blocks: header rules, Huffman tables, the bounded bit reader and
// what DecodeFrame does with frames it cannot use.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "formats/detail/mp3_bits.h"
#include "formats/detail/mp3_huffman.h"
#include "formats/detail/mp3_tables.h"
#include "formats/mp3_decoder.h"
#include "formats/mp3_stream.h"

namespace quillet::formats {
namespace {

TEST(Mp3Header, AcceptsLayerThreeOnlyWithRealRates) {
  struct Case {
    uint8_t b[4];
    bool ok;
    int rate, bitrate, frameBytes, spf;
  };
  const Case cases[] = {
      {{0xFF, 0xFB, 0x90, 0x64}, true, 44100, 128000, 417, 1152},  // MPEG-1, 128k
      {{0xFF, 0xFB, 0x92, 0x64}, true, 44100, 128000, 418, 1152},  // padded
      {{0xFF, 0xF3, 0x80, 0xC4}, true, 22050, 64000, 208, 576},    // MPEG-2, mono
      {{0xFF, 0xE3, 0x40, 0xC4}, true, 11025, 32000, 208, 576},    // MPEG 2.5
      {{0xFF, 0xE3, 0x48, 0xC4}, true, 8000, 32000, 288, 576},     // MPEG 2.5, 8 kHz
      {{0xFF, 0xFB, 0x00, 0x64}, true, 44100, 0, 0, 1152},         // free format: length unknown
      {{0xFF, 0xFB, 0xF0, 0x64}, false, 0, 0, 0, 0},               // bit-rate index 15
      {{0xFF, 0xFB, 0x9C, 0x64}, false, 0, 0, 0, 0},               // sample-rate index 3
      {{0xFF, 0xFD, 0x90, 0x64}, false, 0, 0, 0, 0},               // layer II
      {{0xFF, 0xEB, 0x90, 0x64}, false, 0, 0, 0, 0},               // reserved version
      {{0xFF, 0x1B, 0x90, 0x64}, false, 0, 0, 0, 0},               // no sync
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int>(c.b, c.b + 4)));
    Mp3Header h;
    ASSERT_EQ(ParseMp3Header(c.b, h), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(h.sampleRate, c.rate);
    EXPECT_EQ(h.bitrate, c.bitrate);
    EXPECT_EQ(h.frameBytes(), c.frameBytes);
    EXPECT_EQ(h.samplesPerFrame(), c.spf);
  }
}

// Every code of every table, written MSB first and decoded, gives back its value and
// consumes exactly its length, whatever bits follow.
TEST(Mp3Huffman, EveryCodeDecodesToItsValue) {
  for (int t = 1; t < 32; ++t) {
    const mp3::HuffmanTableInfo& info = mp3::kBigValueTables[t];
    if (!info.codes) continue;
    for (int i = 0; i < info.size * info.size; ++i) {
      const uint32_t len = info.codes[i] >> 16, code = info.codes[i] & 0xFFFF;
      for (uint8_t tail : {0x00, 0xFF}) {
        uint8_t buf[8];
        std::fill(buf, buf + 8, tail);
        const uint64_t word = (uint64_t{code} << (64 - len)) | (tail ? (~uint64_t{0} >> len) : 0);
        for (int b = 0; b < 8; ++b) buf[b] = static_cast<uint8_t>(word >> (56 - 8 * b));
        mp3::BitReader bits(buf, sizeof buf);
        int x = -1, y = -1;
        ASSERT_TRUE(mp3::DecodePair(t, bits, x, y)) << "table " << t << " entry " << i;
        EXPECT_EQ(x, i / info.size);
        EXPECT_EQ(y, i % info.size);
        EXPECT_EQ(bits.position(), len);
      }
    }
  }
  for (int v = 0; v < 16; ++v) {
    const uint32_t len = mp3::kCount1TableA[v] >> 16, code = mp3::kCount1TableA[v] & 0xFFFF;
    uint8_t buf[4] = {static_cast<uint8_t>(code << (8 - len)), 0, 0, 0};
    mp3::BitReader bits(buf, sizeof buf);
    EXPECT_EQ(mp3::DecodeQuad(0, bits), v);
    EXPECT_EQ(bits.position(), len);
    uint8_t b4[1] = {static_cast<uint8_t>((15 - v) << 4)};
    mp3::BitReader bitsB(b4, 1);
    EXPECT_EQ(mp3::DecodeQuad(1, bitsB), v);
  }
  mp3::BitReader none(nullptr, 0);
  int x, y;
  EXPECT_FALSE(mp3::DecodePair(4, none, x, y));  // a table the standard leaves unused
}

TEST(Mp3BitReader, ReadsZerosPastItsLimit) {
  const uint8_t data[3] = {0xAB, 0xCD, 0xEF};
  mp3::BitReader bits(data, 2);  // the third byte is out of bounds
  EXPECT_EQ(bits.Read(4), 0xAu);
  EXPECT_EQ(bits.Read(12), 0xBCDu);
  EXPECT_FALSE(bits.overrun());
  EXPECT_EQ(bits.Read(8), 0u);
  EXPECT_TRUE(bits.overrun());
}

TEST(Mp3Decoder, AlwaysAdvancesAndNeverReadsPastTheFrame) {
  Mp3Decoder dec;
  std::vector<float> out(Mp3Decoder::kMaxSamplesPerFrame * 2);
  // Not a header: nothing consumed, the caller must search.
  const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(dec.DecodeFrame(junk, sizeof junk, out.data()).status, Mp3Status::kNoHeader);

  // A header and too few bytes: reported, the available bytes consumed.
  std::vector<uint8_t> frame(417, 0);
  frame[0] = 0xFF, frame[1] = 0xFB, frame[2] = 0x90, frame[3] = 0x64;
  Mp3Step s = dec.DecodeFrame(frame.data(), 100, out.data());
  EXPECT_EQ(s.status, Mp3Status::kTruncated);
  EXPECT_EQ(s.bytesConsumed, 100u);

  // Side information of all ones: every length field at its maximum, back-pointer out of reach.
  std::fill(frame.begin() + 4, frame.begin() + 36, 0xFF);
  s = dec.DecodeFrame(frame.data(), frame.size(), out.data());
  EXPECT_EQ(s.bytesConsumed, 417u);
  EXPECT_EQ(s.status, Mp3Status::kReservoir);
  EXPECT_EQ(s.framesProduced, 0);

  // Back-pointer 0, big_values 511 (> 288) and part2_3_length past the data: decoded as
  // far as it goes, flagged, and the output is finite.
  frame[4] = 0x00;
  frame[5] &= 0x7F;
  s = dec.DecodeFrame(frame.data(), frame.size(), out.data());
  EXPECT_EQ(s.status, Mp3Status::kCorrupt);
  EXPECT_EQ(s.framesProduced, 1152);
  for (float v : out) ASSERT_TRUE(std::isfinite(v));
}

TEST(Mp3Stream, VbrHeadersAndTags) {
  Mp3Header h;
  const uint8_t head[4] = {0xFF, 0xFB, 0x90, 0x64};
  ASSERT_TRUE(ParseMp3Header(head, h));
  std::vector<uint8_t> frame(417, 0);
  std::copy(head, head + 4, frame.begin());
  const auto put = [&](size_t at, const char* tag, uint32_t flags, uint32_t frames) {
    std::copy(tag, tag + 4, frame.begin() + static_cast<long>(at));
    for (int i = 0; i < 4; ++i) frame[at + 4 + i] = static_cast<uint8_t>(flags >> (24 - 8 * i));
    for (int i = 0; i < 4; ++i) frame[at + 8 + i] = static_cast<uint8_t>(frames >> (24 - 8 * i));
  };
  put(36, "Xing", 1, 117);
  Mp3VbrHeader v = ParseMp3VbrHeader(frame.data(), frame.size(), h);
  EXPECT_TRUE(v.present && v.hasFrames);
  EXPECT_EQ(v.frames, 117u);
  put(36, "Info", 0, 117);  // flags without bit 0: no count
  v = ParseMp3VbrHeader(frame.data(), frame.size(), h);
  EXPECT_TRUE(v.present);
  EXPECT_FALSE(v.hasFrames);
  put(36, "Xing", 1, 0);  // a count of 0 must not be used as a length
  EXPECT_FALSE(ParseMp3VbrHeader(frame.data(), frame.size(), h).hasFrames);
  put(36, "Abcd", 1, 5);
  EXPECT_FALSE(ParseMp3VbrHeader(frame.data(), frame.size(), h).present);

  const uint8_t id3[10] = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0x02, 0x01};  // 257 bytes, footer
  EXPECT_EQ(Id3v2TagSize(id3, 10), 10u + 257u + 10u);
  const uint8_t bad[10] = {'I', 'D', '3', 3, 0, 0, 0x80, 0, 0, 0};  // not syncsafe
  EXPECT_EQ(Id3v2TagSize(bad, 10), 0u);
}

}  // namespace
}  // namespace quillet::formats
