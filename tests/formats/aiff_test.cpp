// AIFF: the header we write and the reader's checks against the file (interop_test
// compares with sox and ffmpeg).
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

// An 80-bit extended number for an integer rate, built independently of the writer.
std::string Extended(std::uint32_t rate, int exponentAdjust = 0) {
  int top = 31;
  while (!(rate >> top & 1)) --top;
  return BE16(static_cast<std::uint16_t>(16383 + top + exponentAdjust)) + BE32(rate << (31 - top)) + BE32(0);
}

std::string Comm(int channels, int bits, const std::string& rate) {
  return "COMM" + BE32(18) + BE16(static_cast<std::uint16_t>(channels)) + BE32(0) + BE16(static_cast<std::uint16_t>(bits)) + rate;
}
std::string Ssnd(const std::string& samples, std::uint32_t offset = 0, std::int64_t stated = -1) {
  const auto size = stated >= 0 ? static_cast<std::uint32_t>(stated) : static_cast<std::uint32_t>(8 + offset + samples.size());
  return "SSND" + BE32(size) + BE32(offset) + BE32(0) + std::string(offset, 'x') + samples;
}
std::string Form(const std::string& chunks, const char* type = "AIFF") {
  return "FORM" + BE32(static_cast<std::uint32_t>(4 + chunks.size())) + type + chunks;
}
std::string Be16Samples(const std::vector<std::int16_t>& v) {
  std::string s;
  for (std::int16_t x : v) s += BE16(static_cast<std::uint16_t>(x));
  return s;
}

audio::SourceHandle Open(const std::string& bytes, ParseLog* log = nullptr) {
  return OpenAiffSource(std::make_shared<platform::MemoryByteSource>(bytes), log);
}

TEST(Aiff, WrittenHeaderDescribesTheData) {
  TempDir dir;
  const auto file = dir / "a.aif";
  auto sink = MakeAiffSink(file, 44100, 2);
  ASSERT_TRUE(WriteAllTo(*sink, TestSignal(100, 2)));
  const std::string b = ReadFileBytes(file);
  ASSERT_EQ(b.size(), 54u + 400u);
  const auto* p = reinterpret_cast<const unsigned char*>(b.data());
  EXPECT_EQ(b.substr(0, 4), "FORM");
  EXPECT_EQ(platform::LoadBE32(p + 4), 446u);
  EXPECT_EQ(b.substr(8, 8), "AIFFCOMM");
  EXPECT_EQ(platform::LoadBE16(p + 20), 2);
  EXPECT_EQ(platform::LoadBE32(p + 22), 100u);
  EXPECT_EQ(platform::LoadBE16(p + 26), 16);
  EXPECT_EQ(b.substr(28, 10), Extended(44100));
  EXPECT_EQ(b.substr(38, 4), "SSND");
  EXPECT_EQ(platform::LoadBE32(p + 42), 408u);
}

TEST(Aiff, RoundTripIsExactAndSaturates) {
  TempDir dir;
  for (std::uint32_t rate : {1u, 2u, 8000u, 11025u, 44100u, 196000u}) {
    SCOPED_TRACE(rate);
    const auto file = dir / "r.aiff";
    auto in = TestSignal(3000, 3);
    in[0] = 600000;  // beyond full scale: clips instead of wrapping
    in[1] = -700000;
    ASSERT_TRUE(WriteAllTo(*MakeAiffSink(file, rate, 3), in));
    auto src = OpenAiffFile(file);
    ASSERT_TRUE(src->ready());
    EXPECT_EQ(src->sampleRate(), static_cast<std::int32_t>(rate));
    EXPECT_EQ(src->channels(), 3);
    EXPECT_EQ(src->length(), 3000);
    const auto out = ReadAll(*src);
    EXPECT_EQ(out[0], 32767 * 16);
    EXPECT_EQ(out[1], -32768 * 16);
    EXPECT_TRUE(std::equal(in.begin() + 2, in.end(), out.begin() + 2));
  }
}

