// The built-in functions of the expression language, and the table link with its field
// variables, table functions and generic (formula request) functions.
#include "kx6_sqlfn.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "kx6_cnst.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sqlnode.h"
#include "kx6_tool.h"
#include "platform/pf_text.h"

namespace tolvern {

namespace {

// Characters of a field name that count when a name is looked up.
constexpr size_t kFieldNameSignificant = 10;

// DESCEND maps a day d to this value minus d.
constexpr double kDescendDayBase = 5231808;

// A count or width argument truncated toward zero, kept within +-2^62 (NaN counts 0).
int64_t CountOf(double value) {
  const double t = std::trunc(value);
  if (std::isnan(t)) return 0;
  constexpr double kLimit = 4611686018427387904.0;  // 2^62
  if (t >= kLimit) return static_cast<int64_t>(kLimit);
  if (t <= -kLimit) return -static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(t);
}

// The day number of a date value; 0 ("no date") for the empty date and values that are
// not day numbers.
int32_t DayOf(double value) {
  if (!(value > 0) || value >= 2147483648.0) return 0;
  return static_cast<int32_t>(value);
}

bool IsEmptyDate(double value) { return value >= kEmptyDate; }

// A width or count that becomes the length of a text: raises beyond the longest value.
size_t TextWidth(int64_t count) {
  if (count <= 0) return 0;
  CheckTextLength(static_cast<uint64_t>(count));
  return static_cast<size_t>(count);
}

// Fetches a required argument: like GetArgument, but an argument that was not written
// raises "%s needed for Argument %d of %s".
uint8_t Need(TkxExpFunction& node, int index, TkxExpValue& dest, uint8_t expected) {
  if (index >= node.ArgumentCount()) {
    RaiseExpression(kMsgArgumentNeeded,
                    {ExpTypeName(expected), std::to_string(index + 1), node.GetName()});
  }
  return node.GetArgument(index, dest, expected);
}

// A character argument into `value`, which then holds a plain text value.
void NeedText(TkxExpFunction& node, int index, TkxExpValue& value) {
  Need(node, index, value, kExpChar);
  value.fieldLength = value.fieldDecimals = 0;
}

double NeedNumber(TkxExpFunction& node, int index) {
  TkxExpValue argument;
  Need(node, index, argument, kExpNumeric);
  return argument.number;
}

// The optional argument `index` as a number; false when it is missing or not numeric.
bool OptionalNumber(TkxExpFunction& node, int index, double& number) {
  TkxExpValue argument;
  if (!IsNumericGroup(node.GetArgument(index, argument, kExpAny))) return false;
  number = argument.number;
  return true;
}

void TrimLeading(std::string& text) {
  const size_t start = text.find_first_not_of(' ');
  text.erase(0, start == std::string::npos ? text.size() : start);
}

void TrimTrailing(std::string& text) {
  const size_t end = text.find_last_not_of(' ');
  text.resize(end == std::string::npos ? 0 : end + 1);
}

// `value` in fixed notation with `decimals` decimals, rounded half away from zero, never
// "-0". Empty for a value that is not finite.
std::string FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) return {};
  const double scale = std::pow(10.0, decimals);
  const double scaled = value * scale;
  if (std::isfinite(scaled) && std::fabs(scaled) < 4503599627370496.0) {  // 2^52
    value = std::round(scaled) / scale;
  }
  std::string buffer(static_cast<size_t>(decimals) + 330, '\0');
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::fixed, decimals);
  if (ec != std::errc()) return {};
  buffer.resize(static_cast<size_t>(end - buffer.data()));
  if (!buffer.empty() && buffer[0] == '-' &&
      buffer.find_first_not_of("0.", 1) == std::string::npos) {
    buffer.erase(0, 1);
  }
  return buffer;
}

// --- built-ins -------------------------------------------------------------------------

class TkxUDFAllTrim : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "ALLTRIM"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    TrimTrailing(value.text);
    TrimLeading(value.text);
    return true;
  }
};

class TkxUDFAsc : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "ASC"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    value.SetNumber(value.text.empty() ? 0 : static_cast<unsigned char>(value.text[0]));
    return true;
  }
};

