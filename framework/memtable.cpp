#include "memtable.h"

#include <QCoreApplication>
#include <QtEndian>
#include <algorithm>

namespace fendral {

namespace {

struct MemBuffer : TRecordBuffer {
  std::vector<QVariant> values;
};

MemBuffer& AsMem(TRecordBuffer& buffer) { return static_cast<MemBuffer&>(buffer); }
const MemBuffer& AsMem(const TRecordBuffer& buffer) {
  return static_cast<const MemBuffer&>(buffer);
}

TBookmark BookmarkOf(quint64 id) {
  TBookmark bookmark(8, '\0');
  qToBigEndian(id, bookmark.data());  // big-endian: byte order equals numeric order
  return bookmark;
}

bool IdOf(const TBookmark& bookmark, quint64& id) {
  if (bookmark.size() != 8) return false;
  id = qFromBigEndian<quint64>(bookmark.constData());
  return true;
}

// Orders keys: no value first, then by value of the column's type.
int CompareKeys(const QVariant& a, const QVariant& b) {
  const bool aNull = !a.isValid(), bNull = !b.isValid();
  if (aNull || bNull) return aNull == bNull ? 0 : (aNull ? -1 : 1);
  const QPartialOrdering order = QVariant::compare(a, b);
  if (order == QPartialOrdering::Less) return -1;
  if (order == QPartialOrdering::Greater) return 1;
  return 0;
}

}  // namespace

TMemTable::TMemTable() = default;

TMemTable::~TMemTable() { Close(); }

void TMemTable::InternalOpen() {
  if (FieldDefs().Count() == 0)
    DatabaseError(
        QCoreApplication::translate("Dataset", "The in-memory table has no field definitions"));
  if (!indexFieldName_.isEmpty() && FieldDefs().IndexOf(indexFieldName_) < 0)
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' not found").arg(indexFieldName_));
  rows_.clear();
  cursor_ = -1;
  open_ = true;
}

void TMemTable::InternalClose() {
  rows_.clear();
  cursor_ = -1;
  open_ = false;
}

std::unique_ptr<TRecordBuffer> TMemTable::AllocRecordBuffer() {
  auto buffer = std::make_unique<MemBuffer>();
  buffer->values.resize(static_cast<size_t>(FieldDefs().Count()));
  return buffer;
}

void TMemTable::InternalInitRecord(TRecordBuffer& buffer) {
  AsMem(buffer).values.assign(static_cast<size_t>(FieldDefs().Count()), QVariant());
}

TGetResult TMemTable::GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) {
  const int count = static_cast<int>(rows_.size());
  for (;;) {
    switch (mode) {
      case gmNext:
        if (cursor_ < count) ++cursor_;
        if (cursor_ >= count) return grEOF;
        break;
      case gmPrior:
        if (cursor_ >= 0) --cursor_;
        if (cursor_ < 0) return grBOF;
        break;
      case gmCurrent:
        if (cursor_ < 0 || cursor_ >= count) {
          if (doCheck) DatabaseError(QCoreApplication::translate("Dataset", "Record not found"));
          return grError;
        }
        break;
    }
    const Row& row = rows_[static_cast<size_t>(cursor_)];
    AsMem(buffer).values = row.values;
    buffer.Bookmark = BookmarkOf(row.id);
    if (FilterAccepts(buffer)) return grOK;
    if (mode == gmCurrent) {
      if (doCheck) DatabaseError(QCoreApplication::translate("Dataset", "Record not found"));
      return grError;
    }
  }
}

void TMemTable::InternalGotoBookmark(const TBookmark& bookmark) {
  quint64 id = 0;
  const int row = IdOf(bookmark, id) ? FindRow(id) : -1;
  if (row < 0) DatabaseError(QCoreApplication::translate("Dataset", "Record not found"));
  cursor_ = row;
}

bool TMemTable::GetFieldData(const TField& field, const TRecordBuffer& buffer,
                             QVariant& value) const {
  const auto& values = AsMem(buffer).values;
  const auto index = static_cast<size_t>(field.FieldNo() - 1);
  if (field.FieldNo() < 1 || index >= values.size() || !values[index].isValid()) return false;
  value = values[index];
  return true;
}

void TMemTable::SetFieldData(const TField& field, TRecordBuffer& buffer, const QVariant& value) {
  auto& values = AsMem(buffer).values;
  const auto index = static_cast<size_t>(field.FieldNo() - 1);
  if (field.FieldNo() < 1 || index >= values.size())
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' not found").arg(field.FieldName()));
  values[index] = value;
}

