// What views hear from a table dataset when its records are rewritten as a whole: a grid
// model over it follows a pack, a zap, a new index and a reindex, and a close and reopen
// done behind disabled controls, without being told to reload; and IndexOn names the
// index files that did not open again after the build.
#include <gtest/gtest.h>

#include <filesystem>

#include "dataset_support.h"
#include "datasetmodel.h"
#include "datasource.h"
#include "db_error.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// NAME C 10 ("N030" down to "N001"), QTY N 5 (0 up to 29).
void Fill(TTolvernDataSet& ds, const TempDir& dir, int records) {
  ds.SetDatabaseName(Q(dir.Path().string()));
  ds.SetTableName(QStringLiteral("views.dbf"));
  ds.SetExclusive(true);  // a pack and a zap need the table to themselves
  TCreateTolvernDataSet create;
  create.SetDBFTable(&ds);
  create.SetDBFType(TkxDBFTypes::FoxPro2);
  create.SetCreateFields({QStringLiteral("NAME;C;10;0"), QStringLiteral("QTY;N;5;0")});
  ASSERT_TRUE(create.CreateTable());
  for (int i = 0; i < records; ++i)
    ds.AppendRecord({QStringLiteral("N%1").arg(records - i, 3, 10, QLatin1Char('0')), i});
}

// Counts the announcements a link hears.
class CountingLink : public TDataLink {
 public:
  int replaced = 0;

 protected:
  void RecordsReplaced() override { ++replaced; }
};

// The NAME column of every row the model shows.
QStringList Names(const TDataSetModel& model) {
  QStringList names;
  for (int row = 0; row < model.rowCount(); ++row)
    names << model.data(model.index(row, 0)).toString().trimmed();
  return names;
}

class ViewsHearTheDataset : public ::testing::Test {
 protected:
  void SetUp() override {
    Fill(ds, dir, 30);
    ds.First();
    source.SetDataSet(&ds);
    model.OnError = [this](const std::exception& e) { errors << QString::fromUtf8(e.what()); };
    model.SetDataSource(&source);
    counter.SetDataSource(&source);
    ASSERT_EQ(model.rowCount(), 30);
  }

  TempDir dir;
  TTolvernDataSet ds;
  TDataSource source;
  TDataSetModel model;
  CountingLink counter;
  QStringList errors;
};

TEST_F(ViewsHearTheDataset, ModelFollowsPackZapAndIndexBuildsWithoutReload) {
  // Deleted records stay visible, so only the pack takes them out of the rows.
  ds.SetUseDeleted(true);
  for (ds.First(); !ds.Eof(); ds.Next())
    if (ds.FieldByName(QStringLiteral("QTY"))->AsInteger() % 3 == 0) ds.Delete();
  ASSERT_EQ(model.rowCount(), 30);

  ds.Pack();
  EXPECT_EQ(counter.replaced, 1);
  EXPECT_EQ(model.rowCount(), 20);
  ASSERT_FALSE(Names(model).isEmpty());
  EXPECT_EQ(Names(model).front(), QStringLiteral("N029"));
  EXPECT_EQ(Names(model).back(), QStringLiteral("N001"));

  ds.IndexOn(QStringLiteral("views.cdx"), QStringLiteral("NAME"), 0, true, QString(),
             QStringLiteral("NAME"));
  EXPECT_EQ(counter.replaced, 2);
  EXPECT_EQ(model.rowCount(), 20);
  ds.SetIndexName(QStringLiteral("NAME"));
  ASSERT_EQ(model.rowCount(), 20);
  EXPECT_EQ(Names(model).front(), QStringLiteral("N001")) << "the rows follow the new order";

  ds.Reindex();
  EXPECT_EQ(counter.replaced, 3);
  EXPECT_EQ(Names(model).front(), QStringLiteral("N001"));
  EXPECT_EQ(model.rowCount(), 20);

  ds.Zap();
  EXPECT_EQ(counter.replaced, 4);
  EXPECT_EQ(model.rowCount(), 0);
  ds.AppendRecord({QStringLiteral("NEW"), 1});
  ASSERT_EQ(model.rowCount(), 1);
  EXPECT_EQ(Names(model), QStringList{QStringLiteral("NEW")});
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ViewsHearTheDataset, AnnouncementWaitsForEnabledControlsAndComesOnce) {
  ds.DisableControls();
  ds.SetUseDeleted(true);
  ds.First();
  ds.Delete();
  ds.Pack();
  ds.Reindex();
  EXPECT_EQ(counter.replaced, 0) << "nothing reaches the links while controls are disabled";
  ds.EnableControls();
  EXPECT_EQ(counter.replaced, 1);
  ASSERT_EQ(model.rowCount(), 29);
  EXPECT_EQ(Names(model).front(), QStringLiteral("N029"));
}

