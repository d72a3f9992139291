#pragma once
// The Prompter of quillet-cli: prompts go to stderr; answers are read from the
// terminal, or, when there is no terminal or a policy is set, given without asking.

#include <cstdio>

#include "platform/prompter.h"

namespace quillet::platform {

enum class PromptPolicy {
  Ask,        // read the answer when interactive, else answer with the no-change default
  AssumeYes,  // --yes: Ok, Yes, Retry; text prompts keep their initial text
  AssumeNo,   // Cancel where offered, else No
};

class TerminalPrompter final : public Prompter {
 public:
  // Interactive when policy is Ask and in is a terminal.
  explicit TerminalPrompter(PromptPolicy policy = PromptPolicy::Ask, std::FILE* in = stdin,
                            std::FILE* out = stderr);
  void SetInteractive(bool interactive) { interactive_ = interactive; }
  bool interactive() const { return interactive_; }

  Answer Message(std::string_view text, std::string_view caption, MessageIcon icon,
                 MessageButtons buttons = MessageButtons::Ok) override;
  std::optional<std::string> AskText(std::string_view text, std::string_view caption,
                                     std::string_view initial = {}) override;
  // Interactive: one path per line (several, ended by an empty line, for a
  // multi-select Open). Otherwise cancelled: no file can be chosen for the user.
  FileChoice ChooseFiles(const FileRequest& request) override;

 private:
  std::optional<std::string> ReadLine();
  void PrintCaptioned(std::string_view caption, std::string_view text);

  PromptPolicy policy_;
  std::FILE* in_;
  std::FILE* out_;
  bool interactive_;
};

}  // namespace quillet::platform
