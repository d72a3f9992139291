#include "ui/splash.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QTimer>

#include "ui/app_icon.h"

namespace quillet::ui {

QSplashScreen* ShowSplash() {
  const qreal scale = qApp->devicePixelRatio();
  QPixmap picture(QSize(460, 260) * scale);
  picture.setDevicePixelRatio(scale);
  QPainter p(&picture);
  QLinearGradient sky(0, 0, 0, 260);
  sky.setColorAt(0, QColor(24, 48, 88));
  sky.setColorAt(1, QColor(10, 18, 36));
  p.fillRect(QRect(0, 0, 460, 260), sky);
  ProgramIcon().paint(&p, QRect(30, 70, 120, 120));
  p.setPen(Qt::white);
  QFont title = p.font();
  title.setPointSize(30);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(170, 70, 270, 60), Qt::AlignLeft | Qt::AlignVCenter, "Quillet");
  QFont line = p.font();
  line.setPointSize(11);
  line.setBold(false);
  p.setFont(line);
  p.drawText(QRect(172, 130, 270, 24), Qt::AlignLeft | Qt::AlignVCenter, "Sound Editor");
  p.drawText(QRect(172, 154, 270, 24), Qt::AlignLeft | Qt::AlignVCenter,
             "Version " QT_STRINGIFY(0.1));
  p.end();

  auto* splash = new QSplashScreen(picture);
  splash->setObjectName("splash");
  splash->setAttribute(Qt::WA_DeleteOnClose);
  if (QScreen* s = QGuiApplication::primaryScreen())
    splash->move(s->availableGeometry().center() - splash->rect().center());
  splash->show();
  QTimer::singleShot(kSplashMs, splash, &QWidget::close);
  return splash;
}

}  // namespace quillet::ui
