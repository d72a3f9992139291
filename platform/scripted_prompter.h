#pragma once
// A Prompter for tests: answers come from a queue in order, and every prompt shown
// is recorded with its exact text and caption so a test can check them.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/prompter.h"

namespace quillet::platform {

struct PromptRecord {
  enum class Kind { Message, Text, File };
  Kind kind = Kind::Message;
  std::string text;     // Message, Text
  std::string caption;  // Message, Text; the title of a File request
  MessageIcon icon = MessageIcon::Information;
  MessageButtons buttons = MessageButtons::Ok;
  std::string initial;  // Text
  FileRequest file;     // File
  Answer answer = Answer::Ok;  // what a Message was answered
};

class ScriptedPrompter final : public Prompter {
 public:
  void QueueAnswer(Answer answer) { queue_.emplace_back(answer); }
  void QueueText(std::optional<std::string> text) { queue_.emplace_back(std::move(text)); }
  void QueueFiles(FileChoice choice) { queue_.emplace_back(std::move(choice)); }

  // A plain OK message needs nothing queued (a queued Ok in front is used up).
  // Any other prompt takes the front answer, which must fit it; when it does not,
  // or nothing is queued, the prompt gets the answer that changes nothing (Cancel,
  // No, no text, no file) and the mismatch is listed in problems().
  Answer Message(std::string_view text, std::string_view caption, MessageIcon icon,
                 MessageButtons buttons = MessageButtons::Ok) override;
  std::optional<std::string> AskText(std::string_view text, std::string_view caption,
                                     std::string_view initial = {}) override;
  FileChoice ChooseFiles(const FileRequest& request) override;

  const std::vector<PromptRecord>& shown() const { return shown_; }
  const std::vector<std::string>& problems() const { return problems_; }
  std::size_t pending() const { return queue_.size(); }

 private:
  using Entry = std::variant<Answer, std::optional<std::string>, FileChoice>;
  template <typename T>
  std::optional<T> Take(std::string_view what, const std::string& caption);

  std::deque<Entry> queue_;
  std::vector<PromptRecord> shown_;
  std::vector<std::string> problems_;
};

}  // namespace quillet::platform