int TMemTable::KeyColumn() const {
  return indexFieldName_.isEmpty() ? -1 : FieldDefs().IndexOf(indexFieldName_);
}

int TMemTable::SortedPosition(const QVariant& key, int skip) const {
  const int column = KeyColumn();
  int position = 0;
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    if (i == skip) continue;
    if (CompareKeys(rows_[static_cast<size_t>(i)].values[static_cast<size_t>(column)], key) <= 0)
      position = i + 1;
  }
  return position;
}

int TMemTable::FindRow(quint64 id) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].id == id) return static_cast<int>(i);
  return -1;
}

void TMemTable::InternalPost() {
  TRecordBuffer* buffer = ActiveBuffer();
  if (!buffer)
    DatabaseError(QCoreApplication::translate("Dataset", "Dataset not in edit or insert mode"));
  const std::vector<QVariant>& values = AsMem(*buffer).values;
  const int column = KeyColumn();
  if (State() == dsEdit) {
    quint64 id = 0;
    const int at = IdOf(buffer->Bookmark, id) ? FindRow(id) : -1;
    if (at < 0) DatabaseError(QCoreApplication::translate("Dataset", "Record not found"));
    Row& row = rows_[static_cast<size_t>(at)];
    const bool keyChanged = column >= 0 && CompareKeys(row.values[static_cast<size_t>(column)],
                                                       values[static_cast<size_t>(column)]) != 0;
    row.values = values;
    cursor_ = at;
    if (keyChanged) {
      Row moved = std::move(row);
      int to = SortedPosition(moved.values[static_cast<size_t>(column)], at);
      rows_.erase(rows_.begin() + at);
      if (to > at) --to;
      rows_.insert(rows_.begin() + to, std::move(moved));
      cursor_ = to;
    }
    return;
  }
  Row row{nextId_++, values};
  int to;
  if (column >= 0)
    to = SortedPosition(values[static_cast<size_t>(column)], -1);
  else if (buffer->BookmarkFlag == bfEOF)
    to = static_cast<int>(rows_.size());
  else
    to = std::clamp(cursor_, 0, static_cast<int>(rows_.size()));
  rows_.insert(rows_.begin() + to, std::move(row));
  cursor_ = to;
}

void TMemTable::InternalDelete() {
  if (cursor_ < 0 || cursor_ >= static_cast<int>(rows_.size()))
    DatabaseError(QCoreApplication::translate("Dataset", "Record not found"));
  rows_.erase(rows_.begin() + cursor_);
  if (cursor_ >= static_cast<int>(rows_.size())) cursor_ = static_cast<int>(rows_.size()) - 1;
}

int TMemTable::GetRecNo() const {
  const TRecordBuffer* buffer = ActiveBuffer();
  quint64 id = 0;
  if (!buffer || buffer->BookmarkFlag != bfCurrent || !IdOf(buffer->Bookmark, id)) return -1;
  const int row = FindRow(id);
  return row < 0 ? -1 : row + 1;
}

void TMemTable::SetRecNoHook(int recNo) {
  if (recNo < 1 || recNo > static_cast<int>(rows_.size()))
    DatabaseError(QCoreApplication::translate("Dataset", "Record %1 not found").arg(recNo));
  cursor_ = recNo - 1;
}

bool TMemTable::BookmarkValid(const TBookmark& bookmark) const {
  quint64 id = 0;
  return IdOf(bookmark, id) && FindRow(id) >= 0;
}

int TMemTable::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  quint64 ia = 0, ib = 0;
  const int ra = IdOf(a, ia) ? FindRow(ia) : -1;
  const int rb = IdOf(b, ib) ? FindRow(ib) : -1;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

void TMemTable::SortRows() {
  const int column = KeyColumn();
  if (column < 0) return;
  std::stable_sort(rows_.begin(), rows_.end(), [column](const Row& a, const Row& b) {
    return CompareKeys(a.values[static_cast<size_t>(column)],
                       b.values[static_cast<size_t>(column)]) < 0;
  });
}

void TMemTable::SetIndexFieldName(const QString& name) {
  if (!Active()) {
    indexFieldName_ = name;
    return;
  }
  if (!name.isEmpty() && FieldDefs().IndexOf(name) < 0)
    DatabaseError(QCoreApplication::translate("Dataset", "Field '%1' not found").arg(name));
  CheckBrowseMode();
  indexFieldName_ = name;
  SortRows();
  First();
}

void TMemTable::EmptyTable() {
  if (!Active()) {
    rows_.clear();
    return;
  }
  Cancel();
  rows_.clear();
  cursor_ = -1;
  First();
}

}  // namespace fendral