// The position of the n-th occurrence (overlapping ones counted), or of the last one
// when there are fewer.
class TkxUDFAt : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "AT"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxExpValue needle;
    NeedText(node, 0, needle);
    NeedText(node, 1, value);
    double n = 1;
    if (!OptionalNumber(node, 2, n)) n = 1;
    const int64_t wanted = CountOf(n);
    size_t found = std::string::npos;
    if (wanted > 0 && !needle.text.empty()) {
      size_t at = value.text.find(needle.text);
      for (int64_t count = 1; at != std::string::npos; ++count) {
        found = at;
        if (count >= wanted) break;
        at = value.text.find(needle.text, at + 1);
      }
    }
    value.SetNumber(found == std::string::npos ? 0 : static_cast<double>(found + 1));
    return true;
  }
};

// CEILING and FLOOR: whole numbers through a 32-bit integer inside its range, in double
// arithmetic outside it.
double ThroughInt32(double whole) {
  if (whole >= -2147483648.0 && whole <= 2147483647.0) {
    return static_cast<double>(static_cast<int32_t>(whole));
  }
  return whole;
}

class TkxUDFCeiling : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "CEILING"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    value.SetNumber(ThroughInt32(std::ceil(NeedNumber(node, 0))));
    return true;
  }
};

class TkxUDFChr : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "CHR"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    const double code = std::trunc(NeedNumber(node, 0));
    if (!(code >= 0 && code <= 255)) RaiseValueInvalid("Byte");
    // Code 0 is the terminator of the text it would make: the empty string. Codes above
    // 127 go through unsigned char: a double converts only to a type that holds its value.
    const auto byte = static_cast<unsigned char>(code);
    value.SetText(byte == 0 ? std::string() : std::string(1, static_cast<char>(byte)));
    return true;
  }
};

class TkxUDFCTOD : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "CTOD"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    if (value.text.empty()) {
      value.SetNumber(kEmptyDate, kExpDate);
      return true;
    }
    try {
      value.SetNumber(GlobalDateConverter().TextToDay(value.text), kExpDate);
    } catch (const EConvertError& e) {
      throw ETolvernExpression(e.what());
    }
    return true;
  }
};

class TkxUDFDate : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "DATE"; }
  bool Execute(TkxExpFunction&, TkxExpValue& value) override {
    value.SetNumber(GlobalDateConverter().Today(), kExpDate);
    return true;
  }
};

// A value whose order is the reverse of the argument's.
class TkxUDFDescend : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "DESCEND"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    const uint8_t type = Need(node, 0, value, kExpAny);
    value.fieldLength = value.fieldDecimals = 0;
    if (type == kExpDate || type == 7) {
      if (!IsEmptyDate(value.number)) value.number = kDescendDayBase - value.number;
    } else if (type == kExpNumeric || type == 5) {
      if (value.number != 0) value.number = -value.number;
    } else if (type == kExpChar) {
      for (char& c : value.text) c = static_cast<char>(256 - static_cast<unsigned char>(c));
    } else if (type == kExpLogical) {
      value.logical = !value.logical;
    } else {
      value.text.clear();
    }
    return true;
  }
};

class TkxUDFDTOC : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "DTOC"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxExpValue argument;
    Need(node, 0, argument, kExpDate);
    const double day = argument.number;
    double mode = 0;
    const bool storage = OptionalNumber(node, 1, mode) && std::trunc(mode) == 1;
    const TkxDBFDate& dates = GlobalDateConverter();
    if (IsEmptyDate(day)) {
      value.SetText(std::string());
    } else {
      value.SetText(storage ? dates.StorageForm(DayOf(day)) : dates.DisplayForm(DayOf(day)));
    }
    return true;
  }
};

class TkxUDFDTOS : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "DTOS"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxExpValue argument;
    Need(node, 0, argument, kExpDate);
    // Day numbers of 0 or less (a blank date field) give eight blanks.
    value.SetText(IsEmptyDate(argument.number)
                      ? std::string()
                      : GlobalDateConverter().StorageForm(DayOf(argument.number)));
    return true;
  }
};

