// The MDX multiple index file: up to 47 named tags of one table in one file, each a B-tree
// of pages (1,024 bytes in the files this engine creates) whose numbers count 512-byte
// blocks. Character keys are blank-padded text, date keys day numbers as doubles (no date
// after every real date), numeric keys the 12-byte dBase IV decimal form (kx6_mdx_layout.h
// has the bytes). Descending tags keep their pages in descending order.
//
// Other programs' files are read as they stand: the tag table in slot order, the keys per
// page that each tag header states, and every byte this engine does not define is written
// back as it was read. A damaged file (sizes that do not fit, pages outside the file, a
// tree that loops) gives the engine error kErrIndexDamaged, never a read outside the file.
//
// A replaced or deleted tag gives its pages back by compaction: the pages that follow the
// ones no tag reaches move down, the file is cut and the header's free list is cleared.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kx6_indx.h"
#include "kx6_mdx_layout.h"
#include "kx6_sort.h"

namespace tolvern {

// Kind marker of MDX tags: the bytes 03 'M' 'D' 'X'.
inline constexpr uint32_t kTagKindMdx = 0x58444D03;

// Refusals of tag definitions (a 48th tag, names, expressions that do not fit).
inline constexpr int32_t kErrTagRefused = 5117;

class KXobjMDXFile;

class KXobjMDXTag : public KXobjIndexTag {
 public:
  // A tag of `file` whose header is at `headerBlock` (read at once), or a new tag for a
  // header block of -1 (TagCreate defines and writes it).
  KXobjMDXTag(KXobjMDXFile* file, int32_t headerBlock, const std::string& name,
              const MdxTagSlot& slot = MdxTagSlot{});

  void KeyAdjust(TkxVariant& key) override;
  // Defines the tag (Define), writes its header and builds it from the table. Answers 1,
  // or 0 when the definition is refused (nothing is written then).
  int TagCreate(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
                bool ascending, bool unique) override;
  bool KeyAdd(KXobjIndexKeyData& key) override;
  int32_t RootPage() override;
  int PageLoad(int32_t page, KXobjIndexKey& node) override;
  int PageStore(int32_t page, KXobjIndexKey& node) override;
  void TagLoad() override;
  void TagStore() override;

  // Compiles the expressions, evaluates the key once and derives key type, key length and
  // page geometry; writes nothing. False with `problem` set when the definition cannot be
  // used.
  bool Define(const std::string& keyExpr, const std::string& forExpr, bool ascending, bool unique,
              std::string& problem);
  // Writes the header of a defined tag at a new block and builds its tree.
  void WriteNew();
  // Rebuilds the tag in a file cut back to its header region: new header block, new tree.
  void Rebuild();
  // Raises the engine error of a tag that cannot be changed (see ReadOnlyReason).
  void CheckMaintainable() const;

  // The value of a numeric key as the tag holds it in memory (the comparable form).
  static double KeyNumber(const TkxVariant& key);

  int32_t HeaderBlock() const { return headerBlock_; }
  const MdxTagHeader& Header() const { return header_; }
  int32_t FirstPage() const { return header_.firstPage; }
  int32_t LastPage() const { return header_.lastPage; }
  // The tag table slot this tag was read from (undefined bytes travel with the tag).
  MdxTagSlot Slot() const;

  // Writes `entries` as one page at `block`; a branch page's last entry is a child pointer
  // only. Used by the build sorter.
  void WriteSortedPage(int32_t block, const std::vector<KXobjPageEntry>& entries, bool branch);
  // Notes a page newly given to the tag; answers the word its second field gets (the page
  // the tag was given before it).
  int32_t TakeNewPage(int32_t block);
  // Follows a compaction: the header now lies at `headerBlock`, and `moved` gives every
  // block's new number (0 for a block that is gone).
  void Moved(int32_t headerBlock, const std::function<int32_t(int32_t)>& moved);
  // Puts the path back on `key` (a key the tag held as its current one); no path when the
  // key is gone.
  void Resume(const KXobjIndexKeyData& key);

 private:
  void Build();
  void MakeEmptyRoot();
  std::vector<uint8_t> ReadPage(int32_t block, const char* what);
  void PutEntry(std::vector<uint8_t>& page, int index, int32_t reference,
                const KXobjIndexKeyData* key) const;

