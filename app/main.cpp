#include <QApplication>
#include <QLocale>

#include "Unit1.h"
#include "platform/pf_misc.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Fendral"));
  QApplication::setOrganizationName(QStringLiteral("Fendral"));
  fendral::TMainWindow window;
  window.show();
  window.Start(QApplication::arguments().mid(1));
  return QApplication::exec();
}
