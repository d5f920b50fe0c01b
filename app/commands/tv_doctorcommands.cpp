#include "tv_doctorcommands.h"

#include <QFileInfo>

#include "tv_appdialogs.h"
#include "tv_commandtext.h"
#include "tv_resolve.h"

namespace fendral {

namespace {

QString TablePathOf(const TTolvernDataSet& table) {
  return QFileInfo(table.TableFilePath()).absoluteFilePath();
}

// The index files the table works with, and those it had to put aside as damaged: the
// doctor looks at both (the production and same-named files it finds by itself).
QStringList IndexFilesOf(TTolvernDataSet& table) {
  QStringList files;
  for (const QString& file : table.IndexFiles()) files << QFileInfo(file).absoluteFilePath();
  for (const TTVDamagedIndex& damaged : table.DamagedIndexes())
    files << QFileInfo(damaged.path).absoluteFilePath();
  files.removeDuplicates();
  return files;
}

std::vector<std::string> Paths8(const QStringList& files) {
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(Path8(file));
  return paths;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Check table

QString TCheckTableCommand::Title() const { return TWindowText::tr("Check table"); }

bool TCheckTableCommand::Prepare(TAppDialogs&) {
  if (!table_.Active()) return false;
  path_ = TablePathOf(table_);
  options_ = {};
  options_.indexFiles = Paths8(IndexFilesOf(table_));
  // Keys are compared as the window builds them: in the code page and with the locks in use.
  options_.codePage = table_.CodePageInUse();
  options_.lockProtocol = static_cast<int>(table_.LockProtocol());
  findings_.clear();
  summary_ = {};
  return true;
}

void TCheckTableCommand::Execute(tolvern::TkxProgress& progress) {
  tolvern::TkxVerifyOptions options = options_;
  options.progress = &progress;
  summary_ = tolvern::VerifyTable(Path8(path_), options,
                                  [this](const tolvern::TkxFinding& f) { findings_.push_back(f); });
}

TCommandOutcome TCheckTableCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  return OutcomeAfter(error);
}

// ---------------------------------------------------------------------------------------
// Repair

QString TRepairTableCommand::Title() const { return TWindowText::tr("Repair table"); }

bool TRepairTableCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  path_ = TablePathOf(table_);
  indexFiles_ = IndexFilesOf(table_);
  if (!dialogs.ConfirmDefaultNo(
          Title(), TWindowText::tr("Repair %1?\nThe table is closed while it is mended; the "
                                   "original files are kept in a folder beside it.")
                       .arg(path_)))
    return false;
  options_ = {};
  options_.indexFiles = Paths8(indexFiles_);
  options_.codePage = table_.CodePageInUse();
  options_.lockProtocol = static_cast<int>(table_.LockProtocol());
  return true;
}

void TRepairTableCommand::Execute(tolvern::TkxProgress& progress) {
  // The repair needs the table to itself: the window lets go of it and its index files.
  table_.SetIndexList(QString(), QString());
  table_.Close();
  tolvern::TkxRepairOptions options = options_;
  options.progress = &progress;
  report_ = tolvern::RepairTable(Path8(path_), options);
  ran_ = true;
}

QString TRepairTableCommand::ReportText(const tolvern::TkxRepairReport& report) {
  QStringList lines;
  lines << (report.changed ? TWindowText::tr("The table was repaired.")
                           : TWindowText::tr("Nothing needed mending."));
  if (!report.changes.empty()) {
    lines << QString() << TWindowText::tr("Changes:");
    for (const std::string& change : report.changes) lines << QString::fromStdString(change);
  }
  if (!report.notMended.empty()) {
    lines << QString() << TWindowText::tr("Not mended:");
    for (const std::string& line : report.notMended) lines << QString::fromStdString(line);
  }
  if (!report.backupFolder.empty())
    lines << QString()
          << TWindowText::tr("The original files are kept in %1.")
                 .arg(FromPath8(report.backupFolder));
  if (!report.remaining.empty())
    lines << QString()
          << TWindowText::tr("The check after the repair still finds %n problem(s).", nullptr,
                             static_cast<int>(report.remaining.size()));
  return lines.join(QLatin1Char('\n'));
}

TCommandOutcome TRepairTableCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome = OutcomeAfter(error);
  // Also after a refusal or a cancel the table comes back as it was.
  outcome.reopen = path_;
  outcome.reopenIndexFiles = indexFiles_;
  if (ran_) outcome.message = ReportText(report_);
  return outcome;
}

}  // namespace fendral
