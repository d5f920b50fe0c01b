// Navigation through the table dataset: natural order, each index format, a filter,
// hidden deleted records and a master range, compared with the command-line tool's
// reading of the same files; bookmarks, record numbers and counts.
#include <gtest/gtest.h>

#include <algorithm>

#include "dataset_support.h"

namespace fendral {
namespace {

using test::TempDir;

struct Order {
  std::vector<std::string> files;  // table first, then its index and memo files
  std::string index;               // index file to open ("" for the production index)
  std::string tag;                 // tag to select ("" for natural order)
};

std::vector<int> Reversed(std::vector<int> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

TEST(DatasetNavigation, EveryOrderWalksLikeTheCommandLineDumpBothWays) {
  REQUIRE_SHARED();
  const std::vector<Order> orders = {
      {{"peer-harbour/clip.dbf", "peer-harbour/clip.dbt", "peer-harbour/clip_name.ntx"}, "", ""},
      {{"peer-harbour/clip.dbf", "peer-harbour/clip.dbt", "peer-harbour/clip_name.ntx"},
       "clip_name.ntx",
       "clip_name"},
      {{"peer-harbour/clip.dbf", "peer-harbour/clip.dbt", "peer-harbour/clip_amtd.ntx"},
       "clip_amtd.ntx",
       "clip_amtd"},
      {{"peer-harbour/fox.dbf", "peer-harbour/fox.fpt", "peer-harbour/fox.cdx"}, "", "NMBORN"},
      {{"peer-harbour/fox.dbf", "peer-harbour/fox.fpt", "peer-harbour/fox.cdx"}, "", "ACTFOR"},
      {{"dbd-xbase/ndx-char.dbf", "dbd-xbase/ndx-char.ndx"}, "ndx-char.ndx", "ndx-char"},
      {{"jdbfdriver/TEST.DBF", "jdbfdriver/TEST.MDX"}, "", ""},
      {{"step7-plc/EXAMPLES/zen01_01/siprom/CHANGELOG.DBF",
        "step7-plc/EXAMPLES/zen01_01/siprom/CHANGELOG.MDX",
        "step7-plc/EXAMPLES/zen01_01/siprom/CHANGELOG.DBT"},
       "",
       ""},
  };
  for (const Order& order : orders) {
    SCOPED_TRACE(order.files[0] + " " + order.tag);
    TempDir dir;
    const std::string table = test::CopyFixtures(dir, order.files);
    TTolvernDataSet ds;
    ds.SetReadOnly(true);
    ds.SetUseDeleted(true);
    test::OpenTable(
        ds, table,
        order.index.empty() ? QStringList() : QStringList{QString::fromStdString(order.index)});
    QString tag = QString::fromStdString(order.tag);
    if (order.files[1].find(".MDX") != std::string::npos) {
      // The production MDX opens with the table.
      ASSERT_GT(ds.GetTagCount(), 0);
      tag = ds.GetTagName(1);
    }
    ds.SetIndexName(tag);
    std::string options;
    if (!tag.isEmpty()) {
      const QString file = ds.GetTagFile(ds.GetCurrentTagNumber());
      options =
          "--index " + test::Quote(file.toStdString()) + " --tag " + test::Quote(tag.toStdString());
    }
    const std::vector<int> expected = test::DumpRecnos(table, options);
    ASSERT_FALSE(expected.empty()) << options;
    EXPECT_EQ(test::WalkForward(ds), expected);
    EXPECT_EQ(test::WalkBackward(ds), Reversed(expected));

    // Deleted records hidden.
    ds.SetUseDeleted(false);
    const std::vector<int> live = test::DumpRecnos(table, options + " --hide-deleted");
    EXPECT_EQ(test::WalkForward(ds), live);
    EXPECT_EQ(test::WalkBackward(ds), Reversed(live));
    ds.SetUseDeleted(true);
  }
}

TEST(DatasetNavigation, FilterAndOnFilterRecordHideRecords) {
  REQUIRE_SHARED();
  TempDir dir;
  const std::string table = test::CopyFixtures(
      dir, {"peer-harbour/fox.dbf", "peer-harbour/fox.fpt", "peer-harbour/fox.cdx"});
  TTolvernDataSet ds;
  ds.SetReadOnly(true);
  ds.SetUseDeleted(true);
  test::OpenTable(ds, table);
  ds.SetFilter(QStringLiteral("AMOUNT > 100 .AND. QTY < 50"));
  ds.SetFiltered(true);
  const std::vector<int> expected =
      test::DumpRecnos(table, "--filter " + test::Quote("AMOUNT > 100 .AND. QTY < 50"));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(test::WalkForward(ds), expected);
  EXPECT_EQ(test::WalkBackward(ds), Reversed(expected));
  // The same filter in an index order.
  ds.SetIndexName(QStringLiteral("NAME"));
  const std::vector<int> ordered = test::DumpRecnos(
      table, "--index " + test::Quote(dir.File("fox.cdx")) + " --tag NAME --filter " +
                 test::Quote("AMOUNT > 100 .AND. QTY < 50"));
  EXPECT_EQ(test::WalkForward(ds), ordered);
  ds.SetIndexName(QString());

  // OnFilterRecord reads the candidate's fields.
  ds.SetFiltered(false);
  ds.OnFilterRecord = [](TDataSet& set, bool& accept) {
    accept = set.FieldByName(QStringLiteral("QTY"))->AsInteger() % 2 == 0;
  };
  ds.SetFiltered(true);
  ds.SetFilter(QString());
  int seen = 0;
  for (ds.First(); !ds.Eof(); ds.Next(), ++seen)
    EXPECT_EQ(ds.FieldByName(QStringLiteral("QTY"))->AsInteger() % 2, 0) << ds.RecNo();
  EXPECT_GT(seen, 10);
  EXPECT_LT(seen, ds.RecordCount());
}

TEST(DatasetNavigation, MasterRangeShowsTheDetailRecordsOfTheMastersKey) {
  REQUIRE_SHARED();
  TempDir dir;
  const std::string table =
      test::CopyFixtures(dir, {"peer-harbour/clip.dbf", "peer-harbour/clip.dbt",
                               "peer-harbour/clip_cityu.ntx", "peer-harbour/clip_name.ntx"});
  TTolvernDataSet master;
  master.SetReadOnly(true);
  test::OpenTable(master, table, {QStringLiteral("clip_cityu.ntx")}, QStringLiteral("clip_cityu"));
  TTolvernDataSet detail;
  detail.SetReadOnly(true);
  detail.SetUseDeleted(true);
  TDataSource source(&master);
  detail.SetMasterFields(QStringLiteral("NAME"));
  test::OpenTable(detail, table, {QStringLiteral("clip_name.ntx")}, QStringLiteral("clip_name"));
  detail.SetMasterSource(&source);
  std::string keys;
  test::RunCli("keys " + test::Quote(table) + " " + test::Quote(dir.File("clip_name.ntx")), &keys);
  const auto keyLines = test::JsonLines(keys);
  int checked = 0;
  for (master.First(); !master.Eof() && checked < 8; master.Next(), ++checked) {
    const QString name = master.FieldByName(QStringLiteral("NAME"))->AsString();
    std::vector<int> expected;
    for (const auto& line : keyLines)
      if (line.value("key").toString().trimmed() == name.trimmed() &&
          line.value("key").toString().size() >= name.size())
        expected.push_back(line.value("recno").toInt());
    EXPECT_EQ(test::WalkForward(detail), expected) << name.toStdString();
  }
  EXPECT_EQ(checked, 8);
  // A source that leads back is refused.
  TDataSource back(&detail);
  try {
    master.SetMasterSource(&back);
    ADD_FAILURE() << "circular link accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Circular datalinks are not allowed");
  }
}

TEST(DatasetNavigation, BookmarksRecordNumbersAndCounts) {
  REQUIRE_SHARED();
  TempDir dir;
  const std::string table = test::CopyFixtures(
      dir, {"peer-harbour/clip.dbf", "peer-harbour/clip.dbt", "peer-harbour/clip_name.ntx"});
  TTolvernDataSet ds;
  ds.SetReadOnly(true);
  test::OpenTable(ds, table, {QStringLiteral("clip_name.ntx")}, QStringLiteral("clip_name"));
  const std::vector<int> live = test::DumpRecnos(
      table, "--index " + test::Quote(dir.File("clip_name.ntx")) + " --hide-deleted");
  // Header count, and the walked count with ExactCount.
  EXPECT_EQ(ds.RecordCount(), 200);
  ds.SetExactCount(true);
  ds.MoveBy(5);
  const int here = ds.RecNo();
  EXPECT_EQ(ds.RecordCount(), static_cast<int>(live.size()));
  EXPECT_EQ(ds.RecNo(), here);
  ds.Next();
  EXPECT_EQ(ds.RecNo(), live[6]);
  // Bookmarks return to their record, in any order.
  std::vector<std::pair<TBookmark, int>> marks;
  for (ds.First(); !ds.Eof(); ds.MoveBy(37)) marks.emplace_back(ds.GetBookmark(), ds.RecNo());
  ASSERT_GE(marks.size(), 4u);
  std::reverse(marks.begin(), marks.end());
  for (const auto& [mark, recno] : marks) {
    ds.GotoBookmark(mark);
    EXPECT_EQ(ds.RecNo(), recno);
    EXPECT_EQ(mark.size(), 11);
  }
  // Bookmarks compare like their record numbers.
  EXPECT_GT(ds.CompareBookmarks(marks.back().first, marks.front().first) *
                (marks.back().second - marks.front().second),
            0);
  try {
    ds.GotoBookmark(TBookmark("garbage"));
    ADD_FAILURE() << "bad bookmark accepted";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Bookmark is invalid for table clip.dbf");
  }
  // RecNo set and get: the next record in the order follows.
  ds.SetRecNo(live[10]);
  EXPECT_EQ(ds.RecNo(), live[10]);
  ds.Next();
  EXPECT_EQ(ds.RecNo(), live[11]);
  EXPECT_FALSE(ds.IsSequenced());
}

}  // namespace
}  // namespace fendral

