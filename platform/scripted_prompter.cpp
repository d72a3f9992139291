#include "platform/scripted_prompter.h"

namespace quillet::platform {

template <typename T>
std::optional<T> ScriptedPrompter::Take(std::string_view what, const std::string& caption) {
  if (queue_.empty()) {
    problems_.push_back("no answer queued for " + std::string(what) + " \"" + caption + "\"");
    return std::nullopt;
  }
  if (!std::holds_alternative<T>(queue_.front())) {
    problems_.push_back("queued answer does not fit " + std::string(what) + " \"" + caption +
                        "\"");
    return std::nullopt;
  }
  T value = std::get<T>(std::move(queue_.front()));
  queue_.pop_front();
  return value;
}

Answer ScriptedPrompter::Message(std::string_view text, std::string_view caption,
                                 MessageIcon icon, MessageButtons buttons) {
  PromptRecord record;
  record.kind = PromptRecord::Kind::Message;
  record.text = text;
  record.caption = caption;
  record.icon = icon;
  record.buttons = buttons;
  if (buttons == MessageButtons::Ok) {
    if (!queue_.empty() && std::holds_alternative<Answer>(queue_.front()) &&
        std::get<Answer>(queue_.front()) == Answer::Ok)
      queue_.pop_front();
    record.answer = Answer::Ok;
  } else {
    record.answer = DefaultAnswer(buttons, /*affirmative=*/false);
    if (std::optional<Answer> a = Take<Answer>("message", record.caption)) {
      if (IsAnswerOf(buttons, *a)) {
        record.answer = *a;
      } else {
        problems_.push_back("answer " + std::string(AnswerName(*a)) + " is not a button of \"" +
                            record.caption + "\"");
      }
    }
  }
  shown_.push_back(record);
  return record.answer;
}

std::optional<std::string> ScriptedPrompter::AskText(std::string_view text,
                                                     std::string_view caption,
                                                     std::string_view initial) {
  PromptRecord record;
  record.kind = PromptRecord::Kind::Text;
  record.text = text;
  record.caption = caption;
  record.initial = initial;
  shown_.push_back(record);
  std::optional<std::optional<std::string>> answer =
      Take<std::optional<std::string>>("text prompt", record.caption);
  return answer ? *answer : std::nullopt;
}

FileChoice ScriptedPrompter::ChooseFiles(const FileRequest& request) {
  PromptRecord record;
  record.kind = PromptRecord::Kind::File;
  record.caption = request.title;
  record.file = request;
  shown_.push_back(record);
  std::optional<FileChoice> choice = Take<FileChoice>("file chooser", request.title);
  if (!choice) return {};
  if (choice->files.size() > 1 && !(request.multiSelect && request.mode == FileDialogMode::Open))
    problems_.push_back("several files queued for the single-file chooser \"" + request.title +
                        "\"");
  return *choice;
}

}  // namespace quillet::platform
