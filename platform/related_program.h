#pragma once
// Separate programs the editor starts for the user (the tone generator): the command
// line comes from a setting, the program runs on its own, and the editor may wait for
// it to close under a progress window. Cancelling stops the wait, never the program.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/task.h"

namespace quillet::platform {

inline constexpr std::int64_t kRelatedProgramWaitMs = 3'600'000;  // one hour

// Words of a command line: blanks separate them; double or single quotes group, and a
// backslash takes the next character as it is (outside single quotes).
std::vector<std::string> SplitCommandLine(std::string_view line);

// Starts argv with our standard streams; the process id, or -1 with errno set.
pid_t StartDetached(const std::vector<std::string>& argv);

// Waits for the program under the window ("Please wait for NAME", "to close to
// continue..."): kTaskDone once it ended, kTaskCancelled when the window was closed,
// kTaskFailed when it could not start (message() says why) or after limitMs.
class RelatedProgramTask : public LProgressDialog {
 public:
  RelatedProgramTask(std::string name, std::vector<std::string> argv,
                     std::int64_t limitMs = kRelatedProgramWaitMs);
  const std::string& message() const { return message_; }
  pid_t pid() const { return pid_; }

 protected:
  bool Execute() override;

 private:
  std::string name_;
  std::vector<std::string> argv_;
  std::int64_t limitMs_;
  std::string message_;
  pid_t pid_ = -1;
};

}  // namespace quillet::platform
