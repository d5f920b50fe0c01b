// Expressions against tables: the table link's field variables and table functions, the
// formula request, index keys of another program's files, and a corpus of generated and
// damaged expressions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_build.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sql.h"
#include "kx6_sqlfn.h"
#include "kx6_sqlnode.h"
#include "platform/pf_misc.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::FixturesDir;
using fendral::test::TempDir;

constexpr int32_t kJan1st2000 = 2451545;

// people.dbf: NAME C 10, AMOUNT N 10 2, QTY N 4 0, BORN D, ACTIVE L, NOTES M, PIC G.
// 1: SMITH, 12.5, 3, 1 Jan 2000, T, memo   2: blank name and date, -1.25, deleted
// 3: "  JONES", 0, 0, 31 Dec 1999, F
std::string MakePeople(const TempDir& dir, const std::string& name = "people.dbf") {
  const std::string path = dir.File(name);
  {
    KXO_DBFBuild builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.AddField("AMOUNT", 'N', 10, 2);
    builder.AddField("QTY", 'N', 4, 0);
    builder.AddField("BORN", 'D', 8, 0);
    builder.AddField("ACTIVE", 'L', 1, 0);
    builder.AddField("NOTES", 'M', 10, 0);
    builder.AddField("PIC", 'G', 10, 0);
    builder.WriteTable();
  }
  KXO_dBaseFld table(path, true, false);
  table.BlankRecord();
  table.PutFieldByName("NAME", "SMITH");
  table.PutNumberByName("AMOUNT", 12.5);
  table.PutNumberByName("QTY", 3);
  table.PutDateByName("BORN", kJan1st2000);
  table.PutLogicalByName("ACTIVE", true);
  const std::string memo = "a memo";
  table.WriteMemo(
      6, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(memo.data()), memo.size()));
  table.AppendRecord();
  table.BlankRecord();
  table.PutNumberByName("AMOUNT", -1.25);
  table.AppendRecord();
  table.DeleteRecord();
  table.BlankRecord();
  table.PutFieldByName("NAME", "  JONES");
  table.PutDateByName("BORN", kJan1st2000 - 1);
  table.PutLogicalByName("ACTIVE", false);
  table.AppendRecord();
  return path;
}

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

// Evaluates `text` on record `recno` of `table`: the value shown or "error: ...".
std::string EvalOn(KXO_dBaseFld& table, int32_t recno, const std::string& text) {
  try {
    table.GetRecord(recno);
    TkxExpHandler handler(table.ExpressionLink(), text);
    TkxExpValue value;
    handler.EvaluateToBuffer(value);
    return Show(value);
  } catch (const ETolvernExpression& e) {
    return std::string("error: ") + e.what();
  }
}

class ExprTable : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetShortDateFormat("MM/DD/YYYY");
    table_ = std::make_unique<KXO_dBaseFld>(MakePeople(dir_), false, true);
  }
  std::string Eval(int32_t recno, const std::string& text) { return EvalOn(*table_, recno, text); }

  TempDir dir_;
  std::unique_ptr<KXO_dBaseFld> table_;
};

