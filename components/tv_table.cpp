#include "tv_table.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QTime>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "db_error.h"
#include "kx6_bytes.h"
#include "kx6_glbl.h"
#include "kx6_memo.h"
#include "tv_log.h"

namespace fendral {

using tolvern::DbfFieldInfo;

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Day number of the timestamp epoch of 0x30 tables (their day 0 is "no timestamp").
constexpr int64_t kTimestampBaseDay = 1721425;

// While alive, the handler's record buffer holds a copy of a dataset buffer; the handler's
// own record comes back afterwards.
class ScopedRecordImage {
 public:
  ScopedRecordImage(DBFObject& table, const uint8_t* image)
      : table_(table), length_(static_cast<size_t>(table.RecordLength())) {
    saved_.assign(table_.Buffer(), table_.Buffer() + length_);
    std::memcpy(table_.Buffer(), image, length_);
  }
  ~ScopedRecordImage() { std::memcpy(table_.Buffer(), saved_.data(), length_); }
  ScopedRecordImage(const ScopedRecordImage&) = delete;
  ScopedRecordImage& operator=(const ScopedRecordImage&) = delete;
  // Copies the handler's (changed) image back into `image`.
  void CopyTo(uint8_t* image) const { std::memcpy(image, table_.Buffer(), length_); }

 private:
  DBFObject& table_;
  size_t length_;
  std::vector<uint8_t> saved_;
};

// The length of `at` without its trailing blanks, looked at eight bytes at a time (text
// fields are mostly blank at their end).
size_t LengthWithoutTrailingBlanks(const char* at, size_t width) {
  constexpr uint64_t kBlanks = 0x2020202020202020ULL;
  size_t end = width;
  while (end >= 8) {
    uint64_t word;
    std::memcpy(&word, at + end - 8, 8);
    if (word != kBlanks) break;
    end -= 8;
  }
  while (end > 0 && at[end - 1] == ' ') --end;
  return end;
}

std::string_view Trimmed(const char* at, size_t width) {
  size_t begin = 0;
  size_t end = width;
  while (end > 0 && (at[end - 1] == ' ' || at[end - 1] == '\0')) --end;
  while (begin < end && at[begin] == ' ') ++begin;
  return std::string_view(at + begin, end - begin);
}

// A decimal number in DBF text ("-12.50", "+3", ".5"); false for anything else.
bool ParseNumber(std::string_view text, double& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto res =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  return res.ec == std::errc() && res.ptr == text.data() + text.size() && std::isfinite(value);
}

QVariant NumberVariant(double value, TTVFieldKind kind) {
  if (kind == TTVFieldKind::Float) return value;
  const double whole = std::round(value);
  if (whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max())
    return static_cast<int>(whole);
  return static_cast<qlonglong>(whole);
}

}  // namespace

std::vector<TTVFieldDef> MapTableFields(tolvern::KXO_dBaseFld& table, const TTVCodePage& names) {
  std::vector<TTVFieldDef> defs;
  for (const DbfFieldInfo& f : table.Fields()) {
    TTVFieldDef def;
    def.name = names.Decode(f.name);
    def.fieldNo = f.number;
    const bool binary = table.IsBinaryField(f);
    switch (f.type) {
      case 'C':
        def.kind = TTVFieldKind::String;
        def.size = f.length;
        break;
      case 'N':
      case 'F':
        if (f.decimals > 0 || f.length >= 11) {
          def.kind = TTVFieldKind::Float;
          def.decimals = f.decimals;
        } else if (f.length < 5) {
          def.kind = TTVFieldKind::SmallInt;
        } else {
          def.kind = TTVFieldKind::Integer;
        }
        break;
      case 'D':
        def.kind = TTVFieldKind::Date;
        break;
      case 'L':
        def.kind = TTVFieldKind::Boolean;
        break;
      case 'M':
        def.kind = TTVFieldKind::Memo;
        break;
      case 'B':
        def.kind = binary ? TTVFieldKind::Float : TTVFieldKind::Blob;
        break;
      case 'Y':
        if (!binary) continue;
        def.kind = TTVFieldKind::Float;
        def.decimals = 4;
        break;
      case 'G':
        def.kind = TTVFieldKind::Blob;
        break;
      case 'I':
        def.kind = TTVFieldKind::Integer;
        break;
      case 'T':
        def.kind = TTVFieldKind::DateTime;
        break;
      default:
        continue;
    }
    defs.push_back(def);
  }
  return defs;
}

TTVTableCore::TTVTableCore() : codePage_(TTVCodePage::Get("CP866")) {}

