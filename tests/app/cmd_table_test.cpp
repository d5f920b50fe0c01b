// The table commands without a window: reindex, pack, zap, rename, delete and the copies,
// run with scripted answers and a recording progress on a table with memos and a
// production index; their results read by the peers, their refusals, and their cancels.
#include "command_test_util.h"
#include "tv_apperror.h"
#include "tv_tableaccess.h"
#include "tv_tablecommands.h"

namespace fendral::test {
namespace {

class TableCommands : public CommandTest {
 protected:
  static void DeleteFirstRecords(const std::string& table) {
    std::string out;
    for (const char* record : {"1", "2", "30"})
      ASSERT_EQ(Cli("delete " + Quote(table) + " " + record, &out), 0) << out;
  }
  std::unique_ptr<TCommand> Copy(bool structureOnly) {
    return std::make_unique<TCopyTableCommand>(*table, *other, Directory(), structureOnly);
  }
};

TEST_F(TableCommands, PackAsksThenKeepsTheLiveRecordsAndLeavesTheTableToBeReopened) {
  Fresh(DeleteFirstRecords);
  const std::vector<std::string> live = Values(path, false);
  const size_t deleted = Values(path).size() - live.size();
  ASSERT_GE(deleted, 3u);
  const auto before = FolderBytes(dir->Path());

  TPackCommand declined(*table);  // the default answer is No
  TRecordingProgress none;
  EXPECT_FALSE(Run(declined, none).done);
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_EQ(
      dialogs.asked[0],
      QStringLiteral("Pack|Pack removes %1 deleted record(s) for good. Continue?").arg(deleted));
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});

  dialogs.confirms.push_back(true);
  TPackCommand pack(*table);
  TRecordingProgress progress;
  const TCommandOutcome outcome = Run(pack, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, static_cast<int64_t>(live.size()));
  EXPECT_EQ(outcome.reopen, QString::fromStdString(path));
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(table->Exclusive());
  EXPECT_EQ(Values(path), live);
  EXPECT_EQ(PeerDump(path).size(), live.size());
  ExpectIndexCurrent(path, Cdx());
}

TEST_F(TableCommands, PackOfATableAnotherProgramHasOpenIsRefusedAndChangesNothing) {
  REQUIRE_SHARED();
  Fresh(DeleteFirstRecords);
  const std::string log = dir->File("legacy.log");
  ASSERT_TRUE(HoldWithLegacy(path, log)) << ReadText(log);
  const auto before = FolderBytes(dir->Path());
  dialogs.confirms.push_back(true);
  TPackCommand pack(*table);
  TRecordingProgress progress;
  EXPECT_THROW(RunCommandNow(pack, dialogs, progress), std::exception);
  EXPECT_EQ(pack.Finish(dialogs, nullptr).reopen, QString::fromStdString(path));
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(table->Exclusive());
  EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
  AwaitLegacyExit(log);
}

TEST_F(TableCommands, ZapAsksThenEmptiesTheTableAndItsIndex) {
  TZapCommand declined(*table);
  TRecordingProgress none;
  EXPECT_FALSE(Run(declined, none).done);
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].startsWith(QStringLiteral("Zap|Zap removes every record of ")));
  EXPECT_EQ(Values(path).size(), 60u);

  dialogs.confirms.push_back(true);
  TZapCommand zap(*table);
  const TCommandOutcome outcome = Run(zap, none);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.reopen, QString::fromStdString(path));
  EXPECT_FALSE(table->Active());
  EXPECT_TRUE(Values(path).empty());
  EXPECT_TRUE(PeerDump(path).empty());
  for (const QJsonObject& tag : Tags(path, Cdx()))
    EXPECT_TRUE(Order(path, Cdx(), tag.value("name").toString().toStdString()).empty());
}

TEST_F(TableCommands, RenameMovesTheCompanionsAndRefusesAnotherTablesName) {
  WriteText(dir->Path() / "taken.dbf", "x");
  dialogs.inputs.push_back(QStringLiteral("taken"));
  TRenameCommand refused(*table, Directory());
  TRecordingProgress none;
  try {
    RunCommandNow(refused, dialogs, none);
    ADD_FAILURE() << "renamed onto another file";
  } catch (const EAppError& error) {
    EXPECT_EQ(error.Text(), QStringLiteral("File %1taken.dbf already exists").arg(Directory()));
  }
  EXPECT_TRUE(table->Active());

  dialogs.inputs.push_back(QString());  // cancelled
  TRenameCommand cancelled(*table, Directory());
  EXPECT_FALSE(Run(cancelled, none).done);

  dialogs.inputs.push_back(QStringLiteral("moved"));
  TRenameCommand rename(*table, Directory());
  const TCommandOutcome outcome = Run(rename, none);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.reopen, Directory() + "moved.dbf");
  EXPECT_FALSE(fs::exists(path));
  const std::string moved = dir->File("moved.dbf");
  EXPECT_EQ(Values(moved).size(), 60u);
  ExpectIndexCurrent(moved, dir->File("moved.cdx"));
  EXPECT_TRUE(fs::exists(dir->File("moved.fpt")));
}

TEST_F(TableCommands, DeleteBaseAsksThenRemovesTheTableItsMemoAndIndexFiles) {
  WriteText(dir->Path() / "keep.txt", "x");
  TDeleteBaseCommand declined(*table);
  TRecordingProgress none;
  EXPECT_FALSE(Run(declined, none).done);
  EXPECT_TRUE(fs::exists(path));

  dialogs.confirms.push_back(true);
  TDeleteBaseCommand remove(*table);
  const TCommandOutcome outcome = Run(remove, none);
  EXPECT_TRUE(outcome.done);
  EXPECT_TRUE(outcome.closed);
  EXPECT_TRUE(outcome.reopen.isEmpty());
  const auto left = FolderBytes(dir->Path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left.begin()->first, "keep.txt");
}

