// TDataSet: a record set with a current record, a window of buffered records, states,
// navigation, editing and notifications. It knows nothing of where records live: a concrete
// dataset (a DBF table, the in-memory table, a test dataset) derives from it and implements
// the protected hooks below. See README.md for who calls what.
//
// Buffers. The dataset keeps a window of record buffers: as many as the largest BufferCount
// of its data links (a grid asks for one per visible row), at least one. ActiveRecord is the
// buffer of the current record within the window; BufferedCount says how many buffers hold
// records. Buffers are made by AllocRecordBuffer, so each concrete dataset decides what a
// buffer holds; the base only stores its bookmark, bookmark flag and the calculated fields'
// values.
//
// States. dsInactive (closed), dsBrowse, dsEdit, dsInsert, dsSetKey (a key buffer is being
// filled), dsCalcFields (OnCalcFields runs; fields read and write the calculated values of the
// record being calculated), dsFilter (OnFilterRecord runs; fields read the candidate record),
// dsNewValue (reserved for datasets that keep new values apart).
//
// Events are std::function members, raised in this order (each only when set):
//   Open:   BeforeOpen, [open], AfterOpen, BeforeScroll/AfterScroll are not raised by Open
//   Close:  BeforeClose, [close], AfterClose
//   Edit:   BeforeEdit, [edit], AfterEdit
//   Insert/Append: BeforeInsert, BeforeScroll, [new buffer], OnNewRecord, AfterInsert,
//           AfterScroll
//   Post:   [links write pending control edits], BeforePost, [post], AfterPost
//   Cancel: BeforeCancel, [cancel], AfterCancel
//   Delete: BeforeDelete, BeforeScroll, [delete], AfterDelete, AfterScroll
//   Moves (First/Last/Next/Prior/MoveBy/GotoBookmark/RecNo/Locate): BeforeScroll, [move],
//           AfterScroll
// A Before... handler refuses the operation by throwing (Abort() for silence). When the
// post, edit or delete hook throws, OnPostError / OnEditError / OnDeleteError decide:
// daFail passes the error on, daAbort turns it into EAbort, daRetry runs the hook again.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <exception>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "db_error.h"
#include "fields.h"

class QIODevice;

namespace fendral {

class TDataSource;
class TDataLink;
class TRowReader;

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
};

// What a buffer holds: a record read from the cursor, a new record inserted before the
// current one, or the placeholder of an append at the end or beginning.
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

enum TDataAction { daFail, daAbort, daRetry };

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// Options of Locate: compare ignoring case; accept a value that only starts with the key.
enum TLocateOption { loCaseInsensitive = 1, loPartialKey = 2 };
using TLocateOptions = int;  // or-ed TLocateOption values

// Notifications the dataset sends to its data sources and links.
enum TDataEvent {
  deFieldChange,      // info: the TField that changed
  deRecordChange,     // the active record's values changed (info: field or null)
  deDataSetChange,    // the whole window changed (open, refresh, resync)
  deDataSetScroll,    // the window moved; info: distance the active record moved
  deLayoutChange,     // fields were added, removed, shown or hidden
  deUpdateRecord,     // links must write pending edits into the fields (before post)
  deUpdateState,      // the state changed
  deCheckBrowseMode,  // the dataset is about to leave its position
  deFocusControl,     // info: the TField whose control should take the focus
  // The records were rewritten as a whole while the dataset stayed open (packed, emptied,
  // ordered by a new or rebuilt index): row readers made before are closed; links that
  // keep one make it again. Sent once the dataset is browsing its new records; while
  // controls are disabled it waits for EnableControls.
  deRecordsReplaced,
};

// A bookmark identifies a record of the dataset; its bytes are the concrete dataset's
// business. An empty bookmark is "no record".
using TBookmark = QByteArray;

// One record buffer. Concrete datasets derive their buffer type from this and create it in
// AllocRecordBuffer; GetRecord fills it and sets Bookmark. The base sets BookmarkFlag and
// CalcValues (one value per calculated field).
struct TRecordBuffer {
  virtual ~TRecordBuffer() = default;
  TBookmarkFlag BookmarkFlag = bfCurrent;
  TBookmark Bookmark;
  std::vector<QVariant> CalcValues;
};

