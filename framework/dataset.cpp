#include "dataset.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QHash>
#include <algorithm>
#include <utility>

#include "datasource.h"
#include "rowreader.h"
#include "tv_log.h"

namespace fendral {

namespace {

// Restores a dataset's state (and the buffer fields read) when a temporary state ends.
template <typename Restore>
class ScopeExit {
 public:
  explicit ScopeExit(Restore restore) : restore_(std::move(restore)) {}
  ~ScopeExit() { restore_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Restore restore_;
};

// The default blob stream: a byte buffer over the field's value, stored back on close().
class FieldBlobStream : public QBuffer {
 public:
  FieldBlobStream(const QByteArray& bytes, std::function<void(const QByteArray&)> commit)
      : commit_(std::move(commit)) {
    setData(bytes);
  }
  void close() override {
    if (isOpen() && (openMode() & QIODevice::WriteOnly) && commit_) {
      auto commit = std::move(commit_);
      commit_ = nullptr;
      const QByteArray bytes = data();
      QBuffer::close();
      commit(bytes);
      return;
    }
    QBuffer::close();
  }

 private:
  std::function<void(const QByteArray&)> commit_;
};

bool IsEditState(TDataSetState state) { return state == dsEdit || state == dsInsert; }

}  // namespace

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_)) source->DataSetDestroyed();
  dataSources_.clear();
  for (auto& field : fields_) field->dataSet_ = nullptr;
}

// ---------------------------------------------------------------- open and close

void TDataSet::SetActive(bool active) {
  if (active)
    Open();
  else
    Close();
}

void TDataSet::Open() {
  if (Active()) return;
  DoEvent(BeforeOpen);
  OpenCursor();
  SetState(dsBrowse);
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecords();
  } catch (...) {
    // A dataset whose first records cannot be read does not stay open half-working.
    SetState(dsInactive);
    CloseCursor();
    throw;
  }
  bof_ = true;
  eof_ = bufferedCount_ == 0;
  DataEvent(deDataSetChange);
  DoEvent(AfterOpen);
}

void TDataSet::OpenCursor() {
  try {
    InternalOpen();
    InternalInitFieldDefs();
    CreateFields();
    BindFields(true);
    bufferCount_ = 0;
    UpdateBufferCount();
  } catch (...) {
    CloseCursor();
    throw;
  }
}

void TDataSet::CloseCursor() {
  for (auto& buffer : buffers_) FreeRecordBuffer(buffer);
  buffers_.clear();
  if (tempBuffer_) FreeRecordBuffer(tempBuffer_);
  bufferCount_ = 0;
  bufferedCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  stateBuffer_ = nullptr;
  BindFields(false);
  DestroyDefaultFields();
  if (IsCursorOpen()) InternalClose();
}

void TDataSet::Close() {
  if (!Active()) return;
  DoEvent(BeforeClose);
  if (IsEditState(state_) || state_ == dsSetKey) {
    // Closing drops an unposted edit, as the user asked to close.
    try {
      if (IsEditState(state_)) InternalCancel();
    } catch (...) {
      LogSwallowed("cancelling an edit while closing");
    }
  }
  SetState(dsInactive);
  bof_ = eof_ = true;
  CloseCursor();
  DoEvent(AfterClose);
}

void TDataSet::CheckActive() const {
  if (state_ == dsInactive)
    DatabaseError(QCoreApplication::translate("Dataset",
                                              "Cannot perform this operation on a closed dataset"));
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive)
    DatabaseError(
        QCoreApplication::translate("Dataset", "Cannot perform this operation on an open dataset"));
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  const TDataSetState saved = state_;
  state_ = state;
  return saved;
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(deUpdateState);
}

// ---------------------------------------------------------------- fields

void TDataSet::UpdateFieldDefs() {
  if (Active()) return;
  InternalInitFieldDefs();
}

void TDataSet::CreateFields() {
  bool persistentData = false;
  for (size_t i = 0; i < fields_.size(); ++i)
    if (!defaultField_[i] && fields_[i]->FieldKind() == fkData) persistentData = true;
  if (persistentData) return;
  std::vector<std::unique_ptr<TField>> created;
  for (int i = 0; i < fieldDefs_.Count(); ++i) created.push_back(CreateField(fieldDefs_[i]));
  std::vector<bool> flags(created.size(), true);
  for (size_t i = 0; i < fields_.size(); ++i) {
    created.push_back(std::move(fields_[i]));
    flags.push_back(false);
  }
  fields_ = std::move(created);
  defaultField_ = std::move(flags);
}

