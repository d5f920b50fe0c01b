#include "kx6_indx.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "kx6_cnst.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sort.h"
#include "kx6_sql.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"
#include "platform/pf_sync.h"

namespace tolvern {

// =======================================================================================
// KXobjIndexKey

KXobjIndexKey::KXobjIndexKey(KXobjIndexTag* tag, KXobjIndexKey* parent, int32_t page)
    : page_(page), parent_(parent), tag_(tag) {
  if (page > 0) tag->PageLoad(page, *this);
}

KXobjIndexKey::~KXobjIndexKey() {
  // Free the chain below without recursion depth concerns (at most kMaxTreeDepth).
  child_.reset();
}

int KXobjIndexKey::IndexOfReference(int32_t page) const {
  if (current_ >= 0 && current_ < Count() &&
      entries_[static_cast<size_t>(current_)]->Reference() == page)
    return current_;
  for (int i = 0; i < Count(); ++i) {
    if (entries_[static_cast<size_t>(i)]->Reference() == page) return i;
  }
  return -1;
}

void KXobjIndexKey::InsertEntry(int index, const KXobjIndexKeyData& entry) {
  index = std::clamp(index, 0, Count());
  entries_.insert(entries_.begin() + index, entry.Clone());
  if (current_ >= index) ++current_;
  changed_ = true;
  if (index == Count() - 1) PropagateLastKey();
}

void KXobjIndexKey::PropagateLastKey() {
  for (KXobjIndexKey* node = this; node->parent_ && node->Count() > 0; node = node->parent_) {
    KXobjIndexKey* parent = node->parent_;
    const int at = parent->IndexOfReference(node->page_);
    if (at < 0) return;
    auto replacement = node->Last().Clone();
    replacement->SetReference(node->page_);
    parent->entries_[static_cast<size_t>(at)] = std::move(replacement);
    parent->changed_ = true;
    if (at != parent->Count() - 1) return;
  }
}

void KXobjIndexKey::DeleteCurrent() {
  if (current_ < 0 || current_ >= Count()) return;
  const bool wasLast = current_ == Count() - 1;
  entries_.erase(entries_.begin() + current_);
  changed_ = true;
  if (Count() == 0) {
    current_ = -1;
    if (parent_ && !tag_->KeepEmptyChild(*this)) Unlink();
    return;
  }
  if (current_ >= Count()) current_ = Count() - 1;
  if (wasLast) PropagateLastKey();
  if (IsBranch() && Count() == 1) Collapse();
}

void KXobjIndexKey::Collapse() {
  const int32_t childPage = entries_[0]->Reference();
  if (parent_) {
    const int at = parent_->IndexOfReference(page_);
    if (at < 0) return;
    parent_->entries_[static_cast<size_t>(at)]->SetReference(childPage);
    parent_->changed_ = true;
  } else {
    tag_->rootPage_ = childPage;
    tag_->headerChanged_ = true;
  }
  orphaned_ = true;
}

void KXobjIndexKey::Unlink() {
  KXobjIndexKey* parent = parent_;
  const int at = parent->IndexOfReference(page_);
  if (at < 0) return;
  orphaned_ = true;
  parent->current_ = at;
  parent->DeleteCurrent();
}

// =======================================================================================
// KXobjIndexTag

KXobjIndexTag::KXobjIndexTag(KXobjIndexFile* file, const std::string& name, int32_t headerPage)
    : file_(file), name_(name), headerPage_(headerPage) {}

KXobjIndexTag::~KXobjIndexTag() {
  try {
    FreePath();
  } catch (...) {
    // A destructor cannot report; the pages were stored when the change was made.
  }
}

KXO_dBaseFld* KXobjIndexTag::Table() const { return file_->Table(); }

void KXobjIndexTag::Damaged(const std::string& what) const {
  const std::string info = file_->FileName() + ": " + what;
  file_->FileError(kErrIndexDamaged, SubIndexTag, info.c_str());
  // An installed error procedure may return; a damaged index must not be walked on.
  throw ETolvernError(EngineErrorMessage(kErrIndexDamaged, SubIndexTag, info.c_str()));
}

void KXobjIndexTag::RequireMaintainable() const {
  if (readOnlyReason_.empty()) return;
  const std::string info =
      file_->FileName() + ": the index cannot be changed (" + readOnlyReason_ + ")";
  file_->FileError(kErrIndexDamaged, SubIndexTag, info.c_str());
  throw ETolvernError(EngineErrorMessage(kErrIndexDamaged, SubIndexTag, info.c_str()));
}

int KXobjIndexTag::CompareKeys(const TkxVariant& key, const TkxVariant& entry,
                               int prefixResult) const {
  int32_t position = 0;
  const KXO_dBaseFld* table = Table();
  const int c =
      key.CompareVariants(entry, position, table ? table->Collation() : nullptr, prefixResult);
  return descendingCompare_ ? -c : c;
}

// --- format operations (base behaviour) ------------------------------------------------

void KXobjIndexTag::KeyAdjust(TkxVariant&) {}

void KXobjIndexTag::SetExpressions(const std::string& keyExpr, const std::string& forExpr) {
  keyExpr_ = keyExpr;
  forExpr_ = forExpr;
  hasFor_ = !Trim(forExpr).empty();
}

int KXobjIndexTag::TagCreate(const std::string&, const std::string& keyExpr,
                             const std::string& forExpr, bool ascending, bool unique) {
  SetExpressions(keyExpr, forExpr);
  ascending_ = ascending;
  unique_ = unique;
  KeyExprCompile();
  ForExprCompile();
  return 0;
}

int32_t KXobjIndexTag::RootPage() { return rootPage_; }
int KXobjIndexTag::PageLoad(int32_t, KXobjIndexKey&) { return 0; }
int KXobjIndexTag::PageStore(int32_t, KXobjIndexKey&) { return 0; }
void KXobjIndexTag::TagLoad() { headerChanged_ = false; }
void KXobjIndexTag::TagStore() { headerChanged_ = false; }

void KXobjIndexTag::KeyExprCompile() {
  keyHandler_.reset();
  if (KXO_dBaseFld* table = Table())
    keyHandler_ = std::make_unique<TkxExpHandler>(table->ExpressionLink(), keyExpr_);
}

void KXobjIndexTag::ForExprCompile() {
  forHandler_.reset();
  if (!hasFor_) return;
  if (KXO_dBaseFld* table = Table())
    forHandler_ = std::make_unique<TkxExpHandler>(table->ExpressionLink(), forExpr_);
}

bool KXobjIndexTag::KeyBuild(KXobjIndexKeyData& key, bool& built) {
  built = false;
  if (!keyHandler_ || !keyHandler_->HasRoot()) return false;
  built = true;
  return keyHandler_->EvaluateToVariant(key);
}

bool KXobjIndexTag::ForTest() {
  if (!forHandler_ || !forHandler_->HasRoot()) return false;
  TkxExpValue value;
  forHandler_->EvaluateToBuffer(value);
  return value.type == kExpLogical && value.logical;
}

bool KXobjIndexTag::KeepEmptyChild(const KXobjIndexKey&) const { return false; }

void KXobjIndexTag::DeleteCurrentKey() {
  if (KXobjIndexKey* leaf = Leaf()) leaf->DeleteCurrent();
  CommitPath();
}

int32_t KXobjIndexTag::DuplicateSearchNumber() const {
  return descendingCompare_ ? 0 : kSearchAfterEqual;
}

std::string KXobjIndexTag::KeyExpression() const {
  return keyHandler_ ? keyHandler_->ExpressionText() : std::string();
}

bool KXobjIndexTag::ProbeKey(TkxVariant& value, std::string& error) {
  try {
    KeyExprCompile();
    bool built = false;
    KXobjIndexKeyData key(256);
    if (!KeyBuild(key, built) || !built) {
      error = "key expression '" + keyExpr_ + "' gives no usable value";
      keyHandler_.reset();
      return false;
    }
    value = key;
    return true;
  } catch (const std::exception& e) {
    error = "key expression '" + keyExpr_ + "': " + e.what();
    keyHandler_.reset();
    return false;
  }
}

void KXobjIndexTag::ScanTable(TkxSort& sorter, bool applyFor) {
  KXO_dBaseFld* table = Table();
  if (!table) return;
  const int32_t count = table->RecordCount();
  TkxProgressScope progress(table->Progress(), kStatusIndexRead, count);
  KXobjIndexKeyData key(256);
  // Every stored record gets its key, whatever order, filter or deleted-record setting the
  // table is shown with: the reads bypass them (the table's plain sequential read).
  for (table->KXO_dBaseFld::GetRecord(PosTop); !table->Eof() && table->RecordCount() > 0;
       table->KXO_dBaseFld::GetRecord(PosNext)) {
    const int32_t recno = table->CurrentRecord();
    if (!(applyFor && hasFor_ && !ForTest())) {
      bool built = false;
      if (!KeyBuild(key, built)) {
        RequireMaintainable();
        Damaged("the key expression gives no value for record " + std::to_string(recno));
      }
      KeyAdjust(key);
      sorter.InsertKey(key, recno);
    }
    if (ProgressDue(recno, count)) progress.Step(recno);
  }
}

// --- path -------------------------------------------------------------------------------

KXobjIndexKey* KXobjIndexTag::Leaf() const {
  KXobjIndexKey* node = root_.get();
  while (node && node->child_) node = node->child_.get();
  return node;
}

int KXobjIndexTag::Depth(const KXobjIndexKey* node) const {
  int depth = 0;
  for (; node && node->parent_; node = node->parent_) ++depth;
  return depth;
}

void KXobjIndexTag::LoadRoot() {
  root_.reset();
  stale_ = false;
  held_.reset();
  rootPage_ = RootPage();
  if (!file_->ValidNodePage(rootPage_) && !inUpdate_ && file_->Disk() &&
      file_->Disk()->Shared()) {
    // The tag header may be newer than the file's end that was read. Read both again
    // under the lock.
    const bool locked = file_->ReadLock();
    try {
      file_->ForgetExternalChange();
      file_->SetNextFreePage(-1);
    } catch (...) {
      if (locked) file_->ReadUnlock();
      throw;
    }
    if (locked) file_->ReadUnlock();
    rootPage_ = RootPage();
  }
  if (!file_->ValidNodePage(rootPage_))
    Damaged("root page " + std::to_string(rootPage_) + " lies outside the file");
  root_ = std::make_unique<KXobjIndexKey>(this, nullptr, rootPage_);
}

void KXobjIndexTag::DropPath() { root_.reset(); }

KXobjIndexKey* KXobjIndexTag::Descend(KXobjIndexKey* node) {
  const int32_t page = node->At(node->current_).Reference();
  if (node->child_ && node->child_->page_ == page && !node->child_->orphaned_)
    return node->child_.get();
  node->child_.reset();
  if (!file_->ValidNodePage(page))
    Damaged("page " + std::to_string(page) + " lies outside the file");
  if (Depth(node) + 1 >= kMaxTreeDepth) Damaged("the tree is deeper than 64 levels (a loop)");
  for (const KXobjIndexKey* up = node; up; up = up->parent_) {
    if (up->page_ == page) Damaged("page " + std::to_string(page) + " refers to itself");
  }
  node->child_ = std::make_unique<KXobjIndexKey>(this, node, page);
  return node->child_.get();
}

int KXobjIndexTag::SearchPage(int32_t recno, const TkxVariant& key, int prefixResult) {
  KXobjIndexKey* node = root_.get();
  const bool byRecNo = file_->KeysByRecNo();
  for (;;) {
    node->current_ = 0;
    if (node->Count() == 0) {
      node->current_ = -1;
      node->child_.reset();
      node->kind_ = KXobjIndexKey::kLeafKind;
      return 1;
    }
    bool descended = false;
    for (int i = 0; i < node->Count(); ++i) {
      const KXobjIndexKeyData& entry = node->At(i);
      int result = CompareKeys(key, entry, prefixResult);
      if (result == 0 && recno == kSearchAfterEqual) {
        result = 1;
      } else if (result == 0 && recno != kSearchAnyRecord && byRecNo) {
        result = entry.KeyRecNo() < recno ? 1 : (entry.KeyRecNo() > recno ? -1 : 0);
      }
      const bool last = i == node->Count() - 1;
      if (result > 0 && !last) continue;
      node->current_ = i;
      if (node->IsBranch()) {
        node = Descend(node);
        descended = true;
        break;
      }
      if (result == 0 && recno != kSearchAnyRecord) {
        const int32_t ref = entry.Reference();
        if (byRecNo) {
          result = recno > ref ? 1 : (recno < ref ? -1 : 0);
        } else {
          result = recno != ref ? 1 : 0;
        }
      }
      if (result > 0) {
        if (last) return 1;
        continue;
      }
      return result;
    }
    if (!descended) return 1;
  }
}

bool KXobjIndexTag::PositionQuery() {
  bool atFirst = true, atLast = true;
  KXobjIndexKey* node = root_.get();
  while (node) {
    if (node->current_ != 0) atFirst = false;
    if (node->current_ != node->Count() - 1) atLast = false;
    if (node->IsLeaf() || !node->child_) break;
    node = node->child_.get();
  }
  if (!node) return false;
  node->atFirst_ = atFirst;
  node->atLast_ = atLast;
  if (!node->IsLeaf() || node->current_ < 0 || node->current_ >= node->Count()) return false;
  const KXobjIndexKeyData& entry = node->At(node->current_);
  current_.Assign(entry);
  current_.SetKeyRecNo(entry.KeyRecNo());
  current_.SetReference(entry.Reference());
  return true;
}

bool KXobjIndexTag::EnterFirst(KXobjIndexKey* node) {
  if (node->Count() == 0) {
    node->current_ = -1;
    return false;
  }
  for (node->current_ = 0;; ++node->current_) {
    if (node->IsLeaf()) return true;
    if (EnterFirst(Descend(node))) return true;
    if (node->current_ + 1 >= node->Count()) return false;
  }
}

bool KXobjIndexTag::EnterLast(KXobjIndexKey* node) {
  if (node->Count() == 0) {
    node->current_ = -1;
    return false;
  }
  for (node->current_ = node->Count() - 1;; --node->current_) {
    if (node->IsLeaf()) return true;
    if (EnterLast(Descend(node))) return true;
    if (node->current_ == 0) return false;
  }
}

bool KXobjIndexTag::PathFirst() { return root_ && EnterFirst(root_.get()); }
bool KXobjIndexTag::PathLast() { return root_ && EnterLast(root_.get()); }

KXobjIndexKey* KXobjIndexTag::PathRightmostLeaf() {
  KXobjIndexKey* node = root_.get();
  while (node) {
    node->current_ = node->Count() - 1;
    if (node->IsLeaf() || node->Count() == 0) return node;
    node = Descend(node);
  }
  return nullptr;
}

bool KXobjIndexTag::PathNext() {
  KXobjIndexKey* leaf = Leaf();
  if (!leaf) return false;
  if (leaf->IsLeaf() && leaf->current_ >= 0 && leaf->current_ + 1 < leaf->Count()) {
    ++leaf->current_;
    return true;
  }
  for (KXobjIndexKey* node = leaf->parent_; node; node = node->parent_) {
    while (node->current_ + 1 < node->Count()) {
      ++node->current_;
      if (EnterFirst(Descend(node))) return true;
    }
  }
  // Nothing follows: stay on the last key.
  PathLast();
  return false;
}

bool KXobjIndexTag::PathPrior() {
  KXobjIndexKey* leaf = Leaf();
  if (!leaf) return false;
  if (leaf->IsLeaf() && leaf->current_ > 0 && leaf->current_ < leaf->Count()) {
    --leaf->current_;
    return true;
  }
  for (KXobjIndexKey* node = leaf->parent_; node; node = node->parent_) {
    while (node->current_ > 0) {
      --node->current_;
      if (EnterLast(Descend(node))) return true;
    }
  }
  PathFirst();
  return false;
}

bool KXobjIndexTag::PathReread() {
  for (KXobjIndexKey* node = root_.get(); node;) {
    if (node->current_ < 0 || node->current_ >= node->Count()) return false;
    if (node->IsLeaf()) return true;
    node = Descend(node);
  }
  return false;
}

void KXobjIndexTag::ReadPath(int mode) {
  ReadStep step(*this);
  StartRun();
  FreePath();
  LoadRoot();
  if (mode == 2) return;
  KXO_dBaseFld* table = Table();
  if (mode == 1 && keyHandler_ && table && table->CurrentRecord() >= 1 &&
      table->CurrentRecord() <= table->RecordCount() && root_->Count() > 0) {
    KXobjIndexKeyData key(256);
    bool built = false;
    if (KeyBuild(key, built)) {
      KeyAdjust(key);
      if (FindEntry(key, table->CurrentRecord())) {
        bof_ = eof_ = false;
        return;
      }
    }
  }
  Goto(PosTop);
}

void KXobjIndexTag::StorePath() {
  for (KXobjIndexKey* node = Leaf(); node; node = node->parent_) {
    if (!node->changed_ || node->orphaned_) continue;
    if (node->page_ <= 0) node->page_ = file_->PageNew();
    PageStore(node->page_, *node);
    node->changed_ = false;
  }
}

void KXobjIndexTag::FreePath() {
  if (root_) {
    StorePath();
    root_.reset();
  }
  if (headerChanged_) TagStore();
}

void KXobjIndexTag::StoreChanges() {
  if (root_) StorePath();
  if (headerChanged_) TagStore();
}

void KXobjIndexTag::ForgetPath() {
  HoldPosition();
  root_.reset();
  headerChanged_ = false;
}

// --- readers of a shared file --------------------------------------------------------------

KXobjIndexTag::ReadStep::ReadStep(KXobjIndexTag& tag) : tag_(tag) {
  if (tag_.readDepth_++ > 0 || tag_.inUpdate_) return;
  KXO_DiskFile* disk = tag_.file_->Disk();
  if (!disk || !disk->Shared()) return;
  active_ = true;
  try {
    locked_ = tag_.file_->ReadLock();
    tag_.NoticeChange();
  } catch (...) {
    if (locked_) tag_.file_->ReadUnlock();
    --tag_.readDepth_;
    throw;
  }
}

KXobjIndexTag::ReadStep::~ReadStep() {
  if (locked_) tag_.file_->ReadUnlock();
  --tag_.readDepth_;
}

void KXobjIndexTag::NoticeChange() {
  std::string marker = file_->ReadMarker();
  bool changed = marker != marker_;
  marker_ = std::move(marker);
  if (!changed && root_ && !file_->MarkerCountsChanges()) changed = !LeafMatchesFile();
  if (!changed) return;
  runChanged_ = true;
  // Pages may lie beyond the end that was known.
  file_->SetNextFreePage(-1);
  if (!root_) return;
  HoldPosition();
  stale_ = true;
}

bool KXobjIndexTag::LeafMatchesFile() {
  const KXobjIndexKey* leaf = Leaf();
  if (!leaf || !leaf->IsLeaf() || leaf->page_ <= 0) return true;
  if (!file_->ValidNodePage(leaf->page_)) return false;
  const KXobjIndexKey fresh(this, leaf->parent_, leaf->page_);
  if (fresh.Count() != leaf->Count()) return false;
  for (int i = 0; i < leaf->Count(); ++i) {
    const KXobjIndexKeyData& a = leaf->At(i);
    const KXobjIndexKeyData& b = fresh.At(i);
    if (a.Reference() != b.Reference() || a.KeyRecNo() != b.KeyRecNo() ||
        a.VariantType() != b.VariantType() || a.Length() != b.Length() ||
        (a.Length() > 0 && std::memcmp(a.Data(), b.Data(), static_cast<size_t>(a.Length())) != 0))
      return false;
  }
  return true;
}

void KXobjIndexTag::HoldPosition() {
  const KXobjIndexKey* leaf = Leaf();
  if (!leaf || !leaf->IsLeaf() || leaf->current_ < 0 || leaf->current_ >= leaf->Count()) return;
  held_ = leaf->At(leaf->current_).Clone();
  stale_ = true;
}

void KXobjIndexTag::StartRun() {
  if (runSeen_.Max() >= 0) runSeen_.ClearAll();
  runCode_ = 0;
  runChanged_ = false;
}

bool KXobjIndexTag::SeenInRun(int32_t recno) const { return runSeen_.TestBit(recno); }

void KXobjIndexTag::MarkSeenInRun(int32_t recno) {
  // Record numbers far beyond the table's end (a damaged entry) are not worth a page.
  const KXO_dBaseFld* table = Table();
  const int64_t bound = int64_t{table ? table->RecordCount() : 0} + (int64_t{1} << 20);
  if (recno > 0 && recno <= bound) runSeen_.SetBit(recno, TkxHugeSet::kSet);
}

int KXobjIndexTag::Resync() {
  const std::unique_ptr<KXobjIndexKeyData> held = std::move(held_);
  LoadRoot();
  const int32_t recno = held->Reference();
  if (file_->KeysByRecNo()) {
    const int result = SearchPage(recno, *held, -1);
    if (result == 0) PositionQuery();
    return result;
  }
  if (FindEntry(*held, recno)) return 0;
  // Gone: equal keys keep the order they were added in, so its place among them is not
  // known; the path goes past them.
  return SearchPage(kSearchAfterEqual, *held, -1) > 0 ? 1 : -1;
}

void KXobjIndexTag::CommitPath() {
  StorePath();
  root_.reset();
  if (headerChanged_) TagStore();
  LoadRoot();
}

void KXobjIndexTag::SplitLink(KXobjIndexKey& node, const KXobjIndexKeyData& separator) {
  if (!node.parent_) {
    // The node is the root: a new root above it holds one entry for it.
    auto newRoot = std::make_unique<KXobjIndexKey>(this, nullptr, 0);
    newRoot->page_ = file_->PageNew();
    newRoot->kind_ = KXobjIndexKey::kNewRootKind;
    std::unique_ptr<KXobjIndexKeyData> entry =
        node.Count() > 0 ? node.Last().Clone() : std::make_unique<KXobjIndexKeyData>();
    entry->SetReference(node.page_);
    newRoot->Append(std::move(entry));
    newRoot->current_ = 0;
    newRoot->changed_ = true;
    if (root_.get() == &node) {
      newRoot->child_ = std::move(root_);
    }
    node.parent_ = newRoot.get();
    root_ = std::move(newRoot);
    rootPage_ = root_->page_;
    headerChanged_ = true;
  }
  KXobjIndexKey* parent = node.parent_;
  int at = parent->IndexOfReference(node.page_);
  if (at < 0) at = parent->Count();
  parent->InsertEntry(at, separator);
  node.linked_ = true;
}

std::vector<int> KXobjIndexTag::SplitSizes(int count, int limit) {
  if (limit < 1) limit = 1;
  if (count <= limit) return {count};
  const int pages = (count + limit - 1) / limit;
  std::vector<int> sizes(static_cast<size_t>(pages), count / pages);
  for (int i = 0; i < count % pages; ++i) ++sizes[static_cast<size_t>(i)];
  return sizes;
}

bool KXobjIndexTag::OnRightmostPath(const KXobjIndexKey& node) const {
  const KXobjIndexKey* child = &node;
  for (const KXobjIndexKey* up = node.parent_; up; child = up, up = up->parent_) {
    if (up->IndexOfReference(child->page_) != up->Count() - 1) return false;
  }
  return true;
}

// --- seek, movement, range --------------------------------------------------------------

bool KXobjIndexTag::InRangeHigh() const {
  const int c = CompareKeys(high_, current_, 0);
  return highFlag_ ? c >= 0 : c > 0;
}

bool KXobjIndexTag::InRangeLow() const {
  const int c = CompareKeys(low_, current_, 0);
  return lowFlag_ ? c <= 0 : c < 0;
}

void KXobjIndexTag::ApplyRange() {
  if (inUpdate_ || bof_ || eof_) return;
  if (!high_.IsEmpty() && !InRangeHigh()) eof_ = true;
  if (!low_.IsEmpty() && !InRangeLow()) bof_ = true;
}

int32_t KXobjIndexTag::Finish() {
  if (bof_ || eof_) current_.SetReference(0);
  if (reverseWalk_) std::swap(bof_, eof_);
  return current_.Reference();
}

bool KXobjIndexTag::MoveStaysInLeaf(int32_t code) const {
  if (!root_ || stale_) return false;
  if (reverseWalk_) code = code == PosNext ? PosPrior : (code == PosPrior ? PosNext : code);
  const KXobjIndexKey* leaf = Leaf();
  if (!leaf || !leaf->IsLeaf()) return false;
  const int at = leaf->current_;
  if (code == PosNext) return at >= 0 && at + 1 < leaf->Count();
  if (code == PosPrior) return at > 0 && at < leaf->Count();
  return false;
}

int32_t KXobjIndexTag::Goto(int32_t code) {
  KXO_DiskFile* disk = file_->Disk();
  if (readDepth_ > 0 || inUpdate_ || !disk || !disk->Shared()) return GotoOnce(code);
  // A move inside the leaf held reads no page: the leaf is a whole page as it was read
  // under the lock, a consistent if perhaps older picture. Only a step that reads pages
  // takes the lock and looks for another program's changes.
  std::optional<ReadStep> step;
  if (!MoveStaysInLeaf(code)) step.emplace(*this);
  const bool move = code == PosNext || code == PosPrior;
  if (code == PosTop || code == PosBottom) StartRun();
  if (move && runCode_ != 0 && code != runCode_) {
    // A turn starts a run of its own: the records on the way back are met once more.
    if (runSeen_.Max() >= 0) runSeen_.ClearAll();
  }
  if (move) {
    runCode_ = code;
    // The record the walk stands on (after a seek, say) has been met.
    if (!bof_ && !eof_) MarkSeenInRun(current_.Reference());
  }
  int32_t recno = GotoOnce(code);
  while (move && runChanged_ && recno > 0 && SeenInRun(recno)) {
    if (!step && !MoveStaysInLeaf(code)) step.emplace(*this);
    recno = GotoOnce(code);
  }
  MarkSeenInRun(recno);
  return recno;
}

int32_t KXobjIndexTag::GotoOnce(int32_t code) {
  current_.SetReference(0);
  // Another program changed the file since the path was read: a move starts again from
  // the entry the path stood on (or the place where it was), read afresh.
  int resync = 0;
  if (stale_ && held_ && !inUpdate_ && (code == PosNext || code == PosPrior || code == PosSame))
    resync = Resync();
  if (!root_ && !inUpdate_) LoadRoot();
  if (!root_) return 0;
  if (reverseWalk_) {
    if (code == PosTop)
      code = PosBottom;
    else if (code == PosBottom)
      code = PosTop;
    else if (code == PosNext)
      code = PosPrior;
    else if (code == PosPrior)
      code = PosNext;
  }
  bof_ = eof_ = false;
  switch (code) {
    case PosSame: {
      const bool found = resync == 0 ? PathReread() && PositionQuery() : resync < 0 && PositionQuery();
      bof_ = eof_ = !found;
      ApplyRange();
      break;
    }
    case PosBottom: {
      if (!inUpdate_) ReadPath(2);
      if (high_.IsEmpty() || inUpdate_) {
        if (PathLast())
          PositionQuery();
        else
          eof_ = true;
      } else {
        // Past the keys that begin with the limit, then one step back.
        const int result = SearchPage(kSearchAfterEqual, high_, 1);
        const bool positioned = result < 0 ? PathPrior() : PathLast();
        if (positioned)
          PositionQuery();
        else
          eof_ = true;
      }
      ApplyRange();
      if (bof_) eof_ = true;
      bof_ = eof_;
      break;
    }
    case PosTop: {
      if (!inUpdate_) ReadPath(2);
      if (low_.IsEmpty() || inUpdate_) {
        if (PathFirst())
          PositionQuery();
        else
          bof_ = true;
      } else {
        const int result = SearchPage(kSearchAnyRecord, low_, 0);
        if (result > 0)
          eof_ = true;
        else
          PositionQuery();
      }
      ApplyRange();
      if (eof_) bof_ = true;
      eof_ = bof_;
      break;
    }
    case PosPrior:
      // Nothing followed the place of the entry: the last one is its prior.
      if (resync > 0 ? PathLast() : PathPrior())
        PositionQuery();
      else
        bof_ = true;
      ApplyRange();
      break;
    case PosNext:
      // The entry is gone and the path stands on the one after its place already.
      if (resync < 0 || (resync == 0 && PathNext()))
        PositionQuery();
      else
        eof_ = true;
      ApplyRange();
      break;
    default:
      return 0;
  }
  return Finish();
}

int32_t KXobjIndexTag::Seek(const KXobjIndexKeyData& key) {
  ReadStep step(*this);
  if (step.Active()) StartRun();
  if (KXO_dBaseFld* table = Table()) file_->SetExactSeek(table->ExactMatch());
  current_.SetReference(0);
  if (!inUpdate_ || !root_) ReadPath(2);
  if (!root_) return 0;
  KXobjIndexKeyData search(key);
  KeyAdjust(search);
  bof_ = eof_ = false;
  const int32_t recno = key.Reference() == 0 ? kSearchAnyRecord : key.Reference();
  const int prefix = file_->ExactSeek() || inUpdate_ ? -1 : 0;
  if (reverseWalk_ && recno == kSearchAnyRecord && !inUpdate_) return SeekReversed(search, prefix);
  const int result = SearchPage(recno, search, prefix);
  if (result > 0) {
    // Past the last key.
    eof_ = true;
    current_.SetReference(0);
    return 0;
  }
  PositionQuery();
  if (result < 0) {
    // On the next greater key (a soft seek may read it); the seek itself failed.
    if (!inUpdate_ && !high_.IsEmpty() && !InRangeHigh()) eof_ = true;
    return 0;
  }
  if (!inUpdate_ && ((!high_.IsEmpty() && !InRangeHigh()) || (!low_.IsEmpty() && !InRangeLow()))) {
    eof_ = true;
    current_.SetReference(0);
    return 0;
  }
  return current_.Reference();
}

int32_t KXobjIndexTag::SeekReversed(const KXobjIndexKeyData& search, int prefix) {
  // The walk meets the keys from the end of the stored order: the first entry of a key
  // in the walk is the last one stored. Past every entry that matches, then one back.
  const int past = SearchPage(kSearchAfterEqual, search, prefix);
  if (!(past < 0 ? PathPrior() : PathLast())) {
    // Every stored key is greater: the walk ends before reaching the key.
    eof_ = true;
    current_.SetReference(0);
    return 0;
  }
  PositionQuery();
  if (CompareKeys(search, current_, prefix) != 0) {
    // On the next key in the walk (a soft seek may read it); the seek itself failed.
    if (!low_.IsEmpty() && !InRangeLow()) eof_ = true;
    return 0;
  }
  if ((!high_.IsEmpty() && !InRangeHigh()) || (!low_.IsEmpty() && !InRangeLow())) {
    eof_ = true;
    current_.SetReference(0);
    return 0;
  }
  return current_.Reference();
}

int32_t KXobjIndexTag::SeekKeep(const KXobjIndexKeyData& key) {
  // The kept path stays as fresh or as stale as it was.
  ReadStep step(*this);
  const bool savedStale = stale_;
  std::unique_ptr<KXobjIndexKeyData> savedHeld = std::move(held_);
  std::unique_ptr<KXobjIndexKey> savedRoot = std::move(root_);
  const KXobjIndexKeyData savedCurrent = current_;
  const bool savedBof = bof_, savedEof = eof_;
  int32_t result = 0;
  try {
    result = Seek(key);
  } catch (...) {
    root_ = std::move(savedRoot);
    current_ = savedCurrent;
    bof_ = savedBof;
    eof_ = savedEof;
    stale_ = savedStale;
    held_ = std::move(savedHeld);
    throw;
  }
  FreePath();
  root_ = std::move(savedRoot);
  current_ = savedCurrent;
  bof_ = savedBof;
  eof_ = savedEof;
  stale_ = savedStale;
  held_ = std::move(savedHeld);
  return result;
}

int32_t KXobjIndexTag::SetRange(const TkxVariant& low, bool lowFlag, const TkxVariant& high,
                                bool highFlag) {
  low_.Clear();
  high_.Clear();
  lowFlag_ = lowFlag;
  highFlag_ = highFlag;
  if (!low.IsEmpty()) {
    low_.Assign(low);
    KeyAdjust(low_);
  }
  if (!high.IsEmpty()) {
    high_.Assign(high);
    KeyAdjust(high_);
  }
  return Goto(PosTop);
}

void KXobjIndexTag::ClearRange() {
  low_.Clear();
  high_.Clear();
  lowFlag_ = highFlag_ = false;
}

void KXobjIndexTag::PeekRecords(int32_t code, int32_t count, std::vector<int32_t>& out) {
  out.clear();
  if ((code != PosNext && code != PosPrior) || count <= 0) return;
  if (inUpdate_ || !root_ || stale_ || bof_ || eof_ || current_.Reference() <= 0) return;
  ReadStep step(*this);
  if (stale_) return;  // the next move finds its way in the changed file first
  const KXobjIndexKey* leaf = Leaf();
  if (!leaf || !leaf->IsLeaf() || leaf->current_ < 0 || leaf->current_ >= leaf->Count()) return;
  std::unique_ptr<KXobjIndexKeyData> here = leaf->At(leaf->current_).Clone();
  const std::unique_ptr<KXobjIndexKeyData> current = current_.Clone();
  const int32_t recno = current_.Reference();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t next = GotoOnce(code);
    if (next <= 0 || bof_ || eof_) break;
    out.push_back(next);
  }
  // Back to the entry the walk stands on.
  LoadRoot();
  bof_ = eof_ = false;
  if (!FindEntry(*here, recno)) {
    held_ = std::move(here);
    stale_ = true;
  }
  current_ = *current;
}

