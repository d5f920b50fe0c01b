// The engine-facing core of the table dataset: it owns the table handler while a table is
// open and does everything that touches the table in terms of record buffers.
//
// Record buffer layout (every buffer the dataset allocates):
//   [record image: RecordLength() bytes, byte 0 the deletion flag]
//   [calculated-field area: CalcFieldsSize() bytes]
//   [record information: 8 bytes; record number (int32) in bytes 0-3, bookmark flag in 5]
//   [bookmark: 11 bytes; the record number right-aligned in 10 characters, then a zero]
//
// Field values cross this class as Qt values: text decoded with the code page in use,
// numbers as double or int, dates as QDate, timestamps as QDateTime, logicals as bool.
// A value a field cannot hold is refused with a message that names the field, before
// anything is stored.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fields.h"
#include "tv_codepage.h"
#include "tv_dbfobject.h"

namespace fendral {

enum class TTVFieldKind { String, SmallInt, Integer, Float, Date, Boolean, Memo, Blob, DateTime };

struct TTVFieldDef {
  QString name;
  TTVFieldKind kind = TTVFieldKind::String;
  int size = 0;       // characters of a string field, 0 otherwise
  int fieldNo = 0;    // 1-based number in the table
  int decimals = -1;  // decimals of a float field; -1 when not fixed
};

inline constexpr int kBookmarkSize = 11;
inline constexpr int kRecordInfoSize = 8;
// Bookmark flag values of the record information.
inline constexpr uint8_t kBookmarkCurrent = 0;
inline constexpr uint8_t kBookmarkBof = 1;
inline constexpr uint8_t kBookmarkEof = 2;
inline constexpr uint8_t kBookmarkInserted = 3;

// The dataset field definitions of a table's fields; fields of types without a dataset
// field get none. B and Y of 0x30 tables are float fields.
std::vector<TTVFieldDef> MapTableFields(tolvern::KXO_dBaseFld& table, const TTVCodePage& names);

class TTVTableCore {
 public:
  struct OpenOptions {
    bool readOnly = false;
    bool exclusive = false;
    bool useDeleted = false;
    bool readAhead = false;
    int lockProtocol = 0;
    uint32_t userId = 0;
  };
  enum class FetchResult { Ok, Bof, Eof };

  TTVTableCore();
  ~TTVTableCore();
  TTVTableCore(const TTVTableCore&) = delete;
  TTVTableCore& operator=(const TTVTableCore&) = delete;

  // Opens the table file `path` (complete, with extension). Engine errors pass through.
  void Open(const std::string& path, const OpenOptions& options);
  // Releases a held record lock and frees the handler.
  void Close();
  bool IsOpen() const { return table_ != nullptr; }
  DBFObject& Table() { return *table_; }
  DBFObject* TablePtr() const { return table_.get(); }

  void SetCodePage(const std::string& name);
  const TTVCodePage& CodePage() const { return *codePage_; }
  QString Decode(const std::string& bytes) const { return codePage_->Decode(bytes); }
  // Table bytes for `text`; refuses a character the code page lacks, naming `what`.
  std::string Encode(const QString& text, const QString& what) const;

  // --- buffers ---------------------------------------------------------------------
  void SetCalcFieldsSize(int size) { calcSize_ = size; }
  int CalcFieldsSize() const { return calcSize_; }
  int RecordSize() const;
  int CalcOffset() const { return RecordSize(); }
  int InfoOffset() const { return RecordSize() + calcSize_; }
  int BookmarkOffset() const { return InfoOffset() + kRecordInfoSize; }
  int BufferSize() const { return BookmarkOffset() + kBookmarkSize; }

  static int32_t RecNoOf(const uint8_t* info);
  int32_t RecNo(const uint8_t* buffer) const { return RecNoOf(buffer + InfoOffset()); }
  uint8_t BookmarkFlag(const uint8_t* buffer) const { return buffer[InfoOffset() + 5]; }
  void SetBookmarkFlag(uint8_t* buffer, uint8_t flag) const { buffer[InfoOffset() + 5] = flag; }
  // Writes the record information and the bookmark of record `recno`.
  void SetRecordInfo(uint8_t* buffer, int32_t recno, uint8_t flag) const;
  static void FormatBookmark(int32_t recno, char* out);
  // The record number of an 11-byte bookmark; false for text that is none.
  static bool ParseBookmark(const char* bookmark, int32_t& recno);

  // Reads with a position code (PosTop, PosNext, ..., PosSame) or a record number into
  // `buffer` (record image and record information).
  FetchResult Fetch(int32_t code, uint8_t* buffer);

  // --- field data ------------------------------------------------------------------
  // The field's value in `buffer`; an invalid QVariant when it has none.
  QVariant Value(const uint8_t* buffer, const TTVFieldDef& field);
  // The field's value in its stored form (see TStoredValue): the digits of a number or date
  // held as text (blanks trimmed), "T"/"F" for a logical, the decoded text of a string.
  // False for other fields, binary numbers and values that are blank or not readable.
  bool Stored(const uint8_t* buffer, const TTVFieldDef& field, TStoredValue& stored) const;
  // Stores `value` (invalid/null: no value) into `buffer`, or refuses it.
  void SetValue(uint8_t* buffer, const TTVFieldDef& field, const QVariant& value);
  // The memo's bytes: the pending text of the edit when there is one, else the file's.
  QByteArray Memo(const uint8_t* buffer, int fieldNo);
  // The first line of a memo's text (its display form).
  QString MemoDisplay(const uint8_t* buffer, const TTVFieldDef& field);
  // A memo text that Post writes; Cancel (DiscardPending) forgets it.
  void SetPendingMemo(int fieldNo, const QByteArray& bytes) { pending_[fieldNo] = bytes; }
  bool HasPendingMemo(int fieldNo) const { return pending_.count(fieldNo) != 0; }
  void DiscardPending() { pending_.clear(); }

  // --- editing ---------------------------------------------------------------------
  // Locks record `recno` (raising "Record is locked by another user" when another
  // program holds it) and then reads it from the file into `buffer`.
  void LockForEdit(int32_t recno, uint8_t* buffer);
  bool HoldsRecordLock() const { return lockedRecord_ > 0; }
  int32_t LockedRecord() const { return lockedRecord_; }
  void ReleaseRecordLock();
  // A blank new record in `buffer`.
  void InitNewRecord(uint8_t* buffer);
  // Writes `buffer` as record `recno` (0: appends) with the pending memos, and answers
  // the record's number. Nothing is written when a memo or a value cannot be stored.
  int32_t Post(uint8_t* buffer, int32_t recno);
  // Sets or clears the deletion mark of record `recno` on disk under its record lock
  // (the one held for an edit, or one taken for the write); re-reads it into `buffer`.
  void SetDeleted(int32_t recno, bool deleted, uint8_t* buffer);

 private:
  void ReplaceMemos(std::vector<std::pair<int, int32_t>>& oldBlocks);

  std::unique_ptr<DBFObject> table_;
  std::shared_ptr<const TTVCodePage> codePage_;
  int calcSize_ = 0;
  int32_t lockedRecord_ = 0;
  std::map<int, QByteArray> pending_;
};

}  // namespace fendral