void TDataSet::DestroyDefaultFields() {
  std::vector<std::unique_ptr<TField>> kept;
  for (size_t i = 0; i < fields_.size(); ++i)
    if (!defaultField_[i]) kept.push_back(std::move(fields_[i]));
  fields_ = std::move(kept);
  defaultField_.assign(fields_.size(), false);
  for (size_t i = 0; i < fields_.size(); ++i) fields_[i]->index_ = static_cast<int>(i);
}

void TDataSet::BindFields(bool binding) {
  calcFieldCount_ = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    TField& field = *fields_[i];
    field.dataSet_ = this;
    field.index_ = static_cast<int>(i);
    field.calcIndex_ = -1;
    if (field.FieldKind() == fkCalculated) {
      field.fieldNo_ = 0;
      if (binding) field.calcIndex_ = calcFieldCount_++;
    } else if (binding && !defaultField_[i]) {
      const int def = fieldDefs_.IndexOf(field.FieldName());
      if (def < 0)
        DatabaseError(
            QCoreApplication::translate("Dataset", "Field '%1' not found").arg(field.FieldName()));
      field.fieldNo_ = fieldDefs_[def].FieldNo;
    }
  }
}

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  CheckInactive();
  if (!field) DatabaseError(QCoreApplication::translate("Dataset", "No field to add"));
  if (FindField(field->FieldName()))
    DatabaseError(QCoreApplication::translate("Dataset", "Duplicate field name '%1'")
                      .arg(field->FieldName()));
  field->dataSet_ = this;
  field->index_ = FieldCount();
  fields_.push_back(std::move(field));
  defaultField_.push_back(false);
  return *fields_.back();
}

void TDataSet::ClearFields() {
  CheckInactive();
  fields_.clear();
  defaultField_.clear();
}

TField* TDataSet::FindField(const QString& name) const {
  for (const auto& field : fields_)
    if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0) return field.get();
  return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const {
  TField* field = FindField(name);
  if (!field)
    DatabaseError(QCoreApplication::translate("Dataset", "Field '%1' not found").arg(name));
  return field;
}

TField* TDataSet::FieldByNumber(int fieldNo) const {
  for (const auto& field : fields_)
    if (field->FieldKind() == fkData && field->FieldNo() == fieldNo) return field.get();
  return nullptr;
}

TRecordBuffer* TDataSet::ActiveBuffer() const {
  if (stateBuffer_) return stateBuffer_;
  if (state_ == dsInactive || activeRecord_ >= bufferedCount_) return nullptr;
  return buffers_[static_cast<size_t>(activeRecord_)].get();
}

const TRecordBuffer& TDataSet::Buffer(int index) const {
  if (index < 0 || index >= bufferedCount_)
    DatabaseError(
        QCoreApplication::translate("Dataset", "Record buffer %1 out of range").arg(index));
  return *buffers_[static_cast<size_t>(index)];
}

bool TDataSet::ReadFieldValue(const TField& field, QVariant& value) const {
  const TRecordBuffer* buffer = ActiveBuffer();
  if (!buffer) return false;
  if (field.FieldKind() == fkCalculated) {
    const auto index = static_cast<size_t>(field.calcIndex_);
    if (field.calcIndex_ < 0 || index >= buffer->CalcValues.size()) return false;
    value = buffer->CalcValues[index];
    return value.isValid();
  }
  if (field.FieldNo() <= 0) return false;
  return GetFieldData(field, *buffer, value);
}

void TDataSet::WriteFieldValue(TField& field, const QVariant& value) {
  const TDataSetState state = state_;
  TRecordBuffer* buffer = ActiveBuffer();
  if (state == dsInactive || state == dsBrowse || !buffer)
    DatabaseError(QCoreApplication::translate("Dataset", "Dataset not in edit or insert mode"));
  const bool calculated = field.FieldKind() == fkCalculated;
  if (!calculated) {
    if (state == dsCalcFields)
      DatabaseError(QCoreApplication::translate("Dataset", "Dataset not in edit or insert mode"));
    if (field.ReadOnly() && state != dsSetKey && state != dsFilter)
      DatabaseError(QCoreApplication::translate("Dataset", "Field '%1' cannot be modified")
                        .arg(field.DisplayLabel()));
  } else if (state == dsSetKey) {
    DatabaseError(
        QCoreApplication::translate("Dataset", "Field '%1' is not indexed and cannot be modified")
            .arg(field.DisplayLabel()));
  } else if (field.calcIndex_ < 0) {
    DatabaseError(QCoreApplication::translate("Dataset", "Field '%1' cannot be modified")
                      .arg(field.DisplayLabel()));
  }

  auto store = [&](const QVariant& v) {
    if (calculated) {
      const auto index = static_cast<size_t>(field.calcIndex_);
      if (buffer->CalcValues.size() <= index) buffer->CalcValues.resize(index + 1);
      buffer->CalcValues[index] = v;
    } else {
      SetFieldData(field, *buffer, v);
    }
  };
  QVariant old;
  bool hadOld = false;
  if (field.OnValidate) {
    if (calculated) {
      const auto index = static_cast<size_t>(field.calcIndex_);
      if (index < buffer->CalcValues.size()) old = buffer->CalcValues[index];
      hadOld = old.isValid();
    } else {
      hadOld = GetFieldData(field, *buffer, old);
    }
  }
  store(value);
  if (field.OnValidate) {
    try {
      field.OnValidate(field);
    } catch (...) {
      store(hadOld ? old : QVariant());
      throw;
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    modified_ = true;
    DataEvent(deFieldChange, &field);
  }
  if (field.OnChange) field.OnChange(field);
}

// ---------------------------------------------------------------- buffers

void TDataSet::UpdateBufferCount() {
  if (!Active() && !IsCursorOpen()) return;
  int count = 1;
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->links_) count = std::max(count, link->bufferCount_);
  SetBufferCount(count);
}

