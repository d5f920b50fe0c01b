// How a command holds the browsed table while it works: unshared, and with its progress.
#pragma once

#include "Tolvern6DB.h"
#include "kx6_progress.h"

namespace fendral {

// The table open unshared for the scope. The constructor closes it (its index files kept)
// and opens it again unshared; when another program has it open, that fails with the
// engine's error, or, with kOrShared, the table is opened shared again and the work goes
// on beside the other program. When the scope ends the index files and the table are
// closed and the table is set shared: the caller opens it again (the window's open-table
// procedure), also after an error.
class TExclusiveTable {
 public:
  enum TFallback { kNoFallback, kOrShared };
  explicit TExclusiveTable(TTolvernDataSet& table, TFallback fallback = kNoFallback);
  ~TExclusiveTable();
  TExclusiveTable(const TExclusiveTable&) = delete;
  TExclusiveTable& operator=(const TExclusiveTable&) = delete;

  // False when the table had to be opened shared (kOrShared only).
  bool Unshared() const { return unshared_; }

 private:
  TTolvernDataSet& table_;
  bool unshared_ = false;
};

// `progress` set on the dataset for the scope: the engine's loops report through it.
class TTableProgress {
 public:
  TTableProgress(TTolvernDataSet& table, tolvern::TkxProgress& progress)
      : table_(table), previous_(table.Progress()) {
    table_.SetProgress(&progress);
  }
  ~TTableProgress() { table_.SetProgress(previous_); }
  TTableProgress(const TTableProgress&) = delete;
  TTableProgress& operator=(const TTableProgress&) = delete;

 private:
  TTolvernDataSet& table_;
  tolvern::TkxProgress* previous_;
};

}  // namespace fendral
