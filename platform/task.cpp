#include "platform/task.h"

#include <csignal>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quillet::platform {

namespace {
volatile sig_atomic_t gProgramStop = 0;
}  // namespace

void RequestProgramStop() { gProgramStop = 1; }
void ClearProgramStop() { gProgramStop = 0; }
bool ProgramStopRequested() { return gProgramStop != 0; }

namespace {

using Clock = std::chrono::steady_clock;

// How long a wait on something other than the window pumps between checks.
constexpr int kWaitSliceMs = 10;

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, 1 << 30));
}

Clock::time_point Deadline(std::int64_t ms) {
  constexpr std::int64_t kForever = std::int64_t{1} << 40;
  if (ms < 0 || ms >= kForever) return Clock::time_point::max();
  return Clock::now() + std::chrono::milliseconds(ms);
}

// Restores the running flag and the owner pointer on every way out of Run.
struct RunScope {
  bool& running;
  ProgressWindowFactory*& owner;
  ~RunScope() {
    running = false;
    owner = nullptr;
  }
};

}  // namespace

bool LProgressDialog::Run(ProgressWindowFactory& owner) {
  if (running_ || window_) return false;
  window_ = owner.Create();
  if (!window_) {
    result = kTaskFailed;
    return false;
  }
  running_ = true;
  owner_ = &owner;
  RunScope scope{running_, owner_};
  percent_ = 0;
  window_->SetCaption(title_);
  window_->SetProgress(0);
  owner.SetOwnerEnabled(false);
  const bool returned = Execute();
  owner.SetOwnerEnabled(true);
  window_.reset();
  return returned;
}

void LProgressDialog::SetText(int line, std::string_view text) {
  if (window_ && (line == 0 || line == 1)) window_->SetText(line, text);
}

void LProgressDialog::SetProgress(double fraction) {
  if (!window_) return;
  if (!(fraction > 0)) fraction = 0;  // NaN too
  const int percent = static_cast<int>(std::min(fraction, 1.0) * 100);
  if (percent == percent_) return;
  percent_ = percent;
  window_->SetProgress(percent);
}

bool LProgressDialog::Pump() {
  if (!window_) return true;
  if (!window_->PumpEvents(0)) return false;
  window_.reset();
  return true;
}

bool LProgressDialog::Wait(std::int64_t ms) {
  const Clock::time_point deadline = Deadline(ms);
  for (;;) {
    if (!window_) return true;
    if (window_->PumpEvents(MsLeft(deadline))) {
      window_.reset();
      return true;
    }
    if (Clock::now() >= deadline) return false;
  }
}

TaskResult LProgressDialog::WaitFor(const std::function<bool()>& signalled, std::int64_t ms) {
  const Clock::time_point deadline = Deadline(ms);
  for (;;) {
    if (!window_) return kTaskCancelled;
    if (signalled()) return kTaskDone;
    if (Clock::now() >= deadline) return kTaskFailed;
    if (window_->PumpEvents(std::min(kWaitSliceMs, MsLeft(deadline)))) {
      window_.reset();
      return kTaskCancelled;
    }
  }
}

TaskResult LProgressDialog::WaitFor(int fd, std::int64_t ms) {
  return WaitFor(
      [fd] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;  // readable, hung up or invalid: nothing more to wait for
      },
      ms);
}

void LProgressDialog::ShowError(std::string_view text) {
  if (window_) {
    window_->ShowMessage(text, "Error", MessageIcon::Warning);
  } else if (owner_) {
    owner_->ShowOwnerMessage(text, "Error", MessageIcon::Warning);
  }
}

}  // namespace quillet::platform
