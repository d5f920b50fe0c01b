// create, import and dump on tables made here: values, errors and damaged memos.
#include <gtest/gtest.h>

#include <vector>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

class TableCommands : public ::testing::Test {
 protected:
  std::string Table(const std::string& name = "t.dbf") { return dir_.File(name); }
  std::string Lines(const std::string& text) {
    const std::string path = dir_.File("in.jsonl");
    WriteText(path, text);
    return path;
  }
  TempDir dir_;
};

TEST_F(TableCommands, ImportThenDumpGivesTheSameValues) {
  ASSERT_EQ(RunCli("create " + Quote(Table()) +
                   " --type foxpro --block-size 64 NAME:C:10 AMT:N:8:2 BORN:D:8 OK:L:1 "
                   "NOTE:M:10 PIC:G:10"),
            0);
  const std::string in =
      "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"Ærø\", \"AMT\": -12.5, "
      "\"BORN\": \"1999-12-31\", \"OK\": true, \"NOTE\": \"two\\nlines\", \"PIC\": \"AAEC/w==\"}}\n"
      "{\"recno\": 9, \"deleted\": true, \"fields\": {\"NAME\": \"x\"}}\n";
  std::string err;
  ASSERT_EQ(RunCli("import " + Quote(Table()) + " " + Quote(Lines(in)) + " --encoding CP850",
                   nullptr, &err),
            0)
      << err;
  std::string out;
  ASSERT_EQ(RunCli("dump " + Quote(Table()) + " --encoding CP850", &out, &err), 0) << err;
  EXPECT_EQ(out,
            "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"Ærø\", \"AMT\": -12.50, "
            "\"BORN\": \"1999-12-31\", \"OK\": true, \"NOTE\": \"two\\nlines\", \"PIC\": "
            "\"AAEC/w==\"}}\n"
            "{\"recno\": 2, \"deleted\": true, \"fields\": {\"NAME\": \"x\", \"AMT\": null, "
            "\"BORN\": null, \"OK\": null, \"NOTE\": null, \"PIC\": null}}\n");
}

TEST_F(TableCommands, AValueAFieldCannotTakeStopsWithTheLineNumber) {
  ASSERT_EQ(RunCli("create " + Quote(Table()) + " --type dbase3 AMT:N:5:2"), 0);
  const std::string in =
      "{\"fields\": {\"AMT\": 12.5}}\n"
      "{\"fields\": {\"AMT\": 1234.5}}\n"
      "{\"fields\": {\"AMT\": 1}}\n";
  std::string err;
  EXPECT_EQ(RunCli("import " + Quote(Table()) + " " + Quote(Lines(in)), nullptr, &err), 1);
  EXPECT_EQ(
      err.rfind("line 2: Field 'AMT' cannot hold \"1234.5\": Number too large to fit in field", 0),
      0u)
      << err;
  std::string out;
  ASSERT_EQ(RunCli("dump " + Quote(Table()), &out), 0);
  EXPECT_EQ(out, "") << "a file with a refused line appends nothing";

  // A number with fewer decimals than the field declares is kept as it is when padding
  // it would not fit, as the programs that write such fields do.
  ASSERT_EQ(RunCli("import " + Quote(Table()) + " " +
                   Quote(Lines("{\"fields\": {\"AMT\": 123.4}}\n"))),
            0);
  ASSERT_EQ(RunCli("dump " + Quote(Table()), &out), 0);
  EXPECT_NE(out.find("{\"recno\": 1, \"deleted\": false, \"fields\": {\"AMT\": 123.4}}"),
            std::string::npos)
      << out;

  EXPECT_EQ(RunCli("import " + Quote(Table()) + " " + Quote(Lines("{\"fields\": {\"AMT\": \"x\"}}\n")),
                   nullptr, &err),
            1);
  EXPECT_NE(err.find("line 1: Field 'AMT' cannot hold \"x\": a number expected"), std::string::npos)
      << err;
  EXPECT_EQ(RunCli("import " + Quote(Table()) + " " + Quote(Lines("{\"fields\": {\"NOPE\": 1}}\n")),
                   nullptr, &err),
            1);
  EXPECT_NE(err.find("unknown field NOPE"), std::string::npos) << err;
  EXPECT_EQ(RunCli("import " + Quote(Table()) + " " + Quote(Lines("{\"fields\": \n")), nullptr, &err),
            1);
  EXPECT_NE(err.find("line 1: malformed JSON"), std::string::npos) << err;
}

TEST_F(TableCommands, DamagedMemoIsNullWithAWarningAndExitCode2) {
  ASSERT_EQ(RunCli("create " + Quote(Table()) + " --type dbase3 NOTE:M:10 N:N:3"), 0);
  ASSERT_EQ(RunCli("import " + Quote(Table()) + " " +
                   Quote(Lines("{\"fields\": {\"NOTE\": \"hello\", \"N\": 1}}\n"
                               "{\"fields\": {\"NOTE\": \"world\", \"N\": 2}}\n"))),
            0);
  // Point the second record's memo far past the end of the memo file.
  auto bytes = ReadBytes(Table());
  const size_t header = 32 + 2 * 32 + 1;
  const size_t second = header + 14;
  const std::string far = "    999999";
  std::copy(far.begin(), far.end(), bytes.begin() + static_cast<long>(second + 1));
  WriteBytes(Table(), bytes);

  std::string out, err;
  EXPECT_EQ(RunCli("dump " + Quote(Table()), &out, &err), 2);
  EXPECT_EQ(out,
            "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NOTE\": \"hello\", \"N\": 1}}\n"
            "{\"recno\": 2, \"deleted\": false, \"fields\": {\"NOTE\": null, \"N\": 2}}\n");
  EXPECT_NE(err.find("record 2 field NOTE: dBase memo record has format error"),
            std::string::npos)
      << err;
}

TEST_F(TableCommands, CreateRefusesBadDefinitionsAndWritesNothing) {
  std::string err;
  EXPECT_EQ(RunCli("create " + Quote(Table()) + " --type dbase3 1BAD:C:5", nullptr, &err), 1);
  EXPECT_NE(err.find("dBase field name is invalid"), std::string::npos) << err;
  EXPECT_EQ(RunCli("create " + Quote(Table()) + " --type dbase3 A:Q:5", nullptr, &err), 1);
  EXPECT_NE(err.find("dBase field is of incorrect type"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(Table()));
  EXPECT_EQ(RunCli("create " + Quote(Table()) + " --type paradox A:C:5", nullptr, &err), 64);
}

}  // namespace
}  // namespace fendral::test
