// quillet-cli send: an upload from the command line, and refused command lines.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/cli/cli.h"
#include "app/registry.h"
#include "send_fixture.h"

namespace quillet::send {
namespace {

using namespace testsupport;

int Cli(const std::vector<std::string>& args, std::string* err = nullptr) {
  std::FILE* out = std::tmpfile();
  std::FILE* errFile = std::tmpfile();
  const int status = app::RunCli(args, app::Commands(), app::BuildCommandRegistry(), out, errFile);
  if (err) {
    std::rewind(errFile);
    char buffer[4096];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, errFile);
    err->assign(buffer, n);
  }
  std::fclose(out);
  std::fclose(errFile);
  return status;
}

TEST(CliSend, UploadsTheFileAsItIsAndRefusesIncompleteLines) {
  TempDir dir;
  std::filesystem::create_directories(dir / "root" / "in");
  WriteFileBytes(dir / "take.wav", "RIFF and more");
  PythonServer server;
  if (!server.Start("ftp_server.py", {(dir / "root").string(), "joe", "pw"}))
    FAIL() << server.why();
  const std::string settingsDir = (dir / "settings").string();
  EXPECT_EQ(Cli({"--settings", settingsDir, "send", "ftp", (dir / "take.wav").string(), "--host",
                 Loopback(server.port()), "--user", "joe", "--password", "pw",
                 "--folder", "in"}),
            0);
  EXPECT_EQ(ReadFileBytes(dir / "root" / "in" / "take.wav"), "RIFF and more");
  // Nothing of the command line was stored.
  EXPECT_EQ(ReadFileBytes(dir / "settings" / "settings.ini").find("pw"), std::string::npos);

  std::string err;
  EXPECT_EQ(Cli({"--settings", settingsDir, "send", "email", (dir / "take.wav").string()}, &err), 2);
  EXPECT_NE(err.find("send email needs --to"), std::string::npos) << err;
  EXPECT_EQ(Cli({"--settings", settingsDir, "send", "ftp", "a.wav", "--to", "x"}, &err), 2);
  EXPECT_NE(err.find("does not take \"--to\""), std::string::npos) << err;
}

}  // namespace
}  // namespace quillet::send
