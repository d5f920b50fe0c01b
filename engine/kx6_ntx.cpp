#include "kx6_ntx.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kx6_bytes.h"
#include "kx6_cnst.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sort.h"
#include "kx6_sql.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

constexpr int32_t kPage = KXobjNTXTag::kPageSize;
constexpr size_t kExpressionAt = 22;
constexpr size_t kFieldRoom = 256;  // key and FOR expression fields
constexpr size_t kUniqueAt = 278;
constexpr size_t kOldDescendingAt = 279;
constexpr size_t kDescendingAt = 280;
constexpr size_t kForAt = 282;
constexpr uint16_t kSignature = 6;
constexpr uint16_t kSignatureFor = 7;
constexpr uint16_t kSignatureOld = 3;

bool IsTrueChar(uint8_t c) {
  return LogicalTrueChars.find(static_cast<char>(c)) != std::string::npos;
}

bool AllDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Writes `text` into a NUL-terminated field of `room` bytes when it differs from what the
// field holds.
void PutField(std::vector<uint8_t>& image, size_t at, size_t room, const std::string& text) {
  const std::string value = text.substr(0, room - 1);
  if (std::memcmp(&image[at], value.data(), value.size()) == 0 && image[at + value.size()] == 0)
    return;
  std::fill(image.begin() + static_cast<std::ptrdiff_t>(at),
            image.begin() + static_cast<std::ptrdiff_t>(at + room), 0);
  std::memcpy(&image[at], value.data(), value.size());
}

}  // namespace

// =======================================================================================
// KXobjNTXTag

KXobjNTXTag::KXobjNTXTag(KXobjNTXFile* file, const std::string& name, int32_t headerOffset)
    : KXobjIndexTag(file, name, headerOffset), ntx_(file) {
  SetKindMarker(kTagKindNtx);
}

std::string KXobjNTXTag::NumberKey(double value, int32_t length, int32_t decimals) {
  length = std::clamp(length, 1, 256);
  decimals = std::clamp(decimals, 0, 64);
  if (!std::isfinite(value)) return std::string(static_cast<size_t>(length), '*');
  std::string text;
  // Values that hold no more decimals than the key shows (what fields give) are formatted
  // from their scaled integer; everything else the way printf rounds.
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const double scaled = decimals <= 15 ? std::fabs(value) * kPowers[decimals] : -1;
  const double whole = std::floor(scaled + 0.5);
  if (scaled >= 0 && scaled < 1e15 && std::fabs(scaled - whole) < 1e-3) {
    uint64_t digits = static_cast<uint64_t>(whole);
    text.assign(static_cast<size_t>(length), '0');
    size_t at = text.size();
    for (int32_t i = 0; i < decimals && at > 0; ++i, digits /= 10)
      text[--at] = static_cast<char>('0' + digits % 10);
    if (decimals > 0 && at > 0) text[--at] = '.';
    do {
      if (at == 0) return std::string(static_cast<size_t>(length), '*');
      text[--at] = static_cast<char>('0' + digits % 10);
      digits /= 10;
    } while (digits > 0);
  } else {
    char buffer[512];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                         std::chars_format::fixed, decimals);
    const auto n = end - buffer;
    if (ec != std::errc() || n > length) return std::string(static_cast<size_t>(length), '*');
    text.assign(static_cast<size_t>(length - n), '0');
    text.append(buffer, static_cast<size_t>(n));
  }
  if (value < 0) {
    for (char& c : text)
      if (c >= '0' && c <= '9') c = static_cast<char>(92 - c);
  }
  return text;
}

double KXobjNTXTag::KeyNumber(std::string_view key) {
  std::string text(key);
  bool negative = false;
  for (char& c : text) {
    if (c >= 35 && c <= 44) {  // the digits of a negative number
      c = static_cast<char>(92 - c);
      negative = true;
    }
  }
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return 0;
  double value = 0;
  const auto result = std::from_chars(text.data() + start, text.data() + text.size(), value);
  if (result.ec != std::errc()) return 0;
  return negative ? -value : value;
}

