// A damaged index file beside the table never half-opens the window: the records are
// shown, one message names the file and the engine's reason, the index-file list and the
// tag selector mark it, and every command is either usable or disabled.
#include <QFileInfo>

#include "command_test_util.h"

namespace fendral::test {
namespace {

class DamagedIndex : public WindowTest {
 protected:
  // A copy of the sample in the scratch directory; answers the table's path.
  std::string CopySample() { return CopyTableFiles(SampleTable(), dir.Path()); }
  void Start(const std::string& table) { window->Start({QString::fromStdString(table)}); }

  QStringList IndexListTexts() {
    QStringList texts;
    QListWidget* list = Control<QListWidget>(*window->StructurePage(), "IndexFileList");
    for (int row = 0; row < list->count(); ++row) texts << list->item(row)->text();
    return texts;
  }
  QStringList TagSelectorTexts() {
    QStringList texts;
    for (int i = 0; i < Control<QComboBox>(Page(), "TagSelector")->count(); ++i)
      texts << Control<QComboBox>(Page(), "TagSelector")->itemText(i);
    return texts;
  }
  // The table is shown with its 60 records and the commands that act on it are enabled.
  void ExpectTableShown() {
    ASSERT_TRUE(Table().Active());
    EXPECT_TRUE(window->Pages()->isVisible());
    EXPECT_TRUE(window->DatabaseMenu()->isEnabled());
    EXPECT_TRUE(window->CloseAction()->isEnabled());
    EXPECT_EQ(Grid().rowCount(), 60);
    EXPECT_EQ(window->StatusText(0), QStringLiteral("Records: 1/60"));
  }
  void ExpectOneMessageNaming(const QString& file, const QString& reason) {
    ASSERT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();
    const QString& text = dialogs.messages[0];
    EXPECT_TRUE(text.contains(QString::fromStdString(dir.Path().string()) + '/' + file))
        << text.toStdString();
    EXPECT_TRUE(text.contains(reason)) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("will not be kept current"))) << text.toStdString();
  }
};

TEST_F(DamagedIndex, AGarbageNtxNamedLikeTheTableIsNamedAndMarkedWhileTheRecordsAreShown) {
  const std::string table = CopySample();
  WriteText(dir.Path() / "sample.ntx", std::string(3000, '\xa5'));
  Start(table);
  ExpectTableShown();
  ExpectOneMessageNaming(QStringLiteral("sample.ntx"), QStringLiteral("sample.ntx:"));
  EXPECT_EQ(IndexListTexts(),
            (QStringList{QStringLiteral("sample.cdx"), QStringLiteral("sample.ntx (damaged)")}));
  // The sound production index still gives its tags; the damaged file cannot be chosen.
  const QStringList tags = TagSelectorTexts();
  EXPECT_TRUE(tags.contains(QStringLiteral("NAME")));
  ASSERT_TRUE(tags.contains(QStringLiteral("sample.ntx (damaged)")));
  EXPECT_TRUE(Control<QPushButton>(*window->StructurePage(), "ReindexButton")->isEnabled());
  // Listing the index files again marks the file once.
  Control<QCheckBox>(*window->StructurePage(), "AllIndexFiles")->setChecked(true);
  Control<QCheckBox>(*window->StructurePage(), "AllIndexFiles")->setChecked(false);
  EXPECT_EQ(TagSelectorTexts().count(QStringLiteral("sample.ntx (damaged)")), 1);
  EXPECT_TRUE(IndexListTexts().contains(QStringLiteral("sample.ntx (damaged)")));

  // Reindex rebuilds what it can and names the file it could not rebuild.
  window->Reindex();
  ASSERT_TRUE(AwaitWork());
  ASSERT_EQ(dialogs.messages.size(), 2);
  EXPECT_TRUE(dialogs.messages[1].contains(QStringLiteral("could not be rebuilt")));
  EXPECT_TRUE(dialogs.messages[1].contains(QStringLiteral("sample.ntx")));
  EXPECT_FALSE(dialogs.messages[1].contains(QStringLiteral("sample.cdx")));
  ExpectTableShown();

  // Commands on the table work: an edit is stored, the record count stays.
  Table().SetRecNo(2);
  Table().Edit();
  Table().FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("Aachen"));
  Table().Post();
  EXPECT_EQ(Dump(table)[1].value("fields").toObject().value("CITY").toString(),
            QStringLiteral("Aachen"));
  EXPECT_EQ(dialogs.messages.size(), 2);
}