void KXobjIndexTag::SyncToRecord(int32_t recno) {
  if (root_ && current_.Reference() == recno && !bof_ && !eof_) return;
  KXO_dBaseFld* table = Table();
  if (!table || !keyHandler_) return;
  ReadStep step(*this);
  StartRun();
  FreePath();
  LoadRoot();
  KXobjIndexKeyData key(256);
  bool built = false;
  if (!KeyBuild(key, built)) return;
  KeyAdjust(key);
  bof_ = eof_ = false;
  if (!FindEntry(key, recno)) {
    bof_ = eof_ = true;
    current_.SetReference(0);
  }
}

bool KXobjIndexTag::FindEntry(const KXobjIndexKeyData& key, int32_t recno) {
  if (!root_) return false;
  if (file_->KeysByRecNo()) {
    if (SearchPage(recno, key, -1) != 0) return false;
    return PositionQuery();
  }
  if (SearchPage(kSearchAnyRecord, key, -1) != 0) return false;
  for (;;) {
    KXobjIndexKey* leaf = Leaf();
    if (!leaf || leaf->current_ < 0 || leaf->current_ >= leaf->Count()) return false;
    const KXobjIndexKeyData& entry = leaf->At(leaf->current_);
    if (CompareKeys(key, entry, -1) != 0) return false;
    if (entry.Reference() == recno) return PositionQuery();
    if (!PathNext()) return false;
  }
}

