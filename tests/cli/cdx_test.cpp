// fendral-cli index, keys and tags on CDX files: against the files and readers of other
// programs (check_cdx.py) and on their own command lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

int RunCdxCheck(const std::string& mode, const std::string& work, std::string* report) {
  std::string command = "/usr/bin/python3 ";
  command += Quote(std::string(FENDRAL_CLI_TESTS_DIR) + "/check_cdx.py");
  command.append(" ").append(mode).append(" ").append(Quote(FENDRAL_CLI));
  command.append(" ").append(Quote(SharedDir().string()));
  if (!work.empty()) command.append(" ").append(Quote(work));
  command += " 2>&1";
  return RunCommand(command, report);
}

TEST(CliCdx, EveryFixtureTagWalksInTheOrderItsWriterOrPerlXBaseGives) {
  REQUIRE_SHARED();
  std::string report;
  EXPECT_EQ(RunCdxCheck("read", "", &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(CliCdx, ExactSeeksFindTheKeysOfHarbourListings) {
  REQUIRE_SHARED();
  std::string report;
  EXPECT_EQ(RunCdxCheck("seek", "", &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(CliCdx, BuiltAndMaintainedTagsReadBackInPerlXBaseInTheOrderOfTheTable) {
  REQUIRE_SHARED();
  TempDir work;
  std::string report;
  EXPECT_EQ(RunCdxCheck("write", work.Path().string(), &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(CliCdx, RefusesTagsTheDirectoryCannotHoldBeforeWritingAnything) {
  TempDir dir;
  const std::string table = dir.File("t.dbf"), index = dir.File("t.cdx");
  const std::string input = dir.File("rows.jsonl");
  WriteText(input,
            "{\"fields\": {\"NAME\": \"Maria\", \"AMOUNT\": -5.25, \"BORN\": \"2001-02-03\"}}\n"
            "{\"fields\": {\"NAME\": \"Anna\", \"AMOUNT\": 12, \"BORN\": null}}\n");
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type dbase3 NAME:C:10 AMOUNT:N:8:2 BORN:D:8"), 0);
  ASSERT_EQ(RunCli("import " + Quote(table) + " " + Quote(input)), 0);
  std::string out, err;
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(index) + " --tag BORN --key BORN"), 0);
  const std::string before = ReadText(index);

  EXPECT_NE(RunCli("index " + Quote(table) + " " + Quote(index) + " --tag ELEVENCHARS --key NAME",
                   &out, &err),
            0);
  EXPECT_NE(err.find("5117"), std::string::npos) << err;
  EXPECT_NE(RunCli("index " + Quote(table) + " " + Quote(index) + " --key NAME", &out, &err), 0);
  EXPECT_NE(err.find("Tag Field is Empty"), std::string::npos) << err;
  EXPECT_EQ(ReadText(index), before);

  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(index) + " --tag born", &out, &err), 0)
      << err;
  EXPECT_EQ(out,
            "{\"recno\": 2, \"key\": null}\n"
            "{\"recno\": 1, \"key\": \"2001-02-03\"}\n");
  ASSERT_EQ(RunCli("tags " + Quote(table) + " " + Quote(index), &out, &err), 0) << err;
  EXPECT_EQ(out,
            "{\"name\": \"BORN\", \"key\": \"BORN\", \"for\": \"\", \"unique\": false, "
            "\"ascending\": true, \"key_type\": \"D\", \"key_length\": 8}\n");
}

TEST(CliCdx, BinaryTagsAreListedButNotWalked) {
  REQUIRE_SHARED();
  const auto folder = FixturesDir() / "vfpx-codeplex/FoxBin2prg/TESTS/DATOS_READONLY";
  const std::string table = (folder / "foxuser_fdbozzo.dbf").string();
  const std::string index = (folder / "foxuser_fdbozzo.cdx").string();
  std::string out, err;
  ASSERT_EQ(RunCli("tags " + Quote(table) + " " + Quote(index), &out, &err), 0) << err;
  EXPECT_NE(out.find("\"READONLY\""), std::string::npos);
  EXPECT_NE(RunCli("keys " + Quote(table) + " " + Quote(index) + " --tag READONLY", &out, &err), 0);
  EXPECT_NE(err.find("binary index"), std::string::npos) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
}

}  // namespace
}  // namespace fendral::test
