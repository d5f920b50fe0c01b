// The expression language without a table: how texts compile (keywords, signs, names,
// parentheses, precedence) and what the operators compute for each type.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_sql.h"
#include "platform/pf_misc.h"

namespace tolvern {
namespace {

TkxExpValue TextValue(const std::string& text) {
  TkxExpValue v;
  v.SetText(text);
  return v;
}
TkxExpValue NumberValue(double n, uint8_t type = kExpNumeric) {
  TkxExpValue v;
  v.SetNumber(n, type);
  return v;
}
TkxExpValue LogicalValue(bool b) {
  TkxExpValue v;
  v.SetLogical(b);
  return v;
}

// A variable with a fixed value.
class FixedVar : public TkxUserDefFieldVar {
 public:
  FixedVar(const std::string& name, TkxExpValue value, int32_t length, int32_t decimals)
      : TkxUserDefFieldVar(name, length, decimals), value_(std::move(value)) {}
  bool Evaluate(TkxExpValue& out) override {
    out = value_;
    return true;
  }

 private:
  TkxExpValue value_;
};

class TestLink : public TkxExpUserLink {
 public:
  TestLink() {
    Add("NAME", TextValue("SMITH     "), 10);
    Add("AMOUNT", NumberValue(12.5), 8, 2);
    Add("A", LogicalValue(true));
    Add("B", LogicalValue(false));
    Add("T", TextValue("field T"));
    Add("F", TextValue("field F"));
    Add("ND", NumberValue(1));
    Add("OS", NumberValue(2));
    Add("RUE", NumberValue(3));
    Add("BLANKDAY", NumberValue(0, kExpDate));
    Add("DAY", NumberValue(2451545, kExpDate));  // 1 January 2000
    TkxExpValue raw = TextValue("raw");
    raw.type = kExpOther;
    Add("RAW", raw);
  }
  void Add(const std::string& name, TkxExpValue value, int32_t length = 1, int32_t decimals = 0) {
    RegisterFieldVar(std::make_unique<FixedVar>(name, std::move(value), length, decimals));
  }
};

TestLink& Link() {
  static TestLink link;
  return link;
}

// The value as "C:text", "N:number", "L:T"/"L:F", "D:day" or "D:empty", "none", "type N".
std::string Show(const TkxExpValue& v) {
  char number[64];
  switch (v.type) {
    case kExpChar:
      return "C:" + v.text;
    case kExpNumeric:
      std::snprintf(number, sizeof number, "N:%.15g", v.number);
      return number;
    case kExpDate:
      if (v.number == kEmptyDate) return "D:empty";
      std::snprintf(number, sizeof number, "D:%.15g", v.number);
      return number;
    case kExpLogical:
      return v.logical ? "L:T" : "L:F";
    default:
      return "type " + std::to_string(v.type);
  }
}

struct Options {
  bool sql = false;
  bool caseInsensitive = false;
  bool partial = true;
  bool oem = false;
};

// Compiles and evaluates `text`; the value shown, or "error: " and the message.
std::string Eval(const std::string& text, TkxExpUserLink* link = &Link(), Options o = {}) {
  try {
    TkxExpHandler handler(link, "", o.sql);
    handler.CaseInsensitive = o.caseInsensitive;
    handler.PartialCompare = o.partial;
    handler.OemFlag = o.oem;
    handler.Compile(text);
    TkxExpValue value;
    if (!handler.EvaluateToBuffer(value)) return "none";
    EXPECT_EQ(handler.ResultType(), value.type) << text;
    return Show(value);
  } catch (const ETolvernExpression& e) {
    return std::string("error: ") + e.what();
  }
}

class ExprLanguage : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetShortDateFormat("MM/DD/YYYY"); }
};

// --- compiling -------------------------------------------------------------------------

