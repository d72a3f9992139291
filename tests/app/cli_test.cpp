#include "app/cli/cli.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/temp_dir.h"
#include "settings/settings.h"

namespace quillet::app {
namespace {

using Args = std::vector<std::string>;

std::vector<std::string> gSeen;  // arguments the last test command received

platform::TaskResult Info(CommandContext& c) {
  gSeen = c.args;
  std::fputs("rate=44100\n", c.out);
  return platform::kTaskDone;
}
platform::TaskResult Cancelled(CommandContext&) { return platform::kTaskCancelled; }

constexpr CliCommand kTable[] = {
    {"info", "FILE", "print what a file holds", &Info},
    {"record", "OUT --seconds N", "record from the sound device", &Cancelled},
    {"help", "[COMMAND]", "show this help", &RunHelp},
};

CommandLine Parse(const Args& args) { return ParseCommandLine(args, kTable); }

TEST(CliParse, GlobalOptionsAndCommand) {
  const CommandLine cl =
      Parse({"--settings", "/tmp/q", "--set", "Settings/PlayWhenOpen=0", "--set=StoredValues/A=",
             "-y", "info", "--from", "5", "take.wav", "--set", "Recorder/Rate=48000"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.settingsDir, std::filesystem::path("/tmp/q"));
  EXPECT_EQ(cl.overrides, (std::vector<SettingOverride>{{"Settings", "PlayWhenOpen", "0"},
                                                        {"StoredValues", "A", ""},
                                                        {"Recorder", "Rate", "48000"}}));
  EXPECT_TRUE(cl.assumeYes);
  ASSERT_NE(cl.command, nullptr);
  EXPECT_EQ(cl.command->name, "info");
  // The command's own options stay with it.
  EXPECT_EQ(cl.args, (Args{"--from", "5", "take.wav"}));
}

TEST(CliParse, DoubleDashEndsOptions) {
  const CommandLine cl = Parse({"info", "--", "--set", "-x", "--help"});
  ASSERT_TRUE(cl.error.empty());
  EXPECT_FALSE(cl.help);
  EXPECT_TRUE(cl.overrides.empty());
  EXPECT_EQ(cl.args, (Args{"--set", "-x", "--help"}));

  const CommandLine named = Parse({"--", "info", "-"});
  ASSERT_NE(named.command, nullptr);
  EXPECT_EQ(named.args, (Args{"-"}));
}

TEST(CliParse, HelpForms) {
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"-h"}).error.empty());
  const CommandLine forCommand = Parse({"info", "--help"});
  EXPECT_TRUE(forCommand.help);
  EXPECT_EQ(forCommand.command->name, "info");
  const CommandLine word = Parse({"help", "record"});
  EXPECT_EQ(word.command->name, "help");
  EXPECT_EQ(word.args, (Args{"record"}));
}

TEST(CliParse, BadCommandLinesAreRefusedWithTheReason) {
  const std::pair<Args, std::string> cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"--frobnicate", "info"}, "unknown option \"--frobnicate\""},
      {{"-x"}, "unknown option \"-x\""},
      {{"--settings"}, "--settings needs a folder"},
      {{"--settings="}, "--settings needs a folder"},
      {{"--set"}, "--set needs SECTION/KEY=VALUE"},
      {{"--set", "Settings/Key"}, "--set needs SECTION/KEY=VALUE, not \"Settings/Key\""},
      {{"--set", "Key=1"}, "--set needs SECTION/KEY=VALUE, not \"Key=1\""},
      {{"--set", "/Key=1"}, "--set needs SECTION/KEY=VALUE, not \"/Key=1\""},
      {{"--set", "Settings/=1"}, "--set needs SECTION/KEY=VALUE, not \"Settings/=1\""},
      {{"--set", "A=B/C=1"}, "--set needs SECTION/KEY=VALUE, not \"A=B/C=1\""},
      {{"info", "x", "--set", "bad"}, "--set needs SECTION/KEY=VALUE, not \"bad\""},
      {{""}, "unknown command \"\""},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(Parse(args).error, message);
  }
}

TEST(CliParse, OverrideSplitsAtTheFirstSlashAndEquals) {
  EXPECT_EQ(ParseSettingOverride("A/B=x=y"), (SettingOverride{"A", "B", "x=y"}));
  EXPECT_EQ(ParseSettingOverride("A/B/C=1"), (SettingOverride{"A", "B/C", "1"}));
  EXPECT_EQ(ParseSettingOverride("Recent/RecentFile 1=/a b.wav"),
            (SettingOverride{"Recent", "RecentFile 1", "/a b.wav"}));
}

// Runs the command line with stdout and stderr captured.
struct Captured {
  int status;
  std::string out, err;
};

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

Captured RunCaptured(const Args& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = RunCli(args, kTable, core::CommandRegistry{}, out, err);
  return {status, Contents(out), Contents(err)};
}

TEST(CliRun, SettingsFolderAndOverridesReachTheStore) {
  testing::TempDir dir;
  const Captured r = RunCaptured({"--settings", dir.path().string(), "--set",
                                  "Settings/AutoTrimThreshold=-30", "info", "take.wav"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "rate=44100\n");
  EXPECT_EQ(gSeen, (Args{"take.wav"}));
  settings::Settings& store = settings::Settings::Process();
  EXPECT_EQ(store.locations().userFile, settings::FolderLocations(dir.path()).userFile);
  EXPECT_EQ(store.GetInt("Settings", "AutoTrimThreshold", -20), -30);
  // An override is never written.
  EXPECT_FALSE(std::filesystem::exists(dir / "settings.ini"));
  settings::Settings::SetProcess(settings::FolderLocations(dir.path()));
}

TEST(CliRun, ExitStatusFollowsTheTaskResult) {
  EXPECT_EQ(RunCaptured({"record", "out.wav"}).status, 1);

  const Captured unknown = RunCaptured({"frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(unknown.out.empty());
  EXPECT_EQ(unknown.err, "quillet-cli: unknown command \"frobnicate\"\n"
                         "Try \"quillet-cli --help\".\n");

  testing::TempDir dir;
  testing::WriteFileBytes(dir / "file", "");
  const Captured notFolder = RunCaptured({"--settings", (dir / "file").string(), "info"});
  EXPECT_EQ(notFolder.status, 2);
  EXPECT_NE(notFolder.err.find("is not a folder"), std::string::npos);
}

TEST(CliRun, HelpListsTheTableAndOneCommandsUsage) {
  const Captured all = RunCaptured({"--help"});
  EXPECT_EQ(all.status, 0);
  for (const CliCommand& c : kTable)
    EXPECT_NE(all.out.find("  " + std::string(c.name) + " "), std::string::npos) << c.name;
  EXPECT_NE(all.out.find("--set SECTION/KEY=VALUE"), std::string::npos);

  const Captured one = RunCaptured({"record", "--help"});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out,
            "usage: quillet-cli [OPTIONS] record OUT --seconds N\nrecord from the sound device\n");
  EXPECT_EQ(RunCaptured({"help", "record"}).out, one.out);

  const Captured unknown = RunCaptured({"help", "frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "quillet-cli: unknown command \"frobnicate\"\n");
}

}  // namespace
}  // namespace quillet::app
