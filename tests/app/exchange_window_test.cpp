// The window's data exchange: "Export as..." in each format against what fendral-cli's
// export writes of the same table, the order and filter of the browse page, cancels that
// leave no file, and "Import CSV..." that appends only a file it accepts.
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenuBar>

#include "command_test_util.h"
#include "tv_exchangecommands.h"
#include "tv_exportdialog.h"

namespace fendral::test {
namespace {

class ExchangeWindow : public WindowTest {
 protected:
  // Answers the next "Export as..." dialog with `format`, `file` and `change`'s options.
  void ScriptExport(TExportChoice::TFormat format, const std::string& file,
                    std::function<void(TExportChoice&)> change = {}) {
    dialogs.exports.push_back([format, file, change](TExportChoice& choice) {
      choice.format = format;
      choice.file = QString::fromStdString(file);
      if (change) change(choice);
    });
  }
  void ExportFromWindow() {
    window->ExportAs();
    ASSERT_TRUE(AwaitWork());
  }
  // fendral-cli export of `table` reading its text as the window does.
  std::string CliExport(const std::string& table, const std::string& options) {
    std::string out;
    const std::string page = Table().CodePageInUse();
    EXPECT_EQ(RunCommand(std::string(FENDRAL_CLI) + " export " + Quote(table) +
                             " --table-encoding " + page + " " + options,
                         &out),
              0)
        << out;
    return out;
  }
  static std::string SqliteDump(const std::string& file) {
    std::string out;
    EXPECT_EQ(RunCommand("sqlite3 " + Quote(file) + " .dump", &out), 0) << out;
    return out;
  }
  // A table of `count` generated records, opened in the window.
  std::string OpenGenerated(int count) {
    const std::string path = dir.File("big.dbf");
    std::string out;
    EXPECT_EQ(Cli("create " + Quote(path) + " --type foxpro ID:N:8 NAME:C:30 NOTE:M:10", &out), 0)
        << out;
    std::string lines;
    for (int i = 1; i <= count; ++i)
      lines += "{\"fields\": {\"ID\": " + std::to_string(i) + ", \"NAME\": \"name " +
               std::to_string(i) + "\", \"NOTE\": \"note\"}}\n";
    WriteText(dir.Path() / "big.jsonl", lines);
    EXPECT_EQ(Cli("import " + Quote(path) + " " + Quote(dir.File("big.jsonl")), &out), 0) << out;
    fs::remove(dir.Path() / "big.jsonl");
    window->Start({QString::fromStdString(path)});
    return path;
  }
  // An empty table with CHAR, numeric, date and logical fields, opened in the window.
  std::string OpenEmpty() {
    const std::string path = dir.File("people.dbf");
    std::string out;
    EXPECT_EQ(Cli("create " + Quote(path) + " --type foxpro ID:N:5 NAME:C:12 D:D:8 L:L:1", &out), 0)
        << out;
    window->Start({QString::fromStdString(path)});
    return path;
  }
  void ImportFromWindow(const std::string& file) {
    dialogs.files.push_back(QString::fromStdString(file));
    window->ImportCsv();
    ASSERT_TRUE(AwaitWork());
  }
};

TEST_F(ExchangeWindow, EachFormatHoldsWhatFendralCliExportsOfTheTable) {
  const std::string path = Open(SampleTable());
  ScriptExport(TExportChoice::kCsv, "out.csv", [](TExportChoice& c) { c.currentOrder = false; });
  ExportFromWindow();
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(ReadText(dir.Path() / "out.csv"), CliExport(path, "--format csv"));

  // The CSV options reach the file.
  ScriptExport(TExportChoice::kCsv, "semi", [](TExportChoice& c) {
    c.delimiter = QStringLiteral(";");
    c.header = false;
    c.encoding = QStringLiteral("CP1252");
    c.withDeleted = true;
  });
  ExportFromWindow();
  EXPECT_EQ(ReadText(dir.Path() / "semi.csv"),
            CliExport(path,
                      "--format csv --delimiter ';' --no-header --encoding CP1252 "
                      "--with-deleted"));

  ScriptExport(TExportChoice::kJsonLines, "out.jsonl");
  ExportFromWindow();
  EXPECT_EQ(ReadText(dir.Path() / "out.jsonl"),
            CliExport(path, "--format jsonl --schema " + Quote(dir.File("cli.schema.json"))));
  EXPECT_EQ(ReadText(dir.Path() / "out.schema.json"), ReadText(dir.Path() / "cli.schema.json"));

  ScriptExport(TExportChoice::kSqlite, "window.sqlite");
  ExportFromWindow();
  fs::create_directory(dir.Path() / "cli");
  CliExport(path, "--format sqlite --to " + Quote(dir.File("cli/window.sqlite")));
  const std::string dump = SqliteDump(dir.File("window.sqlite"));
  EXPECT_NE(dump.find("CREATE TABLE sample"), std::string::npos) << dump.substr(0, 300);
  EXPECT_EQ(dump, SqliteDump(dir.File("cli/window.sqlite")));
  // The tag on DTOS(JOINED) becomes no index: the user is told.
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("No SQLite index for tag JOINED: ")))
      << dialogs.messages[0].toStdString();
  ASSERT_TRUE(Table().Active());
}

