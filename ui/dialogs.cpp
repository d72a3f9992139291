#include "ui/dialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/time_text.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

std::optional<CheckedDialog::Refusal> FromStatus(const effects::Status& st) {
  if (st.ok()) return std::nullopt;
  return CheckedDialog::Refusal{st.message, st.caption};
}
std::optional<CheckedDialog::Refusal> FromMessage(const std::optional<std::string>& m) {
  if (!m) return std::nullopt;
  return CheckedDialog::Refusal{*m, core::kInvalidValueCaption};
}

QSpinBox* IntField(long long value, long long lo, long long hi) {
  auto* f = new QSpinBox;
  f->setRange(int(std::max<long long>(lo, -2147483647)), int(std::min<long long>(hi, 2147483647)));
  f->setValue(int(std::clamp<long long>(value, f->minimum(), f->maximum())));
  return f;
}

QComboBox* RateCombo(long long rate) {
  auto* combo = new QComboBox;
  combo->setEditable(true);
  for (std::string_view r : effects::SampleRateEntries()) combo->addItem(Q(r));
  combo->setCurrentText(QString::number(rate));
  return combo;
}

}  // namespace

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

bool AskNewFile(QWidget* parent, settings::Settings& s, const char* title, const char* rateKey,
                const char* channelsKey, int& rate, int& channels) {
  CheckedDialog d(parent, title);
  d.setObjectName("NewFileDialog");
  QComboBox* combo = RateCombo(s.GetInt("Settings", rateKey, 44100));
  combo->setObjectName("rate");
  auto* mono = new QRadioButton("&Mono (Single)");
  auto* stereo = new QRadioButton("Ste&reo (Dual)");
  mono->setObjectName("mono");
  stereo->setObjectName("stereo");
  (s.GetInt("Settings", channelsKey, 1) == 2 ? stereo : mono)->setChecked(true);
  d.AddRow("&Sample Rate:", combo);
  d.AddRow("", mono);
  d.AddRow("", stereo);
  d.Finish();
  std::int64_t typed = 0;
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    const effects::Status st = effects::ParseSampleRate(combo->currentText().toStdString(), typed);
    // The rate message has no caption of its own.
    if (!st.ok()) return CheckedDialog::Refusal{st.message, "Quillet"};
    return std::nullopt;
  });
  if (d.exec() != QDialog::Accepted) return false;
  rate = int(typed);
  channels = stereo->isChecked() ? 2 : 1;
  s.SetInt("Settings", rateKey, rate);
  s.SetInt("Settings", channelsKey, channels);
  return true;
}

bool AskPercent(QWidget* parent, settings::Settings& s, effects::PercentDialogModel& model) {
  model.Load(s);
  CheckedDialog d(parent, Q(model.info().title));
  d.setObjectName("PercentDialog");
  QSpinBox* field = IntField(model.value, -1000000, 1000000);
  field->setObjectName("value");
  d.AddRow("&Percent (%):", field);
  const auto presets = model.PresetEntries();
  if (!presets.empty()) {
    auto* list = new QComboBox;
    for (const auto& p : presets) list->addItem(QString::fromStdString(p));
    QObject::connect(list, &QComboBox::activated, &d, [&, field](int i) {
      model.ChoosePreset(i);
      field->setValue(model.value);
    });
    d.AddRow("Preset:", list);
  }
  d.Finish();
  d.SetValidator([&]() {
    model.value = field->value();
    return FromStatus(model.Confirm(s));
  });
  return d.exec() == QDialog::Accepted;
}

bool AskCrossFade(QWidget* parent, settings::Settings& s, effects::CrossFadeDialogModel& model) {
  model.Load(s);
  CheckedDialog d(parent, "Cross Fade");
  d.setObjectName("CrossFade");
  QSpinBox* gap = IntField(model.params.gapMs, 0, 3600000);
  QSpinBox* in = IntField(model.params.fadeInMs, 0, 3600000);
  QSpinBox* out = IntField(model.params.fadeOutMs, 0, 3600000);
  auto* start = new QLineEdit(QString::fromStdString(core::FormatTimeHundredths(model.startMs)));
  auto* end = new QLineEdit(QString::fromStdString(core::FormatTimeHundredths(model.endMs)));
  start->setObjectName("start");
  end->setObjectName("end");
  d.AddRow("Gap (ms):", gap);
  d.AddRow("Fade in (ms):", in);
  d.AddRow("Fade out (ms):", out);
  d.AddRow("Start:", start);
  d.AddRow("End:", end);
  d.Finish();
  d.SetValidator([&]() {
    model.params = {gap->value(), in->value(), out->value()};
    model.startMs = core::ParseTimeText(start->text().toStdString());
    model.endMs = core::ParseTimeText(end->text().toStdString());
    return FromStatus(model.Confirm(s));
  });
  return d.exec() == QDialog::Accepted;
}

