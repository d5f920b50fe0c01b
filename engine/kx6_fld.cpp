#include "kx6_fld.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "kx6_Date.h"
#include "kx6_bytes.h"
#include "kx6_cnst.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_memo.h"
#include "kx6_sqlfn.h"
#include "kx6_tool.h"

namespace tolvern {

namespace {

// Timestamps of 0x30 tables count milliseconds from this Julian day.
constexpr int64_t kTimestampBaseDay = 1721425;
constexpr int64_t kMsPerDay = 86400000;
// A blank timestamp day reads as day 0 of the runtime's date scale.
constexpr int32_t kBlankTimestampDay = 2415019;
constexpr double kBlankTimestamp =
    static_cast<double>((kBlankTimestampDay - kTimestampBaseDay) * kMsPerDay);
constexpr double kCurrencyScale = 10000.0;
// Text longer than this is not looked at when a number is read from a field.
constexpr size_t kNumberReadChars = 31;
// User-entry numbers are cut to this many characters.
constexpr size_t kNumberEntryChars = 32;

constexpr const char* kMemoMarks[2] = {"---memo---", "---MEMO---"};
constexpr const char* kGeneralMarks[2] = {"-general--", "-GENERAL--"};
constexpr const char* kBinaryMarks[2] = {"--binary--", "--BINARY--"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsFourBlanks(const uint8_t* p) {
  return p[0] == ' ' && p[1] == ' ' && p[2] == ' ' && p[3] == ' ';
}

// Parses a decimal number with "." as separator after leading blanks; false for any other
// text and for a value beyond the double range.
bool ParseDecimal(std::string_view text, double& value) {
  const size_t start = text.find_first_not_of(' ');
  double parsed = 0;
  if (start == std::string_view::npos || !ParseDecimalNumber(text.substr(start), parsed) ||
      !std::isfinite(parsed))
    return false;
  value = parsed;
  return true;
}

// `value` in fixed notation with `decimals` digits after the point (none and no point for
// 0), rounded half away from zero. Empty for a value that is not finite.
std::string FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) return {};
  const double scale = std::pow(10.0, decimals);
  const double scaled = value * scale;
  // Below 2^52 a scaled value still has a fraction to round; above it is whole.
  if (std::isfinite(scaled) && std::fabs(scaled) < 4503599627370496.0) {
    value = std::round(scaled) / scale;
  }
  // 309 integer digits at most, 255 decimals, sign and point.
  std::array<char, 640> buffer;
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::fixed, decimals);
  if (ec != std::errc()) return {};
  std::string text(buffer.data(), end);
  if (!text.empty() && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) {
    text.erase(0, 1);  // no "-0.00"
  }
  return text;
}

std::string TrimLeft(std::string text) {
  const size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : text.substr(start);
}

// The marker for a memo-like field: the "present" form when `text` (leading zeros
// ignored) sorts after "0" in byte order.
std::string MemoMark(const char* const marks[2], std::string text) {
  const size_t nonZero = text.find_first_not_of('0');
  text = nonZero == std::string::npos ? std::string() : text.substr(nonZero);
  return marks[text.compare("0") > 0 ? 1 : 0];
}

// Blanks, or blanks around a lone decimal point: the empty value that dBase IV writes
// into numeric fields with decimals.
bool IsBlankNumber(std::string_view text) {
  const size_t point = text.find('.');
  if (point != std::string_view::npos && text.find('.', point + 1) != std::string_view::npos) {
    return false;
  }
  return text.find_first_not_of(" .") == std::string_view::npos;
}

// The day of a date typed by the user: the display form or yyyymmdd. Eight digits that
// name no date are refused like any other text that is no date, rather than read as the
// runtime's day 0.
int32_t EntryDay(const std::string& text) {
  const TkxDBFDate& dates = GlobalDateConverter();
  const int32_t day = dates.TextToDay(text);
  const std::string entry = Trim(text);
  if (day == dates.DayOffset && entry.size() == 8 &&
      std::all_of(entry.begin(), entry.end(), IsDigit) && dates.StorageForm(day) != entry) {
    throw EConvertError(FormatMessage(kMsgInvalidDate, {entry}));
  }
  return day;
}

bool IsMemoType(char type) { return type == 'M' || type == 'G' || type == 'B'; }

// A number in plain decimal notation: an optional "-", digits without a leading zero
// (except a lone one), an optional fraction and exponent. Such text is a value as it is.
bool IsPlainNumber(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  if (i < n && s[i] == '-') ++i;
  if (i >= n) return false;
  if (s[i] == '0') {
    ++i;
  } else if (IsDigit(s[i])) {
    while (i < n && IsDigit(s[i])) ++i;
  } else {
    return false;
  }
  if (i < n && s[i] == '.') {
    const size_t start = ++i;
    while (i < n && IsDigit(s[i])) ++i;
    if (i == start) return false;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t start = i;
    while (i < n && IsDigit(s[i])) ++i;
    if (i == start) return false;
  }
  return i == n;
}

