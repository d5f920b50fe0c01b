// The table dataset and its two companions.
//
// TTolvernDataSet presents one DBF table, with its memo file and index files, as a record
// set of the framework's dataset layer: grids, edit controls and the navigator work on it.
// It owns the table handler while open, maps DBF fields to dataset fields, fetches records
// in natural or index order (with a filter, hidden deleted records and a master range),
// edits under a record lock taken before the record is re-read, writes memos at post,
// and offers the table and index maintenance operations to the program.
//
// Table text is decoded with one code page: the OEM code page while TranslateASCII is on,
// the ANSI code page while it is off (settings of the dataset, default CP866/CP1251). A
// table whose language mark names a code page opens in that one, any other in the OEM page:
// every open starts afresh.
//
// TTVBlobStream is the stream through which memo and blob fields read and write a memo of
// the current record; what it writes reaches the memo file when the record is posted.
//
// TCreateTolvernDataSet creates a new, empty table from a field list in text form and
// opens it in its dataset.
#pragma once

#include <QBuffer>
#include <QLocale>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset.h"
#include "datasource.h"
#include "kx6_progress.h"
#include "rowreader.h"
#include "tv_create.h"
#include "tv_dialogs.h"
#include "tv_table.h"

namespace fendral {

class TTolvernDataSet;

// Options of Filter.
enum TFilterOption { foCaseInsensitive = 1, foNoPartialCompare = 2 };
using TFilterOptions = int;

// The formula hook: who ("FIND" or "PARSE"), st (the function name), rsl (the result a
// PARSE request fills, in table bytes), Typ, Chg, and tf (set true when handled).
using TkxFormulaMake = std::function<void(const std::string& who, const std::string& st,
                                          std::string& rsl, char& Typ, bool& Chg, bool& tf)>;
// Progress reports: start (-1, kind, total), step (kind, position, 0), stop (0, ..., 0).

// An index file the open table works without: its full path and the engine's message.
struct TTVDamagedIndex {
  QString path;
  QString reason;
};

// The grid's reader of a table dataset: its own read-only table object on the same file
// (reading ahead), in the dataset's order with what the dataset hides left out. In
// natural order with nothing hidden, row i is record i + 1; otherwise the record numbers
// of the order are learnt in one pass (4 bytes a row). A record the dataset posts, appends
// or deletes is moved to its new row (or dropped) in place, without a new pass; any other
// change (order, filter, range, refresh) makes the reader learn the rows again.
// Reading never moves the dataset's current record. The reader stops working (no rows)
// when the dataset closes or starts a long operation; the dataset tells it when it wrote.
class TTVRowReader : public TRowReader {
 public:
  ~TTVRowReader() override;

  int RowCount() override;
  bool ReadRow(int row, TRecordBuffer& buffer) override;
  int RowOf(const TBookmark& bookmark) override;
  void Invalidate() override;

  bool Valid() const { return core_.IsOpen(); }
  // The display text of every data field (in field order) of record `recno`, formatted
  // in the user's locale, a memo as its first line; empty when there is no such record.
  QStringList Texts(int32_t recno);

 private:
  friend class TTolvernDataSet;
  explicit TTVRowReader(TTolvernDataSet& dataSet);
  void Close();
  // Learns the record numbers of the order unless rows map to records directly.
  void LearnRows();
  // Forgets the rows learnt: the next read learns them again.
  void Forget();
  // Record `recno` was written by the dataset, whose handler stands on it: moves it to its
  // row in the order, or drops it when the dataset no longer shows it. The grid's
  // Invalidate that follows the write keeps the rows so placed.
  void RecordWritten(int32_t recno);

  TTolvernDataSet* dataSet_;
  TTVTableCore core_;
  std::unique_ptr<TRecordBuffer> rowBuffer_;  // the dataset's layout, for Texts
  bool direct_ = true;  // row i is record i + 1
  bool learnt_ = false;
  bool placed_ = false;  // rows_ already reflect the latest write
  std::vector<int32_t> rows_;
};

class TTolvernDataSet : public TDataSet {
 public:
  TTolvernDataSet();
  ~TTolvernDataSet() override;

