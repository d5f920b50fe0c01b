// The pages on their own and the structure page's commands without a window: what the
// create button asks for follows the page's mode (never its caption, which a translation
// or a style may change), the field list's change tracking, and the commands that write a
// new table, build and delete tags and delete an index file, checked on disk.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTranslator>

#include "app_test_util.h"
#include "tv_apperror.h"
#include "tv_structurecommands.h"
#include "tv_translations.h"

namespace fendral::test {
namespace {

// Removes the translations a test installed, however it ends.
class TranslatorGuard {
 public:
  ~TranslatorGuard() {
    for (QTranslator* t : QCoreApplication::instance()->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(t);
      delete t;
    }
  }
};

// The structure table as the window defines it.
std::unique_ptr<TMemTable> StructureRows() {
  auto rows = std::make_unique<TMemTable>();
  for (const char* def :
       {"Field;4;0;0", "Name;1;10;0", "DBF Type;1;1;0", "Len;4;0;0", "Dec;4;0;0", "Origin;4;0;0"})
    rows->FieldDefs().AddFromText(QLatin1String(def));
  rows->SetIndexFieldName(QStringLiteral("Field"));
  rows->Open();
  return rows;
}

// A structure page alone, over its own structure table.
class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    page.SetFieldTable(rows.get(), &source);
    page.SetDialogs(&dialogs);
  }
  void TearDown() override { page.SetFieldTable(nullptr, nullptr); }

  void SetRow(const char* name, const char* type, int len, int dec) {
    rows->FieldByName(QStringLiteral("Name"))->SetAsString(QLatin1String(name));
    rows->FieldByName(QStringLiteral("DBF Type"))->SetAsString(QLatin1String(type));
    rows->FieldByName(QStringLiteral("Len"))->SetAsInteger(len);
    rows->FieldByName(QStringLiteral("Dec"))->SetAsInteger(dec);
    rows->Post();
  }

  TScriptedDialogs dialogs;
  std::unique_ptr<TMemTable> rows = StructureRows();
  TDataSource source{rows.get()};
  TStructurePage page;
};

TEST_F(PageTest, TheCreateButtonAsksForWhatTheModeSaysWhateverItsCaption) {
  QSignalSpy create(&page, &TStructurePage::createRequested);
  QSignalSpy modify(&page, &TStructurePage::modifyRequested);
  page.SeedNewTable(8);
  EXPECT_EQ(page.GetMode(), TStructurePage::Mode::Create);
  auto* button = Control<QPushButton>(page, "CreateButton");
  ASSERT_NE(button, nullptr);
  button->click();
  EXPECT_EQ(create.count(), 1);
  EXPECT_EQ(modify.count(), 0);

  page.SetMode(TStructurePage::Mode::Modify);
  EXPECT_EQ(button->text(), QStringLiteral("Modify DBF"));
  // A caption changed behind the page's back (a translation loaded later, an accelerator
  // a style added) changes nothing.
  button->setText(QStringLiteral("&Create DBF"));
  button->click();
  EXPECT_EQ(create.count(), 1);
  EXPECT_EQ(modify.count(), 1);

  page.SetMode(TStructurePage::Mode::Create);
  button->setText(QStringLiteral("Modify DBF"));
  button->click();
  EXPECT_EQ(create.count(), 2);
  EXPECT_EQ(modify.count(), 1);
}