KXobjNTXTag::~KXobjNTXTag() {
  // Pages are stored through this class's PageStore: free the path while it exists.
  try {
    FreePath();
  } catch (...) {
    // A destructor cannot report; changes were stored when they were made.
  }
}

void KXobjNTXTag::SetLayout(char keyType, int32_t keyLength, int32_t decimals) {
  SetKeyType(keyType);
  SetKeyLength(keyLength);
  decimals_ = decimals;
  entrySize_ = keyLength + 8;
  halfPage_ = (1020 / (entrySize_ + 2) - 1) / 2;
  maxKeys_ = 2 * halfPage_;
}

void KXobjNTXTag::KeyAdjust(TkxVariant& key) {
  KXO_dBaseFld* table = Table();
  const bool translate = ntx_->KeyTranslation() && table && table->KeyTranslation();
  if (KeyType() == 'C' && key.VariantType() == TkxVariant::kText && !translate) {
    // The common case, in place: cut to the key length, trailing blanks removed.
    if (key.Length() > KeyLength()) key.SetLength(KeyLength());
    key.TrimText();
    return;
  }
  std::string text;
  switch (KeyType()) {
    case 'N': {
      double value;
      if (key.VariantType() == TkxVariant::kText) {
        value = Trim(key.AsText()).empty() ? 0.0 : key.AsFloat();
      } else {
        value = key.AsFloat();
      }
      text = NumberKey(value, KeyLength(), decimals_);
      break;
    }
    case 'D': {
      int32_t day = 0;
      if (key.VariantType() == TkxVariant::kText) {
        const std::string given = Trim(key.AsText());
        if (given.size() == 8 && AllDigits(given)) {
          text = given == "00000000" ? std::string() : given;
          break;
        }
        day = given.empty() ? 0 : key.AsDate();
      } else {
        day = key.AsDate();
      }
      text = day > 0 ? GlobalDateConverter().StorageForm(day) : std::string();
      break;
    }
    case 'L': {
      bool value;
      if (key.VariantType() == TkxVariant::kText) {
        value = !key.IsEmpty() && IsTrueChar(key.Data()[0]);
      } else {
        value = key.AsBoolean();
      }
      text.assign(1, value ? 'T' : 'F');
      break;
    }
    default: {
      text = key.AsText();
      if (translate) {
        const uint8_t* map = table->KeyTranslation();
        for (char& c : text) c = static_cast<char>(map[static_cast<uint8_t>(c)]);
      }
      break;
    }
  }
  if (text.size() > static_cast<size_t>(KeyLength())) text.resize(static_cast<size_t>(KeyLength()));
  key.SetText(TrimRight(std::move(text)));
}

void KXobjNTXTag::KeyExprCompile() {
  KXobjIndexTag::KeyExprCompile();
  // STR() of a numeric field takes the field's width, as these files expect.
  if (KeyHandler() && KeyHandler()->UserLink()) KeyHandler()->UserLink()->StrDefaultWidth = -1;
}

bool KXobjNTXTag::KeepEmptyChild(const KXobjIndexKey& node) const {
  // A branch's last child holds the keys above its last stored key; on the rightmost
  // path nothing above stores the key that bounds it, so the child must stay even when
  // it has no key left.
  const KXobjIndexKey* parent = node.Parent();
  if (!parent || parent->IndexOfReference(node.PageNo()) != parent->Count() - 1) return false;
  return OnRightmostPath(*parent);
}

int32_t KXobjNTXTag::DuplicateSearchNumber() const { return kSearchAfterEqual; }

void KXobjNTXTag::MoveBeforeSuccessor(const KXobjIndexKeyData& bound) {
  if (!FindEntry(bound, bound.Reference()) || !PathNext()) return;
  const KXobjIndexKey* next = Leaf();
  const auto successor = next->At(next->CurrentIndex()).Clone();
  if (!FindEntry(bound, bound.Reference())) return;
  KXobjIndexTag::DeleteCurrentKey();  // the leaf empties and leaves its parent
  if (FindEntry(*successor, successor->Reference())) {
    KXobjIndexKey* target = Leaf();
    target->InsertEntry(target->CurrentIndex(), bound);
    CommitPath();
  }
}