class TkxUDFEmpty : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "EMPTY"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    const uint8_t type = Need(node, 0, value, kExpAny);
    bool empty = false;
    if (type == kExpDate) {
      // A blank date field reads as day 0: empty like the empty date.
      empty = IsEmptyDate(value.number) || value.number <= 0;
    } else if (IsNumericGroup(type)) {
      empty = value.number == 0;
    } else if (type == kExpChar) {
      empty = value.text.empty();
    } else if (type == kExpLogical) {
      empty = !value.logical;
    }
    value.SetLogical(empty);
    return true;
  }
};

class TkxUDFFloor : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "FLOOR"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    value.SetNumber(ThroughInt32(std::floor(NeedNumber(node, 0))));
    return true;
  }
};

// Evaluates only the chosen branch, into the result.
class TkxUDFIIF : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "IIF"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxExpValue condition;
    Need(node, 0, condition, kExpLogical);
    return node.GetArgument(condition.logical ? 1 : 2, value, kExpAny) != kExpMissing;
  }
};

class TkxUDFInt : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "INT"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    const double whole = std::trunc(NeedNumber(node, 0));
    value.SetNumber(whole == 0 ? 0 : whole);
    return true;
  }
};

class TkxUDFLeft : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "LEFT"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    const double n = NeedNumber(node, 1);
    if (!(n > 0.01)) {
      value.text.clear();
    } else if (const int64_t count = CountOf(n); static_cast<uint64_t>(count) < value.text.size()) {
      value.text.resize(static_cast<size_t>(count));
    }
    return true;
  }
};

class TkxUDFLen : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "LEN"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    value.SetNumber(static_cast<double>(value.text.size()));
    return true;
  }
};

class TkxUDFLower : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "LOWER"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    platform::AnsiLowerInPlace(value.text.data(), value.text.size());
    return true;
  }
};

class TkxUDFLTrim : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "LTRIM"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    TrimLeading(value.text);
    return true;
  }
};

// PADC, PADL, PADR: the fill character (third argument, a blank by default), the target
// width and the string; a string at least as wide is cut to the width.
class TkxUDFPadMain : public TkxUserDefFunction {
 public:
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxExpValue fillArgument;
    const uint8_t fillType = node.GetArgument(2, fillArgument, kExpAny);
    char fill = ' ';
    if (fillType != kExpMissing) {
      if (fillType != kExpChar || fillArgument.text.size() != 1) RaiseValueInvalid("Char");
      fill = fillArgument.text[0];
    }
    NeedText(node, 0, value);
    const size_t width = TextWidth(CountOf(NeedNumber(node, 1)));
    std::string& text = value.text;
    if (text.size() >= width) {
      text.resize(width);
    } else {
      const size_t missing = width - text.size();
      const size_t before = Before(missing);
      text.insert(0, before, fill);
      text.append(missing - before, fill);
    }
    return true;
  }

 protected:
  // How many of the `missing` fill characters go before the string.
  virtual size_t Before(size_t missing) const = 0;
};

class TkxUDFPadC : public TkxUDFPadMain {
 public:
  std::string GetName() const override { return "PADC"; }

 protected:
  size_t Before(size_t missing) const override { return missing / 2; }
};

class TkxUDFPadL : public TkxUDFPadMain {
 public:
  std::string GetName() const override { return "PADL"; }

 protected:
  size_t Before(size_t missing) const override { return missing; }
};

class TkxUDFPadR : public TkxUDFPadMain {
 public:
  std::string GetName() const override { return "PADR"; }

 protected:
  size_t Before(size_t) const override { return 0; }
};

class TkxUDFRight : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "RIGHT"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    const int64_t count = CountOf(NeedNumber(node, 1));
    if (count <= 0) {
      value.text.clear();
    } else if (static_cast<uint64_t>(count) < value.text.size()) {
      value.text.erase(0, value.text.size() - static_cast<size_t>(count));
    }
    return true;
  }
};

class TkxUDFTrim : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "TRIM"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    TrimTrailing(value.text);
    return true;
  }
};

class TkxUDFRTrim : public TkxUDFTrim {
 public:
  std::string GetName() const override { return "RTRIM"; }
};

