// The engine's small shared value types: the date converter, the typed value buffer that
// carries expression results and index keys, and the bit set of accepted records.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tolvern {

// A text that is not a date or not a number. Deliberately not an ETolvernError: field
// access lets it pass through unchanged, or turns it into an engine error itself.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Messages of EConvertError; %s is the offending text.
inline constexpr const char* kMsgInvalidDate = "'%s' is not a valid date";
inline constexpr const char* kMsgInvalidFloat = "'%s' is not a valid floating point value";

// Converts between day numbers and the two text forms of a date.
//
// Day numbers are Julian day numbers (1 January 1980 is 2 444 240) on the proleptic
// Gregorian calendar. A day number <= 0 means "no date". Dates are representable from
// 1 January 0001 to 31 December 9999; day numbers outside that range have no text form.
//
// The display form follows platform::ShortDateFormat() (letters D, M, Y and separators).
class TkxDBFDate {
 public:
  TkxDBFDate();

  // Day number of day 0 of the runtime day count (30 December 1899): 2 415 019.
  // Day number = runtime day count + DayOffset.
  int32_t DayOffset;
  // Display dates with a four-digit year whatever the system pattern says.
  bool FourDigitYear = true;

  // Day number of a calendar date, 0 when the date does not exist or lies outside the
  // years 1-9999.
  int32_t EncodeDay(int year, int month, int day) const;
  // Calendar date of a day number; 0, 0, 0 when the day has no calendar date.
  void DecodeDay(int32_t day, int& year, int& month, int& dayOfMonth) const;
  // Today's day number in local time.
  int32_t Today() const;

  // "yyyymmdd" for a date, otherwise eight blanks.
  std::string StorageForm(int32_t day) const;
  // The date in the system short date format (widened to a four-digit year when
  // FourDigitYear is set); empty for no date.
  std::string DisplayForm(int32_t day) const;
  // Day number of a stored ("yyyymmdd") or displayed date text. Trailing blanks (and the
  // NUL bytes some writers leave in empty date fields) are ignored; an empty text or
  // "00000000" is 0. Eight digits that name no date (month 13, 31 February) give
  // DayOffset without an error. Any other text must be a date in the system short date
  // format; otherwise throws EConvertError.
  int32_t TextToDay(std::string_view text) const;
};

// A typed value: none, text, floating, date, logical or raw bytes.
//
// The storage grows to the exact size needed and never shrinks (only Clear frees it), so
// one object can be reused for many keys without allocating again. Every read of the
// value is bounded by the bytes in use: a value whose length is shorter than its type's
// size reads as if the missing bytes were zero.
class TkxVariant {
 public:
  // Values of VariantType().
  static constexpr uint8_t kNone = 0;
  static constexpr uint8_t kText = 1;     // length bytes, no terminator
  static constexpr uint8_t kFloat = 2;    // 8-byte double
  static constexpr uint8_t kDate = 3;     // 4-byte signed day number
  static constexpr uint8_t kBoolean = 4;  // 1 byte, 0 = false
  static constexpr uint8_t kBytes = 5;    // raw, compatible with every type in compares

  // Reserves `capacity` bytes (none for 0 or less). The value is none.
  explicit TkxVariant(int32_t capacity = 0);
  TkxVariant(const TkxVariant& other);
  TkxVariant& operator=(const TkxVariant& other);
  TkxVariant(TkxVariant&& other) noexcept;
  TkxVariant& operator=(TkxVariant&& other) noexcept;
  ~TkxVariant() = default;

  uint8_t VariantType() const { return type_; }
  // Relabels the bytes in use without changing them.
  void SetVariantType(uint8_t type) { type_ = type; }
  int32_t Length() const { return length_; }
  int32_t Capacity() const { return capacity_; }
  const uint8_t* Data() const { return data_.get(); }
  uint8_t* Data() { return data_.get(); }
  // True when there is no storage or no byte in use.
  bool IsEmpty() const { return !data_ || length_ == 0; }

  // Frees the storage; the value becomes none.
  void Clear();
  // Becomes a copy of `source` (its storage, capacity, length and type). Answers false,
  // leaving this value cleared, when `source` is none.
  bool Assign(const TkxVariant& source);

  // Sets the number of bytes in use. Growing beyond the capacity reallocates exactly
  // `n` bytes, keeps the bytes in use and makes the type none (the setters set it again).
  // A negative `n` counts as 0.
  void SetLength(int32_t n);

