#include "ui/field_rows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <climits>

namespace quillet::ui {
namespace {

using core::ParamInfo;
using core::ParamKind;

int ToInt(std::int64_t v) { return int(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }

bool IsPath(ParamKind k) { return k == ParamKind::OpenPath || k == ParamKind::SavePath; }

}  // namespace

FieldRows::FieldRows(CheckedDialog& d, core::ParamSet& values, core::EditContext* ctx, bool paths)
    : values_(values), widgets_(values.size(), nullptr) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const ParamInfo& f = values.field(i);
    if (IsPath(f.kind) && !paths) continue;
    QWidget* w = Make(d, f, ctx, i);
    w->setObjectName(Q(f.name));
    widgets_[i] = w;
    d.AddRow(f.kind == ParamKind::Bool ? QString() : Q(f.label), w);
  }
  Show();
}

void FieldRows::OnEdit(QObject* context, const std::function<void()>& edited) {
  for (QWidget* w : widgets_) {
    if (auto* spin = qobject_cast<QSpinBox*>(w)) QObject::connect(spin, &QSpinBox::valueChanged, context, edited);
    else if (auto* box = qobject_cast<QCheckBox*>(w)) QObject::connect(box, &QCheckBox::toggled, context, edited);
    else if (auto* list = qobject_cast<QComboBox*>(w))
      QObject::connect(list, &QComboBox::currentIndexChanged, context, edited);
    else if (auto* text = qobject_cast<QLineEdit*>(w)) QObject::connect(text, &QLineEdit::textChanged, context, edited);
  }
}

void FieldRows::Show() {
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    QWidget* w = widgets_[i];
    if (auto* spin = qobject_cast<QSpinBox*>(w)) spin->setValue(ToInt(values_.Int(i)));
    else if (auto* box = qobject_cast<QCheckBox*>(w)) box->setChecked(values_.Bool(i));
    else if (auto* list = qobject_cast<QComboBox*>(w)) list->setCurrentIndex(ToInt(values_.Int(i)));
    else if (auto* text = qobject_cast<QLineEdit*>(w)) text->setText(Q(values_.Text(i)));
    else if (auto* line = w ? w->findChild<QLineEdit*>() : nullptr) line->setText(Q(values_.Text(i)));
  }
}

void FieldRows::Read() {
  for (std::size_t i = 0; i < widgets_.size(); ++i) {
    QWidget* w = widgets_[i];
    if (auto* spin = qobject_cast<QSpinBox*>(w)) values_.SetInt(i, spin->value());
    else if (auto* box = qobject_cast<QCheckBox*>(w)) values_.SetInt(i, box->isChecked());
    else if (auto* list = qobject_cast<QComboBox*>(w)) values_.SetInt(i, list->currentIndex());
    else if (auto* text = qobject_cast<QLineEdit*>(w)) values_.SetText(i, text->text().toStdString());
    else if (auto* line = w ? w->findChild<QLineEdit*>() : nullptr)
      values_.SetText(i, line->text().toStdString());
  }
}

std::optional<CheckedDialog::Refusal> FieldRows::Check(const char* caption) {
  Read();
  const std::string why = values_.Validate();
  if (why.empty()) return std::nullopt;
  return CheckedDialog::Refusal{why, caption};
}

QWidget* FieldRows::Make(CheckedDialog& d, const ParamInfo& f, core::EditContext* ctx, std::size_t i) {
  switch (f.kind) {
    case ParamKind::Int: {
      auto* spin = new QSpinBox;
      // Room beyond the range, so that a typed value is refused with its message.
      spin->setRange(ToInt(f.min - 1000000), ToInt(f.max + 1000000));
      if (!f.unit.empty() && f.label.find('(') == std::string_view::npos) spin->setSuffix(" " + Q(f.unit));
      return spin;
    }
    case ParamKind::Bool: return new QCheckBox(Q(f.label));
    case ParamKind::Choice: {
      auto* list = new QComboBox;
      for (std::string_view c : f.choices) list->addItem(Q(c));
      return list;
    }
    case ParamKind::Text: return new QLineEdit;
    case ParamKind::OpenPath:
    case ParamKind::SavePath: {
      auto* row = new QWidget;
      auto* layout = new QHBoxLayout(row);
      layout->setContentsMargins(0, 0, 0, 0);
      auto* line = new QLineEdit;
      auto* browse = new QPushButton("Browse...");
      layout->addWidget(line, 1);
      layout->addWidget(browse);
      browse->setEnabled(ctx && ctx->prompter);
      QObject::connect(browse, &QPushButton::clicked, &d, [this, ctx, i, line] {
        if (const auto file = core::AskPathField(*ctx->prompter, ctx->settings, values_.field(i)))
          line->setText(QString::fromStdString(file->string()));
      });
      return row;
    }
  }
  return new QWidget;
}

}  // namespace quillet::ui
