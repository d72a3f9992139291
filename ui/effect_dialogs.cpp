#include "ui/effect_dialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>

#include "core/peaks.h"
#include "effects/dialogs.h"
#include "effects/equalizer.h"
#include "ui/curve_editor.h"
#include "ui/field_rows.h"
#include "ui/preview_button.h"

namespace quillet::ui {
namespace {

constexpr int kWaveColumns = 512;

QString EditingHint() {
  return QString("Click to add a point, drag a point to move it, right-click or double-click it to "
                 "delete it (at most %1 points).")
      .arg(effects::kMaxEnvelopePoints);
}

// The part of doc an effect works on: its selection, or all of it.
std::pair<core::FramePos, core::FramePos> Worked(const core::WaveDocument& doc) {
  if (doc.HasSelection()) return {doc.selStart(), doc.selEnd()};
  return {0, doc.length()};
}

void ShowWave(CurveEditor& editor, const core::WaveDocument& doc) {
  const auto [from, to] = Worked(doc);
  if (to <= from) return;
  const core::ColumnMapping map = core::ColumnMapping::Make(from, to - from, kWaveColumns);
  std::vector<std::uint8_t> top(kWaveColumns + 1), bottom(kWaveColumns + 1);
  if (!core::ComputePeakColumns(doc.chain(), map, 0, kWaveColumns, core::PeakOptions{},
                                core::ChoosePeakSource(map), top.data(), bottom.data()))
    return;
  top.resize(kWaveColumns);
  bottom.resize(kWaveColumns);
  editor.SetWave(std::move(top), std::move(bottom));
}

// A row of buttons (and anything else) under the editor.
QHBoxLayout* ButtonRow(CheckedDialog& d) {
  auto* row = new QWidget(&d);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  d.AddRow("", row);
  return layout;
}

// A shape's settings dialog; the chosen settings (stored in the shape's section), or
// nothing when cancelled.
std::optional<effects::EqShapeParams> AskShape(QWidget* parent, effects::EqShape shape, settings::Settings& s) {
  core::ParamSet values(effects::ShapeTable(shape));
  values.Load(s);
  CheckedDialog d(parent, Q(values.table().title));
  d.setObjectName("EqShapeDialog");
  FieldRows rows(d, values, nullptr, false);
  const bool pass = effects::IsPassFrequencyShape(shape);
  // A notch has no slope.
  if (shape == effects::EqShape::Notch) rows.widget(2)->setEnabled(false);
  auto* defaults = new QPushButton("&Defaults");
  defaults->setObjectName("defaults");
  QObject::connect(defaults, &QPushButton::clicked, &d, [&] {
    const effects::EqShapeParams p = effects::ShapeDefaults(shape);
    const std::int64_t band[] = {p.startHz, p.endHz, p.slopeHz, p.ampPct};
    const std::int64_t passing[] = {p.startHz, p.slopeHz, p.ampPct};
    for (std::size_t i = 0; i < values.size(); ++i) values.SetInt(i, pass ? passing[i] : band[i]);
    rows.Show();
  });
  ButtonRow(d)->addWidget(defaults);
  d.Finish();
  d.SetValidator([&rows] { return rows.Check(); });
  if (d.exec() != QDialog::Accepted) return std::nullopt;
  values.Store(s);
  return effects::ShapeParamsOf(shape, values);
}

}  // namespace

bool AskEnvelope(DialogCall& call) {
  const std::filesystem::path folder = effects::DefaultDataFolder();
  effects::EnvelopeShape shape;
  const std::string& given = call.values.Text(0);
  if (given.empty() || !effects::ParseEnvelope(given, shape).ok()) shape = effects::LoadEnvelope(folder);
  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("EnvelopeDialog");
  auto* editor = new CurveEditor(shape, CurveEditor::Axis::Share);
  if (call.doc) ShowWave(*editor, *call.doc);
  d.AddRow("", editor);
  QHBoxLayout* row = ButtonRow(d);
  auto* reset = new QPushButton("&Reset");
  reset->setObjectName("reset");
  QObject::connect(reset, &QPushButton::clicked, editor, [editor] { editor->SetShape(effects::DefaultEnvelope()); });
  row->addWidget(new QLabel(EditingHint()), 1);
  row->addWidget(reset);
  d.Finish();
  if (d.exec() != QDialog::Accepted) return false;
  // The points go to the command as text, so a file that cannot be written costs
  // only the remembering.
  effects::SaveEnvelope(folder, editor->shape());
  call.values.SetText(0, effects::FormatCurve(editor->shape()));
  return true;
}

bool AskEqualizer(DialogCall& call) {
  if (!call.ctx) return false;
  settings::Settings& s = call.ctx->settings;
  const std::filesystem::path folder = effects::DefaultDataFolder();
  effects::EqualizerCurve curve;
  if (!effects::EqualizerCurveOf(call.values.Text(0), s, folder, curve).ok())
    curve = effects::LoadEqualizerCurve(folder);
  const bool linear = s.GetInt("StoredValues", "EQLinearView", 1) != 0;

  CheckedDialog d(call.parent, Q(call.values.table().title));
  d.setObjectName("EqualizerDialog");
  auto* editor = new CurveEditor(curve, linear ? CurveEditor::Axis::EqLinear : CurveEditor::Axis::EqLogarithmic);
  d.AddRow("", editor);
  d.AddRow("", new QLabel(EditingHint()));

  QHBoxLayout* axisRow = ButtonRow(d);
  auto* linearButton = new QRadioButton("&Linear");
  auto* logButton = new QRadioButton("L&ogarithmic");
  linearButton->setObjectName("linear");
  logButton->setObjectName("logarithmic");
  (linear ? linearButton : logButton)->setChecked(true);
  QObject::connect(linearButton, &QRadioButton::toggled, editor, [editor](bool on) {
    editor->SetAxis(on ? CurveEditor::Axis::EqLinear : CurveEditor::Axis::EqLogarithmic);
  });
  axisRow->addWidget(new QLabel("Frequency axis:"));
  axisRow->addWidget(linearButton);
  axisRow->addWidget(logButton);
  axisRow->addStretch(1);
  auto* flat = new QPushButton("&Flat");
  flat->setObjectName("flat");
  QObject::connect(flat, &QPushButton::clicked, editor, [editor] { editor->SetShape(effects::FlatCurve()); });
  axisRow->addWidget(flat);

  auto* shapes = new QComboBox;
  shapes->setObjectName("preset");
  shapes->addItem("Select Preset");
  for (int i = 1; i <= effects::kEqShapeCount; ++i)
    shapes->addItem(Q(effects::ShapeName(static_cast<effects::EqShape>(i))));
  shapes->setCurrentIndex(std::clamp<int>(int(s.GetInt("StoredValues", "EQPreset", 0)), 0, effects::kEqShapeCount));
  QObject::connect(shapes, &QComboBox::activated, &d, [&, editor](int i) {
    if (i < 1) return;
    const auto shape = static_cast<effects::EqShape>(i);
    const std::optional<effects::EqShapeParams> p = AskShape(&d, shape, s);
    if (!p) return;
    effects::StoreShapeChoice(s, shape);
    editor->SetShape(effects::ShapeCurve(shape, *p));
    effects::SaveEqualizerCurve(folder, editor->shape());
  });
  d.AddRow("Filter &shape:", shapes);

  if (call.doc) {
    auto* preview = new PreviewButton(call.ctx->player, *call.doc, [editor]() -> effects::PreviewBuild {
      return [points = editor->shape()](audio::SourceHandle in, std::string*) {
        return effects::MakeEqualizer(std::move(in), points);
      };
    });
    QObject::connect(editor, &CurveEditor::edited, preview, &PreviewButton::Edited);
    d.AddRow("", preview);
  }
  d.Finish();
  if (d.exec() != QDialog::Accepted) return false;
  effects::SaveEqualizerCurve(folder, editor->shape());
  s.SetInt("StoredValues", "EQPreset", shapes->currentIndex());
  s.SetInt("StoredValues", "EQLinearView", linearButton->isChecked() ? 1 : 0);
  call.values.SetText(0, effects::FormatCurve(editor->shape()));
  return true;
}

CrossFadeView::CrossFadeView(QWidget* parent) : QWidget(parent) {
  setObjectName("fades");
  setMinimumSize(240, 90);
}

void CrossFadeView::SetTimes(std::int64_t gapMs, std::int64_t fadeInMs, std::int64_t fadeOutMs) {
  gap_ = std::max<std::int64_t>(gapMs, 0);
  in_ = std::max<std::int64_t>(fadeInMs, 0);
  out_ = std::max<std::int64_t>(fadeOutMs, 0);
  update();
}

void CrossFadeView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  // The fade in may start before the selection: the mix then begins that much earlier.
  const double lead = static_cast<double>(std::max<std::int64_t>(0, in_ - gap_));
  const double join = lead + static_cast<double>(gap_);
  const double total = std::max({join, lead + static_cast<double>(out_), 1.0});
  const QRectF r = QRectF(rect()).adjusted(8, 20, -8, -8);
  const auto at = [&](double ms, double gain) {
    return QPointF(r.left() + ms / total * r.width(), r.bottom() - gain * r.height());
  };
  p.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
  for (double ms : {lead, join}) p.drawLine(at(ms, 0), at(ms, 1));
  p.setRenderHint(QPainter::Antialiasing);
  const QColor outgoing(102, 255, 102), incoming(0, 191, 255);
  p.setPen(QPen(outgoing, 2));
  p.drawPolyline(QPolygonF({at(0, 1), at(lead, 1), at(lead + static_cast<double>(out_), 0), at(total, 0)}));
  p.setPen(QPen(incoming, 2));
  p.drawPolyline(QPolygonF({at(0, 0), at(join - static_cast<double>(in_), 0), at(join, 1), at(total, 1)}));
  p.setPen(outgoing);
  p.drawText(QRectF(8, 2, width() / 2.0, 16), Qt::AlignLeft, "Selection");
  p.setPen(incoming);
  p.drawText(QRectF(width() / 2.0, 2, width() / 2.0 - 8, 16), Qt::AlignRight, "After the selection");
}

}  // namespace quillet::ui
