#include "kx6_mdx.h"

#include <algorithm>

#include "kx6_bytes.h"
#include "kx6_cnst.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

// The header's free list: the first free block and the number of free blocks.
constexpr std::ptrdiff_t kMdxFreeListOffset = 36;

std::string BaseName(const std::string& path) {
  std::string name = platform::FileNameOf(path);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

void Today(int& year, int& month, int& day) {
  const TkxDBFDate& dates = GlobalDateConverter();
  dates.DecodeDay(dates.Today(), year, month, day);
}

}  // namespace

// =======================================================================================
// KXobjMDXTag

KXobjMDXTag::KXobjMDXTag(KXobjMDXFile* file, int32_t headerBlock, const std::string& name,
                         const MdxTagSlot& slot)
    : KXobjIndexTag(file, name, headerBlock), mdx_(file), headerBlock_(headerBlock), slot_(slot) {
  SetKindMarker(kTagKindMdx);
  if (headerBlock_ >= 0) TagLoad();
}

double KXobjMDXTag::KeyNumber(const TkxVariant& key) {
  if (key.VariantType() != TkxVariant::kBytes || key.Length() != kMdxNumberSize)
    return key.AsFloat();
  const MdxNumber stored =
      MdxStoredFromComparable(std::span<const uint8_t, kMdxNumberSize>(key.Data(), kMdxNumberSize));
  return MdxNumberValue(stored);
}

MdxTagSlot KXobjMDXTag::Slot() const {
  MdxTagSlot slot = slot_;
  slot.headerBlock = headerBlock_;
  slot.name = TagName();
  slot.keyType = header_.keyType;
  return slot;
}

void KXobjMDXTag::KeyAdjust(TkxVariant& key) {
  MdxAdjustKey(header_.keyType, key);
  // A stored key holds at most the key length; longer values compare by that part.
  if (key.VariantType() == TkxVariant::kText && key.Length() > header_.keyLength) {
    key.SetLength(header_.keyLength);
    key.SetVariantType(TkxVariant::kText);
    MdxAdjustKey(header_.keyType, key);
  }
}

bool KXobjMDXTag::KeyAdd(KXobjIndexKeyData& key) {
  const int32_t keyRecNo = key.KeyRecNo();
  key.SetKeyRecNo(0);
  bool added = false;
  try {
    added = KXobjIndexTag::KeyAdd(key);
  } catch (...) {
    key.SetKeyRecNo(keyRecNo);
    throw;
  }
  key.SetKeyRecNo(keyRecNo);
  return added;
}

std::vector<uint8_t> KXobjMDXTag::ReadPage(int32_t block, const char* what) {
  std::vector<uint8_t> page(static_cast<size_t>(mdx_->PageBytes()));
  if (!mdx_->PageRead(block, page.data(), static_cast<int32_t>(page.size())))
    Damaged(std::string(what) + " at block " + std::to_string(block) + " cannot be read");
  return page;
}

int32_t KXobjMDXTag::RootPage() {
  if (headerBlock_ < 0) return CachedRootPage();
  uint8_t word[4];
  if (!mdx_->PageRead(headerBlock_, word, sizeof word))
    Damaged("the header of tag " + TagName() + " cannot be read");
  header_.rootBlock = ByteReader(word, sizeof word).I32LE(0);
  return header_.rootBlock;
}

