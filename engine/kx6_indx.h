// The index framework that every index format builds on: an index file holding tags, a
// tag that owns its key and FOR expressions and implements seeking, ordered movement,
// ranges, key insertion and key maintenance on record writes, and a node object that
// caches one B-tree page as a list of keys.
//
// A format supplies only the byte layout: how a page becomes a list of keys and back,
// where the header and the root are, the stored key form, and creation and building.
//
// In memory every key is present at leaf level and every branch entry carries the last
// key of its child (the key order's upper bound of that subtree) and the child's page in
// its reference. Formats whose pages store keys differently (a branch key that is not
// repeated in a leaf) map their pages onto this shape when they load and store them.
//
// Index files are untrusted: a page outside the file, a count that does not fit its
// page, a tree deeper than kMaxTreeDepth or a chain that loops ends in an engine error
// (code kErrIndexDamaged), never in a read outside a buffer or an endless walk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_Date.h"
#include "kx6_disk.h"

namespace tolvern {

class KXO_dBaseFld;
class TkxExpHandler;
class KXobjIndexFile;
class KXobjIndexTag;

// Kind markers of tags: the bytes 03 'U' 'N' 'K' (base), 03 'N' 'D' 'X', 03 'N' 'T' 'X'
// read as little-endian integers.
inline constexpr uint32_t kTagKindBase = 0x4B4E5503;
inline constexpr uint32_t kTagKindNdx = 0x58444E03;
inline constexpr uint32_t kTagKindNtx = 0x58544E03;

// Record numbers with a meaning of their own in searches.
inline constexpr int32_t kSearchAnyRecord = -1;           // plain seek: record ignored
inline constexpr int32_t kSearchAfterEqual = 0x7FFFFFFF;  // move past equal keys

// The deepest tree the engine walks; deeper means a damaged file (a loop).
inline constexpr int kMaxTreeDepth = 64;

// Engine error code of a damaged or unusable index file (sub-code SubIndexTag).
inline constexpr int32_t kErrIndexDamaged = 2112;

// A tag of a multi-tag file left out while IndexDamagedTagsSkipped was active.
struct TkxSkippedTag {
  std::string name;
  std::string reason;
};

// One entry of a page in its stored form, as page writers lay it down.
struct KXobjPageEntry {
  std::string key;        // the stored key bytes
  int32_t reference = 0;  // record number in a leaf, child page in a branch
  int32_t recno = 0;      // the key's record number (branch entries of formats keeping it)
};

// One key: the value plus two integers. The key record number orders equal keys in
// formats whose entries carry it; the reference is the record number in a leaf entry
// and the child page in a branch entry.
class KXobjIndexKeyData : public TkxVariant {
 public:
  explicit KXobjIndexKeyData(int32_t capacity = 0) : TkxVariant(capacity) {}

  std::unique_ptr<KXobjIndexKeyData> Clone() const {
    return std::make_unique<KXobjIndexKeyData>(*this);
  }
  int32_t KeyRecNo() const { return keyRecNo_; }
  void SetKeyRecNo(int32_t n) { keyRecNo_ = n; }
  int32_t Reference() const { return reference_; }
  void SetReference(int32_t n) { reference_ = n; }

 private:
  int32_t keyRecNo_ = 0;
  int32_t reference_ = 0;
};

// One node page in memory: its entries in key order and its place in the cached path
// from the root to a leaf (each node holds the child for its current entry).
class KXobjIndexKey {
 public:
  // Node kinds: below kLeafKind a branch, kLeafKind or more a leaf; a new root made by a
  // split is kNewRootKind (a branch).
  static constexpr uint8_t kNewRootKind = 1;
  static constexpr uint8_t kBranchKind = 2;
  static constexpr uint8_t kLeafKind = 3;

  // A node of `tag` below `parent` (nullptr for the root). A page number above 0 is
  // loaded at once through the tag's PageLoad; the parent's current entry must then be
  // the one that refers to `page`.
  KXobjIndexKey(KXobjIndexTag* tag, KXobjIndexKey* parent, int32_t page);
  ~KXobjIndexKey();
  KXobjIndexKey(const KXobjIndexKey&) = delete;
  KXobjIndexKey& operator=(const KXobjIndexKey&) = delete;

