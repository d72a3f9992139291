#include "ui/format_dialogs.h"

#include <QLabel>
#include <QLineEdit>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "formats/wave_format.h"
#include "ui/dialogs.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

using core::ParamInfo;
using core::ParamKind;
using formats::OptionLook;
using formats::OptionWidget;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QString WithUnit(std::int64_t v, std::string_view unit) {
  return unit.empty() ? QString::number(v) : QString::number(v) + " " + Q(unit);
}

template <typename W>
W* Named(W* w, const char* name) {
  w->setObjectName(name);
  return w;
}

// One drawn field: shows a value, reads it back, and is enabled by its mode.
struct Field {
  QWidget* widget = nullptr;
  std::function<void(std::int64_t)> show;
  std::function<std::int64_t()> read;
};

// A list whose entry i stands for values[i].
Field ListField(const ParamInfo& f) {
  auto* c = new QComboBox;
  std::vector<std::int64_t> values;
  if (f.kind == ParamKind::Choice) {
    for (std::size_t i = 0; i < f.choices.size(); ++i) values.push_back(std::int64_t(i));
  } else {
    values.assign(f.values.begin(), f.values.end());
  }
  for (std::size_t i = 0; i < values.size(); ++i)
    c->addItem(i < f.choices.size() ? Q(f.choices[i]) : WithUnit(values[i], f.unit));
  return {c,
          [c, values](std::int64_t v) {
            const auto at = std::find(values.begin(), values.end(), v);
            c->setCurrentIndex(at == values.end() ? 0 : int(at - values.begin()));
          },
          [c, values] { return values.empty() ? 0 : values[std::size_t(std::max(c->currentIndex(), 0))]; }};
}

// A number typed or picked; a typed word that is no number reads as one below the
// range, so the table refuses it with its own message.
Field EditableListField(const ParamInfo& f, const OptionLook& look) {
  auto* c = new QComboBox;
  c->setEditable(true);
  for (std::int64_t v : look.suggestions) c->addItem(QString::number(v));
  const std::int64_t refused = f.min > std::numeric_limits<std::int64_t>::min() ? f.min - 1 : f.max + 1;
  return {c, [c](std::int64_t v) { c->setCurrentText(QString::number(v)); },
          [c, refused] {
            bool ok = false;
            const qlonglong v = c->currentText().trimmed().toLongLong(&ok);
            return ok ? std::int64_t(v) : refused;
          }};
}

Field SpinField(const ParamInfo& f) {
  auto* b = new QSpinBox;
  b->setRange(int(std::max<std::int64_t>(f.min, -2147483647)), int(std::min<std::int64_t>(f.max, 2147483647)));
  if (!f.unit.empty()) b->setSuffix(" " + Q(f.unit));
  return {b, [b](std::int64_t v) { b->setValue(int(std::clamp<std::int64_t>(v, b->minimum(), b->maximum()))); },
          [b] { return std::int64_t(b->value()); }};
}

Field CheckField(const ParamInfo& f) {
  auto* b = new QCheckBox(Q(f.label));
  return {b, [b](std::int64_t v) { b->setChecked(v != 0); }, [b] { return std::int64_t(b->isChecked()); }};
}

}  // namespace