TEST_F(ExprTable, LinkRegistersTableFunctionsThenFieldsInOrder) {
  TkxExpUserLink* link = table_->ExpressionLink();
  ASSERT_NE(link, nullptr);
  const std::vector<std::string> functions = {"RECNO", "DELETED", "BOF", "EOF", "TYPE", "LEN"};
  ASSERT_EQ(link->Functions().Count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(link->Functions().At(i)->GetName(), functions[i]);
  const std::vector<std::string> fields = {"NAME",   "AMOUNT", "QTY", "BORN",
                                           "ACTIVE", "NOTES",  "PIC"};
  ASSERT_EQ(link->FieldVars().Count(), 7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(link->FieldVars().At(i)->GetName(), fields[i]);
    EXPECT_EQ(link->FieldVars().At(i)->GetVarKind(), TkxUserDefFieldVar::kTableField);
  }
  EXPECT_EQ(link->FieldVars().At(1)->Length(), 10);
  EXPECT_EQ(link->FieldVars().At(1)->Decimals(), 2);
  TkxExpHandler handler(link, "NAME + STR(AMOUNT)");
  EXPECT_EQ(handler.ListVars(TkxUserDefFieldVar::kTableField), "NAME;AMOUNT;");
}

TEST_F(ExprTable, FieldVariablesReadTheCurrentRecordByType) {
  EXPECT_EQ(Eval(1, "NAME"), "C:SMITH     ");
  EXPECT_EQ(Eval(3, "NAME"), "C:  JONES   ");
  EXPECT_EQ(Eval(1, "AMOUNT"), "N:12.5");
  EXPECT_EQ(Eval(2, "AMOUNT"), "N:-1.25");
  EXPECT_EQ(Eval(1, "BORN"), "D:" + std::to_string(kJan1st2000));
  EXPECT_EQ(Eval(2, "BORN"), "D:0");
  EXPECT_EQ(Eval(1, "ACTIVE"), "L:T");
  EXPECT_EQ(Eval(3, "ACTIVE"), "L:F");
  EXPECT_EQ(Eval(1, "NOTES"), "C:a memo");
  EXPECT_EQ(Eval(2, "NOTES"), "C:");
  EXPECT_EQ(Eval(1, "PADR(NOTES, 8) + '|'"), "C:a memo  |");
  EXPECT_EQ(Eval(1, "PIC"), "type 9");
  EXPECT_EQ(Eval(1, "UPPER(PIC)"), "error: Text needed for Argument 1 of UPPER");
  EXPECT_EQ(Eval(1, "born"), Eval(1, "BORN"));

  table_->GetRecord(1);
  TkxExpHandler amount(table_->ExpressionLink(), "AMOUNT");
  TkxExpValue value;
  amount.EvaluateToBuffer(value);
  EXPECT_EQ(value.fieldLength, 10);
  EXPECT_EQ(value.fieldDecimals, 2);
  TkxExpHandler computed(table_->ExpressionLink(), "AMOUNT * 1");
  computed.EvaluateToBuffer(value);
  EXPECT_EQ(value.fieldLength, 0);
}

TEST_F(ExprTable, BlankDateFieldsAreEmptyDates) {
  EXPECT_EQ(Eval(2, "EMPTY(BORN)"), "L:T");
  EXPECT_EQ(Eval(1, "EMPTY(BORN)"), "L:F");
  EXPECT_EQ(Eval(2, "BORN = CTOD('')"), "L:T");
  EXPECT_EQ(Eval(2, "DTOS(BORN)"), "C:        ");
  EXPECT_EQ(Eval(2, "BORN < {01/01/1900}"), "L:T");
}

TEST_F(ExprTable, TableFunctionsDescribeTheTableAndItsRecord) {
  EXPECT_EQ(Eval(3, "RECNO()"), "N:3");
  EXPECT_EQ(Eval(2, "DELETED()"), "L:T");
  EXPECT_EQ(Eval(3, "DELETED()"), "L:F");
  EXPECT_EQ(Eval(1, "EOF() .OR. BOF()"), "L:F");
  EXPECT_EQ(Eval(1, "TYPE('name')"), "C:C");
  EXPECT_EQ(Eval(1, "TYPE('BORN') + TYPE('AMOUNT') + TYPE('ACTIVE') + TYPE('NOTES')"), "C:DNLM");
  EXPECT_EQ(Eval(1, "TYPE('PIC')"), "C:G");
  EXPECT_EQ(Eval(1, "TYPE('NOSUCH')"), "C:U");
  // The built-in LEN is found first: the length of the text "NAME".
  EXPECT_EQ(Eval(1, "LEN('NAME')"), "N:4");

  // The table's own LEN answers field widths.
  TkxExpHandler handler(table_->ExpressionLink(), "");
  TkxUserDefFunction* len = table_->ExpressionLink()->FindFunction("LEN");
  ASSERT_NE(len, nullptr);
  for (const auto& [name, width] : std::map<std::string, double>{{"NAME", 10}, {"nosuch", 0}}) {
    std::vector<std::unique_ptr<TkxExpBaseObject>> args;
    args.push_back(std::make_unique<TkxExpTextLit>(name));
    TkxExpFunction call(handler, *len, std::move(args));
    TkxExpValue value;
    call.Evaluate(value);
    EXPECT_EQ(Show(value), "N:" + std::to_string(static_cast<int>(width))) << name;
  }
}

TEST_F(ExprTable, StrDefaultWidthCanFollowTheField) {
  table_->ExpressionLink()->StrDefaultWidth = -1;
  EXPECT_EQ(Eval(1, "STR(AMOUNT)"), "C:     12.50");
  EXPECT_EQ(Eval(1, "STR(QTY)"), "C:   3");
  EXPECT_EQ(Eval(1, "STR(AMOUNT * 1)"), "C:        13");
  EXPECT_EQ(Eval(1, "STR(AMOUNT, 6, 1)"), "C:  12.5");
  table_->ExpressionLink()->StrDefaultWidth = 10;
  EXPECT_EQ(Eval(1, "STR(AMOUNT)"), "C:        13");
}

TEST_F(ExprTable, FieldsMayCarryTheFieldOrTableAlias) {
  EXPECT_EQ(Eval(1, "FIELD->NAME"), "C:SMITH     ");
  EXPECT_EQ(Eval(1, "_field->qty"), "N:3");
  EXPECT_EQ(Eval(1, "People->AMOUNT"), "N:12.5");
  EXPECT_EQ(Eval(1, "Other->AMOUNT"), "error: There is no function for OTHER.AMOUNT");
  EXPECT_EQ(Eval(1, "FIELD->NOSUCH"), "error: There is no function for FIELD.NOSUCH");
  EXPECT_EQ(Eval(1, "UPPER(Field->NAME)+DTOS(people->BORN)"), "C:SMITH     20000101");
  // Names are significant to ten characters, as long names in index keys expect.
  EXPECT_EQ(Eval(1, "ACTIVEFLAGOFPERSON"), "error: There is no function for ACTIVEFLAGOFPERSON");
  KXO_DBFBuild builder(dir_.File("long.dbf"));
  builder.AddField("EMPLOYEEID", 'N', 5, 0);
  builder.AddField("DEPARTMENT", 'C', 5, 0);
  builder.WriteTable();
  KXO_dBaseFld longNames(builder.FileName(), true, false);
  longNames.BlankRecord();
  longNames.PutFieldByName("DEPARTMENT", "SALES");
  longNames.PutNumberByName("EMPLOYEEID", 7);
  longNames.AppendRecord();
  EXPECT_EQ(EvalOn(longNames, 1, "TYPE('X') + departmentname"), "C:USALES");
  EXPECT_EQ(EvalOn(longNames, 1, "FIELD->employeeidentifier"), "N:7");

  KXO_dBaseFld dashed(MakePeople(dir_, "my-table.dbf"), false, true);
  EXPECT_EQ(EvalOn(dashed, 1, "my_table->QTY"), "N:3");
}

// A table whose formula request knows a few functions of its own.
class FormulaTable : public KXO_dBaseFld {
 public:
  using KXO_dBaseFld::KXO_dBaseFld;
  int finds = 0;

  int FormulaRequest(const std::string& command, const std::string& function,
                     std::span<uint8_t> result, char& type, bool&) override {
    static const std::set<std::string> known = {"TWICE", "GREETING", "BIRTHDAY", "YES", "BROKEN"};
    if (!known.count(function)) return -1;
    if (command == "FIND") {
      ++finds;
      return 0;
    }
    TkxExpFunction* node = nullptr;
    std::memcpy(&node, result.data(), sizeof node);
    if (function == "TWICE") {
      TkxExpValue argument;
      node->GetArgument(0, argument, kExpNumeric);
      const double twice = argument.number * 2;
      std::memcpy(result.data(), &twice, sizeof twice);
      type = 'N';
    } else if (function == "GREETING") {
      std::memcpy(result.data(), "hello", 6);
      type = 'C';
    } else if (function == "BIRTHDAY") {
      const int32_t day = kJan1st2000;
      std::memcpy(result.data(), &day, sizeof day);
      type = 'D';
    } else if (function == "YES") {
      result[0] = 'y';
      type = 'L';
    } else {
      return -1;
    }
    return 0;
  }
};

TEST_F(ExprTable, UnknownFunctionsAreAskedOfTheFormulaRequest) {
  FormulaTable table(MakePeople(dir_, "formula.dbf"), false, true);
  EXPECT_EQ(EvalOn(table, 1, "TWICE(AMOUNT) + 1"), "N:26");
  EXPECT_EQ(EvalOn(table, 3, "twice(QTY + 2)"), "N:4");
  EXPECT_EQ(table.finds, 1);  // the generic function stays registered
  EXPECT_EQ(table.ExpressionLink()->Functions().Count(), 7);
  EXPECT_EQ(EvalOn(table, 1, "GREETING() + '!'"), "C:hello!");
  EXPECT_EQ(EvalOn(table, 1, "BIRTHDAY() = BORN"), "L:T");
  EXPECT_EQ(EvalOn(table, 1, "YES()"), "L:T");
  EXPECT_EQ(EvalOn(table, 1, "BROKEN()"), "type 1");
  EXPECT_EQ(EvalOn(table, 1, "BROKEN() = 1"), "error: The two sides of an operation do not match");
  EXPECT_EQ(EvalOn(table, 1, "NOPE()"), "error: There is no function for NOPE");
  // A table without such a request knows no generic functions.
  EXPECT_EQ(Eval(1, "TWICE(1)"), "error: There is no function for TWICE");
}

// --- keys of another program's index files ----------------------------------------------

// recno -> key text of an expected-order file written by the peer (trailing blanks cut).
std::map<int32_t, std::string> PeerKeys(const std::string& file) {
  std::map<int32_t, std::string> keys;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    keys[std::stoi(line.substr(0, tab))] = tab == std::string::npos ? "" : line.substr(tab + 1);
  }
  return keys;
}