  int Count() const { return static_cast<int>(entries_.size()); }
  KXobjIndexKeyData& At(int index) { return *entries_.at(static_cast<size_t>(index)); }
  const KXobjIndexKeyData& At(int index) const { return *entries_.at(static_cast<size_t>(index)); }
  KXobjIndexKeyData& Last() { return *entries_.back(); }
  // Appends without any bookkeeping (page loading).
  void Append(std::unique_ptr<KXobjIndexKeyData> entry) { entries_.push_back(std::move(entry)); }

  // Inserts a copy of `entry` at `index` (clamped to 0..Count()). A current index at or
  // after it moves along. When the entry becomes the last one, the parent's entry for
  // this page takes its key (and so on upward). Marks the node changed.
  void InsertEntry(int index, const KXobjIndexKeyData& entry);
  // Removes the current entry (see the .cpp for how parents follow).
  void DeleteCurrent();

  int32_t PageNo() const { return page_; }
  void SetPageNo(int32_t page) { page_ = page; }
  KXobjIndexKey* Parent() const { return parent_; }
  KXobjIndexKey* Child() const { return child_.get(); }
  KXobjIndexTag* Tag() const { return tag_; }
  uint8_t Kind() const { return kind_; }
  void SetKind(uint8_t kind) { kind_ = kind; }
  bool IsBranch() const { return kind_ < kLeafKind; }
  bool IsLeaf() const { return kind_ >= kLeafKind; }
  int CurrentIndex() const { return current_; }
  void SetCurrentIndex(int index) { current_ = index; }
  bool Changed() const { return changed_; }
  void SetChanged(bool on) { changed_ = on; }
  bool Linked() const { return linked_; }
  bool Orphaned() const { return orphaned_; }
  bool AtFirst() const { return atFirst_; }
  bool AtLast() const { return atLast_; }
  // The index of the entry that refers to page `page`, preferring the current entry;
  // -1 when none does.
  int IndexOfReference(int32_t page) const;

 private:
  friend class KXobjIndexTag;

  // Makes the parent's entry for this page carry this node's last key.
  void PropagateLastKey();
  // Takes this node's entry out of its parent after the node became empty.
  void Unlink();
  // Replaces a branch that is left with one child by that child (in its parent, or as
  // the root): other programs cannot read a branch page without a key.
  void Collapse();

  std::vector<std::unique_ptr<KXobjIndexKeyData>> entries_;
  int32_t page_ = 0;
  KXobjIndexKey* parent_ = nullptr;
  std::unique_ptr<KXobjIndexKey> child_;
  KXobjIndexTag* tag_;
  uint8_t kind_ = kLeafKind;
  int current_ = -1;
  bool changed_ = false;
  bool linked_ = false;
  bool orphaned_ = false;
  bool atFirst_ = false;
  bool atLast_ = false;
};

// One index order. Changes are written when they are made; a format's destructor frees
// the path itself (FreePath), since the base's destructor can no longer reach the
// format's page layout.
class KXobjIndexTag {
 public:
  KXobjIndexTag(KXobjIndexFile* file, const std::string& name, int32_t headerPage);
  virtual ~KXobjIndexTag();
  KXobjIndexTag(const KXobjIndexTag&) = delete;
  KXobjIndexTag& operator=(const KXobjIndexTag&) = delete;

  // --- format operations, in slot order ----------------------------------------------
  // Converts a search, limit or new key into the stored key form. Base: nothing.
  virtual void KeyAdjust(TkxVariant& key);
  // Stores the expressions and flags and compiles both expressions; answers 0. Formats
  // extend it to write the header and build the tag from the table.
  virtual int TagCreate(const std::string& name, const std::string& keyExpr,
                        const std::string& forExpr, bool ascending, bool unique);
  // Inserts a key (reference = record number); false when a unique tag already holds
  // the value or the tag has no root.
  virtual bool KeyAdd(KXobjIndexKeyData& key);
  // The root page; formats read it from their header.
  virtual int32_t RootPage();
  // Reads page `page` into `node` (entries, kind). Base: nothing.
  virtual int PageLoad(int32_t page, KXobjIndexKey& node);
  // Writes `node` to page `page`, splitting it when it holds more than a page can.
  virtual int PageStore(int32_t page, KXobjIndexKey& node);
  virtual void TagLoad();
  virtual void TagStore();
  virtual void KeyExprCompile();
  virtual void ForExprCompile();
  // Evaluates the key expression on the table's record buffer into `key`; `built` tells
  // whether there was an expression to evaluate.
  virtual bool KeyBuild(KXobjIndexKeyData& key, bool& built);
  // True when the tag has a FOR condition and the current record satisfies it.
  virtual bool ForTest();