TEST_F(ExchangeWindow, CurrentOrderAndFilterOrAllRecords) {
  const std::string path = Open(SampleTable());
  Table().SetIndexName(QStringLiteral("CITY"));
  Table().SetFilter(QStringLiteral("AMOUNT > 5000"));
  Table().SetFiltered(true);
  Table().Last();
  ScriptExport(TExportChoice::kCsv, "shown.csv");  // current order and filter: the default
  ScriptExport(TExportChoice::kCsv, "all.csv", [](TExportChoice& c) { c.currentOrder = false; });
  ExportFromWindow();
  ExportFromWindow();
  const std::string shown = ReadText(dir.Path() / "shown.csv");
  EXPECT_EQ(shown, CliExport(path, "--format csv --index " + Quote(dir.File("sample.cdx")) +
                                       " --tag CITY --filter 'AMOUNT > 5000'"));
  const std::string all = ReadText(dir.Path() / "all.csv");
  EXPECT_EQ(all, CliExport(path, "--format csv"));
  EXPECT_LT(shown.size(), all.size());
  // The page is back on the first record it shows (the sample's ID is its record number),
  // its order and filter as they were.
  const QList<QByteArray> rows = QByteArray::fromStdString(shown).split('\n');
  ASSERT_GT(rows.size(), 2);
  EXPECT_EQ(Table().RecNo(), rows[1].split(',')[0].toInt());
  EXPECT_TRUE(Table().Filtered());
  EXPECT_EQ(Table().IndexName(), QStringLiteral("CITY"));
}

