// The table as the rest of the system sees it: field access plus everything that spans
// records — the open index files and the current order, positioned reads that hide
// deleted records and apply a filter and a key range, key seeks, text search, read-ahead
// for sequential reading, index locking around writes, progress reports, and the
// maintenance operations (pack, zap, reindex, index creation, copy, rename).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_fld.h"

namespace tolvern {

class KXobjIndexFile;
class KXobjIndexTag;
class TkxExpHandler;

// Table states: normal, and busy while an index is built or a text search runs.
inline constexpr uint8_t kStateNormal = 1;
inline constexpr uint8_t kStateBusy = 4;

// Search option bits of SearchText.
inline constexpr uint16_t kSearchCaseInsensitive = 1;
inline constexpr uint16_t kSearchWholeValue = 2;
inline constexpr uint16_t kSearchWildcards = 4;
inline constexpr uint16_t kSearchNotBusy = 8;
inline constexpr uint16_t kSearchKeepOrder = 16;
inline constexpr uint16_t kSearchAnchored = 32;

// The index file formats, told by a file name's extension.
enum class TkxIndexFormat { kUnknown, kNdx, kNtx, kCdx, kMdx };
// The format `path`'s extension names, case ignored; a name without extension is NDX.
TkxIndexFormat IndexFormatOf(const std::string& path);
// Whether files of `format` hold several tags (CDX, MDX).
inline bool IsMultiTagFormat(TkxIndexFormat format) {
  return format == TkxIndexFormat::kCdx || format == TkxIndexFormat::kMdx;
}
// An index file object for `path` on `table`, of the format its extension names (nullptr
// for an unknown one). `create` makes a single-tag file anew, while a multi-tag file that
// exists is opened so that a tag can be added; see Opened() for the outcome.
std::unique_ptr<KXobjIndexFile> MakeIndexFileOf(KXO_dBaseFld* table, const std::string& path,
                                                bool create, bool readWrite, bool shared);

// An index file that could not be read, with the engine's message. The handler does not
// keep it open and so does not keep it current.
struct TkxDamagedIndex {
  std::string path;
  std::string reason;
};

class KXO_dBHandler : public KXO_dBaseFld {
 public:
  static constexpr int kMaxIndexFiles = 63;

  KXO_dBHandler(const std::string& name, bool readWrite, bool shared);
  ~KXO_dBHandler() override;

  // --- positioned reads -------------------------------------------------------------
  // Reads in the current order, skipping hidden deleted records, records outside the
  // filter and the range, and records AcceptRecord refuses; a record number reads that
  // record directly.
  void GetRecord(int32_t position) override;
  virtual void SkipRecords(int32_t count);
  // Seeks `key` (text; a decimal number for numeric orders, YYYYMMDD for dates) in the
  // current order. Soft seek leaves a failed seek on the next greater key.
  virtual bool FindKey(const std::string& key);
  // Exact seek in any open tag; the record number or -1. The position does not change.
  virtual int32_t FindKeyInTag(const std::string& tagName, const std::string& key);
  // Asked for every record a positioned read stops on; false moves on.
  virtual bool AcceptRecord() { return true; }
  virtual bool LockIndexFiles();
  void UnlockIndexFiles();
  bool Found() const { return found_; }
  bool SoftSeek = false;

  // --- writes -----------------------------------------------------------------------
  void AppendRecord() override;
  void PutRecord(int32_t number) override;
  bool RecordEvent(int event, int32_t number) override;
  // A protocol number, or kLockProtocolAuto (the default): then the protocol follows
  // what is open, chosen again whenever the open index files change while no lock is
  // held. First matching rule: an NTX file open -> ClipLock; a CDX file open or an FPT
  // memo -> FoxLock; an MDX file open or a dBase IV table -> DB4Lock; else Default.
  void SetLockProtocol(int protocol) override;
  bool AutoLockProtocol() const { return autoProtocol_; }
  // The protocol the rules above pick for what is open now.
  int ChooseLockProtocol() const;
  bool HasIndex() override;
  bool RenameTo(const std::string& newName) override;

  // --- range and filter -------------------------------------------------------------
  void SetRange(const std::string& lowKey, const std::string& highKey, bool lowFlag = true,
                bool highFlag = true);
  void ClearRange();
  // Compiles the filter and evaluates it once on every record. A filter that does not
  // give a logical value raises "Filter expression must return boolean result".
  void SetFilterExpression(const std::string& expression, bool caseInsensitive = false,
                           bool translate = false, bool partialCompare = true);
  void SetFilterActive(bool wanted);
  void RebuildFilter();
  bool FilterActive() const { return filterActive_; }
  // Whether record `recno` passes the active filter expression, from the set evaluated
  // when the filter was set (no record is read). True without an active filter.
  bool FilterPasses(int32_t recno) const;
  const std::string& FilterText() const { return filterText_; }