  // Whether a node that became empty stays linked to its parent. Base: never.
  virtual bool KeepEmptyChild(const KXobjIndexKey& node) const;
  // Search number that places a new key among equal ones (when keys are not ordered by
  // record number): kSearchAfterEqual puts it after them.
  virtual int32_t DuplicateSearchNumber() const;
  // Removes the key the path is positioned on and writes the changed pages.
  virtual void DeleteCurrentKey();

  // --- operations used by the table ---------------------------------------------------
  // Exact or partial seek (exact when the table's exact-match flag is on); answers the
  // record number, or 0 (EOF set when past the end; positioned on the next greater key).
  int32_t Seek(const KXobjIndexKeyData& key);
  // A Seek that leaves the tag's path and current key as they were.
  int32_t SeekKeep(const KXobjIndexKeyData& key);
  // Moves: PosTop, PosBottom, PosNext, PosPrior, PosSame; answers the record number, 0 at
  // BOF/EOF.
  int32_t Goto(int32_t code);
  // Keys from `low` to `high` (both inclusive with both flags true; a key that begins
  // with a limit counts as equal to it; an empty value: no limit). Answers Goto(PosTop).
  int32_t SetRange(const TkxVariant& low, bool lowFlag, const TkxVariant& high, bool highFlag);
  void ClearRange();
  // Positions on the key of `recno` unless the current key is already it.
  void SyncToRecord(int32_t recno);
  // The record numbers of up to `count` entries that PosNext (or PosPrior) moves would
  // reach from the current entry, the range applied, into `out`; the position does not
  // change. Empty when the tag stands on no entry or another program changed the file.
  void PeekRecords(int32_t code, int32_t count, std::vector<int32_t>& out);
  // Rebuilds the path: 0 goes to the top, 1 to the table's current record, 2 only reads
  // the root.
  void ReadPath(int mode);
  // Writes changed pages and the header (when changed) and drops the path.
  void FreePath();
  // Writes changed pages and the header (when changed) and keeps the path.
  void StoreChanges();
  // Forgets the path without writing anything: for a file another process changed, where
  // what is held may no longer be written back. The next move starts from the entry the
  // path stood on, read again from the file.
  void ForgetPath();
  // Keeps the tag current after the table wrote record `recno` (appended or rewritten).
  bool KeyUpdate(int32_t recno, bool append);
  // The key expression rebuilt from its compiled form; empty without one.
  std::string KeyExpression() const;

