#include "kx6_cdx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "kx6_bytes.h"
#include "kx6_cnst.h"
#include "kx6_fld.h"
#include "kx6_sql.h"
#include "kx6_tool.h"

namespace tolvern {

namespace {

constexpr int32_t kPage = kCdxPageSize;
constexpr int32_t kFirstNodePage = 2 * kCdxPageSize;  // after the directory header
constexpr int32_t kEmptyFileSize = kCdxHeaderSize + kCdxPageSize;
// More keys than pages can hold means a walk that repeats itself (a damaged tree).
constexpr int64_t kMaxKeysPerPage = kCdxLeafArea / 2;

std::string PageText(int64_t page) { return "the page at " + std::to_string(page); }

// Field types whose values other programs may key in a form of their own: integers,
// currency, date-times and binary doubles, variable-length text.
bool KeyedInAFormOfItsOwn(char type, bool numeric) {
  return numeric ? (type == 'I' || type == 'Y' || type == 'T' || type == 'B')
                 : (type == 'V' || type == 'Q' || type == 'W');
}

}  // namespace

// =======================================================================================
// KXobjCDXTag

KXobjCDXTag::KXobjCDXTag(KXobjCDXFile* file, int32_t headerOffset, const std::string& name,
                         bool isNew, bool directory)
    : KXobjIndexTag(file, UpperCase(name), headerOffset),
      cdx_(file),
      headerOffset_(headerOffset),
      directory_(directory),
      new_(isNew) {
  SetKindMarker(kTagKindCdx);
  if (isNew) {
    MarkHeaderChanged();
  } else {
    TagLoad();
  }
}

KXobjCDXTag::~KXobjCDXTag() {
  // Changed pages are stored while the tag is whole; a destructor cannot report.
  try {
    FreePath();
  } catch (...) {
  }
}

CdxKeyForm KXobjCDXTag::KeyForm() const {
  CdxKeyForm form;
  form.keyLength = KeyLength();
  const bool character = keyKind_ == KeyKind::Character || keyKind_ == KeyKind::Unknown;
  form.pad = character ? ' ' : 0;
  form.general = character && !directory_ && collation_ == CdxCollation::General;
  return form;
}

void KXobjCDXTag::Refuse(const std::string& what) const {
  const std::string info = cdx_->FileName() + " tag " + TagName() + ": " + what;
  cdx_->FileError(kErrIndexDamaged, SubIndexTag, info.c_str());
  throw ETolvernError(EngineErrorMessage(kErrIndexDamaged, SubIndexTag, info.c_str()));
}

void KXobjCDXTag::SetUnmaintainable(const std::string& why) {
  if (Maintainable()) SetReadOnlyReason(why);
}

// --- key forms ---------------------------------------------------------------------------

void KXobjCDXTag::KeyAdjust(TkxVariant& key) {
  if (!directory_ && !Maintainable()) Refuse("cannot be searched (" + ReadOnlyReason() + ")");
  if (key.VariantType() == TkxVariant::kNone) return;
  switch (keyKind_) {
    case KeyKind::Number:
    case KeyKind::Date: {
      if (key.VariantType() == TkxVariant::kBytes) return;  // already the stored form
      double value = 0;
      if (keyKind_ == KeyKind::Date) {
        // Day numbers; a number stands for a day number, text for a date.
        const int32_t day = key.VariantType() == TkxVariant::kFloat
                                ? static_cast<int32_t>(key.AsFloat())
                                : key.AsDate();
        value = day > 0 ? static_cast<double>(day) : 0.0;
      } else {
        value = key.VariantType() == TkxVariant::kDate ? static_cast<double>(key.AsDate())
                                                       : key.AsFloat();
      }
      const std::string stored = CdxNumberKey(value);
      key.SetBytes(stored.data(), static_cast<int32_t>(stored.size()));
      return;
    }
    case KeyKind::Character:
    case KeyKind::Unknown: {
      if (key.VariantType() == TkxVariant::kBytes) return;
      if (key.VariantType() == TkxVariant::kText &&
          (directory_ || collation_ != CdxCollation::General)) {
        // The common case, without copying: trailing blanks off, cut to the key length.
        key.TrimText();
        if (KeyLength() > 0 && key.Length() > KeyLength()) key.SetLength(KeyLength());
        return;
      }
      std::string text = key.VariantType() == TkxVariant::kText
                             ? std::string(reinterpret_cast<const char*>(key.Data()),
                                           static_cast<size_t>(key.Length()))
                             : key.AsText();
      while (!text.empty() && text.back() == ' ') text.pop_back();
      if (!directory_ && collation_ == CdxCollation::General && !text.empty())
        text = CdxGeneralKey(text);
      if (KeyLength() > 0 && text.size() > static_cast<size_t>(KeyLength()))
        text.resize(static_cast<size_t>(KeyLength()));
      key.SetText(text);
      return;
    }
  }
}

void KXobjCDXTag::KeyValue(const TkxVariant& stored, TkxVariant& value) const {
  const std::string bytes(reinterpret_cast<const char*>(stored.Data()),
                          static_cast<size_t>(stored.IsEmpty() ? 0 : stored.Length()));
  switch (exactForm_ ? keyKind_ : KeyKind::Unknown) {
    case KeyKind::Number:
      value.SetFloat(CdxKeyNumber(bytes));
      return;
    case KeyKind::Date:
      value.SetDate(static_cast<int32_t>(CdxKeyNumber(bytes)));
      return;
    case KeyKind::Character:
      if (collation_ == CdxCollation::Machine || directory_) {
        value.SetText(bytes);
        return;
      }
      break;
    case KeyKind::Unknown:
      break;
  }
  value.SetBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
}

bool KXobjCDXTag::KeyBuild(KXobjIndexKeyData& key, bool& built) {
  if (!directory_ && !Maintainable()) {
    // Positioning by the current record is a seek; such a tag is only walked.
    built = false;
    return false;
  }
  return KXobjIndexTag::KeyBuild(key, built);
}

bool KXobjCDXTag::KeyAdd(KXobjIndexKeyData& key) {
  const int32_t saved = key.KeyRecNo();
  key.SetKeyRecNo(key.Reference());
  bool added = false;
  try {
    added = KXobjIndexTag::KeyAdd(key);
  } catch (...) {
    key.SetKeyRecNo(saved);
    throw;
  }
  key.SetKeyRecNo(saved);
  return added;
}

bool KXobjCDXTag::KeepEmptyChild(const KXobjIndexKey&) const { return true; }

// --- header ------------------------------------------------------------------------------

bool KXobjCDXTag::LearnKey(bool fromHeader, std::string& why) {
  KXO_dBaseFld* table = Table();
  if (!table) {
    why = "there is no table to evaluate the key expression";
    return false;
  }
  TkxVariant value;
  if (!ProbeKey(value, why)) return false;
  int32_t length = 0;
  switch (value.VariantType()) {
    case TkxVariant::kText:
      keyKind_ = KeyKind::Character;
      length = std::max<int32_t>(value.Length(), 1);
      if (collation_ == CdxCollation::General) length *= 2;
      break;
    case TkxVariant::kBoolean:
      keyKind_ = KeyKind::Character;
      length = collation_ == CdxCollation::General ? 2 : 1;
      break;
    case TkxVariant::kFloat:
      keyKind_ = KeyKind::Number;
      length = 8;
      break;
    case TkxVariant::kDate:
      keyKind_ = KeyKind::Date;
      length = 8;
      break;
    default:
      why = "the key expression gives no character, numeric, date or logical value";
      return false;
  }
  SetKeyType(keyKind_ == KeyKind::Number ? 'N' : (keyKind_ == KeyKind::Date ? 'D' : 'C'));
  if (!fromHeader) {
    SetKeyLength(std::min<int32_t>(length, kCdxMaxKeyLength + 1));
    return true;
  }
  // An existing tag: its keys must be the ones this engine would store.
  const bool character = keyKind_ == KeyKind::Character;
  if (character && length > KeyLength()) {
    why = "its keys are " + std::to_string(KeyLength()) + " bytes long, the key expression gives " +
          std::to_string(length);
    return false;
  }
  if (!character && KeyLength() != 8) {
    why = "its " + std::to_string(KeyLength()) + "-byte keys are not stored as numbers";
    return false;
  }
  if (KeyHandler()) {
    const std::string names = KeyHandler()->ListVars(TkxUserDefFieldVar::kTableField);
    for (const DbfFieldInfo& field : table->Fields()) {
      const std::string wanted = UpperCase(TrimRight(field.name)) + ";";
      const size_t at = names.find(wanted);
      const bool listed = at != std::string::npos && (at == 0 || names[at - 1] == ';');
      if (listed && KeyedInAFormOfItsOwn(field.type, !character)) {
        why = "its keys over the " + std::string(1, field.type) + " field " + field.name +
              " are stored in a form of their own";
        return false;
      }
    }
  }
  return true;
}

void KXobjCDXTag::TagLoad() {
  loadError_.clear();
  std::array<uint8_t, kCdxHeaderSize> bytes{};
  std::string why;
  if (headerOffset_ < 0 || !cdx_->PageRead(headerOffset_, bytes.data(), kCdxHeaderSize)) {
    loadError_ = "the tag header at " + std::to_string(headerOffset_) + " cannot be read";
    return;
  }
  if (!ParseCdxHeader(bytes, header_, why)) {
    loadError_ = "the tag header at " + std::to_string(headerOffset_) + ": " + why;
    return;
  }
  const int64_t size = cdx_->Disk() ? cdx_->Disk()->FileSize() : 0;
  const bool rootFits =
      header_.root != 0 && header_.root % kPage == 0 && int64_t{header_.root} + kPage <= size;
  if (!rootFits && (directory_ || !IndexDefinitionsOpen::Active())) {
    loadError_ = "the root page " + std::to_string(header_.root) + " of tag " + TagName() +
                 " lies outside the file";
    return;
  }
  if (header_.keyLength < 1 || header_.keyLength > kCdxMaxKeyLength) {
    loadError_ =
        "tag " + TagName() + " has keys of " + std::to_string(header_.keyLength) + " bytes";
    return;
  }
  if (!directory_ && header_.keyExpression.empty()) {
    loadError_ = "tag " + TagName() + " has no key expression";
    return;
  }
  SetRootPage(static_cast<int32_t>(header_.root));
  SetKeyLength(header_.keyLength);
  const bool unique = (header_.options & (kCdxOptUnique | kCdxOptCandidate)) != 0;
  candidate_ = (header_.options & kCdxOptCandidate) != 0;
  SetFlags(!header_.descending, unique);
  SetReverseWalk(header_.descending);
  SetExpressions(header_.keyExpression, header_.forExpression);
  collation_ = directory_ ? CdxCollation::Machine : header_.Collation();
  SetHeaderChanged(false);
  keyKind_ = KeyKind::Character;
  SetKeyType('C');
  textValues_ = true;
  exactForm_ = true;
  if (directory_) return;

  if (header_.signature == kCdxSignatureBinary) {
    SetUnmaintainable("it is a binary index");
  } else if (header_.options & kCdxOptNullable) {
    SetUnmaintainable("its keys are over a nullable column");
  } else if (collation_ == CdxCollation::Other) {
    SetUnmaintainable("it uses the " + header_.collationName + " collation");
  }
  std::string reason;
  bool known = false;
  try {
    KeyExprCompile();
    ForExprCompile();
    known = LearnKey(true, reason);
  } catch (const std::exception& e) {
    reason = std::string("its expressions cannot be compiled: ") + e.what();
  }
  if (!known) {
    // The key bytes can still be walked; what they mean is unknown.
    if (keyKind_ != KeyKind::Number && keyKind_ != KeyKind::Date) keyKind_ = KeyKind::Unknown;
    SetUnmaintainable(reason);
  }
  if (keyKind_ == KeyKind::Unknown && !KeyHandler()) SetKeyType('C');
  // Keys this engine would not store the same way are handed out as their bytes.
  exactForm_ = Maintainable();
  textValues_ = exactForm_ && keyKind_ == KeyKind::Character;
}

void KXobjCDXTag::TagStore() {
  if (!HeaderChanged()) return;
  std::array<uint8_t, kCdxHeaderSize> out{};
  if (new_) {
    header_.root = static_cast<uint32_t>(CachedRootPage());
    if (!StoreCdxHeader(header_, out))
      cdx_->Fail(kErrCdxTagRefused, "the expressions of tag " + TagName() + " are too long");
  } else {
    // A header another program wrote: only the root, the free list and the change counter
    // move.
    header_.root = static_cast<uint32_t>(CachedRootPage());
    ByteWriter w(header_.image.data(), header_.image.size());
    w.U32LE(0, header_.root);
    w.U32LE(4, header_.freeList);
    w.U32BE(8, header_.changeCounter);
    out = header_.image;
  }
  WritePage(headerOffset_, out);
  SetHeaderChanged(false);
}

int32_t KXobjCDXTag::RootPage() {
  KXO_DiskFile* disk = cdx_->Disk();
  if (disk && disk->Shared() && !HeaderChanged()) {
    // Another program may have moved the root.
    std::array<uint8_t, 4> root{};
    if (cdx_->PageRead(headerOffset_, root.data(), 4)) {
      const uint32_t page = ByteReader(root.data(), root.size()).U32LE(0);
      header_.root = page;
      SetRootPage(static_cast<int32_t>(page));
    }
  }
  return CachedRootPage();
}

// --- creation and build ------------------------------------------------------------------

int KXobjCDXTag::TagCreate(const std::string& name, const std::string& keyExpr,
                           const std::string& forExpr, bool ascending, bool unique) {
  KXobjIndexTag::TagCreate(name, keyExpr, forExpr, ascending, unique);
  SetReverseWalk(!ascending);
  if (directory_) {
    collation_ = CdxCollation::Machine;
    keyKind_ = KeyKind::Character;
    SetKeyType('C');
    SetKeyLength(kCdxDirectoryKeyLength);
  } else {
    std::string why;
    if (!LearnKey(false, why)) return 0;
    if (KeyLength() > kCdxMaxKeyLength)
      RaiseEngineError(kErrCdxTagRefused, SubIndexTag, kMsgSortKeyLength);
  }
  textValues_ = keyKind_ == KeyKind::Character;
  header_ = CdxHeader();
  header_.keyLength = static_cast<uint16_t>(KeyLength());
  header_.options = directory_
                        ? static_cast<uint8_t>(kCdxOptCompact | kCdxOptCompound | kCdxOptDirectory)
                        : static_cast<uint8_t>(kCdxOptCompact | kCdxOptCompound);
  if (unique) header_.options |= candidate_ ? kCdxOptCandidate : kCdxOptUnique;
  if (HasFor()) header_.options |= kCdxOptFor;
  const bool general =
      !directory_ && collation_ == CdxCollation::General && keyKind_ == KeyKind::Character;
  if (!general && collation_ == CdxCollation::General) collation_ = CdxCollation::Machine;
  header_.signature = general ? kCdxSignatureCollated : kCdxSignatureMachine;
  header_.collationName = general ? "GENERAL" : "";
  header_.descending = !ascending;
  header_.keyExpression = Trim(keyExpr);
  header_.forExpression = HasFor() ? Trim(forExpr) : std::string();
  new_ = true;
  const std::array<uint8_t, kCdxHeaderSize> zeros{};
  WritePage(headerOffset_, zeros);
  Build();
  SetHeaderChanged(true);
  TagStore();
  return 1;
}

void KXobjCDXTag::Build() {
  KXO_dBaseFld* table = directory_ ? nullptr : Table();
  // Collation weights are ordered as bytes.
  const bool weights = collation_ == CdxCollation::General;
  KXobjSortCDX sorter(this, table && !weights ? table->Collation() : nullptr, Unique());
  if (table) {
    const int32_t count = table->RecordCount();
    TkxProgressScope progress(table->Progress(), kStatusIndexRead, count);
    KXobjIndexKeyData key(256);
    for (int32_t recno = 1; recno <= count; ++recno) {
      // Straight from the file, deleted records included, whatever the table's order.
      table->KXO_dBaseFld::GetRecord(recno);
      if (table->Eof() || table->CurrentRecord() != recno) break;
      if (!HasFor() || ForTest()) {
        bool built = false;
        if (!KXobjIndexTag::KeyBuild(key, built) || !built)
          cdx_->Fail(kErrIndexDamaged, "the key expression of tag " + TagName() +
                                           " gives no value for record " + std::to_string(recno));
        KeyAdjust(key);
        sorter.InsertKey(key, recno);
      }
      if (ProgressDue(recno, count)) progress.Step(recno);
    }
  }
  SetRootPage(sorter.WriteKeys());
}

// --- pages -------------------------------------------------------------------------------

void KXobjCDXTag::WritePage(int32_t page, std::span<const uint8_t> bytes) {
  if (!cdx_->PageWrite(page, bytes.data(), static_cast<int32_t>(bytes.size())))
    cdx_->Fail(kErrIndexDamaged, PageText(page) + " cannot be written");
}

int KXobjCDXTag::PageLoad(int32_t page, KXobjIndexKey& node) {
  if (!directory_ && header_.signature == kCdxSignatureBinary)
    Refuse("is a binary index, whose pages this program cannot read");
  std::array<uint8_t, kPage> bytes{};
  if (!cdx_->PageRead(page, bytes.data(), kPage)) Damaged(PageText(page) + " cannot be read");
  const CdxKeyForm form = KeyForm();
  CdxPageHead head = ReadCdxPageHead(bytes);
  std::string why;
  const bool leaf = head.IsLeaf();
  node.SetKind(leaf ? KXobjIndexKey::kLeafKind : KXobjIndexKey::kBranchKind);
  const bool text = textValues_;
  auto append = [&node, text, leaf](std::string_view key, uint32_t record, uint32_t child) {
    auto data = std::make_unique<KXobjIndexKeyData>();
    if (text) {
      data->SetText(key.data(), static_cast<int32_t>(key.size()));
    } else {
      data->SetBytes(key.data(), static_cast<int32_t>(key.size()));
    }
    data->SetKeyRecNo(static_cast<int32_t>(record));
    data->SetReference(static_cast<int32_t>(leaf ? record : child));
    node.Append(std::move(data));
  };
  CdxLeafParams params;
  const bool decoded = leaf ? VisitCdxLeaf(bytes, form, head, params, append, why)
                            : VisitCdxBranch(bytes, form, head, append, why);
  if (!decoded) Damaged(PageText(page) + " of tag " + TagName() + ": " + why);
  return 1;
}

void KXobjCDXTag::ReadSiblings(int32_t page, uint32_t& left, uint32_t& right) {
  left = right = kCdxNoPage;
  std::array<uint8_t, 12> head{};
  if (!cdx_->PageRead(page, head.data(), static_cast<int32_t>(head.size()))) return;
  ByteReader r(head.data(), head.size());
  left = r.U32LE(4);
  right = r.U32LE(8);
}

void KXobjCDXTag::SetSibling(uint32_t page, bool right, uint32_t sibling) {
  if (page == kCdxNoPage || page > INT32_MAX || !cdx_->ValidNodePage(static_cast<int32_t>(page)))
    return;
  std::array<uint8_t, 4> bytes{};
  ByteWriter(bytes.data(), bytes.size()).U32LE(0, sibling);
  const int32_t at = static_cast<int32_t>(page) + (right ? 8 : 4);
  if (!cdx_->PageWrite(at, bytes.data(), 4))
    cdx_->Fail(kErrIndexDamaged, PageText(page) + " cannot be written");
}

uint32_t KXobjCDXTag::HighestRecord(const std::vector<CdxEntry>& entries) const {
  uint32_t highest = 0;
  if (directory_) {
    const int32_t next = cdx_->NextFreePage() >= 0 ? cdx_->NextFreePage() : cdx_->PageCount();
    highest = static_cast<uint32_t>(std::max(next, 0));
  } else if (const KXO_dBaseFld* table = Table()) {
    highest = static_cast<uint32_t>(std::max(table->RecordCount(), 0));
  }
  for (const CdxEntry& e : entries) highest = std::max(highest, e.record);
  return std::min<uint32_t>(highest, 0x7FFFFFFF);
}

int KXobjCDXTag::PageStore(int32_t page, KXobjIndexKey& node) {
  RequireMaintainable();
  const bool root = node.Parent() == nullptr;
  uint32_t left = kCdxNoPage, right = kCdxNoPage;
  if (!root) ReadSiblings(page, left, right);
  const int count = node.Count();
  if (count == 0 && !root) {
    UnlinkEmpty(page, node, left, right);
    return 1;
  }
  std::vector<CdxEntry> entries(static_cast<size_t>(count));
  const bool leaf = node.IsLeaf() || count == 0;
  for (int i = 0; i < count; ++i) {
    const KXobjIndexKeyData& data = node.At(i);
    CdxEntry& e = entries[static_cast<size_t>(i)];
    if (!data.IsEmpty())
      e.key.assign(reinterpret_cast<const char*>(data.Data()), static_cast<size_t>(data.Length()));
    if (e.key.size() > static_cast<size_t>(KeyLength()))
      e.key.resize(static_cast<size_t>(KeyLength()));
    e.record = static_cast<uint32_t>(leaf ? data.Reference() : data.KeyRecNo());
    e.child = leaf ? 0 : static_cast<uint32_t>(data.Reference());
  }
  if (leaf) {
    StoreLeaf(page, node, entries, left, right);
  } else {
    StoreBranch(page, node, entries, left, right);
  }
  return 1;
}

void KXobjCDXTag::UnlinkEmpty(int32_t page, KXobjIndexKey& node, uint32_t left, uint32_t right) {
  SetSibling(left, true, right);
  SetSibling(right, false, left);
  // The page itself is dead space now; leave it as an empty leaf linked to nothing.
  CdxLeafWriter empty(KeyForm(), CdxLeafParamsFor(KeyLength(), 0));
  empty.Start(kCdxAttrLeaf, kCdxNoPage, kCdxNoPage);
  WritePage(page, empty.Page());
  KXobjIndexKey* parent = node.Parent();
  const int at = parent->IndexOfReference(page);
  if (at >= 0) {
    parent->SetCurrentIndex(at);
    parent->DeleteCurrent();
  }
}

void KXobjCDXTag::StoreLeaf(int32_t page, KXobjIndexKey& node, const std::vector<CdxEntry>& entries,
                            uint32_t left, uint32_t right) {
  const CdxKeyForm form = KeyForm();
  const CdxLeafParams params = CdxLeafParamsFor(KeyLength(), HighestRecord(entries));
  const std::vector<size_t> parts = PlanCdxLeafSplit(entries, form, params);
  std::vector<int32_t> pages;
  for (size_t i = 0; i + 1 < parts.size(); ++i) pages.push_back(cdx_->PageNew());
  std::array<uint8_t, kPage> bytes{};
  size_t start = 0;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    CdxPageHead head;
    head.attributes = kCdxAttrLeaf;
    head.left = i == 0 ? left : static_cast<uint32_t>(pages[i - 1]);
    head.right = static_cast<uint32_t>(i + 1 < pages.size() ? pages[i + 1] : page);
    const std::span<const CdxEntry> slice(entries.data() + start, parts[i]);
    if (!EncodeCdxLeaf(head, form, params, slice, bytes))
      cdx_->Fail(kErrIndexDamaged, "keys do not fit a leaf of tag " + TagName());
    WritePage(pages[i], bytes);
    KXobjIndexKeyData separator(node.At(static_cast<int>(start + parts[i] - 1)));
    separator.SetKeyRecNo(static_cast<int32_t>(slice.back().record));
    separator.SetReference(pages[i]);
    SplitLink(node, separator);
    start += parts[i];
  }
  if (!pages.empty()) SetSibling(left, true, static_cast<uint32_t>(pages.front()));
  CdxPageHead head;
  head.attributes = static_cast<uint16_t>(kCdxAttrLeaf | (node.Parent() ? 0 : kCdxAttrRoot));
  head.left = pages.empty() ? left : static_cast<uint32_t>(pages.back());
  head.right = right;
  if (head.attributes & kCdxAttrRoot) head.left = head.right = kCdxNoPage;
  const std::span<const CdxEntry> rest(entries.data() + start, entries.size() - start);
  if (!EncodeCdxLeaf(head, form, params, rest, bytes))
    cdx_->Fail(kErrIndexDamaged, "keys do not fit a leaf of tag " + TagName());
  WritePage(page, bytes);
}

