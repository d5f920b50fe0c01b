// The list of what a check of the table found: one row per finding (severity, part,
// record, detail, and the file and tag where the finding names them), a summary line above
// it, "Repair..." and "Close" below. The dialog does not block the window: the user may go
// from finding to finding (double-click or Enter on a row with a record) and look at each
// record in the browse page while the list stays open.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <vector>

#include "kx6_verify.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace fendral {

class TFindingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TFindingsDialog(QWidget* parent);

  // Shows what the check of `tablePath` found, replacing what the list held before.
  void ShowFindings(const QString& tablePath, const std::vector<tolvern::TkxFinding>& findings,
                    const tolvern::TkxVerifySummary& summary);
  // The summary line for `summary` (also when nothing was found).
  static QString SummaryText(const tolvern::TkxVerifySummary& summary);

  QTreeWidget* List() const { return list_; }
  QString Summary() const;
  QPushButton* RepairButton() const { return repairButton_; }
  // The record of the list's row `row`; 0 when it names none.
  int64_t RecordOfRow(int row) const;

 signals:
  // The user asked to see record `recno` of the table.
  void recordChosen(qint64 recno);
  // "Repair..." was pressed.
  void repairRequested();

 private:
  void Activated(QTreeWidgetItem* item);

  QLabel* summary_;
  QTreeWidget* list_;
  QPushButton* repairButton_;
  QPushButton* closeButton_;
};

}  // namespace fendral