  // --- state ---------------------------------------------------------------------------
  uint32_t KindMarker() const { return kind_; }
  const std::string& TagName() const { return name_; }
  const std::string& KeyExprText() const { return keyExpr_; }
  const std::string& ForExprText() const { return forExpr_; }
  char KeyType() const { return keyType_; }
  int32_t KeyLength() const { return keyLength_; }
  bool Ascending() const { return ascending_; }
  bool Unique() const { return unique_; }
  bool HasFor() const { return hasFor_; }
  bool DescendingCompare() const { return descendingCompare_; }
  bool ReverseWalk() const { return reverseWalk_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool KeyUpdated() const { return keyUpdated_; }
  bool InUpdate() const { return inUpdate_; }
  const KXobjIndexKeyData& CurrentKey() const { return current_; }
  int32_t CurrentRecord() const { return current_.Reference(); }
  KXobjIndexFile* File() const { return file_; }
  KXO_dBaseFld* Table() const;
  int32_t HeaderPage() const { return headerPage_; }
  int32_t CachedRootPage() const { return rootPage_; }
  bool HeaderChanged() const { return headerChanged_; }
  void MarkHeaderChanged() { headerChanged_ = true; }
  KXobjIndexKey* RootNode() const { return root_.get(); }
  // Empty when the tag can be changed; otherwise why not (a key expression this engine
  // cannot evaluate, an unsupported layout). Changes then raise an engine error before
  // any byte is written.
  const std::string& ReadOnlyReason() const { return readOnlyReason_; }
  bool Maintainable() const { return readOnlyReason_.empty(); }

  // Three-way compare of a search key with an entry, through the table's collation and
  // negated for descending-compare tags. `prefixResult` is the answer when `key` is a
  // proper prefix of `entry`.
  int CompareKeys(const TkxVariant& key, const TkxVariant& entry, int prefixResult) const;

 protected:
  // Inserts the separator of a page split off from `node` into the parent, before the
  // entry for `node` (making a new root first when `node` is the root).
  void SplitLink(KXobjIndexKey& node, const KXobjIndexKeyData& separator);
  // Sizes of the pages a node of `count` entries is cut into so that none holds more
  // than `limit` (evenly, the node's own page last).
  static std::vector<int> SplitSizes(int count, int limit);
  // True when every node above `node` is on the entry that leads to it as its last one.
  bool OnRightmostPath(const KXobjIndexKey& node) const;
  // Refuses a change when the tag cannot be maintained.
  void RequireMaintainable() const;
  // Reports a damaged index and never returns.
  [[noreturn]] void Damaged(const std::string& what) const;
  // Evaluates the key expression on the current record: type and length of the value.
  // Answers false when there is no expression or it cannot be evaluated (`error` says
  // why).
  bool ProbeKey(TkxVariant& value, std::string& error);
  // Reads all records into `sorter`: status kind 1, FOR condition applied when asked.
  void ScanTable(class TkxSort& sorter, bool applyFor);

  // The path (see the .cpp): the deepest cached node, moves, storing.
  KXobjIndexKey* Leaf() const;
  bool PathNext();
  bool PathLast();
  // Puts every level of the path on its last entry; the leaf reached (it may be empty).
  KXobjIndexKey* PathRightmostLeaf();
  // Stores the changed nodes, then reloads the root: the path matches the file again.
  void CommitPath();
  // Positions on the entry with this (adjusted) key and record number.
  bool FindEntry(const KXobjIndexKeyData& key, int32_t recno);

  void SetKindMarker(uint32_t kind) { kind_ = kind; }
  void SetKeyType(char type) { keyType_ = type; }
  void SetKeyLength(int32_t length) { keyLength_ = length; }
  void SetFlags(bool ascending, bool unique) {
    ascending_ = ascending;
    unique_ = unique;
  }
  void SetExpressions(const std::string& keyExpr, const std::string& forExpr);
  void SetDescendingCompare(bool on) { descendingCompare_ = on; }
  void SetReverseWalk(bool on) { reverseWalk_ = on; }
  void SetRootPage(int32_t page) { rootPage_ = page; }
  void SetHeaderChanged(bool on) { headerChanged_ = on; }
  void SetReadOnlyReason(const std::string& why) { readOnlyReason_ = why; }
  TkxExpHandler* KeyHandler() const { return keyHandler_.get(); }
  TkxExpHandler* ForHandler() const { return forHandler_.get(); }

 private:
  friend class KXobjIndexKey;

  // One step of a reader (a move, a seek, a path rebuild) on a shared file: it holds the
  // file's read lock while the step reads pages, and notices whether another program
  // changed the file since the previous step. Steps nest; only the outermost acts.
  class ReadStep {
   public:
    explicit ReadStep(KXobjIndexTag& tag);
    ~ReadStep();
    ReadStep(const ReadStep&) = delete;
    ReadStep& operator=(const ReadStep&) = delete;
    // Whether this step guards the reads (the outermost step on a shared file).
    bool Active() const { return active_; }

   private:
    KXobjIndexTag& tag_;
    bool active_ = false;
    bool locked_ = false;
  };
  // Compares the file's marker (and, for formats whose marker does not count every
  // change, the leaf the path stands on) with what the path was read from; on a change
  // the path is marked stale and its position kept.
  void NoticeChange();
  // True when the leaf of the path holds what its page in the file holds now.
  bool LeafMatchesFile();
  // Keeps the entry the path stands on, for a move after the path was dropped.
  void HoldPosition();
  // Reads the path again from the root and stands on the held entry: 0 when it is still
  // there, -1 when it is gone and the path stands on the entry after its place, 1 when
  // nothing follows its place.
  int Resync();
  // A run: the moves of a walk in one direction since it started at an end, a seek or a
  // rebuilt path. A record that another program's rewrite moved ahead of the walk is met
  // again in it; the run passes it the second time.
  void StartRun();
  bool SeenInRun(int32_t recno) const;
  void MarkSeenInRun(int32_t recno);
  // Goto without a reader step of its own.
  int32_t GotoOnce(int32_t code);
  // Whether a PosNext or PosPrior stays in the leaf the path holds (reads no page).
  bool MoveStaysInLeaf(int32_t code) const;

  // --- path and search ---
  int Depth(const KXobjIndexKey* node) const;
  KXobjIndexKey* Descend(KXobjIndexKey* node);
  int SearchPage(int32_t recno, const TkxVariant& key, int prefixResult);
  bool PositionQuery();
  // Seek of a tag walked from the end of its stored order (see Seek).
  int32_t SeekReversed(const KXobjIndexKeyData& search, int prefix);
  bool PathFirst();
  bool PathPrior();
  bool PathReread();
  bool EnterFirst(KXobjIndexKey* node);
  bool EnterLast(KXobjIndexKey* node);
  void LoadRoot();
  void DropPath();
  // Writes every changed node of the path, deepest first (splits included).
  void StorePath();
  void ApplyRange();
  bool InRangeHigh() const;
  bool InRangeLow() const;
  int32_t Finish();
  bool EvaluateKey(KXobjIndexKeyData& key);

  KXobjIndexFile* file_;
  uint32_t kind_ = kTagKindBase;
  std::string name_;
  std::string keyExpr_;
  std::string forExpr_;
  char keyType_ = 'C';
  int32_t keyLength_ = 0;

  KXobjIndexKeyData low_;
  KXobjIndexKeyData high_;
  bool lowFlag_ = false;
  bool highFlag_ = false;
  bool rangeEmpty_ = false;

  int32_t headerPage_;
  int32_t rootPage_ = 0;
  std::unique_ptr<KXobjIndexKey> root_;
  bool headerChanged_ = false;

  bool ascending_ = true;
  bool unique_ = false;
  bool hasFor_ = false;
  bool descendingCompare_ = false;
  bool reverseWalk_ = false;

  KXobjIndexKeyData current_;
  bool bof_ = false;
  bool eof_ = false;
  bool keyUpdated_ = false;
  bool inUpdate_ = false;

  std::unique_ptr<TkxExpHandler> keyHandler_;
  std::unique_ptr<TkxExpHandler> forHandler_;
  std::string readOnlyReason_;

  // Reader steps on a shared file (see ReadStep).
  int readDepth_ = 0;
  std::string marker_;  // the file's marker as the last step saw it
  bool stale_ = false;  // the file changed since the path was read
  std::unique_ptr<KXobjIndexKeyData> held_;  // the entry a stale or dropped path stood on
  TkxHugeSet runSeen_;    // records met in the run
  int32_t runCode_ = 0;   // PosNext or PosPrior: the run's direction; 0 before its first move
  bool runChanged_ = false;  // another program changed the file during the run
};

// One open index file.
class KXobjIndexFile {
 public:
  // `table` may be null (no expressions can be evaluated then).
  explicit KXobjIndexFile(KXO_dBaseFld* table);
  virtual ~KXobjIndexFile();
  KXobjIndexFile(const KXobjIndexFile&) = delete;
  KXobjIndexFile& operator=(const KXobjIndexFile&) = delete;

