// The "Structure DBF" page: checking and creating a new table's field list, the rows of
// the structure table, and index files and tags of the browsed table, checked on disk
// with fendral-cli and the independent readers.
#include <sys/stat.h>

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <algorithm>
#include <map>

#include "app_test_util.h"

namespace fendral::test {
namespace {

struct FieldRow {
  QString name;
  QString type;
  QString len;
  QString dec;
};

// One JSON object per line of `command`'s output; empty (after a failed expectation) when
// the command fails.
std::vector<QJsonObject> JsonLines(const std::string& command) {
  std::string out;
  const int status = RunCommand(command, &out);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  std::vector<QJsonObject> lines;
  for (const QByteArray& line : QByteArray::fromStdString(out).split('\n'))
    if (!line.trimmed().isEmpty()) lines.push_back(QJsonDocument::fromJson(line).object());
  return lines;
}

std::string Peer(const std::string& script) { return (SharedDir() / "peers" / script).string(); }

// The Python peers need the system interpreter, where their modules are installed.
std::string Python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

uint64_t Inode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_ino) : 0;
}

class StructureTest : public WindowTest {
 protected:
  TStructurePage& Structure() { return *window->StructurePage(); }
  TMemTable& Rows() { return window->StructureTable(); }

  // "New DBF" for `file` in the scratch directory.
  std::string NewTable(const std::string& file) {
    const std::string path = dir.File(file);
    dialogs.files.push_back(QString::fromStdString(path));
    window->NewDbf();
    return path;
  }

  // Replaces the first row (the one "New DBF" seeds) and appends the rest.
  void Define(const std::vector<FieldRow>& rows) {
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i > 0) {
        Rows().Append();
      } else if (Rows().State() != dsInsert) {
        Rows().First();
        Rows().Edit();
      }
      SetRow(rows[i]);
      Rows().Post();
    }
  }
  void SetRow(const FieldRow& row) {
    const std::pair<QString, QString> cells[] = {
        {"Name", row.name}, {"DBF Type", row.type}, {"Len", row.len}, {"Dec", row.dec}};
    for (const auto& [column, text] : cells) {
      TField* field = Rows().FieldByName(column);
      if (text.isEmpty())
        field->Clear();
      else
        field->SetAsString(text);
    }
  }

  // The column of the grid's cell cursor and the structure row it is in.
  QString SelectedColumn() {
    TField* field = Control<TDBGrid>(Structure(), "FieldGrid")->SelectedField();
    return field ? field->FieldName() : QString();
  }

  // Field values of every structure row, in the grid's order.
  std::vector<std::vector<QString>> RowTexts() {
    std::vector<std::vector<QString>> texts;
    Rows().First();
    while (!Rows().Eof()) {
      std::vector<QString> row;
      for (const char* column : {"Field", "Name", "DBF Type", "Len", "Dec", "Origin"})
        row.push_back(Rows().FieldByName(QLatin1String(column))->AsString());
      texts.push_back(row);
      Rows().Next();
    }
    return texts;
  }

  QStringList Listed(const QListWidget* list) {
    QStringList names;
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    return names;
  }
  void ChooseFile(const QString& name) {
    const auto found =
        Control<QListWidget>(Structure(), "IndexFileList")->findItems(name, Qt::MatchFixedString);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    Control<QListWidget>(Structure(), "IndexFileList")->setCurrentItem(found.front());
    emit Control<QListWidget>(Structure(), "IndexFileList")->itemClicked(found.front());
  }
  void ChooseTag(const QString& name) {
    const auto found =
        Control<QListWidget>(Structure(), "TagList")->findItems(name, Qt::MatchFixedString);
    ASSERT_EQ(found.size(), 1) << name.toStdString();
    Control<QListWidget>(Structure(), "TagList")->setCurrentItem(found.front());
  }
  void FillTagEditor(const QString& tag, const QString& expression, const QString& filter = {}) {
    ASSERT_TRUE(Structure().TagEditorEnabled());
    Control<QLineEdit>(Structure(), "TagBox")->setText(tag);
    Control<QLineEdit>(Structure(), "ExpressionBox")->setText(expression);
    Control<QLineEdit>(Structure(), "FilterBox")->setText(filter);
  }

  // Record numbers of the sample in ascending NAME order (upper-cased, as the tags key it).
  std::vector<int> ExpectedNameOrder(const std::string& table) {
    std::vector<std::pair<QString, int>> keys;
    for (const QJsonObject& record : Dump(table))
      keys.push_back(
          {record["fields"].toObject()["NAME"].toString().toUpper(), record["recno"].toInt()});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<int> order;
    for (const auto& key : keys) order.push_back(key.second);
    return order;
  }
};

