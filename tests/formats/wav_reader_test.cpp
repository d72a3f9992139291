#include "formats/wav_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fixtures/temp_dir.h"
#include "wav_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::SoundStatus;

audio::SourceHandle Open(std::string bytes, ParseLog* log = nullptr) {
  return OpenWaveSource(std::make_shared<platform::MemoryByteSource>(std::move(bytes)), log);
}

std::string Pcm16File(int channels, const std::vector<std::int16_t>& samples, std::uint32_t rate = 44100) {
  return Riff(Chunk("fmt ", FmtBody(MakePcmFormat(rate, channels, 16))) + Chunk("data", Pcm16Data(samples)));
}

TEST(WavReader, SixteenByteFmtAndChunksBetweenFmtAndDataWithPadBytes) {
  const std::string file = Riff(Chunk("fmt ", FmtBody(MakePcmFormat(8000, 1, 16), /*sixteen=*/true)) +
                                Chunk("LIST", "odd") + Chunk("junk", std::string(6, 'x')) +
                                Chunk("data", Pcm16Data({1, -2, 3})));
  ParseLog log;
  auto src = Open(file, &log);
  ASSERT_TRUE(src->ready()) << log.Text();
  EXPECT_EQ(src->sampleRate(), 8000);
  EXPECT_EQ(ReadAll(*src), (std::vector<audio::Sample>{16, -32, 48}));
  EXPECT_FALSE(log.HasCorrections());
}

TEST(WavReader, TopLevelChunkBeforeRiffIsSkipped) {
  const std::string file = Chunk("JUNK", std::string(9, 'j')) + Pcm16File(1, {5, 6});
  auto src = Open(file);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->length(), 2);
}

TEST(WavReader, DataSizesThatLieAreClampedToTheFile) {
  // 0xFFFFFFFF (a killed save): the frames come from the file size.
  std::string unfinished = Riff(Chunk("fmt ", FmtBody(MakePcmFormat(44100, 2, 16))) + "data" + U32(0xFFFFFFFF) +
                                Pcm16Data({1, 2, 3, 4, 5}), 0xFFFFFFFF);
  ParseLog log;
  auto a = Open(unfinished, &log);
  ASSERT_TRUE(a->ready());
  EXPECT_EQ(a->length(), 2);  // the half frame at the end is not a frame
  EXPECT_FALSE(log.HasCorrections());

  // A stated size past the end is corrected (logged) rather than read as 4 GiB of silence.
  std::string cut = Riff(Chunk("fmt ", FmtBody(MakePcmFormat(44100, 1, 16))) + "data" + U32(4000000000u) +
                         Pcm16Data({7, 8, 9}));
  ParseLog log2;
  auto b = Open(cut, &log2);
  ASSERT_TRUE(b->ready());
  EXPECT_EQ(b->length(), 3);
  EXPECT_TRUE(log2.HasCorrections());
  // The user is told once how much the header promised and how much was there; the
  // unfinished recording and a whole file say nothing.
  auto noticesOf = [](const audio::SourceHandle& src) {
    const auto* n = dynamic_cast<const SourceNotices*>(src.get());
    return n ? n->notices() : std::vector<std::string>{"not a notice source"};
  };
  EXPECT_EQ(noticesOf(b), std::vector<std::string>{"The file is cut short: its header promises 45351.474 s of "
                                                   "audio (4000000000 bytes), only 0.000 s (6 bytes) are there."});
  EXPECT_TRUE(noticesOf(a).empty());
  EXPECT_TRUE(noticesOf(Open(Pcm16File(1, {1, 2}))).empty());
}

TEST(WavReader, BitsPickTheSampleWidth) {
  struct Case {
    int bits, width;
  };
  for (const Case c : {Case{0, 1}, Case{8, 1}, Case{12, 2}, Case{16, 2}, Case{20, 3}, Case{24, 3}, Case{32, 4}}) {
    SCOPED_TRACE(c.bits);
    WaveFormat f = MakePcmFormat(44100, 1, 16);
    f.bits = static_cast<std::uint16_t>(c.bits);
    auto src = Open(Riff(Chunk("fmt ", FmtBody(f)) + Chunk("data", std::string(12, '\x10'))));
    ASSERT_TRUE(src->ready());
    EXPECT_EQ(src->length(), 12 / c.width);
  }
}