TEST_F(PageTest, AFieldListThatFailsItsChecksAsksForNothingAndSaysWhy) {
  QSignalSpy create(&page, &TStructurePage::createRequested);
  QSignalSpy status(&page, &TStructurePage::statusMessage);
  page.SeedNewTable(8);
  SetRow("PRICE", "N", 21, 0);
  page.PressCreate();
  EXPECT_EQ(create.count(), 0);
  ASSERT_EQ(status.count(), 1);
  EXPECT_TRUE(status.first().first().toString().startsWith(QStringLiteral("Field 1:")))
      << status.first().first().toString().toStdString();

  rows->Edit();
  SetRow("PRICE", "N", 20, 2);
  rows->Append();
  SetRow("price", "C", 10, 0);
  page.PressCreate();
  EXPECT_EQ(create.count(), 0) << "the same name twice";
  rows->Edit();
  SetRow("NAME", "C", 10, 0);
  page.PressCreate();
  EXPECT_EQ(create.count(), 1);
  EXPECT_EQ(page.FieldLines(), (QStringList{"PRICE;N;20;2", "NAME;C;10;0"}));
}

TEST_F(PageTest, RowsAreNumberedMovedAndTrackedAsChanged) {
  page.SeedNewTable(8);
  EXPECT_FALSE(page.FieldListChanged()) << "the seeded row is no change";
  SetRow("A", "C", 1, 0);
  EXPECT_TRUE(page.FieldListChanged());
  auto* add = Control<QPushButton>(page, "AddFieldButton");
  auto* up = Control<QPushButton>(page, "UpButton");
  auto* remove = Control<QPushButton>(page, "DeleteFieldButton");
  EXPECT_FALSE(up->isEnabled()) << "one row cannot move";
  add->click();
  SetRow("B", "C", 2, 0);
  add->click();
  SetRow("C", "C", 3, 0);
  EXPECT_TRUE(up->isEnabled());
  up->click();  // C moves above B
  EXPECT_EQ(page.FieldLines(), (QStringList{"A;C;1;0", "C;C;3;0", "B;C;2;0"}));
  rows->First();
  remove->click();  // A goes; the others are numbered 1 and 2
  std::vector<int> numbers;
  for (rows->First(); !rows->Eof(); rows->Next())
    numbers.push_back(rows->FieldByName(QStringLiteral("Field"))->AsInteger());
  EXPECT_EQ(numbers, (std::vector<int>{1, 2}));
  EXPECT_EQ(page.FieldLines(), (QStringList{"C;C;3;0", "B;C;2;0"}));
  page.Clear();
  EXPECT_FALSE(page.FieldListChanged());
  EXPECT_EQ(rows->RecordCount(), 0);
}

TEST_F(PageTest, ANewTableTakesTheChosenKindAndBlockSize) {
  page.SeedNewTable(8);
  SetRow("NOTES", "M", 10, 0);
  page.SetTypeButton(TStructurePage::kDBaseIV);
  page.ShowMemoBlockSize(true, 512);
  const TNewTableRequest request = page.NewTable(QStringLiteral("/tmp/x.dbf"), "CP866");
  EXPECT_EQ(request.type, TkxDBFTypes::DBaseIV);
  EXPECT_EQ(request.memoBlockSize, 512);
  EXPECT_EQ(request.fieldLines, QStringList{QStringLiteral("NOTES;M;10;0")});
  Control<QLineEdit>(page, "BlockSizeBox")->setText(QStringLiteral("0"));
  EXPECT_THROW(page.NewTable(QStringLiteral("/tmp/x.dbf"), "CP866"), EAppError);
}

// ---------------------------------------------------------------------------------------
// The window: the create button under a language loaded after the table was opened.

class PagesWindowTest : public WindowTest {};

TEST_F(PagesWindowTest, ModifyIsModifyInAnyLanguage) {
  const std::string table = Open(SampleTable());
  ASSERT_TRUE(Table().Active());
  const size_t records = Dump(table).size();
  TMemTable& rows = window->StructureTable();
  rows.First();
  rows.Edit();
  rows.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("NUMBER"));
  rows.Post();
  {
    TranslatorGuard guard;
    ASSERT_TRUE(InstallTranslations(QLocale(QStringLiteral("ru_RU"))));
    ASSERT_NE(QCoreApplication::translate("fendral::TMainWindow", "Modify DBF"),
              QStringLiteral("Modify DBF"))
        << "the translation is loaded";
    window->CreateOrModify();
    ASSERT_TRUE(AwaitWork());
  }
  EXPECT_FALSE(dialogs.asked.join('\n').contains(QStringLiteral("overwrite")))
      << dialogs.asked.join('\n').toStdString();
  ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(Table().Field(0)->FieldName(), QStringLiteral("NUMBER")) << "the table was rebuilt";
  const auto after = Dump(table);
  ASSERT_EQ(after.size(), records);
  EXPECT_TRUE(after.front().value("fields").toObject().contains(QStringLiteral("NUMBER")));
}