void KXobjCDXTag::StoreBranch(int32_t page, KXobjIndexKey& node,
                              const std::vector<CdxEntry>& entries, uint32_t left, uint32_t right) {
  const CdxKeyForm form = KeyForm();
  const std::vector<size_t> parts =
      PlanCdxBranchSplit(entries.size(), CdxBranchCapacity(KeyLength()));
  std::vector<int32_t> pages;
  for (size_t i = 0; i + 1 < parts.size(); ++i) pages.push_back(cdx_->PageNew());
  std::array<uint8_t, kPage> bytes{};
  size_t start = 0;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    CdxPageHead head;
    head.attributes = 0;
    head.left = i == 0 ? left : static_cast<uint32_t>(pages[i - 1]);
    head.right = static_cast<uint32_t>(i + 1 < pages.size() ? pages[i + 1] : page);
    const std::span<const CdxEntry> slice(entries.data() + start, parts[i]);
    EncodeCdxBranch(head, form, slice, form.pad, bytes);
    WritePage(pages[i], bytes);
    KXobjIndexKeyData separator(node.At(static_cast<int>(start + parts[i] - 1)));
    separator.SetReference(pages[i]);
    SplitLink(node, separator);
    start += parts[i];
  }
  if (!pages.empty()) SetSibling(left, true, static_cast<uint32_t>(pages.front()));
  CdxPageHead head;
  head.attributes = node.Parent() ? 0 : kCdxAttrRoot;
  head.left = pages.empty() ? left : static_cast<uint32_t>(pages.back());
  head.right = right;
  if (head.attributes & kCdxAttrRoot) head.left = head.right = kCdxNoPage;
  const std::span<const CdxEntry> rest(entries.data() + start, entries.size() - start);
  EncodeCdxBranch(head, form, rest, form.pad, bytes);
  WritePage(page, bytes);
}

