// The panels of the main window's status bar: the record position, the table header's
// stamp, the code page of the table's text and the lock protocol in use.
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QString>

#include "Tolvern6DB.h"

namespace fendral {

class TStatusPanels {
 public:
  // Adds the panels to `bar`.
  explicit TStatusPanels(QStatusBar& bar);

  // "Records: 12/60" for the browsed table; an empty table shows 0 as its position.
  void ShowPosition(TTolvernDataSet& table);
  // The header's stamp and the code page in use of `table`.
  void ShowHeader(TTolvernDataSet& table);
  void ShowCodePage(TTolvernDataSet& table);
  void ShowLockProtocol(tolvern::TkxLokProtocol protocol);
  // A text in the stamp panel (what a new table will be).
  void ShowNote(const QString& text) { stamp_->setText(text); }
  void Clear();

  // Panel 0 position, 1 stamp, 2 lock protocol, 3 code page.
  QString Text(int panel) const;

 private:
  QLabel* record_;
  QLabel* stamp_;
  QLabel* lock_;
  QLabel* codePage_;
};

}  // namespace fendral
