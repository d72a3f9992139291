#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "fixtures/temp_dir.h"

namespace quillet::platform {
namespace {

using testing::OpenDescriptorCount;
using testing::TempDir;

RunResult RunArgs(std::vector<std::string> argv, std::string input = {},
              std::int64_t timeoutMs = 30000) {
  RunRequest request;
  request.process.argv = std::move(argv);
  request.input = std::move(input);
  request.timeoutMs = timeoutMs;
  return RunProcess(request);
}

// Gone, or a zombie waiting for a reaper that is not us.
bool ProcessGone(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line)) return true;
    const std::size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z')
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST(Process, ExitCodesSignalsAndStderrAreReported) {
  const RunResult three = RunArgs({"sh", "-c", "echo oops >&2; exit 3"});
  EXPECT_EQ(three.outcome, RunResult::Outcome::Finished);
  EXPECT_TRUE(three.exit.exited);
  EXPECT_EQ(three.exit.code, 3);
  EXPECT_EQ(three.errorOutput, "oops\n");
  EXPECT_FALSE(three.ok());

  const RunResult killed = RunArgs({"sh", "-c", "kill -TERM $$"});
  EXPECT_FALSE(killed.exit.exited);
  EXPECT_EQ(killed.exit.signal, SIGTERM);
  EXPECT_FALSE(killed.ok());

  const RunResult fine = RunArgs({"sh", "-c", "exit 0"});
  EXPECT_TRUE(fine.ok());
}

// Both directions at once through more than a pipe's buffer: a runner that wrote
// everything before reading would deadlock here.
TEST(Process, LargeInputAndOutputFlowAtTheSameTime) {
  const std::string data = Pattern(3 << 20);
  const RunResult r = RunArgs({"cat"}, data);
  ASSERT_TRUE(r.ok()) << r.errorOutput;
  EXPECT_TRUE(r.output == data);
}

TEST(Process, ArgumentsReachTheProgramVerbatim) {
  const RunResult r = RunArgs({"printf", "%s|", "a b", "$HOME", "*;exit 1", "'\"", ""});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.output, "a b|$HOME|*;exit 1|'\"||");
}

TEST(Process, WorkingFolderAndEnvironment) {
  TempDir dir;
  RunRequest request;
  request.process.argv = {"sh", "-c", "pwd; echo \"$QUILLET_PROBE\""};
  request.process.workingDir = dir.path();
  request.process.environment = {"QUILLET_PROBE=42"};
  const RunResult r = RunProcess(request);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.output, std::filesystem::canonical(dir.path()).string() + "\n42\n");
}

TEST(Process, StartFailuresAreStatusesNotCrashes) {
  const RunResult missing = RunArgs({"quillet-no-such-program"});
  EXPECT_EQ(missing.outcome, RunResult::Outcome::StartFailed);
  EXPECT_EQ(missing.startError, ENOENT);

  ChildProcess empty;
  EXPECT_FALSE(empty.Start({}));
  EXPECT_EQ(empty.startError(), EINVAL);

  ChildProcess nul;
  ProcessOptions options;
  options.argv = {"printf", std::string("a\0b", 3)};
  EXPECT_FALSE(nul.Start(options));
  EXPECT_EQ(nul.startError(), EINVAL);

  TempDir dir;
  RunRequest request;
  request.process.argv = {"pwd"};
  request.process.workingDir = dir / "missing";
  const RunResult noFolder = RunProcess(request);
  EXPECT_EQ(noFolder.outcome, RunResult::Outcome::StartFailed);
  EXPECT_NE(noFolder.startError, 0);
}

// A child that exits without reading: the write fails with EPIPE and this process
// is not killed by SIGPIPE. The input is larger than a pipe holds, so some write
// must meet the closed pipe.
TEST(Process, WritingToAChildThatStoppedReadingGivesEpipe) {
  const RunResult r = RunArgs({"sh", "-c", "exit 0"}, Pattern(4 << 20));
  EXPECT_EQ(r.outcome, RunResult::Outcome::Finished);
  EXPECT_EQ(r.inputError, EPIPE);
  EXPECT_TRUE(r.exit.success());
  EXPECT_FALSE(r.ok());

  ChildProcess child;
  ProcessOptions options;
  options.argv = {"true"};
  options.input = StreamMode::Pipe;
  ASSERT_TRUE(child.Start(options));
  ASSERT_EQ(child.Wait(30000), ChildProcess::WaitOutcome::Exited);
  const char byte = 'x';
  EXPECT_EQ(child.Write(&byte, 1).error, EPIPE);

  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGPIPE)) << "the signal mask was not restored";
  sigset_t pending;
  sigpending(&pending);
  EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "a SIGPIPE was left pending";
}

TEST(Process, TimeoutStopsTheWholeGroup) {
  ChildProcess child;
  ProcessOptions options;
  options.argv = {"sh", "-c", "sleep 30 & echo $!; wait"};
  options.output = StreamMode::Pipe;
  ASSERT_TRUE(child.Start(options));
  std::string line;
  while (line.find('\n') == std::string::npos) {
    ASSERT_TRUE(child.WaitIo(30000).output);
    char buf[64];
    const IoResult r = child.Read(buf, sizeof buf);
    ASSERT_GT(r.bytes, 0u);
    line.append(buf, r.bytes);
  }
  const pid_t grandchild = std::stoi(line);
  EXPECT_EQ(child.Wait(100), ChildProcess::WaitOutcome::TimedOut);
  EXPECT_FALSE(child.running());
  EXPECT_FALSE(child.exitStatus().exited);
  EXPECT_TRUE(ProcessGone(grandchild));

  const RunResult sleeper = RunArgs({"sleep", "5"}, {}, /*timeoutMs=*/100);
  EXPECT_EQ(sleeper.outcome, RunResult::Outcome::TimedOut);
  EXPECT_FALSE(sleeper.ok());
}