// =======================================================================================
// KXobjSortCDX

KXobjSortCDX::KXobjSortCDX(KXobjCDXTag* tag, const uint8_t* collation, bool unique)
    : TkxSort(std::min<int32_t>(std::max<int32_t>(tag->KeyLength(), 1), kMaxKeyLength), unique,
              true, collation),
      tag_(tag) {}

namespace {

// The pages of a build, held back and written in runs of neighbouring pages: the levels
// of a tree take their pages in turns, so pages come in nearly, but not quite, in order.
class PageBatch {
 public:
  explicit PageBatch(std::function<void(int32_t, std::span<const uint8_t>)> write)
      : write_(std::move(write)) {}

  void Put(uint32_t offset, std::span<const uint8_t> page) {
    offsets_.push_back(offset);
    bytes_.insert(bytes_.end(), page.begin(), page.begin() + kPage);
    if (offsets_.size() >= kPages) Flush();
  }

  void Flush() {
    std::vector<size_t> order(offsets_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [this](size_t a, size_t b) { return offsets_[a] < offsets_[b]; });
    std::vector<uint8_t> run;
    uint32_t start = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      const uint32_t offset = offsets_[order[i]];
      if (!run.empty() && offset != start + run.size()) {
        write_(static_cast<int32_t>(start), run);
        run.clear();
      }
      if (run.empty()) start = offset;
      const auto* page = bytes_.data() + order[i] * kPage;
      run.insert(run.end(), page, page + kPage);
    }
    if (!run.empty()) write_(static_cast<int32_t>(start), run);
    offsets_.clear();
    bytes_.clear();
  }

