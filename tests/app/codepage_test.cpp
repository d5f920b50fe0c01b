// Code pages in the window: every table opens in its own page (its language mark's, else
// the configured DOS page), the "Dos" box and the status panel show the page in use, edits
// are stored in it, and the converts work between the table's own pair.
#include "command_test_util.h"

namespace fendral::test {
namespace {

class CodePages : public WindowTest {
 protected:
  // A table with ID and NAME holding `name` in code page `encoding`, marked with
  // `codepage` (empty: no mark).
  std::string MakeTable(const std::string& file, const std::string& codepage,
                        const std::string& encoding, const std::string& name) {
    const std::string path = dir.File(file);
    std::string out;
    EXPECT_EQ(Cli("create " + Quote(path) + " --type foxpro" +
                      (codepage.empty() ? std::string() : " --codepage " + codepage) +
                      " ID:N:5 NAME:C:20",
                  &out),
              0)
        << out;
    WriteText(dir.Path() / "in.jsonl", "{\"fields\": {\"ID\": 1, \"NAME\": \"" + name + "\"}}\n");
    EXPECT_EQ(
        Cli("import " + Quote(path) + " " + Quote(dir.File("in.jsonl")) + " --encoding " + encoding,
            &out),
        0)
        << out;
    return path;
  }
  void OpenInWindow(const std::string& path) {
    dialogs.files.push_back(QString::fromStdString(path));
    window->OpenDbf();
    ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
  }
  QString Shown() {
    return Grid().data(Grid().index(0, Column("NAME")), Qt::DisplayRole).toString().trimmed();
  }
  void EditName(const QString& name) {
    Table().First();
    Table().Edit();
    Table().FieldByName(QStringLiteral("NAME"))->SetAsString(name);
    Table().Post();
  }
  // NAME of the first record as Perl XBase reads it in `codepage` (empty: by the mark).
  QString PeerName(const std::string& table, const std::string& codepage) {
    std::string out;
    EXPECT_EQ(RunCommand("perl " + Quote((SharedDir() / "peers/dump_table.pl").string()) +
                             (codepage.empty() ? std::string() : " --codepage " + codepage) + " " +
                             Quote(table) + " 2>/dev/null",
                         &out),
              0);
    const auto records = JsonLines(out);
    if (records.empty()) return QStringLiteral("<none>");
    return records[0].value("fields").toObject().value("NAME").toString();
  }
};

TEST_F(CodePages, EachTableOpensInItsOwnPageAndEditsAreStoredInIt) {
  REQUIRE_SHARED();
  const std::string cyrillic = MakeTable("cyr1251.dbf", "CP1251", "cp1251", "Привет");
  const std::string unmarked = MakeTable("plain.dbf", "", "cp866", "Привет");
  const std::string western = MakeTable("west1252.dbf", "CP1252", "cp1252", "Grüße");

  OpenInWindow(cyrillic);
  EXPECT_EQ(Shown(), QStringLiteral("Привет"));
  EXPECT_FALSE(Page().DosChecked());
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP1251"));
  EditName(QStringLiteral("Ёжик"));

  // Nothing of the table before carries over: the unmarked table is in the DOS page.
  OpenInWindow(unmarked);
  EXPECT_EQ(Shown(), QStringLiteral("Привет"));
  EXPECT_TRUE(Page().DosChecked());
  EXPECT_TRUE(Table().TranslateASCII());
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP866"));
  EditName(QStringLiteral("Ёлка"));

  OpenInWindow(western);
  EXPECT_EQ(Shown(), QStringLiteral("Grüße"));
  EXPECT_FALSE(Page().DosChecked());
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP1252"));
  EditName(QStringLiteral("Straße"));

  // The panel follows the box, and a switched box does not outlive the table.
  Page().ToggleDos();
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP866"));
  OpenInWindow(cyrillic);
  EXPECT_FALSE(Page().DosChecked());
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP1251"));
  EXPECT_EQ(Shown(), QStringLiteral("Ёжик"));
  window->CloseDbf();
  EXPECT_TRUE(window->CodePageShown().isEmpty());

  EXPECT_EQ(PeerName(cyrillic, ""), QStringLiteral("Ёжик"));
  EXPECT_EQ(PeerName(unmarked, "cp866"), QStringLiteral("Ёлка"));
  EXPECT_EQ(PeerName(western, ""), QStringLiteral("Straße"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
}

TEST_F(CodePages, ConvertsWorkBetweenTheTablesOwnPairAndRefuseATableAlreadyThere) {
  REQUIRE_SHARED();
  // A Central European DOS table goes to 1250 and back to 852, not through 866/1251.
  const std::string polish = MakeTable("pl852.dbf", "CP852", "cp852", "Łódź");
  OpenInWindow(polish);
  EXPECT_EQ(Shown(), QStringLiteral("Łódź"));
  window->ConvertAnsiToDos();
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("already")))
      << dialogs.messages[0].toStdString();
  EXPECT_EQ(ReadBytes(polish)[29], 0x64) << "not converted";

  dialogs.messages.clear();
  window->ConvertDosToAnsi();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(ReadBytes(polish)[29], 0xC8) << "the mark of code page 1250";
  EXPECT_EQ(PeerName(polish, ""), QStringLiteral("Łódź"));
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP1250"));
  EXPECT_FALSE(Page().DosChecked());
  EXPECT_EQ(Shown(), QStringLiteral("Łódź"));

  window->ConvertDosToAnsi();
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(ReadBytes(polish)[29], 0xC8) << "not converted again";
  dialogs.messages.clear();

  // Back to the page the table came from.
  window->ConvertAnsiToDos();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(ReadBytes(polish)[29], 0x64) << "the mark of code page 852";
  EXPECT_EQ(PeerName(polish, ""), QStringLiteral("Łódź"));
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP852"));
  EXPECT_TRUE(Page().DosChecked());

  // A Windows table this program never converted goes to the configured DOS page.
  const std::string cyrillic = MakeTable("cyr1251.dbf", "CP1251", "cp1251", "Привет");
  OpenInWindow(cyrillic);
  window->ConvertAnsiToDos();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(PeerName(cyrillic, ""), QStringLiteral("Привет"));
  EXPECT_EQ(window->CodePageShown(), QStringLiteral("CP866"));
  EXPECT_EQ(Shown(), QStringLiteral("Привет"));
}

}  // namespace
}  // namespace fendral::test
