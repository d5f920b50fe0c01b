// Copying a record through the table dataset: the new record holds the source's values,
// its memos are its own (written at the post, so a cancel leaves the memo file as it
// was), and other programs read the copy as they read the source.
#include <gtest/gtest.h>

#include <QJsonObject>

#include "dataset_support.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

std::vector<QJsonObject> Records(const std::string& table, bool peer) {
  std::string out;
  const std::string command =
      peer ? "perl " + Quote((test::SharedDir() / "peers/dump_table.pl").string()) + " " +
                 Quote(table) + " 2>/dev/null"
           : std::string();
  EXPECT_EQ(peer ? test::RunCommand(command, &out) : test::RunCli("dump " + Quote(table), &out), 0);
  return test::JsonLines(out);
}

QJsonObject FieldsOf(const QJsonObject& record) { return record.value("fields").toObject(); }

TEST(RecordCopy, TheCopyHasTheValuesAndItsOwnMemosOnlyOncePosted) {
  REQUIRE_SHARED();
  for (const std::string kind : {"db4_memo", "fox_memo", "vfp"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    ASSERT_TRUE(test::MakePeerTables(dir, 31, 30, kind));
    const std::string table = dir.File(kind + ".dbf");
    const std::string memoFile = dir.File(kind + (kind == "db4_memo" ? ".dbt" : ".fpt"));
    const auto before = Records(table, false);
    int source = 0;
    for (size_t i = 0; i < before.size() && source == 0; ++i)
      if (!FieldsOf(before[i]).value("NOTE").toString().isEmpty() &&
          !before[i].value("deleted").toBool())
        source = static_cast<int>(i) + 1;
    ASSERT_GT(source, 0);
    const auto memoSize = fs::file_size(memoFile);

    TTolvernDataSet ds;
    test::OpenTable(ds, table);
    ds.SetRecNo(source);
    ds.CopyRecord();
    ASSERT_EQ(ds.State(), dsInsert);
    EXPECT_EQ(ds.FieldByName(QStringLiteral("NAME"))->AsString(),
              FieldsOf(before[static_cast<size_t>(source - 1)]).value("NAME").toString());
    ds.Cancel();
    EXPECT_EQ(fs::file_size(memoFile), memoSize) << "a cancelled copy leaves no memo block";
    EXPECT_EQ(Records(table, false).size(), before.size());

    ds.SetRecNo(source);
    ds.CopyRecord();
    ds.Post();
    ds.Close();
    const auto after = Records(table, false);
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(FieldsOf(after.back()), FieldsOf(before[static_cast<size_t>(source - 1)]));
    EXPECT_FALSE(after.back().value("deleted").toBool());
    EXPECT_EQ(FieldsOf(after[static_cast<size_t>(source - 1)]),
              FieldsOf(before[static_cast<size_t>(source - 1)]))
        << "the source keeps its memo";
    // The other program reads the copy's memo as the source's.
    const auto peer = Records(table, true);
    ASSERT_EQ(peer.size(), after.size());
    EXPECT_EQ(FieldsOf(peer.back()).value("NOTE"),
              FieldsOf(peer[static_cast<size_t>(source - 1)]).value("NOTE"));
  }
}

}  // namespace
}  // namespace fendral
