// replace and import store values as the window does: memos through the memo file, and a
// value a field cannot hold refused with the field and the value before anything changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

class CliValues : public ::testing::Test {
 protected:
  // A table of every type the window edits, with one record.
  void Create(const std::string& type) {
    ASSERT_EQ(RunCli("create " + Quote(table_) + " --type " + type +
                     " NAME:C:5 AMT:N:6:2 BORN:D:8 OK:L:1 NOTE:M:10"),
              0);
    ASSERT_EQ(Import("{\"fields\": {\"NAME\": \"Ann\", \"AMT\": 1.5, \"BORN\": \"1999-12-31\", "
                     "\"OK\": true, \"NOTE\": \"first\"}}\n"),
              0);
    memo_ = dir_.File(type == "foxpro" ? "t.fpt" : "t.dbt");
  }
  int Import(const std::string& lines, std::string* err = nullptr) {
    const std::string path = dir_.File("in.jsonl");
    WriteText(path, lines);
    return RunCli("import " + Quote(table_) + " " + Quote(path), nullptr, err);
  }
  std::string Dump() {
    std::string out, err;
    EXPECT_EQ(RunCli("dump " + Quote(table_), &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    return out;
  }
  std::vector<uint8_t> Files() {
    std::vector<uint8_t> bytes = ReadBytes(table_);
    const std::vector<uint8_t> memo = ReadBytes(memo_);
    bytes.insert(bytes.end(), memo.begin(), memo.end());
    return bytes;
  }

  TempDir dir_;
  std::string table_ = dir_.File("t.dbf");
  std::string memo_;
};

TEST_F(CliValues, ReplaceWritesEveryTypeAndMemosThroughTheMemoFile) {
  for (const char* type : {"dbase3", "dbase4", "foxpro"}) {
    SCOPED_TRACE(type);
    std::filesystem::remove_all(dir_.Path());
    std::filesystem::create_directories(dir_.Path());
    Create(type);
    std::string err;
    ASSERT_EQ(RunCli("replace " + Quote(table_) +
                         " 1 NAME=Bob AMT=-12.5 BORN=2024-02-29 OK=n 'NOTE=hello memo'",
                     nullptr, &err),
              0)
        << err;
    EXPECT_EQ(Dump(),
              "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"Bob\", \"AMT\": -12.50, "
              "\"BORN\": \"2024-02-29\", \"OK\": false, \"NOTE\": \"hello memo\"}}\n");
    ASSERT_EQ(RunCli("replace " + Quote(table_) + " 1 NAME= AMT= BORN=20000101 OK=? NOTE="), 0);
    EXPECT_EQ(Dump(),
              "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"\", \"AMT\": null, "
              "\"BORN\": \"2000-01-01\", \"OK\": null, \"NOTE\": null}}\n");
  }
}

TEST_F(CliValues, AReplacedMemoGivesItsBlocksBack) {
  Create("dbase4");
  const std::string text(1000, 'x');
  ASSERT_EQ(RunCli("replace " + Quote(table_) + " 1 NOTE=" + text), 0);
  const auto size = std::filesystem::file_size(memo_);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(RunCli("replace " + Quote(table_) + " 1 NOTE=" + text), 0);
  // The new text takes new blocks while the old ones are still the record's, then those
  // go back: two texts' room at most.
  EXPECT_LE(std::filesystem::file_size(memo_), size + 1024);
  EXPECT_NE(Dump().find("\"NOTE\": \"" + text + "\""), std::string::npos);
}

TEST_F(CliValues, ReplaceRefusesWhatAFieldCannotHoldBeforeWritingAnything) {
  Create("foxpro");
  const std::vector<uint8_t> before = Files();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"NAME=Albert", "Field 'NAME' cannot hold \"Albert\": longer than the field's 5 characters"},
      {"AMT=abc", "Field 'AMT' cannot hold \"abc\": not a number"},
      {"AMT=0x10", "Field 'AMT' cannot hold \"0x10\": not a number"},
      {"AMT=1234567", "Field 'AMT' cannot hold \"1234567\": Number too large to fit in field"},
      {"BORN=2023-02-30", "Field 'BORN' cannot hold \"2023-02-30\": there is no such date"},
      {"BORN=20231301", "Field 'BORN' cannot hold \"20231301\": there is no such date"},
      {"BORN=yesterday", "Field 'BORN' cannot hold \"yesterday\": not a date"},
      {"OK=X", "Field 'OK' cannot hold \"X\": a logical is T, F, Y, N or ?"},
      {"OK=yes", "Field 'OK' cannot hold \"yes\": a logical is T, F, Y, N or ?"},
  };
  for (const auto& [assignment, message] : cases) {
    std::string err;
    // A good value before the bad one is not written either, nor the memo.
    EXPECT_EQ(RunCli("replace " + Quote(table_) + " 1 NAME=Eve NOTE=changed " + Quote(assignment),
                     nullptr, &err),
              1)
        << assignment;
    EXPECT_EQ(err.rfind(message, 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_TRUE(Files() == before) << assignment << " changed the files";
  }
}

TEST_F(CliValues, ImportRefusesAValueALineCannotHoldBeforeWritingTheLine) {
  Create("dbase4");
  ASSERT_EQ(Import("{\"fields\": {\"OK\": \"Y\", \"BORN\": \"2024-02-29\"}}\n"
                   "{\"fields\": {\"OK\": \"?\", \"NOTE\": \"two\"}}\n"),
            0);
  const std::vector<uint8_t> before = Files();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"\"NAME\": \"Albert\"",
       "Field 'NAME' cannot hold \"Albert\": longer than the field's 5 characters"},
      {"\"AMT\": \"abc\"", "Field 'AMT' cannot hold \"abc\": a number expected"},
      {"\"AMT\": 1234567", "Field 'AMT' cannot hold \"1234567\": Number too large to fit in field"},
      {"\"BORN\": \"2023-02-30\"",
       "Field 'BORN' cannot hold \"2023-02-30\": there is no such date"},
      {"\"BORN\": \"30.01.2023\"", "Field 'BORN' cannot hold \"30.01.2023\": a date YYYY-MM-DD"},
      {"\"OK\": \"X\"", "Field 'OK' cannot hold \"X\": true, false, null or one of T, F"},
      {"\"OK\": 1", "Field 'OK' cannot hold \"1\": true, false, null or one of T, F"},
  };
  for (const auto& [member, message] : cases) {
    std::string err;
    EXPECT_EQ(Import("{\"fields\": {\"NOTE\": \"memo first\", " + member + "}}\n", &err), 1)
        << member;
    EXPECT_EQ(err.rfind("line 1: " + message, 0), 0u) << err;
    EXPECT_TRUE(Files() == before) << member << " changed the files";
  }
  EXPECT_EQ(Dump(),
            "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"Ann\", \"AMT\": 1.50, "
            "\"BORN\": \"1999-12-31\", \"OK\": true, \"NOTE\": \"first\"}}\n"
            "{\"recno\": 2, \"deleted\": false, \"fields\": {\"NAME\": \"\", \"AMT\": null, "
            "\"BORN\": \"2024-02-29\", \"OK\": true, \"NOTE\": null}}\n"
            "{\"recno\": 3, \"deleted\": false, \"fields\": {\"NAME\": \"\", \"AMT\": null, "
            "\"BORN\": null, \"OK\": null, \"NOTE\": \"two\"}}\n");
}

}  // namespace
}  // namespace fendral::test
