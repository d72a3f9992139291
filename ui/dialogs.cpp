#include "ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <climits>
#include <vector>

#include "core/edit_params.h"
#include "core/time_text.h"
#include "audio/resample.h"
#include "effects/conversion.h"
#include "effects/dialogs.h"
#include "platform/frame_time.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

using core::ParamInfo;
using core::FramePos;
using core::ParamKind;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

int ToInt(std::int64_t v) { return int(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX)); }

bool IsPath(ParamKind k) { return k == ParamKind::OpenPath || k == ParamKind::SavePath; }

// The rows of a table's fields in a dialog, shown from and read back into the values.
class FieldRows {
 public:
  FieldRows(CheckedDialog& d, core::ParamSet& values, core::EditContext* ctx, bool paths)
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
  QWidget* widget(std::size_t i) const { return widgets_[i]; }

  void Show() {
    for (std::size_t i = 0; i < widgets_.size(); ++i) {
      QWidget* w = widgets_[i];
      if (auto* spin = qobject_cast<QSpinBox*>(w)) spin->setValue(ToInt(values_.Int(i)));
      else if (auto* box = qobject_cast<QCheckBox*>(w)) box->setChecked(values_.Bool(i));
      else if (auto* list = qobject_cast<QComboBox*>(w)) list->setCurrentIndex(ToInt(values_.Int(i)));
      else if (auto* text = qobject_cast<QLineEdit*>(w)) text->setText(Q(values_.Text(i)));
      else if (auto* line = w ? w->findChild<QLineEdit*>() : nullptr) line->setText(Q(values_.Text(i)));
    }
  }
  void Read() {
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
  // Read, then the table's refusal under "Invalid value".
  std::optional<CheckedDialog::Refusal> Check(const char* caption = core::kInvalidValueCaption) {
    Read();
    const std::string why = values_.Validate();
    if (why.empty()) return std::nullopt;
    return CheckedDialog::Refusal{why, caption};
  }

 private:
  QWidget* Make(CheckedDialog& d, const ParamInfo& f, core::EditContext* ctx, std::size_t i) {
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

  core::ParamSet& values_;
  std::vector<QWidget*> widgets_;
};

void AddPresets(CheckedDialog& d, core::ParamSet& values, FieldRows& rows) {
  const auto presets = values.table().presets;
  if (presets.empty()) return;
  auto* list = new QComboBox;
  list->setObjectName("preset");
  list->addItem("Select Preset");
  for (const core::ParamPreset& p : presets) list->addItem(Q(p.name));
  QObject::connect(list, &QComboBox::activated, &d, [&values, &rows](int i) {
    if (i < 1) return;
    rows.Read();
    values.ChoosePreset(std::size_t(i - 1));
    rows.Show();
  });
  d.AddRow("Preset:", list);
}

QComboBox* RateCombo(std::int64_t rate) {
  auto* combo = new QComboBox;
  combo->setObjectName("rate");
  combo->setEditable(true);
  for (std::string_view r : effects::SampleRateEntries()) combo->addItem(Q(r));
  combo->setCurrentText(QString::number(rate));
  return combo;
}

// The first field that is not a path: where a mix's fields start.
std::size_t FirstValueField(const core::ParamSet& values) {
  std::size_t i = 0;
  while (i < values.size() && IsPath(values.field(i).kind)) ++i;
  return i;
}

// "Paste Mix" / "Mix File": pan for stereo only; the longer choice only with a
// selection (otherwise the mix increases the selection); the fade only for its choice.
bool AskMix(DialogCall& call) {
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("MixDialog");
  const std::size_t first = FirstValueField(call.values);
  const bool selected = call.doc && call.doc->HasSelection();
  if (!selected) call.values.SetInt(first + core::kMixLonger, 1);
  FieldRows rows(d, call.values, call.ctx, false);
  rows.widget(first + core::kMixPan)->setEnabled(call.doc && call.doc->channels() == 2);
  auto* longer = qobject_cast<QComboBox*>(rows.widget(first + core::kMixLonger));
  QWidget* fade = rows.widget(first + core::kMixFade);
  longer->setEnabled(selected);
  const auto follow = [longer, fade] { fade->setEnabled(longer->currentIndex() == 2); };
  QObject::connect(longer, &QComboBox::currentIndexChanged, &d, follow);
  follow();
  d.Finish();
  d.SetValidator([&rows] { return rows.Check(); });
  return d.exec() == QDialog::Accepted;
}

// "Cross Fade": the three times and the selection as editable times, which become
// the selection the command works on.
bool AskCrossFade(DialogCall& call) {
  if (!call.doc) return false;
  core::WaveDocument& doc = *call.doc;
  const std::int64_t rate = doc.sampleRate();
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("CrossFade");
  FieldRows rows(d, call.values, call.ctx, false);
  auto time = [&](FramePos f) {
    return new QLineEdit(Q(core::FormatTimeHundredths(platform::MsFromFrames(f, rate))));
  };
  QLineEdit* start = time(doc.selStart());
  QLineEdit* end = time(doc.selEnd());
  start->setObjectName("start");
  end->setObjectName("end");
  d.AddRow("Start:", start);
  d.AddRow("End:", end);
  d.Finish();
  std::int64_t startMs = 0, endMs = 0;
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    if (auto refusal = rows.Check()) return refusal;
    startMs = core::ParseTimeText(start->text().toStdString());
    endMs = core::ParseTimeText(end->text().toStdString());
    if (endMs < startMs)
      return CheckedDialog::Refusal{"The selection end must not be before its start.",
                                    core::kInvalidValueCaption};
    return std::nullopt;
  });
  if (d.exec() != QDialog::Accepted) return false;
  const FramePos from = platform::FramesFromMs(startMs, rate);
  doc.SetSelection(from, platform::FramesFromMs(endMs, rate), from);
  return true;
}

