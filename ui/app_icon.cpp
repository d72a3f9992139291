#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <iterator>

namespace quillet::ui {
namespace {

// The shapes of app/quillet.svg on its 64-unit grid: Qt reads SVG only through a
// module we do not depend on, so the icon is drawn the same way here.
QPixmap Draw(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
  static constexpr QPointF kWave[] = {{6, 32},  {12, 20}, {16, 42}, {22, 12}, {28, 50},
                                      {34, 18}, {40, 44}, {46, 24}, {52, 38}, {58, 32}};
  QPen wave(QColor("#66ff66"), 3);
  wave.setJoinStyle(Qt::RoundJoin);
  p.setPen(wave);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(kWave, int(std::size(kWave)));
  QColor band("#055ea7");
  band.setAlphaF(0.45f);
  p.setPen(Qt::NoPen);
  p.setBrush(band);
  p.drawRect(QRectF(24, 6, 14, 52));
  p.setPen(QPen(QColor("#ffff11"), 2));
  p.drawLine(QPointF(31, 6), QPointF(31, 58));
  return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon = QIcon::fromTheme("quillet");
  if (!icon.isNull()) return icon;
  for (const int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(Draw(size));
  return icon;
}

}  // namespace quillet::ui