bool AskSampleRate(QWidget* parent, std::int64_t& rate) {
  CheckedDialog d(parent, "Convert Sample Rate");
  QComboBox* combo = RateCombo(rate);
  d.AddRow("&Sample Rate:", combo);
  d.Finish();
  std::int64_t typed = rate;
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    const effects::Status st = effects::ParseSampleRate(combo->currentText().toStdString(), typed);
    if (!st.ok()) return CheckedDialog::Refusal{st.message, st.caption};
    return std::nullopt;
  });
  if (d.exec() != QDialog::Accepted) return false;
  rate = typed;
  return true;
}

bool AskInsertSilence(QWidget* parent, settings::Settings& s, core::InsertSilenceDialogModel& m) {
  m = core::InsertSilenceDialogModel::Load(s);
  CheckedDialog d(parent, "Insert Silence");
  auto* field = new QLineEdit(QString::number(m.ms));
  d.AddRow("Silence &Time (ms):", field);
  d.Finish();
  d.SetValidator([&]() {
    bool ok = false;
    const qlonglong v = field->text().trimmed().toLongLong(&ok);
    m.ms = ok ? v : -1;
    auto r = FromMessage(m.Validate());
    if (!r) m.Store(s);
    return r;
  });
  return d.exec() == QDialog::Accepted;
}

bool AskRepeatLoop(QWidget* parent, settings::Settings& s, core::RepeatLoopDialogModel& m) {
  m = core::RepeatLoopDialogModel::Load(s);
  CheckedDialog d(parent, "Repeat Loop");
  auto* field = new QLineEdit(QString::number(m.times));
  d.AddRow("&Repeat number of times:", field);
  d.Finish();
  d.SetValidator([&]() {
    bool ok = false;
    const int v = field->text().trimmed().toInt(&ok);
    m.times = ok ? v : 0;
    auto r = FromMessage(m.Validate());
    if (!r) m.Store(s);
    return r;
  });
  return d.exec() == QDialog::Accepted;
}

bool AskSelectTime(QWidget* parent, core::SelectTimeDialogModel& m,
                   const std::function<void(const core::SelectTimeDialogModel&)>& preview) {
  CheckedDialog d(parent, "Select Specified Time");
  auto* start = new QLineEdit(QString::fromStdString(m.start));
  auto* end = new QLineEdit(QString::fromStdString(m.end));
  d.AddRow("Specified &Time Start", start);
  d.AddRow("Specified Time &End", end);
  auto* previewButton = new QPushButton("Pre&view");
  QObject::connect(previewButton, &QPushButton::clicked, &d, [&] {
    m.start = start->text().toStdString();
    m.end = end->text().toStdString();
    if (preview) preview(m);
  });
  d.AddRow("", previewButton);
  d.Finish();
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    m.start = start->text().toStdString();
    m.end = end->text().toStdString();
    return std::nullopt;
  });
  return d.exec() == QDialog::Accepted;
}

bool AskMix(QWidget* parent, settings::Settings& s, core::MixDialogModel& m) {
  CheckedDialog d(parent, QString::fromStdString(m.title));
  QSpinBox* volume = IntField(m.volumePct, -100000, 100000);
  QSpinBox* pan = IntField(m.pan, -100000, 100000);
  pan->setEnabled(m.panEnabled);
  auto* longer = new QComboBox;
  longer->addItems({"Insert silence", "Increase selection", "Fade out mix"});
  longer->setCurrentIndex(std::clamp(m.longer, 0, 2));
  longer->setEnabled(m.longerEnabled);
  QSpinBox* fade = IntField(m.fadeOut, -100000000, 100000000);
  d.AddRow("&Mix Volume (%)", volume);
  d.AddRow("&Stereo Pan (L - R)", pan);
  d.AddRow("If mi&x audio is longer than selection:", longer);
  d.AddRow("Fade &out time:", fade);
  d.Finish();
  d.SetValidator([&]() {
    m.volumePct = volume->value();
    m.pan = pan->value();
    m.longer = longer->currentIndex();
    m.fadeOut = fade->value();
    auto r = FromMessage(m.Validate());
    if (!r) m.Store(s);
    return r;
  });
  return d.exec() == QDialog::Accepted;
}

}  // namespace quillet::ui