// Four characters: the first one, then the digits of the following consonant groups.
class TkxUDFSoundex : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "SOUNDEX"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    std::string text = platform::AnsiUpper(value.text);
    if (text.empty()) {
      value.text = "0000";
      return true;
    }
    std::string code(1, text[0]);
    char last = text[0];
    for (size_t i = 1; i < text.size() && code.size() < 4; ++i) {
      const char digit = Digit(text[i]);
      if (digit != ' ' && digit != last) {
        code += digit;
        last = digit;
      }
    }
    code.append(4 - code.size(), '0');
    value.text = code;
    return true;
  }

 private:
  // B F P V: 1, C G J K Q S X Z: 2, D T: 3, L: 4, M N: 5, R: 6, everything else blank.
  static char Digit(char c) {
    static constexpr char kLetters[] = " 123 12  22455 12623 1 2 2";  // A to Z
    return c >= 'A' && c <= 'Z' ? kLetters[c - 'A'] : ' ';
  }
};

class TkxUDFSpace : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "SPACE"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    value.SetText(std::string(TextWidth(CountOf(NeedNumber(node, 0))), ' '));
    return true;
  }
};

// STR(x [, width [, decimals]]): x right-aligned in the width with the decimals
// (rounded half away from zero); asterisks when it does not fit.
class TkxUDFStr : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "STR"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxExpValue number;
    Need(node, 0, number, kExpNumeric);
    double widthArgument = 0;
    int64_t width = 0;
    int64_t decimals = 0;
    if (OptionalNumber(node, 1, widthArgument)) {
      width = CountOf(widthArgument);
      double decimalsArgument = 0;
      if (OptionalNumber(node, 2, decimalsArgument)) decimals = CountOf(decimalsArgument);
    } else {
      const TkxExpUserLink* link = node.Handler().UserLink();
      width = link ? link->StrDefaultWidth : 10;
      if (width == -1) {
        // The width (and decimals) of the numeric field the value was read from.
        width = number.fieldLength > 0 ? number.fieldLength : 10;
        decimals = number.fieldLength > 0 ? number.fieldDecimals : 0;
      }
    }
    value.SetText(Format(number.number, width, decimals));
    return true;
  }

 protected:
  static std::string Format(double number, int64_t width, int64_t decimals) {
    const size_t size = TextWidth(width);
    if (decimals < 0) decimals = 0;
    // A point and at least one digit before it come with any decimals.
    if (!std::isfinite(number) || (decimals > 0 && static_cast<uint64_t>(decimals) + 2 > size))
      return std::string(size, '*');
    std::string text = FormatFixed(number, static_cast<int>(decimals));
    if (text.size() > size) return std::string(size, '*');
    text.insert(0, size - text.size(), ' ');
    return text;
  }
};

class TkxUDFStrZero : public TkxUDFStr {
 public:
  std::string GetName() const override { return "STRZERO"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    TkxUDFStr::Execute(node, value);
    for (char& c : value.text) {
      if (c != ' ') break;
      c = '0';
    }
    return true;
  }
};

class TkxUDFSubStr : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "SUBSTR"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    const int64_t start = CountOf(NeedNumber(node, 1));
    double countArgument = 0;
    const bool counted = OptionalNumber(node, 2, countArgument);
    std::string& text = value.text;
    if (start <= 0 || static_cast<uint64_t>(start) > text.size()) {
      text.clear();
      return true;
    }
    const size_t from = static_cast<size_t>(start - 1);
    size_t count = text.size() - from;
    if (counted) {
      const int64_t wanted = CountOf(countArgument);
      if (wanted <= 0) {
        count = 0;
      } else if (static_cast<uint64_t>(wanted) < count) {
        count = static_cast<size_t>(wanted);
      }
    }
    text = text.substr(from, count);
    return true;
  }
};

class TkxUDFUpper : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "UPPER"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    platform::AnsiUpperInPlace(value.text.data(), value.text.size());
    return true;
  }
};

