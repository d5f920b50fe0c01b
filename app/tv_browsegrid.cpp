#include "tv_browsegrid.h"

#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <algorithm>

#include "kx6_cnst.h"

namespace fendral {

namespace {

// Display text of a value read outside the dataset, as the dataset's fields show it.
QString DisplayText(const TTVFieldDef& def, const QVariant& value) {
  if (!value.isValid()) return {};
  const QLocale locale;
  switch (def.kind) {
    case TTVFieldKind::String:
      return value.toString();
    case TTVFieldKind::SmallInt:
    case TTVFieldKind::Integer:
      return locale.toString(value.toLongLong());
    case TTVFieldKind::Float:
      return def.decimals >= 0 ? locale.toString(value.toDouble(), 'f', def.decimals)
                               : locale.toString(value.toDouble(), 'g', 15);
    case TTVFieldKind::Date:
      return locale.toString(value.toDate(), QLocale::ShortFormat);
    case TTVFieldKind::DateTime:
      return locale.toString(value.toDateTime(), QLocale::ShortFormat);
    case TTVFieldKind::Boolean:
      return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case TTVFieldKind::Memo:
    case TTVFieldKind::Blob:
      return {};
  }
  return {};
}

// Runs `restore` when the scope ends, however it ends.
template <typename F>
class OnExit {
 public:
  explicit OnExit(F f) : f_(std::move(f)) {}
  ~OnExit() { f_(); }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

 private:
  F f_;
};

}  // namespace

class TBrowseGridModel::Link : public TDataLink {
 public:
  explicit Link(TBrowseGridModel& model) : model_(model) {}
  bool reading = false;

 protected:
  void ActiveChanged() override { model_.ResetAll(); }
  void LayoutChanged() override { model_.ResetAll(); }
  void DataSetChanged() override {
    if (reading) return;
    model_.ReadOrder();
  }
  void DataSetScrolled(int) override {
    if (reading) return;
    emit model_.CurrentMoved();
  }
  void RecordChanged(TField*) override {
    const int row = model_.CurrentRow();
    if (row >= 0)
      emit model_.dataChanged(model_.index(row, 0),
                              model_.index(row, std::max(0, model_.columnCount() - 1)));
  }
  void EditingChanged() override {
    if (reading) return;
    model_.EditingChanged();
  }

 private:
  TBrowseGridModel& model_;
};

TBrowseGridModel::TBrowseGridModel(QObject* parent)
    : QAbstractTableModel(parent), link_(std::make_unique<Link>(*this)) {}

TBrowseGridModel::~TBrowseGridModel() { link_->SetDataSource(nullptr); }

void TBrowseGridModel::SetDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  ResetAll();
}

TTolvernDataSet* TBrowseGridModel::Table() const {
  return dynamic_cast<TTolvernDataSet*>(link_->DataSet());
}

bool TBrowseGridModel::Busy() const {
  TTolvernDataSet* table = Table();
  return table && table->BusyState() != 0;
}

void TBrowseGridModel::ResetAll() {
  beginResetModel();
  columns_.clear();
  defs_.clear();
  reader_.reset();
  records_.clear();
  count_ = 0;
  natural_ = true;
  inserting_ = false;
  cache_.clear();
  TTolvernDataSet* table = Table();
  if (table && link_->Active()) {
    for (int i = 0; i < table->FieldCount(); ++i) {
      TField* field = table->Field(i);
      const TTVFieldDef* def = table->DefOf(*field);
      if (!def || field->FieldKind() != fkData || !field->Visible()) continue;
      columns_.push_back(field);
      defs_.push_back(*def);
    }
    OpenReader();
  }
  endResetModel();
  if (table && link_->Active()) ReadOrder();
}

void TBrowseGridModel::OpenReader() {
  TTolvernDataSet* table = Table();
  reader_.reset();
  if (!table || !table->Active()) return;
  try {
    auto reader = std::make_unique<TTVTableCore>();
    TTVTableCore::OpenOptions options;
    options.readOnly = true;
    options.useDeleted = true;
    reader->Open(table->TableFilePath().toStdString(), options);
    reader->SetCodePage(table->CodePageInUse());
    buffer_.assign(static_cast<size_t>(reader->BufferSize()), 0);
    reader_ = std::move(reader);
  } catch (const std::exception&) {
    reader_.reset();  // rows then show the current record only
  }
}

void TBrowseGridModel::Reload() { ReadOrder(); }

void TBrowseGridModel::EditingChanged() {
  TTolvernDataSet* table = Table();
  if (!table || !link_->Active()) return;
  // Entering an edit never resets the rows: a cell editor may be writing into one of them.
  switch (table->State()) {
    case dsEdit: {
      const int row = CurrentRow();
      if (row >= 0 && !columns_.empty())
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
      return;
    }
    case dsInsert:
      if (!inserting_) {
        beginInsertRows({}, count_, count_);
        inserting_ = true;
        endInsertRows();
      }
      emit CurrentMoved();
      return;
    default:
      // Posted or cancelled: the record may have changed its place in the order.
      ReadOrder();
  }
}