 private:
  static constexpr size_t kPages = 4096;
  std::function<void(int32_t, std::span<const uint8_t>)> write_;
  std::vector<uint32_t> offsets_;
  std::vector<uint8_t> bytes_;
};

}  // namespace

int32_t KXobjSortCDX::WriteKeys() {
  KXobjCDXFile* file = tag_->cdx_;
  KXO_dBaseFld* table = tag_->IsDirectory() ? nullptr : tag_->Table();
  const uint32_t highest = table ? static_cast<uint32_t>(std::max(table->RecordCount(), 0)) : 0;
  PageBatch batch(
      [this](int32_t offset, std::span<const uint8_t> bytes) { tag_->WritePage(offset, bytes); });
  CdxTreeWriter writer(
      tag_->KeyForm(), highest, [file] { return static_cast<uint32_t>(file->PageNew()); },
      [&batch](uint32_t offset, std::span<const uint8_t> page) { batch.Put(offset, page); });
  TkxVariant key;
  int32_t recno = 0;
  int32_t written = 0;
  const int64_t total = KeyCount();
  TkxProgressScope progress(table ? table->Progress() : nullptr, kStatusIndexWrite, total);
  if (total > 0) {
    while (RetrieveKey(key, recno)) {
      const std::string_view bytes(reinterpret_cast<const char*>(key.Data()),
                                   static_cast<size_t>(key.IsEmpty() ? 0 : key.Length()));
      writer.Add(bytes, static_cast<uint32_t>(recno));
      ++written;
      if (ProgressDue(written, total)) progress.Step(written);
    }
  }
  const int32_t root = static_cast<int32_t>(writer.Finish());
  batch.Flush();
  return root;
}

