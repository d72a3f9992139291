#include "platform/scsi_worker.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>

namespace quillet::platform {

ScsiWorker::ScsiWorker(ScsiTransport& transport) : transport_(transport) {
  // Signalled from the start: no command is pending.
  event_.Reset(::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK));
  ok_ = event_ && thread_.Start([this] { Loop(); });
}

ScsiWorker::~ScsiWorker() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !hasCommand_ && !running_; });
  }
  thread_.Stop([this] {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  });
}

bool ScsiWorker::Start(const ScsiCommand& command) {
  if (!ok_) return false;
  {
    std::lock_guard lock(mutex_);
    if (hasCommand_ || running_ || done_) return false;
    std::uint64_t value = 0;
    // Reset the event: a command is pending from here on.
    while (::read(event_.get(), &value, sizeof value) < 0 && errno == EINTR) {
    }
    command_ = command;
    hasCommand_ = true;
  }
  changed_.notify_all();
  return true;
}

bool ScsiWorker::pending() const {
  std::lock_guard lock(mutex_);
  return hasCommand_ || running_ || done_;
}

RawScsiReply ScsiWorker::Finish() {
  std::unique_lock lock(mutex_);
  if (!hasCommand_ && !running_ && !done_) {
    RawScsiReply r;
    r.systemError = EINVAL;
    return r;
  }
  changed_.wait(lock, [this] { return done_; });
  done_ = false;
  return reply_;
}

void ScsiWorker::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return hasCommand_ || thread_.stopRequested(); });
    if (!hasCommand_) return;
    const ScsiCommand command = command_;
    hasCommand_ = false;
    running_ = true;
    lock.unlock();
    const RawScsiReply reply = transport_.Execute(command);
    lock.lock();
    reply_ = reply;
    running_ = false;
    done_ = true;
    const std::uint64_t one = 1;
    while (::write(event_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    changed_.notify_all();
  }
}

}  // namespace quillet::platform
