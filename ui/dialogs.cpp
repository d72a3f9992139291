#include "ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
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
#include "ui/click_dialog.h"
#include "ui/effect_dialogs.h"
#include "ui/field_rows.h"
#include "ui/plugin_dialogs.h"
#include "ui/preview_button.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

using core::ParamInfo;
using core::FramePos;
using core::ParamKind;

bool IsPath(ParamKind k) { return k == ParamKind::OpenPath || k == ParamKind::SavePath; }

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
  auto* fades = new CrossFadeView;
  const auto draw = [&rows, &call, fades] {
    rows.Read();
    fades->SetTimes(call.values.Int(0), call.values.Int(1), call.values.Int(2));
  };
  rows.OnEdit(fades, draw);
  draw();
  d.AddRow("", fades);
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

namespace {
// The same dialog on the defaults a new file takes without asking.
constexpr ParamInfo kSetDefaultsFields[] = {
    {.name = "RATE", .label = "&Sample Rate:", .key = "DefaultSampleRate", .def = 44100,
     .min = audio::kMinSampleRate, .max = audio::kMaxSampleRate, .unit = "Hz",
     .rangeMessage = effects::kSampleRateRangeMessage,
     .section = "Settings"},
    {.name = "CHANNELS", .label = "&Channels: ", .key = "DefaultChannels", .def = 1, .min = 1,
     .max = 2, .section = "Settings"}};
}  // namespace

const core::ParamTable kSetDefaultsTable{"Set Defaults", kSetDefaultsFields};

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
  if (call.command && call.command->preview && call.doc) {
    auto* preview = new PreviewButton(call.ctx ? call.ctx->player : nullptr, *call.doc, [&] {
      rows.Read();
      return effects::PreviewOf(*call.command, call.values);
    });
    rows.OnEdit(preview, [preview] { preview->Edited(); });
    d.AddRow("", preview);
  }
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
      {"envelope", &AskEnvelope},
      {"equalizer", &AskEqualizer},
      {"click-pop", &AskClickPop},
      {"plugins", &AskPluginEffect},
      {"vst-plugins", &AskVstPlugin},
      {"speech", &AskSpeech},
  };
  for (const auto& [n, draw] : kDrawers)
    if (n == name) return draw;
  return nullptr;
}

int TitleWidth(const QWidget& w) {
  // The icon, the close and help buttons and the frame's edges.
  constexpr int kTitleChrome = 120;
  const QFont title = QApplication::font("QMdiSubWindowTitleBar");
  return QFontMetrics(title).horizontalAdvance(w.windowTitle()) + kTitleChrome;
}

void WidenToTitle(QWidget& w) {
  int wanted = TitleWidth(w);
  if (const QScreen* screen = w.screen()) wanted = std::min(wanted, screen->availableGeometry().width());
  if (w.width() < wanted) w.resize(std::max(wanted, w.minimumWidth()), w.height());
}

}  // namespace quillet::ui
