#pragma once
// The curve editor of the envelope and equalizer dialogs. Points of (x 0..255,
// y 0..255 with 128 unity) are drawn over a background (the selection's waveform, or
// a frequency grid) and edited with the mouse: a click where there is no point adds
// one, a drag moves one, a right-click or a double-click deletes an inner one. The
// points keep effects::CurveEditModel's rules (rising x, fixed ends, at most 64).

#include <QWidget>
#include <cstdint>
#include <vector>

#include "effects/dialogs.h"

namespace quillet::ui {

class CurveEditor final : public QWidget {
  Q_OBJECT
 public:
  // How x is laid out: as a share of the width (an envelope over its selection), or
  // as a frequency (x times 78.125 Hz) on a linear or logarithmic axis to 20000 Hz.
  enum class Axis { Share, EqLinear, EqLogarithmic };

  CurveEditor(const effects::EnvelopeShape& shape, Axis axis, QWidget* parent = nullptr);
  const effects::EnvelopeShape& shape() const { return model_.shape(); }
  // Replaces the points (an invalid shape becomes the flat line) and reports an edit.
  void SetShape(const effects::EnvelopeShape& shape);
  void SetAxis(Axis axis);
  Axis axis() const { return axis_; }
  // Peak columns (0..255 above and below the middle) drawn under the curve.
  void SetWave(std::vector<std::uint8_t> top, std::vector<std::uint8_t> bottom);

  // Where a point is drawn, and the point a pixel stands for (clamped to 0..255).
  QPointF PixelOf(const effects::EnvelopePoint& p) const;
  effects::EnvelopePoint PointAt(QPointF pixel) const;
  QSize sizeHint() const override { return {540, 260}; }

 signals:
  // A point was added, deleted or let go after a drag, or the shape was replaced.
  void edited();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  QRectF Plot() const;
  // Where x (0..255) lies across the plot, 0..1.
  double FractionOfX(double x) const;
  int XOfFraction(double f) const;
  // The point within reach of pixel, or -1.
  int Hit(QPointF pixel) const;
  void PaintGrid(class QPainter& p, const QRectF& r) const;

  effects::CurveEditModel model_;
  Axis axis_;
  int dragging_ = -1;
  std::vector<std::uint8_t> top_, bottom_;
};

}  // namespace quillet::ui
