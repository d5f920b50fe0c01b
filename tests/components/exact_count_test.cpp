// The exact count: one walk when it is asked for, then kept current by the dataset's own
// appends, posts, deletes and recalls; a new filter, order or deleted-record setting, or a
// refresh, counts again.
#include <gtest/gtest.h>

#include <vector>

#include "component_test_util.h"
#include "dataset_support.h"
#include "tv_create.h"
#include "tv_table.h"

namespace fendral {
namespace {

using test::TempDir;

// NAME and QTY 1..count, in record order.
std::string MakeTable(const TempDir& dir, int count) {
  const std::string path = dir.File("count.dbf");
  const std::vector<TTVFieldLine> fields = {{QStringLiteral("NAME"), 'C', 10, 0},
                                            {QStringLiteral("QTY"), 'N', 5, 0}};
  EXPECT_TRUE(WriteNewTable(QString::fromStdString(path), fields, TkxDBFTypes::DBaseIII, 0, "CP866",
                            false));
  TTVTableCore core;
  core.Open(path, {});
  const auto defs = MapTableFields(core.Table(), core.CodePage());
  std::vector<uint8_t> buffer(static_cast<size_t>(core.BufferSize()));
  for (int i = 1; i <= count; ++i) {
    core.InitNewRecord(buffer.data());
    core.SetValue(buffer.data(), defs[0], QStringLiteral("N%1").arg(i));
    core.SetValue(buffer.data(), defs[1], i);
    core.Post(buffer.data(), 0);
  }
  return path;
}

// The records the dataset shows, walked; the dataset comes back to `recno`.
int Walked(TTolvernDataSet& ds) {
  const int recno = ds.RecNo();
  const int n = static_cast<int>(test::WalkForward(ds).size());
  ds.SetRecNo(recno);
  return n;
}

void Put(TTolvernDataSet& ds, int qty) {
  ds.FieldByName(QStringLiteral("QTY"))->SetAsInteger(qty);
  ds.Post();
}

TEST(ExactCount, CountsOnceAndFollowsTheDatasetsOwnWrites) {
  TempDir dir;
  const std::string table = MakeTable(dir, 100);
  TTolvernDataSet ds;
  test::OpenTable(ds, table);
  ds.SetFilter(QStringLiteral("QTY > 50"));
  ds.SetFiltered(true);
  ds.SetExactCount(true);
  EXPECT_EQ(ds.RecordCount(), 50);
  EXPECT_EQ(ds.CountingPasses(), 1);

  // Moves, each followed by the count as the status bar asks for it, walk nothing.
  ds.First();
  for (int i = 0; i < 200; ++i) {
    if (i % 50 < 25) {
      ds.Next();
    } else {
      ds.Prior();
    }
    EXPECT_EQ(ds.RecordCount(), 50);
  }
  EXPECT_EQ(ds.CountingPasses(), 1);

  // Appends that pass the filter and one that does not.
  ds.Append();
  ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("NEW"));
  Put(ds, 60);
  EXPECT_EQ(ds.RecordCount(), 51);
  ds.Append();
  Put(ds, 7);
  EXPECT_EQ(ds.RecordCount(), 51);
  // A post that takes a record out of the filter, and one that brings one in.
  ds.SetRecNo(70);
  ds.Edit();
  Put(ds, 5);
  EXPECT_EQ(ds.RecordCount(), 50);
  ds.SetRecNo(80);
  ds.Edit();
  Put(ds, 90);  // passes before and after
  EXPECT_EQ(ds.RecordCount(), 50);
  // Deleted records are hidden: a delete takes one away, a recall brings it back.
  ds.SetRecNo(75);
  ds.Delete();
  EXPECT_EQ(ds.RecordCount(), 49);
  EXPECT_EQ(ds.CountingPasses(), 1);
  EXPECT_EQ(Walked(ds), 49);

  // Showing deleted records counts again; a delete and a recall of a record that shows
  // either way leave the count as it is.
  ds.SetUseDeleted(true);
  EXPECT_EQ(ds.RecordCount(), 50);
  EXPECT_EQ(ds.CountingPasses(), 2);
  ds.SetRecNo(75);
  ASSERT_TRUE(ds.IsDeleted());
  ds.RecallRecord();
  ds.Delete();
  ds.SetRecNo(75);
  ds.RecallRecord();
  EXPECT_FALSE(ds.IsDeleted());
  EXPECT_EQ(ds.RecordCount(), 50);
  EXPECT_EQ(ds.CountingPasses(), 2);
  ds.SetUseDeleted(false);
  EXPECT_EQ(ds.RecordCount(), 50);
  EXPECT_EQ(ds.CountingPasses(), 3);
  EXPECT_EQ(Walked(ds), 50);

  // A new filter and a refresh count again, once each.
  ds.SetFilter(QStringLiteral("QTY > 90"));
  EXPECT_EQ(ds.RecordCount(), 10);
  EXPECT_EQ(ds.RecordCount(), 10);
  EXPECT_EQ(ds.CountingPasses(), 4);
  ds.Refresh();
  EXPECT_EQ(ds.RecordCount(), 10);
  EXPECT_EQ(ds.CountingPasses(), 5);
  // Without the exact count, the header's count.
  ds.SetExactCount(false);
  EXPECT_EQ(ds.RecordCount(), 102);
  EXPECT_EQ(ds.CountingPasses(), 5);
}

}  // namespace
}  // namespace fendral
