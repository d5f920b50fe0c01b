// SQLite and PostgreSQL export. (Being built.)
#include "exchange.h"

namespace fendral::cli {

int ExportSqlite(const Arguments&) { throw UsageError{"the sqlite format is not available yet"}; }
int ExportPostgres(const Arguments&) {
  throw UsageError{"the postgresql format is not available yet"};
}

}  // namespace fendral::cli
