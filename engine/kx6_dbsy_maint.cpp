// The maintenance operations of the table handler: pack, zap, reindex, index creation and
// tag deletion, copying a table or its structure, renaming, and the text search.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_cnst.h"
#include "kx6_dbsy.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_journal.h"
#include "kx6_memo.h"
#include "kx6_tool.h"
#include "platform/pf_file.h"
#include "platform/pf_path.h"
#include "platform/pf_text.h"

namespace tolvern {

namespace {

constexpr int32_t kWriteBehindBytes = 256 * 1024;

// Restores the order, the read-ahead state and the table state however the operation
// ends.
class OrderKeeper {
 public:
  explicit OrderKeeper(KXO_dBHandler& table)
      : table_(table), order_(table.CurrentOrderName()), ahead_(table.ReadAheadOn()) {}
  ~OrderKeeper() {
    try {
      table_.SetState(kStateNormal);
      if (!order_.empty() && table_.TagByName(order_)) {
        table_.SelectOrder(order_, true);
      }
      table_.SetReadAheadOn(ahead_);
    } catch (...) {
      // Restoring the order is best effort; the operation's own error is what counts.
    }
  }
  OrderKeeper(const OrderKeeper&) = delete;
  OrderKeeper& operator=(const OrderKeeper&) = delete;

 private:
  KXO_dBHandler& table_;
  std::string order_;
  bool ahead_;
};

// Holds the table lock for a scope: every exit path releases it. Taking it waits about
// MemoLockWaitTotal milliseconds and then raises the lock error.
class TableLockScope {
 public:
  explicit TableLockScope(KXO_dBHandler& table) : table_(table) {
    if (!table_.LockTable()) {
      const std::string info = table_.FileName() + ": the table cannot be locked";
      table_.FileError(ErrLocked, SubPack, info.c_str());
      throw ETolvernError(EngineErrorMessage(ErrLocked, SubPack, info.c_str()));
    }
    held_ = true;
  }
  // Releases the lock now (the table then writes its deferred header).
  void Release() {
    if (!held_) return;
    held_ = false;
    table_.UnlockTable();
  }
  ~TableLockScope() {
    try {
      Release();
    } catch (...) {
      // Unwinding already: the first error is the one reported.
    }
  }
  TableLockScope(const TableLockScope&) = delete;
  TableLockScope& operator=(const TableLockScope&) = delete;

