// Moving records out of a table and into it in other programs' formats: CSV, JSON Lines
// with a schema sidecar, SQLite and PostgreSQL. `export` picks the writer by --format; the
// window calls the file entry points below with the same writers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli_common.h"
#include "kx6_dbsy.h"
#include "kx6_progress.h"

namespace fendral::cli {

// Each writes the records of the table(s) named by `args` (order, filter and deleted
// records as the options say) and answers the command's exit code.
int ExportCsv(const Arguments& args);
int ExportJsonLines(const Arguments& args);
int ExportSqlite(const Arguments& args);
int ExportPostgres(const Arguments& args);

// `import TABLE FILE.csv --format csv`: checks the whole file, then appends its records.
int ImportCsv(const Arguments& args);

// `create TABLE --from-schema FILE`: an empty table of the make-up that `export --schema`
// wrote, its index files built (empty) beside it.
int CreateFromSchema(const Arguments& args);

// What an exchange with a file works on, and how.
struct ExchangeOptions {
  // The table: `table` when the caller holds it open (its order, filter and position are
  // used; its deleted-record setting is restored afterwards), otherwise `tablePath`, opened
  // shared with its production index, in natural order. `tablePath` also names the SQLite
  // table (its file name without extension, in lower case).
  tolvern::KXO_dBHandler* table = nullptr;
  std::string tablePath;
  std::string codePage;            // of the table's text; empty: the one its language mark names
  bool withDeleted = false;        // CSV and SQLite: a _deleted column; JSON Lines: "deleted"
  std::string file;                // written by an export, read by the import
  std::string schemaFile;          // JSON Lines: the schema sidecar (empty: none)
  char delimiter = ',';            // CSV
  bool header = true;              // CSV: a first row of field names
  bool lf = false;                 // CSV: rows end with LF instead of CRLF
  std::string encoding = "UTF-8";  // CSV: the file's character set
};

struct ExchangeResult {
  int64_t records = 0;               // written or appended
  bool clean = true;                 // false: some value could not be read (written empty)
  std::vector<std::string> skipped;  // SQLite: tags that became no index, with the reason
};

// The exports write `options.file` (and the schema) under a temporary name beside it and
// put it in place only when complete: an error or a cancel (ETolvernCancelled, when
// `progress` says stop; one Step per record) leaves no file behind and an earlier file of
// that name as it was.
ExchangeResult ExportCsvFile(const ExchangeOptions& options, tolvern::TkxProgress* progress);
ExchangeResult ExportJsonLinesFile(const ExchangeOptions& options, tolvern::TkxProgress* progress);
ExchangeResult ExportSqliteFile(const ExchangeOptions& options, tolvern::TkxProgress* progress);

// Reads and checks the whole CSV file first, then appends its records (two steps a record,
// the file's offset of the row in each pass). A refused file throws std::runtime_error
// naming line, column and field, with nothing appended; a cancel while checking appends
// nothing, while appending keeps the whole records appended so far (`records` counts them
// also then, through `appended`).
ExchangeResult ImportCsvFile(const ExchangeOptions& options, tolvern::TkxProgress* progress,
                             int64_t* appended = nullptr);

}  // namespace fendral::cli
