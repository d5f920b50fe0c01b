// The byte layer of CDX compound index files: the 1,024-byte tag header, the compact
// leaf pages (record number, duplicate count and trailing count packed into one entry,
// key bytes front-compressed and packed from the end of the page), branch pages, the
// sortable 8-byte form of numeric and date keys, the GENERAL collation, and a writer
// that lays a whole tag down bottom-up from keys that arrive in order.
//
// Nothing here touches a file: pages come in and go out as 512-byte buffers. Every page
// that is decoded is checked completely first; a page whose counts or lengths do not fit
// is refused with a reason instead of being read past its end.
//
// Keys in memory are the stored bytes without their trailing pad: blanks for character
// keys, zero bytes for the others. GENERAL keys hold their diacritic bytes in full
// (0xF0 and above); the page form stores the trailing run of them as their low nibble.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvern {

inline constexpr int32_t kCdxPageSize = 512;
inline constexpr int32_t kCdxHeaderSize = 1024;
inline constexpr int32_t kCdxLeafHeaderSize = 24;
inline constexpr int32_t kCdxLeafArea = kCdxPageSize - kCdxLeafHeaderSize;  // 488
inline constexpr int32_t kCdxBranchArea = kCdxPageSize - 12;                // 500
inline constexpr int32_t kCdxMaxKeyLength = 240;
inline constexpr int32_t kCdxDirectoryKeyLength = 10;
inline constexpr uint32_t kCdxNoPage = 0xFFFFFFFF;

// Header option bits.
inline constexpr uint8_t kCdxOptUnique = 0x01;
inline constexpr uint8_t kCdxOptNullable = 0x02;   // key has a leading null-flag byte
inline constexpr uint8_t kCdxOptCandidate = 0x04;  // candidate or primary key: unique
inline constexpr uint8_t kCdxOptFor = 0x08;
inline constexpr uint8_t kCdxOptCompact = 0x20;
inline constexpr uint8_t kCdxOptCompound = 0x40;
inline constexpr uint8_t kCdxOptDirectory = 0x80;

// Page attribute bits.
inline constexpr uint16_t kCdxAttrRoot = 1;
inline constexpr uint16_t kCdxAttrLeaf = 2;

// Header signatures.
inline constexpr uint8_t kCdxSignatureMachine = 1;
inline constexpr uint8_t kCdxSignatureCollated = 2;
inline constexpr uint8_t kCdxSignatureBinary = 5;  // bitmap leaves, not compact leaves

// The collation of a tag.
enum class CdxCollation : uint8_t { Other = 0, Machine = 1, General = 2 };

// A tag header (the tag directory's at offset 0 has the same layout).
struct CdxHeader {
  uint32_t root = 0;
  uint32_t freeList = 0;
  uint32_t changeCounter = 0;
  uint16_t keyLength = 0;
  uint8_t options = 0;
  uint8_t signature = kCdxSignatureMachine;
  std::string collationName;  // offset 494, up to its NUL
  bool descending = false;
  std::string keyExpression;
  std::string forExpression;  // only read when the FOR option bit is set
  // The bytes as read (zero for a new header). Storing overwrites the fields above and
  // keeps every other byte, so that other programs' bytes survive a rewrite.
  std::array<uint8_t, kCdxHeaderSize> image{};

  CdxCollation Collation() const;
};

// Parses a 1,024-byte header image. Answers false with `why` when the expression lengths
// or texts do not fit in the header.
bool ParseCdxHeader(std::span<const uint8_t> bytes, CdxHeader& header, std::string& why);
// Writes `header` over its image and copies the image to `out` (1,024 bytes). The key
// expression and FOR expression must together fit in 510 bytes (false otherwise).
bool StoreCdxHeader(CdxHeader& header, std::span<uint8_t> out);