// A currency value stored as value x 10 000, exactly: "-123.4567".
std::string CurrencyText(int64_t raw) {
  const uint64_t magnitude = raw < 0 ? 0 - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  std::string text = raw < 0 ? "-" : "";
  text += std::to_string(magnitude / 10000);
  text += '.';
  text += fraction;
  return text;
}

// A decimal number text (checked by ParseDecimal) as value x 10 000, exactly for plain
// notation and rounded half away from zero; false when it does not fit 64 bits.
bool ParseCurrency(std::string_view text, double value, int64_t& scaled) {
  const size_t start = text.find_first_not_of(' ');
  text = start == std::string_view::npos ? std::string_view() : text.substr(start);
  // 2^63 / 10 000: the largest value the 64 bits hold.
  if (!(std::fabs(value) < 9.2e14)) return false;
  if (text.find_first_of("eE") != std::string_view::npos || std::fabs(value) > 9e14) {
    scaled = std::llround(value * kCurrencyScale);
    return true;
  }
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  int64_t result = 0;
  for (char c : whole) result = result * 10 + (c - '0');
  for (size_t i = 0; i < 4; ++i)
    result = result * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  if (fraction.size() > 4 && fraction[4] >= '5') ++result;
  scaled = negative ? -result : result;
  return true;
}

// `text` (checked by ParseDecimal, value `value`) with exactly `decimals` decimals: digit
// for digit when it has no more than that, rounded otherwise.
std::string DecimalsText(std::string_view text, int decimals, double value) {
  const size_t start = text.find_first_not_of(" +");
  text = start == std::string_view::npos ? std::string_view() : text.substr(start);
  const size_t dot = text.find('.');
  const size_t have = dot == std::string_view::npos ? 0 : text.size() - dot - 1;
  if (text.find_first_of("eE") != std::string_view::npos || static_cast<int>(have) > decimals)
    return FormatFixed(value, decimals);
  std::string out(text);
  if (decimals > 0) {
    if (dot == std::string_view::npos) out += '.';
    out.append(static_cast<size_t>(decimals) - have, '0');
  }
  return out;
}

}  // namespace

KXO_dBaseFld::KXO_dBaseFld(const std::string& name, bool readWrite, bool shared)
    : KXO_dBaseDBF(name, readWrite, shared) {
  lookupNames_.reserve(Fields().size());
  for (const auto& field : Fields()) lookupNames_.push_back(UpperCase(TrimRight(field.name)));
  expLink_ = std::make_unique<TkxDBFExpUserLink>(*this);
}

KXO_dBaseFld::~KXO_dBaseFld() = default;

TkxExpUserLink* KXO_dBaseFld::ExpressionLink() { return expLink_.get(); }

// --- lookup --------------------------------------------------------------------------

const DbfFieldInfo* KXO_dBaseFld::FieldAt(int32_t f) {
  if (f < 1 || f > FieldCount()) return nullptr;
  lastField_ = &Fields()[static_cast<size_t>(f - 1)];
  return lastField_;
}

const DbfFieldInfo* KXO_dBaseFld::FindField(const std::string& name) {
  const std::string wanted = UpperCase(TrimRight(name));
  for (size_t i = 0; i < lookupNames_.size(); ++i) {
    if (lookupNames_[i] == wanted) {
      lastField_ = &Fields()[i];
      return lastField_;
    }
  }
  const std::string info = TrimRight(name) + "->" + FileName();
  FileError(ErrFieldName, SubFieldName, info.c_str());
  return nullptr;
}

const DbfFieldInfo* KXO_dBaseFld::FindFieldOfType(const std::string& name, char type) {
  const DbfFieldInfo* field = FindField(name);
  if (!field) return nullptr;
  const char have = field->type;
  bool accepted = have == type;
  if (type == 'G') accepted = accepted || have == 'B' || have == 'M';
  if (type == 'N')
    accepted = accepted || std::string_view("BFGIMTY").find(have) != std::string_view::npos;
  if (!accepted) {
    const std::string info = TrimRight(name);
    FileError(ErrFieldType, SubFieldType, info.c_str());
    return nullptr;
  }
  return field;
}

int32_t KXO_dBaseFld::FieldNumber(const std::string& name) {
  const DbfFieldInfo* field = FindField(name);
  return field ? field->number : 0;
}

bool KXO_dBaseFld::IsBinaryField(const DbfFieldInfo& field) const {
  if (Version() != kVersionVisual) return false;
  switch (field.type) {
    case 'B':
    case 'G':
    case 'I':
    case 'M':
    case 'T':
    case 'Y':
      return true;
    default:
      return false;
  }
}

// --- descriptor facts ----------------------------------------------------------------

int32_t KXO_dBaseFld::FieldDecimals(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  return field ? field->decimals : 0;
}

