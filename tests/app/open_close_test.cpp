// Start-up, the open-table and close-table procedures, on the sample and on tables other
// programs wrote (with NTX, NDX, CDX and MDX files named like them).
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "app_test_util.h"

namespace fendral::test {
namespace {

using StartUp = WindowTest;

TEST_F(StartUp, APathArgumentOpensThatTableWithoutADialog) {
  const std::string path = Open(SampleTable());
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join('\n').toStdString();
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Fendral - ") +
                                       QString::fromStdString(dir.Path().string()) +
                                       QStringLiteral("/sample.dbf"));
  EXPECT_TRUE(window->Pages()->isVisible());
  EXPECT_TRUE(window->DatabaseMenu()->isEnabled());
  EXPECT_TRUE(window->CloseAction()->isEnabled());
}

TEST_F(StartUp, WithoutAPathTheOpenDialogComesAtOnceAndCancelLeavesNothingOpen) {
  window->Start({});
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].startsWith(QStringLiteral("Open DBF|")));
  // The dialog offers tables whatever the letter case of their extension.
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("*.dbf")));
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("*.DBF")));
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("*.Dbf")));
  EXPECT_FALSE(Table().Active());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Fendral"));
  EXPECT_FALSE(window->Pages()->isVisible());
  EXPECT_FALSE(window->DatabaseMenu()->isEnabled());
}

TEST_F(StartUp, WithoutAPathTheChosenTableOpens) {
  const std::string path = CopyTableFiles(SampleTable(), dir.Path());
  dialogs.files.push_back(QString::fromStdString(path));
  window->Start({});
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Table().RecordCount(), 60);
}

TEST_F(StartUp, OpenDbfOnAMissingNamePreparesANewTableWithASeededRow) {
  dialogs.files.push_back(QString::fromStdString(dir.File("fresh.dbf")));
  window->OpenDbf();
  EXPECT_FALSE(Table().Active());
  EXPECT_EQ(window->Pages()->currentWidget(), window->StructurePage());
  EXPECT_EQ(window->StatusText(1), QString::fromStdString(dir.File("fresh.dbf")));
  TMemTable& rows = window->StructureTable();
  EXPECT_EQ(rows.FieldValue(QStringLiteral("Name")).toString(), QStringLiteral("NewName"));
  EXPECT_EQ(rows.FieldValue(QStringLiteral("Len")).toInt(), 8);
  EXPECT_EQ(Control<QPushButton>(*window->StructurePage(), "CreateButton")->text(),
            QStringLiteral("Create DBF"));
}

using OpenTable = WindowTest;

TEST_F(OpenTable, TheSampleFillsPanelsStructureTableTagsAndMemoPanel) {
  Open(SampleTable());
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Records: 1/60"));
  EXPECT_TRUE(window->StatusText(1).startsWith(QStringLiteral("Last DBF update: Date: ")));
  EXPECT_TRUE(window->StatusText(1).contains(QStringLiteral(", Time: ")));
  EXPECT_TRUE(window->StatusText(1).endsWith(QStringLiteral(", User: 0")));
  // FPT memo and a CDX: FoxPro locking.
  EXPECT_EQ(window->StatusText(2), QStringLiteral("Locks: FoxPro"));
  EXPECT_EQ(Table().LockProtocol(), tolvern::TkxLokProtocol::FoxLock);

  TMemTable& rows = window->StructureTable();
  EXPECT_EQ(rows.RecordCount(), 7);
  rows.First();
  QStringList seen;
  for (; !rows.Eof(); rows.Next())
    seen << rows.FieldValue("Name").toString() + ":" + rows.FieldValue("DBF Type").toString() +
                ":" + QString::number(rows.FieldValue("Len").toInt()) + ":" +
                QString::number(rows.FieldValue("Dec").toInt());
  EXPECT_EQ(seen.join(' '), QStringLiteral("ID:N:6:0 NAME:C:24:0 CITY:C:16:0 AMOUNT:N:10:2 "
                                           "JOINED:D:8:0 ACTIVE:L:1:0 NOTES:M:10:0"));

  QComboBox* tags = Control<QComboBox>(Page(), "TagSelector");
  ASSERT_GE(tags->count(), 3);
  EXPECT_TRUE(tags->itemText(0).isEmpty());
  EXPECT_TRUE(tags->isEnabled());
  EXPECT_TRUE(Control<TMemoView>(Page(), "MemoView")->isVisibleTo(window.get()));
  EXPECT_EQ(Control<TMemoView>(Page(), "MemoView")->FieldName(), QStringLiteral("NOTES"));
  EXPECT_TRUE(Control<QLineEdit>(*window->StructurePage(), "BlockSizeBox")->isEnabled());
  EXPECT_EQ(Control<QLineEdit>(*window->StructurePage(), "BlockSizeBox")->text(),
            QStringLiteral("64"));
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kFoxPro);
  EXPECT_EQ(Control<QPushButton>(*window->StructurePage(), "CreateButton")->text(),
            QStringLiteral("Modify DBF"));
}

