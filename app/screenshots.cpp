// fendral-screenshots [--locale NAME] TABLE OUTDIR: opens TABLE in the main window (offscreen
// works) and writes PNG pictures of what the window shows (see tv_screenshots.h), then a copy of
// the table opened past a damaged index (its production CDX cut short, or else a garbage NTX named
// like it) with the message the window shows over it, and the list of findings "Check table"
// gives on that copy with its header's record count also made too small (findings.png). Exit
// code 0 when every picture was written.
// With --locale (for example "ru" or "de_DE") the window shows that locale's translation; without
// it the pictures are in English, whatever the machine's locale.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

#include "tv_screenshots.h"
#include "tv_translations.h"

namespace {

// Copies the files named like `table` into `dir` and damages an index of the copy: the
// production CDX loses its last page, or a garbage NTX named like the table is written.
// Answers the copy's path.
QString DamagedCopy(const QString& table, const QString& dir) {
  const QFileInfo info(table);
  const QDir from = info.absoluteDir();
  QString cdx;
  for (const QFileInfo& file : from.entryInfoList(QDir::Files)) {
    if (file.completeBaseName().compare(info.completeBaseName(), Qt::CaseInsensitive) != 0)
      continue;
    QFile::copy(file.absoluteFilePath(), dir + QLatin1Char('/') + file.fileName());
    if (file.suffix().compare(QLatin1String("cdx"), Qt::CaseInsensitive) == 0)
      cdx = dir + QLatin1Char('/') + file.fileName();
  }
  if (!cdx.isEmpty() && QFileInfo(cdx).size() > 1024) {
    QFile(cdx).resize(QFileInfo(cdx).size() - 512);
  } else {
    QFile ntx(dir + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".ntx"));
    if (ntx.open(QIODevice::WriteOnly)) ntx.write(QByteArray(3000, '\xa5'));
  }
  return dir + QLatin1Char('/') + info.fileName();
}

// The window with the last message it gave drawn over it, as the user meets it.
bool SaveWithMessage(fendral::TMainWindow& window, const QString& message, const QString& file) {
  QApplication::processEvents();
  QPixmap picture = window.grab();
  if (!message.isEmpty()) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Fendral"), message, QMessageBox::Ok);
    box.show();  // laid out as it is shown
    QApplication::processEvents();
    const QPixmap shown = box.grab();
    box.hide();
    QPainter painter(&picture);
    painter.drawPixmap((picture.width() - shown.width()) / 2,
                       (picture.height() - shown.height()) / 2, shown);
  }
  const bool ok = picture.save(file);
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write",
               file.toLocal8Bit().constData());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QStringList args = QApplication::arguments().mid(1);
  QString localeName;
  if (args.size() >= 2 && args[0] == QLatin1String("--locale")) {
    localeName = args[1];
    args = args.mid(2);
  }
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: fendral-screenshots [--locale NAME] TABLE OUTDIR\n");
    return 64;
  }
  if (!localeName.isEmpty()) {
    const QLocale locale(localeName);
    QLocale::setDefault(locale);
    if (!fendral::InstallTranslations(locale) && locale.language() != QLocale::English) {
      std::fprintf(stderr, "no translation for %s\n", localeName.toLocal8Bit().constData());
      return 1;
    }
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
  window.Start({args[0]});
  if (!window.Table1().Active()) {
    std::fprintf(stderr, "cannot open %s: %s\n", args[0].toLocal8Bit().constData(),
                 dialogs.messages.join(QLatin1Char(' ')).toLocal8Bit().constData());
    return 1;
  }
  const QString outDir = args[1];
  bool ok = fendral::WriteScreenshots(window, dialogs, outDir);

  // The table opened past a damaged index: the records, the marked file, the message.
  QTemporaryDir damagedDir;
  dialogs.messages.clear();
  window.Pages()->setCurrentWidget(window.BrowsePage());
  window.Start({DamagedCopy(args[0], damagedDir.path())});
  // The tag selector shows the damaged file's entry.
  if (auto* tags = window.BrowsePage()->findChild<QComboBox*>(QStringLiteral("TagSelector"))) {
    const int last = tags->count() - 1;
    if (last > 0) tags->setCurrentIndex(last);
  }
  ok = SaveWithMessage(window, dialogs.messages.value(0),
                       outDir + QStringLiteral("/browse-damaged-index.png")) &&
       window.Table1().Active() && ok;

  // The same copy with a header that counts two records fewer than the file holds, checked.
  const QString damaged = window.Table1().TableFilePath();
  window.CloseDbf();
  QFile header(damaged);
  if (header.open(QIODevice::ReadWrite) && header.seek(4)) {
    QByteArray count = header.read(4);
    const quint32 records = static_cast<quint8>(count[0]) | static_cast<quint8>(count[1]) << 8 |
                            static_cast<quint8>(count[2]) << 16 |
                            static_cast<quint32>(static_cast<quint8>(count[3])) << 24;
    const quint32 fewer = records > 2 ? records - 2 : 0;
    for (int i = 0; i < 4; ++i) count[i] = static_cast<char>(fewer >> (8 * i));
    header.seek(4);
    header.write(count);
    header.close();
  }
  window.Start({damaged});
  ok = fendral::SaveFindings(window, outDir + QStringLiteral("/findings.png")) && ok;
  return ok ? 0 : 1;
}
