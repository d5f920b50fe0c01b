// "Modify DBF" and the two converts through the window: every record survives whatever
// the browse page shows, the converts go there and back to the same bytes, the "Dos" box
// follows, and values that no longer fit are asked about before anything changes.
#include <QFileInfo>
#include <algorithm>

#include "app_test_util.h"
#include "kx6_dbsy.h"

namespace fendral::test {
namespace {

using Replace = WindowTest;

// `expected` with a field `name` = "" added to every record, written to `out`.
void AddBlankField(const std::string& expected, const std::string& out, const std::string& name) {
  ASSERT_TRUE(EditExpected(expected, out, "for r in e['records']: r['fields']['" + name + "']=''\n"));
}

TEST_F(Replace, ModifyKeepsEveryRecordWhateverFilterAndOrderTheTableIsShownIn) {
  REQUIRE_SHARED();
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 21, 40, "fox_memo"));
  {
    tolvern::KXO_dBHandler t(source.File("fox_memo.dbf"), true, false);
    t.IndexOn(source.File("fox_memo.cdx"), "NAME", 0, true, "", "NAME");
  }
  const std::string table = Open(source.File("fox_memo.dbf"));
  ASSERT_TRUE(Table().Active());
  Table().SetIndexName(QStringLiteral("NAME"));
  Table().SetFilter(QStringLiteral("QTY > 0"));
  Table().SetFiltered(true);
  Table().SetUseDeleted(false);

  // The same field list first: the same table.
  window->ModifyDbf();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(PeerCheck(source.File("fox_memo.expected.json"), table), 0);

  // Then one field more, at the end.
  TMemTable& rows = window->StructureTable();
  const int count = rows.RecordCount();
  rows.Append();
  rows.FieldByName(QStringLiteral("Field"))->SetAsInteger(count + 1);
  rows.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("EXTRA"));
  rows.FieldByName(QStringLiteral("DBF Type"))->SetAsString(QStringLiteral("C"));
  rows.FieldByName(QStringLiteral("Len"))->SetAsInteger(6);
  rows.FieldByName(QStringLiteral("Dec"))->SetAsInteger(0);
  rows.Post();
  window->ModifyDbf();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  AddBlankField(source.File("fox_memo.expected.json"), dir.File("new.json"), "EXTRA");
  EXPECT_EQ(PeerCheck(dir.File("new.json"), table), 0);
  // The window shows the new table, and its production index covers every record.
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Table().FieldDefs().Count(), count + 1);
  EXPECT_EQ(KeyOrder(table, dir.File("fox_memo.cdx"), "NAME").size(), 40u);
  EXPECT_FALSE(Table().Exclusive());
  EXPECT_FALSE(window->Busy());
}

// Moves the structure row of field `name` to position `to` (1-based), the rows keeping
// everything they hold (the field they came from included), as the up and down buttons do
// one place at a time.
void MoveRow(TMemTable& rows, const QString& name, int to) {
  struct Row {
    QString name, type;
    int len, dec;
    bool fromTable;
    int origin;
  };
  std::vector<Row> all;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    all.push_back({rows.FieldByName(QStringLiteral("Name"))->AsString(),
                   rows.FieldByName(QStringLiteral("DBF Type"))->AsString(),
                   rows.FieldByName(QStringLiteral("Len"))->AsInteger(),
                   rows.FieldByName(QStringLiteral("Dec"))->AsInteger(),
                   !rows.FieldByName(QStringLiteral("Origin"))->IsNull(),
                   rows.FieldByName(QStringLiteral("Origin"))->AsInteger()});
  }
  const auto it =
      std::find_if(all.begin(), all.end(), [&](const Row& r) { return r.name == name; });
  ASSERT_NE(it, all.end());
  const Row moved = *it;
  all.erase(it);
  all.insert(all.begin() + (to - 1), moved);
  rows.EmptyTable();
  for (size_t i = 0; i < all.size(); ++i) {
    rows.Append();
    rows.FieldByName(QStringLiteral("Field"))->SetAsInteger(static_cast<int>(i) + 1);
    rows.FieldByName(QStringLiteral("Name"))->SetAsString(all[i].name);
    rows.FieldByName(QStringLiteral("DBF Type"))->SetAsString(all[i].type);
    rows.FieldByName(QStringLiteral("Len"))->SetAsInteger(all[i].len);
    rows.FieldByName(QStringLiteral("Dec"))->SetAsInteger(all[i].dec);
    if (all[i].fromTable) rows.FieldByName(QStringLiteral("Origin"))->SetAsInteger(all[i].origin);
    rows.Post();
  }
}