void KXobjMDXTag::TagLoad() {
  const std::vector<uint8_t> page = ReadPage(headerBlock_, "the tag header");
  std::string problem;
  mdx_->PageCount();
  // Read for a rebuild, a root page past the end does not matter.
  const int64_t fileBlocks =
      IndexDefinitionsOpen::Active() ? int64_t{INT32_MAX} : int64_t{mdx_->NextFreePage()};
  if (!MdxTagHeader::Parse(page, mdx_->RegionBlocks(), fileBlocks, header_, problem))
    Damaged("tag " + TagName() + ": " + problem);
  SetKeyType(header_.keyType == 'F' ? 'N' : header_.keyType);
  SetKeyLength(header_.keyLength);
  SetFlags(!header_.descending, header_.unique);
  SetDescendingCompare(header_.descending);
  SetExpressions(header_.keyExpression, header_.forExpression);
  SetRootPage(header_.rootBlock);

  // The tag can be read whatever its expressions; changing it needs both to work and the
  // key to have the type the header records.
  std::string error;
  TkxVariant probe;
  if (Table() && !ProbeKey(probe, error)) {
    SetReadOnlyReason(error);
  } else if (Table()) {
    const uint8_t type = probe.VariantType();
    const bool matches = KeyType() == 'N' ? type == TkxVariant::kFloat
                         : KeyType() == 'D'
                             ? type == TkxVariant::kDate
                             : type == TkxVariant::kText || type == TkxVariant::kBoolean;
    if (!matches) SetReadOnlyReason("the key expression's type does not match the tag header");
    try {
      ForExprCompile();
    } catch (const std::exception& e) {
      SetReadOnlyReason(std::string("the FOR expression cannot be compiled: ") + e.what());
    }
  }
  SetHeaderChanged(false);
}

void KXobjMDXTag::TagStore() {
  header_.rootBlock = CachedRootPage();
  header_.unique = Unique();
  header_.descending = !Ascending();
  header_.keyExpression = KeyExprText();
  header_.forExpression = HasFor() ? ForExprText() : std::string();
  const std::vector<uint8_t> page = header_.Serialize(mdx_->PageBytes());
  mdx_->PageWrite(headerBlock_, page.data(), static_cast<int32_t>(page.size()));
  header_.image = page;
  SetHeaderChanged(false);
}

bool KXobjMDXTag::Define(const std::string& keyExpr, const std::string& forExpr, bool ascending,
                         bool unique, std::string& problem) {
  try {
    KXobjIndexTag::TagCreate(TagName(), keyExpr, forExpr, ascending, unique);
  } catch (const std::exception& e) {
    problem = e.what();
    return false;
  }
  SetDescendingCompare(!ascending);
  TkxVariant value;
  if (!ProbeKey(value, problem)) return false;
  char type = 'C';
  int32_t length = value.Length();
  switch (value.VariantType()) {
    case TkxVariant::kFloat:
      type = 'N';
      length = kMdxNumberSize;
      break;
    case TkxVariant::kDate:
      type = 'D';
      length = kMdxDateSize;
      break;
    case TkxVariant::kBoolean:
      length = 1;
      break;
    default:
      break;
  }
  if (type == 'C' && (length < 1 || length > kMdxMaxKeyLength)) {
    problem = "the key expression '" + keyExpr + "' gives a key of " + std::to_string(length) +
              " characters (1 to 240 fit)";
    return false;
  }
  SetKeyType(type);
  SetKeyLength(length);
  header_ = MdxTagHeader{};
  header_.SetGeometry(type, length, mdx_->PageBytes());
  header_.unique = unique;
  header_.descending = !ascending;
  return true;
}

int KXobjMDXTag::TagCreate(const std::string&, const std::string& keyExpr,
                           const std::string& forExpr, bool ascending, bool unique) {
  std::string problem;
  if (!Define(keyExpr, forExpr, ascending, unique, problem)) return 0;
  WriteNew();
  return 1;
}

void KXobjMDXTag::WriteNew() {
  headerBlock_ = mdx_->PageNew();
  header_.firstPage = header_.lastPage = 0;
  const std::vector<uint8_t> zero(static_cast<size_t>(mdx_->PageBytes()), 0);
  mdx_->PageWrite(headerBlock_, zero.data(), static_cast<int32_t>(zero.size()));
  KXO_dBaseFld* table = Table();
  if (!table || table->RecordCount() == 0) {
    MakeEmptyRoot();
  } else {
    Build();
  }
}

void KXobjMDXTag::Rebuild() {
  RequireMaintainable();
  WriteNew();
}

void KXobjMDXTag::CheckMaintainable() const { RequireMaintainable(); }