// =======================================================================================
// KXobjCDXFile

KXobjCDXFile::KXobjCDXFile(KXO_dBaseFld* table, const std::string& name, bool create,
                           bool overwrite, bool readWrite, bool shared)
    : KXobjIndexFile(table) {
  AttachDiskFile(name, ".cdx", create, overwrite, readWrite, shared);
  if (!Opened()) return;
  SetKeysByRecNo(true);
  loading_ = true;
  const int64_t size = Disk()->FileSize();
  if (size > kPage) {
    LoadExisting();
  } else {
    CreateEmpty();
  }
  newTagCollation_ = CdxCollation::Machine;
  MarkProductionIndex();
  loading_ = false;
}

KXobjCDXFile::~KXobjCDXFile() {
  // Changed pages are stored while this object is whole; errors cannot be reported here.
  for (int i = 0; i < TagCount(); ++i) {
    try {
      TagAt(i)->FreePath();
    } catch (...) {
    }
  }
  try {
    if (directory_) directory_->FreePath();
  } catch (...) {
  }
  FreeTags();
  directory_.reset();
}

void KXobjCDXFile::Fail(int32_t code, const std::string& what) {
  const std::string info = FileName() + ": " + what;
  FileError(code, SubIndexTag, info.c_str());
  // An installed error procedure may return; the operation must not go on.
  throw ETolvernError(EngineErrorMessage(code, SubIndexTag, info.c_str()));
}

void KXobjCDXFile::CheckWritable() {
  if (!Disk() || !Disk()->ReadWrite())
    Fail(ErrAccessDenied, "the index file is open for reading only");
}

void KXobjCDXFile::LoadExisting() {
  directory_ =
      std::make_unique<KXobjCDXTag>(this, 0, NameWithoutExtension(FileName()), false, true);
  if (!directory_->LoadError().empty()) Fail(kErrIndexDamaged, directory_->LoadError());
  PageCount();
  const int64_t limit = static_cast<int64_t>(NextFreePage() / kPage) * kMaxKeysPerPage;
  std::vector<std::pair<std::string, int32_t>> entries;
  KXobjCDXTag& dir = *directory_;
  for (int32_t recno = dir.Goto(PosTop); !dir.Eof(); recno = dir.Goto(PosNext)) {
    if (static_cast<int64_t>(entries.size()) >= limit)
      Fail(kErrIndexDamaged, "the tag directory repeats itself");
    const KXobjIndexKeyData& key = dir.CurrentKey();
    std::string name(reinterpret_cast<const char*>(key.Data()),
                     static_cast<size_t>(key.IsEmpty() ? 0 : key.Length()));
    const KXO_dBaseFld* table = Table();
    if (table && table->KeyTranslation()) {
      for (char& c : name) c = static_cast<char>(table->KeyTranslation()[static_cast<uint8_t>(c)]);
    } else {
      name = UpperCase(name);
    }
    entries.emplace_back(TrimRight(name), recno);
  }
  dir.FreePath();
  const bool skip = IndexDamagedTagsSkipped::Active();
  for (const auto& [name, offset] : entries) {
    if (offset < kFirstNodePage || offset % kPage != 0 ||
        int64_t{offset} + kCdxHeaderSize > NextFreePage()) {
      const std::string why = "the header of tag " + name + " lies outside the file";
      if (!skip) Fail(kErrIndexDamaged, why);
      NoteSkippedTag(name, why);
      continue;
    }
    auto tag = std::make_unique<KXobjCDXTag>(this, offset, name, false);
    if (!tag->LoadError().empty()) {
      if (!skip) Fail(kErrIndexDamaged, tag->LoadError());
      NoteSkippedTag(name, tag->LoadError());
      continue;
    }
    AddTag(std::move(tag));
  }
}