TEST_F(OpenTable, OpeningASecondTableClosesTheFirstAndEverythingItHadOpen) {
  REQUIRE_SHARED();
  Open(SampleTable());
  ASSERT_GT(Table().GetTagCount(), 0);
  const fs::path second = FixturesDir() / "infused-dbf" / "dbase_03.dbf";
  Open(second);
  ASSERT_TRUE(Table().Active());
  EXPECT_EQ(Table().GetTagCount(), 0);
  EXPECT_FALSE(window->Table2().Active());
  EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral("/dbase_03.dbf")));
  EXPECT_FALSE(window->windowTitle().contains(QStringLiteral("sample")));
  EXPECT_EQ(Control<QComboBox>(Page(), "TagSelector")->count(), 0);
  EXPECT_FALSE(Control<QComboBox>(Page(), "TagSelector")->isEnabled());
  // No memo field: no memo panel, no block size.
  EXPECT_FALSE(Control<TMemoView>(Page(), "MemoView")->isVisibleTo(window.get()));
  EXPECT_FALSE(Control<QLineEdit>(*window->StructurePage(), "BlockSizeBox")->isEnabled());
  EXPECT_EQ(window->StatusText(0), QStringLiteral("Records: 1/14"));
  EXPECT_EQ(window->StatusText(2), QStringLiteral("Locks: Default"));
}

TEST_F(OpenTable, CloseDbfEmptiesTheWindow) {
  Open(SampleTable());
  window->CloseDbf();
  EXPECT_FALSE(Table().Active());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Fendral"));
  EXPECT_TRUE(window->StatusText(0).isEmpty());
  EXPECT_TRUE(window->StatusText(1).isEmpty());
  EXPECT_EQ(window->StructureTable().RecordCount(), 0);
  EXPECT_FALSE(window->Pages()->isVisible());
  EXPECT_FALSE(window->CloseAction()->isEnabled());
  EXPECT_EQ(Control<QComboBox>(Page(), "TagSelector")->count(), 0);
}

TEST_F(OpenTable, ADroppedTableOpensAndOpenedTablesAreRememberedNewestFirst) {
  const std::string first = Open(SampleTable());
  fs::create_directory(dir.Path() / "other");
  const std::string second = CopyTableFiles(SampleTable(), dir.Path() / "other");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(second))});
  EXPECT_TRUE(window->OpenDropped(mime));
  EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral("/other/sample.dbf")));
  EXPECT_EQ(Table().RecordCount(), 60);
  const QStringList recent = QSettings().value(QStringLiteral("recent")).toStringList();
  ASSERT_GE(recent.size(), 2);
  EXPECT_EQ(recent[0], QString::fromStdString(second));
  EXPECT_EQ(recent[1], QString::fromStdString(first));
}