// ---------------------------------------------------------------------------------------
// New table and validation

TEST_F(StructureTest, NewDbfShowsTheStructurePageWithOneSeededRow) {
  Open(SampleTable());
  window->NewDbf();  // cancelled: nothing changes
  EXPECT_TRUE(Table().Active());
  const std::string path = NewTable("fresh.dbf");
  EXPECT_FALSE(Table().Active());
  EXPECT_FALSE(fs::exists(path)) << "nothing is written before \"Create DBF\"";
  EXPECT_EQ(window->Pages()->currentWidget(), window->StructurePage());
  EXPECT_TRUE(window->Pages()->isVisible());
  EXPECT_EQ(window->StatusText(1), QString::fromStdString(path));
  EXPECT_EQ(Control<QPushButton>(Structure(), "CreateButton")->text(),
            QStringLiteral("Create DBF"));
  EXPECT_TRUE(window->CloseAction()->isEnabled());
  EXPECT_TRUE(window->DatabaseMenu()->isEnabled());
  EXPECT_EQ(Control<QListWidget>(Structure(), "IndexFileList")->count(), 0);
  EXPECT_EQ(Control<QListWidget>(Structure(), "TagList")->count(), 0);
  EXPECT_EQ(Rows().State(), dsInsert) << "the seeded row is not posted yet";
  EXPECT_EQ(Rows().FieldByName("Field")->AsInteger(), 1);
  EXPECT_EQ(Rows().FieldByName("Name")->AsString(), QStringLiteral("NewName"));
  EXPECT_EQ(Rows().FieldByName("DBF Type")->AsString(), QStringLiteral("N"));
  EXPECT_EQ(Rows().FieldByName("Len")->AsInteger(), 0);
  EXPECT_EQ(Rows().FieldByName("Dec")->AsInteger(), 0);
  EXPECT_EQ(Table().TableName(), QStringLiteral("fresh.dbf"));
}

TEST_F(StructureTest, TheTypePickListShowsNamesAndKeepsTheLetter) {
  NewTable("pick.dbf");
  Rows().Post();
  TDBGrid* grid = Control<TDBGrid>(Structure(), "FieldGrid");
  ASSERT_EQ(grid->Model().headerData(2, Qt::Horizontal).toString(), QStringLiteral("DBF Type"));
  for (int c = 0; c < grid->Model().columnCount(); ++c)
    EXPECT_NE(grid->Model().headerData(c, Qt::Horizontal).toString(), QStringLiteral("Origin"));
  const QModelIndex cell = grid->Model().index(0, 2);
  QAbstractItemDelegate* delegate = grid->itemDelegateForIndex(cell);
  std::unique_ptr<QWidget> editor(delegate->createEditor(grid->viewport(), {}, cell));
  auto* box = qobject_cast<QComboBox*>(editor.get());
  ASSERT_NE(box, nullptr);
  QStringList choices;
  for (int i = 0; i < box->count(); ++i) choices << box->itemText(i);
  EXPECT_EQ(choices,
            QStringList({"N Number", "C Character", "D Date", "L Boolean", "M Memo", "B Binary"}));
  delegate->setEditorData(box, cell);
  EXPECT_EQ(box->currentText(), QStringLiteral("N Number"));
  box->setCurrentIndex(4);
  delegate->setModelData(box, &grid->Model(), cell);
  Rows().CheckBrowseMode();
  Rows().First();
  EXPECT_EQ(Rows().FieldByName("DBF Type")->AsString(), QStringLiteral("M"));
}

TEST_F(StructureTest, NumericWidthsOutsideOneToTwentyAreRefusedWithTheLenCellSelected) {
  const std::string path = NewTable("numbers.dbf");
  for (const char* len : {"0", "21"}) {
    SCOPED_TRACE(len);
    Define({{"ID", "N", "5", "0"}, {"AMOUNT", "N", len, "0"}});
    window->CreateOrModify();
    ASSERT_TRUE(AwaitWork());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(SelectedColumn(), QStringLiteral("Len"));
    EXPECT_EQ(Rows().FieldByName("Name")->AsString(), QStringLiteral("AMOUNT"));
    EXPECT_EQ(Control<QPushButton>(Structure(), "CreateButton")->text(),
              QStringLiteral("Create DBF"));
    // The refused row goes again for the next try.
    Rows().Last();
    Rows().Delete();
  }
  Define({{"ID", "N", "5", "0"}, {"AMOUNT", "N", "20", "0"}});
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(Table().RecordCount(), 0);
  EXPECT_EQ(Control<QPushButton>(Structure(), "CreateButton")->text(),
            QStringLiteral("Modify DBF"));
}

