// Sun AU: the header fields against the file (interop_test reads every encoding against
// sox and ffmpeg).
#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"
#include "formats/simple_formats.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using audio::SoundStatus;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;

std::string Au(std::uint32_t offset, std::uint32_t size, std::uint32_t encoding, std::uint32_t rate, std::uint32_t channels,
               const std::string& data) {
  std::string h = ".snd" + BE32(offset) + BE32(size) + BE32(encoding) + BE32(rate) + BE32(channels);
  if (offset > 24) h += std::string(offset - 24, 'n');  // an annotation, as sox writes
  return h + data;
}

audio::SourceHandle Open(const std::string& bytes, ParseLog* log = nullptr) {
  return OpenAuSource(std::make_shared<platform::MemoryByteSource>(bytes), log);
}

TEST(Au, DataOffsetAndSizeAreTakenFromTheHeaderAndChecked) {
  // sox puts an annotation before the samples: they start at the offset, not at 24.
  auto src = Open(Au(44, 4, 3, 8000, 1, BE16(1000) + BE16(static_cast<std::uint16_t>(-1000))));
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(ReadAll(*src), (std::vector<Sample>{16000, -16000}));
  // Unknown size: to the end; a size past the end: what is there.
  EXPECT_EQ(Open(Au(24, 0xFFFFFFFF, 3, 8000, 1, std::string(10, '\0')))->length(), 5);
  ParseLog log;
  EXPECT_EQ(Open(Au(24, 1000000, 3, 8000, 1, std::string(10, '\0')), &log)->length(), 5);
  EXPECT_TRUE(log.HasCorrections());
  // A smaller size stops early (trailing bytes are not audio).
  EXPECT_EQ(Open(Au(24, 4, 3, 8000, 1, std::string(10, '\0')))->length(), 2);
  // An offset inside the header is taken as 24.
  EXPECT_EQ(Open(Au(8, 4, 3, 8000, 1, std::string(4, '\0')))->length(), 2);
  // u-law never reaches full scale: the bound tells the limiter so.
  EXPECT_EQ(Open(Au(24, 4, 1, 8000, 1, std::string(4, '\x80')))->peakBound(), 0x7E000u);
}

TEST(Au, BadFilesGiveTheirStatus) {
  EXPECT_EQ(Open(".snd")->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 3, 8000, 1, "").replace(0, 4, "RIFF"))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 3, 0, 1, ""))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 3, 196001, 1, ""))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 3, 8000, 0, ""))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 3, 8000, 256, ""))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 3, 8000, 255, ""))->status(), SoundStatus::Ready);
  EXPECT_EQ(Open(Au(24, 0, 3, 8000, 1, "").replace(4, 4, BE32(5000)))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Au(24, 0, 23, 8000, 1, ""))->status(), SoundStatus::CodecMissing);
  EXPECT_EQ(Open(Au(24, 0, 26, 8000, 1, ""))->status(), SoundStatus::CodecMissing);  // G.723 ADPCM
  EXPECT_EQ(OpenAuFile("/nonexistent.au")->status(), SoundStatus::CannotOpen);
}

TEST(Au, WrittenFileHasTheFinalSizeAndReadsBack) {
  TempDir dir;
  const auto file = dir / "w.au";
  auto in = TestSignal(777, 2);
  in[5] = 1 << 22;  // clips
  ASSERT_TRUE(WriteAllTo(*MakeAuSink(file, 48000, 2), in));
  const std::string b = ReadFileBytes(file);
  const auto* p = reinterpret_cast<const unsigned char*>(b.data());
  ASSERT_EQ(b.size(), 24u + 777u * 4);
  EXPECT_EQ(b.substr(0, 4), ".snd");
  EXPECT_EQ(platform::LoadBE32(p + 4), 24u);
  EXPECT_EQ(platform::LoadBE32(p + 8), 777u * 4);
  EXPECT_EQ(platform::LoadBE32(p + 12), 3u);
  EXPECT_EQ(platform::LoadBE32(p + 16), 48000u);
  EXPECT_EQ(platform::LoadBE32(p + 20), 2u);
  auto src = OpenAuFile(file);
  ASSERT_TRUE(src->ready());
  in[5] = 32767 * 16;
  EXPECT_EQ(ReadAll(*src), in);
}

}  // namespace
}  // namespace quillet::formats
