// fendral-cli eval: expression values per record, compared with the dump of the same
// fields and with the index keys another program computed for the same table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

// One output line of eval: {"recno": N, "type": "X", "value": V}.
struct EvalLine {
  int recno = 0;
  std::string type;
  std::string value;  // the JSON text of the value
};

// The end of the JSON value starting at `at` (a string, a number, a literal or a nested
// object), so that values can be cut out without a full JSON reader.
size_t ValueEnd(const std::string& s, size_t at) {
  if (at >= s.size()) return at;
  if (s[at] == '"') {
    for (size_t i = at + 1; i < s.size(); ++i) {
      if (s[i] == '\\')
        ++i;
      else if (s[i] == '"')
        return i + 1;
    }
    return s.size();
  }
  if (s[at] == '{') {
    int depth = 0;
    for (size_t i = at; i < s.size(); ++i) {
      if (s[i] == '"') {
        i = ValueEnd(s, i) - 1;
      } else if (s[i] == '{') {
        ++depth;
      } else if (s[i] == '}' && --depth == 0) {
        return i + 1;
      }
    }
    return s.size();
  }
  size_t i = at;
  while (i < s.size() && s[i] != ',' && s[i] != '}') ++i;
  return i;
}

// The members of the JSON object at the start of `s`: name -> value text.
std::map<std::string, std::string> Members(const std::string& s) {
  std::map<std::string, std::string> members;
  size_t i = s.find('{');
  if (i == std::string::npos) return members;
  ++i;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == ',')) ++i;
    if (i >= s.size() || s[i] != '"') break;
    const size_t nameEnd = ValueEnd(s, i);
    const std::string name = s.substr(i + 1, nameEnd - i - 2);
    i = s.find(':', nameEnd) + 1;
    while (i < s.size() && s[i] == ' ') ++i;
    const size_t end = ValueEnd(s, i);
    members[name] = s.substr(i, end - i);
    i = end;
  }
  return members;
}

// Decodes a JSON string literal (escapes included) into UTF-8.
std::string JsonText(const std::string& literal) {
  std::string out;
  for (size_t i = 1; i + 1 < literal.size(); ++i) {
    char c = literal[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    c = literal[++i];
    switch (c) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u': {
        const unsigned code = std::stoul(literal.substr(i + 1, 4), nullptr, 16);
        i += 4;
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
        break;
      }
      default:
        out += c;
        break;
    }
  }
  return out;
}

std::vector<EvalLine> ParseEval(const std::string& output) {
  std::vector<EvalLine> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    auto m = Members(line);
    lines.push_back({std::stoi(m["recno"]), JsonText(m["type"]), m["value"]});
  }
  return lines;
}

std::string RightTrimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Runs eval; asserts success and answers its lines.
std::vector<EvalLine> Eval(const std::string& table, const std::string& expression) {
  std::string out, err;
  const int status = RunCli("eval " + Quote(table) + " " + Quote(expression), &out, &err);
  EXPECT_EQ(status, 0) << expression << ": " << err;
  return ParseEval(out);
}

// A field's value in eval's form and a dump's value agree: text up to trailing blanks,
// numbers by value (a blank number is 0), dates as they are, logicals with blank as false.
bool SameValue(char fieldType, const EvalLine& eval, const std::string& dumped) {
  switch (fieldType) {
    case 'C':
      return eval.type == "C" && RightTrimmed(JsonText(eval.value)) == JsonText(dumped);
    case 'N':
    case 'F':
      return eval.type == "N" && std::strtod(eval.value.c_str(), nullptr) ==
                                     (dumped == "null" ? 0 : std::strtod(dumped.c_str(), nullptr));
    case 'D':
      return eval.type == "D" && eval.value == dumped;
    case 'L':
      return eval.type == "L" && eval.value == (dumped == "null" ? "false" : dumped);
    case 'M':
      return eval.type == "C" && JsonText(eval.value) == (dumped == "null" ? "" : JsonText(dumped));
    default:
      return false;
  }
}