  // Finds `text` in field `fieldNo` (0: every field) from record `recNo` (0: the top) on;
  // on a match sets both and answers true. SearchOptions holds the option bits.
  bool SearchText(const std::string& text, int32_t& fieldNo, bool translate,
                  int32_t lastRecord, int32_t& recNo);
  uint16_t SearchOptions = 0;

  // --- index files and order --------------------------------------------------------
  int OpenIndexList(const std::string& list, const std::string& tagName);
  // 0 opened; -1 a file of that name is open already; 2 it could not be opened;
  // 2112 its tags could not be read; 3 no slot is free.
  int OpenIndexFile(const std::string& fileName);
  // Opens the production index (the CDX or MDX file named like the table) when there is
  // one; answers whether it did.
  bool OpenProductionIndex();
  // The production index's path; empty when the table has none.
  std::string ProductionIndexPath() const;
  int CloseIndexFile(const std::string& fileName);
  void CloseAllIndexes();
  // Selects a tag by name ("" for natural order); the slot of its file, 0 for natural.
  int SelectOrder(const std::string& tagName, bool keepPosition);
  KXobjIndexTag* TagByNumber(int n) const;
  KXobjIndexTag* TagByName(const std::string& name) const;
  KXobjIndexTag* CurrentOrder() const { return currentOrder_; }
  const std::string& CurrentOrderName() const { return orderName_; }
  KXobjIndexFile* IndexFile(int slot) const;  // slot 1..63
  int IndexFileCount() const;

  // --- damaged index files ----------------------------------------------------------
  // Like OpenIndexFile, except that a file that exists but cannot be opened or read is
  // not opened: it is listed among DamagedIndexes (answer kErrIndexDamaged) and nothing
  // is raised. A listed file that opens now leaves the list.
  int OpenIndexFileOrMark(const std::string& fileName);
  // The index files found damaged, at open or later, that are not open; in the order found.
  const std::vector<TkxDamagedIndex>& DamagedIndexes() const { return damaged_; }
  // Told once for every file that joins DamagedIndexes.
  virtual void IndexDamaged(const TkxDamagedIndex& /*damaged*/) {}
  // Whether a file found damaged while open is closed and the work goes on without it
  // (see CatchIndexDamage). Off by default: the engine's error passes through, as a
  // caller that cannot tell the user (a script) must fail rather than go on silently.
  void SetIndexDamageTolerated(bool on) { tolerateDamage_ = on; }
  bool IndexDamageTolerated() const { return tolerateDamage_; }
  // Runs `work`, which uses index file `file`. When the work finds the file damaged (the
  // engine error kErrIndexDamaged) and damage is tolerated, the file is closed without
  // writing anything more to it and listed; when the current order was one of its tags,
  // natural order is selected (the position is kept). Answers true then; other errors
  // pass through.
  bool CatchIndexDamage(KXobjIndexFile* file, const std::function<void()>& work);
  void FileError(int32_t code, int32_t subCode, const char* info) override;

  // --- read-ahead -------------------------------------------------------------------
  void AllowReadAhead(bool allowed);
  void SetReadAheadOn(bool on);
  bool ReadAheadOn() const { return readAheadOn_; }
  // Whether reads in an order fill a look-ahead of the records the order reaches next
  // (on by default; AllowReadAhead(false) turns it off too).
  bool OrderAheadAllowed() const { return readAheadAllowed_; }

