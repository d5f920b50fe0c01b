// Key sorting for index builds: TkxSort takes (key, record number) pairs in any order and
// hands them back in key order; the format sorters lay index pages down from that order,
// bottom-up and left to right, in one pass.
//
// Memory stays bounded: a sorter keeps at most its memory budget of keys (64 MB unless
// set otherwise); beyond it each full batch is sorted and written as a run to one
// temporary file in the spill directory, and retrieval merges the runs. The temporary
// file is removed when the sorter is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_indx.h"

namespace tolvern {

namespace platform {
class OsFile;
}

class KXobjIndexFile;
class KXobjIndexTag;
class KXobjNDXTag;
class KXobjNTXTag;

class TkxSort {
 public:
  static constexpr int32_t kMaxKeyLength = 240;
  static constexpr size_t kDefaultMemoryBudget = 24u << 20;

  // A sorter for keys of at most `maxKeyLength` bytes (at most 240: "Sort key length
  // greater than 240 bytes" otherwise). Ascending sorts return smaller keys first;
  // equal keys come back by ascending record number in an ascending sort and by
  // descending record number in a descending one (see SetTieBreakAscending). Character
  // keys compare through `collation` (256 entries) when it is given.
  TkxSort(int32_t maxKeyLength, bool unique, bool ascending, const uint8_t* collation);
  virtual ~TkxSort();
  TkxSort(const TkxSort&) = delete;
  TkxSort& operator=(const TkxSort&) = delete;

  // Adds one pair. Character keys lose their trailing blanks; numeric keys keep their
  // exact double; date keys their day number; raw keys their bytes. Raises
  // ETolvernError for a key after retrieval began, a key longer than the maximum, or a
  // value that is not character, numeric, date or raw.
  void InsertKey(const TkxVariant& key, int32_t recno);
  // The next pair in order; false when none is left. The first call ends the adding
  // phase (when any key was added). With `unique`, of every group of equal keys only
  // the first pair in order comes back.
  bool RetrieveKey(TkxVariant& key, int32_t& recno);

  int32_t KeyCount() const { return keyCount_; }
  int32_t MaxKeyLength() const { return maxKeyLength_; }
  bool Unique() const { return unique_; }
  bool Ascending() const { return ascending_; }

  // The budget new sorters start with (kDefaultMemoryBudget unless changed); answers the
  // previous one. For tools and tests that want builds to spill early.
  static size_t SetDefaultMemoryBudget(size_t bytes);

  // Settings for the adding phase.
  void SetMemoryBudget(size_t bytes);
  // Room for about `count` keys at once (within the memory budget), so that a build that
  // knows its record count does not grow its tables step by step.
  void ReserveKeys(size_t count);
  // Where runs spill to; empty: the system's temporary directory.
  void SetSpillDirectory(const std::string& directory) { spillDirectory_ = directory; }
  // Equal keys by ascending record number also in a descending sort (the order that
  // Clipper-style files keep for equal keys).
  void SetTieBreakAscending(bool on) { tieAscending_ = on; }

  // Sorted runs written to the spill file so far.
  size_t SpilledRuns() const { return runs_.size(); }

 private:
  // A key in the batch: its first 23 comparison bytes (big-endian, zero-padded) and its
  // length inline, so that most comparisons never touch the arena. A key that fits the
  // inline bytes and needs no translation is not stored in the arena at all.
  struct Item {
    uint64_t high;    // comparison bytes 0-7
    uint64_t middle;  // comparison bytes 8-15
    uint64_t low;     // comparison bytes 16-22, then the length (at most 255)
    uint32_t offset;  // into the arena: type code, length, key bytes
    int32_t recno;
  };
  static constexpr size_t kInlineBytes = 23;
  struct RunCursor;

  uint32_t Store(uint8_t code, const uint8_t* bytes, size_t length);
  const uint8_t* Entry(uint32_t offset) const;
  void SetPrefix(Item& item, uint8_t code, const uint8_t* bytes, size_t length) const;
  // Whether a key of `length` bytes lives in its item alone.
  bool InlineOnly(size_t length) const;
  // The key bytes of `item`: in the arena, or rebuilt from the inline bytes into `scratch`.
  const uint8_t* ItemKey(const Item& item, uint8_t* scratch) const;
  // Key order (without the record number): negative, 0, positive.
  int CompareKeys(uint8_t codeA, const uint8_t* a, size_t lengthA, uint8_t codeB, const uint8_t* b,
                  size_t lengthB) const;
  bool ItemBefore(const Item& a, const Item& b) const;
  size_t MemoryInUse() const;
  void SortBatch();
  void SpillBatch();
  void StartRetrieval();
  bool LoadNext(RunCursor& cursor);
  bool NextPair(std::vector<uint8_t>& key, uint8_t& code, int32_t& recno);
  bool CursorBefore(const RunCursor& a, const RunCursor& b) const;

