#include "kx6_build.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_tool.h"
#include "platform/pf_file.h"
#include "platform/pf_misc.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

constexpr uint8_t kTerminator = 0x0D;
constexpr int kMaxNameLength = 10;
constexpr int kMaxNumberWidth = 20;
constexpr int kMaxCharWidth = 65535;
constexpr int32_t kMaxRecordLength = 65535;
// The header length (32 per field + 33) is a 16-bit value.
constexpr int kMaxFieldCount = (65535 - kDbfHeaderSize - 1) / kDescriptorSize;
constexpr int kMemoHeaderSize = 512;
constexpr int kDb4MemoFileSize = 24;
constexpr uint32_t kDb4BlockSize = 512;
constexpr size_t kMemoNameOffset = 8;
constexpr size_t kMemoNameLength = 8;

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

std::string AsciiUpperText(std::string text) {
  for (char& c : text) c = AsciiUpper(c);
  return text;
}

std::string DescribeField(const std::string& name, char type, int length, int decimals) {
  return name + " " + std::string(1, type) + "(" + std::to_string(length) + "," +
         std::to_string(decimals) + ")";
}

// The path of a new table: `fileName` trimmed; without an extension it gets ".DBF", or the
// name of an existing table that differs only in the extension's case.
std::string NewTableName(const std::string& fileName) {
  const std::string trimmed = Trim(fileName);
  if (!platform::ExtensionOf(trimmed).empty()) return trimmed;
  const std::string withExt = trimmed + kDefaultExtension;
  if (auto found =
          platform::FindCompanion(platform::DirectoryOf(withExt), platform::FileNameOf(withExt))) {
    return *found;
  }
  return withExt;
}

}  // namespace

// --- KXO_DBFBuild ----------------------------------------------------------------------

KXO_DBFBuild::KXO_DBFBuild(const std::string& fileName)
    : fileName_(NewTableName(fileName)), uncaughtAtCreate_(std::uncaught_exceptions()) {
  std::string base = AsciiUpperText(NameWithoutExtension(fileName_));
  if (base.size() > kMemoNameLength) base.resize(kMemoNameLength);
  memoName_ = base;
}

KXO_DBFBuild::~KXO_DBFBuild() { WriteIfPending(); }

void KXO_DBFBuild::WriteIfPending() noexcept {
  if (attempted_ || !writeEnabled_ || refused_) return;
  // Unwinding from a failure is no time to replace files on disk.
  if (std::uncaught_exceptions() > uncaughtAtCreate_) return;
  try {
    WriteTable();
  } catch (...) {
    // A destructor cannot report; TableFile() stays empty.
  }
}

void KXO_DBFBuild::Refuse(int32_t code, const std::string& info) {
  refused_ = true;
  RaiseEngineError(code, code == ErrFieldName ? SubFieldName : SubFieldType, info);
}