  // --- operations, in slot order --------------------------------------------------------
  virtual int TagAdd(const std::string& name, const std::string& keyExpr,
                     const std::string& forExpr, bool ascending, bool unique);
  virtual int TagDelete(const std::string& name);
  // Reports through the owning table's FileError, or the engine's error procedure.
  virtual void FileError(int32_t code, int32_t subCode, const char* info);
  virtual int32_t PageNew();
  virtual int32_t PageCount();
  // Reads `length` bytes at `position` (a byte offset here; formats with numbered pages
  // multiply); true when all were read.
  virtual bool PageRead(int32_t position, void* buffer, int32_t length);
  virtual bool PageWrite(int32_t position, const void* buffer, int32_t length);
  virtual void Reindex();
  virtual bool Rename(const std::string& newName);
  // Updates every tag for record `recno` after a write.
  virtual bool KeyUpdateAll(int32_t recno, bool append);
  // Whether another process may have changed the file since it was read (asked under
  // the index lock). Formats with a change counter compare it; the others answer true
  // for every shared file, so that the pages a write touches are read again.
  virtual bool ExternalChange();
  virtual void LockProtocolSet(int protocol);
  // Empties the file to a valid index without keys (single-tag formats).
  virtual void Zap();
  // Whether `page` can be the page of a node (inside the file, not the header).
  virtual bool ValidNodePage(int32_t page);

