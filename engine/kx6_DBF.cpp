#include "kx6_DBF.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "kx6_bytes.h"
#include "kx6_glbl.h"
#include "kx6_journal.h"
#include "kx6_memo.h"
#include "kx6_tool.h"
#include "platform/pf_misc.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

constexpr uint8_t kTerminator = 0x0D;
constexpr int kMinHeaderLength = kDbfHeaderSize + 1;

// A table name without extension gets ".DBF", or the existing file that matches
// name + ".dbf" ignoring case.
std::string TableFileName(const std::string& name) {
  std::string trimmed = Trim(name);
  if (!platform::ExtensionOf(trimmed).empty()) return trimmed;
  const std::string withExt = trimmed + kDefaultExtension;
  if (auto found = platform::FindCompanion(platform::DirectoryOf(withExt),
                                           platform::FileNameOf(withExt))) {
    return *found;
  }
  return withExt;
}

}  // namespace

bool IsAcceptedVersion(uint8_t version) {
  return version == kVersionPlain || version == kVersionVisual || version == kVersionDb3Memo ||
         version == kVersionDb4Memo || version == kVersionFoxMemo;
}

const char* UnsupportedTableKind(uint8_t version) {
  switch (version) {
    case 0x02:
      return "dBase II table";
    case 0x04:
    case 0x8C:
      return "dBase 7 table";
    case 0x31:
    case 0x32:
      return "Visual FoxPro table with autoincrement or varchar fields";
    case 0x43:
    case 0xCB:
      return "dBase IV SQL table";
    case 0x63:
      return "dBase IV SQL system table";
    default:
      return nullptr;
  }
}

KXO_dBaseDBF::KXO_dBaseDBF(const std::string& name, bool readWrite, bool shared)
    : KXO_DiskFile(TableFileName(name), readWrite, shared) {
  // A replacement of this table that a crash interrupted is finished (or undone) first.
  RecoverReplacement(FileName());
  OpenAndCheck();
}

KXO_dBaseDBF::~KXO_dBaseDBF() {
  try {
    FlushWriteBehind();
  } catch (...) {
  }
  try {
    if (headerDirty_ && !IsClosed()) {
      RefreshHeader();
      WriteHeader();
    }
  } catch (...) {
    // Closing cannot report; the header keeps its previous stamp.
  }
  memo_.reset();
  try {
    CloseFile();
  } catch (...) {
  }
}

void KXO_dBaseDBF::ReopenFile() {
  const int protocol = protocol_;
  const std::vector<uint8_t> collation = collation_;
  const std::vector<uint8_t> keyTranslation = keyTranslation_;
  const int32_t collationValue = collationValue_;
  const bool showDeleted = showDeleted_;
  const bool exactMatch = exactMatch_;
  const uint32_t userId = userId_;
  pending_.clear();
  DropReadAhead();
  orderAhead_.Drop();
  headerDirty_ = 0;
  memo_.reset();
  CloseFile();
  OpenAndCheck();
  collation_ = collation;
  keyTranslation_ = keyTranslation;
  collationValue_ = collationValue;
  showDeleted_ = showDeleted;
  exactMatch_ = exactMatch;
  userId_ = userId;
  KXO_dBaseDBF::SetLockProtocol(protocol);
}

void KXO_dBaseDBF::HeaderInvalid() {
  CheckError(ErrHeaderInvalid, SubTableOpen);
  // An installed error procedure that returns cannot be allowed to go on with a table
  // that is not safe to read.
  throw ETolvernError(EngineErrorMessage(ErrHeaderInvalid, SubTableOpen, FileName().c_str()));
}

