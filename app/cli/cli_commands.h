#pragma once
// quillet-cli commands, each a plain function: arguments after the command name,
// output and error streams; the result is the exit status (0 done, 1 cancelled,
// 2 failed).

#include <ostream>
#include <string>
#include <vector>

#include "platform/task.h"

namespace quillet::app {

// info FILE: key=value lines (reader, format, rate, channels, bits, frames, duration).
// Files decoded by a program show their progress in windows of progress.
platform::TaskResult RunInfo(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err, platform::ProgressWindowFactory& progress);

}  // namespace quillet::app