void KXobjNTXTag::DeleteCurrentKey() {
  // A leaf left with no key of its own would be an empty page inside the tree, which
  // other programs do not expect. Its one remaining entry is the key its parent stores;
  // that key moves into the next leaf instead, keeping its place in the order.
  KXobjIndexKey* leaf = Leaf();
  std::unique_ptr<KXobjIndexKeyData> bound;
  if (leaf && leaf->Count() == 2 && !OnRightmostPath(*leaf))
    bound = leaf->At(1 - std::clamp(leaf->CurrentIndex(), 0, 1)).Clone();
  KXobjIndexTag::DeleteCurrentKey();
  if (bound) MoveBeforeSuccessor(*bound);

  // The last leaf may have lost its last key while others remain: the greatest key moves
  // into it (and the key before it too when its own leaf would be left empty).
  if (!PathLast()) return;
  KXobjIndexKey* last = Leaf();
  if (!last || OnRightmostPath(*last)) return;
  const auto greatest = last->At(last->CurrentIndex()).Clone();
  std::unique_ptr<KXobjIndexKeyData> before;
  if (last->Count() == 2) before = last->At(0).Clone();
  KXobjIndexTag::DeleteCurrentKey();
  if (KXobjIndexKey* end = PathRightmostLeaf()) {
    end->InsertEntry(end->Count(), *greatest);
    CommitPath();
  }
  if (before) MoveBeforeSuccessor(*before);
}

int KXobjNTXTag::TagCreate(const std::string& name, const std::string& keyExpr,
                           const std::string& forExpr, bool ascending, bool unique) {
  KXobjIndexTag::TagCreate(name, keyExpr, forExpr, ascending, unique);
  KXobjIndexKeyData probe(256);
  bool built = false;
  if (!KeyBuild(probe, built) || !built)
    Damaged("the key expression '" + keyExpr + "' gives no value");
  char type = 'C';
  int32_t length = probe.Length();
  int32_t decimals = 0;
  switch (probe.VariantType()) {
    case TkxVariant::kFloat:
      type = 'N';
      length = KeyHandler()->MaxLength() > 0 ? KeyHandler()->MaxLength() : 10;
      decimals = std::max(0, KeyHandler()->MaxDecimals());
      break;
    case TkxVariant::kDate:
      type = 'D';
      length = 8;
      break;
    case TkxVariant::kBoolean:
      type = 'L';
      length = 1;
      break;
    default:
      break;
  }
  if (length < 1) Damaged("the key expression '" + keyExpr + "' is empty");
  if (length + 1 > TkxSort::kMaxKeyLength) throw ETolvernError(kMsgSortKeyLength);
  SetLayout(type, length, decimals);
  SetDescendingCompare(!ascending);
  header_.assign(kPage, 0);
  ntx_->PageWrite(HeaderPage(), header_.data(), kPage);
  ntx_->SetUpdateCounter(1);
  KXO_dBaseFld* table = Table();
  if (!table || table->RecordCount() == 0) {
    MakeEmpty(ntx_->PageNew());
  } else {
    Build();
  }
  return 0;
}

void KXobjNTXTag::Build() {
  KXO_dBaseFld* table = Table();
  KXobjSortNTX sorter(this, table ? table->Collation() : nullptr, Ascending(), Unique());
  if (ntx_->Disk()) sorter.SetSpillDirectory(platform::DirectoryOf(ntx_->Disk()->FileName()));
  if (table) sorter.ReserveKeys(static_cast<size_t>(table->RecordCount()));
  ScanTable(sorter, true);
  WriteBatch batch(ntx_);
  sorter.WriteKeys();
  int32_t root = sorter.Finish();
  if (root == 0) {
    root = ntx_->PageNew();
    WritePage(root, {}, 0, 0, false);
  }
  batch.Close();
  SetRootPage(root);
  MarkHeaderChanged();
  TagStore();
}

