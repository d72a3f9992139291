#pragma once
// "Recover Documents": offered at start-up when copies of the editor that died left
// documents behind. The checked ones are recovered (each opens as a modified document
// with its undo history) or discarded (their audio is deleted); whatever is not
// checked, or everything after "Later", is offered again at the next start.

#include <QDialog>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/journal_keeper.h"
#include "core/recovery.h"

class QTreeWidget;

namespace quillet::ui {

class RecoverDialog : public QDialog {
  Q_OBJECT
 public:
  enum class Choice { Later, Recover, Discard };
  RecoverDialog(QWidget* parent, const std::vector<std::unique_ptr<core::DeadRun>>& runs);

  Choice choice() const { return choice_; }
  // The checked documents with the run each belongs to.
  std::vector<std::pair<core::DeadRun*, core::RecoverableDocument>> Checked() const;
  QTreeWidget* list() const { return list_; }

 public slots:
  // Enter and the default button recover.
  void accept() override;

 private:
  void Decide(Choice c);

  QTreeWidget* list_;
  std::vector<std::pair<core::DeadRun*, core::RecoverableDocument>> rows_;
  Choice choice_ = Choice::Later;
  bool decided_ = false;
};

// Shows the dialog over parent when runs hold any document, then does what the
// person chose: adopt takes each recovered document (already journaled here); a
// failure is shown once every choice is carried out. Returns how many were recovered.
int OfferRecovery(QWidget* parent, std::vector<std::unique_ptr<core::DeadRun>>& runs,
                  core::SegmentStore& store, core::JournalKeeper& journals,
                  const std::function<void(std::unique_ptr<core::WaveDocument>)>& adopt);

}  // namespace quillet::ui
