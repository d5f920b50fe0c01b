// MDX files from the command line: every fixture MDX reads as Perl XBase reads it, files
// built by `index` and kept current by `import` and `replace` read back the same in Perl,
// and the command-line answers of seeks and refusals.
#include <gtest/gtest.h>

#include <string>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

int RunMdxCheck(const std::string& mode, const std::string& work, std::string* report) {
  std::string command = "python3 ";
  command += Quote(std::string(FENDRAL_CLI_TESTS_DIR) + "/check_mdx.py");
  command += " " + mode + " " + Quote(FENDRAL_CLI) + " " + Quote(SharedDir().string());
  if (!work.empty()) {
    command += ' ';
    command += Quote(work);
  }
  command += " 2>&1";
  return RunCommand(command, report);
}

TEST(CliMdxInterop, EveryFixtureTagWalksAsPerlXBaseReadsIt) {
  REQUIRE_SHARED();
  std::string report;
  EXPECT_EQ(RunMdxCheck("read", "", &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
  EXPECT_EQ(report.find(" 0 keys"), std::string::npos) << report;
}

TEST(CliMdxInterop, BuiltAndMaintainedFilesReadBackInPerlXBase) {
  REQUIRE_SHARED();
  TempDir work;
  std::string report;
  EXPECT_EQ(RunMdxCheck("write", work.Path().string(), &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

// A table of three records made by import.
std::string ThreeRecords(const TempDir& dir) {
  const std::string table = dir.File("t.dbf");
  EXPECT_EQ(RunCli("create " + Quote(table) + " --type dbase4 NAME:C:10 AMOUNT:N:10:2 BORN:D:8"),
            0);
  WriteText(dir.File("rows.jsonl"),
            "{\"fields\": {\"NAME\": \"SMITH\", \"AMOUNT\": -2.5, \"BORN\": \"1990-05-01\"}}\n"
            "{\"fields\": {\"NAME\": \"JONES\", \"AMOUNT\": 17, \"BORN\": null}}\n"
            "{\"fields\": {\"NAME\": \"ADAMS\", \"AMOUNT\": 0, \"BORN\": \"1985-12-31\"}}\n");
  EXPECT_EQ(RunCli("import " + Quote(table) + " " + Quote(dir.File("rows.jsonl"))), 0);
  return table;
}

TEST(CliMdx, KeysSeeksAndTagsOfEveryKeyType) {
  TempDir dir;
  const std::string table = ThreeRecords(dir);
  const std::string mdx = Quote(dir.File("t.mdx"));
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + mdx + " --tag AMOUNT --key AMOUNT"), 0);
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + mdx + " --tag BORN --key BORN --descending"), 0);
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + mdx + " --tag NAME --key NAME --unique"), 0);
  std::string out;
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + mdx + " --tag amount", &out), 0);
  EXPECT_EQ(out,
            "{\"recno\": 1, \"key\": -2.5}\n{\"recno\": 3, \"key\": 0}\n"
            "{\"recno\": 2, \"key\": 17}\n");
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + mdx + " --tag BORN", &out), 0);
  EXPECT_EQ(out,
            "{\"recno\": 2, \"key\": null}\n{\"recno\": 1, \"key\": \"1990-05-01\"}\n"
            "{\"recno\": 3, \"key\": \"1985-12-31\"}\n");
  ASSERT_EQ(
      RunCli("keys " + Quote(table) + " " + mdx + " --tag AMOUNT --seek 17 --seek -2.50 --seek 3",
             &out),
      0);
  EXPECT_EQ(out,
            "{\"seek\": \"17\", \"found\": true, \"recno\": 2}\n"
            "{\"seek\": \"-2.50\", \"found\": true, \"recno\": 1}\n"
            "{\"seek\": \"3\", \"found\": false, \"recno\": 0}\n");
  ASSERT_EQ(RunCli("tags " + Quote(table) + " " + mdx, &out), 0);
  EXPECT_NE(out.find("{\"name\": \"AMOUNT\""), std::string::npos) << out;
  EXPECT_LT(out.find("\"AMOUNT\""), out.find("\"BORN\""));
  EXPECT_LT(out.find("\"BORN\""), out.find("\"NAME\""));
  EXPECT_NE(out.find("\"unique\": true, \"ascending\": true, \"key_type\": \"C\""),
            std::string::npos)
      << out;
}

TEST(CliMdx, RefusedTagsLeaveTheFileAsItWas) {
  TempDir dir;
  const std::string table = ThreeRecords(dir);
  const std::string mdx = dir.File("t.mdx");
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(mdx) + " --tag NAME --key NAME"), 0);
  const auto before = ReadBytes(mdx);
  std::string err;
  EXPECT_EQ(RunCli("index " + Quote(table) + " " + Quote(mdx) + " --key NAME", nullptr, &err), 1);
  EXPECT_NE(err.find("Tag Field is Empty"), std::string::npos) << err;
  EXPECT_EQ(RunCli("index " + Quote(table) + " " + Quote(mdx) + " --tag ELEVENCHARS --key NAME",
                   nullptr, &err),
            1);
  EXPECT_NE(err.find("5117"), std::string::npos) << err;
  EXPECT_EQ(ReadBytes(mdx), before);
}

}  // namespace
}  // namespace fendral::test
