#include "ui/qt_prompter.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace quillet::ui {
namespace {

using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;

QtPrompter::BoxHook& BoxHookSlot() {
  static QtPrompter::BoxHook hook;
  return hook;
}
QtPrompter::FileHook& FileHookSlot() {
  static QtPrompter::FileHook hook;
  return hook;
}

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QMessageBox::StandardButtons ButtonsOf(MessageButtons b) {
  switch (b) {
    case MessageButtons::Ok:
      return QMessageBox::Ok;
    case MessageButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::RetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(MessageIcon i) {
  switch (i) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

Answer AnswerOf(int button) {
  switch (button) {
    case QMessageBox::Ok:
      return Answer::Ok;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    case QMessageBox::Retry:
      return Answer::Retry;
    default:
      return Answer::Cancel;
  }
}

// A Qt filter text: "Wave (*.wav)" stays, a bare name gets its patterns added.
// Where the last file dialog of this session was confirmed: the next one without a
// stored folder starts there rather than at the top of the file system.
std::filesystem::path& LastFolder() {
  static std::filesystem::path folder;
  return folder;
}

// The filter whose patterns name the file's extension, or -1.
int FilterOfName(const platform::FileRequest& r) {
  const std::string ext = std::filesystem::path(r.fileName).extension().string();
  if (ext.size() < 2) return -1;
  const QString glob = "*" + QString::fromStdString(ext).toLower();
  for (std::size_t i = 0; i < r.filters.size(); ++i)
    if (QString::fromStdString(r.filters[i].patterns).toLower().split(';').contains(glob))
      return int(i);
  return -1;
}

QString FilterText(const platform::FileFilter& f) {
  QString name = Q(f.name);
  if (name.contains('(')) return name;
  QString patterns = Q(f.patterns);
  patterns.replace(';', ' ');
  return name + " (" + patterns + ")";
}

}  // namespace

static bool& UnattendedSlot() {
  static bool unattended = false;
  return unattended;
}

void QtPrompter::SetBoxHook(BoxHook hook) { BoxHookSlot() = std::move(hook); }
bool QtPrompter::SetUnattended(bool unattended) {
  return std::exchange(UnattendedSlot(), unattended);
}
void QtPrompter::SetFileHook(FileHook hook) { FileHookSlot() = std::move(hook); }

Answer ShowMessageBox(QWidget* parent, std::string_view text, std::string_view caption,
                      MessageIcon icon, MessageButtons buttons) {
  QMessageBox box(IconOf(icon), Q(caption), Q(text), ButtonsOf(buttons), parent);
  // Escape answers what changes nothing.
  const Answer safe = platform::DefaultAnswer(buttons, false);
  if (safe == Answer::Cancel) box.setEscapeButton(QMessageBox::Cancel);
  if (safe == Answer::No) box.setEscapeButton(QMessageBox::No);
  if (auto& hook = BoxHookSlot()) {
    if (auto answer = hook(box)) return platform::IsAnswerOf(buttons, *answer) ? *answer : safe;
  }
  if (UnattendedSlot()) {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    return safe;
  }
  const Answer answer = AnswerOf(box.exec());
  return platform::IsAnswerOf(buttons, answer) ? answer : safe;
}

Answer QtPrompter::Message(std::string_view text, std::string_view caption, MessageIcon icon,
                           MessageButtons buttons) {
  return ShowMessageBox(parent_, text, caption, icon, buttons);
}

std::optional<std::string> QtPrompter::AskText(std::string_view text, std::string_view caption,
                                               std::string_view initial) {
  if (UnattendedSlot()) return std::nullopt;
  bool ok = false;
  const QString answer =
      QInputDialog::getText(parent_, Q(caption), Q(text), QLineEdit::Normal, Q(initial), &ok);
  if (!ok) return std::nullopt;
  return answer.toStdString();
}

platform::FileChoice QtPrompter::ChooseFiles(const platform::FileRequest& request) {
  if (auto& hook = FileHookSlot()) {
    if (auto choice = hook(request)) return *choice;
  }
  if (UnattendedSlot()) return {};
  QFileDialog dialog(parent_, Q(request.title));
  QStringList filters;
  for (const auto& f : request.filters) filters << FilterText(f);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (const int match = FilterOfName(request); match >= 0) dialog.selectNameFilter(filters[match]);
  std::error_code ec;
  std::filesystem::path folder = request.folder;
  if (folder.empty() || !std::filesystem::is_directory(folder, ec)) folder = LastFolder();
  if (folder.empty() || !std::filesystem::is_directory(folder, ec))
    folder = std::filesystem::current_path(ec);
  dialog.setDirectory(QString::fromStdString(folder.string()));
  if (!request.fileName.empty()) dialog.selectFile(Q(request.fileName));
  if (request.mode == platform::FileDialogMode::Save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Replacing is asked by the operations themselves, in their own words.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
  } else {
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles
                                           : QFileDialog::ExistingFile);
  }
  platform::FileChoice choice;
  if (dialog.exec() != QDialog::Accepted) return choice;
  choice.filterIndex = std::max<int>(0, int(filters.indexOf(dialog.selectedNameFilter())));
  LastFolder() = dialog.directory().absolutePath().toStdString();
  for (const QString& f : dialog.selectedFiles()) {
    std::filesystem::path p = f.toStdString();
    if (request.mode == platform::FileDialogMode::Save)
      p = platform::WithDefaultExtension(p, request.defaultExtension);
    choice.files.push_back(p);
  }
  return choice;
}

}  // namespace quillet::ui