int32_t KXO_dBaseFld::FieldLength(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  return field ? field->length : 0;
}

int32_t KXO_dBaseFld::FieldOffset(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  return field ? field->offset : 0;
}

std::string KXO_dBaseFld::FieldName(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  return field ? field->name : std::string();
}

char KXO_dBaseFld::FieldType(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  return field ? field->type : '\0';
}

int KXO_dBaseFld::FormulaRequest(const std::string&, const std::string&, std::span<uint8_t>, char&,
                                 bool&) {
  return -1;
}

// --- record-level operations ---------------------------------------------------------

void KXO_dBaseFld::GetRecord(int32_t code) {
  KXO_dBaseDBF::GetRecord(code);
  ClearFieldChanges();
}

void KXO_dBaseFld::ClearFieldChanges() {
  auto& flags = FieldChangedFlags();
  std::fill(flags.begin(), flags.end(), static_cast<uint8_t>(0));
}

void KXO_dBaseFld::BlankRecord() {
  std::fill(Buffer(), Buffer() + RecordLength(), static_cast<uint8_t>(' '));
  Buffer()[RecordLength()] = static_cast<uint8_t>(EOFMark);
  for (const auto& field : Fields()) {
    if (IsBinaryField(field) || (Version() == kVersionVisual && field.type == '0')) {
      // Zero in every binary encoding, and "no timestamp" for T. The null-flags field
      // ("0") gets no bits either: no field of a new record is null.
      std::fill_n(Buffer() + field.offset, field.length, static_cast<uint8_t>(0));
    } else if (field.type == 'N' || field.type == 'F') {
      // A width that cannot hold a formatted zero stays blank rather than failing.
      PutFormattedNumber(field, 0, false);
    }
  }
  auto& flags = FieldChangedFlags();
  std::fill(flags.begin(), flags.end(), static_cast<uint8_t>(1));
  RecordEvent(kEventBlanked, 0);
}

void KXO_dBaseFld::DeleteRecord() {
  if (CurrentRecord() < 1) {
    // Without a current record the write would append a new one.
    CheckError(ErrBeyondEof, SubWriteAt);
    return;
  }
  Buffer()[0] = '*';
  FieldChangedFlags()[0] = 1;
  PutRecord(CurrentRecord());
}

void KXO_dBaseFld::RecallRecord() {
  if (CurrentRecord() < 1) {
    CheckError(ErrBeyondEof, SubWriteAt);
    return;
  }
  Buffer()[0] = ' ';
  FieldChangedFlags()[0] = 1;
  PutRecord(CurrentRecord());
}

// --- raw text ------------------------------------------------------------------------

std::string KXO_dBaseFld::FieldBytes(const DbfFieldInfo& field) const {
  const auto* start = reinterpret_cast<const char*>(Buffer()) + field.offset;
  const auto* end = start + field.length;
  return std::string(start, std::find(start, end, '\0'));
}

void KXO_dBaseFld::MarkChanged(const DbfFieldInfo& field) {
  FieldChangedFlags()[static_cast<size_t>(field.number)] = 1;
  RecordEvent(kEventFieldChanged, field.number);
}

void KXO_dBaseFld::StoreFieldText(const DbfFieldInfo& field, const std::string& text) {
  uint8_t* start = Buffer() + field.offset;
  const size_t width = static_cast<size_t>(field.length);
  std::fill(start, start + width, static_cast<uint8_t>(' '));
  const size_t n = std::min(text.size(), width);
  if (n > 0) {
    const bool leftAligned = field.type == 'C' || field.type == 'D' || field.type == 'L';
    std::copy_n(text.data(), n, start + (leftAligned ? 0 : width - n));
  }
  MarkChanged(field);
}

std::string KXO_dBaseFld::GetField(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  return field ? FieldBytes(*field) : std::string();
}

std::string KXO_dBaseFld::GetFieldByName(const std::string& name) {
  const DbfFieldInfo* field = FindField(name);
  return field ? GetField(field->number) : std::string();
}

bool KXO_dBaseFld::PutField(int32_t f, const std::string& text) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  StoreFieldText(*field, text);
  return true;
}

bool KXO_dBaseFld::PutFieldByName(const std::string& name, const std::string& text) {
  const DbfFieldInfo* field = FindField(name);
  return field ? PutField(field->number, text) : false;
}

// --- numbers -------------------------------------------------------------------------

