// The built-in functions, case by case, with their boundaries and error texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_sql.h"
#include "platform/pf_misc.h"

namespace tolvern {
namespace {

// "C:text", "N:number", "L:T"/"L:F", "D:day" / "D:empty", or "error: message".
std::string Evaluate(const std::string& text, TkxExpUserLink* link = nullptr) {
  try {
    TkxExpHandler handler(link, text);
    TkxExpValue v;
    handler.EvaluateToBuffer(v);
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
  } catch (const ETolvernExpression& e) {
    return std::string("error: ") + e.what();
  }
}

struct Case {
  const char* expression;
  std::string expected;
};

const std::vector<Case> kCases = {
    // ALLTRIM, LTRIM, RTRIM, TRIM
    {"ALLTRIM('  a b  ')", "C:a b"},
    {"ALLTRIM('   ')", "C:"},
    {"LTRIM('  a ')", "C:a "},
    {"RTRIM('  a ')", "C:  a"},
    {"TRIM('  a ')", "C:  a"},
    // ASC, CHR
    {"ASC('AB')", "N:65"},
    {"ASC('')", "N:0"},
    {"ASC(CHR(255))", "N:255"},
    {"CHR(65.9)", "C:A"},
    {"CHR(0)", "C:"},
    {"LEN(CHR(255))", "N:1"},
    {"CHR(256)", "error: A Byte value is required but invalid"},
    {"CHR(-1)", "error: A Byte value is required but invalid"},
    // AT
    {"AT('an', 'banana')", "N:2"},
    {"AT('an', 'banana', 2)", "N:4"},
    {"AT('an', 'banana', 3)", "N:4"},
    {"AT('an', 'banana', 0)", "N:0"},
    {"AT('an', 'banana', -1)", "N:0"},
    {"AT('an', 'banana', 'x')", "N:2"},
    {"AT('ana', 'banana', 2)", "N:4"},  // overlapping occurrences count
    {"AT('x', 'banana')", "N:0"},
    {"AT('', 'banana')", "N:0"},
    {"AT('an', 'banana', 1E300)", "N:4"},
    // CEILING, FLOOR, INT
    {"CEILING(1.2)", "N:2"},
    {"CEILING(-1.2)", "N:-1"},
    {"CEILING(-0.5)", "N:0"},
    {"CEILING(4000000000.5)", "N:4000000001"},
    {"FLOOR(1.9)", "N:1"},
    {"FLOOR(-1.2)", "N:-2"},
    {"FLOOR(-4000000000.5)", "N:-4000000001"},
    {"INT(3.7)", "N:3"},
    {"INT(-3.7)", "N:-3"},
    {"INT(1E12 + 0.5)", "N:1000000000000"},
    // CTOD, DATE, DTOC, DTOS
    {"CTOD('01/02/2000')", "D:2451546"},
    {"CTOD('')", "D:empty"},
    {"CTOD('  ')", "D:0"},
    {"CTOD('31/31/2000')", "error: '31/31/2000' is not a valid date"},
    {"DTOC({01/02/2000})", "C:01/02/2000"},
    {"DTOC({01/02/2000}, 1)", "C:20000102"},
    {"DTOC({01/02/2000}, 'x')", "C:01/02/2000"},
    {"DTOC(CTOD(''))", "C:"},
    {"DTOC({})", "C:"},
    {"DTOS({01/02/2000})", "C:20000102"},
    {"DTOS(CTOD(''))", "C:"},
    {"DTOS({})", "C:        "},  // a blank date field
    {"DTOS(2451546)", "C:20000102"},
    // DESCEND
    {"DESCEND(CTOD(''))", "D:empty"},
    {"DESCEND({01/01/2000})", "D:2780263"},
    {"DESCEND(0)", "N:0"},
    {"DESCEND(5)", "N:-5"},
    {"ASC(DESCEND('A'))", "N:191"},
    {"DESCEND(.T.)", "L:F"},
    {"DESCEND('B') < DESCEND('A')", "L:T"},
    // EMPTY
    {"EMPTY('  ')", "L:F"},
    {"EMPTY('')", "L:T"},
    {"EMPTY(.F.)", "L:T"},
    {"EMPTY(.T.)", "L:F"},
    {"EMPTY(0)", "L:T"},
    {"EMPTY(0.001)", "L:F"},
    {"EMPTY(CTOD(''))", "L:T"},
    {"EMPTY({})", "L:T"},  // day 0, as a blank date field reads
    {"EMPTY({01/01/2000})", "L:F"},
    // IIF: only the chosen branch is evaluated
    {"IIF(.T., 'a', 'b')", "C:a"},
    {"IIF(1 > 2, 1, 2)", "N:2"},
    {"IIF(.T., 'a', CHR(300))", "C:a"},
    {"IIF(.F., CHR(300), {01/02/2000})", "D:2451546"},
    // LEFT, RIGHT, SUBSTR
    {"LEFT('ABC', 2)", "C:AB"},
    {"LEFT('ABC', 0.005)", "C:"},
    {"LEFT('ABC', 1.9)", "C:A"},
    {"LEFT('ABC', 5)", "C:ABC"},
    {"LEFT('ABC', -1)", "C:"},
    {"RIGHT('ABC', 2)", "C:BC"},
    {"RIGHT('ABC', 5)", "C:ABC"},
    {"RIGHT('ABC', -1)", "C:"},
    {"SUBSTR('ABCDE', 2)", "C:BCDE"},
    {"SUBSTR('ABCDE', 2, 10)", "C:BCDE"},
    {"SUBSTR('ABCDE', 2, 2)", "C:BC"},
    {"SUBSTR('ABCDE', 5)", "C:E"},
    {"SUBSTR('ABCDE', 6)", "C:"},
    {"SUBSTR('ABCDE', 0)", "C:"},
    {"SUBSTR('ABCDE', -1)", "C:"},
    {"SUBSTR('ABCDE', 2, -1)", "C:"},
    {"SUBSTR('ABCDE', 2, 'x')", "C:BCDE"},
    // LEN, LOWER, UPPER
    {"LEN('ab  ')", "N:4"},
    {"LEN('')", "N:0"},
    {"LOWER('AbC1')", "C:abc1"},
    {"UPPER('aBc1')", "C:ABC1"},
    {"ASC(UPPER(CHR(224)))", "N:192"},  // the ANSI code page's casing (CP1251)
    {"ASC(LOWER(CHR(192)))", "N:224"},
    // PADC, PADL, PADR
    {"PADC('AB', 5)", "C: AB  "},
    {"PADC('AB', 6, '*')", "C:**AB**"},
    {"PADL('ABCDEF', 3)", "C:ABC"},
    {"PADR('ABCDEF', 3)", "C:ABC"},
    {"PADL('AB', 4, '0')", "C:00AB"},
    {"PADR('AB', 4)", "C:AB  "},
    {"PADR('AB', -2)", "C:"},
    {"PADR('AB', 4, 'xy')", "error: A Char value is required but invalid"},
    {"PADR('AB', 4, '')", "error: A Char value is required but invalid"},
    {"PADL('AB', 4, 5)", "error: A Char value is required but invalid"},
    {"PADL('AB', 1E9)", "error: A length value is required but invalid"},
    // SOUNDEX
    {"SOUNDEX('')", "C:0000"},
    {"SOUNDEX('A')", "C:A000"},
    {"SOUNDEX('SMITH')", "C:S530"},
    {"SOUNDEX('smith')", "C:S530"},
    {"SOUNDEX('PFISTER')", "C:P123"},
    {"SOUNDEX('TYMCZAK')", "C:T520"},
    {"SOUNDEX('Ashcraft')", "C:A261"},
    // SPACE
    {"SPACE(3)", "C:   "},
    {"SPACE(0)", "C:"},
    {"SPACE(-1)", "C:"},
    {"SPACE(1E9)", "error: A length value is required but invalid"},
    // STR, STRZERO
    {"STR(3.14159, 6, 2)", "C:  3.14"},
    {"STR(123456, 3)", "C:***"},
    {"STR(5)", "C:         5"},
    {"STR(-5, 4)", "C:  -5"},
    {"STR(2.5, 1)", "C:3"},  // halves round away from zero
    {"STR(-2.5, 2)", "C:-3"},
    {"STR(0.125, 5, 2)", "C: 0.13"},
    {"STR(-0.001, 5, 2)", "C: 0.00"},
    {"STR(1, 3, 5)", "C:***"},
    {"STR(1, 0)", "C:"},
    {"STR(1/0, 4)", "C:****"},
    {"STR(12.345, 8, 'x')", "C:      12"},
    {"STRZERO(-5, 4)", "C:00-5"},
    {"STRZERO(5, 3)", "C:005"},
    {"STRZERO(3.14159, 6, 2)", "C:003.14"},
    // VAL
    {"VAL('  12.5 ')", "N:12.5"},
    {"VAL('   ')", "N:0"},
    {"VAL('abc')", "N:0"},
    {"VAL('12abc')", "N:0"},
    {"VAL('-3')", "N:-3"},
    {"VAL('+1e3')", "N:1000"},
    // Argument checks
    {"UPPER()", "error: Text needed for Argument 1 of UPPER"},
    {"LEFT('abc')", "error: Number needed for Argument 2 of LEFT"},
    {"STR('5')", "error: Number needed for Argument 1 of STR"},
    {"LEN(5)", "error: Text needed for Argument 1 of LEN"},
    {"CEILING('x')", "error: Number needed for Argument 1 of CEILING"},
    {"DTOC(.T.)", "error: Date needed for Argument 1 of DTOC"},
};

class ExprFunctions : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetShortDateFormat("MM/DD/YYYY"); }
};

