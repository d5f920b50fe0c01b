// Esc and closing the window: Esc on the structure page cancels and never closes; closing
// asks before a changed field list is dropped, and posts a record edit first (asking when
// it cannot be posted). Closing while work runs: worker_test.cpp.
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include "app_test_util.h"

namespace fendral::test {
namespace {

const QString kNewListQuestion = QStringLiteral("Fendral|Discard the new table's field list?");
const QString kChangedListQuestion =
    QStringLiteral("Fendral|Discard the changes to the field list?");

class Closing : public WindowTest {
 protected:
  TStructurePage& Structure() { return *window->StructurePage(); }
  TMemTable& Rows() { return window->StructureTable(); }
  void NewTable() {
    dialogs.files.push_back(QString::fromStdString(dir.File("fresh.dbf")));
    window->NewDbf();
    ASSERT_TRUE(AwaitWork());
    ASSERT_EQ(window->Pages()->currentWidget(), window->StructurePage());
  }
  // Closes as the window's close button does; true when the window went.
  bool TryClose(std::initializer_list<bool> answers = {}) {
    for (bool answer : answers) dialogs.confirms.push_back(answer);
    window->close();
    return !window->isVisible();
  }
};

TEST_F(Closing, EscOnTheStructurePageCancelsTheCellThenTheRowAndNeverCloses) {
  NewTable();
  Control<QPushButton>(Structure(), "AddFieldButton")->click();
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(Rows().State(), dsInsert);
  ASSERT_EQ(Rows().RecordCount(), 1);  // the seeded row, posted by the add

  // A cell being typed: Esc reverts it and leaves the row being added.
  TDBGrid* grid = Control<TDBGrid>(Structure(), "FieldGrid");
  grid->setFocus();
  const QModelIndex cell = grid->Model().index(1, 1);
  grid->setCurrentIndex(cell);
  grid->edit(cell);
  QWidget* editor = QApplication::focusWidget();
  ASSERT_NE(editor, grid);
  QTest::keyClicks(editor, QStringLiteral("TYPED"));
  QTest::keyClick(editor, Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  EXPECT_NE(QApplication::focusWidget(), window->BrowsePage()->Grid());
  EXPECT_EQ(Rows().State(), dsInsert);

  // Then the row.
  QTest::keyClick(grid, Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(Rows().State(), dsBrowse);
  EXPECT_EQ(Rows().RecordCount(), 1);

  // From another control of the page: a row being added goes, the window stays.
  Control<QPushButton>(Structure(), "AddFieldButton")->click();
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(Rows().State(), dsInsert);
  Control<QLineEdit>(Structure(), "TagBox")->setFocus();
  QTest::keyClick(Control<QPushButton>(Structure(), "AddFieldButton"), Qt::Key_Escape);
  EXPECT_EQ(Rows().State(), dsBrowse);
  EXPECT_EQ(Rows().RecordCount(), 1);
  QTest::keyClick(grid, Qt::Key_Escape);
  QTest::keyClick(Control<QPushButton>(Structure(), "AddFieldButton"), Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(dialogs.asked.filter(QStringLiteral("Discard")).isEmpty());
}

TEST_F(Closing, ANewTablesFieldListIsNotDroppedUnasked) {
  // Untouched since "New DBF" seeded it: nothing to lose.
  NewTable();
  EXPECT_TRUE(TryClose());
  EXPECT_TRUE(dialogs.asked.filter(QStringLiteral("Discard")).isEmpty());

  window->show();
  NewTable();
  Rows().FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("CUSTOMER"));
  // Esc on the browse page with no table open closes the window: asked, default No.
  window->Pages()->setCurrentWidget(window->BrowsePage());
  window->BrowsePage()->Grid()->setFocus();
  Press(Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(dialogs.asked.count(kNewListQuestion), 1);
  // File > Exit asks the same; Yes closes.
  dialogs.confirms.push_back(true);
  for (QAction* menu : window->menuBar()->actions())
    if (menu->menu())
      for (QAction* item : menu->menu()->actions())
        if (item->text() == QStringLiteral("Exit")) item->trigger();
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(dialogs.asked.count(kNewListQuestion), 2);
}

TEST_F(Closing, AChangedFieldListOfTheOpenTableIsConfirmedAndAnUndoneOneIsNot) {
  Open(SampleTable());
  Rows().First();
  Rows().Edit();
  Rows().FieldByName(QStringLiteral("Len"))->SetAsInteger(7);
  Rows().Post();
  EXPECT_FALSE(TryClose({false}));
  EXPECT_EQ(dialogs.asked.count(kChangedListQuestion), 1);
  // Changed back: the list is the table's again.
  Rows().First();
  Rows().Edit();
  Rows()
      .FieldByName(QStringLiteral("Len"))
      ->SetAsInteger(window->Table1().Handler()->Fields()[0].length);
  Rows().Post();
  EXPECT_TRUE(TryClose());
  EXPECT_EQ(dialogs.asked.count(kChangedListQuestion), 1);
}

TEST_F(Closing, ARecordEditIsPostedBeforeTheWindowGoesOrDroppedOnlyWhenTheUserSaysSo) {
  const std::string path = Open(SampleTable());
  Table().SetRecNo(2);
  Table().Edit();
  Table().FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("Tallinn"));
  EXPECT_TRUE(TryClose());
  EXPECT_EQ(Dump(path)[1].value("fields").toObject().value("CITY").toString(),
            QStringLiteral("Tallinn"));
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join('\n').toStdString();

  // A new record nothing was typed into is not added.
  window->show();
  window->Start({QString::fromStdString(path)});
  Table().Append();
  EXPECT_TRUE(TryClose());
  EXPECT_EQ(Dump(path).size(), 60u);

  // An edit that cannot be posted: the user is told why and asked.
  window->show();
  window->Start({QString::fromStdString(path)});
  Table().SetRecNo(3);
  Table().Edit();
  Table().FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("Vilnius"));
  Table().BeforePost = [](TDataSet&) { throw std::runtime_error("the disk is full"); };
  EXPECT_FALSE(TryClose({false}));
  EXPECT_TRUE(dialogs.asked.contains(QStringLiteral("Fendral|the disk is full")));
  EXPECT_TRUE(dialogs.asked.contains(QStringLiteral("Fendral|Discard the changes to record 3?")));
  EXPECT_EQ(Table().State(), dsEdit);
  EXPECT_TRUE(TryClose({true}));
  EXPECT_NE(Dump(path)[2].value("fields").toObject().value("CITY").toString(),
            QStringLiteral("Vilnius"));
  Table().BeforePost = nullptr;
}

}  // namespace
}  // namespace fendral::test
