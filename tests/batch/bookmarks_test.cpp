// Bookmarks: setting one with its questions, the list's texts, and the ".qbm" beside
// the audio file, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "batch/bookmarks.h"
#include "batch_fixture.h"

namespace quillet::batch {
namespace {

using platform::Answer;
using testsupport::Project;

std::string Field(std::string_view text) {
  std::string f(text);
  f.resize(260, '\0');
  return f;
}

std::string Le32(std::uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

TEST_F(Project, BookmarkAtOneAndAHalfSecondsWritesTheDocumentedFile) {
  core::WaveDocument& doc = Doc("take.wav", 1, 3 * 44100);
  doc.SetCursor(66150);
  prompter.QueueText("Intro");
  ASSERT_TRUE(session.SetBookmark());
  EXPECT_EQ(prompter.shown().front().caption, "Enter Bookmark Name");
  EXPECT_EQ(prompter.shown().front().initial, "take.wav@0:00:01.50");
  EXPECT_TRUE(doc.modified());
  ASSERT_EQ(session.bookmarks().size(), 1u);
  EXPECT_EQ(BookmarkRowOf(session.bookmarks()[0]).time, "0:00:01.50");

  session.DocumentSaved(doc, doc.file());
  const std::string bytes = testing::ReadFileBytes(dir / "take.qbm");
  const std::string expected = std::string("\0\x01", 2) + Field("Intro") + Field("take.wav") +
                               Le32(1500) + std::string("\x01", 1) + Le32(1700000000);
  ASSERT_EQ(bytes.size(), 531u);
  EXPECT_EQ(bytes, expected);

  // Without bookmarks the next save deletes the file rather than leave an empty one.
  session.DeleteBookmarks({0});
  session.DocumentSaved(doc, doc.file());
  EXPECT_FALSE(std::filesystem::exists(dir / "take.qbm"));
}

TEST_F(Project, ReplacingABookmarkAsksAndNoAsksForAnotherName) {
  core::WaveDocument& doc = Doc("a.wav");
  prompter.QueueText("Verse");
  ASSERT_TRUE(session.SetBookmark());
  doc.SetCursor(22050);
  // "verse" clashes (case ignored): No asks again, and a new name goes through.
  prompter.QueueText("verse");
  prompter.QueueAnswer(Answer::No);
  prompter.QueueText("Chorus");
  ASSERT_TRUE(session.SetBookmark());
  EXPECT_EQ(prompter.shown()[2].caption, "BookMark Exist");
  EXPECT_EQ(prompter.shown()[2].text, "This bookmark name already exist. Do you want to replace it?");
  EXPECT_EQ(prompter.shown()[3].initial, "verse");  // asked again with what was typed
  prompter.QueueText("VERSE");
  prompter.QueueAnswer(Answer::Yes);
  ASSERT_TRUE(session.SetBookmark());
  ASSERT_EQ(session.bookmarks().size(), 2u);
  EXPECT_EQ(session.bookmarks()[0].name, "Chorus");
  EXPECT_EQ(session.bookmarks()[1].name, "VERSE");
  EXPECT_EQ(session.bookmarks()[1].positionMs, 500u);
  prompter.QueueText("Chorus");
  prompter.QueueAnswer(Answer::Cancel);
  EXPECT_FALSE(session.SetBookmark());
  EXPECT_EQ(session.bookmarks().size(), 2u);
  EXPECT_TRUE(prompter.problems().empty());
}

TEST(BookmarkFile, AnythingButAWholeVersionZeroFileIsRefused) {
  Bookmark b{"x", "a.wav", 10, 3, 99};
  const std::string good = BookmarkFileBytes({&b});
  struct Case {
    const char* what;
    std::string bytes;
    bool ok;
  } cases[] = {
      {"whole", good, true},
      {"trailing bytes are ignored", good + "zz", true},
      {"empty", "", false},
      {"version 1", std::string("\x01") + good.substr(1), false},
      {"count past the records", good.substr(0, 1) + "\x02" + good.substr(2), false},
      {"last record cut", good.substr(0, good.size() - 1), false},
      {"no records", std::string("\0\0", 2), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bookmark> out{Bookmark{"keep"}};
    const platform::Outcome o = ParseBookmarkFile(c.bytes, out);
    EXPECT_EQ(o.done(), c.ok);
    if (!c.ok) {
      EXPECT_EQ(o.message, platform::kFileVersionMessage);
      ASSERT_EQ(out.size(), 1u);  // nothing half-read
    }
  }
  std::vector<Bookmark> out;
  ASSERT_TRUE(ParseBookmarkFile(good, out).done());
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].name, "x");
  EXPECT_EQ(out[0].timesVisited, 3);
  EXPECT_EQ(out[0].lastVisited, 99u);
}

TEST(BookmarkFile, TextFieldsWithoutTerminatorAreCutAndLongNamesFitTheField) {
  std::string bytes("\0\x01", 2);
  bytes += std::string(260, 'n') + Field("k") + Le32(1) + "\x01" + Le32(2);
  std::vector<Bookmark> out;
  ASSERT_TRUE(ParseBookmarkFile(bytes, out).done());
  EXPECT_EQ(out[0].name, std::string(259, 'n'));
  // A long name is cut at a character boundary: 129 two-byte characters are 258 bytes.
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "\xC3\xA9";
  EXPECT_EQ(FitTextField(wide).size(), 258u);
  EXPECT_EQ(FitTextField(std::string(300, 'a')).size(), 259u);
}

TEST_F(Project, BookmarksFollowARenamedFileAndAReopenDoesNotDoubleThem) {
  core::WaveDocument& doc = Doc("take.wav");
  prompter.QueueText("Intro");
  ASSERT_TRUE(session.SetBookmark());
  session.DocumentSaved(doc, doc.file());
  // Renamed outside the program, with its bookmark file.
  std::filesystem::rename(dir / "take.qbm", dir / "final.qbm");
  session.DocumentClosing(doc);
  host.docs.clear();
  session.bookmarks().clear();
  core::WaveDocument& renamed = Doc("final.wav");
  ASSERT_EQ(session.bookmarks().size(), 1u);
  EXPECT_EQ(session.bookmarks()[0].documentKey, "final.wav");
  EXPECT_EQ(session.bookmarks()[0].document, &renamed);

  // Closed and opened again: the kept bookmark finds it, the file's copy is not added.
  session.DocumentSaved(renamed, renamed.file());
  session.DocumentClosing(renamed);
  host.docs.clear();
  core::WaveDocument& again = Doc("final.wav");
  ASSERT_EQ(session.bookmarks().size(), 1u);
  EXPECT_EQ(session.bookmarks()[0].document, &again);

  // Save As under a new name: the key follows.
  again.SetFile(dir / "master.wav");
  session.DocumentSaved(again, dir / "final.wav");
  EXPECT_EQ(session.bookmarks()[0].documentKey, "master.wav");
  EXPECT_TRUE(std::filesystem::exists(dir / "master.qbm"));
}

TEST_F(Project, AWrongBookmarkFileShowsTheFileErrorAndLoadsNothing) {
  testing::WriteFileBytes(dir / "bad.qbm", std::string("\x07\x00", 2));
  Doc("bad.wav");
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].caption, "File Error");
  EXPECT_TRUE(session.bookmarks().empty());
}

