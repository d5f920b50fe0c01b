// The dataset's walk and the grid's row reader in an index order with a filter read the
// records the order reaches next in one go, and show exactly what record-by-record reads
// show.
#include <gtest/gtest.h>

#include <random>

#include "dataset_support.h"
#include "kx6_build.h"
#include "kx6_dbsy.h"

namespace fendral {
namespace {

using test::TempDir;

// NAME C 10, AMOUNT N 8 2; keys in clusters so that the order jumps through the file.
std::string MakeTable(const TempDir& dir) {
  const std::string path = (dir.Path() / "rows.dbf").string();
  {
    tolvern::KXO_DBFoxBuild builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.AddField("AMOUNT", 'N', 8, 2);
    builder.WriteTable();
  }
  std::mt19937 rng(5);
  tolvern::KXO_dBHandler t(path, true, false);
  std::string cluster = "M";
  for (int i = 0; i < 2500; ++i) {
    if (i % 30 == 0) cluster = std::string(1, static_cast<char>('A' + rng() % 26));
    t.BlankRecord();
    t.PutFieldByName("NAME", cluster + std::to_string(rng() % 50));
    t.PutNumberByName("AMOUNT", static_cast<double>(rng() % 1000));
    t.AppendRecord();
  }
  EXPECT_EQ(t.IndexOn((dir.Path() / "rows.ntx").string(), "", 0, true, "", "NAME"), 0);
  return path;
}

// Every record the walk meets forward, then backward: its number and NAME.
std::vector<std::pair<int, QString>> Walk(TTolvernDataSet& ds) {
  std::vector<std::pair<int, QString>> seen;
  for (ds.First(); !ds.Eof(); ds.Next())
    seen.emplace_back(ds.RecNo(), ds.FieldByName(QStringLiteral("NAME"))->AsString());
  for (ds.Last(); !ds.Bof(); ds.Prior())
    seen.emplace_back(ds.RecNo(), ds.FieldByName(QStringLiteral("NAME"))->AsString());
  return seen;
}

TEST(DatasetOrderAhead, WalksAndRowsInAFilteredOrderMatchRecordByRecordReads) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  TTolvernDataSet ahead;
  TTolvernDataSet plain;
  for (TTolvernDataSet* ds : {&ahead, &plain}) {
    ds->SetReadOnly(true);
    test::OpenTable(*ds, table, {QStringLiteral("rows.ntx")}, QStringLiteral("rows"));
    ds->SetFilter(QStringLiteral("AMOUNT > 400"));
    ds->SetFiltered(true);
  }
  // (Opening and filtering read the first rows already.)
  plain.Core().Table().AllowReadAhead(false);
  const int64_t readBefore = plain.Core().Table().OrderAhead().RecordsRead();
  const auto expected = Walk(plain);
  ASSERT_GT(expected.size(), 2000u);
  EXPECT_EQ(Walk(ahead), expected);

  // The grid's rows, read in order from the top.
  auto aheadRows = ahead.CreateRowReader();
  auto plainRows = plain.CreateRowReader();
  ASSERT_EQ(aheadRows->RowCount(), plainRows->RowCount());
  auto* aheadTexts = static_cast<TTVRowReader*>(aheadRows.get());
  auto* plainTexts = static_cast<TTVRowReader*>(plainRows.get());
  for (int row = 0; row < aheadRows->RowCount(); ++row)
    ASSERT_EQ(aheadTexts->Texts(row), plainTexts->Texts(row)) << row;

  // The records were read ahead, in far fewer transfers than records.
  const auto& held = ahead.Core().Table().OrderAhead();
  EXPECT_GT(held.RecordsRead(), 1000);
  EXPECT_LT(held.Transfers() * 2, held.RecordsRead());
  EXPECT_EQ(plain.Core().Table().OrderAhead().RecordsRead(), readBefore);
}

}  // namespace
}  // namespace fendral
