#include "ui/recover_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <string>

#include "core/time_text.h"
#include "platform/frame_time.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

constexpr char kCaption[] = "Recover Documents";

}  // namespace

RecoverDialog::RecoverDialog(QWidget* parent, const std::vector<std::unique_ptr<core::DeadRun>>& runs)
    : QDialog(parent) {
  setObjectName("RecoverDocuments");
  setWindowTitle(kCaption);
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      "Quillet was not closed properly last time. These documents were open, with the changes "
      "made to them. Check the ones to recover or to discard; the others are offered again "
      "at the next start.",
      this);
  // Unwrapped, the text alone would set the dialog's width.
  intro->setWordWrap(true);
  layout->addWidget(intro);
  list_ = new QTreeWidget(this);
  list_->setObjectName("documents");
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({"Document", "Length", "Last changed", "Note"});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  for (const auto& run : runs) {
    for (const core::RecoverableDocument& d : run->documents()) {
      auto* item = new QTreeWidgetItem(list_);
      item->setText(0, Q(d.name));
      if (d.readable) {
        item->setText(1, Q(core::FormatTimeHundredths(platform::MsFromFrames(d.frames, d.sampleRate))));
        item->setText(2, Q(core::LocalTimeText(d.changedAtMs)));
      }
      item->setText(3, Q(d.problem.empty() ? "" : d.readable ? "Partly damaged" : "Cannot be read"));
      item->setToolTip(3, Q(d.problem));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(0, d.readable ? Qt::Checked : Qt::Unchecked);
      rows_.emplace_back(run.get(), d);
    }
  }
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* recover = buttons->addButton("&Recover", QDialogButtonBox::AcceptRole);
  QPushButton* discard = buttons->addButton("&Discard", QDialogButtonBox::DestructiveRole);
  QPushButton* later = buttons->addButton("&Later", QDialogButtonBox::RejectRole);
  recover->setObjectName("recover");
  discard->setObjectName("discard");
  later->setObjectName("later");
  recover->setDefault(true);
  connect(recover, &QPushButton::clicked, this, [this] { Decide(Choice::Recover); });
  connect(discard, &QPushButton::clicked, this, [this] { Decide(Choice::Discard); });
  connect(later, &QPushButton::clicked, this, [this] { Decide(Choice::Later); });
  layout->addWidget(buttons);
  resize(640, 320);
}

void RecoverDialog::Decide(Choice c) {
  choice_ = c;
  decided_ = true;
  if (c == Choice::Later) QDialog::reject();
  else QDialog::accept();
}

void RecoverDialog::accept() {
  if (!decided_) Decide(Choice::Recover);
}

std::vector<std::pair<core::DeadRun*, core::RecoverableDocument>> RecoverDialog::Checked() const {
  std::vector<std::pair<core::DeadRun*, core::RecoverableDocument>> out;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    if (list_->topLevelItem(i)->checkState(0) == Qt::Checked) out.push_back(rows_[static_cast<std::size_t>(i)]);
  return out;
}

int OfferRecovery(QWidget* parent, std::vector<std::unique_ptr<core::DeadRun>>& runs,
                  core::SegmentStore& store, core::JournalKeeper& journals,
                  const std::function<void(std::unique_ptr<core::WaveDocument>)>& adopt) {
  bool any = false;
  for (const auto& run : runs) any |= !run->documents().empty();
  if (!any) return 0;
  RecoverDialog dialog(parent, runs);
  dialog.exec();
  const auto checked = dialog.Checked();
  if (dialog.choice() == RecoverDialog::Choice::Later || checked.empty()) return 0;

  if (dialog.choice() == RecoverDialog::Choice::Discard) {
    const std::string question = "Discard " + std::to_string(checked.size()) +
                                 (checked.size() == 1 ? " document" : " documents") +
                                 "? The changes made to them cannot be recovered afterwards.";
    if (ShowMessageBox(parent, question, kCaption, platform::MessageIcon::Question,
                       platform::MessageButtons::YesNo) != platform::Answer::Yes)
      return 0;
    for (const auto& [run, doc] : checked) run->Forget(doc.number);
    return 0;
  }

  int recovered = 0;
  std::string failures;
  for (const auto& [run, doc] : checked) {
    std::string why;
    if (core::RecoverDocument(*run, doc, store, journals, adopt, &why)) ++recovered;
    else failures += (failures.empty() ? "" : "\n") + why;
  }
  if (!failures.empty())
    ShowMessageBox(parent, failures, kCaption, platform::MessageIcon::Warning, platform::MessageButtons::Ok);
  return recovered;
}

}  // namespace quillet::ui