bool QtSaveOptions::EditOptions(const formats::OptionRecord& record, core::ParamSet& values,
                                const std::string& note) {
  CheckedDialog d(parent_, Q(record.table->title));
  d.setObjectName(Q(record.dialogName));
  if (!note.empty()) {
    auto* line = new QLabel(Q(note));
    line->setObjectName("note");
    line->setWordWrap(true);
    d.AddRow("", line);
  }
  const std::size_t n = values.size();
  // Fields before first belong to the nested record and are edited in its dialog.
  const std::size_t first = record.nested ? std::min(record.nested->table->fields.size(), n) : 0;
  core::ParamSet edited = values;
  std::vector<Field> fields(n);
  std::vector<QRadioButton*> offButtons(n, nullptr);
  for (std::size_t i = first; i < n; ++i) {
    const ParamInfo& f = values.field(i);
    const OptionLook look = i < record.looks.size() ? record.looks[i] : OptionLook{};
    // A mode's off button heads the first field it enables.
    if (look.mode >= 0 && !look.whenOn) {
      if (QRadioButton*& off = offButtons[std::size_t(look.mode)]; off && !off->parent()) d.AddRow("", off);
    }
    Field field;
    QString label = Q(f.label);
    if (core::IsTextKind(f.kind)) {
      auto* line = new QLineEdit;
      line->setMinimumWidth(line->fontMetrics().averageCharWidth() * 40);  // room for a web address
      field = {line, nullptr, nullptr};
    } else if (look.widget == OptionWidget::ModeRadios) {
      auto* on = new QRadioButton(label);
      auto* off = new QRadioButton(Q(look.offLabel));
      off->setObjectName(Q(f.key) + ".off");
      offButtons[i] = off;
      field = {on, [on, off](std::int64_t v) { (v ? on : off)->setChecked(true); },
               [on] { return std::int64_t(on->isChecked()); }};
      label.clear();
    } else if (look.widget == OptionWidget::EditableList) {
      field = EditableListField(f, look);
    } else if (f.kind == ParamKind::Bool) {
      field = CheckField(f);
      label.clear();
    } else if (f.kind == ParamKind::Choice || !f.values.empty()) {
      field = ListField(f);
    } else {
      field = SpinField(f);
    }
    field.widget->setObjectName(Q(f.key));
    d.AddRow(label, field.widget);
    fields[i] = std::move(field);
  }
  for (QRadioButton* off : offButtons)
    if (off && !off->parent()) d.AddRow("", off);

  if (record.nested) {
    auto* b = new QPushButton(Q(record.nestedButton));
    b->setObjectName("nested");
    QObject::connect(b, &QPushButton::clicked, &d, [&] {
      core::ParamSet inner(*record.nested->table);
      for (std::size_t i = 0; i < first; ++i) inner.SetInt(i, edited.Int(i));
      if (!EditOptions(*record.nested, inner)) return;
      for (std::size_t i = 0; i < first; ++i) edited.SetInt(i, inner.Int(i));
    });
    d.AddRow("", b);
  }

  auto enable = [&record, &fields, first, n] {
    for (std::size_t i = first; i < n && i < record.looks.size(); ++i) {
      const OptionLook& look = record.looks[i];
      if (look.mode < 0) continue;
      const bool on = fields[std::size_t(look.mode)].read() != 0;
      fields[i].widget->setEnabled(on == look.whenOn);
    }
  };
  auto showAll = [&](const core::ParamSet& v) {
    for (std::size_t i = first; i < n; ++i) {
      if (auto* line = qobject_cast<QLineEdit*>(fields[i].widget)) line->setText(Q(v.Text(i)));
      else fields[i].show(v.Int(i));
    }
    enable();
  };
  for (std::size_t i = first; i < n; ++i)
    if (auto* radio = qobject_cast<QRadioButton*>(fields[i].widget))
      QObject::connect(radio, &QRadioButton::toggled, &d, enable);
  if (record.restoreDefaults) {
    auto* b = new QPushButton("Restore Defaults");
    b->setObjectName("restoreDefaults");
    QObject::connect(b, &QPushButton::clicked, &d, [&] {
      core::ParamSet defaults = values;
      defaults.RestoreDefaults();
      showAll(defaults);
    });
    d.AddRow("", b);
  }
  d.Finish();
  showAll(values);

  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    for (std::size_t i = first; i < n; ++i) {
      if (auto* line = qobject_cast<QLineEdit*>(fields[i].widget))
        edited.SetText(i, line->text().trimmed().toStdString());
      else
        edited.SetInt(i, fields[i].read());
    }
    std::string message = edited.Validate();
    if (message.empty()) return std::nullopt;
    return CheckedDialog::Refusal{std::move(message), std::string(record.refusalCaption)};
  });
  if (d.exec() != QDialog::Accepted) return false;
  values = edited;
  return true;
}

std::optional<formats::WaveFormat> QtSaveOptions::Choose(const formats::FormatChooserModel& model) {
  CheckedDialog d(parent_, Q(model.title()));
  d.setObjectName("FormatChooser");
  auto* tags = Named(new QComboBox, "format");
  auto* lines = Named(new QComboBox, "attributes");
  const std::vector<std::uint16_t> tagList = model.Tags();
  for (std::uint16_t t : tagList) tags->addItem(Q(formats::FormatTagName(t)));
  std::vector<formats::WaveFormat> shown;
  auto fill = [&](int tagIndex, const formats::WaveFormat* select) {
    lines->clear();
    shown = tagIndex >= 0 && tagIndex < int(tagList.size())
                ? model.FormatsOf(tagList[std::size_t(tagIndex)])
                : std::vector<formats::WaveFormat>{};
    int pick = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      lines->addItem(Q(formats::DescribeFormat(shown[i])));
      if (select && shown[i] == *select) pick = int(i);
    }
    lines->setCurrentIndex(pick);
  };
  const formats::WaveFormat& initial = model.initial();
  const auto at = std::find(tagList.begin(), tagList.end(), initial.tag);
  const int initialTag = at == tagList.end() ? 0 : int(at - tagList.begin());
  tags->setCurrentIndex(initialTag);
  fill(initialTag, &initial);
  QObject::connect(tags, &QComboBox::currentIndexChanged, &d, [&](int i) { fill(i, nullptr); });
  d.AddRow("Format:", tags);
  d.AddRow("Attributes:", lines);
  d.Finish();
  if (d.exec() != QDialog::Accepted || shown.empty()) return std::nullopt;
  return shown[std::size_t(std::clamp(lines->currentIndex(), 0, int(shown.size()) - 1))];
}

void QtSaveOptions::ShowStop(std::string_view text, std::string_view caption) {
  ShowMessageBox(parent_, text, caption, platform::MessageIcon::Error, platform::MessageButtons::Ok);
}

}  // namespace quillet::ui
