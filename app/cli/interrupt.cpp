#include "app/cli/interrupt.h"

#include <atomic>

namespace quillet::app {
namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnDeviceInterrupt(int) { gInterrupted.store(true); }

}  // namespace

InterruptGuard::InterruptGuard() {
  gInterrupted.store(false);
  struct sigaction sa {};
  sa.sa_handler = OnDeviceInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &oldInt_);
  sigaction(SIGTERM, &sa, &oldTerm_);
}

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
}

bool InterruptGuard::interrupted() const { return gInterrupted.load(); }

}  // namespace quillet::app
