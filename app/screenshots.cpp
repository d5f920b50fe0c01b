// fendral-screenshots TABLE OUTDIR: opens TABLE in the main window (offscreen works) and
// writes PNG pictures of what the window shows (see tv_screenshots.h). Exit code 0 when
// every picture was written.
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

#include "tv_screenshots.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: fendral-screenshots TABLE OUTDIR\n");
    return 64;
  }
  // Pictures never depend on (or change) the user's remembered settings.
  QTemporaryDir settingsDir;
  QSettings::setDefaultFormat(QSettings::IniFormat);
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
  QApplication::setOrganizationName(QStringLiteral("Fendral"));
  QApplication::setApplicationName(QStringLiteral("Fendral"));

  fendral::TScriptedDialogs dialogs;
  fendral::TMainWindow window(&dialogs);
  window.resize(1100, 560);
  window.show();
  window.Start({QString::fromLocal8Bit(argv[1])});
  if (!window.Table1().Active()) {
    std::fprintf(stderr, "cannot open %s: %s\n", argv[1],
                 dialogs.messages.join(QLatin1Char(' ')).toLocal8Bit().constData());
    return 1;
  }
  return fendral::WriteScreenshots(window, dialogs, QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
