#pragma once
// Signals that stop quillet-cli. SIGTERM and SIGHUP, for the whole run, cancel the
// running task as Ctrl+C does and every later one too, so the command unwinds through
// its usual cancel path (temporary files, decoder output and the store folder go) and
// the exit status names the signal (143, 129). While a command runs on the sound
// device, Ctrl+C, SIGTERM and SIGHUP instead end the playing or recording cleanly.

#include <signal.h>

namespace quillet::app {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // SIGTERM or SIGHUP when one arrived during this run, else 0.
  static int received();

 private:
  struct sigaction oldTerm_ {};
  struct sigaction oldHup_ {};
};

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
  struct sigaction oldHup_ {};
};

}  // namespace quillet::app
