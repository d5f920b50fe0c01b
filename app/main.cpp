#include <QApplication>
#include <QLocale>

#include "Unit1.h"
#include "platform/pf_misc.h"
#include "tv_apptext.h"
#include "tv_translations.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Fendral"));
  QApplication::setOrganizationName(QStringLiteral("Fendral"));
  // Menus, messages and Qt's own buttons in the user's language (LANGUAGE, LC_ALL, LANG).
  fendral::InstallTranslations(QLocale());
  // Dates typed and shown by the engine (filters, keys) follow the user's locale.
  tolvern::platform::SetShortDateFormat(
      fendral::EngineDateFormat(QLocale().dateFormat(QLocale::ShortFormat)));
  fendral::TMainWindow window;
  window.show();
  window.Start(QApplication::arguments().mid(1));
  return QApplication::exec();
}
