#pragma once
// Long operations run as tasks: Execute does the work in blocks, reports progress
// and pumps the progress window's events between blocks; closing the window
// cancels the task at its next Pump. The window itself is behind an interface
// (Qt in the editor, the terminal in quillet-cli, a script in tests).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/prompter.h"
#include "platform/result.h"

namespace quillet::platform {

// A request to stop the whole program (quillet-cli on SIGTERM or SIGHUP). Progress
// windows cancel while it stands, and waits that run outside a task's pump (an
// encoder finishing, say) give up on it. Setting it is async-signal-safe.
void RequestProgramStop();
void ClearProgramStop();
bool ProgramStopRequested();

// One progress window: a caption, two lines of text, a bar and a way to cancel.
// Destroying it closes the window.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual void SetText(int line, std::string_view text) = 0;  // line 0 or 1
  virtual void SetProgress(int percent) = 0;                  // 0..100
  // Handles the pending events, first waiting up to waitMs for one when there are
  // none; true when the person closed (cancelled) the window.
  virtual bool PumpEvents(int waitMs) = 0;
  virtual void ShowMessage(std::string_view text, std::string_view caption,
                           MessageIcon icon) = 0;
};

// The owner a task runs over: makes its progress windows and is disabled meanwhile.
class ProgressWindowFactory {
 public:
  virtual ~ProgressWindowFactory() = default;
  // A new window, or nullptr when it cannot be created.
  virtual std::unique_ptr<ProgressWindow> Create() = 0;
  virtual void SetOwnerEnabled(bool enabled) = 0;
  // A message box over the owner, for when no progress window is open.
  virtual void ShowOwnerMessage(std::string_view text, std::string_view caption,
                                MessageIcon icon) = 0;
};

// The base of every task. A task lives on its caller's stack for the length of Run.
class LProgressDialog {
 public:
  explicit LProgressDialog(std::string title) : title_(std::move(title)) {}
  virtual ~LProgressDialog() = default;
  LProgressDialog(const LProgressDialog&) = delete;
  LProgressDialog& operator=(const LProgressDialog&) = delete;

  // Opens the window over owner, disables the owner, runs Execute, enables the owner
  // and closes the window. Returns what Execute returned, or false without running
  // it when this task is already running or the window cannot be created (result
  // is then kTaskFailed).
  bool Run(ProgressWindowFactory& owner);

  // Line 0 or 1 of the window; other lines, and a closed window, are ignored.
  void SetText(int line, std::string_view text);
  // Share done, 0..1 (clamped); the bar shows whole percents.
  void SetProgress(double fraction);
  // Handles pending events; true when the window is gone (the task must stop).
  bool Pump();
  // Pumps for ms milliseconds; true at once when the window is closed meanwhile.
  bool Wait(std::int64_t ms);
  // Pumps until signalled() is true, for at most ms (negative: no limit):
  // kTaskDone when signalled, kTaskCancelled when the window was closed,
  // kTaskFailed on time-out.
  TaskResult WaitFor(const std::function<bool()>& signalled, std::int64_t ms);
  // The same for a descriptor becoming readable or hung up (a pipe, an eventfd).
  TaskResult WaitFor(int fd, std::int64_t ms);
  // A message box with caption "Error" and the exclamation icon, over the window, or
  // over the owner once the window is closed; nothing outside Run.
  void ShowError(std::string_view text);

  const std::string& title() const { return title_; }
  bool windowOpen() const { return window_ != nullptr; }
  bool running() const { return running_; }

  // Set to kTaskFailed until the task's work stores its own.
  TaskResult result = kTaskFailed;

 protected:
  // Does the work, stores result and returns true.
  virtual bool Execute() = 0;

 private:
  std::string title_;
  std::unique_ptr<ProgressWindow> window_;
  ProgressWindowFactory* owner_ = nullptr;
  bool running_ = false;
  int percent_ = -1;
};

// Marks an object (a document, say) as used by a running task, so that commands
// arriving while the task pumps events can see it and refuse. Interface thread only.
class BusyFlag {
 public:
  bool busy() const { return users_ > 0; }
  // Called when the last guard goes: work the owner put off while busy runs then.
  void SetIdleHandler(std::function<void()> handler) { onIdle_ = std::move(handler); }

 private:
  friend class BusyGuard;
  int users_ = 0;
  std::function<void()> onIdle_;
};

class BusyGuard {
 public:
  // Takes the flag when it is free; owns() tells whether it did.
  explicit BusyGuard(BusyFlag& flag) : flag_(flag.busy() ? nullptr : &flag) {
    if (flag_) ++flag_->users_;
  }
  ~BusyGuard() {
    if (flag_ && --flag_->users_ == 0 && flag_->onIdle_) flag_->onIdle_();
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
  bool owns() const { return flag_ != nullptr; }

 private:
  BusyFlag* flag_;
};

}  // namespace quillet::platform