TEST(WavReader, RateChannelAndFmtLimits) {
  auto withFormat = [](WaveFormat f) { return Open(Riff(Chunk("fmt ", FmtBody(f)) + Chunk("data", "\0\0"))); };
  EXPECT_TRUE(withFormat(MakePcmFormat(196000, 1, 16))->ready());
  EXPECT_EQ(withFormat(MakePcmFormat(196001, 1, 16))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(withFormat(MakePcmFormat(0, 1, 16))->status(), SoundStatus::Corrupt);
  EXPECT_TRUE(withFormat(MakePcmFormat(8000, 255, 8))->ready());
  EXPECT_EQ(withFormat(MakePcmFormat(8000, 256, 8))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(withFormat(MakePcmFormat(8000, 0, 8))->status(), SoundStatus::Corrupt);

  const std::string fmt = FmtBody(MakePcmFormat(8000, 1, 16));
  EXPECT_EQ(Open(Riff(Chunk("fmt ", fmt.substr(0, 15)) + Chunk("data", "\0\0")))->status(), SoundStatus::Corrupt);
  EXPECT_EQ(Open(Riff(Chunk("fmt ", fmt + std::string(8193 - fmt.size(), '\0')) + Chunk("data", "\0\0")))->status(),
            SoundStatus::Corrupt);
  // A fmt chunk whose stated size runs past the end of the file.
  EXPECT_EQ(Open(Riff("fmt " + U32(100) + fmt))->status(), SoundStatus::Corrupt);
}

TEST(WavReader, TruncatedAndForeignFilesAreCorrupt) {
  const std::string good = Pcm16File(1, {1, 2, 3});
  for (std::size_t n : {0, 4, 11, 12, 20, 36, 43}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Open(good.substr(0, n))->status(), SoundStatus::Corrupt);
  }
  EXPECT_EQ(Open("FORM\0\0\0\4AIFF")->status(), SoundStatus::Corrupt);
  // No data chunk after fmt.
  EXPECT_EQ(Open(Riff(Chunk("fmt ", FmtBody(MakePcmFormat(8000, 1, 16)))))->status(), SoundStatus::Corrupt);
}

TEST(WavReader, CodecStatusForUnknownAndBrokenRecords) {
  WaveFormat mp3;
  mp3.tag = 0x1234;
  ParseLog log;
  auto a = Open(Riff(Chunk("fmt ", FmtBody(mp3)) + Chunk("data", "abcd")), &log);
  EXPECT_EQ(a->status(), SoundStatus::CodecMissing);
  EXPECT_FALSE(log.lines().empty());

  // Extensible with its extension cut off is a broken file, not a missing codec.
  WaveFormat ext = MakeExtensibleFormat(44100, 2, 24, wave_tag::kPcm);
  ext.extra.resize(10);
  EXPECT_EQ(Open(Riff(Chunk("fmt ", FmtBody(ext)) + Chunk("data", "abcdef")))->status(), SoundStatus::Corrupt);

  // A cbSize beyond the chunk is cut and logged; the file still opens.
  std::string fmt = FmtBody(MakePcmFormat(8000, 1, 16));
  fmt[16] = 100;
  ParseLog log2;
  EXPECT_TRUE(Open(Riff(Chunk("fmt ", fmt) + Chunk("data", "\0\0")), &log2)->ready());
  EXPECT_TRUE(log2.HasCorrections());
}

// A file larger than RIFF sizes can describe, without writing 4 GiB.
class HugeByteSource final : public platform::ByteSource {
 public:
  explicit HugeByteSource(std::string head) : head_(std::move(head)) {}
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t n) override {
    std::memset(out, 0, n);
    if (offset < head_.size()) std::memcpy(out, head_.data() + offset, std::min<std::size_t>(n, head_.size() - offset));
    return n;
  }
  std::uint64_t Size() const override { return kMaxRiffFileBytes + 1; }

 private:
  std::string head_;
};

TEST(WavReader, FilesOver4GiBAreRefused) {
  const std::string head = Riff(Chunk("fmt ", FmtBody(MakePcmFormat(44100, 2, 16))) + "data" + U32(0xFFFFFFFF), 0xFFFFFFFF);
  ParseLog log;
  auto src = OpenWaveSource(std::make_shared<HugeByteSource>(head), &log);
  EXPECT_EQ(src->status(), SoundStatus::Corrupt);
  ASSERT_FALSE(log.lines().empty());
  EXPECT_NE(log.lines().back().find("4 GiB"), std::string::npos);
}

TEST(WavReader, ReadsBeforeStartAndPastEndAreSilent) {
  std::vector<std::int16_t> v;
  for (int i = 1; i <= 20; ++i) v.push_back(static_cast<std::int16_t>(i));
  auto src = Open(Pcm16File(2, v));
  ASSERT_EQ(src->length(), 10);
  src->seek(-4);
  std::vector<audio::Sample> out(20, -1);
  src->read(out.data(), 10);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], 0);
  for (int i = 8; i < 20; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], (i - 7) * 16);
  EXPECT_EQ(src->position(), 6);
  src->read(out.data(), 10);  // frames 6..15: four real, six beyond the end
  EXPECT_EQ(out[7], 20 * 16);
  for (int i = 8; i < 20; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], 0);
  EXPECT_EQ(src->position(), 16);
}

TEST(WavReader, LongReadsCrossTheInternalBlock) {
  std::vector<std::int16_t> v(2 * 20000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::int16_t>(i % 30000);
  auto src = Open(Pcm16File(2, v));
  const auto all = ReadAll(*src);
  ASSERT_EQ(all.size(), v.size());
  for (std::size_t i = 0; i < v.size(); i += 997) EXPECT_EQ(all[i], v[i] * 16) << i;
}

TEST(WavReader, MissingFileCannotOpenAndNoDescriptorLeaks) {
  quillet::testing::TempDir dir;
  const int before = quillet::testing::OpenDescriptorCount();
  EXPECT_EQ(OpenWaveFile(dir / "none.wav")->status(), SoundStatus::CannotOpen);
  quillet::testing::WriteFileBytes(dir / "a.wav", Pcm16File(1, {1, 2}));
  {
    auto src = OpenWaveFile(dir / "a.wav");
    EXPECT_TRUE(src->ready());
  }
  EXPECT_EQ(quillet::testing::OpenDescriptorCount(), before);
}

}  // namespace
}  // namespace quillet::formats
