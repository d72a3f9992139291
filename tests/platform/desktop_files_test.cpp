// The desktop integration against the real xdg-mime, in private XDG folders.
#include "platform/desktop_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "fixtures/temp_dir.h"
#include "platform/process.h"

namespace quillet::platform {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

class PrivateDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindProgram("xdg-mime").empty()) GTEST_FAIL() << "xdg-mime is missing: install xdg-utils";
    Keep("XDG_DATA_HOME", data_);
    Keep("XDG_CONFIG_HOME", config_);
    setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    std::filesystem::create_directories(dir_ / "config");
    places_ = CurrentDesktopPlaces();
  }
  void TearDown() override {
    Restore("XDG_DATA_HOME", data_);
    Restore("XDG_CONFIG_HOME", config_);
  }
  static void Keep(const char* var, std::optional<std::string>& into) {
    if (const char* v = std::getenv(var)) into = v;
  }
  static void Restore(const char* var, const std::optional<std::string>& was) {
    if (was) setenv(var, was->c_str(), 1);
    else unsetenv(var);
  }
  static std::string QueryDefault(const std::string& type) {
    RunRequest r;
    r.process.argv = {"xdg-mime", "query", "default", type};
    return RunProcess(r).output;
  }

  TempDir dir_;
  std::optional<std::string> data_, config_;
  DesktopPlaces places_;
};

TEST_F(PrivateDesktop, TickingAnExtensionMakesUsTheDefaultAndUntickingUndoesIt) {
  EXPECT_EQ(places_.dataHome, dir_ / "data");
  EXPECT_FALSE(OpensWithUs(".wav"));
  DesktopChoice choice{.program = "/opt/quillet dir/bin/quillet", .ours = {".wav", ".vox"},
                       .notOurs = {".mp3"}};
  ASSERT_TRUE(ApplyDesktopChoice(places_, choice));
  EXPECT_EQ(QueryDefault("audio/x-wav"), "quillet.desktop\n");
  EXPECT_TRUE(OpensWithUs(".wav"));
  EXPECT_TRUE(OpensWithUs(".vox"));  // one of our own types
  EXPECT_FALSE(OpensWithUs(".mp3"));

  choice.ours = {".vox"};
  choice.notOurs = {".wav"};
  ASSERT_TRUE(ApplyDesktopChoice(places_, choice));
  EXPECT_FALSE(OpensWithUs(".wav"));
  EXPECT_TRUE(OpensWithUs(".vox"));
}

TEST_F(PrivateDesktop, DesktopFileCarriesTheContextActionsOnlyWhenAsked) {
  DesktopChoice choice{.program = "/usr/bin/quillet", .ours = {".dss", ".aiff"},
                       .notOurs = {".aif"}};
  ASSERT_TRUE(ApplyDesktopChoice(places_, choice));
  const std::string with = ReadFileBytes(dir_ / "data/applications/quillet.desktop");
  EXPECT_NE(with.find("Actions=edit;batch;"), std::string::npos);
  EXPECT_NE(with.find("Name=Edit with Quillet\nExec=\"/usr/bin/quillet\" %F"), std::string::npos);
  EXPECT_NE(with.find("Name=Batch Convert with Quillet\nExec=\"/usr/bin/quillet\" -batch %F"),
            std::string::npos);
  EXPECT_NE(with.find("MimeType=audio/x-aiff;audio/x-quillet-dss;\n"), std::string::npos);
  EXPECT_TRUE(OpensWithUs(".aif"));  // the type it shares with a ticked one stays ours

  choice.contextActions = false;
  choice.ours.clear();
  ASSERT_TRUE(ApplyDesktopChoice(places_, choice));
  const std::string without = ReadFileBytes(dir_ / "data/applications/quillet.desktop");
  EXPECT_EQ(without.find("Action"), std::string::npos);
  EXPECT_EQ(without.find("MimeType"), std::string::npos);
  EXPECT_NE(without.find("Exec=\"/usr/bin/quillet\" %F"), std::string::npos);

  const std::string package = ReadFileBytes(dir_ / "data/mime/packages/quillet.xml");
  EXPECT_NE(package.find("<glob pattern=\"*.rcd\"/>"), std::string::npos);
  EXPECT_EQ(package.find("*.wav"), std::string::npos);  // the shared database has it
}

TEST_F(PrivateDesktop, InstallingTakesTheTypesNoOtherProgramOpens) {
  // A player already opens MP3 files.
  std::filesystem::create_directories(dir_ / "data/applications");
  testing::WriteFileBytes(dir_ / "data/applications/player.desktop",
                          "[Desktop Entry]\nType=Application\nName=Player\nExec=player %f\n"
                          "MimeType=audio/mpeg;\n");
  testing::WriteFileBytes(dir_ / "config/mimeapps.list", "[Default Applications]\naudio/mpeg=player.desktop\n");
  ASSERT_EQ(DefaultHandler(".mp3"), "player.desktop");
  const DesktopChoice choice = InstallChoice("/usr/bin/quillet", true);
  // Everything but the two extensions of that type.
  EXPECT_EQ(std::count(choice.ours.begin(), choice.ours.end(), ".mp3"), 0);
  EXPECT_EQ(std::count(choice.ours.begin(), choice.ours.end(), ".mpga"), 0);
  EXPECT_EQ(choice.ours.size(), kAssociationExtensions.size() - 2);
  ASSERT_TRUE(ApplyDesktopChoice(places_, choice));
  EXPECT_EQ(QueryDefault("audio/x-wav"), "quillet.desktop\n");
  EXPECT_EQ(DefaultHandler(".mp3"), "player.desktop");
  // Run again, what is ours stays ours.
  EXPECT_EQ(InstallChoice("/usr/bin/quillet", true).ours, choice.ours);
}

TEST(DesktopFiles, EveryOfferedExtensionHasAType) {
  for (std::string_view ext : kAssociationExtensions) {
    const std::string t = MimeTypeOfExtension(ext);
    EXPECT_NE(t.find('/'), std::string::npos) << ext;
  }
  EXPECT_EQ(MimeTypeOfExtension(".txt"), "");
  EXPECT_EQ(MimeTypeOfExtension(".aif"), MimeTypeOfExtension(".aiff"));
}

TEST(DesktopFiles, RemovingDefaultsKeepsOtherHandlersAndSections) {
  const std::string before =
      "[Added Associations]\naudio/x-wav=quillet.desktop;\n"
      "[Default Applications]\naudio/x-wav=quillet.desktop;player.desktop;\n"
      "audio/mpeg=quillet.desktop\naudio/ogg=player.desktop\n";
  EXPECT_EQ(RemoveDefaults(before, {"audio/x-wav", "audio/mpeg", "audio/ogg"}),
            "[Added Associations]\naudio/x-wav=quillet.desktop;\n"
            "[Default Applications]\naudio/x-wav=player.desktop;\naudio/ogg=player.desktop\n");
}

}  // namespace
}  // namespace quillet::platform