TEST_F(ExchangeWindow, ACancelledExportLeavesNoFileAndAnEarlierOneAsItWas) {
  OpenGenerated(20000);
  WriteText(dir.Path() / "earlier.csv", "earlier\n");
  const struct {
    TExportChoice::TFormat format;
    const char* file;
  } cases[] = {{TExportChoice::kCsv, "big.csv"},
               {TExportChoice::kJsonLines, "big.jsonl"},
               {TExportChoice::kSqlite, "big.sqlite"},
               {TExportChoice::kCsv, "earlier.csv"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    for (const bool currentOrder : {true, false}) {
      const auto before = FolderBytes(dir.Path());
      dialogs.confirms.push_back(true);  // replace the earlier file
      ScriptExport(c.format, c.file,
                   [currentOrder](TExportChoice& ch) { ch.currentOrder = currentOrder; });
      TExportAsCommand command(Table(), QString::fromStdString(dir.Path().string()) + "/");
      TRecordingProgress progress(10000);  // half-way
      const TCommandOutcome outcome = RunCommandNow(command, dialogs, progress);
      EXPECT_TRUE(outcome.cancelled);
      EXPECT_EQ(progress.steps, 10000);
      EXPECT_EQ(progress.kinds, std::vector<int32_t>{tolvern::kStatusExport});
      EXPECT_EQ(progress.finishes, 1);
      EXPECT_EQ(Differences(before, FolderBytes(dir.Path())), std::vector<std::string>{});
      dialogs.confirms.clear();
    }
  }
  // Run to its end, the same export writes every record.
  ScriptExport(TExportChoice::kCsv, "big.csv");
  ExportFromWindow();
  EXPECT_EQ(QByteArray::fromStdString(ReadText(dir.Path() / "big.csv")).count('\n'), 20001);
}

TEST_F(ExchangeWindow, ImportCsvAppendsAndTheGridShowsTheRecords) {
  const std::string path = OpenEmpty();
  WriteText(dir.Path() / "in.csv",
            "\xEF\xBB\xBFNAME,ID,D,L\r\n"
            "\"Smith, J\",1,2020-01-02,true\r\n"
            "plain,2,,false\r\n");
  ImportFromWindow(dir.File("in.csv"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  const std::vector<std::string> values = Values(path);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(Object(values[0]).value("NAME").toString(), QStringLiteral("Smith, J"));
  EXPECT_EQ(Object(values[0]).value("D").toString(), QStringLiteral("2020-01-02"));
  EXPECT_EQ(Object(values[1]).value("ID").toInt(), 2);
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Grid().rowCount(), 2);
  EXPECT_EQ(Grid().data(Grid().index(0, Column(QStringLiteral("NAME")))).toString().trimmed(),
            QStringLiteral("Smith, J"));

  // A file of semicolons (as spreadsheets write where the comma is the decimal mark) and one
  // of tabs are read by their header row's delimiter.
  WriteText(dir.Path() / "semi.csv", "ID;NAME\n3;\"a;b, c\"\n");
  ImportFromWindow(dir.File("semi.csv"));
  WriteText(dir.Path() / "tab.csv", "NAME\tID\nx,y\t4\n");
  ImportFromWindow(dir.File("tab.csv"));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  const std::vector<std::string> more = Values(path);
  ASSERT_EQ(more.size(), 4u);
  EXPECT_EQ(Object(more[2]).value("NAME").toString().trimmed(), QStringLiteral("a;b, c"));
  EXPECT_EQ(Object(more[3]).value("NAME").toString().trimmed(), QStringLiteral("x,y"));
  EXPECT_EQ(Object(more[3]).value("ID").toInt(), 4);
  EXPECT_EQ(Grid().rowCount(), 4);
}

TEST_F(ExchangeWindow, ARefusedCsvAppendsNothingAndSaysWhere) {
  const std::string path = OpenEmpty();
  WriteText(dir.Path() / "bad.csv",
            "ID,NAME\n"
            "1,fine\n"
            "2,a name much too long\n");
  const auto before = FolderBytes(dir.Path());
  ImportFromWindow(dir.File("bad.csv"));
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("line 3, column 2 (NAME)")))
      << dialogs.messages[0].toStdString();
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Grid().rowCount(), 0);
  window->CloseDbf();
  EXPECT_EQ(Differences(before, FolderBytes(dir.Path())), std::vector<std::string>{});
}

TEST_F(ExchangeWindow, TheItemsWaitForATableAndTheDialogNamesItsControls) {
  QAction* exportAs = nullptr;
  for (QAction* action : window->menuBar()->findChildren<QAction*>())
    if (action->text() == QStringLiteral("Export as...")) exportAs = action;
  ASSERT_NE(exportAs, nullptr);
  const auto enabled = [&] {
    QMenu* menu = qobject_cast<QMenu*>(exportAs->parent());
    return exportAs->isEnabled() && menu && menu->isEnabled();
  };
  EXPECT_FALSE(enabled());
  Open(SampleTable());
  EXPECT_TRUE(enabled());

  TExportDialog dialog;
  for (const char* name : {"exportFormat", "exportFile", "exportDelimiter", "exportEncoding"}) {
    QWidget* control = Control<QWidget>(dialog, name);
    bool labelled = false;
    for (QLabel* label : dialog.findChildren<QLabel*>())
      labelled |= label->buddy() == control && !label->text().isEmpty();
    EXPECT_TRUE(labelled) << name;
  }
  // Choosing another format gives the file that format's extension; CSV options only for CSV.
  TExportChoice choice;
  choice.file = QStringLiteral("/tmp/people.csv");
  dialog.SetChoice(choice);
  Control<QComboBox>(dialog, "exportFormat")->setCurrentIndex(TExportChoice::kSqlite);
  EXPECT_EQ(dialog.Choice().file, QStringLiteral("/tmp/people.sqlite"));
  EXPECT_FALSE(Control<QWidget>(dialog, "exportDelimiter")->isEnabled());
}

