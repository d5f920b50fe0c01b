// fendral-cli index, keys and tags: against the files and readers of other programs
// (check_index.py) and on their own command lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

int RunIndexCheck(const std::string& mode, const std::string& work, std::string* report) {
  return RunCommand("/usr/bin/python3 " +
                        Quote(std::string(FENDRAL_CLI_TESTS_DIR) + "/check_index.py") + " " + mode +
                        " " + Quote(FENDRAL_CLI) + " " + Quote(SharedDir().string()) +
                        (work.empty() ? "" : " " + Quote(work)) + " 2>&1",
                    report);
}

TEST(CliIndex, EveryFixtureIndexWalksInTheOrderItsWriterOrPerlXBaseGives) {
  REQUIRE_SHARED();
  std::string report;
  EXPECT_EQ(RunIndexCheck("read", "", &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(CliIndex, ExactSeeksFindTheKeysOfHarbourListings) {
  REQUIRE_SHARED();
  std::string report;
  EXPECT_EQ(RunIndexCheck("seek", "", &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(CliIndex, BuiltIndexesReadBackInPerlXBaseInTheOrderOfTheTable) {
  REQUIRE_SHARED();
  TempDir work;
  std::string report;
  EXPECT_EQ(RunIndexCheck("write", work.Path().string(), &report), 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

// Seeks among equal keys answer the first entry of the key in the order the tag is walked,
// as the other program's seek does, in ascending and descending NTX and CDX orders.
TEST(CliIndex, SeeksAmongEqualKeysAgreeWithTheOtherProgram) {
  REQUIRE_SHARED();
  const std::string verify = (SharedDir() / "peers" / "bin" / "hb-verify").string();
  if (!std::filesystem::exists(verify)) GTEST_SKIP() << "hb-verify not found";
  TempDir dir;
  const std::string table = dir.File("dup.dbf");
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type foxpro NAME:C:10"), 0);
  std::string lines;
  for (const char* name : {"Kim", "Abe", "Kim", "Zed", "Kimber", "Kim", "Abe", "Zed", "Kim"})
    lines += std::string("{\"fields\": {\"NAME\": \"") + name + "\"}}\n";
  WriteText(dir.File("rows.jsonl"), lines);
  ASSERT_EQ(RunCli("import " + Quote(table) + " " + Quote(dir.File("rows.jsonl"))), 0);
  struct Order {
    std::string file;
    std::string tag;
    bool descending;
  };
  const std::vector<Order> orders = {{"up.ntx", "", false},
                                     {"down.ntx", "", true},
                                     {"dup.cdx", "UP", false},
                                     {"dup.cdx", "DOWN", true}};
  for (const Order& o : orders) {
    SCOPED_TRACE(o.file + " " + o.tag);
    const std::string tagOption = o.tag.empty() ? "" : " --tag " + o.tag;
    ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(dir.File(o.file)) + tagOption +
                     " --key NAME" + (o.descending ? " --descending" : "")),
              0);
    // The other program seeks partial keys: values that begin no other key.
    for (const std::string value : {"Abe", "Zed", "Kimber"}) {
      std::string ours, theirs;
      ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File(o.file)) + tagOption +
                           " --seek " + value,
                       &ours),
                0);
      ASSERT_EQ(RunCommand("cd " + Quote(dir.Path().string()) + " && " + Quote(verify) +
                               " dup.dbf " + o.file + " " + o.tag + " --nowalk --seek=" + value +
                               " | grep '^seek' | cut -f4",
                           &theirs),
                0);
      EXPECT_EQ(ours, "{\"seek\": \"" + value + "\", \"found\": true, \"recno\": " +
                          theirs.substr(0, theirs.find('\n')) + "}\n")
          << value;
    }
  }
  // The descending tag of the other program's own file.
  const std::string fox = (FixturesDir() / "peer-harbour" / "fox").string();
  std::string out;
  ASSERT_EQ(RunCli("keys " + Quote(fox + ".dbf") + " " + Quote(fox + ".cdx") +
                       " --tag NAMED --seek " + Quote("ZZ Top, Niaj"),
                   &out),
            0);
  EXPECT_EQ(out, "{\"seek\": \"ZZ Top, Niaj\", \"found\": true, \"recno\": 142}\n");
}

// A small table made through the tool itself.
std::string MakeTable(const TempDir& dir) {
  const std::string table = dir.File("t.dbf");
  const std::string input = dir.File("rows.jsonl");
  WriteText(input,
            "{\"fields\": {\"NAME\": \"Maria\", \"AMOUNT\": -5.25, \"BORN\": \"2001-02-03\"}}\n"
            "{\"fields\": {\"NAME\": \"Anna\", \"AMOUNT\": 12, \"BORN\": null}}\n"
            "{\"fields\": {\"NAME\": \"Maria\", \"AMOUNT\": 0, \"BORN\": \"1999-12-31\"}}\n");
  EXPECT_EQ(RunCli("create " + Quote(table) + " --type dbase3 NAME:C:10 AMOUNT:N:8:2 BORN:D:8"), 0);
  EXPECT_EQ(RunCli("import " + Quote(table) + " " + Quote(input)), 0);
  return table;
}

TEST(CliIndex, KeysPrintTypedValuesAndSeeksAnswerPerValue) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  std::string out, err;
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(dir.File("n.ntx")) +
                       " --key NAME --for 'AMOUNT >= 0'",
                   nullptr, &err),
            0)
      << err;
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File("n.ntx")), &out), 0);
  EXPECT_EQ(out, "{\"recno\": 2, \"key\": \"Anna\"}\n{\"recno\": 3, \"key\": \"Maria\"}\n");

  ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(dir.File("a.ndx")) + " --key AMOUNT"), 0);
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File("a.ndx")), &out), 0);
  EXPECT_EQ(out,
            "{\"recno\": 1, \"key\": -5.25}\n{\"recno\": 3, \"key\": 0}\n"
            "{\"recno\": 2, \"key\": 12}\n");
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File("a.ndx")) +
                       " --seek 12 --seek -5.25 --seek 7",
                   &out),
            0);
  EXPECT_EQ(out,
            "{\"seek\": \"12\", \"found\": true, \"recno\": 2}\n"
            "{\"seek\": \"-5.25\", \"found\": true, \"recno\": 1}\n"
            "{\"seek\": \"7\", \"found\": false, \"recno\": 0}\n");

  ASSERT_EQ(
      RunCli("index " + Quote(table) + " " + Quote(dir.File("b.ntx")) + " --key BORN --descending"),
      0);
  ASSERT_EQ(
      RunCli("keys " + Quote(table) + " " + Quote(dir.File("b.ntx")) + " --seek 19991231", &out),
      0);
  EXPECT_EQ(out, "{\"seek\": \"19991231\", \"found\": true, \"recno\": 3}\n");
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File("b.ntx")), &out), 0);
  EXPECT_EQ(out,
            "{\"recno\": 1, \"key\": \"2001-02-03\"}\n{\"recno\": 3, \"key\": \"1999-12-31\"}\n"
            "{\"recno\": 2, \"key\": null}\n");

  ASSERT_EQ(RunCli("tags " + Quote(table) + " " + Quote(dir.File("b.ntx")), &out), 0);
  EXPECT_EQ(out,
            "{\"name\": \"b\", \"key\": \"BORN\", \"for\": \"\", \"unique\": false, "
            "\"ascending\": false, \"key_type\": \"D\", \"key_length\": 8}\n");
  ASSERT_EQ(
      RunCli("index " + Quote(table) + " " + Quote(dir.File("u.ndx")) + " --key NAME --unique"), 0);
  ASSERT_EQ(RunCli("tags " + Quote(table) + " " + Quote(dir.File("u.ndx")), &out), 0);
  EXPECT_EQ(out,
            "{\"name\": \"u\", \"key\": \"NAME\", \"for\": \"\", \"unique\": true, "
            "\"ascending\": true, \"key_type\": \"C\", \"key_length\": 10}\n");
  ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File("u.ndx")), &out), 0);
  EXPECT_EQ(out, "{\"recno\": 2, \"key\": \"Anna\"}\n{\"recno\": 1, \"key\": \"Maria\"}\n");
}

