// Removing an index file of a table.
#pragma once

#include <string>

#include "kx6_dbsy.h"

namespace tolvern {

// Closes index file `path` when `table` has it open and deletes the file. When the file
// was the table's production index (a .cdx or .mdx named like the table, any letter case)
// and no other production index file remains beside the table, the table's header flag
// for it is cleared and the header written, so that no program looks for an index that
// is gone. A file that cannot be deleted is reported through the error procedure; the
// flag is then left as it was.
void DeleteIndexFile(KXO_dBHandler& table, const std::string& path);

// Whether `indexPath` names the production index of the table file `tablePath`.
bool IsProductionIndexOf(const std::string& tablePath, const std::string& indexPath);

}  // namespace tolvern
