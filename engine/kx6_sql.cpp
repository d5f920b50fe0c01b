// The expression compiler: tokenizer, parser with precedence folding, name resolution,
// and the handler that owns the compiled tree.
#include "kx6_sql.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "kx6_cnst.h"
#include "kx6_glbl.h"
#include "kx6_sqlnode.h"
#include "kx6_tool.h"

namespace tolvern {

namespace {

// Tokens: 0-255 are source characters; the values below stand for the rewritten ones.
// Source characters inside literals always stay characters, so a quote, bracket or comma
// inside a literal can never be mistaken for syntax.
using Token = uint16_t;
constexpr Token kTokSeparator = 256;  // blank (and any control character) outside literals
constexpr Token kTokArgSeparator = 257;
constexpr Token kTokOpen = 258;
constexpr Token kTokClose = 259;
constexpr Token kTokTextOpen = 260;
constexpr Token kTokTextClose = 261;
constexpr Token kTokDateOpen = 262;
constexpr Token kTokDateClose = 263;
constexpr Token kTokOperator = 512;  // + operator code

bool IsChar(Token t) { return t < 256; }
bool IsOperatorToken(Token t) { return t >= kTokOperator; }
uint8_t OperatorOf(Token t) { return static_cast<uint8_t>(t - kTokOperator); }
Token OperatorToken(uint8_t code) { return static_cast<Token>(kTokOperator + code); }

bool IsDigit(Token t) { return t >= '0' && t <= '9'; }
bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.' || c >= 128;
}

// True when the tokens end with a number item that stops at its exponent letter
// ("1E", "2.5e", ".5E"), so that a sign that follows belongs to the exponent.
bool EndsWithExponentMark(const std::vector<Token>& out) {
  size_t start = out.size();
  while (start > 0 && IsChar(out[start - 1])) --start;
  if (out.size() - start < 2 || (out.back() != 'E' && out.back() != 'e')) return false;
  bool digits = false;
  bool point = false;
  for (size_t i = start; i + 1 < out.size(); ++i) {
    if (IsDigit(out[i])) {
      digits = true;
    } else if (out[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

// Rewrites the source into tokens: literals delimited by markers, blanks, commas and
// parentheses into their tokens, operators (two-character forms merged) into operator
// tokens, everything else copied.
std::vector<Token> Tokenize(const std::string& source) {
  std::vector<Token> out;
  out.reserve(source.size() + 2);
  char previous = 0;
  char closer = 0;
  Token closeMarker = 0;
  bool inLiteral = false;

  // Replaces the operator written for the previous character by a two-character form.
  auto replaceOperator = [&out](Token replacement) {
    if (!out.empty() && IsOperatorToken(out.back())) out.pop_back();
    out.push_back(replacement);
  };
  auto op = [](uint8_t code) { return OperatorToken(code); };

  for (const char c : source) {
    if (inLiteral) {
      if (c == closer) {
        out.push_back(closeMarker);
        inLiteral = false;
      } else {
        out.push_back(static_cast<unsigned char>(c));
      }
      previous = c;
      continue;
    }
    switch (c) {
      case '{':
        out.push_back(kTokDateOpen);
        inLiteral = true;
        closer = '}';
        closeMarker = kTokDateClose;
        break;
      case '[':
        out.push_back(kTokTextOpen);
        inLiteral = true;
        closer = ']';
        closeMarker = kTokTextClose;
        break;
      case '"':
      case '\'':
      case ']':
      case '}':
        out.push_back(kTokTextOpen);
        inLiteral = true;
        closer = c;
        closeMarker = kTokTextClose;
        break;
      case ',':
        out.push_back(kTokArgSeparator);
        break;
      case '(':
        out.push_back(kTokOpen);
        break;
      case ')':
        out.push_back(kTokClose);
        break;
      case '+':
      case '-':
        if (EndsWithExponentMark(out)) {
          out.push_back(static_cast<unsigned char>(c));  // the sign of an exponent: 1E-5
        } else {
          out.push_back(op(c == '+' ? kOpPlus : kOpMinus));
        }
        break;
      case '*':
        if (previous == '*') {
          replaceOperator(op(kOpPower));
        } else {
          out.push_back(op(kOpTimes));
        }
        break;
      case '/':
        out.push_back(op(kOpDivide));
        break;
      case '^':
        out.push_back(op(kOpPower));
        break;
      case '!':
        out.push_back(op(kOpNot));
        break;
      case '#':
        out.push_back(op(kOpNotEqual));
        break;
      case '$':
        out.push_back(op(kOpInString));
        break;
      case '=':
        if (previous == '!') {
          replaceOperator(op(kOpNotEqual));
        } else if (previous == '<') {
          replaceOperator(op(kOpLessEqual));
        } else if (previous == '=') {
          replaceOperator(op(kOpExactEqual));
        } else if (previous == '>') {
          replaceOperator(op(kOpGreaterEqual));
        } else {
          out.push_back(op(kOpEqual));
        }
        break;
      case '<':
        if (previous == '=') {
          replaceOperator(op(kOpLessEqual));
        } else {
          out.push_back(op(kOpLess));
        }
        break;
      case '>':
        if (previous == '<') {
          replaceOperator(op(kOpNotEqual));
        } else if (previous == '=') {
          replaceOperator(op(kOpGreaterEqual));
        } else if (previous == '-') {
          replaceOperator('.');  // alias->field reads as one name "alias.field"
        } else {
          out.push_back(op(kOpGreater));
        }
        break;
      default:
        if (static_cast<unsigned char>(c) <= ' ') {
          out.push_back(kTokSeparator);
        } else {
          out.push_back(static_cast<unsigned char>(c));
        }
        break;
    }
    previous = c;
  }
  return out;
}

enum class Keyword { kNone, kTrue, kFalse, kOperator, kPos };

// The keyword an item names: T, F, TRUE, FALSE, EQ, LE, LT, GE, GT, AND, OR, NOT, LIKE,
// POS, with or without surrounding periods. Single characters are never keywords, so T
// and F alone are names.
Keyword FindKeyword(std::string name, uint8_t& code) {
  if (name.size() < 2) return Keyword::kNone;
  if (name.front() == '.') name.erase(0, 1);
  if (!name.empty() && name.back() == '.') name.pop_back();
  static const std::pair<const char*, uint8_t> kOperators[] = {
      {"EQ", kOpEqual},        {"LE", kOpLessEqual}, {"LT", kOpLess},
      {"GE", kOpGreaterEqual}, {"GT", kOpGreater},   {"AND", kOpAnd},
      {"OR", kOpOr},           {"NOT", kOpNot},      {"LIKE", kOpLike}};
  if (name == "T" || name == "TRUE") return Keyword::kTrue;
  if (name == "F" || name == "FALSE") return Keyword::kFalse;
  if (name == "POS") return Keyword::kPos;
  for (const auto& [word, op] : kOperators) {
    if (name == word) {
      code = op;
      return Keyword::kOperator;
    }
  }
  return Keyword::kNone;
}

[[noreturn]] void CannotEvaluate() { RaiseExpression(kMsgCannotEvaluate); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Parser

// Reads a token string into nodes for one handler. Sub-expressions in parentheses and
// function arguments are parsed recursively over their token ranges.
class TkxExpParser {
 public:
  TkxExpParser(TkxExpHandler& handler, std::vector<Token> tokens)
      : handler_(handler), tokens_(std::move(tokens)) {
    flags_.oem = handler.OemFlag;
    flags_.caseInsensitive = handler.CaseInsensitive;
    flags_.partial = handler.PartialCompare;
    flags_.wildcard = handler.Wildcard();
    flags_.singleWildcard = handler.SingleWildcard();
  }

  // The tree of the whole token string; null when it holds no item at all.
  std::unique_ptr<TkxExpBaseObject> ParseAll() { return ParseRange(0, tokens_.size(), true); }

 private:
  using NodeList = std::vector<std::unique_ptr<TkxExpBaseObject>>;

  std::unique_ptr<TkxExpBaseObject> ParseRange(size_t begin, size_t end, bool allowEmpty);
  // One operand or keyword operator starting at `pos` (not a separator, not an operator
  // token); advances `pos` past it.
  std::unique_ptr<TkxExpBaseObject> ParseItem(size_t& pos, size_t end);
  // A sign at `pos` and the operand it applies to.
  std::unique_ptr<TkxExpBaseObject> ParseSigned(size_t& pos, size_t end);
  std::unique_ptr<TkxExpBaseObject> ParseFunction(const std::string& name, size_t& pos, size_t end);
  std::unique_ptr<TkxExpBaseObject> ParseLiteral(size_t& pos, size_t end);
  std::unique_ptr<TkxExpBaseObject> MakeName(const std::string& name);
  std::unique_ptr<TkxExpBaseObject> MakeNumber(const std::string& text);
  // The index of the parenthesis that closes the one before `pos`; raises when none.
  size_t MatchingClose(size_t pos, size_t end) const;
  // Collects the characters of an item at `pos`: upper-cased, ending before the first
  // token that is not a character. An item that begins with "." also ends after the next
  // "."; `dotEnded` tells that it did.
  std::string CollectItem(size_t& pos, size_t end, bool& dotEnded) const;
  TkxUserDefFunction& ResolveFunction(const std::string& name);
  static void Fold(NodeList& list);

  TkxExpHandler& handler_;
  std::vector<Token> tokens_;
  TkxExpCompareFlags flags_;
};

std::unique_ptr<TkxExpBaseObject> TkxExpParser::ParseRange(size_t begin, size_t end,
                                                           bool allowEmpty) {
  NodeList list;
  size_t pos = begin;
  while (pos < end) {
    const Token token = tokens_[pos];
    if (token == kTokSeparator) {
      ++pos;
      continue;
    }
    if (IsOperatorToken(token)) {
      const uint8_t code = OperatorOf(token);
      const bool afterOperand =
          !list.empty() && list.back()->Kind() != TkxExpBaseObject::kKindWaitingOperator;
      if ((code == kOpPlus || code == kOpMinus) && !afterOperand) {
        list.push_back(ParseSigned(pos, end));
      } else {
        list.push_back(std::make_unique<TkxExpOperator>(code, flags_));
        ++pos;
      }
      continue;
    }
    if (token == kTokClose || token == kTokArgSeparator || token == kTokTextClose ||
        token == kTokDateClose) {
      CannotEvaluate();  // no opening counterpart at this level
    }
    list.push_back(ParseItem(pos, end));
  }
  if (list.empty()) {
    if (allowEmpty) return nullptr;
    CannotEvaluate();
  }
  Fold(list);
  if (list.size() != 1) CannotEvaluate();
  return std::move(list.front());
}

void TkxExpParser::Fold(NodeList& list) {
  for (int cls = 2; cls <= 8 && list.size() > 1; ++cls) {
    for (;;) {
      size_t at = 0;
      while (at < list.size() && !(list[at]->Kind() == TkxExpBaseObject::kKindWaitingOperator &&
                                   static_cast<TkxExpOperator&>(*list[at]).Class() == cls)) {
        ++at;
      }
      if (at == list.size()) break;
      auto& op = static_cast<TkxExpOperator&>(*list[at]);
      std::unique_ptr<TkxExpBaseObject> right;
      if (at + 1 < list.size()) {
        right = std::move(list[at + 1]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(at + 1));
      }
      std::unique_ptr<TkxExpBaseObject> left;
      if (op.Code() != kOpNot && at > 0) {
        left = std::move(list[at - 1]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(at - 1));
      }
      op.Bind(std::move(left), std::move(right));
      if (list.size() == 1) return;
    }
  }
}

std::string TkxExpParser::CollectItem(size_t& pos, size_t end, bool& dotEnded) const {
  std::string item;
  dotEnded = false;
  const bool dotted =
      pos < end && tokens_[pos] == '.' && !(pos + 1 < end && IsDigit(tokens_[pos + 1]));
  while (pos < end && IsChar(tokens_[pos])) {
    const char c = static_cast<char>(tokens_[pos]);
    item += c;
    ++pos;
    if (dotted && c == '.' && item.size() > 1) {
      dotEnded = true;  // the closing period of .AND. and the like separates
      break;
    }
  }
  return UpperCase(std::move(item));
}

size_t TkxExpParser::MatchingClose(size_t pos, size_t end) const {
  int depth = 1;
  for (size_t i = pos; i < end; ++i) {
    if (tokens_[i] == kTokOpen) ++depth;
    if (tokens_[i] == kTokClose && --depth == 0) return i;
  }
  RaiseExpression(kMsgMissingParen);
}

std::unique_ptr<TkxExpBaseObject> TkxExpParser::ParseItem(size_t& pos, size_t end) {
  const Token token = tokens_[pos];
  if (token == kTokOpen) {
    const size_t close = MatchingClose(pos + 1, end);
    auto inner = ParseRange(pos + 1, close, false);
    pos = close + 1;
    return std::make_unique<TkxExpContainer>(std::move(inner));
  }
  if (token == kTokTextOpen || token == kTokDateOpen) return ParseLiteral(pos, end);

  bool dotEnded = false;
  const std::string item = CollectItem(pos, end, dotEnded);
  const unsigned char first = static_cast<unsigned char>(item[0]);
  uint8_t code = 0;
  if (!dotEnded) {
    // A name directly followed by "(" calls a function. Other programs also write blanks
    // in between ("UPPER (NAME)"), which then must not separate a keyword operator from
    // its parenthesised operand ("NOT (A)").
    size_t next = pos;
    while (next < end && tokens_[next] == kTokSeparator) ++next;
    if (next < end && tokens_[next] == kTokOpen &&
        (next == pos ||
         (IsNameStart(first) && first != '.' && FindKeyword(item, code) == Keyword::kNone))) {
      pos = next;
      return ParseFunction(item, pos, end);
    }
  }
  if (IsDigit(first) ||
      (first == '.' && item.size() > 1 && IsDigit(static_cast<unsigned char>(item[1])))) {
    return MakeNumber(item);
  }
  if (!IsNameStart(first)) CannotEvaluate();  // a stray character such as "@" or "?"

  switch (FindKeyword(item, code)) {
    case Keyword::kTrue:
    case Keyword::kFalse:
      handler_.CountOperand(0, 0, false);
      return std::make_unique<TkxExpBlnLit>(FindKeyword(item, code) == Keyword::kTrue);
    case Keyword::kOperator:
      return std::make_unique<TkxExpOperator>(code, flags_);
    case Keyword::kPos:
      CannotEvaluate();
    case Keyword::kNone:
      break;
  }
  return MakeName(item);
}

std::unique_ptr<TkxExpBaseObject> TkxExpParser::ParseSigned(size_t& pos, size_t end) {
  const char sign = OperatorOf(tokens_[pos]) == kOpMinus ? '-' : '+';
  ++pos;
  if (pos >= end) CannotEvaluate();
  const Token next = tokens_[pos];
  // A sign directly before a number is part of the literal.
  if (IsDigit(next) || (next == '.' && pos + 1 < end && IsDigit(tokens_[pos + 1]))) {
    bool dotEnded = false;
    const std::string item = CollectItem(pos, end, dotEnded);
    if (pos < end && tokens_[pos] == kTokOpen) CannotEvaluate();
    return MakeNumber(std::string(1, sign) + item);
  }
  std::unique_ptr<TkxExpBaseObject> operand;
  if (IsOperatorToken(next) && (OperatorOf(next) == kOpPlus || OperatorOf(next) == kOpMinus)) {
    operand = ParseSigned(pos, end);
  } else if (IsChar(next) || next == kTokOpen || next == kTokTextOpen || next == kTokDateOpen) {
    operand = ParseItem(pos, end);
  }
  // Nothing an operand could start with (a blank, an operator, the end) follows.
  if (!operand || operand->Kind() == TkxExpBaseObject::kKindWaitingOperator) CannotEvaluate();
  return std::make_unique<TkxExpSign>(sign, std::move(operand));
}

std::unique_ptr<TkxExpBaseObject> TkxExpParser::ParseLiteral(size_t& pos, size_t end) {
  const bool isDate = tokens_[pos] == kTokDateOpen;
  const Token closeMarker = isDate ? kTokDateClose : kTokTextClose;
  std::string text;
  ++pos;
  while (pos < end && tokens_[pos] != closeMarker) {
    text += static_cast<char>(tokens_[pos]);  // only characters occur inside literals
    ++pos;
  }
  if (pos < end) ++pos;  // an unterminated literal runs to the end
  handler_.CountOperand(0, 0, false);
  if (!isDate) return std::make_unique<TkxExpTextLit>(std::move(text));
  try {
    return std::make_unique<TkxExpDateLit>(GlobalDateConverter().TextToDay(text));
  } catch (const EConvertError& e) {
    throw ETolvernExpression(e.what());
  }
}

std::unique_ptr<TkxExpBaseObject> TkxExpParser::MakeNumber(const std::string& text) {
  double value = 0;
  if (!ParseDecimalNumber(text, value)) CannotEvaluate();
  auto node = std::make_unique<TkxExpNumLit>(value, text);
  handler_.CountOperand(node->Length(), node->Decimals(), true);
  return node;
}

std::unique_ptr<TkxExpBaseObject> TkxExpParser::MakeName(const std::string& name) {
  TkxExpUserLink* link = handler_.UserLink();
  if (!link) RaiseExpression(kMsgUnknownName, {name});
  TkxUserDefFieldVar* fieldVar = link->FindFieldVar(name);
  if (!fieldVar) RaiseExpression(kMsgNoFunction, {name});
  auto node = std::make_unique<TkxExpFieldvar>(*fieldVar);
  handler_.CountOperand(node->Length(), node->Decimals(), true);
  return node;
}

TkxUserDefFunction& TkxExpParser::ResolveFunction(const std::string& name) {
  if (TkxUserDefFunction* builtin = BuiltinFunctions().Find(name)) return *builtin;
  TkxExpUserLink* link = handler_.UserLink();
  if (!link) RaiseExpression(kMsgNoFunction, {name});
  if (TkxUserDefFunction* function = link->FindFunction(name)) return *function;
  TkxUserDefFunction* supplied = link->FunctionNotFound(name);
  if (!supplied) RaiseExpression(kMsgNoFunction, {name});
  return *supplied;
}

std::unique_ptr<TkxExpBaseObject> TkxExpParser::ParseFunction(const std::string& name, size_t& pos,
                                                              size_t end) {
  const size_t close = MatchingClose(pos + 1, end);
  TkxUserDefFunction& function = ResolveFunction(name);

  // Arguments are split at the separators outside nested parentheses and literals.
  std::vector<std::pair<size_t, size_t>> ranges;
  size_t start = pos + 1;
  int depth = 0;
  for (size_t i = pos + 1; i < close; ++i) {
    const Token t = tokens_[i];
    if (t == kTokOpen || t == kTokTextOpen || t == kTokDateOpen) ++depth;
    if (t == kTokClose || t == kTokTextClose || t == kTokDateClose) --depth;
    if (t == kTokArgSeparator && depth <= 0) {
      ranges.emplace_back(start, i);
      start = i + 1;
    }
  }
  ranges.emplace_back(start, close);

  std::vector<std::unique_ptr<TkxExpBaseObject>> arguments;
  const bool noArguments =
      ranges.size() == 1 &&
      std::all_of(tokens_.begin() + static_cast<std::ptrdiff_t>(ranges[0].first),
                  tokens_.begin() + static_cast<std::ptrdiff_t>(ranges[0].second),
                  [](Token t) { return t == kTokSeparator; });
  if (!noArguments) {
    for (const auto& [from, to] : ranges) arguments.push_back(ParseRange(from, to, false));
  }
  pos = close + 1;
  handler_.CountOperand(0, 0, false);
  return std::make_unique<TkxExpFunction>(handler_, function, std::move(arguments));
}

// ---------------------------------------------------------------------------------------
// Functions, field variables, links

bool TkxUserDefFunction::Execute(TkxExpFunction&, TkxExpValue& value) {
  value.type = kExpMissing;
  return false;
}

TkxUserDefFieldVar::TkxUserDefFieldVar(const std::string& name, int32_t length, int32_t decimals)
    : name_(UpperCase(name)), length_(length), decimals_(decimals) {}

bool TkxUserDefFieldVar::Evaluate(TkxExpValue& value) {
  value.type = kExpMissing;
  return false;
}

TkxExpUserLink::~TkxExpUserLink() = default;

TkxUserDefFunction* TkxExpUserLink::FindFunction(const std::string& name) {
  return functions_.Find(name);
}

TkxUserDefFieldVar* TkxExpUserLink::FindFieldVar(const std::string& name) {
  return fieldVars_.Find(name);
}

TkxUserDefFunction* TkxExpUserLink::FunctionNotFound(const std::string& name) {
  RaiseExpression(kMsgNoFunction, {name});
}

bool TkxExpUserLink::RegisterFunction(std::unique_ptr<TkxUserDefFunction> function) {
  return functions_.Add(std::move(function));
}

bool TkxExpUserLink::RegisterFieldVar(std::unique_ptr<TkxUserDefFieldVar> fieldVar) {
  return fieldVars_.Add(std::move(fieldVar));
}

TkxExpFunction::TkxExpFunction(TkxExpHandler& handler, TkxUserDefFunction& function,
                               std::vector<std::unique_ptr<TkxExpBaseObject>> arguments)
    : TkxExpBaseObject(kKindFunction),
      handler_(handler),
      function_(function),
      arguments_(std::move(arguments)) {}

TkxExpFunction::~TkxExpFunction() = default;

std::string TkxExpFunction::GetExpression() const {
  std::string text = GetName() + "(";
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (i > 0) text += ",";
    text += arguments_[i]->GetExpression();
  }
  return text + ")";
}

std::string TkxExpFunction::ListVars(int kind) const {
  std::string list;
  for (const auto& argument : arguments_) list += argument->ListVars(kind);
  return list;
}

void TkxExpFunction::Evaluate(TkxExpValue& value) {
  if (!function_.Execute(*this, value)) value.type = kExpMissing;
  resultType_ = value.type;
}

uint8_t TkxExpFunction::GetArgument(int index, TkxExpValue& dest, uint8_t expected) {
  if (index < 0 || index >= ArgumentCount()) return kExpMissing;
  dest.type = kExpMissing;
  arguments_[static_cast<size_t>(index)]->Evaluate(dest);
  const uint8_t actual = dest.type;
  if (expected != kExpAny && actual != expected &&
      !(IsNumericGroup(expected) && IsNumericGroup(actual))) {
    RaiseExpression(kMsgArgumentNeeded,
                    {ExpTypeName(expected), std::to_string(index + 1), GetName()});
  }
  return actual;
}

// ---------------------------------------------------------------------------------------
// Handler

TkxExpHandler::TkxExpHandler(TkxExpUserLink* link, const std::string& text, bool sqlMode)
    : link_(link), sqlMode_(sqlMode) {
  Compile(text);
}

TkxExpHandler::~TkxExpHandler() = default;

void TkxExpHandler::CountOperand(int32_t length, int32_t decimals, bool measured) {
  ++operandCount_;
  if (!measured) return;
  maxLength_ = std::max(maxLength_, static_cast<int>(length));
  maxDecimals_ = std::max(maxDecimals_, static_cast<int>(decimals));
}

void TkxExpHandler::Compile(const std::string& text) {
  root_.reset();
  resultType_ = kExpNone;
  operandCount_ = maxLength_ = maxDecimals_ = 0;
  if (text.empty()) return;
  if (text.size() > kMaxExpSourceLength) CannotEvaluate();
  try {
    TkxExpParser parser(*this, Tokenize(text));
    root_ = parser.ParseAll();
  } catch (...) {
    operandCount_ = maxLength_ = maxDecimals_ = 0;
    throw;
  }
}

std::string TkxExpHandler::ExpressionText() const {
  return root_ ? root_->GetExpression() : std::string();
}

std::string TkxExpHandler::ListVars(int kind) const {
  return root_ ? root_->ListVars(kind) : std::string();
}

bool TkxExpHandler::EvaluateToBuffer(TkxExpValue& value) {
  resultType_ = kExpNone;
  if (!root_) {
    value.type = kExpNone;
    return false;
  }
  value.type = kExpMissing;
  root_->Evaluate(value);
  resultType_ = value.type;
  return true;
}

bool TkxExpHandler::EvaluateToVariant(TkxVariant& variant) {
  TkxExpValue& value = scratch_;
  if (!EvaluateToBuffer(value)) return false;
  switch (value.type) {
    case kExpChar:
      variant.SetText(value.text);
      return true;
    case kExpNumeric:
    case 7:
      variant.SetFloat(value.number);
      return true;
    case kExpDate: {
      const double day = std::trunc(value.number);
      // The empty date and values beyond the day range are "no date".
      variant.SetDate(day > 0 && day <= 2147483647.0 ? static_cast<int32_t>(day) : 0);
      return true;
    }
    case kExpLogical:
      variant.SetBoolean(value.logical);
      return true;
    default:
      resultType_ = kExpNone;
      return false;
  }
}

}  // namespace tolvern
