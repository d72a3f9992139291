#include "ui/level_meter.h"

#include <QPainter>

#include <algorithm>

namespace quillet::ui {
namespace {

constexpr int kFloorDb = -60;
constexpr int kTopDb = 15;
constexpr int kLabelColumn = 10;  // "L" / "R"
constexpr int kScaleHeight = 11;
constexpr int kScaleSteps[] = {-60, -50, -40, -30, -20, -10, 0, 10};

}  // namespace

LevelMeterWidget::LevelMeterWidget(QWidget* parent) : QWidget(parent) {
  setObjectName("levelMeter");
  setMinimumWidth(120);
  setMinimumHeight(sizeHint().height());
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

QRect LevelMeterWidget::BarArea() const {
  return QRect(kLabelColumn + 1, 1, std::max(width() - kLabelColumn - 4, 1), std::max(height() - kScaleHeight - 2, 1));
}

int LevelMeterWidget::XOfDb(int db) const {
  const QRect r = BarArea();
  return r.left() + (std::clamp(db, kFloorDb, kTopDb) - kFloorDb) * (r.width() - 1) / (kTopDb - kFloorDb);
}

QFont LevelMeterWidget::ScaleFont() const {
  QFont f = font();
  f.setPixelSize(kScaleHeight - 2);
  return f;
}

std::vector<LevelMeterWidget::ScaleLabel> LevelMeterWidget::ScaleLabels() const {
  const QFontMetrics fm(ScaleFont());
  std::vector<ScaleLabel> out;
  int freeFrom = 0;
  // 0 dB matters most: it claims its room first, the others fill in around it.
  const QString zero = "0";
  const int zeroLeft = XOfDb(0) - fm.horizontalAdvance(zero) / 2;
  for (int db : kScaleSteps) {
    const QString text = db > 0 ? QString("+%1").arg(db) : QString::number(db);
    const int w = fm.horizontalAdvance(text);
    const int left = std::clamp(XOfDb(db) - w / 2, 0, std::max(width() - w, 0));
    const bool touchesZero = db != 0 && left < zeroLeft + fm.horizontalAdvance(zero) + 3 && left + w + 3 > zeroLeft;
    if (left < freeFrom || touchesZero) continue;
    out.push_back({db, left, text});
    freeFrom = left + w + 3;
  }
  return out;
}

QString LevelMeterWidget::LaneLabel(int channel, int channels) {
  if (channels != 2) return {};
  return channel == 0 ? "L" : "R";
}

void LevelMeterWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  const QRect area = BarArea();
  const int channels = std::max(meter_.channels(), 1);
  const int laneHeight = std::max(area.height() / channels, 1);
  const int zero = XOfDb(0);
  QFont small = ScaleFont();
  p.setFont(small);
  for (int c = 0; c < meter_.channels(); ++c) {
    const int y = area.top() + c * laneHeight;
    const int bar = XOfDb(meter_.bar(c)) - area.left();
    // Green up to full scale, red above it (the limiter is working).
    p.fillRect(area.left(), y, std::min(bar, zero - area.left()), laneHeight - 1, QColor(102, 255, 102));
    if (bar > zero - area.left()) p.fillRect(zero, y, bar - (zero - area.left()), laneHeight - 1, QColor(255, 64, 64));
    if (meter_.peak(c) > kFloorDb) p.fillRect(XOfDb(meter_.peak(c)), y, 2, laneHeight - 1, QColor(255, 255, 17));
    p.setPen(QColor(200, 200, 200));
    p.drawText(QRect(0, y, kLabelColumn, laneHeight), Qt::AlignCenter, LaneLabel(c, meter_.channels()));
  }
  p.setPen(QColor(128, 128, 128));
  p.drawLine(zero, area.top(), zero, area.bottom());
  // The scale: a tick every 10 dB, and the labels that fit.
  const int scaleTop = area.bottom() + 1;
  for (int db : kScaleSteps) p.drawLine(XOfDb(db), scaleTop, XOfDb(db), scaleTop + 2);
  p.setPen(QColor(200, 200, 200));
  for (const ScaleLabel& l : ScaleLabels())
    p.drawText(QRect(l.left, scaleTop + 2, width() - l.left, height() - scaleTop - 2), Qt::AlignLeft | Qt::AlignVCenter,
               l.text);
}

}  // namespace quillet::ui