// --- changes ------------------------------------------------------------------------------

bool KXobjIndexTag::KeyAdd(KXobjIndexKeyData& key) {
  RequireMaintainable();
  if (!inUpdate_ || !root_) ReadPath(2);
  if (!root_) return false;
  KXobjIndexKeyData adjusted(key);
  KeyAdjust(adjusted);
  bof_ = eof_ = false;
  if (unique_ && SearchPage(kSearchAnyRecord, adjusted, -1) == 0) return false;
  const int32_t searchNumber =
      file_->KeysByRecNo() ? adjusted.Reference() : DuplicateSearchNumber();
  const int result = SearchPage(searchNumber, adjusted, -1);
  KXobjIndexKey* leaf = Leaf();
  leaf->InsertEntry(result <= 0 ? leaf->current_ : leaf->Count(), adjusted);
  CommitPath();
  if (FindEntry(adjusted, adjusted.Reference())) {
    KXobjIndexKey* at = Leaf();
    bof_ = at->atFirst_;
    eof_ = at->atLast_;
  } else {
    eof_ = true;
  }
  if (reverseWalk_) std::swap(bof_, eof_);
  return true;
}

bool KXobjIndexTag::EvaluateKey(KXobjIndexKeyData& key) {
  bool built = false;
  if (!KeyBuild(key, built)) {
    Damaged("the key expression gives no value");
  }
  return built;
}

