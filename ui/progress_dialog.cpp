#include "ui/progress_dialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

QPointer<ProgressDialog>& CurrentSlot() {
  static QPointer<ProgressDialog> current;
  return current;
}
std::function<void(ProgressDialog*)>& OpenHook() {
  static std::function<void(ProgressDialog*)> hook;
  return hook;
}

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

class QtProgressWindow final : public platform::ProgressWindow {
 public:
  // Shown once the task first pumps events, i.e. does its work: a task that asks
  // for options or fails at once leaves no empty window behind its dialog or box.
  explicit QtProgressWindow(QWidget* owner) : dialog_(new ProgressDialog(owner)) {
    CurrentSlot() = dialog_;
    if (auto& hook = OpenHook()) hook(dialog_);
  }
  ~QtProgressWindow() override { delete dialog_.data(); }

  void SetCaption(std::string_view caption) override {
    if (dialog_) dialog_->setWindowTitle(Q(caption));
  }
  void SetText(int line, std::string_view text) override {
    if (dialog_ && (line == 0 || line == 1)) dialog_->line(line)->setText(Q(text));
  }
  void SetProgress(int percent) override {
    if (dialog_) dialog_->bar()->setValue(percent);
  }
  bool PumpEvents(int waitMs) override {
    if (!dialog_ || dialog_->cancelled()) return true;
    if (!shown_) {
      shown_ = true;
      dialog_->show();
    }
    if (waitMs > 0) {
      // The timer's event ends the wait when nothing else arrives.
      QTimer wake;
      wake.setSingleShot(true);
      wake.start(waitMs);
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !dialog_ || dialog_->cancelled();
  }
  void ShowMessage(std::string_view text, std::string_view caption,
                   platform::MessageIcon icon) override {
    // The task ends with its message: the progress is over before the box opens.
    QWidget* owner = dialog_ ? dialog_->parentWidget() : nullptr;
    if (dialog_) {
      shown_ = true;
      dialog_->hide();
    }
    ShowMessageBox(owner, text, caption, icon, platform::MessageButtons::Ok);
  }

 private:
  QPointer<ProgressDialog> dialog_;
  bool shown_ = false;
};

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(owner) {
  setObjectName("LProgressDialog");
  // Window-modal: the owner takes no input meanwhile, yet this dialog, its Cancel
  // and its message boxes stay usable.
  setWindowModality(Qt::WindowModal);
  setAttribute(Qt::WA_DeleteOnClose, false);
  auto* grid = new QGridLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
  line0_ = new QLabel(this);
  line1_ = new QLabel(this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  auto* notice = new QLabel("Quillet sound editor.\nYou can cancel at any time.", this);
  notice->setEnabled(false);
  cancel_ = new QPushButton("Cancel", this);
  connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::reject);
  grid->addWidget(icon, 0, 0, 2, 1);
  grid->addWidget(line0_, 0, 1, 1, 2);
  grid->addWidget(line1_, 1, 1, 1, 2);
  grid->addWidget(bar_, 2, 0, 1, 3);
  grid->addWidget(notice, 3, 0, 1, 2);
  grid->addWidget(cancel_, 3, 2);
  setMinimumWidth(400);
}

void ProgressDialog::reject() {
  cancelled_ = true;
  hide();
}

QtProgressFactory::QtProgressFactory(QWidget* owner, EnableFn setOwnerEnabled)
    : owner_(owner), setOwnerEnabled_(std::move(setOwnerEnabled)) {}

std::unique_ptr<platform::ProgressWindow> QtProgressFactory::Create() {
  return std::make_unique<QtProgressWindow>(owner_);
}

void QtProgressFactory::SetOwnerEnabled(bool enabled) {
  if (setOwnerEnabled_) setOwnerEnabled_(enabled);
  if (enabled && owner_) {
    owner_->activateWindow();
    owner_->setFocus();
  }
}

void QtProgressFactory::ShowOwnerMessage(std::string_view text, std::string_view caption,
                                         platform::MessageIcon icon) {
  ShowMessageBox(owner_, text, caption, icon, platform::MessageButtons::Ok);
}

ProgressDialog* QtProgressFactory::Current() {
  ProgressDialog* d = CurrentSlot();
  return d && d->isVisible() ? d : nullptr;
}

void QtProgressFactory::SetOnOpen(std::function<void(ProgressDialog*)> hook) {
  OpenHook() = std::move(hook);
}

}  // namespace quillet::ui
