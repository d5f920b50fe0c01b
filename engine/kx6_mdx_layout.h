// The bytes of an MDX multiple index file, without the index machinery: the header region
// (file header and tag table), tag headers, page headers, the stored and in-memory forms of
// keys, and the dBase IV decimal form of numbers.
//
// Everything read here comes from an untrusted file. The parsers check every field they
// hand on (sizes, counts, block numbers against the file) and answer a description of the
// first problem instead of a value; they never read outside the bytes they are given.
// Bytes the format does not define are kept as read and written back unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "kx6_Date.h"

namespace tolvern {

// Page numbers count 512-byte blocks.
inline constexpr int32_t kMdxBlockSize = 512;
// Files this engine creates: 1,024-byte pages (2 blocks), a 2,048-byte header region.
inline constexpr int32_t kMdxNewPageUnits = 2;
inline constexpr int32_t kMdxNewPageBytes = 1024;
inline constexpr int32_t kMdxMinRegionSize = 2048;
inline constexpr int32_t kMdxMaxPageUnits = 32;
// The tag table: slot 0 heads the tree of names, slots 1..47 describe the tags.
inline constexpr int32_t kMdxTagTableOffset = 512;
inline constexpr int32_t kMdxSlotLength = 32;
inline constexpr int32_t kMdxSlotCount = 48;
inline constexpr int kMdxMaxTags = 47;
// Limits of what a tag header can hold.
inline constexpr size_t kMdxMaxTagName = 10;
inline constexpr size_t kMdxMaxKeyExpression = 220;
inline constexpr int32_t kMdxKeyExprOffset = 24;
inline constexpr int32_t kMdxForExprOffset = 762;
inline constexpr int32_t kMdxMaxKeyLength = 240;
// A page starts with the key count and the previous-page word.
inline constexpr int32_t kMdxPageHeaderSize = 8;
inline constexpr int32_t kMdxNumberSize = 12;
inline constexpr int32_t kMdxDateSize = 8;

// Key format byte of a tag header.
inline constexpr uint8_t kMdxFormatBase = 0x10;
inline constexpr uint8_t kMdxFormatDescending = 0x08;
inline constexpr uint8_t kMdxFormatUnique = 0x40;

// An empty date is stored as this day number, after every real date.
inline constexpr double kMdxEmptyDate = 1.0E100;

using MdxNumber = std::array<uint8_t, kMdxNumberSize>;

// ---------------------------------------------------------------------------------------
// Numbers

// The 12-byte stored form: byte 0 = decimal exponent E + 52, byte 1 = 4 x (number of
// significant digits) + 1, OR 0x80 when negative; from byte 2 the significant digits (at
// most 15, trailing zeros dropped) two per byte, high nibble first, such that the absolute
// value is 0.d1d2... x 10^E. Zero is 0x34 0x01 and ten zero bytes. Values beyond the
// exponent range saturate: magnitudes of 10^203 and more become the largest storable
// magnitude, magnitudes below 10^-53 become zero; NaN is zero.
MdxNumber MdxStoredNumber(double value);

// The in-memory form that orders as 12 unsigned bytes exactly as the values: byte 0 is 1
// for negative numbers, 2 for zero and 3 for positive ones; byte 1 the exponent byte;
// bytes 2..11 the digit bytes; bytes 1..11 complemented for negative numbers.
MdxNumber MdxComparableNumber(double value);
MdxNumber MdxComparableFromStored(std::span<const uint8_t, kMdxNumberSize> stored);
MdxNumber MdxStoredFromComparable(std::span<const uint8_t, kMdxNumberSize> comparable);

// The value of a stored number (digits that are not decimal read as 9).
double MdxNumberValue(std::span<const uint8_t, kMdxNumberSize> stored);

// ---------------------------------------------------------------------------------------
// Keys

// Key types of a tag header: 'C' character, 'N' numeric (also 'F'), 'D' date.
bool MdxKnownKeyType(char type);

// Brings a search value or a freshly built key into the tag's in-memory key form:
// 'C' text without trailing characters of code 32 or below (a logical value becomes "T"
// or "F"); 'D' a double day number, 1.0E100 for no date; 'N' the comparable number form
// as 12 raw bytes. A value already in key form is left as it is.
void MdxAdjustKey(char keyType, TkxVariant& key);

// Reads a stored key (keyLength bytes) into its in-memory form: 'C' text without
// trailing blanks and NUL bytes, 'D' a double, 'N' the comparable form.
void MdxDecodeKey(char keyType, std::span<const uint8_t> stored, TkxVariant& key);

// Writes an in-memory key into `out` (the key's slot in an entry, keyLength bytes): 'C'
// blank-padded (cut at the slot's length), 'D' an 8-byte double, 'N' the stored form.
void MdxEncodeKey(char keyType, const TkxVariant& key, std::span<uint8_t> out);

// The key the pointer-only entry of a branch page gets in memory: above every real key in
// tree order (below every real key for a descending tag, whose comparisons are negated).
void MdxSentinelKey(char keyType, bool descending, TkxVariant& key);

// ---------------------------------------------------------------------------------------
// Header region

// The order of tag names in the tag table's name tree: bytewise with ASCII letters folded
// to lower case (so "_" sorts before letters), as the writers of real files order them.
bool MdxTagNameLess(const std::string& a, const std::string& b);

// One tag table slot: the fields this engine uses and the slot's bytes as read.
struct MdxTagSlot {
  int32_t headerBlock = 0;
  std::string name;  // as stored, up to the first NUL, at most 10 characters
  char keyType = 'C';
  std::array<uint8_t, kMdxSlotLength> image{};
};

// The file header and the tag table, held as the bytes of the header region.
class MdxHeaderRegion {
 public:
  // The region of a new file: version 2, both dates, the table name (at most 8
  // characters), 1,024-byte pages, production flag, 48 slots of 32 bytes, no tags, next
  // free block 4.
  static MdxHeaderRegion Fresh(const std::string& tableName, int year, int month, int day);