double KXO_dBaseFld::BinaryNumber(const DbfFieldInfo& field) const {
  const size_t offset = static_cast<size_t>(field.offset);
  ByteReader record(Buffer(), static_cast<size_t>(RecordLength()));
  // A binary field narrower than its value reads as 0 rather than past the record.
  switch (field.type) {
    case 'G':
    case 'I':
    case 'M':
      return field.length >= 4 ? record.I32LE(offset) : 0.0;
    case 'B':
      return field.length >= 8 ? record.F64LE(offset) : 0.0;
    case 'Y':
      return field.length >= 8 ? static_cast<double>(record.I64LE(offset)) / kCurrencyScale : 0.0;
    case 'T': {
      if (field.length < 8) return 0.0;
      const uint8_t* p = Buffer() + offset;
      int64_t day = record.I32LE(offset);
      int64_t ms = record.I32LE(offset + 4);
      // Blank halves, and the zero day other programs write for "no timestamp".
      if (IsFourBlanks(p) || day == 0) day = kBlankTimestampDay;
      if (IsFourBlanks(p + 4)) ms = 0;
      return static_cast<double>((day - kTimestampBaseDay) * kMsPerDay + ms);
    }
    default:
      return 0.0;
  }
}

double KXO_dBaseFld::GetNumber(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return 0.0;
  if (IsBinaryField(*field)) return BinaryNumber(*field);
  std::string text = TrimRight(FieldBytes(*field));
  if (text.size() > kNumberReadChars) text.resize(kNumberReadChars);
  if (IsBlankNumber(text)) return 0.0;
  double value = 0.0;
  if (!ParseDecimal(text, value)) {
    const std::string info =
        "Invalid number in field " + TableBaseName() + "->" + field->name + " (" + text + ")";
    FileError(ErrFieldType, SubCodeNone, info.c_str());
    return 0.0;
  }
  return value;
}

double KXO_dBaseFld::GetNumberByName(const std::string& name) {
  const DbfFieldInfo* field = FindFieldOfType(name, 'N');
  return field ? GetNumber(field->number) : 0.0;
}

bool KXO_dBaseFld::PutBinaryNumber(const DbfFieldInfo& field, double value) {
  const size_t offset = static_cast<size_t>(field.offset);
  ByteWriter record(Buffer(), static_cast<size_t>(RecordLength()));
  const size_t need = field.type == 'G' || field.type == 'I' || field.type == 'M' ? 4 : 8;
  if (static_cast<size_t>(field.length) < need) {
    NumberTooLarge(field, FormatFixed(value, 0));
    return false;
  }
  switch (field.type) {
    case 'G':
    case 'I':
    case 'M': {
      const double whole = std::trunc(value);
      if (!(whole >= std::numeric_limits<int32_t>::min() &&
            whole <= std::numeric_limits<int32_t>::max())) {
        NumberTooLarge(field, FormatFixed(value, 0));
        return false;
      }
      record.I32LE(offset, static_cast<int32_t>(whole));
      break;
    }
    case 'B':
      record.F64LE(offset, value);
      break;
    case 'Y': {
      // Rounded, not truncated: 19.99 * 10 000 is 199 899.99999999997 in binary.
      const double scaled = std::round(value * kCurrencyScale);
      if (!(std::fabs(scaled) < 9.2e18)) {
        NumberTooLarge(field, FormatFixed(value, 4));
        return false;
      }
      record.I64LE(offset, static_cast<int64_t>(scaled));
      break;
    }
    case 'T': {
      if (value == 0.0 || value == kBlankTimestamp) {
        // No timestamp: both halves zero, as other programs write it.
        record.Fill(offset, 0, 8);
        break;
      }
      const double days = std::trunc(value / static_cast<double>(kMsPerDay));
      const double day = days + static_cast<double>(kTimestampBaseDay);
      const double ms = std::trunc(value - days * static_cast<double>(kMsPerDay));
      if (!(day >= 1 && day <= std::numeric_limits<int32_t>::max())) {
        NumberTooLarge(field, FormatFixed(value, 0));
        return false;
      }
      record.I32LE(offset, static_cast<int32_t>(day));
      record.I32LE(offset + 4, static_cast<int32_t>(ms));
      break;
    }
    default:
      return false;
  }
  MarkChanged(field);
  return true;
}

void KXO_dBaseFld::NumberTooLarge(const DbfFieldInfo& field, const std::string& formatted) {
  const std::string info = (formatted.empty() ? std::string("?") : formatted) + " - " + field.name;
  FileError(ErrNumberTooLarge, SubPutNumber, info.c_str());
}

bool KXO_dBaseFld::PutFormattedNumber(const DbfFieldInfo& field, double value, bool report) {
  const std::string text = FormatFixed(value, field.decimals);
  if (text.empty() || text.size() > static_cast<size_t>(field.length)) {
    if (report) NumberTooLarge(field, text);
    return false;
  }
  StoreFieldText(field, text);
  return true;
}

bool KXO_dBaseFld::PutNumber(int32_t f, double value) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  if (IsBinaryField(*field)) return PutBinaryNumber(*field, value);
  const char type = field->type;
  if (type != 'B' && type != 'F' && type != 'G' && type != 'M' && type != 'N') {
    FileError(ErrFieldType, SubFieldType, nullptr);
    return false;
  }
  return PutFormattedNumber(*field, value, true);
}