TEST_F(StructureTest, EmptyCellsAndWidthsTheTableTypeCannotStoreAreRefused) {
  const std::string path = NewTable("cells.dbf");
  struct Case {
    FieldRow row;
    int type;
    const char* column;
  };
  const Case cases[] = {
      {{"", "C", "10", "0"}, TStructurePage::kFoxPro, "Name"},
      {{"TITLE", "", "10", "0"}, TStructurePage::kFoxPro, "DBF Type"},
      {{"TITLE", "C", "", "0"}, TStructurePage::kFoxPro, "Len"},
      {{"TITLE", "C", "10", ""}, TStructurePage::kFoxPro, "Dec"},
      {{"TITLE", "X", "10", "0"}, TStructurePage::kFoxPro, "DBF Type"},
      // Names the table cannot store, or stores as the first one.
      {{"1ST", "C", "10", "0"}, TStructurePage::kFoxPro, "Name"},
      {{"MY;NAME", "C", "10", "0"}, TStructurePage::kFoxPro, "Name"},
      {{"id", "C", "10", "0"}, TStructurePage::kFoxPro, "Name"},
      // A character width needs at least one character.
      {{"TITLE", "C", "0", "0"}, TStructurePage::kFoxPro, "Len"},
      // Only Clipper tables keep character widths above 254.
      {{"TITLE", "C", "255", "0"}, TStructurePage::kFoxPro, "Len"},
      {{"TITLE", "C", "300", "0"}, TStructurePage::kDBaseIII, "Len"},
      {{"TITLE", "C", "300", "0"}, TStructurePage::kDBaseIV, "Len"},
      {{"TITLE", "C", "0", "0"}, TStructurePage::kClipper, "Len"},
      // Decimals leave room for a digit and the point.
      {{"PRICE", "N", "5", "4"}, TStructurePage::kFoxPro, "Dec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row.name.toStdString() + " " + c.row.type.toStdString() + " " +
                 c.row.len.toStdString() + " " + c.row.dec.toStdString());
    Structure().SetTypeButton(static_cast<TStructurePage::TypeButton>(c.type));
    Define({{"ID", "N", "5", "0"}, c.row});
    window->CreateOrModify();
    ASSERT_TRUE(AwaitWork());
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(SelectedColumn(), QLatin1String(c.column));
    EXPECT_EQ(Rows().RecNo(), 2) << "the offending row is the current one";
    Rows().Last();
    Rows().Delete();
  }
  EXPECT_TRUE(dialogs.messages.isEmpty()) << "refusals select the cell, no message box";

  // The widths at the limits are taken.
  Structure().SetTypeButton(TStructurePage::kFoxPro);
  Define({{"ID", "N", "5", "0"}, {"TITLE", "C", "254", "0"}, {"PRICE", "N", "5", "3"}});
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  ASSERT_TRUE(fs::exists(path));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
}

TEST_F(StructureTest, ClipperTablesTakeWideCharacterFields) {
  const std::string path = NewTable("wide.dbf");
  Structure().SetTypeButton(TStructurePage::kClipper);
  Define({{"ID", "N", "5", "0"}, {"TEXT", "C", "300", "0"}});
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
  Table().Append();
  Table().FieldByName("ID")->SetAsInteger(7);
  Table().FieldByName("TEXT")->SetAsString(QString(290, 'x') + QStringLiteral("end"));
  Table().Post();
  window->CloseDbf();
  const auto records = Dump(path);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["fields"].toObject()["TEXT"].toString(), QString(290, 'x') + "end");
  if (SharedDir().empty()) return;
  const auto peer = JsonLines("perl '" + Peer("dump_table.pl") + "' '" + path + "'");
  ASSERT_EQ(peer.size(), 1u);
  EXPECT_EQ(peer[0]["fields"].toObject()["TEXT"].toString(), QString(290, 'x') + "end");
}

// ---------------------------------------------------------------------------------------
// Creating each table type

