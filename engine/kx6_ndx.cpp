#include "kx6_ndx.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "kx6_bytes.h"
#include "kx6_cnst.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sort.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

constexpr int32_t kPage = KXobjNDXTag::kPageSize;
constexpr int32_t kEntriesStart = 4;
constexpr int32_t kExpressionAt = 24;
constexpr int32_t kExpressionRoom = kPage - kExpressionAt - 1;

bool IsTrueChar(uint8_t c) {
  return LogicalTrueChars.find(static_cast<char>(c)) != std::string::npos;
}

}  // namespace

// =======================================================================================
// KXobjNDXTag

KXobjNDXTag::KXobjNDXTag(KXobjNDXFile* file, const std::string& name, int32_t headerPage)
    : KXobjIndexTag(file, name, headerPage), ndx_(file) {
  SetKindMarker(kTagKindNdx);
}

KXobjNDXTag::~KXobjNDXTag() {
  // Pages are stored through this class's PageStore: free the path while it exists.
  try {
    FreePath();
  } catch (...) {
    // A destructor cannot report; changes were stored when they were made.
  }
}

void KXobjNDXTag::SetLayout(char keyType, int32_t keyLength) {
  SetKeyType(keyType);
  numericLayout_ = keyType == 'N' || keyType == 'D';
  storedKeyLength_ = numericLayout_ ? 8 : keyLength;
  SetKeyLength(storedKeyLength_);
  const int32_t memoryLength = keyType == 'N' ? 12 : (keyType == 'D' ? 8 : keyLength);
  entrySize_ = (memoryLength + 8 + 3) / 4 * 4;
  maxKeys_ = (kPage - 8) / entrySize_;
}

void KXobjNDXTag::KeyAdjust(TkxVariant& key) {
  switch (KeyType()) {
    case 'N': {
      const double value = key.VariantType() == TkxVariant::kText
                               ? (Trim(key.AsText()).empty() ? 0.0 : key.AsFloat())
                               : key.AsFloat();
      key.SetFloat(value);
      break;
    }
    case 'D': {
      double value;
      if (key.VariantType() == TkxVariant::kFloat) {
        value = key.AsFloat();
        if (!(value >= 1.0 && value < 1.0E99)) value = kEmptyDateKey;
      } else {
        const int32_t day = key.AsDate();
        value = day > 0 ? static_cast<double>(day) : kEmptyDateKey;
      }
      key.SetFloat(value);
      break;
    }
    case 'L': {
      bool value;
      if (key.VariantType() == TkxVariant::kText) {
        value = !key.IsEmpty() && IsTrueChar(key.Data()[0]);
      } else {
        value = key.AsBoolean();
      }
      key.SetText(value ? "T" : "F");
      break;
    }
    default: {
      if (key.VariantType() != TkxVariant::kText) key.SetText(key.AsText());
      if (key.Length() > storedKeyLength_) key.SetLength(storedKeyLength_);
      key.TrimText();
      break;
    }
  }
}

std::string KXobjNDXTag::StoredKey(const TkxVariant& key) const {
  std::string out;
  StoredKey(key, out);
  return out;
}

void KXobjNDXTag::StoredKey(const TkxVariant& key, std::string& out) const {
  if (numericLayout_) {
    uint8_t bytes[8];
    ByteWriter(bytes, sizeof bytes).F64LE(0, key.AsFloat());
    out.assign(reinterpret_cast<const char*>(bytes), 8);
    return;
  }
  out.assign(reinterpret_cast<const char*>(key.Data()),
             static_cast<size_t>(std::max(0, key.Length())));
  out.resize(static_cast<size_t>(storedKeyLength_), ' ');
}