void KXO_dBaseDBF::OpenAndCheck() {
  protocol_ = static_cast<int>(TkxLokProtocol::Default);
  SetLockProtocol(protocol_);
  collation_.clear();
  keyTranslation_.clear();
  collationValue_ = 0;

  OpenFile();
  tableLocked_ = false;

  const int64_t got = ReadAt(0, header_.data(), kDbfHeaderSize);
  CheckError(LastError() == ErrShortRead ? 0 : LastError(), SubTableOpen);
  if (got < kDbfHeaderSize) HeaderInvalid();

  ByteReader head(header_.data(), header_.size());
  version_ = head.U8(0);
  if (!IsAcceptedVersion(version_)) {
    if (const char* kind = UnsupportedTableKind(version_)) {
      char text[96];
      std::snprintf(text, sizeof text, "%s (version 0x%02X) is not supported", kind, version_);
      const std::string detail = FileName() + ": " + text;
      FileError(ErrTableKind, SubTableOpen, detail.c_str());
      throw ETolvernError(EngineErrorMessage(ErrTableKind, SubTableOpen, detail.c_str()));
    }
    HeaderInvalid();
  }
  workingVersion_ = version_;
  headerLength_ = head.U16LE(8);
  recordLength_ = head.U16LE(10);
  const uint8_t flags = head.U8(28);
  productionIndex_ = flags & 0x01;
  memoFlag_ = flags & 0x02;
  container_ = flags & 0x04;
  updateStamp_ = head.U32LE(16);
  hasMemo_ = version_ == kVersionVisual ? memoFlag_ : version_ != kVersionPlain;

  // A table whose header cannot describe its records safely is refused.
  const int extra = version_ == kVersionVisual ? kVisualAreaSize : 0;
  const int64_t fileSize = FileSize();
  if (recordLength_ == 0 || headerLength_ < kMinHeaderLength + extra ||
      headerLength_ > fileSize) {
    HeaderInvalid();
  }

  recordCount_ = CountFromFileSize();

  // The descriptors run from byte 32 to the terminator. Some writers leave the
  // terminator out or pad the header after it, and some 0x30 tables lack the area that
  // normally follows it, so the terminator decides where possible.
  std::vector<uint8_t> tail(static_cast<size_t>(headerLength_ - kDbfHeaderSize));
  const int64_t read = ReadAt(kDbfHeaderSize, tail.data(), static_cast<int64_t>(tail.size()));
  CheckError(LastError() == ErrShortRead ? 0 : LastError(), SubTableOpen);
  if (read < static_cast<int64_t>(tail.size())) HeaderInvalid();
  size_t count = tail.size() / kDescriptorSize;
  bool terminated = false;
  for (size_t i = 0; i * kDescriptorSize < tail.size(); ++i) {
    if (tail[i * kDescriptorSize] == kTerminator) {
      count = i;
      terminated = true;
      break;
    }
  }
  if (!terminated && extra > 0) {
    count = std::min(count, static_cast<size_t>(headerLength_ - kMinHeaderLength - extra) /
                                kDescriptorSize);
  }
  descriptors_.assign(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(count) *
                                                       kDescriptorSize);
  ParseDescriptors();

  buffer_.assign(static_cast<size_t>(recordLength_) + 1, ' ');
  buffer_.back() = static_cast<uint8_t>(EOFMark);
  saved_.assign(static_cast<size_t>(recordLength_) + 1, ' ');
  changed_.assign(fields_.size() + 1, 0);

  memo_.reset();
  headerChanged_ = false;
  recordWritten_ = false;
  showDeleted_ = true;
  exactMatch_ = false;
  userId_ = 0;
  state_ = 1;
  current_ = 0;
  eof_ = false;
  bof_ = true;
  RefreshHeader();
  RecordEvent(kEventOpened, 0);
}

void KXO_dBaseDBF::ParseDescriptors() {
  fields_.clear();
  const size_t count = descriptors_.size() / kDescriptorSize;
  ByteReader area(descriptors_.data(), descriptors_.size());
  int offset = 1;
  for (size_t i = 0; i < count; ++i) {
    const size_t base = i * kDescriptorSize;
    DbfFieldInfo field;
    const std::string rawName = area.Text(base, 11);
    field.name = rawName.substr(0, rawName.find('\0'));
    field.type = static_cast<char>(area.U8(base + 11));
    const uint8_t len = area.U8(base + 16);
    const uint8_t dec = area.U8(base + 17);
    if (field.type == 'C') {
      field.length = len + dec * 256;
      field.decimals = 0;
    } else {
      field.length = len;
      field.decimals = dec;
    }
    field.flags = area.U8(base + 18);
    field.offset = offset;
    field.number = static_cast<int>(i) + 1;
    offset += field.length;
    if (offset > recordLength_) HeaderInvalid();
    fields_.push_back(std::move(field));
  }
  // Keep the in-memory descriptors in step: offset at 12, field number at 26.
  ByteWriter out(descriptors_.data(), descriptors_.size());
  for (const auto& field : fields_) {
    const size_t base = static_cast<size_t>(field.number - 1) * kDescriptorSize;
    out.U32LE(base + 12, static_cast<uint32_t>(field.offset));
    out.U16LE(base + 26, static_cast<uint16_t>(field.number));
  }
}