void KXobjNTXTag::MakeEmpty(int32_t rootOffset) {
  WritePage(rootOffset, {}, 0, 0, false);
  SetRootPage(rootOffset);
  MarkHeaderChanged();
  TagStore();
}

int32_t KXobjNTXTag::RootPage() {
  uint8_t head[8];
  if (!ntx_->PageRead(HeaderPage(), head, sizeof head)) Damaged("the header cannot be read");
  const int32_t root = ByteReader(head, sizeof head).I32LE(4);
  SetRootPage(root);
  return root;
}

void KXobjNTXTag::TagLoad() {
  header_.assign(kPage, 0);
  if (!ntx_->PageRead(HeaderPage(), header_.data(), kPage)) Damaged("the header cannot be read");
  const ByteReader head(header_.data(), header_.size());
  const uint16_t signature = head.U16LE(0);
  if (signature != kSignature && signature != kSignatureFor && signature != kSignatureOld)
    Damaged("unknown signature " + std::to_string(signature));
  ntx_->SetUpdateCounter(head.U16LE(2));
  SetRootPage(head.I32LE(4));
  const int32_t entrySize = head.U16LE(12);
  const int32_t keyLength = head.U16LE(14);
  const int32_t decimals = head.U16LE(16);
  const int32_t maxKeys = head.U16LE(18);
  const int32_t halfPage = head.U16LE(20);
  const std::string keyText = head.Text(kExpressionAt, kFieldRoom);
  const bool hasFor = signature == kSignatureFor;
  std::string forText;
  if (hasFor) {
    forText = head.Text(kForAt, kFieldRoom);
    forText = forText.substr(0, forText.find('\0'));
  }
  SetExpressions(keyText.substr(0, keyText.find('\0')), forText);
  const bool descending = head.U8(kDescendingAt) != 0 || head.U8(kOldDescendingAt) == 1;
  SetFlags(!descending, (head.U8(kUniqueAt) & 0x01) != 0);
  SetDescendingCompare(descending);

  // Reading needs each entry (8 bytes and the key) inside a page and the offset table of
  // max + 1 entries after the count.
  if (keyLength < 1 || keyLength > kPage - 16 || maxKeys < 1 || 2 + 2 * (maxKeys + 1) > kPage) {
    Damaged("the header holds an impossible layout (key length " + std::to_string(keyLength) +
            ", " + std::to_string(maxKeys) + " keys per page)");
  }
  SetKeyLength(keyLength);
  decimals_ = decimals;
  entrySize_ = entrySize;
  maxKeys_ = maxKeys;
  halfPage_ = halfPage;

  TkxVariant probe;
  std::string error;
  char type = 'C';
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
        break;
    }
  } else {
    SetReadOnlyReason(error);
  }
  SetKeyType(type);
  if (hasFor) {
    try {
      ForExprCompile();
    } catch (const std::exception& e) {
      SetReadOnlyReason("FOR condition '" + forText + "': " + e.what());
    }
  }
  // Pages are rewritten in the fresh layout; it must fit.
  if (entrySize_ != keyLength + 8 || maxKeys_ < 2 ||
      (maxKeys_ + 2) * 2 + (maxKeys_ + 1) * entrySize_ > kPage) {
    SetReadOnlyReason("the page layout cannot be rewritten");
  }
  SetHeaderChanged(false);
}

