#include "ui/curve_editor.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "effects/equalizer.h"

namespace quillet::ui {
namespace {

// How near (in pixels) a press must come to a point to take it.
constexpr double kReach = 7;
// Room for the labels left of and below the plot.
constexpr double kLeft = 44, kRight = 12, kTop = 10, kBottom = 22;

const QColor kBackground(0, 0, 0);
const QColor kGrid(60, 60, 60);
const QColor kLabel(170, 170, 170);
const QColor kWaveColour(102, 255, 102);
const QColor kCurve(255, 255, 17);
const QColor kPoint(0, 191, 255);

}  // namespace

CurveEditor::CurveEditor(const effects::EnvelopeShape& shape, Axis axis, QWidget* parent)
    : QWidget(parent), model_(shape), axis_(axis) {
  setObjectName("curve");
  setMinimumSize(300, 160);
  setMouseTracking(false);
}

void CurveEditor::SetShape(const effects::EnvelopeShape& shape) {
  model_ = effects::CurveEditModel(shape);
  dragging_ = -1;
  update();
  emit edited();
}

void CurveEditor::SetAxis(Axis axis) {
  axis_ = axis;
  update();
}

void CurveEditor::SetWave(std::vector<std::uint8_t> top, std::vector<std::uint8_t> bottom) {
  top_ = std::move(top);
  bottom_ = std::move(bottom);
  update();
}

QRectF CurveEditor::Plot() const {
  return QRectF(kLeft, kTop, std::max(1.0, width() - kLeft - kRight), std::max(1.0, height() - kTop - kBottom));
}

double CurveEditor::FractionOfX(double x) const {
  if (axis_ == Axis::Share) return x / 255.0;
  return effects::EqPixelOf(x * effects::kEqHzPerStep, 1.0, axis_ == Axis::EqLinear);
}

int CurveEditor::XOfFraction(double f) const {
  f = std::clamp(f, 0.0, 1.0);
  if (axis_ == Axis::Share) return static_cast<int>(std::lround(f * 255));
  const double hz = effects::EqFrequencyAt(f, 1.0, axis_ == Axis::EqLinear);
  return static_cast<int>(std::clamp<long>(std::lround(hz / effects::kEqHzPerStep), 0, 255));
}

QPointF CurveEditor::PixelOf(const effects::EnvelopePoint& p) const {
  const QRectF r = Plot();
  return {r.left() + FractionOfX(p.position) * r.width(), r.bottom() - p.level / 255.0 * r.height()};
}

effects::EnvelopePoint CurveEditor::PointAt(QPointF pixel) const {
  const QRectF r = Plot();
  const int x = XOfFraction((pixel.x() - r.left()) / r.width());
  const long y = std::clamp<long>(std::lround((r.bottom() - pixel.y()) / r.height() * 255), 0, 255);
  return {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)};
}

int CurveEditor::Hit(QPointF pixel) const {
  int best = -1;
  double bestDistance = kReach * kReach;
  const auto& pts = model_.shape();
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const QPointF d = PixelOf(pts[i]) - pixel;
    const double dist = d.x() * d.x() + d.y() * d.y();
    if (dist <= bestDistance) {
      best = static_cast<int>(i);
      bestDistance = dist;
    }
  }
  return best;
}

