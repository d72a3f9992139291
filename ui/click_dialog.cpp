#include "ui/click_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

namespace quillet::ui {

bool AskClickPop(DialogCall& call) {
  core::ParamSet& values = call.values;
  CheckedDialog d(call.parent, QString::fromUtf8(values.table().title.data(), qsizetype(values.table().title.size())));
  d.setObjectName("LClickPopDlg");
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* less = new QLabel("Less");
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setObjectName("SENSITIVITY");
  slider->setRange(0, 100);
  slider->setTickPosition(QSlider::TicksBelow);
  slider->setTickInterval(50);
  slider->setMinimumWidth(200);
  auto* value = new QLabel;
  value->setMinimumWidth(30);
  layout->addWidget(less);
  layout->addWidget(slider, 1);
  layout->addWidget(new QLabel("More"));
  layout->addWidget(value);
  QObject::connect(slider, &QSlider::valueChanged, value, [value](int v) { value->setText(QString::number(v)); });
  auto* length = new QSpinBox;
  length->setObjectName("MAX_US");
  // Room beyond the range, so that a typed value is refused with its message.
  length->setRange(-1000000, 10000000);
  length->setSuffix(" µs");
  auto* defaults = new QPushButton("&Defaults");
  d.AddRow("&Sensitivity:", row);
  d.AddRow("&Maximum click length:", length);
  d.AddRow(QString(), defaults);
  const auto show = [&] {
    slider->setValue(int(values.Int(0)));
    length->setValue(int(values.Int(1)));
    value->setText(QString::number(slider->value()));
  };
  QObject::connect(defaults, &QPushButton::clicked, &d, [&] {
    values.RestoreDefaults();
    show();
  });
  show();
  d.Finish();
  d.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    values.SetInt(0, slider->value());
    values.SetInt(1, length->value());
    const std::string why = values.Validate();
    if (why.empty()) return std::nullopt;
    return CheckedDialog::Refusal{why, "Invalid value"};
  });
  return d.exec() == QDialog::Accepted;
}

}  // namespace quillet::ui