TEST(CliEval, FieldValuesAgreeWithTheDump) {
  REQUIRE_SHARED();
  const std::vector<std::string> tables = {"peer-harbour/clip.dbf",    "peer-harbour/fox.dbf",
                                           "dbd-xbase/types.dbf",      "dbd-xbase/test.dbf",
                                           "infused-dbf/dbase_03.dbf", "infused-dbf/cp1251.dbf",
                                           "infused-dbf/dbase_83.dbf"};
  for (const auto& name : tables) {
    const std::string table = (FixturesDir() / name).string();
    SCOPED_TRACE(name);
    std::string info, dump;
    ASSERT_EQ(RunCli("info " + Quote(table), &info), 0);
    ASSERT_EQ(RunCli("dump " + Quote(table), &dump), 0);
    std::map<int, std::map<std::string, std::string>> dumped;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
      auto m = Members(line);
      dumped[std::stoi(m["recno"])] = Members(m["fields"]);
    }
    // The field list: {"name": ..., "type": ...} objects of the info output.
    std::vector<std::pair<std::string, char>> fields;
    std::map<std::string, int> uses;
    for (size_t at = info.find("\"fields\"");
         (at = info.find("{\"name\"", at)) != std::string::npos; at += 7) {
      auto field = Members(info.substr(at));
      fields.emplace_back(JsonText(field["name"]), JsonText(field["type"])[0]);
      ++uses[fields.back().first];
    }
    int checked = 0;
    for (const auto& [fieldName, type] : fields) {
      // A name given twice (one fixture has that) reaches only the first field.
      if (uses[fieldName] > 1 || std::string("CNFDLM").find(type) == std::string::npos) continue;
      const auto lines = Eval(table, fieldName);
      ASSERT_EQ(lines.size(), dumped.size()) << fieldName;
      for (const auto& eval : lines) {
        EXPECT_TRUE(SameValue(type, eval, dumped[eval.recno][fieldName]))
            << fieldName << " record " << eval.recno << ": eval " << eval.type << " " << eval.value
            << ", dump " << dumped[eval.recno][fieldName];
      }
      ++checked;
    }
    EXPECT_GT(checked, 0);
  }
}

// recno -> key of the peer's expected-order file.
std::map<int, std::string> PeerKeys(const std::string& file) {
  std::map<int, std::string> keys;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    keys[std::stoi(line.substr(0, tab))] = tab == std::string::npos ? "" : line.substr(tab + 1);
  }
  return keys;
}

TEST(CliEval, HarbourIndexKeyExpressionsGiveThePeersKeys) {
  REQUIRE_SHARED();
  const auto folder = FixturesDir() / "peer-harbour";
  const std::string table = (folder / "clip.dbf").string();
  const std::map<std::string, std::pair<std::string, size_t>> orders = {
      {"clip_nmborn.tsv", {"UPPER(NAME)+DTOS(BORN)", 28}},
      {"clip_cityam.tsv", {"CITY+STR(AMOUNT,10,2)", 25}},
      {"clip_name.tsv", {"NAME", 20}}};
  for (const auto& [file, order] : orders) {
    SCOPED_TRACE(order.first);
    const auto keys = PeerKeys((folder / file).string());
    const auto lines = Eval(table, order.first);
    ASSERT_EQ(lines.size(), 200u);
    ASSERT_EQ(keys.size(), 200u);
    for (const auto& eval : lines) {
      const std::string key = JsonText(eval.value);
      EXPECT_EQ(eval.type, "C");
      EXPECT_EQ(key.size(), order.second) << eval.recno;  // blank dates give eight blanks
      EXPECT_EQ(RightTrimmed(key), keys.at(eval.recno)) << eval.recno;
    }
  }
  std::set<int> accepted;
  for (const auto& eval : Eval(table, "ACTIVE .AND. AMOUNT > 0")) {
    ASSERT_EQ(eval.type, "L");
    if (eval.value == "true") accepted.insert(eval.recno);
  }
  std::set<int> listed;
  for (const auto& entry : PeerKeys((folder / "clip_actfor.tsv").string()))
    listed.insert(entry.first);
  EXPECT_EQ(accepted, listed);
}