TEST_F(StructureTest, EachTableTypeIsWrittenOpenedAndReadByThePeers) {
  struct Kind {
    TStructurePage::TypeButton button;
    uint8_t version;
    const char* memoExtension;
    bool dbfread;  // dbfread misreads dBase IV memos
  };
  const Kind kinds[] = {{TStructurePage::kClipper, 0x83, ".dbt", true},
                        {TStructurePage::kDBaseIII, 0x83, ".dbt", true},
                        {TStructurePage::kDBaseIV, 0x8B, ".dbt", false},
                        {TStructurePage::kFoxPro, 0xF5, ".fpt", true}};
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.button);
    const std::string file = "kind" + std::to_string(kind.button) + ".dbf";
    const std::string path = NewTable(file);
    ASSERT_EQ(Control<QPushButton>(Structure(), "CreateButton")->text(),
              QStringLiteral("Create DBF"));
    ASSERT_TRUE(Control<QLineEdit>(Structure(), "BlockSizeBox")->isEnabled());
    Structure().SetTypeButton(kind.button);
    Control<QLineEdit>(Structure(), "BlockSizeBox")->setText(QStringLiteral("32"));
    Define({{"NAME", "C", "20", "0"},
            {"PRICE", "N", "10", "2"},
            {"BORN", "D", "8", "0"},
            {"OK", "L", "1", "0"},
            {"NOTES", "M", "10", "0"}});
    window->CreateOrModify();
    ASSERT_TRUE(AwaitWork());
    ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
    // The window shows the new table as it shows any opened one.
    EXPECT_EQ(Control<QPushButton>(Structure(), "CreateButton")->text(),
              QStringLiteral("Modify DBF"));
    EXPECT_TRUE(window->windowTitle().endsWith(QString::fromStdString(file)));
    EXPECT_TRUE(window->CloseAction()->isEnabled());
    EXPECT_EQ(Rows().RecordCount(), 5);
    EXPECT_EQ(ReadBytes(path).at(0), kind.version);
    const std::string memo = fs::path(path).replace_extension(kind.memoExtension).string();
    ASSERT_TRUE(fs::exists(memo));
    if (kind.button == TStructurePage::kFoxPro) {
      const auto header = ReadBytes(memo);
      EXPECT_EQ(header.at(6) * 256 + header.at(7), 32) << "the chosen block size";
    }

    Table().Append();
    Table().FieldByName("NAME")->SetAsString(QStringLiteral("Ivanov"));
    Table().FieldByName("PRICE")->SetAsFloat(12.5);
    Table().FieldByName("BORN")->SetAsDateTime(QDateTime(QDate(1990, 5, 17), QTime()));
    Table().FieldByName("OK")->SetAsBoolean(true);
    Table().FieldByName("NOTES")->SetAsString(QStringLiteral("first memo"));
    Table().Post();
    window->CloseDbf();

    const auto ours = Dump(path);
    ASSERT_EQ(ours.size(), 1u);
    const QJsonObject fields = ours[0]["fields"].toObject();
    EXPECT_EQ(fields["NAME"].toString(), QStringLiteral("Ivanov"));
    EXPECT_DOUBLE_EQ(fields["PRICE"].toDouble(), 12.5);
    EXPECT_EQ(fields["BORN"].toString(), QStringLiteral("1990-05-17"));
    EXPECT_EQ(fields["NOTES"].toString(), QStringLiteral("first memo"));

    if (SharedDir().empty()) continue;
    std::vector<std::string> readers = {"perl '" + Peer("dump_table.pl") + "' '" + path + "'"};
    if (kind.dbfread)
      readers.push_back(Python() + " '" + Peer("dump_table.py") + "' '" + path + "'");
    for (const std::string& reader : readers) {
      SCOPED_TRACE(reader);
      const auto peer = JsonLines(reader);
      ASSERT_EQ(peer.size(), 1u);
      const QJsonObject values = peer[0]["fields"].toObject();
      EXPECT_EQ(values["NAME"].toString(), QStringLiteral("Ivanov"));
      EXPECT_EQ(values["PRICE"].toString(), QStringLiteral("12.50"));
      EXPECT_EQ(values["BORN"].toString(), QStringLiteral("1990-05-17"));
      EXPECT_EQ(values["OK"].toString(), QStringLiteral("T"));
      EXPECT_EQ(values["NOTES"].toString(), QStringLiteral("first memo"));
    }
  }
}

TEST_F(StructureTest, CreatingOverAnExistingTableAsksAndCancelKeepsIt) {
  const std::string path = Open(SampleTable());
  const auto before = ReadBytes(path);
  window->CloseDbf();
  NewTable("sample.dbf");
  Define({{"ONLY", "C", "5", "0"}});
  dialogs.confirms.push_back(false);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_FALSE(Table().Active());
  EXPECT_EQ(Control<QPushButton>(Structure(), "CreateButton")->text(),
            QStringLiteral("Create DBF"));
  ASSERT_FALSE(dialogs.asked.isEmpty());
  EXPECT_TRUE(dialogs.asked.last().contains(QStringLiteral("overwrite")));
}

// ---------------------------------------------------------------------------------------
// The structure table's rows

