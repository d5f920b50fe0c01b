// The CDX compound index file: any number of named tags of one table in one file, each a
// B+ tree of 512-byte pages with compressed leaves, plus a tag directory (itself such a
// tree, keyed by tag name, whose record numbers are the offsets of the tag headers).
//
// Key forms: character keys are the text without trailing blanks in byte order
// (MACHINE), or their GENERAL collation weights; numeric and date keys are the 8-byte
// sortable form of the number (dates as Julian day numbers). A descending tag is stored
// ascending and walked in reverse. Equal keys are ordered by record number.
//
// Tags this engine cannot keep exactly as their writer would (a key over a nullable
// column, a binary index, a collation other than MACHINE and GENERAL, a key expression
// it cannot evaluate or whose keys it would store differently) are listed and may be
// walked, but seeking in them raises an engine error, and so does every change while the
// file is open (the table refuses record writes before anything is written).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_cdxpage.h"
#include "kx6_indx.h"
#include "kx6_sort.h"

namespace tolvern {

class KXobjCDXFile;

// Kind marker of CDX tags: the bytes 03 'C' 'D' 'X' read as a little-endian integer.
inline constexpr uint32_t kTagKindCdx = 0x58444303;
// Error code of a tag definition that cannot be added (sub-code SubIndexTag).
inline constexpr int32_t kErrCdxTagRefused = 5117;
// The longest tag name the directory holds.
inline constexpr size_t kCdxMaxTagName = 10;

class KXobjCDXTag : public KXobjIndexTag {
 public:
  // What a tag's keys are.
  enum class KeyKind : uint8_t { Character, Number, Date, Unknown };

  // A tag whose header is at `headerOffset`. An existing tag reads its header at once
  // (LoadError() tells whether that worked); a new one waits for TagCreate. The name is
  // kept upper-cased.
  KXobjCDXTag(KXobjCDXFile* file, int32_t headerOffset, const std::string& name, bool isNew,
              bool directory = false);
  ~KXobjCDXTag() override;

  void KeyAdjust(TkxVariant& key) override;
  // Defines the tag and builds it from the table. Answers 1, or 0 (nothing built) when the
  // key expression gives no usable value.
  int TagCreate(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
                bool ascending, bool unique) override;
  bool KeyAdd(KXobjIndexKeyData& key) override;
  int32_t RootPage() override;
  int PageLoad(int32_t page, KXobjIndexKey& node) override;
  int PageStore(int32_t page, KXobjIndexKey& node) override;
  void TagLoad() override;
  void TagStore() override;
  bool KeyBuild(KXobjIndexKeyData& key, bool& built) override;
  // An emptied page stays linked until it is stored: storing takes it out of the sibling
  // chain and out of its parent.
  bool KeepEmptyChild(const KXobjIndexKey& node) const override;

  // The stored form of a key back as a value: text, number or date; raw bytes for
  // collation weights and keys of an unknown kind.
  void KeyValue(const TkxVariant& stored, TkxVariant& value) const;

  bool IsDirectory() const { return directory_; }
  int32_t HeaderOffset() const { return headerOffset_; }
  const std::string& LoadError() const { return loadError_; }
  KeyKind Kind() const { return keyKind_; }
  CdxCollation Collation() const { return collation_; }
  // For a new tag, before TagCreate.
  void SetCollation(CdxCollation collation) { collation_ = collation; }
  // A candidate (or primary) key: kept unique.
  bool Candidate() const { return (header_.options & kCdxOptCandidate) != 0; }
  void SetCandidate(bool on) { candidate_ = on; }
  bool Descending() const { return !Ascending(); }
  const CdxHeader& Header() const { return header_; }
  uint32_t ChangeCounter() const { return header_.changeCounter; }
  void SetChangeCounter(uint32_t counter) { header_.changeCounter = counter; }
  // The first page of the file's free list (the directory's header holds it; 0: none).
  uint32_t FreeList() const { return header_.freeList; }
  void SetFreeList(uint32_t page) { header_.freeList = page; }
  CdxKeyForm KeyForm() const;

 private:
  friend class KXobjSortCDX;

  void Build();
  // Takes an emptied non-root page out of the sibling chain and its parent.
  void UnlinkEmpty(int32_t page, KXobjIndexKey& node, uint32_t left, uint32_t right);
  void StoreLeaf(int32_t page, KXobjIndexKey& node, const std::vector<CdxEntry>& entries,
                 uint32_t left, uint32_t right);
  void StoreBranch(int32_t page, KXobjIndexKey& node, const std::vector<CdxEntry>& entries,
                   uint32_t left, uint32_t right);
  // The siblings a page has on disk; none for a page that was never written.
  void ReadSiblings(int32_t page, uint32_t& left, uint32_t& right);
  // Sets the left or right sibling in the header of page `page` on disk.
  void SetSibling(uint32_t page, bool right, uint32_t sibling);
  void WritePage(int32_t page, std::span<const uint8_t> bytes);
  // The highest record number the leaf entries must hold.
  uint32_t HighestRecord(const std::vector<CdxEntry>& entries) const;
  [[noreturn]] void Refuse(const std::string& what) const;
  void SetUnmaintainable(const std::string& why);
  // Works out key kind and length from the key expression's value; false with `why`.
  bool LearnKey(bool fromHeader, std::string& why);

