// The text commands of the "Database" menu: the records to delimited text and back, and
// the listing of the table's structure and tags.
//
// Text values are written as the table stores them, in the code page the table is read
// with, and read back the same way, so an export followed by an import gives a table the
// same bytes. Numbers are written as stored ("." as decimal separator), dates yyyymmdd,
// logical values T or F and timestamps in ISO form, whatever the locale.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "Tolvern6DB.h"
#include "tv_command.h"

namespace fendral {

// Asks for the separator of the text commands, in the table's bytes; false when the user
// cancelled or answered nothing.
bool AskSeparator(TAppDialogs& dialogs, TTolvernDataSet& table, QByteArray& separator);

// "Export base in TXT": one line per record the table shows, in its order. The file
// appears only complete: a cancel or an error leaves no file (an existing one as it was).
class TExportTextCommand : public TCommand {
 public:
  TExportTextCommand(TTolvernDataSet& table, QString tableDirectory)
      : table_(table), directory_(std::move(tableDirectory)) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString directory_;
  QString path_;
  QByteArray separator_;
  QString unsafe_;  // the first value that will not read back, named
  int64_t written_ = 0;
};

// "Import base from TXT": one record per line appended to the table. Every line is read
// and checked first; only a text without fault is appended, record by record. A cancel
// during the append stops after a whole record and says how many were appended.
class TImportTextCommand : public TCommand {
 public:
  TImportTextCommand(TTolvernDataSet& table, QString tableDirectory)
      : table_(table), directory_(std::move(tableDirectory)) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString directory_;
  QString path_;
  QString tablePath_;
  QByteArray separator_;
  int64_t appended_ = 0;
};

// "Copy structure to TXT": the field list as the structure table `fields` holds it and the
// tags of the table's open index files. Like the export, the file appears only complete.
class TStructureTextCommand : public TCommand {
 public:
  TStructureTextCommand(TTolvernDataSet& table, TDataSet& fields, QString tableDirectory)
      : table_(table), fields_(fields), directory_(std::move(tableDirectory)) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  TDataSet& fields_;
  QString directory_;
  QString path_;
  QByteArray fieldLines_;  // read from the structure table on the window's thread
};

}  // namespace fendral
