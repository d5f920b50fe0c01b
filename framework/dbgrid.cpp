#include "dbgrid.h"

#include <QHeaderView>
#include <QKeyEvent>

namespace fendral {

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
  model_.OnError = [this](const std::exception& error) {
    if (OnError) OnError(error);
  };
  setModel(&model_);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::SingleSelection);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  connect(&model_, &TDataSetModel::currentRowChanged, this, &TDBGrid::FollowCurrentRow);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (TField* field = model_.FieldOfColumn(column); field && OnTitleClick)
      OnTitleClick(field->FieldName());
  });
  connect(&model_, &TDataSetModel::focusFieldRequested, this, [this](TField* field) {
    if (model_.ColumnOfField(field) < 0) return;
    SelectField(field);
    setFocus();
  });
  connect(&model_, &QAbstractItemModel::modelReset, this,
          [this] { FollowCurrentRow(model_.CurrentRow()); });
}

TDBGrid::~TDBGrid() { setModel(nullptr); }

void TDBGrid::SetDataSource(TDataSource* source) {
  model_.SetDataSource(source);
  FollowCurrentRow(model_.CurrentRow());
}

TField* TDBGrid::SelectedField() const { return model_.FieldOfColumn(currentIndex().column()); }

void TDBGrid::SelectField(const TField* field) {
  const int column = model_.ColumnOfField(field);
  if (column < 0) return;
  const int row = model_.CurrentRow() >= 0 ? model_.CurrentRow() : currentIndex().row();
  if (row < 0) return;
  following_ = true;
  setCurrentIndex(model_.index(row, column));
  following_ = false;
}

void TDBGrid::FollowCurrentRow(int row) {
  if (row < 0 || following_) return;
  const int column = std::max(0, currentIndex().column());
  if (column >= model_.columnCount()) return;
  following_ = true;
  setCurrentIndex(model_.index(row, column));
  scrollTo(currentIndex());
  following_ = false;
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (following_ || !current.isValid() || current.row() == model_.CurrentRow()) return;
  if (!model_.GotoRow(current.row())) {
    // The dataset stayed where it was (a refused post): so does the grid.
    const int row = model_.CurrentRow();
    if (row >= 0) FollowCurrentRow(row);
  }
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
  TDataSet* dataSet = model_.DataSet();
  if (event->key() == Qt::Key_Escape && state() != QAbstractItemView::EditingState && dataSet &&
      (dataSet->State() == dsEdit || dataSet->State() == dsInsert)) {
    try {
      dataSet->Cancel();
    } catch (const std::exception& error) {
      if (OnError) OnError(error);
    }
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace fendral
