// CSV and JSON Lines exchange. (Being built.)
#include "exchange.h"

namespace fendral::cli {

int ExportCsv(const Arguments&) { throw UsageError{"the csv format is not available yet"}; }
int ExportJsonLines(const Arguments&) {
  throw UsageError{"the jsonl format is not available yet"};
}
int ImportCsv(const Arguments&) { throw UsageError{"the csv format is not available yet"}; }

}  // namespace fendral::cli