  // --- file operations -------------------------------------------------------------------
  KXobjIndexTag* TagByName(const std::string& name) const;
  int TagCount() const { return static_cast<int>(tags_.size()); }
  KXobjIndexTag* TagAt(int index) const;
  const std::string& FileName() const { return fileName_; }
  // True when `path` names this file: their canonical paths are equal (a bare name is
  // taken relative to the current directory).
  bool SameFile(const std::string& path) const;
  // Takes the index lock region of the lock protocol (shared files only), retrying for
  // MemoLockWaitTotal milliseconds; when it stays taken, reports error 33 ("Error %s in
  // Lock of %s") through the error procedure and raises it.
  bool IndexLock();
  bool IndexUnlock();
  // Takes the same region as a read lock for one step of a reader (the lock the other
  // programs of the protocol take to read), retrying like IndexLock; nested in any lock
  // this file already holds. Answers false, taking nothing, for an unshared file.
  bool ReadLock();
  void ReadUnlock();
  // What tells a reader that the file changed since its previous step: the first
  // MarkerBytes() bytes of the file and, unless they count every change, its size.
  std::string ReadMarker();
  // Leading bytes of the file that make up the marker: where the format keeps its root,
  // its end or its change counter. Base: 64.
  virtual int32_t MarkerBytes() const;
  // Whether the marker changes with every change of the file (a change counter that the
  // other programs keep). Base: false; a reader then also compares its leaf page.
  virtual bool MarkerCountsChanges() const;
  // Call with the index lock held. When another process wrote the file since it was read,
  // drops everything held of it (pages, tag headers, the file's end) unwritten and reads the
  // tag headers again.
  void ForgetExternalChange();

  // Collects page writes that follow each other into larger transfers until
  // EndWriteBatch (builders write every page once, in increasing order). Reads write the
  // collected pages first.
  void BeginWriteBatch();
  void EndWriteBatch();

  KXO_dBaseFld* Table() const { return table_; }
  // The tags left out when the file was opened (see IndexDamagedTagsSkipped).
  const std::vector<TkxSkippedTag>& SkippedTags() const { return skippedTags_; }
  KXO_DiskFile* Disk() const { return disk_.get(); }
  bool Opened() const { return disk_ != nullptr; }
  int32_t NextFreePage() const { return nextFree_; }
  void SetNextFreePage(int32_t page) { nextFree_ = page; }
  bool KeysByRecNo() const { return keysByRecNo_; }
  bool ExactSeek() const { return exactSeek_; }
  void SetExactSeek(bool on) { exactSeek_ = on; }
  bool KeyTranslation() const { return keyTranslation_; }
  void SetKeyTranslation(bool on) { keyTranslation_ = on; }
  int LockProtocol() const { return protocol_; }
  // The region IndexLock takes (the protocol's index lock).
  uint32_t IndexLockOffset() const { return lockOffset_; }
  uint32_t IndexLockLength() const { return lockLength_; }

