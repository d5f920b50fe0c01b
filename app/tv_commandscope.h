// The frame of a table command run on the window's thread: the busy cursor, the window's
// controls disabled and the browsed table's controls held; everything is restored on every
// exit path, an error included.
#pragma once

#include <QApplication>
#include <algorithm>
#include <functional>

#include "Unit1.h"

namespace fendral {

// Runs the function given when the scope ends, however it ends.
class TAtExit {
 public:
  explicit TAtExit(std::function<void()> work) : work_(std::move(work)) {}
  ~TAtExit() {
    try {
      if (work_) work_();
    } catch (...) {
      // Unwinding already: the first error is the one reported.
    }
  }
  TAtExit(const TAtExit&) = delete;
  TAtExit& operator=(const TAtExit&) = delete;

 private:
  std::function<void()> work_;
};

class TMainWindow::TCommandScope {
 public:
  explicit TCommandScope(TMainWindow& window) : window_(window) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    window_.SetBusy(true);
  }
  ~TCommandScope() {
    if (held_) {
      try {
        held_->EnableControls();
      } catch (...) {
        // The command's own error is the one the user sees.
      }
    }
    window_.SetBusy(false);
    QApplication::restoreOverrideCursor();
  }
  TCommandScope(const TCommandScope&) = delete;
  TCommandScope& operator=(const TCommandScope&) = delete;

  // Keeps `table`'s data-aware controls still until the scope ends.
  void HoldControls(TDataSet& table) {
    table.DisableControls();
    held_ = &table;
  }

 private:
  TMainWindow& window_;
  TDataSet* held_ = nullptr;
};

}  // namespace fendral
