// TDataSetModel: a Qt table model over any dataset, for grids.
//
// Columns are the dataset's visible fields, titled by their display labels; rows are read
// through the dataset's row reader, so painting never moves the current record. The row of
// the current record shows the active buffer instead, so a pending edit is visible while it
// is typed; a new record not yet posted shows as an extra row where it will go (before the
// record it was inserted at, or at the end when appended). Editing a cell moves the dataset to that
// row, puts it into edit state and sets the field from the text; errors are handed to OnError (a
// model must not throw into Qt) and the cell keeps its old value.
#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>

#include "datasource.h"
#include "rowreader.h"

namespace fendral {

class TDataSetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TDataSetModel(QObject* parent = nullptr);
  ~TDataSetModel() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;

  // Columns and fields.
  TField* FieldOfColumn(int column) const;
  int ColumnOfField(const TField* field) const;  // -1 when not shown
  // Row of the dataset's current record, -1 when there is none.
  int CurrentRow() const;
  // Makes `row` the dataset's current record (posting an edit of another row first);
  // answers false (after OnError) when that fails.
  bool GotoRow(int row);

  // Extra cell data: called for every cell with the row's buffer while the fields read it;
  // an invalid answer leaves the role to the model (for example a background for rows the
  // dataset marks deleted).
  std::function<QVariant(const TRecordBuffer& row, const TField& field, int role)> OnCellData;
  // Extra title data: called for every column title and role; an invalid answer leaves the
  // role to the model (for example a colour for the column of the current order).
  std::function<QVariant(const TField& field, int role)> OnTitleData;
  // Extra row-title data: called with the row's buffer (null for a new record not yet
  // posted); an invalid answer leaves the role to the model, which numbers the rows from 1.
  std::function<QVariant(const TRecordBuffer* row, int role)> OnRowTitleData;
  // Errors of edits and moves started from the grid.
  std::function<void(const std::exception& error)> OnError;

  // The records changed in a way the dataset did not announce: read the rows again.
  void Reload() { RowsChanged(); }
  // The titles' extra data changed.
  void TitlesChanged();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 signals:
  // The dataset's current record is now in `row` (-1: none).
  void currentRowChanged(int row);
  // A field asked its control to take the focus (for example a required field left empty).
  void focusFieldRequested(TField* field);

 private:
  class Link;
  friend class Link;

  void Rebuild();         // new reader, columns and rows
  void RowsChanged();     // records changed: reread, keep the columns
  void CurrentChanged();  // the current record moved or changed
  void ReportError(const std::exception& error) const;
  const TRecordBuffer* RowBuffer(int row) const;  // cached read of a reader row, null when gone
  int ComputePendingRow() const;      // model row of an unposted new record, -1 when none
  int ReaderRow(int modelRow) const;  // -1 for the pending row
  QVariant CellData(const TRecordBuffer& buffer, const TField& field, int role) const;

  std::unique_ptr<Link> link_;
  std::unique_ptr<TRowReader> reader_;
  std::vector<TField*> columns_;
  int rowCount_ = 0;
  int currentRow_ = -1;
  int pendingRow_ = -1;  // model row of the new record being inserted
  // A few recently painted rows, oldest first.
  mutable std::list<std::pair<int, std::unique_ptr<TRecordBuffer>>> cache_;
  static constexpr size_t kCacheRows = 128;
};

}  // namespace fendral