bool KXobjIndexTag::KeyUpdate(int32_t recno, bool append) {
  KXO_dBaseFld* table = Table();
  if (!table) return false;
  RequireMaintainable();
  const bool hadPath = root_ != nullptr;
  inUpdate_ = true;
  keyUpdated_ = false;
  try {
    const bool qualifies = hasFor_ ? ForTest() : true;
    KXobjIndexKeyData newKey(256);
    EvaluateKey(newKey);
    newKey.SetKeyRecNo(recno);
    newKey.SetReference(recno);
    if (append) {
      if (qualifies) {
        ReadPath(2);
        KeyAdd(newKey);
      }
    } else {
      // The key the record had before this write: the expression evaluated on the saved
      // copy of the record as last read.
      KXobjIndexKeyData oldKey(256);
      bool oldQualifies = true;
      table->SwapBufferWithSaved();
      try {
        EvaluateKey(oldKey);
        if (hasFor_) oldQualifies = ForTest();
      } catch (...) {
        table->SwapBufferWithSaved();
        throw;
      }
      table->SwapBufferWithSaved();
      oldKey.SetKeyRecNo(recno);
      oldKey.SetReference(recno);
      KXobjIndexKeyData oldAdjusted(oldKey), newAdjusted(newKey);
      KeyAdjust(oldAdjusted);
      KeyAdjust(newAdjusted);
      ReadPath(2);
      const bool found = oldQualifies && FindEntry(oldAdjusted, recno);
      int32_t position = 0;
      const bool same =
          oldAdjusted.CompareVariants(newAdjusted, position, table->Collation(), -1) == 0 &&
          oldAdjusted.Length() == newAdjusted.Length();
      if (same && qualifies) {
        if (!found) KeyAdd(newKey);
      } else {
        if (found) DeleteCurrentKey();
        if (qualifies) KeyAdd(newKey);
      }
    }
    keyUpdated_ = true;
  } catch (...) {
    inUpdate_ = false;
    throw;
  }
  inUpdate_ = false;
  if (!hadPath) FreePath();
  return keyUpdated_;
}

