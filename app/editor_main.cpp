#include <QApplication>

#include "ui/main_frame.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Orvanta");
  QApplication::setApplicationName("Quillet");
  quillet::ui::MainFrame frame;
  frame.show();
  return QApplication::exec();
}
