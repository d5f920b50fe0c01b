#include "kx6_cdxpage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "kx6_bytes.h"

namespace tolvern {

namespace {

// Header fields.
constexpr size_t kHdrRoot = 0;
constexpr size_t kHdrFreeList = 4;
constexpr size_t kHdrCounter = 8;
constexpr size_t kHdrKeyLength = 12;
constexpr size_t kHdrOptions = 14;
constexpr size_t kHdrSignature = 15;
constexpr size_t kHdrCollation = 494;
constexpr size_t kHdrCollationSize = 8;
constexpr size_t kHdrDescending = 502;
constexpr size_t kHdrKeyExprLength = 504;
constexpr size_t kHdrForExprLength = 506;
constexpr size_t kHdrKeyExprLength2 = 510;
constexpr size_t kHdrExpressions = 512;

// Leaf page fields.
constexpr size_t kLeafFree = 12;
constexpr size_t kLeafRecordMask = 14;
constexpr size_t kLeafDupMask = 18;
constexpr size_t kLeafTrailMask = 19;
constexpr size_t kLeafRecordBits = 20;
constexpr size_t kLeafDupBits = 21;
constexpr size_t kLeafTrailBits = 22;
constexpr size_t kLeafEntrySize = 23;

// Pages are filled until fewer than 250 bytes are in use when a page is split, so both
// halves keep room for later insertions.
constexpr int32_t kSplitFill = 250;

// GENERAL collation: primary weight and diacritic mark of every character code.
constexpr uint8_t kGeneralWeight[256] = {
    16,  16,  16,  16,  16,  16,  16,  16,  16,  17,  16,  16,  16,  16,  16,  16,   // 0x00
    16,  16,  16,  16,  16,  16,  16,  16,  16,  16,  16,  16,  16,  16,  16,  16,   // 0x10
    17,  18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,   // 0x20
    86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  33,  34,  35,  36,  37,  38,   // 0x30
    39,  96,  97,  98,  100, 102, 103, 104, 105, 106, 107, 108, 109, 111, 112, 114,  // 0x40
    115, 116, 117, 118, 119, 120, 122, 123, 124, 125, 126, 40,  41,  42,  43,  44,   // 0x50
    45,  96,  97,  98,  100, 102, 103, 104, 105, 106, 107, 108, 109, 111, 112, 114,  // 0x60
    115, 116, 117, 118, 119, 120, 122, 123, 124, 125, 126, 46,  47,  48,  49,  16,   // 0x70
    16,  16,  24,  50,  19,  51,  52,  53,  54,  55,  118, 24,  0,   16,  16,  16,   // 0x80
    16,  24,  24,  19,  19,  56,  30,  30,  57,  58,  118, 24,  0,   16,  16,  125,  // 0x90
    32,  59,  60,  61,  62,  63,  64,  65,  66,  67,  68,  19,  69,  30,  70,  71,   // 0xA0
    72,  73,  88,  89,  74,  75,  76,  77,  78,  87,  79,  19,  80,  81,  82,  83,   // 0xB0
    96,  96,  96,  96,  96,  96,  6,   98,  102, 102, 102, 102, 106, 106, 106, 106,  // 0xC0
    101, 112, 114, 114, 114, 114, 114, 84,  129, 120, 120, 120, 120, 125, 18,  12,   // 0xD0
    96,  96,  96,  96,  96,  96,  6,   98,  102, 102, 102, 102, 106, 106, 106, 106,  // 0xE0
    101, 112, 114, 114, 114, 114, 114, 85,  129, 120, 120, 120, 120, 125, 18,  125,  // 0xF0
};

constexpr uint8_t kGeneralDiacritic[256] = {
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  0,  0,  0,   0,  0,   0,    // 0x00
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  0,  0,  0,   0,  0,   0,    // 0x10
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  0,  0,  0,   0,  0,   0,    // 0x20
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  0,  0,  0,   0,  0,   0,    // 0x30
    0,  32, 0,  32, 0,  32, 0,   0,  0,  32, 0,  0,  0,   0,  32,  32,   // 0x40
    0,  0,  0,  32, 0,  32, 0,   0,  0,  32, 0,  0,  0,   0,  0,   0,    // 0x50
    0,  32, 0,  32, 0,  32, 0,   0,  0,  32, 0,  0,  0,   0,  32,  32,   // 0x60
    0,  0,  0,  32, 0,  32, 0,   0,  0,  32, 0,  0,  0,   0,  0,   0,    // 0x70
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  40, 0,  128, 0,  0,   0,    // 0x80
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  40, 0,  128, 0,  0,   36,   // 0x90
    33, 0,  0,  0,  0,  0,  0,   0,  0,  0,  0,  0,  0,   0,  0,   0,    // 0xA0
    0,  0,  0,  0,  0,  0,  0,   0,  0,  0,  0,  0,  0,   0,  0,   0,    // 0xB0
    34, 33, 35, 37, 36, 38, 128, 39, 34, 33, 35, 36, 34,  33, 35,  36,   // 0xC0
    0,  37, 34, 33, 35, 37, 36,  0,  0,  34, 33, 35, 36,  33, 128, 128,  // 0xD0
    34, 33, 35, 37, 36, 38, 128, 39, 34, 33, 35, 36, 34,  33, 35,  36,   // 0xE0
    0,  37, 34, 33, 35, 37, 36,  0,  0,  34, 33, 35, 36,  33, 128, 36,   // 0xF0
};

// Characters that sort as two: records of (unused, flag, weight, mark, weight, mark) at
// the weights 0 (OE), 6 (AE), 12 (sharp s) and 18 (thorn).
constexpr uint8_t kGeneralExpansion[24] = {0, 2, 114, 32, 102, 32, 0, 2, 96,  32, 102, 32,
                                           0, 2, 118, 32, 118, 32, 0, 2, 119, 0,  105, 0};

std::string CString(const uint8_t* bytes, size_t max) {
  size_t n = 0;
  while (n < max && bytes[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

int BitsFor(int32_t value) {
  int bits = 0;
  for (uint32_t v = static_cast<uint32_t>(value); v != 0; v >>= 1) ++bits;
  return bits == 0 ? 1 : bits;
}

uint32_t MaskFor(int bits) { return bits >= 31 ? 0x7FFFFFFFu : (uint32_t{1} << bits) - 1; }

// The key as a page stores it: cut to the key length, a GENERAL key's trailing
// diacritics as nibbles; with `padded` the rest of the key length filled with the pad
// byte. Answers the length before the trailing pad (only those bytes are written
// without `padded`).
int32_t StoredForm(const CdxKeyForm& form, std::string_view key, uint8_t* out, bool padded = true) {
  const int32_t length = form.keyLength;
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(key.size()), length);
  if (n > 0) std::memcpy(out, key.data(), static_cast<size_t>(n));
  if (form.general) {
    for (int32_t i = n - 1; i >= 1 && out[i] >= 0xF0; --i) out[i] &= 0x0F;
  }
  if (padded && n < length) std::memset(out + n, form.pad, static_cast<size_t>(length - n));
  int32_t used = n;
  while (used > 0 && out[used - 1] == form.pad) --used;
  return used;
}

int32_t CommonPrefix(const uint8_t* a, int32_t aLength, const uint8_t* b, int32_t bLength) {
  const int32_t n = std::min(aLength, bLength);
  int32_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The in-memory key from `length` stored bytes, written to `out`: GENERAL nibbles
// restored, trailing pad removed. Answers its length.
int32_t KeyFromStored(const CdxKeyForm& form, const uint8_t* bytes, int32_t length, uint8_t* out) {
  if (length > 0) std::memcpy(out, bytes, static_cast<size_t>(length));
  if (form.general) {
    for (int32_t i = length - 1; i >= 1 && out[i] < 16; --i) out[i] |= 0xF0;
  }
  while (length > 0 && out[length - 1] == form.pad) --length;
  return length;
}

bool Fail(std::string& why, const std::string& reason) {
  why = reason;
  return false;
}

// Stored lengths of a run of keys, for split planning: the part before the trailing
// pad of each key and what it shares with the key before it.
struct StoredSizes {
  std::vector<int32_t> used;
  std::vector<int32_t> shared;
};

StoredSizes MeasureKeys(std::span<const CdxEntry> entries, const CdxKeyForm& form,
                        const CdxLeafParams& params) {
  StoredSizes sizes;
  sizes.used.resize(entries.size());
  sizes.shared.resize(entries.size());
  std::array<uint8_t, kCdxMaxKeyLength> previous{};
  std::array<uint8_t, kCdxMaxKeyLength> current{};
  int32_t previousUsed = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const int32_t used = StoredForm(form, entries[i].key, current.data());
    int32_t shared = i == 0 ? 0 : CommonPrefix(current.data(), used, previous.data(), previousUsed);
    shared = std::min<int32_t>(shared, params.dupMask);
    sizes.used[i] = used;
    sizes.shared[i] = shared;
    previous = current;
    previousUsed = used;
  }
  return sizes;
}

// Bytes of keys [first, last) on one page, the first uncompressed. The trailing count
// is capped by its mask; what it cannot cover is stored.
int32_t PartBytes(const StoredSizes& sizes, size_t first, size_t last, const CdxKeyForm& form,
                  const CdxLeafParams& params) {
  int64_t total = 0;
  for (size_t i = first; i < last; ++i) {
    const int32_t used = std::max<int32_t>(sizes.used[i], form.keyLength - params.trailMask);
    total += params.entrySize + used - (i == first ? 0 : sizes.shared[i]);
  }
  return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Header

CdxCollation CdxHeader::Collation() const {
  std::string name = collationName;
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (name.empty() || name == "MACHINE") return CdxCollation::Machine;
  if (name == "GENERAL") return CdxCollation::General;
  return CdxCollation::Other;
}

bool ParseCdxHeader(std::span<const uint8_t> bytes, CdxHeader& header, std::string& why) {
  if (bytes.size() < static_cast<size_t>(kCdxHeaderSize)) return Fail(why, "header is short");
  ByteReader r(bytes.data(), kCdxHeaderSize);
  std::copy_n(bytes.begin(), kCdxHeaderSize, header.image.begin());
  header.root = r.U32LE(kHdrRoot);
  header.freeList = r.U32LE(kHdrFreeList);
  header.changeCounter = r.U32BE(kHdrCounter);  // big-endian in the files of other programs
  header.keyLength = r.U16LE(kHdrKeyLength);
  header.options = r.U8(kHdrOptions);
  header.signature = r.U8(kHdrSignature);
  header.collationName = CString(bytes.data() + kHdrCollation, kHdrCollationSize);
  header.descending = r.U16LE(kHdrDescending) != 0;
  const uint8_t* pool = bytes.data() + kHdrExpressions;
  const size_t poolSize = kCdxHeaderSize - kHdrExpressions;
  const auto* keyEnd = static_cast<const uint8_t*>(std::memchr(pool, 0, poolSize));
  if (keyEnd == nullptr) return Fail(why, "key expression is not terminated");
  header.keyExpression = CString(pool, poolSize);
  header.forExpression.clear();
  if (header.options & kCdxOptFor) {
    const size_t forStart = static_cast<size_t>(keyEnd - pool) + 1;
    if (forStart >= poolSize) return Fail(why, "FOR expression is missing");
    header.forExpression = CString(pool + forStart, poolSize - forStart);
  }
  return true;
}

bool StoreCdxHeader(CdxHeader& header, std::span<uint8_t> out) {
  const size_t keySize = header.keyExpression.size();
  const size_t forSize = header.forExpression.size();
  if (keySize + 1 + forSize + 1 > static_cast<size_t>(kCdxHeaderSize) - kHdrExpressions)
    return false;
  ByteWriter w(header.image.data(), header.image.size());
  w.U32LE(kHdrRoot, header.root);
  w.U32LE(kHdrFreeList, header.freeList);
  w.U32BE(kHdrCounter, header.changeCounter);
  w.U16LE(kHdrKeyLength, header.keyLength);
  w.U8(kHdrOptions, header.options);
  w.U8(kHdrSignature, header.signature);
  w.Fill(kHdrCollation, 0, kHdrCollationSize);
  w.Bytes(kHdrCollation, header.collationName.data(),
          std::min(header.collationName.size(), kHdrCollationSize - 1));
  w.U16LE(kHdrDescending, header.descending ? 1 : 0);
  w.U16LE(kHdrKeyExprLength, static_cast<uint16_t>(keySize + 1));
  w.U16LE(kHdrForExprLength, static_cast<uint16_t>(forSize + 1));
  w.U16LE(kHdrKeyExprLength2, static_cast<uint16_t>(keySize + 1));
  w.Fill(kHdrExpressions, 0, kCdxHeaderSize - kHdrExpressions);
  w.Bytes(kHdrExpressions, header.keyExpression.data(), keySize);
  w.Bytes(kHdrExpressions + keySize + 1, header.forExpression.data(), forSize);
  ByteWriter(out).Bytes(0, header.image.data(), header.image.size());
  return true;
}

// ---------------------------------------------------------------------------------------
// Leaf pages

CdxLeafParams CdxLeafParamsFor(int32_t keyLength, uint32_t highestRecord) {
  CdxLeafParams p;
  const int w = BitsFor(keyLength);
  p.dupBits = p.trailBits = static_cast<uint8_t>(w);
  p.dupMask = p.trailMask = static_cast<uint8_t>((1 << w) - 1);
  int entrySize = 3;
  int recordBits = 24 - 2 * w;
  while (MaskFor(recordBits) < highestRecord && MaskFor(recordBits) < 0x7FFFFFFFu) {
    ++entrySize;
    recordBits += 8;
  }
  p.entrySize = static_cast<uint8_t>(entrySize);
  p.recordBits = static_cast<uint8_t>(recordBits);
  p.recordMask = MaskFor(recordBits);
  return p;
}

CdxPageHead ReadCdxPageHead(std::span<const uint8_t> page) {
  ByteReader r(page);
  CdxPageHead head;
  head.attributes = r.U16LE(0);
  head.count = r.U16LE(2);
  head.left = r.U32LE(4);
  head.right = r.U32LE(8);
  return head;
}

namespace {

void WritePageHead(ByteWriter& w, const CdxPageHead& head) {
  w.U16LE(0, head.attributes);
  w.U16LE(2, head.count);
  w.U32LE(4, head.left);
  w.U32LE(8, head.right);
}

bool CheckKeyForm(const CdxKeyForm& form, std::string& why) {
  if (form.keyLength < 1 || form.keyLength > kCdxMaxKeyLength)
    return Fail(why, "key length " + std::to_string(form.keyLength) + " is out of range");
  return true;
}

}  // namespace

bool VisitCdxLeaf(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                  CdxLeafParams& params, const CdxKeyVisitor& visit, std::string& why) {
  if (page.size() < static_cast<size_t>(kCdxPageSize)) return Fail(why, "page is short");
  if (!CheckKeyForm(form, why)) return false;
  ByteReader r(page.data(), kCdxPageSize);
  head = ReadCdxPageHead(page);
  if (!head.IsLeaf()) return Fail(why, "page is not a leaf");
  params.recordMask = r.U32LE(kLeafRecordMask);
  params.dupMask = r.U8(kLeafDupMask);
  params.trailMask = r.U8(kLeafTrailMask);
  params.recordBits = r.U8(kLeafRecordBits);
  params.dupBits = r.U8(kLeafDupBits);
  params.trailBits = r.U8(kLeafTrailBits);
  params.entrySize = r.U8(kLeafEntrySize);
  const int32_t entrySize = params.entrySize;
  const int32_t count = head.count;
  if (count == 0) return true;
  if (entrySize < 1 || entrySize > 8) return Fail(why, "leaf entry size is invalid");
  if (params.recordBits + params.dupBits + params.trailBits > 8 * entrySize)
    return Fail(why, "leaf bit counts exceed the entry size");
  if (count * entrySize > kCdxLeafArea) return Fail(why, "leaf entries exceed the page");
  const int32_t length = form.keyLength;
  const int32_t entriesEnd = kCdxLeafHeaderSize + count * entrySize;
  // First every entry is checked against the page, then the keys are rebuilt.
  struct Packed {
    uint32_t record;
    int16_t dup;
    int16_t trail;
  };
  std::array<Packed, kCdxLeafArea> packed;
  int32_t keyPos = kCdxPageSize;
  for (int32_t i = 0; i < count; ++i) {
    uint64_t value = 0;
    const uint8_t* entry = page.data() + kCdxLeafHeaderSize + i * entrySize;
    for (int32_t b = entrySize - 1; b >= 0; --b) value = (value << 8) | entry[b];
    Packed& p = packed[static_cast<size_t>(i)];
    p.record = static_cast<uint32_t>(value & params.recordMask);
    p.dup = static_cast<int16_t>((value >> params.recordBits) & params.dupMask);
    p.trail =
        static_cast<int16_t>((value >> (params.recordBits + params.dupBits)) & params.trailMask);
    if (p.dup + p.trail > length) return Fail(why, "leaf key counts exceed the key length");
    if (i == 0 && p.dup != 0) return Fail(why, "first leaf key refers to a previous key");
    keyPos -= length - p.dup - p.trail;
    if (keyPos < entriesEnd) return Fail(why, "leaf key bytes overlap the entries");
  }
  std::array<uint8_t, kCdxMaxKeyLength> work;
  std::array<uint8_t, kCdxMaxKeyLength> key;
  std::fill_n(work.begin(), length, form.pad);
  keyPos = kCdxPageSize;
  for (int32_t i = 0; i < count; ++i) {
    const Packed& p = packed[static_cast<size_t>(i)];
    const int32_t stored = length - p.dup - p.trail;
    keyPos -= stored;
    if (stored > 0)
      std::memcpy(work.data() + p.dup, page.data() + keyPos, static_cast<size_t>(stored));
    std::fill(work.begin() + (length - p.trail), work.begin() + length, form.pad);
    const int32_t used = KeyFromStored(form, work.data(), length - p.trail, key.data());
    visit(std::string_view(reinterpret_cast<const char*>(key.data()), static_cast<size_t>(used)),
          p.record, 0);
  }
  return true;
}

bool VisitCdxBranch(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                    const CdxKeyVisitor& visit, std::string& why) {
  if (page.size() < static_cast<size_t>(kCdxPageSize)) return Fail(why, "page is short");
  if (!CheckKeyForm(form, why)) return false;
  ByteReader r(page.data(), kCdxPageSize);
  head = ReadCdxPageHead(page);
  if (head.IsLeaf()) return Fail(why, "page is not a branch");
  const int32_t length = form.keyLength;
  const int32_t entrySize = length + 8;
  if (head.count * entrySize > kCdxBranchArea) return Fail(why, "branch entries exceed the page");
  std::array<uint8_t, kCdxMaxKeyLength> key;
  for (int32_t i = 0; i < head.count; ++i) {
    const size_t at = static_cast<size_t>(12 + i * entrySize);
    const auto bytes = r.Bytes(at, static_cast<size_t>(length));
    int32_t used = length;
    if (form.general) {
      while (used > 0 && bytes[static_cast<size_t>(used - 1)] == form.pad) --used;
    }
    used = KeyFromStored(form, bytes.data(), used, key.data());
    visit(std::string_view(reinterpret_cast<const char*>(key.data()), static_cast<size_t>(used)),
          r.U32BE(at + static_cast<size_t>(length)), r.U32BE(at + static_cast<size_t>(length) + 4));
  }
  return true;
}

bool DecodeCdxLeaf(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                   CdxLeafParams& params, std::vector<CdxEntry>& entries, std::string& why) {
  entries.clear();
  return VisitCdxLeaf(
      page, form, head, params,
      [&entries](std::string_view key, uint32_t record, uint32_t) {
        entries.push_back(CdxEntry{std::string(key), record, 0});
      },
      why);
}

bool DecodeCdxBranch(std::span<const uint8_t> page, const CdxKeyForm& form, CdxPageHead& head,
                     std::vector<CdxEntry>& entries, std::string& why) {
  entries.clear();
  return VisitCdxBranch(
      page, form, head,
      [&entries](std::string_view key, uint32_t record, uint32_t child) {
        entries.push_back(CdxEntry{std::string(key), record, child});
      },
      why);
}

CdxLeafWriter::CdxLeafWriter(const CdxKeyForm& form, const CdxLeafParams& params)
    : form_(form), params_(params) {
  if (form.keyLength < 1 || form.keyLength > kCdxMaxKeyLength)
    throw std::invalid_argument("CDX key length out of range");
  Start(kCdxAttrLeaf, kCdxNoPage, kCdxNoPage);
}

void CdxLeafWriter::Start(uint16_t attributes, uint32_t left, uint32_t right) {
  page_.fill(0);
  count_ = 0;
  free_ = kCdxLeafArea;
  keyEnd_ = kCdxPageSize;
  previousLength_ = 0;
  ByteWriter w(page_.data(), page_.size());
  CdxPageHead head;
  head.attributes = attributes;
  head.left = left;
  head.right = right;
  WritePageHead(w, head);
  w.U16LE(kLeafFree, static_cast<uint16_t>(free_));
  w.U32LE(kLeafRecordMask, params_.recordMask);
  w.U8(kLeafDupMask, params_.dupMask);
  w.U8(kLeafTrailMask, params_.trailMask);
  w.U8(kLeafRecordBits, params_.recordBits);
  w.U8(kLeafDupBits, params_.dupBits);
  w.U8(kLeafTrailBits, params_.trailBits);
  w.U8(kLeafEntrySize, params_.entrySize);
}

void CdxLeafWriter::SetAttributes(uint16_t attributes) {
  ByteWriter(page_.data(), page_.size()).U16LE(0, attributes);
}

void CdxLeafWriter::SetSiblings(uint32_t left, uint32_t right) {
  ByteWriter w(page_.data(), page_.size());
  w.U32LE(4, left);
  w.U32LE(8, right);
}

int32_t CdxLeafWriter::StoredForm(std::string_view key, uint8_t* out) const {
  int32_t used = tolvern::StoredForm(form_, key, out, false);
  // A trailing count the mask cannot hold leaves pad bytes to store.
  const int32_t least = form_.keyLength - params_.trailMask;
  if (used < least) {
    std::memset(out + used, form_.pad, static_cast<size_t>(least - used));
    used = least;
  }
  return used;
}

bool CdxLeafWriter::Add(std::string_view key, uint32_t record) {
  if (record > params_.recordMask)
    throw std::out_of_range("record number does not fit the leaf entries");
  uint8_t* stored = keys_.data() + (previous_ ^ 1) * kCdxMaxKeyLength;
  const int32_t used = StoredForm(key, stored);
  int32_t dup = 0;
  if (count_ > 0) {
    dup = CommonPrefix(stored, used, Previous(), previousLength_);
    dup = std::min<int32_t>(dup, params_.dupMask);
  }
  const int32_t bytes = used - dup;
  const int32_t cost = params_.entrySize + bytes;
  if (cost > free_) return false;
  // Within the page: the entries end before the key bytes begin, as free_ says.
  const int32_t trail = form_.keyLength - used;
  const uint64_t value = static_cast<uint64_t>(record) |
                         (static_cast<uint64_t>(dup) << params_.recordBits) |
                         (static_cast<uint64_t>(trail) << (params_.recordBits + params_.dupBits));
  uint8_t* entry = page_.data() + kCdxLeafHeaderSize + count_ * params_.entrySize;
  for (int32_t b = 0; b < params_.entrySize; ++b) entry[b] = static_cast<uint8_t>(value >> (8 * b));
  keyEnd_ -= bytes;
  if (bytes > 0) std::memcpy(page_.data() + keyEnd_, stored + dup, static_cast<size_t>(bytes));
  free_ -= cost;
  ++count_;
  page_[2] = static_cast<uint8_t>(count_);
  page_[3] = static_cast<uint8_t>(count_ >> 8);
  page_[kLeafFree] = static_cast<uint8_t>(free_);
  page_[kLeafFree + 1] = static_cast<uint8_t>(free_ >> 8);
  previous_ ^= 1;
  previousLength_ = used;
  return true;
}

bool EncodeCdxLeaf(const CdxPageHead& head, const CdxKeyForm& form, const CdxLeafParams& params,
                   std::span<const CdxEntry> entries, std::span<uint8_t> page) {
  CdxLeafWriter writer(form, params);
  writer.Start(head.attributes, head.left, head.right);
  for (const CdxEntry& entry : entries)
    if (!writer.Add(entry.key, entry.record)) return false;
  ByteWriter(page).Bytes(0, writer.Page().data(), kCdxPageSize);
  return true;
}

int32_t CdxLeafBytes(std::span<const CdxEntry> entries, const CdxKeyForm& form,
                     const CdxLeafParams& params) {
  const StoredSizes sizes = MeasureKeys(entries, form, params);
  return PartBytes(sizes, 0, entries.size(), form, params);
}

std::vector<size_t> PlanCdxLeafSplit(std::span<const CdxEntry> entries, const CdxKeyForm& form,
                                     const CdxLeafParams& params) {
  const StoredSizes sizes = MeasureKeys(entries, form, params);
  std::vector<size_t> parts;
  size_t start = 0;
  const size_t n = entries.size();
  while (start < n && PartBytes(sizes, start, n, form, params) >= kCdxLeafArea) {
    size_t end = start + 1;
    int32_t total = PartBytes(sizes, start, end, form, params);
    while (end < n) {
      const int32_t used = std::max<int32_t>(sizes.used[end], form.keyLength - params.trailMask);
      const int32_t next = total + params.entrySize + used - sizes.shared[end];
      if (next >= kSplitFill) break;
      total = next;
      ++end;
    }
    parts.push_back(end - start);
    start = end;
  }
  parts.push_back(n - start);
  return parts;
}

// ---------------------------------------------------------------------------------------
// Branch pages

int32_t CdxBranchCapacity(int32_t keyLength) { return kCdxBranchArea / (keyLength + 8); }

void EncodeCdxBranch(const CdxPageHead& head, const CdxKeyForm& form,
                     std::span<const CdxEntry> entries, uint8_t filler, std::span<uint8_t> page) {
  const int32_t length = form.keyLength;
  const int32_t entrySize = length + 8;
  if (entries.size() > static_cast<size_t>(CdxBranchCapacity(length)))
    throw std::length_error("branch entries exceed the page");
  ByteWriter w(page.data(), kCdxPageSize);
  w.Fill(0, 0, 12);
  w.Fill(12, filler, kCdxBranchArea);
  CdxPageHead h = head;
  h.count = static_cast<uint16_t>(entries.size());
  WritePageHead(w, h);
  std::array<uint8_t, kCdxMaxKeyLength> stored{};
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = 12 + i * static_cast<size_t>(entrySize);
    StoredForm(form, entries[i].key, stored.data());
    w.Bytes(at, stored.data(), static_cast<size_t>(length));
    w.U32BE(at + static_cast<size_t>(length), entries[i].record);
    w.U32BE(at + static_cast<size_t>(length) + 4, entries[i].child);
  }
}

std::vector<size_t> PlanCdxBranchSplit(size_t count, int32_t capacity) {
  std::vector<size_t> parts;
  const size_t cap = static_cast<size_t>(std::max(capacity, 1));
  size_t remaining = count;
  while (remaining > cap) {
    const size_t part = std::min(cap, (remaining + 1) / 2);
    parts.push_back(part);
    remaining -= part;
  }
  parts.push_back(remaining);
  return parts;
}

// ---------------------------------------------------------------------------------------
// Key forms

std::string CdxNumberKey(double value) {
  if (value == 0) value = 0;  // negative zero is zero
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits >> 63)
    bits = ~bits;
  else
    bits |= uint64_t{1} << 63;
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[static_cast<size_t>(i)] = static_cast<char>(bits >> (56 - 8 * i));
  while (!key.empty() && key.back() == '\0') key.pop_back();
  return key;
}

double CdxKeyNumber(std::string_view key) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i)
    bits = (bits << 8) | (i < key.size() ? static_cast<uint8_t>(key[i]) : 0);
  if (bits >> 63)
    bits &= ~(uint64_t{1} << 63);
  else
    bits = ~bits;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string CdxGeneralKey(std::string_view text) {
  std::string primary;
  std::string marks;
  primary.reserve(text.size() * 2);
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    const uint8_t weight = kGeneralWeight[c];
    const uint8_t mark = kGeneralDiacritic[c];
    const bool expands = weight == 0 || weight == 6 || weight == 12 || weight == 18;
    if (expands) {
      primary += static_cast<char>(kGeneralExpansion[weight + 2]);
      primary += static_cast<char>(kGeneralExpansion[weight + 4]);
    } else {
      primary += static_cast<char>(weight);
    }
    if (mark == 128) {
      if (expands) {
        for (const int at : {weight + 3, weight + 5}) {
          const uint8_t m = kGeneralExpansion[at];
          if (m != 0) marks += static_cast<char>(m | 0xF0);
        }
      }
    } else if (mark != 0) {
      marks += static_cast<char>(mark | 0xF0);
    }
  }
  while (!marks.empty() && static_cast<uint8_t>(marks.back()) == 0xF0) marks.pop_back();
  return primary + marks;
}

// ---------------------------------------------------------------------------------------
// Bottom-up tree writer

struct CdxTreeWriter::Level {
  uint32_t own = 0;  // the page being filled; 0 before the level's first key
  uint32_t left = kCdxNoPage;
  std::unique_ptr<CdxLeafWriter> leaf;  // level 0
  std::vector<CdxEntry> branch;         // levels above
  std::string lastKey;
  uint32_t lastRecord = 0;
};

CdxTreeWriter::CdxTreeWriter(const CdxKeyForm& form, uint32_t highestRecord, NewPageFn newPage,
                             WritePageFn writePage)
    : form_(form),
      params_(CdxLeafParamsFor(form.keyLength, highestRecord)),
      newPage_(std::move(newPage)),
      writePage_(std::move(writePage)) {
  if (form.keyLength < 1 || form.keyLength > kCdxMaxKeyLength)
    throw std::invalid_argument("CDX key length out of range");
}

CdxTreeWriter::~CdxTreeWriter() = default;

void CdxTreeWriter::Add(std::string_view key, uint32_t record) {
  if (finished_) throw std::logic_error("CDX tree already finished");
  if (key.size() > static_cast<size_t>(form_.keyLength)) key = key.substr(0, form_.keyLength);
  if (levels_.empty()) levels_.push_back(std::make_unique<Level>());
  Level& level = *levels_[0];
  if (record > params_.recordMask) {
    // A record number beyond the count the build started with: the entries of every
    // following leaf are widened (the pages written so far stay as they are).
    if (level.leaf && level.leaf->Count() > 0) CloseLeaf(false);
    params_ = CdxLeafParamsFor(form_.keyLength, record);
    level.leaf = std::make_unique<CdxLeafWriter>(form_, params_);
    if (level.own != 0) level.leaf->Start(kCdxAttrLeaf, level.left, kCdxNoPage);
  }
  if (!level.leaf) level.leaf = std::make_unique<CdxLeafWriter>(form_, params_);
  if (level.own == 0) {
    level.own = newPage_();
    level.leaf->Start(kCdxAttrLeaf, level.left, kCdxNoPage);
  } else {
    // A leaf is closed when the keys it could still take are fewer than two of the
    // longest kind (room kept for later insertions, at most a quarter of the page, so
    // that long keys still share their leaves), or when this key does not fit.
    const int32_t reserve =
        std::min(2 * (params_.entrySize + form_.keyLength + 8), kCdxLeafArea / 4);
    if (level.leaf->Free() < reserve) {
      CloseLeaf(false);
    } else if (level.leaf->Add(key, record)) {
      level.lastKey.assign(key.data(), key.size());
      level.lastRecord = record;
      ++added_;
      return;
    } else {
      CloseLeaf(false);
    }
  }
  if (!level.leaf->Add(key, record)) throw std::logic_error("key does not fit an empty leaf");
  level.lastKey.assign(key.data(), key.size());
  level.lastRecord = record;
  ++added_;
}

void CdxTreeWriter::CloseLeaf(bool last) {
  Level& level = *levels_[0];
  const uint32_t right = last ? kCdxNoPage : newPage_();
  level.leaf->SetSiblings(level.left, right);
  writePage_(level.own, level.leaf->Page());
  const uint32_t written = level.own;
  const std::string key = level.lastKey;
  const uint32_t record = level.lastRecord;
  level.left = written;
  level.own = right == kCdxNoPage ? 0 : right;
  if (level.own != 0) level.leaf->Start(kCdxAttrLeaf, level.left, kCdxNoPage);
  AddToBranch(1, key, record, written);
}

void CdxTreeWriter::AddToBranch(size_t levelNo, std::string_view key, uint32_t record,
                                uint32_t child) {
  while (levels_.size() <= levelNo) levels_.push_back(std::make_unique<Level>());
  {
    Level& level = *levels_[levelNo];
    if (level.own == 0) {
      level.own = newPage_();
    } else if (level.branch.size() >= static_cast<size_t>(CdxBranchCapacity(form_.keyLength))) {
      CloseBranch(levelNo, false);
    }
  }
  Level& level = *levels_[levelNo];
  CdxEntry entry;
  entry.key.assign(key.data(), key.size());
  entry.record = record;
  entry.child = child;
  level.branch.push_back(std::move(entry));
}

void CdxTreeWriter::CloseBranch(size_t levelNo, bool last) {
  std::array<uint8_t, kCdxPageSize> page{};
  uint32_t written = 0;
  CdxEntry top;
  {
    Level& level = *levels_[levelNo];
    const uint32_t right = last ? kCdxNoPage : newPage_();
    CdxPageHead head;
    head.attributes = 0;
    head.left = level.left;
    head.right = right;
    EncodeCdxBranch(head, form_, level.branch, 0, page);
    writePage_(level.own, page);
    written = level.own;
    top = level.branch.back();
    level.branch.clear();
    level.left = written;
    level.own = right == kCdxNoPage ? 0 : right;
  }
  AddToBranch(levelNo + 1, top.key, top.record, written);
}

uint32_t CdxTreeWriter::Finish() {
  if (finished_) throw std::logic_error("CDX tree already finished");
  finished_ = true;
  if (added_ == 0) {
    const uint32_t root = newPage_();
    CdxLeafWriter empty(form_, CdxLeafParamsFor(form_.keyLength, 0));
    empty.Start(kCdxAttrLeaf | kCdxAttrRoot, kCdxNoPage, kCdxNoPage);
    writePage_(root, empty.Page());
    return root;
  }
  for (size_t i = 0; i < levels_.size(); ++i) {
    const bool top = i + 1 == levels_.size();
    Level& level = *levels_[i];
    if (i == 0) {
      if (top) {
        level.leaf->SetAttributes(kCdxAttrLeaf | kCdxAttrRoot);
        level.leaf->SetSiblings(level.left, kCdxNoPage);
        writePage_(level.own, level.leaf->Page());
        return level.own;
      }
      CloseLeaf(true);
    } else {
      if (top) {
        std::array<uint8_t, kCdxPageSize> page{};
        CdxPageHead head;
        head.attributes = kCdxAttrRoot;
        head.left = level.left;
        head.right = kCdxNoPage;
        EncodeCdxBranch(head, form_, level.branch, 0, page);
        writePage_(level.own, page);
        return level.own;
      }
      CloseBranch(i, true);
    }
  }
  throw std::logic_error("CDX tree has no top level");
}

}  // namespace tolvern