void KXobjMDXTag::MakeEmptyRoot() {
  const int32_t root = mdx_->PageNew();
  const std::vector<uint8_t> zero(static_cast<size_t>(mdx_->PageBytes()), 0);
  mdx_->PageWrite(root, zero.data(), static_cast<int32_t>(zero.size()));
  SetRootPage(root);
  header_.firstPage = header_.lastPage = root;
  MarkHeaderChanged();
  TagStore();
}

void KXobjMDXTag::Build() {
  KXO_dBaseFld* table = Table();
  KXobjSortMDX sorter(this, table ? table->Collation() : nullptr, Ascending(), Unique());
  if (mdx_->Disk()) sorter.SetSpillDirectory(platform::DirectoryOf(mdx_->Disk()->FileName()));
  ScanTable(sorter, true);
  sorter.WriteKeys();
  const int32_t root = sorter.Finish();
  if (root == 0) {
    MakeEmptyRoot();
    return;
  }
  SetRootPage(root);
  MarkHeaderChanged();
  TagStore();
}

int32_t KXobjMDXTag::TakeNewPage(int32_t block) {
  const int32_t previous = header_.lastPage;
  header_.lastPage = block;
  if (header_.firstPage == 0) header_.firstPage = block;
  MarkHeaderChanged();
  return previous;
}

void KXobjMDXTag::Moved(int32_t headerBlock, const std::function<int32_t(int32_t)>& moved) {
  headerBlock_ = headerBlock;
  header_.rootBlock = moved(header_.rootBlock);
  header_.firstPage = moved(header_.firstPage);
  header_.lastPage = moved(header_.lastPage);
  SetRootPage(header_.rootBlock);
}

void KXobjMDXTag::Resume(const KXobjIndexKeyData& key) {
  ReadPath(2);
  if (!FindEntry(key, key.Reference())) FreePath();
}

void KXobjMDXTag::PutEntry(std::vector<uint8_t>& page, int index, int32_t reference,
                           const KXobjIndexKeyData* key) const {
  const size_t at = kMdxPageHeaderSize + static_cast<size_t>(index) * header_.entryLength;
  ByteWriter out(page);
  out.I32LE(at, reference);
  if (key)
    MdxEncodeKey(header_.keyType, *key,
                 std::span<uint8_t>(page).subspan(at + 4, static_cast<size_t>(header_.keyLength)));
}

int KXobjMDXTag::PageLoad(int32_t page, KXobjIndexKey& node) {
  const std::vector<uint8_t> bytes = ReadPage(page, "the page");
  MdxPageInfo info;
  std::string problem;
  if (!MdxReadPageInfo(bytes, header_.entryLength, info, problem))
    Damaged("page " + std::to_string(page) + ": " + problem);
  const ByteReader in(bytes);
  node.SetKind(info.branch ? KXobjIndexKey::kBranchKind : KXobjIndexKey::kLeafKind);
  const size_t keyLength = static_cast<size_t>(header_.keyLength);
  for (int i = 0; i < info.entryCount; ++i) {
    const size_t at = kMdxPageHeaderSize + static_cast<size_t>(i) * header_.entryLength;
    auto entry = std::make_unique<KXobjIndexKeyData>();
    entry->SetReference(in.I32LE(at));
    if (i < info.keyCount) {
      MdxDecodeKey(header_.keyType, in.Bytes(at + 4, keyLength), *entry);
    } else {
      MdxSentinelKey(header_.keyType, header_.descending, *entry);
    }
    node.Append(std::move(entry));
  }
  return 0;
}

