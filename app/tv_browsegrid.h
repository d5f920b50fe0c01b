// The browse grid: a table view over a table dataset reached through a data source.
//
// The model shows one row per record of the dataset's current order (natural order, an
// index order, with a filter or with deleted records hidden). Rows are painted from a
// read-only table object of its own on the same file, so painting never moves the
// dataset's current record; the record being edited or inserted is shown from the
// dataset's buffer. In natural order with nothing hidden row i is record i + 1; otherwise
// the model keeps the record numbers of the order (4 bytes a row), read in one pass.
// A row whose record carries the delete mark has a grey background.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QColor>
#include <QTableView>
#include <memory>
#include <vector>

#include "Tolvern6DB.h"
#include "datasource.h"
#include "tv_table.h"

namespace fendral {

class TBrowseGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static inline const QColor kDeletedBackground{128, 128, 128};

  explicit TBrowseGridModel(QObject* parent = nullptr);
  ~TBrowseGridModel() override;

  void SetDataSource(TDataSource* source);
  TTolvernDataSet* Table() const;

  // Reads the order again (after records were added, deleted or recalled).
  void Reload();
  // The dataset went into or out of edit or insert mode.
  void EditingChanged();
  // Row of the dataset's current record; -1 when none.
  int CurrentRow() const;
  int32_t RecordOfRow(int row) const;
  TField* FieldOfColumn(int column) const;
  int ColumnOfField(const QString& fieldName) const;
  // The column whose title is painted red (exact field name; empty: none).
  void SetMarkedTitle(const QString& fieldName);
  const QString& MarkedTitle() const { return markedTitle_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  // The dataset's current record moved (or the rows were read again).
  void CurrentMoved();
  // Writing a cell failed; the message is the dataset's.
  void EditFailed(const QString& message);

 private:
  class Link;
  struct Row {
    QStringList texts;
    bool deleted = false;
  };
  friend class Link;
  void ResetAll();
  void ReadOrder();
  void OpenReader();
  const Row* RowAt(int row) const;
  bool IsEditRow(int row) const;
  bool Busy() const;

  std::unique_ptr<Link> link_;
  std::vector<TField*> columns_;
  std::vector<TTVFieldDef> defs_;
  std::unique_ptr<TTVTableCore> reader_;
  std::vector<uint8_t> buffer_;
  std::vector<int32_t> records_;  // record numbers of the order; empty in natural order
  bool natural_ = true;
  int count_ = 0;
  bool inserting_ = false;
  bool busy_ = false;
  QString markedTitle_;
  mutable QCache<int32_t, Row> cache_{4096};
};

class TBrowseGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TBrowseGrid(QWidget* parent = nullptr);
  TBrowseGridModel* Model() const { return model_; }
  // True while a cell editor is open.
  bool Editing() const { return state() == EditingState; }
  // Makes the column of `fieldName` the selected one in the current row.
  void SelectField(const QString& fieldName);

 signals:
  // A column title was clicked; the column's field name.
  void TitleClicked(const QString& fieldName);

 private:
  void FollowDataSet();
  void RowChosen(const QModelIndex& current, const QModelIndex& previous);

  TBrowseGridModel* model_;
  bool following_ = false;
  int column_ = 0;  // column of the last current cell
};

}  // namespace fendral
