#pragma once
// The desktop's mail program as the mail route: xdg-email opens a new message with
// the file attached, once per recipient. Each hand-off must succeed; a composer that
// stays open past the wait is the person's to finish and is left running.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/result.h"
#include "send/progress.h"

namespace quillet::send {

struct DesktopMailOptions {
  std::string program = "xdg-email";
  std::string searchPath;  // where to look for it; empty: $PATH
  int handOffMs = 20000;   // a call still running after this has handed the mail over
};

// Whether the hand-off program is installed.
bool DesktopMailAvailable(const DesktopMailOptions& options = {});

// One xdg-email call per recipient (blanks trimmed, empty parts skipped).
platform::Outcome SendThroughDesktop(const std::string& recipients, const std::string& subject,
                                     const std::vector<std::filesystem::path>& files,
                                     const DesktopMailOptions& options, SendProgress& progress);

}  // namespace quillet::send
