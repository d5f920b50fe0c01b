// "Modify DBF" on tables holding fields the window cannot edit (autoincrement, currency,
// date-time): the structure page lists every field with its stored letter, such a field
// can be moved, renamed or removed but keeps its type and width, and a rebuild carries
// every field with its values, checked with fendral-cli before and after.
#include <sys/stat.h>

#include <QJsonArray>
#include <QStatusBar>

#include "app_test_util.h"
#include "kx6_dbsy.h"

namespace fendral::test {
namespace {

// fendral-cli's description of `table`, as compact JSON, without the date of the last
// update (a rebuild writes today's) and the header length (some programs leave a byte
// after the terminator, which a rebuilt header does not keep).
std::string Info(const std::string& table) {
  std::string out;
  EXPECT_EQ(RunCommand(std::string(FENDRAL_CLI) + " info '" + table + "'", &out), 0) << out;
  QJsonObject info = QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
  info.remove(QStringLiteral("last_update"));
  info.remove(QStringLiteral("header_length"));
  return QJsonDocument(info).toJson(QJsonDocument::Compact).toStdString();
}

uint64_t Inode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_ino) : 0;
}

class ModifyTest : public WindowTest {
 protected:
  TMemTable& Rows() { return window->StructureTable(); }

  // Every structure row as "NAME TYPE LEN DEC".
  QStringList RowTexts() {
    QStringList rows;
    for (Rows().First(); !Rows().Eof(); Rows().Next())
      rows << QStringLiteral("%1 %2 %3 %4")
                  .arg(Rows().FieldByName(QStringLiteral("Name"))->AsString(),
                       Rows().FieldByName(QStringLiteral("DBF Type"))->AsString(),
                       Rows().FieldByName(QStringLiteral("Len"))->AsString(),
                       Rows().FieldByName(QStringLiteral("Dec"))->AsString());
    return rows;
  }
  // Goes to the row of field `name`.
  void GoToRow(const QString& name) {
    for (Rows().First(); !Rows().Eof(); Rows().Next())
      if (Rows().FieldByName(QStringLiteral("Name"))->AsString() == name) return;
    ADD_FAILURE() << "no row " << name.toStdString();
  }
  void SetCell(const QString& name, const QString& column, const QString& value) {
    GoToRow(name);
    Rows().Edit();
    Rows().FieldByName(column)->SetAsString(value);
    Rows().Post();
  }
  QString SelectedColumn() {
    TField* field = Control<TDBGrid>(*window->StructurePage(), "FieldGrid")->SelectedField();
    return field ? field->FieldName() : QString();
  }
};

// Descriptor bytes 18-23 of field `number` (1-based): flags, next value and step of an
// autoincrement field.
std::vector<uint8_t> DescriptorTail(const std::string& table, int number) {
  const std::vector<uint8_t> bytes = ReadBytes(table);
  const size_t at = static_cast<size_t>(32 * number + 18);
  if (bytes.size() < at + 6) return {};
  return {bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 6};
}