int KXobjMDXTag::PageStore(int32_t page, KXobjIndexKey& node) {
  RequireMaintainable();
  const bool branch = node.IsBranch();
  const std::vector<int> sizes = SplitSizes(node.Count(), header_.maxKeys);
  const size_t pageBytes = static_cast<size_t>(mdx_->PageBytes());
  int next = 0;
  for (size_t part = 0; part < sizes.size(); ++part) {
    const int count = sizes[part];
    const bool own = part + 1 == sizes.size();
    std::vector<uint8_t> bytes(pageBytes, 0);
    ByteWriter out(bytes);
    int32_t block = page;
    int32_t previous = 0;
    if (!own) {
      block = mdx_->PageNew();
      previous = TakeNewPage(block);
    } else if (mdx_->Unwritten(page)) {
      previous = TakeNewPage(page);
    } else {
      uint8_t head[kMdxPageHeaderSize] = {};
      if (mdx_->PageRead(page, head, sizeof head))
        previous = ByteReader(head, sizeof head).I32LE(4);
    }
    for (int i = 0; i < count; ++i) {
      const KXobjIndexKeyData& entry = node.At(next + i);
      const bool pointerOnly = branch && i == count - 1;
      PutEntry(bytes, i, entry.Reference(), pointerOnly ? nullptr : &entry);
    }
    out.U32LE(0, static_cast<uint32_t>(branch && count > 0 ? count - 1 : count));
    out.I32LE(4, previous);
    mdx_->PageWrite(block, bytes.data(), static_cast<int32_t>(bytes.size()));
    if (!own) {
      auto separator = node.At(next + count - 1).Clone();
      separator->SetReference(block);
      separator->SetKeyRecNo(0);
      SplitLink(node, *separator);
    }
    next += count;
  }
  return 0;
}

void KXobjMDXTag::WriteSortedPage(int32_t block, const std::vector<KXobjPageEntry>& entries,
                                  bool branch) {
  std::vector<uint8_t> bytes(static_cast<size_t>(mdx_->PageBytes()), 0);
  ByteWriter out(bytes);
  const int count = static_cast<int>(entries.size());
  out.U32LE(0, static_cast<uint32_t>(branch ? count - 1 : count));
  out.I32LE(4, TakeNewPage(block));
  for (int i = 0; i < count; ++i) {
    const size_t at = kMdxPageHeaderSize + static_cast<size_t>(i) * header_.entryLength;
    out.I32LE(at, entries[static_cast<size_t>(i)].reference);
    if (branch && i == count - 1) continue;
    const std::string& key = entries[static_cast<size_t>(i)].key;
    out.Bytes(at + 4, key.data(), std::min(key.size(), static_cast<size_t>(header_.keyLength)));
  }
  mdx_->PageWrite(block, bytes.data(), static_cast<int32_t>(bytes.size()));
}

// =======================================================================================
// KXobjMDXFile

KXobjMDXFile::KXobjMDXFile(KXO_dBaseFld* table, const std::string& name, bool create,
                           bool overwrite, bool readWrite, bool shared)
    : KXobjIndexFile(table) {
  AttachDiskFile(name, ".mdx", create, overwrite, readWrite, shared);
  if (!Opened()) return;
  const int64_t size = Disk()->FileSize();
  if (size <= 0 && !Disk()->ReadWrite()) Fail(kErrIndexDamaged, "the file is empty");
  if (size > 0 && !(create && overwrite)) {
    LoadExisting(size);
  } else {
    CreateNew();
  }
  MarkProductionIndex();
}

KXobjMDXFile::~KXobjMDXFile() {
  // Tags write their pages (and may take new ones) before the header records the end.
  FreeTags();
  if (!regionChanged_ || !Disk() || !Disk()->ReadWrite()) return;
  try {
    WriteRegion();
  } catch (...) {
    // A destructor cannot report; the tag table was written when it changed.
  }
}

void KXobjMDXFile::Fail(int32_t code, const std::string& what) {
  const std::string info = FileName() + ": " + what;
  FileError(code, SubIndexTag, info.c_str());
  // An installed error procedure may return; the operation must not go on.
  throw ETolvernError(EngineErrorMessage(code, SubIndexTag, info.c_str()));
}