void KXobjNTXTag::TagStore() {
  if (!HeaderChanged()) return;
  if (header_.size() != static_cast<size_t>(kPage)) header_.assign(kPage, 0);
  ByteWriter head(header_.data(), header_.size());
  const uint16_t old = static_cast<uint16_t>(header_[0] | (header_[1] << 8));
  head.U16LE(0, HasFor() ? kSignatureFor : (old == kSignatureOld ? kSignatureOld : kSignature));
  head.U16LE(2, ntx_->UpdateCounter());
  head.I32LE(4, CachedRootPage());
  head.U16LE(12, static_cast<uint16_t>(entrySize_));
  head.U16LE(14, static_cast<uint16_t>(KeyLength()));
  head.U16LE(16, static_cast<uint16_t>(decimals_));
  head.U16LE(18, static_cast<uint16_t>(maxKeys_));
  head.U16LE(20, static_cast<uint16_t>(halfPage_));
  PutField(header_, kExpressionAt, kFieldRoom, KeyExprText());
  head.U8(kUniqueAt, static_cast<uint8_t>((header_[kUniqueAt] & ~0x01) | (Unique() ? 1 : 0)));
  head.U8(kDescendingAt, DescendingCompare() ? 1 : 0);
  if (HasFor()) PutField(header_, kForAt, kFieldRoom, ForExprText());
  ntx_->PageWrite(HeaderPage(), header_.data(), kPage);
  SetHeaderChanged(false);
}

int KXobjNTXTag::PageLoad(int32_t offset, KXobjIndexKey& node) {
  std::vector<uint8_t> buffer(static_cast<size_t>(kPage), 0);
  if (!ntx_->PageRead(offset, buffer.data(), kPage))
    Damaged("the page at " + std::to_string(offset) + " cannot be read");
  const ByteReader reader(buffer.data(), buffer.size());
  const int count = reader.U16LE(0);
  if (count > maxKeys_)
    Damaged("the page at " + std::to_string(offset) + " holds " + std::to_string(count) + " keys");
  const size_t keyLength = static_cast<size_t>(KeyLength());
  auto entryAt = [&](int i) {
    const size_t at = reader.U16LE(2 + 2 * static_cast<size_t>(i));
    if (at < 2 || at + 8 + keyLength > static_cast<size_t>(kPage))
      Damaged("the page at " + std::to_string(offset) + " has an entry outside it");
    return at;
  };
  // A page without keys written zero-filled (no offset table) is an empty leaf.
  const size_t firstAt = reader.U16LE(2);
  if (count == 0 && (firstAt < 2 || firstAt + 8 > static_cast<size_t>(kPage))) {
    node.SetKind(KXobjIndexKey::kLeafKind);
    return 0;
  }
  const bool branch = reader.U32LE(entryAt(0)) != 0;
  node.SetKind(branch ? KXobjIndexKey::kBranchKind : KXobjIndexKey::kLeafKind);
  for (int i = 0; i < count; ++i) {
    const size_t at = entryAt(i);
    // Some writers pad keys with NUL bytes instead of blanks.
    const std::span<const uint8_t> bytes = reader.Bytes(at + 8, keyLength);
    const char* key = reinterpret_cast<const char*>(bytes.data());
    size_t length = bytes.size();
    while (length > 0 && (key[length - 1] == ' ' || key[length - 1] == '\0')) --length;
    auto entry = std::make_unique<KXobjIndexKeyData>(static_cast<int32_t>(length));
    entry->SetText(std::string_view(key, length));
    entry->SetKeyRecNo(reader.I32LE(at + 4));
    entry->SetReference(branch ? reader.I32LE(at) : reader.I32LE(at + 4));
    node.Append(std::move(entry));
  }
  // Complete the page: every key at leaf level, every branch entry the last key of its
  // child.
  const KXobjIndexKey* parent = node.Parent();
  const KXobjIndexKeyData* bound = nullptr;
  if (parent) {
    const int at = parent->IndexOfReference(offset);
    if (at >= 0) bound = &parent->At(at);
  }
  if (branch) {
    auto last = std::make_unique<KXobjIndexKeyData>();
    if (bound) {
      *last = *bound;
    } else {
      last->SetText("\xFF");
    }
    last->SetReference(reader.I32LE(entryAt(count)));
    node.Append(std::move(last));
  } else if (bound && !OnRightmostPath(node)) {
    auto separator = std::make_unique<KXobjIndexKeyData>(*bound);
    separator->SetReference(bound->KeyRecNo());
    node.Append(std::move(separator));
  }
  return 0;
}

