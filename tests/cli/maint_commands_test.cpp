// The maintenance commands on a table with a production index: edits, pack, zap, copy,
// search and rename keep the table and its index in step.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

namespace fs = std::filesystem;

class MaintCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = dir_.File("people.dbf");
    ASSERT_EQ(RunCli("create " + Quote(table_) +
                     " --type foxpro NAME:C:10 AGE:N:3 NOTE:M:10"),
              0);
    std::string lines;
    const std::vector<std::pair<std::string, int>> rows = {
        {"Olga", 40}, {"Anna", 31}, {"Hugo", 22}, {"Boris", 58}, {"Eva", 19}};
    for (const auto& [name, age] : rows) {
      lines += "{\"fields\": {\"NAME\": \"" + name + "\", \"AGE\": " + std::to_string(age) +
               ", \"NOTE\": \"note of " + name + "\"}}\n";
    }
    WriteText(dir_.File("in.jsonl"), lines);
    ASSERT_EQ(RunCli("import " + Quote(table_) + " " + Quote(dir_.File("in.jsonl"))), 0);
    ASSERT_EQ(RunCli("index " + Quote(table_) + " " + Quote(dir_.File("people.cdx")) +
                     " --tag NAME --key NAME"),
              0);
  }

  // The keys of the production index's NAME tag, "name/recno" each.
  std::vector<std::string> Keys() {
    std::string out;
    EXPECT_EQ(RunCli("keys " + Quote(table_) + " " + Quote(dir_.File("people.cdx")) +
                         " --tag NAME",
                     &out),
              0);
    std::vector<std::string> keys;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      const auto k = line.find("\"key\": \"");
      const auto r = line.find("\"recno\": ");
      if (k == std::string::npos || r == std::string::npos) continue;
      const std::string key = line.substr(k + 8, line.find('"', k + 8) - k - 8);
      keys.push_back(key + "/" + std::to_string(std::stoi(line.substr(r + 9))));
    }
    return keys;
  }

  std::string Dump(const std::string& options = "") {
    std::string out;
    EXPECT_EQ(RunCli("dump " + Quote(table_) + " " + options, &out), 0);
    return out;
  }

  TempDir dir_;
  std::string table_;
};

TEST_F(MaintCommands, EditsKeepTheProductionIndexCurrent) {
  ASSERT_EQ(RunCli("replace " + Quote(table_) + " 3 NAME=Adam AGE=23"), 0);
  EXPECT_EQ(Keys(), (std::vector<std::string>{"Adam/3", "Anna/2", "Boris/4", "Eva/5", "Olga/1"}));
  std::string err;
  EXPECT_EQ(RunCli("replace " + Quote(table_) + " 3 AGE=1234", nullptr, &err), 1);
  EXPECT_NE(err.find("Number too large to fit in field"), std::string::npos) << err;
  EXPECT_EQ(RunCli("replace " + Quote(table_) + " 99 AGE=1", nullptr, &err), 1);

  ASSERT_EQ(RunCli("delete " + Quote(table_) + " 2 4"), 0);
  const std::string hidden = Dump("--index " + Quote(dir_.File("people.cdx")) +
                                  " --tag NAME --hide-deleted");
  EXPECT_EQ(hidden.find("Anna"), std::string::npos);
  EXPECT_LT(hidden.find("Adam"), hidden.find("Eva"));
  EXPECT_LT(hidden.find("Eva"), hidden.find("Olga"));
  ASSERT_EQ(RunCli("recall " + Quote(table_) + " 4"), 0);

  ASSERT_EQ(RunCli("pack " + Quote(table_)), 0);
  // The pack's staging directory and journal are gone.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path()))
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
  EXPECT_EQ(Keys(), (std::vector<std::string>{"Adam/2", "Boris/3", "Eva/4", "Olga/1"}));
  const std::string after = Dump();
  EXPECT_NE(after.find("\"NAME\": \"Boris\", \"AGE\": 58, \"NOTE\": \"note of Boris\""),
            std::string::npos)
      << after;

  ASSERT_EQ(RunCli("zap " + Quote(table_)), 0);
  EXPECT_TRUE(Keys().empty());
  EXPECT_EQ(Dump(), "");
}

