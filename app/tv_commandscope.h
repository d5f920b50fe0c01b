// The frame of a long table command: the busy cursor, the window's controls disabled, the
// gauge moving and the browsed table's controls held; everything is restored on every exit
// path, an error included.
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
    window_.Status(0, 0, 0);  // gauge back to 0, window enabled
    QApplication::restoreOverrideCursor();
  }
  TCommandScope(const TCommandScope&) = delete;
  TCommandScope& operator=(const TCommandScope&) = delete;

  // Keeps `table`'s data-aware controls still until the scope ends.
  void HoldControls(TDataSet& table) {
    table.DisableControls();
    held_ = &table;
  }
  // The gauge runs from 0 to `total`; it moves in steps of about a 500th of the way.
  void StartGauge(int32_t total) {
    stride_ = std::max(total / 512, 1);
    shown_ = 0;
    window_.Status(-1, kGaugeKind, total);
  }
  void MoveGauge(int32_t position) {
    if (position - shown_ < stride_) return;
    shown_ = position;
    window_.Status(kGaugeKind, position, 0);
  }

 private:
  static constexpr int32_t kGaugeKind = 6;  // the kind of a copy's reports
  TMainWindow& window_;
  TDataSet* held_ = nullptr;
  int32_t stride_ = 1;
  int32_t shown_ = 0;
};

}  // namespace fendral