// =======================================================================================
// KXobjIndexFile

KXobjIndexFile::KXobjIndexFile(KXO_dBaseFld* table) : table_(table) {}

KXobjIndexFile::~KXobjIndexFile() {
  // Tags store their pages through the disk file: free them first.
  try {
    tags_.clear();
    EndWriteBatch();
  } catch (...) {
    // A destructor cannot report.
  }
  disk_.reset();
}

int KXobjIndexFile::TagAdd(const std::string&, const std::string&, const std::string&, bool, bool) {
  return 0;
}

int KXobjIndexFile::TagDelete(const std::string&) { return 0; }

void KXobjIndexFile::FileError(int32_t code, int32_t subCode, const char* info) {
  if (table_) {
    table_->FileError(code, subCode, info);
  } else {
    EngineErrorProc(code, subCode, info);
  }
}

int32_t KXobjIndexFile::PageNew() { return -1; }
int32_t KXobjIndexFile::PageCount() { return -1; }

bool KXobjIndexFile::PageRead(int32_t position, void* buffer, int32_t length) {
  if (!disk_ || position < 0 || length < 0) return false;
  if (!batch_.empty()) FlushBatch();
  return disk_->ReadAt(position, buffer, length) == length;
}

bool KXobjIndexFile::PageWrite(int32_t position, const void* buffer, int32_t length) {
  if (!disk_ || position < 0 || length < 0) return false;
  if (!batching_) {
    disk_->WriteAt(position, buffer, length);
    return true;
  }
  constexpr size_t kBatchBytes = 1 << 20;
  if (!batch_.empty() && (position != batchStart_ + static_cast<int64_t>(batch_.size()) ||
                          batch_.size() >= kBatchBytes)) {
    FlushBatch();
  }
  if (batch_.empty()) batchStart_ = position;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  batch_.insert(batch_.end(), bytes, bytes + length);
  return true;
}