// ---------------------------------------------------------------------------------------
// The commands, without a window.

// Counts the reports of a command's work.
class CountingProgress final : public tolvern::TkxProgress {
 public:
  void Start(int32_t, int64_t) override { ++starts; }
  bool Step(int64_t) override { return true; }
  void Finish() override {}
  int starts = 0;
};

class StructureCommandTest : public ::testing::Test {
 protected:
  std::string CopySample() { return CopyTableFiles(SampleTable(), dir.Path()); }
  void OpenTable(const std::string& path) {
    table.SetDatabaseName(QString::fromStdString(dir.Path().string()) + "/");
    table.SetTableName(QFileInfo(QString::fromStdString(path)).fileName());
    table.Open();
  }
  // Runs `command`; the outcome the window's hook saw is kept in `seen`.
  TAfterCommand Hook() {
    return [this](const TCommandOutcome& outcome) {
      ++hooks;
      seen = outcome;
    };
  }

  TempDir dir;
  TScriptedDialogs dialogs;
  TTolvernDataSet table;
  CountingProgress progress;
  TCommandOutcome seen;
  int hooks = 0;
};

TEST_F(StructureCommandTest, CreateWritesTheTableAndAsksBeforeReplacingOne) {
  TNewTableRequest request;
  request.path = QString::fromStdString(dir.File("new.dbf"));
  request.fieldLines = {QStringLiteral("CODE;C;5;0"), QStringLiteral("PRICE;N;8;2")};
  request.type = TkxDBFTypes::DBaseIII;
  request.codePage = "CP866";
  {
    TCreateTableCommand command(table, request, Hook());
    const TCommandOutcome outcome = RunCommandNow(command, dialogs, progress);
    EXPECT_TRUE(outcome.done);
    EXPECT_EQ(outcome.filesMade, QStringList{request.path});
    EXPECT_EQ(hooks, 1);
    EXPECT_TRUE(dialogs.asked.isEmpty()) << "a new name asks nothing";
  }
  std::string info;
  ASSERT_EQ(RunCommand(std::string(FENDRAL_CLI) + " info '" + dir.File("new.dbf") + "'", &info), 0);
  EXPECT_NE(info.find("\"version\": \"0x03\""), std::string::npos) << info;
  EXPECT_NE(info.find("\"name\": \"PRICE\", \"type\": \"N\", \"length\": 8, \"decimals\": 2"),
            std::string::npos)
      << info;

  // The same name again: declined, the table stays as it was.
  const auto before = ReadBytes(dir.File("new.dbf"));
  request.fieldLines = {QStringLiteral("OTHER;C;9;0")};
  dialogs.confirms.push_back(false);
  TCreateTableCommand declined(table, request, Hook());
  EXPECT_FALSE(RunCommandNow(declined, dialogs, progress).done);
  EXPECT_EQ(hooks, 1) << "nothing ran, nothing to show";
  EXPECT_TRUE(dialogs.asked.join('\n').contains(QStringLiteral("overwrite")));
  EXPECT_EQ(ReadBytes(dir.File("new.dbf")), before);

  // A field list that does not parse is refused before the question.
  dialogs.asked.clear();
  request.fieldLines = {QStringLiteral("BAD")};
  TCreateTableCommand invalid(table, request, Hook());
  EXPECT_THROW(RunCommandNow(invalid, dialogs, progress), std::exception);
  EXPECT_TRUE(dialogs.asked.isEmpty());
  EXPECT_EQ(ReadBytes(dir.File("new.dbf")), before);
}

