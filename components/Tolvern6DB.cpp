#include "Tolvern6DB.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "db_error.h"
#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_idxfile.h"
#include "kx6_indx.h"
#include "tv_log.h"
#include "tv_resolve.h"

namespace fendral {

using tolvern::PosBottom;
using tolvern::PosNext;
using tolvern::PosPrior;
using tolvern::PosSame;
using tolvern::PosTop;

namespace {

// Runs `restore` when the scope ends, whatever way it ends.
class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> restore) : restore_(std::move(restore)) {}
  ~ScopeExit() {
    if (restore_) restore_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  std::function<void()> restore_;
};

TFieldType DataTypeOf(TTVFieldKind kind) {
  switch (kind) {
    case TTVFieldKind::String:
      return ftString;
    case TTVFieldKind::SmallInt:
      return ftSmallint;
    case TTVFieldKind::Integer:
      return ftInteger;
    case TTVFieldKind::Float:
      return ftFloat;
    case TTVFieldKind::Date:
      return ftDate;
    case TTVFieldKind::Boolean:
      return ftBoolean;
    case TTVFieldKind::Memo:
      return ftMemo;
    case TTVFieldKind::Blob:
      return ftBlob;
    case TTVFieldKind::DateTime:
      return ftDateTime;
  }
  return ftUnknown;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Buffers and the master link

struct TTolvernDataSet::Buffer : TRecordBuffer {
  std::vector<uint8_t> data;
};

uint8_t* TTolvernDataSet::Data(TRecordBuffer& buffer) {
  return static_cast<Buffer&>(buffer).data.data();
}
const uint8_t* TTolvernDataSet::Data(const TRecordBuffer& buffer) {
  return static_cast<const Buffer&>(buffer).data.data();
}

class TTolvernDataSet::MasterLink : public TDataLink {
 public:
  explicit MasterLink(TTolvernDataSet& detail) : detail_(detail) {}
  void ActiveChanged() override { detail_.MasterChanged(); }
  void DataSetChanged() override { detail_.MasterChanged(); }
  void DataSetScrolled(int) override { detail_.MasterChanged(); }
  void RecordChanged(TField* field) override {
    if (!field) detail_.MasterChanged();
  }

 private:
  TTolvernDataSet& detail_;
};

// ---------------------------------------------------------------------------------------
// Row reader

TTVRowReader::TTVRowReader(TTolvernDataSet& dataSet) : dataSet_(&dataSet) {
  TTVTableCore::OpenOptions options;
  options.readOnly = true;
  options.readAhead = true;
  options.useDeleted = true;
  core_.Open(Path8(dataSet.openedPath_), options);
  core_.SetCodePage(dataSet.CodePageInUse());
  dataSet.readers_.push_back(this);
}

TTVRowReader::~TTVRowReader() {
  if (dataSet_) {
    auto& list = dataSet_->readers_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TTVRowReader::Close() {
  core_.Close();
  rowBuffer_.reset();
  Forget();
}

void TTVRowReader::Forget() {
  learnt_ = false;
  placed_ = false;
  rows_.clear();
}

void TTVRowReader::Invalidate() {
  if (core_.IsOpen()) core_.Table().DropReadAhead();
  if (placed_) {
    placed_ = false;  // the rows already follow the write this notice is about
    return;
  }
  Forget();
}

void TTVRowReader::RecordWritten(int32_t recno) {
  if (core_.IsOpen()) {
    core_.Table().DropReadAhead();
    core_.Table().RefreshHeader();  // an appended record is read, not taken for the end
  }
  if (!learnt_ || direct_ || !dataSet_ || !dataSet_->core_.IsOpen()) {
    // Nothing remembered row by row: the count and the records are read afresh.
    placed_ = learnt_ && direct_;
    return;
  }
  std::vector<int32_t> rows;
  rows.swap(rows_);
  Forget();  // until the record is placed
  DBFObject& mine = dataSet_->core_.Table();
  const auto old = std::find(rows.begin(), rows.end(), recno);
  if (old != rows.end()) rows.erase(old);
  // The record shows when stepping back from it and forward again lands on it; the step
  // back names the record it follows.
  mine.GetRecord(tolvern::PosPrior);
  const bool first = mine.Bof() || mine.Eof();
  const int32_t before = first ? 0 : mine.CurrentRecord();
  mine.GetRecord(first ? tolvern::PosTop : tolvern::PosNext);
  const bool shown = !mine.Eof() && !mine.Bof() && mine.CurrentRecord() == recno;
  if (shown) {
    auto at = rows.begin();
    if (!first) {
      at = std::find(rows.begin(), rows.end(), before);
      if (at == rows.end()) return;  // not where it was thought to be: learn again
      ++at;
    }
    rows.insert(at, recno);
  }
  rows_.swap(rows);
  learnt_ = true;
  placed_ = true;
}

void TTVRowReader::LearnRows() {
  if (learnt_ || !core_.IsOpen() || !dataSet_ || !dataSet_->core_.IsOpen()) return;
  learnt_ = true;
  rows_.clear();
  DBFObject& mine = dataSet_->core_.Table();
  direct_ =
      !mine.CurrentOrder() && !dataSet_->Filtered() && mine.ShowDeleted() && !dataSet_->rangeSet_;
  if (direct_) return;
  // One pass in the dataset's order; the dataset's current record is read again afterwards.
  TTolvernDataSet& ds = *dataSet_;
  const int32_t current = ds.GetRecNo();
  // Without hidden deleted records, a range or a filter hook, the rows are known without
  // reading a record: the order's entries, or the records, that the filter expression's
  // set (evaluated when the filter was set) lets through.
  const bool byEntries = mine.ShowDeleted() && !dataSet_->rangeSet_ &&
                         (!dataSet_->Filtered() || !dataSet_->OnFilterRecord);
  bool walked = false;
  const size_t limit = static_cast<size_t>(std::max(0, mine.RecordCount()));
  if (byEntries && mine.CurrentOrder()) {
    // An order with more entries than the table has records is damaged (or loops): the
    // handler's walk below copes with it.
    tolvern::KXobjIndexTag& tag = *mine.CurrentOrder();
    walked = true;
    size_t entries = 0;
    // A damaged file is closed on the way (the dataset is told): natural order follows.
    const bool damaged = mine.CatchIndexDamage(tag.File(), [&] {
      for (int32_t recno = tag.Goto(tolvern::PosTop); !tag.Eof();
           recno = tag.Goto(tolvern::PosNext)) {
        if (++entries > limit || recno < 1) {
          walked = false;
          rows_.clear();
          break;
        }
        if (mine.FilterPasses(recno)) rows_.push_back(recno);
      }
    });
    if (damaged) {
      walked = false;
      rows_.clear();
    }
  } else if (byEntries) {
    walked = true;
    for (int32_t recno = 1; recno <= static_cast<int32_t>(limit); ++recno)
      if (mine.FilterPasses(recno)) rows_.push_back(recno);
  }
  if (!walked) {
    const bool ahead = mine.ReadAheadOn();
    for (mine.GetRecord(tolvern::PosTop); !mine.Eof() && !mine.Bof();
         mine.GetRecord(tolvern::PosNext))
      rows_.push_back(mine.CurrentRecord());
    mine.SetReadAheadOn(ahead);
  }
  if (current > 0) ds.GotoRecord(current);
}

int TTVRowReader::RowCount() {
  if (!core_.IsOpen()) return 0;
  LearnRows();
  if (direct_) {
    core_.Table().RefreshHeader();
    return core_.Table().RecordCount();
  }
  return static_cast<int>(rows_.size());
}

bool TTVRowReader::ReadRow(int row, TRecordBuffer& buffer) {
  if (!core_.IsOpen() || row < 0) return false;
  LearnRows();
  int32_t recno;
  if (direct_) {
    recno = row + 1;
  } else {
    if (static_cast<size_t>(row) >= rows_.size()) return false;
    recno = rows_[static_cast<size_t>(row)];
  }
  uint8_t* data = TTolvernDataSet::Data(buffer);
  try {
    if (core_.Fetch(recno, data) != TTVTableCore::FetchResult::Ok) return false;
  } catch (const std::exception&) {
    LogSwallowed("reading a row of the table");
    return false;
  }
  buffer.Bookmark =
      QByteArray(reinterpret_cast<const char*>(data + core_.BookmarkOffset()), kBookmarkSize);
  buffer.BookmarkFlag = bfCurrent;
  return true;
}

int TTVRowReader::RowOf(const TBookmark& bookmark) {
  if (!core_.IsOpen()) return -1;
  QByteArray text = bookmark;
  text.append('\0');
  int32_t recno = 0;
  if (bookmark.size() > kBookmarkSize || !TTVTableCore::ParseBookmark(text.constData(), recno))
    return -1;
  LearnRows();
  if (direct_) return recno <= core_.Table().RecordCount() ? recno - 1 : -1;
  const auto it = std::find(rows_.begin(), rows_.end(), recno);
  return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

QStringList TTVRowReader::Texts(int32_t recno) {
  QStringList texts;
  if (!core_.IsOpen() || !dataSet_ || !dataSet_->Active() || recno < 1) return texts;
  if (!rowBuffer_) rowBuffer_ = dataSet_->NewRecordBuffer();
  if (core_.Fetch(recno, TTolvernDataSet::Data(*rowBuffer_)) != TTVTableCore::FetchResult::Ok)
    return texts;
  // The fields' own texts, so that a row reads as the grid shows it.
  TTolvernDataSet& ds = *dataSet_;
  ds.ReadFieldsFrom(*rowBuffer_, [&] {
    for (int i = 0; i < ds.FieldCount(); ++i) {
      const TField& field = *ds.Field(i);
      if (field.FieldKind() != fkData) continue;
      try {
        texts << ds.FieldDisplayText(field);
      } catch (const std::exception&) {
        LogSwallowed("reading a field for a copy of the record");
        texts << QString();  // a memo the memo file cannot give
      }
    }
  });
  return texts;
}

// ---------------------------------------------------------------------------------------
// Construction and properties

TTolvernDataSet::TTolvernDataSet() = default;

TTolvernDataSet::~TTolvernDataSet() {
  try {
    Close();
  } catch (...) {
    LogSwallowed("closing the table dataset");
  }
  CloseRowReaders();
  for (TTVRowReader* reader : readers_) reader->dataSet_ = nullptr;
  readers_.clear();
  masterLink_.reset();
}

void TTolvernDataSet::SetDatabaseName(const QString& name) {
  if (name == databaseName_) return;
  CheckInactive();
  QString value = name;
  if (value.compare(kDefaultDirectory, Qt::CaseInsensitive) != 0) {
    while (value.size() > 1 && value.endsWith(QLatin1Char('/'))) value.chop(1);
    // A directory becomes its own alias.
    if (!value.isEmpty() && TTVAliasList::Instance().Lookup(value).isNull())
      TTVAliasList::Instance().Add(value, value);
  }
  databaseName_ = value;
}

void TTolvernDataSet::SetTableName(const QString& name) {
  CheckInactive();
  if (name == tableName_) return;
  tableName_ = name;
  indexFiles_.clear();
}

void TTolvernDataSet::SetExclusive(bool on) {
  CheckInactive();
  exclusive_ = on;
}

void TTolvernDataSet::SetReadOnly(bool on) {
  CheckInactive();
  readOnly_ = on;
}

void TTolvernDataSet::SetLockProtocol(tolvern::TkxLokProtocol protocol) {
  lockProtocol_ = protocol;
  if (core_.IsOpen()) core_.Table().SetLockProtocol(static_cast<int>(protocol));
}

void TTolvernDataSet::SetUserID(uint32_t id) {
  userId_ = id;
  if (core_.IsOpen()) core_.Table().SetUserID(id);
}

void TTolvernDataSet::SetUseDeleted(bool on) {
  RecordsChanged();
  if (on == useDeleted_) return;
  if (Active()) CheckBrowseMode();
  useDeleted_ = on;
  if (core_.IsOpen()) {
    core_.Table().SetShowDeleted(on);
    First();
  }
}

void TTolvernDataSet::SetCodePages(const std::string& oem, const std::string& ansi) {
  TTVCodePage::Get(oem);
  TTVCodePage::Get(ansi);
  oemCodePage_ = oem;
  ansiCodePage_ = ansi;
  ChooseCodePage();
}

std::string TTolvernDataSet::CodePageInUse() const {
  if (translateASCII_) return tableOemPage_.empty() ? oemCodePage_ : tableOemPage_;
  return tableAnsiPage_.empty() ? ansiCodePage_ : tableAnsiPage_;
}

void TTolvernDataSet::ChooseCodePage() {
  core_.SetCodePage(CodePageInUse());
  if (Active()) DataEvent(deDataSetChange);
}

void TTolvernDataSet::SetTranslateASCII(bool on) {
  if (on == translateASCII_) return;
  if (Active()) CheckBrowseMode();
  translateASCII_ = on;
  ChooseCodePage();
}

std::string TTolvernDataSet::Encode(const QString& text, const QString& what) const {
  return core_.Encode(text, what);
}

// ---------------------------------------------------------------------------------------
// Resolution

QString TTolvernDataSet::GetTableDirectory() const { return ResolveTableDirectory(databaseName_); }

QString TTolvernDataSet::TableFilePath() const {
  return CompleteTableFile(GetTableDirectory(), tableName_);
}

// ---------------------------------------------------------------------------------------
// Opening and closing

void TTolvernDataSet::CheckActive() const {
  if (busy_ == 1)
    DatabaseError(QCoreApplication::translate("Tolvern", "Table is busy building an index"));
  if (busy_ == 2) DatabaseError(QCoreApplication::translate("Tolvern", "Table is busy copying"));
  TDataSet::CheckActive();
}

void TTolvernDataSet::SetProgress(tolvern::TkxProgress* progress) {
  progress_ = progress;
  if (core_.IsOpen()) core_.Table().ReportTo(progress);
}

void TTolvernDataSet::InstallHooks() {
  DBFObject& t = core_.Table();
  t.OnAccept = [this]() {
    if (!Filtered() || !OnFilterRecord || internalOperation_ || !core_.IsOpen()) return true;
    if (!filterBuffer_) filterBuffer_ = AllocRecordBuffer();
    DBFObject& table = core_.Table();
    std::memcpy(Data(*filterBuffer_), table.Buffer(), static_cast<size_t>(table.RecordLength()));
    core_.SetRecordInfo(Data(*filterBuffer_), table.CurrentRecord(), kBookmarkCurrent);
    return FilterAccepts(*filterBuffer_);
  };
  t.ReportTo(progress_);
  // A damaged index file is closed and the table goes on without it; the user is told.
  t.SetIndexDamageTolerated(true);
  t.OnIndexDamaged = [this](const tolvern::TkxDamagedIndex&) {
    // The order may have been a tag of the closed file.
    if (core_.IsOpen() && !core_.Table().CurrentOrder()) indexName_.clear();
    if (OnIndexDamaged && !internalOperation_ && Active()) OnIndexDamaged(*this);
  };
  t.OnFormula = [this](const std::string& who, const std::string& st, std::span<uint8_t> result,
                       char& type, bool& changed) {
    if (!OnFormula || internalOperation_) return -1;
    std::string rsl(reinterpret_cast<const char*>(result.data()),
                    strnlen(reinterpret_cast<const char*>(result.data()), result.size()));
    bool tf = false;
    OnFormula(who, st, rsl, type, changed, tf);
    if (!result.empty()) {
      const size_t n = std::min(rsl.size(), result.size() - 1);
      std::memcpy(result.data(), rsl.data(), n);
      result[n] = 0;
    }
    return tf ? 0 : -1;
  };
}

void TTolvernDataSet::InternalOpen() {
  if (tableName_.isEmpty())
    DatabaseError(QCoreApplication::translate("Tolvern", "Table name missing"));
  const QString path = TableFilePath();
  if (!QFileInfo(path).isFile())
    DatabaseError(QCoreApplication::translate("Tolvern", "Cannot find file %1").arg(path));
  TTVTableCore::OpenOptions options;
  options.readOnly = readOnly_;
  options.exclusive = exclusive_;
  options.useDeleted = useDeleted_;
  options.readAhead = readAheadWish_;
  options.lockProtocol = static_cast<int>(lockProtocol_);
  options.userId = userId_;
  core_.Open(Path8(path), options);
  openedPath_ = path;
  exactCountValue_ = -1;
  try {
    // Every open starts afresh: a table that names its code page opens in it, any other
    // in the OEM page; nothing carries over from the table open before.
    bool oem = true;
    const std::string page = CodePageForLanguageMark(core_.Table().CodePageMark(), &oem);
    tableOemPage_.clear();
    tableAnsiPage_.clear();
    translateASCII_ = page.empty() || oem;
    if (!page.empty()) (oem ? tableOemPage_ : tableAnsiPage_) = page;
    core_.SetCodePage(CodePageInUse());
    InstallHooks();
    // Writes keep the table's own structural index current.
    OpenProductionIndex();
    firstPending_ = true;
    lastPending_ = false;
    OpenIndexFilesOfList(true);
    if (!indexName_.isEmpty()) SelectOrder(indexName_, true);
    ApplyMasterRange();
    if (Filtered() && !filter_.isEmpty()) CompileFilter();
  } catch (...) {
    core_.Close();
    throw;
  }
}

void TTolvernDataSet::InternalClose() {
  CloseRowReaders();
  filterBuffer_.reset();
  core_.Close();
  tableOemPage_.clear();
  tableAnsiPage_.clear();
  core_.SetCodePage(CodePageInUse());
}

void TTolvernDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  TTVTableCore temporary;
  TTVTableCore* core = &core_;
  if (!core_.IsOpen()) {
    if (tableName_.isEmpty())
      DatabaseError(QCoreApplication::translate("Tolvern", "Table name missing"));
    const QString path = TableFilePath();
    if (!QFileInfo(path).isFile())
      DatabaseError(QCoreApplication::translate("Tolvern", "Cannot find file %1").arg(path));
    TTVTableCore::OpenOptions options;
    options.readOnly = true;
    temporary.Open(Path8(path), options);
    temporary.SetCodePage(CodePageInUse());
    core = &temporary;
  }
  defs_ = MapTableFields(core->Table(), core->CodePage());
  for (TTVFieldDef& def : defs_) {
    // Names repeated in a table get a number, so every field stays reachable.
    QString name = def.name;
    for (int n = 2; FieldDefs().IndexOf(name) >= 0; ++n)
      name = def.name + QLatin1Char('_') + QString::number(n);
    TFieldDef& fd = FieldDefs().Add(name, DataTypeOf(def.kind), def.size);
    fd.Precision = def.decimals;
  }
}

std::unique_ptr<TRecordBuffer> TTolvernDataSet::AllocRecordBuffer() {
  auto buffer = std::make_unique<Buffer>();
  buffer->data.assign(static_cast<size_t>(std::max(core_.BufferSize(), 1)), 0);
  return buffer;
}

void TTolvernDataSet::InternalInitRecord(TRecordBuffer& buffer) {
  core_.InitNewRecord(Data(buffer));
  buffer.Bookmark.clear();
}

// ---------------------------------------------------------------------------------------
// Fetching

TGetResult TTolvernDataSet::GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) {
  int32_t code;
  switch (mode) {
    case gmNext:
      code = firstPending_ ? PosTop : PosNext;
      firstPending_ = false;
      break;
    case gmPrior:
      code = lastPending_ ? PosBottom : PosPrior;
      lastPending_ = false;
      break;
    default:
      if (firstPending_ || lastPending_) return grError;
      // The record being edited is the locked one, whatever the order shows now.
      code = core_.HoldsRecordLock() ? core_.LockedRecord() : PosSame;
  }
  TTVTableCore::FetchResult result;
  try {
    result = core_.Fetch(code, Data(buffer));
    if (code > 0 && core_.Table().CurrentOrder()) core_.Table().CurrentOrder()->SyncToRecord(code);
  } catch (const std::exception&) {
    if (doCheck) throw;
    LogSwallowed("fetching a record");
    return grError;
  }
  if (result == TTVTableCore::FetchResult::Ok) {
    const char* bookmark = reinterpret_cast<const char*>(Data(buffer) + core_.BookmarkOffset());
    // The buffer keeps its bookmark's storage from record to record.
    if (buffer.Bookmark.size() != kBookmarkSize) buffer.Bookmark.resize(kBookmarkSize);
    std::memcpy(buffer.Bookmark.data(), bookmark, kBookmarkSize);
    return grOK;
  }
  if (mode == gmCurrent) {
    if (doCheck)
      DatabaseError(QCoreApplication::translate("Tolvern", "Record request beyond range of table"));
    return grError;
  }
  return result == TTVTableCore::FetchResult::Eof ? grEOF : grBOF;
}

void TTolvernDataSet::InternalFirst() {
  firstPending_ = true;
  lastPending_ = false;
}

void TTolvernDataSet::InternalLast() {
  lastPending_ = true;
  firstPending_ = false;
}

void TTolvernDataSet::GotoRecord(int32_t recno) {
  DBFObject& t = core_.Table();
  t.GetRecord(recno);
  if (t.CurrentOrder() && t.CurrentRecord() == recno) t.CurrentOrder()->SyncToRecord(recno);
  firstPending_ = lastPending_ = false;
}

void TTolvernDataSet::InternalSetToRecord(TRecordBuffer& buffer) {
  // Sequential reads come back to the record the handler stands on: nothing to read.
  const int32_t recno = core_.RecNo(Data(buffer));
  DBFObject& t = core_.Table();
  if (recno > 0 && t.CurrentRecord() == recno && !t.Eof() && !t.Bof() && !firstPending_ &&
      !lastPending_)
    return;
  TDataSet::InternalSetToRecord(buffer);
}

void TTolvernDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  int32_t recno = 0;
  QByteArray text = bookmark;
  text.append('\0');
  if (bookmark.size() > kBookmarkSize || !TTVTableCore::ParseBookmark(text.constData(), recno))
    DatabaseError(QCoreApplication::translate("Tolvern", "Bookmark is invalid for table ") +
                  tableName_);
  GotoRecord(recno);
}

int TTolvernDataSet::GetRecordCount() const {
  CheckActive();
  auto* self = const_cast<TTolvernDataSet*>(this);
  DBFObject& t = self->core_.Table();
  if (!exactCount_) {
    t.RefreshHeader();
    return t.RecordCount();
  }
  if (exactCountValue_ >= 0) return exactCountValue_;
  const int32_t start = t.CurrentRecord();
  int count = 0;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) ++count;
  ++countingPasses_;
  if (start > 0 && start <= t.RecordCount()) self->GotoRecord(start);
  exactCountValue_ = count;
  return count;
}

void TTolvernDataSet::SetExactCount(bool on) {
  exactCount_ = on;
  exactCountValue_ = -1;
}

bool TTolvernDataSet::ShowsRecord(int32_t recno) {
  DBFObject& t = core_.Table();
  if (recno < 1 || recno > t.RecordCount()) return false;
  GotoRecord(recno);
  t.GetRecord(PosPrior);
  const bool first = t.Bof() || t.Eof();
  t.GetRecord(first ? PosTop : PosNext);
  const bool shown = !t.Eof() && !t.Bof() && t.CurrentRecord() == recno;
  GotoRecord(recno);
  return shown;
}

TTolvernDataSet::CountMark TTolvernDataSet::MarkCount(int32_t recno) {
  CountMark mark;
  if (!exactCount_ || exactCountValue_ < 0) return mark;
  mark.count = exactCountValue_;
  mark.shown = recno > 0 && ShowsRecord(recno);
  return mark;
}

void TTolvernDataSet::KeepCount(const CountMark& mark, int32_t recno) {
  if (mark.count < 0 || !exactCount_) return;
  exactCountValue_ = mark.count - (mark.shown ? 1 : 0) + (ShowsRecord(recno) ? 1 : 0);
}

int TTolvernDataSet::GetRecNo() const {
  const TRecordBuffer* buffer = ActiveBuffer();
  if (!buffer || !core_.IsOpen()) return 0;
  return core_.RecNo(Data(*buffer));
}

void TTolvernDataSet::SetRecNoHook(int recNo) { GotoRecord(recNo); }

bool TTolvernDataSet::GetIsSequenced() const {
  return core_.IsOpen() && !core_.TablePtr()->CurrentOrder() && !Filtered() && useDeleted_;
}

// ---------------------------------------------------------------------------------------
// Field data

const TTVFieldDef* TTolvernDataSet::DefOf(const TField& field) const {
  const int n = field.FieldNo();
  if (n < 1 || static_cast<size_t>(n) > defs_.size()) return nullptr;
  return &defs_[static_cast<size_t>(n - 1)];
}

bool TTolvernDataSet::GetFieldData(const TField& field, const TRecordBuffer& buffer,
                                   QVariant& value) const {
  const TTVFieldDef* def = DefOf(field);
  if (!def || !core_.IsOpen()) return false;
  auto& core = const_cast<TTVTableCore&>(core_);
  value = core.Value(Data(buffer), *def);
  if (def->kind == TTVFieldKind::Memo || def->kind == TTVFieldKind::Blob) return value.toBool();
  return value.isValid();
}

bool TTolvernDataSet::GetFieldStored(const TField& field, const TRecordBuffer& buffer,
                                     TStoredValue& stored) const {
  const TTVFieldDef* def = DefOf(field);
  return def && core_.IsOpen() && core_.Stored(Data(buffer), *def, stored);
}

void TTolvernDataSet::SetFieldData(const TField& field, TRecordBuffer& buffer,
                                   const QVariant& value) {
  const TTVFieldDef* def = DefOf(field);
  if (!def)
    DatabaseError(QCoreApplication::translate("Tolvern", "Field '%1' cannot be modified")
                      .arg(field.FieldName()));
  if (State() == dsSetKey && core_.IsOpen() && core_.Table().FieldCount() > 0 &&
      TagForField(def->name) == 0) {
    DatabaseError(
        QCoreApplication::translate("Tolvern", "Field '%1' is not indexed and cannot be modified")
            .arg(field.FieldName()));
  }
  core_.SetValue(Data(buffer), *def, value);
}

QString TTolvernDataSet::FieldDisplayText(const TField& field) {
  if (field.DataType() != ftMemo) return field.DisplayText();
  const TTVFieldDef* def = DefOf(field);
  if (def && def->kind == TTVFieldKind::Memo && field.FieldKind() == fkData) {
    const TRecordBuffer* buffer = ActiveBuffer();
    if (!buffer) return {};
    return core_.MemoDisplay(Data(*buffer), *def);
  }
  return field.DisplayText();
}

// ---------------------------------------------------------------------------------------
// Editing

void TTolvernDataSet::InternalEdit() {
  TRecordBuffer* buffer = ActiveBuffer();
  if (!buffer)
    DatabaseError(QCoreApplication::translate("Tolvern",
                                              "Cannot perform this operation on an empty dataset"));
  const int32_t recno = core_.RecNo(Data(*buffer));
  core_.DiscardPending();
  core_.LockForEdit(recno, Data(*buffer));
  DBFObject& t = core_.Table();
  if (t.CurrentOrder()) t.CurrentOrder()->SyncToRecord(recno);
}

void TTolvernDataSet::InternalPost() {
  if (readOnly_)
    DatabaseError(QCoreApplication::translate("Tolvern", "Cannot modify a read-only dataset"));
  TRecordBuffer* buffer = ActiveBuffer();
  if (!buffer)
    DatabaseError(QCoreApplication::translate("Tolvern", "Dataset not in edit or insert mode"));
  int32_t recno;
  CountMark mark;
  if (State() == dsEdit) {
    recno = core_.HoldsRecordLock() ? core_.LockedRecord() : core_.RecNo(Data(*buffer));
    mark = MarkCount(recno);
    core_.Post(Data(*buffer), recno);
  } else {
    mark = MarkCount(0);
    recno = core_.Post(Data(*buffer), 0);
  }
  core_.ReleaseRecordLock();
  GotoRecord(recno);
  RecordWrittenToReaders(recno);
  KeepCount(mark, recno);
}

void TTolvernDataSet::InternalCancel() {
  core_.DiscardPending();
  core_.ReleaseRecordLock();
}

void TTolvernDataSet::InternalDelete() {
  TRecordBuffer* buffer = ActiveBuffer();
  if (!buffer)
    DatabaseError(QCoreApplication::translate("Tolvern",
                                              "Cannot perform this operation on an empty dataset"));
  const int32_t recno = core_.RecNo(Data(*buffer));
  DBFObject& t = core_.Table();
  const CountMark mark = MarkCount(recno);
  {
    ScopeExit restore([&] { t.SetShowDeleted(useDeleted_); });
    t.SetShowDeleted(true);
    try {
      core_.SetDeleted(recno, true, nullptr);
    } catch (const EDatabaseError&) {
      throw;
    } catch (const std::exception&) {
      DatabaseError(QCoreApplication::translate("Tolvern", "Cannot delete the record"));
    }
  }
  // A deleted record ends its edit.
  core_.DiscardPending();
  core_.ReleaseRecordLock();
  GotoRecord(recno);
  RecordWrittenToReaders(recno);
  KeepCount(mark, recno);
  t.GetRecord(PosSame);
  if (t.Eof()) t.GetRecord(PosPrior);
}

void TTolvernDataSet::CopyRecord() {
  CheckBrowseMode();
  if (IsEmpty())
    DatabaseError(QCoreApplication::translate("Tolvern",
                                              "Cannot perform this operation on an empty dataset"));
  DBFObject& t = core_.Table();
  const size_t length = static_cast<size_t>(t.RecordLength());
  const uint8_t* active = Data(*ActiveBuffer());
  const std::vector<uint8_t> image(active, active + length);
  // A memo field's block number is never shared: the copy gets its own blocks at the
  // post, so the source's memos are read now and kept as the new record's pending memos.
  std::vector<const tolvern::DbfFieldInfo*> copied;
  std::vector<std::pair<int, QByteArray>> memos;
  for (const tolvern::DbfFieldInfo& f : t.Fields()) {
    if (f.type == '+') continue;  // the source's own number
    const bool memoType = f.type == 'M' || f.type == 'G' || f.type == 'P' || f.type == 'W' ||
                          (f.type == 'B' && t.Version() != tolvern::kVersionVisual);
    if (!memoType) {
      copied.push_back(&f);
      continue;
    }
    if (!t.MemoFor(f.number)) continue;
    const QByteArray bytes = core_.Memo(image.data(), f.number);
    auto def = std::find_if(defs_.begin(), defs_.end(),
                            [&](const TTVFieldDef& d) { return d.fieldNo == f.number; });
    const bool hasMemo =
        def != defs_.end() ? core_.Value(image.data(), *def).toBool() : !bytes.isEmpty();
    if (hasMemo) memos.emplace_back(f.number, bytes);
  }
  Append();
  uint8_t* target = Data(*ActiveBuffer());
  for (const tolvern::DbfFieldInfo* f : copied)
    if (f->offset >= 0 && static_cast<size_t>(f->offset + f->length) <= length)
      std::memcpy(target + f->offset, image.data() + f->offset, static_cast<size_t>(f->length));
  for (const auto& [fieldNo, bytes] : memos) core_.SetPendingMemo(fieldNo, bytes);
  SetModified(true);
  DataEvent(deRecordChange);
}

void TTolvernDataSet::RecallRecord() {
  CheckActive();
  if (State() == dsInsert || State() == dsSetKey) {
    Cancel();
    return;
  }
  if (IsEmpty())
    DatabaseError(QCoreApplication::translate("Tolvern",
                                              "Cannot perform this operation on an empty dataset"));
  // Recalling ends an edit of the record as deleting does: its changes are dropped.
  if (State() == dsEdit) Cancel();
  CheckBrowseMode();
  const int32_t recno = GetRecNo();
  if (BeforeDelete) BeforeDelete(*this);
  if (BeforeScroll) BeforeScroll(*this);
  DBFObject& t = core_.Table();
  const CountMark mark = MarkCount(recno);
  {
    ScopeExit restore([&] { t.SetShowDeleted(useDeleted_); });
    t.SetShowDeleted(true);
    try {
      core_.SetDeleted(recno, false, nullptr);
    } catch (const EDatabaseError&) {
      throw;
    } catch (const std::exception&) {
      DatabaseError(QCoreApplication::translate("Tolvern", "Cannot recall the record"));
    }
  }
  RecordsChanged();
  KeepCount(mark, recno);
  GotoRecord(recno);
  Resync(0);
  if (AfterDelete) AfterDelete(*this);
  if (AfterScroll) AfterScroll(*this);
}

void TTolvernDataSet::InternalRefresh() {
  RecordsChanged();
  DBFObject& t = core_.Table();
  t.RefreshHeader();
  t.RebuildFilter();
  if (const TRecordBuffer* buffer = ActiveBuffer()) {
    const int32_t recno = core_.RecNo(Data(*buffer));
    if (recno > 0 && recno <= t.RecordCount()) GotoRecord(recno);
  }
}

bool TTolvernDataSet::IsDeleted() const {
  const TRecordBuffer* buffer = ActiveBuffer();
  return buffer && core_.IsOpen() && Data(*buffer)[0] == '*';
}

int32_t TTolvernDataSet::RecNoOfRow(const TRecordBuffer& row) {
  if (row.BookmarkFlag != bfCurrent || row.Bookmark.size() > kBookmarkSize) return 0;
  QByteArray text = row.Bookmark;
  text.append('\0');
  int32_t recno = 0;
  return TTVTableCore::ParseBookmark(text.constData(), recno) ? recno : 0;
}

bool TTolvernDataSet::RowIsDeleted(const TRecordBuffer& row) const {
  const auto& data = static_cast<const Buffer&>(row).data;
  return core_.IsOpen() && !data.empty() && data[0] == '*';
}

// ---------------------------------------------------------------------------------------
// Filter

void TTolvernDataSet::CompileFilter() {
  RecordsChanged();
  DBFObject& t = core_.Table();
  t.SetFilterActive(true);
  t.SetFilterExpression(Encode(filter_, QStringLiteral("Filter")),
                        (filterOptions_ & foCaseInsensitive) != 0, false,
                        (filterOptions_ & foNoPartialCompare) == 0);
}

void TTolvernDataSet::SetFilter(const QString& filter) {
  filter_ = filter;
  if (core_.IsOpen() && Active() && Filtered()) {
    CheckBrowseMode();
    CompileFilter();
    First();
  }
}

void TTolvernDataSet::SetFilterOptions(TFilterOptions options) {
  filterOptions_ = options;
  if (core_.IsOpen() && Active() && Filtered()) {
    CheckBrowseMode();
    CompileFilter();
    First();
  }
}

void TTolvernDataSet::SetFiltered(bool filtered) {
  RecordsChanged();
  if (!Active()) {
    TDataSet::SetFiltered(filtered);
    return;
  }
  CheckBrowseMode();
  if (filtered == Filtered()) return;
  DBFObject& t = core_.Table();
  if (filtered && !filter_.isEmpty()) {
    CompileFilter();
  } else {
    t.SetFilterActive(filtered);
  }
  TDataSet::SetFiltered(filtered);  // goes to the first record
}

// ---------------------------------------------------------------------------------------
// Index files and order

void TTolvernDataSet::OpenIndexFile(const QString& fileName) {
  CheckActive();
  OpenOneIndex(fileName, false);
}

void TTolvernDataSet::OpenProductionIndex() {
  const std::string path = core_.Table().ProductionIndexPath();
  if (!path.empty()) core_.Table().OpenIndexFileOrMark(path);
}

std::vector<TTVDamagedIndex> TTolvernDataSet::DamagedIndexes() const {
  std::vector<TTVDamagedIndex> list;
  if (!core_.IsOpen()) return list;
  for (const tolvern::TkxDamagedIndex& damaged : core_.TablePtr()->DamagedIndexes()) {
    const QString path = FromPath8(damaged.path);
    // A file deleted since is no longer the table's.
    if (QFileInfo(path).isFile()) list.push_back({path, QString::fromLocal8Bit(damaged.reason)});
  }
  return list;
}

void TTolvernDataSet::OpenOneIndex(const QString& fileName, bool acceptOpen) {
  const QString path = CompleteIndexFile(GetTableDirectory(), fileName);
  if (!QFileInfo(path).isFile())
    DatabaseError(QCoreApplication::translate("Tolvern", "Cannot find file %1").arg(path));
  int result;
  try {
    // The files the table opens with: one that cannot be read is listed as damaged and
    // the table goes on without it.
    result = acceptOpen ? core_.Table().OpenIndexFileOrMark(Path8(path))
                        : core_.Table().OpenIndexFile(Path8(path));
    if (result == tolvern::kErrIndexDamaged && acceptOpen) return;
  } catch (const std::exception& e) {
    DatabaseError(QCoreApplication::translate("Tolvern", "Error getting %1: %2")
                      .arg(path, QString::fromLocal8Bit(e.what())));
  }
  if (result == 0 || (result == -1 && acceptOpen)) return;
  if (result == -1)
    DatabaseError(QCoreApplication::translate("Tolvern", "Index file %1 already open").arg(path));
  DatabaseError(QCoreApplication::translate("Tolvern", "Error getting %1").arg(path));
}

void TTolvernDataSet::CloseIndexFile(const QString& fileName) {
  CheckActive();
  const QString path = CompleteIndexFile(GetTableDirectory(), fileName);
  CheckBrowseMode();
  if (core_.Table().CloseIndexFile(Path8(path)) == 0 && !core_.Table().CurrentOrder()) {
    indexName_.clear();
    First();
  }
}

void TTolvernDataSet::DeleteIndexFile(const QString& fileName) {
  CheckActive();
  const QString path = CompleteIndexFile(GetTableDirectory(), fileName);
  CheckBrowseMode();
  RecordsChanged();
  tolvern::DeleteIndexFile(core_.Table(), Path8(path));
  // The list of index files to open no longer names it.
  const QString canonical = QFileInfo(path).absoluteFilePath();
  indexFiles_.removeIf([&](const QString& name) {
    return QFileInfo(CompleteIndexFile(GetTableDirectory(), name)).absoluteFilePath() == canonical;
  });
  if (!core_.Table().CurrentOrder()) indexName_.clear();
  First();
}

void TTolvernDataSet::OpenIndexFilesOfList(bool acceptOpen) {
  for (const QString& name : indexFiles_) OpenOneIndex(name, acceptOpen);
}

void TTolvernDataSet::SetIndexFiles(const QStringList& files) {
  RecordsChanged();
  indexFiles_ = files;
  if (internalOperation_ || !core_.IsOpen()) {
    if (files.isEmpty()) indexName_.clear();
    return;
  }
  CheckBrowseMode();
  DBFObject& t = core_.Table();
  const int32_t recno = GetRecNo();
  t.CloseAllIndexes();
  OpenProductionIndex();
  if (files.isEmpty()) indexName_.clear();
  OpenIndexFilesOfList(true);
  if (!indexName_.isEmpty() && !t.TagByName(Path8(indexName_))) indexName_.clear();
  SelectOrder(indexName_, true);
  if (recno > 0) GotoRecord(recno);
  ApplyMasterRange();
  if (!IsEmpty()) {
    try {
      Resync(0);
    } catch (const std::exception&) {
      LogSwallowed("showing the records again after the order changed");
    }
  }
  DataEvent(deDataSetChange);
}

void TTolvernDataSet::SetIndexList(const QString& fileList, const QString& tagName) {
  SetIndexFiles(SplitIndexList(fileList));
  SetIndexName(tagName);
}

void TTolvernDataSet::SelectOrder(const QString& tagName, bool keepPosition) {
  core_.Table().SelectOrder(Encode(tagName, QStringLiteral("IndexName")), keepPosition);
  firstPending_ = lastPending_ = false;
  // The read-ahead wish holds in natural order.
  if (tagName.isEmpty()) core_.Table().SetReadAheadOn(readAheadWish_);
}

void TTolvernDataSet::SetIndexName(const QString& tagName) {
  RecordsChanged();
  if (!core_.IsOpen() || !Active()) {
    indexName_ = tagName;
    return;
  }
  CheckBrowseMode();
  const int32_t recno = GetRecNo();
  SelectOrder(tagName, false);
  // A tag whose file proved damaged leaves natural order.
  indexName_ = core_.Table().CurrentOrder() ? tagName : QString();
  if (recno > 0) GotoRecord(recno);
  ApplyMasterRange();
  // Both Resync and First tell the links once that the rows changed; a second notice
  // would make every grid learn the order again.
  bool told = true;
  if (!IsEmpty()) {
    try {
      Resync(0);
    } catch (const std::exception&) {
      LogSwallowed("showing the records again");
      told = false;
    }
  } else {
    First();
  }
  if (!told) DataEvent(deDataSetChange);
}

// ---------------------------------------------------------------------------------------
// Ranges and master/detail

std::string TTolvernDataSet::KeyText(const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return {};
  switch (value.typeId()) {
    case QMetaType::QDate:
      return value.toDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
    case QMetaType::QDateTime:
      return value.toDateTime().date().toString(QStringLiteral("yyyyMMdd")).toStdString();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
      return std::to_string(value.toLongLong());
    case QMetaType::Double:
      return QString::number(value.toDouble(), 'f', 10).toStdString();
    case QMetaType::Bool:
      return value.toBool() ? "T" : "F";
    default:
      return Encode(value.toString(), QStringLiteral("key"));
  }
}

void TTolvernDataSet::SetRange(const QString& lowText, const QString& highText) {
  RecordsChanged();
  CheckActive();
  CheckBrowseMode();
  DBFObject& t = core_.Table();
  rangeSet_ = !lowText.isEmpty() || !highText.isEmpty();
  t.SetRange(Encode(lowText, QStringLiteral("range")), Encode(highText, QStringLiteral("range")),
             true, true);
  First();
}

TDataSource* TTolvernDataSet::MasterSource() const {
  return masterLink_ ? masterLink_->DataSource() : nullptr;
}

void TTolvernDataSet::SetMasterSource(TDataSource* source) {
  // A source that leads back to this dataset would make every move a loop.
  for (TDataSource* s = source; s && s->DataSet();) {
    if (s->DataSet() == this)
      DatabaseError(QCoreApplication::translate("Tolvern", "Circular datalinks are not allowed"));
    auto* detail = dynamic_cast<TTolvernDataSet*>(s->DataSet());
    s = detail ? detail->MasterSource() : nullptr;
  }
  if (!masterLink_) masterLink_ = std::make_unique<MasterLink>(*this);
  masterLink_->SetDataSource(source);
  if (core_.IsOpen() && Active()) MasterChanged();
}

void TTolvernDataSet::SetMasterFields(const QString& fields) {
  masterFields_ = fields;
  if (core_.IsOpen() && Active()) MasterChanged();
}

void TTolvernDataSet::ApplyMasterRange() {
  TDataSource* source = MasterSource();
  if (!source || !source->DataSet() || !source->DataSet()->Active() || masterFields_.isEmpty() ||
      !core_.Table().CurrentOrder())
    return;
  TField* field = source->DataSet()->FindField(masterFields_);
  if (!field) return;
  const std::string key = KeyText(field->Value());
  core_.Table().SetRange(key, key, true, true);
  rangeSet_ = true;
}

void TTolvernDataSet::MasterChanged() {
  RecordsChanged();
  if (!core_.IsOpen() || !Active() || internalOperation_) return;
  TDataSource* source = MasterSource();
  const bool linked = source && source->Enabled() && source->DataSet() &&
                      source->DataSet()->Active() && !masterFields_.isEmpty();
  CheckBrowseMode();
  if (linked) {
    ApplyMasterRange();
  } else if (rangeSet_) {
    core_.Table().SetRange(std::string(), std::string(), true, true);
    rangeSet_ = false;
  }
  First();
}

// ---------------------------------------------------------------------------------------
// Locate and lookup

std::string TTolvernDataSet::SearchTextOf(const TTVFieldDef& def, const QVariant& value) const {
  if (!value.isValid() || value.isNull()) return {};
  switch (def.kind) {
    case TTVFieldKind::Date: {
      const QDate date = value.toDate();
      if (!date.isValid()) return Encode(value.toString(), def.name);
      return tolvern::GlobalDateConverter().DisplayForm(static_cast<int32_t>(date.toJulianDay()));
    }
    case TTVFieldKind::Float:
      return QString::number(value.toDouble(), 'f', std::max(def.decimals, 0)).toStdString();
    case TTVFieldKind::SmallInt:
    case TTVFieldKind::Integer:
      return std::to_string(value.toLongLong());
    case TTVFieldKind::Boolean:
      return value.toBool() ? "T" : "F";
    default:
      return Encode(value.toString(), def.name);
  }
}

int32_t TTolvernDataSet::FindRecord(const TTVFieldDef& def, const QVariant& value,
                                    bool caseInsensitive, bool partial) {
  DBFObject& t = core_.Table();
  const int tagNo = caseInsensitive ? 0 : TagForField(def.name);
  if (tagNo > 0) {
    t.SelectOrder(t.TagByNumber(tagNo)->TagName(), false);
    t.SetExactMatch(!partial);
    t.SoftSeek = false;
    const bool found = t.FindKey(KeyText(value));
    return found && !t.Eof() ? t.CurrentRecord() : 0;
  }
  std::string text = SearchTextOf(def, value);
  uint16_t options = tolvern::kSearchAnchored;
  if (partial) {
    options |= tolvern::kSearchWildcards;
    text += '*';
  } else {
    options |= tolvern::kSearchWholeValue;
  }
  if (caseInsensitive) options |= tolvern::kSearchCaseInsensitive;
  t.SearchOptions = options;
  int32_t fieldNo = def.fieldNo;
  int32_t recno = 0;
  return t.SearchText(text, fieldNo, false, 0, recno) ? recno : 0;
}

bool TTolvernDataSet::Locate(const QString& keyFields, const QVariant& keyValues,
                             TLocateOptions options) {
  CheckBrowseMode();
  if (IsEmpty()) return false;
  if (keyFields.contains(QLatin1Char(';')) || !FindField(keyFields) ||
      !DefOf(*FindField(keyFields)))
    return TDataSet::Locate(keyFields, keyValues, options);
  const TTVFieldDef& def = *DefOf(*FindField(keyFields));
  DBFObject& t = core_.Table();
  const int32_t start = GetRecNo();
  const std::string order = t.CurrentOrderName();
  int32_t found = 0;
  {
    ScopeExit restore([&] {
      t.SelectOrder(order, false);
      if (!indexName_.isEmpty()) ApplyMasterRange();
      SelectOrder(indexName_, true);
    });
    found = FindRecord(def, keyValues, (options & loCaseInsensitive) != 0,
                       (options & loPartialKey) != 0);
  }
  if (found <= 0) {
    if (start > 0) GotoRecord(start);
    return false;
  }
  if (BeforeScroll) BeforeScroll(*this);
  GotoRecord(found);
  Resync(rmExact | rmCenter);
  if (AfterScroll) AfterScroll(*this);
  return true;
}

QVariant TTolvernDataSet::Lookup(const QString& keyFields, const QVariant& keyValues,
                                 const QString& resultFields) {
  CheckBrowseMode();
  if (IsEmpty()) return {};
  if (keyFields.contains(QLatin1Char(';')) || resultFields.contains(QLatin1Char(';')) ||
      !FindField(keyFields) || !DefOf(*FindField(keyFields)))
    return TDataSet::Lookup(keyFields, keyValues, resultFields);
  const TTVFieldDef& def = *DefOf(*FindField(keyFields));
  TField* result = FieldByName(resultFields);
  DBFObject& t = core_.Table();
  const int32_t start = GetRecNo();
  const std::string order = t.CurrentOrderName();
  QVariant value;
  {
    ScopeExit restore([&] {
      SelectOrder(indexName_, true);
      ApplyMasterRange();
      if (start > 0) GotoRecord(start);
    });
    const int32_t found =
        FindRecord(def, keyValues.isValid() ? keyValues : QVariant(QString()), false, false);
    if (found > 0) {
      auto buffer = AllocRecordBuffer();
      if (core_.Fetch(found, Data(*buffer)) == TTVTableCore::FetchResult::Ok) {
        if (const TTVFieldDef* rdef = DefOf(*result)) value = core_.Value(Data(*buffer), *rdef);
      }
    }
  }
  return value;
}

bool TTolvernDataSet::SearchText(const QString& text, int& fieldNo, int32_t lastRecord,
                                 int32_t& recNo) {
  CheckActive();
  CheckBrowseMode();
  DisableControls();
  ScopeExit enable([&] { EnableControls(); });
  if (BeforeScroll) BeforeScroll(*this);
  int32_t field = fieldNo;
  int32_t recno = recNo;
  bool found = false;
  try {
    found = core_.Table().SearchText(Encode(text, QStringLiteral("search")), field, false,
                                     lastRecord, recno);
  } catch (const tolvern::ETolvernCancelled&) {
    // A stopped search leaves the dataset on the record it stood on.
    if (GetRecNo() > 0) GotoRecord(GetRecNo());
    throw;
  }
  if (!found) {
    if (GetRecNo() > 0) GotoRecord(GetRecNo());
    return false;
  }
  fieldNo = field;
  recNo = recno;
  GotoRecord(recno);
  Resync(rmExact | rmCenter);
  if (AfterScroll) AfterScroll(*this);
  return true;
}

// ---------------------------------------------------------------------------------------
// Tags

int TTolvernDataSet::GetTagCount() const {
  if (!core_.IsOpen()) return 0;
  int count = 0;
  for (int slot = 1; slot <= DBFObject::kMaxIndexFiles; ++slot)
    if (auto* file = core_.TablePtr()->IndexFile(slot)) count += file->TagCount();
  return count;
}

QString TTolvernDataSet::GetTagName(int n) const {
  auto* tag = core_.IsOpen() ? core_.TablePtr()->TagByNumber(n) : nullptr;
  return tag ? core_.Decode(tag->TagName()) : QString();
}

QString TTolvernDataSet::GetTagKey(int n) const {
  auto* tag = core_.IsOpen() ? core_.TablePtr()->TagByNumber(n) : nullptr;
  return tag ? core_.Decode(tag->KeyExprText()) : QString();
}

QString TTolvernDataSet::GetTagFor(int n) const {
  auto* tag = core_.IsOpen() ? core_.TablePtr()->TagByNumber(n) : nullptr;
  return tag ? core_.Decode(tag->ForExprText()) : QString();
}

bool TTolvernDataSet::GetTagUnique(int n) const {
  auto* tag = core_.IsOpen() ? core_.TablePtr()->TagByNumber(n) : nullptr;
  return tag && tag->Unique();
}

bool TTolvernDataSet::GetTagAscending(int n) const {
  auto* tag = core_.IsOpen() ? core_.TablePtr()->TagByNumber(n) : nullptr;
  return !tag || tag->Ascending();
}

QString TTolvernDataSet::GetTagFile(int n) const {
  if (!core_.IsOpen() || n < 1) return {};
  for (int slot = 1; slot <= DBFObject::kMaxIndexFiles; ++slot) {
    auto* file = core_.TablePtr()->IndexFile(slot);
    if (!file) continue;
    if (n <= file->TagCount())
      return FromPath8(file->Disk() ? file->Disk()->FileName() : file->FileName());
    n -= file->TagCount();
  }
  return {};
}

QString TTolvernDataSet::GetCurrentTagName() const {
  if (!core_.IsOpen() || !core_.TablePtr()->CurrentOrder()) return {};
  return core_.Decode(core_.TablePtr()->CurrentOrder()->TagName());
}

int TTolvernDataSet::GetCurrentTagNumber() const {
  if (!core_.IsOpen() || !core_.TablePtr()->CurrentOrder()) return 0;
  for (int n = 1; n <= GetTagCount(); ++n)
    if (core_.TablePtr()->TagByNumber(n) == core_.TablePtr()->CurrentOrder()) return n;
  return 0;
}

int TTolvernDataSet::TagForField(const QString& fieldName) const {
  for (int n = 1; n <= GetTagCount(); ++n) {
    auto* tag = core_.TablePtr()->TagByNumber(n);
    if (tag && tag->ForExprText().empty() &&
        core_.Decode(tag->KeyExprText()).trimmed().compare(fieldName, Qt::CaseInsensitive) == 0)
      return n;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Maintenance

void TTolvernDataSet::RecordsChanged() {
  exactCountValue_ = -1;
  for (TTVRowReader* reader : readers_) {
    reader->Forget();
    reader->Invalidate();
  }
}

void TTolvernDataSet::RecordWrittenToReaders(int32_t recno) {
  for (TTVRowReader* reader : readers_) reader->RecordWritten(recno);
  GotoRecord(recno);
}

void TTolvernDataSet::CloseRowReaders() {
  // Whatever closes the readers (a close, a pack, long work) may change the records.
  exactCountValue_ = -1;
  for (TTVRowReader* reader : readers_) reader->Close();
}

std::unique_ptr<TRowReader> TTolvernDataSet::CreateRowReader() {
  CheckActive();
  return std::unique_ptr<TRowReader>(new TTVRowReader(*this));
}

void TTolvernDataSet::RunBusy(int state, const std::function<void()>& work) {
  CheckActive();
  CheckBrowseMode();
  CloseRowReaders();
  DisableControls();
  busy_ = state;
  {
    ScopeExit done([&] {
      busy_ = 0;
      EnableControls();
    });
    work();
  }
  First();
  DataEvent(deRecordsReplaced);
}

void TTolvernDataSet::Pack() {
  CheckActive();
  CheckBrowseMode();
  CloseRowReaders();
  core_.Table().AllowReadAhead(false);
  // The handler opens the packed files itself; counts taken before are void.
  exactCountValue_ = -1;
  core_.Table().Pack();
  First();
  DataEvent(deRecordsReplaced);
}

void TTolvernDataSet::Zap() {
  CheckActive();
  CheckBrowseMode();
  CloseRowReaders();
  core_.Table().Zap();
  First();
  DataEvent(deRecordsReplaced);
}

void TTolvernDataSet::Reindex() {
  CheckActive();
  CheckBrowseMode();
  exactCountValue_ = -1;
  core_.Table().ReindexAll();
  First();
  DataEvent(deRecordsReplaced);
}

int TTolvernDataSet::IndexOn(const QString& indexFileName, const QString& tagName, int sortOption,
                             bool duplicates, const QString& forExpression,
                             const QString& keyExpression) {
  int result = 0;
  const QString path = CompleteIndexFile(GetTableDirectory(), indexFileName);
  QStringList lost;
  RunBusy(1, [&] {
    DBFObject& t = core_.Table();
    // The build closes every index file of the table; they are opened again whatever
    // happens, so that later writes keep them current. One that does not open again is
    // no longer kept current: the caller must learn which.
    std::vector<std::string> wanted;
    for (int slot = 1; slot <= DBFObject::kMaxIndexFiles; ++slot)
      if (tolvern::KXobjIndexFile* file = t.IndexFile(slot); file && file->Disk())
        wanted.push_back(file->Disk()->FileName());
    auto reopen = [&] {
      const auto isOpen = [&t](const std::string& name) {
        for (int slot = 1; slot <= DBFObject::kMaxIndexFiles; ++slot)
          if (tolvern::KXobjIndexFile* file = t.IndexFile(slot); file && file->SameFile(name))
            return true;
        return false;
      };
      try {
        OpenProductionIndex();
      } catch (const std::exception&) {
        LogSwallowed("opening the production index again after an index build");
      }
      for (const QString& name : indexFiles_) {
        try {
          OpenOneIndex(name, true);
        } catch (const std::exception&) {
          LogSwallowed("opening an index file again after an index build");
        }
      }
      if (QFileInfo(path).isFile()) wanted.push_back(Path8(QFileInfo(path).absoluteFilePath()));
      // The new file, and files opened by name rather than through the list.
      for (const std::string& name : wanted) {
        if (isOpen(name)) continue;
        try {
          OpenOneIndex(FromPath8(name), true);
        } catch (const std::exception&) {
          LogSwallowed("opening an index file again after an index build");
        }
      }
      QStringList notOpen;
      for (const std::string& name : wanted) {
        const QString shown = FromPath8(name);
        if (!isOpen(name) && !notOpen.contains(shown)) notOpen << shown;
      }
      if (!indexName_.isEmpty() && !t.TagByName(Encode(indexName_, QStringLiteral("tag"))))
        indexName_.clear();
      SelectOrder(indexName_, true);
      return notOpen;
    };
    try {
      result = t.IndexOn(Path8(path), Encode(tagName, QStringLiteral("tag")), sortOption,
                         duplicates, Encode(forExpression, QStringLiteral("FOR")),
                         Encode(keyExpression, QStringLiteral("key")));
    } catch (...) {
      // The build's own error (or its cancel) is what the caller sees; files that did not
      // open again are at least written down.
      try {
        for (const QString& file : reopen())
          qCWarning(lcFendral, "index file not open again after a failed index build: %s",
                    qUtf8Printable(file));
      } catch (...) {
        LogSwallowed("opening the index files again after a failed index build");
      }
      throw;
    }
    lost = reopen();
  });
  // Reported once the dataset is browsing again: it stays usable without those files.
  if (!lost.isEmpty())
    DatabaseError(QCoreApplication::translate(
                      "Tolvern",
                      "These index files could not be opened again and are no longer kept "
                      "current: %1")
                      .arg(lost.join(QStringLiteral(", "))));
  return result;
}

int TTolvernDataSet::DeleteTag(const QString& indexFileName, const QString& tagName) {
  CheckActive();
  CheckBrowseMode();
  const QString path = CompleteIndexFile(GetTableDirectory(), indexFileName);
  const int result = core_.Table().DeleteTag(Path8(path), Encode(tagName, QStringLiteral("tag")));
  if (!core_.Table().CurrentOrder()) indexName_.clear();
  First();
  return result;
}

void TTolvernDataSet::CopyTable(const QString& newFileName) {
  RunBusy(2, [&] { core_.Table().CopyTable(Path8(newFileName)); });
}

void TTolvernDataSet::CopyStructure(const QString& newFileName) {
  CheckActive();
  CheckBrowseMode();
  core_.Table().CopyStructure(Path8(newFileName));
}

void TTolvernDataSet::FlushTable() {
  CheckActive();
  CheckBrowseMode();
  core_.Table().FlushFile();
}

void TTolvernDataSet::RenameTable(const QString& newPathName) {
  CheckInactive();
  const bool exclusive = exclusive_;
  const bool filtered = Filtered();
  const QString oldBase = QFileInfo(tableName_).completeBaseName();
  // The table opens only for the rename: controls must not see it open, or a grid's row
  // reader would hold a second handle on the file being renamed.
  DisableControls();
  ScopeExit restore([&] {
    internalOperation_ = false;
    try {
      Close();
    } catch (...) {
      LogSwallowed("closing the table after renaming it");
    }
    exclusive_ = exclusive;
    TDataSet::SetFiltered(filtered);
    EnableControls();
  });
  exclusive_ = true;
  TDataSet::SetFiltered(false);
  internalOperation_ = true;
  Open();
  if (!core_.Table().RenameTo(Path8(newPathName)))
    DatabaseError(
        QCoreApplication::translate("Tolvern", "Cannot rename the table to %1").arg(newPathName));
  QStringList files = indexFiles_;
  for (QString& entry : files) {
    const QFileInfo info(entry);
    if (info.completeBaseName().compare(oldBase, Qt::CaseInsensitive) == 0) {
      const QFileInfo target(newPathName);
      entry = target.path() + QLatin1Char('/') + target.completeBaseName() +
              (info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix());
    }
  }
  Close();
  indexFiles_ = files;
  const QFileInfo target(newPathName);
  databaseName_ = target.path();
  tableName_ = target.fileName();
}

void TTolvernDataSet::SetReadAhead(bool on) {
  readAheadWish_ = on;
  if (core_.IsOpen()) core_.Table().SetReadAheadOn(on);
}

void TTolvernDataSet::GetHeaderInfo(int32_t& updateDate, uint32_t& updateStamp, uint32_t& userId) {
  updateDate = 0;
  updateStamp = 0;
  userId = 0;
  CheckActive();
  const auto info = core_.Table().GetHeaderInfo();
  updateDate = info.date;
  updateStamp = info.stamp;
  userId = info.userId;
}

// ---------------------------------------------------------------------------------------
// Blobs and memo text

std::unique_ptr<QIODevice> TTolvernDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
  CheckActive();
  if (!DefOf(field)) return TDataSet::CreateBlobStream(field, mode);
  return std::make_unique<TTVBlobStream>(field, mode);
}

QString TTolvernDataSet::BlobToText(const TField&, const QByteArray& bytes) const {
  return core_.CodePage().Decode(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QByteArray TTolvernDataSet::TextToBlob(const TField& field, const QString& text) const {
  const std::string bytes = Encode(text, field.FieldName());
  return QByteArray::fromStdString(bytes);
}

QByteArray TTolvernDataSet::ActiveMemo(const TField& field) {
  const TTVFieldDef* def = DefOf(field);
  const TRecordBuffer* buffer = ActiveBuffer();
  if (!def || !buffer) return {};
  return core_.Memo(Data(*buffer), def->fieldNo);
}

void TTolvernDataSet::StoreMemo(TField& field, const QByteArray& bytes) {
  const TTVFieldDef* def = DefOf(field);
  if (!def) return;
  if (State() != dsEdit && State() != dsInsert) return;
  core_.SetPendingMemo(def->fieldNo, bytes);
  SetModified(true);
  DataEvent(deFieldChange, &field);
}

TTVBlobStream::TTVBlobStream(TField& field, TBlobStreamMode mode)
    : field_(field), dataSet_(dynamic_cast<TTolvernDataSet*>(field.DataSet())) {
  if (!dataSet_)
    DatabaseError(
        QCoreApplication::translate("Tolvern", "Field '%1' has no table").arg(field.FieldName()));
  if (mode != bmRead) {
    if (field.ReadOnly())
      DatabaseError(QCoreApplication::translate("Tolvern", "Field '%1' cannot be modified")
                        .arg(field.DisplayLabel()));
    if (dataSet_->State() != dsEdit && dataSet_->State() != dsInsert)
      DatabaseError(QCoreApplication::translate("Tolvern", "Dataset not in edit or insert mode"));
  }
  if (mode == bmWrite) {
    modified_ = true;
  } else if (!field.IsNull()) {
    data_ = dataSet_->ActiveMemo(field);
  }
  open(mode == bmRead    ? QIODevice::ReadOnly
       : mode == bmWrite ? QIODevice::WriteOnly
                         : QIODevice::ReadWrite);
}

TTVBlobStream::~TTVBlobStream() {
  try {
    Commit();
  } catch (...) {
    // Nothing may escape a destructor; the memo stays as it was.
    LogSwallowed("writing a memo when its stream closed");
  }
}

void TTVBlobStream::Commit() {
  if (!modified_ || !dataSet_) return;
  modified_ = false;
  dataSet_->StoreMemo(field_, data_);
}

void TTVBlobStream::close() {
  Commit();
  QIODevice::close();
}

bool TTVBlobStream::seek(qint64 pos) {
  if (pos < 0) return false;
  return QIODevice::seek(pos);
}

qint64 TTVBlobStream::readData(char* data, qint64 maxSize) {
  const qint64 position = pos();
  if (position >= data_.size() || maxSize <= 0) return 0;
  const qint64 n = std::min(maxSize, data_.size() - position);
  std::memcpy(data, data_.constData() + position, static_cast<size_t>(n));
  return n;
}

qint64 TTVBlobStream::writeData(const char* data, qint64 maxSize) {
  if (maxSize <= 0) return 0;
  const qint64 position = pos();
  // What follows the written bytes is dropped; a gap before them is zero-filled.
  data_.resize(position, '\0');
  data_.append(data, maxSize);
  modified_ = true;
  return maxSize;
}

// ---------------------------------------------------------------------------------------
// Table creation

TCreateTolvernDataSet::TCreateTolvernDataSet() = default;

bool TCreateTolvernDataSet::CreateTable() {
  if (!table_)
    DatabaseError(QCoreApplication::translate("Tolvern", "A table is not assigned to this object"));
  if (table_->Active())
    DatabaseError(
        QCoreApplication::translate("Tolvern", "Cannot perform this operation on an open table"));
  const QString path = table_->TableFilePath();
  const bool exists = QFileInfo::exists(path);
  if (exists && !autoOverwrite_) {
    TNoDialogs none;
    IDialogs& dialogs = dialogs_ ? *dialogs_ : static_cast<IDialogs&>(none);
    if (!dialogs.Confirm(
            QCoreApplication::translate("Tolvern", "Warning"),
            QCoreApplication::translate("Tolvern", "Table exists.  Do you want to overwrite?")))
      return false;
  }
  const std::vector<TTVFieldLine> fields = ParseFieldList(createFields_);
  const bool created =
      WriteNewTable(path, fields, type_, memoBlockSize_, table_->CodePageInUse(), exists);
  if (created) table_->Open();
  return created;
}

}  // namespace fendral