  // --- Published properties
  QString About() const { return QStringLiteral("Tolvern Version 06.05.01 (6 Mar 99)"); }
  void SetAbout(const QString&) {}
  const QString& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const QString& name);
  bool ExactCount() const { return exactCount_; }
  // With the exact count on, RecordCount walks the records once and then keeps the count
  // current through this dataset's own writes; a change of order, filter, range or
  // deleted-record setting, and a refresh, count again at the next RecordCount.
  void SetExactCount(bool on);
  // How many times RecordCount has walked the records to count them.
  int CountingPasses() const { return countingPasses_; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on);
  const QString& Filter() const { return filter_; }
  void SetFilter(const QString& filter);
  TFilterOptions FilterOptions() const { return filterOptions_; }
  void SetFilterOptions(TFilterOptions options);
  void SetFiltered(bool filtered) override;
  const QStringList& IndexFiles() const { return indexFiles_; }
  void SetIndexFiles(const QStringList& files);
  const QString& IndexName() const { return indexName_; }
  void SetIndexName(const QString& tagName);
  tolvern::TkxLokProtocol LockProtocol() const { return lockProtocol_; }
  void SetLockProtocol(tolvern::TkxLokProtocol protocol);
  const QString& MasterFields() const { return masterFields_; }
  void SetMasterFields(const QString& fields);
  TDataSource* MasterSource() const;
  void SetMasterSource(TDataSource* source);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  const QString& TableName() const { return tableName_; }
  void SetTableName(const QString& name);
  bool TranslateASCII() const { return translateASCII_; }
  void SetTranslateASCII(bool on);
  bool UseDeleted() const { return useDeleted_; }
  void SetUseDeleted(bool on);
  uint32_t UserID() const { return userId_; }
  void SetUserID(uint32_t id);
  // The code pages TranslateASCII chooses between (iconv names).
  const std::string& OemCodePage() const { return oemCodePage_; }
  const std::string& AnsiCodePage() const { return ansiCodePage_; }
  void SetCodePages(const std::string& oem, const std::string& ansi);
  // The code page the table's text is decoded with now.
  std::string CodePageInUse() const;

  // The progress the table's long work (index builds, pack, copy, rebuild, search) reports
  // to and is stopped through (it then throws tolvern::ETolvernCancelled); null: none. Not
  // owned; the caller keeps it alive while it is set.
  void SetProgress(tolvern::TkxProgress* progress);
  tolvern::TkxProgress* Progress() const { return progress_; }

  // --- Own events
  TkxFormulaMake OnFormula;
  // Raised when an index file is found damaged while the table is open (at a walk, a seek
  // or a write; not during Open). The file is closed by then and listed by
  // DamagedIndexes; the handler may be in the middle of an operation, so the event must
  // not use the dataset.
  std::function<void(TTolvernDataSet&)> OnIndexDamaged;

  // --- Damaged index files
  // The index files the open table works without because they could not be read (at
  // open, or when one was found damaged later). A damaged file among the table's index
  // files does not stop the open: the table opens without it. Each is closed and is not
  // kept current until it is rebuilt (Reindex rebuilds those whose tag definitions can
  // still be read). Empty while closed.
  std::vector<TTVDamagedIndex> DamagedIndexes() const;

  // --- Resolution
  // The directory DatabaseName stands for (with a trailing "/", or empty).
  QString GetTableDirectory() const;
  // The table file Open uses: the directory and TableName, completed with ".dbf".
  QString TableFilePath() const;

  // --- Maintenance and index operations
  // Pack, Zap, Reindex, IndexOn and CopyTable close the row readers and, once the dataset
  // browses again, tell the links deRecordsReplaced (a grid model makes a new reader).
  // IndexOn raises EDatabaseError naming the index files that did not open again after
  // the build (they are no longer kept current); the dataset is browsing then.
  void Pack();
  void Zap();
  void Reindex();
  int IndexOn(const QString& indexFileName, const QString& tagName, int sortOption, bool duplicates,
              const QString& forExpression, const QString& keyExpression);
  int DeleteTag(const QString& indexFileName, const QString& tagName);
  void CopyTable(const QString& newFileName);
  void CopyStructure(const QString& newFileName);
  void RenameTable(const QString& newPathName);
  void FlushTable();
  void OpenIndexFile(const QString& fileName);
  void CloseIndexFile(const QString& fileName);
  // Closes and deletes an index file; deleting the production index clears the table's
  // header flag for it.
  void DeleteIndexFile(const QString& fileName);
  void SetIndexList(const QString& fileList, const QString& tagName);
  void SelectIndex(const QString& tagName) { SetIndexName(tagName); }
  void SetRange(const QString& lowText, const QString& highText);
  // Finds `text` in field `fieldNo` (0: any field) from record `recNo` on (0: the top);
  // on a match moves there, sets both and answers true.
  bool SearchText(const QString& text, int& fieldNo, int32_t lastRecord, int32_t& recNo);
  bool IsDeleted() const;
  // Appends a new record holding the current record's values and leaves it in insert
  // state. Memos are copied when the record is posted (a cancel leaves no memo block);
  // an autoincrement field ("+") stays blank, its number being the source record's own.
  void CopyRecord();
  // The record number (0 when none) and the delete mark of a row buffer: the active one or
  // one a grid's row reader filled.
  static int32_t RecNoOfRow(const TRecordBuffer& row);
  bool RowIsDeleted(const TRecordBuffer& row) const;
  void RecallRecord();
  void SetReadAhead(bool on);
  void GetHeaderInfo(int32_t& updateDate, uint32_t& updateStamp, uint32_t& userId);

