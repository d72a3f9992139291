// The format table: every extension has one row found in any case, and the file
// dialogs offer what the rows say in the system's words and order.
#include "formats/format_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "formats/dispatch.h"

namespace quillet::formats {
namespace {

template <std::size_t N>
std::string B(const char (&s)[N]) {
  return std::string(s, N - 1);
}

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

// What the first bytes say decides when an extension lies; a bare MPEG sync must be
// layer III, and an Ogg stream not of Vorbis goes to ffmpeg's row.
TEST(FormatTable, SniffingNamesTheRowOfTheContent) {
  auto page = [](std::string_view packet) {
    std::string p = "OggS" + std::string(22, '\0') + '\x01' + '\x1e';  // one segment of 30 bytes
    return p + std::string(packet) + std::string(30, '\0');
  };
  const struct {
    std::string bytes;
    std::optional<std::string_view> want;
  } cases[] = {
      {B("RIFF\x10\0\0\0WAVEfmt "), ".wav"},
      {B("RF64\xff\xff\xff\xffWAVEds64"), ".wav"},
      {B("BW64\xff\xff\xff\xffWAVEds64"), ".wav"},
      {B("RIFF\x10\0\0\0" "AVI LIST"), std::nullopt},
      {B("FORM\0\0\0\x10" "AIFCFVER"), ".aiff"},
      {B("FORM\0\0\0\x10" "AIFFCOMM"), ".aiff"},
      {B(".snd\0\0\0\x18"), ".au"},
      {B("fLaC\0\0\0\x22"), ".flac"},
      {page("\x01vorbis"), ".ogg"},
      {page("OpusHead"), ""},
      {B("ID3\x04\0\0\0\0\0\0"), ".mp3"},
      {B("\xFF\xFB\x90\x64"), ".mp3"},
      {B("\xFF\xF1\x50\x80"), std::nullopt},  // ADTS AAC: layer bits 0
      {B("\0\0\0\x20" "ftypM4A "), ".m4a"},
      {B("#!AMR\n"), std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 4));
    const auto* p = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    EXPECT_EQ(SniffExtension(p, c.bytes.size()), c.want);
  }
  // Sun's ".snd" is AU by another name.
  EXPECT_EQ(RowFor(".snd").readerName, "au");
}

TEST(FormatTable, MixdownsAreAnnouncedForFormatsOfFewerChannels) {
  EXPECT_EQ(MixdownNote(RowFor(".mp3"), 6),
            "This document has 6 channels; MPEG Layer-3 holds at most 2, so all of them are mixed down to stereo.");
  EXPECT_EQ(MixdownNote(RowFor(".amr"), 6),
            "This document has 6 channels; AMR Narrowband Audio holds one, so all of them are mixed down to mono.");
  // Stereo to mono is no mix: the converter keeps the left channel, and the note says so.
  EXPECT_EQ(MixdownNote(RowFor(".gsm"), 2),
            "This document has 2 channels; GSM holds one, so only the left channel is saved.");
  EXPECT_EQ(MixdownNote(RowFor(".mp3"), 2), "");
  EXPECT_EQ(MixdownNote(RowFor(".flac"), 6), "");
  EXPECT_EQ(MixdownNote(RowFor(".wav"), 255), "");
}

}  // namespace
}  // namespace quillet::formats
