// The frame of a long table command: the busy cursor, the window's controls disabled, the
// gauge moving and the browsed table's controls held; everything is restored on every exit
// path, an error included.
#pragma once

#include <QApplication>

#include "Unit1.h"

namespace fendral {

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
  // The gauge runs from 0 to `total`.
  void StartGauge(int32_t total) { window_.Status(-1, kGaugeKind, total); }
  void MoveGauge(int32_t position) { window_.Status(kGaugeKind, position, 0); }

 private:
  static constexpr int32_t kGaugeKind = 6;  // the kind of a copy's reports
  TMainWindow& window_;
  TDataSet* held_ = nullptr;
};

}  // namespace fendral