TEST_F(StructureTest, NewRowsAreNumberedAndSeededAndDeletingRenumbers) {
  NewTable("rows.dbf");
  EXPECT_FALSE(Control<QPushButton>(Structure(), "UpButton")->isEnabled()) << "one row cannot move";
  Rows().Post();
  Rows().Append();
  EXPECT_EQ(Rows().FieldByName("Field")->AsInteger(), 2);
  EXPECT_EQ(Rows().FieldByName("Len")->AsInteger(), 8);
  EXPECT_EQ(Rows().FieldByName("Dec")->AsInteger(), 0);
  EXPECT_TRUE(Control<QPushButton>(Structure(), "UpButton")->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(Structure(), "DownButton")->isEnabled());
  Rows().FieldByName("Name")->SetAsString(QStringLiteral("SECOND"));
  Rows().Post();
  Rows().Append();
  Rows().FieldByName("Name")->SetAsString(QStringLiteral("THIRD"));
  Rows().Post();
  Rows().First();
  Rows().Delete();
  const auto rows = RowTexts();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "1");
  EXPECT_EQ(rows[0][1], "SECOND");
  EXPECT_EQ(rows[1][0], "2");
  EXPECT_EQ(rows[1][1], "THIRD");
  // Insert in the grid adds a row; Ctrl+Delete there cancels or removes one.
  window->Pages()->setCurrentWidget(window->StructurePage());
  Control<TDBGrid>(Structure(), "FieldGrid")->setFocus();
  QTest::keyClick(Control<TDBGrid>(Structure(), "FieldGrid"), Qt::Key_Insert);
  ASSERT_EQ(Rows().State(), dsInsert);
  EXPECT_EQ(Rows().FieldByName("Field")->AsInteger(), 3) << "no number repeats";
  Control<TDBGrid>(Structure(), "FieldGrid")->setFocus();
  QTest::keyClick(Control<TDBGrid>(Structure(), "FieldGrid"), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(Rows().State(), dsBrowse);
  EXPECT_EQ(Rows().RecordCount(), 2);
  Rows().Last();
  Rows().Delete();
  EXPECT_FALSE(Control<QPushButton>(Structure(), "UpButton")->isEnabled());
  EXPECT_FALSE(Control<QPushButton>(Structure(), "DownButton")->isEnabled());
}

