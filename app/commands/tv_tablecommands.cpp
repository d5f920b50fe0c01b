#include "tv_tablecommands.h"

#include <QFile>
#include <QFileInfo>
#include <set>

#include "kx6_DBF.h"
#include "kx6_memo.h"
#include "tv_appdialogs.h"
#include "tv_apperror.h"
#include "tv_commandtext.h"
#include "tv_resolve.h"
#include "tv_scopeexit.h"
#include "tv_tableaccess.h"

namespace fendral {

namespace {

constexpr int32_t kCountReadAhead = 256 * 1024;

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

QString TablePath(const TTolvernDataSet& table) {
  return QFileInfo(table.TableFilePath()).absoluteFilePath();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Delete-table-files procedure

void DeleteTableFiles(TTolvernDataSet& table) {
  if (!table.Active()) table.Open();
  const QString tablePath = TablePath(table);
  QStringList files{tablePath};
  if (const int current = table.GetCurrentTagNumber(); current != 0)
    files << table.GetTagFile(current);
  DBFObject* handler = table.Handler();
  if (handler->HasMemo()) {
    QString memoFile;
    try {
      if (tolvern::KXobjMemo* memo = handler->Memo() ? handler->Memo() : handler->OpenMemo())
        memoFile = FromPath8(memo->FileName());
    } catch (const std::exception&) {
      // A memo file that cannot be opened is found by its name.
      LogSwallowed("opening the memo file of a table being deleted");
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
    throw EAppError(TWindowText::tr("Cannot delete %1").arg(failed.join(QStringLiteral(", "))));
}

// ---------------------------------------------------------------------------------------
// Reindex

QString TReindexCommand::Title() const { return TWindowText::tr("Reindex"); }

bool TReindexCommand::Prepare(TAppDialogs&) { return table_.Active(); }

void TReindexCommand::Execute(tolvern::TkxProgress& progress) {
  TTableProgress use(table_, progress);
  table_.Reindex();
}

TCommandOutcome TReindexCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.tagsChanged = true;
  outcome.refresh = true;
  if (!table_.Active()) return outcome;
  // Damaged files that were rebuilt are open again; the others are named.
  const std::vector<TTVDamagedIndex> left = table_.DamagedIndexes();
  if (!error && !left.empty()) {
    QStringList lines{TWindowText::tr("These index files could not be rebuilt:")};
    for (const TTVDamagedIndex& damaged : left) {
      lines << TWindowText::tr("%1: %2").arg(damaged.path, damaged.reason);
      outcome.skipped << damaged.path;
    }
    outcome.message = lines.join(QLatin1Char('\n'));
  }
  return outcome;
}

// ---------------------------------------------------------------------------------------
// Pack and zap

QString TPackCommand::Title() const { return TWindowText::tr("Pack"); }

bool TPackCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  path_ = TablePath(table_);
  const int32_t deleted = CountDeletedRecords(path_);
  return deleted == 0 ||
         dialogs.ConfirmDefaultNo(
             TWindowText::tr("Pack"),
             TWindowText::tr("Pack removes %n deleted record(s) for good. Continue?", nullptr,
                             deleted));
}

void TPackCommand::Execute(tolvern::TkxProgress& progress) {
  // The pack needs the table to itself; afterwards the window opens it shared again.
  TExclusiveTable unshared(table_);
  TTableProgress use(table_, progress);
  table_.Pack();
  kept_ = table_.Handler()->RecordCount();
}

TCommandOutcome TPackCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.records = kept_;
  outcome.reopen = path_;
  return outcome;
}

QString TZapCommand::Title() const { return TWindowText::tr("Zap"); }

bool TZapCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  path_ = TablePath(table_);
  return dialogs.ConfirmDefaultNo(
      TWindowText::tr("Zap"),
      TWindowText::tr("Zap removes every record of %1 for good. Continue?").arg(path_));
}

void TZapCommand::Execute(tolvern::TkxProgress& progress) {
  TExclusiveTable unshared(table_);
  TTableProgress use(table_, progress);
  table_.Zap();
}

TCommandOutcome TZapCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.reopen = path_;
  return outcome;
}

// ---------------------------------------------------------------------------------------
// Rename and delete

QString TRenameCommand::Title() const { return TWindowText::tr("Rename"); }

bool TRenameCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  QString answer;
  if (!dialogs.InputText(TWindowText::tr("New name Base"), TWindowText::tr("File Name:"), answer))
    return false;
  answer = answer.trimmed();
  if (answer.isEmpty()) return false;
  target_ = WithDefaultExtension(InTableDirectory(directory_, answer), QStringLiteral("dbf"));
  path_ = TablePath(table_);
  if (QFileInfo::exists(target_) && !SameFile(target_, path_))
    throw EAppError(TWindowText::tr("File %1 already exists").arg(target_));
  return true;
}

