// Moving records out of a table and into it in other programs' formats: CSV, JSON Lines
// with a schema sidecar, SQLite and PostgreSQL. `export` picks the writer by --format.
#pragma once

#include "cli_common.h"

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

}  // namespace fendral::cli