void KXobjCDXFile::CreateEmpty() {
  if (!Disk()->ReadWrite()) Fail(kErrIndexDamaged, "the file is too short to be a CDX file");
  SetNextFreePage(0);
  const int32_t header = PageNew();
  PageNew();
  directory_ =
      std::make_unique<KXobjCDXTag>(this, header, NameWithoutExtension(FileName()), true, true);
  directory_->TagCreate("", "", "", true, false);
}

void KXobjCDXFile::MarkProductionIndex() {
  KXO_dBaseFld* table = Table();
  if (!table || !table->ReadWrite() || table->ProductionIndexFlag()) return;
  // The production index carries the table's own name.
  if (CompareTextNoCase(NameWithoutExtension(table->FileName()),
                        NameWithoutExtension(FileName())) != 0)
    return;
  table->SetProductionIndexFlag(true);
  table->WriteHeader();
}

int32_t KXobjCDXFile::PageCount() {
  int64_t size = Disk() ? Disk()->FileSize() : 0;
  if (size < 0) size = 0;
  size = (size + kPage - 1) / kPage * kPage;
  if (size > INT32_MAX - kCdxHeaderSize) Fail(kErrIndexDamaged, "the file is too large");
  SetNextFreePage(static_cast<int32_t>(size));
  return NextFreePage();
}

int32_t KXobjCDXFile::PageNew() {
  if (NextFreePage() < 0) PageCount();
  if (directory_ && !loading_ && Disk()->ReadWrite()) ReadFreeList();
  if (directory_ && !loading_ && Disk()->ReadWrite() && !freePages_.empty()) {
    const int32_t page = freePages_.back();
    freePages_.pop_back();
    WriteFreeHead(freePages_.empty() ? 0 : static_cast<uint32_t>(freePages_.back()));
    return page;
  }
  const int32_t page = NextFreePage();
  if (page > INT32_MAX - 2 * kPage) Fail(kErrIndexDamaged, "the index file is full");
  SetNextFreePage(page + kPage);
  return page;
}

int32_t KXobjCDXFile::PageNewPair() {
  if (NextFreePage() < 0) PageCount();
  if (directory_ && !loading_ && Disk()->ReadWrite()) {
    const std::vector<int32_t>& chain = FreePages();
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
      if (chain[i + 1] != chain[i] + kPage) continue;
      const int32_t page = chain[i];
      const uint32_t after = i + 2 < chain.size() ? static_cast<uint32_t>(chain[i + 2]) : 0;
      if (i == 0) {
        WriteFreeHead(after);
      } else {
        std::array<uint8_t, 4> bytes{};
        ByteWriter(bytes.data(), bytes.size()).U32LE(0, after);
        if (!PageWrite(chain[i - 1], bytes.data(), 4))
          Fail(kErrIndexDamaged, PageText(chain[i - 1]) + " cannot be written");
      }
      // freePages_ holds the chain last page first.
      const auto at = freePages_.end() - static_cast<std::ptrdiff_t>(i) - 2;
      freePages_.erase(at, at + 2);
      return page;
    }
  }
  const int32_t page = NextFreePage();
  if (page > INT32_MAX - 3 * kPage) Fail(kErrIndexDamaged, "the index file is full");
  SetNextFreePage(page + 2 * kPage);
  return page;
}

bool KXobjCDXFile::ValidNodePage(int32_t page) {
  if (page < kFirstNodePage || page % kPage != 0) return false;
  if (NextFreePage() < 0) PageCount();
  return int64_t{page} + kPage <= NextFreePage();
}

// --- free pages --------------------------------------------------------------------------

bool KXobjCDXFile::CollectPages(const KXobjCDXTag& tag, std::vector<bool>& seen,
                                std::vector<int32_t>& pages, std::string& why) {
  const auto take = [&](int64_t page, const std::string& what) {
    if (page < 0 || page % kPage != 0 || page / kPage >= static_cast<int64_t>(seen.size())) {
      why = what + " " + PageText(page) + " lies outside the file";
      return false;
    }
    if (seen[static_cast<size_t>(page / kPage)]) {
      why = what + " " + PageText(page) + " is used twice";
      return false;
    }
    seen[static_cast<size_t>(page / kPage)] = true;
    pages.push_back(static_cast<int32_t>(page));
    return true;
  };
  const std::string name =
      tag.IsDirectory() ? std::string("the tag directory") : "tag " + tag.TagName();
  if (!take(tag.HeaderOffset(), "the header of " + name) ||
      !take(int64_t{tag.HeaderOffset()} + kPage, "the header of " + name))
    return false;
  const int32_t keyLength = tag.Header().keyLength;
  const int64_t entry = int64_t{keyLength} + 8;
  std::vector<std::pair<int64_t, int>> pending{{tag.Header().root, 0}};
  std::array<uint8_t, kPage> bytes{};
  while (!pending.empty()) {
    const auto [page, depth] = pending.back();
    pending.pop_back();
    if (page < kFirstNodePage || !take(page, "a page of " + name)) {
      if (why.empty()) why = PageText(page) + " of " + name + " lies in the directory header";
      return false;
    }
    if (depth > kMaxTreeDepth) {
      why = "the tree of " + name + " is deeper than " + std::to_string(kMaxTreeDepth);
      return false;
    }
    if (!PageRead(static_cast<int32_t>(page), bytes.data(), kPage)) {
      why = PageText(page) + " of " + name + " cannot be read";
      return false;
    }
    const CdxPageHead head = ReadCdxPageHead(bytes);
    if (head.IsLeaf()) continue;
    if (keyLength < 1 || int64_t{head.count} * entry > kCdxBranchArea) {
      why = "the branch " + PageText(page) + " of " + name + " holds more keys than fit";
      return false;
    }
    const ByteReader in(bytes.data(), bytes.size());
    for (int64_t i = 0; i < head.count; ++i)
      pending.emplace_back(in.U32BE(static_cast<size_t>(12 + i * entry + keyLength + 4)),
                           depth + 1);
  }
  return true;
}

