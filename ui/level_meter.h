#pragma once
// The transport's level meter: one horizontal bar per channel over -60..+15 dB,
// with the peak held for a while, fed by the player's level records. A dB scale runs
// under the bars, and stereo lanes carry L and R at their left.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <vector>

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
  QSize sizeHint() const override { return {170, 34}; }

  // Where the bars run: right of the lane labels, above the scale.
  QRect BarArea() const;
  // The x of db on the bars (clamped to the meter's range).
  int XOfDb(int db) const;
  // The scale's labels that fit without touching, left to right.
  struct ScaleLabel {
    int db;
    int left;  // where its text starts
    QString text;
  };
  std::vector<ScaleLabel> ScaleLabels() const;
  // "L" and "R" for the lanes of stereo, nothing otherwise.
  static QString LaneLabel(int channel, int channels);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QFont ScaleFont() const;
  devices::LevelMeter meter_;
  QElapsedTimer clock_;
  QTimer fall_;
};

}  // namespace quillet::ui
