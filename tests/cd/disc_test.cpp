// Tables of contents from drives and the disc id of the CDDB algorithm.
#include <gtest/gtest.h>

#include "cd/disc.h"
#include "platform/byte_source.h"

namespace quillet::cd {
namespace {

// A format-0 reply: tracks as (number, control, address), then what the length
// field claims (negative: the true length).
std::vector<std::uint8_t> TocReply(const std::vector<std::array<std::int64_t, 3>>& entries,
                                   int claimed = -1) {
  std::vector<std::uint8_t> r(4, 0);
  for (const auto& e : entries) {
    std::uint8_t d[8] = {0, static_cast<std::uint8_t>(e[1]), static_cast<std::uint8_t>(e[0]), 0};
    platform::StoreBE32(d + 4, static_cast<std::uint32_t>(e[2]));
    r.insert(r.end(), d, d + 8);
  }
  platform::StoreBE16(r.data(), static_cast<std::uint16_t>(claimed >= 0 ? claimed : r.size() - 2));
  r[2] = 1;
  r[3] = static_cast<std::uint8_t>(entries.size() - 1);
  return r;
}

TEST(Toc, ReadsTracksAndDistrustsTheReply) {
  Toc toc;
  auto good = TocReply({{1, 0x10, 0}, {2, 0x10, 15000}, {3, 0x14, 30000}, {0xAA, 0x10, 45000}});
  ASSERT_EQ(ParseToc(good.data(), good.size(), &toc), "");
  ASSERT_EQ(toc.tracks.size(), 3u);
  EXPECT_FALSE(toc.tracks[2].audio);
  EXPECT_EQ(toc.leadOut, 45000);

  std::vector<std::array<std::int64_t, 3>> many;
  for (int i = 1; i <= 100; ++i) many.push_back({i, 0x10, i * 300});
  many.push_back({0xAA, 0x10, 101 * 300});
  const struct {
    const char* what;
    std::vector<std::uint8_t> reply;
    std::size_t received;
  } bad[] = {
      {"claims more than arrived", good, good.size() - 8},  // lead-out cut off
      {"length claims nothing", TocReply({{1, 0x10, 0}, {0xAA, 0x10, 9}}, 0), 20},
      {"addresses fall", TocReply({{1, 0x10, 500}, {2, 0x10, 400}, {0xAA, 0x10, 900}}), 28},
      {"equal addresses (a zero-length track)", TocReply({{1, 0x10, 0}, {2, 0x10, 0}, {0xAA, 0x10, 9}}), 28},
      {"track numbers fall", TocReply({{2, 0x10, 0}, {1, 0x10, 10}, {0xAA, 0x10, 90}}), 28},
      {"track 0", TocReply({{0, 0x10, 0}, {0xAA, 0x10, 90}}), 20},
      {"negative address", TocReply({{1, 0x10, -150}, {0xAA, 0x10, 90}}), 20},
      {"no lead-out", TocReply({{1, 0x10, 0}, {2, 0x10, 90}}), 20},
      {"more than 99 tracks", TocReply(many), 4 + 8 * 101},
      {"header only", good, 3},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.what);
    EXPECT_NE(ParseToc(c.reply.data(), c.received, &toc), "");
    EXPECT_TRUE(toc.tracks.empty());
  }
}

TEST(DiscId, MatchesTheCddbAlgorithm) {
  const struct {
    const char* what;
    std::vector<std::int64_t> starts;
    std::int64_t leadOut;
    const char* id;
    std::uint32_t seconds;
  } cases[] = {
      // Seconds 2, 202, 402: digit sums 2 + 4 + 6; 600 s between track 1 and the lead-out.
      {"three tracks", {0, 15000, 30000}, 45000, "0c025803", 600},
      // Starts 32 and 18032: seconds 2 and 242 (sums 2 + 8). Each address becomes whole
      // seconds before the subtraction: 269 - 2 = 267, where (20032 - 32) / 75 gives 266.
      {"first track off a whole second", {32, 18032}, 20032, "0a010b02", 267},
      {"an hour-long single track", {0}, 75 * 3600, "020e1001", 3600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DiscIdText(CddbDiscId(c.starts, c.leadOut)), c.id);
    EXPECT_EQ(DiscSeconds(c.starts, c.leadOut), c.seconds);
  }
  Toc toc{{{1, true, 0}, {2, true, 15000}, {3, false, 30000}}, 45000};
  const CdDisc disc = DiscFromToc(toc);
  EXPECT_EQ(DiscIdText(disc.discId), "0c025803");
  EXPECT_EQ(disc.tracks[1].title, "Track 02");
  EXPECT_EQ(disc.tracks[1].duration, 200);
  EXPECT_EQ(disc.tracks[2].end, 45000);
  EXPECT_FALSE(disc.tracks[2].audio);
}

TEST(CddbEntry, NamesTracksAndIgnoresWhatIsOutsideTheDisc) {
  Toc toc{{{1, true, 0}, {2, true, 1000}}, 2000};
  CdDisc disc = DiscFromToc(toc);
  CddbEntryReader reader(disc);
  for (const char* line : {"# xmcd", "DTITLE=AC/DC / Back: In *Black*?", "DYEAR=1980",
                           "TTITLE0=Hells Bells", "TTITLE1=Shoot to ", "TTITLE1=Thrill",
                           "TTITLE2=Not on the disc", "TTITLE300=Far off", "TTITLE-1=Negative",
                           "TTITLEx=Not a number", "TTITLE0", "EXTD= YEAR: 1980 ID3G: 17",
                           "EXTT1=Caf\xe9", "EXTT5=nowhere"})
    reader.Apply(line);
  reader.Finish();
  EXPECT_EQ(disc.artist, "AC_DC");
  EXPECT_EQ(disc.title, "Back_ In _Black__");
  EXPECT_EQ(disc.year, 1980);
  EXPECT_EQ(disc.tracks[0].title, "Hells Bells");
  EXPECT_EQ(disc.tracks[1].title, "Shoot to Thrill");  // lines of one key continue it
  EXPECT_EQ(disc.tracks[1].extended, "Caf\xc3\xa9");   // Latin-1 became UTF-8
  EXPECT_EQ(disc.tracks.size(), 2u);

  CdDisc plain = DiscFromToc(toc);
  CddbEntryReader r2(plain);
  r2.Apply("DTITLE=Just a title");
  r2.Apply("EXTD=YEAR");  // nothing after the keyword
  r2.Apply("TTITLE0=" + std::string(400, 'x'));
  r2.Finish();
  EXPECT_EQ(plain.artist, "");
  EXPECT_EQ(plain.title, "Just a title");
  EXPECT_EQ(plain.year, 0);
  EXPECT_EQ(plain.tracks[0].title.size(), kMaxFieldBytes);
  EXPECT_EQ(plain.tracks[1].title, "Track 02");
}

TEST(CddbText, KeepsUtf8AndConvertsLatin1) {
  EXPECT_EQ(DecodeCddbText("Sigur R\xc3\xb3s"), "Sigur R\xc3\xb3s");
  EXPECT_EQ(DecodeCddbText("Sigur R\xf3s"), "Sigur R\xc3\xb3s");
  EXPECT_EQ(DecodeCddbText("\xc3"), "\xc3\x83");  // a cut sequence is not UTF-8
  EXPECT_EQ(DecodeCddbText("\xc0\xaf"), "\xc3\x80\xc2\xaf");  // nor an overlong one
  EXPECT_EQ(FileNameSafe(" ..a/b\\c:d*e?f\"g<h>i|j\x01. "), "a_b_c_d_e_f_g_h_i_j_");
}

}  // namespace
}  // namespace quillet::cd