  // Text from a zero-terminated string (null: empty text), a counted string, or a view.
  void SetText(const char* text);
  void SetText(const char* text, int32_t n);
  void SetText(std::string_view text);
  void SetFloat(double value);
  void SetDate(int32_t day);
  void SetBoolean(bool value);
  // Raw bytes; a null pointer gives an empty raw value. The setters and AppendBytes
  // accept bytes taken from this value's own storage.
  void SetBytes(const void* bytes, int32_t n);
  // Adds `n` bytes after the value, which becomes raw. Nothing happens for a null
  // pointer or n <= 0.
  void AppendBytes(const void* bytes, int32_t n);

  // Non-empty text only: maps every byte b to table[b] (a 256-entry table), or upper-cases
  // the text with the system casing when `table` is null.
  void TranslateText(const uint8_t* table);
  // Text only: pads with blanks up to `n` bytes; a shorter `n` changes nothing.
  void PadText(int32_t n);
  // Text only: drops trailing blanks.
  void TrimText();

  // Conversions. An empty value or a value of type none gives 0, false or "".
  // Text is true when its first byte is one of LogicalTrueChars; floating when its integer
  // part is not 0; logical and raw when the first byte is not 0; a date is false.
  bool AsBoolean() const;
  // Text through TextToDay (may throw EConvertError); floating through its integer part
  // (no date unless that is a representable day number); date and raw give the leading
  // 4-byte integer.
  int32_t AsDate() const;
  // Text is parsed as a decimal number with "." as separator (throws EConvertError when it
  // is not one); floating and raw give the leading 8-byte double; date its day number;
  // logical 1 or 0.
  double AsFloat() const;
  // Text and raw give their bytes; floating its general form with up to 15 significant
  // digits; date its display form; logical the first of LogicalTrueChars / FalseChars.
  std::string AsText() const;

  // Three-way compare with `other`: -1, 0 or 1.
  // - `other` none: 1, position 0.
  // - Types must match, except that raw bytes compare with any type (as that type when
  //   this value is raw). Otherwise throws ETolvernError "Variant types mismatch for
  //   compare" (also when both values are empty).
  // - Empty values sort first.
  // - Text and raw: bytewise, through `table` (256 entries, may be null) for text.
  //   `position` counts the bytes compared including the differing one, or all common
  //   bytes plus one when none differs; then the longer value is greater, except that a
  //   text that is a proper prefix of `other` answers `prefixResult` (reduced to -1..1).
  // - Floating and date numerically; logical: equal bytes 0, else 1 when this is true.
  int CompareVariants(const TkxVariant& other, int32_t& position, const uint8_t* table,
                      int prefixResult) const;

 private:
  // Copies up to `size` leading bytes into `out`, zero-filling what the value lacks.
  void ReadLeading(void* out, size_t size) const;
  void StoreBytes(const void* bytes, int32_t n, uint8_t type);
  bool PointsIntoStorage(const void* bytes) const;

  std::unique_ptr<uint8_t[]> data_;
  int32_t capacity_ = 0;
  int32_t length_ = 0;
  uint8_t type_ = kNone;
};

// A growable set of bits addressed by record number (from 0 on; negative numbers are
// never members and are ignored). Grows in pages of 16 KB and never shrinks.
class TkxHugeSet {
 public:
  static constexpr int32_t kPageBytes = 16384;
  static constexpr int32_t kBitsPerPage = kPageBytes * 8;

  // Operations of SetBit.
  static constexpr int kClear = 0;
  static constexpr int kSet = 1;
  static constexpr int kToggle = 2;

  // Zeroes every bit and forgets the highest bit number; keeps the pages.
  void ClearAll();
  // Clears, sets or toggles bit `n`. Any other `op` changes no bit but still grows the set
  // and raises Max() to `n`.
  void SetBit(int32_t n, int op);
  // False for bits above Max().
  bool TestBit(int32_t n) const;
  // The highest bit number ever passed to SetBit since the last ClearAll, or -1.
  int32_t Max() const { return max_; }
  // Number of pages held.
  size_t PageCount() const { return pages_.size(); }

 private:
  using Page = std::array<uint8_t, kPageBytes>;
  std::vector<std::unique_ptr<Page>> pages_;
  int32_t max_ = -1;
};

}  // namespace tolvern
