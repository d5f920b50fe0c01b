#include <QApplication>

#include "Unit1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Fendral"));
  fendral::TMainWindow window;
  window.show();
  return QApplication::exec();
}
