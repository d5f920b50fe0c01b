// The NTX index file: one tag in a B-tree of 1,024-byte pages addressed by byte offset
// (offset 0 the header). Each key is stored once, in a leaf or in a branch; a branch key
// separates its left child from the next one, and a branch's last entry holds only a
// child pointer. All keys are text of the key length: characters, dates as YYYYMMDD
// (eight blanks for the empty date), numbers as zero-filled digits with negative numbers
// mapped so that they sort first. Equal keys keep their insertion order. The header's
// update counter tells other processes that the file changed.
//
// Loaded pages are completed so that the framework sees every key at leaf level: a
// non-last leaf gets the separator that follows it, a branch's pointer entry the key
// that bounds its subtree; storing undoes this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kx6_indx.h"

namespace tolvern {

class KXobjNTXFile;

class KXobjNTXTag : public KXobjIndexTag {
 public:
  static constexpr int32_t kPageSize = 1024;

  KXobjNTXTag(KXobjNTXFile* file, const std::string& name, int32_t headerOffset);
  ~KXobjNTXTag() override;

  void KeyAdjust(TkxVariant& key) override;
  int TagCreate(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
                bool ascending, bool unique) override;
  int32_t RootPage() override;
  int PageLoad(int32_t offset, KXobjIndexKey& node) override;
  int PageStore(int32_t offset, KXobjIndexKey& node) override;
  void TagLoad() override;
  void TagStore() override;
  void KeyExprCompile() override;
  bool KeepEmptyChild(const KXobjIndexKey& node) const override;
  int32_t DuplicateSearchNumber() const override;
  void DeleteCurrentKey() override;

  int32_t Decimals() const { return decimals_; }
  int32_t EntrySize() const { return entrySize_; }
  int32_t MaxKeys() const { return maxKeys_; }
  int32_t HalfPage() const { return halfPage_; }

  // The key text of a number: its absolute value right-aligned in `length` characters
  // with `decimals` decimals, blanks as zeros; a negative number's digits d become the
  // character 92 - d, so that negative numbers sort first, larger magnitudes first.
  static std::string NumberKey(double value, int32_t length, int32_t decimals);
  // The number a key text holds (the inverse of NumberKey); 0 for text that is none.
  static double KeyNumber(std::string_view key);

  // Writes entries [begin, begin + count) as one page: the first `stored` of them as keys
  // and, in a branch, entry begin + stored as the child pointer that follows them.
  void WritePage(int32_t offset, const std::vector<KXobjPageEntry>& entries, size_t begin,
                 size_t stored, bool branch);

 private:
  friend class KXobjNTXFile;

  // Moves `bound`, the one entry left in a leaf inside the tree, before the entry that
  // follows it in the order.
  void MoveBeforeSuccessor(const KXobjIndexKeyData& bound);
  void SetLayout(char keyType, int32_t keyLength, int32_t decimals);
  void Build();
  void MakeEmpty(int32_t rootOffset);

  KXobjNTXFile* ntx_;
  int32_t decimals_ = 0;
  int32_t entrySize_ = 0;
  int32_t maxKeys_ = 0;
  int32_t halfPage_ = 0;
  std::vector<uint8_t> header_;  // the header as read (kept where not rewritten)
  std::vector<uint8_t> page_;    // the page being written
};

class KXobjNTXFile : public KXobjIndexFile {
 public:
  // Opens `name` (".ntx" added when it has no extension) or, in create mode, creates it
  // (an existing file is opened instead unless `overwrite`).
  KXobjNTXFile(KXO_dBaseFld* table, const std::string& name, bool create, bool overwrite,
               bool readWrite, bool shared);
  ~KXobjNTXFile() override;

  int TagAdd(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
             bool ascending, bool unique) override;
  int32_t PageNew() override;
  int32_t PageCount() override;
  void Reindex() override;
  // Counts the write in the header's update counter, then updates the keys.
  bool KeyUpdateAll(int32_t recno, bool append) override;
  bool ExternalChange() override;
  // The signature, the update counter and the root: every writer counts its changes.
  int32_t MarkerBytes() const override { return 8; }
  bool MarkerCountsChanges() const override { return true; }
  void Zap() override;
  bool ValidNodePage(int32_t offset) override;

  KXobjNTXTag* Tag() const { return static_cast<KXobjNTXTag*>(TagAt(0)); }
  uint16_t UpdateCounter() const { return updateCounter_; }
  void SetUpdateCounter(uint16_t value) { updateCounter_ = value; }

 private:
  uint16_t updateCounter_ = 1;
};

}  // namespace tolvern
