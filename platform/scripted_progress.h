#pragma once
// Progress windows for tests: can refuse to be created, can be "closed by the
// user" at a chosen pump, and log everything done to them in order.

#include <memory>
#include <string>
#include <vector>

#include "platform/task.h"

namespace quillet::platform {

class ScriptedProgressFactory final : public ProgressWindowFactory {
 public:
  // Create() returns nullptr while refusing.
  void RefuseCreation(bool refuse) { refuse_ = refuse; }
  // The n-th pump (1-based, counted over every window of this factory) reports the
  // window closed; 0: never.
  void CancelAtPump(int n) { cancelAtPump_ = n; }

  std::unique_ptr<ProgressWindow> Create() override;
  void SetOwnerEnabled(bool enabled) override;
  void ShowOwnerMessage(std::string_view text, std::string_view caption,
                        MessageIcon icon) override;

  // In order: "create", "caption T", "text0 T", "text1 T", "progress N", "pump",
  // "message CAPTION: T", "owner message CAPTION: T", "owner disabled",
  // "owner enabled", "close".
  const std::vector<std::string>& log() const { return log_; }
  int pumps() const { return pumps_; }
  int openWindows() const { return open_; }
  bool ownerEnabled() const { return ownerEnabled_; }
  int lastProgress() const { return lastProgress_; }

 private:
  class Window;
  bool refuse_ = false;
  int cancelAtPump_ = 0;
  int pumps_ = 0;
  int open_ = 0;
  bool ownerEnabled_ = true;
  int lastProgress_ = -1;
  std::vector<std::string> log_;
};

}  // namespace quillet::platform
