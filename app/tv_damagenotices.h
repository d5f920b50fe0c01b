// What the user was told about damaged index files: each file is named once, in one
// message, until the table is closed or a rebuild changes what is damaged. The message
// offers "Check table", which looks at every part of the table, not only the named files.
#pragma once

#include <QString>
#include <QStringList>

#include "Tolvern6DB.h"
#include "tv_appdialogs.h"

namespace fendral {

class TDamageNotices {
 public:
  // The message naming the damaged index files of `table` the user was not told of yet,
  // and why; empty when there are none. They count as told from now on.
  QString Untold(TTolvernDataSet& table);
  // Tells the user the Untold message, if any, through `dialogs`; true when the user
  // chose "Check table" in it.
  bool TellUntold(TTolvernDataSet& table, TAppDialogs& dialogs);
  // Only the files damaged now count as told (after a rebuild mended others).
  void Reset(TTolvernDataSet& table);
  void Clear() { told_.clear(); }

 private:
  QStringList told_;
};

}  // namespace fendral
