// The grid model: rows read through the row reader without moving the current record,
// following the current record, editing through the dataset.
#include "datasetmodel.h"

#include <gtest/gtest.h>

#include "db_error.h"
#include "vector_dataset.h"

namespace fendral::test {
namespace {

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.Fill(50);
    ds.Open();
    model.SetDataSource(&source);
    model.OnError = [this](const std::exception& e) { errors.push_back(e.what()); };
    QObject::connect(&model, &TDataSetModel::currentRowChanged,
                     [this](int row) { currentRows.push_back(row); });
  }
  QString Cell(int row, const char* field) {
    const int column = model.ColumnOfField(ds.FieldByName(field));
    return model.data(model.index(row, column)).toString();
  }
  int Id() { return ds.FieldByName("ID")->AsInteger(); }

  VectorDataSet ds;
  TDataSource source{&ds};
  TDataSetModel model;
  std::vector<std::string> errors;
  std::vector<int> currentRows;
};

TEST_F(ModelTest, PaintingRowsLeavesTheCurrentRecordAlone) {
  EXPECT_EQ(model.rowCount(), 50);
  EXPECT_EQ(model.columnCount(), 6);
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "NAME");
  ds.MoveBy(9);
  EXPECT_EQ(Id(), 10);
  EXPECT_EQ(Cell(0, "NAME"), "R1");
  EXPECT_EQ(Cell(49, "NAME"), "R50");
  EXPECT_EQ(Cell(20, "PRICE"), "31.5");
  EXPECT_EQ(Id(), 10);
  ds.Next();  // the cursor moved for painting; the dataset still continues from its record
  EXPECT_EQ(Id(), 11);
  EXPECT_EQ(model.CurrentRow(), 10);
  EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).toInt() & Qt::AlignRight,
            Qt::AlignRight);
  EXPECT_TRUE(errors.empty());
}

TEST_F(ModelTest, FollowsTheCurrentRecordAndShowsPendingEdits) {
  ds.Next();
  ds.Last();
  EXPECT_EQ(currentRows, (std::vector<int>{1, 49}));
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("typing");
  EXPECT_EQ(Cell(49, "NAME"), "typing");
  EXPECT_EQ(ds.rows[49].values[1].toString(), "R50");
  ds.Cancel();
  EXPECT_EQ(Cell(49, "NAME"), "R50");
  EXPECT_TRUE(model.GotoRow(5));
  EXPECT_EQ(Id(), 6);
  EXPECT_FALSE(model.GotoRow(50));
}

TEST_F(ModelTest, EditingACellEditsThatRecord) {
  const int name = model.ColumnOfField(ds.FieldByName("NAME"));
  EXPECT_TRUE(model.flags(model.index(3, name)) & Qt::ItemIsEditable);
  EXPECT_FALSE(model.flags(model.index(3, 5)) & Qt::ItemIsEditable);  // memo: not in a cell
  EXPECT_TRUE(model.setData(model.index(3, name), "Cell"));
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(ds.State(), dsEdit);
  // Leaving the row posts it.
  EXPECT_TRUE(model.GotoRow(7));
  EXPECT_EQ(ds.rows[3].values[1].toString(), "Cell");
  EXPECT_EQ(Cell(3, "NAME"), "Cell");
  // Text the field refuses leaves the record and reports the error.
  EXPECT_FALSE(model.setData(model.index(7, 0), "x1"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "'x1' is not a valid integer value for field 'ID'");
  EXPECT_EQ(Cell(7, "ID"), "8");
}

TEST_F(ModelTest, RowsFollowFiltersDeletesInsertsAndLayout) {
  ds.OnFilterRecord = [](TDataSet& d, bool& accept) {
    accept = d.FieldByName("ID")->AsInteger() <= 10;
  };
  ds.SetFiltered(true);
  EXPECT_EQ(model.rowCount(), 10);
  ds.SetRecNo(3);
  ds.Delete();
  EXPECT_EQ(model.rowCount(), 9);
  EXPECT_EQ(Cell(2, "ID"), "4");
  // A new record goes before its anchor even when rows were painted meanwhile.
  ds.Insert();
  ds.FieldByName("ID")->SetAsInteger(7);
  for (int row = 0; row < model.rowCount(); ++row) Cell(row, "NAME");
  ds.Post();
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_EQ(Cell(2, "ID"), "7");
  EXPECT_EQ(Cell(3, "ID"), "4");
  EXPECT_EQ(model.CurrentRow(), 2);
  ds.FieldByName("PRICE")->SetVisible(false);
  EXPECT_EQ(model.columnCount(), 5);
  EXPECT_EQ(model.ColumnOfField(ds.FieldByName("PRICE")), -1);
  ds.Close();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.columnCount(), 0);
}