TEST_F(Project, GoToCountsTheVisitMovesTheCursorIntoViewAndSelectToSelects) {
  core::WaveDocument& a = Doc("a.wav", 1, 10 * 44100);
  core::WaveDocument& b = Doc("b.wav", 1, 10 * 44100);
  session.bookmarks().push_back({"one", "a.wav", 8000, 1, 5, &a});
  session.bookmarks().push_back({"two", "a.wav", 2500, 1, 5, &a});
  a.SetView(0, 44100);
  EXPECT_EQ(host.active, &b);
  EXPECT_EQ(session.GoToBookmark(0), &a);
  EXPECT_EQ(host.active, &a);
  EXPECT_EQ(a.cursor(), 8 * 44100);
  EXPECT_TRUE(a.viewStart() <= a.cursor() && a.cursor() <= a.viewEnd());
  EXPECT_EQ(a.viewEnd() - a.viewStart(), 44100);
  EXPECT_EQ(session.bookmarks()[0].timesVisited, 2);
  EXPECT_EQ(session.bookmarks()[0].lastVisited, 1700000000u);

  ASSERT_TRUE(session.SelectToBookmark(0, 1));
  EXPECT_EQ(a.selStart(), 110250);
  EXPECT_EQ(a.selEnd(), 8 * 44100);
  EXPECT_EQ(session.bookmarks()[1].timesVisited, 1);  // selecting is no visit

  // A closed document's bookmark goes nowhere but still counts its visit.
  session.bookmarks().push_back({"gone", "c.wav", 0, 255, 5, nullptr});
  EXPECT_EQ(session.GoToBookmark(2), nullptr);
  EXPECT_EQ(session.bookmarks()[2].timesVisited, 255);  // saturates
}

TEST(BookmarkTexts, ListColumnsInLocalTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  const BookmarkRow row = BookmarkRowOf({"n", "k", 3723995, 7, 86400 + 3661});
  EXPECT_EQ(row.time, "1:02:04.00");  // 3,723,995 ms rounds up to the next hundredth
  EXPECT_EQ(row.visits, "7");
  EXPECT_EQ(row.lastVisited, "1970-01-02 01:01:01");
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace quillet::batch