TEST_F(ExprFunctions, EveryBuiltInComputesItsExamplesAndBoundaries) {
  for (const Case& c : kCases) EXPECT_EQ(Evaluate(c.expression), c.expected) << c.expression;
}

TEST_F(ExprFunctions, ChrGivesEveryByteAbove127) {
  for (int code = 128; code <= 255; ++code) {
    const std::string n = std::to_string(code);
    EXPECT_EQ(Evaluate("CHR(" + n + ")"), "C:" + std::string(1, static_cast<char>(code))) << n;
    EXPECT_EQ(Evaluate("ASC(CHR(" + n + ".7))"), "N:" + n);
  }
  EXPECT_EQ(Evaluate("CHR(150, 2) + 'x'"), "C:\x96x");  // extra arguments are ignored
}

// Counts and widths beyond any text, negative, infinite or not a number are clamped
// before they become integers: the results are those of the nearest sensible count.
TEST_F(ExprFunctions, CountsOutsideEveryRangeAreClamped) {
  const std::vector<Case> cases = {
      {"CHR(1E300)", "error: A Byte value is required but invalid"},
      {"CHR(1/0)", "error: A Byte value is required but invalid"},
      {"CHR(-1/0)", "error: A Byte value is required but invalid"},
      {"CHR(0/0)", "error: A Byte value is required but invalid"},
      {"SUBSTR('abc', 1E300)", "C:"},
      {"SUBSTR('abc', -1E300)", "C:"},
      {"SUBSTR('abc', 0/0)", "C:"},
      {"SUBSTR('abc', 2, 1E300)", "C:bc"},
      {"SUBSTR('abc', 2, -1/0)", "C:"},
      {"SUBSTR('abc', 2, 0/0)", "C:"},
      {"LEFT('abc', 1E300)", "C:abc"},
      {"LEFT('abc', 1/0)", "C:abc"},
      {"LEFT('abc', 0/0)", "C:"},
      {"RIGHT('abc', 1/0)", "C:abc"},
      {"RIGHT('abc', -1E300)", "C:"},
      {"RIGHT('abc', 0/0)", "C:"},
      {"SPACE(-1/0)", "C:"},
      {"SPACE(0/0)", "C:"},
      {"SPACE(1/0)", "error: A length value is required but invalid"},
      {"PADL('ab', -1E300)", "C:"},
      {"PADR('ab', 0/0)", "C:"},
      {"PADC('ab', 1E300)", "error: A length value is required but invalid"},
      {"STR(5, 1E300)", "error: A length value is required but invalid"},
      {"STR(5, -1/0)", "C:"},
      {"STR(5, 0/0)", "C:"},
      {"STR(5, 4, 1E300)", "C:****"},
      {"STR(5, 4, -1E300)", "C:   5"},
      {"STR(5, 4, 0/0)", "C:   5"},
      {"AT('a', 'banana', 0/0)", "N:0"},
      {"CEILING(1E300)", "N:1e+300"},
      {"FLOOR(-1E300)", "N:-1e+300"},
      {"DTOS(1E300 + {01/01/2000})", "C:"},
  };
  for (const Case& c : cases) EXPECT_EQ(Evaluate(c.expression), c.expected) << c.expression;
}