void TBrowseGridModel::ReadOrder() {
  TTolvernDataSet* table = Table();
  if (!table || !link_->Active()) return;
  const bool busy = Busy();
  if (busy) {
    // While the dataset works nothing reads the table; the rows come back at the end.
    busy_ = true;
    return;
  }
  if (busy_ || !reader_) {
    busy_ = false;
    if (!reader_) OpenReader();
  }
  if (reader_) reader_->SetCodePage(table->CodePageInUse());
  const TDataSetState state = table->State();
  beginResetModel();
  cache_.clear();
  inserting_ = state == dsInsert;
  if (state == dsBrowse) {
    DBFObject* handler = table->Handler();
    handler->RefreshHeader();
    natural_ = !handler->CurrentOrder() && table->UseDeleted() && !table->Filtered();
    records_.clear();
    if (natural_) {
      count_ = handler->RecordCount();
    } else {
      // One pass over the order; the dataset's window is read again afterwards, because
      // the pass moved the table's position.
      link_->reading = true;
      OnExit done([&] { link_->reading = false; });
      const TBookmark current = table->GetBookmark();
      records_.reserve(static_cast<size_t>(handler->RecordCount()));
      for (handler->GetRecord(tolvern::PosTop); !handler->Eof();
           handler->GetRecord(tolvern::PosNext))
        records_.push_back(handler->CurrentRecord());
      count_ = static_cast<int>(records_.size());
      try {
        if (current.isEmpty()) throw EAbort();
        table->GotoBookmark(current);
      } catch (const std::exception&) {
        table->First();  // the current record is not in the order (any more)
      }
    }
  }
  endResetModel();
  emit CurrentMoved();
}

int TBrowseGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return count_ + (inserting_ ? 1 : 0);
}

int TBrowseGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

int32_t TBrowseGridModel::RecordOfRow(int row) const {
  if (row < 0 || row >= count_) return 0;
  return natural_ ? row + 1 : records_[static_cast<size_t>(row)];
}

int TBrowseGridModel::CurrentRow() const {
  TTolvernDataSet* table = Table();
  if (!table || !link_->Active() || table->IsEmpty()) return -1;
  if (table->State() == dsInsert) return count_;
  const int recno = table->RecNo();
  if (recno < 1) return -1;
  if (natural_) return recno <= count_ ? recno - 1 : -1;
  auto it = std::find(records_.begin(), records_.end(), recno);
  return it == records_.end() ? -1 : static_cast<int>(it - records_.begin());
}

TField* TBrowseGridModel::FieldOfColumn(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return nullptr;
  return columns_[static_cast<size_t>(column)];
}

int TBrowseGridModel::ColumnOfField(const QString& fieldName) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i]->FieldName().compare(fieldName, Qt::CaseInsensitive) == 0)
      return static_cast<int>(i);
  return -1;
}

void TBrowseGridModel::SetMarkedTitle(const QString& fieldName) {
  markedTitle_ = fieldName;
  if (!columns_.empty()) emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

bool TBrowseGridModel::IsEditRow(int row) const {
  TTolvernDataSet* table = Table();
  if (!table) return false;
  const TDataSetState state = table->State();
  if (state == dsInsert) return row == count_;
  return state == dsEdit && row == CurrentRow();
}

const TBrowseGridModel::Row* TBrowseGridModel::RowAt(int row) const {
  const int32_t recno = RecordOfRow(row);
  if (recno < 1 || !reader_ || Busy()) return nullptr;
  if (const Row* cached = cache_.object(recno)) return cached;
  auto* fresh = new Row;
  try {
    auto& buffer = const_cast<std::vector<uint8_t>&>(buffer_);
    if (reader_->Fetch(recno, buffer.data()) != TTVTableCore::FetchResult::Ok) {
      delete fresh;
      return nullptr;
    }
    fresh->deleted = buffer[0] == '*';
    for (const TTVFieldDef& def : defs_) {
      if (def.kind == TTVFieldKind::Memo)
        fresh->texts << reader_->MemoDisplay(buffer.data(), def);
      else
        fresh->texts << DisplayText(def, reader_->Value(buffer.data(), def));
    }
  } catch (const std::exception&) {
    fresh->texts.clear();
  }
  cache_.insert(recno, fresh);
  return cache_.object(recno);
}

QVariant TBrowseGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int column = index.column();
  TField* field = FieldOfColumn(column);
  if (!field) return {};
  const bool editRow = IsEditRow(index.row());
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      if (editRow) {
        if (role == Qt::EditRole) return field->EditText();
        // The row being edited looks like the rows around it.
        const TTVFieldDef& def = defs_[static_cast<size_t>(column)];
        if (def.kind == TTVFieldKind::Memo) return Table()->FieldDisplayText(*field);
        return DisplayText(def, field->Value());
      }
      if (role == Qt::EditRole && index.row() == CurrentRow()) return field->EditText();
      const Row* row = RowAt(index.row());
      return row && column < row->texts.size() ? row->texts[column] : QString();
    }
    case Qt::BackgroundRole: {
      bool deleted = false;
      if (editRow)
        deleted = Table()->IsDeleted();
      else if (const Row* row = RowAt(index.row()))
        deleted = row->deleted;
      if (deleted) return kDeletedBackground;
      return {};
    }
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(field->Alignment() | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant TBrowseGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    // Rows are titled with their record numbers, whatever the order.
    if (role == Qt::DisplayRole) {
      const int32_t recno = RecordOfRow(section);
      return recno > 0 ? QVariant(recno) : QVariant(QStringLiteral("*"));
    }
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  TField* field = FieldOfColumn(section);
  if (!field) return {};
  const bool marked = !markedTitle_.isEmpty() && field->FieldName() == markedTitle_;
  switch (role) {
    case Qt::DisplayRole:
      return field->DisplayLabel();
    case Qt::BackgroundRole:
      if (marked) return QColor(Qt::red);
      return {};
    case Qt::ForegroundRole:
      if (marked) return QColor(Qt::white);
      return {};
    case Qt::ToolTipRole:
      return marked ? tr("%1 (the order of the grid)").arg(field->FieldName()) : QVariant();
    default:
      return {};
  }
}

