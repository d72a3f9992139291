#pragma once
// What the program asks of a person: message boxes, questions and file choosers.
// The editor answers them with dialogs, quillet-cli on the terminal, tests with a
// script; operations receive the Prompter to use rather than finding a global one.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

enum class MessageIcon { Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class Answer { Ok, Cancel, Yes, No, Retry };

// One entry of a file chooser's type list, e.g. {"Wave (*.wav)", "*.wav"}.
struct FileFilter {
  std::string name;
  std::string patterns;  // ';'-separated globs
  bool operator==(const FileFilter&) const = default;
};

enum class FileDialogMode { Open, Save };

struct FileRequest {
  FileDialogMode mode = FileDialogMode::Open;
  std::string title;
  std::vector<FileFilter> filters;
  std::string defaultExtension;  // without the dot; given to a saved name that has none
  std::filesystem::path folder;  // where the chooser starts
  std::string fileName;          // proposed name
  bool multiSelect = false;      // Open only
  bool operator==(const FileRequest&) const = default;
};

// Empty files: the chooser was cancelled.
struct FileChoice {
  std::vector<std::filesystem::path> files;
  int filterIndex = 0;  // the filter in use when the choice was made
  bool accepted() const { return !files.empty(); }
};

class Prompter {
 public:
  virtual ~Prompter() = default;

  // A message box; returns the button pressed (always one of `buttons`).
  virtual Answer Message(std::string_view text, std::string_view caption, MessageIcon icon,
                         MessageButtons buttons = MessageButtons::Ok) = 0;
  // One line of text, starting from initial; nullopt when cancelled.
  virtual std::optional<std::string> AskText(std::string_view text, std::string_view caption,
                                             std::string_view initial = {}) = 0;
  virtual FileChoice ChooseFiles(const FileRequest& request) = 0;

  // A Yes/No question with the question icon; true for Yes.
  bool Question(std::string_view text, std::string_view caption) {
    return Message(text, caption, MessageIcon::Question, MessageButtons::YesNo) == Answer::Yes;
  }
};

// Whether answer is one of the buttons.
bool IsAnswerOf(MessageButtons buttons, Answer answer);
// The answer given without asking: the affirmative button (Ok, Yes, Retry) or the one
// that changes nothing (Cancel where offered, else No; Ok for a plain message).
Answer DefaultAnswer(MessageButtons buttons, bool affirmative);
std::string_view AnswerName(Answer answer);
// name with ".ext" added when it has no extension (and ext is not empty).
std::filesystem::path WithDefaultExtension(const std::filesystem::path& name,
                                           std::string_view ext);

}  // namespace quillet::platform