void KXobjMDXFile::LoadExisting(int64_t size) {
  // The page size in the first bytes tells how large the header region is.
  std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(size, kMdxMinRegionSize)));
  if (!PageRead(0, head.data(), static_cast<int32_t>(head.size())))
    Fail(kErrIndexDamaged, "the header cannot be read");
  if (head.size() >= 24) {
    const ByteReader in(head);
    const int64_t region = int64_t{in.U16LE(20)} * in.U16LE(22);
    if (region > static_cast<int64_t>(head.size()) &&
        region <= int64_t{kMdxMaxPageUnits} * kMdxMaxPageUnits * kMdxBlockSize) {
      head.resize(static_cast<size_t>(std::min(size, region)));
      if (!PageRead(0, head.data(), static_cast<int32_t>(head.size())))
        Fail(kErrIndexDamaged, "the header cannot be read");
    }
  }
  std::string problem;
  if (!MdxHeaderRegion::Parse(head, size, region_, problem)) Fail(kErrIndexDamaged, problem);
  SetNextFreePage(-1);
  for (int j = 1; j <= region_.TagCount(); ++j) {
    const MdxTagSlot slot = region_.Slot(j);
    if (!IndexDamagedTagsSkipped::Active()) {
      AddTag(std::make_unique<KXobjMDXTag>(this, slot.headerBlock, UpperCase(slot.name), slot));
      continue;
    }
    try {
      AddTag(std::make_unique<KXobjMDXTag>(this, slot.headerBlock, UpperCase(slot.name), slot));
    } catch (const ETolvernError& e) {
      NoteSkippedTag(UpperCase(slot.name), e.what());
    }
  }
}

void KXobjMDXFile::CreateNew() {
  int year, month, day;
  Today(year, month, day);
  region_ = MdxHeaderRegion::Fresh(Table() ? BaseName(Table()->FileName()) : std::string(), year,
                                   month, day);
  SetNextFreePage(RegionBlocks());
  unwritten_.clear();
  WriteRegion();
}

void KXobjMDXFile::MarkProductionIndex() {
  KXO_dBaseFld* table = Table();
  if (!table || table->ProductionIndexFlag() || !table->ReadWrite()) return;
  if (CompareTextNoCase(BaseName(table->FileName()), BaseName(FileName())) != 0) return;
  table->SetProductionIndexFlag(true);
  table->WriteHeader();
}

void KXobjMDXFile::WriteRegion() {
  int year, month, day;
  Today(year, month, day);
  region_.SetUpdateDate(year, month, day);
  region_.SetNextFreeBlock(NextFreePage() >= 0 ? NextFreePage() : PageCount());
  PageWrite(0, region_.Bytes().data(), region_.RegionSize());
  regionChanged_ = false;
}

void KXobjMDXFile::WriteTagTable() {
  std::vector<MdxTagSlot> slots;
  for (int i = 0; i < TagCount(); ++i) slots.push_back(static_cast<KXobjMDXTag*>(TagAt(i))->Slot());
  region_.SetTagTable(slots);
  WriteRegion();
}

void KXobjMDXFile::CheckWritable() {
  if (!Disk() || !Disk()->ReadWrite())
    Fail(ErrAccessDenied, "the index file is open for reading only");
}

int KXobjMDXFile::TagAdd(const std::string& name, const std::string& keyExpr,
                         const std::string& forExpr, bool ascending, bool unique) {
  CheckWritable();
  const std::string tagName = UpperCase(Trim(name));
  KXobjIndexTag* replaced = nullptr;
  for (int i = 0; i < TagCount(); ++i)
    if (UpperCase(TagAt(i)->TagName()) == tagName) replaced = TagAt(i);
  const int limit = std::min(kMdxMaxTags, region_.SlotCount() - 1);
  if (tagName.empty()) Fail(kErrTagRefused, "Tag Field is Empty");
  if (tagName.size() > kMdxMaxTagName)
    Fail(kErrTagRefused, "tag name " + tagName + " is longer than 10 characters");
  if (std::any_of(tagName.begin(), tagName.end(),
                  [](char c) { return static_cast<unsigned char>(c) <= ' '; }))
    Fail(kErrTagRefused, "tag name '" + tagName + "' holds blanks or control characters");
  if (!replaced && TagCount() >= limit)
    Fail(kErrTagRefused, "the file holds " + std::to_string(TagCount()) + " tags, no more fit");
  if (Trim(keyExpr).size() > kMdxMaxKeyExpression)
    Fail(kErrTagRefused, "the key expression is longer than 220 characters");
  if (static_cast<int64_t>(Trim(forExpr).size()) > PageBytes() - kMdxForExprOffset - 1)
    Fail(kErrTagRefused, "the FOR expression is longer than " +
                             std::to_string(PageBytes() - kMdxForExprOffset - 1) + " characters");
  auto tag = std::make_unique<KXobjMDXTag>(this, -1, tagName);
  std::string problem;
  if (!tag->Define(Trim(keyExpr), Trim(forExpr), ascending, unique, problem))
    Fail(kErrTagRefused, "tag " + tagName + ": " + problem);

  // The replaced tag's pages are squeezed out before the new tag takes pages at the end.
  if (replaced) {
    FreeTag(replaced);
    Compact();
  }
  KXobjMDXTag* added = tag.get();
  added->WriteNew();
  int at = 0;
  while (at < TagCount() && !MdxTagNameLess(tagName, TagAt(at)->TagName())) ++at;
  InsertTag(at, std::move(tag));
  WriteTagTable();
  return 1;
}

