// One open DBF table file: the header and field descriptors, the record buffer, record
// reads and writes by number or position code, appends, the header write policy, the
// lock regions of the four locking protocols and the table's record events.
//
// The class does not interpret field contents; field access builds on it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_disk.h"
#include "kx6_orderahead.h"

namespace tolvern {

class KXobjMemo;

// Position codes of positioned reads; values of 1 and above are record numbers.
inline constexpr int32_t PosNext = -1;
inline constexpr int32_t PosPrior = -2;
inline constexpr int32_t PosTop = -3;
inline constexpr int32_t PosBottom = -4;
inline constexpr int32_t PosSame = -5;

// Record events.
inline constexpr int kEventBlanked = 0;
inline constexpr int kEventFieldChanged = 1;
inline constexpr int kEventOpened = 2;
inline constexpr int kEventBeforeRead = 4;
inline constexpr int kEventBeforeWrite = 5;
inline constexpr int kEventAfterRead = 6;
inline constexpr int kEventAfterWrite = 7;
inline constexpr int kEventFlushed = 8;

enum class TkxLokProtocol : int { Default = 0, DB4Lock = 1, ClipLock = 2, FoxLock = 3 };
// Given to the table handler's SetLockProtocol: choose the protocol from what is open.
inline constexpr int kLockProtocolAuto = -1;

// How a protocol places the one-byte lock of record n.
enum class TkxRecordLockRule : uint8_t {
  Ascending,       // recordBase + n
  Descending,      // recordBase - n
  AtRecordOffset,  // recordBase + the record's byte offset in the table
};

// Every lock region of a locking protocol: the table's, its memo file's and its index
// files'. This is the one place that knows them. All locks are write locks of the
// open-file-description kind except where a file is open for reading only.
struct TkxLockOffsets {
  uint32_t fileLockOffset;    // the whole-table lock (FLOCK) ...
  uint32_t appendLockOffset;  // the append lock (one byte); it also guards the header
  uint32_t fileLockLength;    // ... and its length
  TkxRecordLockRule recordRule;
  uint32_t recordBase;
  uint32_t indexLockOffset;  // every index file: the lock of a change (and a read)
  uint32_t indexLockLength;
  uint32_t memoLockOffset;  // the memo file: the lock of a block allocation
  uint32_t memoLockLength;

  // The byte that locks record n of a table with this header and record length.
  uint32_t RecordLockOffset(int32_t n, int32_t headerLength, int32_t recordLength) const;
};
// Fills `out` for a known protocol; false (and `out` unchanged) for any other number.
// `indexOpen` tells whether the table has index files open (FoxPro programs lock
// differently without one).
bool LockOffsetsOf(int protocol, bool indexOpen, TkxLockOffsets& out);
inline bool LockOffsetsOf(int protocol, TkxLockOffsets& out) {
  return LockOffsetsOf(protocol, false, out);
}

// Version bytes this engine reads and writes.
inline constexpr uint8_t kVersionPlain = 0x03;
inline constexpr uint8_t kVersionVisual = 0x30;
inline constexpr uint8_t kVersionDb3Memo = 0x83;
inline constexpr uint8_t kVersionDb4Memo = 0x8B;
inline constexpr uint8_t kVersionFoxMemo = 0xF5;
bool IsAcceptedVersion(uint8_t version);
// What a version byte that IsAcceptedVersion refuses names, when it names a known kind of
// table ("dBase 7 table"); nullptr for bytes that name nothing known.
const char* UnsupportedTableKind(uint8_t version);

inline constexpr int kDbfHeaderSize = 32;
inline constexpr int kLanguageMarkOffset = 29;  // the header byte naming the code page
inline constexpr int kDescriptorSize = 32;
inline constexpr int kVisualAreaSize = 263;  // after the terminator of 0x30 tables

// One field as its descriptor gives it, with its place in the record.
struct DbfFieldInfo {
  std::string name;    // up to the first zero byte, at most 11 bytes, as stored
  char type = 'C';
  int length = 0;      // for C: the two-byte length
  int decimals = 0;    // for C: 0
  int offset = 0;      // inside the record (the deletion flag is offset 0)
  int number = 0;      // 1-based
  uint8_t flags = 0;   // descriptor byte 18 (0x30 tables: system/nullable/binary bits)
};

class KXO_dBaseDBF : public KXO_DiskFile {
 public:
  // Opens and checks the table. A name without extension gets ".DBF" (or the
  // companion file that matches it ignoring case).
  KXO_dBaseDBF(const std::string& name, bool readWrite, bool shared);
  ~KXO_dBaseDBF() override;

  // Overridden disk operations.
  void FlushFile() override;
  bool RenameTo(const std::string& newName) override;

