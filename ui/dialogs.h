#pragma once
// Qt dialogs drawn over parameter tables: the generic one shows any table's fields,
// and a few commands name a drawing of their own (the mix, the cross fade with its
// selection, Select Specified Time with its preview, the sample-rate list, New File).
// On OK each validates its values through the table; a refusal shows its message
// under "Invalid value" (or the drawing's caption) and the dialog stays open. The
// caller stores the values once the dialog is accepted.

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/document.h"
#include "core/edit_services.h"
#include "core/command_table.h"
#include "core/params.h"

class QFormLayout;

namespace quillet::ui {

// A dialog whose OK is checked by validate (nullopt: accept; else the message and
// its caption).
class CheckedDialog : public QDialog {
  Q_OBJECT
 public:
  struct Refusal {
    std::string message, caption;
  };
  using Validator = std::function<std::optional<Refusal>()>;
  explicit CheckedDialog(QWidget* parent, const QString& title);
  void SetValidator(Validator v) { validate_ = std::move(v); }
  // Adds a labelled row; the OK/Cancel row goes last when Finish is called.
  void AddRow(const QString& label, QWidget* field);
  void Finish();

 public slots:
  void accept() override;

 private:
  Validator validate_;
  QFormLayout* form_;
};

// What a drawing works on.
struct DialogCall {
  QWidget* parent = nullptr;
  core::ParamSet& values;         // loaded (and prepared); edited on OK
  core::WaveDocument* doc = nullptr;  // the active document, if any
  core::EditContext* ctx = nullptr;   // for previews and file dialogs
  const core::Command* command = nullptr;  // whose values these are (its preview)
};

// True when accepted with values valid.
using DialogDrawer = bool (*)(DialogCall& call);

// The generic dialog ("ParamDialog"): a row per field named after it (spin boxes with
// unit and range, check boxes, lists of choices, texts, files with a "Browse..."
// button), "Select Preset" when the table has presets, and "Pre&view" when the
// command has a preview and there is a document.
bool AskParams(DialogCall& call);
// The drawing called name; null when there is none.
DialogDrawer FindDialog(std::string_view name);

// The width a window needs for its whole title beside the title bar's icon and
// buttons; WidenToTitle widens w to it (within its screen) when it is narrower.
int TitleWidth(const QWidget& w);
void WidenToTitle(QWidget& w);

// "New File" and the table it edits: the rate and channel count under "Settings".
extern const core::ParamTable kNewFileTable;
extern const core::ParamTable kSetDefaultsTable;  // drawn by "new-file" too

}  // namespace quillet::ui
