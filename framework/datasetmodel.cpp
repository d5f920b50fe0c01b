#include "datasetmodel.h"

#include "tv_log.h"

namespace fendral {

namespace {

// A memo cell shows the memo's first line; a memo that cannot be read shows nothing
// rather than an error on every paint.
QString MemoFirstLine(const TMemoField& memo) {
  QString text;
  try {
    text = memo.Text();
  } catch (const std::exception&) {
    LogSwallowed("showing a memo in the grid");
    return QString();
  }
  qsizetype end = 0;
  while (end < text.size() && text[end] != u'\r' && text[end] != u'\n' && text[end] != u'\0') ++end;
  return text.left(end);
}

}  // namespace

// The model's end of the data source.
class TDataSetModel::Link : public TDataLink {
 public:
  explicit Link(TDataSetModel& model) : model_(model) {}

 protected:
  void ActiveChanged() override { model_.Rebuild(); }
  void LayoutChanged() override { model_.Rebuild(); }
  void DataSetChanged() override { model_.RowsChanged(); }
  // The old reader was closed with the records it read: a new one, and the rows afresh.
  void RecordsReplaced() override { model_.Rebuild(); }
  void DataSetScrolled(int) override { model_.CurrentChanged(); }
  void RecordChanged(TField*) override { model_.CurrentChanged(); }
  void EditingChanged() override { model_.CurrentChanged(); }
  void FocusControl(TField* field) override { emit model_.focusFieldRequested(field); }

 private:
  TDataSetModel& model_;
};

TDataSetModel::TDataSetModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

TDataSetModel::~TDataSetModel() {
  // Leave the data source without notifications: nothing may be rebuilt or signalled now.
  link_.reset();
  reader_.reset();
}

TDataSource* TDataSetModel::DataSource() const { return link_->DataSource(); }

void TDataSetModel::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  Rebuild();
}

TDataSet* TDataSetModel::DataSet() const { return link_->Active() ? link_->DataSet() : nullptr; }

void TDataSetModel::Rebuild() {
  beginResetModel();
  cache_.clear();
  reader_.reset();
  columns_.clear();
  rowCount_ = 0;
  currentRow_ = -1;
  pendingRow_ = -1;
  if (TDataSet* dataSet = DataSet()) {
    for (int i = 0; i < dataSet->FieldCount(); ++i)
      if (dataSet->Field(i)->Visible()) columns_.push_back(dataSet->Field(i));
    try {
      reader_ = dataSet->CreateRowReader();
      rowCount_ = reader_ ? reader_->RowCount() : 0;
      pendingRow_ = ComputePendingRow();
      currentRow_ = CurrentRow();
    } catch (const std::exception& error) {
      reader_.reset();
      rowCount_ = 0;
      ReportError(error);
    }
  }
  endResetModel();
  emit currentRowChanged(currentRow_);
}

void TDataSetModel::RowsChanged() {
  if (!reader_) {
    Rebuild();
    return;
  }
  cache_.clear();
  reader_->Invalidate();
  int count = 0;
  try {
    count = reader_->RowCount();
  } catch (const std::exception& error) {
    ReportError(error);
  }
  const int oldCount = rowCount_;
  rowCount_ = count;
  const int pending = ComputePendingRow();
  if (count != oldCount || pending != pendingRow_) {
    beginResetModel();
    pendingRow_ = pending;
    endResetModel();
  } else if (rowCount() > 0 && !columns_.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, static_cast<int>(columns_.size()) - 1));
    // Row titles may name other records now (a new order): the header reads them again.
    emit headerDataChanged(Qt::Vertical, 0, rowCount() - 1);
  }
  CurrentChanged();
}

void TDataSetModel::CurrentChanged() {
  if (reader_ && ComputePendingRow() != pendingRow_) {
    RowsChanged();  // a new record appeared or went: the rows below it move
    return;
  }
  const int old = currentRow_;
  currentRow_ = CurrentRow();
  const int last = static_cast<int>(columns_.size()) - 1;
  if (last >= 0) {
    if (old >= 0 && old < rowCount()) emit dataChanged(index(old, 0), index(old, last));
    if (currentRow_ >= 0 && currentRow_ != old)
      emit dataChanged(index(currentRow_, 0), index(currentRow_, last));
  }
  if (old != currentRow_) emit currentRowChanged(currentRow_);
}