int KXO_DBFBuild::AddField(const std::string& name, char type, int length, int decimals) {
  const std::string given = TrimRight(name);
  if (given.empty() || !IsNameStart(static_cast<unsigned char>(given[0])) ||
      !std::all_of(given.begin(), given.end(),
                   [](char c) { return IsNameChar(static_cast<unsigned char>(c)); })) {
    Refuse(ErrFieldName, "'" + name + "' -> " + fileName_);
    return -1;
  }
  std::string stored = AsciiUpperText(given);
  if (stored.size() > kMaxNameLength) stored.resize(kMaxNameLength);
  for (int i = 0; i < Count(); ++i) {
    const DbfDescriptor& other = *At(i);
    const std::string otherName(reinterpret_cast<const char*>(other.data()),
                                strnlen(reinterpret_cast<const char*>(other.data()), 11));
    if (otherName == stored) {
      Refuse(ErrFieldName, stored + " (duplicate) -> " + fileName_);
      return -1;
    }
  }
  if (Count() >= kMaxFieldCount) {
    Refuse(ErrFieldType, stored + " (too many fields) -> " + fileName_);
    return -1;
  }

  type = AsciiUpper(type);
  int lengthByte = 0;
  int decimalsByte = 0;
  int width = 0;
  bool memoField = false;
  switch (type) {
    case 'D':
      width = lengthByte = 8;
      break;
    case 'L':
      width = lengthByte = 1;
      break;
    case 'B':
    case 'G':
    case 'M':
      width = lengthByte = 10;
      memoField = true;
      break;
    case 'C':
      if (length < 1 || length > kMaxCharWidth) {
        Refuse(ErrFieldType, DescribeField(stored, type, length, decimals));
        return -1;
      }
      width = length;
      lengthByte = length % 256;
      decimalsByte = length / 256;
      break;
    case 'N':
    case 'F':
      // Room for the digits of a formatted zero: "0" or "0." plus the decimals.
      if (length < 1 || length > kMaxNumberWidth || decimals < 0 ||
          (decimals > 0 && decimals > length - 2)) {
        Refuse(ErrFieldType, DescribeField(stored, type, length, decimals));
        return -1;
      }
      width = lengthByte = length;
      decimalsByte = decimals;
      break;
    default:
      if (!storedTypes_ || type < '!' || type > '~' || length < 1 || length > 255 || decimals < 0 ||
          decimals > 255) {
        Refuse(ErrFieldType, DescribeField(stored, type, length, decimals));
        return -1;
      }
      width = lengthByte = length;
      decimalsByte = decimals;
      memoField = type == 'P';
      break;
  }
  if (recordLength_ + width > kMaxRecordLength) {
    Refuse(ErrFieldType,
           DescribeField(stored, type, length, decimals) + " (record longer than 65535 bytes)");
    return -1;
  }

  auto descriptor = std::make_unique<DbfDescriptor>();
  descriptor->fill(0);
  ByteWriter out(descriptor->data(), descriptor->size());
  out.Bytes(0, stored.data(), stored.size());
  out.U8(11, static_cast<uint8_t>(type));
  out.U8(16, static_cast<uint8_t>(lengthByte));
  out.U8(17, static_cast<uint8_t>(decimalsByte));
  recordLength_ += width;
  if (memoField) hasMemo_ = true;
  Add(std::move(descriptor));
  return Count() - 1;
}

std::string KXO_DBFBuild::MemoPath(const std::string& ext) const {
  const std::string tableExt = platform::ExtensionOf(fileName_);
  return platform::ReplaceExtension(fileName_, platform::MatchExtensionCase(tableExt, ext));
}

std::string KXO_DBFBuild::MemoFileName() const { return MemoPath(MemoExtension()); }

bool KXO_DBFBuild::WriteNewFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  KXO_DiskFile file(name, true, false);
  file.CreateFile();
  if (file.LastError() == 0) file.WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
  if (file.LastError() == 0) file.FlushFile();
  if (file.LastError() != 0) {
    writeFailed_ = true;
    return false;
  }
  file.CloseFile();
  return true;
}

void KXO_DBFBuild::WriteTable() {
  if (!writeEnabled_ || attempted_) return;
  if (hasMemo_ && MemoExtension() == ".fpt" && memoBlockSize_ == 0) {
    RaiseEngineError(ErrMemoFormat, SubMemoHeader, "memo block size 0 -> " + MemoFileName());
    return;
  }
  attempted_ = true;
  writeFailed_ = false;
  bool created = false;
  try {
    tableFile_ = std::make_unique<KXO_DiskFile>(fileName_, true, false);
    tableFile_->CreateFile();
    created = tableFile_->LastError() == 0;
    if (created) WriteDBFHeader();
    if (created && tableFile_->LastError() == 0) tableFile_->FlushFile();
    if (!created || tableFile_->LastError() != 0) writeFailed_ = true;
    tableFile_->CloseFile();
    if (!writeFailed_ && hasMemo_) CreateMemoFile();
  } catch (...) {
    DiscardTable(created);
    throw;
  }
  if (writeFailed_) DiscardTable(created);
}