// VAL never fails: text that is not a number gives 0.
class TkxUDFVal : public TkxUserDefFunction {
 public:
  std::string GetName() const override { return "VAL"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    std::string text = value.text;
    TrimLeading(text);
    TrimTrailing(text);
    double number = 0;
    if (text.empty() || !ParseDecimalNumber(text, number)) number = 0;
    value.SetNumber(number);
    return true;
  }
};

// --- table functions and field variables -----------------------------------------------

// The 1-based number of the field named `name` (case and trailing blanks ignored), 0
// when there is none. Unlike the table's own lookup this reports nothing.
int32_t FieldNumberOf(const KXO_dBaseFld& table, const std::string& name) {
  const std::string wanted = UpperCase(TrimRight(name));
  for (const DbfFieldInfo& field : table.Fields()) {
    if (UpperCase(TrimRight(field.name)) == wanted) return field.number;
  }
  return 0;
}

class TkxlDBFFunction : public TkxUserDefFunction {
 public:
  explicit TkxlDBFFunction(KXO_dBaseFld& table) : table_(table) {}

 protected:
  KXO_dBaseFld& table_;
};

class TkxlDBFRecNo : public TkxlDBFFunction {
 public:
  using TkxlDBFFunction::TkxlDBFFunction;
  std::string GetName() const override { return "RECNO"; }
  bool Execute(TkxExpFunction&, TkxExpValue& value) override {
    value.SetNumber(table_.CurrentRecord());
    return true;
  }
};

class TkxlDBFDeleted : public TkxlDBFFunction {
 public:
  using TkxlDBFFunction::TkxlDBFFunction;
  std::string GetName() const override { return "DELETED"; }
  bool Execute(TkxExpFunction&, TkxExpValue& value) override {
    value.SetLogical(table_.IsDeleted());
    return true;
  }
};

class TkxlDBFBOF : public TkxlDBFFunction {
 public:
  using TkxlDBFFunction::TkxlDBFFunction;
  std::string GetName() const override { return "BOF"; }
  bool Execute(TkxExpFunction&, TkxExpValue& value) override {
    value.SetLogical(table_.Bof());
    return true;
  }
};

class TkxlDBFEOF : public TkxlDBFFunction {
 public:
  using TkxlDBFFunction::TkxlDBFFunction;
  std::string GetName() const override { return "EOF"; }
  bool Execute(TkxExpFunction&, TkxExpValue& value) override {
    value.SetLogical(table_.Eof());
    return true;
  }
};

// TYPE("name"): the field's type letter, "U" for a name that is no field.
class TkxlDBFType : public TkxlDBFFunction {
 public:
  using TkxlDBFFunction::TkxlDBFFunction;
  std::string GetName() const override { return "TYPE"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    const int32_t f = FieldNumberOf(table_, value.text);
    value.SetText(f > 0 ? std::string(1, table_.Fields()[static_cast<size_t>(f - 1)].type) : "U");
    return true;
  }
};

// LEN("name"): the field's width, 0 for a name that is no field. (The built-in LEN is
// found first, so expressions reach this one only through the link itself.)
class TkxlDBFLen : public TkxlDBFFunction {
 public:
  using TkxlDBFFunction::TkxlDBFFunction;
  std::string GetName() const override { return "LEN"; }
  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    NeedText(node, 0, value);
    const int32_t f = FieldNumberOf(table_, value.text);
    value.SetNumber(f > 0 ? table_.Fields()[static_cast<size_t>(f - 1)].length : 0);
    return true;
  }
};

class TkxlDBFFieldVars : public TkxUserDefFieldVar {
 public:
  TkxlDBFFieldVars(KXO_dBaseFld& table, const DbfFieldInfo& field)
      : TkxUserDefFieldVar(TrimRight(field.name), field.length,
                           field.type == 'C' ? 0 : field.decimals),
        table_(table),
        number_(field.number) {}

  int GetVarKind() const override { return kTableField; }