int KXobjNDXTag::TagCreate(const std::string& name, const std::string& keyExpr,
                           const std::string& forExpr, bool ascending, bool unique) {
  KXobjIndexTag::TagCreate(name, keyExpr, forExpr, ascending, unique);
  KXobjIndexKeyData probe(256);
  bool built = false;
  if (!KeyBuild(probe, built) || !built)
    Damaged("the key expression '" + keyExpr + "' gives no value");
  char type;
  int32_t length = probe.Length();
  switch (probe.VariantType()) {
    case TkxVariant::kFloat:
      type = 'N';
      break;
    case TkxVariant::kDate:
      type = 'D';
      break;
    case TkxVariant::kBoolean:
      type = 'L';
      length = 1;
      break;
    default:
      type = 'C';
      break;
  }
  if (type == 'C' && length < 1) Damaged("the key expression '" + keyExpr + "' is empty");
  // Keys are sorted with one byte of room beyond the key.
  if (length + 1 > TkxSort::kMaxKeyLength) throw ETolvernError(kMsgSortKeyLength);
  SetLayout(type, length);
  header_.assign(kPage, 0);
  ndx_->PageWrite(HeaderPage(), header_.data(), kPage);
  KXO_dBaseFld* table = Table();
  if (!table || table->RecordCount() == 0) {
    MakeEmpty(ndx_->PageNew());
  } else {
    Build();
  }
  return 0;
}

void KXobjNDXTag::Build() {
  KXO_dBaseFld* table = Table();
  KXobjSortNdx sorter(this, table ? table->Collation() : nullptr, Ascending(), Unique());
  if (ndx_->Disk()) sorter.SetSpillDirectory(platform::DirectoryOf(ndx_->Disk()->FileName()));
  if (table) sorter.ReserveKeys(static_cast<size_t>(table->RecordCount()));
  ScanTable(sorter, true);
  WriteBatch batch(ndx_);
  sorter.WriteKeys();
  int32_t root = sorter.Finish();
  if (root == 0) {
    root = ndx_->PageNew();
    const std::vector<uint8_t> empty(kPage, 0);
    ndx_->PageWrite(root, empty.data(), kPage);
  }
  batch.Close();
  SetRootPage(root);
  MarkHeaderChanged();
  TagStore();
}

void KXobjNDXTag::MakeEmpty(int32_t rootPage) {
  const std::vector<uint8_t> empty(kPage, 0);
  ndx_->PageWrite(rootPage, empty.data(), kPage);
  SetRootPage(rootPage);
  MarkHeaderChanged();
  TagStore();
}

bool KXobjNDXTag::KeyAdd(KXobjIndexKeyData& key) {
  const int32_t saved = key.KeyRecNo();
  key.SetKeyRecNo(0);
  bool added;
  try {
    added = KXobjIndexTag::KeyAdd(key);
  } catch (...) {
    key.SetKeyRecNo(saved);
    throw;
  }
  key.SetKeyRecNo(saved);
  return added;
}

int32_t KXobjNDXTag::RootPage() {
  uint8_t head[4];
  if (!ndx_->PageRead(HeaderPage(), head, sizeof head)) Damaged("the header cannot be read");
  const int32_t root = ByteReader(head, sizeof head).I32LE(0);
  SetRootPage(root);
  return root;
}