  // --- Tag queries (N counts from 1 across the open index files)
  int GetTagCount() const;
  QString GetTagName(int n) const;
  QString GetTagKey(int n) const;
  QString GetTagFor(int n) const;
  bool GetTagUnique(int n) const;
  bool GetTagAscending(int n) const;
  QString GetTagFile(int n) const;
  QString GetCurrentTagName() const;
  int GetCurrentTagNumber() const;
  // The first tag without FOR condition whose key is `fieldName` (ignoring case); 0 if none.
  int TagForField(const QString& fieldName) const;

  // --- Busy states: 0 none, 1 building an index, 2 copying
  int BusyState() const { return busy_; }

  // --- Searching
  bool Locate(const QString& keyFields, const QVariant& keyValues, TLocateOptions options) override;
  QVariant Lookup(const QString& keyFields, const QVariant& keyValues,
                  const QString& resultFields) override;

  // --- Blobs and text
  std::unique_ptr<QIODevice> CreateBlobStream(TField& field, TBlobStreamMode mode) override;
  QString BlobToText(const TField& field, const QByteArray& bytes) const override;
  QByteArray TextToBlob(const TField& field, const QString& text) const override;
  // The text a grid shows for `field` in the active record: a memo's first line, the
  // field's own display text otherwise.
  QString FieldDisplayText(const TField& field);

  // --- Row reader for the grid (its own table object; closed with the dataset)
  std::unique_ptr<TRowReader> CreateRowReader() override;

  // --- For the components of this unit
  void CheckActive() const override;
  TTVTableCore& Core() { return core_; }
  DBFObject* Handler() { return core_.TablePtr(); }
  const TTVFieldDef* DefOf(const TField& field) const;
  // The memo of `field` in the active record (as written in this edit, if it was).
  QByteArray ActiveMemo(const TField& field);
  // Called by the blob stream: keeps `bytes` as the field's memo until the post.
  void StoreMemo(TField& field, const QByteArray& bytes);

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return core_.IsOpen(); }
  void InternalInitFieldDefs() override;
  std::unique_ptr<TRecordBuffer> AllocRecordBuffer() override;
  void InternalInitRecord(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalSetToRecord(TRecordBuffer& buffer) override;
  bool GetFieldStored(const TField& field, const TRecordBuffer& buffer,
                      TStoredValue& stored) const override;
  bool GetFieldData(const TField& field, const TRecordBuffer& buffer,
                    QVariant& value) const override;
  void SetFieldData(const TField& field, TRecordBuffer& buffer, const QVariant& value) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InternalRefresh() override;
  int GetRecordCount() const override;
  int GetRecNo() const override;
  void SetRecNoHook(int recNo) override;
  bool GetIsSequenced() const override;
  bool GetCanModify() const override { return !readOnly_; }

 private:
  tolvern::TkxProgress* progress_ = nullptr;
  friend class TTVRowReader;
  class MasterLink;
  struct Buffer;
  static uint8_t* Data(TRecordBuffer& buffer);
  static const uint8_t* Data(const TRecordBuffer& buffer);

  void ChooseCodePage();
  void InstallHooks();
  // Reads record `recno` into the handler and puts the current order on it.
  void GotoRecord(int32_t recno);
  void OpenIndexFilesOfList(bool acceptOpen);
  void OpenOneIndex(const QString& fileName, bool acceptOpen);
  // Opens the production index, or lists it as damaged.
  void OpenProductionIndex();
  void SelectOrder(const QString& tagName, bool keepPosition);
  void ApplyMasterRange();
  void MasterChanged();
  void CompileFilter();
  void CloseRowReaders();
  // Tells the row readers that `recno` was written (the handler stands on it afterwards).
  void RecordWrittenToReaders(int32_t recno);
  // Row readers read records again after this dataset wrote.
  void RecordsChanged();
  // A key value as the handler's seeks and ranges take it.
  std::string KeyText(const QVariant& value) const;
  std::string SearchTextOf(const TTVFieldDef& def, const QVariant& value) const;
  // Finds the record of `value` in `field` (through its tag when it has one); 0 if none.
  // The handler's order and position are not kept.
  int32_t FindRecord(const TTVFieldDef& def, const QVariant& value, bool caseInsensitive,
                     bool partial);
  std::string Encode(const QString& text, const QString& what) const;
  void RunBusy(int state, const std::function<void()>& work);
  // The exact count kept across a write: MarkCount before it (recno 0 for an append) learns
  // whether the walk passes the record, KeepCount after it moves the count by the change.
  struct CountMark {
    int count = -1;  // the count before the write; -1 when none is kept
    bool shown = false;
  };
  CountMark MarkCount(int32_t recno);
  void KeepCount(const CountMark& mark, int32_t recno);
  // Whether the handler's walk (order, range, filter, hidden deleted records) passes record
  // `recno`: stepping back from it and forward again lands on it. Leaves the handler on it.
  bool ShowsRecord(int32_t recno);

  TTVTableCore core_;
  std::vector<TTVFieldDef> defs_;  // parallel to FieldDefs()
  QString databaseName_;
  QString tableName_;
  QString openedPath_;
  QString filter_;
  TFilterOptions filterOptions_ = 0;
  QStringList indexFiles_;
  QString indexName_;
  QString masterFields_;
  std::unique_ptr<MasterLink> masterLink_;
  tolvern::TkxLokProtocol lockProtocol_ = tolvern::TkxLokProtocol::Default;
  std::string oemCodePage_ = "CP866";
  std::string ansiCodePage_ = "CP1251";
  std::string tableOemPage_;  // the table's own code page while open, when it names one
  std::string tableAnsiPage_;
  uint32_t userId_ = 0;
  bool exactCount_ = false;
  mutable int exactCountValue_ = -1;  // -1: to be counted at the next RecordCount
  mutable int countingPasses_ = 0;
  bool exclusive_ = false;
  bool readOnly_ = false;
  bool translateASCII_ = true;
  bool useDeleted_ = false;
  bool readAheadWish_ = false;
  bool firstPending_ = false;
  bool lastPending_ = false;
  bool internalOperation_ = false;
  bool rangeSet_ = false;
  int busy_ = 0;
  std::unique_ptr<TRecordBuffer> filterBuffer_;
  std::vector<TTVRowReader*> readers_;
};