  bool Evaluate(TkxExpValue& value) override {
    const DbfFieldInfo& field = table_.Fields()[static_cast<size_t>(number_ - 1)];
    switch (field.type) {
      case 'C': {
        // The field's bytes up to a NUL, as GetField gives them, without a new string.
        const char* start = reinterpret_cast<const char*>(table_.Buffer()) + field.offset;
        const char* end = start + field.length;
        value.SetText(start, static_cast<size_t>(std::find(start, end, '\0') - start));
        return true;
      }
      case 'D':
        value.SetNumber(table_.GetDate(number_), kExpDate);
        return true;
      case 'N':
      case 'F':
        value.SetNumber(table_.GetNumber(number_));
        value.fieldLength = field.length;
        value.fieldDecimals = field.decimals;
        return true;
      case 'L':
        value.SetLogical(table_.GetLogical(number_));
        return true;
      case 'I':
      case 'B':
      case 'Y':
        if (table_.IsBinaryField(field)) {
          value.SetNumber(table_.GetNumber(number_));
          return true;
        }
        break;
      case 'M':
        ReadMemoText(value);
        return true;
      default:
        break;
    }
    // Binary memos (G, B, P, W) and other fields: the bytes as stored.
    const char* record = reinterpret_cast<const char*>(table_.Buffer());
    value.SetText(std::string(record + field.offset, static_cast<size_t>(field.length)));
    value.type = kExpOther;
    return true;
  }

 private:
  // A text memo: its text ("" for none, or when the table has no memo file).
  void ReadMemoText(TkxExpValue& value) {
    std::vector<uint8_t> data;
    table_.ReadMemo(number_, data, kMaxExpTextLength + 1);
    CheckTextLength(data.size());
    value.SetText(std::string(data.begin(), data.end()));
  }

  KXO_dBaseFld& table_;
  int32_t number_;
};

// A function the table's formula request knows.
class TkxlDBFGeneric : public TkxlDBFFunction {
 public:
  TkxlDBFGeneric(KXO_dBaseFld& table, std::string name)
      : TkxlDBFFunction(table), name_(std::move(name)) {}
  std::string GetName() const override { return name_; }

  bool Execute(TkxExpFunction& node, TkxExpValue& value) override {
    std::vector<uint8_t> buffer(TkxDBFExpUserLink::kFormulaBufferSize, 0);
    const TkxExpFunction* self = &node;
    std::memcpy(buffer.data(), &self, sizeof self);
    char type = 0;
    bool changed = false;
    if (table_.FormulaRequest("PARSE", name_, buffer, type, changed) == -1) {
      value.type = kExpNone;
      return false;
    }
    switch (type) {
      case 'C': {
        const auto end = std::find(buffer.begin(), buffer.end(), uint8_t{0});
        value.SetText(std::string(buffer.begin(), end));
        return true;
      }
      case 'D': {
        int32_t day = 0;
        std::memcpy(&day, buffer.data(), sizeof day);
        value.SetNumber(day, kExpDate);
        return true;
      }
      case 'F':
      case 'N': {
        double number = 0;
        std::memcpy(&number, buffer.data(), sizeof number);
        value.SetNumber(number);
        return true;
      }
      case 'L':
        value.SetLogical(buffer[0] != 0 &&
                         LogicalTrueChars.find(static_cast<char>(buffer[0])) != std::string::npos);
        return true;
      default:
        value.type = kExpNone;
        return false;
    }
  }

 private:
  std::string name_;
};

// The alias under which expressions may name the table: its file name without
// extension, upper case, characters other than letters, digits and "_" as "_".
std::string TableAlias(const KXO_dBaseFld& table) {
  std::string alias = UpperCase(NameWithoutExtension(table.FileName()));
  for (char& c : alias) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 128 && !std::isalnum(u) && c != '_') c = '_';
  }
  return alias;
}