bool KXO_dBaseFld::PutNumberByName(const std::string& name, double value) {
  const DbfFieldInfo* field = FindFieldOfType(name, 'N');
  return field ? PutNumber(field->number, value) : false;
}

// --- dates ---------------------------------------------------------------------------

int32_t KXO_dBaseFld::GetDate(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return 0;
  const std::string text = FieldBytes(*field);
  try {
    return GlobalDateConverter().TextToDay(text);
  } catch (const EConvertError&) {
    const std::string info =
        "Invalid date in field " + TableBaseName() + "->" + field->name + " (" + text + ")";
    FileError(ErrFieldType, SubCodeNone, info.c_str());
    return 0;
  }
}

int32_t KXO_dBaseFld::GetDateByName(const std::string& name) {
  const DbfFieldInfo* field = FindFieldOfType(name, 'D');
  return field ? GetDate(field->number) : 0;
}

bool KXO_dBaseFld::PutDate(int32_t f, int32_t day) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  if (day == -1) {
    FileError(ErrFieldType, SubPutDate, nullptr);
    return false;
  }
  if (field->type != 'D') return false;
  const std::string stored = GlobalDateConverter().StorageForm(day);
  if (day > 0 && stored.find_first_not_of(' ') == std::string::npos) {
    // A day without a calendar date would silently become "no date".
    const std::string info = field->name + " (" + std::to_string(day) + ")";
    FileError(ErrFieldType, SubPutDate, info.c_str());
    return false;
  }
  StoreFieldText(*field, stored);
  return true;
}

bool KXO_dBaseFld::PutDateByName(const std::string& name, int32_t day) {
  const DbfFieldInfo* field = FindFieldOfType(name, 'D');
  return field ? PutDate(field->number, day) : false;
}

// --- logicals ------------------------------------------------------------------------

bool KXO_dBaseFld::GetLogical(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  const std::string text = FieldBytes(*field);
  return !text.empty() && LogicalTrueChars.find(text[0]) != std::string::npos;
}

bool KXO_dBaseFld::GetLogicalByName(const std::string& name) {
  const DbfFieldInfo* field = FindFieldOfType(name, 'L');
  return field ? GetLogical(field->number) : false;
}

bool KXO_dBaseFld::PutLogical(int32_t f, bool value) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  if (field->type != 'L') {
    FileError(ErrFieldType, SubFieldType, nullptr);
    return false;
  }
  StoreFieldText(*field, value ? "T" : "F");
  return true;
}

bool KXO_dBaseFld::PutLogicalByName(const std::string& name, bool value) {
  const DbfFieldInfo* field = FindFieldOfType(name, 'L');
  return field ? PutLogical(field->number, value) : false;
}

// --- display and user-entry forms ----------------------------------------------------

std::string KXO_dBaseFld::BinaryDisplayText(const DbfFieldInfo& field) const {
  const double value = BinaryNumber(field);
  switch (field.type) {
    case 'I':
      return FormatFixed(value, 0);
    case 'Y':
      // Exact from the stored integer: four decimals, no binary rounding.
      if (field.length < 8) return "0.0000";
      return CurrencyText(ByteReader(Buffer(), static_cast<size_t>(RecordLength()))
                              .I64LE(static_cast<size_t>(field.offset)));
    case 'B': {
      // The field's decimals where fixed notation stays readable, else the shortest form.
      if (field.decimals > 0 && std::fabs(value) < 1e15) return FormatFixed(value, field.decimals);
      std::array<char, 32> buffer;
      const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
      return ec == std::errc() ? std::string(buffer.data(), end) : std::string();
    }
    case 'T': {
      if (value == kBlankTimestamp) return {};
      // Whole seconds, rounded: stored milliseconds are often a hair below a second.
      const int64_t seconds = std::llround(value / 1000.0);
      const int64_t days = seconds / 86400;
      const int64_t secondOfDay = seconds % 86400;
      const int64_t day = days + kTimestampBaseDay;
      if (secondOfDay < 0 || day < 1 || day > std::numeric_limits<int32_t>::max()) return {};
      const std::string date = GlobalDateConverter().DisplayForm(static_cast<int32_t>(day));
      if (date.empty()) return {};
      std::array<char, 16> time{};
      std::snprintf(time.data(), time.size(), " %02d:%02d:%02d",
                    static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                    static_cast<int>(secondOfDay % 60));
      return date + time.data();
    }
    default:  // G, M: whether a memo is there
      return MemoMark(field.type == 'G' ? kGeneralMarks : kMemoMarks, value > 0.1 ? "1" : "0");
  }
}

