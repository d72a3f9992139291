// Playlists and feeds: the exact CR LF texts, the location rule, escaping in the XML
// ones, and a save that writes the MP3 and then the list (failing when it cannot).
#include <gtest/gtest.h>

#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/dispatch.h"
#include "formats/playlist.h"
#include "formats/save_options.h"

namespace quillet::formats {
namespace {

namespace fs = std::filesystem;

TEST(Playlist, TextsFollowTheTemplatesLineForLine) {
  PlaylistEntry e{PlaylistKind::M3u, "/srv/show.m3u", "http://example.org/pod", 88200, 44100, 0};
  EXPECT_EQ(PlaylistText(e), "#EXTM3U\r\n#EXTINF:2,show\r\nhttp://example.org/pod/show.mp3\r\n");
  e.kind = PlaylistKind::Pls;
  e.frames = 70560;  // 1.6 s: listed as 2
  EXPECT_EQ(PlaylistText(e),
            "[playlist]\r\nFile1=http://example.org/pod/show.mp3\r\nTitle1=show\r\nLength1=2\r\n"
            "NumberOfEntries=1\r\nVersion=2\r\n");
  e.rootUrl.clear();
  EXPECT_EQ(PlaylistText(e),
            "[playlist]\r\nFile1=show.mp3\r\nTitle1=show\r\nLength1=2\r\nNumberOfEntries=1\r\nVersion=2\r\n");
  e.kind = PlaylistKind::M3u;
  e.rootUrl = "http://example.org/";  // a final slash is not doubled
  EXPECT_EQ(PlaylistText(e), "#EXTM3U\r\n#EXTINF:2,show\r\nhttp://example.org/show.mp3\r\n");
}

TEST(Playlist, XmlListsEscapeWhatTheyQuote) {
  PlaylistEntry e{PlaylistKind::Wpl, "/srv/Tom & Jerry.wpl", "http://h/a?x=1&y=\"2\"", 44100, 44100, 0};
  const std::string wpl = PlaylistText(e);
  EXPECT_NE(wpl.find("<title>Tom &amp; Jerry</title>\r\n"), std::string::npos) << wpl;
  EXPECT_NE(wpl.find("<media src=\"http://h/a?x=1&amp;y=&quot;2&quot;/Tom &amp; Jerry.mp3\"/>"),
            std::string::npos)
      << wpl;
  e.kind = PlaylistKind::Rss;
  e.target = "/srv/show.rss";
  e.rootUrl = "http://example.org/pod";
  e.mp3Bytes = 12345;
  EXPECT_EQ(PlaylistText(e),
            "<?xml version=\"1.0\" ?>\r\n<rss version=\"2.0\">\r\n  <channel>\r\n"
            "      <title>show</title>\r\n      <description>show</description>\r\n"
            "      <link>http://example.org/pod</link>\r\n      <item>\r\n"
            "         <title>show</title>\r\n         <description>show</description>\r\n"
            "         <enclosure url=\"http://example.org/pod/show.mp3\" length=\"12345\" "
            "type=\"audio/mpeg\" />\r\n      </item>\r\n  </channel>\r\n</rss>\r\n");
}

TEST(Playlist, SaveWritesTheMp3BesideAndFailsWhenTheListCannotBeWritten) {
  QUILLET_REQUIRE_PROGRAMS("lame");
  testing::TempDir dir;
  settings::Settings s(settings::FolderLocations(dir / "cfg"));
  s.SetString(kPlaylistSection, "RootURL", "http://example.org/pod");
  const std::vector<audio::Sample> silence(2 * 44100 * 2, 0);
  auto save = [&](const fs::path& target) {
    audio::SinkHandle sink = MakeSaveSink(target, 44100, 2, s, 16, nullptr, nullptr);
    EXPECT_TRUE(sink);
    if (!sink) return std::string("no sink");
    sink->write(silence.data(), 2 * 44100);
    return sink->Finish() ? std::string() : sink->failureMessage();
  };
  ASSERT_EQ(save(dir / "two.m3u"), "");
  EXPECT_EQ(testing::ReadFileBytes(dir / "two.m3u"),
            "#EXTM3U\r\n#EXTINF:2,two\r\nhttp://example.org/pod/two.mp3\r\n");
  EXPECT_GT(fs::file_size(dir / "two.mp3"), 1000u);

  ASSERT_EQ(save(dir / "feed.rss"), "");
  EXPECT_NE(testing::ReadFileBytes(dir / "feed.rss")
                .find("length=\"" + std::to_string(fs::file_size(dir / "feed.mp3")) + "\""),
            std::string::npos);

  fs::create_directories(dir / "taken.pls");  // a folder where the list should go
  const std::string why = save(dir / "taken.pls");
  EXPECT_NE(why.find("Unable to create file"), std::string::npos) << why;
  EXPECT_TRUE(fs::exists(dir / "taken.mp3"));
}

}  // namespace
}  // namespace quillet::formats