TEST_F(StructureTest, UpAndDownMoveTheRowWithItsOriginAndKeepTheCursorOnIt) {
  Open(SampleTable());
  const auto before = RowTexts();
  ASSERT_GE(before.size(), 3u);
  EXPECT_TRUE(Control<QPushButton>(Structure(), "UpButton")->isEnabled());
  Rows().SetRecNo(2);
  Control<QPushButton>(Structure(), "DownButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(Rows().RecNo(), 3);
  EXPECT_EQ(Rows().FieldByName("Name")->AsString(), before[1][1]);
  auto after = RowTexts();
  EXPECT_EQ(after[1][1], before[2][1]);
  EXPECT_EQ(after[1][5], before[2][5]) << "Origin stays on its row";
  EXPECT_EQ(after[2][1], before[1][1]);
  EXPECT_EQ(after[2][5], before[1][5]);
  for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i][0], QString::number(i + 1));

  Rows().SetRecNo(3);
  Control<QPushButton>(Structure(), "UpButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(Rows().RecNo(), 2);
  EXPECT_EQ(RowTexts(), before);

  // The first row does not go up, the last does not go down.
  Rows().First();
  Control<QPushButton>(Structure(), "UpButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(RowTexts(), before);
  Rows().Last();
  Control<QPushButton>(Structure(), "DownButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(RowTexts(), before);
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(StructureTest, DoubleClickCopiesTheFieldNameIntoExpressionAndTag) {
  Open(SampleTable());
  Rows().SetRecNo(3);
  const QString name = Rows().FieldByName("Name")->AsString();
  TDBGrid* grid = Control<TDBGrid>(Structure(), "FieldGrid");
  window->Pages()->setCurrentWidget(window->StructurePage());
  const QModelIndex cell = grid->Model().index(2, 1);
  emit grid->doubleClicked(cell);
  EXPECT_EQ(Control<QLineEdit>(Structure(), "ExpressionBox")->text(), name);
  EXPECT_EQ(Control<QLineEdit>(Structure(), "TagBox")->text(), name);
}

// ---------------------------------------------------------------------------------------
// Modify

TEST_F(StructureTest, ModifyRefusesAnInvalidListAndLeavesTheTableAlone) {
  const std::string path = Open(SampleTable());
  const auto before = ReadBytes(path);
  const uint64_t inode = Inode(path);
  Rows().Append();
  Rows().FieldByName("Name")->SetAsString(QStringLiteral("EXTRA"));
  Rows().FieldByName("DBF Type")->SetAsString(QStringLiteral("N"));
  Rows().FieldByName("Len")->SetAsInteger(0);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(SelectedColumn(), QStringLiteral("Len"));
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_TRUE(Table().Active());
}

TEST_F(StructureTest, ModifyKeepsWideCharacterFieldsATableAlreadyHolds) {
  REQUIRE_SHARED();
  // A FoxPro table with a 300-character field, as a Clipper-family program writes it.
  const std::string path = Open(FixturesDir() / "php-xbase" / "foxpro" / "pr90.dbf");
  ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
  ASSERT_EQ(Structure().TypeButtonChecked(), TStructurePage::kFoxPro);
  const uint64_t inode = Inode(path);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_NE(SelectedColumn(), QStringLiteral("Len")) << "the width the table has is not refused";
  const bool placeholder =
      dialogs.messages.join('\n').contains(QStringLiteral("ModifyDbf: under construction"));
  EXPECT_TRUE(placeholder || Inode(path) != inode) << dialogs.messages.join('\n').toStdString();
}

TEST_F(StructureTest, ModifyRefusesWideningACharacterFieldBeyondTheTableType) {
  const std::string path = Open(SampleTable());
  const auto before = ReadBytes(path);
  Rows().SetRecNo(2);  // NAME C 24
  Rows().Edit();
  Rows().FieldByName("Len")->SetAsInteger(300);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(SelectedColumn(), QStringLiteral("Len"));
  EXPECT_EQ(Rows().RecNo(), 2);
  EXPECT_TRUE(dialogs.messages.isEmpty());
  EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(StructureTest, ModifyWithAValidListGoesOnToTheRebuild) {
  const std::string path = Open(SampleTable());
  const uint64_t inode = Inode(path);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  // The rebuild replaces the table file (a new file under the name), or, where it is not
  // built, says so.
  const bool placeholder =
      dialogs.messages.join('\n').contains(QStringLiteral("ModifyDbf: under construction"));
  EXPECT_TRUE(placeholder || Inode(path) != inode) << dialogs.messages.join('\n').toStdString();
}

// ---------------------------------------------------------------------------------------
// Index files and tags

TEST_F(StructureTest, TheIndexMaskListsFilesNamedLikeTheTableOrAllIgnoringCase) {
  EXPECT_EQ(TStructurePage::IndexMask(false, QStringLiteral("SALES.DBF")),
            QStringLiteral("SALES.cdx;SALES.mdx;SALES.ndx;SALES.ntx"));
  EXPECT_EQ(TStructurePage::IndexMask(true, QStringLiteral("SALES.DBF")),
            QStringLiteral("*.cdx;*.mdx;*.ndx;*.ntx"));
  EXPECT_TRUE(TStructurePage::MatchesIndexMask("sales.CDX", "SALES.cdx;SALES.ntx"));
  EXPECT_FALSE(TStructurePage::MatchesIndexMask("sales2.cdx", "SALES.cdx;SALES.ntx"));

  const std::string path = CopyTableFiles(SampleTable(), dir.Path());
  WriteText(dir.Path() / "SAMPLE.NTX", "");
  WriteText(dir.Path() / "other.ndx", "");
  WriteText(dir.Path() / "sample.txt", "");
  fs::rename(dir.Path() / "sample.cdx", dir.Path() / "Sample.Cdx");
  window->Start({QString::fromStdString(path)});
  ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
  // An empty file is not an index the table can open: it is listed as damaged.
  const QStringList likeTable{"Sample.Cdx", "SAMPLE.NTX (damaged)"};
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "IndexFileList")), likeTable);
  Control<QCheckBox>(Structure(), "AllIndexFiles")->setChecked(true);
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "IndexFileList")),
            QStringList({"other.ndx", "Sample.Cdx", "SAMPLE.NTX (damaged)"}));
  Control<QCheckBox>(Structure(), "AllIndexFiles")->setChecked(false);
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "IndexFileList")), likeTable);
}

