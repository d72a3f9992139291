#include "ui/main_frame.h"

#include <QMdiArea>

namespace quillet::ui {

MainFrame::MainFrame(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Quillet");
  mdi_ = new QMdiArea(this);
  setCentralWidget(mdi_);
  resize(1000, 700);
}

}  // namespace quillet::ui