  KXobjMDXFile* mdx_;
  int32_t headerBlock_;
  MdxTagHeader header_;
  MdxTagSlot slot_;
};

class KXobjMDXFile : public KXobjIndexFile {
 public:
  // Opens `name` (".mdx" added when it has no extension) or, in create mode, creates it
  // (an existing file is opened instead unless `overwrite`). Without a file the object
  // stays without disk file (Opened() false). Marks the owning table's production index
  // flag when the file is named like the table.
  KXobjMDXFile(KXO_dBaseFld* table, const std::string& name, bool create, bool overwrite,
               bool readWrite, bool shared);
  // Writes back what the tags hold and, when anything changed, the file header with
  // today's date, the tag count and the next free block.
  ~KXobjMDXFile() override;

  // Adds (or replaces) a tag, kept in name order in the tag table. Refuses with error
  // 5117 (sub-code 5114), before anything is written, a 48th tag, an empty name or one
  // longer than 10 characters, a key expression longer than 220 characters or one that
  // cannot be evaluated, and a FOR expression that does not fit its page. Answers 1.
  int TagAdd(const std::string& name, const std::string& keyExpr, const std::string& forExpr,
             bool ascending, bool unique) override;
  // Removes the tag; answers 1 when it existed. Removing the last tag cuts the file back
  // to its header region.
  int TagDelete(const std::string& name) override;
  int32_t PageNew() override;
  int32_t PageCount() override;
  // Positioned transfers at block x 512.
  bool PageRead(int32_t block, void* buffer, int32_t length) override;
  bool PageWrite(int32_t block, const void* buffer, int32_t length) override;
  // Cuts the file back to its header region and rebuilds every tag.
  void Reindex() override;
  // Renames the file and writes the new base name into the header.
  bool Rename(const std::string& newName) override;
  bool ValidNodePage(int32_t page) override;
  // Updates every tag and, when pages were added, the next free block in the file header
  // at once (other programs take new pages from there).
  bool KeyUpdateAll(int32_t recno, bool append) override;
  // The file has no change counter: a shared file's header region is read again (with
  // the next free block that other programs take pages from) and true answered.
  bool ExternalChange() override;

  int32_t PageBytes() const { return region_.PageBytes(); }
  int32_t PageUnits() const { return region_.PageUnits(); }
  int32_t RegionBlocks() const { return region_.RegionSize() / kMdxBlockSize; }
  const MdxHeaderRegion& Region() const { return region_; }
  // True for a block that PageNew handed out and nothing has been written to yet.
  bool Unwritten(int32_t block) const { return unwritten_.count(block) != 0; }

  // Reports a damaged or refused file and never returns.
  [[noreturn]] void Fail(int32_t code, const std::string& what);

 private:
  void LoadExisting(int64_t size);
  void CreateNew();
  void MarkProductionIndex();
  // Rewrites the tag table for the tags in list order and writes the header region.
  void WriteTagTable();
  void WriteRegion();
  void CheckWritable();
  // Squeezes out the pages no tag reaches, under the whole-file lock: every page the tags
  // use keeps its order and moves down over the gaps, the pointers to it follow, the file
  // is cut after the last one and the header's free list (left by other programs) is
  // cleared. A file whose trees cannot all be walked is left as it is.
  void Compact();

  MdxHeaderRegion region_;
  bool regionChanged_ = false;
  std::set<int32_t> unwritten_;
};

// The build sorter of MDX tags: keys sorted in the tag's direction (a descending tag is
// built in descending order), pages laid down bottom-up with the tag's page geometry.
class KXobjSortMDX : public TkxTreeWriter {
 public:
  KXobjSortMDX(KXobjMDXTag* tag, const uint8_t* collation, bool ascending, bool unique);

 protected:
  void StoredKey(const TkxVariant& key, std::string& out) override;
  size_t PageCapacity(int level, bool last) const override;
  void WritePage(int32_t page, const std::vector<Entry>& entries, int level, bool last) override;

 private:
  KXobjMDXTag* mdx_;
};

}  // namespace tolvern