TTVTableCore::~TTVTableCore() { Close(); }

void TTVTableCore::Open(const std::string& path, const OpenOptions& options) {
  Close();
  auto table = std::make_unique<DBFObject>(path, !options.readOnly, !options.exclusive);
  table->SetShowDeleted(options.useDeleted);
  table->SetReadAheadOn(options.readAhead);
  table->SetLockProtocol(options.lockProtocol);
  table->SetUserID(options.userId);
  table_ = std::move(table);
}

void TTVTableCore::Close() {
  if (!table_) return;
  try {
    ReleaseRecordLock();
  } catch (...) {
    // The handler releases every lock of its file when it goes.
    LogSwallowed("releasing the record lock");
  }
  pending_.clear();
  lockedRecord_ = 0;
  table_.reset();
}

void TTVTableCore::SetCodePage(const std::string& name) { codePage_ = TTVCodePage::Get(name); }

std::string TTVTableCore::Encode(const QString& text, const QString& what) const {
  std::string bytes;
  QChar missing;
  if (!codePage_->Encode(text, bytes, &missing)) {
    DatabaseError(QCoreApplication::translate(
                      "Tolvern", "Field '%1': the character '%2' does not exist in code page %3")
                      .arg(what, QString(missing), QString::fromStdString(codePage_->Name())));
  }
  return bytes;
}

// --- buffers -----------------------------------------------------------------------

int TTVTableCore::RecordSize() const { return table_ ? table_->RecordLength() : 0; }

int32_t TTVTableCore::RecNoOf(const uint8_t* info) {
  int32_t recno;
  std::memcpy(&recno, info, sizeof recno);
  return recno;
}

void TTVTableCore::FormatBookmark(int32_t recno, char* out) {
  // The record number right-aligned in ten characters, as "%10d" writes it; record
  // numbers are positive, anything else leaves the bookmark blank (no record).
  std::memset(out, ' ', 10);
  out[10] = '\0';
  if (recno <= 0) return;
  uint32_t n = static_cast<uint32_t>(recno);
  for (int i = 9; i >= 0 && n > 0; --i, n /= 10) out[i] = static_cast<char>('0' + n % 10);
}

bool TTVTableCore::ParseBookmark(const char* bookmark, int32_t& recno) {
  std::string_view text(bookmark, strnlen(bookmark, kBookmarkSize));
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), recno);
  return res.ec == std::errc() && res.ptr == text.data() + text.size() && recno > 0;
}

void TTVTableCore::SetRecordInfo(uint8_t* buffer, int32_t recno, uint8_t flag) const {
  uint8_t* info = buffer + InfoOffset();
  std::memset(info, 0, kRecordInfoSize);
  std::memcpy(info, &recno, sizeof recno);
  info[5] = flag;
  FormatBookmark(recno, reinterpret_cast<char*>(buffer + BookmarkOffset()));
}

TTVTableCore::FetchResult TTVTableCore::Fetch(int32_t code, uint8_t* buffer) {
  DBFObject& t = *table_;
  t.GetRecord(code);
  if (t.Eof()) return FetchResult::Eof;
  if (t.Bof()) return FetchResult::Bof;
  std::memcpy(buffer, t.Buffer(), static_cast<size_t>(t.RecordLength()));
  SetRecordInfo(buffer, t.CurrentRecord(), kBookmarkCurrent);
  return FetchResult::Ok;
}

// --- field data --------------------------------------------------------------------