std::unique_ptr<TkxFunctionReg> MakeBuiltins() {
  auto reg = std::make_unique<TkxFunctionReg>();
  reg->Add(std::make_unique<TkxUDFAllTrim>());
  reg->Add(std::make_unique<TkxUDFAsc>());
  reg->Add(std::make_unique<TkxUDFAt>());
  reg->Add(std::make_unique<TkxUDFCeiling>());
  reg->Add(std::make_unique<TkxUDFChr>());
  reg->Add(std::make_unique<TkxUDFCTOD>());
  reg->Add(std::make_unique<TkxUDFDate>());
  reg->Add(std::make_unique<TkxUDFDescend>());
  reg->Add(std::make_unique<TkxUDFDTOC>());
  reg->Add(std::make_unique<TkxUDFDTOS>());
  reg->Add(std::make_unique<TkxUDFEmpty>());
  reg->Add(std::make_unique<TkxUDFFloor>());
  reg->Add(std::make_unique<TkxUDFIIF>());
  reg->Add(std::make_unique<TkxUDFInt>());
  reg->Add(std::make_unique<TkxUDFLeft>());
  reg->Add(std::make_unique<TkxUDFLen>());
  reg->Add(std::make_unique<TkxUDFLower>());
  reg->Add(std::make_unique<TkxUDFLTrim>());
  reg->Add(std::make_unique<TkxUDFPadC>());
  reg->Add(std::make_unique<TkxUDFPadL>());
  reg->Add(std::make_unique<TkxUDFPadR>());
  reg->Add(std::make_unique<TkxUDFRight>());
  reg->Add(std::make_unique<TkxUDFRTrim>());
  reg->Add(std::make_unique<TkxUDFSoundex>());
  reg->Add(std::make_unique<TkxUDFSpace>());
  reg->Add(std::make_unique<TkxUDFStr>());
  reg->Add(std::make_unique<TkxUDFStrZero>());
  reg->Add(std::make_unique<TkxUDFSubStr>());
  reg->Add(std::make_unique<TkxUDFTrim>());
  reg->Add(std::make_unique<TkxUDFUpper>());
  reg->Add(std::make_unique<TkxUDFVal>());
  return reg;
}

}  // namespace

const TkxFunctionReg& BuiltinFunctions() {
  static const std::unique_ptr<TkxFunctionReg> registry = MakeBuiltins();
  return *registry;
}

// --- the table link --------------------------------------------------------------------

TkxDBFExpUserLink::TkxDBFExpUserLink(KXO_dBaseFld& table) : table_(table) {
  RegisterFunction(std::make_unique<TkxlDBFRecNo>(table));
  RegisterFunction(std::make_unique<TkxlDBFDeleted>(table));
  RegisterFunction(std::make_unique<TkxlDBFBOF>(table));
  RegisterFunction(std::make_unique<TkxlDBFEOF>(table));
  RegisterFunction(std::make_unique<TkxlDBFType>(table));
  RegisterFunction(std::make_unique<TkxlDBFLen>(table));
  for (const DbfFieldInfo& field : table.Fields())
    RegisterFieldVar(std::make_unique<TkxlDBFFieldVars>(table, field));
}

TkxDBFExpUserLink::~TkxDBFExpUserLink() = default;

TkxUserDefFieldVar* TkxDBFExpUserLink::FindFieldVar(const std::string& name) {
  std::string field = name;
  // alias->field reaches the lookup as "ALIAS.FIELD".
  if (const size_t dot = name.find('.'); dot != std::string::npos) {
    const std::string alias = name.substr(0, dot);
    field = name.substr(dot + 1);
    if (dot == 0 || field.empty() || field.find('.') != std::string::npos) return nullptr;
    if (alias != "FIELD" && alias != "_FIELD" && alias != TableAlias(table_)) return nullptr;
  }
  if (TkxUserDefFieldVar* found = TkxExpUserLink::FindFieldVar(field)) return found;
  // Field names are significant to ten characters: longer names (as Visual FoxPro
  // databases write them into index keys) name the field they begin with.
  if (field.size() > kFieldNameSignificant)
    return TkxExpUserLink::FindFieldVar(field.substr(0, kFieldNameSignificant));
  return nullptr;
}

TkxUserDefFunction* TkxDBFExpUserLink::FunctionNotFound(const std::string& name) {
  std::vector<uint8_t> buffer(kFormulaBufferSize, 0);
  char type = 0;
  bool changed = false;
  if (table_.FormulaRequest("FIND", name, buffer, type, changed) == -1)
    return TkxExpUserLink::FunctionNotFound(name);  // raises
  auto generic = std::make_unique<TkxlDBFGeneric>(table_, UpperCase(name));
  TkxUserDefFunction* function = generic.get();
  RegisterFunction(std::move(generic));
  return function;
}

}  // namespace tolvern
