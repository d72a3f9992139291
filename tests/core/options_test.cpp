#include "core/options.h"

#include <gtest/gtest.h>

#include "fixtures/temp_dir.h"

namespace quillet::core {
namespace {

using settings::FolderLocations;
using settings::Settings;
using testing::TempDir;

TEST(Options, ThresholdIsClippedToTheByteRangeThenShownWithinTheField) {
  const struct { int stored, shown; } cases[] = {
      {-20, -20}, {-40, -40}, {-12, -12}, {-41, -40}, {-11, -12},
      {-100000, -40}, {100000, -12}, {0, -12}, {-128, -40}};
  for (const auto& c : cases) EXPECT_EQ(ThresholdForField(c.stored), c.shown) << c.stored;

  TempDir dir;
  Settings s{FolderLocations(dir.path())};
  s.SetString("Settings", "AutoTrimThreshold", "-300");
  EXPECT_EQ(LoadOptions(s).autoTrimThreshold, -40);
}

TEST(Options, OkWritesOnlyTheChangedKeys) {
  TempDir dir;
  Settings s{FolderLocations(dir.path())};
  const OptionValues before = LoadOptions(s);
  EXPECT_EQ(before, OptionValues{.workingFolder = before.workingFolder});

  OptionValues after = before;
  after.playWhenOpen = false;
  after.reduceVolWhenRewind = true;
  after.soundOutDevice = "hw:CARD=USB,DEV=0";
  EXPECT_FALSE(StoreOptions(s, before, after));
  EXPECT_EQ(s.Find("Settings", "PlayWhenOpen"), "0");
  EXPECT_EQ(s.Find("Settings", "ReduceVolWhenRewind"), "1");
  EXPECT_EQ(s.Find("Settings", "SoundOutDevice"), "hw:CARD=USB,DEV=0");
  for (const char* key : {"PromptSampleAndChannels", "AddToWEContext", "AutoArrangeWindows",
                          "AutoTrimThreshold", "UseDefaultWorkingDir", "WorkingFolder",
                          "AutoPlaybackAfterEffects", "PlayBookMark", "PlayRegion"})
    EXPECT_FALSE(s.Find("Settings", key)) << key;
  EXPECT_EQ(LoadOptions(s), after);
}

TEST(Options, WorkingFolderChangesAskForARestart) {
  TempDir dir;
  TempDir other;
  Settings s{FolderLocations(dir.path())};
  OptionValues before = LoadOptions(s);

  OptionValues after = before;
  after.useDefaultWorkingDir = false;
  after.workingFolder = other.path().string();
  EXPECT_EQ(CheckWorkingFolder(after), FolderProblem::None);
  EXPECT_TRUE(StoreOptions(s, before, after));
  EXPECT_EQ(s.Find("Settings", "WorkingFolder"), other.path().string());

  // The same specified folder again, or a new folder typed while the default is used,
  // changes nothing.
  before = LoadOptions(s);
  EXPECT_FALSE(StoreOptions(s, before, before));
  OptionValues typed = before;
  typed.useDefaultWorkingDir = true;
  EXPECT_TRUE(StoreOptions(s, before, typed));
  before = LoadOptions(s);
  typed.workingFolder = "/elsewhere";
  EXPECT_FALSE(StoreOptions(s, before, typed));
  EXPECT_EQ(s.Find("Settings", "WorkingFolder"), other.path().string());
}

TEST(Options, DeletingTheRecentListKeepsOtherValues) {
  TempDir dir;
  Settings s{FolderLocations(dir.path())};
  for (int n : {1, 7, 12}) {
    s.SetString("Recent", "RecentFile " + std::to_string(n), "/a.wav");
    s.SetString("Recent", "RecentFileDate" + std::to_string(n), "5");
  }
  s.SetString("Recent", "Other", "kept");
  DeleteRecentFiles(s);
  for (int n : {1, 7, 12}) {
    EXPECT_FALSE(s.Find("Recent", "RecentFile " + std::to_string(n)));
    EXPECT_FALSE(s.Find("Recent", "RecentFileDate" + std::to_string(n)));
  }
  EXPECT_EQ(s.Find("Recent", "Other"), "kept");
}

}  // namespace
}  // namespace quillet::core