void KXobjIndexFile::FlushBatch() {
  if (batch_.empty() || !disk_) return;
  try {
    disk_->WriteAt(batchStart_, batch_.data(), static_cast<int64_t>(batch_.size()));
  } catch (...) {
    batch_.clear();
    throw;
  }
  batch_.clear();  // keeps its room for the next pages
}

void KXobjIndexFile::BeginWriteBatch() {
  batching_ = true;
  batch_.reserve((1 << 20) + 4096);
}

void KXobjIndexFile::EndWriteBatch() {
  batching_ = false;
  FlushBatch();
  batch_.shrink_to_fit();
}

void KXobjIndexFile::Reindex() {}

bool KXobjIndexFile::Rename(const std::string& newName) {
  if (!disk_) return false;
  const std::string ext = platform::ExtensionOf(fileName_);
  std::string target = platform::ReplaceExtension(newName, ext);
  if (target.find('/') == std::string::npos)
    target = platform::DirectoryOf(disk_->FileName()) + "/" + target;
  if (!disk_->RenameTo(target)) return false;
  fileName_ = platform::FileNameOf(disk_->FileName());
  canonicalPath_ = platform::CanonicalPath(disk_->FileName());
  return true;
}

bool KXobjIndexFile::KeyUpdateAll(int32_t recno, bool append) {
  nextFree_ = -1;
  for (auto& tag : tags_) tag->KeyUpdate(recno, append);
  return true;
}

