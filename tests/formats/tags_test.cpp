// Tags: ID3v1.1 at the end of MP3 files and RIFF INFO/DISP in WAVE files, read, edited
// and written without touching the audio.
#include <gtest/gtest.h>

#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/format_table.h"
#include "formats/tags.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

// Tags written into an existing file the way a save writes them into its own.
bool WriteTagsInto(const std::filesystem::path& file, const LAudioTagList& tags) {
  const FinishingStep step = TagStep(RowForFile(file).tags, tags);
  const std::unique_ptr<WritableBytes> bytes = OpenWritableFile(file);
  std::string why;
  return step && bytes && step(*bytes, &why);
}

LAudioTagList Full() {
  LAudioTagList t;
  t.Set(kTagTitle, "A Title");
  t.Set(kTagArtist, "Somebody");
  t.Set(kTagAlbum, "Records");
  t.Set(kTagGenre, "jAzZ");
  t.Set(kTagTrack, "7");
  t.Set(kTagDate, "1999");
  t.Set(kTagComment, "fine");
  return t;
}

TEST(TagList, SetReplacesOrAppendsAndGetOfMissingIsEmpty) {
  LAudioTagList t;
  t.Set("A", "1");
  t.Set("B", "2");
  t.Set("A", "3");
  ASSERT_EQ(t.entries().size(), 2u);
  EXPECT_EQ(t.entries()[0].second, "3");
  EXPECT_EQ(t.Get("C"), "");
  EXPECT_EQ(Id3Genres().size(), 148u);
  EXPECT_EQ(Id3Genres()[147], "Synthpop");
  EXPECT_EQ(GenreIndex("JAZZ"), 8);
  EXPECT_FALSE(GenreIndex("Jazzz"));
  EXPECT_EQ(TagEditorFields()[5].label, "Copyright");
}

TEST(Id3v1, AppendedOnceThenRewrittenInPlace) {
  MemoryWritableBytes mp3(std::string(1000, '\x55'));
  ASSERT_TRUE(WriteId3v1(mp3, Full()));
  ASSERT_EQ(mp3.Size(), 1128u);
  const std::string& b = mp3.bytes();
  EXPECT_EQ(b.substr(0, 1000), std::string(1000, '\x55'));
  EXPECT_EQ(b.substr(1000, 3), "TAG");
  EXPECT_EQ(static_cast<unsigned char>(b[1000 + 127]), 8);  // jazz
  EXPECT_EQ(b[1000 + 125], '\0');  // a track number makes the comment 28 bytes
  EXPECT_EQ(static_cast<unsigned char>(b[1000 + 126]), 7);
  LAudioTagList second;
  second.Set(kTagArtist, "Other");
  second.Set(kTagGenre, "200");
  ASSERT_TRUE(WriteId3v1(mp3, second));
  EXPECT_EQ(mp3.Size(), 1128u);
  LAudioTagList back;
  ASSERT_TRUE(ReadId3v1(mp3, back));
  EXPECT_EQ(back.Get(kTagTitle), "A Title");  // empty values left fields alone
  EXPECT_EQ(back.Get(kTagArtist), "Other");
  EXPECT_EQ(back.Get(kTagGenre), "200");
  EXPECT_EQ(back.Get(kTagTrack), "7");
  EXPECT_EQ(back.Get(kTagDate), "1999");
  EXPECT_EQ(back.Get(kTagComment), "fine");
}

TEST(Id3v1, FieldsAreCutAndNumbersDoNotWrap) {
  MemoryWritableBytes mp3("");
  LAudioTagList t;
  t.Set(kTagTitle, std::string(40, 'x'));
  t.Set(kTagComment, std::string(40, 'c'));
  t.Set(kTagDate, "2024-05-01");
  t.Set(kTagGenre, "300");
  t.Set(kTagTrack, "256");
  t.Set(kTagArtist, "Ærø ☃");  // Latin-1 in the file; what it cannot hold becomes '?'
  ASSERT_TRUE(WriteId3v1(mp3, t));
  LAudioTagList back;
  ASSERT_TRUE(ReadId3v1(mp3, back));
  EXPECT_EQ(back.Get(kTagTitle), std::string(29, 'x'));
  EXPECT_EQ(back.Get(kTagComment), std::string(28, 'c'));
  EXPECT_EQ(back.Get(kTagDate), "2024");
  EXPECT_EQ(back.Get(kTagArtist), "Ærø ?");
  EXPECT_FALSE(back.Has(kTagGenre));  // 300 did not become 44; no genre was set
  EXPECT_FALSE(back.Has(kTagTrack));  // 256 did not become 0
}