void KXobjNTXTag::WritePage(int32_t offset, const std::vector<KXobjPageEntry>& entries,
                            size_t begin, size_t stored, bool branch) {
  page_.assign(static_cast<size_t>(kPage), 0);
  ByteWriter writer(page_.data(), page_.size());
  const size_t first = static_cast<size_t>(maxKeys_ + 2) * 2;
  const size_t size = static_cast<size_t>(entrySize_);
  writer.U16LE(0, static_cast<uint16_t>(stored));
  for (size_t i = 0; i <= static_cast<size_t>(maxKeys_); ++i)
    writer.U16LE(2 + 2 * i, static_cast<uint16_t>(first + i * size));
  const size_t keyLength = static_cast<size_t>(KeyLength());
  for (size_t i = 0; i < stored; ++i) {
    const KXobjPageEntry& entry = entries[begin + i];
    const size_t at = first + i * size;
    writer.I32LE(at, branch ? entry.reference : 0);
    writer.I32LE(at + 4, branch ? entry.recno : entry.reference);
    const size_t length = std::min(entry.key.size(), keyLength);
    writer.Bytes(at + 8, entry.key.data(), length);
    writer.Fill(at + 8 + length, ' ', keyLength - length);
  }
  if (branch) writer.I32LE(first + stored * size, entries[begin + stored].reference);
  ntx_->PageWrite(offset, page_.data(), kPage);
}

int KXobjNTXTag::PageStore(int32_t offset, KXobjIndexKey& node) {
  const int count = node.Count();
  if (count == 0) {
    node.SetKind(KXobjIndexKey::kLeafKind);
    WritePage(offset, {}, 0, 0, false);
    return 0;
  }
  const bool branch = node.IsBranch();
  const bool rightmost = OnRightmostPath(node);
  std::vector<KXobjPageEntry> entries(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const KXobjIndexKeyData& key = node.At(i);
    std::string text(reinterpret_cast<const char*>(key.Data()),
                     static_cast<size_t>(std::max(0, key.Length())));
    if (key.VariantType() != TkxVariant::kText) text.clear();
    entries[static_cast<size_t>(i)] = KXobjPageEntry{text, key.Reference(), key.KeyRecNo()};
  }
  // A page holds maxKeys_ keys; a branch one more child pointer and a leaf inside the tree
  // one more entry, the separator its parent stores.
  const int limit = branch || !rightmost ? maxKeys_ + 1 : maxKeys_;
  const std::vector<int> sizes = SplitSizes(count, limit);
  size_t begin = 0;
  for (size_t part = 0; part + 1 < sizes.size(); ++part) {
    // The part's last entry goes up as the separator of the new page.
    const size_t size = static_cast<size_t>(sizes[part]);
    const int32_t newOffset = ntx_->PageNew();
    WritePage(newOffset, entries, begin, size - 1, branch);
    auto separator = node.At(static_cast<int>(begin + size - 1)).Clone();
    separator->SetReference(newOffset);
    SplitLink(node, *separator);
    begin += size;
  }
  const size_t rest = static_cast<size_t>(count) - begin;
  // A branch's last entry and a leaf's separator (held by the parent) are not keys here.
  const size_t stored = branch || !rightmost ? rest - 1 : rest;
  WritePage(offset, entries, begin, stored, branch);
  if (node.Kind() == KXobjIndexKey::kNewRootKind) node.SetKind(KXobjIndexKey::kBranchKind);
  return 0;
}

// =======================================================================================
// KXobjNTXFile

KXobjNTXFile::KXobjNTXFile(KXO_dBaseFld* table, const std::string& name, bool create,
                           bool overwrite, bool readWrite, bool shared)
    : KXobjIndexFile(table) {
  AttachDiskFile(name, ".ntx", create, overwrite, readWrite, shared);
  if (!Opened()) return;
  if (create && (overwrite || Disk()->FileSize() == 0)) {
    SetNextFreePage(0);
    updateCounter_ = 1;
    return;
  }
  auto* tag = static_cast<KXobjNTXTag*>(
      AddTag(std::make_unique<KXobjNTXTag>(this, NameWithoutExtension(FileName()), 0)));
  PageCount();
  tag->TagLoad();
}

