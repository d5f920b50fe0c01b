#include "tv_translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace fendral {

QStringList TranslationDirs() {
  QStringList dirs;
  dirs << QDir::cleanPath(QCoreApplication::applicationDirPath() +
                          QStringLiteral("/../share/fendral/translations"));
#ifdef FENDRAL_INSTALLED_TRANSLATIONS
  dirs << QStringLiteral(FENDRAL_INSTALLED_TRANSLATIONS);
#endif
#ifdef FENDRAL_BUILD_TRANSLATIONS
  dirs << QStringLiteral(FENDRAL_BUILD_TRANSLATIONS);
#endif
  dirs.removeDuplicates();
  return dirs;
}

bool InstallTranslations(const QLocale& locale) {
  auto* app = QCoreApplication::instance();
  if (!app) return false;
  // Qt's own texts first, so that the program's translation (installed later) wins.
  auto* qt = new QTranslator(app);
  if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qt);
  else
    delete qt;
  for (const QString& dir : TranslationDirs()) {
    auto* own = new QTranslator(app);
    if (own->load(locale, QStringLiteral("fendral"), QStringLiteral("_"), dir)) {
      QCoreApplication::installTranslator(own);
      return true;
    }
    delete own;
  }
  return false;
}

}  // namespace fendral
