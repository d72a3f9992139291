#include "platform/terminal_prompter.h"

#include <unistd.h>

#include <cctype>
#include <string>

namespace quillet::platform {
namespace {

// Longest answer line kept; the rest of a longer line is read and dropped.
constexpr std::size_t kMaxLine = 4096;

std::string_view ButtonKeys(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::Ok:
      return "";
    case MessageButtons::OkCancel:
      return "[o]k/[c]ancel";
    case MessageButtons::YesNo:
      return "[y]es/[n]o";
    case MessageButtons::YesNoCancel:
      return "[y]es/[n]o/[c]ancel";
    case MessageButtons::RetryCancel:
      return "[r]etry/[c]ancel";
  }
  return "";
}

std::optional<Answer> ParseAnswer(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
  if (i == line.size()) return std::nullopt;
  switch (std::tolower(static_cast<unsigned char>(line[i]))) {
    case 'o':
      return Answer::Ok;
    case 'c':
      return Answer::Cancel;
    case 'y':
      return Answer::Yes;
    case 'n':
      return Answer::No;
    case 'r':
      return Answer::Retry;
  }
  return std::nullopt;
}

}  // namespace

TerminalPrompter::TerminalPrompter(PromptPolicy policy, std::FILE* in, std::FILE* out)
    : policy_(policy),
      in_(in),
      out_(out),
      interactive_(policy == PromptPolicy::Ask && in && ::isatty(::fileno(in)) == 1) {}

std::optional<std::string> TerminalPrompter::ReadLine() {
  std::string line;
  int c;
  while ((c = std::fgetc(in_)) != EOF && c != '\n')
    if (line.size() < kMaxLine) line.push_back(static_cast<char>(c));
  if (c == EOF && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void TerminalPrompter::PrintCaptioned(std::string_view caption, std::string_view text) {
  // Messages may break lines with a bare CR; a terminal needs LF.
  std::string body(text);
  for (char& c : body)
    if (c == '\r') c = '\n';
  if (caption.empty()) {
    std::fprintf(out_, "%s\n", body.c_str());
  } else {
    std::fprintf(out_, "%.*s: %s\n", static_cast<int>(caption.size()), caption.data(),
                 body.c_str());
  }
}

Answer TerminalPrompter::Message(std::string_view text, std::string_view caption, MessageIcon,
                                 MessageButtons buttons) {
  PrintCaptioned(caption, text);
  if (buttons == MessageButtons::Ok) {
    std::fflush(out_);
    return Answer::Ok;
  }
  if (!interactive_) {
    const Answer answer = DefaultAnswer(buttons, policy_ == PromptPolicy::AssumeYes);
    std::fprintf(out_, "(answered %s)\n", std::string(AnswerName(answer)).c_str());
    std::fflush(out_);
    return answer;
  }
  for (;;) {
    const std::string_view keys = ButtonKeys(buttons);
    std::fprintf(out_, "%.*s? ", static_cast<int>(keys.size()), keys.data());
    std::fflush(out_);
    const std::optional<std::string> line = ReadLine();
    if (!line) return DefaultAnswer(buttons, /*affirmative=*/false);
    const std::optional<Answer> answer = ParseAnswer(*line);
    if (answer && IsAnswerOf(buttons, *answer)) return *answer;
  }
}

std::optional<std::string> TerminalPrompter::AskText(std::string_view text,
                                                     std::string_view caption,
                                                     std::string_view initial) {
  PrintCaptioned(caption, text);
  if (!interactive_) {
    std::fflush(out_);
    if (policy_ == PromptPolicy::AssumeYes) return std::string(initial);
    return std::nullopt;
  }
  if (!initial.empty())
    std::fprintf(out_, "[%.*s] ", static_cast<int>(initial.size()), initial.data());
  std::fprintf(out_, "> ");
  std::fflush(out_);
  std::optional<std::string> line = ReadLine();
  if (line && line->empty()) return std::string(initial);
  return line;
}

FileChoice TerminalPrompter::ChooseFiles(const FileRequest& request) {
  PrintCaptioned(request.title, request.mode == FileDialogMode::Save ? "file to save:"
                                                                     : "file to open:");
  FileChoice choice;
  if (!interactive_) {
    std::fprintf(out_, "(no file chosen)\n");
    std::fflush(out_);
    return choice;
  }
  for (std::size_t i = 0; i < request.filters.size(); ++i)
    std::fprintf(out_, "  %s  %s\n", request.filters[i].name.c_str(),
                 request.filters[i].patterns.c_str());
  const bool several = request.multiSelect && request.mode == FileDialogMode::Open;
  std::fprintf(out_, "%s> ", several ? "one per line, empty line to end " : "");
  std::fflush(out_);
  while (std::optional<std::string> line = ReadLine()) {
    if (line->empty()) break;
    std::filesystem::path p(*line);
    if (p.is_relative() && !request.folder.empty()) p = request.folder / p;
    if (request.mode == FileDialogMode::Save) p = WithDefaultExtension(p, request.defaultExtension);
    choice.files.push_back(p);
    if (!several) break;
  }
  return choice;
}

}  // namespace quillet::platform
