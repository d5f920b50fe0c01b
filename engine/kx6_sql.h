// The xBase expression language: one compiled expression (TkxExpHandler), its node tree,
// the value it evaluates to, the function and field-variable objects that names resolve
// to, and the link through which names reach a table.
//
// An expression is compiled once and evaluated any number of times against whatever
// record its table holds at the moment. Compile and evaluation errors raise
// ETolvernExpression with the engine's message texts (kx6_cnst.h).
//
// Language summary:
//   literals   "text" 'text' [text]  {date in the short date format}  12  -3.5  1E3  .5
//              .T. .F. TRUE FALSE
//   operators  by binding, tightest first:  ^ **   * /   + -   = # <> != < > <= >= =< =>
//              == $ LIKE EQ LE LT GE GT   .NOT. ! NOT   .AND. AND   .OR. OR
//              Operators of one class associate to the left; NOT applies to the whole
//              relational expression on its right. A sign directly before an operand
//              negates it (-5, -AMOUNT, -(A+B)). = and the other comparisons ignore
//              trailing blanks and match a right side beginning or ending with * as a
//              pattern; == compares exactly; a $ b is true when a occurs in b; LIKE
//              matches the whole text against * (any run) and ? (one character); SQL
//              mode uses % and _ instead.
//   names      NAME or ALIAS->NAME (a field or variable of the link), NAME(args) (a
//              function: the built-ins first, then the link's functions)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_eror.h"

namespace tolvern {

// Value type codes.
inline constexpr uint8_t kExpNone = 0;     // no value (empty expression, unusable result)
inline constexpr uint8_t kExpMissing = 1;  // missing operand or argument
inline constexpr uint8_t kExpAny = 2;      // expected type of an argument: anything
inline constexpr uint8_t kExpChar = 3;
inline constexpr uint8_t kExpNumeric = 4;
inline constexpr uint8_t kExpDate = 6;
inline constexpr uint8_t kExpLogical = 8;
inline constexpr uint8_t kExpOther = 9;  // raw data of memo and other non-scalar fields

// The empty date as an evaluated value.
inline constexpr double kEmptyDate = 1.0E100;

// The longest character value an evaluation produces; a function or operator that would
// make a longer one raises "A length value is required but invalid".
inline constexpr size_t kMaxExpTextLength = 65536;
// The longest expression text Compile accepts.
inline constexpr size_t kMaxExpSourceLength = 511;

// Codes 4 to 7 form the numeric group: mutually compatible in operators and arguments.
inline bool IsNumericGroup(uint8_t type) { return type >= 4 && type <= 7; }

// The value buffer of an evaluation, held whole whatever its length.
struct TkxExpValue {
  uint8_t type = kExpNone;
  std::string text;         // character values (no terminator); raw bytes of type 9
  double number = 0;        // numeric values; dates as the Julian day (kEmptyDate: none)
  bool logical = false;     // logical values
  int32_t fieldLength = 0;  // a number read from a numeric field: that field's width
  int32_t fieldDecimals = 0;

  void SetText(std::string value);
  // The same from bytes, reusing the text's room.
  void SetText(const char* data, size_t length);
  void SetNumber(double value, uint8_t numberType = kExpNumeric);
  void SetLogical(bool value);
};

class TkxExpHandler;
class TkxExpFunction;

// ---------------------------------------------------------------------------------------
// Functions and field variables

// Base of every function an expression can call.
class TkxUserDefFunction {
 public:
  virtual ~TkxUserDefFunction() = default;
  // The name the parser matches (upper case).
  virtual std::string GetName() const { return {}; }
  // Computes the result into `value` (type included), fetching arguments through
  // `node.GetArgument`. False makes the call's type "missing" (1).
  virtual bool Execute(TkxExpFunction& node, TkxExpValue& value);
};

// Base of every field or variable an expression can name.
class TkxUserDefFieldVar {
 public:
  // Kinds answered by GetVarKind.
  static constexpr int kUserVariable = 16;
  static constexpr int kTableField = 17;

  // Keeps an upper-cased copy of `name`.
  TkxUserDefFieldVar(const std::string& name, int32_t length, int32_t decimals = 0);
  virtual ~TkxUserDefFieldVar() = default;
  virtual std::string GetName() const { return name_; }
  virtual int GetVarKind() const { return kUserVariable; }
  // The variable's current value; false makes the reference's type "missing" (1).
  virtual bool Evaluate(TkxExpValue& value);

  int32_t Length() const { return length_; }
  int32_t Decimals() const { return decimals_; }

