#include "tv_tableaccess.h"

#include "tv_log.h"

namespace fendral {

TExclusiveTable::TExclusiveTable(TTolvernDataSet& table, TFallback fallback) : table_(table) {
  const QStringList indexFiles = table_.IndexFiles();
  if (table_.Active()) {
    table_.SetIndexList(QString(), QString());
    table_.Close();
  }
  table_.SetExclusive(true);
  table_.SetIndexFiles(indexFiles);
  try {
    table_.Open();
    unshared_ = true;
  } catch (...) {
    table_.SetExclusive(false);
    if (fallback != kOrShared) throw;
    table_.SetIndexFiles(indexFiles);
    table_.Open();
  }
}

TExclusiveTable::~TExclusiveTable() {
  try {
    if (table_.Active()) {
      table_.SetIndexList(QString(), QString());
      table_.Close();
    }
  } catch (...) {
    LogSwallowed("closing the table after unshared work");
  }
  table_.SetExclusive(false);
}

}  // namespace fendral
