// The data-aware memo view and grid, driven by key events as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>

#include "dbgrid.h"
#include "dbmemo.h"
#include "vector_dataset.h"

namespace fendral::test {
namespace {

void Key(QWidget& widget, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(&widget, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(&widget, &release);
}

void Type(QWidget& widget, const QString& text) {
  for (QChar c : text) Key(widget, c.toUpper().unicode(), QString(c));
}

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.AddRow({1, QString("a"), 1.0, QVariant(), QVariant(), QByteArray("first memo")});
    ds.AddRow({2, QString("b"), 2.0, QVariant(), QVariant(), QVariant()});
    ds.Open();
    memo.SetDataSource(&source);
    memo.SetDataField("NOTE");
    memo.OnError = [this](const std::exception& e) { errors.push_back(e.what()); };
  }
  VectorDataSet ds;
  TDataSource source{&ds};
  TDBMemo memo;
  std::vector<std::string> errors;
};

TEST_F(MemoTest, ShowsTheFieldOfTheCurrentRecord) {
  EXPECT_EQ(memo.toPlainText(), "first memo");
  ds.Next();
  EXPECT_EQ(memo.toPlainText(), "");
  ds.Prior();
  EXPECT_EQ(memo.toPlainText(), "first memo");
  ds.Close();
  EXPECT_EQ(memo.toPlainText(), "");
  EXPECT_EQ(memo.Field(), nullptr);
}

TEST_F(MemoTest, TypingEditsTheRecordAndPostStoresTheText) {
  memo.moveCursor(QTextCursor::End);
  Type(memo, "!");
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(memo.toPlainText(), "first memo!");
  Key(memo, Qt::Key_Return, "\n");
  Type(memo, "x");
  ds.Post();
  EXPECT_EQ(ds.rows[0].values[5].toByteArray(), QByteArray("first memo!\nx"));
  EXPECT_EQ(memo.toPlainText(), "first memo!\nx");
}

TEST_F(MemoTest, EscapeDropsTheTypedTextAndFocusLossWritesIt) {
  memo.moveCursor(QTextCursor::End);
  Type(memo, "zz");
  Key(memo, Qt::Key_Escape);
  EXPECT_EQ(memo.toPlainText(), "first memo");
  Type(memo, "y");
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(&memo, &out);
  EXPECT_EQ(ds.FieldByName("NOTE")->AsString(), "yfirst memo");  // in the record, not posted
  EXPECT_EQ(ds.rows[0].values[5].toByteArray(), QByteArray("first memo"));
  ds.Cancel();
  EXPECT_EQ(memo.toPlainText(), "first memo");
}

TEST_F(MemoTest, ReadOnlyFieldsRefuseKeystrokes) {
  ds.FieldByName("NOTE")->SetReadOnly(true);
  memo.SetDataField("NOTE");
  ds.Refresh();
  EXPECT_TRUE(memo.isReadOnly());
  Type(memo, "q");
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(memo.toPlainText(), "first memo");
}

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.Fill(30);
    ds.Open();
    grid.resize(400, 300);
    grid.SetDataSource(&source);
    grid.OnError = [this](const std::exception& e) { errors.push_back(e.what()); };
  }
  int Id() { return ds.FieldByName("ID")->AsInteger(); }
  VectorDataSet ds;
  TDataSource source{&ds};
  TDBGrid grid;
  std::vector<std::string> errors;
};

TEST_F(GridTest, FollowsTheDatasetAndMovesIt) {
  EXPECT_EQ(grid.currentIndex().row(), 0);
  ds.MoveBy(4);
  EXPECT_EQ(grid.currentIndex().row(), 4);
  grid.setCurrentIndex(grid.Model().index(12, 1));
  EXPECT_EQ(Id(), 13);
  Key(grid, Qt::Key_Down);
  EXPECT_EQ(Id(), 14);
  EXPECT_EQ(grid.SelectedField(), ds.FieldByName("NAME"));
  grid.SelectField(ds.FieldByName("PRICE"));
  EXPECT_EQ(grid.currentIndex().column(), 2);
  EXPECT_EQ(grid.currentIndex().row(), 13);
}

TEST_F(GridTest, LeavingAnEditedRowPostsAndEscapeCancels) {
  grid.Model().setData(grid.Model().index(2, 1), "Edited");
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(grid.currentIndex().row(), 2);
  grid.setCurrentIndex(grid.Model().index(3, 1));
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows[2].values[1].toString(), "Edited");
  grid.Model().setData(grid.Model().index(3, 1), "Dropped");
  Key(grid, Qt::Key_Escape);
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.rows[3].values[1].toString(), "R4");
  // A post the dataset refuses keeps the grid on the row.
  ds.FieldByName("NAME")->SetRequired(true);
  grid.Model().setData(grid.Model().index(3, 1), "");
  grid.SelectField(ds.FieldByName("ID"));
  grid.setCurrentIndex(grid.Model().index(8, 1));
  EXPECT_EQ(grid.currentIndex().row(), 3);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.back(), "Field 'NAME' must have a value");
  EXPECT_EQ(grid.SelectedField(), ds.FieldByName("NAME"));  // the grid shows the culprit
  ds.Cancel();
}

TEST_F(GridTest, TitleClicksNameTheField) {
  QString clicked;
  grid.OnTitleClick = [&](const QString& name) { clicked = name; };
  emit grid.horizontalHeader()->sectionClicked(2);
  EXPECT_EQ(clicked, "PRICE");
  EXPECT_EQ(grid.Model().headerData(3, Qt::Horizontal).toString(), "BORN");
}

}  // namespace
}  // namespace fendral::test