  // Table operations, overridable by field access and the table handler.
  virtual void AppendRecord();
  virtual void SetCollation(const uint8_t* collation, const uint8_t* keyTranslation,
                            int32_t third);
  virtual bool RecordEvent(int event, int32_t number);
  virtual void GetRecord(int32_t code);
  // Takes the append lock (it also guards the header), waiting about MemoLockWaitTotal
  // milliseconds for another program to release it; false when it stays taken. It is
  // held beside a record lock. UnlockAppend releases it (and nothing else).
  virtual bool LockAppend();
  virtual bool UnlockAppend();
  virtual bool LockTable();
  virtual bool LockTableHeader();
  virtual bool UnlockTable();
  virtual bool LockRecord();
  virtual void PutRecord(int32_t number);
  virtual void SetLockProtocol(int protocol);
  virtual bool HasIndex();

  // Re-reads the header of a shared table and recomputes the record count from the
  // file size; notes whether another process changed either.
  void RefreshHeader();
  // Writes the 32 header bytes when the table is writable, a record was written since
  // the last header write and no table lock defers it.
  void WriteHeader();
  // Opens the table file (and later the memo file) again under its name, after new files
  // took the place of the ones open: nothing is written to the old files. The lock
  // protocol, collation and the deleted-record and exact-match settings stay.
  void ReopenFile();
  bool IsDeleted() const { return buffer_[0] == '*'; }
  // The memo object of this table, created on first use; nullptr for tables that have
  // no memo file.
  KXobjMemo* OpenMemo();
  KXobjMemo* Memo() const { return memo_.get(); }

  struct HeaderInfo {
    int32_t date;     // (yy * 256 + month) * 256 + day
    uint32_t stamp;
    uint32_t userId;
  };
  HeaderInfo GetHeaderInfo();
  void SetUserID(uint32_t userId) { userId_ = userId; }

  // Fills the record buffer with blanks (the deletion flag included).
  void BlankBuffer();
  // Swaps the record buffer with the saved copy: lets key expressions see the record as
  // it was before the write that is being indexed.
  void SwapBufferWithSaved() { buffer_.swap(saved_); }

  // Sequential readers may let record reads fetch up to `bytes` of following records in
  // one transfer and serve the next reads from that window; 0 (the default) reads every
  // record from the file. Writes through this object drop the window. Changes that
  // other processes make to records inside the window are seen only after it moves.
  void SetReadAhead(int32_t bytes);
  // Drops the window and the records an order walk read ahead: the next reads come from
  // the file.
  void DropReadAhead();
  // A writer of many records in sequence (copies, packs) on a table opened unshared may
  // let record writes gather up to `bytes` before they reach the file; reads of those
  // records, FlushFile and FlushWriteBehind write them out. 0 (the default) writes each
  // record at once.
  void SetWriteBehind(int32_t bytes);
  // A walk in an index order reads the records it will reach next in one go: `numbers`
  // (the order's next record numbers) are read and later record reads of them are served
  // from what was read. Writes through this object keep the held copies current; a lock
  // drops them. In a shared table, held records are read again from the file once the
  // header's record count or update stamp (or the file size) differs from what it was
  // when they were read; the header is looked at when a held record is handed out and at
  // least kOrderAheadCheckMicros have passed since it was last looked at.
  static constexpr int64_t kOrderAheadCheckMicros = 1000;
  void FillOrderAhead(std::vector<int32_t> numbers);
  bool OrderAheadHolds(int32_t n) const { return orderAhead_.Holds(n); }
  void DropOrderAhead() { orderAhead_.Drop(); }
  const TkxOrderAhead& OrderAhead() const { return orderAhead_; }
  void FlushWriteBehind();

  // --- state -------------------------------------------------------------------------
  int32_t RecordCount() const { return recordCount_; }
  int32_t HeaderLength() const { return headerLength_; }
  int32_t RecordLength() const { return recordLength_; }
  int32_t FieldCount() const { return static_cast<int32_t>(fields_.size()); }
  const std::vector<DbfFieldInfo>& Fields() const { return fields_; }
  int32_t CurrentRecord() const { return current_; }
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  uint8_t Version() const { return version_; }
  uint8_t WorkingVersion() const { return workingVersion_; }
  void SetWorkingVersion(uint8_t v) { workingVersion_ = v; }
  bool HasMemo() const { return hasMemo_; }
  bool ProductionIndexFlag() const { return productionIndex_; }
  void SetProductionIndexFlag(bool on);
  bool ContainerFlag() const { return container_; }
  uint8_t CodePageMark() const { return header_[kLanguageMarkOffset]; }
  // The record count the header states (RecordCount comes from the file size) and its
  // flags byte (1 production index, 2 memo, 4 container), as read or last written.
  uint32_t HeaderRecordCount() const;
  uint8_t HeaderFlags() const;
  const std::array<uint8_t, kDbfHeaderSize>& HeaderImage() const { return header_; }
  const std::vector<uint8_t>& Descriptors() const { return descriptors_; }
  uint8_t State() const { return state_; }
  void SetState(uint8_t s) { state_ = s; }
  bool HeaderChanged() const { return headerChanged_; }
  bool RecordWritten() const { return recordWritten_; }
  bool BufferModified() const { return bufferModified_; }
  void SetBufferModified(bool on) { bufferModified_ = on; }
  bool ShowDeleted() const { return showDeleted_; }
  void SetShowDeleted(bool on) { showDeleted_ = on; }
  bool ExactMatch() const { return exactMatch_; }
  void SetExactMatch(bool on) { exactMatch_ = on; }
  bool TableLocked() const { return tableLocked_; }
  uint32_t UpdateStamp() const { return updateStamp_; }
  bool HeaderDirty() const { return headerDirty_ != 0; }