  // --- maintenance ------------------------------------------------------------------
  // Removes the deleted records. The new table, memo and index files are made beside
  // the old ones and take their place through a replacement journal; this object then
  // opens them again (the same index files, the order and read-ahead kept) and stands at
  // the top. A cancel (ETolvernCancelled) or an error before the replacement leaves every
  // file as it was.
  void Pack();
  void Zap();
  // Rebuilds every open index file. When cancelled, the files get their old bytes back
  // and are opened again.
  void ReindexAll();
  // Sort options: 0 ascending, 1 descending, 7 / 8 the same with general collation.
  // Every index file is closed first and stays closed. A cancelled build removes a file
  // it made and gives an existing file (a CDX or MDX file that gets a tag) its old bytes
  // and length back.
  int IndexOn(const std::string& indexFileName, const std::string& tagName, int sortOption,
              bool duplicates, const std::string& forExpression,
              const std::string& keyExpression);
  int DeleteTag(const std::string& indexFileName, const std::string& tagName);
  // Copies the records (current order, filter and deleted-record setting applied) into a
  // new table. A cancelled copy removes the new table and its memo file.
  void CopyTable(const std::string& newFileName);
  void CopyStructure(const std::string& newFileName);
  // Whether a cancelled ReindexAll or IndexOn puts the index files back (on by default;
  // work on files that are thrown away when cancelled turns it off to save the copies).
  void SetKeepIndexesOnCancel(bool on) { keepIndexesOnCancel_ = on; }

 private:
  // A canonical index path: the table's directory when none is given, ".ndx" (in the
  // case of the table's extension) when there is no extension; an existing file of
  // that name in another case is found.
  std::string IndexPath(const std::string& fileName) const;
  std::unique_ptr<KXobjIndexFile> MakeIndexFile(const std::string& path, bool create);
  void ReadPositioned(int32_t position);
  void SkipInOrder(int32_t count);
  bool FindKeyInOrder(const std::string& key);
  // Closes `file` (nothing more is written to it) and lists it as damaged.
  void CloseDamaged(KXobjIndexFile* file, const std::string& reason);
  void MarkDamaged(const std::string& path, const std::string& reason);
  // Rebuilds the listed damaged files whose tag definitions can be read and keeps them
  // open; the others stay listed.
  void RebuildDamagedFiles();
  bool ReadThroughTag(int32_t code, int32_t direction, int32_t& target);
  // After a move of the order to record `recno`: unless the record is held already, reads
  // it and the records the next moves in the same direction reach, as many as the walk
  // has earned (few after a seek, more the longer it goes on in one direction).
  void ReadAheadInOrder(int32_t code, int32_t recno);
  // Forgets the records read ahead and starts the next walk small.
  void RestartOrderAhead();
  bool WalkFilterSet(int32_t code, int32_t& target);
  void EvaluateFilterOnAllRecords();
  bool FilterAccepts();
  // Refuses a write that an open index could not follow, before anything is written.
  void CheckIndexesMaintainable();
  // Reports error 33 for index files that cannot be locked and raises it.
  [[noreturn]] void RaiseIndexLockError();
  // Applies ChooseLockProtocol when the protocol is automatic and no lock is held.
  void FollowOpenFiles();
  bool MemoFieldBlocks(std::vector<int>& fields) const;
  // The canonical paths of the open index files, in slot order.
  std::vector<std::string> OpenIndexPaths() const;
  // Opens `paths` (a damaged one is listed, not raised) and selects `order` when it is
  // still there, else natural order at the top.
  void ReopenIndexes(const std::vector<std::string>& paths, const std::string& order);
  // Removes the deleted records in place (compacting a FoxPro memo file, freeing the
  // blocks of a dBase IV one) and answers how many records are kept. The indexes are
  // not kept current.
  int32_t PackRecords(TkxProgressScope& progress);

  KXobjIndexTag* currentOrder_ = nullptr;
  std::string orderName_;
  std::array<std::unique_ptr<KXobjIndexFile>, kMaxIndexFiles> indexFiles_;
  bool readAheadOn_ = false;
  bool readAheadAllowed_ = true;
  int32_t orderAheadCode_ = 0;  // the move of the last look-ahead fill
  int32_t orderAheadSize_ = 0;  // how many records it asked for
  std::vector<int32_t> orderAheadNumbers_;
  bool found_ = false;
  std::unique_ptr<TkxHugeSet> filterSet_;
  std::unique_ptr<TkxExpHandler> filterExpr_;
  std::string filterText_;
  bool filterWanted_ = false;
  bool filterActive_ = false;
  bool appendPending_ = false;
  bool autoProtocol_ = true;
  bool suspendIndexUpdates_ = false;
  int newTagCollation_ = 1;  // collation of CDX tags made by IndexOn: 1 machine, 2 general
  std::vector<TkxDamagedIndex> damaged_;
  int32_t lastFileError_ = 0;  // the code of the last error reported through FileError
  std::string lastDamage_;     // the message of the last damage CatchIndexDamage handled
  bool tolerateDamage_ = false;
  bool keepIndexesOnCancel_ = true;
};

}  // namespace tolvern
