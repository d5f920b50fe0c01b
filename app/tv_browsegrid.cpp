#include "tv_browsegrid.h"

#include <QHeaderView>
#include <algorithm>

namespace fendral {

TBrowseGrid::TBrowseGrid(QWidget* parent) : TDBGrid(parent) {
  setObjectName(QStringLiteral("BrowseGrid"));
  setAccessibleName(tr("Records"));
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  OnTitleClick = [this](const QString& fieldName) { emit TitleClicked(fieldName); };
  OnError = [this](const std::exception& error) {
    emit EditFailed(QString::fromUtf8(error.what()));
  };

  TDataSetModel& model = Model();
  model.OnCellData = [this](const TRecordBuffer& row, const TField&, int role) -> QVariant {
    if (role == Qt::BackgroundRole && table_ && table_->RowIsDeleted(row))
      return kDeletedBackground;
    return {};
  };
  model.OnRowTitleData = [](const TRecordBuffer* row, int role) -> QVariant {
    // Rows are titled with their record numbers, whatever the order.
    if (role != Qt::DisplayRole) return {};
    const int32_t recno = row ? TTolvernDataSet::RecNoOfRow(*row) : 0;
    return recno > 0 ? QVariant(recno) : QVariant(QStringLiteral("*"));
  };
  model.OnTitleData = [this](const TField& field, int role) -> QVariant {
    if (markedTitle_.isEmpty() || field.FieldName() != markedTitle_) return {};
    switch (role) {
      case Qt::BackgroundRole:
        return QColor(Qt::red);
      case Qt::ForegroundRole:
        return QColor(Qt::white);
      case Qt::ToolTipRole:
        return tr("%1 (the order of the grid)").arg(field.FieldName());
      default:
        return {};
    }
  };
  connect(&model, &QAbstractItemModel::modelReset, this, &TBrowseGrid::FitColumns);
}

void TBrowseGrid::SetTable(TTolvernDataSet* table, TDataSource* source) {
  table_ = table;
  SetDataSource(source);
  FitColumns();
}

void TBrowseGrid::FitColumns() {
  // Column widths from the fields' display widths.
  const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  TDataSetModel& model = Model();
  for (int c = 0; c < model.columnCount(); ++c) {
    const TField* field = model.FieldOfColumn(c);
    const int chars = std::clamp(
        std::max(field->DisplayWidth(), static_cast<int>(field->DisplayLabel().size())), 4, 40);
    setColumnWidth(c, chars * charWidth + 12);
  }
}

int TBrowseGrid::ColumnOf(const QString& fieldName) {
  TDataSetModel& model = Model();
  for (int c = 0; c < model.columnCount(); ++c)
    if (model.FieldOfColumn(c)->FieldName().compare(fieldName, Qt::CaseInsensitive) == 0) return c;
  return -1;
}

void TBrowseGrid::SelectField(const QString& fieldName) {
  const int column = ColumnOf(fieldName);
  if (column >= 0) TDBGrid::SelectField(Model().FieldOfColumn(column));
}

int32_t TBrowseGrid::RecordOfRow(int row) {
  const QVariant title = Model().headerData(row, Qt::Vertical, Qt::DisplayRole);
  bool ok = false;
  const int recno = title.toInt(&ok);
  return ok ? recno : 0;
}

void TBrowseGrid::SetMarkedTitle(const QString& fieldName) {
  markedTitle_ = fieldName;
  Model().TitlesChanged();
}

}  // namespace fendral