void TRenameCommand::Execute(tolvern::TkxProgress&) {
  // The index files named like the table are renamed with it.
  const QStringList indexFiles = table_.IndexFiles();
  table_.SetIndexList(QString(), QString());
  table_.Close();
  table_.SetIndexFiles(indexFiles);
  table_.RenameTable(target_);
  renamed_ = true;
}

TCommandOutcome TRenameCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.reopen = renamed_ ? target_ : path_;
  if (renamed_) outcome.filesMade << target_;
  return outcome;
}

QString TDeleteBaseCommand::Title() const { return TWindowText::tr("Delete Base"); }

bool TDeleteBaseCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  path_ = TablePath(table_);
  return dialogs.ConfirmDefaultNo(
      TWindowText::tr("Delete Base"),
      TWindowText::tr("Delete %1 with its memo and index files for good?").arg(path_));
}

void TDeleteBaseCommand::Execute(tolvern::TkxProgress&) { DeleteTableFiles(table_); }

TCommandOutcome TDeleteBaseCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.closed = !table_.Active();
  return outcome;
}

// ---------------------------------------------------------------------------------------
// Copies

QString TCopyTableCommand::Title() const {
  return structureOnly_ ? TWindowText::tr("Copy structure to base")
                        : TWindowText::tr("Copy to new name DBF");
}

bool TCopyTableCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  const QString caption = Title();
  const QString answer = dialogs.SaveFile(caption, directory_, TableFileFilter()).trimmed();
  if (answer.isEmpty()) return false;
  const QString target =
      WithDefaultExtension(InTableDirectory(directory_, answer), QStringLiteral("dbf"));
  if (SameFile(target, TablePath(table_)))
    throw EAppError(TWindowText::tr("A table cannot be copied onto itself"));
  if (QFileInfo::exists(target) &&
      !dialogs.ConfirmDefaultNo(caption,
                                TWindowText::tr("File %1 already exists. Replace it?").arg(target)))
    return false;
  table_.CheckBrowseMode();
  copyPath_ = target;
  return true;
}

void TCopyTableCommand::Execute(tolvern::TkxProgress& progress) {
  TTableProgress use(table_, progress);
  try {
    if (structureOnly_)
      table_.CopyStructure(copyPath_);
    else
      table_.CopyTable(copyPath_);
    made_ << copyPath_ << FilesNamedLike(copyPath_, {QStringLiteral("fpt"), QStringLiteral("dbt")});
    records_ = tolvern::KXO_dBaseDBF(Path8(copyPath_), false, true).RecordCount();
    if (table_.GetTagCount() > 0) RecreateIndexes(progress);
  } catch (const tolvern::ETolvernCancelled&) {
    // A cancelled copy leaves nothing of itself behind.
    for (const QString& file : made_)
      if (QFileInfo::exists(file) && !QFile::remove(file))
        qCWarning(lcFendral, "cannot remove %s after a cancel", qUtf8Printable(file));
    made_.clear();
    throw;
  }
}

void TCopyTableCommand::RecreateIndexes(tolvern::TkxProgress& progress) {
  const QString tablePath = TablePath(table_);
  std::vector<QString> files;
  for (int n = 1; n <= table_.GetTagCount(); ++n)
    files.push_back(IndexFileForCopy(table_.GetTagFile(n), tablePath, copyPath_));
  // Index files of an earlier table under the copy's name are replaced, not added to.
  for (const QString& file : std::set<QString>(files.begin(), files.end())) {
    if (QFileInfo::exists(file) && !QFile::remove(file))
      throw EAppError(TWindowText::tr("Cannot delete %1").arg(file));
    made_ << file;
  }

  target_.SetIndexList(QString(), QString());
  if (target_.Active()) target_.Close();
  const QFileInfo copy(copyPath_);
  target_.SetTranslateASCII(table_.TranslateASCII());
  target_.SetDatabaseName(copy.absolutePath());
  target_.SetTableName(copy.fileName());
  target_.SetIndexFiles({});
  // An index holds every record, those with the delete mark too.
  const bool useDeleted = target_.UseDeleted();
  target_.SetUseDeleted(true);
  TTableProgress use(target_, progress);
  ScopeExit close([&] {
    if (target_.Active()) {
      target_.SetIndexList(QString(), QString());
      target_.Close();
    }
    target_.SetUseDeleted(useDeleted);
  });
  target_.Open();
  for (int n = 1; n <= table_.GetTagCount(); ++n)
    target_.IndexOn(files[static_cast<size_t>(n - 1)], table_.GetTagName(n),
                    table_.GetTagAscending(n) ? 0 : 1, !table_.GetTagUnique(n), table_.GetTagFor(n),
                    table_.GetTagKey(n));
}

TCommandOutcome TCopyTableCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  outcome.records = records_;
  outcome.filesMade = made_;
  outcome.refresh = true;
  return outcome;
}

}  // namespace fendral
