// The NDX index file: one tag in a B-tree of 512-byte pages (page 0 the header). Every
// key lives in a leaf; a branch entry carries the last key of its child, and a branch's
// last entry only a child pointer. Character keys are blank-padded text, numeric and
// date keys 8-byte doubles (dates as day numbers, the empty date as 1.0E100, after every
// real date). Equal keys keep their insertion order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kx6_indx.h"

namespace tolvern {

class KXobjNDXFile;

class KXobjNDXTag : public KXobjIndexTag {
 public:
  static constexpr int32_t kPageSize = 512;
  static constexpr double kEmptyDateKey = 1.0E100;

  KXobjNDXTag(KXobjNDXFile* file, const std::string& name, int32_t headerPage);
  ~KXobjNDXTag() override;

  void KeyAdjust(TkxVariant& key) override;
  int TagCreate(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
                bool ascending, bool unique) override;
  bool KeyAdd(KXobjIndexKeyData& key) override;
  int32_t RootPage() override;
  int PageLoad(int32_t page, KXobjIndexKey& node) override;
  int PageStore(int32_t page, KXobjIndexKey& node) override;
  void TagLoad() override;
  void TagStore() override;

  int32_t EntrySize() const { return entrySize_; }
  int32_t MaxKeys() const { return maxKeys_; }
  // The key length the header records: the character length, 8 for numbers and dates.
  int32_t StoredKeyLength() const { return storedKeyLength_; }
  bool NumericLayout() const { return numericLayout_; }

  // The stored bytes of a key in key form (KeyAdjust applied).
  std::string StoredKey(const TkxVariant& key) const;
  // The same, written over `out`.
  void StoredKey(const TkxVariant& key, std::string& out) const;
  // Writes entries [begin, begin + count) as one page; a branch page's last entry is
  // stored as a child pointer only.
  void WritePage(int32_t page, const std::vector<KXobjPageEntry>& entries, size_t begin,
                 size_t count, bool branch);

 private:
  friend class KXobjNDXFile;

  void SetLayout(char keyType, int32_t keyLength);
  void Build();
  // Empties the tree: an empty leaf at `rootPage` (the file was cut behind it).
  void MakeEmpty(int32_t rootPage);

  KXobjNDXFile* ndx_;
  int32_t storedKeyLength_ = 0;
  int32_t entrySize_ = 0;
  int32_t maxKeys_ = 0;
  bool numericLayout_ = false;
  bool bigEndianKeys_ = false;   // numbers written high byte first (some Java writers)
  std::vector<uint8_t> header_;  // the header page as read (kept where not rewritten)
  std::vector<uint8_t> page_;    // the page being written
};

class KXobjNDXFile : public KXobjIndexFile {
 public:
  // Opens `name` (".ndx" added when it has no extension) or, in create mode, creates it
  // (an existing file is opened instead unless `overwrite`). Without a file the object
  // stays without disk file (Opened() false); otherwise an opened file holds its tag.
  KXobjNDXFile(KXO_dBaseFld* table, const std::string& name, bool create, bool overwrite,
               bool readWrite, bool shared);
  ~KXobjNDXFile() override;

  int TagAdd(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
             bool ascending, bool unique) override;
  int32_t PageNew() override;
  int32_t PageCount() override;
  bool PageRead(int32_t page, void* buffer, int32_t length) override;
  bool PageWrite(int32_t page, const void* buffer, int32_t length) override;
  void Reindex() override;
  void Zap() override;
  bool ValidNodePage(int32_t page) override;

  KXobjNDXTag* Tag() const { return static_cast<KXobjNDXTag*>(TagAt(0)); }
};

}  // namespace tolvern