void KXobjMDXFile::Compact() {
  if (!Disk() || !Disk()->ReadWrite()) return;
  WholeFileLock lock(Disk());
  // Where each tag's walk stood: it goes on from there after its pages moved.
  std::vector<std::unique_ptr<KXobjIndexKeyData>> places;
  for (int i = 0; i < TagCount(); ++i) {
    KXobjIndexTag* tag = TagAt(i);
    const bool placed = tag->RootNode() && !tag->Bof() && !tag->Eof() && tag->CurrentRecord() > 0;
    places.push_back(placed ? tag->CurrentKey().Clone() : nullptr);
    tag->FreePath();
  }
  // Gaps are squeezed out unless some tree cannot be walked completely.
  [&] {
    const int32_t units = PageUnits();
    const int32_t region = RegionBlocks();
    const int32_t end = PageCount();
    const size_t pageBytes = static_cast<size_t>(PageBytes());
    struct Page {
      int32_t block;
      KXobjMDXTag* tag;  // the tag whose header or tree holds it
      bool header;
    };
    std::vector<Page> pages;
    std::vector<bool> used(static_cast<size_t>(std::max(end, 0)), false);
    const auto take = [&](int32_t block) {
      if (block < region || int64_t{block} + units > end) return false;
      for (int32_t k = 0; k < units; ++k) {
        if (used[static_cast<size_t>(block + k)]) return false;
        used[static_cast<size_t>(block + k)] = true;
      }
      return true;
    };
    std::vector<uint8_t> bytes(pageBytes);
    for (int i = 0; i < TagCount(); ++i) {
      auto* tag = static_cast<KXobjMDXTag*>(TagAt(i));
      if (!take(tag->HeaderBlock())) return;
      pages.push_back({tag->HeaderBlock(), tag, true});
      std::vector<std::pair<int32_t, int>> pending{{tag->RootPage(), 0}};
      while (!pending.empty()) {
        const auto [block, depth] = pending.back();
        pending.pop_back();
        MdxPageInfo info;
        std::string problem;
        if (depth > kMaxTreeDepth || !take(block) ||
            !PageRead(block, bytes.data(), static_cast<int32_t>(pageBytes)) ||
            !MdxReadPageInfo(bytes, tag->Header().entryLength, info, problem))
          return;
        pages.push_back({block, tag, false});
        if (!info.branch) continue;
        const ByteReader in(bytes);
        for (int e = 0; e < info.entryCount; ++e)
          pending.emplace_back(
              in.I32LE(size_t{kMdxPageHeaderSize} +
                       static_cast<size_t>(e) * static_cast<size_t>(tag->Header().entryLength)),
              depth + 1);
      }
    }
    std::sort(pages.begin(), pages.end(),
              [](const Page& a, const Page& b) { return a.block < b.block; });
    std::vector<int32_t> target(used.size(), 0);
    int32_t next = region;
    for (const Page& page : pages) {
      target[static_cast<size_t>(page.block)] = next;
      next += units;
    }
    if (next == end) return;
    const auto moved = [&target](int32_t block) {
      return block >= 0 && static_cast<size_t>(block) < target.size()
                 ? target[static_cast<size_t>(block)]
                 : 0;
    };
    // In increasing order a page only ever moves over pages that have moved already.
    for (const Page& page : pages) {
      if (!PageRead(page.block, bytes.data(), static_cast<int32_t>(pageBytes)))
        Fail(kErrIndexDamaged, "block " + std::to_string(page.block) + " cannot be read");
      const std::vector<uint8_t> read = bytes;
      ByteWriter out(bytes);
      const ByteReader in(bytes);
      if (page.header) {
        for (size_t at : {size_t{0}, size_t{248}, size_t{252}}) out.I32LE(at, moved(in.I32LE(at)));
      } else {
        MdxPageInfo info;
        std::string problem;
        const int32_t entry = page.tag->Header().entryLength;
        if (!MdxReadPageInfo(bytes, entry, info, problem))
          Fail(kErrIndexDamaged, "block " + std::to_string(page.block) + ": " + problem);
        out.I32LE(4, moved(in.I32LE(4)));
        for (int e = 0; info.branch && e < info.entryCount; ++e) {
          const size_t at =
              size_t{kMdxPageHeaderSize} + static_cast<size_t>(e) * static_cast<size_t>(entry);
          out.I32LE(at, moved(in.I32LE(at)));
        }
      }
      // Pages before the first gap stay as they are unless they point past it.
      if (moved(page.block) != page.block || bytes != read)
        PageWrite(moved(page.block), bytes.data(), static_cast<int32_t>(pageBytes));
    }
    Disk()->TruncateAt(int64_t{next} * kMdxBlockSize);
    SetNextFreePage(next);
    unwritten_.clear();
    // The pages another program listed as free are gone or hold moved pages now.
    std::fill(region_.Bytes().begin() + kMdxFreeListOffset,
              region_.Bytes().begin() + kMdxFreeListOffset + 8, uint8_t{0});
    for (int i = 0; i < TagCount(); ++i) {
      auto* tag = static_cast<KXobjMDXTag*>(TagAt(i));
      tag->Moved(moved(tag->HeaderBlock()), moved);
    }
    WriteTagTable();
  }();
  for (int i = 0; i < TagCount(); ++i)
    if (places[static_cast<size_t>(i)])
      static_cast<KXobjMDXTag*>(TagAt(i))->Resume(*places[static_cast<size_t>(i)]);
}