TEST_F(TableCommands, CopiesCarryRecordsMemosAndEveryTagAndRefuseTheTableItself) {
  dialogs.files.push_back(QStringLiteral("sample.dbf"));
  auto onto = Copy(false);
  TRecordingProgress none;
  EXPECT_THROW(RunCommandNow(*onto, dialogs, none), EAppError);

  dialogs.files.push_back(QStringLiteral("copy"));
  auto copy = Copy(false);
  const TCommandOutcome outcome = Run(*copy, none);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 60);
  const std::string copied = dir->File("copy.dbf");
  EXPECT_TRUE(outcome.filesMade.contains(QString::fromStdString(copied)));
  EXPECT_TRUE(outcome.filesMade.contains(QString::fromStdString(dir->File("copy.cdx"))));
  EXPECT_EQ(Values(copied), Values(path));
  EXPECT_EQ(PeerDump(copied).size(), 60u);
  EXPECT_EQ(Tags(copied, dir->File("copy.cdx")).size(), Tags(path, Cdx()).size());
  ExpectIndexCurrent(copied, dir->File("copy.cdx"));
  EXPECT_FALSE(other->Active());

  // An existing file is replaced only when the user agrees.
  dialogs.files.push_back(QStringLiteral("copy.dbf"));
  auto declined = Copy(true);
  EXPECT_FALSE(Run(*declined, none).done);
  EXPECT_EQ(Values(copied).size(), 60u);
  dialogs.files.push_back(QStringLiteral("copy.dbf"));
  dialogs.confirms.push_back(true);
  auto structure = Copy(true);
  EXPECT_TRUE(Run(*structure, none).done);
  EXPECT_TRUE(Values(copied).empty());
  ExpectIndexCurrent(copied, dir->File("copy.cdx"));
}

TEST_F(TableCommands, PackAndCopyKeepAnNtxIndexCurrentForTheOtherPrograms) {
  moreIndexFiles = {"byname.ntx"};
  Fresh([](const std::string& table) {
    DeleteFirstRecords(table);
    std::string out;
    const std::string ntx = (fs::path(table).parent_path() / "byname.ntx").string();
    ASSERT_EQ(Cli("index " + Quote(table) + " " + Quote(ntx) + " --key 'UPPER(NAME)'", &out), 0)
        << out;
  });
  ASSERT_EQ(table->IndexFiles().size(), 2);
  const size_t live = Values(path, false).size();
  dialogs.confirms.push_back(true);
  TPackCommand pack(*table);
  TRecordingProgress none;
  EXPECT_TRUE(Run(pack, none).done);
  EXPECT_EQ(Values(path).size(), live);
  ExpectIndexCurrent(path, dir->File("byname.ntx"));
  ExpectIndexCurrent(path, Cdx());

  Open();
  dialogs.files.push_back(QStringLiteral("copy.dbf"));
  auto copy = Copy(false);
  EXPECT_TRUE(Run(*copy, none).done);
  const std::string copied = dir->File("copy.dbf");
  EXPECT_EQ(PeerDump(copied).size(), live);
  ExpectIndexCurrent(copied, dir->File("copy_byname.ntx"));  // the copy's name in front
  ExpectIndexCurrent(copied, dir->File("copy.cdx"));
}

// These rely on the engine's loops reporting through the dataset's progress and stopping
// cleanly when it says so.
TEST_F(TableCommands, CancelledPacksLeaveEveryFileAsItWas) {
  ExpectCleanCancels([&] { return std::make_unique<TPackCommand>(*table); },
                     [&] { dialogs.confirms.push_back(true); }, DeleteFirstRecords);
}

TEST_F(TableCommands, CancelledReindexesLeaveTheIndexAsItWas) {
  ExpectCleanCancels([&] { return std::make_unique<TReindexCommand>(*table); }, [] {});
}

TEST_F(TableCommands, CancelledCopiesLeaveNoFile) {
  ExpectCleanCancels([&] { return Copy(false); },
                     [&] { dialogs.files.push_back(QStringLiteral("copy.dbf")); });
}

TEST_F(TableCommands, TheExclusiveScopeReopensUnsharedAndLeavesTheTableClosedAndShared) {
  const QStringList indexFiles = table->IndexFiles();
  {
    TExclusiveTable unshared(*table);
    EXPECT_TRUE(unshared.Unshared());
    EXPECT_TRUE(table->Active());
    EXPECT_TRUE(table->Exclusive());
    EXPECT_EQ(table->IndexFiles(), indexFiles);
  }
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(table->Exclusive());

  if (SharedDir().empty()) return;  // another program to hold the table is needed
  Open();
  const std::string log = dir->File("legacy.log");
  ASSERT_TRUE(HoldWithLegacy(path, log)) << ReadText(log);
  EXPECT_THROW(TExclusiveTable refused(*table), std::exception);
  EXPECT_FALSE(table->Active());
  EXPECT_FALSE(table->Exclusive());
  {
    TExclusiveTable beside(*table, TExclusiveTable::kOrShared);
    EXPECT_FALSE(beside.Unshared());
    EXPECT_TRUE(table->Active());
    EXPECT_FALSE(table->Exclusive());
  }
  EXPECT_FALSE(table->Active());
  AwaitLegacyExit(log);
}

}  // namespace
}  // namespace fendral::test