TEST(CliIndex, RefusalsAreClearAndLeaveExistingFilesAlone) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  const std::string ndx = dir.File("x.ndx");
  std::string err;
  EXPECT_EQ(RunCli("index " + Quote(table) + " " + Quote(ndx) + " --key NAME --for 'AMOUNT > 0'",
                   nullptr, &err),
            64);
  EXPECT_NE(err.find("FOR"), std::string::npos) << err;
  EXPECT_EQ(RunCli("index " + Quote(table) + " " + Quote(ndx) + " --key NAME --descending", nullptr,
                   &err),
            64);
  EXPECT_NE(err.find("ascending"), std::string::npos) << err;
  EXPECT_FALSE(fs::exists(ndx));

  // A key expression that does not compile leaves an existing index as it was.
  ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(ndx) + " --key NAME"), 0);
  const std::vector<uint8_t> before = ReadBytes(ndx);
  EXPECT_EQ(
      RunCli("index " + Quote(table) + " " + Quote(ndx) + " --key 'NOSUCHFIELD+1'", nullptr, &err),
      1);
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(ReadBytes(ndx), before);

  EXPECT_EQ(RunCli("keys " + Quote(table) + " " + Quote(dir.File("missing.ntx")), nullptr, &err),
            1);
  EXPECT_NE(err.find("Cannot find file"), std::string::npos) << err;
  EXPECT_EQ(RunCli("keys " + Quote(table) + " " + Quote(ndx) + " --tag OTHER", nullptr, &err), 1);
  EXPECT_NE(err.find("Cannot find index tag OTHER"), std::string::npos) << err;
  EXPECT_EQ(RunCli("keys " + Quote(table), nullptr, &err), 64);
}

}  // namespace
}  // namespace fendral::test