// How keys sit on the pages of one tag.
struct CdxKeyForm {
  int32_t keyLength = 0;
  uint8_t pad = ' ';     // blank for character keys, zero for numeric and date keys
  bool general = false;  // GENERAL collation: trailing diacritic bytes stored as nibbles
};

// The packing of leaf entries.
struct CdxLeafParams {
  uint32_t recordMask = 0;
  uint8_t dupMask = 0;
  uint8_t trailMask = 0;
  uint8_t recordBits = 0;
  uint8_t dupBits = 0;
  uint8_t trailBits = 0;
  uint8_t entrySize = 0;
};

// The parameters for keys of `keyLength` bytes and record numbers up to
// `highestRecord`: duplicate and trailing counts take as many bits as the key length
// needs, the record number the rest of an entry of 3 or more bytes, as wide as needed.
CdxLeafParams CdxLeafParamsFor(int32_t keyLength, uint32_t highestRecord);

// One key of a page: in a leaf its record number; in a branch the record number of the
// child's highest key and the child's offset.
struct CdxEntry {
  std::string key;
  uint32_t record = 0;
  uint32_t child = 0;
};

// The 12-byte header common to both page kinds.
struct CdxPageHead {
  uint16_t attributes = 0;
  uint16_t count = 0;
  uint32_t left = kCdxNoPage;
  uint32_t right = kCdxNoPage;

  bool IsLeaf() const { return (attributes & kCdxAttrLeaf) != 0; }
  bool IsRoot() const { return (attributes & kCdxAttrRoot) != 0; }
};

CdxPageHead ReadCdxPageHead(std::span<const uint8_t> page);

// Hands the keys of a decoded page over in order: the key bytes (valid during the call
// only), the record number and, in a branch, the child page.
using CdxKeyVisitor = std::function<void(std::string_view key, uint32_t record, uint32_t child)>;
// Decodes a leaf page. False with `why` (and no key handed over) when the page is not a
// leaf or any entry, count or length does not fit in it.
bool VisitCdxLeaf(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                  CdxLeafParams& params, const CdxKeyVisitor& visit, std::string& why);
// Decodes a branch page; false with `why` when it is not a branch or its count does not
// fit.
bool VisitCdxBranch(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                    const CdxKeyVisitor& visit, std::string& why);
// The same into a list of entries.
bool DecodeCdxLeaf(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                   CdxLeafParams& params, std::vector<CdxEntry>& entries, std::string& why);
bool DecodeCdxBranch(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                     std::vector<CdxEntry>& entries, std::string& why);

// Appends keys to one leaf page in order, front-compressing each against the one before.
class CdxLeafWriter {
 public:
  CdxLeafWriter(const CdxKeyForm& form, const CdxLeafParams& params);

  // Empties the page and gives it a header.
  void Start(uint16_t attributes, uint32_t left, uint32_t right);
  // Adds the key when it fits; false (nothing changed) when it does not. Keys longer
  // than the key length are cut to it.
  bool Add(std::string_view key, uint32_t record);
  int32_t Free() const { return free_; }
  int32_t Count() const { return count_; }
  void SetAttributes(uint16_t attributes);
  void SetSiblings(uint32_t left, uint32_t right);
  const std::array<uint8_t, kCdxPageSize>& Page() const { return page_; }

 private:
  // The key as the page stores it, cut to the key length, GENERAL diacritics at the end
  // turned into nibbles. Writes and answers the bytes before the trailing pad.
  int32_t StoredForm(std::string_view key, uint8_t* out) const;
  const uint8_t* Previous() const { return keys_.data() + previous_ * kCdxMaxKeyLength; }

  CdxKeyForm form_;
  CdxLeafParams params_;
  std::array<uint8_t, kCdxPageSize> page_{};
  // The previous key and room for the next one, taking turns.
  std::array<uint8_t, 2 * kCdxMaxKeyLength> keys_{};
  int previous_ = 0;
  int32_t previousLength_ = 0;
  int32_t count_ = 0;
  int32_t free_ = kCdxLeafArea;
  int32_t keyEnd_ = kCdxPageSize;
};