 protected:
  // Resolves `name` like every index file: trimmed, the table's directory when it has
  // none, `defaultExt` (in the case of the table's extension) when it has no extension;
  // an existing file is found without regard to case. Then opens it (or creates it in
  // create mode: an existing file is opened instead unless `overwrite`). Without a file
  // to open the object stays without disk file.
  void AttachDiskFile(const std::string& name, const std::string& defaultExt, bool create,
                      bool overwrite, bool readWrite, bool shared);
  KXobjIndexTag* AddTag(std::unique_ptr<KXobjIndexTag> tag);
  // Inserts `tag` at `index` (clamped to the list) and answers it.
  KXobjIndexTag* InsertTag(int index, std::unique_ptr<KXobjIndexTag> tag);
  // Removes `tag` from the list and frees it (its path is stored first).
  void FreeTag(const KXobjIndexTag* tag);
  void FreeTags() { tags_.clear(); }
  void SetKeysByRecNo(bool on) { keysByRecNo_ = on; }
  void NoteSkippedTag(const std::string& name, const std::string& reason) {
    skippedTags_.push_back({name, reason});
  }

 private:
  std::vector<TkxSkippedTag> skippedTags_;
  std::string fileName_;
  std::string canonicalPath_;  // of the open file, for SameFile
  std::vector<std::unique_ptr<KXobjIndexTag>> tags_;
  KXO_dBaseFld* table_;
  std::unique_ptr<KXO_DiskFile> disk_;
  int32_t nextFree_ = -1;
  bool keysByRecNo_ = false;
  bool exactSeek_ = false;
  bool keyTranslation_ = false;
  int protocol_ = 0;
  uint32_t lockOffset_ = 0x7FFFFFFE;
  uint32_t lockLength_ = 1;
  bool batching_ = false;
  int64_t batchStart_ = 0;
  std::vector<uint8_t> batch_;

  void FlushBatch();
};

// Holds the whole-file lock of a shared index file for a scope; raises "Error %s in Lock
// of %s" when the lock cannot be had.
class WholeFileLock {
 public:
  explicit WholeFileLock(KXO_DiskFile* disk);
  ~WholeFileLock();
  WholeFileLock(const WholeFileLock&) = delete;
  WholeFileLock& operator=(const WholeFileLock&) = delete;

 private:
  KXO_DiskFile* disk_;
  bool locked_ = false;
};

// While one lives on a thread, index files opened there are read for their tag
// definitions only: a tag whose root page lies outside the file is accepted, so that the
// file can be rebuilt from those definitions. Such a file must be rebuilt before a walk.
class IndexDefinitionsOpen {
 public:
  IndexDefinitionsOpen();
  ~IndexDefinitionsOpen();
  IndexDefinitionsOpen(const IndexDefinitionsOpen&) = delete;
  IndexDefinitionsOpen& operator=(const IndexDefinitionsOpen&) = delete;
  static bool Active();
};

// While one lives on a thread, a multi-tag index file opened there whose directory can be
// read opens with the tags whose headers can be read; each tag left out is listed in the
// file's SkippedTags with the reason. Used to check or rebuild what is left of a damaged file.
class IndexDamagedTagsSkipped {
 public:
  IndexDamagedTagsSkipped();
  ~IndexDamagedTagsSkipped();
  IndexDamagedTagsSkipped(const IndexDamagedTagsSkipped&) = delete;
  IndexDamagedTagsSkipped& operator=(const IndexDamagedTagsSkipped&) = delete;
  static bool Active();
};

// Collects a builder's page writes into large transfers for a scope.
class WriteBatch {
 public:
  explicit WriteBatch(KXobjIndexFile* file) : file_(file) { file_->BeginWriteBatch(); }
  // Writes what is collected; a failure is reported here.
  void Close();
  ~WriteBatch();
  WriteBatch(const WriteBatch&) = delete;
  WriteBatch& operator=(const WriteBatch&) = delete;

 private:
  KXobjIndexFile* file_;
  bool closed_ = false;
};

}  // namespace tolvern
