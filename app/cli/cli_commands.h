#pragma once
// quillet-cli commands, each a plain function: arguments after the command name,
// output and error streams; the result is the exit status (0 done, 1 cancelled,
// 2 failed).

#include <ostream>
#include <string>
#include <vector>

namespace quillet::app {

// info FILE: key=value lines (reader, format, rate, channels, bits, frames, duration).
int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace quillet::app