bool KXobjIndexFile::ExternalChange() {
  // A format without a change counter cannot tell: for a shared file, what is held of it
  // is read again under the lock.
  return disk_ && disk_->Shared();
}

void KXobjIndexFile::LockProtocolSet(int protocol) {
  TkxLockOffsets offsets{};
  if (!LockOffsetsOf(protocol, true, offsets)) return;
  protocol_ = protocol;
  lockOffset_ = offsets.indexLockOffset;
  lockLength_ = offsets.indexLockLength;
}

void KXobjIndexFile::Zap() {}

bool KXobjIndexFile::ValidNodePage(int32_t page) { return page > 0; }

KXobjIndexTag* KXobjIndexFile::TagByName(const std::string& name) const {
  const std::string wanted = UpperCase(Trim(name));
  for (const auto& tag : tags_) {
    if (UpperCase(tag->TagName()) == wanted) return tag.get();
  }
  return nullptr;
}

KXobjIndexTag* KXobjIndexFile::TagAt(int index) const {
  if (index < 0 || index >= TagCount()) return nullptr;
  return tags_[static_cast<size_t>(index)].get();
}

bool KXobjIndexFile::SameFile(const std::string& path) const {
  return disk_ && platform::CanonicalPath(Trim(path)) == canonicalPath_;
}

