#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "fixtures/temp_dir.h"

namespace quillet::settings {
namespace {

using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

class SettingsTest : public ::testing::Test {
 protected:
  TempDir dir;
  Settings store{FolderLocations(dir.path())};
};

TEST(ParseLeadingInt, FollowsTheLeadingDecimalRule) {
  const std::pair<const char*, int> cases[] = {{"12abc", 12},
                                               {"  -7", -7},
                                               {"+5x", 5},
                                               {"abc", 0},
                                               {"", 0},
                                               {"-", 0},
                                               {"0x1F", 0},
                                               {"3.9", 3},
                                               {"2147483647", 2147483647},
                                               {"99999999999", 2147483647},
                                               {"-2147483648", -2147483647 - 1},
                                               {"-99999999999", -2147483647 - 1}};
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseLeadingInt(text), want);
  }
}

// Missing values, and deleted ones, give the default.
TEST_F(SettingsTest, MissingOrDeletedValuesGiveTheDefault) {
  EXPECT_EQ(store.GetString("Settings", "WorkingFolder", "/x"), "/x");
  EXPECT_EQ(store.GetInt("Settings", "Rate", 44100), 44100);
  EXPECT_TRUE(store.GetBool("Settings", "Flag", true));
  EXPECT_FALSE(store.GetBool("Settings", "Flag", false));
  EXPECT_FALSE(store.Find("Settings", "Flag").has_value());
  ASSERT_TRUE(store.SetBool("Settings", "A", false));
  ASSERT_TRUE(store.SetBool("Settings", "B", false));
  ASSERT_TRUE(store.Delete("Settings", "A"));
  EXPECT_TRUE(store.GetBool("Settings", "A", true));
  EXPECT_FALSE(store.GetBool("Settings", "B", true));
  EXPECT_TRUE(store.Delete("Settings", "Missing"));
}

TEST_F(SettingsTest, IntegerAndBooleanReadingRules) {
  struct Case {
    const char* stored;
    int intDefault;
    int wantInt;
    bool boolDefault;
    bool wantBool;
  };
  const Case cases[] = {
      {"", 5, 5, true, true},  // empty gives both defaults
      {"", 5, 5, false, false},
      {"12abc", 5, 12, false, true},  // leading number; not "0": true
      {"00", 5, 0, true, false},      // starts with 0: false
      {"0", 5, 0, true, false},
      {"yes", 5, 0, false, true},    // no number reads 0, not the default
      {"false", 5, 0, false, true},  // only a leading '0' is false
      {"1", 5, 1, false, true},
      {" 0", 5, 0, false, true},  // the blank comes first, so not false
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    ASSERT_TRUE(store.SetString("StoredValues", "Value", c.stored));
    EXPECT_EQ(store.GetInt("StoredValues", "Value", c.intDefault), c.wantInt);
    EXPECT_EQ(store.GetBool("StoredValues", "Value", c.boolDefault), c.wantBool);
  }
}

TEST_F(SettingsTest, LongValuesAreReadAsTheirFirst259Characters) {
  const std::string value(300, 'a');
  ASSERT_TRUE(store.SetString("Settings", "Long", value));
  EXPECT_EQ(store.GetString("Settings", "Long", ""), std::string(259, 'a'));
  EXPECT_EQ(store.Find("Settings", "Long")->size(), 300u);  // stored whole

  // Characters, not bytes: a multi-byte character is never split.
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";  // é
  ASSERT_TRUE(store.SetString("Settings", "Accented", accented));
  EXPECT_EQ(store.GetString("Settings", "Accented", ""), accented.substr(0, 259 * 2));

  ASSERT_TRUE(store.SetString("Settings", "Number", std::string(259, ' ') + "42"));
  EXPECT_EQ(store.GetInt("Settings", "Number", 7), 0);  // the digits lie past the read limit
}

TEST_F(SettingsTest, ValuesRoundTripWithAwkwardCharacters) {
  const std::string values[] = {"a=b",
                                "line1\nline2\r\n",
                                "back\\slash\\x41",
                                "  padded  ",
                                "[not a section]",
                                ";not a comment",
                                std::string("nul\0inside", 10),
                                "#hash",
                                ""};
  int i = 0;
  for (const std::string& v : values) {
    const std::string key = "Key" + std::to_string(i++);
    ASSERT_TRUE(store.SetString("Odd]Section=", key, v));
  }
  Settings reopened{FolderLocations(dir.path())};
  i = 0;
  for (const std::string& v : values) {
    const std::string key = "Key" + std::to_string(i++);
    EXPECT_EQ(reopened.Find("Odd]Section=", key), v) << key;
  }
  ASSERT_TRUE(store.SetString("S", " spaced key= ", "v"));
  EXPECT_EQ(reopened.GetString("S", " spaced key= ", ""), "v");
}

