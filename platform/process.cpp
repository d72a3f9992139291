#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

extern char** environ;

namespace quillet::platform {
namespace {

using Clock = std::chrono::steady_clock;

// How often Wait polls the exit and the cancel hook.
constexpr int kPollSliceMs = 10;

// Descriptors above stderr, so that dup2 onto 0..2 in the child never overwrites
// another pipe end even when our own standard streams are closed.
UniqueFd AboveStdio(int fd) {
  if (fd < 0 || fd > 2) return UniqueFd(fd);
  UniqueFd low(fd);
  return UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
}

bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd = AboveStdio(fds[0]);
  writeEnd = AboveStdio(fds[1]);
  return readEnd.valid() && writeEnd.valid();
}

void SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// write() with SIGPIPE held back for this thread: a closed reader gives EPIPE.
// A SIGPIPE raised by this write is consumed; one that was already pending stays.
IoResult WriteWithoutSigpipe(int fd, const void* data, std::size_t size) {
  sigset_t pipeSet, old, pending;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  const int err = n < 0 ? errno : 0;
  if (err == EPIPE && !wasPending) {
    const timespec zero{};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (n < 0) return {0, err == EWOULDBLOCK ? EAGAIN : err};
  return {static_cast<std::size_t>(n), 0};
}

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, 1 << 30));
}

