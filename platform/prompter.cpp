#include "platform/prompter.h"

namespace quillet::platform {

bool IsAnswerOf(MessageButtons buttons, Answer answer) {
  switch (buttons) {
    case MessageButtons::Ok:
      return answer == Answer::Ok;
    case MessageButtons::OkCancel:
      return answer == Answer::Ok || answer == Answer::Cancel;
    case MessageButtons::YesNo:
      return answer == Answer::Yes || answer == Answer::No;
    case MessageButtons::YesNoCancel:
      return answer == Answer::Yes || answer == Answer::No || answer == Answer::Cancel;
    case MessageButtons::RetryCancel:
      return answer == Answer::Retry || answer == Answer::Cancel;
  }
  return false;
}

Answer DefaultAnswer(MessageButtons buttons, bool affirmative) {
  switch (buttons) {
    case MessageButtons::Ok:
      return Answer::Ok;
    case MessageButtons::OkCancel:
      return affirmative ? Answer::Ok : Answer::Cancel;
    case MessageButtons::YesNo:
      return affirmative ? Answer::Yes : Answer::No;
    case MessageButtons::YesNoCancel:
      return affirmative ? Answer::Yes : Answer::Cancel;
    case MessageButtons::RetryCancel:
      return affirmative ? Answer::Retry : Answer::Cancel;
  }
  return Answer::Cancel;
}

std::string_view AnswerName(Answer answer) {
  switch (answer) {
    case Answer::Ok:
      return "OK";
    case Answer::Cancel:
      return "Cancel";
    case Answer::Yes:
      return "Yes";
    case Answer::No:
      return "No";
    case Answer::Retry:
      return "Retry";
  }
  return "?";
}

std::filesystem::path WithDefaultExtension(const std::filesystem::path& name,
                                           std::string_view ext) {
  if (ext.empty() || name.empty() || name.filename().has_extension()) return name;
  std::filesystem::path out = name;
  out += ".";
  out += ext;
  return out;
}

}  // namespace quillet::platform
