// Data sources and data links: how controls follow a dataset.
//
// A TDataSource connects one dataset to any number of data links; switching the source's
// dataset or disabling it moves every link at once. A TDataLink is a control's end of the
// connection: a grid, a navigator bar or an editor derives from TDataLink (or uses
// TFieldDataLink) and overrides the notifications it cares about. The links ask for buffers:
// a grid sets BufferCount to its visible rows and reads row i through DataSet()->Buffer(i)
// while ActiveRecord says which row is current.
#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "dataset.h"

namespace fendral {

class TDataLink;

class TDataSource {
 public:
  explicit TDataSource(TDataSet* dataSet = nullptr);
  ~TDataSource();  // detaches its links (they become inactive) and leaves its dataset
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  // A disabled source looks inactive to its links.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // When set (the default), a control's Edit() puts a browsing dataset into dsEdit.
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool autoEdit) { autoEdit_ = autoEdit; }
  // The dataset's state, dsInactive without a dataset or while disabled.
  TDataSetState State() const { return state_; }
  // Puts the dataset into dsEdit when AutoEdit allows and it is browsing.
  void Edit();
  // True when `dataSet` is this source's dataset or is reached from it through the chain of
  // master data sources (a master link to this source from `dataSet` would be circular).
  bool IsLinkedTo(const TDataSet* dataSet) const;

  // The state changed (after it did).
  std::function<void(TDataSource&)> OnStateChange;
  // The record or the window changed; `field` is the changed field or null for a whole record.
  std::function<void(TDataSource&, TField* field)> OnDataChange;
  // The dataset is about to post: controls write their pending edits.
  std::function<void(TDataSource&)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  void NotifyDataEvent(TDataEvent event, const void* info);
  void NotifyLinks(TDataEvent event, const void* info);
  void SetState(TDataSetState state);
  void DataSetDestroyed();

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink();
  virtual ~TDataLink();  // leaves its data source
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // True while the source is enabled and its dataset open.
  bool Active() const { return active_; }
  // Row of the current record within this link's first BufferCount rows.
  int ActiveRecord() const;
  void SetActiveRecord(int row);
  // Rows this link wants buffered (at least 1); the dataset keeps the largest of all links.
  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  // Rows this link can show now: min(BufferCount, records buffered).
  int RecordCount() const;
  // True while the dataset is in dsEdit or dsInsert.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);
  // Puts the dataset into edit state (through the source's AutoEdit); answers Editing().
  bool Edit();
  // Makes this link write its pending edit into the fields now (UpdateData, once).
  void UpdateRecord();
  bool Bof() const;
  bool Eof() const;
  // Moves the dataset by `distance` rows (as MoveBy).
  int MoveBy(int distance);

 protected:
  // Notifications; the defaults do nothing.
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  // The records were rewritten as a whole (deRecordsReplaced).
  virtual void RecordsReplaced() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* /*field*/) {}
  virtual void CheckBrowseMode() {}
  // Write a pending control edit into the field(s).
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent event, const void* info);
  void UpdateState();
  void SetActive(bool active);
  void SetEditing(bool editing);
  // Keeps the dataset's active record inside this link's rows after the window's records
  // moved by `shift`; answers how many records this link's first row moved.
  int UpdateRange(int shift);

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int firstRecord_ = 0;  // window row shown as this link's row 0
};

// A link to one field, for single-field controls (an editor, the memo view). Its events
// are std::function members like the dataset's.
class TFieldDataLink : public TDataLink {
 public:
  const QString& FieldName() const { return fieldName_; }
  void SetFieldName(const QString& name);
  // The bound field; null while inactive or when the dataset has no such field.
  TField* Field() const { return field_; }
  // True after the control changed its text and until UpdateRecord or Reset.
  bool Modified() const { return modified_; }
  // The control changed its text: puts the dataset into edit state (answers false when it
  // cannot) and marks the link modified.
  bool Modify();
  // Drops the control's change and shows the field again (calls OnDataChange).
  void Reset();
  // True when the control may change the field now.
  bool CanModify() const;

  std::function<void()> OnDataChange;     // show the field's value
  std::function<void()> OnEditingChange;  // the dataset entered or left an edit state
  std::function<void()> OnUpdateData;     // write the control's text into Field()
  std::function<void()> OnActiveChange;   // the link became active or inactive

 protected:
  void ActiveChanged() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;
  void EditingChanged() override;
  void FocusControl(TField* field) override;
  void UpdateData() override;

 public:
  std::function<void()> OnFocusControl;  // the field asked its control to take the focus

 private:
  void UpdateField();
  QString fieldName_;
  TField* field_ = nullptr;
  bool modified_ = false;
};

}  // namespace fendral