TEST(Id3v1, ReadsVersionOneZeroAndNoTag) {
  std::string tag = "TAG" + std::string(30, '\0');
  tag += "Artist" + std::string(24, ' ') + std::string(30, '\0') + "2001" + std::string(29, 'c') + "Z" + std::string(1, '\xC8');
  ASSERT_EQ(tag.size(), 128u);
  MemoryWritableBytes mp3("audio" + tag);
  LAudioTagList t;
  ASSERT_TRUE(ReadId3v1(mp3, t));
  EXPECT_EQ(t.Get(kTagArtist), "Artist");
  EXPECT_EQ(t.Get(kTagComment), std::string(29, 'c') + "Z");
  EXPECT_FALSE(t.Has(kTagTrack));
  EXPECT_EQ(t.Get(kTagGenre), "200");
  MemoryWritableBytes none(std::string(500, 'T'));
  EXPECT_FALSE(ReadId3v1(none, t));
}

// A WAVE file of ours with frames of a known signal.
std::string MakeWave(const TempDir& dir, int frames, int bits = 16) {
  const auto file = dir / "w.wav";
  auto sink = MakeWavePcmSink(file, 8000, 0, bits, 1);
  EXPECT_TRUE(WriteAllTo(*sink, TestSignal(frames, 1)));
  return ReadFileBytes(file);
}

std::vector<audio::Sample> WaveAudio(const std::string& bytes) {
  auto src = OpenWaveSource(std::make_shared<platform::MemoryByteSource>(bytes));
  EXPECT_TRUE(src->ready());
  return ReadAll(*src);
}

TEST(RiffTags, WrittenReadBackAndTheAudioIsUntouched) {
  TempDir dir;
  const std::string wave = MakeWave(dir, 1001);
  MemoryWritableBytes file(wave);
  ASSERT_TRUE(WriteRiffTags(file, Full()));
  EXPECT_EQ(file.bytes().substr(0, wave.size()), wave.substr(0, 4) + file.bytes().substr(4, 4) + wave.substr(8));
  EXPECT_EQ(platform::LoadLE32(reinterpret_cast<const unsigned char*>(file.bytes().data()) + 4), file.Size() - 8);
  EXPECT_EQ(WaveAudio(file.bytes()), WaveAudio(wave));
  LAudioTagList back;
  ASSERT_TRUE(ReadRiffTags(file, back));
  const LAudioTagList full = Full();
  for (const auto& [key, value] : full.entries()) EXPECT_EQ(back.Get(key), value) << key;

  // Same lengths: rewritten in place.
  LAudioTagList same = Full();
  same.Set(kTagArtist, "Nobodyyy");
  same.Set(kTagTitle, "B Title");
  const auto size = file.Size();
  ASSERT_TRUE(WriteRiffTags(file, same));
  EXPECT_EQ(file.Size(), size);
  back.clear();
  ReadRiffTags(file, back);
  EXPECT_EQ(back.Get(kTagArtist), "Nobodyyy");
  EXPECT_EQ(back.Get(kTagTitle), "B Title");

  // Other lengths: appended; the old entries no longer read.
  LAudioTagList longer;
  longer.Set(kTagTitle, "A much longer title");
  longer.Set(kTagComment, "");
  ASSERT_TRUE(WriteRiffTags(file, longer));
  back.clear();
  ReadRiffTags(file, back);
  EXPECT_EQ(back.Get(kTagTitle), "A much longer title");
  EXPECT_EQ(back.Get(kTagArtist), "Nobodyyy");  // kept from the file
  EXPECT_FALSE(back.Has(kTagComment));          // cleared
  EXPECT_EQ(WaveAudio(file.bytes()), WaveAudio(wave));
}