namespace fendral {
namespace {

TEST(DatasetRowReader, ReadsTheOrdersRowsWithoutMovingTheCurrentRecord) {
  REQUIRE_SHARED();
  TempDir dir;
  const std::string table = test::CopyFixtures(
      dir, {"peer-harbour/clip.dbf", "peer-harbour/clip.dbt", "peer-harbour/clip_name.ntx"});
  TTolvernDataSet ds;
  test::OpenTable(ds, table, {QStringLiteral("clip_name.ntx")}, QStringLiteral("clip_name"));
  const std::vector<int> order = test::WalkForward(ds);
  ds.First();
  ds.MoveBy(3);
  const int current = ds.RecNo();
  auto reader = ds.CreateRowReader();
  ASSERT_EQ(reader->RowCount(), static_cast<int>(order.size()));
  auto buffer = ds.NewRecordBuffer();
  for (int row : {0, 50, static_cast<int>(order.size()) - 1, 7}) {
    ASSERT_TRUE(reader->ReadRow(row, *buffer));
    EXPECT_EQ(reader->RowOf(buffer->Bookmark), row);
    ds.ReadFieldsFrom(*buffer, [&] { EXPECT_EQ(ds.RecNo(), order[static_cast<size_t>(row)]); });
  }
  EXPECT_FALSE(reader->ReadRow(static_cast<int>(order.size()), *buffer));
  EXPECT_EQ(ds.RecNo(), current);
  ds.Next();
  EXPECT_EQ(ds.RecNo(), order[4]);
  // A delete is seen after the dataset tells the reader.
  ds.Delete();
  EXPECT_EQ(reader->RowCount(), static_cast<int>(order.size()) - 1);
  // The memo's display text is its first line.
  auto* texts = static_cast<TTVRowReader*>(reader.get());
  const QStringList row1 = texts->Texts(1);
  EXPECT_EQ(row1.size(), ds.FieldCount());
  EXPECT_FALSE(row1.last().contains(QLatin1Char('\n')));
  // A row reads as the fields show the record.
  const QStringList here = texts->Texts(ds.RecNo());
  ASSERT_EQ(here.size(), ds.FieldCount());
  for (int i = 0; i < ds.FieldCount(); ++i)
    EXPECT_EQ(here[i], ds.FieldDisplayText(*ds.Field(i))) << i;
  // Closed with the dataset.
  ds.Close();
  EXPECT_EQ(reader->RowCount(), 0);
  EXPECT_FALSE(reader->ReadRow(0, *buffer));
}

}  // namespace
}  // namespace fendral