int32_t KXO_dBaseDBF::CountFromFileSize() {
  const int64_t size = FileSize();
  if (size <= headerLength_ || recordLength_ <= 0) return 0;
  const int64_t count = (size - headerLength_) / recordLength_;
  return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
}

void KXO_dBaseDBF::RefreshHeader() {
  if (!Shared()) {
    headerChanged_ = false;
    return;
  }
  std::array<uint8_t, kDbfHeaderSize> fresh{};
  const int64_t got = ReadAt(0, fresh.data(), kDbfHeaderSize);
  if (got == kDbfHeaderSize) {
    // Keep our own view of the layout; take what other writers maintain.
    header_ = fresh;
  }
  const int32_t count = CountFromFileSize();
  const uint32_t stamp = ByteReader(header_.data(), header_.size()).U32LE(16);
  headerChanged_ = count != recordCount_ || stamp != updateStamp_;
  recordCount_ = count;
  updateStamp_ = stamp;
}

void KXO_dBaseDBF::WriteHeader() {
  if (!ReadWrite() || headerDirty_ != 1 || tableLocked_) return;
  // Another program appends under the append lock and writes the count with it: the
  // header is written under the same lock, with the count the file has then.
  const bool tookLock = Shared() && !appendHeld_;
  if (tookLock) {
    if (!LockAppend()) RaiseLockError("the table header");
    RefreshHeader();
  }
  struct Release {
    KXO_dBaseDBF* table;
    bool held;
    ~Release() {
      if (held) table->UnlockAppend();
    }
  } release{this, tookLock};
  const platform::LocalTime now = platform::LocalNow();
  const uint32_t stamp = static_cast<uint32_t>(
      ((now.hour * 64 + now.minute) * 64 + now.second) * 1024 + now.millisecond);
  ByteWriter head(header_.data(), header_.size());
  head.U8(1, static_cast<uint8_t>(now.year % 100));
  head.U8(2, static_cast<uint8_t>(now.month));
  head.U8(3, static_cast<uint8_t>(now.day));
  head.U32LE(4, static_cast<uint32_t>(recordCount_));
  head.U32LE(16, stamp);
  head.U32LE(20, userId_);
  head.U8(28, static_cast<uint8_t>((productionIndex_ ? 1 : 0) | (memoFlag_ ? 2 : 0) |
                                   (container_ ? 4 : 0)));
  WriteAt(0, header_.data(), kDbfHeaderSize);
  updateStamp_ = stamp;
  headerDirty_ = 0;
}

void KXO_dBaseDBF::RaiseLockError(const std::string& what) {
  const std::string info = FileName() + ": " + what;
  SetLastError(ErrLocked);
  FileError(ErrLocked, SubWriteAt, info.c_str());
  // An error procedure that returns must not let the write go on.
  throw ETolvernError(EngineErrorMessage(ErrLocked, SubWriteAt, info.c_str()));
}

void KXO_dBaseDBF::SetProductionIndexFlag(bool on) {
  if (productionIndex_ == on) return;
  productionIndex_ = on;
  headerDirty_ = 1;
}

void KXO_dBaseDBF::BlankBuffer() {
  std::fill(buffer_.begin(), buffer_.end() - 1, static_cast<uint8_t>(' '));
  buffer_.back() = static_cast<uint8_t>(EOFMark);
  RecordEvent(kEventBlanked, 0);
}