TEST_F(ExprFunctions, RegistryHoldsTheThirtyOneBuiltInsInOrder) {
  const std::vector<std::string> names = {
      "ALLTRIM", "ASC",   "AT",      "CEILING", "CHR",  "CTOD",  "DATE",  "DESCEND",
      "DTOC",    "DTOS",  "EMPTY",   "FLOOR",   "IIF",  "INT",   "LEFT",  "LEN",
      "LOWER",   "LTRIM", "PADC",    "PADL",    "PADR", "RIGHT", "RTRIM", "SOUNDEX",
      "SPACE",   "STR",   "STRZERO", "SUBSTR",  "TRIM", "UPPER", "VAL"};
  const TkxFunctionReg& builtins = BuiltinFunctions();
  ASSERT_EQ(builtins.Count(), 31);
  for (int i = 0; i < builtins.Count(); ++i) EXPECT_EQ(builtins.At(i)->GetName(), names[i]);
}

TEST_F(ExprFunctions, DateIsTodayFromTheClock) {
  const int32_t before = GlobalDateConverter().Today();
  const std::string result = Evaluate("DATE()");
  const int32_t after = GlobalDateConverter().Today();
  EXPECT_TRUE(result == "D:" + std::to_string(before) || result == "D:" + std::to_string(after))
      << result;
}

TEST_F(ExprFunctions, StrUsesTheLinksDefaultWidth) {
  TkxExpUserLink link;
  EXPECT_EQ(Evaluate("STR(5)", &link), "C:         5");
  link.StrDefaultWidth = 4;
  EXPECT_EQ(Evaluate("STR(5)", &link), "C:   5");
  // -1: the width of the numeric field the value came from; 10 for other values.
  link.StrDefaultWidth = -1;
  EXPECT_EQ(Evaluate("STR(5)", &link), "C:         5");
}

TEST_F(ExprFunctions, DateFormatFollowsTheSetting) {
  platform::SetShortDateFormat("DD.MM.YYYY");
  EXPECT_EQ(Evaluate("DTOC(CTOD('02.01.2000'))"), "C:02.01.2000");
  EXPECT_EQ(Evaluate("DTOS({02.01.2000})"), "C:20000102");
  platform::SetShortDateFormat("MM/DD/YYYY");
}

}  // namespace
}  // namespace tolvern