std::string TrimmedRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

TEST(ExprPeerKeys, HarbourIndexKeysAndConditionsEvaluateAlike) {
  REQUIRE_SHARED();
  const auto folder = FixturesDir() / "peer-harbour";
  struct Order {
    std::string suffix;
    std::string key;
    size_t keySize;
  };
  const std::vector<Order> orders = {{"nmborn", "UPPER(NAME)+DTOS(BORN)", 28},
                                     {"cityam", "CITY+STR(AMOUNT,10,2)", 25},
                                     {"amount", "AMOUNT", 0},
                                     {"name", "NAME", 20}};
  for (const std::string table : {"clip", "fox"}) {
    KXO_dBaseFld dbf((folder / (table + ".dbf")).string(), false, true);
    const std::string separator = table == "clip" ? "_" : ".";
    for (const Order& order : orders) {
      SCOPED_TRACE(table + " " + order.key);
      const auto keys = PeerKeys((folder / (table + separator + order.suffix + ".tsv")).string());
      ASSERT_EQ(keys.size(), 200u);
      TkxExpHandler handler(dbf.ExpressionLink(), order.key);
      TkxVariant variant;
      for (const auto& [recno, key] : keys) {
        dbf.GetRecord(recno);
        ASSERT_TRUE(handler.EvaluateToVariant(variant));
        if (order.keySize == 0) {
          EXPECT_EQ(variant.AsFloat(), std::stod(key)) << recno;
        } else {
          EXPECT_EQ(static_cast<size_t>(variant.Length()), order.keySize) << recno;
          EXPECT_EQ(TrimmedRight(variant.AsText()), key) << recno;
        }
      }
    }
    // The FOR condition holds exactly for the records the conditional order lists.
    const auto listed = PeerKeys((folder / (table + separator + "actfor.tsv")).string());
    TkxExpHandler condition(dbf.ExpressionLink(), "ACTIVE .AND. AMOUNT > 0");
    std::set<int32_t> accepted;
    TkxExpValue value;
    for (dbf.GetRecord(PosTop); !dbf.Eof(); dbf.GetRecord(PosNext)) {
      condition.EvaluateToBuffer(value);
      ASSERT_EQ(value.type, kExpLogical);
      if (value.logical) accepted.insert(dbf.CurrentRecord());
    }
    std::set<int32_t> expected;
    for (const auto& entry : listed) expected.insert(entry.first);
    EXPECT_EQ(accepted, expected) << table;
  }
}

