// The table commands of the "Database" menu: pack, zap, rename, delete, and the two copies
// (with records, or the structure only) with every index file recreated beside the copy.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <set>

#include "kx6_DBF.h"
#include "kx6_memo.h"
#include "tv_commandscope.h"

namespace fendral {

namespace {

constexpr int32_t kCountReadAhead = 256 * 1024;

std::string Path8(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The files of `tablePath`'s directory named like the table with one of `suffixes`, in
// any letter case.
QStringList FilesNamedLike(const QString& tablePath, const QStringList& suffixes) {
  const QFileInfo table(tablePath);
  QStringList found;
  const QFileInfoList entries = QDir(table.absolutePath()).entryInfoList(QDir::Files);
  for (const QFileInfo& entry : entries)
    if (entry.completeBaseName().compare(table.completeBaseName(), Qt::CaseInsensitive) == 0 &&
        suffixes.contains(entry.suffix(), Qt::CaseInsensitive))
      found << entry.absoluteFilePath();
  return found;
}

// The records of the table file `path` that carry the delete mark, counted on a reader of
// its own, so the browsed table keeps its place.
int32_t CountDeletedRecords(const QString& path) {
  tolvern::KXO_dBaseDBF table(Path8(path), false, true);
  table.SetReadAhead(kCountReadAhead);
  int32_t deleted = 0;
  const int32_t count = table.RecordCount();
  for (int32_t n = 1; n <= count; ++n) {
    table.GetRecord(n);
    if (table.Eof()) break;
    if (table.IsDeleted()) ++deleted;
  }
  return deleted;
}

// The copy's name for index file `indexPath` of the table `tablePath` copied to
// `copyPath`: in the copy's directory, the table's name replaced by the copy's (a file not
// named after the table gets the copy's name in front), the extension kept.
QString IndexFileForCopy(const QString& indexPath, const QString& tablePath,
                         const QString& copyPath) {
  const QFileInfo index(indexPath);
  const QString tableBase = QFileInfo(tablePath).completeBaseName();
  const QFileInfo copy(copyPath);
  QString base = index.completeBaseName();
  if (base.startsWith(tableBase, Qt::CaseInsensitive))
    base = copy.completeBaseName() + base.mid(tableBase.size());
  else
    base = copy.completeBaseName() + QLatin1Char('_') + base;
  return copy.absolutePath() + QLatin1Char('/') + base + QLatin1Char('.') + index.suffix();
}

bool SameFile(const QString& a, const QString& b) {
  const QString ca = QFileInfo(a).canonicalFilePath();
  return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

}  // namespace

QString TMainWindow::InTableDirectory(const QString& answer) const {
  if (QFileInfo(answer).isAbsolute()) return QDir::cleanPath(answer);
  return QDir::cleanPath(tableDirectory_ + answer);
}

// ---------------------------------------------------------------------------------------
// Delete-table-files procedure

void TMainWindow::DeleteTableFiles(TTolvernDataSet& table) {
  if (!table.Active()) table.Open();
  const QString tablePath = QFileInfo(table.TableFilePath()).absoluteFilePath();
  QStringList files{tablePath};
  if (const int current = table.GetCurrentTagNumber(); current != 0)
    files << table.GetTagFile(current);
  DBFObject* handler = table.Handler();
  if (handler->HasMemo()) {
    QString memoFile;
    try {
      if (tolvern::KXobjMemo* memo = handler->Memo() ? handler->Memo() : handler->OpenMemo())
        memoFile = QFile::decodeName(QByteArray::fromStdString(memo->FileName()));
    } catch (const std::exception&) {
      // A memo file that cannot be opened is found by its name.
    }
    const uint8_t version = handler->Version();
    const bool fox = version == 0xF5 || version == 0x30 || version == 0x31 || version == 0x32;
    files << (memoFile.isEmpty()
                  ? FilesNamedLike(tablePath, {fox ? QStringLiteral("fpt") : QStringLiteral("dbt")})
                  : QStringList{memoFile});
  }
  // Index files named like the table go too: a table created later under this name must
  // not find them and trust them.
  files << FilesNamedLike(tablePath, {QStringLiteral("cdx"), QStringLiteral("mdx"),
                                      QStringLiteral("ndx"), QStringLiteral("ntx")});
  table.DisableControls();
  TAtExit enable([&] { table.EnableControls(); });
  table.SetIndexList(QString(), QString());
  table.Close();
  std::set<QString> done;
  QStringList failed;
  for (const QString& file : files) {
    const QString path = QFileInfo(file).absoluteFilePath();
    if (file.isEmpty() || !done.insert(path).second || !QFileInfo::exists(path)) continue;
    if (!QFile::remove(path)) failed << path;
  }
  if (!failed.isEmpty())
    throw std::runtime_error(
        tr("Cannot delete %1").arg(failed.join(QStringLiteral(", "))).toStdString());
}

// ---------------------------------------------------------------------------------------
// Commands

void TMainWindow::Pack() {
  if (busy_ || !hTable1->Active()) return;
  Run([&] {
    const QString path = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
    const int32_t deleted = CountDeletedRecords(path);
    if (deleted > 0 &&
        !dialogs_->ConfirmDefaultNo(tr("Pack"), tr("Pack removes %n deleted record(s) for good. "
                                                   "Continue?",
                                                   nullptr, deleted)))
      return;
    TCommandScope scope(*this);
    // The pack needs the table to itself; afterwards it is shared again, whatever happened.
    TAtExit reopen([&] {
      if (hTable1->Active()) hTable1->Close();
      hTable1->SetExclusive(false);
      OpenTable(path);
    });
    hTable1->Close();
    hTable1->SetExclusive(true);
    hTable1->Open();
    hTable1->Pack();
    hTable1->Close();
  });
}

void TMainWindow::Zap() {
  if (busy_ || !hTable1->Active()) return;
  const QString path = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
  if (!dialogs_->ConfirmDefaultNo(
          tr("Zap"), tr("Zap removes every record of %1 for good. Continue?").arg(path)))
    return;
  Run([&] {
    TCommandScope scope(*this);
    TAtExit reopen([&] {
      if (hTable1->Active()) {
        hTable1->SetIndexList(QString(), QString());
        hTable1->Close();
      }
      hTable1->SetExclusive(false);
      OpenTable(path);
    });
    hTable1->Close();
    hTable1->SetExclusive(true);
    hTable1->Open();
    hTable1->Zap();
  });
}

void TMainWindow::RenameBase() {
  if (busy_ || !hTable1->Active()) return;
  QString answer;
  if (!dialogs_->InputText(tr("New name Base"), tr("File Name:"), answer)) return;
  answer = answer.trimmed();
  if (answer.isEmpty()) return;
  Run([&] {
    QString target = InTableDirectory(answer);
    if (!QFileInfo(target).fileName().contains(QLatin1Char('.'))) target += QStringLiteral(".dbf");
    const QString path = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
    if (QFileInfo::exists(target) && !SameFile(target, path))
      throw std::runtime_error(tr("File %1 already exists").arg(target).toStdString());
    TCommandScope scope(*this);
    const QStringList indexFiles = hTable1->IndexFiles();
    QString reopen = path;
    TAtExit open([&] { OpenTable(reopen); });
    CloseTable();
    // The index files named like the table are renamed with it.
    hTable1->SetIndexFiles(indexFiles);
    hTable1->RenameTable(target);
    reopen = target;
  });
}

void TMainWindow::DeleteBase() {
  if (busy_ || !hTable1->Active()) return;
  const QString path = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
  if (!dialogs_->ConfirmDefaultNo(
          tr("Delete Base"), tr("Delete %1 with its memo and index files for good?").arg(path)))
    return;
  Run([&] {
    TCommandScope scope(*this);
    const QStringList indexFiles = hTable1->IndexFiles();
    const QString index = hTable1->IndexName();
    CloseTable();
    hTable1->SetIndexFiles(indexFiles);
    hTable1->SetIndexName(index);
    DeleteTableFiles(*hTable1);
  });
}

void TMainWindow::CopyToNewName() {
  if (busy_ || !hTable1->Active()) return;
  Run([&] { CopyTableTo(false); });
}

void TMainWindow::CopyStructureToBase() {
  if (busy_ || !hTable1->Active()) return;
  Run([&] { CopyTableTo(true); });
}

void TMainWindow::CopyTableTo(bool structureOnly) {
  const QString caption = structureOnly ? tr("Copy structure to base") : tr("Copy to new name DBF");
  const QString answer = dialogs_->SaveFile(caption, tableDirectory_, TableFileFilter()).trimmed();
  if (answer.isEmpty()) return;
  QString target = InTableDirectory(answer);
  if (!QFileInfo(target).fileName().contains(QLatin1Char('.'))) target += QStringLiteral(".dbf");
  const QString path = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
  if (SameFile(target, path))
    throw std::runtime_error(tr("A table cannot be copied onto itself").toStdString());
  if (QFileInfo::exists(target) &&
      !dialogs_->ConfirmDefaultNo(caption, tr("File %1 already exists. Replace it?").arg(target)))
    return;
  TCommandScope scope(*this);
  hTable1->CheckBrowseMode();
  if (structureOnly)
    hTable1->CopyStructure(target);
  else
    hTable1->CopyTable(target);
  if (hTable1->GetTagCount() > 0) RecreateIndexes(target);
  browsePage_->ReloadRows();
}

void TMainWindow::RecreateIndexes(const QString& copyPath) {
  const QString tablePath = QFileInfo(hTable1->TableFilePath()).absoluteFilePath();
  std::vector<QString> files;
  for (int n = 1; n <= hTable1->GetTagCount(); ++n)
    files.push_back(IndexFileForCopy(hTable1->GetTagFile(n), tablePath, copyPath));
  // Index files of an earlier table under the copy's name are replaced, not added to.
  for (const QString& file : std::set<QString>(files.begin(), files.end()))
    if (QFileInfo::exists(file) && !QFile::remove(file))
      throw std::runtime_error(tr("Cannot delete %1").arg(file).toStdString());

  hTable2->SetIndexList(QString(), QString());
  if (hTable2->Active()) hTable2->Close();
  const QFileInfo copy(copyPath);
  hTable2->SetTranslateASCII(hTable1->TranslateASCII());
  hTable2->SetDatabaseName(copy.absolutePath());
  hTable2->SetTableName(copy.fileName());
  hTable2->SetIndexFiles({});
  // An index holds every record, those with the delete mark too.
  const bool useDeleted = hTable2->UseDeleted();
  hTable2->SetUseDeleted(true);
  TAtExit close([&] {
    if (hTable2->Active()) {
      hTable2->SetIndexList(QString(), QString());
      hTable2->Close();
    }
    hTable2->SetUseDeleted(useDeleted);
  });
  hTable2->Open();
  for (int n = 1; n <= hTable1->GetTagCount(); ++n)
    hTable2->IndexOn(files[static_cast<size_t>(n - 1)], hTable1->GetTagName(n),
                     hTable1->GetTagAscending(n) ? 0 : 1, !hTable1->GetTagUnique(n),
                     hTable1->GetTagFor(n), hTable1->GetTagKey(n));
}

}  // namespace fendral
