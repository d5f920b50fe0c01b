#include "kx6_mdx_layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "kx6_bytes.h"

namespace tolvern {

namespace {

// Exponent byte of the stored form: E + 52.
constexpr int kExponentBias = 52;
constexpr int kMinExponent = -kExponentBias;
constexpr int kMaxExponent = 255 - kExponentBias;
constexpr int kMaxDigits = 15;
constexpr uint8_t kZeroExponentByte = 0x34;

constexpr uint8_t kClassNegative = 1;
constexpr uint8_t kClassZero = 2;
constexpr uint8_t kClassPositive = 3;
// Single-byte sentinels below and above every comparable number.
constexpr uint8_t kNumberBelowAll = 0;
constexpr uint8_t kNumberAboveAll = 4;

// File header fields.
constexpr size_t kVersionOffset = 0;
constexpr size_t kUpdateDateOffset = 1;
constexpr size_t kTableNameOffset = 4;
constexpr size_t kPageUnitsOffset = 20;
constexpr size_t kPageBytesOffset = 22;
constexpr size_t kProductionOffset = 24;
constexpr size_t kSlotCountOffset = 25;
constexpr size_t kSlotLengthOffset = 26;
constexpr size_t kTagCountOffset = 28;
constexpr size_t kNextFreeOffset = 32;
constexpr size_t kCreateDateOffset = 44;
constexpr size_t kFileHeaderFields = 48;

// Tag table slot fields.
constexpr size_t kSlotNameOffset = 4;
constexpr size_t kSlotFormatOffset = 15;
constexpr size_t kSlotLeftOffset = 16;
constexpr size_t kSlotRightOffset = 17;
constexpr size_t kSlotParentOffset = 18;
constexpr size_t kSlotMarkOffset = 19;
constexpr size_t kSlotKeyTypeOffset = 20;

// Tag header fields.
constexpr size_t kTagRootOffset = 0;
constexpr size_t kTagFormatOffset = 8;
constexpr size_t kTagKeyTypeOffset = 9;
constexpr size_t kTagKeyLengthOffset = 12;
constexpr size_t kTagMaxKeysOffset = 14;
constexpr size_t kTagEntryLengthOffset = 18;
constexpr size_t kTagUniqueOffset = 23;
constexpr size_t kTagForFlagOffset = 245;
constexpr size_t kTagMarkOffset = 246;
constexpr size_t kTagFirstPageOffset = 248;
constexpr size_t kTagLastPageOffset = 252;

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Text up to the first NUL within [offset, offset + count) of the reader.
std::string TextField(const ByteReader& in, size_t offset, size_t count) {
  std::string text = in.Text(offset, count);
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

void WriteTextField(ByteWriter& out, size_t offset, const std::string& text) {
  out.Bytes(offset, text.data(), text.size());
  out.U8(offset + text.size(), 0);
}

uint8_t DigitAt(std::span<const uint8_t> digitBytes, size_t i) {
  const uint8_t byte = digitBytes[i / 2];
  return (i % 2 == 0) ? static_cast<uint8_t>(byte >> 4) : static_cast<uint8_t>(byte & 0x0F);
}

// Number of significant digits in the digit bytes (up to the last non-zero nibble).
int CountDigits(std::span<const uint8_t> digitBytes) {
  for (int i = static_cast<int>(digitBytes.size() * 2) - 1; i >= 0; --i)
    if (DigitAt(digitBytes, static_cast<size_t>(i)) != 0) return i + 1;
  return 0;
}

MdxNumber StoredZero() {
  MdxNumber zero{};
  zero[0] = kZeroExponentByte;
  zero[1] = 0x01;
  return zero;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Numbers

MdxNumber MdxStoredNumber(double value) {
  if (std::isnan(value) || value == 0) return StoredZero();
  const bool negative = std::signbit(value);
  const double magnitude = std::fabs(value);

  // The significant digits (at most 15) and the exponent E of 0.d1d2... x 10^E.
  char digits[32];
  int count = 0;
  int exponent = 0;
  if (std::isinf(magnitude)) {
    exponent = kMaxExponent + 1;
  } else {
    // The shortest form that reads back as the same double is the value rounded to 15
    // significant digits whenever it has no more than 15 (a double holds more than 15
    // digits, so no other 15-digit decimal lies nearer); otherwise round explicitly.
    // Both forms are d.ddde+XX and independent of the locale.
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
    std::string_view view(text, static_cast<size_t>(result.ptr - text));
    size_t e = view.find('e');
    if (e > static_cast<size_t>(kMaxDigits) + 1) {
      result = std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific,
                             kMaxDigits - 1);
      view = std::string_view(text, static_cast<size_t>(result.ptr - text));
      e = view.find('e');
    }
    for (size_t i = 0; i < e; ++i)
      if (view[i] >= '0' && view[i] <= '9') digits[count++] = view[i];
    int exp10 = 0;
    const char* expBegin = view.data() + e + 1;
    if (*expBegin == '+') ++expBegin;
    std::from_chars(expBegin, view.data() + view.size(), exp10);
    exponent = exp10 + 1;
  }
  if (exponent < kMinExponent) return StoredZero();
  if (exponent > kMaxExponent) {
    exponent = kMaxExponent;
    count = kMaxDigits;
    std::fill_n(digits, count, '9');
  }
  while (count > 0 && digits[count - 1] == '0') --count;

  MdxNumber stored{};
  stored[0] = static_cast<uint8_t>(exponent + kExponentBias);
  stored[1] = static_cast<uint8_t>((4 * count + 1) | (negative ? 0x80 : 0));
  for (int i = 0; i < count; ++i) {
    const auto d = static_cast<uint8_t>(digits[i] - '0');
    stored[2 + i / 2] |= (i % 2 == 0) ? static_cast<uint8_t>(d << 4) : d;
  }
  return stored;
}

MdxNumber MdxComparableFromStored(std::span<const uint8_t, kMdxNumberSize> stored) {
  MdxNumber out{};
  const auto digitBytes = stored.subspan(2);
  const bool zero =
      std::all_of(digitBytes.begin(), digitBytes.end(), [](uint8_t b) { return b == 0; });
  if (zero) {
    out[0] = kClassZero;
    out[1] = kZeroExponentByte;
    return out;
  }
  const bool negative = (stored[1] & 0x80) != 0;
  out[0] = negative ? kClassNegative : kClassPositive;
  out[1] = stored[0];
  std::copy(digitBytes.begin(), digitBytes.end(), out.begin() + 2);
  if (negative)
    for (size_t i = 1; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
  return out;
}

MdxNumber MdxComparableNumber(double value) {
  const MdxNumber stored = MdxStoredNumber(value);
  return MdxComparableFromStored(stored);
}

MdxNumber MdxStoredFromComparable(std::span<const uint8_t, kMdxNumberSize> comparable) {
  if (comparable[0] != kClassNegative && comparable[0] != kClassPositive) return StoredZero();
  const bool negative = comparable[0] == kClassNegative;
  MdxNumber plain{};
  std::copy(comparable.begin(), comparable.end(), plain.begin());
  if (negative)
    for (size_t i = 1; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(~plain[i]);

  MdxNumber stored{};
  stored[0] = plain[1];
  std::copy(plain.begin() + 2, plain.end(), stored.begin() + 2);
  const int digits = CountDigits(std::span<const uint8_t>(stored).subspan(2));
  stored[1] = static_cast<uint8_t>((4 * digits + 1) | (negative ? 0x80 : 0));
  return stored;
}

double MdxNumberValue(std::span<const uint8_t, kMdxNumberSize> stored) {
  const auto digitBytes = stored.subspan(2);
  const int count = CountDigits(digitBytes);
  if (count == 0) return 0;
  std::string text = "0.";
  for (int i = 0; i < count; ++i)
    text +=
        static_cast<char>('0' + std::min<uint8_t>(DigitAt(digitBytes, static_cast<size_t>(i)), 9));
  text += 'e' + std::to_string(static_cast<int>(stored[0]) - kExponentBias);
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return (stored[1] & 0x80) ? -value : value;
}

// ---------------------------------------------------------------------------------------
// Keys

bool MdxKnownKeyType(char type) { return type == 'C' || type == 'N' || type == 'F' || type == 'D'; }

namespace {

bool IsNumericType(char type) { return type == 'N' || type == 'F'; }

double DateKeyValue(double day) { return (day < 0.1 || std::isnan(day)) ? kMdxEmptyDate : day; }

}  // namespace

void MdxAdjustKey(char keyType, TkxVariant& key) {
  const uint8_t type = key.VariantType();
  if (IsNumericType(keyType)) {
    if (type == TkxVariant::kBytes && key.Length() == kMdxNumberSize) return;  // key form
    double value = 0;
    try {
      value = (type == TkxVariant::kNone) ? 0 : key.AsFloat();
    } catch (const EConvertError&) {
      value = 0;
    }
    const MdxNumber comparable = MdxComparableNumber(value);
    key.SetBytes(comparable.data(), kMdxNumberSize);
    return;
  }
  if (keyType == 'D') {
    double day = 0;
    if (type == TkxVariant::kDate) {
      day = key.AsDate();
    } else if (type == TkxVariant::kFloat || type == TkxVariant::kBytes) {
      day = key.AsFloat();
    } else if (type == TkxVariant::kText) {
      try {
        day = key.AsDate();
      } catch (const EConvertError&) {
        day = 0;
      }
    }
    key.SetFloat(DateKeyValue(day));
    return;
  }
  // Character keys.
  if (type == TkxVariant::kBoolean) {
    key.SetText(key.AsBoolean() ? "T" : "F");
    return;
  }
  if (type != TkxVariant::kText) key.SetText(key.AsText());
  int32_t length = key.Length();
  const uint8_t* data = key.Data();
  while (length > 0 && data[length - 1] <= 32) --length;
  key.SetLength(length);
  key.SetVariantType(TkxVariant::kText);
}

void MdxDecodeKey(char keyType, std::span<const uint8_t> stored, TkxVariant& key) {
  if (IsNumericType(keyType)) {
    MdxNumber raw{};
    std::copy_n(stored.begin(), std::min(stored.size(), raw.size()), raw.begin());
    const MdxNumber comparable = MdxComparableFromStored(raw);
    key.SetBytes(comparable.data(), kMdxNumberSize);
    return;
  }
  if (keyType == 'D') {
    uint8_t raw[kMdxDateSize] = {};
    std::copy_n(stored.begin(), std::min<size_t>(stored.size(), kMdxDateSize), raw);
    double day;
    std::memcpy(&day, raw, sizeof day);
    key.SetFloat(day);
    return;
  }
  size_t length = stored.size();
  while (length > 0 && (stored[length - 1] == ' ' || stored[length - 1] == 0)) --length;
  if (length > 0 && stored[0] == 0) length = 0;
  key.SetText(reinterpret_cast<const char*>(stored.data()), static_cast<int32_t>(length));
}

void MdxEncodeKey(char keyType, const TkxVariant& key, std::span<uint8_t> out) {
  ByteWriter writer(out);
  if (IsNumericType(keyType)) {
    MdxNumber comparable{};
    if (key.Data() != nullptr)
      std::copy_n(key.Data(),
                  std::min<size_t>(static_cast<size_t>(key.Length()), comparable.size()),
                  comparable.begin());
    const MdxNumber stored = MdxStoredFromComparable(comparable);
    writer.Fill(0, 0, out.size());
    writer.Bytes(0, stored.data(), std::min(out.size(), stored.size()));
    return;
  }
  if (keyType == 'D') {
    writer.Fill(0, 0, out.size());
    double day = kMdxEmptyDate;
    if (key.VariantType() == TkxVariant::kFloat || key.VariantType() == TkxVariant::kBytes)
      day = key.AsFloat();
    else if (key.VariantType() == TkxVariant::kDate)
      day = DateKeyValue(key.AsDate());
    uint8_t raw[kMdxDateSize];
    std::memcpy(raw, &day, sizeof raw);
    writer.Bytes(0, raw, std::min(out.size(), sizeof raw));
    return;
  }
  writer.Fill(0, ' ', out.size());
  if (key.Data() != nullptr)
    writer.Bytes(0, key.Data(), std::min(out.size(), static_cast<size_t>(key.Length())));
}

void MdxSentinelKey(char keyType, bool descending, TkxVariant& key) {
  if (IsNumericType(keyType)) {
    const uint8_t byte = descending ? kNumberBelowAll : kNumberAboveAll;
    key.SetBytes(&byte, 1);
  } else if (keyType == 'D') {
    key.SetFloat(descending ? -1.7E308 : 1.7E308);
  } else if (descending) {
    key.SetText("");
  } else {
    const char top = static_cast<char>(0xFF);
    key.SetText(&top, 1);
  }
}

// ---------------------------------------------------------------------------------------
// Header region

bool MdxTagNameLess(const std::string& a, const std::string& b) {
  const auto folded = [](char c) {
    const auto byte = static_cast<uint8_t>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<uint8_t>(byte - 'A' + 'a') : byte;
  };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return folded(x) < folded(y); });
}

MdxHeaderRegion MdxHeaderRegion::Fresh(const std::string& tableName, int year, int month, int day) {
  MdxHeaderRegion region;
  region.bytes_.assign(kMdxMinRegionSize, 0);
  ByteWriter out(region.bytes_);
  out.U8(kVersionOffset, 2);
  region.SetUpdateDate(year, month, day);
  out.U8(kCreateDateOffset, static_cast<uint8_t>(year % 100));
  out.U8(kCreateDateOffset + 1, static_cast<uint8_t>(month));
  out.U8(kCreateDateOffset + 2, static_cast<uint8_t>(day));
  std::string name = tableName.substr(0, 8);
  out.Bytes(kTableNameOffset, name.data(), name.size());
  out.U16LE(kPageUnitsOffset, kMdxNewPageUnits);
  out.U16LE(kPageBytesOffset, kMdxNewPageBytes);
  out.U8(kProductionOffset, 1);
  out.U8(kSlotCountOffset, kMdxSlotCount);
  out.U16LE(kSlotLengthOffset, kMdxSlotLength);
  out.U16LE(kTagCountOffset, 0);
  out.U32LE(kNextFreeOffset, kMdxMinRegionSize / kMdxBlockSize);
  return region;
}

bool MdxHeaderRegion::Parse(std::span<const uint8_t> bytes, int64_t fileSize,
                            MdxHeaderRegion& region, std::string& problem) {
  if (bytes.size() < kFileHeaderFields) {
    problem = "file shorter than its header";
    return false;
  }
  const ByteReader in(bytes);
  const int32_t units = in.U16LE(kPageUnitsOffset);
  const int32_t pageBytes = in.U16LE(kPageBytesOffset);
  if (units < 1 || units > kMdxMaxPageUnits || pageBytes != units * kMdxBlockSize) {
    problem =
        "page size " + std::to_string(pageBytes) + " bytes in " + std::to_string(units) + " blocks";
    return false;
  }
  const int32_t regionSize = units * pageBytes;
  if (regionSize < kMdxMinRegionSize) {
    problem = "header region of " + std::to_string(regionSize) + " bytes";
    return false;
  }
  if (in.U16LE(kSlotLengthOffset) != kMdxSlotLength) {
    problem = "tag slots of " + std::to_string(in.U16LE(kSlotLengthOffset)) + " bytes";
    return false;
  }
  const int32_t slots = in.U8(kSlotCountOffset);
  const int32_t tags = in.U16LE(kTagCountOffset);
  if (tags > slots || tags > kMdxMaxTags) {
    problem = std::to_string(tags) + " tags in " + std::to_string(slots) + " slots";
    return false;
  }
  const int64_t tableEnd = kMdxTagTableOffset + int64_t{kMdxSlotLength} * (tags + 1);
  if (tableEnd > regionSize || tableEnd > static_cast<int64_t>(bytes.size())) {
    problem = "tag table beyond the end of the file";
    return false;
  }

  region.bytes_.assign(static_cast<size_t>(regionSize), 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), region.bytes_.size()), region.bytes_.begin());

