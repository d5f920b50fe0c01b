// The in-memory table as the structure page uses it: five typed columns ordered by Field,
// append/edit/post/cancel/delete/empty, positions, values by name and notifications.
#include "memtable.h"

#include <gtest/gtest.h>

#include "datasource.h"

namespace fendral::test {
namespace {

// The structure table: Field, Name, DBF Type, Len, Dec; ordered by Field.
class StructureTable : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* def :
         {"Field;4;0;0", "Name;1;10;0", "DBF Type;1;1;0", "Len;4;0;0", "Dec;4;0;0"})
      table.FieldDefs().AddFromText(def);
    table.SetIndexFieldName("Field");
    table.Open();
  }
  void AddRow(int field, const QString& name, const QString& type = "C", int len = 10) {
    table.Append();
    table.SetFieldValue("Field", field);
    table.SetFieldValue("Name", name);
    table.SetFieldValue("DBF Type", type);
    table.SetFieldValue("Len", len);
    table.SetFieldValue("Dec", 0);
    table.Post();
  }
  std::vector<QString> Names() {
    std::vector<QString> names;
    for (table.First(); !table.Eof(); table.Next())
      names.push_back(table.FieldValue("Name").toString());
    return names;
  }

  TMemTable table;
};

TEST_F(StructureTable, ColumnsHaveTheirTypes) {
  ASSERT_EQ(table.FieldCount(), 5);
  EXPECT_EQ(table.FieldByName("Field")->DataType(), ftWord);
  EXPECT_EQ(table.FieldByName("Name")->DataType(), ftString);
  EXPECT_EQ(table.FieldByName("Name")->Size(), 10);
  EXPECT_EQ(table.FieldByName("DBF Type")->Size(), 1);
  table.Append();
  EXPECT_THROW(table.SetFieldValue("DBF Type", "NC"), EDatabaseError);
  EXPECT_THROW(table.FieldByName("Len")->SetAsString("-1"), EDatabaseError);
  table.Cancel();
  EXPECT_EQ(table.RecordCount(), 0);
}

TEST_F(StructureTable, RowsStayOrderedByField) {
  AddRow(2, "SECOND");
  AddRow(1, "FIRST");
  AddRow(3, "THIRD");
  EXPECT_EQ(Names(), (std::vector<QString>{"FIRST", "SECOND", "THIRD"}));
  EXPECT_EQ(table.RecordCount(), 3);
  // Posting a row puts the cursor on it, wherever it went.
  AddRow(0, "ZERO");
  EXPECT_EQ(table.FieldValue("Name").toString(), "ZERO");
  EXPECT_EQ(table.RecNo(), 1);
}

// The up button: exchange the Field values of the current row and the one before, posting
// each; the row moves one place and the cursor stays on it.
TEST_F(StructureTable, ExchangingFieldValuesMovesTheRow) {
  AddRow(1, "A");
  AddRow(2, "B");
  AddRow(3, "C");
  table.Last();  // on C (3)
  table.Edit();
  table.SetFieldValue("Field", 2);
  table.Post();
  EXPECT_EQ(table.FieldValue("Name").toString(), "C");
  table.Prior();
  EXPECT_EQ(table.FieldValue("Name").toString(), "B");
  table.Edit();
  table.SetFieldValue("Field", 3);
  table.Post();
  EXPECT_EQ(Names(), (std::vector<QString>{"A", "C", "B"}));
  table.Locate("Name", "C", 0);
  EXPECT_EQ(table.RecNo(), 2);
  // A post that leaves the key alone keeps the row in place even among equal keys.
  table.First();
  table.Edit();
  table.SetFieldValue("Field", 2);
  table.Post();
  EXPECT_EQ(Names(), (std::vector<QString>{"C", "A", "B"}));
  table.First();
  table.Edit();
  table.SetFieldValue("Name", "C2");
  table.Post();
  EXPECT_EQ(Names(), (std::vector<QString>{"C2", "A", "B"}));
}