TEST_F(Replace, ModifyMovingAndRemovingFieldsPutsEveryValueInItsOwnField) {
  REQUIRE_SHARED();
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 24, 40, "fox_memo"));
  const std::string table = Open(source.File("fox_memo.dbf"));
  TMemTable& rows = window->StructureTable();
  // NOTE goes first, QTY and RATE go, CITY is widened.
  MoveRow(rows, QStringLiteral("NOTE"), 1);
  for (rows.First(); !rows.Eof();) {
    const QString name = rows.FieldByName(QStringLiteral("Name"))->AsString();
    if (name == QStringLiteral("QTY") || name == QStringLiteral("RATE")) {
      rows.Delete();
      continue;
    }
    if (name == QStringLiteral("CITY")) {
      rows.Edit();
      rows.FieldByName(QStringLiteral("Len"))->SetAsInteger(30);
      rows.Post();
    }
    rows.Next();
  }
  window->ModifyDbf();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  {
    tolvern::KXO_dBaseFld t(table, false, false);
    std::vector<std::string> names;
    for (const auto& f : t.Fields()) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"NOTE", "NAME", "CITY", "AMOUNT", "BORN", "FLAG"}));
    EXPECT_EQ(t.Fields()[2].length, 30);
  }
  ASSERT_TRUE(EditExpected(source.File("fox_memo.expected.json"), dir.File("new.json"),
                           "for r in e['records']:\n"
                           "  del r['fields']['QTY']; del r['fields']['RATE']\n"));
  EXPECT_EQ(PeerCheck(dir.File("new.json"), table), 0);
}

TEST_F(Replace, ValuesThatNoLongerFitAreAskedAboutAndNoLeavesTheTable) {
  REQUIRE_SHARED();
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 22, 40, "fox_memo"));
  const std::string table = Open(source.File("fox_memo.dbf"));
  const auto before = ReadBytes(table);
  TMemTable& rows = window->StructureTable();
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (rows.FieldByName(QStringLiteral("Name"))->AsString() != QStringLiteral("NAME")) continue;
    rows.Edit();
    rows.FieldByName(QStringLiteral("Len"))->SetAsInteger(2);
    rows.Post();
    break;
  }
  window->ModifyDbf();  // no scripted answer: the question is declined
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("field NAME")));
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(Table().Active());

  dialogs.confirms.push_back(true);
  rows.First();
  for (rows.First(); !rows.Eof(); rows.Next()) {
    if (rows.FieldByName(QStringLiteral("Name"))->AsString() != QStringLiteral("NAME")) continue;
    rows.Edit();
    rows.FieldByName(QStringLiteral("Len"))->SetAsInteger(2);
    rows.Post();
    break;
  }
  window->ModifyDbf();
  ASSERT_TRUE(AwaitWork());
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Table().RecordCount(), 40);
  tolvern::KXO_dBaseFld t(table, false, false);
  EXPECT_EQ(t.Fields()[0].length, 2);
}

// Every record's deleted mark and the bytes of its fields other than memo fields (whose
// blocks a rebuilt memo file may number differently).
std::vector<std::string> RecordBytes(const std::string& table) {
  tolvern::KXO_dBaseFld t(table, false, false);
  std::vector<std::string> out;
  for (int32_t j = 1; j <= t.RecordCount(); ++j) {
    t.GetRecord(j);
    std::string line = t.IsDeleted() ? "*" : " ";
    for (const auto& f : t.Fields())
      if (f.type != 'M') line += t.GetField(f.number) + "|";
    out.push_back(line);
  }
  return out;
}

