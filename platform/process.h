#pragma once
// Child processes started from an argument vector (never through a shell), each in
// its own process group so that a timeout or a cancel can stop everything it
// started. Writing to a child that stopped reading gives EPIPE, never SIGPIPE.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace quillet::platform {

// Polled while waiting; returning true stops the child (e.g. a task's Pump).
using CancelFn = std::function<bool()>;

// How one standard stream of the child is connected.
enum class StreamMode { Null, Inherit, Pipe };

struct ProcessOptions {
  std::vector<std::string> argv;  // argv[0]: a path, or a name looked up on PATH
  StreamMode input = StreamMode::Null;
  StreamMode output = StreamMode::Null;
  StreamMode error = StreamMode::Pipe;  // Pipe: captured, see ChildProcess::errorOutput
  std::filesystem::path workingDir;     // empty: ours
  std::vector<std::string> environment;  // "NAME=VALUE", added to or replacing ours
  int terminateGraceMs = 2000;           // SIGTERM, then SIGKILL after this long
};

struct ExitStatus {
  bool exited = false;  // false: killed by `signal` (or never ran)
  int code = -1;
  int signal = 0;
  bool success() const { return exited && code == 0; }
};

// One non-blocking transfer: bytes moved, or the errno that stopped it
// (EAGAIN: try again after WaitIo; EPIPE: the child closed its input).
// A read of 0 bytes with error 0 is the end of the child's output.
struct IoResult {
  std::size_t bytes = 0;
  int error = 0;
};

// Captured standard error keeps its last this many bytes.
inline constexpr std::size_t kMaxCapturedError = 64 * 1024;

class ChildProcess {
 public:
  ChildProcess() = default;
  // A child still running is terminated with its group and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // False with startError() set (ENOENT when the program is not found, EINVAL for an
  // empty or NUL-containing argument vector, else what posix_spawn reported).
  bool Start(const ProcessOptions& options);
  int startError() const { return startError_; }
  pid_t pid() const { return pid_; }

  // Non-blocking transfers on the pipes (EBADF when that stream is not a pipe or is
  // closed). The output pipe is closed by the read that reaches its end.
  IoResult Write(const void* data, std::size_t size);
  IoResult Read(void* data, std::size_t size);
  void CloseInput() { input_.Reset(); }
  bool inputOpen() const { return input_.valid(); }
  bool outputOpen() const { return output_.valid(); }

  struct Ready {
    bool input = false;   // a Write will make progress or fail
    bool output = false;  // a Read will return bytes or the end
  };
  // Waits up to timeoutMs (negative: no limit) for either open pipe to be ready,
  // collecting standard error meanwhile. Returns at once when neither is open.
  Ready WaitIo(int timeoutMs);

  // Reaps the child if it has exited; true once it has.
  bool Poll();
  bool running() const { return pid_ > 0 && !reaped_; }

  enum class WaitOutcome { Exited, TimedOut, Cancelled };
  // Waits for the exit (timeoutMs negative: no limit), polling cancel and collecting
  // standard error; on a timeout or a cancel the group is terminated first.
  // Read the output to its end before waiting, or a chatty child blocks until then.
  WaitOutcome Wait(std::int64_t timeoutMs = -1, const CancelFn& cancel = {});

  // SIGTERM to the whole group, SIGKILL after the grace time, then reaped.
  void Terminate();
  // Leaves a running child to itself (a program that outlives its use, such as the
  // mail composer a hand-off opened): it is no longer waited for or stopped, and it
  // is reaped when it ends, at a later Start or Detach of any ChildProcess.
  void Detach();

  const ExitStatus& exitStatus() const { return exit_; }
  const std::string& errorOutput() const { return errorText_; }

 private:
  void DrainError();
  void Reap(int waitStatus);
  bool LeaderExited();

  pid_t pid_ = -1;
  bool reaped_ = false;
  int startError_ = 0;
  int graceMs_ = 2000;
  UniqueFd input_, output_, error_;
  ExitStatus exit_;
  std::string errorText_;
};

// Run to completion: feed input to the child's stdin, collect its stdout and stderr.
struct RunRequest {
  ProcessOptions process;  // input and output are piped whatever is set there
  std::string input;
  std::int64_t timeoutMs = -1;  // negative: no limit
  CancelFn cancel;
  std::size_t maxOutput = std::size_t{64} << 20;  // bytes kept; the rest is read and dropped
};

struct RunResult {
  enum class Outcome { Finished, StartFailed, TimedOut, Cancelled };
  Outcome outcome = Outcome::StartFailed;
  int startError = 0;
  int inputError = 0;  // EPIPE when the child stopped reading before taking all input
  bool outputTruncated = false;
  ExitStatus exit;
  std::string output;
  std::string errorOutput;
  // Finished with exit code 0, having taken all its input and kept all its output.
  bool ok() const {
    return outcome == Outcome::Finished && inputError == 0 && !outputTruncated &&
           exit.success();
  }
};

RunResult RunProcess(const RunRequest& request);

// Full path of an executable: a name with a '/' is checked as it is, any other is
// searched in the ':'-separated folders of pathList (empty entries mean "."). Empty
// when not found.
std::filesystem::path FindProgram(std::string_view name, std::string_view pathList);
// The same over $PATH (or "/usr/local/bin:/usr/bin:/bin" when unset).
std::filesystem::path FindProgram(std::string_view name);

}  // namespace quillet::platform