  int LockProtocol() const { return protocol_; }
  // The lock regions of the protocol as they apply now (they depend on whether index
  // files are open).
  TkxLockOffsets LockOffsets();
  uint32_t FileLockOffset() { return LockOffsets().fileLockOffset; }
  uint32_t AppendLockOffset() { return LockOffsets().appendLockOffset; }
  uint32_t FileLockLength() { return LockOffsets().fileLockLength; }
  bool AppendLocked() const { return appendHeld_; }

  // The collation (character order) and key-translation tables; nullptr for none.
  const uint8_t* Collation() const { return collation_.empty() ? nullptr : collation_.data(); }
  const uint8_t* KeyTranslation() const {
    return keyTranslation_.empty() ? nullptr : keyTranslation_.data();
  }
  int32_t CollationValue() const { return collationValue_; }

  // The record buffer (record length bytes, then the end-of-file mark) and the copy
  // of the record as last read or written.
  uint8_t* Buffer() { return buffer_.data(); }
  const uint8_t* Buffer() const { return buffer_.data(); }
  const uint8_t* SavedCopy() const { return saved_.data(); }
  // Changed flags: index 0 for the deletion flag, i for field i.
  std::vector<uint8_t>& FieldChangedFlags() { return changed_; }

 protected:
  // Byte offset of record n (1-based).
  int64_t RecordOffset(int32_t n) const {
    return static_cast<int64_t>(headerLength_) +
           static_cast<int64_t>(n - 1) * static_cast<int64_t>(recordLength_);
  }
  void MarkHeaderDirty() { headerDirty_ = 1; }
  // For the table handler's positioned reads and maintenance.
  void SetEofBof(bool eof, bool bof) {
    eof_ = eof;
    bof_ = bof;
  }
  void SetCurrentRecord(int32_t n) { current_ = n; }
  void SetRecordCount(int32_t n) { recordCount_ = n; }
  // Makes the buffer the saved copy (after the buffer was filled by other means).
  void SaveBuffer() { std::copy(buffer_.begin(), buffer_.end(), saved_.begin()); }

 private:
  void OpenAndCheck();
  [[noreturn]] void HeaderInvalid();
  int32_t CountFromFileSize();
  // Reads record n into the buffer (through the read-ahead window when it is on);
  // answers the bytes read.
  int64_t ReadRecordBytes(int32_t n);
  // Writes the record buffer (and the end mark when asked) at `offset`, through the
  // write-behind buffer when it is on.
  void WriteRecordBytes(int64_t offset, int32_t length, bool withEndMark);
  void ParseDescriptors();
  // Reports the lock error (33) through the error procedure and raises it.
  [[noreturn]] void RaiseLockError(const std::string& what);

  std::array<uint8_t, kDbfHeaderSize> header_{};
  uint8_t headerDirty_ = 0;
  uint8_t state_ = 0;
  int32_t recordCount_ = 0;
  int32_t headerLength_ = 0;
  int32_t recordLength_ = 0;
  std::vector<uint8_t> descriptors_;
  std::vector<DbfFieldInfo> fields_;
  int32_t current_ = 0;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> saved_;
  std::vector<uint8_t> changed_;
  bool eof_ = false;
  bool bof_ = true;
  uint8_t version_ = 0;
  uint8_t workingVersion_ = 0;
  bool productionIndex_ = false;
  bool memoFlag_ = false;
  bool container_ = false;
  uint32_t updateStamp_ = 0;
  bool headerChanged_ = false;
  bool recordWritten_ = false;
  bool bufferModified_ = false;
  bool showDeleted_ = true;
  bool exactMatch_ = false;
  bool tableLocked_ = false;
  uint32_t userId_ = 0;
  int protocol_ = 0;
  bool appendHeld_ = false;
  uint32_t appendHeldAt_ = 0;
  int32_t appendNesting_ = 0;
  std::vector<uint8_t> collation_;
  std::vector<uint8_t> keyTranslation_;
  int32_t collationValue_ = 0;
  bool hasMemo_ = false;
  int32_t readAheadBytes_ = 0;
  std::vector<uint8_t> ahead_;
  int32_t aheadFirst_ = 0;
  int32_t aheadCount_ = 0;
  TkxOrderAhead orderAhead_;
  int32_t aheadCountAtFill_ = 0;
  uint32_t aheadStampAtFill_ = 0;
  int64_t aheadCheckedAt_ = 0;  // steady clock, microseconds
  int32_t writeBehindBytes_ = 0;
  int32_t tableLockNesting_ = 0;  // locks taken while the table lock was held
  std::vector<uint8_t> pending_;
  int64_t pendingStart_ = 0;
  bool pendingMark_ = false;
  std::unique_ptr<KXobjMemo> memo_;
};

}  // namespace tolvern