// Odd chunks with or without their pad byte, chunks in any order, the sample offset, and
// 8-bit samples, which are signed.
TEST(Aiff, ChunkLayoutsAndWidthsReadTheirSamples) {
  const std::string comm = Comm(1, 16, Extended(22050));
  const std::string data = Be16Samples({100, -200, 300});
  const std::vector<Sample> tones = {1600, -3200, 4800};
  const struct {
    const char* name;
    std::string bytes;
    std::vector<Sample> want;
  } cases[] = {
      {"padded odd chunk", Form(comm + "NAME" + BE32(3) + "abc" + '\0' + Ssnd(data)), tones},
      {"unpadded odd chunk", Form(comm + "NAME" + BE32(3) + "abc" + Ssnd(data)), tones},
      {"sound first, with an offset",
       Form(Ssnd(Be16Samples({7, 8}), 4) + Comm(1, 16, Extended(8000))),
       {112, 128}},
      {"8 bits",
       Form(Comm(1, 8, Extended(8000)) + Ssnd(std::string("\x80\x7F\x00\x01", 4))),
       {-128 * 4096, 127 * 4096, 0, 4096}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ParseLog log;
    auto src = Open(c.bytes, &log);
    ASSERT_TRUE(src->ready()) << log.Text();
    EXPECT_EQ(ReadAll(*src), c.want);
  }
}

TEST(Aiff, SizesAreCheckedAgainstTheFile) {
  // An SSND that claims more than there is reads only what is there.
  ParseLog log;
  auto src = Open(Form(Comm(2, 16, Extended(8000)) + Ssnd(Be16Samples({1, 2, 3, 4}), 0, 0x7FFFFFF0)), &log);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->length(), 2);
  EXPECT_TRUE(log.HasCorrections()) << log.Text();
  // An unfinished file (size 0xFFFFFFFF) runs to the end.
  src = Open(Form(Comm(1, 16, Extended(8000)) + Ssnd(Be16Samples({1, 2, 3}), 0, 0xFFFFFFFF)));
  EXPECT_EQ(src->length(), 3);
  // An SSND smaller than its own offset fields holds nothing.
  src = Open(Form(Comm(1, 16, Extended(8000)) + "SSND" + BE32(4) + BE32(0)));
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->length(), 0);
}

TEST(Aiff, BadFilesGiveTheirStatus) {
  const std::string ok = Ssnd(Be16Samples({1}));
  struct Case {
    const char* name;
    std::string bytes;
    SoundStatus want;
  };
  const std::vector<Case> cases = {
      {"empty", "", SoundStatus::Corrupt},
      {"aifc", Form(Comm(1, 16, Extended(8000)) + ok, "AIFC"), SoundStatus::Corrupt},
      {"wave", "RIFF" + BE32(4) + "WAVE", SoundStatus::Corrupt},
      {"no ssnd", Form(Comm(1, 16, Extended(8000))), SoundStatus::Corrupt},
      {"no comm", Form(ok), SoundStatus::Corrupt},
      {"short comm", Form("COMM" + BE32(10) + std::string(10, '\0') + ok), SoundStatus::Corrupt},
      {"0 channels", Form(Comm(0, 16, Extended(8000)) + ok), SoundStatus::Corrupt},
      {"256 channels", Form(Comm(256, 16, Extended(8000)) + ok), SoundStatus::Corrupt},
      {"257 channels", Form(Comm(257, 16, Extended(8000)) + ok), SoundStatus::Corrupt},
      {"rate 196001", Form(Comm(1, 16, Extended(196001)) + ok), SoundStatus::Corrupt},
      {"rate below 1", Form(Comm(1, 16, Extended(8000, -20)) + ok), SoundStatus::Corrupt},
      {"huge exponent", Form(Comm(1, 16, Extended(8000, 4000)) + ok), SoundStatus::Corrupt},
      {"negative rate", Form(Comm(1, 16, "\xC0\x0E" + BE32(0xAC440000) + BE32(0)) + ok), SoundStatus::Corrupt},
      {"0 bits", Form(Comm(1, 0, Extended(8000)) + ok), SoundStatus::Corrupt},
      {"40 bits", Form(Comm(1, 40, Extended(8000)) + ok), SoundStatus::CodecMissing},
      {"aifc ima4", Form(Comm(1, 16, Extended(8000)) + ok, "AIFC").replace(16, 4, BE32(22)).insert(38, "ima4"),
       SoundStatus::CodecMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Open(c.bytes)->status(), c.want);
  }
  EXPECT_EQ(OpenAiffFile("/nonexistent/x.aif")->status(), SoundStatus::CannotOpen);
}

}  // namespace
}  // namespace quillet::formats
