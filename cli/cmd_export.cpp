// fendral-cli export TABLE... --format csv|jsonl|sqlite|postgresql
#include <string>

#include "cli_common.h"
#include "exchange.h"

namespace fendral::cli {

int CmdExport(const Arguments& args) {
  const std::string format = args.Option("--format").value_or("");
  if (format == "csv") return ExportCsv(args);
  if (format == "jsonl") return ExportJsonLines(args);
  if (format == "sqlite") return ExportSqlite(args);
  if (format == "postgresql") return ExportPostgres(args);
  throw UsageError{format.empty() ? "--format is required: csv, jsonl, sqlite or postgresql"
                                  : "unknown format " + format +
                                        " (csv, jsonl, sqlite or postgresql)"};
}

}  // namespace fendral::cli
