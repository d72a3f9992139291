// Headerless files in the fixed-width codings (interop_test compares with sox).
#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "formats/raw_file.h"
#include "formats/simple_formats.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using audio::SoundStatus;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

TEST(Raw, LengthComesFromTheFileAndPartialFramesAreDropped) {
  auto src = OpenRawSource(std::make_shared<platform::MemoryByteSource>(std::string(11, '\0')), RawSettings{8000, 2, kRawPcm16LE});
  EXPECT_EQ(src->length(), 2);
  // Reads around the ends are silent.
  src->seek(-1);
  std::vector<Sample> buf(8, 7);
  src->read(buf.data(), 4);
  EXPECT_EQ(buf, std::vector<Sample>(8, 0));
  EXPECT_EQ(src->position(), 3);
}

TEST(Raw, SettingsOutsideTheRangesAreRefused) {
  auto bytes = [] { return std::make_shared<platform::MemoryByteSource>(std::string(8, '\0')); };
  EXPECT_EQ(OpenRawSource(bytes(), RawSettings{8000, 1, 7})->status(), SoundStatus::Empty);
  EXPECT_EQ(OpenRawSource(bytes(), RawSettings{8000, 1, -1})->status(), SoundStatus::Empty);
  EXPECT_EQ(OpenRawSource(bytes(), RawSettings{0, 1, 3})->status(), SoundStatus::Corrupt);
  EXPECT_EQ(OpenRawSource(bytes(), RawSettings{196001, 1, 3})->status(), SoundStatus::Corrupt);
  EXPECT_EQ(OpenRawSource(bytes(), RawSettings{8000, 0, 3})->status(), SoundStatus::Corrupt);
  EXPECT_EQ(OpenRawSource(bytes(), RawSettings{8000, 256, 3})->status(), SoundStatus::Corrupt);
  // Dialogic ADPCM is mono whatever the record says.
  auto vox = OpenRawSource(bytes(), RawSettings{8000, 2, kRawDialogicAdpcm});
  EXPECT_TRUE(vox->ready());
  EXPECT_EQ(vox->channels(), 1);
  EXPECT_EQ(OpenRawFile("/nonexistent.raw", RawSettings{})->status(), SoundStatus::CannotOpen);
  TempDir dir;
  EXPECT_FALSE(MakeRawSink(dir / "x.raw", 8000, 1, 7));
  EXPECT_TRUE(MakeRawSink(dir / "x.raw", 0, 1, 3)->failed());
  EXPECT_TRUE(MakeRawSink(dir / "no/such/folder/x.raw", 8000, 1, 3)->failed());
}

TEST(Raw, WritersRoundTripAndSaturate) {
  TempDir dir;
  const std::vector<Sample> edge = {600000, -600000, 524287, -524288, 2047, 2048, -2048, -2049, 0, 8, -8, 16 * 1234};
  for (int codec = 1; codec < kRawCodecCount; ++codec) {
    SCOPED_TRACE(kRawCodecNames[static_cast<std::size_t>(codec)]);
    const auto file = dir / "w.raw";
    ASSERT_TRUE(WriteAllTo(*MakeRawSink(file, 8000, 2, codec), edge));
    EXPECT_EQ(ReadFileBytes(file).size(), edge.size() * (codec == kRawPcm16LE || codec == kRawPcm16BE ? 2 : 1));
    auto src = OpenRawFile(file, RawSettings{8000, 2, codec});
    ASSERT_TRUE(src->ready());
    const auto out = ReadAll(*src);
    ASSERT_EQ(out.size(), edge.size());
    // Full scale positive and negative clip to the coding's extremes; none wraps.
    EXPECT_GT(out[0], 0);
    EXPECT_LT(out[1], 0);
    EXPECT_EQ(out[0], out[2]);
    EXPECT_EQ(out[1], out[3]);
    EXPECT_LE(std::abs(out[8]), 128);  // A-law has no zero: its smallest step is 8
    // Rewriting what was read gives the same bytes.
    const std::string first = ReadFileBytes(file);
    ASSERT_TRUE(WriteAllTo(*MakeRawSink(file, 8000, 2, codec), out));
    EXPECT_EQ(ReadFileBytes(file), first);
  }
}

TEST(Raw, TruncateCutsTheFile) {
  TempDir dir;
  const auto file = dir / "t.raw";
  auto sink = MakeRawSink(file, 8000, 2, kRawPcm16BE);
  const auto in = TestSignal(50, 2);
  sink->write(in.data(), 50);
  sink->truncate(60);  // more than written: nothing happens
  EXPECT_EQ(sink->framesWritten(), 50);
  sink->truncate(20);
  sink->write(in.data(), 5);
  ASSERT_TRUE(sink->Finish());
  EXPECT_EQ(ReadFileBytes(file).size(), 25u * 4);
}

TEST(Raw, AbandonedSaveLeavesTheOldFile) {
  TempDir dir;
  const auto file = dir / "keep.raw";
  WriteFileBytes(file, "old");
  auto sink = MakeRawSink(file, 8000, 1, kRawPcm16LE);
  const auto in = TestSignal(100, 1);
  sink->write(in.data(), 100);
  sink->Abandon();
  sink = {};
  EXPECT_EQ(ReadFileBytes(file), "old");
}

}  // namespace
}  // namespace quillet::formats
