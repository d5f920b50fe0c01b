// "Check table" and "Repair..." in the window: the findings list of a damaged and of a
// sound table, going from a finding to its record, Cancel during a long check, the repair
// declined and done (the table on disk mended, the originals kept, the table open again),
// a table another program holds, and the damaged-index message's "Check table".
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <cstring>

#include "command_test_util.h"
#include "kx6_dbsy.h"
#include "tv_doctorcommands.h"
#include "tv_progressdialog.h"
#include "tv_worker.h"

namespace fendral::test {
namespace {

// The record count the header of `table` states (the file may hold another).
uint32_t HeaderCount(const std::string& table) {
  const std::vector<uint8_t> bytes = ReadBytes(table);
  uint32_t count = 0;
  std::memcpy(&count, &bytes.at(4), 4);
  return count;
}

void SetHeaderCount(const std::string& table, uint32_t count) {
  std::string bytes = ReadText(table);
  std::memcpy(&bytes[4], &count, 4);
  WriteText(table, bytes);
}

// The folders a repair left beside the table, holding the original files.
std::vector<fs::path> BackupFolders(const fs::path& dir) {
  std::vector<fs::path> folders;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_directory() &&
        entry.path().filename().string().rfind("sample.dbf.repair-", 0) == 0)
      folders.push_back(entry.path());
  return folders;
}

class CheckTable : public WindowTest {
 protected:
  // A copy of the sample (60 records) whose header counts `count` records.
  std::string OpenSampleCounting(uint32_t count) {
    const std::string table = CopyTableFiles(SampleTable(), dir.Path());
    SetHeaderCount(table, count);
    window->Start({QString::fromStdString(table)});
    return table;
  }
  QAction* DatabaseAction(const QString& text) {
    for (QAction* action : window->DatabaseMenu()->actions())
      if (action->text() == text) return action;
    ADD_FAILURE() << "no Database item " << text.toStdString();
    return nullptr;
  }
  TFindingsDialog& Findings() { return *window->Doctor().Findings(); }
  // Database > "Check table", to its end.
  void RunCheck() {
    QAction* check = DatabaseAction(QStringLiteral("Check table"));
    ASSERT_NE(check, nullptr);
    ASSERT_TRUE(check->isEnabled());
    check->trigger();
    ASSERT_TRUE(AwaitWork());
  }
  // The list's rows: "part|record|detail".
  QStringList Rows() {
    QStringList rows;
    QTreeWidget* list = Findings().List();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      const QTreeWidgetItem* item = list->topLevelItem(row);
      rows << item->text(1) + '|' + item->text(2) + '|' + item->text(3);
    }
    return rows;
  }
  void DoubleClickRow(int row) {
    QTreeWidget* list = Findings().List();
    const QRect place = list->visualItemRect(list->topLevelItem(row));
    ASSERT_TRUE(place.isValid());
    // As a mouse does it: the first click's press, then the double click.
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, place.center());
  }
};

TEST_F(CheckTable, ADamagedRecordCountIsListedWithItsRecordAndRepairIsOffered) {
  OpenSampleCounting(55);
  ASSERT_TRUE(Table().Active());
  RunCheck();
  ASSERT_TRUE(Findings().isVisible());
  const QStringList rows = Rows();
  ASSERT_FALSE(rows.isEmpty());
  // The count finding names the table part and a record past the counted ones.
  int countRow = -1;
  for (int row = 0; row < rows.size(); ++row)
    if (rows[row].startsWith(QStringLiteral("Table|"))) countRow = row;
  ASSERT_GE(countRow, 0) << rows.join('\n').toStdString();
  EXPECT_GT(Findings().RecordOfRow(countRow), 0);
  EXPECT_FALSE(rows[countRow].section('|', 2).isEmpty());
  EXPECT_TRUE(Findings().Summary().contains(QStringLiteral("error")))
      << Findings().Summary().toStdString();
  EXPECT_FALSE(Findings().Summary().contains(QStringLiteral("No problems found")));
  EXPECT_TRUE(Findings().RepairButton()->isEnabled());
  EXPECT_EQ(Findings().List()->accessibleName(), QStringLiteral("Findings"));
  EXPECT_EQ(Findings().List()->accessibleDescription(), Findings().Summary());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  // The list does not answer while other work has the table, and goes with the table.
  window->Reindex();
  ASSERT_TRUE(window->Busy());
  EXPECT_FALSE(Findings().isEnabled());
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(Findings().isEnabled());
  window->CloseDbf();
  EXPECT_FALSE(Findings().isVisible());
}

TEST_F(CheckTable, ASoundTableIsSaidToHaveNoProblems) {
  const std::string table = Open(SampleTable());
  const auto before = FolderBytes(dir.Path());
  RunCheck();
  ASSERT_TRUE(Findings().isVisible());
  EXPECT_TRUE(Findings().Summary().startsWith(QStringLiteral("No problems found.")))
      << Findings().Summary().toStdString();
  EXPECT_TRUE(Findings().Summary().contains(QStringLiteral("60 record(s) checked")))
      << Findings().Summary().toStdString();
  EXPECT_EQ(Findings().List()->topLevelItemCount(), 0);
  EXPECT_FALSE(Findings().RepairButton()->isEnabled());
  // A check writes nothing.
  EXPECT_EQ(Differences(before, FolderBytes(dir.Path())), std::vector<std::string>{});
}

