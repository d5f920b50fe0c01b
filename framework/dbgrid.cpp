#include "dbgrid.h"

#include <QDateEdit>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>

#include "tv_log.h"

namespace fendral {

namespace {

// Editors fitted to the field: character fields take no more than their width, dates get
// a date editor whose lowest date stands for the empty date (shown blank).
class CellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    const TField* field = FieldOf(index);
    if (field && field->DataType() == ftDate) {
      auto* editor = new QDateEdit(parent);
      editor->setCalendarPopup(true);
      editor->setMinimumDate(EmptyDate());
      editor->setSpecialValueText(QStringLiteral(" "));
      editor->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
      return editor;
    }
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor);
        line && field && field->DataType() == ftString && field->Size() > 0)
      line->setMaxLength(field->Size());
    return editor;
  }

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* date = qobject_cast<QDateEdit*>(editor)) {
      const TField* field = FieldOf(index);
      const QDate value = field && !field->IsNull() ? field->AsDateTime().date() : QDate();
      date->setDate(value.isValid() ? value : EmptyDate());
      return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    if (auto* date = qobject_cast<QDateEdit*>(editor)) {
      const QDate value = date->date();
      model->setData(index, value == EmptyDate() ? QString() : value.toString(Qt::ISODate));
      return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
  }

 private:
  static QDate EmptyDate() { return QDate(100, 1, 1); }
  static const TField* FieldOf(const QModelIndex& index) {
    const auto* model = qobject_cast<const TDataSetModel*>(index.model());
    return model ? model->FieldOfColumn(index.column()) : nullptr;
  }
};

}  // namespace

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
  model_.OnError = [this](const std::exception& error) {
    if (OnError) OnError(error);
  };
  setModel(&model_);
  setItemDelegate(new CellDelegate(this));
  setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                  QAbstractItemView::EditKeyPressed);
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
      if (OnError) {
        OnError(error);
      } else {
        LogSwallowed("cancelling the edit");
      }
    }
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace fendral
