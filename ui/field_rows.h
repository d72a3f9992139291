#pragma once
// The rows of a parameter table's fields in a dialog (spin boxes with unit and room
// beyond the range, check boxes, lists, texts, files with "Browse..."), shown from
// and read back into the values. Every drawing of ui/ lays its fields out with it.

#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "core/edit_params.h"
#include "ui/dialogs.h"

namespace quillet::ui {

class FieldRows {
 public:
  // A row per field of values in d (path fields only when paths is set).
  FieldRows(CheckedDialog& d, core::ParamSet& values, core::EditContext* ctx, bool paths);
  QWidget* widget(std::size_t i) const { return widgets_[i]; }
  // Calls edited after every change of a field, typed or chosen.
  void OnEdit(QObject* context, const std::function<void()>& edited);
  void Show();
  void Read();
  // Read, then the table's refusal under caption.
  std::optional<CheckedDialog::Refusal> Check(const char* caption = core::kInvalidValueCaption);

 private:
  QWidget* Make(CheckedDialog& d, const core::ParamInfo& f, core::EditContext* ctx, std::size_t i);

  core::ParamSet& values_;
  std::vector<QWidget*> widgets_;
};

// Qt text of UTF-8.
inline QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace quillet::ui
