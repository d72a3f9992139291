#pragma once
// The task interface's window in Qt: a small dialog with two lines of text, a bar
// and Cancel, kept usable while the owner is disabled, and the owner side that
// makes these dialogs and disables its own controls meanwhile.

#include <QDialog>
#include <functional>
#include <memory>

#include "platform/task.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quillet::ui {

class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ProgressDialog(QWidget* owner);
  bool cancelled() const { return cancelled_; }
  QLabel* line(int i) const { return i == 0 ? line0_ : line1_; }
  QProgressBar* bar() const { return bar_; }
  QPushButton* cancelButton() const { return cancel_; }

 protected:
  void reject() override;  // Cancel, Escape and the close button

 private:
  QLabel* line0_;
  QLabel* line1_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  bool cancelled_ = false;
};

// Opens ProgressDialogs over owner. setOwnerEnabled runs when a task starts and ends,
// so the owner can disable what starts commands without disabling the dialog.
class QtProgressFactory final : public platform::ProgressWindowFactory {
 public:
  using EnableFn = std::function<void(bool enabled)>;
  QtProgressFactory(QWidget* owner, EnableFn setOwnerEnabled);

  std::unique_ptr<platform::ProgressWindow> Create() override;
  void SetOwnerEnabled(bool enabled) override;
  void ShowOwnerMessage(std::string_view text, std::string_view caption,
                        platform::MessageIcon icon) override;

  // The dialog of the running task, for tests; null when none is open.
  static ProgressDialog* Current();
  // Called with each new dialog (tests press Cancel through it).
  static void SetOnOpen(std::function<void(ProgressDialog*)> hook);

 private:
  QWidget* owner_;
  EnableFn setOwnerEnabled_;
};

}  // namespace quillet::ui
