// quillet-cli convert: the writer OUT's extension chooses, the input's tags carried
// inside the save, and stored options it cannot use named on stderr.
#include <gtest/gtest.h>

#include "apply_fixture.h"
#include "fixtures/temp_dir.h"
#include "formats/format_table.h"
#include "formats/tags.h"
#include "formats/wav_writer.h"

namespace quillet::app {
namespace {

TEST(Convert, CarriesTheTagsAndNamesStoredOptionsItCannotUse) {
  testing::TempDir dir;
  formats::LAudioTagList tags;
  tags.Set(formats::kTagTitle, "Field Notes");
  tags.Set(formats::kTagArtist, "Somebody");
  const auto in = dir / "in.wav";
  {
    audio::SinkHandle sink = formats::MakeWaveFormatSink(
        in, formats::MakePcmFormat(22050, 2, 16), formats::TagStep(formats::TagSupport::RiffInfo, tags));
    std::vector<audio::Sample> block(2 * 1000, 1600);
    sink->write(block.data(), 1000);
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
  }
  ApplyRun r = RunCliIn(dir / "cfg", {"convert", in.string(), (dir / "out.wav").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  formats::LAudioTagList back;
  ASSERT_TRUE(formats::ReadTags(back, dir / "out.wav"));
  EXPECT_EQ(back.Get(formats::kTagTitle), "Field Notes");
  EXPECT_EQ(back.Get(formats::kTagArtist), "Somebody");

  // A codec index that is no number: the default coding, said once.
  r = RunCliIn(dir / "cfg", {"--set", "RawAudio/Codec=ulaw", "convert", in.string(), (dir / "out.raw").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::filesystem::file_size(dir / "out.raw"), 1000u * 2 * 2);  // 16-bit, the document's stereo
  EXPECT_NE(r.err.find("RawAudio/Codec"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("RawAudio/Codec"), r.err.rfind("RawAudio/Codec")) << r.err;
}

// Converting streams from the reader to the writer: it needs no working folder, so one
// that cannot be made does not stop it, and the audio arrives whole.
TEST(Convert, NeedsNoWorkingFolder) {
  testing::TempDir dir;
  const auto in = dir / "in.wav";
  std::vector<audio::Sample> block(2 * 50000);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<audio::Sample>((i * 7919 % 65536) - 32768) * 16;
  {
    audio::SinkHandle sink = formats::MakeWaveFormatSink(in, formats::MakePcmFormat(44100, 2, 16));
    sink->write(block.data(), 50000);
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
  }
  const auto blocker = dir / "not-a-folder";
  testing::WriteFileBytes(blocker, "x");
  const ApplyRun r = RunCliIn(dir / "cfg", {"--set", "Settings/UseDefaultWorkingDir=0", "--set",
                                            "Settings/WorkingFolder=" + (blocker / "work").string(), "convert",
                                            in.string(), (dir / "out.wav").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testing::ReadFileBytes(dir / "out.wav"), testing::ReadFileBytes(in));
}

}  // namespace
}  // namespace quillet::app