TEST_F(DamagedIndex, AProductionCdxCutShortIsNamedAndReindexRebuildsIt) {
  const std::string table = CopySample();
  const fs::path cdx = dir.Path() / "sample.cdx";
  fs::resize_file(cdx, fs::file_size(cdx) - 512);
  Start(table);
  ExpectTableShown();
  ExpectOneMessageNaming(QStringLiteral("sample.cdx"), QStringLiteral("lies outside the file"));
  EXPECT_EQ(IndexListTexts(), QStringList{QStringLiteral("sample.cdx (damaged)")});
  EXPECT_TRUE(TagSelectorTexts().contains(QStringLiteral("sample.cdx (damaged)")));
  EXPECT_TRUE(Control<QPushButton>(*window->StructurePage(), "ReindexButton")->isEnabled());

  window->Reindex();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(dialogs.messages.size(), 1) << dialogs.messages.join('\n').toStdString();
  EXPECT_EQ(IndexListTexts(), QStringList{QStringLiteral("sample.cdx")});
  const int name = Control<QComboBox>(Page(), "TagSelector")->findText(QStringLiteral("NAME"));
  ASSERT_GT(name, 0);
  Control<QComboBox>(Page(), "TagSelector")->setCurrentIndex(name);
  emit Control<QComboBox>(Page(), "TagSelector")->activated(name);
  EXPECT_EQ(Table().GetCurrentTagName(), QStringLiteral("NAME"));
  EXPECT_EQ(Grid().rowCount(), 60);
  EXPECT_EQ(KeyOrder(table, cdx.string(), "CITY").size(), 60u);
}

TEST_F(DamagedIndex, AnMdxWhoseRootLiesPastTheEndIsNamedAndMarked) {
  const std::string table = CopySample();
  const fs::path mdx = dir.Path() / "sample.mdx";
  ASSERT_EQ(Cli("index " + Quote(table) + " " + Quote(mdx.string()) + " --tag CITY --key CITY"), 0);
  fs::resize_file(mdx, fs::file_size(mdx) - 512);
  Start(table);
  ExpectTableShown();
  ExpectOneMessageNaming(QStringLiteral("sample.mdx"), QStringLiteral("root page"));
  EXPECT_TRUE(IndexListTexts().contains(QStringLiteral("sample.mdx (damaged)")));
  EXPECT_TRUE(IndexListTexts().contains(QStringLiteral("sample.cdx")));
}

TEST_F(DamagedIndex, AFileFoundDamagedAtAWalkIsClosedMarkedAndTheRowsFollowNaturalOrder) {
  const std::string table = CopySample();
  fs::remove(dir.Path() / "sample.cdx");
  const fs::path ntx = dir.Path() / "sample.ntx";
  ASSERT_EQ(Cli("index " + Quote(table) + " " + Quote(ntx.string()) + " --key 'UPPER(NAME)'"), 0);
  // The header is sound; the first page claims 32767 keys.
  std::string bytes = ReadText(ntx);
  bytes[1024] = '\xff';
  bytes[1025] = '\x7f';
  WriteText(ntx, bytes);
  Start(table);
  ExpectTableShown();
  EXPECT_TRUE(dialogs.messages.isEmpty());
  const int tag = Control<QComboBox>(Page(), "TagSelector")
                      ->findText(QStringLiteral("sample"), Qt::MatchFixedString);
  ASSERT_GT(tag, 0);
  Control<QComboBox>(Page(), "TagSelector")->setCurrentIndex(tag);
  emit Control<QComboBox>(Page(), "TagSelector")->activated(tag);
  QTest::qWait(50);
  ExpectOneMessageNaming(QStringLiteral("sample.ntx"), QStringLiteral("32767 keys"));
  EXPECT_TRUE(Table().GetCurrentTagName().isEmpty());
  EXPECT_EQ(Grid().rowCount(), 60);
  EXPECT_EQ(IndexListTexts(), QStringList{QStringLiteral("sample.ntx (damaged)")});
  EXPECT_TRUE(TagSelectorTexts().contains(QStringLiteral("sample.ntx (damaged)")));
  EXPECT_FALSE(TagSelectorTexts().contains(QStringLiteral("sample"), Qt::CaseInsensitive));
  // Reindex mends it: its header can be read.
  window->Reindex();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(dialogs.messages.size(), 1);
  EXPECT_EQ(IndexListTexts(), QStringList{QStringLiteral("sample.ntx")});
  EXPECT_EQ(KeyOrder(table, ntx.string(), "SAMPLE").size(), 60u);
}

TEST_F(DamagedIndex, ATableThatCannotBeOpenedLeavesNoCommandThatActsOnIt) {
  const fs::path bad = dir.Path() / "bad.dbf";
  WriteText(bad, std::string(40, '\x7f'));
  Start(CopySample());
  ASSERT_TRUE(Table().Active());
  Start(bad.string());
  EXPECT_FALSE(Table().Active());
  EXPECT_FALSE(window->Pages()->isVisible());
  EXPECT_FALSE(window->DatabaseMenu()->isEnabled());
  EXPECT_FALSE(window->CloseAction()->isEnabled());
  EXPECT_TRUE(window->StatusText(0).isEmpty());
  EXPECT_TRUE(window->StatusText(1).isEmpty());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Fendral"));
}

}  // namespace
}  // namespace fendral::test