bool KXobjCDXFile::MarkUsedPages(std::vector<bool>& seen, std::string& why) {
  std::vector<int32_t> pages;
  if (!CollectPages(*directory_, seen, pages, why)) return false;
  for (int i = 0; i < TagCount(); ++i)
    if (!CollectPages(*static_cast<KXobjCDXTag*>(TagAt(i)), seen, pages, why)) return false;
  return true;
}

const std::vector<int32_t>& KXobjCDXFile::FreePages() {
  ReadFreeList();
  freeView_.assign(freePages_.rbegin(), freePages_.rend());
  return freeView_;
}

void KXobjCDXFile::ReadFreeList() {
  if (!directory_) {
    freePages_.clear();
    freeKnown_ = false;
    return;
  }
  if (!freeKnown_ || directory_->FreeList() != freeHead_) {
    freeKnown_ = true;
    freeDamaged_ = false;
    freeHead_ = directory_->FreeList();
    freePages_.clear();
    const int32_t end = NextFreePage() >= 0 ? NextFreePage() : PageCount();
    std::vector<bool> seen(static_cast<size_t>(end / kPage), false);
    std::string why;
    // Only a list that reaches no page the directory or a tag uses is ever handed out.
    const bool walked = freeHead_ == 0 || freeHead_ == kCdxNoPage || MarkUsedPages(seen, why);
    uint32_t page = walked ? freeHead_ : 0;
    while (page != 0 && page != kCdxNoPage) {
      const size_t index = page / kPage;
      std::array<uint8_t, 4> next{};
      if (page % kPage != 0 || page < kFirstNodePage || index >= seen.size() || seen[index] ||
          !PageRead(static_cast<int32_t>(page), next.data(), 4)) {
        freeDamaged_ = true;
        break;
      }
      seen[index] = true;
      freePages_.push_back(static_cast<int32_t>(page));
      page = ByteReader(next.data(), next.size()).U32LE(0);
    }
    if (!walked) freeDamaged_ = true;
    if (freeDamaged_) freePages_.clear();
    std::reverse(freePages_.begin(), freePages_.end());
  }
}

void KXobjCDXFile::WriteFreeHead(uint32_t page) {
  std::array<uint8_t, 4> bytes{};
  ByteWriter(bytes.data(), bytes.size()).U32LE(0, page);
  if (!PageWrite(4, bytes.data(), 4)) Fail(kErrIndexDamaged, "the header cannot be written");
  directory_->SetFreeList(page);
  freeHead_ = page;
  freeDamaged_ = false;
}

std::vector<int32_t> KXobjCDXFile::PagesOf(const KXobjCDXTag& tag) {
  std::vector<int32_t> pages;
  const int32_t end = NextFreePage() >= 0 ? NextFreePage() : PageCount();
  std::vector<bool> seen(static_cast<size_t>(end / kPage), false);
  std::string why;
  // Pages that cannot all be told stay where they are: dead space is harmless, a page
  // handed out twice is not.
  if (!CollectPages(tag, seen, pages, why)) pages.clear();
  return pages;
}

void KXobjCDXFile::GiveBack(std::vector<int32_t> pages) {
  if (pages.empty() || !directory_) return;
  ReadFreeList();
  const int32_t end = NextFreePage() >= 0 ? NextFreePage() : PageCount();
  std::vector<bool> used(static_cast<size_t>(end / kPage), false);
  std::string why;
  if (!MarkUsedPages(used, why)) return;
  for (int32_t page : freePages_) used[static_cast<size_t>(page / kPage)] = true;
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  std::erase_if(pages, [&](int32_t page) {
    return page < kFirstNodePage || page % kPage != 0 ||
           static_cast<size_t>(page / kPage) >= used.size() ||
           used[static_cast<size_t>(page / kPage)];
  });
  if (pages.empty()) return;
  // Ascending, so that pages taken again come in file order; the list that was there
  // follows unless it was damaged.
  uint32_t next = freeDamaged_ || freePages_.empty() ? 0 : static_cast<uint32_t>(freePages_.back());
  std::array<uint8_t, kPage> bytes{};
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    ByteWriter(bytes.data(), bytes.size()).U32LE(0, next);
    if (!PageWrite(*it, bytes.data(), kPage))
      Fail(kErrIndexDamaged, PageText(*it) + " cannot be written");
    next = static_cast<uint32_t>(*it);
  }
  if (freeDamaged_) freePages_.clear();
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) freePages_.push_back(*it);
  WriteFreeHead(next);
}

KXobjCDXTag* KXobjCDXFile::FindTag(const std::string& upperName) const {
  KXobjCDXTag* found = nullptr;
  for (int i = 0; i < TagCount(); ++i) {
    if (CompareTextNoCase(TagAt(i)->TagName(), upperName) == 0)
      found = static_cast<KXobjCDXTag*>(TagAt(i));
  }
  return found;
}

void KXobjCDXFile::CheckDefinition(const std::string& name, const std::string& keyExpr,
                                   const std::string& forExpr) {
  if (name.empty()) Fail(kErrCdxTagRefused, "Tag Field is Empty");
  if (name.size() > kCdxMaxTagName)
    Fail(kErrCdxTagRefused, "the tag name " + name + " is longer than 10 characters");
  if (Trim(keyExpr).empty()) Fail(kErrCdxTagRefused, "tag " + name + " has no key expression");
  if (Trim(keyExpr).size() + Trim(forExpr).size() + 2 > kCdxHeaderSize - 512)
    Fail(kErrCdxTagRefused, "the expressions of tag " + name + " are longer than 510 characters");
  KXO_dBaseFld* table = Table();
  if (!table) Fail(kErrCdxTagRefused, "there is no table to build tag " + name + " from");
  // Compile errors pass through as they are; a value that cannot be a key is refused.
  TkxExpHandler key(table->ExpressionLink(), Trim(keyExpr));
  TkxVariant value;
  if (!key.HasRoot() || !key.EvaluateToVariant(value))
    Fail(kErrCdxTagRefused, "the key expression of tag " + name + " gives no usable value");
  if (value.VariantType() == TkxVariant::kText &&
      value.Length() * (newTagCollation_ == CdxCollation::General ? 2 : 1) > kCdxMaxKeyLength)
    Fail(kErrCdxTagRefused, kMsgSortKeyLength);
  if (!Trim(forExpr).empty()) {
    TkxExpHandler condition(table->ExpressionLink(), Trim(forExpr));
    TkxExpValue result;
    if (!condition.EvaluateToBuffer(result) || result.type != kExpLogical)
      Fail(kErrCdxTagRefused, "the FOR expression of tag " + name + " is not logical");
  }
}