// "Select Specified Time": "Pre&view" plays the typed range.
bool AskSelectTime(DialogCall& call) {
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("SelectTime");
  FieldRows rows(d, call.values, call.ctx, false);
  auto* preview = new QPushButton("Pre&view");
  preview->setObjectName("preview");
  QObject::connect(preview, &QPushButton::clicked, &d, [&] {
    rows.Read();
    if (call.ctx && call.doc) core::PreviewTypedRange(*call.ctx, *call.doc, call.values);
  });
  d.AddRow("", preview);
  d.Finish();
  d.SetValidator([&rows] { return rows.Check(); });
  return d.exec() == QDialog::Accepted;
}

// A typed or chosen rate into field 0, refused with the table's message under caption.
std::optional<CheckedDialog::Refusal> TakeRate(core::ParamSet& values, const QComboBox* combo,
                                               const char* caption) {
  values.SetInt(0, settings::ParseLeadingInt(combo->currentText().toStdString()));
  const std::string why = values.Validate();
  if (why.empty()) return std::nullopt;
  return CheckedDialog::Refusal{why, caption};
}

// "Convert Sample Rate": the rate list, typed values accepted.
bool AskSampleRate(DialogCall& call) {
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("SampleRate");
  QComboBox* combo = RateCombo(call.values.Int(0));
  d.AddRow("&Sample Rate:", combo);
  d.Finish();
  // The rate's message has no caption of its own.
  d.SetValidator([&] { return TakeRate(call.values, combo, ""); });
  return d.exec() == QDialog::Accepted;
}

// "New File": the rate list and mono or stereo.
bool AskNewFile(DialogCall& call) {
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("NewFileDialog");
  QComboBox* combo = RateCombo(call.values.Int(0));
  auto* mono = new QRadioButton("&Mono (Single)");
  auto* stereo = new QRadioButton("Ste&reo (Dual)");
  mono->setObjectName("mono");
  stereo->setObjectName("stereo");
  (call.values.Int(1) == 2 ? stereo : mono)->setChecked(true);
  d.AddRow("&Sample Rate:", combo);
  d.AddRow("", mono);
  d.AddRow("", stereo);
  d.Finish();
  d.SetValidator([&] {
    call.values.SetInt(1, stereo->isChecked() ? 2 : 1);
    return TakeRate(call.values, combo, "Quillet");
  });
  return d.exec() == QDialog::Accepted;
}

constexpr ParamInfo kNewFileFields[] = {
    {.name = "RATE", .label = "&Sample Rate:", .key = "SelectedSampleRate", .def = 44100,
     .min = audio::kMinSampleRate, .max = audio::kMaxSampleRate, .unit = "Hz",
     .rangeMessage = effects::kSampleRateRangeMessage,
     .section = "Settings"},
    {.name = "CHANNELS", .label = "Channels:", .key = "SelectedChannels", .def = 1, .min = 1,
     .max = 2, .section = "Settings"}};

}  // namespace

const core::ParamTable kNewFileTable{"New File", kNewFileFields};

CheckedDialog::CheckedDialog(QWidget* parent, const QString& title) : QDialog(parent) {
  setWindowTitle(title);
  form_ = new QFormLayout(this);
}

void CheckedDialog::AddRow(const QString& label, QWidget* field) {
  if (label.isEmpty()) form_->addRow(field);
  else form_->addRow(label, field);
}

void CheckedDialog::Finish() {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(box, &QDialogButtonBox::accepted, this, &CheckedDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &CheckedDialog::reject);
  form_->addRow(box);
}

void CheckedDialog::accept() {
  if (validate_) {
    if (auto refusal = validate_()) {
      ShowMessageBox(this, refusal->message, refusal->caption, platform::MessageIcon::Error,
                     platform::MessageButtons::Ok);
      return;
    }
  }
  QDialog::accept();
}

bool AskParams(DialogCall& call) {
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("ParamDialog");
  FieldRows rows(d, call.values, call.ctx, true);
  AddPresets(d, call.values, rows);
  d.Finish();
  d.SetValidator([&rows] { return rows.Check(); });
  return d.exec() == QDialog::Accepted;
}

DialogDrawer FindDialog(std::string_view name) {
  static constexpr std::pair<std::string_view, DialogDrawer> kDrawers[] = {
      {"mix", &AskMix},
      {"cross-fade", &AskCrossFade},
      {"select-time", &AskSelectTime},
      {"sample-rate", &AskSampleRate},
      {"new-file", &AskNewFile},
  };
  for (const auto& [n, draw] : kDrawers)
    if (n == name) return draw;
  return nullptr;
}

}  // namespace quillet::ui
