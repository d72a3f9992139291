#pragma once
// What a transfer reports to and asks of its window: two lines of text, the share
// done and whether the person has cancelled. The send task passes its progress
// window; tests pass a script.

#include <string_view>

#include "platform/task.h"

namespace quillet::send {

class SendProgress {
 public:
  virtual ~SendProgress() = default;
  virtual void SetText(int line, std::string_view text) = 0;  // line 0 or 1
  virtual void SetProgress(double fraction) = 0;               // 0..1
  // Handles the window's pending events; true once the person has cancelled.
  virtual bool Cancelled() = 0;
};

// A task's window as a SendProgress.
class TaskSendProgress final : public SendProgress {
 public:
  explicit TaskSendProgress(platform::LProgressDialog& task) : task_(task) {}
  void SetText(int line, std::string_view text) override { task_.SetText(line, text); }
  void SetProgress(double fraction) override { task_.SetProgress(fraction); }
  bool Cancelled() override { return task_.Pump(); }

 private:
  platform::LProgressDialog& task_;
};

}  // namespace quillet::send
