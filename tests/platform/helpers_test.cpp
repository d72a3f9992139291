#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "fixtures/temp_dir.h"
#include "platform/frame_time.h"
#include "platform/paths.h"
#include "platform/record_file.h"

namespace quillet::platform {
namespace {

TEST(FrameTime, KeepsTheRemainderAndRoundsDown) {
  EXPECT_EQ(MsFromFrames(44100, 44100), 1000);
  EXPECT_EQ(MsFromFrames(44099, 44100), 999);
  EXPECT_EQ(MsFromFrames(100, 44100), 2);  // 2.27 ms
  EXPECT_EQ(FramesFromMs(1500, 44100), 66150);
  EXPECT_EQ(FramesFromMs(1, 44100), 44);
  EXPECT_EQ(FramesFromMs(999, 8000), 7992);
  // Beyond 32 bits: 30 hours at 96 kHz stereo positions.
  const std::int64_t frames = std::int64_t{96000} * 3600 * 30 + 95999;
  EXPECT_EQ(MsFromFrames(frames, 96000), std::int64_t{1000} * 3600 * 30 + 999);
  EXPECT_EQ(FramesFromMs(std::int64_t{1000} * 3600 * 30, 96000), frames - 95999);
  // A plain ms * rate would overflow here.
  const std::int64_t bigMs = std::numeric_limits<std::int64_t>::max() / 100000;
  EXPECT_GT(FramesFromMs(bigMs, 96000), 0);
  EXPECT_EQ(MsFromFrames(1000, 0), 0);  // no division by a zero rate
  EXPECT_EQ(FramesFromMs(1000, -5), 0);
}

// Both directions round down, so a round trip may lose at most one millisecond,
// and none at rates that are whole kHz.
TEST(FrameTime, RoundTripsLoseAtMostOneMillisecond) {
  for (int rate : {6000, 8000, 11025, 22050, 44100, 48000, 96000})
    for (std::int64_t ms = 0; ms < 3000; ms += 7) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, " << ms << " ms");
      const std::int64_t back = MsFromFrames(FramesFromMs(ms, rate), rate);
      EXPECT_LE(back, ms);
      EXPECT_GE(back, rate % 1000 == 0 ? ms : ms - 1);
    }
}

TEST(Paths, JoinAndExtensionRules) {
  EXPECT_EQ(JoinPath("/home/a", "b.wav"), "/home/a/b.wav");
  EXPECT_EQ(JoinPath("/home/a/", "b.wav"), "/home/a/b.wav");
  EXPECT_EQ(JoinPath("", "b.wav"), "b.wav");
  EXPECT_EQ(PathExtension("/x/song.final.MP3"), ".MP3");
  EXPECT_EQ(PathExtension("/x.dir/readme"), "");
  EXPECT_EQ(PathExtension("/x/.hidden"), ".hidden");
  EXPECT_EQ(PathExtension("noext"), "");
  EXPECT_EQ(ReplaceExtension("/a.b/c.wav", ".mp3"), "/a.b/c.mp3");
  EXPECT_EQ(ReplaceExtension("/a.b/c", ".mp3"), "/a.b/c.mp3");
  EXPECT_EQ(PathFileName("/a/b/c.wav"), "c.wav");
  EXPECT_EQ(PathFolder("/a/b/c.wav"), "/a/b");
  EXPECT_EQ(PathFolder("/c.wav"), "/");
  EXPECT_TRUE(SameExtension(".WaV", ".wav"));
  EXPECT_FALSE(SameExtension(".wav", ".wv"));
  EXPECT_TRUE(FitsPathLimit(std::string(259, 'a')));
  EXPECT_FALSE(FitsPathLimit(std::string(260, 'a')));
}

TEST(RecordFile, RoundTripsEveryFieldLittleEndian) {
  RecordWriter w;
  w.U8(1);
  w.U16(0xBEEF);
  w.U32(0x12345678);
  w.I32(-2);
  w.U64(0x0102030405060708ull);
  ASSERT_TRUE(w.Text("/home/user/take 1.wav"));
  ASSERT_TRUE(w.ok());
  const std::string& b = w.bytes();
  ASSERT_EQ(b.size(), 1u + 2 + 4 + 4 + 8 + 260);
  EXPECT_EQ(static_cast<unsigned char>(b[1]), 0xEF);  // low byte first
  EXPECT_EQ(static_cast<unsigned char>(b[3]), 0x78);

  RecordReader r(b);
  EXPECT_EQ(r.U8(), 1);
  EXPECT_EQ(r.U16(), 0xBEEF);
  EXPECT_EQ(r.U32(), 0x12345678u);
  EXPECT_EQ(r.I32(), -2);
  EXPECT_EQ(r.U64(), 0x0102030405060708ull);
  EXPECT_EQ(r.Text(), "/home/user/take 1.wav");
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.AtEnd());
}

TEST(RecordFile, TextThatDoesNotFitIsRefusedNotCut) {
  RecordWriter w;
  EXPECT_TRUE(w.Text(std::string(259, 'a')));
  EXPECT_TRUE(w.ok());
  EXPECT_FALSE(w.Text(std::string(260, 'a')));
  EXPECT_FALSE(w.ok());
  RecordWriter nul;
  EXPECT_FALSE(nul.Text(std::string("a\0b", 3)));
}

TEST(RecordFile, ShortOrUnterminatedDataNeverOverreads) {
  // A text field without any zero byte reads as its first 259 bytes.
  const std::string full(260, 'x');
  RecordReader r(full);
  EXPECT_EQ(r.Text(), std::string(259, 'x'));
  EXPECT_TRUE(r.ok());

  RecordReader shortText(std::string(100, 'y'));
  EXPECT_EQ(shortText.Text(), "");
  EXPECT_FALSE(shortText.ok());

  const std::string three("\x01\x02\x03", 3);
  RecordReader s(three);
  EXPECT_EQ(s.U16(), 0x0201);
  EXPECT_EQ(s.U32(), 0u);  // one byte left: fails, reads zero
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.U8(), 0);  // stays failed
  EXPECT_TRUE(s.AtEnd());

  RecordReader b(three);
  EXPECT_EQ(b.Bytes(5), three);
  EXPECT_FALSE(b.ok());
}

TEST(RecordFile, AtomicWriteReplacesWholeOrNotAtAll) {
  quillet::testing::TempDir dir;
  const auto file = dir / "a.qlp";
  ASSERT_TRUE(WriteFileAtomically(file, "first"));
  ASSERT_TRUE(WriteFileAtomically(file, "second"));
  std::string back;
  ASSERT_TRUE(ReadFile(file, back));
  EXPECT_EQ(back, "second");
  EXPECT_FALSE(WriteFileAtomically(dir / "missing" / "a.qlp", "x"));
  std::filesystem::create_directory(dir / "isdir");
  EXPECT_FALSE(WriteFileAtomically(dir / "isdir", "x"));
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2);  // no temporary file left behind
}

}  // namespace
}  // namespace quillet::platform