class TDataSet {
 public:
  TDataSet();
  virtual ~TDataSet();  // a derived dataset must Close() in its own destructor
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // --- Opening and closing
  void Open();
  // Drops an unposted edit or insert (InternalCancel runs, no events), then closes.
  void Close();
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool active);
  TDataSetState State() const { return state_; }
  // Raises "Cannot perform this operation on a closed dataset" when closed. Concrete datasets
  // may refuse more (for example while busy); every operation and every control calls it.
  virtual void CheckActive() const;
  // Raises "Cannot perform this operation on an open dataset" when open.
  void CheckInactive() const;

  // --- Navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves by `distance` records; answers how far it moved (less at either end).
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const;
  // Record count as the concrete dataset knows it; position of the active record (1-based;
  // 0 or -1 when the dataset cannot say). Setting RecNo moves there (with scroll events).
  int RecordCount() const;
  int RecNo() const;
  void SetRecNo(int recNo);
  // True when RecNo values are consecutive positions 1..RecordCount.
  bool IsSequenced() const { return GetIsSequenced(); }

  // Bookmarks: remember the active record and come back to it.
  TBookmark GetBookmark() const;
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark) const;
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;

  // Re-reads the window around the current record (after the cursor moved underneath).
  enum TResyncMode { rmExact = 1, rmCenter = 2 };
  void Resync(int mode = 0);

  // --- Editing
  void Edit();
  void Insert();  // a new record before the current one
  void Append();  // a new record at the end
  void Post();
  void Cancel();
  void Delete();
  void Refresh();
  // Posts an edit or insert with changes (cancels one without), leaves set-key; called
  // before anything moves away from the current record.
  void CheckBrowseMode();
  // Asks data links to write pending control edits into the fields (before a post).
  void UpdateRecord();
  // While a new record from Insert is pending: the record it goes before (empty for Append
  // and in the other states).
  TBookmark InsertAnchor() const { return state_ == dsInsert ? insertAnchor_ : TBookmark(); }
  // Enters dsSetKey with an empty key buffer; Cancel or CheckBrowseMode leave it.
  void SetKey();
  bool CanModify() const { return GetCanModify(); }
  bool Modified() const { return modified_; }
  // Appends a record and sets its fields in order from `values` (invalid = leave empty),
  // then posts.
  void AppendRecord(const std::vector<QVariant>& values);

  // --- Controls
  // While disabled (counted), links get no notifications; EnableControls sends one
  // data-set-changed notification when anything changed meanwhile.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // --- Fields
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  const TFieldDefs& FieldDefs() const { return fieldDefs_; }
  // Reads the definitions from the concrete dataset (opening nothing when it can describe
  // itself while closed).
  void UpdateFieldDefs();
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField* Field(int index) const { return fields_.at(static_cast<size_t>(index)).get(); }
  TField* FindField(const QString& name) const;    // ignoring case; null when absent
  TField* FieldByName(const QString& name) const;  // raises "Field '%s' not found"
  // Field of the given 1-based FieldNo; null when absent.
  TField* FieldByNumber(int fieldNo) const;
  QVariant FieldValue(const QString& name) const { return FieldByName(name)->Value(); }
  void SetFieldValue(const QString& name, const QVariant& value) {
    FieldByName(name)->SetValue(value);
  }
  // Adds a persistent field (a calculated field, or a data field chosen by the program). The
  // dataset must be closed. When it has persistent data fields, Open creates no default
  // fields; otherwise one default field per definition, followed by the persistent ones.
  TField& AddField(std::unique_ptr<TField> field);
  // Removes every persistent field (closed dataset only).
  void ClearFields();

  // --- Filtering, calculated fields
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool filtered);  // refreshes from the first record when open
  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }

  // --- Searching. The defaults walk the records (controls disabled) comparing field values
  // as text; concrete datasets may use an index. `keyFields` names one or more fields
  // separated by ";", `keyValues` holds one value or a QVariantList of them.
  virtual bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options);
  // Value of `resultFields` (one name, or a QVariantList for several) in the first record
  // matching exactly; invalid QVariant when none. Does not move the current record.
  virtual QVariant Lookup(const QString& keyFields, const QVariant& keyValues,
                          const QString& resultFields);

  // --- Blobs
  // A stream over the blob or memo field of the active record. The default works on the
  // bytes GetFieldData/SetFieldData exchange; written bytes are stored when close() is called
  // (a stream destroyed unclosed stores nothing). Writing requires an edit state.
  virtual std::unique_ptr<QIODevice> CreateBlobStream(TField& field, TBlobStreamMode mode);
  // Text conversion of memo fields (default UTF-8).
  virtual QString BlobToText(const TField& field, const QByteArray& bytes) const;
  virtual QByteArray TextToBlob(const TField& field, const QString& text) const;

  // --- Master/detail
  // The data source of this dataset's master, when it follows one (none by default). Data
  // sources walk this chain to refuse circular links.
  virtual TDataSource* MasterDataSource() const { return nullptr; }

  // --- Painting rows (grid models)
  // A reader of this dataset's rows (see rowreader.h). The default reads through the
  // dataset's own cursor hooks, learning the rows' bookmarks in one pass; a dataset with
  // positioned reads overrides it. The reader must not outlive the dataset; it is only used
  // while the dataset is open.
  virtual std::unique_ptr<TRowReader> CreateRowReader();
  // A record buffer of this dataset's layout, for row readers.
  std::unique_ptr<TRecordBuffer> NewRecordBuffer() { return AllocRecordBuffer(); }
  // Runs `read` with the fields reading `buffer` instead of the active record; the state
  // and the current record stay as they are.
  void ReadFieldsFrom(const TRecordBuffer& buffer, const std::function<void()>& read) const;

  // --- Data sources and links (used by TDataSource/TDataLink)
  int BufferCount() const { return bufferCount_; }
  int ActiveRecord() const { return activeRecord_; }
  int BufferedCount() const { return bufferedCount_; }  // buffers holding records
  // The record buffer shown in row `index` of the window (0..BufferedCount-1).
  const TRecordBuffer& Buffer(int index) const;
  // Sends a notification to data sources and links (unless controls are disabled).
  void DataEvent(TDataEvent event, const void* info = nullptr);

  // --- Events
  using TDataSetNotifyEvent = std::function<void(TDataSet&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;
  using TDataSetErrorEvent =
      std::function<void(TDataSet&, const std::exception& error, TDataAction& action)>;
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TFilterRecordEvent OnFilterRecord;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

 protected:
  // ===== Hooks a concrete dataset implements =====
  // Opening: make the cursor ready (InternalOpen), then InternalInitFieldDefs runs, fields
  // are created and bound, and the first records are read.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  // Fills FieldDefs() (clearing what it replaces); runs at every Open and from
  // UpdateFieldDefs, which may be called while closed.
  virtual void InternalInitFieldDefs() = 0;

  // Buffers.
  virtual std::unique_ptr<TRecordBuffer> AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(std::unique_ptr<TRecordBuffer>& buffer) { buffer.reset(); }
  // Blanks a buffer for a new record (every field without value).
  virtual void InternalInitRecord(TRecordBuffer& buffer) = 0;

  // Reading. GetRecord moves the cursor to the next or prior record (or stays, gmCurrent)
  // and copies it into `buffer`, setting buffer.Bookmark; it answers grBOF/grEOF at the ends
  // and grError when the current record cannot be read (raising instead when doCheck). A
  // dataset that supports OnFilterRecord skips records FilterAccepts refuses.
  virtual TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) = 0;
  // Put the cursor before the first / after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Put the cursor on a record.
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual void InternalSetToRecord(TRecordBuffer& buffer) { InternalGotoBookmark(buffer.Bookmark); }

  // Values of data fields (FieldNo > 0) in a buffer; calculated fields never reach these.
  // GetFieldData answers false for "no value" (and may leave `value` unset).
  virtual bool GetFieldData(const TField& field, const TRecordBuffer& buffer,
                            QVariant& value) const = 0;
  // A data field's value in `buffer` in the form the dataset stores it, for fields that
  // make their display text straight from that form instead of from a QVariant (see
  // TStoredValue). False (the default), or a form the field cannot use, sends the field to
  // GetFieldData.
  virtual bool GetFieldStored(const TField& /*field*/, const TRecordBuffer& /*buffer*/,
                              TStoredValue& /*stored*/) const {
    return false;
  }
  // `value` is already of the field's type (invalid = no value). The base has checked the
  // state and the read-only flag and run OnValidate; it notifies the change afterwards.
  virtual void SetFieldData(const TField& field, TRecordBuffer& buffer, const QVariant& value) = 0;

  // Editing. InternalEdit runs before the state becomes dsEdit (lock, re-read);
  // InternalInsert after the new buffer was initialised (for Insert the cursor stands on the
  // record the new one goes before); InternalPost writes the active buffer (state dsEdit:
  // replace the record; dsInsert: add it, at the end when the buffer's flag is bfEOF) and
  // leaves the cursor on the posted record; InternalCancel undoes InternalEdit and
  // InternalInsert; InternalDelete removes the current record (ending an edit of it) and
  // leaves the cursor on the record that followed it, or on the new last record;
  // InternalRefresh re-reads whatever the dataset caches. The base re-reads the window from
  // the cursor afterwards.
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  virtual void InternalPost() = 0;
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void InternalRefresh() {}

  // Counting and positions.
  virtual int GetRecordCount() const { return -1; }
  virtual int GetRecNo() const { return -1; }
  virtual void SetRecNoHook(int /*recNo*/) {}
  virtual bool GetIsSequenced() const { return false; }
  virtual bool GetCanModify() const { return true; }

  // ===== Services for concrete datasets =====
  // Runs OnFilterRecord on `buffer` (state dsFilter meanwhile); true when accepted or when
  // filtering is off or the event unset.
  bool FilterAccepts(TRecordBuffer& buffer);
  // The buffer fields read and write now: the calculating/filtered record, the key buffer or
  // the active record; null when there is none (empty dataset).
  TRecordBuffer* ActiveBuffer() const;
  // Runs OnCalcFields for `buffer` (state dsCalcFields meanwhile).
  void CalculateFields(TRecordBuffer& buffer);
  // The current buffer window is stale: re-read it from the cursor's position.
  void CursorPosChanged() { currentRecord_ = -1; }
  // Changes the state and notifies.
  void SetState(TDataSetState state);
  // Enters a state for the length of a callback without notifying anyone (for example
  // dsFilter while an engine hook runs); answers the state to hand to RestoreState. Fields
  // keep reading the buffer they read before.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState saved) { state_ = saved; }
  // Marks the active record changed (set by field writes).
  void SetModified(bool modified) { modified_ = modified; }
  // Raise an event when it is set (for moves a concrete dataset makes itself, for example a
  // text search: BeforeScroll, move, Resync, AfterScroll).
  void DoEvent(const TDataSetNotifyEvent& event) {
    if (event) event(*this);
  }
  void DoBeforeScroll() { DoEvent(BeforeScroll); }
  void DoAfterScroll() { DoEvent(AfterScroll); }

 private:
  friend class TField;
  friend class TCursorRowReader;
  friend class TDataSource;
  friend class TDataLink;
  // Field access for TField: false when the field has no value in the active buffer.
  bool ReadFieldValue(const TField& field, QVariant& value) const;
  void WriteFieldValue(TField& field, const QVariant& value);

  void OpenCursor();
  void CloseCursor();
  void CreateFields();
  void DestroyDefaultFields();
  void BindFields(bool binding);
  void SetBufferCount(int count);
  void UpdateBufferCount();
  void ClearBuffers();
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void UpdateCursorPos();
  void MoveBuffer(int from, int to);
  void ReadCurrentRecord(TRecordBuffer& buffer);  // GetRecord(gmCurrent)+calc fields
  void InitRecord(TRecordBuffer& buffer);
  void BeginInsertAppend(bool append);
  void ReturnToBrowse();  // after post, cancel, delete: re-read the window, then notify
  void RunWithErrorEvent(const TDataSetErrorEvent& event, const std::function<void()>& op);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  bool ScanFor(const QString& keyFields, const QVariant& keyValues, TLocateOptions options);

  TDataSetState state_ = dsInactive;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool filtered_ = false;
  bool autoCalcFields_ = true;
  bool pendingChange_ = false;  // something changed while controls were disabled
  bool pendingReplaced_ = false;  // deRecordsReplaced waits for EnableControls
  TDataSetState disabledState_ = dsInactive;
  int disableCount_ = 0;
  int bufferCount_ = 0;
  int scrollShift_ = 0;  // rows the window's records moved during one MoveBy
  int activeRecord_ = 0;
  int currentRecord_ = -1;  // buffer the cursor stands on; -1 none
  int bufferedCount_ = 0;
  int calcFieldCount_ = 0;
  TFieldDefs fieldDefs_;
  std::vector<std::unique_ptr<TField>> fields_;          // default fields first, then persistent
  std::vector<bool> defaultField_;                       // parallel to fields_
  std::vector<std::unique_ptr<TRecordBuffer>> buffers_;  // bufferCount_ + 1 spare
  std::unique_ptr<TRecordBuffer> tempBuffer_;            // calc/filter/key work buffer
  mutable TRecordBuffer* stateBuffer_ = nullptr;         // buffer of dsCalcFields/dsFilter/dsSetKey
  TBookmark insertAnchor_;                               // record an Insert went before
  std::vector<TDataSource*> dataSources_;
};

}  // namespace fendral
