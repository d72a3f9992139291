#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"

namespace quillet::formats {
namespace {

TEST(WavRoundTrip, Placeholder) {
  testing::TempDir dir;
  auto sink = MakeWavePcmSink(dir / "a.wav", 44100, 0, 16, 2);
  ASSERT_FALSE(sink->failed());
  std::vector<audio::Sample> s = {16, -16, 32, -32};
  sink->write(s.data(), 2);
  ASSERT_TRUE(sink->Finish());
  auto src = OpenWaveFile(dir / "a.wav");
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->length(), 2);
}

}  // namespace
}  // namespace quillet::formats