TEST_F(OpenTable, ExactCountCountsOnlyTheRecordsShown) {
  const std::string path = Open(SampleTable());
  int live = 0;
  for (const auto& record : Dump(path)) live += record.value("deleted").toBool() ? 0 : 1;
  ASSERT_LT(live, 60);
  Control<QCheckBox>(Page(), "DeletedBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(window->StatusText(0).endsWith(QStringLiteral("/60")));
  Control<QCheckBox>(Page(), "ExactCountBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(window->StatusText(0).endsWith(QStringLiteral("/") + QString::number(live)))
      << window->StatusText(0).toStdString();
}

struct IndexedFixture {
  const char* table;
  const char* protocol;
  uint8_t versionButton;  // expected radio button, 255 when the version leaves it alone
  bool notices;
};

class IndexedFixtures : public WindowTest, public ::testing::WithParamInterface<IndexedFixture> {};

TEST_P(IndexedFixtures, TagsOfTheIndexFilesNamedLikeTheTableAndTheirLockProtocol) {
  REQUIRE_SHARED();
  const IndexedFixture& f = GetParam();
  const std::string path = Open(FixturesDir() / f.table);
  ASSERT_TRUE(Table().Active()) << dialogs.messages.join('\n').toStdString();
  // The selector lists an empty entry and then every tag, in tag-number order.
  QComboBox* tags = Control<QComboBox>(Page(), "TagSelector");
  ASSERT_EQ(tags->count(), Table().GetTagCount() + 1);
  ASSERT_GT(Table().GetTagCount(), 0);
  EXPECT_TRUE(tags->itemText(0).isEmpty());
  for (int n = 1; n <= Table().GetTagCount(); ++n)
    EXPECT_EQ(tags->itemText(n), Table().GetTagName(n));
  // Every listed index file is one named like the table.
  const QString stem = QFileInfo(QString::fromStdString(path)).completeBaseName();
  for (int i = 0; i < Control<QListWidget>(*window->StructurePage(), "IndexFileList")->count(); ++i)
    EXPECT_EQ(
        QFileInfo(Control<QListWidget>(*window->StructurePage(), "IndexFileList")->item(i)->text())
            .completeBaseName()
            .compare(stem, Qt::CaseInsensitive),
        0);
  EXPECT_EQ(window->StatusText(2), QString::fromLatin1(f.protocol));
  if (f.versionButton != 255) {
    EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), f.versionButton);
  }
  EXPECT_EQ(Page().Notice(), f.notices ? QStringLiteral("Visual FoxPro 3.0") : QString());
  EXPECT_EQ(window->StructurePage()->Notice(),
            f.notices ? QStringLiteral("Visual FoxPro 3.0 risk operations") : QString());
  EXPECT_TRUE(Control<QPushButton>(*window->StructurePage(), "ReindexButton")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, IndexedFixtures,
    ::testing::Values(IndexedFixture{"dbd-xbase/ntx-char.dbf", "Locks: Clipper", 255, false},
                      IndexedFixture{"dbd-xbase/ndx-char.dbf", "Locks: Default", 255, false},
                      IndexedFixture{"infused-dbf/foxprodb/calls.dbf", "Locks: FoxPro", 255, true},
                      IndexedFixture{"jdbfdriver/TEST.DBF", "Locks: dBase IV", 255, false}));

TEST_F(OpenTable, VersionNoticesOnlyFor0x30AndTheTypeButtonFromTheVersion) {
  REQUIRE_SHARED();
  Open(FixturesDir() / "infused-dbf" / "dbase_30.dbf");
  EXPECT_EQ(Page().Notice(), QStringLiteral("Visual FoxPro 3.0"));
  EXPECT_EQ(window->StructurePage()->Notice(), QStringLiteral("Visual FoxPro 3.0 risk operations"));
  Open(FixturesDir() / "infused-dbf" / "dbase_83.dbf");
  EXPECT_TRUE(Page().Notice().isEmpty());
  EXPECT_TRUE(window->StructurePage()->Notice().isEmpty());
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kDBaseIII);
  EXPECT_EQ(window->StatusText(2), QStringLiteral("Locks: Default"));
  Open(FixturesDir() / "infused-dbf" / "dbase_f5.dbf");
  EXPECT_TRUE(Page().Notice().isEmpty());
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kFoxPro);
  Open(FixturesDir() / "infused-dbf" / "dbase_8b.dbf");
  EXPECT_EQ(window->StructurePage()->TypeButtonChecked(), TStructurePage::kDBaseIV);
  EXPECT_EQ(window->StatusText(2), QStringLiteral("Locks: dBase IV"));
}

TEST_F(OpenTable, ADamagedTableShowsTheEnginesMessageAndLeavesNothingOpen) {
  const fs::path bad = dir.Path() / "bad.dbf";
  WriteText(bad, std::string(40, '\x7f'));
  window->Start({QString::fromStdString(bad.string())});
  EXPECT_FALSE(Table().Active());
  ASSERT_EQ(dialogs.messages.size(), 1);
  EXPECT_FALSE(dialogs.messages[0].isEmpty());
}

}  // namespace
}  // namespace fendral::test

namespace fendral::test {
namespace {

using MemoWindows = WindowTest;

TEST_F(MemoWindows, AllMemoOpensOneStayOnTopWindowPerMemoFieldShowingTheCurrentRecord) {
  const std::string path = Open(SampleTable());
  Table().SetRecNo(1);
  Control<QCheckBox>(Page(), "AllMemoBox")->click();
  ASSERT_TRUE(AwaitWork());
  QWidget* memoWindow = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->isVisible() && top->windowTitle() == QStringLiteral("Fields: NOTES")) memoWindow = top;
  ASSERT_NE(memoWindow, nullptr);
  EXPECT_TRUE(memoWindow->windowFlags() & Qt::WindowStaysOnTopHint);
  auto* view = memoWindow->findChild<TMemoView*>();
  ASSERT_NE(view, nullptr);
  const QString expected = Dump(path)[0].value("fields").toObject().value("NOTES").toString();
  EXPECT_EQ(view->toPlainText(), expected);
  // Unchecking leaves the windows open.
  Control<QCheckBox>(Page(), "AllMemoBox")->click();
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(memoWindow->isVisible());
}

}  // namespace
}  // namespace fendral::test