TEST(CliEval, EveryRecordInOrderWithDeletedOnesAndTypedValues) {
  REQUIRE_SHARED();
  const std::string table = (FixturesDir() / "peer-harbour/clip.dbf").string();
  const auto lines = Eval(table, "DELETED()");
  ASSERT_EQ(lines.size(), 200u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].recno, static_cast<int>(i + 1));
  EXPECT_EQ(lines[1].value, "true");  // record 2 is deleted
  EXPECT_EQ(lines[199].value, "true");

  const auto born = Eval(table, "BORN");
  EXPECT_EQ(born[0].type, "D");
  EXPECT_EQ(born[0].value, "\"2003-01-09\"");
  EXPECT_EQ(born[9].value, "null");  // record 10 has a blank date
  const auto empty = Eval(table, "EMPTY(BORN)");
  EXPECT_EQ(empty[9].value, "true");
  EXPECT_EQ(empty[0].value, "false");

  const auto padded = Eval(table, "LEFT(CITY, 3) + '  '");
  EXPECT_EQ(padded[0].value, "\"Far  \"");  // trailing blanks kept
  const auto number = Eval(table, "AMOUNT * 2");
  EXPECT_EQ(number[0].type, "N");
  EXPECT_EQ(number[0].value, "80854.1");
}

TEST(CliEval, LiteralsAreReadInTheTablesCodePage) {
  REQUIRE_SHARED();
  const std::string table = (FixturesDir() / "infused-dbf/cp1251.dbf").string();
  const auto lines = Eval(table, "NAME = 'больн*'");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].value, "false");
  EXPECT_EQ(lines[1].value, "true");
  const auto upper = Eval(table, "UPPER(TRIM(NAME)) + '!'");
  EXPECT_EQ(JsonText(upper[1].value), "БОЛЬНИЧНОЕ!");
}

TEST(CliEval, ErrorsPrintTheEngineMessageAndExitOne) {
  REQUIRE_SHARED();
  const std::string table = Quote((FixturesDir() / "peer-harbour/clip.dbf").string());
  std::string out, err;
  EXPECT_EQ(RunCli("eval " + table + " " + Quote("UPPER(NAME"), &out, &err), 1);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("Missing closing parentheses"), std::string::npos) << err;

  EXPECT_EQ(RunCli("eval " + table + " " + Quote("NOSUCH(1)"), &out, &err), 1);
  EXPECT_NE(err.find("There is no function for NOSUCH"), std::string::npos) << err;

  // Records before the failing one keep their lines.
  EXPECT_EQ(RunCli("eval " + table + " " + Quote("IIF(RECNO() < 3, 1, 'x') + 1"), &out, &err), 1);
  EXPECT_EQ(ParseEval(out).size(), 2u);
  EXPECT_NE(err.find("The two sides of an operation do not match"), std::string::npos) << err;

  EXPECT_EQ(RunCli("eval " + table + " " + Quote("LEFT(NOTES, 5)"), &out, &err), 0);
  EXPECT_EQ(RunCli("eval " + Quote((FixturesDir() / "php-xbase/foxpro/Foxpro2.dbf").string()) +
                       " " + Quote("GENERAL"),
                   &out, &err),
            1);
  EXPECT_NE(err.find("not of type C, N, D or L"), std::string::npos) << err;

  EXPECT_EQ(RunCli("eval " + table, &out, &err), 64);
  EXPECT_EQ(RunCli("eval " + table + " ''", &out, &err), 64);
}

}  // namespace
}  // namespace fendral::test
