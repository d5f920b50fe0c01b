// The handler and damaged index files: a file that cannot be opened is listed instead of
// stopping the caller, and a file found damaged at a walk, a seek or a write is closed,
// listed, and never leaves the current order pointing into it.
#include <gtest/gtest.h>

#include <string>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;

// NAME C 12 with `records` records, and an NTX on NAME beside it; answers the NTX's path.
std::string MakeIndexedTable(const TempDir& dir, int records) {
  const std::string table = dir.File("t.dbf");
  {
    KXO_DBFoxBuild builder(table);
    builder.AddField("NAME", 'C', 12, 0);
    builder.WriteTable();
  }
  KXO_dBHandler t(table, true, false);
  for (int i = 0; i < records; ++i) {
    t.BlankRecord();
    std::string name = "N";
    name += std::to_string((i * 7919) % 1000 + 1000);
    t.PutFieldByName("NAME", name);
    t.AppendRecord();
  }
  t.IndexOn(dir.File("names.ntx"), "", 0, true, "", "NAME");
  return dir.File("names.ntx");
}

// Makes every page after the header claim 32767 keys.
void DamageEveryPage(const std::string& ntx) {
  std::string bytes = fendral::test::ReadText(ntx);
  for (size_t page = 1024; page + 1 < bytes.size(); page += 1024) {
    bytes[page] = '\xff';
    bytes[page + 1] = '\x7f';
  }
  fendral::test::WriteText(ntx, bytes);
}

TEST(HandlerDamagedIndex, AFileThatCannotBeReadIsListedAndTheNextOpenOfItTakesItOffTheList) {
  TempDir dir;
  const std::string ntx = MakeIndexedTable(dir, 20);
  const std::string sound = fendral::test::ReadText(ntx);
  fendral::test::WriteText(ntx, std::string(2048, '\xa5'));
  KXO_dBHandler t(dir.File("t.dbf"), true, false);
  EXPECT_EQ(t.OpenIndexFileOrMark(ntx), kErrIndexDamaged);
  EXPECT_EQ(t.IndexFileCount(), 0);
  ASSERT_EQ(t.DamagedIndexes().size(), 1u);
  EXPECT_NE(t.DamagedIndexes()[0].reason.find("names.ntx"), std::string::npos);
  // Asked again, it stays listed once; mended, it opens and leaves the list.
  EXPECT_EQ(t.OpenIndexFileOrMark(ntx), kErrIndexDamaged);
  EXPECT_EQ(t.DamagedIndexes().size(), 1u);
  fendral::test::WriteText(ntx, sound);
  EXPECT_EQ(t.OpenIndexFileOrMark(ntx), 0);
  EXPECT_TRUE(t.DamagedIndexes().empty());
  // A missing file is no damaged file: the engine's error as before.
  EXPECT_THROW(t.OpenIndexFileOrMark(dir.File("missing.ntx")), ETolvernError);
}

TEST(HandlerDamagedIndex, AWalkThatMeetsADamagedPageStopsWithTheDamageAndNaturalOrderFollows) {
  TempDir dir;
  const std::string ntx = MakeIndexedTable(dir, 400);
  KXO_dBHandler t(dir.File("t.dbf"), true, false);
  t.SetIndexDamageTolerated(true);
  ASSERT_EQ(t.OpenIndexFile(ntx), 0);
  t.SelectOrder("NAMES", false);
  ASSERT_NE(t.CurrentOrder(), nullptr);
  // The walk has begun (the path to the first leaf is held) when every other page is
  // damaged; it cannot go on in the order it began in: it ends with the engine's error.
  t.GetRecord(PosTop);
  DamageEveryPage(ntx);
  int visited = 0;
  try {
    for (; !t.Eof() && visited < 1000; t.GetRecord(PosNext)) ++visited;
    ADD_FAILURE() << "the walk ended without meeting the damage";
  } catch (const ETolvernError& e) {
    EXPECT_NE(std::string(e.what()).find("names.ntx"), std::string::npos) << e.what();
  }
  EXPECT_GT(visited, 0);
  EXPECT_LT(visited, 400);
  EXPECT_EQ(t.CurrentOrder(), nullptr);
  EXPECT_TRUE(t.CurrentOrderName().empty());
  EXPECT_EQ(t.IndexFileCount(), 0);
  ASSERT_EQ(t.DamagedIndexes().size(), 1u);
  EXPECT_NE(t.DamagedIndexes()[0].reason.find("32767 keys"), std::string::npos);
  // Walks, seeks and skips afterwards work in natural order.
  visited = 0;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) ++visited;
  EXPECT_EQ(visited, 400);
  EXPECT_FALSE(t.FindKey("N1000"));
  t.GetRecord(PosTop);
  t.SkipRecords(5);
  EXPECT_EQ(t.CurrentRecord(), 6);
}

TEST(HandlerDamagedIndex, ASeekInANamedTagOfADamagedFileFindsNothingAndClosesTheFile) {
  TempDir dir;
  const std::string ntx = MakeIndexedTable(dir, 400);
  KXO_dBHandler t(dir.File("t.dbf"), true, false);
  t.SetIndexDamageTolerated(true);
  ASSERT_EQ(t.OpenIndexFile(ntx), 0);
  DamageEveryPage(ntx);
  EXPECT_EQ(t.FindKeyInTag("NAMES", "N1000"), -1);
  EXPECT_EQ(t.IndexFileCount(), 0);
  EXPECT_EQ(t.DamagedIndexes().size(), 1u);
  // A write goes on without the closed file.
  t.GetRecord(3);
  t.PutFieldByName("NAME", "CHANGED");
  EXPECT_NO_THROW(t.PutRecord(3));
  t.GetRecord(3);
  EXPECT_EQ(t.GetFieldByName("NAME").substr(0, 7), "CHANGED");
}

TEST(HandlerDamagedIndex, AWriteThatMeetsADamagedPageCompletesAndTheFileIsNotWrittenAgain) {
  TempDir dir;
  const std::string ntx = MakeIndexedTable(dir, 400);
  KXO_dBHandler t(dir.File("t.dbf"), true, false);
  t.SetIndexDamageTolerated(true);
  ASSERT_EQ(t.OpenIndexFile(ntx), 0);
  DamageEveryPage(ntx);
  const std::string damaged = fendral::test::ReadText(ntx);
  t.BlankRecord();
  t.PutFieldByName("NAME", "APPENDED");
  EXPECT_NO_THROW(t.AppendRecord());
  EXPECT_EQ(t.RecordCount(), 401);
  EXPECT_EQ(t.IndexFileCount(), 0);
  EXPECT_EQ(t.DamagedIndexes().size(), 1u);
  t.BlankRecord();
  t.PutFieldByName("NAME", "AGAIN");
  t.AppendRecord();
  EXPECT_TRUE(fendral::test::ReadText(ntx).substr(1024) == damaged.substr(1024));
}

TEST(HandlerDamagedIndex, WithoutToleranceTheDamageReachesTheCallerAsBefore) {
  TempDir dir;
  const std::string ntx = MakeIndexedTable(dir, 400);
  KXO_dBHandler t(dir.File("t.dbf"), true, false);
  ASSERT_EQ(t.OpenIndexFile(ntx), 0);
  DamageEveryPage(ntx);
  EXPECT_THROW(t.SelectOrder("NAMES", false), ETolvernError);
  EXPECT_THROW(t.FindKeyInTag("NAMES", "N1000"), ETolvernError);
  EXPECT_EQ(t.IndexFileCount(), 1);
  EXPECT_TRUE(t.DamagedIndexes().empty());
}

}  // namespace
}  // namespace tolvern