// Files other programs left unfinished: data without its pad byte, a data size of
// 0xFFFFFFFF, a fragment after the last chunk. The tags appended must read back and the
// audio stay as it was.
TEST(RiffTags, DamagedEndsAreMendedBeforeTagsAreAppended) {
  TempDir dir;
  std::string unpadded = MakeWave(dir, 1001, 8);  // 1001 bytes of data
  ASSERT_EQ(unpadded.size() % 2, 0u);
  unpadded.pop_back();
  std::string unfinished = MakeWave(dir, 500);
  const auto dataSizeAt = unfinished.find("data") + 4;
  unfinished.replace(dataSizeAt, 4, U32(0xFFFFFFFF));
  const struct {
    const char* name;
    std::string wave;
  } cases[] = {{"no pad byte", unpadded},
               {"unfinished", unfinished},
               {"fragment", MakeWave(dir, 10) + "abc"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryWritableBytes file(c.wave);
    ASSERT_TRUE(WriteRiffTags(file, Full()));
    LAudioTagList back;
    ASSERT_TRUE(ReadRiffTags(file, back));
    EXPECT_EQ(back.Get(kTagAlbum), "Records");
    EXPECT_EQ(WaveAudio(file.bytes()), WaveAudio(c.wave));
  }
  MemoryWritableBytes padded(unpadded);
  ASSERT_TRUE(WriteRiffTags(padded, Full()));
  EXPECT_EQ(padded.bytes()[unpadded.size()], '\0');
  MemoryWritableBytes closed(unfinished);
  ASSERT_TRUE(WriteRiffTags(closed, Full()));
  EXPECT_EQ(platform::LoadLE32(reinterpret_cast<const unsigned char*>(closed.bytes().data()) +
                               dataSizeAt),
            1000u);
  EXPECT_EQ(WaveAudio(closed.bytes()).size(), 500u);
}

TEST(RiffTags, OnlyTextDispIsATitle) {
  TempDir dir;
  const std::string wave = MakeWave(dir, 10);
  const std::string picture = "DISP" + U32(8) + U32(8) + "BMP!";
  MemoryWritableBytes file(wave + picture);
  LAudioTagList t;
  EXPECT_FALSE(ReadRiffTags(file, t));
  t.Set(kTagTitle, "x");
  ASSERT_TRUE(WriteRiffTags(file, t));
  EXPECT_NE(file.bytes().find(picture), std::string::npos);  // the picture is left alone
  LAudioTagList back;
  ASSERT_TRUE(ReadRiffTags(file, back));
  EXPECT_EQ(back.Get(kTagTitle), "x");
}

TEST(RiffTags, NotAWaveFileIsLeftAlone) {
  MemoryWritableBytes junk(std::string(100, 'j'));
  EXPECT_FALSE(WriteRiffTags(junk, Full()));
  EXPECT_EQ(junk.bytes(), std::string(100, 'j'));
}

TEST(TagFiles, ByTheFormatTableOnly) {
  TempDir dir;
  const auto other = dir / "a.aif";
  WriteFileBytes(other, "FORM");
  EXPECT_FALSE(CanCarryTags(other));
  EXPECT_FALSE(TagStep(RowForFile(other).tags, Full()));
  EXPECT_FALSE(TagStep(TagSupport::Id3v1, {}));  // nothing to write
  LAudioTagList none;
  EXPECT_FALSE(ReadTags(none, other));
  EXPECT_EQ(ReadFileBytes(other), "FORM");
  EXPECT_FALSE(OpenWritableFile(dir / "missing.mp3"));
  EXPECT_FALSE(OpenWritableFile(dir.path()));  // a folder is no file
  const auto mp3 = dir / "b.MP3";
  WriteFileBytes(mp3, std::string(300, '\0'));
  EXPECT_TRUE(CanCarryTags(mp3));
  ASSERT_TRUE(WriteTagsInto(mp3, Full()));
  LAudioTagList back;
  ASSERT_TRUE(ReadTags(back, mp3));
  EXPECT_EQ(back.Get(kTagGenre), "Jazz");
}

TEST(TagFiles, TaggedWaveStillReadsTheSameInSoxAndFfmpeg) {
  QUILLET_REQUIRE_PROGRAMS("sox", "ffmpeg");
  TempDir dir;
  MakeWave(dir, 4001, 8);
  const auto file = dir / "w.wav";
  const auto before = SoxDecode(file);
  ASSERT_TRUE(WriteTagsInto(file, Full()));
  EXPECT_EQ(SoxDecode(file), before);
  EXPECT_EQ(FfmpegDecode(file), before);
  const std::string meta = CaptureOutput("ffprobe -loglevel error -show_entries format_tags -of default=nw=1 " + Quote(file));
  EXPECT_NE(meta.find("Somebody"), std::string::npos) << meta;
}

}  // namespace
}  // namespace quillet::formats