  KXobjCDXFile* cdx_;
  int32_t headerOffset_;
  bool directory_;
  bool new_;
  bool candidate_ = false;
  bool textValues_ = true;  // keys in memory are text (MACHINE and GENERAL characters)
  bool exactForm_ = true;   // keys are stored as this engine stores them
  KeyKind keyKind_ = KeyKind::Character;
  CdxCollation collation_ = CdxCollation::Machine;
  CdxHeader header_;
  std::string loadError_;
};

class KXobjCDXFile : public KXobjIndexFile {
 public:
  // Opens `name` (".cdx" added when it has no extension, the table's directory when it
  // has none) and reads its directory and tag headers; in create mode a missing file is
  // made (an existing one is opened unless `overwrite`). A file of 512 bytes or less that
  // is opened for writing is initialised as an empty CDX file. A missing file leaves the
  // object without disk file; a damaged one raises error 2112.
  KXobjCDXFile(KXO_dBaseFld* table, const std::string& name, bool create, bool overwrite,
               bool readWrite, bool shared);
  ~KXobjCDXFile() override;

  // Adds a tag, replacing one of the same name (whose pages go onto the free list). The
  // name (at most 10 characters) and both expressions are checked
  // before anything is written: a refusal raises error 5117, an expression error passes
  // through. Answers 1.
  int TagAdd(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
             bool ascending, bool unique) override;
  // Removes a tag; 1 when it existed, else 0. Its pages go onto the free list; removing
  // the last tag leaves the empty file.
  int TagDelete(const std::string& name) override;
  // A page from the free list when it holds one, else a new page at the end of the file.
  int32_t PageNew() override;
  // Two pages that follow each other (a tag header): a pair from the free list when it
  // holds one, else two new pages at the end of the file.
  int32_t PageNewPair();
  int32_t PageCount() override;
  // Rebuilds the file from the tag definitions: directory at 0, its root at 1,024, then
  // each tag's header and pages. Refused when a tag cannot be maintained.
  void Reindex() override;
  // Counts the change in the directory header, then keeps every tag current.
  bool KeyUpdateAll(int32_t recno, bool append) override;
  // For a shared file: whether the change counter on disk differs from the one last seen.
  bool ExternalChange() override;
  // The directory's root, free list and change counter: every writer counts its changes.
  int32_t MarkerBytes() const override { return 12; }
  bool MarkerCountsChanges() const override { return true; }
  bool ValidNodePage(int32_t page) override;

  KXobjCDXTag* Directory() const { return directory_.get(); }
  // The collation new tags get (MACHINE unless set after opening).
  CdxCollation NewTagCollation() const { return newTagCollation_; }
  void SetNewTagCollation(CdxCollation collation) { newTagCollation_ = collation; }
  uint32_t ChangeCounter() const { return directory_ ? directory_->ChangeCounter() : 0; }

  // The free list as other programs keep it: the directory header's second word names the
  // first free page, each free page is zero but for the offset of the next one in its first
  // word, and 0 ends the list. The pages on it, first first; empty when the list is damaged
  // (a page outside the file, a loop, a page some tag still uses), which is then ignored and
  // replaced by the next pages given back.
  const std::vector<int32_t>& FreePages();
  // Puts pages that no tag uses any more onto the free list. Pages that the directory, a
  // tag or the list itself still reaches are left alone.
  void GiveBack(std::vector<int32_t> pages);

  // Reports `what` with `code` (sub-code SubIndexTag) and raises it.
  [[noreturn]] void Fail(int32_t code, const std::string& what);

 private:
  void LoadExisting();
  void CreateEmpty();
  void MarkProductionIndex();
  void CheckWritable();
  KXobjCDXTag* FindTag(const std::string& upperName) const;
  // Creates, builds and lists one tag at new header pages; answers TagCreate's result.
  int AddNewTag(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
                bool ascending, bool unique, CdxCollation collation, bool candidate);
  void AddDirectoryEntry(const std::string& name, int32_t offset);
  void RemoveDirectoryEntry(const std::string& name, int32_t offset);
  // Compiles and evaluates the definition once; raises when it cannot be built.
  void CheckDefinition(const std::string& name, const std::string& keyExpr,
                       const std::string& forExpr);
  // Adds to `pages` the header pages and every tree page of `tag`, marking them in `seen`
  // (one flag per page of the file). False, with `why`, when the tree leaves the file,
  // loops or shares a page already seen.
  bool CollectPages(const KXobjCDXTag& tag, std::vector<bool>& seen, std::vector<int32_t>& pages,
                    std::string& why);
  // Marks every page the directory and the listed tags reach; false when one cannot be
  // walked.
  bool MarkUsedPages(std::vector<bool>& seen, std::string& why);
  // Reads and checks the free list unless what was read is still its state.
  void ReadFreeList();
  // Writes the first free page into the directory header.
  void WriteFreeHead(uint32_t page);
  // The pages of a tag that is about to go, or none when they cannot all be told.
  std::vector<int32_t> PagesOf(const KXobjCDXTag& tag);

  std::unique_ptr<KXobjCDXTag> directory_;
  CdxCollation newTagCollation_ = CdxCollation::Machine;
  bool loading_ = false;
  // The free list as last read, last page first (PageNew takes from the back), and the
  // head it was read from: a different head on disk means it is read again.
  std::vector<int32_t> freePages_;
  std::vector<int32_t> freeView_;
  uint32_t freeHead_ = 0;
  bool freeKnown_ = false;
  bool freeDamaged_ = false;
};

// The CDX member of the sorter family: keys come back in ascending order (a descending
// tag is walked in reverse) and are laid down as compressed leaves and branches.
class KXobjSortCDX : public TkxSort {
 public:
  KXobjSortCDX(KXobjCDXTag* tag, const uint8_t* collation, bool unique);

  // Drains the sorted keys into pages (status kind 2) and answers the root page; an
  // empty root leaf when no key was inserted.
  int32_t WriteKeys();

 private:
  KXobjCDXTag* tag_;
};

}  // namespace tolvern