TEST_F(ExprLanguage, DottedKeywordsNeedSeparationFromNames) {
  EXPECT_EQ(Eval("A.AND.B"), "error: There is no function for A.AND.B");
  EXPECT_EQ(Eval("A .AND. B"), "L:F");
  EXPECT_EQ(Eval("A AND B"), "L:F");
  EXPECT_EQ(Eval("(A).AND.(B)"), "L:F");
  EXPECT_EQ(Eval("a and .t."), "L:T");
  EXPECT_EQ(Eval("B Or A"), "L:T");
  EXPECT_EQ(Eval("B .OR. B"), "L:F");

  TestLink withDottedName;
  withDottedName.Add("A.AND.B", NumberValue(7));
  EXPECT_EQ(Eval("A.AND.B", &withDottedName), "N:7");
}

TEST_F(ExprLanguage, OnlyWholeKeywordsAreKeywords) {
  EXPECT_EQ(Eval("T"), "C:field T");
  EXPECT_EQ(Eval("F"), "C:field F");
  EXPECT_EQ(Eval(".T."), "L:T");
  EXPECT_EQ(Eval("TRUE"), "L:T");
  EXPECT_EQ(Eval(".F."), "L:F");
  EXPECT_EQ(Eval("false"), "L:F");
  EXPECT_EQ(Eval("ND + OS + RUE"), "N:6");
  EXPECT_EQ(Eval("1 EQ 1 .AND. 1 LT 2 .AND. 2 GT 1 .AND. 2 GE 2 .AND. 2 LE 2"), "L:T");
}

TEST_F(ExprLanguage, NotBindsLooserThanComparisonsAndTighterThanAnd) {
  EXPECT_EQ(Eval("NOT 1 = 2"), "L:T");
  EXPECT_EQ(Eval(".NOT. AMOUNT > 10"), "L:F");
  EXPECT_EQ(Eval(".NOT. A .AND. B"), "L:F");  // (.NOT. A) .AND. B
  EXPECT_EQ(Eval(".NOT. B .AND. A"), "L:T");
  EXPECT_EQ(Eval("!(A)"), "L:F");
  EXPECT_EQ(Eval(".NOT.(A)"), "L:F");
  EXPECT_EQ(Eval("NOT (A)"), "L:F");
  EXPECT_EQ(Eval("NOT(A)"), "error: There is no function for NOT");
  EXPECT_EQ(Eval("A .OR. B .AND. B"), "L:T");  // AND before OR
}

