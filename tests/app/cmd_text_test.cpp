// The text commands without a window: export, import and the structure listing run with
// scripted answers and a progress that stops them, on a table with memos and a production
// index.
#include <QFile>

#include "command_test_util.h"
#include "memtable.h"
#include "tv_apperror.h"
#include "tv_textcommands.h"

namespace fendral::test {
namespace {

class TextCommands : public CommandTest {
 protected:
  void ScriptExport(const QString& file, const QString& separator = QStringLiteral(";")) {
    dialogs.inputs.push_back(file);
    dialogs.inputs.push_back(separator);
  }
  void ScriptImport(const std::string& file) {
    dialogs.files.push_back(QString::fromStdString(file));
    dialogs.inputs.push_back(QStringLiteral(";"));
  }
  std::unique_ptr<TCommand> Export() {
    return std::make_unique<TExportTextCommand>(*table, Directory());
  }
  std::unique_ptr<TCommand> Import() {
    return std::make_unique<TImportTextCommand>(*table, Directory());
  }
  // `count` lines for the sample's fields, each with a memo text.
  static std::string Lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
      text += std::to_string(1000 + i) + ";Name " + std::to_string(i) + ";City;" +
              std::to_string(i) + ".25;20200102;T;memo of line " + std::to_string(i) + "\n";
    return text;
  }
};

TEST_F(TextCommands, ExportWritesEveryRecordAndReportsEachStep) {
  ScriptExport(QStringLiteral("out"));
  auto command = Export();
  TRecordingProgress progress;
  const TCommandOutcome outcome = Run(*command, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 60);
  EXPECT_EQ(outcome.filesMade, QStringList{Directory() + "out.txt"});
  EXPECT_TRUE(outcome.toFirst);
  EXPECT_EQ(progress.kinds, std::vector<int32_t>{tolvern::kStatusExport});
  EXPECT_EQ(progress.totals, std::vector<int64_t>{60});
  EXPECT_EQ(progress.steps, 60);
  EXPECT_EQ(progress.lastDone, 60);
  EXPECT_EQ(progress.finishes, 1);
  const QByteArray text = QByteArray::fromStdString(ReadText(dir->Path() / "out.txt"));
  EXPECT_TRUE(text.startsWith("1;")) << text.left(80).toStdString();
  EXPECT_TRUE(text.endsWith('\n'));
  // Some memos of the sample hold line breaks: the user is told of the first.
  ASSERT_EQ(outcome.skipped.size(), 1);
  EXPECT_EQ(dialogs.messages, outcome.skipped);
  EXPECT_TRUE(outcome.skipped[0].contains(QStringLiteral("field NOTES")));
}

TEST_F(TextCommands, ExportAnswersThatEndTheCommandBeforeAnythingHappens) {
  const auto before = FolderBytes(dir->Path());
  for (const QString& name : {QString(), QStringLiteral("  ")}) {
    dialogs.inputs.push_back(name);  // cancelled, or blank
    auto command = Export();
    TRecordingProgress progress;
    const TCommandOutcome outcome = Run(*command, progress);
    EXPECT_FALSE(outcome.done);
    EXPECT_EQ(progress.kinds.size(), 0u);
  }
  ScriptExport(QStringLiteral("x.txt"), QString());  // the separator question cancelled
  auto command = Export();
  TRecordingProgress progress;
  EXPECT_FALSE(Run(*command, progress).done);
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
}

TEST_F(TextCommands, CancelledExportsLeaveNoFile) {
  ExpectCleanCancels([&] { return Export(); }, [&] { ScriptExport(QStringLiteral("out.txt")); });
}

TEST_F(TextCommands, ACancelledExportOverAnEarlierFileKeepsThatFile) {
  WriteText(dir->Path() / "out.txt", "earlier\n");
  ExpectCleanCancels([&] { return Export(); },
                     [&] {
                       WriteText(dir->Path() / "out.txt", "earlier\n");
                       ScriptExport(QStringLiteral("out.txt"));
                     });
}

TEST_F(TextCommands, ImportChecksTheWholeTextFirstAndAppendsOnlyThen) {
  WriteText(dir->Path() / "in.txt", Lines(5) + "bad;x;y;not a number\n");
  ScriptImport(dir->File("in.txt"));
  const auto before = FolderBytes(dir->Path());
  auto command = Import();
  TRecordingProgress progress;
  try {
    RunCommandNow(*command, dialogs, progress);
    ADD_FAILURE() << "the bad line was taken";
  } catch (const std::exception& error) {
    EXPECT_TRUE(ErrorText(error).startsWith(QStringLiteral("Line 6, field ID: "))) << error.what();
  }
  EXPECT_EQ(command->Finish(dialogs, nullptr).records, 0);
  CloseAll();
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
}

TEST_F(TextCommands, ImportAppendsEveryLineWithItsMemoAndKeepsTheIndexCurrent) {
  WriteText(dir->Path() / "in.txt", Lines(7));
  ScriptImport(dir->File("in.txt"));
  auto command = Import();
  TRecordingProgress progress;
  const TCommandOutcome outcome = Run(*command, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 7);
  EXPECT_EQ(outcome.reopen, QString::fromStdString(path));
  EXPECT_EQ(progress.kinds, std::vector<int32_t>{tolvern::kStatusImport});
  EXPECT_EQ(progress.steps, 14);  // a check and an append a line
  EXPECT_EQ(progress.lastDone, progress.totals.at(0));
  EXPECT_FALSE(table->Active());  // the window opens it again
  EXPECT_FALSE(table->Exclusive());
  const std::vector<std::string> values = Values(path);
  ASSERT_EQ(values.size(), 67u);
  EXPECT_EQ(Object(values[66]).value("NOTES").toString(), QStringLiteral("memo of line 7"));
  const std::vector<QJsonObject> peer = PeerDump(path);
  ASSERT_EQ(peer.size(), 67u);
  EXPECT_EQ(peer[66].value("fields").toObject().value("NAME").toString().trimmed(),
            QStringLiteral("Name 7"));
  ExpectIndexCurrent(path, Cdx());
}

TEST_F(TextCommands, ACancelWhileCheckingAppendsNothing) {
  WriteText(dir->Path() / "in.txt", Lines(6));
  ScriptImport(dir->File("in.txt"));
  const auto before = FolderBytes(dir->Path());
  auto command = Import();
  TRecordingProgress progress(3);  // the third of six checks
  const TCommandOutcome outcome = Run(*command, progress);
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_EQ(outcome.records, 0);
  EXPECT_EQ(outcome.message,
            QStringLiteral("The import was cancelled; 0 record(s) were appended."));
  CloseAll();
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
}

TEST_F(TextCommands, ACancelWhileAppendingStopsAfterAWholeRecordAndSaysHowMany) {
  for (const int stopAt : {7, 9, 12}) {  // the first, a middle and the last append of six
    SCOPED_TRACE(stopAt);
    Fresh();
    WriteText(dir->Path() / "in.txt", Lines(6));
    ScriptImport(dir->File("in.txt"));
    auto command = Import();
    TRecordingProgress progress(stopAt);
    const TCommandOutcome outcome = Run(*command, progress);
    const int appended = stopAt - 6;
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.records, appended);
    EXPECT_TRUE(outcome.message.contains(QString::number(appended)))
        << outcome.message.toStdString();
    CloseAll();
    const std::vector<std::string> values = Values(path);
    ASSERT_EQ(values.size(), 60u + appended);
    for (int i = 1; i <= appended; ++i) {
      const QJsonObject record = Object(values[59 + i]);
      EXPECT_EQ(record.value("ID").toInt(), 1000 + i);
      EXPECT_EQ(record.value("NOTES").toString(), QStringLiteral("memo of line %1").arg(i));
    }
    EXPECT_EQ(PeerDump(path).size(), 60u + appended);
    ExpectIndexCurrent(path, Cdx());
  }
}