void TDataSet::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == bufferCount_ && !buffers_.empty()) return;
  if (count < bufferCount_ && bufferedCount_ > 0) {
    // Keep the active record inside the smaller window.
    int delta = 0;
    if (activeRecord_ >= count) delta = activeRecord_ - count + 1;
    for (int i = 0; i < bufferedCount_ - delta && i < count; ++i) MoveBuffer(i + delta, i);
    activeRecord_ -= delta;
    if (currentRecord_ >= 0) currentRecord_ -= delta;
    if (currentRecord_ < 0 || currentRecord_ >= count) currentRecord_ = -1;
    bufferedCount_ = std::min(bufferedCount_ - delta, count);
    for (TDataSource* source : dataSources_)
      for (TDataLink* link : source->links_)
        link->firstRecord_ = std::max(0, link->firstRecord_ - delta);
  }
  const size_t wanted = static_cast<size_t>(count) + 1;  // one spare
  // Swap the spare to its new place before resizing.
  while (buffers_.size() > wanted) {
    FreeRecordBuffer(buffers_.back());
    buffers_.pop_back();
  }
  while (buffers_.size() < wanted) buffers_.push_back(AllocRecordBuffer());
  bufferCount_ = count;
  if (!tempBuffer_) tempBuffer_ = AllocRecordBuffer();
  if (Active() && bufferedCount_ > 0 && bufferedCount_ < bufferCount_) {
    // A larger window shows the records after the current one, then those before it.
    GetNextRecords();
    GetPriorRecords();
    DataEvent(deDataSetChange);
  }
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  auto begin = buffers_.begin();
  if (from < to)
    std::rotate(begin + from, begin + from + 1, begin + to + 1);
  else
    std::rotate(begin + to, begin + from, begin + from + 1);
}

void TDataSet::ClearBuffers() {
  bufferedCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = eof_ = true;
}

void TDataSet::ActivateBuffers() {
  bufferedCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = eof_ = false;
}

void TDataSet::UpdateCursorPos() {
  if (bufferedCount_ == 0 || currentRecord_ == activeRecord_) return;
  TRecordBuffer& buffer = *buffers_[static_cast<size_t>(activeRecord_)];
  if (buffer.BookmarkFlag != bfCurrent) return;
  InternalSetToRecord(buffer);
  currentRecord_ = activeRecord_;
}

void TDataSet::InitRecord(TRecordBuffer& buffer) {
  InternalInitRecord(buffer);
  buffer.Bookmark.clear();
  buffer.BookmarkFlag = bfInserted;
  buffer.CalcValues.assign(static_cast<size_t>(calcFieldCount_), QVariant());
}

void TDataSet::CalculateFields(TRecordBuffer& buffer) {
  if (calcFieldCount_ == 0) {
    buffer.CalcValues.clear();
    return;
  }
  buffer.CalcValues.assign(static_cast<size_t>(calcFieldCount_), QVariant());
  if (!OnCalcFields) return;
  const TDataSetState saved = state_;
  TRecordBuffer* savedBuffer = stateBuffer_;
  ScopeExit restore([&] {
    state_ = saved;
    stateBuffer_ = savedBuffer;
  });
  state_ = dsCalcFields;
  stateBuffer_ = &buffer;
  OnCalcFields(*this);
}

bool TDataSet::FilterAccepts(TRecordBuffer& buffer) {
  if (!filtered_ || !OnFilterRecord) return true;
  if (calcFieldCount_ > 0) CalculateFields(buffer);
  const TDataSetState saved = state_;
  TRecordBuffer* savedBuffer = stateBuffer_;
  ScopeExit restore([&] {
    state_ = saved;
    stateBuffer_ = savedBuffer;
  });
  state_ = dsFilter;
  stateBuffer_ = &buffer;
  bool accept = true;
  OnFilterRecord(*this, accept);
  return accept;
}