bool KXO_dBaseDBF::RecordEvent(int event, int32_t) {
  if (event == kEventFieldChanged) bufferModified_ = true;
  if (event == kEventAfterRead || event == kEventAfterWrite) {
    bufferModified_ = false;
    state_ = 1;
  }
  return true;
}

void KXO_dBaseDBF::GetRecord(int32_t code) {
  if (recordCount_ == 0) {
    RefreshHeader();
    if (recordCount_ == 0) {
      eof_ = true;
      bof_ = true;
      return;
    }
  }
  if (code == 0) return;
  eof_ = false;
  bof_ = false;
  int32_t n;
  switch (code) {
    case PosSame:
      n = current_;
      break;
    case PosBottom:
      n = recordCount_;
      break;
    case PosTop:
      n = 1;
      break;
    case PosPrior:
      n = current_ - 1;
      if (n <= 0) {
        bof_ = true;
        return;
      }
      break;
    case PosNext:
      n = current_ + 1;
      break;
    default:
      n = code;
      if (n < 1) {
        CheckError(ErrBeyondEof, SubRecordRead);
        eof_ = true;
        return;
      }
  }
  if (n < 1) {
    // PosSame before the first read: nothing to re-read.
    bof_ = true;
    return;
  }
  if (n > recordCount_) {
    RefreshHeader();
    if (n > recordCount_) {
      eof_ = true;
      if (n > recordCount_ + 1) CheckError(ErrBeyondEof, SubRecordRead);
      return;
    }
  }
  RecordEvent(kEventBeforeRead, code);
  const int64_t got = ReadRecordBytes(n);
  if (got < recordLength_) {
    // The file ended inside the record (another program cut it): that is the end of
    // the table, never a half-read record.
    recordCount_ = CountFromFileSize();
    std::copy(saved_.begin(), saved_.end() - 1, buffer_.begin());
    eof_ = true;
    return;
  }
  current_ = n;
  RecordEvent(kEventAfterRead, n);
  std::copy(buffer_.begin(), buffer_.end(), saved_.begin());
}

void KXO_dBaseDBF::SetWriteBehind(int32_t bytes) {
  FlushWriteBehind();
  writeBehindBytes_ = Shared() ? 0 : std::max(0, bytes);
}

void KXO_dBaseDBF::FlushWriteBehind() {
  if (pending_.empty()) return;
  std::vector<uint8_t> bytes;
  bytes.swap(pending_);
  WriteAt(pendingStart_, bytes.data(), static_cast<int64_t>(bytes.size()));
}

void KXO_dBaseDBF::WriteRecordBytes(int64_t offset, int32_t length, bool withEndMark) {
  if (writeBehindBytes_ <= 0) {
    if (withEndMark) {
      WriteAt(offset, buffer_.data(), length + 1);  // the buffer ends with the mark
    } else {
      WriteAt(offset, buffer_.data(), length);
    }
    return;
  }
  // Writes in sequence gather in one transfer; an end mark written last is replaced by
  // the record that follows it.
  int64_t end = pendingStart_ + static_cast<int64_t>(pending_.size());
  if (!pending_.empty() && pendingMark_ && offset == end - 1) {
    pending_.pop_back();
    --end;
  }
  if (pending_.empty() || offset != end ||
      pending_.size() + static_cast<size_t>(length) + 1 > static_cast<size_t>(writeBehindBytes_)) {
    FlushWriteBehind();
    pendingStart_ = offset;
  }
  pending_.insert(pending_.end(), buffer_.begin(), buffer_.begin() + length);
  pendingMark_ = withEndMark;
  if (withEndMark) pending_.push_back(static_cast<uint8_t>(EOFMark));
}