QVariant TTVTableCore::Value(const uint8_t* buffer, const TTVFieldDef& def) {
  const DbfFieldInfo& f = table_->Fields().at(static_cast<size_t>(def.fieldNo - 1));
  const char* at = reinterpret_cast<const char*>(buffer) + f.offset;
  const size_t width = static_cast<size_t>(f.length);
  const bool binary = table_->IsBinaryField(f);
  tolvern::ByteReader bytes(at, width);
  switch (def.kind) {
    case TTVFieldKind::String: {
      const size_t end = LengthWithoutTrailingBlanks(at, width);
      if (end == 0) return {};
      return codePage_->Decode(at, end);
    }
    case TTVFieldKind::SmallInt:
    case TTVFieldKind::Integer:
    case TTVFieldKind::Float: {
      if (binary) {
        if (f.type == 'I' && width >= 4) return bytes.I32LE(0);
        if (f.type == 'B' && width >= 8) return bytes.F64LE(0);
        if (f.type == 'Y' && width >= 8) return static_cast<double>(bytes.I64LE(0)) / 10000.0;
        return {};
      }
      double value;
      if (!ParseNumber(Trimmed(at, width), value)) return {};
      return NumberVariant(value, def.kind);
    }
    case TTVFieldKind::Date: {
      const std::string_view text = Trimmed(at, width);
      if (text.size() != 8 || text == "00000000") return {};
      for (char c : text)
        if (c < '0' || c > '9') return {};
      const int y =
          (text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
      const int m = (text[4] - '0') * 10 + (text[5] - '0');
      const int d = (text[6] - '0') * 10 + (text[7] - '0');
      const QDate date(y, m, d);
      if (!date.isValid()) return {};
      return date;
    }
    case TTVFieldKind::Boolean: {
      if (width < 1 || at[0] == '\0') return {};
      if (tolvern::LogicalTrueChars.find(at[0]) != std::string::npos) return true;
      if (tolvern::LogicalFalseChars.find(at[0]) != std::string::npos) return false;
      return {};
    }
    case TTVFieldKind::DateTime: {
      // Timestamps are two binary words in every table that has them (dBase III writers
      // put them there too).
      if (width < 8) return {};
      const uint32_t dayWord = bytes.U32LE(0);
      const uint32_t msWord = bytes.U32LE(4);
      constexpr uint32_t kBlank = 0x20202020;
      if ((dayWord == 0 || dayWord == kBlank) && (msWord == 0 || msWord == kBlank)) return {};
      const int64_t day = dayWord == kBlank ? 0 : static_cast<int32_t>(dayWord);
      const int64_t ms = msWord == kBlank ? 0 : static_cast<int32_t>(msWord);
      if (day <= 0 || ms < 0 || ms >= kMsPerDay) return {};
      const QDate date = QDate::fromJulianDay(day);
      if (!date.isValid()) return {};
      return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
    }
    case TTVFieldKind::Memo:
    case TTVFieldKind::Blob: {
      if (HasPendingMemo(def.fieldNo)) return !pending_.at(def.fieldNo).isEmpty();
      if (binary) return width >= 4 && bytes.U32LE(0) != 0 && bytes.U32LE(0) != 0x20202020;
      const std::string_view digits = Trimmed(at, width);
      double block;
      return ParseNumber(digits, block) && block > 0;
    }
  }
  return {};
}

bool TTVTableCore::Stored(const uint8_t* buffer, const TTVFieldDef& def,
                          TStoredValue& stored) const {
  const auto index = static_cast<size_t>(def.fieldNo - 1);
  if (index >= table_->Fields().size()) return false;
  const DbfFieldInfo& f = table_->Fields()[index];
  const char* at = reinterpret_cast<const char*>(buffer) + f.offset;
  const auto width = static_cast<size_t>(f.length);
  switch (def.kind) {
    case TTVFieldKind::String: {
      const size_t end = LengthWithoutTrailingBlanks(at, width);
      stored.text = end == 0 ? QString() : codePage_->Decode(at, end);
      return true;
    }
    case TTVFieldKind::SmallInt:
    case TTVFieldKind::Integer:
    case TTVFieldKind::Float:
    case TTVFieldKind::Date:
      if (table_->IsBinaryField(f)) return false;
      stored.digits = Trimmed(at, width);
      return !stored.digits.empty();
    case TTVFieldKind::Boolean:
      if (width < 1 || at[0] == '\0') return false;
      if (tolvern::LogicalTrueChars.find(at[0]) != std::string::npos) {
        stored.digits = "T";
        return true;
      }
      if (tolvern::LogicalFalseChars.find(at[0]) != std::string::npos) {
        stored.digits = "F";
        return true;
      }
      return false;
    default:
      return false;
  }
}

void TTVTableCore::SetValue(uint8_t* buffer, const TTVFieldDef& def, const QVariant& value) {
  DBFObject& t = *table_;
  const DbfFieldInfo& f = t.Fields().at(static_cast<size_t>(def.fieldNo - 1));
  const bool none = !value.isValid() || value.isNull();
  const bool binary = t.IsBinaryField(f);
  ScopedRecordImage image(t, buffer);
  auto refuse = [&](const QString& what) {
    DatabaseError(
        QCoreApplication::translate("Tolvern", "Field '%1' cannot hold %2").arg(def.name, what));
  };
  // Engine refusals (a number too wide) become the field's message.
  auto engine = [&](auto&& put) {
    try {
      if (!put()) refuse(QCoreApplication::translate("Tolvern", "this value"));
    } catch (const std::exception& e) {
      refuse(QCoreApplication::translate("Tolvern", "this value (%1)")
                 .arg(QString::fromLocal8Bit(e.what()).trimmed()));
    }
  };
  switch (def.kind) {
    case TTVFieldKind::String: {
      const std::string bytes = Encode(none ? QString() : value.toString(), def.name);
      if (bytes.size() > static_cast<size_t>(f.length)) {
        DatabaseError(
            QCoreApplication::translate("Tolvern", "Field '%1' holds at most %2 characters")
                .arg(def.name)
                .arg(f.length));
      }
      t.PutField(f.number, bytes);
      break;
    }
    case TTVFieldKind::SmallInt:
    case TTVFieldKind::Integer:
    case TTVFieldKind::Float: {
      if (none) {
        if (binary) {
          engine([&] { return t.PutNumber(f.number, 0.0); });
        } else {
          t.PutField(f.number, std::string());
        }
        break;
      }
      bool ok = false;
      const double number = value.toDouble(&ok);
      if (!ok || !std::isfinite(number)) refuse(QStringLiteral("\"%1\"").arg(value.toString()));
      engine([&] { return t.PutNumber(f.number, number); });
      break;
    }
    case TTVFieldKind::Date: {
      if (none) {
        t.PutField(f.number, std::string());
        break;
      }
      const QDate date = value.toDate();
      if (!date.isValid() || date.year() < 1 || date.year() > 9999)
        refuse(QCoreApplication::translate("Tolvern", "the date \"%1\"").arg(value.toString()));
      t.PutField(f.number, date.toString(QStringLiteral("yyyyMMdd")).toStdString());
      break;
    }
    case TTVFieldKind::Boolean:
      if (none) {
        t.PutField(f.number, std::string());
      } else {
        engine([&] { return t.PutLogical(f.number, value.toBool()); });
      }
      break;
    case TTVFieldKind::DateTime: {
      int64_t day = 0;
      int64_t ms = 0;
      if (!none) {
        const QDateTime stamp = value.toDateTime();
        if (!stamp.isValid() || stamp.date().toJulianDay() < 1 ||
            stamp.date().toJulianDay() > std::numeric_limits<int32_t>::max())
          refuse(QStringLiteral("\"%1\"").arg(value.toString()));
        day = stamp.date().toJulianDay();
        ms = stamp.time().msecsSinceStartOfDay();
      }
      if (binary) {
        const double value =
            day == 0 ? 0.0 : static_cast<double>((day - kTimestampBaseDay) * kMsPerDay + ms);
        engine([&] { return t.PutNumber(f.number, value); });
      } else if (f.length >= 8) {
        // Two binary words in a table that does not know them as such.
        tolvern::ByteWriter out(t.Buffer() + f.offset, 8);
        out.U32LE(0, static_cast<uint32_t>(day));
        out.U32LE(4, static_cast<uint32_t>(ms));
      }
      break;
    }
    case TTVFieldKind::Memo:
    case TTVFieldKind::Blob:
      DatabaseError(
          QCoreApplication::translate("Tolvern", "Field '%1' cannot be modified").arg(def.name));
  }
  image.CopyTo(buffer);
}

QByteArray TTVTableCore::Memo(const uint8_t* buffer, int fieldNo) {
  if (auto it = pending_.find(fieldNo); it != pending_.end()) return it->second;
  ScopedRecordImage image(*table_, buffer);
  std::vector<uint8_t> data;
  table_->ReadMemo(fieldNo, data);
  return QByteArray(reinterpret_cast<const char*>(data.data()),
                    static_cast<qsizetype>(data.size()));
}

QString TTVTableCore::MemoDisplay(const uint8_t* buffer, const TTVFieldDef& field) {
  if (!Value(buffer, field).toBool()) return {};
  const QByteArray bytes = Memo(buffer, field.fieldNo);
  qsizetype end = 0;
  while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n' && bytes[end] != '\0')
    ++end;
  return codePage_->Decode(bytes.constData(), static_cast<size_t>(end));
}

// --- editing -----------------------------------------------------------------------

void TTVTableCore::LockForEdit(int32_t recno, uint8_t* buffer) {
  DBFObject& t = *table_;
  if (lockedRecord_ != recno) {
    ReleaseRecordLock();
    if (!t.LockRecordNumber(recno))
      DatabaseError(QCoreApplication::translate("Tolvern", "Record is locked by another user"));
    lockedRecord_ = recno;
  }
  try {
    t.ReadFromFile(recno);
    if (t.Eof() || t.CurrentRecord() != recno)
      DatabaseError(QCoreApplication::translate("Tolvern", "Record request beyond range of table"));
  } catch (...) {
    ReleaseRecordLock();
    throw;
  }
  std::memcpy(buffer, t.Buffer(), static_cast<size_t>(t.RecordLength()));
  SetRecordInfo(buffer, recno, kBookmarkCurrent);
}

void TTVTableCore::ReleaseRecordLock() {
  if (lockedRecord_ <= 0 || !table_) return;
  lockedRecord_ = 0;
  table_->UnlockTable();
}

void TTVTableCore::InitNewRecord(uint8_t* buffer) {
  DBFObject& t = *table_;
  ScopedRecordImage image(t, buffer);
  t.BlankRecord();
  image.CopyTo(buffer);
  SetRecordInfo(buffer, 0, kBookmarkInserted);
  pending_.clear();
}

void TTVTableCore::ReplaceMemos(std::vector<std::pair<int, int32_t>>& oldBlocks) {
  DBFObject& t = *table_;
  for (const auto& [fieldNo, bytes] : pending_) {
    const DbfFieldInfo& f = t.Fields().at(static_cast<size_t>(fieldNo - 1));
    int32_t old = 0;
    try {
      const double block = t.GetNumber(fieldNo);
      if (block > 0 && block <= std::numeric_limits<int32_t>::max())
        old = static_cast<int32_t>(block);
    } catch (const std::exception&) {
      LogSwallowed("reading a memo reference");
      old = 0;  // an unreadable reference is replaced, never freed
    }
    // The new text goes into new blocks: the record on disk keeps its memo until the
    // record itself is written.
    if (t.IsBinaryField(f)) {
      t.PutNumber(fieldNo, 0.0);
    } else {
      t.PutField(fieldNo, std::string());
    }
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (!t.WriteMemo(fieldNo, std::span<const uint8_t>(data, static_cast<size_t>(bytes.size())))) {
      DatabaseError(
          QCoreApplication::translate("Tolvern", "The memo of field '%1' could not be written")
              .arg(codePage_->Decode(f.name)));
    }
    if (old > 0) oldBlocks.emplace_back(fieldNo, old);
  }
}

int32_t TTVTableCore::Post(uint8_t* buffer, int32_t recno) {
  DBFObject& t = *table_;
  const size_t length = static_cast<size_t>(t.RecordLength());
  // The handler's copy of the record as read is the file's, so that the indexes lose
  // the record's old keys.
  if (recno > 0) {
    t.ReadFromFile(recno);
    if (t.CurrentRecord() != recno)
      DatabaseError(QCoreApplication::translate("Tolvern", "Record request beyond range of table"));
  }
  std::memcpy(t.Buffer(), buffer, length);
  std::vector<std::pair<int, int32_t>> oldBlocks;
  ReplaceMemos(oldBlocks);
  if (recno > 0) {
    t.PutRecord(recno);
  } else {
    t.AppendRecord();
  }
  // The record no longer refers to its old memos: their blocks go back to the file.
  for (const auto& [fieldNo, block] : oldBlocks) {
    try {
      if (tolvern::KXobjMemo* memo = t.MemoFor(fieldNo)) memo->FreeMemo(block);
    } catch (const std::exception&) {
      // Blocks that stay allocated lose nothing.
      LogSwallowed("freeing the old blocks of a memo");
    }
  }
  pending_.clear();
  std::memcpy(buffer, t.Buffer(), length);
  SetRecordInfo(buffer, t.CurrentRecord(), kBookmarkCurrent);
  return t.CurrentRecord();
}

void TTVTableCore::SetDeleted(int32_t recno, bool deleted, uint8_t* buffer) {
  DBFObject& t = *table_;
  const bool ownLock = lockedRecord_ != recno;
  if (ownLock) {
    if (lockedRecord_ > 0)
      DatabaseError(QCoreApplication::translate("Tolvern", "Record is locked by another user"));
    if (!t.LockRecordNumber(recno))
      DatabaseError(QCoreApplication::translate("Tolvern", "Record is locked by another user"));
  }
  struct Release {
    DBFObject& t;
    bool own;
    ~Release() {
      if (own) t.UnlockTable();
    }
  } release{t, ownLock};
  t.ReadFromFile(recno);
  if (t.CurrentRecord() != recno)
    DatabaseError(QCoreApplication::translate("Tolvern", "Record request beyond range of table"));
  if (deleted) {
    t.DeleteRecord();
  } else {
    t.RecallRecord();
  }
  if (buffer) {
    std::memcpy(buffer, t.Buffer(), static_cast<size_t>(t.RecordLength()));
    SetRecordInfo(buffer, recno, kBookmarkCurrent);
  }
}

}  // namespace fendral