TEST_F(StructureTable, NewRowEventsAndPendingRows) {
  int afterDeletes = 0;
  table.OnNewRecord = [](TDataSet& t) { t.SetFieldValue("Field", t.RecordCount() + 1); };
  table.AfterInsert = [](TDataSet& t) {
    if (t.FieldByName("Len")->IsNull()) t.SetFieldValue("Len", 8);
    if (t.FieldByName("Dec")->IsNull()) t.SetFieldValue("Dec", 0);
  };
  table.AfterDelete = [&](TDataSet&) { ++afterDeletes; };
  table.Append();
  table.SetFieldValue("Name", "NewName");
  table.SetFieldValue("DBF Type", "N");
  EXPECT_EQ(table.FieldValue("Field").toInt(), 1);
  EXPECT_EQ(table.FieldValue("Len").toInt(), 8);
  EXPECT_EQ(table.RecordCount(), 0);  // still pending
  table.Post();                       // posting a pending row
  EXPECT_EQ(table.RecordCount(), 1);
  table.Append();
  EXPECT_EQ(table.FieldValue("Field").toInt(), 2);
  table.SetFieldValue("Name", "Other");
  table.First();  // leaving a changed pending row posts it
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(table.FieldValue("Dec").toInt(), 0);
  table.Delete();
  EXPECT_EQ(afterDeletes, 1);
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(table.FieldValue("Name").toString(), "Other");
}

TEST_F(StructureTable, EmptyingKeepsTheTableOpenAndTellsTheGrid) {
  AddRow(1, "A");
  AddRow(2, "B");
  TDataSource source(&table);
  int changes = 0;
  source.OnDataChange = [&](TDataSource&, TField*) { ++changes; };
  table.Edit();
  table.SetFieldValue("Name", "X");
  table.EmptyTable();
  EXPECT_TRUE(table.Active());
  EXPECT_TRUE(table.IsEmpty());
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_GT(changes, 0);
  AddRow(5, "AGAIN");
  EXPECT_EQ(Names(), (std::vector<QString>{"AGAIN"}));
}

TEST_F(StructureTable, PositionsAndNavigation) {
  for (int i = 1; i <= 5; ++i) AddRow(i, QString("F%1").arg(i));
  table.First();
  EXPECT_EQ(table.RecNo(), 1);
  table.Next();
  table.Next();
  EXPECT_EQ(table.RecNo(), 3);
  table.Prior();
  EXPECT_EQ(table.FieldValue("Name").toString(), "F2");
  table.SetRecNo(5);
  EXPECT_EQ(table.FieldValue("Name").toString(), "F5");
  EXPECT_THROW(table.SetRecNo(6), EDatabaseError);
  table.Append();
  EXPECT_EQ(table.RecNo(), -1);  // a pending row has no position yet
  table.Cancel();
  EXPECT_EQ(table.RecNo(), 5);
}

TEST(MemTable, UnorderedTableKeepsInsertOrderAndInsertsBeforeTheCurrentRow) {
  TMemTable table;
  table.FieldDefs().Add("N", ftInteger);
  table.Open();
  for (int i : {3, 1, 2}) table.AppendRecord({i});
  table.First();
  table.Next();
  table.Insert();
  table.SetFieldValue("N", 9);
  table.Post();
  std::vector<int> values;
  for (table.First(); !table.Eof(); table.Next()) values.push_back(table.FieldValue("N").toInt());
  EXPECT_EQ(values, (std::vector<int>{3, 9, 1, 2}));
  table.SetIndexFieldName("N");
  values.clear();
  for (table.First(); !table.Eof(); table.Next()) values.push_back(table.FieldValue("N").toInt());
  EXPECT_EQ(values, (std::vector<int>{1, 2, 3, 9}));
  EXPECT_THROW(table.SetIndexFieldName("missing"), EDatabaseError);
}

TEST(MemTable, RefusesToOpenWithoutColumns) {
  TMemTable table;
  EXPECT_THROW(table.Open(), EDatabaseError);
  EXPECT_FALSE(table.Active());
  table.FieldDefs().Add("N", ftInteger);
  table.SetIndexFieldName("X");
  EXPECT_THROW(table.Open(), EDatabaseError);
  EXPECT_FALSE(table.Active());
}

}  // namespace
}  // namespace fendral::test