Clock::time_point DeadlineAfter(std::int64_t timeoutMs) {
  constexpr std::int64_t kForever = std::int64_t{1} << 40;  // about 35 years
  if (timeoutMs < 0 || timeoutMs >= kForever) return Clock::time_point::max();
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

void SleepMs(int ms) {
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool IsExecutableFile(const std::filesystem::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

// Our environment with the given "NAME=VALUE" entries added or replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  for (const std::string& change : changes) {
    const std::size_t eq = change.find('=');
    const std::string_view name(change.data(), eq == std::string::npos ? change.size() : eq);
    std::erase_if(env, [&](const std::string& entry) {
      return entry.size() > name.size() && entry[name.size()] == '=' &&
             std::string_view(entry).substr(0, name.size()) == name;
    });
    if (eq != std::string::npos) env.push_back(change);
  }
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// RAII for the spawn descriptions.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

std::filesystem::path FindProgram(std::string_view name, std::string_view pathList) {
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};
  if (name.find('/') != std::string_view::npos) {
    std::filesystem::path p(name);
    return IsExecutableFile(p) ? p : std::filesystem::path();
  }
  std::size_t start = 0;
  while (start <= pathList.size()) {
    std::size_t end = pathList.find(':', start);
    if (end == std::string_view::npos) end = pathList.size();
    std::string_view dir = pathList.substr(start, end - start);
    std::filesystem::path candidate = std::filesystem::path(dir.empty() ? "." : dir) / name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

std::filesystem::path FindProgram(std::string_view name) {
  const char* path = std::getenv("PATH");
  return FindProgram(name, path ? path : "/usr/local/bin:/usr/bin:/bin");
}

namespace {

// Children left running by Detach, reaped once they have ended.
std::mutex detachedLock;
std::vector<pid_t> detached;

void ReapDetached() {
  std::lock_guard<std::mutex> hold(detachedLock);
  std::erase_if(detached, [](pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  });
}

}  // namespace

void ChildProcess::Detach() {
  input_.Reset();
  output_.Reset();
  error_.Reset();
  if (running()) {
    std::lock_guard<std::mutex> hold(detachedLock);
    detached.push_back(pid_);
  }
  pid_ = -1;
  reaped_ = false;
  ReapDetached();
}

ChildProcess::~ChildProcess() {
  input_.Reset();  // a well-behaved child sees the end of its input first
  if (running() && !Poll()) Terminate();
}

bool ChildProcess::Start(const ProcessOptions& options) {
  if (pid_ > 0) {
    startError_ = EBUSY;
    return false;
  }
  startError_ = 0;
  ReapDetached();
  graceMs_ = std::max(0, options.terminateGraceMs);
  if (options.argv.empty() ||
      std::any_of(options.argv.begin(), options.argv.end(),
                  [](const std::string& a) { return a.find('\0') != std::string::npos; })) {
    startError_ = EINVAL;
    return false;
  }
  const std::filesystem::path program = FindProgram(options.argv[0]);
  if (program.empty()) {
    startError_ = ENOENT;
    return false;
  }

  SpawnSetup setup;
  UniqueFd childEnds[3];
  UniqueFd* parentEnds[3] = {&input_, &output_, &error_};
  const StreamMode modes[3] = {options.input, options.output, options.error};
  for (int fd = 0; fd < 3; ++fd) {
    if (modes[fd] == StreamMode::Pipe) {
      UniqueFd readEnd, writeEnd;
      if (!MakePipe(readEnd, writeEnd)) {
        startError_ = errno ? errno : EMFILE;
        input_.Reset(), output_.Reset(), error_.Reset();
        return false;
      }
      childEnds[fd] = fd == 0 ? std::move(readEnd) : std::move(writeEnd);
      *parentEnds[fd] = fd == 0 ? std::move(writeEnd) : std::move(readEnd);
      SetNonBlocking(parentEnds[fd]->get());
      posix_spawn_file_actions_adddup2(&setup.actions, childEnds[fd].get(), fd);
    } else if (modes[fd] == StreamMode::Null) {
      posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null",
                                       fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
  if (!options.workingDir.empty())
    posix_spawn_file_actions_addchdir_np(&setup.actions, options.workingDir.c_str());

  // Own group (so the whole tree can be stopped), no blocked signals, and the
  // signals a parent commonly ignores or catches back at their defaults.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2,
                  SIGTSTP, SIGTTIN, SIGTTOU, SIGXFSZ, SIGXCPU})
    sigaddset(&defaults, sig);
  posix_spawnattr_setflags(&setup.attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&setup.attr, 0);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setsigdefault(&setup.attr, &defaults);

  std::vector<std::string> args = options.argv;
  std::vector<std::string> env = MergedEnvironment(options.environment);
  std::vector<char*> argvPtrs = CStrings(args);
  std::vector<char*> envPtrs = CStrings(env);
  pid_t pid = -1;
  const int rc =
      ::posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argvPtrs.data(),
                    envPtrs.data());
  if (rc != 0) {
    startError_ = rc;
    input_.Reset(), output_.Reset(), error_.Reset();
    return false;
  }
  pid_ = pid;
  reaped_ = false;
  exit_ = {};
  errorText_.clear();
  return true;
}

IoResult ChildProcess::Write(const void* data, std::size_t size) {
  if (!input_) return {0, EBADF};
  if (size == 0) return {};
  return WriteWithoutSigpipe(input_.get(), data, size);
}

IoResult ChildProcess::Read(void* data, std::size_t size) {
  if (!output_) return {0, EBADF};
  if (size == 0) return {};
  ssize_t n;
  do {
    n = ::read(output_.get(), data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return {0, errno == EWOULDBLOCK ? EAGAIN : errno};
  if (n == 0) output_.Reset();
  return {static_cast<std::size_t>(n), 0};
}

void ChildProcess::DrainError() {
  char buf[4096];
  while (error_) {
    const ssize_t n = ::read(error_.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // EAGAIN: nothing more for now
    if (n == 0) {
      error_.Reset();
      return;
    }
    errorText_.append(buf, static_cast<std::size_t>(n));
    if (errorText_.size() > kMaxCapturedError)
      errorText_.erase(0, errorText_.size() - kMaxCapturedError);
  }
}

ChildProcess::Ready ChildProcess::WaitIo(int timeoutMs) {
  const Clock::time_point deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    Ready ready;
    pollfd fds[3];
    nfds_t n = 0;
    int inputIdx = -1, outputIdx = -1, errorIdx = -1;
    if (input_) inputIdx = static_cast<int>(n), fds[n++] = {input_.get(), POLLOUT, 0};
    if (output_) outputIdx = static_cast<int>(n), fds[n++] = {output_.get(), POLLIN, 0};
    if (inputIdx < 0 && outputIdx < 0) return ready;
    if (error_) errorIdx = static_cast<int>(n), fds[n++] = {error_.get(), POLLIN, 0};
    const int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
    const int rc = ::poll(fds, n, wait);
    if (rc < 0 && errno != EINTR) return ready;
    if (rc > 0) {
      if (errorIdx >= 0 && fds[errorIdx].revents) DrainError();
      ready.input = inputIdx >= 0 && fds[inputIdx].revents != 0;
      ready.output = outputIdx >= 0 && fds[outputIdx].revents != 0;
      if (ready.input || ready.output) return ready;
    }
    if (timeoutMs >= 0 && Clock::now() >= deadline) return ready;
  }
}

void ChildProcess::Reap(int waitStatus) {
  reaped_ = true;
  if (WIFEXITED(waitStatus)) {
    exit_ = {true, WEXITSTATUS(waitStatus), 0};
  } else if (WIFSIGNALED(waitStatus)) {
    exit_ = {false, -1, WTERMSIG(waitStatus)};
  }
}

bool ChildProcess::Poll() {
  if (pid_ <= 0) return false;
  if (reaped_) return true;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) {
    Reap(status);
  } else if (r < 0) {
    reaped_ = true;  // ECHILD: someone else reaped it; nothing left to wait for
  }
  return reaped_;
}

// Exited but not reaped: the zombie keeps the group id from being reused while
// the stragglers of its group are killed.
bool ChildProcess::LeaderExited() {
  siginfo_t info{};
  int r;
  do {
    r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (r < 0 && errno == EINTR);
  return r < 0 || info.si_pid == pid_;
}

void ChildProcess::Terminate() {
  if (!running()) return;
  ::kill(-pid_, SIGTERM);
  const Clock::time_point deadline = DeadlineAfter(graceMs_);
  while (!LeaderExited() && Clock::now() < deadline) {
    DrainError();
    SleepMs(kPollSliceMs);
  }
  ::kill(-pid_, SIGKILL);
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r == pid_) Reap(status);
  reaped_ = true;
  DrainError();
}

ChildProcess::WaitOutcome ChildProcess::Wait(std::int64_t timeoutMs, const CancelFn& cancel) {
  const Clock::time_point deadline = DeadlineAfter(timeoutMs);
  for (;;) {
    DrainError();
    if (Poll() || pid_ <= 0) return WaitOutcome::Exited;
    if (cancel && cancel()) {
      Terminate();
      return WaitOutcome::Cancelled;
    }
    if (Clock::now() >= deadline) {
      Terminate();
      return WaitOutcome::TimedOut;
    }
    int slice = timeoutMs < 0 ? kPollSliceMs : std::min(kPollSliceMs, RemainingMs(deadline));
    if (error_) {
      pollfd fd{error_.get(), POLLIN, 0};
      ::poll(&fd, 1, slice);
    } else {
      SleepMs(slice);
    }
  }
}

RunResult RunProcess(const RunRequest& request) {
  RunResult result;
  ProcessOptions options = request.process;
  options.input = StreamMode::Pipe;
  options.output = StreamMode::Pipe;
  ChildProcess child;
  if (!child.Start(options)) {
    result.startError = child.startError();
    return result;
  }
  const Clock::time_point deadline = DeadlineAfter(request.timeoutMs);
  std::size_t written = 0;
  if (request.input.empty()) child.CloseInput();
  result.outcome = RunResult::Outcome::Finished;
  char buf[64 * 1024];
  while (child.inputOpen() || child.outputOpen()) {
    if (request.cancel && request.cancel()) {
      child.Terminate();
      result.outcome = RunResult::Outcome::Cancelled;
      break;
    }
    if (Clock::now() >= deadline) {
      child.Terminate();
      result.outcome = RunResult::Outcome::TimedOut;
      break;
    }
    const int slice = std::min(50, RemainingMs(deadline));
    const ChildProcess::Ready ready = child.WaitIo(slice);
    if (ready.input) {
      const IoResult w =
          child.Write(request.input.data() + written, request.input.size() - written);
      written += w.bytes;
      if (w.error != 0 && w.error != EAGAIN) {
        result.inputError = w.error;
        child.CloseInput();
      } else if (written == request.input.size()) {
        child.CloseInput();
      }
    }
    if (ready.output) {
      const IoResult r = child.Read(buf, sizeof buf);
      const std::size_t room = request.maxOutput - std::min(request.maxOutput, result.output.size());
      result.output.append(buf, std::min(r.bytes, room));
      if (r.bytes > room) result.outputTruncated = true;
      if (r.error != 0 && r.error != EAGAIN) {
        result.outcome = RunResult::Outcome::Finished;
        break;  // a broken output pipe: the child's exit status tells the rest
      }
    }
  }
  if (result.outcome == RunResult::Outcome::Finished) {
    const std::int64_t left = request.timeoutMs < 0 ? -1 : RemainingMs(deadline);
    switch (child.Wait(left, request.cancel)) {
      case ChildProcess::WaitOutcome::Exited:
        break;
      case ChildProcess::WaitOutcome::TimedOut:
        result.outcome = RunResult::Outcome::TimedOut;
        break;
      case ChildProcess::WaitOutcome::Cancelled:
        result.outcome = RunResult::Outcome::Cancelled;
        break;
    }
  }
  result.exit = child.exitStatus();
  result.errorOutput = child.errorOutput();
  return result;
}

}  // namespace quillet::platform