 private:
  KXO_dBHandler& table_;
  bool held_ = false;
};

}  // namespace

bool KXO_dBHandler::MemoFieldBlocks(std::vector<int>& fields) const {
  fields.clear();
  const bool visual = Version() == kVersionVisual;
  for (const auto& f : Fields()) {
    const bool memo = f.type == 'M' || f.type == 'G' || (f.type == 'B' && !visual) ||
                      (visual && f.type == 'W');
    if (memo) fields.push_back(f.number);
  }
  return !fields.empty();
}

// ---------------------------------------------------------------------------------------
// Pack

namespace {

constexpr int32_t kErrWrite = 101;  // the engine's write fault

[[noreturn]] void FailFile(int32_t code, const std::string& what) {
  RaiseEngineError(code, SubCodeNone, what);
  throw ETolvernError(EngineErrorMessage(code, SubCodeNone, what.c_str()));
}

// Copies the file `from` to `to` (made anew or emptied), asking `progress` (when given)
// after every megabyte, and flushes the copy.
void CopyFileBytes(const std::string& from, const std::string& to, TkxProgressScope* progress) {
  platform::OsFile in;
  platform::OsFile out;
  if (int32_t e = in.Open(from, false); e != 0) FailFile(e, from);
  if (int32_t e = out.Create(to); e != 0) FailFile(e, to);
  std::vector<uint8_t> buffer(size_t{1} << 20);
  int64_t at = 0;
  for (;;) {
    size_t got = 0;
    if (int32_t e = in.ReadAt(at, buffer.data(), buffer.size(), got); e != 0) FailFile(e, from);
    if (got == 0) break;
    size_t put = 0;
    const int32_t e = out.WriteAt(at, buffer.data(), got, put);
    if (e != 0 || put != got) FailFile(e != 0 ? e : kErrWrite, to);
    at += static_cast<int64_t>(got);
    if (progress) progress->Step(0);
  }
  if (int32_t e = out.Flush(); e != 0) FailFile(e, to);
}

// The bytes of a file kept aside while work changes it in place, so that a cancelled
// work can put the file back as it was; a file that did not exist is removed instead.
class TkxFileUndo {
 public:
  explicit TkxFileUndo(const std::string& path) : path_(path) {
    if (!platform::FileExists(path)) return;
    copy_ = platform::DirectoryOf(path) + "/." + platform::FileNameOf(path) + "-undo";
    CopyFileBytes(path, copy_, nullptr);
  }
  ~TkxFileUndo() {
    if (!copy_.empty()) platform::RemoveFile(copy_);
  }
  TkxFileUndo(const TkxFileUndo&) = delete;
  TkxFileUndo& operator=(const TkxFileUndo&) = delete;
  // Puts the file back; nothing may hold it open for writing then.
  void Restore() {
    if (copy_.empty()) {
      platform::RemoveFile(path_);
    } else {
      CopyFileBytes(copy_, path_, nullptr);
    }
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string copy_;
};

}  // namespace

std::vector<std::string> KXO_dBHandler::OpenIndexPaths() const {
  std::vector<std::string> paths;
  for (const auto& file : indexFiles_)
    if (file && file->Disk()) paths.push_back(file->Disk()->FileName());
  return paths;
}

void KXO_dBHandler::ReopenIndexes(const std::vector<std::string>& paths, const std::string& order) {
  for (const std::string& path : paths) OpenIndexFileOrMark(path);
  if (!order.empty() && TagByName(order)) {
    SelectOrder(order, false);
  } else {
    GetRecord(PosTop);
  }
}

void KXO_dBHandler::Pack() {
  if (Shared()) {
    CheckError(ErrAccessDenied, SubPack);
    return;
  }
  if (!ReadWrite()) {
    const std::string info = FileName() + ": the table is open for reading only";
    FileError(ErrAccessDenied, SubPack, info.c_str());
    throw ETolvernError(EngineErrorMessage(ErrAccessDenied, SubPack, info.c_str()));
  }
  CheckIndexesMaintainable();
  const std::string order = orderName_;
  const bool ahead = readAheadOn_;
  const std::vector<std::string> indexPaths = OpenIndexPaths();
  std::vector<int> memoFields;
  const std::string memoPath =
      MemoFieldBlocks(memoFields) && OpenMemo() ? Memo()->FileName() : std::string();
  // Everything this object holds reaches the files before they are copied; the index
  // files are closed (and so written) and opened again however the pack ends.
  FlushFile();
  CloseAllIndexes();
  ReplaceStepsBegin();
  const std::string tablePath = FileName();
  const std::string directory = platform::DirectoryOf(tablePath);
  const int32_t count = RecordCount();
  try {
    // The packed table is made from copies in the staging directory and put in the
    // table's place through the journal: a cancel or an error before the commit leaves
    // the files as they were, a crash the old table or the new one.
    TkxReplaceJournal journal(tablePath);
    const std::string staging = journal.StagingFor(directory);
    const auto stagedOf = [&](const std::string& path) {
      const std::string home = platform::DirectoryOf(path);
      return (home == directory ? staging : journal.StagingFor(home)) + "/" +
             platform::FileNameOf(path);
    };
    std::vector<std::string> files{tablePath};
    if (!memoPath.empty()) files.push_back(memoPath);
    files.insert(files.end(), indexPaths.begin(), indexPaths.end());
    {
      std::unique_ptr<KXO_dBHandler> staged;
      bool removed = false;
      {
        TkxProgressScope progress(Progress(), kStatusPack, count);
        for (const std::string& file : files) CopyFileBytes(file, stagedOf(file), &progress);
        ReplaceFileStep();
        staged = std::make_unique<KXO_dBHandler>(stagedOf(tablePath), true, false);
        for (const std::string& path : indexPaths)
          if (staged->OpenIndexFile(stagedOf(path)) != 0) FailFile(ErrCannotReplace, path);
        removed = staged->PackRecords(progress) < count;
      }
      if (removed) {
        staged->SetProgress(Progress());
        staged->SetKeepIndexesOnCancel(false);
        staged->ReindexAll();
      }
      staged->FlushFile();
    }
    // Closing wrote the last index pages: every new file is on the disk before the commit.
    for (const std::string& file : files) {
      platform::OsFile written;
      if (int32_t e = written.Open(stagedOf(file), false); e != 0) FailFile(e, stagedOf(file));
      if (int32_t e = written.Flush(); e != 0) FailFile(e, stagedOf(file));
    }
    ReplaceFileStep();
    for (size_t i = 1; i < files.size(); ++i) journal.AddMove(stagedOf(files[i]), files[i]);
    journal.AddMove(stagedOf(tablePath), tablePath);  // the table last
    journal.Commit();
    journal.Finish();
  } catch (...) {
    ReopenIndexes(indexPaths, order);
    SetReadAheadOn(ahead);
    throw;
  }
  const bool autoProtocol = autoProtocol_;
  const int protocol = LockProtocol();
  ReopenFile();
  SetLockProtocol(autoProtocol ? kLockProtocolAuto : protocol);
  SetReadAheadOn(false);
  ReopenIndexes(indexPaths, order);
  SetReadAheadOn(ahead);
  GetRecord(PosTop);
}

int32_t KXO_dBHandler::PackRecords(TkxProgressScope& progress) {
  std::vector<int> memoFields;
  KXobjMemo* memo = MemoFieldBlocks(memoFields) ? OpenMemo() : nullptr;
  const bool fox = memo && (Version() == kVersionFoxMemo || Version() == kVersionVisual);
  const bool db4 = memo && Version() == kVersionDb4Memo;

  SetReadAheadOn(false);
  SetReadAheadOn(true);
  const int32_t count = RecordCount();
  // Record writes below move records; the indexes are rebuilt afterwards instead.
  struct Suspend {
    bool& flag;
    explicit Suspend(bool& f) : flag(f) { flag = true; }
    ~Suspend() { flag = false; }
  } suspend{suspendIndexUpdates_};

  // FoxPro memos are compacted first, in block order, so that a memo only ever moves
  // towards the start of the file and never over a memo that has not been read yet.
  if (fox) {
    struct Ref {
      int32_t block;
      int32_t recno;
      int field;
    };
    std::vector<Ref> refs;
    for (int32_t j = 1; j <= count; ++j) {
      KXO_dBaseFld::GetRecord(j);
      if (Eof()) break;
      for (int f : memoFields) {
        const int32_t block = static_cast<int32_t>(std::llround(GetNumber(f)));
        if (block <= 0) continue;
        if (IsDeleted()) continue;
        refs.push_back({block, j, f});
      }
      if ((j & 0x3FF) == 0) progress.Step(0);
    }
    std::stable_sort(refs.begin(), refs.end(),
                     [](const Ref& a, const Ref& b) { return a.block < b.block; });
    int64_t next = 0;  // where the next memo goes: the first block after the header on
    int32_t lastBlock = -1;
    int32_t lastNew = -1;
    size_t moved = 0;
    for (const Ref& r : refs) {
      if ((++moved & 0x3FF) == 0) progress.Step(0);
      int32_t newBlock;
      if (r.block == lastBlock) {
        newBlock = lastNew;  // two fields sharing one memo keep sharing it
      } else {
        newBlock = memo->MoveMemoDown(r.block, next);
        if (newBlock < 0) continue;  // a damaged memo stays where it is, untouched
        lastBlock = r.block;
        lastNew = newBlock;
      }
      if (newBlock != r.block) {
        KXO_dBaseFld::GetRecord(r.recno);
        PutNumber(r.field, newBlock);
        KXO_dBaseDBF::PutRecord(r.recno);
      }
    }
    memo->FlushFile();
    memo->SetNextFreeBlock(static_cast<int32_t>(next));
  }

  int32_t kept = 0;
  // Kept records are written in sequence: gather them, and write the header once.
  SetWriteBehind(kWriteBehindBytes);
  TableLockScope tableLock(*this);
  for (int32_t j = 1; j <= count; ++j) {
    KXO_dBaseFld::GetRecord(j);
    if (Eof()) break;
    if (!IsDeleted()) {
      ++kept;
      if (kept != j) KXO_dBaseDBF::PutRecord(kept);
    } else if (db4) {
      for (int f : memoFields) {
        const int32_t block = static_cast<int32_t>(std::llround(GetNumber(f)));
        if (block > 0) {
          try {
            memo->FreeMemo(block);
          } catch (const ETolvernError&) {
            // A damaged memo of a removed record is simply left behind.
          }
        }
      }
    }
    if (ProgressDue(j, count)) progress.Step(j);
  }

  FlushWriteBehind();
  SetWriteBehind(0);
  if (kept < count) {
    KXO_DiskFile::FlushFile();
    if (memo) memo->FlushFile();
    SetRecordCount(kept);
    SetCurrentRecord(0);
    const uint8_t mark = static_cast<uint8_t>(EOFMark);
    const int64_t end = RecordOffset(kept + 1);
    WriteAt(end, &mark, 1);
    TruncateAt(end + 1);
  }
  MarkHeaderDirty();
  tableLock.Release();
  WriteHeader();
  return kept;
}

// ---------------------------------------------------------------------------------------
// Zap and reindex

void KXO_dBHandler::Zap() {
  if (Shared()) {
    CheckError(ErrAccessDenied, SubZap);
    return;
  }
  CheckIndexesMaintainable();
  std::vector<int> memoFields;
  if (MemoFieldBlocks(memoFields)) {
    if (KXobjMemo* memo = OpenMemo()) memo->Clear();
  }
  SetRecordCount(0);
  SetCurrentRecord(0);
  const uint8_t mark = static_cast<uint8_t>(EOFMark);
  WriteAt(HeaderLength(), &mark, 1);
  TruncateAt(HeaderLength() + 1);
  MarkHeaderDirty();
  WriteHeader();
  GetRecord(PosTop);
  // The records are gone already: emptying the indexes is reported but not to be stopped
  // half way.
  struct Unstoppable final : TkxProgress {
    TkxProgress* inner;
    explicit Unstoppable(TkxProgress* p) : inner(p) {}
    void Start(int32_t kind, int64_t total) override {
      if (inner) inner->Start(kind, total);
    }
    bool Step(int64_t done) override {
      if (inner) inner->Step(done);
      return true;
    }
    void Finish() override {
      if (inner) inner->Finish();
    }
  } unstoppable{Progress()};
  struct Restore {
    KXO_dBHandler& t;
    TkxProgress* saved;
    bool keep;
    ~Restore() {
      t.SetProgress(saved);
      t.SetKeepIndexesOnCancel(keep);
    }
  } restore{*this, Progress(), keepIndexesOnCancel_};
  SetProgress(&unstoppable);
  SetKeepIndexesOnCancel(false);  // nothing to put back: the work is not stopped
  ReindexAll();
}

void KXO_dBHandler::ReindexAll() {
  const std::string order = orderName_;
  if (currentOrder_) SelectOrder("", true);
  const bool ahead = readAheadOn_;
  // A cancel puts every open index file back as it was: their bytes are kept aside
  // first (only when the work can be cancelled at all).
  std::vector<std::unique_ptr<TkxFileUndo>> undo;
  if (Progress() && keepIndexesOnCancel_) {
    for (const std::string& path : OpenIndexPaths())
      undo.push_back(std::make_unique<TkxFileUndo>(path));
  }
  SetState(kStateBusy);
  SetReadAheadOn(true);
  try {
    for (auto& held : indexFiles_) {
      if (!held) continue;
      KXobjIndexFile* file = held.get();
      CatchIndexDamage(file, [file] { file->Reindex(); });
    }
    RebuildDamagedFiles();
  } catch (const ETolvernCancelled&) {
    SetState(kStateNormal);
    SetReadAheadOn(ahead);
    if (undo.empty()) throw;
    try {
      CloseAllIndexes();
    } catch (const std::exception&) {
      // The files are put back below whatever closing wrote.
    }
    std::vector<std::string> paths;
    for (const auto& file : undo) {
      file->Restore();
      paths.push_back(file->Path());
    }
    ReopenIndexes(paths, order);
    throw;
  } catch (...) {
    SetState(kStateNormal);
    SetReadAheadOn(ahead);
    throw;
  }
  SetState(kStateNormal);
  SetReadAheadOn(ahead);
  if (!order.empty() && TagByName(order)) {
    SelectOrder(order, false);
  } else {
    GetRecord(PosTop);
  }
}

void KXO_dBHandler::RebuildDamagedFiles() {
  std::vector<TkxDamagedIndex> still;
  for (TkxDamagedIndex& damaged : damaged_) {
    auto slot = std::find(indexFiles_.begin(), indexFiles_.end(), nullptr);
    std::unique_ptr<KXobjIndexFile> file;
    if (slot != indexFiles_.end() && platform::FileExists(damaged.path)) {
      try {
        {
          IndexDefinitionsOpen definitionsOnly;
          file = MakeIndexFile(damaged.path, false);
        }
        if (file && file->Opened() && file->TagCount() > 0) {
          file->LockProtocolSet(LockProtocol());
          file->Reindex();
        } else {
          file.reset();
        }
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const ETolvernCancelled&) {
        throw;
      } catch (const std::exception& e) {
        damaged.reason = e.what();
        file.reset();
      }
    }
    if (file) {
      *slot = std::move(file);
    } else {
      still.push_back(damaged);
    }
  }
  damaged_ = std::move(still);
  FollowOpenFiles();
}

// ---------------------------------------------------------------------------------------
// Index creation and tag deletion

int KXO_dBHandler::IndexOn(const std::string& indexFileName, const std::string& tagName,
                           int sortOption, bool duplicates, const std::string& forExpression,
                           const std::string& keyExpression) {
  CloseAllIndexes();
  const bool ahead = readAheadOn_;
  SetReadAheadOn(true);
  const std::string path = IndexPath(indexFileName);
  const TkxIndexFormat format = IndexFormatOf(Trim(indexFileName));
  const std::string tag = Trim(tagName).size() >= 1 && Trim(tagName).size() <= 31
                              ? Trim(tagName)
                              : std::string();
  const bool multi = IsMultiTagFormat(format);
  if (multi && tag.empty()) {
    SetReadAheadOn(ahead);
    FileError(5117, SubIndexTag, "Tag Field is Empty");
    return 0;
  }
  if (format == TkxIndexFormat::kUnknown) {
    SetReadAheadOn(ahead);
    FileError(2, SubCodeNone, path.c_str());
    return 0;
  }
  newTagCollation_ = sortOption == 7 || sortOption == 8 ? 2 : 1;
  // A cancelled build leaves no trace: a new file goes, an existing one gets its bytes
  // back (a multi-tag file its old length and directory).
  std::unique_ptr<TkxFileUndo> undo;
  if (Progress() && keepIndexesOnCancel_) undo = std::make_unique<TkxFileUndo>(path);
  std::unique_ptr<KXobjIndexFile> file = MakeIndexFile(path, true);
  if (file) file->LockProtocolSet(LockProtocol());
  if (!file || !file->Opened()) {
    SetReadAheadOn(ahead);
    FileError(2, SubCodeNone, path.c_str());
    return 0;
  }
  const std::string name = multi ? tag : NameWithoutExtension(path);
  const bool descending = sortOption == 1 || sortOption == 8;
  SetState(kStateBusy);
  try {
    file->TagAdd(name, keyExpression, forExpression, !descending, !duplicates);
    file.reset();
  } catch (const ETolvernCancelled&) {
    SetState(kStateNormal);
    try {
      file.reset();
    } catch (const std::exception&) {
      // The file is put back below whatever closing wrote.
    }
    if (undo) undo->Restore();
    SetReadAheadOn(ahead);
    throw;
  } catch (...) {
    SetState(kStateNormal);
    file.reset();
    SetReadAheadOn(ahead);
    throw;
  }
  SetState(kStateNormal);
  SetReadAheadOn(ahead);
  return 0;
}

int KXO_dBHandler::DeleteTag(const std::string&, const std::string& tagName) {
  if (Trim(tagName).empty()) return 1;
  KXobjIndexTag* tag = TagByName(tagName);
  if (!tag) return 1;
  if (tag == currentOrder_) SelectOrder("", true);
  KXobjIndexFile* file = tag->File();
  // The file answers 1 when it deleted the tag; 0 when it could not.
  if (file->TagDelete(UpperCase(Trim(tagName))) <= 0) return -1;
  if (file->TagCount() == 0) {
    for (auto& slot : indexFiles_)
      if (slot.get() == file) slot.reset();
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Copies and rename

void KXO_dBHandler::CopyStructure(const std::string& newFileName) {
  std::unique_ptr<KXO_DBFBuild> builder;
  if (Version() == kVersionDb4Memo) {
    builder = std::make_unique<KXO_DB4Build>(newFileName);
  } else if (Version() == kVersionFoxMemo) {
    auto fox = std::make_unique<KXO_DBFoxBuild>(newFileName);
    if (KXobjMemo* memo = OpenMemo()) {
      fox->SetMemoBlockSize(static_cast<uint16_t>(std::clamp(memo->MemoBlockSize(), 1, 65535)));
    }
    builder = std::move(fox);
  } else {
    builder = std::make_unique<KXO_DBFBuild>(newFileName);
  }
  builder->SetLanguageMark(CodePageMark());
  builder->SetWriteEnabled(false);
  for (const auto& f : Fields()) {
    if (builder->AddField(f.name, f.type, f.length, f.decimals) < 0) return;
  }
  builder->SetWriteEnabled(true);
  builder->WriteTable();
}

void KXO_dBHandler::CopyTable(const std::string& newFileName) {
  // The copy is taken under the whole-file lock of a shared table, waited for a bounded
  // time; it is released however the copy ends.
  if (Shared() && !LockRegionWaiting(0, 0x7FFFFFFF)) {
    const std::string info = FileName() + ": the table cannot be locked for the copy";
    FileError(ErrLocked, SubPack, info.c_str());
    throw ETolvernError(EngineErrorMessage(ErrLocked, SubPack, info.c_str()));
  }
  struct Unlock {
    KXO_dBHandler* t;
    ~Unlock() {
      try {
        if (t->Shared()) t->UnlockRegion();
      } catch (...) {
      }
    }
  } unlock{this};
  RefreshHeader();
  const int32_t total = RecordCount();
  TkxProgressScope progress(Progress(), kStatusCopy, total);
  const int32_t saved = CurrentRecord();
  CopyStructure(newFileName);
  std::string target = newFileName;
  if (platform::ExtensionOf(target).empty()) target += kDefaultExtension;
  auto copy = std::make_unique<KXO_dBHandler>(target, true, false);
  std::vector<int> memoFields;
  const bool memos = MemoFieldBlocks(memoFields);
  KXobjMemo* source = memos ? OpenMemo() : nullptr;
  KXobjMemo* dest = memos ? copy->OpenMemo() : nullptr;
  const std::string destMemo = dest ? dest->FileName() : std::string();
  const bool ahead = readAheadOn_;
  try {
    copy->SetWriteBehind(kWriteBehindBytes);
    copy->LockTable();
    if (!currentOrder_) SetReadAheadOn(true);
    int32_t copied = 0;
    for (GetRecord(PosTop); !Eof(); GetRecord(PosNext)) {
      std::memcpy(copy->Buffer(), Buffer(), static_cast<size_t>(RecordLength()));
      if (source && dest) {
        for (int f : memoFields) {
          const int32_t block = static_cast<int32_t>(std::llround(GetNumber(f)));
          if (block <= 0) continue;
          std::vector<uint8_t> data;
          try {
            data = source->MemoRead(block);
          } catch (const ETolvernError&) {
            // A damaged memo is not carried over.
            copy->PutNumber(f, 0);
            copy->StoreFieldText(copy->Fields()[static_cast<size_t>(f - 1)], "");
            continue;
          }
          // An empty memo stays one: the copy points to an empty memo, not to none.
          const int32_t newBlock =
              dest->MemoWriteNew(data.data(), data.size(), source->LastBlockType());
          copy->PutNumber(f, newBlock);
        }
      }
      const bool deleted = IsDeleted();
      copy->AppendRecord();
      if (deleted) copy->DeleteRecord();
      if ((++copied & 0x3FF) == 0) progress.Step(copied);
    }
    // The last step comes once every record is written: a stop there still removes the
    // copy.
    progress.Step(copied);
    copy->UnlockTable();
    copy->FlushFile();
  } catch (const ETolvernCancelled&) {
    // A cancelled copy leaves nothing behind.
    try {
      copy.reset();
    } catch (...) {
    }
    platform::RemoveFile(target);
    if (!destMemo.empty()) platform::RemoveFile(destMemo);
    SetReadAheadOn(ahead);
    if (saved > 0 && saved <= RecordCount()) KXO_dBaseFld::GetRecord(saved);
    throw;
  } catch (...) {
    SetReadAheadOn(ahead);
    throw;
  }
  copy.reset();
  SetReadAheadOn(ahead);
  if (saved > 0 && saved <= RecordCount()) KXO_dBaseFld::GetRecord(saved);
}

bool KXO_dBHandler::RenameTo(const std::string& newName) {
  const std::string oldBase = UpperCase(NameWithoutExtension(FileName()));
  std::string target = newName;
  if (target.find('/') == std::string::npos) {
    target = platform::DirectoryOf(FileName()) + "/" + target;
  }
  if (platform::ExtensionOf(target).empty()) target += platform::ExtensionOf(FileName());
  KXO_dBaseFld::RenameTo(target);
  const std::string newBase = NameWithoutExtension(target);
  for (auto& file : indexFiles_) {
    if (!file) continue;
    if (UpperCase(NameWithoutExtension(file->FileName())) == oldBase) {
      file->Rename(platform::DirectoryOf(target) + "/" + newBase +
                   platform::ExtensionOf(file->FileName()));
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Text search

namespace {

// Matches `pattern` (with '?' already copied into `value`) inside `value`.
bool FindIn(const std::string& value, const std::string& pattern, bool anyStart, bool mayEndEarly) {
  if (pattern.size() > value.size()) return false;
  if (!mayEndEarly) {
    const std::string trimmed = TrimRight(value);
    if (trimmed.size() < pattern.size()) return false;
    if (!anyStart) return trimmed == pattern;
    return trimmed.compare(trimmed.size() - pattern.size(), pattern.size(), pattern) == 0;
  }
  if (!anyStart) return value.compare(0, pattern.size(), pattern) == 0;
  return value.find(pattern) != std::string::npos;
}

double Round48(double v) {
  // A 48-bit real keeps about 11-12 significant digits.
  if (v == 0 || !std::isfinite(v)) return v;
  const double scale = std::pow(10.0, 11 - static_cast<int>(std::floor(std::log10(std::fabs(v)))));
  return std::round(v * scale) / scale;
}

}  // namespace

bool KXO_dBHandler::SearchText(const std::string& text, int32_t& fieldNo, bool translate,
                               int32_t lastRecord, int32_t& recNo) {
  if (fieldNo > FieldCount() || fieldNo < 0 || text.empty()) return false;
  const int first = fieldNo == 0 ? 1 : fieldNo;
  const int last = fieldNo == 0 ? FieldCount() : fieldNo;
  const bool caseInsensitive = SearchOptions & kSearchCaseInsensitive;
  bool whole = SearchOptions & kSearchWholeValue;
  std::string pattern = text;
  if (caseInsensitive) pattern = platform::AnsiUpper(pattern);
  if (translate && !caseInsensitive) pattern = platform::AnsiToOem(pattern);
  bool anyStart = !(SearchOptions & kSearchAnchored);
  bool mayEndEarly = true;
  std::vector<size_t> wild;
  if (SearchOptions & kSearchWildcards) {
    anyStart = false;
    mayEndEarly = false;
    if (!pattern.empty() && pattern.front() == '*') {
      pattern.erase(0, 1);
      anyStart = true;
      whole = false;
    }
    if (!pattern.empty() && pattern.back() == '*') {
      pattern.pop_back();
      mayEndEarly = true;
      whole = false;
    }
    if (!anyStart) {
      for (size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == '?') wild.push_back(i);
      if (!wild.empty()) whole = false;
    }
  } else if (whole) {
    mayEndEarly = false;
  }
  if (pattern.empty()) return false;
  double number = 0;
  bool isNumber = false;
  {
    const std::string t = Trim(text);
    char* end = nullptr;
    number = StrToDoubleC(t.c_str(), &end);
    isNumber = !t.empty() && end && *end == '\0';
  }
  int32_t day = 0;
  bool dayTried = false;
  const bool logical = LogicalTrueChars.find(text[0]) != std::string::npos;

  const int32_t total = RecordCount();
  TkxProgressScope progress(Progress(), kStatusSearch, total);
  const std::string order = orderName_;
  const bool ahead = readAheadOn_;
  const uint8_t savedState = State();
  int32_t counter = 0;
  bool match = false;
  int32_t matchRec = 0;
  int matchField = 0;
  auto restore = [&]() {
    SetState(kStateNormal);
    if (!(SearchOptions & kSearchKeepOrder) && !order.empty() && TagByName(order)) {
      KXobjIndexTag* tag = TagByName(order);
      currentOrder_ = tag;
      orderName_ = order;
      tag->ReadPath(2);
    }
    SetReadAheadOn(ahead);
  };
  try {
    if (!(SearchOptions & kSearchKeepOrder) && currentOrder_) {
      currentOrder_->FreePath();
      currentOrder_ = nullptr;
      orderName_.clear();
    }
    if (!currentOrder_) SetReadAheadOn(true);
    if (recNo > 0) {
      GetRecord(recNo);
      SkipRecords(1);
    } else {
      GetRecord(PosTop);
    }
    if (!(SearchOptions & kSearchNotBusy)) SetState(kStateBusy);
    (void)savedState;
    for (; !Eof() && !match; ) {
      if (lastRecord > 0 && CurrentRecord() > lastRecord) break;
      for (int f = first; f <= last && !match; ++f) {
        const DbfFieldInfo& field = Fields()[static_cast<size_t>(f - 1)];
        switch (field.type) {
          case 'C': {
            std::string value = GetField(f);
            if (value.size() < pattern.size()) break;
            if (translate && caseInsensitive) value = platform::OemToAnsi(value);
            if (caseInsensitive) value = platform::AnsiUpper(value);
            for (size_t i : wild)
              if (i < value.size()) value[i] = '?';
            if (whole) {
              std::string v = TrimRight(value);
              match = v == pattern;
            } else {
              match = FindIn(value, pattern, anyStart, mayEndEarly);
            }
            break;
          }
          case 'N':
          case 'F':
            if (isNumber && !Trim(GetField(f)).empty()) {
              try {
                match = Round48(GetNumber(f)) == Round48(number);
              } catch (const ETolvernError&) {
              }
            }
            break;
          case 'D':
            if (!dayTried) {
              dayTried = true;
              try {
                day = GlobalDateConverter().TextToDay(text);
              } catch (const std::exception&) {
                day = 0;
              }
            }
            if (day > 0) {
              try {
                match = GetDate(f) == day;
              } catch (const std::exception&) {
              }
            }
            break;
          case 'L':
            if (fieldNo != 0) match = GetLogical(f) == logical;
            break;
          case 'M': {
            std::vector<uint8_t> data;
            try {
              ReadMemo(f, data);
            } catch (const ETolvernError&) {
              break;
            }
            std::string memoText(data.begin(), data.end());
            if (translate && caseInsensitive) memoText = platform::OemToAnsi(memoText);
            if (caseInsensitive) memoText = platform::AnsiUpper(memoText);
            match = memoText.find(pattern) != std::string::npos;
            break;
          }
          default:
            break;
        }
        if (match) {
          matchRec = CurrentRecord();
          matchField = f;
        }
      }
      if (match) break;
      ++counter;
      if ((counter & 0x3FF) == 0) progress.Step(counter);
      GetRecord(PosNext);
    }
    if (!match) progress.Step(counter);  // the last record passed
  } catch (const ETolvernCancelled&) {
    restore();
    if (recNo > 0 && recNo <= RecordCount()) GetRecord(recNo);
    throw;
  } catch (...) {
    restore();
    throw;
  }
  restore();
  if (match) {
    recNo = matchRec;
    fieldNo = matchField;
    GetRecord(matchRec);
  } else if (recNo > 0 && recNo <= RecordCount()) {
    GetRecord(recNo);
  }
  return match;
}

}  // namespace tolvern
