// quillet-cli as a separate process: a pipe given as input is refused at once, and
// SIGTERM or SIGHUP in the middle of decoding or encoding leaves nothing behind (no
// partial target, no decoder output, no store folder) and names the signal in the
// exit status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string_view>
#include <thread>

#include "fixtures/temp_dir.h"
#include "settings/settings.h"

extern char** environ;

namespace quillet::app {
namespace {

using namespace std::chrono_literals;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

class CliProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* sub : {"tmp", "cache", "config"}) std::filesystem::create_directories(dir / sub);
  }

  // Starts quillet-cli with our scratch folders as its temporary, cache and settings
  // folders, its standard error into a file.
  pid_t Start(std::vector<std::string> words) {
    std::vector<std::string> args{QUILLET_CLI, "--settings", (dir / "settings").string()};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<std::string> env{"TMPDIR=" + (dir / "tmp").string(), "XDG_CACHE_HOME=" + (dir / "cache").string(),
                                 "XDG_CONFIG_HOME=" + (dir / "config").string(), "PATH=/usr/bin:/bin"};
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // The exit status, or -1 when it did not end within the time (it is then killed).
  static int Finish(pid_t pid, std::chrono::milliseconds within) {
    const auto end = std::chrono::steady_clock::now() + within;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static bool WaitFor(const std::function<bool()>& ready) {
    for (int i = 0; i < 1000 && !ready(); ++i) std::this_thread::sleep_for(10ms);
    return ready();
  }
  // Names in folder (not below it) that start with prefix.
  static std::vector<std::string> Entries(const std::filesystem::path& folder, std::string_view prefix = "") {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
      if (e.path().filename().string().starts_with(prefix)) names.push_back(e.path().filename().string());
    return names;
  }
  // A stand-in codec program: a shell script.
  void FakeProgram(const std::string& component, const std::string& script) {
    const auto path = dir / component;
    WriteFileBytes(path, "#!/bin/sh\n" + script);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    settings::Settings s(settings::FolderLocations(dir / "settings"));
    ASSERT_TRUE(s.SetString("Components/" + component, "Path", path.string()));
  }

  TempDir dir;
};

TEST_F(CliProcess, APipeAsInputIsRefusedWithinASecond) {
  ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Finish(Start({"info", (dir / "pipe.wav").string()}), 5s), 2);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  EXPECT_EQ(ReadFileBytes(dir / "stderr.txt"), "Cannot open \"" + (dir / "pipe.wav").string() +
                                                   "\" because it is not a regular file (a pipe, a socket or "
                                                   "a device), not an audio file.\n");
}

// Stopped while a decoder or an encoder runs: cancelled as Ctrl+C would, every
// temporary file and folder gone, and 128 + the signal as the exit status.
TEST_F(CliProcess, TermAndHangupCleanUpAndSaySo) {
  // The decoder writes part of its output, the encoder takes all input; then both hang.
  FakeProgram("flacdec", "echo partial > \"$5\"\nexec sleep 30\n");
  FakeProgram("mp3el", "cat > /dev/null\nexec sleep 30\n");
  WriteFileBytes(dir / "in.flac", "fLaC" + std::string(100, '\0'));
  WriteFileBytes(dir / "in.wav", std::string("RIFF\x2c\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0"
                                             "data\x08\0\0\0\x01\0\x02\0\x03\0\x04\0", 52));
  WriteFileBytes(dir / "keep.mp3", "the old file");
  const auto tmp = dir / "tmp";
  const auto store = dir / "cache" / "Orvanta" / "Quillet" / "Current";
  struct Case {
    int signal, status;
    std::vector<std::string> words;
    std::function<bool()> busy;  // the program is running
    bool usesStore;              // convert streams without one; apply opens a document
  } cases[] = {
      {SIGTERM, 143, {"convert", (dir / "in.flac").string(), (dir / "out.wav").string()},
       [&] { return !Entries(tmp).empty(); }, false},
      {SIGHUP, 129, {"convert", (dir / "in.flac").string(), (dir / "out.wav").string()},
       [&] { return !Entries(tmp).empty(); }, false},
      {SIGTERM, 143, {"convert", (dir / "in.wav").string(), (dir / "keep.mp3").string()},
       [&] { return !Entries(dir.path(), ".keep.mp3").empty(); }, false},
      {SIGHUP, 129, {"apply", (dir / "in.flac").string(), (dir / "out.wav").string(), "amplify:100"},
       [&] { return !Entries(tmp).empty(); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.words) + " " + std::to_string(c.signal));
    const pid_t pid = Start(c.words);
    ASSERT_TRUE(WaitFor(c.busy)) << ReadFileBytes(dir / "stderr.txt");
    ASSERT_EQ(Entries(store, "run-").empty(), !c.usesStore);
    std::this_thread::sleep_for(100ms);  // into the wait
    ::kill(pid, c.signal);
    EXPECT_EQ(Finish(pid, 10s), c.status) << ReadFileBytes(dir / "stderr.txt");
    EXPECT_EQ(Entries(tmp), std::vector<std::string>{});
    EXPECT_EQ(Entries(store, "run-"), std::vector<std::string>{});
    EXPECT_EQ(Entries(dir.path(), ".keep"), std::vector<std::string>{});
    EXPECT_EQ(ReadFileBytes(dir / "keep.mp3"), "the old file");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
  }
}

}  // namespace
}  // namespace quillet::app