  const int64_t fileBlocks = fileSize / kMdxBlockSize;
  const int32_t regionBlocks = regionSize / kMdxBlockSize;
  for (int j = 1; j <= tags; ++j) {
    const MdxTagSlot slot = region.Slot(j);
    if (slot.headerBlock < regionBlocks || slot.headerBlock + int64_t{units} > fileBlocks) {
      problem = "tag " + slot.name + " has its header at block " + std::to_string(slot.headerBlock);
      return false;
    }
  }
  return true;
}

int32_t MdxHeaderRegion::PageUnits() const { return ByteReader(bytes_).U16LE(kPageUnitsOffset); }
int32_t MdxHeaderRegion::PageBytes() const { return ByteReader(bytes_).U16LE(kPageBytesOffset); }
int32_t MdxHeaderRegion::SlotCount() const { return ByteReader(bytes_).U8(kSlotCountOffset); }
int32_t MdxHeaderRegion::TagCount() const { return ByteReader(bytes_).U16LE(kTagCountOffset); }
int32_t MdxHeaderRegion::NextFreeBlock() const { return ByteReader(bytes_).I32LE(kNextFreeOffset); }
bool MdxHeaderRegion::ProductionFlag() const {
  return ByteReader(bytes_).U8(kProductionOffset) != 0;
}
std::string MdxHeaderRegion::TableName() const {
  return TextField(ByteReader(bytes_), kTableNameOffset, 16);
}

MdxTagSlot MdxHeaderRegion::Slot(int j) const {
  const ByteReader in(bytes_);
  const size_t at = kMdxTagTableOffset + static_cast<size_t>(j) * kMdxSlotLength;
  MdxTagSlot slot;
  const auto raw = in.Bytes(at, kMdxSlotLength);
  std::copy(raw.begin(), raw.end(), slot.image.begin());
  const ByteReader s(slot.image.data(), slot.image.size());
  slot.headerBlock = s.I32LE(0);
  slot.name = TextField(s, kSlotNameOffset, kMdxMaxTagName + 1);
  slot.keyType = static_cast<char>(s.U8(kSlotKeyTypeOffset));
  return slot;
}

void MdxHeaderRegion::SetSlot(int j, const MdxTagSlot& slot, uint8_t left, uint8_t right,
                              uint8_t parent) {
  std::array<uint8_t, kMdxSlotLength> image = slot.image;
  ByteWriter s(image.data(), image.size());
  s.I32LE(0, slot.headerBlock);
  s.Fill(kSlotNameOffset, 0, kMdxMaxTagName + 1);
  const std::string name = slot.name.substr(0, kMdxMaxTagName);
  s.Bytes(kSlotNameOffset, name.data(), name.size());
  if (image[kSlotFormatOffset] == 0) s.U8(kSlotFormatOffset, kMdxFormatBase);
  s.U8(kSlotLeftOffset, left);
  s.U8(kSlotRightOffset, right);
  s.U8(kSlotParentOffset, parent);
  s.U8(kSlotMarkOffset, 2);
  s.U8(kSlotKeyTypeOffset, static_cast<uint8_t>(slot.keyType));
  ByteWriter out(bytes_);
  out.Bytes(kMdxTagTableOffset + static_cast<size_t>(j) * kMdxSlotLength, image.data(),
            image.size());
}

void MdxHeaderRegion::SetTagTable(const std::vector<MdxTagSlot>& slots) {
  const int count = static_cast<int>(slots.size());
  const int before = std::min(TagCount(), SlotCount() - 1);
  // The names form a binary search tree (left, right, parent), built by inserting the
  // slots in order, as the writers of real files do; a list in name order gives a chain.
  std::vector<std::array<uint8_t, 3>> links(static_cast<size_t>(count) + 1, {0, 0, 0});
  for (int j = 2; j <= count; ++j) {
    const std::string& name = slots[static_cast<size_t>(j - 1)].name;
    int at = 1;
    for (;;) {
      const bool left = MdxTagNameLess(name, slots[static_cast<size_t>(at - 1)].name);
      uint8_t& next = links[static_cast<size_t>(at)][left ? 0 : 1];
      if (next == 0) {
        next = static_cast<uint8_t>(j);
        links[static_cast<size_t>(j)][2] = static_cast<uint8_t>(at);
        break;
      }
      at = next;
    }
  }
  SetTagCount(count);
  for (int j = 1; j <= count; ++j) {
    const auto& l = links[static_cast<size_t>(j)];
    SetSlot(j, slots[static_cast<size_t>(j - 1)], l[0], l[1], l[2]);
  }
  ByteWriter out(bytes_);
  for (int j = count + 1; j <= before; ++j)
    out.Fill(kMdxTagTableOffset + static_cast<size_t>(j) * kMdxSlotLength, 0, kMdxSlotLength);
  out.U8(kMdxTagTableOffset + kSlotRightOffset, count > 0 ? 1 : 0);
}

void MdxHeaderRegion::SetTagCount(int32_t count) {
  ByteWriter(bytes_).U16LE(kTagCountOffset, static_cast<uint16_t>(count));
}

void MdxHeaderRegion::SetNextFreeBlock(int32_t block) {
  ByteWriter(bytes_).I32LE(kNextFreeOffset, block);
}

void MdxHeaderRegion::SetUpdateDate(int year, int month, int day) {
  ByteWriter out(bytes_);
  out.U8(kUpdateDateOffset, static_cast<uint8_t>(year % 100));
  out.U8(kUpdateDateOffset + 1, static_cast<uint8_t>(month));
  out.U8(kUpdateDateOffset + 2, static_cast<uint8_t>(day));
}

void MdxHeaderRegion::SetTableName(const std::string& name) {
  ByteWriter out(bytes_);
  out.Fill(kTableNameOffset, 0, 9);
  const std::string upper = UpperAscii(name.substr(0, 8));
  out.Bytes(kTableNameOffset, upper.data(), upper.size());
}

// ---------------------------------------------------------------------------------------
// Tag header

void MdxTagHeader::SetGeometry(char type, int32_t length, int32_t pageBytes) {
  keyType = type;
  keyLength = length;
  entryLength = (length + 4 + 3) / 4 * 4;
  maxKeys = (pageBytes - kMdxPageHeaderSize) / entryLength;
}

bool MdxTagHeader::Parse(std::span<const uint8_t> page, int32_t regionBlocks, int64_t fileBlocks,
                         MdxTagHeader& header, std::string& problem) {
  const ByteReader in(page);
  const int32_t pageBytes = static_cast<int32_t>(page.size());
  if (pageBytes < kMdxForExprOffset + 1) {
    problem = "tag header page too small";
    return false;
  }
  header = MdxTagHeader{};
  header.rootBlock = in.I32LE(kTagRootOffset);
  header.keyFormat = in.U8(kTagFormatOffset);
  header.keyType = static_cast<char>(in.U8(kTagKeyTypeOffset));
  header.keyLength = in.U16LE(kTagKeyLengthOffset);
  header.maxKeys = in.U16LE(kTagMaxKeysOffset);
  header.entryLength = in.U16LE(kTagEntryLengthOffset);
  header.unique = in.U8(kTagUniqueOffset) != 0;
  header.descending = (header.keyFormat & kMdxFormatDescending) != 0;
  header.keyExpression = TextField(in, kMdxKeyExprOffset, kTagForFlagOffset - kMdxKeyExprOffset);
  if (in.U8(kTagForFlagOffset) != 0)
    header.forExpression = TextField(in, kMdxForExprOffset, page.size() - kMdxForExprOffset);
  header.firstPage = in.I32LE(kTagFirstPageOffset);
  header.lastPage = in.I32LE(kTagLastPageOffset);
  header.image.assign(page.begin(), page.end());

  const char type = header.keyType;
  if (!MdxKnownKeyType(type)) {
    problem = "unknown key type " + std::to_string(static_cast<int>(in.U8(kTagKeyTypeOffset)));
    return false;
  }
  const bool lengthFits = (type == 'D') ? header.keyLength == kMdxDateSize
                          : (type == 'C')
                              ? header.keyLength >= 1 && header.keyLength <= kMdxMaxKeyLength
                              : header.keyLength == kMdxNumberSize;
  if (!lengthFits || header.entryLength < header.keyLength + 4) {
    problem = "key length " + std::to_string(header.keyLength) + " in entries of " +
              std::to_string(header.entryLength);
    return false;
  }
  const int32_t room = (pageBytes - kMdxPageHeaderSize) / header.entryLength;
  if (room < 2 || header.maxKeys < 2 || header.maxKeys > room) {
    problem = std::to_string(header.maxKeys) + " keys per page of entries of " +
              std::to_string(header.entryLength) + " bytes";
    return false;
  }
  if (header.rootBlock < regionBlocks ||
      header.rootBlock + int64_t{pageBytes / kMdxBlockSize} > fileBlocks) {
    problem = "root page at block " + std::to_string(header.rootBlock);
    return false;
  }
  return true;
}

std::vector<uint8_t> MdxTagHeader::Serialize(int32_t pageBytes) const {
  std::vector<uint8_t> page(static_cast<size_t>(pageBytes), 0);
  std::copy_n(image.begin(), std::min(image.size(), page.size()), page.begin());
  ByteWriter out(page);
  out.I32LE(kTagRootOffset, rootBlock);
  uint8_t format = image.empty() ? kMdxFormatBase : keyFormat;
  format = static_cast<uint8_t>(format & ~(kMdxFormatUnique | kMdxFormatDescending));
  if (unique) format |= kMdxFormatUnique;
  if (descending) format |= kMdxFormatDescending;
  out.U8(kTagFormatOffset, format);
  out.U8(kTagKeyTypeOffset, static_cast<uint8_t>(keyType));
  out.U16LE(kTagKeyLengthOffset, static_cast<uint16_t>(keyLength));
  out.U16LE(kTagMaxKeysOffset, static_cast<uint16_t>(maxKeys));
  out.U16LE(kTagEntryLengthOffset, static_cast<uint16_t>(entryLength));
  out.U8(kTagUniqueOffset, unique ? kMdxFormatUnique : 0);
  const std::string key = keyExpression.substr(0, kMdxMaxKeyExpression);
  WriteTextField(out, kMdxKeyExprOffset, key);
  if (forExpression.empty()) {
    out.U8(kTagForFlagOffset, 0);
  } else {
    out.U8(kTagForFlagOffset, 1);
    const size_t room = page.size() - kMdxForExprOffset - 1;
    WriteTextField(out, kMdxForExprOffset, forExpression.substr(0, room));
  }
  out.U8(kTagMarkOffset, 1);
  out.I32LE(kTagFirstPageOffset, firstPage);
  out.I32LE(kTagLastPageOffset, lastPage);
  return page;
}

// ---------------------------------------------------------------------------------------
// Pages

bool MdxReadPageInfo(std::span<const uint8_t> page, int32_t entryLength, MdxPageInfo& info,
                     std::string& problem) {
  const ByteReader in(page);
  const uint32_t count = in.U32LE(0);
  const int64_t capacity = (static_cast<int64_t>(page.size()) - kMdxPageHeaderSize) / entryLength;
  if (count > static_cast<uint64_t>(capacity)) {
    problem = std::to_string(count) + " keys in a page";
    return false;
  }
  info.keyCount = static_cast<int32_t>(count);
  info.previous = in.I32LE(4);
  const size_t pointerAt = kMdxPageHeaderSize + static_cast<size_t>(entryLength) * count;
  // A full page has no room for the pointer field: it is a leaf.
  info.branch = in.Fits(pointerAt, 4) && in.U32LE(pointerAt) != 0;
  info.entryCount = info.keyCount + (info.branch ? 1 : 0);
  return true;
}

}  // namespace tolvern