void KXobjNDXTag::TagLoad() {
  header_.assign(kPage, 0);
  if (!ndx_->PageRead(HeaderPage(), header_.data(), kPage)) Damaged("the header cannot be read");
  const ByteReader head(header_.data(), header_.size());
  SetRootPage(head.I32LE(0));
  const int32_t keyLength = head.U16LE(12);
  const int32_t maxKeys = head.U16LE(14);
  const bool numericHeader = head.U16LE(16) != 0;
  const int32_t entrySize = head.U16LE(18);
  SetFlags(true, (head.U8(23) & 0x01) != 0);
  const std::string raw = head.Text(kExpressionAt, kPage - kExpressionAt);
  SetExpressions(raw.substr(0, raw.find('\0')), "");

  // The layout the pages are read with comes from the header; it must fit a page.
  if (keyLength < 1 || entrySize < keyLength + 8 || maxKeys < 1 ||
      kEntriesStart + static_cast<int64_t>(maxKeys) * entrySize > kPage ||
      (numericHeader && keyLength != 8)) {
    Damaged("the header holds an impossible layout (key length " + std::to_string(keyLength) +
            ", entry size " + std::to_string(entrySize) + ", " + std::to_string(maxKeys) +
            " keys per page)");
  }
  storedKeyLength_ = keyLength;
  // Some writers store the key type word and the numbers high byte first.
  bigEndianKeys_ = numericHeader && head.U8(16) == 0;
  entrySize_ = entrySize;
  maxKeys_ = maxKeys;
  numericLayout_ = numericHeader;
  SetKeyLength(keyLength);

  // The key type comes from the expression's value; without one the header decides and
  // the tag can only be read.
  TkxVariant probe;
  std::string error;
  char type = numericHeader ? 'N' : 'C';
  if (ProbeKey(probe, error)) {
    switch (probe.VariantType()) {
      case TkxVariant::kFloat:
        type = 'N';
        break;
      case TkxVariant::kDate:
        type = 'D';
        break;
      case TkxVariant::kBoolean:
        type = 'L';
        break;
      default:
        type = 'C';
        break;
    }
    if ((type == 'N' || type == 'D') != numericHeader) {
      SetReadOnlyReason("the key expression's type does not match the header");
      type = numericHeader ? 'N' : 'C';
    }
  } else {
    SetReadOnlyReason(error);
  }
  SetKeyType(type);
  if (maxKeys_ < 2) SetReadOnlyReason("pages hold fewer than two keys");
  if (bigEndianKeys_) SetReadOnlyReason("numbers are stored high byte first");
  SetHeaderChanged(false);
}

void KXobjNDXTag::TagStore() {
  if (!HeaderChanged()) return;
  if (header_.size() != static_cast<size_t>(kPage)) header_.assign(kPage, 0);
  ByteWriter head(header_.data(), header_.size());
  if (ndx_->NextFreePage() < 0) ndx_->PageCount();
  head.I32LE(0, CachedRootPage());
  head.I32LE(4, ndx_->NextFreePage());
  head.U16LE(12, static_cast<uint16_t>(storedKeyLength_));
  head.U16LE(14, static_cast<uint16_t>(maxKeys_));
  head.U8(16, numericLayout_ ? 1 : 0);
  head.U16LE(18, static_cast<uint16_t>(entrySize_));
  head.U8(23, static_cast<uint8_t>((header_[23] & ~0x01) | (Unique() ? 0x01 : 0)));
  // The expression text, when it differs from what the page holds.
  const std::string expr = KeyExprText().substr(0, kExpressionRoom);
  if (std::memcmp(&header_[kExpressionAt], expr.data(), expr.size()) != 0 ||
      header_[kExpressionAt + expr.size()] != 0) {
    head.Fill(kExpressionAt, 0, kPage - kExpressionAt);
    head.Bytes(kExpressionAt, expr.data(), expr.size());
  }
  ndx_->PageWrite(HeaderPage(), header_.data(), kPage);
  SetHeaderChanged(false);
}