TEST_F(StructureTest, ChoosingAFileListsItsTagsAndATagFillsTheEditor) {
  Open(SampleTable());
  EXPECT_FALSE(Control<QPushButton>(Structure(), "DeleteFileButton")->isEnabled());
  ChooseFile("sample.cdx");
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "TagList")),
            QStringList({"CITY", "JOINED", "NAME"}));
  EXPECT_EQ(Control<QLineEdit>(Structure(), "IndexFileBox")->text(), QStringLiteral("sample.cdx"));
  EXPECT_TRUE(Control<QPushButton>(Structure(), "DeleteFileButton")->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(Structure(), "NewTagButton")->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(Structure(), "DeleteTagButton")->isEnabled());
  EXPECT_EQ(Control<QComboBox>(Page(), "TagSelector")->count(), 4)
      << "an empty entry and the three tags";
  ChooseTag("NAME");
  EXPECT_EQ(Control<QLineEdit>(Structure(), "TagBox")->text(), QStringLiteral("NAME"));
  EXPECT_EQ(Control<QLineEdit>(Structure(), "ExpressionBox")->text().toUpper(),
            QStringLiteral("UPPER(NAME)"));
  EXPECT_TRUE(Control<QCheckBox>(Structure(), "AscendingBox")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(Structure(), "UniqueBox")->isChecked());
  EXPECT_FALSE(Structure().TagEditorEnabled());
  Control<QPushButton>(Structure(), "NewTagButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(Structure().TagEditorEnabled());
  EXPECT_TRUE(Control<QLineEdit>(Structure(), "TagBox")->text().isEmpty());
  Control<QPushButton>(Structure(), "CancelButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_FALSE(Structure().TagEditorEnabled());
}

TEST_F(StructureTest, SavingInNewFileModeWritesEachIndexFormat) {
  const std::string table = Open(SampleTable());
  const std::vector<int> expected = ExpectedNameOrder(table);
  for (const char* ext : {"cdx", "mdx", "ndx", "ntx"}) {
    SCOPED_TRACE(ext);
    const std::string file = std::string("byname.") + ext;
    dialogs.files.push_back(QString::fromStdString(dir.File(file)));
    Control<QPushButton>(Structure(), "NewFileButton")->click();
    ASSERT_TRUE(AwaitWork());
    EXPECT_EQ(Structure().GetTagEditMode(), TStructurePage::TagEditMode::NewFile);
    FillTagEditor("BYNAME", "UPPER(NAME)");
    Control<QPushButton>(Structure(), "SaveButton")->click();
    ASSERT_TRUE(AwaitWork());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    dialogs.messages.clear();
    ASSERT_TRUE(fs::exists(dir.File(file)));
    EXPECT_FALSE(Structure().TagEditorEnabled());
    // A one-tag file's tag takes the file's name.
    EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "TagList")).join(',').toUpper(),
              QStringLiteral("BYNAME"));
    const std::vector<int> keys = KeyOrder(table, dir.File(file), "BYNAME");
    EXPECT_EQ(keys, expected);
    if (SharedDir().empty()) continue;
    const auto peer = JsonLines("perl '" + Peer("dump_table.pl") + "' --index '" + dir.File(file) +
                                "' --tag BYNAME --type char '" + table + "'");
    std::vector<int> peerOrder;
    for (const QJsonObject& key : peer) peerOrder.push_back(key["recno"].toInt());
    EXPECT_EQ(peerOrder, expected);
  }
}

TEST_F(StructureTest, SavingInAddToFileModeAddsTheTagAndDelRemovesIt) {
  const std::string table = Open(SampleTable());
  ChooseFile("sample.cdx");
  Control<QPushButton>(Structure(), "NewTagButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(Structure().GetTagEditMode(), TStructurePage::TagEditMode::AddToFile);
  FillTagEditor("BIG", "ID", "AMOUNT > 1000");
  Control<QCheckBox>(Structure(), "AscendingBox")->setChecked(false);
  Control<QPushButton>(Structure(), "SaveButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "TagList")),
            QStringList({"BIG", "CITY", "JOINED", "NAME"}));

  std::vector<std::pair<double, int>> big;
  for (const QJsonObject& record : Dump(table)) {
    const QJsonObject fields = record["fields"].toObject();
    if (fields["AMOUNT"].toDouble() > 1000)
      big.push_back({fields["ID"].toDouble(), record["recno"].toInt()});
  }
  std::sort(big.rbegin(), big.rend());
  std::vector<int> expected;
  for (const auto& entry : big) expected.push_back(entry.second);
  EXPECT_EQ(KeyOrder(table, dir.File("sample.cdx"), "BIG"), expected)
      << "descending, only the records the filter takes";

  ChooseTag("BIG");
  EXPECT_FALSE(Control<QCheckBox>(Structure(), "AscendingBox")->isChecked());
  EXPECT_EQ(Control<QLineEdit>(Structure(), "FilterBox")->text().toUpper(),
            QStringLiteral("AMOUNT > 1000"));
  ChooseTag("CITY");
  Control<QPushButton>(Structure(), "DeleteTagButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.asked.isEmpty()) << "no question before deleting";
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "TagList")),
            QStringList({"BIG", "JOINED", "NAME"}));
  EXPECT_TRUE(Control<QLineEdit>(Structure(), "TagBox")->text().isEmpty());
  if (SharedDir().empty()) return;
  std::string out;
  ASSERT_EQ(RunCommand("perl '" + Peer("dump_table.pl") + "' --tags '" + dir.File("sample.cdx") +
                           "' '" + table + "'",
                       &out),
            0);
  EXPECT_EQ(QString::fromStdString(out).split('\n', Qt::SkipEmptyParts),
            QStringList({"BIG", "JOINED", "NAME"}));
}