 private:
  std::string name_;
  int32_t length_;
  int32_t decimals_;
};

// A list of named objects that owns them; lookups compare names exactly.
template <class T>
class TkxObjectReg {
 public:
  // Appends `item`; adding nothing (null) is accepted and changes nothing.
  bool Add(std::unique_ptr<T> item) {
    if (item) items_.push_back(std::move(item));
    return true;
  }
  int Count() const { return static_cast<int>(items_.size()); }
  // The item at `index` (0-based), nullptr outside the list.
  T* At(int index) const {
    return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)].get() : nullptr;
  }
  // The first item whose GetName() equals `name`, or nullptr.
  T* Find(const std::string& name) const {
    for (const auto& item : items_)
      if (item->GetName() == name) return item.get();
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

using TkxFunctionReg = TkxObjectReg<TkxUserDefFunction>;
using TkxFieldVarReg = TkxObjectReg<TkxUserDefFieldVar>;

// The 31 built-in functions, shared by every expression of the process. Built on first
// use; lives until the process ends.
const TkxFunctionReg& BuiltinFunctions();

// Where an expression finds the names that are not built-ins: functions and field
// variables registered by its owner (a table), and a last chance for unknown functions.
class TkxExpUserLink {
 public:
  TkxExpUserLink() = default;
  virtual ~TkxExpUserLink();
  TkxExpUserLink(const TkxExpUserLink&) = delete;
  TkxExpUserLink& operator=(const TkxExpUserLink&) = delete;

  // The first registered function / variable of exactly this name, or nullptr.
  virtual TkxUserDefFunction* FindFunction(const std::string& name);
  virtual TkxUserDefFieldVar* FindFieldVar(const std::string& name);
  // Called for a function name found nowhere: answers a function to use or raises.
  // The base raises "There is no function for %s".
  virtual TkxUserDefFunction* FunctionNotFound(const std::string& name);

  bool RegisterFunction(std::unique_ptr<TkxUserDefFunction> function);
  bool RegisterFieldVar(std::unique_ptr<TkxUserDefFieldVar> fieldVar);
  const TkxFunctionReg& Functions() const { return functions_; }
  const TkxFieldVarReg& FieldVars() const { return fieldVars_; }

  // The width STR uses without a width argument. -1: the width of the numeric field the
  // value was read from (10 when it was not read directly from one).
  int32_t StrDefaultWidth = 10;

 private:
  TkxFunctionReg functions_;
  TkxFieldVarReg fieldVars_;
};

// ---------------------------------------------------------------------------------------
// Nodes

// A node of a compiled expression; owns its left and right children.
class TkxExpBaseObject {
 public:
  // Node kinds.
  static constexpr uint8_t kKindPlain = 0;  // base and parenthesised sub-expression
  static constexpr uint8_t kKindOperator = 2;
  static constexpr uint8_t kKindWaitingOperator = 3;
  static constexpr uint8_t kKindFunction = 4;
  static constexpr uint8_t kKindFieldVar = 5;
  static constexpr uint8_t kKindTextLit = 6;
  static constexpr uint8_t kKindNumLit = 7;
  static constexpr uint8_t kKindDateLit = 8;
  static constexpr uint8_t kKindBlnLit = 9;
  static constexpr uint8_t kKindSign = 10;

  explicit TkxExpBaseObject(uint8_t kind = kKindPlain, uint8_t resultType = kExpNone)
      : kind_(kind), resultType_(resultType) {}
  virtual ~TkxExpBaseObject();
  TkxExpBaseObject(const TkxExpBaseObject&) = delete;
  TkxExpBaseObject& operator=(const TkxExpBaseObject&) = delete;

  // The node's own text (an operator's display name, a literal in source form, a name).
  virtual std::string GetName() const { return {}; }
  // The kind of the variable a field-variable node refers to; -1 for other nodes.
  virtual int GetVarKind() const { return -1; }
  // The text of the whole subtree; it compiles back to the same tree.
  virtual std::string GetExpression() const;
  // The names of the variables of kind `kind` in the subtree, each followed by ";".
  virtual std::string ListVars(int kind) const;
  // Evaluates the subtree into `value` (type included).
  virtual void Evaluate(TkxExpValue& value) { value.type = kExpNone; }

  uint8_t Kind() const { return kind_; }
  uint8_t ResultType() const { return resultType_; }
  int32_t Length() const { return length_; }
  int32_t Decimals() const { return decimals_; }
  const TkxExpBaseObject* Left() const { return left_.get(); }
  const TkxExpBaseObject* Right() const { return right_.get(); }

 protected:
  uint8_t kind_;
  uint8_t resultType_;
  int32_t length_ = 0;
  int32_t decimals_ = 0;
  std::unique_ptr<TkxExpBaseObject> left_;
  std::unique_ptr<TkxExpBaseObject> right_;
};

// A function call: the function object and the compiled argument trees.
class TkxExpFunction : public TkxExpBaseObject {
 public:
  TkxExpFunction(TkxExpHandler& handler, TkxUserDefFunction& function,
                 std::vector<std::unique_ptr<TkxExpBaseObject>> arguments);
  ~TkxExpFunction() override;

  std::string GetName() const override { return function_.GetName(); }
  std::string GetExpression() const override;
  std::string ListVars(int kind) const override;
  void Evaluate(TkxExpValue& value) override;

  int ArgumentCount() const { return static_cast<int>(arguments_.size()); }
  // Evaluates argument `index` (from 0) into `dest` and answers its type. A missing
  // argument answers kExpMissing and leaves `dest` untouched. Unless `expected` is
  // kExpAny, an argument of another type raises "%s needed for Argument %d of %s";
  // types of the numeric group stand in for one another.
  uint8_t GetArgument(int index, TkxExpValue& dest, uint8_t expected);

  TkxExpHandler& Handler() const { return handler_; }
  TkxUserDefFunction& Function() const { return function_; }

 private:
  TkxExpHandler& handler_;
  TkxUserDefFunction& function_;
  std::vector<std::unique_ptr<TkxExpBaseObject>> arguments_;
};

// ---------------------------------------------------------------------------------------
// The compiled expression

class TkxExpHandler {
 public:
  // Compiles `text` (when not empty) against `link` (may be null: no names then). SQL
  // mode makes "%" and "_" the wildcard pair instead of "*" and "?".
  // Compile errors raise ETolvernExpression.
  TkxExpHandler(TkxExpUserLink* link, const std::string& text, bool sqlMode = false);
  virtual ~TkxExpHandler();
  TkxExpHandler(const TkxExpHandler&) = delete;
  TkxExpHandler& operator=(const TkxExpHandler&) = delete;

  // Drops the current tree, statistics and result type and compiles `text` with the
  // flags as they are now. Text of blanks only is the empty expression. After an error
  // the handler holds no tree.
  void Compile(const std::string& text);

  // The text of the compiled tree; empty without a tree.
  virtual std::string ExpressionText() const;
  // Evaluates into `value`; false (result type 0) when there is no tree.
  virtual bool EvaluateToBuffer(TkxExpValue& value);
  // Evaluates and stores the result into `variant` by type: text, double, integer
  // Julian day (0 for the empty date), boolean. False (result type 0) for no tree or a
  // result of another type.
  virtual bool EvaluateToVariant(TkxVariant& variant);
  uint8_t ResultType() const { return resultType_; }
  bool HasRoot() const { return root_ != nullptr; }
  const TkxExpBaseObject* Root() const { return root_.get(); }
  TkxExpUserLink* UserLink() const { return link_; }
  // The names of the variables of kind `kind` in the tree, each followed by ";".
  std::string ListVars(int kind) const;

  // Operand statistics of the last compilation: the number of operands (literals,
  // function calls, field references) and the greatest length and number of decimals
  // among field references and numeric literals.
  int OperandCount() const { return operandCount_; }
  int MaxLength() const { return maxLength_; }
  int MaxDecimals() const { return maxDecimals_; }

  // Comparison options, copied into the operators when an expression is compiled.
  // OemFlag: the left side of a character comparison is converted from the OEM to the
  // ANSI code page first. CaseInsensitive: letters compare without regard to case.
  // PartialCompare: a right side that begins or ends with the wildcard is a pattern.
  bool OemFlag = false;
  bool CaseInsensitive = false;
  bool PartialCompare = true;

  char Wildcard() const { return sqlMode_ ? '%' : '*'; }
  char SingleWildcard() const { return sqlMode_ ? '_' : '?'; }

 private:
  friend class TkxExpParser;
  void CountOperand(int32_t length, int32_t decimals, bool measured);

  TkxExpUserLink* link_;
  bool sqlMode_;
  std::unique_ptr<TkxExpBaseObject> root_;
  uint8_t resultType_ = kExpNone;
  TkxExpValue scratch_;  // EvaluateToVariant's buffer, kept for its room
  int operandCount_ = 0;
  int maxLength_ = 0;
  int maxDecimals_ = 0;
};

}  // namespace tolvern