TEST_F(SettingsTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_TRUE(store.SetInt("StoredValues", "AmplifyGain", 150));
  EXPECT_EQ(store.GetInt("storedvalues", "AMPLIFYGAIN", 0), 150);
  ASSERT_TRUE(store.SetInt("STOREDVALUES", "amplifygain", 200));
  EXPECT_EQ(store.GetInt("StoredValues", "AmplifyGain", 0), 200);
  const std::string text = quillet::testing::ReadFileBytes(dir / "settings.ini");
  EXPECT_NE(text.find("[StoredValues]"), std::string::npos) << text;
  EXPECT_EQ(text.find("STOREDVALUES"), std::string::npos) << text;
}

TEST_F(SettingsTest, ScopesAreSeparateAndOverridesWinWithoutBeingWritten) {
  ASSERT_TRUE(store.SetString("Settings", "Where", "user"));
  ASSERT_TRUE(store.SetString("Settings", "Where", "machine", Scope::Machine));
  EXPECT_EQ(store.GetString("Settings", "Where", ""), "user");
  EXPECT_EQ(store.GetString("Settings", "Where", "", Scope::Machine), "machine");
  ASSERT_TRUE(store.Delete("Settings", "Where", Scope::Machine));
  EXPECT_EQ(store.GetString("Settings", "Where", "none", Scope::Machine), "none");

  ASSERT_TRUE(store.SetInt("Settings", "Rate", 8000));
  store.SetOverride("Settings", "Rate", "22050");
  EXPECT_EQ(store.GetInt("Settings", "Rate", 0), 22050);
  Settings other{FolderLocations(dir.path())};
  EXPECT_EQ(other.GetInt("Settings", "Rate", 0), 8000);
}

TEST_F(SettingsTest, HandEditedFilesAreReadAndChangesOnDiskSeen) {
  WriteFileBytes(dir / "settings.ini",
                 "; comment\r\n[Settings]\r\nRate = 48000\r\nbroken line\r\n"
                 "=no key\r\n[Other]\r\nRate=1\r\n");
  EXPECT_EQ(store.GetInt("Settings", "Rate", 0), 48000);
  EXPECT_EQ(store.GetInt("Other", "Rate", 0), 1);
  // Another running copy rewrites the file: the next read sees it.
  Settings other{FolderLocations(dir.path())};
  ASSERT_TRUE(other.SetInt("Settings", "Rate", 96000));
  EXPECT_EQ(store.GetInt("Settings", "Rate", 0), 96000);
  EXPECT_EQ(store.GetInt("Other", "Rate", 0), 1);  // rewriting kept the rest
}

TEST_F(SettingsTest, FailedWritesReportFalseAndChangeNothing) {
  // A folder that cannot be created (a file stands in its way), even for root.
  WriteFileBytes(dir / "blocker", "x");
  Settings blocked{FolderLocations(dir / "blocker" / "sub")};
  EXPECT_FALSE(blocked.SetString("Settings", "New", "x"));
  EXPECT_EQ(blocked.GetString("Settings", "New", "default"), "default");

  // A target that cannot be replaced leaves no temporary file behind.
  std::filesystem::create_directories(dir / "dirtarget" / "settings.ini");
  Settings dirTarget{FolderLocations(dir / "dirtarget")};
  EXPECT_FALSE(dirTarget.SetString("Settings", "New", "x"));
  int entries = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir / "dirtarget")) ++entries;
  EXPECT_EQ(entries, 2);  // the folder in the way and the lock file
}

// Two copies of the program writing different keys at once must not lose either.
TEST_F(SettingsTest, ConcurrentWritersFromTwoProcessesKeepEveryValue) {
  constexpr int kWrites = 40;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Settings mine{FolderLocations(dir.path())};
    for (int i = 0; i < kWrites; ++i) mine.SetInt("Child", "K" + std::to_string(i), i);
    _exit(0);
  }
  for (int i = 0; i < kWrites; ++i) store.SetInt("Parent", "K" + std::to_string(i), i);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  Settings reader{FolderLocations(dir.path())};
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(reader.GetInt("Child", "K" + std::to_string(i), -1), i);
    EXPECT_EQ(reader.GetInt("Parent", "K" + std::to_string(i), -1), i);
  }
}

TEST(DefaultLocations, FollowXdgVariables) {
  TempDir dir;
  setenv("XDG_CONFIG_HOME", (dir / "home").c_str(), 1);
  setenv("XDG_CONFIG_DIRS",
         ((dir / "sys1").string() + ":relative:" + (dir / "sys2").string()).c_str(), 1);
  const Locations loc = DefaultLocations();
  EXPECT_EQ(loc.userFile, dir / "home/Orvanta/Quillet/settings.ini");
  // sys1 can be created, so machine-wide values go there and are read from there first.
  EXPECT_EQ(loc.machineWriteFile, dir / "sys1/Orvanta/Quillet/settings.ini");
  ASSERT_EQ(loc.machineReadFiles.size(), 3u);  // the relative entry is ignored
  EXPECT_EQ(loc.machineReadFiles.front(), loc.machineWriteFile);
  Settings s{loc};
  ASSERT_TRUE(s.SetInt("Settings", "X", 3, Scope::Machine));
  EXPECT_EQ(s.GetInt("Settings", "X", 0, Scope::Machine), 3);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_CONFIG_DIRS");
}

}  // namespace
}  // namespace quillet::settings