int KXobjNDXTag::PageLoad(int32_t page, KXobjIndexKey& node) {
  std::vector<uint8_t> buffer(static_cast<size_t>(kPage + entrySize_), 0);
  if (!ndx_->PageRead(page, buffer.data(), kPage))
    Damaged("page " + std::to_string(page) + " cannot be read");
  const ByteReader reader(buffer.data(), buffer.size());
  const uint32_t stored = reader.U32LE(0);
  const bool branch = reader.U32LE(kEntriesStart) != 0;
  // The keys and, in a branch, one more child pointer must lie inside the page.
  const int64_t needed =
      kEntriesStart + static_cast<int64_t>(stored) * entrySize_ + (branch ? 4 : 0);
  if (needed > kPage)
    Damaged("page " + std::to_string(page) + " holds " + std::to_string(stored) + " keys");
  const int count = static_cast<int>(stored) + (branch ? 1 : 0);
  node.SetKind(branch ? KXobjIndexKey::kBranchKind : KXobjIndexKey::kLeafKind);
  for (int i = 0; i < count; ++i) {
    const size_t at = kEntriesStart + static_cast<size_t>(i) * static_cast<size_t>(entrySize_);
    auto entry = std::make_unique<KXobjIndexKeyData>();
    if (branch && i == count - 1) {
      // The pointer-only entry leads to every key above the branch's last key.
      if (numericLayout_) {
        entry->SetFloat(1.7E308);
      } else {
        entry->SetText("\xFF");
      }
    } else if (numericLayout_) {
      entry->SetFloat(bigEndianKeys_ ? std::bit_cast<double>(reader.U64BE(at + 8))
                                     : reader.F64LE(at + 8));
    } else {
      // Some writers pad keys with NUL bytes instead of blanks.
      std::string text = reader.Text(at + 8, static_cast<size_t>(storedKeyLength_));
      text.erase(text.find_last_not_of(std::string(" \0", 2)) + 1);
      entry->SetText(text);
    }
    entry->SetReference(static_cast<int32_t>(reader.U32LE(branch ? at : at + 4)));
    node.Append(std::move(entry));
  }
  return 0;
}

void KXobjNDXTag::WritePage(int32_t page, const std::vector<KXobjPageEntry>& entries, size_t begin,
                            size_t count, bool branch) {
  page_.assign(kPage, 0);
  ByteWriter writer(page_.data(), page_.size());
  const size_t keys = branch && count > 0 ? count - 1 : count;
  writer.U32LE(0, static_cast<uint32_t>(keys));
  const size_t keyLength = static_cast<size_t>(storedKeyLength_);
  for (size_t i = 0; i < count; ++i) {
    const KXobjPageEntry& entry = entries[begin + i];
    const size_t at = kEntriesStart + i * static_cast<size_t>(entrySize_);
    writer.U32LE(branch ? at : at + 4, static_cast<uint32_t>(entry.reference));
    if (i < keys) {
      const size_t length = std::min(entry.key.size(), keyLength);
      writer.Bytes(at + 8, entry.key.data(), length);
      writer.Fill(at + 8 + length, numericLayout_ ? 0 : ' ', keyLength - length);
    }
  }
  ndx_->PageWrite(page, page_.data(), kPage);
}

int KXobjNDXTag::PageStore(int32_t page, KXobjIndexKey& node) {
  const bool branch = node.IsBranch() && node.Count() > 0;
  std::vector<KXobjPageEntry> entries(static_cast<size_t>(node.Count()));
  for (int i = 0; i < node.Count(); ++i) {
    const KXobjIndexKeyData& key = node.At(i);
    entries[static_cast<size_t>(i)] = KXobjPageEntry{StoredKey(key), key.Reference(), 0};
  }
  // A branch page holds maxKeys_ keys and one more child pointer.
  const std::vector<int> sizes = SplitSizes(node.Count(), branch ? maxKeys_ + 1 : maxKeys_);
  size_t begin = 0;
  for (size_t part = 0; part + 1 < sizes.size(); ++part) {
    const size_t count = static_cast<size_t>(sizes[part]);
    const int32_t newPage = ndx_->PageNew();
    WritePage(newPage, entries, begin, count, branch);
    auto separator = node.At(static_cast<int>(begin + count - 1)).Clone();
    separator->SetReference(newPage);
    SplitLink(node, *separator);
    begin += count;
  }
  WritePage(page, entries, begin, entries.size() - begin, branch);
  if (node.Kind() == KXobjIndexKey::kNewRootKind) node.SetKind(KXobjIndexKey::kBranchKind);
  return 0;
}

// =======================================================================================
// KXobjNDXFile