TEST_F(ModifyTest, TheSameListKeepsEveryFieldAndValueWhateverItsType) {
  REQUIRE_SHARED();
  struct Case {
    const char* table;
    QStringList rows;
  };
  const Case cases[] = {
      {"minigui-mgm/basic/DO_REPORT/country.dbf",
       {"CODE + 4 0", "NAME C 50 0", "CAPITAL C 50 0", "AREA N 10 0", "POPULATION N 12 0",
        "CONTINENT C 30 0"}},
      {"dbd-xbase/types.dbf", {"ID N 8 0", "PAYMENT Y 8 4", "T T 8 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string fixture = (FixturesDir() / c.table).string();
    const std::string info = Info(fixture);
    const auto records = Dump(fixture);
    const auto tail = DescriptorTail(fixture, 1);
    const std::string table = Open(fixture);
    ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
    EXPECT_EQ(RowTexts(), c.rows) << "every field with its stored letter, width and decimals";
    const uint64_t inode = Inode(table);
    window->CreateOrModify();
    ASSERT_TRUE(AwaitWork());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    EXPECT_NE(Inode(table), inode)
        << "the table was rebuilt: " << window->statusBar()->currentMessage().toStdString();
    window->CloseDbf();
    EXPECT_EQ(Info(table), info);
    EXPECT_EQ(Dump(table), records);
    EXPECT_EQ(DescriptorTail(table, 1), tail) << "an autoincrement field's counter and step";
  }
}

TEST_F(ModifyTest, AFieldOfAnotherTypeMovesAndRenamesButKeepsItsTypeAndWidth) {
  REQUIRE_SHARED();
  const std::string fixture = (FixturesDir() / "minigui-mgm/basic/DO_REPORT/country.dbf").string();
  const auto records = Dump(fixture);
  const auto tail = DescriptorTail(fixture, 1);
  const std::string table = Open(fixture);
  ASSERT_TRUE(Table().Active());
  const auto before = ReadBytes(table);

  // Retyping or resizing it is refused with the cell selected, before anything is written.
  const std::pair<QString, QString> refused[] = {{QStringLiteral("DBF Type"), QStringLiteral("N")},
                                                 {QStringLiteral("Len"), QStringLiteral("5")},
                                                 {QStringLiteral("Dec"), QStringLiteral("1")}};
  for (const auto& [column, value] : refused) {
    SCOPED_TRACE(column.toStdString());
    const QString old = (GoToRow(QStringLiteral("CODE")), Rows().FieldByName(column)->AsString());
    SetCell(QStringLiteral("CODE"), column, value);
    window->CreateOrModify();
    ASSERT_TRUE(AwaitWork());
    EXPECT_EQ(SelectedColumn(), column);
    EXPECT_EQ(ReadBytes(table), before);
    SetCell(QStringLiteral("CODE"), column, old);
  }
  // The grid offers no editor for its type and width.
  TDBGrid* grid = Control<TDBGrid>(*window->StructurePage(), "FieldGrid");
  GoToRow(QStringLiteral("CODE"));
  const QModelIndex typeCell = grid->Model().index(0, 2);
  EXPECT_EQ(grid->itemDelegateForIndex(typeCell)->createEditor(grid, {}, typeCell), nullptr);
  const QModelIndex nameLen = grid->Model().index(1, 3);
  QWidget* editor = grid->itemDelegateForIndex(nameLen)->createEditor(grid, {}, nameLen);
  EXPECT_NE(editor, nullptr) << "a character field's width stays editable";
  delete editor;

  // Renamed and moved to the end, it keeps its values and its counter; CAPITAL goes.
  SetCell(QStringLiteral("CODE"), QStringLiteral("Name"), QStringLiteral("ID"));
  for (int i = 0; i < 5; ++i) {
    GoToRow(QStringLiteral("ID"));
    Control<QPushButton>(*window->StructurePage(), "DownButton")->click();
    ASSERT_TRUE(AwaitWork());
  }
  GoToRow(QStringLiteral("CAPITAL"));
  Rows().Delete();
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  window->CloseDbf();
  const auto after = Dump(table);
  ASSERT_EQ(after.size(), records.size());
  for (size_t i = 0; i < after.size(); ++i) {
    const QJsonObject was = records[i]["fields"].toObject();
    const QJsonObject now = after[i]["fields"].toObject();
    EXPECT_EQ(now.keys(), (QStringList{"AREA", "CONTINENT", "ID", "NAME", "POPULATION"}));
    EXPECT_EQ(now["ID"], was["CODE"]);
    EXPECT_EQ(now["NAME"], was["NAME"]);
    EXPECT_EQ(now["POPULATION"], was["POPULATION"]);
  }
  tolvern::KXO_dBaseFld t(table, false, false);
  ASSERT_EQ(t.Fields().size(), 5u);
  EXPECT_EQ(t.Fields().back().name, "ID");
  EXPECT_EQ(t.Fields().back().type, '+');
  EXPECT_EQ(t.Fields().back().length, 4);
  EXPECT_EQ(DescriptorTail(table, 5), tail);
}

// The "DBF Type" choice follows what is open, so that "Modify DBF" with the choice
// untouched keeps the table's kind; another choice that would need the memo file or the
// index files converted is refused before anything is written.
TEST_F(ModifyTest, TheTypeChoiceFollowsWhatIsOpenAndAnotherChoiceNeverConvertsSilently) {
  REQUIRE_SHARED();
  const fs::path country = FixturesDir() / "minigui-mgm/basic/DO_REPORT/country.dbf";
  struct Case {
    const char* index;  // an index file made beside the table, or none
    int type;
  };
  const Case cases[] = {{nullptr, TStructurePage::kDBaseIII},
                        {"ntx", TStructurePage::kClipper},
                        {"ndx", TStructurePage::kDBaseIII},
                        {"cdx", TStructurePage::kFoxPro},
                        {"mdx", TStructurePage::kDBaseIV}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index ? c.index : "no index");
    TempDir source;
    const std::string stem = std::string("t_") + (c.index ? c.index : "none");
    const std::string table = source.File(stem + ".dbf");
    fs::copy_file(country, table);
    if (c.index) {
      tolvern::KXO_dBHandler t(table, true, false);
      t.IndexOn(source.File(stem + "." + c.index), "NAME", 0, true, "", "NAME");
    }
    window->StructurePage()->SetTypeButton(
        c.type == TStructurePage::kFoxPro ? TStructurePage::kClipper : TStructurePage::kFoxPro);
    Open(table);
    ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
    EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), c.type);
  }
  for (const char* name :
       {"infused-dbf/dbase_8b.dbf", "php-xbase/foxpro/Foxpro2.dbf", "infused-dbf/dbase_83.dbf"}) {
    SCOPED_TRACE(name);
    Open(FixturesDir() / name);
    ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
    const int expected =
        std::string(name).find("8b") != std::string::npos       ? TStructurePage::kDBaseIV
        : std::string(name).find("Foxpro") != std::string::npos ? TStructurePage::kFoxPro
                                                                : TStructurePage::kDBaseIII;
    EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), expected);
  }

  // A dBase III table with memos and an NDX file, converted to FoxPro after a question
  // that names the version byte, the memo file and the index file; declined first.
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 41, 30, "db3_memo"));
  {
    tolvern::KXO_dBHandler t(source.File("db3_memo.dbf"), true, false);
    t.IndexOn(source.File("db3_memo.ndx"), "", 0, true, "", "NAME");
  }
  const std::string table = Open(source.File("db3_memo.dbf"));
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kDBaseIII);
  const auto before = ReadBytes(table);
  window->StructurePage()->SetTypeButton(TStructurePage::kFoxPro);
  window->CreateOrModify();  // no scripted answer: declined
  ASSERT_EQ(dialogs.asked.size(), 1);
  for (const char* part :
       {"0x83 -> 0xF5", "db3_memo.dbt -> db3_memo.fpt", "db3_memo.ndx -> db3_memo.cdx"})
    EXPECT_TRUE(dialogs.asked[0].contains(QLatin1String(part))) << part << "\n"
                                                                << dialogs.asked[0].toStdString();
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();

  dialogs.confirms.push_back(true);
  window->StructurePage()->SetTypeButton(TStructurePage::kFoxPro);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(ReadBytes(table)[0], 0xF5);
  EXPECT_TRUE(fs::exists(dir.File("db3_memo.fpt")));
  EXPECT_FALSE(fs::exists(dir.File("db3_memo.dbt")));
  EXPECT_TRUE(fs::exists(dir.File("db3_memo.cdx")));
  EXPECT_FALSE(fs::exists(dir.File("db3_memo.ndx")));
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kFoxPro)
      << "the open shows what the table now is";
  EXPECT_EQ(PeerCheck(source.File("db3_memo.expected.json"), table), 0);

  // On to dBase IV: the memos move into a dBase IV memo file, the CDX becomes an MDX.
  dialogs.confirms.push_back(true);
  window->StructurePage()->SetTypeButton(TStructurePage::kDBaseIV);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(ReadBytes(table)[0], 0x8B);
  EXPECT_TRUE(fs::exists(dir.File("db3_memo.dbt")));
  EXPECT_FALSE(fs::exists(dir.File("db3_memo.fpt")));
  EXPECT_TRUE(fs::exists(dir.File("db3_memo.mdx")));
  EXPECT_FALSE(fs::exists(dir.File("db3_memo.cdx")));
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kDBaseIV);
  EXPECT_EQ(PeerCheck(source.File("db3_memo.expected.json"), table), 0);
  EXPECT_EQ(Table().RecordCount(), 30);
  EXPECT_EQ(Table().GetTagCount(), 1) << "the MDX is the table's production index";

  // On to Clipper: one NTX per tag, named after the tag; the reopened table keeps every
  // one of them open (and so current), and the choice shows what the table now is.
  Table().IndexOn(QString::fromStdString(dir.File("db3_memo.mdx")), QStringLiteral("UPNAME"), 0,
                  true, QString(), QStringLiteral("UPPER(NAME)"));
  ASSERT_EQ(Table().GetTagCount(), 2);
  dialogs.confirms.push_back(true);
  window->StructurePage()->SetTypeButton(TStructurePage::kClipper);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  ASSERT_TRUE(Table().Active());
  EXPECT_FALSE(fs::exists(dir.File("db3_memo.mdx")));
  EXPECT_EQ(Table().GetTagCount(), 2) << "the tag files stay open";
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kClipper);
  EXPECT_EQ(Control<QListWidget>(*window->StructurePage(), "IndexFileList")->count(), 2);
  EXPECT_EQ(PeerCheck(source.File("db3_memo.expected.json"), table), 0);

  // A kind that cannot hold a field is refused before anything is written.
  const std::string other = Open(country);
  const auto otherBytes = ReadBytes(other);
  window->StructurePage()->SetTypeButton(TStructurePage::kFoxPro);
  window->CreateOrModify();
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("cannot hold the field CODE")))
      << dialogs.messages[0].toStdString();
  EXPECT_EQ(ReadBytes(other), otherBytes);
}

}  // namespace
}  // namespace fendral::test