int TDataSetModel::CurrentRow() const {
  TDataSet* dataSet = DataSet();
  if (!dataSet || !reader_ || dataSet->IsEmpty()) return -1;
  if (pendingRow_ >= 0) return pendingRow_;
  const TBookmark bookmark = dataSet->GetBookmark();
  if (bookmark.isEmpty()) return -1;
  try {
    return reader_->RowOf(bookmark);
  } catch (const std::exception& error) {
    ReportError(error);
    return -1;
  }
}

int TDataSetModel::ComputePendingRow() const {
  TDataSet* dataSet = DataSet();
  if (!dataSet || !reader_ || dataSet->State() != dsInsert || dataSet->BufferedCount() == 0)
    return -1;
  const int active = dataSet->ActiveRecord();
  if (dataSet->Buffer(active).BookmarkFlag == bfEOF) return rowCount_;
  try {
    if (const TBookmark anchor = dataSet->InsertAnchor(); !anchor.isEmpty()) {
      const int row = reader_->RowOf(anchor);
      if (row >= 0) return row;
    }
    if (active + 1 < dataSet->BufferedCount() &&
        dataSet->Buffer(active + 1).BookmarkFlag == bfCurrent) {
      const int row = reader_->RowOf(dataSet->Buffer(active + 1).Bookmark);
      if (row >= 0) return row;
    }
    if (active > 0 && dataSet->Buffer(active - 1).BookmarkFlag == bfCurrent) {
      const int row = reader_->RowOf(dataSet->Buffer(active - 1).Bookmark);
      if (row >= 0) return row + 1;
    }
  } catch (const std::exception& error) {
    ReportError(error);
  }
  return 0;
}

int TDataSetModel::ReaderRow(int modelRow) const {
  if (pendingRow_ < 0 || modelRow < pendingRow_) return modelRow;
  return modelRow == pendingRow_ ? -1 : modelRow - 1;
}

bool TDataSetModel::GotoRow(int row) {
  TDataSet* dataSet = DataSet();
  if (!dataSet || row < 0 || row >= rowCount()) return false;
  if (row == currentRow_) return true;
  try {
    // Learn the record before posting: a post may move rows (a new record, a sort key).
    const int readerRow = ReaderRow(row);
    const TRecordBuffer* buffer = readerRow >= 0 ? RowBuffer(readerRow) : nullptr;
    if (!buffer) return false;
    const TBookmark target = buffer->Bookmark;
    dataSet->CheckBrowseMode();
    dataSet->GotoBookmark(target);
    return true;
  } catch (const std::exception& error) {
    ReportError(error);
    return false;
  }
}

void TDataSetModel::ReportError(const std::exception& error) const {
  if (OnError) {
    OnError(error);
  } else {
    qCWarning(lcFendral, "grid: %s", error.what());
  }
}

const TRecordBuffer* TDataSetModel::RowBuffer(int row) const {
  if (row < 0) return nullptr;
  for (auto it = cache_.begin(); it != cache_.end(); ++it)
    if (it->first == row) {
      cache_.splice(cache_.end(), cache_, it);
      return cache_.back().second.get();
    }
  TDataSet* dataSet = DataSet();
  if (!dataSet || !reader_) return nullptr;
  std::unique_ptr<TRecordBuffer> buffer =
      cache_.size() >= kCacheRows ? std::move(cache_.front().second) : dataSet->NewRecordBuffer();
  if (cache_.size() >= kCacheRows) cache_.pop_front();
  try {
    if (!reader_->ReadRow(row, *buffer)) return nullptr;
  } catch (const std::exception& error) {
    ReportError(error);
    return nullptr;
  }
  cache_.emplace_back(row, std::move(buffer));
  return cache_.back().second.get();
}

QVariant TDataSetModel::CellData(const TRecordBuffer& buffer, const TField& field, int role) const {
  if (OnCellData) {
    QVariant extra = OnCellData(buffer, field, role);
    if (extra.isValid()) return extra;
  }
  switch (role) {
    case Qt::DisplayRole:
      if (const auto* memo = dynamic_cast<const TMemoField*>(&field)) return MemoFirstLine(*memo);
      return field.DisplayText();
    case Qt::EditRole:
      return field.EditText();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(field.Alignment() | Qt::AlignVCenter);
    case Qt::CheckStateRole:
      if (field.DataType() != ftBoolean) return QVariant();
      return field.IsNull() ? Qt::PartiallyChecked
                            : (field.AsBoolean() ? Qt::Checked : Qt::Unchecked);
    default:
      return QVariant();
  }
}

int TDataSetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rowCount_ + (pendingRow_ >= 0 ? 1 : 0);
}

int TDataSetModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  TDataSet* dataSet = DataSet();
  if (!dataSet || !index.isValid() || index.row() >= rowCount() ||
      index.column() >= static_cast<int>(columns_.size()))
    return QVariant();
  const TField& field = *columns_[static_cast<size_t>(index.column())];
  QVariant result;
  if (dataSet->ControlsDisabled()) {
    // A long loop runs over the dataset: paint what was read before, read nothing now.
    const int row = ReaderRow(index.row());
    for (const auto& [cachedRow, buffer] : cache_)
      if (cachedRow == row && row >= 0) {
        try {
          dataSet->ReadFieldsFrom(*buffer, [&] { result = CellData(*buffer, field, role); });
        } catch (const std::exception&) {
          LogSwallowed("showing a cell");
          result = QVariant();
        }
      }
    return result;
  }
  try {
    if (index.row() == currentRow_) {
      // The current record as the dataset holds it, with any pending edit.
      const TRecordBuffer& active = dataSet->Buffer(dataSet->ActiveRecord());
      result = CellData(active, field, role);
    } else if (const TRecordBuffer* buffer = RowBuffer(ReaderRow(index.row()))) {
      dataSet->ReadFieldsFrom(*buffer, [&] { result = CellData(*buffer, field, role); });
    }
  } catch (const std::exception& error) {
    ReportError(error);
  }
  return result;
}

bool TDataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  TDataSet* dataSet = DataSet();
  if (!dataSet || !index.isValid() || index.column() >= static_cast<int>(columns_.size()))
    return false;
  TField& field = *columns_[static_cast<size_t>(index.column())];
  const bool check = role == Qt::CheckStateRole && field.DataType() == ftBoolean;
  if (role != Qt::EditRole && !check) return false;
  if (!GotoRow(index.row())) return false;
  try {
    if (dataSet->State() != dsEdit && dataSet->State() != dsInsert) dataSet->Edit();
    if (check) {
      field.SetAsBoolean(value.toInt() == Qt::Checked);
    } else {
      field.SetAsString(value.toString());
    }
  } catch (const std::exception& error) {
    ReportError(error);
    return false;
  }
  return true;
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || index.column() >= static_cast<int>(columns_.size()))
    return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const TField& field = *columns_[static_cast<size_t>(index.column())];
  if (field.DataType() == ftBoolean) {
    // A check box: toggled, never typed into.
    if (field.CanModify()) flags |= Qt::ItemIsUserCheckable;
  } else if (field.CanModify() && !field.IsBlob()) {
    flags |= Qt::ItemIsEditable;
  }
  return flags;
}

void TDataSetModel::TitlesChanged() {
  if (!columns_.empty())
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(columns_.size()) - 1);
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= static_cast<int>(columns_.size())) return QVariant();
    const TField& field = *columns_[static_cast<size_t>(section)];
    if (OnTitleData) {
      QVariant extra = OnTitleData(field, role);
      if (extra.isValid()) return extra;
    }
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return field.DisplayLabel();
    if (role == Qt::TextAlignmentRole)
      return QVariant::fromValue(field.Alignment() | Qt::AlignVCenter);
    return QVariant();
  }
  if (OnRowTitleData && DataSet() && section >= 0 && section < rowCount() &&
      !DataSet()->ControlsDisabled()) {
    const int readerRow = ReaderRow(section);
    const TRecordBuffer* row = readerRow >= 0 ? RowBuffer(readerRow) : nullptr;
    if (section == currentRow_) row = &DataSet()->Buffer(DataSet()->ActiveRecord());
    QVariant extra = OnRowTitleData(readerRow >= 0 ? row : nullptr, role);
    if (extra.isValid()) return extra;
  }
  if (role == Qt::DisplayRole) return section + 1;
  return QVariant();
}

TField* TDataSetModel::FieldOfColumn(int column) const {
  return column >= 0 && column < static_cast<int>(columns_.size())
             ? columns_[static_cast<size_t>(column)]
             : nullptr;
}

int TDataSetModel::ColumnOfField(const TField* field) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i] == field) return static_cast<int>(i);
  return -1;
}

}  // namespace fendral