TEST_F(CheckTable, ChoosingAFindingShowsItsRecordAndTheListStays) {
  Open(SampleTable());
  tolvern::TkxFinding stale;
  stale.part = "index";
  stale.file = (dir.Path() / "sample.cdx").string();
  stale.tag = "NAME";
  stale.code = "stale-key";
  stale.recno = 17;
  stale.detail = "the key does not match the record";
  tolvern::TkxFinding general = stale;
  general.recno = 0;
  tolvern::TkxFinding beyond = stale;
  beyond.recno = 500;
  tolvern::TkxVerifySummary summary;
  summary.records = 60;
  summary.errors = 3;
  Findings().ShowFindings(QString::fromStdString(dir.File("sample.dbf")), {general, stale, beyond},
                          summary);
  ASSERT_TRUE(Findings().isVisible());
  // The file and tag show where a finding names them.
  EXPECT_FALSE(Findings().List()->isColumnHidden(4));
  EXPECT_EQ(Findings().List()->topLevelItem(1)->text(4), QStringLiteral("sample.cdx"));
  EXPECT_EQ(Findings().List()->topLevelItem(1)->text(5), QStringLiteral("NAME"));
  Table().SetRecNo(2);

  DoubleClickRow(0);  // names no record
  EXPECT_EQ(Table().RecNo(), 2);
  DoubleClickRow(1);
  EXPECT_EQ(Table().RecNo(), 17);
  EXPECT_EQ(window->Pages()->currentWidget(), window->BrowsePage());
  EXPECT_TRUE(Findings().isVisible());
  DoubleClickRow(2);  // not in the table: said, and the record stays
  EXPECT_EQ(Table().RecNo(), 17);
  EXPECT_TRUE(window->statusBar()->currentMessage().contains(QStringLiteral("500")));
}

TEST_F(CheckTable, RepairAnsweredNoChangesNothing) {
  OpenSampleCounting(55);
  RunCheck();
  const auto before = FolderBytes(dir.Path());
  Findings().RepairButton()->click();  // the scripted answer is No
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(dialogs.asked.size(), 1) << dialogs.asked.join('\n').toStdString();
  EXPECT_TRUE(dialogs.asked[0].startsWith(QStringLiteral("Repair table|")));
  EXPECT_EQ(Differences(before, FolderBytes(dir.Path())), std::vector<std::string>{});
  EXPECT_TRUE(BackupFolders(dir.Path()).empty());
  EXPECT_TRUE(Table().Active());
}

TEST_F(CheckTable, RepairAnsweredYesMendsTheFileKeepsTheOriginalAndReopensTheTable) {
  const std::string table = OpenSampleCounting(55);
  const std::vector<uint8_t> original = ReadBytes(table);
  const std::vector<std::string> values = Values(table);
  ASSERT_EQ(values.size(), 60u);
  dialogs.confirms.push_back(true);
  QAction* repair = DatabaseAction(QStringLiteral("Repair..."));
  ASSERT_NE(repair, nullptr);
  repair->trigger();
  ASSERT_TRUE(AwaitWork());

  EXPECT_EQ(HeaderCount(table), 60u);
  EXPECT_EQ(Values(table), values);
  const std::vector<fs::path> backups = BackupFolders(dir.Path());
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(ReadBytes(backups[0] / "sample.dbf"), original);
  // The report says what changed and where the originals are.
  ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("repaired")));
  EXPECT_TRUE(dialogs.messages[0].contains(QString::fromStdString(backups[0].string())))
      << dialogs.messages[0].toStdString();
  EXPECT_GE(dialogs.messages[0].count('\n'), 3);
  // The table is open again, whole.
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Grid().rowCount(), 60);
  EXPECT_TRUE(window->Pages()->isVisible());
  EXPECT_TRUE(window->DatabaseMenu()->isEnabled());

  // A second check finds nothing.
  RunCheck();
  EXPECT_TRUE(Findings().Summary().startsWith(QStringLiteral("No problems found.")))
      << Findings().Summary().toStdString();
}

TEST_F(CheckTable, RepairOfATableAnotherProgramHoldsIsRefusedAndTheTableComesBack) {
  const std::string table = OpenSampleCounting(55);
  const int other = ::open(table.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_SH | LOCK_NB), 0);
  const auto before = FolderBytes(dir.Path());
  dialogs.confirms.push_back(true);
  window->Doctor().Repair();
  ASSERT_TRUE(AwaitWork());
  ::close(other);
  ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("in use")))
      << dialogs.messages[0].toStdString();
  EXPECT_EQ(Differences(before, FolderBytes(dir.Path())), std::vector<std::string>{});
  EXPECT_TRUE(BackupFolders(dir.Path()).empty());
  EXPECT_TRUE(Table().Active());
}

