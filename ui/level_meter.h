#pragma once
// The transport's level meter: one horizontal bar per channel over -60..+15 dB,
// with the peak held for a while, fed by the player's level records.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include "devices/level.h"

namespace quillet::ui {

class LevelMeterWidget final : public QWidget {
  Q_OBJECT
 public:
  explicit LevelMeterWidget(QWidget* parent = nullptr);
  void Update(const devices::LLevelRecord& levels);
  // No sound comes any more: the bars fall to nothing.
  void Idle();
  const devices::LevelMeter& meter() const { return meter_; }
  QSize sizeHint() const override { return {140, 22}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  devices::LevelMeter meter_;
  QElapsedTimer clock_;
  QTimer fall_;
};

}  // namespace quillet::ui