TEST_F(TextCommands, StructureListingNamesFieldsAndTagsAndACancelLeavesNoFile) {
  TMemTable fields;
  for (const char* def : {"Field;4;0;0", "Name;1;10;0", "DBF Type;1;1;0", "Len;4;0;0", "Dec;4;0;0"})
    fields.FieldDefs().AddFromText(QLatin1String(def));
  fields.Open();
  fields.Append();
  fields.FieldByName(QStringLiteral("Field"))->SetAsInteger(1);
  fields.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("ID"));
  fields.FieldByName(QStringLiteral("DBF Type"))->SetAsString(QStringLiteral("N"));
  fields.FieldByName(QStringLiteral("Len"))->SetAsInteger(6);
  fields.FieldByName(QStringLiteral("Dec"))->SetAsInteger(0);  // left pending: posted first

  dialogs.inputs.push_back(QStringLiteral("list.txt"));
  TStructureTextCommand command(*table, fields, Directory());
  TRecordingProgress progress;
  const TCommandOutcome outcome = Run(command, progress);
  EXPECT_TRUE(outcome.done);
  const std::string text = ReadText(dir->Path() / "list.txt");
  EXPECT_EQ(text.rfind("Table Name   : sample.dbf\n-------Fields-------\nID;N;6;0\n\n"
                       "-------Index-------\nTag       : ",
                       0),
            0u)
      << text;
  EXPECT_GT(progress.steps, 1);

  ExpectCleanCancels(
      [&] { return std::make_unique<TStructureTextCommand>(*table, fields, Directory()); },
      [&] { dialogs.inputs.push_back(QStringLiteral("list.txt")); });
}

}  // namespace
}  // namespace fendral::test