// --- bad input ---------------------------------------------------------------------------

// Deterministic expression texts: token soup, grammar-built expressions, truncations of
// those, and random bytes.
class ExpressionCorpus {
 public:
  std::vector<std::string> Build(size_t eachKind) {
    std::vector<std::string> out;
    for (size_t i = 0; i < eachKind; ++i) out.push_back(Soup());
    for (size_t i = 0; i < eachKind; ++i) {
      const std::string e = Expression(0);
      out.push_back(e);
      out.push_back(e.substr(0, Pick(e.size() + 1)));
    }
    for (size_t i = 0; i < eachKind; ++i) out.push_back(Bytes());
    return out;
  }

 private:
  size_t Pick(size_t n) { return n == 0 ? 0 : rng_() % n; }
  template <size_t N>
  const char* From(const char* const (&list)[N]) {
    return list[Pick(N)];
  }

  std::string Soup() {
    static const char* const kPieces[] = {"NAME",
                                          "AMOUNT",
                                          "QTY",
                                          "BORN",
                                          "ACTIVE",
                                          "NOTES",
                                          "FIELD->NAME",
                                          "X->Y",
                                          "RECNO()",
                                          "DELETED()",
                                          "TYPE('NAME')",
                                          "UPPER(",
                                          "STR(",
                                          "SUBSTR(",
                                          "PADL(",
                                          "DTOS(",
                                          "CTOD(",
                                          "IIF(",
                                          "AT(",
                                          "SPACE(",
                                          "CHR(",
                                          "VAL(",
                                          "SOUNDEX(",
                                          "DESCEND(",
                                          "EMPTY(",
                                          "LEN(",
                                          "NOSUCH(",
                                          "(",
                                          ")",
                                          ",",
                                          " ",
                                          "+",
                                          "-",
                                          "*",
                                          "/",
                                          "^",
                                          "**",
                                          "=",
                                          "==",
                                          "#",
                                          "<>",
                                          "!=",
                                          "<",
                                          ">",
                                          "<=",
                                          "=>",
                                          "$",
                                          "!",
                                          ".AND.",
                                          ".OR.",
                                          ".NOT.",
                                          " AND ",
                                          " NOT ",
                                          " LIKE ",
                                          " POS ",
                                          ".T.",
                                          "T",
                                          "'abc'",
                                          "'SM*'",
                                          "'*'",
                                          "\"x\"",
                                          "[y]",
                                          "'",
                                          "\"",
                                          "[",
                                          "]",
                                          "{",
                                          "}",
                                          "{01/02/2000}",
                                          "{}",
                                          "0",
                                          "1",
                                          "-1",
                                          "2.5",
                                          "1E3",
                                          "1E-3",
                                          ".5",
                                          "256",
                                          "1E9",
                                          "-1E300",
                                          "@",
                                          "?",
                                          "%",
                                          "~",
                                          ";",
                                          "->",
                                          "..",
                                          ".",
                                          "_",
                                          "\t",
                                          "\x80",
                                          "\xff",
                                          "\x01"};
    std::string text;
    const size_t n = 1 + Pick(30);
    for (size_t i = 0; i < n; ++i) text += From(kPieces);
    return text;
  }