std::string KXO_dBaseFld::GetFieldText(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return {};
  if (IsBinaryField(*field)) return BinaryDisplayText(*field);
  std::string text = TrimRight(FieldBytes(*field));
  switch (field->type) {
    case 'D':
      return GlobalDateConverter().DisplayForm(GlobalDateConverter().TextToDay(text));
    case 'L':
      return !text.empty() && LogicalTrueChars.find(text[0]) != std::string::npos ? "T" : "F";
    case 'M':
      return MemoMark(kMemoMarks, TrimLeft(text));
    case 'G':
      return MemoMark(kGeneralMarks, TrimLeft(text));
    case 'B':
      return MemoMark(kBinaryMarks, TrimLeft(text));
    case 'N':
    case 'F':
      return IsBlankNumber(text) ? FormatFixed(0.0, field->decimals) : TrimLeft(text);
    default:
      return text;
  }
}

std::string KXO_dBaseFld::GetFieldTextByName(const std::string& name) {
  const DbfFieldInfo* field = FindField(name);
  return field ? GetFieldText(field->number) : std::string();
}

bool KXO_dBaseFld::PutBinaryText(const DbfFieldInfo& field, const std::string& text) {
  std::string entry = Trim(text);
  if (field.type == 'T') {
    if (entry.empty()) return PutBinaryNumber(field, 0);
    // A date (display or stored form), optionally followed by hh:mm[:ss].
    const size_t blank = entry.find(' ');
    const int32_t day = EntryDay(entry.substr(0, blank));
    int hours = 0, minutes = 0, seconds = 0;
    if (blank != std::string::npos) {
      const std::string time = Trim(entry.substr(blank));
      int consumed = 0;
      const int got = std::sscanf(time.c_str(), "%2d:%2d%n:%2d%n", &hours, &minutes, &consumed,
                                  &seconds, &consumed);
      if (got < 2 || static_cast<size_t>(consumed) != time.size() || hours > 23 || minutes > 59 ||
          seconds > 59 || hours < 0 || minutes < 0 || seconds < 0) {
        FileError(ErrFieldType, SubPutNumber, field.name.c_str());
        return false;
      }
    }
    if (day <= 0) return PutBinaryNumber(field, 0);
    const double ms = static_cast<double>((day - kTimestampBaseDay) * kMsPerDay) +
                      ((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0;
    return PutBinaryNumber(field, ms);
  }
  if (entry.size() > kNumberEntryChars) entry.resize(kNumberEntryChars);
  double value = 0.0;
  if (!entry.empty() && !ParseDecimal(entry, value)) {
    FileError(ErrFieldType, SubPutNumber, nullptr);
    return false;
  }
  return PutBinaryNumber(field, value);
}

bool KXO_dBaseFld::PutFieldText(int32_t f, const std::string& text) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  if (IsBinaryField(*field)) return PutBinaryText(*field, text);
  switch (field->type) {
    case 'D':
      return PutDate(f, EntryDay(text));
    case 'L': {
      const std::string entry = Trim(text);
      const char c = entry.empty() ? 'F' : entry[0];
      bool value;
      if (LogicalTrueChars.find(c) != std::string::npos) {
        value = true;
      } else if (LogicalFalseChars.find(c) != std::string::npos) {
        value = false;
      } else if (IsDigit(c)) {
        value = c != '0';
      } else {
        FileError(ErrFieldType, SubPutLogical, field->name.c_str());
        return false;
      }
      return PutLogical(f, value);
    }
    case 'N': {
      std::string entry = TrimRight(text);
      if (entry.size() > kNumberEntryChars) entry.resize(kNumberEntryChars);
      double value = 0.0;
      if (entry.find_first_not_of(' ') != std::string::npos && !ParseDecimal(entry, value)) {
        FileError(ErrFieldType, SubPutNumber, nullptr);
        return false;
      }
      return PutNumber(f, value);
    }
    default:
      StoreFieldText(*field, text);
      return true;
  }
}

bool KXO_dBaseFld::PutFieldTextByName(const std::string& name, const std::string& text) {
  const DbfFieldInfo* field = FindField(name);
  return field ? PutFieldText(field->number, text) : false;
}

// --- memo link -----------------------------------------------------------------------

KXobjMemo* KXO_dBaseFld::MemoFor(int32_t f) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field || !IsMemoType(field->type)) return nullptr;
  // B of a 0x30 table is a double, not a memo reference.
  if (Version() == kVersionVisual && field->type == 'B') return nullptr;
  return OpenMemo();
}

// --- typed values --------------------------------------------------------------------

