// The node classes of a compiled expression and the helpers that the compiler, the
// evaluator and the functions share. Internal to the expression unit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kx6_sql.h"

namespace tolvern {

// Operator codes.
inline constexpr uint8_t kOpEqual = 129;
inline constexpr uint8_t kOpNotEqual = 130;
inline constexpr uint8_t kOpGreater = 131;
inline constexpr uint8_t kOpLess = 132;
inline constexpr uint8_t kOpGreaterEqual = 133;
inline constexpr uint8_t kOpLessEqual = 134;
inline constexpr uint8_t kOpInString = 135;    // $
inline constexpr uint8_t kOpExactEqual = 136;  // ==
inline constexpr uint8_t kOpPlus = 137;
inline constexpr uint8_t kOpMinus = 138;
inline constexpr uint8_t kOpTimes = 139;
inline constexpr uint8_t kOpDivide = 140;
inline constexpr uint8_t kOpPower = 141;
inline constexpr uint8_t kOpLike = 142;
inline constexpr uint8_t kOpAnd = 144;
inline constexpr uint8_t kOpOr = 145;
inline constexpr uint8_t kOpNot = 146;

// Precedence class of an operator code (2 binds tightest, 8 loosest); 0 for no operator.
int OperatorClass(uint8_t code);
// The name error messages use for an operator ("=", "in string", ".AND.", ...).
const char* OperatorDisplayName(uint8_t code);

// Raises ETolvernExpression with `pattern` filled from `args`.
[[noreturn]] void RaiseExpression(const char* pattern, const std::vector<std::string>& args = {});
// Raises "A %s value is required but invalid" with `what`.
[[noreturn]] void RaiseValueInvalid(const char* what);
// Raises the length message when `length` exceeds kMaxExpTextLength.
void CheckTextLength(size_t length);
// The name argument-type messages use for a type code: "Text", "Number", "Date",
// "Boolean", otherwise "Unknown Value".
const char* ExpTypeName(uint8_t type);

// Comparison options an operator copies from its handler when it is compiled.
struct TkxExpCompareFlags {
  bool oem = false;
  bool caseInsensitive = false;
  bool partial = true;
  char wildcard = '*';
  char singleWildcard = '?';
};

// Three-way comparison of character values for the relational operators: trailing
// blanks ignored, a right side beginning or ending with the wildcard matched as a
// pattern when partial comparison is on. Both values may be changed (trimmed, and the
// left one translated from OEM when the flag is set).
int CompareCharValues(std::string& left, std::string& right, const TkxExpCompareFlags& flags);
// LIKE: the whole left text (trailing blanks ignored) against a pattern of wildcards
// (any run) and single wildcards (one character).
bool LikeMatch(std::string& left, std::string& right, const TkxExpCompareFlags& flags);

// A parenthesised sub-expression; the inner tree is the right child.
class TkxExpContainer : public TkxExpBaseObject {
 public:
  explicit TkxExpContainer(std::unique_ptr<TkxExpBaseObject> inner);
  std::string GetExpression() const override;
  void Evaluate(TkxExpValue& value) override;
};

// A reference to a field or variable of the handler's link.
class TkxExpFieldvar : public TkxExpBaseObject {
 public:
  explicit TkxExpFieldvar(TkxUserDefFieldVar& fieldVar);
  std::string GetName() const override { return fieldVar_.GetName(); }
  int GetVarKind() const override { return fieldVar_.GetVarKind(); }
  void Evaluate(TkxExpValue& value) override;

 private:
  TkxUserDefFieldVar& fieldVar_;
};

class TkxExpOperator : public TkxExpBaseObject {
 public:
  TkxExpOperator(uint8_t code, const TkxExpCompareFlags& flags);
  std::string GetName() const override { return OperatorDisplayName(code_); }
  std::string GetExpression() const override;
  void Evaluate(TkxExpValue& value) override;

  uint8_t Code() const { return code_; }
  int Class() const { return OperatorClass(code_); }
  bool Waiting() const { return kind_ == kKindWaitingOperator; }
  // Takes the operands (either may be null: missing) and becomes bound.
  void Bind(std::unique_ptr<TkxExpBaseObject> left, std::unique_ptr<TkxExpBaseObject> right);

 private:
  void EvaluateLogical(TkxExpValue& value);
  void EvaluateNumeric(TkxExpValue& value);
  void EvaluateChar(TkxExpValue& value);

  uint8_t code_;
  TkxExpCompareFlags flags_;
  // Operand buffers, kept between evaluations so that their storage is reused.
  TkxExpValue leftValue_;
  TkxExpValue rightValue_;
};

// A sign written directly before an operand that is not a number: "-" negates the
// operand, "+" passes it on; both require a value of the numeric group.
class TkxExpSign : public TkxExpBaseObject {
 public:
  TkxExpSign(char sign, std::unique_ptr<TkxExpBaseObject> operand);
  std::string GetName() const override { return std::string(1, sign_); }
  void Evaluate(TkxExpValue& value) override;

 private:
  char sign_;
};

class TkxExpTextLit : public TkxExpBaseObject {
 public:
  explicit TkxExpTextLit(std::string text);
  // The text between delimiters that do not occur in it: "", '' or [].
  std::string GetName() const override;
  void Evaluate(TkxExpValue& value) override { value.SetText(text_); }

 private:
  std::string text_;
};

class TkxExpNumLit : public TkxExpBaseObject {
 public:
  // `source` is the literal as written (sign included); it sets length and decimals.
  TkxExpNumLit(double value, const std::string& source);
  std::string GetName() const override;
  void Evaluate(TkxExpValue& value) override { value.SetNumber(value_); }

 private:
  double value_;
};

class TkxExpDateLit : public TkxExpBaseObject {
 public:
  explicit TkxExpDateLit(int32_t day);
  std::string GetName() const override;
  void Evaluate(TkxExpValue& value) override { value.SetNumber(day_, kExpDate); }

 private:
  double day_;
};

class TkxExpBlnLit : public TkxExpBaseObject {
 public:
  explicit TkxExpBlnLit(bool value);
  std::string GetName() const override { return value_ ? ".T." : ".F."; }
  void Evaluate(TkxExpValue& value) override { value.SetLogical(value_); }

 private:
  bool value_;
};

}  // namespace tolvern