// Encodes `entries` as one leaf page; false when they do not fit in one page.
bool EncodeCdxLeaf(const CdxPageHead& head, const CdxKeyForm& form, const CdxLeafParams& params,
                   std::span<const CdxEntry> entries, std::span<uint8_t> page);
// The bytes `entries` take in one leaf (entries and key bytes, the first key uncompressed).
int32_t CdxLeafBytes(std::span<const CdxEntry> entries, const CdxKeyForm& form,
                     const CdxLeafParams& params);
// How to cut keys that do not fit in one leaf: the sizes of the parts from the left,
// the last part included; one part when everything fits. Every part but the last holds
// the keys whose running total stays below 250 bytes (at least one key), so each page
// keeps room for later insertions; every part fits in a page.
std::vector<size_t> PlanCdxLeafSplit(std::span<const CdxEntry> entries, const CdxKeyForm& form,
                                     const CdxLeafParams& params);

// Entries one branch page holds.
int32_t CdxBranchCapacity(int32_t keyLength);
// Encodes `entries` (at most the capacity) as one branch page. The unused area is
// filled with `filler`.
void EncodeCdxBranch(const CdxPageHead& head, const CdxKeyForm& form,
                     std::span<const CdxEntry> entries, uint8_t filler, std::span<uint8_t> page);
// The sizes of the parts of an overfull branch, from the left: halves while more than
// the capacity remains.
std::vector<size_t> PlanCdxBranchSplit(size_t count, int32_t capacity);

// Sortable form of a double: the 8 bytes most significant first, the sign bit inverted
// for positive numbers and every bit inverted for negative ones, trailing zero bytes
// dropped. Negative zero is stored as zero.
std::string CdxNumberKey(double value);
// The double back from its sortable form (missing trailing bytes are zero).
double CdxKeyNumber(std::string_view key);

// The GENERAL collation key of a text: primary weights (two for the characters that
// expand), then the diacritic marks OR 0xF0 with the trailing 0xF0 bytes removed.
std::string CdxGeneralKey(std::string_view text);

// Lays a tag's pages down from keys that arrive in key order. Leaves are filled until
// their free bytes fall below twice the room of a full entry or a quarter of the page,
// whichever is less (so later insertions find room), branches until they hold their
// capacity; every full page is written at once
// and its last key goes up one level. Pages of one level are linked both ways.
class CdxTreeWriter {
 public:
  // Allocates a page (its byte offset) and writes a page.
  using NewPageFn = std::function<uint32_t()>;
  using WritePageFn = std::function<void(uint32_t offset, std::span<const uint8_t> page)>;

  CdxTreeWriter(const CdxKeyForm& form, uint32_t highestRecord, NewPageFn newPage,
                WritePageFn writePage);
  ~CdxTreeWriter();
  CdxTreeWriter(const CdxTreeWriter&) = delete;
  CdxTreeWriter& operator=(const CdxTreeWriter&) = delete;

  // Keys must come in order. Keys longer than the key length are cut.
  void Add(std::string_view key, uint32_t record);
  // Writes the pending pages and answers the root page: an empty root leaf when no key
  // was added.
  uint32_t Finish();
  int64_t KeysAdded() const { return added_; }
  int32_t Levels() const { return static_cast<int32_t>(levels_.size()); }

 private:
  struct Level;
  void AddToBranch(size_t level, std::string_view key, uint32_t record, uint32_t child);
  void CloseLeaf(bool last);
  void CloseBranch(size_t level, bool last);

  CdxKeyForm form_;
  CdxLeafParams params_;
  NewPageFn newPage_;
  WritePageFn writePage_;
  std::vector<std::unique_ptr<Level>> levels_;
  int64_t added_ = 0;
  bool finished_ = false;
};

}  // namespace tolvern
