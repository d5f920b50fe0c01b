#include "tv_structurecommands.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "tv_appdialogs.h"
#include "tv_apperror.h"
#include "tv_resolve.h"
#include "tv_tableaccess.h"

namespace fendral {

namespace {

// The page's own words name its commands.
QString PageText(const char* text) {
  return QCoreApplication::translate("fendral::TStructurePage", text);
}

bool OpenAmongTags(const TTolvernDataSet& table, const QString& path) {
  for (int n = 1; n <= table.GetTagCount(); ++n)
    if (SameFile(table.GetTagFile(n), path)) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------

TCommandOutcome TStructureCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome;
  outcome.done = !error;
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const tolvern::ETolvernCancelled&) {
      outcome.cancelled = true;
    } catch (...) {
    }
  } else {
    Describe(outcome);
  }
  if (after_) after_(outcome);
  return outcome;
}

void TStructureCommand::WithProgress(tolvern::TkxProgress& progress,
                                     const std::function<void()>& work) {
  TTableProgress binding(table_, progress);
  work();
}

// ---------------------------------------------------------------------------------------

TCreateTableCommand::TCreateTableCommand(TTolvernDataSet& table, TNewTableRequest request,
                                         TAfterCommand after)
    : TStructureCommand(table, std::move(after)), request_(std::move(request)) {}

QString TCreateTableCommand::Title() const { return PageText("Create DBF"); }

bool TCreateTableCommand::Prepare(TAppDialogs& dialogs) {
  // The field list is checked before anything is asked or changed.
  fields_ = ParseFieldList(request_.fieldLines);
  replace_ = QFileInfo::exists(request_.path);
  if (replace_ && !dialogs.Confirm(QCoreApplication::translate("Tolvern", "Warning"),
                                   QCoreApplication::translate(
                                       "Tolvern", "Table exists.  Do you want to overwrite?")))
    return false;
  // The table is written anew: nothing may keep the old one open meanwhile.
  if (table_.Active()) table_.Close();
  return true;
}

void TCreateTableCommand::Execute(tolvern::TkxProgress&) {
  WriteNewTable(request_.path, fields_, request_.type, request_.memoBlockSize, request_.codePage,
                replace_);
}

void TCreateTableCommand::Describe(TCommandOutcome& outcome) { outcome.filesMade << request_.path; }

// ---------------------------------------------------------------------------------------

TIndexOnCommand::TIndexOnCommand(TTolvernDataSet& table, TTagRequest request, TAfterCommand after)
    : TStructureCommand(table, std::move(after)), request_(std::move(request)) {}

QString TIndexOnCommand::Title() const { return PageText("Index Tag"); }

bool TIndexOnCommand::Prepare(TAppDialogs&) {
  if (!table_.Active() || request_.file.isEmpty()) return false;
  newFile_ = !QFileInfo::exists(request_.file);
  return true;
}

void TIndexOnCommand::Execute(tolvern::TkxProgress& progress) {
  WithProgress(progress, [this] {
    if (request_.addToFile && !OpenAmongTags(table_, request_.file))
      table_.OpenIndexFile(request_.file);
    table_.IndexOn(request_.file, request_.tag, request_.ascending ? 0 : 1, !request_.unique,
                   request_.filter, request_.expression);
    table_.SetIndexList(QString(), QString());
  });
}

void TIndexOnCommand::Describe(TCommandOutcome& outcome) {
  outcome.records = table_.Active() ? table_.RecordCount() : 0;
  if (newFile_ && QFileInfo::exists(request_.file)) outcome.filesMade << request_.file;
}

// ---------------------------------------------------------------------------------------

TDeleteTagCommand::TDeleteTagCommand(TTolvernDataSet& table, QString file, QString tag,
                                     TAfterCommand after)
    : TStructureCommand(table, std::move(after)), file_(std::move(file)), tag_(std::move(tag)) {}

QString TDeleteTagCommand::Title() const { return PageText("Delete tag"); }

bool TDeleteTagCommand::Prepare(TAppDialogs&) {
  return table_.Active() && !file_.isEmpty() && !tag_.isEmpty();
}

void TDeleteTagCommand::Execute(tolvern::TkxProgress& progress) {
  int result = 0;
  WithProgress(progress, [&] {
    // The tag is looked for among the open index files: the file is opened when it is not.
    if (!OpenAmongTags(table_, file_)) table_.OpenIndexFile(file_);
    result = table_.DeleteTag(file_, tag_);
    table_.SetIndexList(QString(), QString());
  });
  if (result != 0)
    throw EAppError(QCoreApplication::translate("fendral::TStructurePage",
                                                "The tag %1 could not be deleted from %2.")
                        .arg(tag_, QFileInfo(file_).fileName()));
}

// ---------------------------------------------------------------------------------------

TDeleteIndexFileCommand::TDeleteIndexFileCommand(TTolvernDataSet& table, QString file,
                                                 TAfterCommand after)
    : TStructureCommand(table, std::move(after)), file_(std::move(file)) {}

QString TDeleteIndexFileCommand::Title() const { return PageText("Delete index file"); }

bool TDeleteIndexFileCommand::Prepare(TAppDialogs&) { return table_.Active() && !file_.isEmpty(); }

void TDeleteIndexFileCommand::Execute(tolvern::TkxProgress& progress) {
  WithProgress(progress, [this] { table_.DeleteIndexFile(file_); });
}

}  // namespace fendral
