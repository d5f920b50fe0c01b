#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <cstring>

#include "Unit1.h"
#include "fendral_version.h"
#include "platform/pf_misc.h"
#include "tv_apptext.h"
#include "tv_translations.h"

namespace {

// --help and --version are answered before Qt starts, so that they need no display.
// Answers the exit status, or -1 to go on.
int EarlyOptions(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "usage: fendral [OPTIONS] [--] [TABLE]\n\n"
          "Browse, edit and maintain the xBase table TABLE (a DBF file with its memo and\n"
          "index files); without TABLE, ask for one.\n\n"
          "Options:\n"
          "  -h, --help     print this help and exit\n"
          "  --version      print the version and exit\n"
          "Qt's own options (-platform, -style, ...) are understood too. See fendral(1).\n");
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("fendral %s\n", FENDRAL_VERSION);
      return 0;
    }
  }
  return -1;
}

// The tables named on the command line once Qt took its own options; an option Qt did
// not know ends the program with a usage error naming it.
bool TableArguments(const QStringList& arguments, QStringList& tables) {
  bool optionsEnd = false;
  for (const QString& arg : arguments.mid(1)) {
    if (!optionsEnd && arg == QStringLiteral("--")) {
      optionsEnd = true;
    } else if (!optionsEnd && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) {
      std::fprintf(stderr, "fendral: unknown option %s\n", arg.toLocal8Bit().constData());
      return false;
    } else {
      tables.append(arg);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = EarlyOptions(argc, argv); status >= 0) return status;
  QApplication app(argc, argv);
  QStringList tables;
  if (!TableArguments(QApplication::arguments(), tables)) return 64;
  QApplication::setApplicationName(QStringLiteral("Fendral"));
  QApplication::setOrganizationName(QStringLiteral("Fendral"));
  QApplication::setApplicationVersion(QStringLiteral(FENDRAL_VERSION));
  // Menus, messages and Qt's own buttons in the user's language (LANGUAGE, LC_ALL, LANG).
  fendral::InstallTranslations(QLocale());
  // Dates typed and shown by the engine (filters, keys) follow the user's locale.
  tolvern::platform::SetShortDateFormat(
      fendral::EngineDateFormat(QLocale().dateFormat(QLocale::ShortFormat)));
  fendral::TMainWindow window;
  window.show();
  window.Start(tables);
  return QApplication::exec();
}
