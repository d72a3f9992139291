// quillet-cli bookmarks and project: the ".qbm" changed from the command line, and a
// project made of files, listed, and taken apart again into the same audio.
#include <gtest/gtest.h>

#include "apply_fixture.h"
#include "fixtures/temp_dir.h"
#include "formats/document_io.h"
#include "formats/wav_writer.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

using testing::TempDir;

CliOutput Cli(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"--settings", (dir / "settings").string()});
  return RunWithTable(args);
}

// A 16-bit WAVE file of frames frames, each sample its frame number times 16.
void WriteWave(const std::filesystem::path& file, int channels, int frames) {
  audio::SinkHandle sink = formats::MakeWaveFormatSink(file, formats::MakePcmFormat(44100, channels, 16), {});
  std::vector<audio::Sample> block(static_cast<std::size_t>(channels * frames));
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<audio::Sample>((i / channels) % 2000) * 16;
  sink->write(block.data(), frames);
  ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
}

TEST(ProjectCli, BookmarksAreAddedReplacedAndDeletedInTheQbm) {
  TempDir dir;
  const std::string take = (dir / "take.wav").string();
  WriteWave(take, 2, 3 * 44100);
  CliOutput r = Cli(dir, {"bookmarks", take, "--add", "Intro@1500"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(testing::ReadFileBytes(dir / "take.qbm").size(), 531u);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Name\tTime\tTimes Visited\tLast Visited");
  EXPECT_NE(r.out.find("Intro\t0:00:01.50\t1\t"), std::string::npos) << r.out;

  // A name may hold '@': the position follows the last one. The same name replaces.
  r = Cli(dir, {"bookmarks", take, "--add", "a@b@2000", "--add", "INTRO@100"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("a@b\t0:00:02.00"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("INTRO\t0:00:00.10"), std::string::npos);
  EXPECT_EQ(r.out.find("Intro\t"), std::string::npos);
  EXPECT_EQ(testing::ReadFileBytes(dir / "take.qbm").size(), 2u + 2 * 529);

  struct Refusal {
    std::vector<std::string> args;
    const char* says;
  } refusals[] = {
      {{"--add", "Outro@3001"}, "outside the audio"},
      {{"--add", "Outro"}, "NAME@MS"},
      {{"--add", "@5"}, "NAME@MS"},
      {{"--delete", "nothing"}, "no bookmark \"nothing\""},
      {{"--add"}, "usage"},
  };
  for (const Refusal& f : refusals) {
    std::vector<std::string> args{"bookmarks", take};
    args.insert(args.end(), f.args.begin(), f.args.end());
    r = Cli(dir, args);
    EXPECT_EQ(r.status, 2) << f.says;
    EXPECT_NE(r.err.find(f.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(testing::ReadFileBytes(dir / "take.qbm").size(), 2u + 2 * 529);  // refusals change nothing

  r = Cli(dir, {"bookmarks", take, "--delete", "a@b", "--delete", "intro"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "take.qbm"));
}

TEST(ProjectCli, CreateListAndExtractGiveBackTheSameAudio) {
  TempDir dir;
  WriteWave(dir / "one.wav", 2, 10000);
  std::filesystem::create_directories(dir / "other");
  WriteWave(dir / "other" / "one.wav", 1, 3000);
  ASSERT_EQ(Cli(dir, {"bookmarks", (dir / "one.wav").string(), "--add", "Mark@100"}).status, 0);
  CliOutput r = Cli(dir, {"project", "create", (dir / "p.qlp").string(), (dir / "one.wav").string(),
                          (dir / "other" / "one.wav").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  // Two documents, one bookmark, no region.
  EXPECT_EQ(testing::ReadFileBytes(dir / "p.qlp").size(), 5u + 2 * 549 + 8 * 10000 + 4 * 3000 + 529);

  r = Cli(dir, {"project", "list", (dir / "p.qlp").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("document 1\t" + (dir / "one.wav").string() + "\trate=44100\tchannels=2\tframes=10000"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("document 2 (active)"), std::string::npos);
  EXPECT_NE(r.out.find("bookmark\tMark\tone.wav\t0:00:00.10"), std::string::npos);

  std::filesystem::create_directories(dir / "out");
  r = Cli(dir, {"project", "extract", (dir / "p.qlp").string(), (dir / "out").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  // The second "one.wav" must not overwrite the first.
  EXPECT_EQ(testing::ReadFileBytes(dir / "out" / "one.wav"), testing::ReadFileBytes(dir / "one.wav"));
  EXPECT_EQ(testing::ReadFileBytes(dir / "out" / "one (2).wav"),
            testing::ReadFileBytes(dir / "other" / "one.wav"));

  r = Cli(dir, {"project", "extract", (dir / "p.qlp").string(), (dir / "out").string(), "--format", "m3u"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot write .m3u"), std::string::npos) << r.err;

  testing::WriteFileBytes(dir / "bad.qlp", std::string("\x01\x01", 2) + std::string(100, 'x'));
  r = Cli(dir, {"project", "list", (dir / "bad.qlp").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cut short"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quillet::app