void KXO_dBaseFld::ReadFieldValue(int32_t f, TkxFieldValue& value) {
  value.kind = TkxValueKind::kNull;
  value.text.clear();
  value.reason = "";
  value.logical = value.binaryMemo = false;
  value.day = value.ms = 0;
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return;
  const char* at = reinterpret_cast<const char*>(Buffer()) + field->offset;
  const size_t width = static_cast<size_t>(field->length);
  const std::string_view raw(at, width);
  const ByteReader bytes(at, width);
  const bool visual = Version() == kVersionVisual;
  const char type = field->type;

  if (visual ? (type == 'M' || type == 'G' || type == 'W') : IsMemoType(type)) {
    bool hasBlock;
    if (visual) {
      hasBlock = width >= 4 && bytes.U32LE(0) != 0 && !IsFourBlanks(Buffer() + field->offset);
    } else {
      const size_t begin = raw.find_first_not_of(' ');
      const size_t end = raw.find_last_not_of(' ');
      const std::string_view digits =
          begin == std::string_view::npos ? std::string_view() : raw.substr(begin, end - begin + 1);
      hasBlock = digits.find_first_not_of('0') != std::string_view::npos &&
                 digits.find_first_not_of('\0') != std::string_view::npos;
    }
    if (hasBlock) {
      value.kind = TkxValueKind::kMemo;
      value.binaryMemo = type == 'G' || type == (visual ? 'W' : 'B');
    }
    return;
  }
  if (visual) {
    switch (type) {
      case 'I':
        if (width != 4) break;
        value.kind = TkxValueKind::kNumber;
        value.text = std::to_string(bytes.I32LE(0));
        return;
      case 'B':
        if (width != 8) break;
        value.text = NumberToText(bytes.F64LE(0));
        if (!value.text.empty()) value.kind = TkxValueKind::kNumber;
        return;
      case 'Y':
        if (width != 8) break;
        value.kind = TkxValueKind::kNumber;
        value.text = CurrencyText(bytes.I64LE(0));
        return;
      case 'T': {
        if (width != 8) break;
        const uint8_t* p = Buffer() + field->offset;
        const bool noDay = bytes.U32LE(0) == 0 || IsFourBlanks(p);
        const bool noTime = bytes.U32LE(4) == 0 || IsFourBlanks(p + 4);
        if (noDay && noTime) return;
        const int32_t day = IsFourBlanks(p) ? 0 : bytes.I32LE(0);
        const int32_t ms = IsFourBlanks(p + 4) ? 0 : bytes.I32LE(4);
        int y = 0, m = 0, d = 0;
        GlobalDateConverter().DecodeDay(day, y, m, d);
        if (y == 0 || ms < 0 || ms >= kMsPerDay) {
          value.kind = TkxValueKind::kInvalid;
          value.reason = "not a timestamp";
          return;
        }
        value.kind = TkxValueKind::kTimestamp;
        value.day = day;
        value.ms = ms;
        return;
      }
      default:
        break;
    }
  }
  switch (type) {
    case 'C': {
      const size_t end = raw.find_last_not_of(' ');
      value.kind = TkxValueKind::kText;
      value.text.assign(at, end == std::string_view::npos ? 0 : end + 1);
      return;
    }
    case 'N':
    case 'F': {
      const size_t begin = raw.find_first_not_of(' ');
      if (begin == std::string_view::npos) return;
      const std::string_view text = raw.substr(begin, raw.find_last_not_of(' ') - begin + 1);
      // NUL-filled, or a lone "." or "-" as some writers leave empty numbers.
      if (text.find_first_of("0123456789") == std::string_view::npos &&
          text.find_first_not_of(std::string_view(" .-\0", 4)) == std::string_view::npos)
        return;
      double number = 0;
      if (IsPlainNumber(text)) {
        value.kind = TkxValueKind::kNumber;
        value.text.assign(text);
      } else if (ParseDecimal(text, number) && std::isfinite(number)) {
        value.kind = TkxValueKind::kNumber;
        value.text = NumberToText(number);
      } else {
        value.kind = TkxValueKind::kInvalid;
        value.reason = "not a number";
        value.text.assign(text);
      }
      return;
    }
    case 'D': {
      const size_t end = raw.find_last_not_of(' ');
      const std::string_view text = raw.substr(0, end == std::string_view::npos ? 0 : end + 1);
      if (text.empty() || text == "00000000" ||
          text.find_first_not_of(std::string_view(" \0", 2)) == std::string_view::npos)
        return;
      if (text.size() == 8 && std::all_of(text.begin(), text.end(), IsDigit)) {
        value.kind = TkxValueKind::kDate;
      } else {
        value.kind = TkxValueKind::kInvalid;
        value.reason = "not a date";
      }
      value.text.assign(text);
      return;
    }
    case 'L': {
      const char c = width == 0 ? ' ' : at[0];
      if (c == '\0') return;
      if (LogicalTrueChars.find(c) != std::string::npos) {
        value.kind = TkxValueKind::kLogical;
        value.logical = true;
      } else if (LogicalFalseChars.find(c) != std::string::npos) {
        value.kind = TkxValueKind::kLogical;
      }
      return;
    }
    default:
      value.kind = TkxValueKind::kRaw;
      value.text.assign(raw);
      return;
  }
}