  int32_t maxKeyLength_;
  bool unique_;
  bool ascending_;
  bool tieAscending_ = false;
  std::vector<uint8_t> collation_;
  int32_t keyCount_ = 0;
  uint8_t code_ = 0;  // the type code of every key of this sort
  bool addingAllowed_ = true;
  bool retrieving_ = false;

  size_t budget_ = kDefaultMemoryBudget;
  std::string spillDirectory_;

  // The batch in memory: keys in fixed blocks (never reallocated) and the items.
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  size_t currentBlock_ = 0;
  size_t blockUsed_ = 0;
  std::vector<Item> items_;

  // Spilled runs: byte ranges of one temporary file.
  struct RunExtent {
    int64_t begin;
    int64_t end;
  };
  std::string spillPath_;
  std::unique_ptr<platform::OsFile> spillFile_;
  int64_t spillSize_ = 0;
  std::vector<RunExtent> runs_;

  // Retrieval.
  std::vector<std::unique_ptr<RunCursor>> cursors_;
  std::vector<RunCursor*> heap_;
  std::vector<uint8_t> retrieved_;  // the key being handed out
  std::vector<uint8_t> lastKey_;
  uint8_t lastCode_ = 0;
  bool haveLast_ = false;
};

// Lays the pages of a B-tree down from keys that arrive in order, bottom-up and left to
// right: one page buffer per level; a full page goes to the file when the next one fills,
// and its separator to the level above. Finish spreads the last two pages of each level
// evenly where the last would be nearly empty (a branch page always keeps a key), writes
// them, and answers the root page.
class TkxTreeWriter : public TkxSort {
 public:
  TkxTreeWriter(KXobjIndexTag* tag, int32_t maxKeyLength, bool unique, bool ascending,
                const uint8_t* collation);

  // Drains the sorter into pages (status kind 2 with the number of keys written).
  void WriteKeys();
  // Writes what the level buffers still hold; answers the root page, or 0 when no key
  // was written (the builder then provides an empty root itself).
  int32_t Finish();
  int32_t KeysWritten() const { return written_; }

 protected:
  using Entry = KXobjPageEntry;

  // The stored form of a retrieved key, written over `out` (whose room is reused).
  virtual void StoredKey(const TkxVariant& key, std::string& out) = 0;
  // Entries a page of `level` takes; `last` for the last page of its level (the right
  // edge of the tree).
  virtual size_t PageCapacity(int level, bool last) const = 0;
  // Writes `entries` as one page of `level`. Entry values are record numbers on level 0
  // and child pages above; a page that is not `last` sends its last entry's key up as
  // its separator (whether the page stores that entry too is the format's matter).
  virtual void WritePage(int32_t page, const std::vector<Entry>& entries, int level, bool last) = 0;

  KXobjIndexTag* tag_;

 private:
  // The entries of a page live on from page to page: only the first `used` of `current`
  // belong to the page being filled, the others (and their key strings' room) wait to be
  // written over.
  struct Level {
    std::vector<Entry> held;     // a full page waiting for the next one to fill
    std::vector<Entry> current;  // the page being filled
    size_t used = 0;
  };
  // The next free entry of `level`, after sending a full page on when there is one. The
  // reference holds until the next call.
  Entry& NextEntry(size_t level);
  void AddToLevel(size_t level, Entry entry);
  // Writes one page of `level` that is not the last of its level and sends its last key
  // up as the separator.
  void Emit(size_t level, const std::vector<Entry>& entries);

  std::vector<Level> levels_;
  int32_t written_ = 0;
  bool finished_ = false;
};

class KXobjSortNdx : public TkxTreeWriter {
 public:
  KXobjSortNdx(KXobjNDXTag* tag, const uint8_t* collation, bool ascending, bool unique);

 protected:
  void StoredKey(const TkxVariant& key, std::string& out) override;
  size_t PageCapacity(int level, bool last) const override;
  void WritePage(int32_t page, const std::vector<Entry>& entries, int level, bool last) override;

 private:
  KXobjNDXTag* ndx_;
};

class KXobjSortNTX : public TkxTreeWriter {
 public:
  KXobjSortNTX(KXobjNTXTag* tag, const uint8_t* collation, bool ascending, bool unique);

 protected:
  void StoredKey(const TkxVariant& key, std::string& out) override;
  size_t PageCapacity(int level, bool last) const override;
  void WritePage(int32_t page, const std::vector<Entry>& entries, int level, bool last) override;

 private:
  KXobjNTXTag* ntx_;
};

}  // namespace tolvern