// A table replaced by new files: the dataset closes and opens again with controls
// disabled, so that views do not flicker through the closed state.
TEST_F(ViewsHearTheDataset, ModelFollowsACloseAndReopenBehindDisabledControls) {
  ds.DisableControls();
  ds.Close();
  {
    // The replacement: the same table with fewer records.
    TTolvernDataSet other;
    other.SetDatabaseName(Q(dir.Path().string()));
    other.SetTableName(QStringLiteral("views.dbf"));
    other.SetExclusive(true);
    other.Open();
    other.Zap();
    other.AppendRecord({QStringLiteral("ONLY"), 7});
  }
  ds.Open();
  ds.EnableControls();
  ASSERT_TRUE(model.DataSet() != nullptr) << "the model sees the dataset open again";
  EXPECT_EQ(Names(model), QStringList{QStringLiteral("ONLY")});
}

TEST(DatasetIndexOn, NamesTheIndexFilesThatDidNotOpenAgain) {
  TempDir dir;
  TTolvernDataSet ds;
  Fill(ds, dir, 30);
  ds.IndexOn(QStringLiteral("byname.ntx"), QString(), 0, true, QString(), QStringLiteral("NAME"));
  ds.IndexOn(QStringLiteral("byqty.ntx"), QString(), 0, true, QString(), QStringLiteral("QTY"));
  ASSERT_EQ(ds.GetTagCount(), 2) << "both files are open after the builds";

  // Damaged on disk while open: the build closes it, and it cannot be read again.
  fs::resize_file(dir.Path() / "byname.ntx", 0);
  std::string message;
  try {
    ds.IndexOn(QStringLiteral("third.ntx"), QString(), 1, true, QString(), QStringLiteral("QTY"));
  } catch (const EDatabaseError& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("byname.ntx"), std::string::npos) << message;
  EXPECT_EQ(message.find("byqty.ntx"), std::string::npos) << message;
  EXPECT_EQ(message.find("third.ntx"), std::string::npos) << message;

  // The dataset goes on without that file, the others kept current.
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.BusyState(), 0);
  EXPECT_EQ(ds.GetTagCount(), 2);
  ds.AppendRecord({QStringLiteral("N999"), 999});
  ds.SetIndexName(QStringLiteral("THIRD"));
  ds.First();
  EXPECT_EQ(ds.FieldByName(QStringLiteral("QTY"))->AsInteger(), 999)
      << "the new descending index holds the appended record first";
  EXPECT_EQ(test::WalkForward(ds).size(), 31u);
  bool listed = false;
  for (const TTVDamagedIndex& damaged : ds.DamagedIndexes())
    listed = listed || damaged.path.endsWith(QStringLiteral("byname.ntx"));
  EXPECT_TRUE(listed) << "the file is listed among the damaged ones";
}

TEST(DatasetIndexOn, ReopensEveryFileThatWasOpenBeforeTheBuild) {
  TempDir dir;
  TTolvernDataSet ds;
  Fill(ds, dir, 10);
  ds.IndexOn(QStringLiteral("first.ntx"), QString(), 0, true, QString(), QStringLiteral("NAME"));
  ds.IndexOn(QStringLiteral("second.ntx"), QString(), 0, true, QString(), QStringLiteral("QTY"));
  ds.IndexOn(QStringLiteral("third.ntx"), QString(), 1, true, QString(), QStringLiteral("QTY"));
  EXPECT_EQ(ds.GetTagCount(), 3);
}

}  // namespace
}  // namespace fendral