  // Checks and takes the start of a file (`bytes`, as many as the file has up to the
  // region size) of `fileSize` bytes. False with `problem` set when the page size is not
  // a whole number of blocks from 1 to 32, the region (units x bytes) is smaller than
  // 2,048 bytes, slots are not 32 bytes long, the tag count exceeds the slot count or
  // the slots it needs lie outside the file, or a slot's header block lies inside the
  // header region or its page outside the file.
  static bool Parse(std::span<const uint8_t> bytes, int64_t fileSize, MdxHeaderRegion& region,
                    std::string& problem);

  int32_t PageUnits() const;
  int32_t PageBytes() const;
  int32_t RegionSize() const { return static_cast<int32_t>(bytes_.size()); }
  int32_t SlotCount() const;
  int32_t TagCount() const;
  int32_t NextFreeBlock() const;
  bool ProductionFlag() const;
  std::string TableName() const;

  MdxTagSlot Slot(int j) const;
  // Stores `slot` into slot j (1-based) with the tree links `left`, `right`, `parent`
  // (slot numbers, 0 for none) and its name, header block and key type; the slot's other
  // bytes come from its image.
  void SetSlot(int j, const MdxTagSlot& slot, uint8_t left, uint8_t right, uint8_t parent);
  // Rewrites the tag table for `slots` in the given order: the tag count, slots 1..n with
  // the links of a binary search tree of their names (MdxTagNameLess; built by inserting
  // the slots in order, so a list in name order becomes a chain of right links), slot 0's
  // right link 1 when there is a tag, and the slots of tags no longer there cleared.
  void SetTagTable(const std::vector<MdxTagSlot>& slots);
  void SetTagCount(int32_t count);
  void SetNextFreeBlock(int32_t block);
  void SetUpdateDate(int year, int month, int day);
  // Clears 9 bytes at offset 4 and writes the name there (upper case, at most 8).
  void SetTableName(const std::string& name);

  std::vector<uint8_t>& Bytes() { return bytes_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// ---------------------------------------------------------------------------------------
// Tag header

struct MdxTagHeader {
  int32_t rootBlock = 0;
  uint8_t keyFormat = kMdxFormatBase;
  char keyType = 'C';
  int32_t keyLength = 0;
  int32_t maxKeys = 0;
  int32_t entryLength = 0;
  bool unique = false;
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;  // empty: no FOR condition
  int32_t firstPage = 0;
  int32_t lastPage = 0;
  // The page as read; empty for a new tag (zero bytes then).
  std::vector<uint8_t> image;

  // Entry length (key length + 4 rounded up to 4) and keys per page as real files hold
  // them: (page size - 8) div entry length.
  void SetGeometry(char type, int32_t length, int32_t pageBytes);

  // Checks and takes a tag header page. False with `problem` when the key type is unknown,
  // the key length does not suit it, the entry does not hold the key, a page cannot hold
  // two entries or the maximum the header states, or the root lies inside the header
  // region or outside the file (`regionBlocks`, `fileBlocks`).
  static bool Parse(std::span<const uint8_t> page, int32_t regionBlocks, int64_t fileBlocks,
                    MdxTagHeader& header, std::string& problem);

  // The page to write: the image (or zeros) with every defined field set.
  std::vector<uint8_t> Serialize(int32_t pageBytes) const;
};

// ---------------------------------------------------------------------------------------
// Pages

struct MdxPageInfo {
  int32_t keyCount = 0;    // word 0
  int32_t previous = 0;    // word 1
  bool branch = false;     // entry n carries a child pointer
  int32_t entryCount = 0;  // keyCount, plus the pointer-only entry of a branch page
};

// Reads the page header. A branch page is one whose entry n (n = key count) holds a
// non-zero 4-byte field; a page too full to hold that field is a leaf. False with
// `problem` when the key count does not fit the page.
bool MdxReadPageInfo(std::span<const uint8_t> page, int32_t entryLength, MdxPageInfo& info,
                     std::string& problem);

}  // namespace tolvern
