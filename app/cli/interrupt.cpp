#include "app/cli/interrupt.h"

#include <atomic>

#include "platform/task.h"

namespace quillet::app {
namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gReceived{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int sig) {
  gReceived.store(sig);
  platform::RequestProgramStop();
}

extern "C" void OnDeviceInterrupt(int sig) {
  if (sig != SIGINT) gReceived.store(sig);
  gInterrupted.store(true);
}

void Install(int sig, void (*handler)(int), struct sigaction* old) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, old);
}

}  // namespace

StopSignals::StopSignals() {
  gReceived.store(0);
  Install(SIGTERM, OnStopSignal, &oldTerm_);
  Install(SIGHUP, OnStopSignal, &oldHup_);
}

StopSignals::~StopSignals() {
  sigaction(SIGTERM, &oldTerm_, nullptr);
  sigaction(SIGHUP, &oldHup_, nullptr);
}

int StopSignals::received() { return gReceived.load(); }

InterruptGuard::InterruptGuard() {
  gInterrupted.store(false);
  Install(SIGINT, OnDeviceInterrupt, &oldInt_);
  Install(SIGTERM, OnDeviceInterrupt, &oldTerm_);
  Install(SIGHUP, OnDeviceInterrupt, &oldHup_);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
  sigaction(SIGHUP, &oldHup_, nullptr);
}

bool InterruptGuard::interrupted() const { return gInterrupted.load(); }

}  // namespace quillet::app