TEST_F(CheckTable, TheDamagedIndexMessageOffersTheCheckAndChoosingItRunsIt) {
  const std::string table = CopyTableFiles(SampleTable(), dir.Path());
  SetHeaderCount(table, 55);
  WriteText(dir.Path() / "sample.ntx", std::string(3000, '\xa5'));
  dialogs.choices.push_back(true);
  window->Start({QString::fromStdString(table)});
  ASSERT_EQ(dialogs.offered, QStringList{QStringLiteral("Check table")});
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("sample.ntx")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Findings().isVisible(); }, 30000));
  ASSERT_TRUE(AwaitWork());
  EXPECT_GT(Findings().List()->topLevelItemCount(), 0);

  // Answered with OK, the message runs nothing.
  Findings().hide();
  window->CloseDbf();
  window->Start({QString::fromStdString(table)});
  EXPECT_EQ(dialogs.offered.size(), 2);
  QTest::qWait(100);
  EXPECT_TRUE(AwaitWork());
  EXPECT_FALSE(Findings().isVisible());
}

// ---------------------------------------------------------------------------------------
// Cancel on a generated table of 200,000 records

constexpr int kLargeRecords = 200000;

// A dBase III table of one C(40) field whose header counts one record fewer than it holds.
void WriteLargeTable(const std::string& path) {
  std::vector<uint8_t> header(32 + 32 + 1, 0);
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 15;
  const uint32_t count = kLargeRecords - 1;
  const uint16_t headerSize = static_cast<uint16_t>(header.size());
  const uint16_t recordSize = 1 + 40;
  std::memcpy(&header[4], &count, 4);
  std::memcpy(&header[8], &headerSize, 2);
  std::memcpy(&header[10], &recordSize, 2);
  std::memcpy(&header[32], "NAME", 4);
  header[32 + 11] = 'C';
  header[32 + 16] = 40;
  header.back() = 0x0D;
  std::string bytes(header.begin(), header.end());
  char record[64];
  for (int i = 1; i <= kLargeRecords; ++i) {
    std::snprintf(record, sizeof record, " %-40.40s",
                  QStringLiteral("Customer %1").arg(i).toLatin1().constData());
    bytes.append(record, recordSize);
  }
  bytes += '\x1a';
  WriteText(path, bytes);
  // An index file of the same name gives the check its longest part (every key against
  // its record), so that the Cancel pressed when the dialog shows meets running work.
  tolvern::KXO_dBHandler table(path, true, false);
  const std::string index = path.substr(0, path.size() - 4) + ".ntx";
  table.IndexOn(index, "", 0, true, "", "NAME");
}

TEST_F(CheckTable, CancelStopsTheCheckOfALargeTableAndChangesNoFile) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "200,000 records belong to the plain build";
#endif
  const std::string table = dir.File("large.dbf");
  WriteLargeTable(table);
  window->Start({QString::fromStdString(table)});
  ASSERT_TRUE(Table().Active());
  const auto before = FolderBytes(dir.Path());
  window->Worker().SetDialogDelay(0);
  QString kindShown;
  QObject::connect(&window->Worker(), &TWorkRunner::DialogShown, window.get(), [&] {
    kindShown = window->Worker().Dialog()->KindShown();
    window->Worker().Dialog()->CancelButton()->click();
  });
  RunCheck();
  EXPECT_FALSE(kindShown.isEmpty());
  EXPECT_FALSE(Findings().isVisible());
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(Differences(before, FolderBytes(dir.Path())), std::vector<std::string>{});
  EXPECT_TRUE(Table().Active());
  EXPECT_FALSE(window->Busy());
}

// ---------------------------------------------------------------------------------------
// The commands without a window

class DoctorCommands : public CommandTest {};

TEST_F(DoctorCommands, TheCheckCollectsTheFindingsAndReportsItsProgress) {
  Fresh([](const std::string& table) { SetHeaderCount(table, 55); });
  TCheckTableCommand check(*table);
  TRecordingProgress progress;
  const TCommandOutcome outcome = Run(check, progress);
  EXPECT_TRUE(outcome.done);
  EXPECT_TRUE(outcome.reopen.isEmpty());
  EXPECT_TRUE(table->Active());
  ASSERT_FALSE(progress.kinds.empty());
  EXPECT_EQ(progress.kinds.front(), tolvern::kStatusVerify);
  EXPECT_EQ(static_cast<int>(progress.kinds.size()), progress.finishes);
  bool counted = false;
  for (const tolvern::TkxFinding& finding : check.Findings())
    counted = counted || finding.code == "record-count-too-small";
  EXPECT_TRUE(counted);
  EXPECT_GE(check.Summary().errors, 1);
  EXPECT_EQ(check.TablePath(), QString::fromStdString(path));
}

TEST_F(DoctorCommands, ACheckStoppedAtAnyStepIsACancelThatChangesNoFile) {
  ExpectCleanCancels([this] { return std::make_unique<TCheckTableCommand>(*table); }, [] {},
                     [](const std::string& table) { SetHeaderCount(table, 55); });
}

}  // namespace
}  // namespace fendral::test
