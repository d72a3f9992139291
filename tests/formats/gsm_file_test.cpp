// GSM 06.10 files: frame arithmetic, the encoder's quality and seeking (interop_test
// compares with sox, which is on libgsm too).
#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "formats/simple_formats.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

TEST(GsmFile, WritesWholeFramesAndReadsThemBack) {
  TempDir dir;
  const auto file = dir / "a.gsm";
  const auto in = TestSignal(1000, 1, 0.5);  // 6 frames and a quarter
  auto sink = MakeGsmSink(file, 44100, 2);
  EXPECT_EQ(sink->sampleRate(), 8000u);
  EXPECT_EQ(sink->channels(), 1);
  ASSERT_TRUE(WriteAllTo(*sink, in));
  const std::string bytes = ReadFileBytes(file);
  ASSERT_EQ(bytes.size(), 7u * 33);
  for (std::size_t f = 0; f < 7; ++f) EXPECT_EQ(static_cast<unsigned char>(bytes[33 * f]) >> 4, 0xD);
  auto src = OpenGsmFile(file);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->sampleRate(), 8000);
  EXPECT_EQ(src->length(), 7 * 160);
  auto out = ReadAll(*src);
  out.resize(in.size());
  EXPECT_GT(SnrOf(in, out), 5.0);  // a vocoder: far from exact, never unrelated
}

TEST(GsmFile, LengthCountsWholeFramesAndTheSignatureIsNotRequired) {
  TempDir dir;
  const auto file = dir / "b.gsm";
  WriteFileBytes(file, std::string(33 * 3 + 20, '\0'));  // no 0xD nibbles, a partial frame
  auto src = OpenGsmFile(file);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->length(), 480);
  const auto out = ReadAll(*src);
  EXPECT_EQ(out.size(), 480u);
  EXPECT_EQ(OpenGsmFile(dir / "missing.gsm")->status(), audio::SoundStatus::CannotOpen);
}

TEST(GsmFile, SeekingLandsOnTheSameAudio) {
  TempDir dir;
  const auto file = dir / "c.gsm";
  ASSERT_TRUE(WriteAllTo(*MakeGsmSink(file), TestSignal(16000, 1, 0.6)));
  auto src = OpenGsmFile(file);
  const auto all = ReadAll(*src);
  for (audio::FramePos at : {0, 5, 160, 4321, 8000, 159, 15990}) {
    SCOPED_TRACE(at);
    src->seek(at);
    std::vector<Sample> got(200);
    src->read(got.data(), 200);
    std::vector<Sample> want(all.begin() + at, all.begin() + std::min<audio::FramePos>(at + 200, src->length()));
    want.resize(200, 0);
    // The decoder restarts a few frames early; its state has settled by then.
    EXPECT_LE(MaxAbsDiff(got, want), 16) << SnrOf(want, got);
  }
}

}  // namespace
}  // namespace quillet::formats
