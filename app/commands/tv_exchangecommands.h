// The exchange commands of the "Database" menu: the records to CSV, JSON Lines with a
// schema or SQLite, and CSV records appended to the table. The formats are those of
// fendral-cli's export and import, written by the same code.
#pragma once

#include <QString>

#include "Tolvern6DB.h"
#include "exchange.h"
#include "tv_appdialogs.h"
#include "tv_command.h"

namespace fendral {

// "Export as...": the records the browse page shows, in its order (or all records in
// natural order), to the file the dialog names. The file appears only complete: a cancel or
// an error leaves none (an existing one as it was).
class TExportAsCommand : public TCommand {
 public:
  TExportAsCommand(TTolvernDataSet& table, QString tableDirectory)
      : table_(table), directory_(std::move(tableDirectory)) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString directory_;
  TExportChoice choice_;
  cli::ExchangeOptions options_;
  cli::ExchangeResult result_;
};

// "Import CSV...": the rows of a CSV file (a header row of field names; comma, semicolon
// or tab as the header row shows; UTF-8) appended to the table. The whole file is checked first; a
// file with a value the table cannot take is refused naming line, column and field, and nothing is
// appended.
class TImportCsvCommand : public TCommand {
 public:
  TImportCsvCommand(TTolvernDataSet& table, QString tableDirectory)
      : table_(table), directory_(std::move(tableDirectory)) {}
  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  TTolvernDataSet& table_;
  QString directory_;
  QString tablePath_;
  cli::ExchangeOptions options_;
  int64_t appended_ = 0;
};

}  // namespace fendral