  std::string Expression(int depth) {
    static const char* const kAtoms[] = {
        "NAME",   "AMOUNT", "QTY",   "BORN",         "ACTIVE",   "'SM*'", "' a b '", "'*'",
        "3",      "-2.5",   "0",     "{01/02/2000}", "{}",       ".T.",   ".F.",     "RECNO()",
        "DATE()", "''",     "1E300", "DELETED()",    "CTOD('')", "-QTY",  "255",     "65536"};
    static const char* const kFunctions[] = {
        "ALLTRIM", "ASC",     "AT",     "CEILING", "CHR",   "CTOD",  "DESCEND", "DTOC",
        "DTOS",    "EMPTY",   "FLOOR",  "IIF",     "INT",   "LEFT",  "LEN",     "LOWER",
        "LTRIM",   "PADC",    "PADL",   "PADR",    "RIGHT", "RTRIM", "SOUNDEX", "SPACE",
        "STR",     "STRZERO", "SUBSTR", "TRIM",    "UPPER", "VAL",   "TYPE",    "EOF"};
    static const char* const kOperators[] = {
        " = ", " # ", " > ", " < ",     " >= ",   " <= ", " + ",  " - ",
        " * ", " / ", " ^ ", " .AND. ", " .OR. ", " $ ",  " == ", " LIKE "};
    const size_t kind = depth > 4 ? 0 : Pick(5);
    switch (kind) {
      case 0:
        return From(kAtoms);
      case 1: {
        std::string call = std::string(From(kFunctions)) + "(";
        const size_t args = Pick(4);
        for (size_t i = 0; i < args; ++i) call += (i ? ", " : "") + Expression(depth + 1);
        return call + ")";
      }
      case 2:
        return Expression(depth + 1) + From(kOperators) + Expression(depth + 1);
      case 3:
        return (Pick(2) ? ".NOT. " : "-") + Expression(depth + 1);
      default:
        return "(" + Expression(depth + 1) + ")";
    }
  }