Qt::ItemFlags TBrowseGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(index);
  TField* field = FieldOfColumn(index.column());
  TTolvernDataSet* table = Table();
  if (field && table && table->CanModify() && !Busy() && field->DataType() != ftMemo &&
      field->DataType() != ftBlob && !field->ReadOnly())
    flags |= Qt::ItemIsEditable;
  return flags;
}

bool TBrowseGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole) return false;
  TTolvernDataSet* table = Table();
  TField* field = FieldOfColumn(index.column());
  if (!table || !field) return false;
  try {
    if (!IsEditRow(index.row())) {
      const int32_t recno = RecordOfRow(index.row());
      if (recno < 1) return false;
      if (table->RecNo() != recno) table->SetRecNo(recno);
      table->Edit();
    }
    field->SetEditText(value.toString());
  } catch (const EAbort&) {
    return false;
  } catch (const std::exception& error) {
    emit EditFailed(QString::fromUtf8(error.what()));
    return false;
  }
  emit dataChanged(index, index);
  return true;
}

// ---------------------------------------------------------------------------------------

TBrowseGrid::TBrowseGrid(QWidget* parent) : QTableView(parent), model_(new TBrowseGridModel(this)) {
  setModel(model_);
  setObjectName(QStringLiteral("BrowseGrid"));
  setAccessibleName(tr("Records"));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
    if (TField* field = model_->FieldOfColumn(section)) emit TitleClicked(field->FieldName());
  });
  connect(model_, &TBrowseGridModel::CurrentMoved, this, &TBrowseGrid::FollowDataSet);
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    // Column widths from the fields' display widths.
    const int charWidth = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < model_->columnCount(); ++c) {
      TField* field = model_->FieldOfColumn(c);
      const int chars = std::clamp(
          std::max(field->DisplayWidth(), static_cast<int>(field->DisplayLabel().size())), 4, 40);
      setColumnWidth(c, chars * charWidth + 12);
    }
  });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &TBrowseGrid::RowChosen);
}

void TBrowseGrid::FollowDataSet() {
  const int row = model_->CurrentRow();
  if (row < 0) return;
  following_ = true;
  // A reset of the rows forgets the current cell; the column the user was in stays.
  int column = currentIndex().isValid() ? currentIndex().column() : column_;
  if (column >= model_->columnCount()) column = 0;
  const QModelIndex index = model_->index(row, column);
  if (currentIndex() != index) setCurrentIndex(index);
  scrollTo(index);
  following_ = false;
}

void TBrowseGrid::RowChosen(const QModelIndex& current, const QModelIndex& previous) {
  if (current.isValid()) column_ = current.column();
  if (following_ || !current.isValid()) return;
  if (previous.isValid() && previous.row() == current.row()) return;
  TTolvernDataSet* table = model_->Table();
  const int32_t recno = model_->RecordOfRow(current.row());
  if (!table || !table->Active() || recno < 1 || table->BusyState() != 0) return;
  try {
    // Leaving a row posts its edit (the dataset's browse-mode check).
    if (table->RecNo() != recno || table->State() != dsBrowse) table->SetRecNo(recno);
  } catch (const std::exception& error) {
    emit model_->EditFailed(QString::fromUtf8(error.what()));
    FollowDataSet();
  }
}

void TBrowseGrid::SelectField(const QString& fieldName) {
  const int column = model_->ColumnOfField(fieldName);
  const int row = model_->CurrentRow();
  if (column < 0 || row < 0) return;
  following_ = true;
  setCurrentIndex(model_->index(row, column));
  scrollTo(currentIndex());
  following_ = false;
}

}  // namespace fendral
