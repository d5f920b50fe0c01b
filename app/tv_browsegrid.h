// The browse grid: the framework's data grid over the browsed table, with the looks of the
// browse page. Rows whose record carries the delete mark are painted grey, rows are titled
// with their record numbers (a new record not yet posted with "*"), and the title of the
// column the table is ordered by can be painted red. Rows are read through the table's
// own row reader, so a large table in any order is shown without reading it into memory.
#pragma once

#include <QColor>

#include "Tolvern6DB.h"
#include "dbgrid.h"

namespace fendral {

class TBrowseGrid : public TDBGrid {
  Q_OBJECT

 public:
  static inline const QColor kDeletedBackground{128, 128, 128};

  explicit TBrowseGrid(QWidget* parent = nullptr);

  // Shows `table` through `source` (a data source over it).
  void SetTable(TTolvernDataSet* table, TDataSource* source);
  TTolvernDataSet* Table() const { return table_; }

  // True while a cell editor is open.
  bool Editing() const { return state() == EditingState; }
  // Makes the column of `fieldName` the selected one in the current row.
  void SelectField(const QString& fieldName);
  // Column of `fieldName` (any letter case); -1 when it is not shown.
  int ColumnOf(const QString& fieldName);
  // Record number shown in `row`; 0 for none (or the new record).
  int32_t RecordOfRow(int row);
  // Reads the rows again (after the table changed behind the dataset's back).
  void Reload() { Model().Reload(); }
  // The column whose title is painted red (exact field name; empty: none).
  void SetMarkedTitle(const QString& fieldName);
  const QString& MarkedTitle() const { return markedTitle_; }

 signals:
  // A column title was clicked; the column's field name.
  void TitleClicked(const QString& fieldName);
  // A move or edit started in the grid failed; the dataset's message.
  void EditFailed(const QString& message);

 private:
  void FitColumns();

  TTolvernDataSet* table_ = nullptr;
  QString markedTitle_;
};

}  // namespace fendral
