#include "kx6_dbsy.h"

#include <algorithm>
#include <cmath>

#include "kx6_cnst.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_mdx.h"
#include "kx6_cdx.h"
#include "kx6_mdx.h"
#include "kx6_memo.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_sql.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"
#include "platform/pf_text.h"

namespace tolvern {

namespace {

constexpr int32_t kReadAheadBytes = 32768;

// The direction that repeats a positioned read until a record is accepted.
int32_t DirectionOf(int32_t code) {
  switch (code) {
    case PosSame:
    case PosTop:
    case PosNext:
      return PosNext;
    case PosBottom:
    case PosPrior:
      return PosPrior;
    default:
      return 0;
  }
}

std::string UpperTrim(const std::string& s) { return UpperCase(Trim(s)); }

}  // namespace

KXO_dBHandler::KXO_dBHandler(const std::string& name, bool readWrite, bool shared)
    : KXO_dBaseFld(name, readWrite, shared) {
  FollowOpenFiles();
}

KXO_dBHandler::~KXO_dBHandler() {
  try {
    CloseAllIndexes();
  } catch (...) {
    // Closing cannot report; changed index pages were written as far as possible.
  }
  filterExpr_.reset();
}

// ---------------------------------------------------------------------------------------
// Index files and order

KXobjIndexFile* KXO_dBHandler::IndexFile(int slot) const {
  if (slot < 1 || slot > kMaxIndexFiles) return nullptr;
  return indexFiles_[static_cast<size_t>(slot - 1)].get();
}

int KXO_dBHandler::IndexFileCount() const {
  int n = 0;
  for (const auto& f : indexFiles_) n += f ? 1 : 0;
  return n;
}

bool KXO_dBHandler::HasIndex() { return indexFiles_[0] != nullptr; }

KXobjIndexTag* KXO_dBHandler::TagByName(const std::string& name) const {
  const std::string wanted = UpperTrim(name);
  for (const auto& file : indexFiles_) {
    if (!file) continue;
    if (KXobjIndexTag* tag = file->TagByName(wanted)) return tag;
  }
  return nullptr;
}

KXobjIndexTag* KXO_dBHandler::TagByNumber(int n) const {
  if (n < 1) return nullptr;
  for (const auto& file : indexFiles_) {
    if (!file) continue;
    if (n <= file->TagCount()) return file->TagAt(n - 1);
    n -= file->TagCount();
  }
  return nullptr;
}

std::string KXO_dBHandler::IndexPath(const std::string& fileName) const {
  std::string name = Trim(fileName);
  if (name.find('/') == std::string::npos) {
    name = platform::DirectoryOf(FileName()) + "/" + name;
  }
  if (platform::ExtensionOf(name).empty()) {
    name += platform::MatchExtensionCase(platform::ExtensionOf(FileName()), ".ndx");
  }
  if (!platform::FileExists(name)) {
    if (auto found =
            platform::FindCompanion(platform::DirectoryOf(name), platform::FileNameOf(name))) {
      return *found;
    }
  }
  return name;
}

int KXO_dBHandler::OpenIndexFile(const std::string& fileName) {
  const std::string path = IndexPath(fileName);
  for (const auto& file : indexFiles_) {
    if (file && file->SameFile(path)) return -1;
  }
  auto slot = std::find(indexFiles_.begin(), indexFiles_.end(), nullptr);
  if (slot == indexFiles_.end()) return 3;
  std::unique_ptr<KXobjIndexFile> file = MakeIndexFile(path, false);
  if (!file) return 2;
  if (!file->Opened()) {
    FileError(2, SubCodeNone, path.c_str());
    return 2;
  }
  file->LockProtocolSet(LockProtocol());
  *slot = std::move(file);
  FollowOpenFiles();
  return 0;
}

std::string KXO_dBHandler::ProductionIndexPath() const {
  for (const char* ext : {".cdx", ".mdx"}) {
    const std::string name =
        platform::ReplaceExtension(FileName(), platform::MatchExtensionCase(
                                                   platform::ExtensionOf(FileName()), ext));
    if (auto found =
            platform::FindCompanion(platform::DirectoryOf(name), platform::FileNameOf(name))) {
      return *found;
    }
  }
  return {};
}

bool KXO_dBHandler::OpenProductionIndex() {
  const std::string path = ProductionIndexPath();
  return !path.empty() && OpenIndexFile(path) == 0;
}

// ---------------------------------------------------------------------------------------
// Damaged index files

void KXO_dBHandler::FileError(int32_t code, int32_t subCode, const char* info) {
  lastFileError_ = code;
  KXO_dBaseFld::FileError(code, subCode, info);
}

void KXO_dBHandler::MarkDamaged(const std::string& path, const std::string& reason) {
  const std::string canonical = platform::CanonicalPath(path);
  for (TkxDamagedIndex& known : damaged_) {
    if (platform::CanonicalPath(known.path) == canonical) {
      known.reason = reason;
      return;
    }
  }
  damaged_.push_back({path, reason});
  IndexDamaged(damaged_.back());
}

int KXO_dBHandler::OpenIndexFileOrMark(const std::string& fileName) {
  const std::string path = IndexPath(fileName);
  if (!platform::FileExists(path)) return OpenIndexFile(path);
  int result = kErrIndexDamaged;
  std::string reason;
  try {
    result = OpenIndexFile(path);
    if (result == 2) reason = path + ": the index file cannot be opened";
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    reason = e.what();
  }
  if (!reason.empty()) {
    MarkDamaged(path, reason);
    return kErrIndexDamaged;
  }
  if (result == 0) {
    const std::string canonical = platform::CanonicalPath(path);
    std::erase_if(damaged_, [&](const TkxDamagedIndex& known) {
      return platform::CanonicalPath(known.path) == canonical;
    });
  }
  return result;
}

void KXO_dBHandler::CloseDamaged(KXobjIndexFile* file, const std::string& reason) {
  auto slot = std::find_if(indexFiles_.begin(), indexFiles_.end(),
                           [file](const auto& held) { return held.get() == file; });
  if (slot == indexFiles_.end()) return;
  if (currentOrder_ && currentOrder_->File() == file) {
    currentOrder_ = nullptr;
    orderName_.clear();
    SetReadAheadOn(true);
  }
  // Nothing held of a damaged file is written back to it.
  for (int t = 0; t < file->TagCount(); ++t) file->TagAt(t)->ForgetPath();
  const std::string path = file->Disk() ? file->Disk()->FileName() : file->FileName();
  if (file->Disk()) file->IndexUnlock();
  slot->reset();
  FollowOpenFiles();
  MarkDamaged(path, reason);
}

bool KXO_dBHandler::CatchIndexDamage(KXobjIndexFile* file, const std::function<void()>& work) {
  lastFileError_ = 0;
  try {
    work();
  } catch (const ETolvernError& e) {
    if (lastFileError_ != kErrIndexDamaged || !file || !tolerateDamage_) throw;
    lastFileError_ = 0;  // handled: an enclosing caller must not take it for its own
    lastDamage_ = e.what();
    CloseDamaged(file, lastDamage_);
    return true;
  }
  return false;
}

int KXO_dBHandler::OpenIndexList(const std::string& list, const std::string& tagName) {
  CloseAllIndexes();
  if (!list.empty()) {
    std::string text = list;
    while (!text.empty() && (text.back() == ' ' || text.back() == ',' || text.back() == ';'))
      text.pop_back();
    std::vector<std::string> names;
    std::string piece;
    bool quoted = false;
    for (char c : text) {
      if (c == '"') {
        if (!piece.empty()) names.push_back(piece);
        piece.clear();
        quoted = !quoted;
      } else if (!quoted && (c == ' ' || c == ',' || c == ';' || c == '\t')) {
        if (!piece.empty()) names.push_back(piece);
        piece.clear();
      } else {
        piece += c;
      }
    }
    if (!piece.empty()) names.push_back(piece);
    for (const auto& name : names) {
      const int result = OpenIndexFile(name);
      if (result != 0) return result;
    }
    SelectOrder(tagName, true);
  }
  return 0;
}

int KXO_dBHandler::CloseIndexFile(const std::string& fileName) {
  if (Trim(fileName).empty()) return 1;
  const std::string path = IndexPath(fileName);
  int match = -1;
  for (int i = 0; i < kMaxIndexFiles; ++i) {
    if (indexFiles_[static_cast<size_t>(i)] && indexFiles_[static_cast<size_t>(i)]->SameFile(path))
      match = i;
  }
  if (match < 0) return 1;
  KXobjIndexFile* file = indexFiles_[static_cast<size_t>(match)].get();
  if (currentOrder_ && currentOrder_->File() == file) SelectOrder("", true);
  indexFiles_[static_cast<size_t>(match)].reset();
  FollowOpenFiles();
  return 0;
}

void KXO_dBHandler::CloseAllIndexes() {
  if (currentOrder_) currentOrder_->ClearRange();
  currentOrder_ = nullptr;
  orderName_.clear();
  for (auto& file : indexFiles_) file.reset();
  FollowOpenFiles();
}

int KXO_dBHandler::SelectOrder(const std::string& tagName, bool keepPosition) {
  RestartOrderAhead();
  const std::string name = UpperTrim(tagName);
  const int32_t position = CurrentRecord();
  if (!name.empty()) {
    KXobjIndexTag* tag = nullptr;
    int slot = 0;
    for (int i = 0; i < kMaxIndexFiles && !tag; ++i) {
      if (indexFiles_[static_cast<size_t>(i)]) {
        tag = indexFiles_[static_cast<size_t>(i)]->TagByName(name);
        slot = i + 1;
      }
    }
    if (!tag) throw ETolvernError(FormatMessage(kMsgTagNotFound, {tagName}));
    if (currentOrder_) {
      currentOrder_->ClearRange();
      currentOrder_->FreePath();
    }
    SetReadAheadOn(false);
    orderName_ = name;
    currentOrder_ = tag;
    if (CatchIndexDamage(tag->File(),
                         [&] { tag->ReadPath(keepPosition && position > 0 ? 1 : 0); })) {
      slot = 0;  // the tag's file was closed: natural order
    }
    if (keepPosition && position > 0 && position <= RecordCount()) {
      GetRecord(position);
    } else {
      GetRecord(PosTop);
    }
    return slot;
  }
  if (currentOrder_) {
    currentOrder_->ClearRange();
    currentOrder_->FreePath();
  }
  currentOrder_ = nullptr;
  orderName_.clear();
  SetReadAheadOn(true);
  if (!keepPosition) GetRecord(PosTop);
  return 0;
}

// ---------------------------------------------------------------------------------------
// Read-ahead

void KXO_dBHandler::AllowReadAhead(bool allowed) {
  readAheadAllowed_ = allowed;
  if (!allowed) {
    SetReadAheadOn(false);
    RestartOrderAhead();
  }
}

void KXO_dBHandler::SetReadAheadOn(bool on) {
  if (!readAheadAllowed_) on = false;
  if (on == readAheadOn_) return;
  readAheadOn_ = on;
  const int32_t records = std::max(1, kReadAheadBytes / std::max(1, RecordLength()));
  SetReadAhead(on ? records * RecordLength() : 0);
}

// ---------------------------------------------------------------------------------------
// Positioned reads

bool KXO_dBHandler::FilterAccepts() { return FilterPasses(CurrentRecord()); }

bool KXO_dBHandler::FilterPasses(int32_t recno) const {
  return !filterActive_ || !filterSet_ || filterSet_->TestBit(recno);
}

bool KXO_dBHandler::ReadThroughTag(int32_t code, int32_t direction, int32_t& target) {
  // Moves the tag until a record passes the filter; false at BOF/EOF.
  int32_t c = code;
  for (;;) {
    const int32_t recno = currentOrder_->Goto(c);
    if (currentOrder_->Bof() || currentOrder_->Eof() || recno <= 0) {
      SetEofBof(currentOrder_->Eof() || (recno <= 0 && !currentOrder_->Bof()),
                currentOrder_->Bof());
      return false;
    }
    if (!filterActive_ || !filterSet_ || filterSet_->TestBit(recno)) {
      if (c == PosNext || c == PosPrior) ReadAheadInOrder(c, recno);
      target = recno;
      return true;
    }
    if (direction == 0) return false;
    c = direction;
  }
}

void KXO_dBHandler::ReadAheadInOrder(int32_t code, int32_t recno) {
  if (!readAheadAllowed_ || OrderAheadHolds(recno)) return;
  constexpr int32_t kFirstFill = 16;
  const int32_t capacity = TkxOrderAhead::Capacity(RecordLength());
  if (capacity < 2) return;
  orderAheadSize_ = code == orderAheadCode_ && orderAheadSize_ > 0
                        ? std::min(orderAheadSize_ * 2, capacity)
                        : std::min(kFirstFill, capacity);
  orderAheadCode_ = code;
  orderAheadNumbers_.assign(1, recno);
  std::vector<int32_t> next;
  currentOrder_->PeekRecords(code, orderAheadSize_ - 1, next);
  orderAheadNumbers_.insert(orderAheadNumbers_.end(), next.begin(), next.end());
  if (filterActive_ && filterSet_) {
    // Records the filter hides are never read.
    std::erase_if(orderAheadNumbers_, [&](int32_t n) { return !filterSet_->TestBit(n); });
  }
  FillOrderAhead(orderAheadNumbers_);
}

void KXO_dBHandler::RestartOrderAhead() {
  DropOrderAhead();
  orderAheadCode_ = 0;
  orderAheadSize_ = 0;
}

bool KXO_dBHandler::WalkFilterSet(int32_t code, int32_t& target) {
  const int32_t max = filterSet_->Max();
  if (max < 1) {
    SetEofBof(true, true);
    return false;
  }
  int32_t n;
  int step;
  switch (code) {
    case PosBottom:
      n = std::min(max, RecordCount());
      step = -1;
      break;
    case PosTop:
      n = 1;
      step = 1;
      break;
    case PosPrior:
      n = CurrentRecord() - 1;
      step = -1;
      break;
    case PosSame:
      n = CurrentRecord();
      step = 1;
      break;
    default:
      n = CurrentRecord() + 1;
      step = 1;
  }
  for (; n >= 1 && n <= max; n += step) {
    if (filterSet_->TestBit(n)) {
      target = n;
      return true;
    }
  }
  // From an end, nothing found means the set holds no record at all.
  const bool fromEnd = code == PosTop || code == PosBottom;
  SetEofBof(step > 0 || fromEnd, step < 0 || fromEnd);
  return false;
}

void KXO_dBHandler::GetRecord(int32_t position) {
  // A read from an end starts a new walk; a read by number starts the next walk small but
  // may still be served from what is held; a step goes on with the walk.
  if (position == PosTop || position == PosBottom) RestartOrderAhead();
  if (position > 0) orderAheadSize_ = 0;
  if (State() != kStateNormal) {
    KXO_dBaseFld::GetRecord(position);
    return;
  }
  if (!currentOrder_) {
    ReadPositioned(position);
    return;
  }
  // An order whose file proves damaged is left. A read from an end (or of the current
  // record) goes on in natural order; a step raises the damage, as the walk it belongs to
  // cannot go on in the order it began in.
  if (!CatchIndexDamage(currentOrder_->File(), [&] { ReadPositioned(position); })) return;
  if (position == PosNext || position == PosPrior) throw ETolvernError(lastDamage_);
  ReadPositioned(position);
}

void KXO_dBHandler::ReadPositioned(int32_t position) {
  SetEofBof(false, false);
  const int32_t direction = DirectionOf(position);
  int32_t code = position;
  int guard = 0;
  for (;;) {
    int32_t target = code;
    bool moved = true;
    if (currentOrder_ && code < 0) {
      moved = ReadThroughTag(code, direction, target);
    } else if (filterActive_ && filterSet_ && code < 0) {
      moved = WalkFilterSet(code, target);
    }
    if (!moved) break;
    if (target > 0) {
      // Another program may have appended the record since the count was read.
      if (target > RecordCount()) RefreshHeader();
      if (target > RecordCount()) {
        // The order holds a record the table file does not hold (yet): a move passes it.
        if (direction == 0 || position > 0) {
          BlankRecord();
          break;
        }
        code = direction;
        if (++guard < 0) break;
        continue;
      }
      KXO_dBaseFld::GetRecord(target);
    } else {
      KXO_dBaseFld::GetRecord(target);
      if (Eof() || Bof()) break;
      if (filterActive_ && filterSet_ && !filterSet_->TestBit(CurrentRecord())) {
        if (direction == 0) break;
        code = direction;
        continue;
      }
    }
    if (Eof() || Bof()) break;
    if (position > 0) break;  // a record asked for by number is taken as it is
    const bool accepted = (!IsDeleted() || ShowDeleted()) && AcceptRecord();
    if (accepted || direction == 0) break;
    code = direction;
    if (++guard < 0) break;
  }
  if (LockProtocol() == static_cast<int>(TkxLokProtocol::ClipLock)) UnlockIndexFiles();
}

void KXO_dBHandler::SkipRecords(int32_t count) {
  if (!currentOrder_) {
    SkipInOrder(count);
    return;
  }
  if (!CatchIndexDamage(currentOrder_->File(), [&] { SkipInOrder(count); })) return;
  if (count != 0) throw ETolvernError(lastDamage_);
  SkipInOrder(count);
}

void KXO_dBHandler::SkipInOrder(int32_t count) {
  if (count == 0) {
    GetRecord(PosSame);
    return;
  }
  if (filterWanted_ || !ShowDeleted()) {
    const int32_t code = count > 0 ? PosNext : PosPrior;
    for (int32_t i = 0; i < std::abs(count); ++i) {
      GetRecord(code);
      if (Eof() || Bof()) break;
    }
    return;
  }
  bool clamped = false;
  int32_t target;
  if (!currentOrder_) {
    const int64_t wanted = static_cast<int64_t>(CurrentRecord()) + count;
    target = static_cast<int32_t>(std::clamp<int64_t>(wanted, 1, std::max(1, RecordCount())));
    clamped = target != wanted;
  } else {
    currentOrder_->SyncToRecord(CurrentRecord());
    const int32_t code = count > 0 ? PosNext : PosPrior;
    target = currentOrder_->CurrentRecord();
    for (int32_t i = 0; i < std::abs(count); ++i) {
      const int32_t r = currentOrder_->Goto(code);
      if (r <= 0 || currentOrder_->Eof() || currentOrder_->Bof()) {
        target = currentOrder_->Goto(count > 0 ? PosBottom : PosTop);
        clamped = true;
        break;
      }
      target = r;
    }
  }
  if (target >= 1 && target <= RecordCount()) KXO_dBaseFld::GetRecord(target);
  if (clamped) SetEofBof(count > 0, count < 0);
}

// ---------------------------------------------------------------------------------------
// Seeks

bool KXO_dBHandler::FindKey(const std::string& key) {
  if (!currentOrder_) return FindKeyInOrder(key);
  bool result = false;
  if (CatchIndexDamage(currentOrder_->File(), [&] { result = FindKeyInOrder(key); })) {
    if (LockProtocol() == static_cast<int>(TkxLokProtocol::ClipLock)) UnlockIndexFiles();
    return FindKeyInOrder(key);  // without an order: not found, at the end
  }
  return result;
}

bool KXO_dBHandler::FindKeyInOrder(const std::string& key) {
  RestartOrderAhead();
  found_ = false;
  if (RecordCount() == 0) return false;
  const bool clip = LockProtocol() == static_cast<int>(TkxLokProtocol::ClipLock);
  if (clip && !LockIndexFiles()) return false;
  if (!currentOrder_) {
    GetRecord(PosBottom);
    SetEofBof(true, Bof());
    if (clip) UnlockIndexFiles();
    return false;
  }
  KXobjIndexKeyData search(256);
  search.SetText(key);
  search.SetReference(kSearchAnyRecord);
  search.SetKeyRecNo(kSearchAnyRecord);
  const int32_t recno = currentOrder_->Seek(search);
  KXobjIndexKeyData adjusted(256);
  adjusted.Assign(search);
  currentOrder_->KeyAdjust(adjusted);
  if (recno <= 0) {
    if (currentOrder_->Eof() || !SoftSeek) {
      GetRecord(PosBottom);
      SetEofBof(true, Bof());
    } else {
      const int32_t at = currentOrder_->Goto(PosSame);
      if (at > 0) KXO_dBaseFld::GetRecord(at);
    }
  } else {
    KXO_dBaseFld::GetRecord(recno);
    while (!Eof() && ((IsDeleted() && !ShowDeleted()) || !AcceptRecord())) {
      GetRecord(PosNext);
    }
    if (!currentOrder_) {
      // The order's file proved damaged on the way: nothing is found.
      GetRecord(PosBottom);
      SetEofBof(true, Bof());
    } else if (!Eof()) {
      KXobjIndexKeyData built(256);
      bool wasBuilt = false;
      if (currentOrder_->KeyBuild(built, wasBuilt)) {
        currentOrder_->KeyAdjust(built);
        int32_t position = 0;
        const int cmp = adjusted.CompareVariants(built, position, Collation(), 0);
        const bool exact = cmp == 0 && adjusted.Length() == built.Length();
        const bool prefix = cmp == 0;
        found_ = exact || (!ExactMatch() && prefix);
        if (!found_ && ExactMatch() && cmp == 0 && built.VariantType() == TkxVariant::kText) {
          // Trailing blanks of a character key do not make it a different key.
          std::string a(reinterpret_cast<const char*>(adjusted.Data()), adjusted.Length());
          std::string b(reinterpret_cast<const char*>(built.Data()), built.Length());
          found_ = TrimRight(a) == TrimRight(b);
        }
      }
      if (!found_ && !SoftSeek) {
        GetRecord(PosBottom);
        SetEofBof(true, Bof());
      }
    }
  }
  if (clip) UnlockIndexFiles();
  return found_;
}

int32_t KXO_dBHandler::FindKeyInTag(const std::string& tagName, const std::string& key) {
  const bool clip = LockProtocol() == static_cast<int>(TkxLokProtocol::ClipLock);
  if (clip && !LockIndexFiles()) return -1;
  int32_t result = -1;
  if (KXobjIndexTag* tag = TagByName(tagName)) {
    KXobjIndexKeyData search(256);
    search.SetText(key);
    search.SetReference(kSearchAnyRecord);
    search.SetKeyRecNo(kSearchAnyRecord);
    const bool exact = ExactMatch();
    SetExactMatch(true);
    try {
      if (CatchIndexDamage(tag->File(), [&] { result = tag->SeekKeep(search); })) result = -1;
    } catch (...) {
      SetExactMatch(exact);
      if (clip) UnlockIndexFiles();
      throw;
    }
    SetExactMatch(exact);
    if (result <= 0) result = -1;
  }
  if (clip) UnlockIndexFiles();
  return result;
}

void KXO_dBHandler::SetRange(const std::string& lowKey, const std::string& highKey,
                             bool lowFlag, bool highFlag) {
  RestartOrderAhead();
  if (!currentOrder_) return;
  TkxVariant low(256);
  TkxVariant high(256);
  if (!lowKey.empty()) low.SetText(lowKey);
  if (!highKey.empty()) high.SetText(highKey);
  KXobjIndexTag* tag = currentOrder_;
  CatchIndexDamage(tag->File(), [&] { tag->SetRange(low, lowFlag, high, highFlag); });
  GetRecord(PosTop);
  if (Bof()) BlankRecord();
}

void KXO_dBHandler::ClearRange() {
  RestartOrderAhead();
  if (currentOrder_) currentOrder_->ClearRange();
}

// ---------------------------------------------------------------------------------------
// Writes and index maintenance

bool KXO_dBHandler::LockIndexFiles() {
  for (int i = 0; i < kMaxIndexFiles; ++i) {
    KXobjIndexFile* file = indexFiles_[static_cast<size_t>(i)].get();
    if (!file || !file->Disk()) continue;
    bool locked = false;
    try {
      locked = file->IndexLock();
    } catch (...) {
      for (int j = 0; j < i; ++j)
        if (indexFiles_[static_cast<size_t>(j)] && indexFiles_[static_cast<size_t>(j)]->Disk())
          indexFiles_[static_cast<size_t>(j)]->IndexUnlock();
      throw;
    }
    if (!locked) {
      for (int j = 0; j < i; ++j)
        if (indexFiles_[static_cast<size_t>(j)] && indexFiles_[static_cast<size_t>(j)]->Disk())
          indexFiles_[static_cast<size_t>(j)]->IndexUnlock();
      SetLastError(ErrLocked);
      return false;
    }
    // Another process wrote the file since we read it: nothing held of it (pages, the
    // tag headers, the file's end) may be used, let alone written back. A file whose tag
    // headers can no longer be read is closed; the write goes on without it.
    CatchIndexDamage(file, [file] { file->ForgetExternalChange(); });
  }
  return true;
}

void KXO_dBHandler::UnlockIndexFiles() {
  for (auto& file : indexFiles_)
    if (file && file->Disk()) file->IndexUnlock();
}

void KXO_dBHandler::CheckIndexesMaintainable() {
  for (const auto& file : indexFiles_) {
    if (!file) continue;
    for (int t = 0; t < file->TagCount(); ++t) {
      const KXobjIndexTag* tag = file->TagAt(t);
      if (tag && !tag->Maintainable()) {
        RaiseEngineError(kErrIndexDamaged, SubIndexTag,
                         file->FileName() + " tag " + tag->TagName() + ": " +
                             tag->ReadOnlyReason() + "; the table cannot be changed while "
                             "this index is open");
      }
    }
  }
}

void KXO_dBHandler::RaiseIndexLockError() {
  const std::string info = FileName() + ": the index files cannot be locked";
  SetLastError(ErrLocked);
  FileError(ErrLocked, SubIndexTag, info.c_str());
  throw ETolvernError(EngineErrorMessage(ErrLocked, SubIndexTag, info.c_str()));
}

void KXO_dBHandler::AppendRecord() {
  CheckIndexesMaintainable();
  if (!LockIndexFiles()) RaiseIndexLockError();
  try {
    appendPending_ = true;
    KXO_dBaseFld::AppendRecord();
    appendPending_ = false;
  } catch (...) {
    appendPending_ = false;
    UnlockIndexFiles();
    throw;
  }
  UnlockIndexFiles();
}

void KXO_dBHandler::PutRecord(int32_t number) {
  CheckIndexesMaintainable();
  if (!LockIndexFiles()) RaiseIndexLockError();
  try {
    appendPending_ = number <= 0 || number > RecordCount();
    KXO_dBaseFld::PutRecord(number);
    appendPending_ = false;
  } catch (...) {
    appendPending_ = false;
    UnlockIndexFiles();
    throw;
  }
  UnlockIndexFiles();
}

bool KXO_dBHandler::RecordEvent(int event, int32_t number) {
  const bool result = KXO_dBaseFld::RecordEvent(event, number);
  if (event == kEventAfterWrite && !suspendIndexUpdates_) {
    const bool append = number == 0;
    const int32_t recno = CurrentRecord();
    if (filterSet_ && filterExpr_ && filterExpr_->HasRoot()) {
      TkxExpValue value;
      filterExpr_->EvaluateToBuffer(value);
      const bool accepted = value.type == kExpLogical && value.logical;
      filterSet_->SetBit(recno, accepted ? 1 : 0);
    }
    for (auto& held : indexFiles_) {
      if (!held) continue;
      // A file found damaged here is closed; the record stays written without it.
      KXobjIndexFile* file = held.get();
      CatchIndexDamage(file, [file, recno, append] {
        file->KeyUpdateAll(recno, append);
        // Everything changed reaches the file while its lock is held; nothing stays
        // behind to be written after another process changed it.
        for (int t = 0; t < file->TagCount(); ++t) file->TagAt(t)->StoreChanges();
      });
    }
    if (currentOrder_) {
      bool eof = currentOrder_->Eof();
      bool bof = currentOrder_->Bof();
      if (!filterActive_) {
        eof = append || recno == RecordCount();
        bof = !append && recno == 1;
      }
      SetEofBof(eof, bof);
    }
  } else if (event == kEventFlushed) {
    for (auto& file : indexFiles_) {
      if (file && file->Disk()) {
        for (int t = 0; t < file->TagCount(); ++t) file->TagAt(t)->FreePath();
        file->Disk()->FlushFile();
      }
    }
  }
  return result;
}

void KXO_dBHandler::SetLockProtocol(int protocol) {
  if (protocol == kLockProtocolAuto) {
    autoProtocol_ = true;
    protocol = ChooseLockProtocol();
  } else {
    TkxLockOffsets known{};
    if (!LockOffsetsOf(protocol, known)) return;
    autoProtocol_ = false;
  }
  KXO_dBaseFld::SetLockProtocol(protocol);
  for (auto& file : indexFiles_)
    if (file) file->LockProtocolSet(protocol);
}

int KXO_dBHandler::ChooseLockProtocol() const {
  bool ntx = false, cdx = false, mdx = false;
  for (const auto& file : indexFiles_) {
    if (!file) continue;
    const std::string ext = UpperCase(platform::ExtensionOf(file->FileName()));
    ntx = ntx || ext == ".NTX";
    cdx = cdx || ext == ".CDX";
    mdx = mdx || ext == ".MDX";
  }
  const bool fptMemo = Version() == kVersionFoxMemo || (Version() == kVersionVisual && HasMemo());
  if (ntx) return static_cast<int>(TkxLokProtocol::ClipLock);
  if (cdx || fptMemo) return static_cast<int>(TkxLokProtocol::FoxLock);
  if (mdx || Version() == kVersionDb4Memo) return static_cast<int>(TkxLokProtocol::DB4Lock);
  return static_cast<int>(TkxLokProtocol::Default);
}

void KXO_dBHandler::FollowOpenFiles() {
  if (!autoProtocol_ || LockCount() > 0 || AppendLocked() || TableLocked()) return;
  const int chosen = ChooseLockProtocol();
  if (chosen != LockProtocol()) {
    KXO_dBaseFld::SetLockProtocol(chosen);
  }
  for (auto& file : indexFiles_)
    if (file && file->LockProtocol() != chosen) file->LockProtocolSet(chosen);
}

// ---------------------------------------------------------------------------------------
// Filter

void KXO_dBHandler::EvaluateFilterOnAllRecords() {
  const int32_t saved = CurrentRecord();
  KXobjIndexTag* order = currentOrder_;
  const bool ahead = readAheadOn_;
  const bool active = filterActive_;
  filterActive_ = false;
  currentOrder_ = nullptr;
  SetReadAheadOn(true);
  try {
    for (GetRecord(PosTop); !Eof(); GetRecord(PosNext)) {
      TkxExpValue value;
      filterExpr_->EvaluateToBuffer(value);
      filterSet_->SetBit(CurrentRecord(), value.type == kExpLogical && value.logical ? 1 : 0);
    }
  } catch (...) {
    currentOrder_ = order;
    SetReadAheadOn(ahead);
    filterActive_ = active;
    throw;
  }
  currentOrder_ = order;
  SetReadAheadOn(ahead);
  filterActive_ = active;
  if (saved > 0 && saved <= RecordCount()) KXO_dBaseFld::GetRecord(saved);
}

void KXO_dBHandler::SetFilterExpression(const std::string& expression, bool caseInsensitive,
                                        bool translate, bool partialCompare) {
  RestartOrderAhead();
  const bool wanted = filterWanted_;
  filterActive_ = false;
  if (!filterSet_) filterSet_ = std::make_unique<TkxHugeSet>();
  if (!filterExpr_) filterExpr_ = std::make_unique<TkxExpHandler>(ExpressionLink(), "");
  if (expression != filterText_ || caseInsensitive != filterExpr_->CaseInsensitive ||
      partialCompare != filterExpr_->PartialCompare || !filterExpr_->HasRoot()) {
    filterText_ = expression;
    filterSet_->ClearAll();
    filterExpr_->OemFlag = translate;
    filterExpr_->CaseInsensitive = caseInsensitive;
    filterExpr_->PartialCompare = partialCompare;
    try {
      filterExpr_->Compile(expression);
    } catch (...) {
      filterText_.clear();
      throw;
    }
    if (filterExpr_->HasRoot()) {
      TkxExpValue probe;
      filterExpr_->EvaluateToBuffer(probe);
      if (probe.type != kExpLogical) {
        filterText_.clear();
        filterExpr_->Compile("");
        throw ETolvernError(kMsgFilterBoolean);
      }
      EvaluateFilterOnAllRecords();
    }
  }
  SetFilterActive(wanted);
}

void KXO_dBHandler::SetFilterActive(bool wanted) {
  RestartOrderAhead();
  filterWanted_ = wanted;
  filterActive_ = wanted && filterExpr_ && filterExpr_->HasRoot();
}

void KXO_dBHandler::RebuildFilter() {
  if (!filterActive_) return;
  filterSet_->ClearAll();
  EvaluateFilterOnAllRecords();
  SetFilterActive(true);
}

}  // namespace tolvern