int KXobjMDXFile::TagDelete(const std::string& name) {
  const std::string tagName = UpperCase(Trim(name));
  KXobjIndexTag* found = nullptr;
  for (int i = 0; i < TagCount(); ++i)
    if (UpperCase(TagAt(i)->TagName()) == tagName) found = TagAt(i);
  if (!found) return 0;
  CheckWritable();
  FreeTag(found);
  if (TagCount() == 0) {
    Reindex();
  } else {
    Compact();
    WriteTagTable();
  }
  return 1;
}

int32_t KXobjMDXFile::PageCount() {
  int64_t size = Disk() ? Disk()->FileSize() : 0;
  if (size < 0) size = 0;
  const int64_t blocks =
      std::max<int64_t>((size + kMdxBlockSize - 1) / kMdxBlockSize, RegionBlocks());
  if (blocks > INT32_MAX - kMdxMaxPageUnits) Fail(kErrIndexDamaged, "the file is too large");
  SetNextFreePage(static_cast<int32_t>(blocks));
  return NextFreePage();
}

int32_t KXobjMDXFile::PageNew() {
  if (NextFreePage() < 0) PageCount();
  const int32_t block = NextFreePage();
  if (int64_t{block} + PageUnits() > INT32_MAX / kMdxBlockSize)
    Fail(kErrIndexDamaged, "the index file is full");
  SetNextFreePage(block + PageUnits());
  unwritten_.insert(block);
  regionChanged_ = true;
  return block;
}

bool KXobjMDXFile::PageRead(int32_t block, void* buffer, int32_t length) {
  if (!Disk() || block < 0 || length < 0) return false;
  return Disk()->ReadAt(int64_t{block} * kMdxBlockSize, buffer, length) == length;
}

