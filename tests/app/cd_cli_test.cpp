// quillet-cli cd: the disc's contents, CDDB names for ripped files, a medium error
// that leaves no file, and a burn whose disc reads back as the files burned.
#include <gtest/gtest.h>

#include "apply_fixture.h"
#include "fixtures/cd_image.h"
#include "fixtures/line_server.h"
#include "fixtures/temp_dir.h"

namespace quillet::app {
namespace {

using testing::TempDir;

CliOutput Cli(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"--settings", (dir / "settings").string()});
  return RunWithTable(args);
}

TEST(CdCli, TocLookupRipAndBurnBack) {
  TempDir dir;
  const auto cue = testing::WriteDiscImage(dir.path(), "disc", {{300}, {320, 150}, {310}});
  const std::string drive = "sim:" + cue.string();

  CliOutput r = Cli(dir, {"cd", "toc", drive});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("track=2 start=450 length=320 type=audio"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("leadout=1080"), std::string::npos);

  testing::LineServer server("201 ready\r\n", [](const std::string& line) -> std::string {
    if (line.starts_with("cddb query")) return "200 misc 0f000e03 Disc\r\n";
    if (line.starts_with("cddb read"))
      return "210 misc entry\r\nDTITLE=Me / Songs\r\nTTITLE0=Intro: Part 1\r\nTTITLE1=Second\r\n"
             "TTITLE2=Last\r\n.\r\n";
    return "200 ok\r\n";
  });
  const std::string cddb = "127.0.0.1:" + std::to_string(server.port());
  std::filesystem::create_directories(dir / "out");
  r = Cli(dir, {"cd", "rip", drive, (dir / "out").string(), "--tracks", "1,3", "--cddb", cddb});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "Intro_ Part 1.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "Last.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "Second.wav"));

  // A medium error in track 1: its file is not made, track 2 still is, status 2.
  testing::WriteFileBytes(dir / "disc.faults", "medium-error 200\n");
  std::filesystem::create_directories(dir / "bad");
  r = Cli(dir, {"cd", "rip", drive, (dir / "bad").string(), "--tracks", "1-2", "--no-cddb"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Reading track 1 failed at 0:02.50 (sector 200)"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "bad" / "Track 01.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir / "bad" / "Track 02.wav"));
  std::filesystem::remove(dir / "disc.faults");

  const std::string blank = "sim-blank:" + (dir / "burned.cue").string();
  r = Cli(dir, {"cd", "burn", blank, (dir / "out" / "Intro_ Part 1.wav").string(),
                (dir / "out" / "Last.wav").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Cli(dir, {"cd", "toc", "sim:" + (dir / "burned.cue").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  // Track 1 held its 300 sectors and track 2's 150-sector pregap; each went on at its size.
  EXPECT_NE(r.out.find("track=1 start=0 length=600"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("track=2 start=600 length=310"), std::string::npos) << r.out;

  r = Cli(dir, {"cd", "toc", "7"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no CD drive 7"), std::string::npos);
}

}  // namespace
}  // namespace quillet::app