bool KXO_dBaseFld::PutNumberText(int32_t f, const std::string& text) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  double number = 0;
  if (!ParseDecimal(text, number) || !std::isfinite(number)) {
    const std::string info = field->name + " (" + text + ")";
    FileError(ErrFieldType, SubPutNumber, info.c_str());
    return false;
  }
  if (IsBinaryField(*field)) {
    if (field->type == 'I' && number != std::trunc(number)) {
      const std::string info = field->name + " (" + text + ": not a whole number)";
      FileError(ErrFieldType, SubPutNumber, info.c_str());
      return false;
    }
    if (field->type != 'Y' || field->length < 8) return PutBinaryNumber(*field, number);
    int64_t scaled = 0;
    if (!ParseCurrency(text, number, scaled)) {
      NumberTooLarge(*field, text);
      return false;
    }
    ByteWriter(Buffer(), static_cast<size_t>(RecordLength()))
        .I64LE(static_cast<size_t>(field->offset), scaled);
    MarkChanged(*field);
    return true;
  }
  if (field->type != 'N' && field->type != 'F') {
    FileError(ErrFieldType, SubFieldType, field->name.c_str());
    return false;
  }
  std::string formatted = DecimalsText(text, field->decimals, number);
  const size_t width = static_cast<size_t>(field->length);
  // A number that other programs stored with fewer decimals than the field declares goes
  // back as it came when padding it would not fit.
  const std::string given = Trim(text);
  if (formatted.size() > width && given.size() <= width && IsPlainNumber(given)) formatted = given;
  if (formatted.empty() || formatted.size() > width) {
    NumberTooLarge(*field, formatted);
    return false;
  }
  StoreFieldText(*field, formatted);
  return true;
}

bool KXO_dBaseFld::PutTimestamp(int32_t f, int32_t day, int32_t ms) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  if (!IsBinaryField(*field) || field->type != 'T' || field->length < 8 || day < 1 || ms < 0 ||
      ms >= kMsPerDay) {
    FileError(ErrFieldType, SubPutNumber, field->name.c_str());
    return false;
  }
  ByteWriter record(Buffer(), static_cast<size_t>(RecordLength()));
  record.I32LE(static_cast<size_t>(field->offset), day);
  record.I32LE(static_cast<size_t>(field->offset) + 4, ms);
  MarkChanged(*field);
  return true;
}

bool KXO_dBaseFld::PutRawField(int32_t f, const std::string& bytes) {
  const DbfFieldInfo* field = FieldAt(f);
  if (!field) return false;
  uint8_t* start = Buffer() + field->offset;
  const size_t width = static_cast<size_t>(field->length);
  std::fill(start, start + width, static_cast<uint8_t>(' '));
  std::copy_n(bytes.data(), std::min(bytes.size(), width), start);
  MarkChanged(*field);
  return true;
}

int32_t KXO_dBaseFld::MemoBlock(const DbfFieldInfo& field) {
  const double value = GetNumber(field.number);
  if (!(value >= 0 && value <= std::numeric_limits<int32_t>::max())) {
    const std::string info = "Invalid memo block in field " + TableBaseName() + "->" + field.name +
                             " (" + FormatFixed(value, 0) + ")";
    FileError(ErrMemoFormat, SubMemoHeader, info.c_str());
    return -1;
  }
  return static_cast<int32_t>(value);
}

int32_t KXO_dBaseFld::MemoSize(int32_t f) {
  KXobjMemo* memo = MemoFor(f);
  if (!memo) return 0;
  const int32_t block = MemoBlock(*FieldAt(f));
  return block > 0 ? memo->MemoDataLength(block) : 0;
}

bool KXO_dBaseFld::ReadMemo(int32_t f, std::vector<uint8_t>& data, size_t maxSize) {
  data.clear();
  KXobjMemo* memo = MemoFor(f);
  if (!memo) return false;
  const int32_t block = MemoBlock(*FieldAt(f));
  if (block < 0) return false;
  if (block > 0) data = memo->MemoRead(block, maxSize);
  return true;
}

bool KXO_dBaseFld::WriteMemo(int32_t f, std::span<const uint8_t> data) {
  KXobjMemo* memo = MemoFor(f);
  if (!memo) return false;
  const DbfFieldInfo* field = FieldAt(f);
  int32_t block = MemoBlock(*field);
  if (block < 0) block = 0;  // an unreadable reference is replaced, not reused
  // FoxPro files mark a general field's memo as an object and a picture field's as a
  // picture, as FoxPro itself writes them.
  const uint32_t type = field->type == 'G'   ? KXobjMemo::kObjectBlock
                        : field->type == 'P' ? KXobjMemo::kPictureBlock
                                             : KXobjMemo::kTextBlock;
  const int32_t written = memo->MemoWrite(data.data(), data.size(), block, type);
  // 0 for a non-empty text means the memo file did not take it: keep the old reference.
  if (written == 0 && !data.empty()) return false;
  if (written == 0 && !IsBinaryField(*field)) {
    // No memo: a blank block number, as other programs write it.
    StoreFieldText(*field, std::string());
    return true;
  }
  return PutNumber(field->number, written);
}

std::string KXO_dBaseFld::TableBaseName() const { return NameWithoutExtension(FileName()); }

}  // namespace tolvern