bool KXobjMDXFile::PageWrite(int32_t block, const void* buffer, int32_t length) {
  if (!Disk() || block < 0 || length < 0) return false;
  Disk()->WriteAt(int64_t{block} * kMdxBlockSize, buffer, length);
  unwritten_.erase(block);
  return true;
}

bool KXobjMDXFile::ValidNodePage(int32_t page) {
  if (page < RegionBlocks()) return false;
  const int32_t end = NextFreePage() >= 0 ? NextFreePage() : PageCount();
  return int64_t{page} + PageUnits() <= end;
}

bool KXobjMDXFile::KeyUpdateAll(int32_t recno, bool append) {
  const bool updated = KXobjIndexFile::KeyUpdateAll(recno, append);
  if (regionChanged_ && Disk() && Disk()->ReadWrite()) WriteRegion();
  return updated;
}

bool KXobjMDXFile::ExternalChange() {
  if (!Disk() || !Disk()->Shared()) return false;
  const int64_t size = Disk()->FileSize();
  std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(size, region_.RegionSize())));
  if (!PageRead(0, head.data(), static_cast<int32_t>(head.size())))
    Fail(kErrIndexDamaged, "the header cannot be read");
  MdxHeaderRegion fresh;
  std::string problem;
  if (!MdxHeaderRegion::Parse(head, size, fresh, problem)) Fail(kErrIndexDamaged, problem);
  region_ = std::move(fresh);
  regionChanged_ = false;
  unwritten_.clear();
  SetNextFreePage(-1);
  return true;
}

void KXobjMDXFile::Reindex() {
  if (!Disk()) return;
  CheckWritable();
  // Nothing is cut before every tag is known to rebuild.
  for (int i = 0; i < TagCount(); ++i) static_cast<KXobjMDXTag*>(TagAt(i))->CheckMaintainable();
  WholeFileLock lock(Disk());
  for (int i = 0; i < TagCount(); ++i) TagAt(i)->FreePath();
  Disk()->TruncateAt(region_.RegionSize());
  SetNextFreePage(RegionBlocks());
  unwritten_.clear();
  for (int i = 0; i < TagCount(); ++i) static_cast<KXobjMDXTag*>(TagAt(i))->Rebuild();
  WriteTagTable();
}

bool KXobjMDXFile::Rename(const std::string& newName) {
  if (!KXobjIndexFile::Rename(newName)) return false;
  region_.SetTableName(BaseName(FileName()));
  PageWrite(0, region_.Bytes().data(), 32);
  return true;
}

// =======================================================================================
// KXobjSortMDX

namespace {

int32_t SortKeyLength(const KXobjMDXTag& tag) {
  switch (tag.Header().keyType) {
    case 'C':
      return tag.Header().keyLength;
    case 'D':
      return kMdxDateSize;
    case 'N':
    case 'F':
      return kMdxNumberSize;
    default:
      return TkxSort::kMaxKeyLength;
  }
}

}  // namespace

KXobjSortMDX::KXobjSortMDX(KXobjMDXTag* tag, const uint8_t* collation, bool ascending, bool unique)
    : TkxTreeWriter(tag, SortKeyLength(*tag), unique, ascending, collation), mdx_(tag) {}

void KXobjSortMDX::StoredKey(const TkxVariant& key, std::string& out) {
  out.assign(static_cast<size_t>(mdx_->Header().keyLength), '\0');
  MdxEncodeKey(mdx_->Header().keyType, key,
               std::span<uint8_t>(reinterpret_cast<uint8_t*>(out.data()), out.size()));
}

size_t KXobjSortMDX::PageCapacity(int, bool) const {
  // Branch pages count their pointer-only last entry among the entries.
  return static_cast<size_t>(mdx_->Header().maxKeys);
}

void KXobjSortMDX::WritePage(int32_t page, const std::vector<Entry>& entries, int level, bool) {
  mdx_->WriteSortedPage(page, entries, level > 0);
}

}  // namespace tolvern
