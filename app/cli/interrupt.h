#pragma once
// Ctrl+C (and SIGTERM) while a command runs on the sound device: noted, so the
// command stops the device cleanly instead of the process dying mid-write.

#include <signal.h>

namespace quillet::app {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  // A signal arrived since this guard was made.
  bool interrupted() const;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

}  // namespace quillet::app
