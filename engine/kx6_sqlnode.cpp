// Expression nodes: their text forms and their evaluation, with the type rules of the
// operators and the character comparison.
#include "kx6_sqlnode.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kx6_cnst.h"
#include "kx6_glbl.h"
#include "kx6_tool.h"
#include "platform/pf_text.h"

namespace tolvern {

namespace {

// Above this exponent a power is computed with pow() instead of repeated multiplication.
constexpr double kMaxMultiplications = 1024;

void TrimTrailingBlanks(std::string& text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  text.resize(end);
}

// Bytewise three-way compare of unsigned bytes; the shorter of two texts that agree is
// smaller. Case-insensitive compare folds a-z onto A-Z only.
int PlainCompare(std::string_view left, std::string_view right, bool caseInsensitive) {
  const size_t common = std::min(left.size(), right.size());
  for (size_t i = 0; i < common; ++i) {
    unsigned char a = static_cast<unsigned char>(left[i]);
    unsigned char b = static_cast<unsigned char>(right[i]);
    if (caseInsensitive) {
      if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
    }
    if (a != b) return a < b ? -1 : 1;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

bool IsRelational(uint8_t code) {
  return (code >= kOpEqual && code <= kOpExactEqual) || code == kOpLike;
}

bool IsLogicalOperator(uint8_t code) { return code == kOpAnd || code == kOpOr || code == kOpNot; }

bool IsArithmetic(uint8_t code) { return code >= kOpPlus && code <= kOpPower; }

// The outcome of a relational operator for a three-way comparison result.
bool RelationHolds(uint8_t code, int cmp) {
  switch (code) {
    case kOpEqual:
    case kOpExactEqual:
      return cmp == 0;
    case kOpNotEqual:
      return cmp != 0;
    case kOpGreater:
      return cmp > 0;
    case kOpLess:
      return cmp < 0;
    case kOpGreaterEqual:
      return cmp >= 0;
    case kOpLessEqual:
      return cmp <= 0;
    default:
      return false;
  }
}

// Every "no date" value (the empty date, day numbers of 0 or less) as day 0, so that a
// blank date field equals CTOD("") and sorts before every date.
double NormalDay(double day) { return day >= kEmptyDate || day <= 0 ? 0 : day; }

int CompareNumbers(double left, double right) {
  if (left < right) return -1;
  if (left > right) return 1;
  return left == right ? 0 : 2;  // 2: unordered (NaN), neither equal nor less nor greater
}

bool NumericRelationHolds(uint8_t code, int cmp) {
  if (cmp == 2) return code == kOpNotEqual;
  return RelationHolds(code, cmp);
}

// left ^ right: the left value multiplied by itself (right truncated) - 1 times; a right
// value of 1 or less yields the left value itself.
double Power(double base, double exponent) {
  const double n = std::trunc(exponent);
  if (!(n > 1)) return base;
  if (n > kMaxMultiplications) return std::pow(base, n);
  double result = base;
  for (double i = 1; i < n; ++i) result *= base;
  return result;
}

}  // namespace

// --- shared helpers --------------------------------------------------------------------

void TkxExpValue::SetText(std::string value) {
  type = kExpChar;
  text = std::move(value);
  fieldLength = 0;
  fieldDecimals = 0;
}

void TkxExpValue::SetText(const char* data, size_t length) {
  type = kExpChar;
  text.assign(data, length);
  fieldLength = 0;
  fieldDecimals = 0;
}

void TkxExpValue::SetNumber(double value, uint8_t numberType) {
  type = numberType;
  number = value;
  fieldLength = 0;
  fieldDecimals = 0;
}

void TkxExpValue::SetLogical(bool value) {
  type = kExpLogical;
  logical = value;
  fieldLength = 0;
  fieldDecimals = 0;
}

int OperatorClass(uint8_t code) {
  switch (code) {
    case kOpPower:
      return 2;
    case kOpTimes:
    case kOpDivide:
      return 3;
    case kOpPlus:
    case kOpMinus:
      return 4;
    case kOpNot:
      return 6;
    case kOpAnd:
      return 7;
    case kOpOr:
      return 8;
    default:
      return IsRelational(code) ? 5 : 0;
  }
}

const char* OperatorDisplayName(uint8_t code) {
  switch (code) {
    case kOpEqual:
      return "=";
    case kOpNotEqual:
      return "#";
    case kOpGreater:
      return ">";
    case kOpLess:
      return "<";
    case kOpGreaterEqual:
      return ">=";
    case kOpLessEqual:
      return "<=";
    case kOpInString:
      return "in string";
    case kOpExactEqual:
      return "exactly equal";
    case kOpPlus:
      return "+";
    case kOpMinus:
      return "-";
    case kOpTimes:
      return "*";
    case kOpDivide:
      return "/";
    case kOpPower:
      return "^";
    case kOpLike:
      return "LIKE";
    case kOpAnd:
      return ".AND.";
    case kOpOr:
      return ".OR.";
    case kOpNot:
      return ".NOT.";
    default:
      return "";
  }
}

void RaiseExpression(const char* pattern, const std::vector<std::string>& args) {
  throw ETolvernExpression(FormatMessage(pattern, args));
}

void RaiseValueInvalid(const char* what) { RaiseExpression(kMsgValueInvalid, {what}); }

const char* ExpTypeName(uint8_t type) {
  switch (type) {
    case kExpChar:
      return "Text";
    case kExpNumeric:
      return "Number";
    case kExpDate:
      return "Date";
    case kExpLogical:
      return "Boolean";
    default:
      return "Unknown Value";
  }
}

void CheckTextLength(size_t length) {
  if (length > kMaxExpTextLength) RaiseValueInvalid("length");
}

int CompareCharValues(std::string& left, std::string& right, const TkxExpCompareFlags& flags) {
  if (flags.oem) platform::OemToAnsi(left.data(), left.size());
  TrimTrailingBlanks(left);
  TrimTrailingBlanks(right);
  const char wildcard = flags.wildcard;
  if (!flags.partial || right.empty() || (right.front() != wildcard && right.back() != wildcard))
    return PlainCompare(left, right, flags.caseInsensitive);
  if (right.size() == 1) return 0;  // the wildcard alone matches everything
  if (flags.caseInsensitive) {
    platform::AnsiUpperInPlace(left.data(), left.size());
    platform::AnsiUpperInPlace(right.data(), right.size());
  }
  const bool leading = right.front() == wildcard;
  if (leading) right.erase(0, 1);
  const bool trailing = !right.empty() && right.back() == wildcard;
  if (trailing) right.pop_back();
  int result = PlainCompare(left, right, false);
  if (result != 0) {
    const size_t at = left.find(right);
    if (at != std::string::npos && (leading || at == 0) &&
        (trailing || at + right.size() == left.size())) {
      result = 0;
    }
  }
  return result;
}

bool LikeMatch(std::string& left, std::string& right, const TkxExpCompareFlags& flags) {
  if (flags.oem) platform::OemToAnsi(left.data(), left.size());
  TrimTrailingBlanks(left);
  TrimTrailingBlanks(right);
  if (flags.caseInsensitive) {
    platform::AnsiUpperInPlace(left.data(), left.size());
    platform::AnsiUpperInPlace(right.data(), right.size());
  }
  // Greedy matching that returns to the last wildcard on a mismatch.
  size_t t = 0, p = 0;
  size_t starP = std::string::npos, starT = 0;
  while (t < left.size()) {
    if (p < right.size() && right[p] == flags.wildcard) {
      starP = p++;
      starT = t;
    } else if (p < right.size() && (right[p] == flags.singleWildcard || right[p] == left[t])) {
      ++p;
      ++t;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < right.size() && right[p] == flags.wildcard) ++p;
  return p == right.size();
}

// --- base, container, field variable ---------------------------------------------------

TkxExpBaseObject::~TkxExpBaseObject() = default;

std::string TkxExpBaseObject::GetExpression() const {
  std::string text;
  if (left_) text += left_->GetExpression();
  text += GetName();
  if (right_) text += right_->GetExpression();
  return text;
}

std::string TkxExpBaseObject::ListVars(int kind) const {
  std::string list;
  if (left_) list += left_->ListVars(kind);
  if (GetVarKind() == kind) list += GetName() + ";";
  if (right_) list += right_->ListVars(kind);
  return list;
}

TkxExpContainer::TkxExpContainer(std::unique_ptr<TkxExpBaseObject> inner)
    : TkxExpBaseObject(kKindPlain, inner ? inner->ResultType() : kExpNone) {
  right_ = std::move(inner);
}

std::string TkxExpContainer::GetExpression() const {
  std::string text = "(";
  if (right_) text += right_->GetExpression();
  text += ")";
  return text;
}

void TkxExpContainer::Evaluate(TkxExpValue& value) {
  if (!right_) {
    value.type = kExpMissing;
    return;
  }
  right_->Evaluate(value);
  resultType_ = value.type;
}

TkxExpFieldvar::TkxExpFieldvar(TkxUserDefFieldVar& fieldVar)
    : TkxExpBaseObject(kKindFieldVar), fieldVar_(fieldVar) {
  length_ = fieldVar.Length();
  decimals_ = fieldVar.Decimals();
}

void TkxExpFieldvar::Evaluate(TkxExpValue& value) {
  if (!fieldVar_.Evaluate(value)) value.type = kExpMissing;
  resultType_ = value.type;
}

// --- literals --------------------------------------------------------------------------

TkxExpTextLit::TkxExpTextLit(std::string text)
    : TkxExpBaseObject(kKindTextLit, kExpChar), text_(std::move(text)) {
  length_ = static_cast<int32_t>(text_.size());
}

std::string TkxExpTextLit::GetName() const {
  const char* delimiters = text_.find('"') == std::string::npos    ? "\"\""
                           : text_.find('\'') == std::string::npos ? "''"
                                                                   : "[]";
  std::string text(1, delimiters[0]);
  text += text_;
  text += delimiters[1];
  return text;
}

TkxExpNumLit::TkxExpNumLit(double value, const std::string& source)
    : TkxExpBaseObject(kKindNumLit, kExpNumeric), value_(value) {
  length_ = static_cast<int32_t>(source.size());
  const size_t point = source.find('.');
  decimals_ = point == std::string::npos ? 0 : static_cast<int32_t>(source.size() - point - 1);
}

std::string TkxExpNumLit::GetName() const {
  // The value with the literal's decimals, as wide as 20 characters; a value this form
  // cannot give back (1E-9, 1E300, infinity) in its shortest exact form instead.
  std::string text;
  if (std::isfinite(value_)) {
    char fixed[32];
    const auto [fixedEnd, fixedEc] =
        std::to_chars(fixed, fixed + sizeof fixed, value_, std::chars_format::fixed, decimals_);
    if (fixedEc == std::errc() && fixedEnd - fixed <= 20) {
      text.assign(fixed, fixedEnd);
      double back = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
      if (ec == std::errc() && end == text.data() + text.size() && back == value_) return text;
    }
  } else {
    return value_ > 0 ? "1E999" : "-1E999";
  }
  std::array<char, 32> shortest;
  const auto [end, ec] = std::to_chars(shortest.data(), shortest.data() + shortest.size(), value_);
  return ec == std::errc() ? std::string(shortest.data(), end) : std::string("0");
}

TkxExpDateLit::TkxExpDateLit(int32_t day)
    : TkxExpBaseObject(kKindDateLit, kExpDate), day_(static_cast<double>(day)) {}

std::string TkxExpDateLit::GetName() const {
  std::string text = "{";
  text += GlobalDateConverter().DisplayForm(static_cast<int32_t>(day_));
  text += "}";
  return text;
}

TkxExpBlnLit::TkxExpBlnLit(bool value)
    : TkxExpBaseObject(kKindBlnLit, kExpLogical), value_(value) {}

// --- sign ------------------------------------------------------------------------------

TkxExpSign::TkxExpSign(char sign, std::unique_ptr<TkxExpBaseObject> operand)
    : TkxExpBaseObject(kKindSign, kExpNumeric), sign_(sign) {
  right_ = std::move(operand);
}

void TkxExpSign::Evaluate(TkxExpValue& value) {
  value.type = kExpMissing;
  right_->Evaluate(value);
  if (!IsNumericGroup(value.type)) RaiseValueInvalid("number");
  if (sign_ == '-') {
    value.number = -value.number;
    value.fieldLength = 0;
    value.fieldDecimals = 0;
  }
  resultType_ = value.type;
}

// --- operators -------------------------------------------------------------------------

TkxExpOperator::TkxExpOperator(uint8_t code, const TkxExpCompareFlags& flags)
    : TkxExpBaseObject(kKindWaitingOperator,
                       IsRelational(code) || IsLogicalOperator(code) ? kExpLogical : kExpNone),
      code_(code),
      flags_(flags) {}

void TkxExpOperator::Bind(std::unique_ptr<TkxExpBaseObject> left,
                          std::unique_ptr<TkxExpBaseObject> right) {
  left_ = std::move(left);
  right_ = std::move(right);
  kind_ = kKindOperator;
}

std::string TkxExpOperator::GetExpression() const {
  // Written so that the text compiles back: dotted keywords need blanks around them
  // ("A.AND.B" would be one name), the extensions their source spelling.
  std::string symbol;
  switch (code_) {
    case kOpAnd:
      symbol = " .AND. ";
      break;
    case kOpOr:
      symbol = " .OR. ";
      break;
    case kOpNot:
      symbol = ".NOT. ";
      break;
    case kOpInString:
      symbol = "$";
      break;
    case kOpExactEqual:
      symbol = "==";
      break;
    case kOpLike:
      symbol = " LIKE ";
      break;
    default:
      symbol = GetName();
      break;
  }
  std::string left = left_ ? left_->GetExpression() : std::string();
  std::string right = right_ ? right_->GetExpression() : std::string();
  // Symbols that meet an operand's own symbol are set apart by a blank, so that they
  // cannot merge into another operator ("<" and "=" would read back as "<=").
  auto isSymbol = [](char c) { return c != 0 && std::strchr("=<>!#*/^$+-", c) != nullptr; };
  if (!left.empty() && isSymbol(left.back()) && isSymbol(symbol.front())) left += ' ';
  if (!right.empty() && isSymbol(right.front()) && isSymbol(symbol.back())) {
    right.insert(0, 1, ' ');
  }
  return left + symbol + right;
}

void TkxExpOperator::Evaluate(TkxExpValue& value) {
  if (!right_ || (!left_ && code_ != kOpNot))
    RaiseExpression(kMsgTargetMissing, {OperatorDisplayName(code_)});
  leftValue_.type = kExpNone;
  if (left_) {
    leftValue_.type = kExpMissing;
    left_->Evaluate(leftValue_);
  }
  rightValue_.type = kExpMissing;
  right_->Evaluate(rightValue_);

  const uint8_t leftType = leftValue_.type;
  const uint8_t rightType = rightValue_.type;
  if (code_ == kOpNot) {
    if (rightType != kExpLogical) RaiseValueInvalid("boolean");
  } else if (leftType != rightType && !(IsNumericGroup(leftType) && IsNumericGroup(rightType))) {
    RaiseExpression(kMsgSidesMismatch);
  }

  if (rightType == kExpLogical) {
    EvaluateLogical(value);
  } else if (IsNumericGroup(rightType)) {
    EvaluateNumeric(value);
  } else if (rightType == kExpChar) {
    EvaluateChar(value);
  } else {
    RaiseValueInvalid("assigned");
  }
  resultType_ = value.type;
}

void TkxExpOperator::EvaluateLogical(TkxExpValue& value) {
  const bool left = leftValue_.logical;
  const bool right = rightValue_.logical;
  switch (code_) {
    case kOpEqual:
    case kOpExactEqual:
      value.SetLogical(left == right);
      return;
    case kOpNotEqual:
      value.SetLogical(left != right);
      return;
    case kOpAnd:
      value.SetLogical(left && right);
      return;
    case kOpOr:
      value.SetLogical(left || right);
      return;
    case kOpNot:
      value.SetLogical(!right);
      return;
    default:
      RaiseValueInvalid(IsArithmetic(code_) ? "number" : "assigned");
  }
}

void TkxExpOperator::EvaluateNumeric(TkxExpValue& value) {
  double left = leftValue_.number;
  double right = rightValue_.number;
  const uint8_t type = rightValue_.type;
  switch (code_) {
    case kOpEqual:
    case kOpNotEqual:
    case kOpGreater:
    case kOpLess:
    case kOpGreaterEqual:
    case kOpLessEqual:
    case kOpExactEqual:
      if (leftValue_.type == kExpDate && type == kExpDate) {
        left = NormalDay(left);
        right = NormalDay(right);
      }
      value.SetLogical(NumericRelationHolds(code_, CompareNumbers(left, right)));
      return;
    case kOpPlus:
      value.SetNumber(left + right, type);
      return;
    case kOpMinus:
      value.SetNumber(left - right, type);
      return;
    case kOpTimes:
      value.SetNumber(left * right, type);
      return;
    case kOpDivide:
      value.SetNumber(left / right, type);
      return;
    case kOpPower:
      value.SetNumber(Power(left, right), type);
      return;
    default:
      RaiseValueInvalid("assigned");
  }
}

void TkxExpOperator::EvaluateChar(TkxExpValue& value) {
  std::string& left = leftValue_.text;
  std::string& right = rightValue_.text;
  switch (code_) {
    case kOpEqual:
    case kOpNotEqual:
    case kOpGreater:
    case kOpLess:
    case kOpGreaterEqual:
    case kOpLessEqual:
      value.SetLogical(RelationHolds(code_, CompareCharValues(left, right, flags_)));
      return;
    case kOpExactEqual:
      value.SetLogical(left == right);
      return;
    case kOpInString:
      value.SetLogical(!left.empty() && right.find(left) != std::string::npos);
      return;
    case kOpLike:
      value.SetLogical(LikeMatch(left, right, flags_));
      return;
    case kOpPlus:
      CheckTextLength(left.size() + right.size());
      value.type = kExpChar;
      value.text.assign(left);
      value.text.append(right);
      value.fieldLength = value.fieldDecimals = 0;
      return;
    case kOpMinus: {
      // The left side's trailing blanks (never its first character) move to the end.
      CheckTextLength(left.size() + right.size());
      size_t keep = left.size();
      while (keep > 1 && left[keep - 1] == ' ') --keep;
      value.type = kExpChar;
      value.text.assign(left, 0, keep);
      value.text.append(right);
      value.text.append(left.size() - keep, ' ');
      value.fieldLength = value.fieldDecimals = 0;
      return;
    }
    default:
      RaiseValueInvalid("assigned");
  }
}

}  // namespace tolvern