bool KXobjIndexFile::IndexLock() {
  if (!disk_ || !disk_->Shared()) return true;
  if (disk_->LockRegionWaiting(lockOffset_, lockLength_)) return true;
  const std::string info =
      FormatMessage(kMsgLockError, {std::to_string(disk_->LastError()), fileName_});
  FileError(ErrLocked, SubIndexTag, info.c_str());
  // An error procedure that returns must not let the write go on.
  throw ETolvernError(info);
}

bool KXobjIndexFile::IndexUnlock() { return disk_ ? disk_->UnlockRegion() : true; }

namespace {
thread_local int definitionsOpenDepth = 0;
}  // namespace

IndexDefinitionsOpen::IndexDefinitionsOpen() { ++definitionsOpenDepth; }
IndexDefinitionsOpen::~IndexDefinitionsOpen() { --definitionsOpenDepth; }
bool IndexDefinitionsOpen::Active() { return definitionsOpenDepth > 0; }

namespace {
thread_local int skipDamagedTagsDepth = 0;
}  // namespace

IndexDamagedTagsSkipped::IndexDamagedTagsSkipped() { ++skipDamagedTagsDepth; }
IndexDamagedTagsSkipped::~IndexDamagedTagsSkipped() { --skipDamagedTagsDepth; }
bool IndexDamagedTagsSkipped::Active() { return skipDamagedTagsDepth > 0; }

bool KXobjIndexFile::ReadLock() {
  if (!disk_ || !disk_->Shared()) return false;
  const uint32_t step = std::max<uint32_t>(1, MemoLockWaitStep);
  const uint32_t attempts = std::max<uint32_t>(1, MemoLockWaitTotal / step);
  for (uint32_t i = 0;; ++i) {
    if (disk_->LockRegionShared(lockOffset_, lockLength_)) return true;
    if (disk_->LastError() != ErrLocked || i + 1 >= attempts) break;
    platform::SleepMs(step);
  }
  const std::string info =
      FormatMessage(kMsgLockError, {std::to_string(disk_->LastError()), fileName_});
  FileError(ErrLocked, SubIndexTag, info.c_str());
  throw ETolvernError(info);
}

void KXobjIndexFile::ReadUnlock() {
  if (disk_) disk_->UnlockRegion();
}

std::string KXobjIndexFile::ReadMarker() {
  if (!disk_) return {};
  if (!batch_.empty()) FlushBatch();
  std::string marker(static_cast<size_t>(std::max<int32_t>(0, MarkerBytes())), '\0');
  const int64_t got = disk_->ReadAt(0, marker.data(), static_cast<int64_t>(marker.size()));
  marker.resize(static_cast<size_t>(std::max<int64_t>(0, got)));
  if (!MarkerCountsChanges()) {
    const int64_t size = disk_->FileSize();
    marker.append(reinterpret_cast<const char*>(&size), sizeof size);
  }
  return marker;
}

int32_t KXobjIndexFile::MarkerBytes() const { return 64; }

bool KXobjIndexFile::MarkerCountsChanges() const { return false; }

void KXobjIndexFile::ForgetExternalChange() {
  if (!ExternalChange()) return;
  for (auto& tag : tags_) {
    tag->ForgetPath();
    tag->TagLoad();
  }
  SetNextFreePage(-1);
}

KXobjIndexTag* KXobjIndexFile::AddTag(std::unique_ptr<KXobjIndexTag> tag) {
  tags_.push_back(std::move(tag));
  return tags_.back().get();
}

KXobjIndexTag* KXobjIndexFile::InsertTag(int index, std::unique_ptr<KXobjIndexTag> tag) {
  index = std::clamp(index, 0, TagCount());
  return tags_.insert(tags_.begin() + index, std::move(tag))->get();
}

void KXobjIndexFile::FreeTag(const KXobjIndexTag* tag) {
  auto it = std::find_if(tags_.begin(), tags_.end(),
                         [tag](const auto& held) { return held.get() == tag; });
  if (it != tags_.end()) tags_.erase(it);
}

void KXobjIndexFile::AttachDiskFile(const std::string& name, const std::string& defaultExt,
                                    bool create, bool overwrite, bool readWrite, bool shared) {
  std::string path = Trim(name);
  if (platform::ExtensionOf(path).empty()) {
    const std::string tableExt = table_ ? platform::ExtensionOf(table_->FileName()) : "";
    path += platform::MatchExtensionCase(tableExt, defaultExt);
  }
  if (path.find('/') == std::string::npos && table_)
    path = platform::DirectoryOf(table_->FileName()) + "/" + path;
  const std::optional<std::string> existing =
      platform::FindCompanion(platform::DirectoryOf(path), platform::FileNameOf(path));
  fileName_ = platform::FileNameOf(existing ? *existing : path);
  if (create && (overwrite || !existing)) {
    disk_ = std::make_unique<KXO_DiskFile>(existing ? *existing : path, true, shared);
    disk_->CreateFile();
  } else if (existing) {
    disk_ = std::make_unique<KXO_DiskFile>(*existing, create ? true : readWrite, shared);
    disk_->OpenFile();
  }
  if (disk_) canonicalPath_ = platform::CanonicalPath(disk_->FileName());
}

WholeFileLock::WholeFileLock(KXO_DiskFile* disk) : disk_(disk) {
  const bool locked =
      disk_->Shared() ? disk_->LockRegionWaiting(0, 0x7FFFFFFF) : disk_->LockWholeFile();
  if (!locked) {
    const std::string info = FormatMessage(
        kMsgLockError,
        {std::to_string(disk_->LastError()), platform::FileNameOf(disk_->FileName())});
    disk_->FileError(ErrLocked, SubIndexTag, info.c_str());
    throw ETolvernError(info);
  }
  locked_ = disk_->Shared();
}

WholeFileLock::~WholeFileLock() {
  if (locked_) disk_->UnlockRegion();
}

void WriteBatch::Close() {
  closed_ = true;
  file_->EndWriteBatch();
}

WriteBatch::~WriteBatch() {
  if (closed_) return;
  try {
    file_->EndWriteBatch();
  } catch (...) {
    // Unwinding already: the first error is the one reported.
  }
}

}  // namespace tolvern
