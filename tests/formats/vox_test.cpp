// Dialogic ADPCM: block-independent reading, exact seeking, the bounded predictor and
// the encoder's quality (interop_test compares with sox's decoder).
#include <gtest/gtest.h>

#include <random>

#include "fixtures/temp_dir.h"
#include "formats/simple_formats.h"
#include "formats/vox.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

audio::SourceHandle Vox(const std::string& bytes) {
  return OpenVoxSource(std::make_shared<platform::MemoryByteSource>(bytes));
}

TEST(Vox, TwoSamplesPerByteReadInAnyPieces) {
  const std::string bytes = RandomBytes(1000, 1);
  auto whole = Vox(bytes);
  ASSERT_TRUE(whole->ready());
  EXPECT_EQ(whole->sampleRate(), 8000);
  EXPECT_EQ(whole->length(), 2000);
  std::vector<Sample> six(6), a(3), b(3);
  whole->read(six.data(), 6);
  auto pieces = Vox(bytes);
  pieces->read(a.data(), 3);
  pieces->read(b.data(), 3);
  a.insert(a.end(), b.begin(), b.end());
  EXPECT_EQ(a, six);
  // The high nibble comes first: 0x70 is +7 then +0 from silence.
  auto first = Vox(std::string("\x70", 1));
  std::vector<Sample> two(2);
  first->read(two.data(), 2);
  EXPECT_EQ(two[0], (16 * 15 / 8) * 256);
  EXPECT_GT(two[1], two[0]);
}

TEST(Vox, SeekingAnywhereGivesWhatReadingFromTheStartGives) {
  const std::string bytes = RandomBytes(200000, 2);  // several decoder checkpoints
  auto src = Vox(bytes);
  const auto all = ReadAll(*src);
  for (audio::FramePos at : {399999, 131072, 131071, 1, 0, 65537, 300001, 7}) {
    SCOPED_TRACE(at);
    src->seek(at);
    std::vector<Sample> got(100);
    src->read(got.data(), 100);
    for (std::size_t i = 0; i < 100; ++i) {
      const auto idx = static_cast<std::size_t>(at) + i;
      EXPECT_EQ(got[i], idx < all.size() ? all[idx] : 0);
    }
  }
}

TEST(Vox, PredictorStaysWithinFullScale) {
  // Codes that only ever climb (7) or fall (15) must not run past 12 bits.
  for (char c : {'\x77', '\xFF'}) {
    auto src = Vox(std::string(5000, c));
    const auto out = ReadAll(*src);
    for (Sample s : out) ASSERT_LE(s, static_cast<Sample>(src->peakBound()));
    EXPECT_EQ(std::abs(out.back()), c == '\x77' ? 2047 * 256 : 2048 * 256);
  }
}

TEST(Vox, EncoderTracksTheSignal) {
  TempDir dir;
  const auto file = dir / "s.vox";
  const auto in = TestSignal(8001, 1, 0.5);  // an odd count: the last code is completed
  ASSERT_TRUE(WriteAllTo(*MakeVoxSink(file, 8000, 1), in));
  EXPECT_EQ(ReadFileBytes(file).size(), 4001u);
  auto src = OpenVoxFile(file, RawSettings{8000, 1, kRawDialogicAdpcm});
  ASSERT_EQ(src->length(), 8002);
  auto out = ReadAll(*src);
  out.resize(in.size());
  EXPECT_GT(SnrOf(in, out), 20.0);
  // Other codecs of the VOX record write their own coding.
  ASSERT_TRUE(WriteAllTo(*MakeVoxSink(file, 8000, 1, kRawPcm16LE), in));
  EXPECT_EQ(ReadFileBytes(file).size(), 2 * in.size());
}

TEST(Vox, EncoderAndDecoderShareTheirState) {
  DialogicAdpcm enc, dec;
  std::mt19937 gen(3);
  for (int i = 0; i < 10000; ++i) {
    const Sample x = static_cast<Sample>(gen() % 1048576) - 524288;
    dec.Decode(enc.Encode(x));
    ASSERT_EQ(enc, dec);
  }
}

}  // namespace
}  // namespace quillet::formats