TEST_F(Replace, ConvertThereAndBackGivesTheSameBytesAndTheDosBoxFollows) {
  REQUIRE_SHARED();
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 12, 40, "db3_memo"));
  const std::string table = Open(source.File("db3_memo.dbf"));
  const auto before = RecordBytes(table);
  const uint8_t mark = ReadBytes(table)[29];
  Table().SetFilter(QStringLiteral("QTY > 0"));
  Table().SetFiltered(true);

  window->ConvertDosToAnsi();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_FALSE(Page().DosChecked());
  EXPECT_FALSE(Table().TranslateASCII());
  EXPECT_EQ(ReadBytes(table)[29], 0xC9) << "the mark of code page 1251";
  EXPECT_NE(RecordBytes(table), before);
  ASSERT_TRUE(EditExpected(source.File("db3_memo.expected.json"), dir.File("ansi.json"),
                           "e['codepage']='cp1251'\n"));
  EXPECT_EQ(PeerCheck(dir.File("ansi.json"), table), 0) << "the same text in code page 1251";

  window->ConvertAnsiToDos();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_TRUE(Page().DosChecked());
  EXPECT_TRUE(Table().TranslateASCII());
  EXPECT_EQ(RecordBytes(table), before);
  EXPECT_EQ(ReadBytes(table)[29], mark) << "the dBase mark of code page 866 again";
  EXPECT_EQ(PeerCheck(source.File("db3_memo.expected.json"), table), 0) << "memos included";
}

TEST_F(Replace, ATableAnotherProgramHasOpenIsNotReplacedAndStaysShown) {
  REQUIRE_SHARED();
  if (RunCommand("command -v flock >/dev/null") != 0) GTEST_SKIP() << "flock(1) not installed";
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 23, 40, "fox_memo"));
  const std::string table = Open(source.File("fox_memo.dbf"));
  const auto before = ReadBytes(table);
  // Another program holds the table open (its share lock) until the marker file goes.
  const std::string marker = dir.File("holding");
  WriteText(marker, "");
  ASSERT_EQ(
      RunCommand("flock -s '" + table + "' sh -c 'touch \"" + marker + ".held\"; while [ -e \"" +
                 marker + "\" ]; do sleep 0.05; done' " + ">/dev/null 2>&1 &"),
      0);
  for (int i = 0; i < 200 && !fs::exists(marker + ".held"); ++i) QTest::qWait(10);
  ASSERT_TRUE(fs::exists(marker + ".held"));
  window->ConvertDosToAnsi();
  ASSERT_TRUE(AwaitWork());
  fs::remove(marker);
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(Table().Active());
  EXPECT_FALSE(Table().Exclusive());
  EXPECT_FALSE(window->Busy());
}

TEST_F(Replace, VisualFoxProTablesAreRefusedUnchanged) {
  REQUIRE_SHARED();
  TempDir source;
  ASSERT_TRUE(MakePeerTables(source, 5, 40, "vfp"));
  const std::string table = Open(source.File("vfp.dbf"));
  const auto before = ReadBytes(table);
  window->ConvertDosToAnsi();
  ASSERT_TRUE(AwaitWork());
  window->ModifyDbf();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(dialogs.messages.size(), 2);
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(Table().Active());
}

// Stored types the structure page shows under the letter of their kind (F as N, G as B)
// survive a rebuild with the same field list, values and all.
TEST_F(Replace, ModifyWithTheSameListKeepsFloatAndGeneralFields) {
  REQUIRE_SHARED();
  for (const char* name : {"php-xbase/foxpro/Foxpro2.dbf", "infused-dbf/dbase_8b.dbf"}) {
    SCOPED_TRACE(name);
    const fs::path source = FixturesDir() / name;
    TempDir copy;
    const std::string table = Open(CopyTableFiles(source, copy.Path()));
    std::vector<char> typesBefore;
    {
      tolvern::KXO_dBaseFld t(table, false, false);
      for (const auto& f : t.Fields()) typesBefore.push_back(f.type);
    }
    const auto before = Dump(table);
    window->ModifyDbf();
    ASSERT_TRUE(AwaitWork());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
    dialogs.messages.clear();
    window->CloseDbf();
    std::vector<char> typesAfter;
    {
      tolvern::KXO_dBaseFld t(table, false, false);
      for (const auto& f : t.Fields()) typesAfter.push_back(f.type);
    }
    EXPECT_EQ(typesAfter, typesBefore);
    EXPECT_EQ(Dump(table), before);
  }
}

}  // namespace
}  // namespace fendral::test