int64_t KXO_dBaseDBF::ReadRecordBytes(int32_t n) {
  if (!pending_.empty()) {
    const int64_t from = RecordOffset(n);
    const int64_t pendingEnd = pendingStart_ + static_cast<int64_t>(pending_.size());
    if (from < pendingEnd && from + recordLength_ > pendingStart_) FlushWriteBehind();
  }
  if (orderAhead_.Holds(n)) {
    if (Shared()) {
      const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
      if (now - aheadCheckedAt_ >= kOrderAheadCheckMicros) {
        aheadCheckedAt_ = now;
        RefreshHeader();
        if (recordCount_ != aheadCountAtFill_ || updateStamp_ != aheadStampAtFill_)
          orderAhead_.Drop();
      }
    }
    if (orderAhead_.Take(n, buffer_.data())) return recordLength_;
  }
  if (readAheadBytes_ > 0) {
    if (n < aheadFirst_ || n >= aheadFirst_ + aheadCount_) {
      // Fill the window with the records from n on, as many as fit and exist.
      const int64_t want = std::min<int64_t>(
          std::max<int64_t>(1, readAheadBytes_ / recordLength_),
          static_cast<int64_t>(recordCount_) - n + 1);
      ahead_.resize(static_cast<size_t>(want * recordLength_));
      const int64_t got = ReadAt(RecordOffset(n), ahead_.data(), want * recordLength_);
      CheckError(LastError() == ErrShortRead ? 0 : LastError(), SubRecordRead);
      aheadFirst_ = n;
      aheadCount_ = static_cast<int32_t>(got / recordLength_);
    }
    if (n >= aheadFirst_ && n < aheadFirst_ + aheadCount_) {
      const auto from = ahead_.begin() + static_cast<std::ptrdiff_t>(n - aheadFirst_) *
                                             recordLength_;
      std::copy(from, from + recordLength_, buffer_.begin());
      return recordLength_;
    }
    return 0;
  }
  const int64_t got = ReadAt(RecordOffset(n), buffer_.data(), recordLength_);
  CheckError(LastError() == ErrShortRead ? 0 : LastError(), SubRecordRead);
  return got;
}

void KXO_dBaseDBF::FillOrderAhead(std::vector<int32_t> numbers) {
  FlushWriteBehind();
  if (Shared()) {
    RefreshHeader();
    aheadCheckedAt_ = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  }
  aheadCountAtFill_ = recordCount_;
  aheadStampAtFill_ = updateStamp_;
  // A failed transfer leaves nothing held: the records are then read one by one, where
  // the error is reported.
  orderAhead_.Fill(*this, headerLength_, recordLength_, recordCount_, std::move(numbers));
}

void KXO_dBaseDBF::SetReadAhead(int32_t bytes) {
  readAheadBytes_ = std::max(0, bytes);
  DropReadAhead();
}

void KXO_dBaseDBF::DropReadAhead() {
  aheadFirst_ = 0;
  aheadCount_ = 0;
  orderAhead_.Drop();
}

void KXO_dBaseDBF::PutRecord(int32_t number) {
  RecordEvent(kEventBeforeWrite, number);
  if (number > recordCount_ || number <= 0) {
    AppendRecord();
    return;
  }
  headerDirty_ = 1;
  WriteRecordBytes(RecordOffset(number), recordLength_, false);
  orderAhead_.Update(number, buffer_.data());
  if (number >= aheadFirst_ && number < aheadFirst_ + aheadCount_) {
    // The read-ahead window keeps showing what the file holds.
    std::copy(buffer_.begin(), buffer_.end() - 1,
              ahead_.begin() + static_cast<std::ptrdiff_t>(number - aheadFirst_) * recordLength_);
  }
  current_ = number;
  recordWritten_ = true;
  RefreshHeader();
  WriteHeader();
  RecordEvent(kEventAfterWrite, number);
  std::copy(buffer_.begin(), buffer_.end(), saved_.begin());
}

void KXO_dBaseDBF::AppendRecord() {
  // Nothing is appended without the append lock: the record number comes from the file
  // as it is while the lock is held.
  if (!LockAppend()) RaiseLockError("the append lock is held by another program");
  struct Release {
    KXO_dBaseDBF* table;
    ~Release() {
      try {
        table->UnlockAppend();
      } catch (...) {
      }
    }
  } release{this};
  RecordEvent(kEventBeforeWrite, 0);
  headerDirty_ = 1;
  RefreshHeader();
  buffer_[0] = ' ';
  buffer_.back() = static_cast<uint8_t>(EOFMark);
  if (recordCount_ == INT32_MAX) CheckError(101, SubWriteAt);
  const int32_t n = recordCount_ + 1;
  WriteRecordBytes(RecordOffset(n), recordLength_, true);
  recordCount_ = n;
  current_ = n;
  recordWritten_ = true;
  WriteHeader();
  eof_ = false;
  bof_ = false;
  RecordEvent(kEventAfterWrite, 0);
  std::copy(buffer_.begin(), buffer_.end(), saved_.begin());
}