TEST_F(MaintCommands, CopySearchAndRename) {
  const std::string copy = dir_.File("older.dbf");
  ASSERT_EQ(RunCli("copy " + Quote(table_) + " " + Quote(copy) + " --filter " +
                   Quote("AGE > 30") + " --index " + Quote(dir_.File("people.cdx")) +
                   " --tag NAME"),
            0);
  std::string out;
  ASSERT_EQ(RunCli("dump " + Quote(copy), &out), 0);
  EXPECT_LT(out.find("Anna"), out.find("Boris")) << "copied in index order";
  EXPECT_LT(out.find("Boris"), out.find("Olga"));
  EXPECT_EQ(out.find("Hugo"), std::string::npos);
  EXPECT_NE(out.find("note of Olga"), std::string::npos);

  ASSERT_EQ(RunCli("copy-structure " + Quote(table_) + " " + Quote(dir_.File("empty.dbf"))), 0);
  ASSERT_EQ(RunCli("dump " + Quote(dir_.File("empty.dbf")), &out), 0);
  EXPECT_EQ(out, "");

  ASSERT_EQ(RunCli("search " + Quote(table_) + " boris --options 1", &out), 0);
  EXPECT_EQ(out, "{\"recno\": 4, \"field\": 1}\n");
  EXPECT_EQ(RunCli("search " + Quote(table_) + " nobody", &out), 3);
  ASSERT_EQ(RunCli("search " + Quote(table_) + " 22 --field 2", &out), 0);
  EXPECT_EQ(out, "{\"recno\": 3, \"field\": 2}\n");

  ASSERT_EQ(RunCli("rename " + Quote(table_) + " staff"), 0);
  EXPECT_TRUE(fs::exists(dir_.File("staff.dbf")));
  EXPECT_TRUE(fs::exists(dir_.File("staff.fpt")));
  EXPECT_TRUE(fs::exists(dir_.File("staff.cdx"))) << "the production index follows";
  EXPECT_FALSE(fs::exists(table_));
}

// A copy carries the table's language mark, so its text reads in the same code page.
TEST(CliCopies, KeepTheLanguageMark) {
  TempDir dir;
  const std::string table = dir.File("latin.dbf");
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type foxpro --codepage 0x03 NAME:C:10"), 0);
  WriteText(dir.File("in.jsonl"), "{\"fields\": {\"NAME\": \"Se\u00f1or\"}}\n");
  ASSERT_EQ(RunCli("import " + Quote(table) + " " + Quote(dir.File("in.jsonl"))), 0);
  const std::string expected =
      "{\"recno\": 1, \"deleted\": false, \"fields\": {\"NAME\": \"Se\u00f1or\"}}\n";
  std::string out;
  ASSERT_EQ(RunCli("dump " + Quote(table), &out), 0);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(ReadBytes(table)[29], 0x03);

  ASSERT_EQ(RunCli("copy " + Quote(table) + " " + Quote(dir.File("copy.dbf"))), 0);
  ASSERT_EQ(RunCli("dump " + Quote(dir.File("copy.dbf")), &out), 0);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(ReadBytes(dir.File("copy.dbf"))[29], 0x03);
  ASSERT_EQ(RunCli("copy-structure " + Quote(table) + " " + Quote(dir.File("empty.dbf"))), 0);
  EXPECT_EQ(ReadBytes(dir.File("empty.dbf"))[29], 0x03);

  // An iconv name that has a mark is written as that mark; one without is refused.
  ASSERT_EQ(RunCli("create " + Quote(dir.File("cyr.dbf")) +
                   " --type dbase3 --codepage cp866 "
                   "A:C:2"),
            0);
  EXPECT_EQ(ReadBytes(dir.File("cyr.dbf"))[29], 0x65);
  ASSERT_EQ(RunCli("info " + Quote(dir.File("cyr.dbf")), &out), 0);
  EXPECT_NE(out.find("\"codepage_mark\": 101"), std::string::npos) << out;
  std::string err;
  EXPECT_EQ(RunCli("create " + Quote(dir.File("bad.dbf")) + " --type dbase3 --codepage UTF-8 A:C:2",
                   nullptr, &err),
            64);
  EXPECT_EQ(RunCli("create " + Quote(dir.File("bad.dbf")) + " --type dbase3 --codepage 0x1FF A:C:2",
                   nullptr, &err),
            64);
  EXPECT_FALSE(fs::exists(dir.File("bad.dbf")));
}

}  // namespace
}  // namespace fendral::test
