// "Modify DBF" and the converts without a window: the plan from the structure table, the
// questions before anything changes, the rebuilt table read by the peers, and cancels.
#include "command_test_util.h"
#include "kx6_dbsy.h"
#include "memtable.h"
#include "tv_replacecommand.h"

namespace fendral::test {
namespace {

class ReplaceCommands : public CommandTest {
 protected:
  // The structure table as the window fills it from the open table.
  void FillFields() {
    if (fields.Active()) fields.Close();
    fields.FieldDefs().Clear();
    for (const char* def :
         {"Field;4;0;0", "Name;1;10;0", "DBF Type;1;1;0", "Len;4;0;0", "Dec;4;0;0", "Origin;4;0;0"})
      fields.FieldDefs().AddFromText(QLatin1String(def));
    fields.SetIndexFieldName(QStringLiteral("Field"));
    fields.Open();
    for (const tolvern::DbfFieldInfo& field : table->Handler()->Fields())
      AddRow(QString::fromStdString(field.name), QChar(field.type), field.length, field.decimals,
             field.number);
  }
  void AddRow(const QString& name, QChar type, int length, int decimals, int origin) {
    fields.Append();
    fields.FieldByName(QStringLiteral("Field"))->SetAsInteger(fields.RecordCount() + 1);
    fields.FieldByName(QStringLiteral("Name"))->SetAsString(name);
    fields.FieldByName(QStringLiteral("DBF Type"))->SetAsString(QString(type));
    fields.FieldByName(QStringLiteral("Len"))->SetAsInteger(length);
    fields.FieldByName(QStringLiteral("Dec"))->SetAsInteger(decimals);
    fields.FieldByName(QStringLiteral("Origin"))->SetAsInteger(origin);
    fields.Post();
  }
  // Finds the row of `name` and sets its width.
  void SetLength(const QString& name, int length) {
    for (fields.First(); !fields.Eof(); fields.Next())
      if (fields.FieldByName(QStringLiteral("Name"))->AsString() == name) {
        fields.Edit();
        fields.FieldByName(QStringLiteral("Len"))->SetAsInteger(length);
        fields.Post();
        return;
      }
    ADD_FAILURE() << name.toStdString();
  }
  std::unique_ptr<TCommand> Modify(int chosenType = 3) {
    TModifyChoice choice;
    choice.chosenType = chosenType;
    choice.openType = 3;
    choice.openName = QStringLiteral("FoxPro");
    choice.chosenName = chosenType == 2 ? QStringLiteral("DBase IV") : QStringLiteral("FoxPro");
    return std::make_unique<TReplaceCommand>(*table, fields, choice);
  }

  TMemTable fields;
};

TEST_F(ReplaceCommands, ModifyAddsAFieldAndKeepsEveryRecordMemoAndTag) {
  const std::vector<std::string> before = Values(path);
  FillFields();
  AddRow(QStringLiteral("EXTRA"), QLatin1Char('C'), 6, 0, 0);
  auto modify = Modify();
  TRecordingProgress progress;
  const TCommandOutcome outcome = Run(*modify, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 60);
  EXPECT_EQ(outcome.reopen, QString::fromStdString(path));
  EXPECT_TRUE(outcome.skipped.isEmpty()) << outcome.skipped.join('\n').toStdString();
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join('\n').toStdString();
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(table->Exclusive());
  const std::vector<std::string> after = Values(path);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    QJsonObject expected = Object(before[i]);
    expected.insert(QStringLiteral("EXTRA"), QString());
    EXPECT_EQ(Object(after[i]), expected) << i;
  }
  EXPECT_EQ(PeerDump(path).size(), 60u);
  ExpectIndexCurrent(path, Cdx());
  // No staging file is left beside the table.
  EXPECT_EQ(FolderBytes(dir->Path()).size(), 3u);
}

TEST_F(ReplaceCommands, ValuesThatNoLongerFitAreAskedAboutBeforeAnythingChanges) {
  FillFields();
  SetLength(QStringLiteral("NAME"), 3);
  const auto before = FolderBytes(dir->Path());
  auto modify = Modify();
  TRecordingProgress progress;
  EXPECT_FALSE(Run(*modify, progress).done);
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].startsWith(
      QStringLiteral("Modify DBF|These values do not fit their new fields:\nrecord 1, field NAME")))
      << dialogs.asked[0].toStdString();
  EXPECT_TRUE(progress.kinds.empty());
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});

  dialogs.confirms.push_back(true);
  auto agreed = Modify();
  EXPECT_TRUE(Run(*agreed, progress).done);
  for (const std::string& record : Values(path))
    EXPECT_LE(Object(record).value("NAME").toString().size(), 3) << record;
}

TEST_F(ReplaceCommands, AnotherKindOfTableIsAskedForWithWhatChanges) {
  FillFields();
  const auto before = FolderBytes(dir->Path());
  auto modify = Modify(2);
  TRecordingProgress progress;
  EXPECT_FALSE(Run(*modify, progress).done);
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].startsWith(QStringLiteral(
      "Modify DBF|Convert the table from FoxPro to DBase IV?\n\nVersion byte: 0xF5 -> 0x8B\n")))
      << dialogs.asked[0].toStdString();
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("Index file: sample.cdx -> sample.mdx")))
      << dialogs.asked[0].toStdString();
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
}

TEST_F(ReplaceCommands, ConvertingThereAndBackGivesTheSameValues) {
  const std::vector<std::string> before = Values(path);
  TReplaceCommand toAnsi(*table, TReplaceCommand::kDosToAnsi);
  TRecordingProgress progress;
  TCommandOutcome outcome = Run(toAnsi, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 60);
  ExpectIndexCurrent(path, Cdx());
  Open();
  TReplaceCommand toDos(*table, TReplaceCommand::kAnsiToDos);
  outcome = Run(toDos, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(Values(path), before);
  EXPECT_EQ(PeerDump(path).size(), 60u);
  ExpectIndexCurrent(path, Cdx());
}

// These rely on the engine's rebuild reporting through the dataset's progress.
TEST_F(ReplaceCommands, CancelledModifiesLeaveEveryFileAsItWas) {
  ExpectCleanCancels(
      [&] {
        FillFields();
        AddRow(QStringLiteral("EXTRA"), QLatin1Char('C'), 6, 0, 0);
        return Modify();
      },
      [] {});
}

TEST_F(ReplaceCommands, CancelledConvertsLeaveEveryFileAsItWas) {
  ExpectCleanCancels(
      [&] { return std::make_unique<TReplaceCommand>(*table, TReplaceCommand::kDosToAnsi); },
      [] {});
}

}  // namespace
}  // namespace fendral::test