// A child that ignores SIGTERM still goes, after the grace time.
TEST(Process, StubbornChildIsKilled) {
  ChildProcess child;
  ProcessOptions options;
  options.argv = {"sh", "-c", "trap '' TERM; echo ready; while :; do sleep 1; done"};
  options.output = StreamMode::Pipe;
  options.terminateGraceMs = 100;
  ASSERT_TRUE(child.Start(options));
  ASSERT_TRUE(child.WaitIo(30000).output);  // the trap is set once "ready" is out
  child.Terminate();
  EXPECT_FALSE(child.running());
  EXPECT_EQ(child.exitStatus().signal, SIGKILL);
}

TEST(Process, CancelHookStopsTheChild) {
  int polls = 0;
  RunRequest request;
  request.process.argv = {"sleep", "30"};
  request.cancel = [&] { return ++polls >= 3; };
  const RunResult r = RunProcess(request);
  EXPECT_EQ(r.outcome, RunResult::Outcome::Cancelled);
  EXPECT_GE(polls, 3);
  EXPECT_FALSE(r.exit.exited);
}

TEST(Process, DestroyingARunningChildKillsAndReapsIt) {
  pid_t pid;
  {
    ChildProcess child;
    ProcessOptions options;
    options.argv = {"sleep", "30"};
    ASSERT_TRUE(child.Start(options));
    pid = child.pid();
    ASSERT_TRUE(child.running());
  }
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);  // reaped by us, not left a zombie
  EXPECT_EQ(errno, ESRCH);
}

TEST(Process, NoDescriptorLeaksOnAnyPath) {
  const int before = OpenDescriptorCount();
  RunArgs({"cat"}, "abc");
  RunArgs({"quillet-no-such-program"});
  RunArgs({"sh", "-c", "exit 0"}, Pattern(1 << 20));
  RunArgs({"sleep", "5"}, {}, 50);
  {
    ChildProcess child;
    ProcessOptions options;
    options.argv = {"cat"};
    options.input = options.output = StreamMode::Pipe;
    ASSERT_TRUE(child.Start(options));
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(Process, CapturedStderrKeepsItsTail) {
  const RunResult r = RunArgs({"sh", "-c", "i=0; while [ $i -lt 2000 ]; do "
                                       "echo 0123456789012345678901234567890123456789 >&2; "
                                       "i=$((i+1)); done; echo last >&2"});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.errorOutput.size(), kMaxCapturedError);
  EXPECT_TRUE(r.errorOutput.ends_with("last\n"));
}

TEST(Process, OutputBeyondTheLimitIsDroppedAndFlagged) {
  RunRequest request;
  request.process.argv = {"cat"};
  request.input = Pattern(200000);
  request.maxOutput = 1000;
  const RunResult r = RunProcess(request);
  EXPECT_EQ(r.outcome, RunResult::Outcome::Finished);
  EXPECT_TRUE(r.outputTruncated);
  EXPECT_EQ(r.output, request.input.substr(0, 1000));
  EXPECT_FALSE(r.ok());
}

TEST(Process, FindProgramSearchesTheGivenFolders) {
  TempDir a, b;
  testing::WriteFileBytes(a / "tool", "#!/bin/sh\n");  // not executable: skipped
  testing::WriteFileBytes(b / "tool", "#!/bin/sh\n");
  chmod((b / "tool").c_str(), 0755);
  std::filesystem::create_directory(a / "dir");
  chmod((a / "dir").c_str(), 0755);

  const std::string list = a.path().string() + ":" + b.path().string();
  EXPECT_EQ(FindProgram("tool", list), b / "tool");
  EXPECT_EQ(FindProgram("dir", list), std::filesystem::path());
  EXPECT_EQ(FindProgram("missing", list), std::filesystem::path());
  EXPECT_EQ(FindProgram("", list), std::filesystem::path());
  EXPECT_EQ(FindProgram((b / "tool").string(), ""), b / "tool");
  EXPECT_EQ(FindProgram((a / "tool").string(), list), std::filesystem::path());
  EXPECT_FALSE(FindProgram("sh").empty());
}

// A detached child outlives its object and is reaped once it ends.
TEST(ChildProcessDetach, LeavesTheChildRunningThenReapsIt) {
  pid_t pid = -1;
  {
    ChildProcess child;
    ProcessOptions o;
    o.argv = {"sleep", "0.3"};
    ASSERT_TRUE(child.Start(o));
    pid = child.pid();
    child.Detach();
    EXPECT_FALSE(child.running());
  }
  EXPECT_EQ(::kill(pid, 0), 0) << "the destructor stopped a detached child";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ChildProcess next;  // a later start reaps what was left
  ProcessOptions o;
  o.argv = {"true"};
  ASSERT_TRUE(next.Start(o));
  EXPECT_NE(::kill(pid, 0), 0) << "the detached child was never reaped";
}

}  // namespace
}  // namespace quillet::platform
