#include "kx6_Date.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "kx6_cnst.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_tool.h"
#include "platform/pf_misc.h"
#include "platform/pf_text.h"

namespace tolvern {

namespace {

// ---------------------------------------------------------------------------------------
// Calendar arithmetic on the proleptic Gregorian calendar, in days since 1 January 1970.

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

// Days since 1 January 1970 of day 0 of the runtime day count, 30 December 1899.
const int64_t kRuntimeEpoch = DaysFromCivil(1899, 12, 30);

// Runtime day count of a valid calendar date.
int64_t RuntimeDayCount(int year, int month, int day) {
  return DaysFromCivil(year, month, day) - kRuntimeEpoch;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ReplacePercentS(const char* pattern, std::string_view text) {
  return FormatMessage(pattern, {std::string(text)});
}

[[noreturn]] void RaiseCompareMismatch() { throw ETolvernError(kMsgVariantCompare); }

[[noreturn]] void RaiseInvalidDate(std::string_view text) {
  throw EConvertError(ReplacePercentS(kMsgInvalidDate, text));
}

// Writes `value` with at least `width` digits.
void AppendNumber(std::string& out, int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
  out += digits;
}

// Formats a valid calendar date with a pattern of D, M and Y runs (any case) and literal
// separators: D/M give the number, DD/MM two digits; Y/YY two digits of the year, YYY or
// more the full year in at least four digits.
std::string FormatDate(const std::string& pattern, int year, int month, int day) {
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    const char letter = AsciiUpper(pattern[i]);
    if (letter != 'D' && letter != 'M' && letter != 'Y') {
      out += pattern[i++];
      continue;
    }
    size_t run = 0;
    while (i < pattern.size() && AsciiUpper(pattern[i]) == letter) ++i, ++run;
    if (letter == 'D') {
      AppendNumber(out, day, run >= 2 ? 2 : 1);
    } else if (letter == 'M') {
      AppendNumber(out, month, run >= 2 ? 2 : 1);
    } else if (run <= 2) {
      AppendNumber(out, year % 100, 2);
    } else {
      AppendNumber(out, year, 4);
    }
  }
  return out;
}

// The order of the day, month and year in a pattern (the letters of their first
// occurrences), and the digit count of each run. False when a letter is missing.
struct DateOrder {
  char letters[3];
  size_t widths[3];
};

bool OrderOf(const std::string& pattern, DateOrder& order) {
  int found = 0;
  bool seen[3] = {false, false, false};  // D, M, Y
  size_t i = 0;
  while (i < pattern.size()) {
    const char letter = AsciiUpper(pattern[i]);
    const int slot = letter == 'D' ? 0 : letter == 'M' ? 1 : letter == 'Y' ? 2 : -1;
    if (slot < 0) {
      ++i;
      continue;
    }
    size_t run = 0;
    while (i < pattern.size() && AsciiUpper(pattern[i]) == letter) ++i, ++run;
    if (seen[slot]) continue;
    seen[slot] = true;
    if (found < 3) {
      order.letters[found] = letter;
      order.widths[found] = run;
      ++found;
    }
  }
  return found == 3;
}

// Parses a date written with the system short date format: three groups of digits in the
// pattern's order, separated by any non-digits. Day and month take one or two digits,
// the year two (00-49 -> 20xx, 50-99 -> 19xx) or four. A pattern without separators also
// accepts one group of digits split by the pattern's widths. Answers the runtime day count.
int64_t ParseDisplayDate(std::string_view text) {
  DateOrder order{};
  if (!OrderOf(platform::ShortDateFormat(), order)) RaiseInvalidDate(text);

  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  const std::string_view body = text.substr(start);
  if (body.empty() || !IsDigit(body.front()) || !IsDigit(body.back())) RaiseInvalidDate(text);

  std::vector<std::string_view> groups;
  size_t i = 0;
  while (i < body.size()) {
    const size_t from = i;
    while (i < body.size() && IsDigit(body[i])) ++i;
    groups.push_back(body.substr(from, i - from));
    while (i < body.size() && !IsDigit(body[i])) ++i;
  }
  if (groups.size() == 1 &&
      groups[0].size() == order.widths[0] + order.widths[1] + order.widths[2]) {
    const std::string_view all = groups[0];
    groups = {all.substr(0, order.widths[0]), all.substr(order.widths[0], order.widths[1]),
              all.substr(order.widths[0] + order.widths[1])};
  }
  if (groups.size() != 3) RaiseInvalidDate(text);

  int year = 0, month = 0, day = 0;
  for (int k = 0; k < 3; ++k) {
    const std::string_view group = groups[k];
    int value = 0;
    if (group.size() > 4) RaiseInvalidDate(text);
    std::from_chars(group.data(), group.data() + group.size(), value);
    switch (order.letters[k]) {
      case 'D':
        if (group.size() > 2) RaiseInvalidDate(text);
        day = value;
        break;
      case 'M':
        if (group.size() > 2) RaiseInvalidDate(text);
        month = value;
        break;
      default:
        if (group.size() == 3) RaiseInvalidDate(text);
        year = group.size() <= 2 ? (value < 50 ? 2000 + value : 1900 + value) : value;
        break;
    }
  }
  if (!IsValidDate(year, month, day)) RaiseInvalidDate(text);
  return RuntimeDayCount(year, month, day);
}

// Parses a decimal number: optional blanks, sign, digits with an optional "." and
// fraction, an optional exponent, optional blanks. "." is the separator in every locale.
bool ParseFloat(std::string_view text, double& value) {
  size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\0'))
    --end;
  return ParseDecimalNumber(text.substr(begin, end - begin), value) && std::isfinite(value);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TkxDBFDate

TkxDBFDate::TkxDBFDate() : DayOffset(static_cast<int32_t>(2444240 - RuntimeDayCount(1980, 1, 1))) {}

int32_t TkxDBFDate::EncodeDay(int year, int month, int day) const {
  if (!IsValidDate(year, month, day)) return 0;
  return static_cast<int32_t>(RuntimeDayCount(year, month, day) + DayOffset);
}

void TkxDBFDate::DecodeDay(int32_t day, int& year, int& month, int& dayOfMonth) const {
  year = month = dayOfMonth = 0;
  if (day < EncodeDay(1, 1, 1) || day > EncodeDay(9999, 12, 31)) return;
  int64_t y, m, d;
  CivilFromDays(static_cast<int64_t>(day) - DayOffset + kRuntimeEpoch, y, m, d);
  year = static_cast<int>(y);
  month = static_cast<int>(m);
  dayOfMonth = static_cast<int>(d);
}

int32_t TkxDBFDate::Today() const {
  const platform::LocalTime now = platform::LocalNow();
  return EncodeDay(now.year, now.month, now.day);
}

std::string TkxDBFDate::StorageForm(int32_t day) const {
  int year, month, dayOfMonth;
  if (day > 0) DecodeDay(day, year, month, dayOfMonth);
  // Days outside the years 1-9999 have no eight-digit form: treated as no date.
  if (day <= 0 || year == 0) return std::string(8, ' ');
  std::string out;
  out.reserve(8);
  AppendNumber(out, year, 4);
  AppendNumber(out, month, 2);
  AppendNumber(out, dayOfMonth, 2);
  return out;
}

std::string TkxDBFDate::DisplayForm(int32_t day) const {
  if (day <= 0) return std::string();
  int year, month, dayOfMonth;
  DecodeDay(day, year, month, dayOfMonth);
  if (year == 0) return std::string();

  std::string pattern = platform::ShortDateFormat();
  if (FourDigitYear) {
    for (char& c : pattern) c = AsciiUpper(c);
    // Widen the first run of Y's (or, without one, the front) to four Y's.
    size_t at = pattern.find('Y');
    if (at == std::string::npos) at = 0;
    while (pattern.find("YYYY") == std::string::npos) pattern.insert(at, 1, 'Y');
  }
  return FormatDate(pattern, year, month, dayOfMonth);
}

int32_t TkxDBFDate::TextToDay(std::string_view text) const {
  // Blank and NUL-filled date fields both mean "no date".
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\0')) --end;
  const std::string_view trimmed = text.substr(0, end);
  if (trimmed.empty() || trimmed == "00000000") return 0;

  int64_t count;
  if (trimmed.size() == 8 && std::all_of(trimmed.begin(), trimmed.end(), IsDigit)) {
    auto number = [&](size_t from, size_t n) {
      int value = 0;
      for (size_t k = from; k < from + n; ++k) value = value * 10 + (trimmed[k] - '0');
      return value;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    // A date that does not exist counts as runtime day 0, without an error.
    count = IsValidDate(year, month, day) ? RuntimeDayCount(year, month, day) : 0;
  } else {
    count = ParseDisplayDate(trimmed);
  }
  return static_cast<int32_t>(DayOffset + count);
}

TkxDBFDate& GlobalDateConverter() {
  static TkxDBFDate converter;
  return converter;
}

// ---------------------------------------------------------------------------------------
// TkxVariant

TkxVariant::TkxVariant(int32_t capacity) {
  if (capacity > 0) {
    data_ = std::make_unique<uint8_t[]>(capacity);
    capacity_ = capacity;
  }
}

TkxVariant::TkxVariant(const TkxVariant& other) { Assign(other); }

TkxVariant& TkxVariant::operator=(const TkxVariant& other) {
  Assign(other);
  return *this;
}

TkxVariant::TkxVariant(TkxVariant&& other) noexcept
    : data_(std::move(other.data_)),
      capacity_(other.capacity_),
      length_(other.length_),
      type_(other.type_) {
  other.capacity_ = other.length_ = 0;
  other.type_ = kNone;
}

TkxVariant& TkxVariant::operator=(TkxVariant&& other) noexcept {
  if (this != &other) {
    data_ = std::move(other.data_);
    capacity_ = other.capacity_;
    length_ = other.length_;
    type_ = other.type_;
    other.capacity_ = other.length_ = 0;
    other.type_ = kNone;
  }
  return *this;
}

void TkxVariant::Clear() {
  data_.reset();
  capacity_ = length_ = 0;
  type_ = kNone;
}

bool TkxVariant::Assign(const TkxVariant& source) {
  if (this == &source) return type_ != kNone;
  Clear();
  if (source.type_ == kNone) return false;
  if (source.capacity_ > 0) {
    data_ = std::make_unique<uint8_t[]>(source.capacity_);
    std::memcpy(data_.get(), source.data_.get(), source.capacity_);
  }
  capacity_ = source.capacity_;
  length_ = source.length_;
  type_ = source.type_;
  return true;
}

void TkxVariant::SetLength(int32_t n) {
  n = std::max(n, 0);
  if (n > capacity_) {
    auto grown = std::make_unique<uint8_t[]>(n);
    if (length_ > 0) std::memcpy(grown.get(), data_.get(), length_);
    data_ = std::move(grown);
    capacity_ = n;
    type_ = kNone;
  }
  length_ = n;
}

bool TkxVariant::PointsIntoStorage(const void* bytes) const {
  const std::less<const uint8_t*> before;
  const auto* p = static_cast<const uint8_t*>(bytes);
  return data_ && !before(p, data_.get()) && before(p, data_.get() + capacity_);
}

void TkxVariant::StoreBytes(const void* bytes, int32_t n, uint8_t type) {
  if (n > 0 && PointsIntoStorage(bytes)) {
    // Part of this value's own storage, which SetLength may move.
    const auto* p = static_cast<const uint8_t*>(bytes);
    const std::vector<uint8_t> copy(p, p + n);
    StoreBytes(copy.data(), n, type);
    return;
  }
  SetLength(n);
  if (n > 0) std::memcpy(data_.get(), bytes, n);
  type_ = type;
}

void TkxVariant::SetText(const char* text) {
  SetText(text ? std::string_view(text) : std::string_view());
}

void TkxVariant::SetText(const char* text, int32_t n) {
  if (!text || n < 0) n = 0;
  StoreBytes(text, n, kText);
}

void TkxVariant::SetText(std::string_view text) {
  if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw std::length_error("text too long for a value");
  StoreBytes(text.data(), static_cast<int32_t>(text.size()), kText);
}

void TkxVariant::SetFloat(double value) { StoreBytes(&value, sizeof value, kFloat); }

void TkxVariant::SetDate(int32_t day) { StoreBytes(&day, sizeof day, kDate); }

void TkxVariant::SetBoolean(bool value) {
  const uint8_t byte = value ? 1 : 0;
  StoreBytes(&byte, 1, kBoolean);
}

void TkxVariant::SetBytes(const void* bytes, int32_t n) {
  if (!bytes || n < 0) n = 0;
  StoreBytes(bytes, n, kBytes);
}

void TkxVariant::AppendBytes(const void* bytes, int32_t n) {
  if (!bytes || n <= 0) return;
  if (n > std::numeric_limits<int32_t>::max() - length_)
    throw std::length_error("value too long to append to");
  if (PointsIntoStorage(bytes)) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    const std::vector<uint8_t> copy(p, p + n);
    AppendBytes(copy.data(), n);
    return;
  }
  const int32_t old = length_;
  SetLength(old + n);
  std::memcpy(data_.get() + old, bytes, n);
  type_ = kBytes;
}

void TkxVariant::TranslateText(const uint8_t* table) {
  if (type_ != kText || IsEmpty()) return;
  if (table) {
    for (int32_t i = 0; i < length_; ++i) data_[i] = table[data_[i]];
  } else {
    platform::AnsiUpperInPlace(reinterpret_cast<char*>(data_.get()), length_);
  }
}

void TkxVariant::PadText(int32_t n) {
  if (type_ != kText || n <= length_) return;
  const int32_t old = length_;
  SetLength(n);
  std::memset(data_.get() + old, ' ', n - old);
  type_ = kText;
}

void TkxVariant::TrimText() {
  if (type_ != kText) return;
  while (length_ > 0 && data_[length_ - 1] == ' ') --length_;
}

void TkxVariant::ReadLeading(void* out, size_t size) const {
  std::memset(out, 0, size);
  if (data_ && length_ > 0) std::memcpy(out, data_.get(), std::min<size_t>(size, length_));
}

bool TkxVariant::AsBoolean() const {
  if (IsEmpty()) return false;
  switch (type_) {
    case kText:
      return LogicalTrueChars.find(static_cast<char>(data_[0])) != std::string::npos;
    case kFloat: {
      double value;
      ReadLeading(&value, sizeof value);
      return !std::isnan(value) && std::trunc(value) != 0.0;
    }
    case kBoolean:
    case kBytes:
      return data_[0] != 0;
    default:
      return false;
  }
}

int32_t TkxVariant::AsDate() const {
  if (IsEmpty()) return 0;
  const TkxDBFDate& dates = GlobalDateConverter();
  switch (type_) {
    case kText:
      return dates.TextToDay(std::string_view(reinterpret_cast<const char*>(data_.get()), length_));
    case kFloat: {
      double value;
      ReadLeading(&value, sizeof value);
      // Only whole days that have a calendar date survive the trip through the
      // storage form; everything else (<= 0, NaN, beyond 9999) is no date.
      if (!(value >= 1.0 && value < 2147483648.0)) return 0;
      return dates.TextToDay(dates.StorageForm(static_cast<int32_t>(value)));
    }
    case kDate:
    case kBytes: {
      int32_t day;
      ReadLeading(&day, sizeof day);
      return day;
    }
    default:
      return 0;
  }
}

double TkxVariant::AsFloat() const {
  if (IsEmpty()) return 0.0;
  switch (type_) {
    case kText: {
      const std::string_view text(reinterpret_cast<const char*>(data_.get()), length_);
      double value;
      if (!ParseFloat(text, value)) throw EConvertError(ReplacePercentS(kMsgInvalidFloat, text));
      return value;
    }
    case kFloat:
    case kBytes: {
      double value;
      ReadLeading(&value, sizeof value);
      return value;
    }
    case kDate: {
      int32_t day;
      ReadLeading(&day, sizeof day);
      return day;
    }
    case kBoolean:
      return data_[0] != 0 ? 1.0 : 0.0;
    default:
      return 0.0;
  }
}

std::string TkxVariant::AsText() const {
  if (IsEmpty()) return std::string();
  switch (type_) {
    case kText:
    case kBytes:
      return std::string(reinterpret_cast<const char*>(data_.get()), length_);
    case kFloat: {
      double value;
      ReadLeading(&value, sizeof value);
      if (value == 0.0) return "0";  // also for -0
      // General format, 15 significant digits, "." whatever the locale, and the
      // exponent written as older desktop runtimes do it: "1E+20", "1.5E-07".
      char buffer[64];
      const auto result =
          std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
      std::string out(buffer, result.ptr);
      for (char& c : out) c = c == 'e' ? 'E' : c;
      return out;
    }
    case kDate: {
      int32_t day;
      ReadLeading(&day, sizeof day);
      return GlobalDateConverter().DisplayForm(day);
    }
    case kBoolean: {
      const std::string& chars = data_[0] != 0 ? LogicalTrueChars : LogicalFalseChars;
      return chars.empty() ? std::string() : chars.substr(0, 1);
    }
    default:
      return std::string();
  }
}

int TkxVariant::CompareVariants(const TkxVariant& other, int32_t& position, const uint8_t* table,
                                int prefixResult) const {
  position = 0;
  if (other.type_ == kNone) return 1;

  uint8_t type = type_;
  if (type_ != other.type_) {
    if (type_ == kBytes) {
      type = other.type_;
    } else if (other.type_ != kBytes) {
      type = kNone;
    }
  }
  if (type == kNone) RaiseCompareMismatch();

  const bool thisEmpty = IsEmpty(), otherEmpty = other.IsEmpty();
  if (thisEmpty || otherEmpty) return thisEmpty == otherEmpty ? 0 : (thisEmpty ? -1 : 1);

  auto sign = [](auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); };
  switch (type) {
    case kText:
    case kBytes: {
      const int32_t common = std::min(length_, other.length_);
      const bool translate = type == kText && table != nullptr;
      for (int32_t i = 0; i < common; ++i) {
        uint8_t a = data_[i], b = other.data_[i];
        if (translate) a = table[a], b = table[b];
        ++position;
        if (a != b) return a < b ? -1 : 1;
      }
      ++position;
      if (length_ == other.length_) return 0;
      if (length_ > other.length_) return 1;
      if (type == kText) return sign(prefixResult, 0);
      return -1;
    }
    case kFloat:
      return sign(AsFloat(), other.AsFloat());
    case kDate: {
      int32_t a, b;
      ReadLeading(&a, sizeof a);
      other.ReadLeading(&b, sizeof b);
      return sign(a, b);
    }
    case kBoolean:
      if (data_[0] == other.data_[0]) return 0;
      return data_[0] != 0 ? 1 : -1;
    default:
      // Types this engine does not know compare as a mismatch.
      RaiseCompareMismatch();
  }
}

// ---------------------------------------------------------------------------------------
// TkxHugeSet

void TkxHugeSet::ClearAll() {
  for (auto& page : pages_) page->fill(0);
  max_ = -1;
}

void TkxHugeSet::SetBit(int32_t n, int op) {
  if (n < 0) return;
  const size_t pageIndex = static_cast<size_t>(n / kBitsPerPage);
  while (pages_.size() <= pageIndex) pages_.push_back(std::make_unique<Page>(Page{}));
  max_ = std::max(max_, n);

  uint8_t& byte = (*pages_[pageIndex])[(n / 8) % kPageBytes];
  const uint8_t mask = static_cast<uint8_t>(1u << (n % 8));
  switch (op) {
    case kClear:
      byte = static_cast<uint8_t>(byte & ~mask);
      break;
    case kSet:
      byte = static_cast<uint8_t>(byte | mask);
      break;
    case kToggle:
      byte = static_cast<uint8_t>(byte ^ mask);
      break;
    default:
      break;
  }
}

bool TkxHugeSet::TestBit(int32_t n) const {
  if (n < 0 || n > max_) return false;
  const size_t pageIndex = static_cast<size_t>(n / kBitsPerPage);
  if (pageIndex >= pages_.size()) return false;
  return ((*pages_[pageIndex])[(n / 8) % kPageBytes] >> (n % 8)) & 1;
}

}  // namespace tolvern
