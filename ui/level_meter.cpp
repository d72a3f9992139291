#include "ui/level_meter.h"

#include <QPainter>

#include <algorithm>

namespace quillet::ui {
namespace {

constexpr int kFloorDb = -60;
constexpr int kTopDb = 15;

int PixelOf(int db, int width) {
  return (std::clamp(db, kFloorDb, kTopDb) - kFloorDb) * width / (kTopDb - kFloorDb);
}

}  // namespace

LevelMeterWidget::LevelMeterWidget(QWidget* parent) : QWidget(parent) {
  setObjectName("levelMeter");
  setMinimumWidth(100);
  clock_.start();
  fall_.setInterval(50);
  connect(&fall_, &QTimer::timeout, this, [this] {
    meter_.Tick(clock_.elapsed());
    update();
    bool any = false;
    for (int c = 0; c < meter_.channels(); ++c)
      any = any || meter_.bar(c) > devices::kSilentLevel || meter_.peak(c) > devices::kSilentLevel;
    if (!any) fall_.stop();
  });
}

void LevelMeterWidget::Update(const devices::LLevelRecord& levels) {
  meter_.Update(levels, clock_.elapsed());
  if (!fall_.isActive()) fall_.start();
  update();
}

void LevelMeterWidget::Idle() {
  if (!fall_.isActive()) fall_.start();
}

void LevelMeterWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const int channels = std::max(meter_.channels(), 1);
  const int w = width() - 2;
  const int laneHeight = std::max((height() - 2) / channels, 1);
  const int zero = 1 + PixelOf(0, w);
  for (int c = 0; c < meter_.channels(); ++c) {
    const int y = 1 + c * laneHeight;
    const int bar = PixelOf(meter_.bar(c), w);
    // Green up to full scale, red above it (the limiter is working).
    p.fillRect(1, y, std::min(bar, zero - 1), laneHeight - 1, QColor(102, 255, 102));
    if (bar > zero - 1) p.fillRect(zero, y, bar - zero + 1, laneHeight - 1, QColor(255, 64, 64));
    const int peak = PixelOf(meter_.peak(c), w);
    if (meter_.peak(c) > kFloorDb) p.fillRect(peak, y, 2, laneHeight - 1, QColor(255, 255, 17));
  }
  p.setPen(QColor(128, 128, 128));
  p.drawLine(zero, 0, zero, height());
}

}  // namespace quillet::ui
