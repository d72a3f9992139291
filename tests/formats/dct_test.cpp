#include "formats/dct.h"

#include <gtest/gtest.h>

#include "formats/wav_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;

std::string SmallWave() {
  std::vector<std::int16_t> v;
  for (int i = 0; i < 800; ++i) v.push_back(static_cast<std::int16_t>(i * 37 - 9000));
  return Riff(Chunk("fmt ", FmtBody(MakePcmFormat(8000, 1, 16), true)) + Chunk("data", Pcm16Data(v)));
}

audio::SourceHandle Open(const std::string& bytes, std::string* message) {
  return OpenDctSource(std::make_shared<platform::MemoryByteSource>(bytes), message);
}

TEST(Dct, NotesAndAttachmentsAreSkippedAndTheAudioIsTheWave) {
  const std::string wave = SmallWave();
  const std::string file = BuildDct(wave, 3, 0, 1, "call the client back", {{"memo.txt", "hello"}, {"", ""}});
  DctLayout layout;
  std::string why;
  platform::MemoryByteSource bytes(file);
  ASSERT_EQ(ParseDct(bytes, &layout, &why), audio::SoundStatus::Ready) << why;
  EXPECT_EQ(layout.notes, "call the client back");
  ASSERT_EQ(layout.attachments.size(), 2u);
  EXPECT_EQ(layout.attachments[0].name, "memo.txt");
  EXPECT_EQ(layout.audioBytes, wave.size());

  audio::SourceHandle src = Open(file, &why);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->sampleRate(), 8000);
  EXPECT_EQ(src->length(), 800);
  std::vector<audio::Sample> s(800);
  src->read(s.data(), 800);
  EXPECT_EQ(s[0], -9000 * 16);
  EXPECT_EQ(s[799], (799 * 37 - 9000) * 16);
}

TEST(Dct, EveryBrokenFieldIsRefusedWithItsMessage) {
  const std::string wave = SmallWave();
  std::string wrongSize = BuildDct(wave);
  wrongSize.push_back('\0');  // one byte more than the stated total
  std::string hugeNotes = BuildDct(wave, 1, 0, 1, "n");
  hugeNotes[10] = '\xff';
  hugeNotes[11] = '\xff';
  std::string hugeAttachment = BuildDct(wave, 1, 0, 1, "", {{"a", "1234"}});
  hugeAttachment[22] = '\x7f';  // the data size's top byte
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"version 4", BuildDct(wave, 4), "file corruption."},
      {"size", wrongSize, "file corruption."},
      {"truncated header", BuildDct(wave).substr(0, 7), "file corruption."},
      {"encrypted", BuildDct(wave, 2, 2), "encrypted"},
      {"zero channels", BuildDct(wave, 3, 0, 0), "(zero channels error). Please ask the dictator to send it again."},
      {"notes", hugeNotes, "(notes error)."},
      {"attachment", hugeAttachment, "(attachment too large)."},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Keep the stated total equal to the size where the test is not about it.
    if (std::string(c.what) != "size" && c.bytes.size() >= 6)
      platform::StoreLE32(reinterpret_cast<unsigned char*>(c.bytes.data() + 2),
                          static_cast<std::uint32_t>(c.bytes.size()));
    std::string why;
    audio::SourceHandle src = Open(c.bytes, &why);
    EXPECT_EQ(src->status(), audio::SoundStatus::Corrupt);
    EXPECT_NE(why.find(c.message), std::string::npos) << why;
  }
  // Before version 2 the flags carry no meaning.
  std::string why;
  EXPECT_TRUE(Open(BuildDct(wave, 1, 2), &why)->ready()) << why;
  // A broken WAVE inside is the WAVE reader's to report.
  EXPECT_EQ(Open(BuildDct("RIFF"), &why)->status(), audio::SoundStatus::Corrupt);
}

}  // namespace
}  // namespace quillet::formats
