#pragma once
// The main frame: one window holding every document window.

#include <QMainWindow>

class QMdiArea;

namespace quillet::ui {

class MainFrame : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainFrame(QWidget* parent = nullptr);

 private:
  QMdiArea* mdi_ = nullptr;
};

}  // namespace quillet::ui