void KXO_DBFBuild::DiscardTable(bool created) {
  tableFile_.reset();
  // A table this builder created is of no use half written or without its memo file.
  // A file it could not create is someone else's and stays.
  if (created) platform::RemoveFile(fileName_);
}

void KXO_DBFBuild::WriteDBFHeader() {
  const int fieldCount = Count();
  const size_t headerLength =
      static_cast<size_t>(kDbfHeaderSize + kDescriptorSize * fieldCount + 1);
  std::vector<uint8_t> bytes(headerLength + 1, 0);
  ByteWriter out(bytes.data(), bytes.size());

  const platform::LocalTime now = platform::LocalNow();
  header_.fill(0);
  ByteWriter head(header_.data(), header_.size());
  head.U8(0, hasMemo_ ? versionWithMemo_ : versionNoMemo_);
  head.U8(1, static_cast<uint8_t>(now.year % 100));
  head.U8(2, static_cast<uint8_t>(now.month));
  head.U8(3, static_cast<uint8_t>(now.day));
  head.U32LE(4, 0);
  head.U16LE(8, static_cast<uint16_t>(headerLength));
  head.U16LE(10, static_cast<uint16_t>(recordLength_));
  head.U8(kLanguageMarkOffset, languageMark_);

  out.Bytes(0, header_.data(), header_.size());
  for (int i = 0; i < fieldCount; ++i) {
    out.Bytes(static_cast<size_t>(kDescriptorSize * (i + 1)), At(i)->data(), kDescriptorSize);
  }
  out.U8(headerLength - 1, kTerminator);
  out.U8(headerLength, static_cast<uint8_t>(EOFMark));
  tableFile_->WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
}

void KXO_DBFBuild::CreateMemoFile() {
  // dBase III: block 0 only, next free block 1, the memo name at 8.
  std::vector<uint8_t> bytes(kMemoHeaderSize, 0);
  ByteWriter out(bytes.data(), bytes.size());
  out.U32LE(0, 1);
  out.Bytes(kMemoNameOffset, memoName_.data(), memoName_.size());
  WriteNewFile(MemoFileName(), bytes);
}

// --- KXO_DB4Build ----------------------------------------------------------------------

KXO_DB4Build::KXO_DB4Build(const std::string& fileName) : KXO_DBFBuild(fileName) {
  SetVersions(kVersionPlain, kVersionDb4Memo);
}

KXO_DB4Build::~KXO_DB4Build() { WriteIfPending(); }

void KXO_DB4Build::CreateMemoFile() {
  // The 24 header bytes only; the memo file pads block 0 when it first writes a memo.
  std::vector<uint8_t> bytes(kDb4MemoFileSize, 0);
  ByteWriter out(bytes.data(), bytes.size());
  out.U32LE(0, 1);
  out.Bytes(kMemoNameOffset, MemoName().data(), MemoName().size());
  out.U8(18, 0x02);
  out.U8(19, 0x01);
  out.U32LE(20, kDb4BlockSize);
  WriteNewFile(MemoFileName(), bytes);
}

// --- KXO_DBFoxBuild --------------------------------------------------------------------

KXO_DBFoxBuild::KXO_DBFoxBuild(const std::string& fileName) : KXO_DBFBuild(fileName) {
  SetVersions(kVersionPlain, kVersionFoxMemo);
  SetMemoBlockSize(64);
}

KXO_DBFoxBuild::~KXO_DBFoxBuild() { WriteIfPending(); }

void KXO_DBFoxBuild::CreateMemoFile() {
  // The 512-byte header fills whole blocks; the first memo goes into the block after it.
  const uint32_t blockSize = MemoBlockSize();
  const uint32_t headerBlocks = (kMemoHeaderSize + blockSize - 1) / blockSize;
  std::vector<uint8_t> bytes(static_cast<size_t>(headerBlocks) * blockSize, 0);
  ByteWriter out(bytes.data(), bytes.size());
  out.U32BE(0, headerBlocks);
  out.U16BE(6, static_cast<uint16_t>(blockSize));
  WriteNewFile(MemoFileName(), bytes);
}

}  // namespace tolvern
