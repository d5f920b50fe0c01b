#include "datasource.h"

#include <QCoreApplication>
#include <algorithm>

namespace fendral {

// ---------------------------------------------------------------- TDataSource

TDataSource::TDataSource(TDataSet* dataSet) { SetDataSet(dataSet); }

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->SetDataSource(nullptr);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet_ == dataSet) return;
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = dataSet;
  if (dataSet_) dataSet_->AddDataSource(this);
  SetState(dataSet_ && enabled_ ? dataSet_->State() : dsInactive);
}

void TDataSource::DataSetDestroyed() {
  dataSet_ = nullptr;
  SetState(dsInactive);
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  SetState(dataSet_ && enabled_ ? dataSet_->State() : dsInactive);
}

void TDataSource::Edit() {
  if (autoEdit_ && state_ == dsBrowse && dataSet_) dataSet_->Edit();
}

bool TDataSource::IsLinkedTo(const TDataSet* dataSet) const {
  if (!dataSet) return false;
  std::vector<const TDataSource*> seen;
  for (const TDataSource* source = this; source != nullptr;) {
    // A chain that loops without reaching `dataSet` does not reach it.
    if (std::find(seen.begin(), seen.end(), source) != seen.end()) return false;
    seen.push_back(source);
    const TDataSet* current = source->DataSet();
    if (!current) return false;
    if (current == dataSet) return true;
    source = current->MasterDataSource();
  }
  return false;
}

void TDataSource::AddLink(TDataLink* link) {
  links_.push_back(link);
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataSet_) dataSet_->UpdateBufferCount();
}

void TDataSource::SetState(TDataSetState state) {
  if (state_ == state) return;
  const TDataSetState prior = state_;
  state_ = state;
  NotifyLinks(deUpdateState, nullptr);
  if (OnStateChange) OnStateChange(*this);
  if (prior == dsInactive && OnDataChange) OnDataChange(*this, nullptr);
}

void TDataSource::NotifyLinks(TDataEvent event, const void* info) {
  for (TDataLink* link : std::vector<TDataLink*>(links_))
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(event, info);
}

void TDataSource::NotifyDataEvent(TDataEvent event, const void* info) {
  if (event == deUpdateState) {
    SetState(enabled_ && dataSet_ ? dataSet_->State() : dsInactive);
    return;
  }
  if (state_ == dsInactive) return;
  NotifyLinks(event, info);
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (OnDataChange) OnDataChange(*this, const_cast<TField*>(static_cast<const TField*>(info)));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
    case deRecordsReplaced:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------- TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (dataSource_ == source) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

int TDataLink::ActiveRecord() const {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet) return 0;
  return dataSet->activeRecord_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int row) {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet) return;
  const int index = row + firstRecord_;
  if (index < 0 || index >= std::max(1, dataSet->bufferedCount_))
    DatabaseError(QCoreApplication::translate("Dataset", "Row %1 is not buffered").arg(row));
  dataSet->activeRecord_ = index;
}

void TDataLink::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (bufferCount_ == count) return;
  bufferCount_ = count;
  if (TDataSet* dataSet = DataSet()) {
    dataSet->UpdateBufferCount();
    if (active_) UpdateRange(0);
  }
}

int TDataLink::RecordCount() const {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet) return 0;
  return std::clamp(dataSet->bufferedCount_ - firstRecord_, 0, bufferCount_);
}

void TDataLink::SetReadOnly(bool readOnly) {
  if (readOnly_ == readOnly) return;
  readOnly_ = readOnly;
  UpdateState();
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_ && !editing_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  if (updating_) return;
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

bool TDataLink::Bof() const {
  TDataSet* dataSet = DataSet();
  return !active_ || !dataSet || dataSet->Bof();
}

bool TDataLink::Eof() const {
  TDataSet* dataSet = DataSet();
  return !active_ || !dataSet || dataSet->Eof();
}

int TDataLink::MoveBy(int distance) {
  TDataSet* dataSet = DataSet();
  return active_ && dataSet ? dataSet->MoveBy(distance) : 0;
}

void TDataLink::UpdateState() {
  const bool active = dataSource_ && dataSource_->State() != dsInactive;
  SetActive(active);
  const TDataSetState state = dataSource_ ? dataSource_->State() : dsInactive;
  SetEditing(active && !readOnly_ && (state == dsEdit || state == dsInsert));
}

void TDataLink::SetActive(bool active) {
  if (active_ == active) return;
  active_ = active;
  firstRecord_ = 0;
  if (active) UpdateRange(0);
  ActiveChanged();
}

void TDataLink::SetEditing(bool editing) {
  if (editing_ == editing) return;
  editing_ = editing;
  EditingChanged();
}

int TDataLink::UpdateRange(int shift) {
  TDataSet* dataSet = DataSet();
  const int before = firstRecord_;
  if (!dataSet) return 0;
  int first = firstRecord_ - shift;
  const int active = dataSet->activeRecord_;
  if (active < first) first = active;
  if (active >= first + bufferCount_) first = active - bufferCount_ + 1;
  if (first + bufferCount_ > dataSet->bufferedCount_)
    first = std::min(active, std::max(0, dataSet->bufferedCount_ - bufferCount_));
  if (first < 0) first = 0;
  firstRecord_ = first;
  return first + shift - before;
}

void TDataLink::DataEvent(TDataEvent event, const void* info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(const_cast<TField*>(static_cast<const TField*>(info)));
      break;
    case deDataSetChange:
      UpdateRange(0);
      DataSetChanged();
      break;
    case deLayoutChange:
      UpdateRange(0);
      LayoutChanged();
      break;
    case deRecordsReplaced:
      UpdateRange(0);
      RecordsReplaced();
      break;
    case deDataSetScroll: {
      const int shift = info ? *static_cast<const int*>(info) : 0;
      DataSetScrolled(UpdateRange(shift));
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(const_cast<TField*>(static_cast<const TField*>(info)));
      break;
    case deUpdateState:
      break;
  }
}

// ---------------------------------------------------------------- TFieldDataLink

void TFieldDataLink::SetFieldName(const QString& name) {
  if (fieldName_ == name) return;
  fieldName_ = name;
  UpdateField();
}

void TFieldDataLink::UpdateField() {
  TDataSet* dataSet = DataSet();
  TField* field =
      Active() && dataSet && !fieldName_.isEmpty() ? dataSet->FindField(fieldName_) : nullptr;
  if (field != field_) {
    field_ = field;
    modified_ = false;
  }
  if (OnDataChange) OnDataChange();
}

bool TFieldDataLink::CanModify() const { return !ReadOnly() && field_ && field_->CanModify(); }

bool TFieldDataLink::Modify() {
  if (!modified_) {
    if (!CanModify() || !Edit()) return false;
    modified_ = true;
  }
  return true;
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

void TFieldDataLink::ActiveChanged() {
  UpdateField();
  if (OnActiveChange) OnActiveChange();
}

void TFieldDataLink::LayoutChanged() { UpdateField(); }

void TFieldDataLink::RecordChanged(TField* field) {
  if (field == nullptr || field == field_) {
    modified_ = false;
    if (OnDataChange) OnDataChange();
  }
}

void TFieldDataLink::EditingChanged() {
  if (OnEditingChange) OnEditingChange();
}

void TFieldDataLink::FocusControl(TField* field) {
  if (field && field == field_ && OnFocusControl) OnFocusControl();
}

void TFieldDataLink::UpdateData() {
  if (modified_) {
    if (field_ && OnUpdateData) OnUpdateData();
    modified_ = false;
  }
}

}  // namespace fendral
