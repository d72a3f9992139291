#pragma once
// The one vocabulary of results: every task, transfer, effect pass, open and save
// ends done, cancelled or failed, and a failure carries the message the user sees.

#include <cstdint>
#include <string>
#include <utility>

namespace quillet::platform {

// Also the exit status of quillet-cli. Unscoped so that it travels as the plain
// number scripts and stored files know (0, 1, 2).
enum TaskResult : std::int32_t {
  kTaskDone = 0,
  kTaskCancelled = 1,  // by the user, or stopped; nothing changed
  kTaskFailed = 2,     // or not run; nothing changed
};

// A result with the reason for a failure.
struct Outcome {
  TaskResult result = kTaskDone;
  std::string message;  // why it failed; empty otherwise

  bool done() const { return result == kTaskDone; }
  static Outcome Done() { return {}; }
  static Outcome Cancelled() { return {kTaskCancelled, {}}; }
  static Outcome Failed(std::string why) { return {kTaskFailed, std::move(why)}; }
};

}  // namespace quillet::platform