TEST(ExchangeScreenshots, TheExportDialogIsPictured) {
  TempDir out;
  TempDir tables;
  const std::string path = CopyTableFiles(SampleTable(), tables.Path());
  std::string log;
  ASSERT_EQ(RunCommand(std::string(FENDRAL_SCREENSHOTS) + " " + Quote(path) + " " +
                           Quote(out.Path().string()) + " 2>&1",
                       &log),
            0)
      << log;
  const QImage image(QString::fromStdString((out.Path() / "export-dialog.png").string()));
  ASSERT_FALSE(image.isNull());
  TExportDialog dialog;
  dialog.adjustSize();
  EXPECT_GE(image.width(), dialog.sizeHint().width());
  EXPECT_GE(image.height(), dialog.sizeHint().height());
}

// The import command on its own, stopped by its progress in each of its two passes.
class ExchangeCommands : public CommandTest {
 protected:
  // A fresh copy of the sample with six rows to import beside it.
  void FreshWithCsv() {
    Fresh();
    std::string csv = "ID,NAME,NOTES\r\n";
    for (int i = 1; i <= 6; ++i)
      csv += std::to_string(100 + i) + ",Name " + std::to_string(i) + ",memo " + std::to_string(i) +
             "\r\n";
    WriteText(dir->Path() / "in.csv", csv);
  }
  TCommandOutcome ImportStoppedAt(int64_t stopAt) {
    dialogs.files.push_back(QString::fromStdString(dir->File("in.csv")));
    TImportCsvCommand command(*table, Directory());
    TRecordingProgress progress(stopAt);
    const TCommandOutcome outcome = Run(command, progress);
    EXPECT_EQ(progress.kinds, std::vector<int32_t>{tolvern::kStatusImport});
    EXPECT_EQ(progress.steps, stopAt == 0 ? 12 : stopAt);  // a check and an append a row
    EXPECT_EQ(outcome.reopen, QString::fromStdString(path));
    CloseAll();
    return outcome;
  }
};

TEST_F(ExchangeCommands, ACancelWhileCheckingAppendsNothingAndWhileAppendingKeepsWholeRecords) {
  for (const int64_t stopAt : {1, 6}) {
    SCOPED_TRACE(stopAt);
    FreshWithCsv();
    const auto before = FolderBytes(dir->Path());
    const TCommandOutcome outcome = ImportStoppedAt(stopAt);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.records, 0);
    EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
  }
  FreshWithCsv();
  const TCommandOutcome stopped = ImportStoppedAt(9);  // the third append
  EXPECT_TRUE(stopped.cancelled);
  EXPECT_EQ(stopped.records, 3);
  EXPECT_TRUE(stopped.message.contains(QStringLiteral("3 record")))
      << stopped.message.toStdString();
  std::vector<std::string> values = Values(path);
  ASSERT_EQ(values.size(), 63u);
  EXPECT_EQ(Object(values[62]).value("NOTES").toString(), QStringLiteral("memo 3"));
  ExpectIndexCurrent(path, Cdx());

  FreshWithCsv();
  EXPECT_TRUE(ImportStoppedAt(0).done);
  values = Values(path);
  ASSERT_EQ(values.size(), 66u);
  EXPECT_EQ(Object(values[65]).value("NAME").toString().trimmed(), QStringLiteral("Name 6"));
  ExpectIndexCurrent(path, Cdx());
}

}  // namespace
}  // namespace fendral::test
