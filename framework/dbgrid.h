// TDBGrid: a table view over a data source through TDataSetModel.
//
// The grid follows the dataset's current record and moves it when the user changes rows
// (an edit of the row being left is posted first; when that fails the grid stays on it).
// Cells edit through the dataset; Esc cancels the dataset's edit or insert. Column titles
// are the fields' display labels; a title click reports the column's field name.
#pragma once

#include <QTableView>
#include <exception>
#include <functional>

#include "datasetmodel.h"

namespace fendral {

class TDBGrid : public QTableView {
  Q_OBJECT

 public:
  explicit TDBGrid(QWidget* parent = nullptr);
  ~TDBGrid() override;

  TDataSource* DataSource() const { return model_.DataSource(); }
  void SetDataSource(TDataSource* source);
  TDataSetModel& Model() { return model_; }
  // Field of the column that has the cell cursor; null when none.
  TField* SelectedField() const;
  // Puts the cell cursor into the column of `field` (in the current row).
  void SelectField(const TField* field);

  std::function<void(const QString& fieldName)> OnTitleClick;
  // Errors of moves and edits started in the grid (also the model's).
  std::function<void(const std::exception& error)> OnError;

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FollowCurrentRow(int row);

  TDataSetModel model_;
  bool following_ = false;
};

}  // namespace fendral
