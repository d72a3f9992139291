// The format table: every extension has one row found in any case, and the file
// dialogs offer what the rows say in the system's words and order.
#include "formats/format_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "formats/dispatch.h"

namespace quillet::formats {
namespace {

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = char(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

TEST(FormatTable, EachExtensionHasOneRowFoundInAnyCase) {
  std::set<std::string_view> seen;
  for (const FormatRow& row : FormatRows()) {
    SCOPED_TRACE(std::string(row.extension));
    ASSERT_FALSE(row.extension.empty());
    EXPECT_TRUE(seen.insert(row.extension).second) << "two rows";
    EXPECT_EQ(&RowFor(Upper(row.extension)), &row);
    // A row that reads by itself has a reader; one that decodes has a title to show.
    if (row.read == ReadWay::Own) {
      EXPECT_NE(row.open, nullptr);
    } else {
      EXPECT_FALSE(row.openTitle.empty());
    }
  }
  // Anything else, a bare name and a leading-dot name go to ffmpeg.
  for (std::string_view name : {"x.xyz", "noext", ".hidden", "dir.d/noext"}) {
    SCOPED_TRACE(std::string(name));
    EXPECT_TRUE(RowForFile(name).extension.empty());
    EXPECT_EQ(RowForFile(name).decoder, Component::Ffmpeg);
  }
  EXPECT_EQ(RowForFile("archive.tar.WAV").extension, ".wav");
}

TEST(FormatTable, TheOpenFilterListsTheSystemsExtensionsInItsOrder) {
  EXPECT_EQ(OpenFilterPatterns(),
            "*.wav;*.mp3;*.ogg;*.wma;*.aif;*.aiff;*.au;*.ra;*.ram;*.flac;*.aac;*.gsm;*.vox;*.raw;*.dss;"
            "*.dct;*.m4a;*.mp2;*.sri;*.mpga;*.msv;*.dvf;*.act;*.rcd;*.rec;*.shn;*.amr");
}

// Nothing that cannot be written is offered.
TEST(FormatTable, SaveAsOffersWhatCanBeWrittenInTheSystemsOrder) {
  std::vector<std::string> names;
  for (const platform::FileFilter& f : SaveAsFilters()) {
    names.push_back(f.name);
    std::string_view patterns = f.patterns;
    while (!patterns.empty()) {
      const std::size_t cut = std::min(patterns.find(';'), patterns.size());
      const std::string_view pattern = patterns.substr(0, cut);
      ASSERT_EQ(pattern.substr(0, 2), "*.");
      EXPECT_TRUE(CanWrite(RowFor(pattern.substr(1)))) << pattern;
      patterns.remove_prefix(std::min(cut + 1, patterns.size()));
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Wave (*.wav)", "MPEG Layer-3 (*.mp3)", "Ogg Vorbis (*.ogg)", "Apple AIFF(*.aif, *.aiff)",
                       "Sun AU (*.au)", "FLAC (*.flac)", "AAC (*.aac)", "MPEG-4 Audio (*.m4a)", "GSM (*.gsm)",
                       "Dialogic Vox (*.vox)", "Raw Audio (*.raw)", "RSS Podcast Audio (*.rss)",
                       "M3U Playlist File (*.m3u)", "PLS Playlist File (*.pls)", "WPL Playlist File (*.wpl)",
                       "AMR Narrowband Audio (*.amr)"}));
  settings::Settings s(settings::FolderLocations("/nonexistent/quillet-test"));
  std::string why;
  for (std::string_view ext : {".wma", ".snd"}) {
    SCOPED_TRACE(std::string(ext));
    EXPECT_FALSE(SaveCheck(ext, DispatchEnv(s), &why));
    EXPECT_EQ(why, "Files of this type cannot be written.");
  }
}

TEST(FormatTable, RealAudioNamesAskBeforeSaving) {
  for (const char* name : {"a.ra", "b.RAM", "c.rm"}) EXPECT_FALSE(SaveElsewhereQuestion(name).empty()) << name;
  for (const char* name : {"a.rmj", "b.wav", "noext"}) EXPECT_TRUE(SaveElsewhereQuestion(name).empty()) << name;
}

}  // namespace
}  // namespace quillet::formats