KXobjNTXFile::~KXobjNTXFile() {
  // The tags store through this class's page addressing: free them while it exists.
  try {
    FreeTags();
  } catch (...) {
    // A destructor cannot report; changes were stored when they were made.
  }
}

int KXobjNTXFile::TagAdd(const std::string& name, const std::string& keyExpr,
                         const std::string& forExpr, bool ascending, bool unique) {
  if (!Opened()) return 0;
  WholeFileLock lock(Disk());
  FreeTags();
  if (Disk()->FileSize() > 0) Disk()->TruncateAt(0);
  SetNextFreePage(0);
  updateCounter_ = 1;
  auto* tag = static_cast<KXobjNTXTag*>(AddTag(std::make_unique<KXobjNTXTag>(
      this, name.empty() ? NameWithoutExtension(FileName()) : name, PageNew())));
  tag->MarkHeaderChanged();
  return tag->TagCreate(name, keyExpr, forExpr, ascending, unique);
}

int32_t KXobjNTXFile::PageCount() {
  const int64_t size = Disk() ? std::max<int64_t>(Disk()->FileSize(), 0) : 0;
  const int64_t rounded = (size + kPage - 1) / kPage * kPage;
  SetNextFreePage(static_cast<int32_t>(std::min<int64_t>(rounded, INT32_MAX - kPage)));
  return NextFreePage();
}

int32_t KXobjNTXFile::PageNew() {
  if (NextFreePage() < 0) PageCount();
  const int32_t offset = NextFreePage();
  if (offset > INT32_MAX - 2 * kPage) {
    FileError(kErrIndexDamaged, SubIndexTag, (FileName() + ": the index file is full").c_str());
    throw ETolvernError(FileName() + ": the index file is full");
  }
  SetNextFreePage(offset + kPage);
  return offset;
}

bool KXobjNTXFile::ValidNodePage(int32_t offset) {
  if (NextFreePage() < 0) PageCount();
  return offset >= kPage && offset <= NextFreePage() - kPage;
}

bool KXobjNTXFile::KeyUpdateAll(int32_t recno, bool append) {
  if (KXobjNTXTag* tag = Tag()) {
    tag->RequireMaintainable();
    updateCounter_ = static_cast<uint16_t>((updateCounter_ == 0x7FFF ? 0 : updateCounter_) + 1);
    tag->MarkHeaderChanged();
    tag->TagStore();
  }
  return KXobjIndexFile::KeyUpdateAll(recno, append);
}

bool KXobjNTXFile::ExternalChange() {
  if (!Disk() || !Disk()->Shared()) return false;
  uint8_t head[4];
  if (!PageRead(0, head, sizeof head)) return false;
  return ByteReader(head, sizeof head).U16LE(2) != updateCounter_;
}

void KXobjNTXFile::Zap() {
  KXobjNTXTag* tag = Tag();
  if (!tag || !Disk()) return;
  tag->RequireMaintainable();
  WholeFileLock lock(Disk());
  tag->FreePath();
  Disk()->TruncateAt(2 * kPage);
  SetNextFreePage(2 * kPage);
  updateCounter_ = 1;
  tag->MakeEmpty(kPage);
}

void KXobjNTXFile::Reindex() {
  KXobjNTXTag* tag = Tag();
  if (!tag || !Disk()) return;
  Zap();
  const std::string name = tag->TagName(), keyExpr = tag->KeyExprText(),
                    forExpr = tag->ForExprText();
  const bool ascending = tag->Ascending(), unique = tag->Unique();
  WholeFileLock lock(Disk());
  SetNextFreePage(kPage);
  tag->TagCreate(name, keyExpr, forExpr, ascending, unique);
}

}  // namespace tolvern