TEST_F(StructureTest, DeletingTheProductionIndexFileClearsTheTableFlag) {
  const std::string table = Open(SampleTable());
  ASSERT_EQ(ReadBytes(table).at(28) & 1, 1);
  ChooseFile("sample.cdx");
  Control<QPushButton>(Structure(), "DeleteFileButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_TRUE(dialogs.asked.isEmpty()) << "no question before deleting";
  EXPECT_FALSE(fs::exists(dir.File("sample.cdx")));
  EXPECT_EQ(Control<QListWidget>(Structure(), "IndexFileList")->count(), 0);
  EXPECT_EQ(Control<QListWidget>(Structure(), "TagList")->count(), 0);
  EXPECT_FALSE(Control<QPushButton>(Structure(), "DeleteFileButton")->isEnabled());
  EXPECT_EQ(Table().GetTagCount(), 0);
  window->CloseDbf();
  EXPECT_EQ(ReadBytes(table).at(28) & 1, 0);
  // The table opens without its index, and the other programs read it.
  EXPECT_EQ(Dump(table).size(), 60u);
  window->Start({QString::fromStdString(table)});
  EXPECT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
}

TEST_F(StructureTest, DeletingAnotherIndexFileKeepsTheFlag) {
  const std::string table = Open(SampleTable());
  dialogs.files.push_back(QString::fromStdString(dir.File("sample.ntx")));
  Control<QPushButton>(Structure(), "NewFileButton")->click();
  ASSERT_TRUE(AwaitWork());
  FillTagEditor("CITY", "CITY");
  Control<QPushButton>(Structure(), "SaveButton")->click();
  ASSERT_TRUE(AwaitWork());
  ChooseFile("sample.ntx");
  Control<QPushButton>(Structure(), "DeleteFileButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_FALSE(fs::exists(dir.File("sample.ntx")));
  EXPECT_TRUE(fs::exists(dir.File("sample.cdx")));
  EXPECT_EQ(Listed(Control<QListWidget>(Structure(), "IndexFileList")),
            QStringList({"sample.cdx"}));
  for (const QString& name : Table().IndexFiles())
    EXPECT_FALSE(name.endsWith(QStringLiteral("sample.ntx"))) << "the table no longer lists it";
  EXPECT_NO_THROW(Table().SetIndexFiles(Table().IndexFiles()));
  window->CloseDbf();
  EXPECT_EQ(ReadBytes(table).at(28) & 1, 1);
}

TEST_F(StructureTest, ReindexBringsAnIndexThatMissedWritesUpToDate) {
  const std::string table = Open(SampleTable());
  dialogs.files.push_back(QString::fromStdString(dir.File("sample.ndx")));
  Control<QPushButton>(Structure(), "NewFileButton")->click();
  ASSERT_TRUE(AwaitWork());
  FillTagEditor("BYNAME", "UPPER(NAME)");
  Control<QPushButton>(Structure(), "SaveButton")->click();
  ASSERT_TRUE(AwaitWork());
  // Written while only the production index is open: the NDX misses the change.
  Table().SetIndexList(QString(), QString());
  Table().SetRecNo(1);
  Table().Edit();
  Table().FieldByName("NAME")->SetAsString(QStringLiteral("AAA first"));
  Table().Post();
  EXPECT_NE(KeyOrder(table, dir.File("sample.ndx"), "SAMPLE").front(), 1);
  ChooseFile("sample.ndx");
  ASSERT_TRUE(Control<QPushButton>(Structure(), "ReindexButton")->isEnabled());
  Control<QPushButton>(Structure(), "ReindexButton")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(KeyOrder(table, dir.File("sample.ndx"), "SAMPLE"), ExpectedNameOrder(table));
  EXPECT_EQ(KeyOrder(table, dir.File("sample.ndx"), "SAMPLE").front(), 1);
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

TEST(StructureScreenshots, BothStructurePicturesAreWrittenAndTheTablesLeftAlone) {
  TempDir out;
  TempDir tables;
  const std::string path = CopyTableFiles(SampleTable(), tables.Path());
  const auto before = ReadBytes(path);
  std::string log;
  ASSERT_EQ(RunCommand(std::string(FENDRAL_SCREENSHOTS) + " '" + path + "' '" +
                           out.Path().string() + "' 2>&1",
                       &log),
            0)
      << log;
  for (const char* name : {"structure.png", "structure-new.png"}) {
    const QImage image(QString::fromStdString((out.Path() / name).string()));
    EXPECT_FALSE(image.isNull()) << name;
    EXPECT_GT(image.width(), 400) << name;
  }
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(tables.Path()), fs::directory_iterator()), 3)
      << "the new table is defined elsewhere and never written";
}

}  // namespace
}  // namespace fendral::test