void KXO_dBaseDBF::SetCollation(const uint8_t* collation, const uint8_t* keyTranslation,
                                int32_t third) {
  collation_.assign(collation, collation ? collation + 256 : collation);
  keyTranslation_.assign(keyTranslation, keyTranslation ? keyTranslation + 256 : keyTranslation);
  collationValue_ = third;
}

uint32_t TkxLockOffsets::RecordLockOffset(int32_t n, int32_t headerLength,
                                          int32_t recordLength) const {
  const uint32_t number = static_cast<uint32_t>(n);
  switch (recordRule) {
    case TkxRecordLockRule::Ascending:
      return recordBase + number;
    case TkxRecordLockRule::Descending:
      return recordBase - number;
    case TkxRecordLockRule::AtRecordOffset:
      break;
  }
  return recordBase + static_cast<uint32_t>(headerLength) +
         (number - 1) * static_cast<uint32_t>(recordLength);
}

bool LockOffsetsOf(int protocol, bool indexOpen, TkxLockOffsets& out) {
  using Rule = TkxRecordLockRule;
  switch (static_cast<TkxLokProtocol>(protocol)) {
    case TkxLokProtocol::Default:
    case TkxLokProtocol::FoxLock:
      // FoxPro programs: with an index open the append lock is the last byte below 2 GB
      // and records count down from it (the index files lock that byte too); without
      // one, the append lock is 0x40000000 and a record locks its own offset above it.
      // The memo file locks its header byte.
      out = {.fileLockOffset = 0x40000000,
             .appendLockOffset = indexOpen ? 0x7FFFFFFEu : 0x40000000u,
             .fileLockLength = 0x3FFFFFFF,
             .recordRule = indexOpen ? Rule::Descending : Rule::AtRecordOffset,
             .recordBase = indexOpen ? 0x7FFFFFFEu : 0x40000000u,
             .indexLockOffset = 0x7FFFFFFE,
             .indexLockLength = 1,
             .memoLockOffset = 0,
             .memoLockLength = 1};
      return true;
    case TkxLokProtocol::DB4Lock:
      out = {.fileLockOffset = 0x40000000,
             .appendLockOffset = 0xEFFFFFFF,
             .fileLockLength = 0xB0000000,
             .recordRule = Rule::Descending,
             .recordBase = 0xEFFFFFFE,
             .indexLockOffset = 0xEFFFFFFE,
             .indexLockLength = 2,
             .memoLockOffset = 0xEFFFFFFE,
             .memoLockLength = 2};
      return true;
    case TkxLokProtocol::ClipLock:
      // Clipper programs: one base for everything; the append (header) lock is the base
      // byte itself, record n the byte n above it, and an index file its base byte.
      out = {.fileLockOffset = 1000000000,
             .appendLockOffset = 1000000000,
             .fileLockLength = 1000000000,
             .recordRule = Rule::Ascending,
             .recordBase = 1000000000,
             .indexLockOffset = 1000000000,
             .indexLockLength = 1,
             .memoLockOffset = 1000000000,
             .memoLockLength = 1};
      return true;
  }
  return false;
}

TkxLockOffsets KXO_dBaseDBF::LockOffsets() {
  TkxLockOffsets offsets{};
  if (!LockOffsetsOf(protocol_, HasIndex(), offsets))
    LockOffsetsOf(static_cast<int>(TkxLokProtocol::Default), HasIndex(), offsets);
  return offsets;
}

void KXO_dBaseDBF::SetLockProtocol(int protocol) {
  TkxLockOffsets offsets{};
  if (!LockOffsetsOf(protocol, offsets)) return;
  protocol_ = protocol;
  if (memo_) memo_->SetMemoLockProtocol(protocol);
}

