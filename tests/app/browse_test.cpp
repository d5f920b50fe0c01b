// The browse page driven through the window: what the grid shows, the filter panel, index
// orders, the keys of the table, and what reaches the files.
#include <QHeaderView>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTimer>

#include "app_test_util.h"
#include "tv_apptext.h"

namespace fendral::test {
namespace {

using Browse = WindowTest;

int RowsShown(TDataSetModel& grid) { return grid.rowCount(); }

TEST_F(Browse, NaturalOrderShowsEveryRecordAndTheCurrentRowFollowsTheDataset) {
  const std::string path = Open(SampleTable());
  const auto records = Dump(path);
  ASSERT_EQ(RowsShown(Grid()), static_cast<int>(records.size()));
  // Cells show what an independent reading of the file holds.
  const int nameColumn = Column(QStringLiteral("NAME"));
  for (int row : {0, 17, 59})
    EXPECT_EQ(Grid().data(Grid().index(row, nameColumn), Qt::DisplayRole).toString(),
              records[row].value("fields").toObject().value("NAME").toString());
  Table().SetRecNo(30);
  EXPECT_EQ(Grid().CurrentRow(), 29);
  EXPECT_EQ(Page().Grid()->currentIndex().row(), 29);
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Records: 30/60"));
}

TEST_F(Browse, F8TogglesTheDeleteMarkOnDiskAndHiddenDeletedRowsLeaveTheGrid) {
  const std::string path = Open(SampleTable());
  Table().SetRecNo(5);
  Page().Grid()->setFocus();
  Press(Qt::Key_F8);
  auto records = Dump(path);
  EXPECT_TRUE(records[4].value("deleted").toBool());
  // "Deleted records" is checked: F8 moved on to the next record.
  EXPECT_EQ(Table().RecNo(), 6);
  // Deleted rows are painted grey.
  EXPECT_EQ(Grid().data(Grid().index(4, 0), Qt::BackgroundRole).value<QColor>(),
            TBrowseGrid::kDeletedBackground);
  EXPECT_FALSE(Grid().data(Grid().index(5, 0), Qt::BackgroundRole).isValid());

  // Back on the record, F8 recalls it.
  Table().SetRecNo(5);
  Press(Qt::Key_F8);
  records = Dump(path);
  EXPECT_FALSE(records[4].value("deleted").toBool());

  // Marked again, then hidden.
  Table().SetRecNo(5);
  Press(Qt::Key_F8);
  int live = 0;
  for (const auto& record : Dump(path)) live += record.value("deleted").toBool() ? 0 : 1;
  ASSERT_LT(live, 60);
  Control<QCheckBox>(Page(), "DeletedBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_FALSE(Table().UseDeleted());
  EXPECT_EQ(RowsShown(Grid()), live);
  for (int row = 0; row < RowsShown(Grid()); ++row) EXPECT_NE(Page().Grid()->RecordOfRow(row), 5);
  Control<QCheckBox>(Page(), "DeletedBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(RowsShown(Grid()), 60);
}

TEST_F(Browse, ChoosingATagOrdersTheGridAsTheIndexAndReddensItsColumn) {
  const std::string path = Open(SampleTable());
  QComboBox* tags = Control<QComboBox>(Page(), "TagSelector");
  const int cityEntry = tags->findText(QStringLiteral("CITY"));
  ASSERT_GT(cityEntry, 0);
  Table().SetRecNo(7);
  // The row titles change with the order: the header is told to read them again.
  QSignalSpy titles(&Grid(), &QAbstractItemModel::headerDataChanged);
  tags->setCurrentIndex(cityEntry);
  Page().ChooseTag(cityEntry);
  bool allTitles = false;
  for (const QList<QVariant>& signal : titles)
    allTitles |= signal[0].value<Qt::Orientation>() == Qt::Vertical && signal[1].toInt() == 0 &&
                 signal[2].toInt() == RowsShown(Grid()) - 1;
  EXPECT_TRUE(allTitles) << titles.size() << " header signals";
  EXPECT_EQ(Table().IndexName(), QStringLiteral("CITY"));
  // The current record stays current, on its row of the new order.
  EXPECT_EQ(Table().RecNo(), 7);
  EXPECT_EQ(Page().Grid()->RecordOfRow(Page().Grid()->currentIndex().row()), 7);
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Records: 7/60"));
  const std::vector<int> expected = KeyOrder(path, (dir.Path() / "sample.cdx").string(), "CITY");
  ASSERT_EQ(static_cast<int>(expected.size()), RowsShown(Grid()));
  for (int row = 0; row < RowsShown(Grid()); ++row) {
    EXPECT_EQ(Page().Grid()->RecordOfRow(row), expected[static_cast<size_t>(row)]) << row;
    // Each row is titled with its record number.
    EXPECT_EQ(Grid().headerData(row, Qt::Vertical, Qt::DisplayRole).toInt(),
              expected[static_cast<size_t>(row)])
        << row;
  }
  const int cityColumn = Column(QStringLiteral("CITY"));
  EXPECT_EQ(Grid().headerData(cityColumn, Qt::Horizontal, Qt::BackgroundRole).value<QColor>(),
            QColor(Qt::red));
  EXPECT_FALSE(Grid().headerData(0, Qt::Horizontal, Qt::BackgroundRole).isValid());

  // The empty entry goes back to natural order; no title stays red.
  tags->setCurrentIndex(0);
  Page().ChooseTag(0);
  EXPECT_TRUE(Table().IndexName().isEmpty());
  EXPECT_EQ(Page().Grid()->RecordOfRow(0), 1);
  EXPECT_FALSE(Grid().headerData(cityColumn, Qt::Horizontal, Qt::BackgroundRole).isValid());
}

TEST_F(Browse, ATypedFilterHidesRowsAndABadOneKeepsThePreviousFilter) {
  const std::string path = Open(SampleTable());
  Control<QCheckBox>(Page(), "FilterPanelBox")->click();
  ASSERT_TRUE(AwaitWork());
  ASSERT_TRUE(Control<QLineEdit>(Page(), "FilterEdit")->isVisible());
  Control<QLineEdit>(Page(), "FilterEdit")->setText(QStringLiteral("AMOUNT > 500"));
  Control<QCheckBox>(Page(), "FilterOnBox")->click();
  ASSERT_TRUE(AwaitWork());
  const auto expected = Dump(path, "--filter 'AMOUNT > 500'");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(RowsShown(Grid()), static_cast<int>(expected.size()));
  EXPECT_TRUE(Table().Filtered());

  // A changed expression applied with Enter while the filter is on.
  Control<QLineEdit>(Page(), "FilterEdit")->setText(QStringLiteral("AMOUNT > )"));
  QTest::keyClick(Control<QLineEdit>(Page(), "FilterEdit"), Qt::Key_Return);
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(Table().Filter(), QStringLiteral("AMOUNT > 500"));
  EXPECT_TRUE(Table().Filtered());
  EXPECT_TRUE(Control<QCheckBox>(Page(), "FilterOnBox")->isChecked());
  EXPECT_EQ(RowsShown(Grid()), static_cast<int>(expected.size()));

  // Off shows every record again; on with a bad text stays off.
  Control<QCheckBox>(Page(), "FilterOnBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(RowsShown(Grid()), 60);
  Control<QCheckBox>(Page(), "FilterOnBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(dialogs.messages.size(), 2);
  EXPECT_FALSE(Table().Filtered());
  EXPECT_FALSE(Control<QCheckBox>(Page(), "FilterOnBox")->isChecked());
  EXPECT_EQ(RowsShown(Grid()), 60);
}

TEST_F(Browse, TitleClicksBuildAFilterThatCompilesForEveryFieldType) {
  const std::string path = Open(SampleTable());
  Control<QCheckBox>(Page(), "FilterPanelBox")->click();
  ASSERT_TRUE(AwaitWork());
  Table().SetRecNo(3);
  QHeaderView* header = Page().Grid()->horizontalHeader();
  const auto click = [&](const char* field) {
    const int column = Column(QLatin1String(field));
    ASSERT_GE(column, 0);
    emit header->sectionClicked(column);
  };
  click("ACTIVE");
  // The first term stands alone.
  EXPECT_TRUE(Control<QLineEdit>(Page(), "FilterEdit")->text() == QStringLiteral("ACTIVE=.T.") ||
              Control<QLineEdit>(Page(), "FilterEdit")->text() == QStringLiteral("ACTIVE=.F."))
      << Control<QLineEdit>(Page(), "FilterEdit")->text().toStdString();
  for (const char* field : {"ID", "NAME", "CITY", "AMOUNT", "JOINED"}) click(field);
  const QString filter = Control<QLineEdit>(Page(), "FilterEdit")->text();
  EXPECT_EQ(filter.count(QStringLiteral(" .AND. ")), 5) << filter.toStdString();
  // A memo column adds nothing and says why.
  click("NOTES");
  EXPECT_EQ(Control<QLineEdit>(Page(), "FilterEdit")->text(), filter);
  EXPECT_FALSE(window->StatusText(3).isEmpty());

  // The built filter compiles and keeps exactly the clicked record.
  Control<QCheckBox>(Page(), "FilterOnBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  ASSERT_EQ(RowsShown(Grid()), 1) << filter.toStdString();
  EXPECT_EQ(Page().Grid()->RecordOfRow(0), 3);
}

TEST(FilterTerms, QuotesDatesNumbersAndLogicalsAreWrittenAsTheLanguageReadsThem) {
  EXPECT_EQ(FilterTermFor("N", ftString, QString("O'Hara"), -1).text, QString("N=\"O'Hara\""));
  EXPECT_EQ(FilterTermFor("N", ftString, QString("a'b\"c"), -1).text, QString("N=[a'b\"c]"));
  EXPECT_TRUE(FilterTermFor("N", ftString, QString("a'b\"c]"), -1).text.isEmpty());
  EXPECT_EQ(FilterTermFor("A", ftFloat, 1234.5, 2).text, QString("A=1234.50"));
  EXPECT_EQ(FilterTermFor("L", ftBoolean, false, -1).text, QString("L=.F."));
  EXPECT_EQ(FilterTermFor("D", ftDate, QDate(2024, 2, 29), -1).text, QString("D={02/29/2024}"));
  EXPECT_TRUE(FilterTermFor("M", ftMemo, QVariant(), -1).text.isEmpty());
  EXPECT_FALSE(FilterTermFor("T", ftDateTime, QVariant(), -1).why.isEmpty());
  EXPECT_EQ(JoinFilter("", "A=1"), QString("A=1"));
  EXPECT_EQ(JoinFilter("B=2", "A=1"), QString("B=2 .AND. A=1"));
}

TEST(HeaderStamp, DateAndTimePartsArePaddedAndTheUserIsPlain) {
  const int32_t date = (124 << 16) | (3 << 8) | 7;  // 7 March 2024
  const uint32_t stamp = (9u << 22) | (5u << 16) | (3u << 10) | 42u;
  EXPECT_EQ(HeaderStampText(date, stamp, 7),
            QString("Last DBF update: Date: 07.03.24, Time: 09:05:03:42, User: 7"));
}

TEST(DateFormat, TheLocalesShortPatternBecomesTheEnginesFormat) {
  EXPECT_EQ(EngineDateFormat("dd/MM/yyyy"), "DD/MM/YYYY");
  EXPECT_EQ(EngineDateFormat("M/d/yy"), "MM/DD/YYYY");
  EXPECT_EQ(EngineDateFormat("dd.MM.yy"), "DD.MM.YYYY");
  EXPECT_EQ(EngineDateFormat("yyyy-MM-dd"), "YYYY-MM-DD");
  EXPECT_EQ(EngineDateFormat("dddd, d MMMM yyyy"), "MM/DD/YYYY");
}

TEST_F(Browse, F5GoesToARecordAndDoesNothingFor0OrANumberBeyondTheCount) {
  Open(SampleTable());
  dialogs.inputs = {QString("42"), QString("61"), QString("0"), QString("x")};
  Press(Qt::Key_F5);
  EXPECT_EQ(Table().RecNo(), 42);
  Press(Qt::Key_F5);
  EXPECT_EQ(Table().RecNo(), 42);
  Press(Qt::Key_F5);
  EXPECT_EQ(Table().RecNo(), 42);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  Press(Qt::Key_F5);
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("'x'")));
  EXPECT_TRUE(dialogs.asked.contains(QStringLiteral("Goto Record|Number record:")));
}

TEST_F(Browse, FindThenF3AndShiftF7FindTheNextMatchAndANonMatchSaysSo) {
  const std::string path = Open(SampleTable());
  const auto records = Dump(path);
  // A city that several records share, searched in lower case.
  const QString city = records[0].value("fields").toObject().value("CITY").toString();
  std::vector<int> matches;
  for (const auto& record : records)
    for (const auto& value : record.value("fields").toObject())
      if (value.isString() && value.toString().toUpper().contains(city.toUpper())) {
        matches.push_back(record.value("recno").toInt());
        break;
      }
  ASSERT_GE(matches.size(), 2u);
  dialogs.inputs = {city.toLower()};
  Press(Qt::Key_F7);
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(window->LastSearch(), city.toUpper());
  EXPECT_EQ(Table().RecNo(), matches[0]);
  Press(Qt::Key_F3);
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(Table().RecNo(), matches[1]);
  if (matches.size() > 2) {
    Press(Qt::Key_F7, Qt::ShiftModifier);
    ASSERT_TRUE(AwaitWork());
    EXPECT_EQ(Table().RecNo(), matches[2]);
  }
  dialogs.inputs = {QStringLiteral("no such text anywhere")};
  Press(Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(window->StatusText(3).contains(QStringLiteral("not found")));
}

TEST_F(Browse, F2EditsAndPostsToTheFileKeepingTheProductionIndexCurrent) {
  const std::string path = Open(SampleTable());
  Table().SetRecNo(10);
  Press(Qt::Key_F2);
  ASSERT_EQ(Table().State(), dsEdit);
  Table().FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("AAAA first"));
  Press(Qt::Key_F2);
  EXPECT_EQ(Table().State(), dsBrowse);
  const auto records = Dump(path);
  EXPECT_EQ(records[9].value("fields").toObject().value("CITY").toString(),
            QStringLiteral("AAAA first"));
  const std::vector<int> order = KeyOrder(path, (dir.Path() / "sample.cdx").string(), "CITY");
  ASSERT_FALSE(order.empty());
  EXPECT_EQ(order.front(), 10);
  EXPECT_EQ(order.size(), records.size());
}

TEST_F(Browse, EscCancelsTheCellThenTheRecordEditThenClosesTheWindow) {
  Open(SampleTable());
  Table().SetRecNo(2);
  TBrowseGrid* grid = Page().Grid();
  grid->setFocus();
  const QModelIndex cell = Grid().index(Grid().CurrentRow(), Column("CITY"));
  grid->setCurrentIndex(cell);
  grid->edit(cell);
  ASSERT_TRUE(grid->Editing());
  Press(Qt::Key_Escape);
  EXPECT_FALSE(grid->Editing());
  EXPECT_TRUE(window->isVisible());

  Press(Qt::Key_F2);
  ASSERT_EQ(Table().State(), dsEdit);
  Press(Qt::Key_Escape);
  EXPECT_EQ(Table().State(), dsBrowse);
  EXPECT_TRUE(window->isVisible());

  // Text typed in the filter box is not thrown away by Esc.
  Control<QCheckBox>(Page(), "FilterPanelBox")->click();
  ASSERT_TRUE(AwaitWork());
  Control<QLineEdit>(Page(), "FilterEdit")->setFocus();
  Control<QLineEdit>(Page(), "FilterEdit")->setText(QStringLiteral("CITY='X'"));
  QTest::keyClick(Control<QLineEdit>(Page(), "FilterEdit"), Qt::Key_Escape);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(Control<QLineEdit>(Page(), "FilterEdit")->text(), QStringLiteral("CITY='X'"));

  Press(Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
}

TEST_F(Browse, ShiftF8SwitchesDosAndTheGridShowsTheOtherDecoding) {
  // Bytes 0x80.. decode differently in the OEM page (CP866) and the ANSI page (CP1251).
  const std::string path = CopyTableFiles(SampleTable(), dir.Path());
  std::string out;
  ASSERT_EQ(RunCommand(std::string(FENDRAL_CLI) + " replace '" + path +
                           "' 1 'CITY=Москва' --encoding CP866",
                       &out),
            0)
      << out;
  window->Start({QString::fromStdString(path)});
  const QModelIndex cell = Grid().index(0, Column("CITY"));
  EXPECT_EQ(Grid().data(cell, Qt::DisplayRole).toString().trimmed(), QStringLiteral("Москва"));
  Press(Qt::Key_F8, Qt::ShiftModifier);
  EXPECT_FALSE(Page().DosChecked());
  EXPECT_FALSE(Table().TranslateASCII());
  const QString ansi =
      Grid().data(Grid().index(0, Column("CITY")), Qt::DisplayRole).toString();
  EXPECT_NE(ansi.trimmed(), QStringLiteral("Москва"));
  EXPECT_FALSE(ansi.trimmed().isEmpty());
  Press(Qt::Key_F8, Qt::ShiftModifier);
  EXPECT_EQ(Grid()
                .data(Grid().index(0, Column("CITY")), Qt::DisplayRole)
                .toString()
                .trimmed(),
            QStringLiteral("Москва"));
}

TEST_F(Browse, F9SwitchesPages) {
  Open(SampleTable());
  EXPECT_EQ(window->Pages()->currentWidget(), window->BrowsePage());
  Press(Qt::Key_F9);
  EXPECT_EQ(window->Pages()->currentWidget(), window->StructurePage());
  Press(Qt::Key_F9);
  EXPECT_EQ(window->Pages()->currentWidget(), window->BrowsePage());
}

TEST(Screenshots, TheProgramWritesEveryPicture) {
  TempDir out;
  TempDir tables;
  const std::string path = CopyTableFiles(SampleTable(), tables.Path());
  std::string log;
  ASSERT_EQ(RunCommand(std::string(FENDRAL_SCREENSHOTS) + " '" + path + "' '" +
                           out.Path().string() + "' 2>&1",
                       &log),
            0)
      << log;
  for (const char* name : {"browse-natural.png", "browse-ordered.png", "browse-filter.png",
                           "structure.png", "browse-damaged-index.png", "progress.png",
                           "findings.png"}) {
    const QImage image(QString::fromStdString((out.Path() / name).string()));
    EXPECT_FALSE(image.isNull()) << name;
    EXPECT_GT(image.width(), 400) << name;
  }
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

// Keys as a user types them: the first starts the cell editor, the rest reach the widget
// that then has the focus.
void TypeIntoGrid(QWidget* grid, const QString& text) {
  for (const QChar c : text) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClicks(target ? target : grid, QString(c));
  }
}

}  // namespace

// What a user does: the keyboard on the grid, no dataset calls.
TEST_F(Browse, TypingIntoACellAndLeavingTheRowPostsItAndKeepsTheRow) {
  const std::string path = Open(SampleTable());
  TBrowseGrid* grid = Page().Grid();
  EXPECT_EQ(QApplication::focusWidget(), grid) << "the grid has the keyboard focus at start";
  grid->setFocus();
  const int column = Column("CITY");
  grid->setCurrentIndex(Grid().index(4, column));
  ASSERT_EQ(Table().RecNo(), 5);
  const int amount = Column("AMOUNT");
  const QString amountBefore = Grid().data(Grid().index(4, amount), Qt::DisplayRole).toString();
  ASSERT_FALSE(amountBefore.isEmpty());
  TypeIntoGrid(grid, QStringLiteral("Zed"));
  ASSERT_TRUE(grid->Editing());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QApplication::processEvents();  // the cell editor commits from the event loop
  EXPECT_FALSE(grid->Editing());
  EXPECT_EQ(Table().State(), dsEdit);
  EXPECT_EQ(grid->currentIndex().row(), 4);
  QTest::keyClick(grid, Qt::Key_Down);
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
  EXPECT_EQ(Table().State(), dsBrowse);
  EXPECT_EQ(Table().RecNo(), 6);
  EXPECT_EQ(grid->currentIndex().row(), 5);
  EXPECT_EQ(grid->currentIndex().column(), column);
  const auto records = Dump(path);
  EXPECT_EQ(records[4].value("fields").toObject().value("CITY").toString(), QStringLiteral("Zed"));
  EXPECT_EQ(Grid().data(Grid().index(4, column), Qt::DisplayRole).toString().trimmed(),
            QStringLiteral("Zed"));
}

// Typing into a cell, then Esc twice: the cell editor closes, then the record edit is
// cancelled and the file keeps its bytes.
TEST_F(Browse, TypingThenEscLeavesTheFileAsItWas) {
  const std::string path = Open(SampleTable());
  const auto before = Dump(path);
  TBrowseGrid* grid = Page().Grid();
  grid->setFocus();
  grid->setCurrentIndex(Grid().index(2, Column("CITY")));
  TypeIntoGrid(grid, QStringLiteral("Q"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QApplication::processEvents();
  ASSERT_EQ(Table().State(), dsEdit);
  QTest::keyClick(grid, Qt::Key_Escape);
  EXPECT_EQ(Table().State(), dsBrowse);
  QTest::keyClick(grid, Qt::Key_Down);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(Dump(path), before);
  EXPECT_TRUE(window->isVisible());
}

}  // namespace fendral::test
