#pragma once
// The prompt interface as Qt message boxes and file dialogs, with the captions,
// icons and buttons the operations ask for.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "platform/prompter.h"

class QMessageBox;

namespace quillet::ui {

class QtPrompter final : public platform::Prompter {
 public:
  explicit QtPrompter(QWidget* parent) : parent_(parent) {}
  platform::Answer Message(
      std::string_view text, std::string_view caption, platform::MessageIcon icon,
      platform::MessageButtons buttons = platform::MessageButtons::Ok) override;
  std::optional<std::string> AskText(std::string_view text, std::string_view caption,
                                     std::string_view initial = {}) override;
  platform::FileChoice ChooseFiles(const platform::FileRequest& request) override;

  // Tests answer the boxes: the hook sees each box, built, before it would run and
  // returns the answer to take instead (nullopt: the person answers).
  using BoxHook = std::function<std::optional<platform::Answer>(QMessageBox&)>;
  static void SetBoxHook(BoxHook hook);
  using FileHook = std::function<std::optional<platform::FileChoice>(const platform::FileRequest&)>;
  static void SetFileHook(FileHook hook);

  // While set (a command line that ends in -exit), nobody is there to answer: boxes
  // go to stderr and take the answer that changes nothing, and choosers are
  // cancelled, so a scripted run ends instead of waiting. Returns the previous value.
  static bool SetUnattended(bool unattended);

 private:
  QPointer<QWidget> parent_;
};

// One message box with the program's caption, icon and buttons.
platform::Answer ShowMessageBox(QWidget* parent, std::string_view text, std::string_view caption,
                                platform::MessageIcon icon, platform::MessageButtons buttons);

}  // namespace quillet::ui