bool KXO_dBaseDBF::HasIndex() { return false; }

bool KXO_dBaseDBF::LockAppend() {
  // What a lock guards is read afresh.
  orderAhead_.Drop();
  if (tableLocked_) {
    ++tableLockNesting_;
    return true;
  }
  if (appendHeld_) {
    ++appendNesting_;
    return true;
  }
  const uint32_t offset = LockOffsets().appendLockOffset;
  if (!LockRegionWaiting(offset, 1, true)) return false;
  appendHeld_ = true;
  appendHeldAt_ = offset;
  return true;
}

bool KXO_dBaseDBF::UnlockAppend() {
  if (tableLocked_ && tableLockNesting_ > 0) {
    --tableLockNesting_;
    return true;
  }
  if (!appendHeld_) return true;
  if (appendNesting_ > 0) {
    --appendNesting_;
    return true;
  }
  appendHeld_ = false;
  return UnlockExtraRegion(appendHeldAt_, 1);
}

bool KXO_dBaseDBF::LockTable() {
  // What a lock guards is read afresh.
  orderAhead_.Drop();
  if (tableLocked_) {
    ++tableLockNesting_;
    return true;
  }
  const TkxLockOffsets offsets = LockOffsets();
  if (!LockRegionWaiting(offsets.fileLockOffset, offsets.fileLockLength)) return false;
  tableLocked_ = true;
  RefreshHeader();
  return true;
}

bool KXO_dBaseDBF::LockTableHeader() {
  // What a lock guards is read afresh.
  orderAhead_.Drop();
  if (tableLocked_) {
    ++tableLockNesting_;
    return true;
  }
  if (!LockRegion(0, LockOffsets().fileLockLength)) return false;
  tableLocked_ = true;
  RefreshHeader();
  return true;
}

bool KXO_dBaseDBF::LockRecord() {
  // What a lock guards is read afresh.
  orderAhead_.Drop();
  if (tableLocked_) {
    ++tableLockNesting_;
    return true;
  }
  return LockRegion(LockOffsets().RecordLockOffset(current_, headerLength_, recordLength_), 1);
}

bool KXO_dBaseDBF::UnlockTable() {
  // A lock taken inside the table lock only counted a level: the table lock survives it.
  if (tableLocked_ && tableLockNesting_ > 0) {
    --tableLockNesting_;
    return true;
  }
  const bool result = UnlockRegion();
  if (tableLocked_ && LockCount() == 0) {
    tableLocked_ = false;
    WriteHeader();
  }
  return result;
}

KXO_dBaseDBF::HeaderInfo KXO_dBaseDBF::GetHeaderInfo() {
  RefreshHeader();
  ByteReader head(header_.data(), header_.size());
  HeaderInfo info{};
  info.date = (head.U8(1) * 256 + head.U8(2)) * 256 + head.U8(3);
  info.stamp = updateStamp_;
  info.userId = head.U32LE(20);
  return info;
}

uint32_t KXO_dBaseDBF::HeaderRecordCount() const {
  return ByteReader(header_.data(), header_.size()).U32LE(4);
}

uint8_t KXO_dBaseDBF::HeaderFlags() const { return header_[28]; }

KXobjMemo* KXO_dBaseDBF::OpenMemo() {
  if (!memo_) {
    memo_ = MakeMemo(this);
    if (memo_) memo_->SetMemoLockProtocol(protocol_);
  }
  return memo_.get();
}

void KXO_dBaseDBF::FlushFile() {
  FlushWriteBehind();
  KXO_DiskFile::FlushFile();
  // Only a memo file that is open can hold unwritten data.
  if (memo_) memo_->FlushFile();
  RecordEvent(kEventFlushed, current_);
}

bool KXO_dBaseDBF::RenameTo(const std::string& newName) {
  KXobjMemo* memo = OpenMemo();
  KXO_DiskFile::RenameTo(newName);
  if (memo) memo->RenameMemo(FileName());
  return true;
}

}  // namespace tolvern