namespace tolvern {

TkxIndexFormat IndexFormatOf(const std::string& path) {
  const std::string ext = UpperCase(platform::ExtensionOf(path));
  if (ext.empty() || ext == ".NDX") return TkxIndexFormat::kNdx;
  if (ext == ".NTX") return TkxIndexFormat::kNtx;
  if (ext == ".CDX") return TkxIndexFormat::kCdx;
  if (ext == ".MDX") return TkxIndexFormat::kMdx;
  return TkxIndexFormat::kUnknown;
}

std::unique_ptr<KXobjIndexFile> MakeIndexFileOf(KXO_dBaseFld* table, const std::string& path,
                                                bool create, bool readWrite, bool shared) {
  switch (IndexFormatOf(path)) {
    case TkxIndexFormat::kNdx:
      return std::make_unique<KXobjNDXFile>(table, path, create, create, readWrite, shared);
    case TkxIndexFormat::kNtx:
      return std::make_unique<KXobjNTXFile>(table, path, create, create, readWrite, shared);
    case TkxIndexFormat::kCdx:
      return std::make_unique<KXobjCDXFile>(table, path, create, false, readWrite, shared);
    case TkxIndexFormat::kMdx:
      return std::make_unique<KXobjMDXFile>(table, path, create, false, readWrite, shared);
    case TkxIndexFormat::kUnknown:
      break;
  }
  return nullptr;
}

std::unique_ptr<KXobjIndexFile> KXO_dBHandler::MakeIndexFile(const std::string& path, bool create) {
  // IndexPath gives every name an extension; one this engine does not know opens nothing.
  if (platform::ExtensionOf(path).empty()) return nullptr;
  auto file = MakeIndexFileOf(this, path, create, ReadWrite(), Shared());
  if (auto* cdx = dynamic_cast<KXobjCDXFile*>(file.get())) {
    cdx->SetNewTagCollation(newTagCollation_ == 2 ? CdxCollation::General : CdxCollation::Machine);
  }
  return file;
}

}  // namespace tolvern
