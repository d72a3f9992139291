// The CDDB dialogue against a scripted server on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include "cd/cddb.h"
#include "fixtures/line_server.h"

namespace quillet::cd {
namespace {

using testing::LineServer;

CdDisc ThreeTrackDisc() {
  return DiscFromToc(Toc{{{1, true, 0}, {2, true, 15000}, {3, true, 30000}}, 45000});
}

const char* kEntry =
    "210 rock 0c025803 CD database entry follows\r\n"
    "# xmcd\r\nDISCID=0c025803\r\nDTITLE=The Band / The Album\r\nTTITLE0=First\r\n"
    "TTITLE1=Second\r\nTTITLE2=Third\r\nEXTD=YEAR: 1999\r\n.\r\n";

// A server answering the query with queryReply and the read with kEntry.
LineServer::Responder Server(std::string queryReply) {
  return [queryReply](const std::string& line) -> std::string {
    if (line.starts_with("cddb hello")) return "200 hello and welcome\r\n";
    if (line.starts_with("cddb query")) return queryReply;
    if (line.starts_with("cddb read")) return kEntry;
    return "";
  };
}

// A 211 reply with n matches and no closing ".".
std::string MatchList(int n) {
  std::string s = "211 close matches found\r\n";
  for (int i = 0; i < n; ++i) s += "rock 0c02580" + std::to_string(i % 10) + " Some / Disc\r\n";
  return s;
}

CddbOutcome Lookup(CdDisc& disc, int port) {
  return CddbLookup(disc, {"127.0.0.1", port}, {});
}

TEST(Cddb, DialogueIsExactAndTitlesNameTheTracks) {
  LineServer server("201 test CDDBP server ready\r\n", Server("200 rock 0c025803 The Album\r\n"));
  CdDisc disc = ThreeTrackDisc();
  std::string connectedTo;
  CddbHooks hooks;
  hooks.connected = [&](std::string_view host) { connectedTo = host; };
  ASSERT_EQ(CddbLookup(disc, {"127.0.0.1", server.port()}, hooks).kind, CddbOutcome::Found);
  EXPECT_EQ(connectedTo, "127.0.0.1");
  const std::vector<std::string> expected = {
      "cddb hello undef localhost Quillet 2.10",
      "cddb query 0c025803 3 150 15150 30150 600",
      "cddb read rock 0c025803",
      "quit",
  };
  for (int i = 0; i < 50 && server.received().size() < expected.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(server.received(), expected);
  EXPECT_EQ(disc.category, "rock");
  EXPECT_EQ(disc.artist, "The Band");
  EXPECT_EQ(disc.title, "The Album");
  EXPECT_EQ(disc.year, 1999);
  EXPECT_EQ(disc.tracks[0].title, "First");
  EXPECT_EQ(disc.tracks[2].title, "Third");
}

// The whole match list is read before the read command, or its next line would be
// taken for the read's reply.
TEST(Cddb, MatchListIsReadToItsEndBeforeTheRead) {
  LineServer server("200 ready\r\n",
                    Server("211 close matches found\r\nmisc 0c025803 Other / One\r\n"
                           "rock 0c025804 Another / Two\r\n.\r\n"));
  CdDisc disc = ThreeTrackDisc();
  ASSERT_EQ(Lookup(disc, server.port()).kind, CddbOutcome::Found);
  EXPECT_EQ(disc.category, "misc");
  EXPECT_EQ(disc.tracks[1].title, "Second");
}

TEST(Cddb, FailuresLeaveTheDefaultTitles) {
  const struct {
    const char* what;
    const char* greeting;
    std::string queryReply;
    CddbOutcome::Kind kind;
  } cases[] = {
      {"no match", "200 ready\r\n", "202 No match found\r\n", CddbOutcome::NoMatch},
      {"refused greeting", "432 no connections allowed\r\n", "", CddbOutcome::Failed},
      {"query error", "200 ready\r\n", "500 Command syntax error\r\n", CddbOutcome::Failed},
      {"match list without an end", "200 ready\r\n", MatchList(kMaxMatchLines + 5),
       CddbOutcome::Failed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LineServer server(c.greeting, Server(c.queryReply));
    CdDisc disc = ThreeTrackDisc();
    EXPECT_EQ(Lookup(disc, server.port()).kind, c.kind);
    EXPECT_EQ(disc.tracks[0].title, "Track 01");
    EXPECT_EQ(disc.category, "");
  }
}

TEST(Cddb, SilentServerAndCancelAreBounded) {
  LineServer silent("", [](const std::string&) { return std::string(); });
  CdDisc disc = ThreeTrackDisc();
  int polls = 0;
  CddbHooks hooks;
  hooks.cancel = [&] { return ++polls > 3; };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CddbLookup(disc, {"127.0.0.1", silent.port()}, hooks).kind, CddbOutcome::Cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

  // Nothing listens on port 1: refused at once, not a hang.
  EXPECT_EQ(Lookup(disc, 1).kind, CddbOutcome::Failed);
}

TEST(Cddb, ServerSettingTakesHostAndPort) {
  const struct {
    const char* text;
    std::optional<platform::HostPort> expected;
  } cases[] = {
      {"freedb.example", platform::HostPort{"freedb.example", 8880}},
      {"cddb.example:8000", platform::HostPort{"cddb.example", 8000}},
      {"[::1]:888", platform::HostPort{"::1", 888}},
      {"::1", platform::HostPort{"::1", 8880}},
      {"host:99999", std::nullopt},
      {"host:0", std::nullopt},
      {":8880", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(platform::ParseHostPort(c.text, kDefaultCddbPort), c.expected);
  }
  EXPECT_EQ(CategoryOfQueryReply("200 jazz 0c025803 Title"), "jazz");
  EXPECT_EQ(CategoryOfQueryReply("200"), "");
}

}  // namespace
}  // namespace quillet::cd