KXobjNDXFile::KXobjNDXFile(KXO_dBaseFld* table, const std::string& name, bool create,
                           bool overwrite, bool readWrite, bool shared)
    : KXobjIndexFile(table) {
  AttachDiskFile(name, ".ndx", create, overwrite, readWrite, shared);
  if (!Opened()) return;
  if (create && (overwrite || Disk()->FileSize() == 0)) {
    SetNextFreePage(0);
    return;
  }
  auto* tag = static_cast<KXobjNDXTag*>(
      AddTag(std::make_unique<KXobjNDXTag>(this, NameWithoutExtension(FileName()), 0)));
  PageCount();
  tag->TagLoad();
}

KXobjNDXFile::~KXobjNDXFile() {
  // The tags store through this class's page addressing: free them while it exists.
  try {
    FreeTags();
  } catch (...) {
    // A destructor cannot report; changes were stored when they were made.
  }
}

int KXobjNDXFile::TagAdd(const std::string& name, const std::string& keyExpr,
                         const std::string& forExpr, bool ascending, bool unique) {
  if (!Opened()) return 0;
  // The one tag replaces whatever the file held.
  WholeFileLock lock(Disk());
  FreeTags();
  if (Disk()->FileSize() > 0) Disk()->TruncateAt(0);
  SetNextFreePage(0);
  auto* tag = static_cast<KXobjNDXTag*>(AddTag(std::make_unique<KXobjNDXTag>(
      this, name.empty() ? NameWithoutExtension(FileName()) : name, PageNew())));
  tag->MarkHeaderChanged();
  return tag->TagCreate(name, keyExpr, forExpr, ascending, unique);
}

int32_t KXobjNDXFile::PageCount() {
  const int64_t size = Disk() ? Disk()->FileSize() : 0;
  const int64_t pages = (std::max<int64_t>(size, 0) + kPage - 1) / kPage;
  SetNextFreePage(static_cast<int32_t>(std::min<int64_t>(pages, INT32_MAX)));
  return NextFreePage();
}

int32_t KXobjNDXFile::PageNew() {
  if (NextFreePage() < 0) PageCount();
  const int32_t page = NextFreePage();
  if (page >= INT32_MAX / kPage) {
    FileError(kErrIndexDamaged, SubIndexTag, (FileName() + ": the index file is full").c_str());
    throw ETolvernError(FileName() + ": the index file is full");
  }
  SetNextFreePage(page + 1);
  // The header records the next free page for other programs.
  if (KXobjNDXTag* tag = Tag()) tag->MarkHeaderChanged();
  return page;
}

bool KXobjNDXFile::PageRead(int32_t page, void* buffer, int32_t length) {
  if (page < 0) return false;
  return KXobjIndexFile::PageRead(
      static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(page) * kPage, INT32_MAX)),
      buffer, length);
}

bool KXobjNDXFile::PageWrite(int32_t page, const void* buffer, int32_t length) {
  if (page < 0 || static_cast<int64_t>(page) * kPage > INT32_MAX) return false;
  return KXobjIndexFile::PageWrite(page * kPage, buffer, length);
}

bool KXobjNDXFile::ValidNodePage(int32_t page) {
  if (NextFreePage() < 0) PageCount();
  return page >= 1 && page < NextFreePage();
}

void KXobjNDXFile::Zap() {
  KXobjNDXTag* tag = Tag();
  if (!tag || !Disk()) return;
  if (!tag->Maintainable()) tag->RequireMaintainable();
  WholeFileLock lock(Disk());
  tag->FreePath();
  Disk()->TruncateAt(2 * kPage);
  SetNextFreePage(2);
  tag->MakeEmpty(1);
}

void KXobjNDXFile::Reindex() {
  KXobjNDXTag* tag = Tag();
  if (!tag || !Disk()) return;
  Zap();
  WholeFileLock lock(Disk());
  SetNextFreePage(1);
  tag->Build();
}

}  // namespace tolvern
