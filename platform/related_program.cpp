#include "platform/related_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

extern char** environ;

namespace quillet::platform {
namespace {

// Programs left running after a cancelled wait; reaped when they end, so none stays
// a zombie for the rest of the session.
std::mutex& LeftMutex() {
  static std::mutex m;
  return m;
}
std::vector<pid_t>& Left() {
  static std::vector<pid_t> pids;
  return pids;
}

void ReapLeft() {
  std::lock_guard lock(LeftMutex());
  std::erase_if(Left(), [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quote == '\'') {
      if (c == '\'') quote = 0;
      else word += c;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
      inWord = true;
    } else if (quote == '"') {
      if (c == '"') quote = 0;
      else word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

pid_t StartDetached(const std::vector<std::string>& argv) {
  ReapLeft();
  if (argv.empty() || argv[0].empty()) {
    errno = ENOENT;
    return -1;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own process group: a terminal's Ctrl+C for the editor does not reach it.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (err != 0) {
    errno = err;
    return -1;
  }
  return pid;
}

RelatedProgramTask::RelatedProgramTask(std::string name, std::vector<std::string> argv,
                                       std::int64_t limitMs)
    : LProgressDialog(name), name_(std::move(name)), argv_(std::move(argv)), limitMs_(limitMs) {}

bool RelatedProgramTask::Execute() {
  pid_ = StartDetached(argv_);
  if (pid_ < 0) {
    message_ = "The " + name_ + " program could not be started (" +
               (argv_.empty() ? std::string("no command") : argv_[0]) + ": " +
               std::strerror(errno) + ").";
    result = kTaskFailed;
    return true;
  }
  SetText(0, "Please wait for " + name_);
  SetText(1, "to close to continue...");
  result = WaitFor([this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }, limitMs_);
  if (result != kTaskDone) {
    std::lock_guard lock(LeftMutex());
    Left().push_back(pid_);
  }
  return true;
}

}  // namespace quillet::platform
