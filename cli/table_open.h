// Opening a table for the commands: the table handler with its production index and the
// index files named by --index, an order (--tag), a filter and deleted-record hiding.
#pragma once

#include <memory>
#include <string>

#include "cli_common.h"
#include "kx6_dbsy.h"

namespace fendral::cli {

struct OpenOptions {
  bool readWrite = false;
  bool shared = true;
  // Changing commands keep every index of the table current: the production index is
  // opened along with the --index files.
  bool productionIndex = false;
};

// Opens TABLE, the index files of --index (repeatable; the production index first when
// asked), selects --tag (or the single tag of a single index file), applies --filter
// and --hide-deleted.
std::unique_ptr<tolvern::KXO_dBHandler> OpenTable(const std::string& path, const Arguments& args,
                                                  const OpenOptions& options);

// The options every command that reads in order takes.
inline const std::vector<std::string>& OrderOptions() {
  static const std::vector<std::string> options = {"--index", "--tag", "--filter",
                                                   "--encoding"};
  return options;
}

}  // namespace fendral::cli