// The stream over the memo of a memo or blob field in the active record. Reads see the
// memo as it is (or as written in this edit); what is written is kept for the post when
// the stream is closed or destroyed in an edit state. Writing at a position drops
// everything after the written bytes; a gap before the position is filled with zeros.
class TTVBlobStream : public QIODevice {
 public:
  // Raises "Field '%s' cannot be modified" for a read-only field and "Dataset not in edit
  // or insert mode" outside an edit when `mode` writes.
  TTVBlobStream(TField& field, TBlobStreamMode mode);
  ~TTVBlobStream() override;

  bool isSequential() const override { return false; }
  qint64 size() const override { return data_.size(); }
  bool seek(qint64 pos) override;
  void close() override;
  bool Modified() const { return modified_; }

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char* data, qint64 maxSize) override;

 private:
  void Commit();

  TField& field_;
  TTolvernDataSet* dataSet_;
  QByteArray data_;
  bool modified_ = false;
};

class TCreateTolvernDataSet {
 public:
  TCreateTolvernDataSet();

  bool AutoOverwrite() const { return autoOverwrite_; }
  void SetAutoOverwrite(bool on) { autoOverwrite_ = on; }
  QStringList& CreateFields() { return createFields_; }
  void SetCreateFields(const QStringList& lines) { createFields_ = lines; }
  TTolvernDataSet* DBFTable() const { return table_; }
  void SetDBFTable(TTolvernDataSet* table) { table_ = table; }
  TkxDBFTypes DBFType() const { return type_; }
  void SetDBFType(TkxDBFTypes type) { type_ = type; }
  uint16_t MemoBlockSize() const { return memoBlockSize_; }
  void SetMemoBlockSize(uint16_t size) { memoBlockSize_ = size; }
  // Where the overwrite question goes; without one it is answered with Cancel.
  void SetDialogs(IDialogs* dialogs) { dialogs_ = dialogs; }

  // Creates the table named by DBFTable and opens it; false when the user declined to
  // overwrite an existing table.
  bool CreateTable();

 private:
  bool autoOverwrite_ = false;
  QStringList createFields_;
  TTolvernDataSet* table_ = nullptr;
  TkxDBFTypes type_ = TkxDBFTypes::DBaseIII;
  uint16_t memoBlockSize_ = 64;
  IDialogs* dialogs_ = nullptr;
};

}  // namespace fendral
