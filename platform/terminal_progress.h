#pragma once
// Progress windows of quillet-cli: the caption, text and percentage drawn on one
// line of stderr when it is a terminal (nothing otherwise), messages always
// printed, and Ctrl+C closing every open window. A second Ctrl+C stops the program
// the usual way.

#include <cstdio>
#include <memory>

#include "platform/task.h"

namespace quillet::platform {

class TerminalProgressFactory final : public ProgressWindowFactory {
 public:
  // Progress is drawn when out is a terminal.
  explicit TerminalProgressFactory(std::FILE* out = stderr);
  std::unique_ptr<ProgressWindow> Create() override;
  void SetOwnerEnabled(bool) override {}
  void ShowOwnerMessage(std::string_view text, std::string_view caption,
                        MessageIcon icon) override;

  // As if Ctrl+C had been pressed (for tests and for callers with their own signals).
  static void RequestCancel();

 private:
  class Window;
  std::FILE* out_;
  bool draw_;
};

}  // namespace quillet::platform
