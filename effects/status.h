#pragma once
// The outcome of validating or running an effect: ok, or the message (and its caption)
// the user sees.

#include <string>

namespace quillet::effects {

struct Status {
  std::string message;  // empty: ok
  std::string caption;
  bool ok() const { return message.empty(); }
  static Status Ok() { return {}; }
  static Status Error(std::string text, std::string caption = "Invalid value") {
    return {std::move(text), std::move(caption)};
  }
  // A table's refusal (empty: ok), under "Invalid value".
  static Status Refusal(std::string text) {
    return text.empty() ? Ok() : Error(std::move(text));
  }
};

}  // namespace quillet::effects
