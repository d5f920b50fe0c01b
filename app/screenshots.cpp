// fendral-screenshots TABLE OUTDIR: opens TABLE in the main window (offscreen works) and
// writes PNG pictures of what the window shows: the browse page in natural order, in the
// first index order (its column title red), with the filter panel open and a filter built
// by a title click switched on, the structure page with the table open (its first index
// file chosen, the tag editor showing its first tag), and the structure page while a new
// table is being defined ("New DBF" in a scratch directory), and a copy of the table opened
// past a damaged index (its production CDX cut short, or else a garbage NTX named like it)
// with the message the window shows over it. Exit code 0 when every picture was written.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

#include "Unit1.h"

namespace {

bool Save(fendral::TMainWindow& window, const QString& file) {
  QApplication::processEvents();
  const bool ok = window.grab().save(file);
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write",
               file.toLocal8Bit().constData());
  return ok;
}

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

  const QString outDir = QString::fromLocal8Bit(argv[2]);
  QDir().mkpath(outDir);
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
  bool ok = Save(window, outDir + QStringLiteral("/browse-natural.png"));

  fendral::TBrowsePage* page = window.BrowsePage();
  if (page->tagSelector->count() > 1) {
    page->tagSelector->setCurrentIndex(1);
    page->ChooseTag(1);
    ok = Save(window, outDir + QStringLiteral("/browse-ordered.png")) && ok;
    page->tagSelector->setCurrentIndex(0);
    page->ChooseTag(0);
  }

  // The filter panel with a term a title click wrote (the third record's value of the
  // second column), switched on.
  page->filterPanelBox->setChecked(true);
  if (window.Table1().FieldCount() > 1 && window.Table1().RecordCount() >= 3) {
    window.Table1().SetRecNo(3);
    page->AddFilterTerm(window.Table1().Field(2)->FieldName());
    page->filterOnBox->click();
  }
  ok = Save(window, outDir + QStringLiteral("/browse-filter.png")) && ok;
  if (page->filterOnBox->isChecked()) page->filterOnBox->click();
  page->filterPanelBox->setChecked(false);

  window.Pages()->setCurrentWidget(window.StructurePage());
  fendral::TStructurePage* structure = window.StructurePage();
  if (structure->indexFileList->count() > 0) {
    QListWidgetItem* file = structure->indexFileList->item(0);
    structure->indexFileList->setCurrentItem(file);
    emit structure->indexFileList->itemClicked(file);
    if (structure->tagList->count() > 0) {
      QListWidgetItem* tag = structure->tagList->item(0);
      structure->tagList->setCurrentItem(tag);  // the tag editor follows the list
    }
  }
  ok = Save(window, outDir + QStringLiteral("/structure.png")) && ok;

  // A new table with three fields being defined.
  QTemporaryDir scratch;
  dialogs.files.push_back(scratch.filePath(QStringLiteral("newtable.dbf")));
  window.NewDbf();
  fendral::TMemTable& fields = window.StructureTable();
  const char* const rows[][4] = {
      {"NAME", "C", "30", "0"}, {"PRICE", "N", "12", "2"}, {"NOTES", "M", "10", "0"}};
  bool first = true;
  for (const auto& row : rows) {
    if (!first) fields.Append();
    first = false;
    fields.FieldByName(QStringLiteral("Name"))->SetAsString(QLatin1String(row[0]));
    fields.FieldByName(QStringLiteral("DBF Type"))->SetAsString(QLatin1String(row[1]));
    fields.FieldByName(QStringLiteral("Len"))->SetAsString(QLatin1String(row[2]));
    fields.FieldByName(QStringLiteral("Dec"))->SetAsString(QLatin1String(row[3]));
    fields.Post();
  }
  ok = Save(window, outDir + QStringLiteral("/structure-new.png")) && ok;

  // The table opened past a damaged index: the records, the marked file, the message.
  QTemporaryDir damagedDir;
  dialogs.messages.clear();
  window.Pages()->setCurrentWidget(window.BrowsePage());
  window.Start({DamagedCopy(QString::fromLocal8Bit(argv[1]), damagedDir.path())});
  // The tag selector shows the damaged file's entry.
  const int last = page->tagSelector->count() - 1;
  if (last > 0) page->tagSelector->setCurrentIndex(last);
  ok = SaveWithMessage(window, dialogs.messages.value(0),
                       outDir + QStringLiteral("/browse-damaged-index.png")) &&
       window.Table1().Active() && ok;
  return ok ? 0 : 1;
}