TEST_F(ModelTest, CellHookSeesTheRowsOwnValues) {
  model.OnCellData = [&](const TRecordBuffer&, const TField& field, int role) -> QVariant {
    if (role != Qt::BackgroundRole) return QVariant();
    const int id = field.DataSet()->FieldByName("ID")->AsInteger();
    return id % 2 == 0 ? QVariant(QStringLiteral("grey")) : QVariant();
  };
  EXPECT_EQ(model.data(model.index(1, 1), Qt::BackgroundRole).toString(), "grey");
  EXPECT_FALSE(model.data(model.index(2, 1), Qt::BackgroundRole).isValid());
  EXPECT_FALSE(model.data(model.index(0, 1), Qt::BackgroundRole).isValid());  // current row
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

TEST_F(ModelTest, ANewRecordShowsAsARowWhereItWillGo) {
  ds.Append();
  EXPECT_EQ(model.rowCount(), 51);
  EXPECT_EQ(model.CurrentRow(), 50);
  ds.FieldByName("NAME")->SetAsString("new");
  EXPECT_EQ(Cell(50, "NAME"), "new");
  ds.Post();
  EXPECT_EQ(model.rowCount(), 51);
  EXPECT_EQ(Cell(50, "NAME"), "new");

  ds.SetRecNo(4);
  ds.Insert();
  EXPECT_EQ(model.rowCount(), 52);
  EXPECT_EQ(model.CurrentRow(), 3);
  EXPECT_EQ(Cell(3, "NAME"), "");
  EXPECT_EQ(Cell(4, "NAME"), "R4");
  EXPECT_EQ(Cell(2, "NAME"), "R3");
  // Typing into the new row, then leaving for the row shown below it, posts and lands on
  // that record although the rows moved.
  EXPECT_TRUE(model.setData(model.index(3, 1), "typed"));
  EXPECT_TRUE(model.GotoRow(4));
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "R4");
  EXPECT_EQ(Cell(3, "NAME"), "typed");
  EXPECT_EQ(model.rowCount(), 52);
  ds.Insert();
  ds.Cancel();
  EXPECT_EQ(model.rowCount(), 52);
  EXPECT_EQ(model.CurrentRow(), 4);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

TEST_F(ModelTest, PaintingDuringDisabledControlsReadsNothing) {
  EXPECT_EQ(Cell(5, "NAME"), "R6");  // read once, remembered
  ds.DisableControls();
  for (ds.First(); !ds.Eof(); ds.Next()) {
    if (Id() == 20) {
      // A repaint in the middle of the loop: remembered rows only, the loop's place kept.
      EXPECT_EQ(Cell(5, "NAME"), "R6");
      EXPECT_EQ(Cell(30, "NAME"), "");
    }
  }
  ds.EnableControls();
  EXPECT_EQ(Id(), 50);
  EXPECT_EQ(Cell(30, "NAME"), "R31");
  EXPECT_EQ(model.CurrentRow(), 49);
}

// A dataset whose row reader cannot be made.
class NoReaderDataSet : public VectorDataSet {
 public:
  std::unique_ptr<TRowReader> CreateRowReader() override { throw EDatabaseError("no rows today"); }
};

std::vector<std::string> loggedWarnings;
void KeepWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && context.category && std::string(context.category) == "fendral")
    loggedWarnings.push_back(text.toStdString());
}

TEST(ModelErrors, AreLoggedWhenNobodyShowsThem) {
  NoReaderDataSet ds;
  ds.Fill(3);
  ds.Open();
  TDataSource source(&ds);
  loggedWarnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(&KeepWarnings);
  {
    TDataSetModel model;
    model.SetDataSource(&source);
    EXPECT_EQ(model.rowCount(), 0);
  }
  const size_t logged = loggedWarnings.size();
  std::vector<std::string> shown;
  {
    TDataSetModel model;
    model.OnError = [&](const std::exception& e) { shown.push_back(e.what()); };
    model.SetDataSource(&source);
  }
  qInstallMessageHandler(previous);
  ASSERT_GE(logged, 1u);
  EXPECT_NE(loggedWarnings[0].find("no rows today"), std::string::npos) << loggedWarnings[0];
  EXPECT_EQ(loggedWarnings.size(), logged) << "an error shown to the user is not logged too";
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), "no rows today");
}

}  // namespace
}  // namespace fendral::test