int KXobjCDXFile::TagAdd(const std::string& name, const std::string& keyExpr,
                         const std::string& forExpr, bool ascending, bool unique) {
  CheckWritable();
  const std::string tagName = UpperCase(Trim(name));
  CheckDefinition(tagName, keyExpr, forExpr);
  if (KXobjCDXTag* replaced = FindTag(tagName)) {
    replaced->FreePath();
    std::vector<int32_t> pages = PagesOf(*replaced);
    RemoveDirectoryEntry(replaced->TagName(), replaced->HeaderOffset());
    FreeTag(replaced);
    GiveBack(std::move(pages));
  }
  return AddNewTag(tagName, Trim(keyExpr), Trim(forExpr), ascending, unique, newTagCollation_,
                   false);
}

int KXobjCDXFile::AddNewTag(const std::string& name, const std::string& keyExpr,
                            const std::string& forExpr, bool ascending, bool unique,
                            CdxCollation collation, bool candidate) {
  const int32_t header = PageNewPair();
  auto tag = std::make_unique<KXobjCDXTag>(this, header, name, true);
  tag->SetCollation(collation);
  tag->SetCandidate(candidate && unique);
  KXobjCDXTag* added = static_cast<KXobjCDXTag*>(AddTag(std::move(tag)));
  const int result = added->TagCreate(name, keyExpr, forExpr, ascending, unique);
  if (result == 0) {
    // Nothing was built: the header pages stay unused and the tag is not listed.
    FreeTag(added);
    Fail(kErrCdxTagRefused, "the key expression of tag " + name + " gives no usable value");
  }
  AddDirectoryEntry(name, header);
  return result;
}

void KXobjCDXFile::AddDirectoryEntry(const std::string& name, int32_t offset) {
  KXobjIndexKeyData key;
  key.SetText(name);
  key.SetReference(offset);
  key.SetKeyRecNo(offset);
  directory_->KeyAdd(key);
  directory_->FreePath();
}

void KXobjCDXFile::RemoveDirectoryEntry(const std::string& name, int32_t offset) {
  KXobjCDXTag& dir = *directory_;
  const int64_t size = Disk()->FileSize();
  const int64_t limit = std::max<int64_t>(size / kPage, 1) * kMaxKeysPerPage;
  int64_t seen = 0;
  for (int32_t recno = dir.Goto(PosTop); !dir.Eof() && seen < limit;
       recno = dir.Goto(PosNext), ++seen) {
    const KXobjIndexKeyData& key = dir.CurrentKey();
    const std::string text(reinterpret_cast<const char*>(key.Data()),
                           static_cast<size_t>(key.IsEmpty() ? 0 : key.Length()));
    if (recno != offset || CompareTextNoCase(TrimRight(text), name) != 0) continue;
    KXobjIndexKey* leaf = dir.RootNode();
    while (leaf && leaf->Child() && !leaf->IsLeaf()) leaf = leaf->Child();
    if (leaf) leaf->DeleteCurrent();
    break;
  }
  dir.FreePath();
}

int KXobjCDXFile::TagDelete(const std::string& name) {
  if (TagCount() == 0) return 0;
  KXobjCDXTag* found = FindTag(UpperCase(Trim(name)));
  if (!found) return 0;
  CheckWritable();
  found->FreePath();
  std::vector<int32_t> pages = PagesOf(*found);
  RemoveDirectoryEntry(found->TagName(), found->HeaderOffset());
  FreeTag(found);
  if (TagCount() == 0) {
    Reindex();
  } else {
    GiveBack(std::move(pages));
  }
  return 1;
}

void KXobjCDXFile::Reindex() {
  CheckWritable();
  for (int i = 0; i < TagCount(); ++i) {
    const KXobjIndexTag* tag = TagAt(i);
    if (!tag->Maintainable())
      Fail(kErrIndexDamaged,
           "tag " + tag->TagName() + " cannot be rebuilt (" + tag->ReadOnlyReason() + ")");
  }
  struct Definition {
    std::string name, keyExpr, forExpr;
    bool ascending, unique, candidate;
    CdxCollation collation;
  };
  std::vector<Definition> definitions;
  for (int i = 0; i < TagCount(); ++i) {
    const auto* tag = static_cast<const KXobjCDXTag*>(TagAt(i));
    definitions.push_back({tag->TagName(), tag->KeyExprText(), tag->ForExprText(), tag->Ascending(),
                           tag->Unique(), tag->Candidate(), tag->Collation()});
  }
  if (!Disk()->LockWholeFile()) Fail(Disk()->LastError(), "the file cannot be locked");
  try {
    for (int i = 0; i < TagCount(); ++i) TagAt(i)->FreePath();
    directory_->FreePath();
    FreeTags();
    directory_.reset();
    Disk()->TruncateAt(kEmptyFileSize);
    if (Disk()->LastError() != 0) Fail(Disk()->LastError(), "the file cannot be truncated");
    CreateEmpty();
    for (const Definition& d : definitions)
      AddNewTag(d.name, d.keyExpr, d.forExpr, d.ascending, d.unique, d.collation, d.candidate);
  } catch (...) {
    Disk()->UnlockRegion();
    throw;
  }
  Disk()->UnlockRegion();
}

bool KXobjCDXFile::KeyUpdateAll(int32_t recno, bool append) {
  // Nothing changes unless every tag can follow the write.
  for (int i = 0; i < TagCount(); ++i) {
    const KXobjIndexTag* tag = TagAt(i);
    if (!tag->Maintainable())
      Fail(kErrIndexDamaged,
           "tag " + tag->TagName() + " cannot be changed (" + tag->ReadOnlyReason() + ")");
  }
  CheckWritable();
  directory_->SetChangeCounter(directory_->ChangeCounter() + 1);
  directory_->MarkHeaderChanged();
  directory_->TagStore();
  return KXobjIndexFile::KeyUpdateAll(recno, append);
}

bool KXobjCDXFile::ExternalChange() {
  if (!Disk() || !Disk()->Shared() || !directory_) return false;
  // Other programs count their changes in the directory header, and move its free-page
  // list and root with them: any difference in those 12 bytes is a change.
  std::array<uint8_t, 12> head{};
  if (!PageRead(0, head.data(), static_cast<int32_t>(head.size()))) return false;
  const ByteReader r(head.data(), head.size());
  const CdxHeader& known = directory_->Header();
  if (r.U32LE(0) == known.root && r.U32LE(4) == known.freeList && r.U32BE(8) == known.changeCounter)
    return false;
  // The directory header is read again, so that writing it keeps what the other
  // program put there.
  directory_->ForgetPath();
  directory_->TagLoad();
  if (!directory_->LoadError().empty()) Fail(kErrIndexDamaged, directory_->LoadError());
  SetNextFreePage(-1);
  freeKnown_ = false;
  return true;
}

}  // namespace tolvern