TEST_F(ExprLanguage, SignsBelongToNumbersAndNegateOtherOperands) {
  EXPECT_EQ(Eval("-5 + 3"), "N:-2");
  EXPECT_EQ(Eval("3 - -5"), "N:8");
  EXPECT_EQ(Eval("3--5"), "N:8");
  EXPECT_EQ(Eval("+5"), "N:5");
  EXPECT_EQ(Eval("--5"), "N:5");
  EXPECT_EQ(Eval("-5^2"), "N:25");  // the sign is part of the literal
  EXPECT_EQ(Eval("-AMOUNT"), "N:-12.5");
  EXPECT_EQ(Eval("2 * -AMOUNT"), "N:-25");
  EXPECT_EQ(Eval("-(2 + 3)"), "N:-5");
  EXPECT_EQ(Eval("-LEN('abc')"), "N:-3");
  EXPECT_EQ(Eval("-NAME"), "error: A number value is required but invalid");
  EXPECT_EQ(Eval("- 5"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("5 * -"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval(".5 + 1"), "N:1.5");
  EXPECT_EQ(Eval("-.5"), "N:-0.5");
}

TEST_F(ExprLanguage, NumbersMustBeNumbersInFull) {
  EXPECT_EQ(Eval("1E3"), "N:1000");
  EXPECT_EQ(Eval("2.5e-1"), "N:0.25");
  EXPECT_EQ(Eval("1E+2-1"), "N:99");
  EXPECT_EQ(Eval("AMOUNT-1"), "N:11.5");
  EXPECT_EQ(Eval("5."), "N:5");
  // Without blanks ".AND." would be swallowed by the number; it is refused rather than
  // read as a different expression.
  EXPECT_EQ(Eval("AMOUNT>0.AND.A"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("12abc"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("1E"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("1E-X"), "error: Expression cannot be evaluated");
}

TEST_F(ExprLanguage, PowerAssociatesToTheLeftAndBindsTightest) {
  EXPECT_EQ(Eval("2^3^2"), "N:64");
  EXPECT_EQ(Eval("2**3"), "N:8");
  EXPECT_EQ(Eval("2 + 3 * 2 ^ 2"), "N:14");
  EXPECT_EQ(Eval("12 / 2 / 3"), "N:2");
  EXPECT_EQ(Eval("10 - 4 - 3"), "N:3");
}

TEST_F(ExprLanguage, TwoCharacterOperators) {
  EXPECT_EQ(Eval("1 <> 2"), "L:T");
  EXPECT_EQ(Eval("1 != 1"), "L:F");
  EXPECT_EQ(Eval("1 # 2"), "L:T");
  EXPECT_EQ(Eval("1 =< 1"), "L:T");
  EXPECT_EQ(Eval("1 => 2"), "L:F");
  EXPECT_EQ(Eval("2 >= 1"), "L:T");
  EXPECT_EQ(Eval("2 <= 1"), "L:F");
  EXPECT_EQ(Eval("1 < = 2"), "error: Expression cannot be evaluated");
}

TEST_F(ExprLanguage, ArrowJoinsAliasAndNameIntoOneName) {
  EXPECT_EQ(Eval("X->NAME"), "error: There is no function for X.NAME");
  TestLink link;
  link.Add("X.NAME", TextValue("aliased"));
  EXPECT_EQ(Eval("X->NAME", &link), "C:aliased");
}

TEST_F(ExprLanguage, ParenthesesMustBalance) {
  EXPECT_EQ(Eval("(1 + 2"), "error: Missing closing parentheses");
  EXPECT_EQ(Eval("((1)"), "error: Missing closing parentheses");
  EXPECT_EQ(Eval("UPPER('a'"), "error: Missing closing parentheses");
  EXPECT_EQ(Eval("UPPER('a)"), "error: Missing closing parentheses");
  EXPECT_EQ(Eval("UPPER('a)')"), "C:A)");
  EXPECT_EQ(Eval("UPPER('a)'))"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("1 + 2)"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("(1, 2)"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("1, 2"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("()"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("LEFT('abc',)"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("((((1 + 2))) * 3)"), "N:9");
  std::string deep = std::string(200, '(') + "7" + std::string(200, ')');
  EXPECT_EQ(Eval(deep), "N:7");
}

TEST_F(ExprLanguage, LiteralsAndTheirQuotes) {
  EXPECT_EQ(Eval("'ab' + \"cd\" + [ef]"), "C:abcdef");
  EXPECT_EQ(Eval("[say \"hi\" and 'bye']"), "C:say \"hi\" and 'bye'");
  EXPECT_EQ(Eval("'a, (b)'"), "C:a, (b)");
  EXPECT_EQ(Eval("'it''s'"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("'unterminated"), "C:unterminated");
  EXPECT_EQ(Eval("{01/02/2000}"), "D:2451546");
  EXPECT_EQ(Eval("{}"), "D:0");
  EXPECT_EQ(Eval("{13/45/2000}"), "error: '13/45/2000' is not a valid date");
}

TEST_F(ExprLanguage, EmptyAndOverlongTexts) {
  TkxExpHandler empty(&Link(), "");
  EXPECT_FALSE(empty.HasRoot());
  TkxExpValue value;
  EXPECT_FALSE(empty.EvaluateToBuffer(value));
  EXPECT_EQ(empty.ResultType(), kExpNone);
  EXPECT_EQ(empty.ExpressionText(), "");
  EXPECT_EQ(Eval("   "), "none");

  const std::string longest = "'" + std::string(509, 'x') + "'";
  ASSERT_EQ(longest.size(), 511u);
  EXPECT_EQ(Eval(longest), "C:" + std::string(509, 'x'));
  EXPECT_EQ(Eval(longest + " "), "error: Expression cannot be evaluated");
}

TEST_F(ExprLanguage, NamesNeedALinkAndStrayCharactersAreRefused) {
  EXPECT_EQ(Eval("NAME", nullptr), "error: Field/variable NAME is unknown");
  EXPECT_EQ(Eval("NOSUCH(1)", nullptr), "error: There is no function for NOSUCH");
  EXPECT_EQ(Eval("NOSUCH(1)"), "error: There is no function for NOSUCH");
  EXPECT_EQ(Eval("UPPER('a')", nullptr), "C:A");
  EXPECT_EQ(Eval("UPPER ('a')"), "C:A");  // as other programs write index keys
  EXPECT_EQ(Eval("NOSUCH"), "error: There is no function for NOSUCH");
  EXPECT_EQ(Eval("1 @ 2"), "error: Expression cannot be evaluated");
  EXPECT_EQ(Eval("1 POS 2"), "error: Expression cannot be evaluated");
}

TEST_F(ExprLanguage, CompileReplacesTheTreeAndAFailureLeavesNone) {
  TkxExpHandler handler(&Link(), "1 + 1");
  TkxExpValue value;
  handler.EvaluateToBuffer(value);
  EXPECT_EQ(handler.ResultType(), kExpNumeric);
  EXPECT_THROW(handler.Compile("(1"), ETolvernExpression);
  EXPECT_FALSE(handler.HasRoot());
  EXPECT_EQ(handler.ResultType(), kExpNone);
  EXPECT_EQ(handler.OperandCount(), 0);
  handler.Compile("'x'");
  EXPECT_TRUE(handler.EvaluateToBuffer(value));
  EXPECT_EQ(Show(value), "C:x");
}

TEST_F(ExprLanguage, OperandStatisticsCountLiteralsCallsAndFields) {
  TkxExpHandler handler(&Link(), "NAME + STR(AMOUNT, 12, 3) + 'x' + DTOS({})");
  // NAME, STR, AMOUNT, 12, 3, 'x', DTOS, {}
  EXPECT_EQ(handler.OperandCount(), 8);
  EXPECT_EQ(handler.MaxLength(), 10);   // NAME; the literal 12 has two characters
  EXPECT_EQ(handler.MaxDecimals(), 2);  // AMOUNT
  TkxExpHandler literal(&Link(), "-123.4567 + 1");
  EXPECT_EQ(literal.OperandCount(), 2);
  EXPECT_EQ(literal.MaxLength(), 9);
  EXPECT_EQ(literal.MaxDecimals(), 4);
}

TEST_F(ExprLanguage, ExpressionTextCompilesBackToTheSameMeaning) {
  const std::vector<std::string> texts = {"NAME = 'SM*' .AND. .NOT. B",
                                          "-AMOUNT*2^3",
                                          "(1 + 2) * -(3)",
                                          "[a\"b'c] + 'x\"y'",
                                          "(A).OR.(B)",
                                          "'ab' $ 'cabd' .OR. 'a' == 'a'",
                                          "NAME LIKE 'S?I*'",
                                          "DTOS({01/02/2000})",
                                          "STR(AMOUNT, 10, 2) + LEFT(NAME, 3)",
                                          "3 - -5.25",
                                          "1E999 > 0",
                                          "IIF(A, 'y', 'n')"};
  for (const auto& text : texts) {
    TkxExpHandler first(&Link(), text);
    const std::string printed = first.ExpressionText();
    TkxExpHandler second(&Link(), printed);
    EXPECT_EQ(second.ExpressionText(), printed) << text;
    EXPECT_EQ(Eval(printed), Eval(text)) << text << " printed as " << printed;
  }
  EXPECT_EQ(TkxExpHandler(&Link(), "a .and. b").ExpressionText(), "A .AND. B");
  EXPECT_EQ(TkxExpHandler(&Link(), "upper( name )+'x'").ExpressionText(), "UPPER(NAME)+\"x\"");
  EXPECT_EQ(TkxExpHandler(&Link(), "1.50 + 2").ExpressionText(), "1.50+2");
}

TEST_F(ExprLanguage, ListVarsNamesTheVariablesOfAKind) {
  TkxExpHandler handler(&Link(), "NAME + STR(AMOUNT) + IIF(A, T, F)");
  EXPECT_EQ(handler.ListVars(TkxUserDefFieldVar::kUserVariable), "NAME;AMOUNT;A;T;F;");
  EXPECT_EQ(handler.ListVars(TkxUserDefFieldVar::kTableField), "");
}

// --- evaluating ------------------------------------------------------------------------

TEST_F(ExprLanguage, CharacterComparisonIgnoresTrailingBlanksButNotPrefixes) {
  EXPECT_EQ(Eval("'ABC' = 'ABC  '"), "L:T");
  EXPECT_EQ(Eval("'ABC  ' = 'ABC'"), "L:T");
  EXPECT_EQ(Eval("'ABC' = 'AB'"), "L:F");
  EXPECT_EQ(Eval("'AB' < 'ABC'"), "L:T");
  EXPECT_EQ(Eval("'AB' >= 'ABC'"), "L:F");
  EXPECT_EQ(Eval("'b' > 'a'"), "L:T");
  EXPECT_EQ(Eval("'a' > 'B'"), "L:T");  // byte order
  EXPECT_EQ(Eval("'X' = ''"), "L:F");
  EXPECT_EQ(Eval("'' = '  '"), "L:T");
  EXPECT_EQ(Eval("CHR(200) > 'z'"), "L:T");  // bytes compare unsigned
}

TEST_F(ExprLanguage, WildcardsAtEitherEndMakeAPattern) {
  EXPECT_EQ(Eval("NAME = 'SM*'"), "L:T");
  EXPECT_EQ(Eval("NAME = '*TH'"), "L:T");
  EXPECT_EQ(Eval("NAME = '*MIT*'"), "L:T");
  EXPECT_EQ(Eval("NAME = '*'"), "L:T");
  EXPECT_EQ(Eval("'' = '*'"), "L:T");
  EXPECT_EQ(Eval("NAME = '*XY*'"), "L:F");
  EXPECT_EQ(Eval("NAME = 'MI*'"), "L:F");
  EXPECT_EQ(Eval("NAME = '*MI'"), "L:F");
  EXPECT_EQ(Eval("NAME = 'SMI'"), "L:F");
  EXPECT_EQ(Eval("NAME = 'S?ITH'"), "L:F");  // the single wildcard has no effect here
  EXPECT_EQ(Eval("NAME # 'SM*'"), "L:F");
  EXPECT_EQ(Eval("NAME = 'sm*'"), "L:F");
  EXPECT_EQ(Eval("NAME = 'sm*'", &Link(), {.caseInsensitive = true}), "L:T");
  EXPECT_EQ(Eval("'smith' = 'SMITH'", &Link(), {.caseInsensitive = true}), "L:T");
  EXPECT_EQ(Eval("NAME = 'SM*'", &Link(), {.partial = false}), "L:F");
  EXPECT_EQ(Eval("NAME = 'SM%'", &Link(), {.sql = true}), "L:T");
  EXPECT_EQ(Eval("NAME = 'SM*'", &Link(), {.sql = true}), "L:F");
}

TEST_F(ExprLanguage, OemFlagTranslatesTheLeftSideOfComparisons) {
  // CP866 0x80 is the Cyrillic capital A, 0xC0 in CP1251.
  const std::string oemA = "CHR(128)";
  const std::string ansiA = "CHR(192)";
  EXPECT_EQ(Eval(oemA + " = " + ansiA), "L:F");
  EXPECT_EQ(Eval(oemA + " = " + ansiA, &Link(), {.oem = true}), "L:T");
  EXPECT_EQ(Eval("ASC(" + oemA + " + 'x')", &Link(), {.oem = true}), "N:128");
}

TEST_F(ExprLanguage, ExtendedCharacterOperators) {
  EXPECT_EQ(Eval("'AB' == 'AB'"), "L:T");
  EXPECT_EQ(Eval("'AB' == 'AB '"), "L:F");
  EXPECT_EQ(Eval("'AB' == 'A*'"), "L:F");
  EXPECT_EQ(Eval("2 == 2"), "L:T");
  EXPECT_EQ(Eval("'BC' $ 'ABCD'"), "L:T");
  EXPECT_EQ(Eval("'BD' $ 'ABCD'"), "L:F");
  EXPECT_EQ(Eval("'' $ 'ABCD'"), "L:F");
  EXPECT_EQ(Eval("NAME LIKE 'S?ITH'"), "L:T");
  EXPECT_EQ(Eval("NAME LIKE 'S*H'"), "L:T");
  EXPECT_EQ(Eval("NAME LIKE 'SMI'"), "L:F");
  EXPECT_EQ(Eval("NAME LIKE '*M*T*'"), "L:T");
  EXPECT_EQ(Eval("NAME LIKE 's*'"), "L:F");
  EXPECT_EQ(Eval("NAME LIKE 's*'", &Link(), {.caseInsensitive = true}), "L:T");
  EXPECT_EQ(Eval("NAME LIKE 'S_ITH'", &Link(), {.sql = true}), "L:T");
  EXPECT_EQ(Eval("1 $ 2"), "error: A assigned value is required but invalid");
}

TEST_F(ExprLanguage, MinusMovesTrailingBlanksToTheEnd) {
  EXPECT_EQ(Eval("'AB  ' - 'CD'"), "C:ABCD  ");
  EXPECT_EQ(Eval("'AB  ' + 'CD'"), "C:AB  CD");
  EXPECT_EQ(Eval("'   ' - 'X'"), "C: X  ");
  EXPECT_EQ(Eval("'' - 'X'"), "C:X");
}

TEST_F(ExprLanguage, PowerMultipliesTruncatedExponentTimes) {
  EXPECT_EQ(Eval("2^0"), "N:2");
  EXPECT_EQ(Eval("2^1"), "N:2");
  EXPECT_EQ(Eval("2^-3"), "N:2");
  EXPECT_EQ(Eval("2^3"), "N:8");
  EXPECT_EQ(Eval("2^2.9"), "N:4");
  EXPECT_EQ(Eval("(-2)^3"), "N:-8");
  EXPECT_EQ(Eval("2^1E9"), "N:inf");  // no billion multiplications
  EXPECT_EQ(Eval("0.5^1E9"), "N:0");
}

TEST_F(ExprLanguage, DivisionByZeroFollowsIeee) {
  EXPECT_EQ(Eval("1/0"), "N:inf");
  EXPECT_EQ(Eval("-1/0"), "N:-inf");
  EXPECT_EQ(Eval("0/0 = 0/0"), "L:F");
  EXPECT_EQ(Eval("0/0 # 1"), "L:T");
}

TEST_F(ExprLanguage, DatesAndNumbersMixByTheRightOperand) {
  EXPECT_EQ(Eval("DAY + 1"), "N:2451546");
  EXPECT_EQ(Eval("1 + DAY"), "D:2451546");
  EXPECT_EQ(Eval("DAY - {12/31/1999}"), "D:1");
  EXPECT_EQ(Eval("DAY = 2451545"), "L:T");
  EXPECT_EQ(Eval("DAY > {12/31/1999}"), "L:T");
  EXPECT_EQ(Eval("DTOS(DAY + 31)"), "C:20000201");
}

TEST_F(ExprLanguage, BlankDateEqualsTheEmptyDateAndSortsFirst) {
  EXPECT_EQ(Eval("BLANKDAY = CTOD('')"), "L:T");
  EXPECT_EQ(Eval("CTOD('') = {}"), "L:T");
  EXPECT_EQ(Eval("CTOD('') < DAY"), "L:T");
  EXPECT_EQ(Eval("BLANKDAY < DAY"), "L:T");
  EXPECT_EQ(Eval("DAY = CTOD('')"), "L:F");
}

TEST_F(ExprLanguage, LogicalOperators) {
  EXPECT_EQ(Eval("A = A"), "L:T");
  EXPECT_EQ(Eval("A # B"), "L:T");
  EXPECT_EQ(Eval("A == B"), "L:F");
  EXPECT_EQ(Eval("A .AND. A"), "L:T");
  EXPECT_EQ(Eval("B .OR. B"), "L:F");
}

TEST_F(ExprLanguage, TypeErrorsCarryTheirMessages) {
  EXPECT_EQ(Eval(".T. = 'A'"), "error: The two sides of an operation do not match");
  EXPECT_EQ(Eval("1 + .T."), "error: The two sides of an operation do not match");
  EXPECT_EQ(Eval("NAME + 1"), "error: The two sides of an operation do not match");
  EXPECT_EQ(Eval(".NOT. 5"), "error: A boolean value is required but invalid");
  EXPECT_EQ(Eval(".NOT. 'x'"), "error: A boolean value is required but invalid");
  EXPECT_EQ(Eval(".T. + .T."), "error: A number value is required but invalid");
  EXPECT_EQ(Eval(".T. > .F."), "error: A assigned value is required but invalid");
  EXPECT_EQ(Eval("'a' * 'b'"), "error: A assigned value is required but invalid");
  EXPECT_EQ(Eval("1 .AND. 2"), "error: A assigned value is required but invalid");
  EXPECT_EQ(Eval("RAW = RAW"), "error: A assigned value is required but invalid");
  EXPECT_EQ(Eval("UPPER(5)"), "error: Text needed for Argument 1 of UPPER");
  EXPECT_EQ(Eval("LEFT('a', 'b')"), "error: Number needed for Argument 2 of LEFT");
  EXPECT_EQ(Eval("DTOS('x')"), "error: Date needed for Argument 1 of DTOS");
  EXPECT_EQ(Eval("IIF('x', 1, 2)"), "error: Boolean needed for Argument 1 of IIF");
}

TEST_F(ExprLanguage, MissingOperandsAreReportedWhenEvaluated) {
  TkxExpHandler handler(&Link(), "1 +");
  EXPECT_TRUE(handler.HasRoot());
  TkxExpValue value;
  EXPECT_THROW(handler.EvaluateToBuffer(value), ETolvernExpression);
  EXPECT_EQ(Eval("1 +"), "error: Target value missing for + operation");
  EXPECT_EQ(Eval("* 2"), "error: Target value missing for * operation");
  EXPECT_EQ(Eval(".NOT."), "error: Target value missing for .NOT. operation");
  EXPECT_EQ(Eval("A .AND."), "error: Target value missing for .AND. operation");
  EXPECT_EQ(Eval("'a' $"), "error: Target value missing for in string operation");
  EXPECT_EQ(Eval("= 1"), "error: Target value missing for = operation");
}

TEST_F(ExprLanguage, EvaluateToVariantStoresByType) {
  TkxVariant variant;
  TkxExpHandler text(&Link(), "NAME");
  ASSERT_TRUE(text.EvaluateToVariant(variant));
  EXPECT_EQ(variant.VariantType(), TkxVariant::kText);
  EXPECT_EQ(variant.AsText(), "SMITH     ");

  TkxExpHandler number(&Link(), "AMOUNT * 2");
  ASSERT_TRUE(number.EvaluateToVariant(variant));
  EXPECT_EQ(variant.VariantType(), TkxVariant::kFloat);
  EXPECT_EQ(variant.AsFloat(), 25.0);

  TkxExpHandler date(&Link(), "DAY");
  ASSERT_TRUE(date.EvaluateToVariant(variant));
  EXPECT_EQ(variant.VariantType(), TkxVariant::kDate);
  EXPECT_EQ(variant.AsDate(), 2451545);
  TkxExpHandler empty(&Link(), "CTOD('')");
  ASSERT_TRUE(empty.EvaluateToVariant(variant));
  EXPECT_EQ(variant.AsDate(), 0);

  TkxExpHandler logical(&Link(), "A");
  ASSERT_TRUE(logical.EvaluateToVariant(variant));
  EXPECT_EQ(variant.VariantType(), TkxVariant::kBoolean);
  EXPECT_TRUE(variant.AsBoolean());

  TkxExpHandler raw(&Link(), "RAW");
  EXPECT_FALSE(raw.EvaluateToVariant(variant));
  EXPECT_EQ(raw.ResultType(), kExpNone);
}

TEST_F(ExprLanguage, LongValuesAreCarriedWholeUpToTheLimit) {
  TkxExpHandler handler(&Link(), "SPACE(300) + 'x' + SPACE(300)");
  TkxExpValue value;
  handler.EvaluateToBuffer(value);
  EXPECT_EQ(value.text.size(), 601u);
  EXPECT_EQ(value.text[300], 'x');
  EXPECT_EQ(Eval("LEN(SPACE(40000) + SPACE(25536))"), "N:65536");
  EXPECT_EQ(Eval("SPACE(40000) + SPACE(25537)"), "error: A length value is required but invalid");
}

}  // namespace
}  // namespace tolvern
