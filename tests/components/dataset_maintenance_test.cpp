// Maintenance and tag queries through the table dataset: index creation with progress
// reports and the busy state, tag facts, pack, zap, rename, header facts, deleting the
// last visible record.
#include <gtest/gtest.h>

#include "dataset_support.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

QString Q(const std::string& s) { return QString::fromStdString(s); }

void Fill(TTolvernDataSet& ds, const TempDir& dir, int records) {
  ds.SetDatabaseName(Q(dir.Path().string()));
  ds.SetTableName(QStringLiteral("maint.dbf"));
  TCreateTolvernDataSet create;
  create.SetDBFTable(&ds);
  create.SetDBFType(TkxDBFTypes::FoxPro2);
  create.SetCreateFields({QStringLiteral("NAME;C;10;0"), QStringLiteral("QTY;N;5;0")});
  ASSERT_TRUE(create.CreateTable());
  for (int i = 0; i < records; ++i)
    ds.AppendRecord({QStringLiteral("N%1").arg(records - i, 3, 10, QLatin1Char('0')), i});
}

TEST(DatasetMaintenance, IndexCreationReportsProgressAndIsBusyMeanwhile) {
  TempDir dir;
  TTolvernDataSet ds;
  Fill(ds, dir, 50);
  // Records the kinds of work started and what the dataset answers while it works.
  struct Probe final : tolvern::TkxProgress {
    TTolvernDataSet& ds;
    std::vector<int> starts;
    std::string busyMessage;
    explicit Probe(TTolvernDataSet& d) : ds(d) {}
    void Start(int32_t kind, int64_t) override {
      starts.push_back(kind);
      Try();
    }
    bool Step(int64_t) override {
      Try();
      return true;
    }
    void Finish() override {}
    void Try() {
      if (!busyMessage.empty()) return;
      try {
        ds.First();
      } catch (const std::exception& e) {
        busyMessage = e.what();
      }
    }
  } probe(ds);
  ds.SetProgress(&probe);
  std::vector<int>& starts = probe.starts;
  std::string& busyMessage = probe.busyMessage;
  ds.IndexOn(QStringLiteral("maint.cdx"), QStringLiteral("NAME"), 0, true, QString(),
             QStringLiteral("NAME"));
  ds.IndexOn(QStringLiteral("maint.cdx"), QStringLiteral("BIGQTY"), 1, true,
             QStringLiteral("QTY > 10"), QStringLiteral("QTY"));
  EXPECT_FALSE(starts.empty());
  EXPECT_EQ(busyMessage, "Table is busy building an index");
  EXPECT_EQ(ds.BusyState(), 0);
  // A compound index lists its tags in name order.
  ASSERT_EQ(ds.GetTagCount(), 2);
  EXPECT_EQ(ds.GetTagName(1), QStringLiteral("BIGQTY"));
  EXPECT_EQ(ds.GetTagKey(1), QStringLiteral("QTY"));
  EXPECT_EQ(ds.GetTagFor(1), QStringLiteral("QTY > 10"));
  EXPECT_FALSE(ds.GetTagAscending(1));
  EXPECT_TRUE(ds.GetTagAscending(2));
  EXPECT_TRUE(ds.GetTagAscending(3));  // no such tag
  EXPECT_FALSE(ds.GetTagUnique(2));
  EXPECT_EQ(fs::path(ds.GetTagFile(2).toStdString()).filename(), "maint.cdx");
  EXPECT_EQ(ds.TagForField(QStringLiteral("name")), 2);
  EXPECT_EQ(ds.TagForField(QStringLiteral("qty")), 0);  // its only tag has a FOR condition
  ds.SetIndexName(QStringLiteral("BIGQTY"));
  EXPECT_EQ(ds.GetCurrentTagName(), QStringLiteral("BIGQTY"));
  EXPECT_EQ(ds.GetCurrentTagNumber(), 1);
  ds.First();
  EXPECT_EQ(ds.FieldByName(QStringLiteral("QTY"))->AsInteger(), 49);
  EXPECT_EQ(static_cast<int>(test::WalkForward(ds).size()), 39);
  // The new tags are kept current by later writes.
  ds.AppendRecord({QStringLiteral("N000"), 1000});
  ds.First();
  EXPECT_EQ(ds.FieldByName(QStringLiteral("QTY"))->AsInteger(), 1000);
}

TEST(DatasetMaintenance, DeletingTheLastVisibleRecordLeavesTheNewLastOne) {
  TempDir dir;
  TTolvernDataSet ds;
  Fill(ds, dir, 5);
  ds.Last();
  EXPECT_EQ(ds.RecNo(), 5);
  ds.Delete();
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(test::WalkForward(ds), (std::vector<int>{1, 2, 3, 4}));
  ds.SetUseDeleted(true);
  ds.Last();
  EXPECT_TRUE(ds.IsDeleted());
  ds.RecallRecord();
  EXPECT_FALSE(ds.IsDeleted());
  ds.SetUseDeleted(false);
  EXPECT_EQ(test::WalkForward(ds).size(), 5u);
}

TEST(DatasetMaintenance, PackZapRenameAndHeaderFacts) {
  TempDir dir;
  TTolvernDataSet ds;
  ds.SetExclusive(true);  // packing cuts the file
  Fill(ds, dir, 10);
  ds.SetUserID(77);
  for (int r : {2, 4, 6}) {
    ds.SetRecNo(r);
    ds.Delete();
  }
  ds.Pack();
  EXPECT_EQ(ds.RecordCount(), 7);
  int32_t date = 0;
  uint32_t stamp = 0;
  uint32_t user = 0;
  ds.GetHeaderInfo(date, stamp, user);
  EXPECT_GT(date, 0);
  ds.Close();
  ds.RenameTable(Q(dir.File("renamed.dbf")));
  EXPECT_TRUE(fs::exists(dir.File("renamed.dbf")));
  EXPECT_FALSE(fs::exists(dir.File("maint.dbf")));
  EXPECT_EQ(ds.TableName(), QStringLiteral("renamed.dbf"));
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 7);
  ds.Zap();
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_TRUE(ds.IsEmpty());
}

}  // namespace
}  // namespace fendral