bool TDataSet::GetNextRecord() {
  if (bufferedCount_ > 0 && currentRecord_ != bufferedCount_ - 1) {
    TRecordBuffer& last = *buffers_[static_cast<size_t>(bufferedCount_ - 1)];
    if (last.BookmarkFlag != bfCurrent) return false;  // nothing follows an appended record
    InternalSetToRecord(last);
    currentRecord_ = bufferedCount_ - 1;
  }
  const bool grow = bufferedCount_ < bufferCount_;
  TRecordBuffer& target = *buffers_[static_cast<size_t>(grow ? bufferedCount_ : bufferCount_)];
  if (GetRecord(target, gmNext, true) != grOK) {
    // The cursor may have moved past the last buffered record.
    currentRecord_ = -1;
    return false;
  }
  target.BookmarkFlag = bfCurrent;
  CalculateFields(target);
  if (bufferedCount_ == 0) {
    ActivateBuffers();
  } else if (grow) {
    ++bufferedCount_;
  } else {
    MoveBuffer(0, bufferCount_);  // the first record leaves, the new one is last
    activeRecord_ = std::max(0, activeRecord_ - 1);
    scrollShift_ += 1;
  }
  currentRecord_ = bufferedCount_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (bufferedCount_ > 0 && currentRecord_ != 0) {
    if (buffers_[0]->BookmarkFlag != bfCurrent) return false;
    InternalSetToRecord(*buffers_[0]);
    currentRecord_ = 0;
  }
  TRecordBuffer& target = *buffers_[static_cast<size_t>(bufferCount_)];  // the spare
  if (GetRecord(target, gmPrior, true) != grOK) {
    currentRecord_ = -1;
    return false;
  }
  target.BookmarkFlag = bfCurrent;
  CalculateFields(target);
  MoveBuffer(bufferCount_, 0);  // the spare becomes the first; the last becomes the spare
  if (bufferedCount_ == 0) {
    ActivateBuffers();
  } else {
    if (bufferedCount_ < bufferCount_) ++bufferedCount_;
    activeRecord_ = std::min(activeRecord_ + 1, bufferedCount_ - 1);
    scrollShift_ -= 1;
  }
  currentRecord_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (bufferedCount_ < bufferCount_ && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (bufferedCount_ < bufferCount_ && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::ReadCurrentRecord(TRecordBuffer& buffer) {
  if (GetRecord(buffer, gmCurrent, true) == grOK) {
    buffer.BookmarkFlag = bfCurrent;
    CalculateFields(buffer);
  }
}

void TDataSet::Resync(int mode) {
  CheckActive();
  TRecordBuffer& spare = *buffers_[static_cast<size_t>(bufferCount_)];
  if (mode & rmExact) {
    currentRecord_ = -1;
    if (GetRecord(spare, gmCurrent, false) != grOK)
      DatabaseError(QCoreApplication::translate("Dataset", "Record not found"));
  } else if (GetRecord(spare, gmCurrent, false) != grOK &&
             GetRecord(spare, gmNext, false) != grOK && GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  spare.BookmarkFlag = bfCurrent;
  CalculateFields(spare);
  int before =
      (mode & rmCenter) ? (bufferCount_ - 1) / 2 : std::min(activeRecord_, bufferCount_ - 1);
  MoveBuffer(bufferCount_, 0);
  ActivateBuffers();
  while (before > 0 && GetPriorRecord()) --before;
  GetNextRecords();
  GetPriorRecords();
  DataEvent(deDataSetChange);
}

// ---------------------------------------------------------------- navigation

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    eof_ = bufferedCount_ == 0;
    DataEvent(deDataSetChange);
    throw;
  }
  bof_ = true;
  eof_ = bufferedCount_ == 0;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    bof_ = bufferedCount_ == 0;
    DataEvent(deDataSetChange);
    throw;
  }
  eof_ = true;
  bof_ = bufferedCount_ == 0;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  if (distance == 0 || (distance > 0 && eof_) || (distance < 0 && bof_)) return 0;
  DoBeforeScroll();
  bof_ = eof_ = false;
  scrollShift_ = 0;
  const int oldActive = activeRecord_;
  int moved = 0;
  bool reached = false;
  try {
    while (distance > 0) {
      if (activeRecord_ < bufferedCount_ - 1) {
        ++activeRecord_;
      } else if (GetNextRecord()) {
        activeRecord_ = bufferedCount_ - 1;
      } else {
        eof_ = true;
        reached = true;
        break;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (activeRecord_ > 0) {
        --activeRecord_;
      } else if (GetPriorRecord()) {
        activeRecord_ = 0;
      } else {
        bof_ = true;
        reached = true;
        break;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    const int shift = scrollShift_;
    DataEvent(deDataSetScroll, &shift);
    throw;
  }
  (void)reached;
  (void)oldActive;
  const int shift = scrollShift_;
  DataEvent(deDataSetScroll, &shift);
  DoAfterScroll();
  return moved;
}

bool TDataSet::IsEmpty() const { return bof_ && eof_ && !IsEditState(state_); }

int TDataSet::RecordCount() const {
  CheckActive();
  return GetRecordCount();
}

int TDataSet::RecNo() const {
  if (!Active()) return -1;
  return GetRecNo();
}

void TDataSet::SetRecNo(int recNo) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetRecNoHook(recNo);
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

TBookmark TDataSet::GetBookmark() const {
  if (!Active() || bufferedCount_ == 0 || activeRecord_ >= bufferedCount_) return TBookmark();
  const TRecordBuffer& buffer = *buffers_[static_cast<size_t>(activeRecord_)];
  return buffer.BookmarkFlag == bfCurrent ? buffer.Bookmark : TBookmark();
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.isEmpty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) const { return !bookmark.isEmpty(); }

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (a.isEmpty() || b.isEmpty()) return a.isEmpty() ? (b.isEmpty() ? 0 : -1) : 1;
  return a < b ? -1 : (b < a ? 1 : 0);
}

// ---------------------------------------------------------------- editing

void TDataSet::RunWithErrorEvent(const TDataSetErrorEvent& event, const std::function<void()>& op) {
  for (;;) {
    try {
      op();
      return;
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& error) {
      if (!event) throw;
      TDataAction action = daFail;
      event(*this, error, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

void TDataSet::Edit() {
  if (IsEditState(state_)) return;
  if (bufferedCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  if (!CanModify())
    DatabaseError(QCoreApplication::translate("Dataset", "Cannot modify a read-only dataset"));
  DoEvent(BeforeEdit);
  UpdateCursorPos();
  RunWithErrorEvent(OnEditError, [this] {
    InternalEdit();
    // Edit the record as it is now (another program may have changed it); when it cannot
    // be read, the edit is undone so no lock stays behind.
    try {
      ReadCurrentRecord(*buffers_[static_cast<size_t>(activeRecord_)]);
    } catch (...) {
      InternalCancel();
      throw;
    }
  });
  SetState(dsEdit);
  DataEvent(deRecordChange);
  DoEvent(AfterEdit);
}

void TDataSet::BeginInsertAppend(bool append) {
  CheckBrowseMode();
  if (!CanModify())
    DatabaseError(QCoreApplication::translate("Dataset", "Cannot modify a read-only dataset"));
  DoEvent(BeforeInsert);
  DoBeforeScroll();
  insertAnchor_.clear();
  if (!append) {
    UpdateCursorPos();
    insertAnchor_ = GetBookmark();
    const int at = bufferedCount_ == 0 ? 0 : activeRecord_;
    MoveBuffer(bufferCount_, at);  // the spare becomes the new buffer
    if (bufferedCount_ < bufferCount_) ++bufferedCount_;
    activeRecord_ = at;
    if (bufferedCount_ == 1) bof_ = eof_ = false;
    // The cursor's record moved one row down (or out of the window).
    currentRecord_ =
        currentRecord_ >= 0 && currentRecord_ + 1 < bufferedCount_ ? currentRecord_ + 1 : -1;
    InitRecord(*buffers_[static_cast<size_t>(at)]);
  } else {
    ClearBuffers();
    InternalLast();
    InitRecord(*buffers_[0]);
    buffers_[0]->BookmarkFlag = bfEOF;
    bufferedCount_ = 1;
    activeRecord_ = 0;
    currentRecord_ = 0;  // the cursor stands after the last record, as if on this buffer
    bof_ = eof_ = false;
    GetPriorRecords();
    InternalLast();  // the cursor waits after the last record, where the new one goes
    currentRecord_ = -1;
  }
  InternalInsert();
  SetState(dsInsert);
  try {
    DoEvent(OnNewRecord);
  } catch (...) {
    Cancel();
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange);
  DoEvent(AfterInsert);
  DoAfterScroll();
}

void TDataSet::ReturnToBrowse() {
  // The window is read from the cursor before anyone hears of the new state: listeners (a
  // grid's row reader) may move the cursor.
  const TDataSetState old = state_;
  state_ = dsBrowse;
  modified_ = false;
  try {
    Resync(0);
  } catch (...) {
    if (old != dsBrowse) DataEvent(deUpdateState);
    throw;
  }
  if (old != dsBrowse) DataEvent(deUpdateState);
}

void TDataSet::Insert() { BeginInsertAppend(false); }

void TDataSet::Append() { BeginInsertAppend(true); }

void TDataSet::AppendRecord(const std::vector<QVariant>& values) {
  Append();
  try {
    for (size_t i = 0; i < values.size() && i < fields_.size(); ++i)
      if (values[i].isValid()) fields_[i]->SetValue(values[i]);
    Post();
  } catch (...) {
    if (IsEditState(state_)) Cancel();
    throw;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditState(state_) && state_ != dsSetKey)
    DatabaseError(QCoreApplication::translate("Dataset", "Dataset not in edit or insert mode"));
  DataEvent(deUpdateRecord);
}

void TDataSet::Post() {
  if (state_ == dsSetKey) {
    stateBuffer_ = nullptr;
    SetState(dsBrowse);
    DataEvent(deDataSetChange);
    return;
  }
  if (!IsEditState(state_)) {
    CheckActive();
    DatabaseError(QCoreApplication::translate("Dataset", "Dataset not in edit or insert mode"));
  }
  UpdateRecord();
  DoEvent(BeforePost);
  for (const auto& field : fields_)
    if (field->Required() && field->FieldKind() == fkData && field->IsNull()) {
      field->FocusControl();
      DatabaseError(QCoreApplication::translate("Dataset", "Field '%1' must have a value")
                        .arg(field->DisplayLabel()));
    }
  if (state_ == dsEdit) {
    UpdateCursorPos();
  } else if (!insertAnchor_.isEmpty() && ActiveBuffer()->BookmarkFlag == bfInserted) {
    // Row readers may have moved the cursor meanwhile: the new record goes before its anchor.
    // An anchor that is gone (deleted by another program) must not stop the post; the
    // record is then placed wherever the dataset puts records without one.
    try {
      InternalGotoBookmark(insertAnchor_);
    } catch (const std::exception&) {
      LogSwallowed("going back to where a record was being inserted");
      insertAnchor_.clear();
    }
  }
  RunWithErrorEvent(OnPostError, [this] { InternalPost(); });
  insertAnchor_.clear();
  currentRecord_ = -1;
  ReturnToBrowse();
  DoEvent(AfterPost);
}

void TDataSet::Cancel() {
  if (state_ == dsSetKey) {
    stateBuffer_ = nullptr;
    SetState(dsBrowse);
    DataEvent(deDataSetChange);
    return;
  }
  if (!IsEditState(state_)) return;
  DataEvent(deCheckBrowseMode);
  DoEvent(BeforeCancel);
  const bool inserting = state_ == dsInsert;
  InternalCancel();
  if (inserting) {
    // Drop the new buffer and go back to the record the new one was to precede, or after
    // the last record for an append; the window is rebuilt from there with the current row
    // where it was.
    MoveBuffer(activeRecord_, bufferCount_);
    currentRecord_ = -1;
    const TBookmark anchor = std::exchange(insertAnchor_, TBookmark());
    bool placed = false;
    if (!anchor.isEmpty() && BookmarkValid(anchor)) {
      try {
        InternalGotoBookmark(anchor);
        placed = true;
      } catch (const std::exception&) {
        // The record is gone meanwhile: fall back to the end.
        LogSwallowed("placing a new record");
      }
    }
    if (!placed) InternalLast();
  } else {
    currentRecord_ = -1;
    UpdateCursorPos();
  }
  ReturnToBrowse();
  DoEvent(AfterCancel);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (bufferedCount_ == 0)
    DatabaseError(QCoreApplication::translate("Dataset",
                                              "Cannot perform this operation on an empty dataset"));
  DataEvent(deCheckBrowseMode);
  DoEvent(BeforeDelete);
  DoBeforeScroll();
  UpdateCursorPos();
  RunWithErrorEvent(OnDeleteError, [this] { InternalDelete(); });
  currentRecord_ = -1;
  ReturnToBrowse();
  DoEvent(AfterDelete);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  currentRecord_ = -1;
  Resync(0);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::SetKey() {
  CheckBrowseMode();
  if (!tempBuffer_) tempBuffer_ = AllocRecordBuffer();
  InitRecord(*tempBuffer_);
  stateBuffer_ = tempBuffer_.get();
  SetState(dsSetKey);
  DataEvent(deDataSetChange);
}

void TDataSet::SetFiltered(bool filtered) {
  if (filtered_ == filtered) return;
  if (Active()) {
    CheckBrowseMode();
    filtered_ = filtered;
    First();
  } else {
    filtered_ = filtered;
  }
}

// ---------------------------------------------------------------- controls and events

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disabledState_ = state_;
    pendingChange_ = false;
    pendingReplaced_ = false;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ > 0) return;
  if (disabledState_ != state_) DataEvent(deUpdateState);
  if (state_ != dsInactive && pendingReplaced_)
    DataEvent(deRecordsReplaced);
  else if (state_ != dsInactive && (pendingChange_ || disabledState_ != state_))
    DataEvent(deDataSetChange);
  pendingChange_ = false;
  pendingReplaced_ = false;
}

void TDataSet::DataEvent(TDataEvent event, const void* info) {
  if (event == deFieldChange && autoCalcFields_ && calcFieldCount_ > 0 && info &&
      static_cast<const TField*>(info)->FieldKind() == fkData && state_ != dsCalcFields) {
    if (TRecordBuffer* buffer = ActiveBuffer()) CalculateFields(*buffer);
  }
  if (disableCount_ > 0) {
    // Links must still hand over pending edits, and learn that the dataset closed.
    const bool passes = event == deUpdateRecord || (event == deUpdateState && state_ == dsInactive);
    if (!passes) {
      if (event != deCheckBrowseMode && event != deFocusControl) pendingChange_ = true;
      if (event == deRecordsReplaced) pendingReplaced_ = true;
      return;
    }
    // The links saw the dataset close: a reopen before EnableControls must be told.
    if (event == deUpdateState) disabledState_ = dsInactive;
  }
  if (dataSources_.empty()) return;
  // A copy: a notified source may add or remove sources.
  for (TDataSource* source : std::vector<TDataSource*>(dataSources_))
    source->NotifyDataEvent(event, info);
}

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(dataSources_.begin(), dataSources_.end(), source) == dataSources_.end())
    dataSources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source),
                     dataSources_.end());
  UpdateBufferCount();
}

// ---------------------------------------------------------------- searching

namespace {

bool ValueMatches(const TField& field, const QVariant& key, TLocateOptions options) {
  if (!key.isValid() || key.isNull()) return field.IsNull();
  if (field.IsNull()) return false;
  switch (field.DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat: {
      bool ok = false;
      const double k = key.toDouble(&ok);
      if (ok) return field.AsFloat() == k;
      break;
    }
    case ftDate:
      if (key.typeId() == QMetaType::QDate) return field.Value().toDate() == key.toDate();
      break;
    case ftDateTime:
      if (key.typeId() == QMetaType::QDateTime) return field.AsDateTime() == key.toDateTime();
      break;
    case ftBoolean:
      if (key.typeId() == QMetaType::Bool) return field.AsBoolean() == key.toBool();
      break;
    default:
      break;
  }
  const QString value = field.AsString();
  const QString wanted = key.toString();
  const Qt::CaseSensitivity cs =
      (options & loCaseInsensitive) ? Qt::CaseInsensitive : Qt::CaseSensitive;
  if (options & loPartialKey) return value.startsWith(wanted, cs);
  return value.compare(wanted, cs) == 0;
}

}  // namespace

bool TDataSet::ScanFor(const QString& keyFields, const QVariant& keyValues,
                       TLocateOptions options) {
  std::vector<TField*> keys;
  for (const QString& name : keyFields.split(QLatin1Char(';'), Qt::SkipEmptyParts))
    keys.push_back(FieldByName(name.trimmed()));
  if (keys.empty())
    DatabaseError(QCoreApplication::translate("Dataset", "No key fields to search"));
  QVariantList values;
  if (keys.size() == 1)
    values.append(keyValues);
  else
    values = keyValues.toList();
  if (values.size() != static_cast<qsizetype>(keys.size()))
    DatabaseError(
        QCoreApplication::translate("Dataset", "The search has %1 key fields but %2 values")
            .arg(keys.size())
            .arg(values.size()));
  if (!tempBuffer_) tempBuffer_ = AllocRecordBuffer();
  TRecordBuffer& buffer = *tempBuffer_;
  TRecordBuffer* savedBuffer = stateBuffer_;
  ScopeExit restore([&] { stateBuffer_ = savedBuffer; });
  currentRecord_ = -1;  // the cursor leaves the window's records
  InternalFirst();
  while (GetRecord(buffer, gmNext, false) == grOK) {
    buffer.BookmarkFlag = bfCurrent;
    CalculateFields(buffer);
    stateBuffer_ = &buffer;
    bool match = true;
    for (size_t i = 0; i < keys.size() && match; ++i)
      match = ValueMatches(*keys[i], values[static_cast<qsizetype>(i)], options);
    stateBuffer_ = savedBuffer;
    if (match) return true;
  }
  return false;
}

bool TDataSet::Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) {
  CheckBrowseMode();
  if (IsEmpty()) return false;
  DoBeforeScroll();
  if (!ScanFor(keyFields, keyValues, options)) return false;
  Resync(rmExact | rmCenter);
  DoAfterScroll();
  return true;
}

QVariant TDataSet::Lookup(const QString& keyFields, const QVariant& keyValues,
                          const QString& resultFields) {
  CheckBrowseMode();
  if (IsEmpty()) return QVariant();
  if (!ScanFor(keyFields, keyValues, 0)) return QVariant();
  TRecordBuffer* savedBuffer = stateBuffer_;
  ScopeExit restore([&] { stateBuffer_ = savedBuffer; });
  stateBuffer_ = tempBuffer_.get();
  const QStringList names = resultFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  if (names.size() == 1) return FieldByName(names[0].trimmed())->Value();
  QVariantList result;
  for (const QString& name : names) result.append(FieldByName(name.trimmed())->Value());
  return result;
}

// ---------------------------------------------------------------- row readers

// The default row reader: one pass over the cursor collects the rows' bookmarks; each row
// is then read through its bookmark. The cursor moves, the current record does not (the
// dataset re-positions its cursor before it next moves).
class TCursorRowReader : public TRowReader {
 public:
  explicit TCursorRowReader(TDataSet& dataSet) : dataSet_(dataSet) {}

  int RowCount() override {
    Load();
    return static_cast<int>(marks_.size());
  }

  bool ReadRow(int row, TRecordBuffer& buffer) override {
    Load();
    if (row < 0 || row >= static_cast<int>(marks_.size())) return false;
    dataSet_.currentRecord_ = -1;
    try {
      dataSet_.InternalGotoBookmark(marks_[static_cast<size_t>(row)]);
    } catch (const EDatabaseError&) {
      LogSwallowed("reading a row");
      return false;  // the record went away; the next Invalidate forgets it
    }
    if (dataSet_.GetRecord(buffer, gmCurrent, false) != grOK) return false;
    buffer.BookmarkFlag = bfCurrent;
    dataSet_.CalculateFields(buffer);
    return true;
  }

  int RowOf(const TBookmark& bookmark) override {
    Load();
    return rows_.value(bookmark, -1);
  }

  void Invalidate() override {
    loaded_ = false;
    marks_.clear();
    rows_.clear();
  }

 private:
  void Load() {
    if (loaded_ || !dataSet_.Active()) return;
    std::unique_ptr<TRecordBuffer> buffer = dataSet_.AllocRecordBuffer();
    dataSet_.currentRecord_ = -1;
    dataSet_.InternalFirst();
    while (dataSet_.GetRecord(*buffer, gmNext, false) == grOK) {
      rows_.insert(buffer->Bookmark, static_cast<int>(marks_.size()));
      marks_.push_back(buffer->Bookmark);
    }
    loaded_ = true;
  }

  TDataSet& dataSet_;
  bool loaded_ = false;
  std::vector<TBookmark> marks_;
  QHash<TBookmark, int> rows_;
};

std::unique_ptr<TRowReader> TDataSet::CreateRowReader() {
  return std::make_unique<TCursorRowReader>(*this);
}

void TDataSet::ReadFieldsFrom(const TRecordBuffer& buffer,
                              const std::function<void()>& read) const {
  TRecordBuffer* saved = stateBuffer_;
  ScopeExit restore([&] { stateBuffer_ = saved; });
  stateBuffer_ = const_cast<TRecordBuffer*>(&buffer);
  read();
}

// ---------------------------------------------------------------- blobs

std::unique_ptr<QIODevice> TDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  CheckActive();
  QByteArray bytes;
  if (mode != bmWrite) {
    QVariant value;
    if (ReadFieldValue(field, value)) bytes = value.toByteArray();
  }
  std::function<void(const QByteArray&)> commit;
  if (mode != bmRead) {
    if (!IsEditState(state_) && state_ != dsSetKey)
      DatabaseError(QCoreApplication::translate("Dataset", "Dataset not in edit or insert mode"));
    commit = [this, &field](const QByteArray& written) {
      WriteFieldValue(field, written.isEmpty() ? QVariant() : QVariant(written));
    };
  }
  auto stream = std::make_unique<FieldBlobStream>(bytes, std::move(commit));
  const QIODevice::OpenMode openMode = mode == bmRead    ? QIODevice::ReadOnly
                                       : mode == bmWrite ? QIODevice::WriteOnly
                                                         : QIODevice::ReadWrite;
  stream->open(openMode);
  return stream;
}

QString TDataSet::BlobToText(const TField&, const QByteArray& bytes) const {
  return QString::fromUtf8(bytes);
}

QByteArray TDataSet::TextToBlob(const TField&, const QString& text) const { return text.toUtf8(); }

}  // namespace fendral