void CurveEditor::PaintGrid(QPainter& p, const QRectF& r) const {
  p.setPen(kGrid);
  const auto hline = [&](int level, const QString& label) {
    const double y = r.bottom() - level / 255.0 * r.height();
    p.setPen(kGrid);
    p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    p.setPen(kLabel);
    p.drawText(QRectF(0, y - 8, kLeft - 4, 16), Qt::AlignRight | Qt::AlignVCenter, label);
  };
  if (axis_ == Axis::Share) {
    hline(255, "200%");
    hline(128, "100%");
    hline(64, "50%");
    hline(0, "0%");
    return;
  }
  hline(255, "+6 dB");
  hline(128, "0 dB");
  hline(64, "-6 dB");
  hline(32, "-12 dB");
  // The low lines crowd together on the linear axis: a label that would run into the
  // one before it is left out, its line stays.
  double labelsEnd = -1e9;
  for (double hz : {100.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 15000.0, 20000.0}) {
    const double x = r.left() + effects::EqPixelOf(hz, r.width(), axis_ == Axis::EqLinear);
    p.setPen(kGrid);
    p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
    const QString text = hz >= 1000 ? QString::number(hz / 1000) + "k" : QString::number(hz);
    const double half = p.fontMetrics().horizontalAdvance(text) / 2.0 + 2;
    if (x - half < labelsEnd) continue;
    labelsEnd = x + half;
    p.setPen(kLabel);
    p.drawText(QRectF(x - 20, r.bottom() + 2, 40, kBottom - 2), Qt::AlignHCenter | Qt::AlignTop, text);
  }
}

void CurveEditor::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kBackground);
  const QRectF r = Plot();
  if (!top_.empty()) {
    p.setPen(kWaveColour);
    const double mid = r.center().y(), half = r.height() / 2;
    const std::size_t n = std::min(top_.size(), bottom_.size());
    for (int px = 0; px < static_cast<int>(r.width()); ++px) {
      const std::size_t c = std::min(n - 1, static_cast<std::size_t>(px * n / std::max(1.0, r.width())));
      const double x = r.left() + px;
      p.drawLine(QPointF(x, mid - top_[c] / 255.0 * half), QPointF(x, mid + bottom_[c] / 255.0 * half));
    }
  }
  PaintGrid(p, r);
  // Levels are linear in x between points (on the logarithmic axis, a curve); the
  // first level holds before the first point and the last after the last.
  const auto& pts = model_.shape();
  QPainterPath path(QPointF(r.left(), PixelOf(pts.front()).y()));
  path.lineTo(PixelOf(pts.front()));
  const int steps = axis_ == Axis::EqLogarithmic ? 24 : 1;
  for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
    for (int s = 1; s <= steps; ++s) {
      const double t = static_cast<double>(s) / steps;
      const double x = pts[i].position + t * (pts[i + 1].position - pts[i].position);
      const double y = pts[i].level + t * (pts[i + 1].level - pts[i].level);
      path.lineTo(r.left() + FractionOfX(x) * r.width(), r.bottom() - y / 255.0 * r.height());
    }
  }
  path.lineTo(r.right(), PixelOf(pts.back()).y());
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kCurve, 2));
  p.drawPath(path);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const QPointF c = PixelOf(pts[i]);
    p.setPen(Qt::NoPen);
    p.setBrush(static_cast<int>(i) == dragging_ ? kCurve : kPoint);
    p.drawRect(QRectF(c.x() - 4, c.y() - 4, 8, 8));
  }
}

void CurveEditor::mousePressEvent(QMouseEvent* e) {
  const QPointF at = e->position();
  const int hit = Hit(at);
  if (e->button() == Qt::RightButton) {
    if (hit >= 0 && model_.RemovePoint(static_cast<std::size_t>(hit))) {
      update();
      emit edited();
    }
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  if (hit >= 0) {
    dragging_ = hit;
  } else {
    const effects::EnvelopePoint pt = PointAt(at);
    std::size_t index = 0;
    if (!model_.AddPoint(pt.position, pt.level, &index)) return;  // full
    dragging_ = static_cast<int>(index);
  }
  update();
}

void CurveEditor::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_ < 0) return;
  const effects::EnvelopePoint pt = PointAt(e->position());
  model_.MovePoint(static_cast<std::size_t>(dragging_), pt.position, pt.level);
  update();
}

void CurveEditor::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || dragging_ < 0) return;
  dragging_ = -1;
  update();
  emit edited();
}

void CurveEditor::mouseDoubleClickEvent(QMouseEvent* e) {
  const int hit = Hit(e->position());
  if (hit >= 0 && model_.RemovePoint(static_cast<std::size_t>(hit))) {
    dragging_ = -1;
    update();
    emit edited();
  }
}

}  // namespace quillet::ui