TEST_F(StructureCommandTest, ATagIsBuiltIntoANewFileAndAddedToIt) {
  const std::string path = CopySample();
  OpenTable(path);
  ASSERT_TRUE(table.Active());
  TTagRequest request;
  request.file = QString::fromStdString(dir.File("names.cdx"));
  request.tag = QStringLiteral("BYNAME");
  request.expression = QStringLiteral("NAME");
  TIndexOnCommand build(table, request, Hook());
  const TCommandOutcome outcome = RunCommandNow(build, dialogs, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.filesMade, QStringList{request.file});
  EXPECT_EQ(hooks, 1);
  EXPECT_EQ(table.Progress(), nullptr) << "the table reports to nobody afterwards";
  const std::vector<int> byName = KeyOrder(path, dir.File("names.cdx"), "BYNAME");
  EXPECT_EQ(byName.size(), 60u);

  request.tag = QStringLiteral("BYCITY");
  request.expression = QStringLiteral("CITY");
  request.ascending = false;
  request.addToFile = true;
  TIndexOnCommand add(table, request, Hook());
  EXPECT_TRUE(RunCommandNow(add, dialogs, progress).done);
  EXPECT_EQ(KeyOrder(path, dir.File("names.cdx"), "BYNAME"), byName) << "the first tag stays";
  EXPECT_EQ(KeyOrder(path, dir.File("names.cdx"), "BYCITY").size(), 60u);

  // A key the engine cannot read: the error comes back, the hook still hears of it.
  request.tag = QStringLiteral("BAD");
  request.expression = QStringLiteral("NAME +");
  TIndexOnCommand bad(table, request, Hook());
  EXPECT_THROW(RunCommandNow(bad, dialogs, progress), std::exception);
  EXPECT_EQ(hooks, 3);
  EXPECT_FALSE(seen.done);
}

TEST_F(StructureCommandTest, DeleteATagThenTheFile) {
  const std::string path = CopySample();
  OpenTable(path);
  ASSERT_TRUE(table.Active());
  for (const char* tag : {"BYNAME", "BYCITY"}) {
    TTagRequest request{QString::fromStdString(dir.File("two.cdx")),
                        QLatin1String(tag),
                        QString::fromLatin1(tag + 2),
                        QString(),
                        true,
                        false,
                        std::string(tag) == "BYCITY"};
    TIndexOnCommand build(table, request, {});
    ASSERT_TRUE(RunCommandNow(build, dialogs, progress).done) << tag;
  }
  const QString file = QString::fromStdString(dir.File("two.cdx"));
  TDeleteTagCommand deleteTag(table, file, QStringLiteral("BYNAME"), Hook());
  EXPECT_TRUE(RunCommandNow(deleteTag, dialogs, progress).done);
  table.SetIndexFiles({file});
  QStringList tags;
  for (int n = 1; n <= table.GetTagCount(); ++n)
    if (table.GetTagFile(n) == file) tags << table.GetTagName(n);
  EXPECT_EQ(tags, QStringList{QStringLiteral("BYCITY")});
  // A tag the file does not hold is an error, not a silent success.
  table.SetIndexList(QString(), QString());
  TDeleteTagCommand missing(table, file, QStringLiteral("BYNAME"), Hook());
  EXPECT_THROW(RunCommandNow(missing, dialogs, progress), EAppError);
  EXPECT_FALSE(seen.done);

  TDeleteIndexFileCommand deleteFile(table, file, Hook());
  EXPECT_TRUE(RunCommandNow(deleteFile, dialogs, progress).done);
  EXPECT_FALSE(fs::exists(dir.File("two.cdx")));
  EXPECT_EQ(hooks, 3);
  EXPECT_TRUE(table.Active());
}

}  // namespace
}  // namespace fendral::test