  std::string Bytes() {
    std::string text(Pick(40), '\0');
    for (char& c : text) c = static_cast<char>(Pick(256));
    return text;
  }

  std::mt19937 rng_{20240601};
};

// The outcome of evaluating on the current record: the value shown or the error text.
std::string Outcome(TkxExpHandler& handler) {
  TkxExpValue value;
  try {
    if (!handler.EvaluateToBuffer(value)) return "none";
    TkxVariant variant;
    handler.EvaluateToVariant(variant);
    return Show(value);
  } catch (const ETolvernExpression& e) {
    return std::string("error: ") + e.what();
  }
}

TEST_F(ExprTable, GeneratedAndDamagedExpressionsCompileOrFailCleanly) {
  const std::vector<std::string> corpus = ExpressionCorpus().Build(1000);
  ASSERT_GE(corpus.size(), 4000u);
  size_t compiled = 0;
  size_t valued = 0;
  for (const std::string& text : corpus) {
    SCOPED_TRACE(text);
    std::unique_ptr<TkxExpHandler> handler;
    try {
      handler = std::make_unique<TkxExpHandler>(table_->ExpressionLink(), text);
    } catch (const ETolvernExpression&) {
      continue;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "compile raised " << e.what();
      continue;
    }
    ++compiled;
    std::vector<std::string> outcomes;
    for (int32_t recno = 1; recno <= 3; ++recno) {
      table_->GetRecord(recno);
      try {
        outcomes.push_back(Outcome(*handler));
      } catch (const std::exception& e) {
        ADD_FAILURE() << "evaluation raised " << e.what();
        outcomes.push_back("?");
      }
      if (outcomes.back().rfind("error: ", 0) != 0) ++valued;
    }
    // The printed text compiles back to an expression with the same outcomes (unless it
    // outgrew the source limit or holds a literal that no delimiter can enclose).
    const std::string printed = handler->ExpressionText();
    const bool representable =
        printed.size() <= kMaxExpSourceLength &&
        !(text.find('"') != std::string::npos && text.find('\'') != std::string::npos &&
          text.find(']') != std::string::npos);
    if (!representable || !handler->HasRoot()) continue;
    try {
      TkxExpHandler again(table_->ExpressionLink(), printed);
      for (int32_t recno = 1; recno <= 3; ++recno) {
        table_->GetRecord(recno);
        EXPECT_EQ(Outcome(again), outcomes[static_cast<size_t>(recno - 1)]) << printed;
      }
    } catch (const std::exception& e) {
      ADD_FAILURE() << "printed text " << printed << " does not compile: " << e.what();
    }
  }
  // The corpus reaches evaluation, and values, often enough to mean something.

  EXPECT_GT(compiled, 800u);
  EXPECT_GT(valued, 600u);
}

}  // namespace
}  // namespace tolvern
