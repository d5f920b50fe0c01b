// Copying a record from the browse page, the texts of the browse page and the open dialog,
// and pictures of every table the window opens.
#include <QMenuBar>
#include <cstdio>

#include "app_test_util.h"
#include "kx6_dbsy.h"
#include "tv_screenshots.h"

namespace fendral::test {
namespace {

using Records = WindowTest;

QJsonObject FieldsOf(const QJsonObject& record) { return record.value("fields").toObject(); }

QAction* MenuItem(QMainWindow& window, const QString& text) {
  for (QAction* menu : window.menuBar()->actions())
    if (menu->menu())
      for (QAction* item : menu->menu()->actions())
        if (item->text().section(QLatin1Char('\t'), 0, 0) == text) return item;
  return nullptr;
}

TEST_F(Records, CopyRecordAppendsTheCurrentValuesInEditAndCopiesMemosOnlyWhenPosted) {
  const std::string path = Open(SampleTable());
  const std::string memo = (dir.Path() / "sample.fpt").string();
  const auto before = Dump(path);
  const auto memoSize = fs::file_size(memo);
  ASSERT_FALSE(FieldsOf(before[0]).value("NOTES").toString().isEmpty());

  // Ctrl+Insert in the grid: a new record holding record 1's values, being added.
  Table().SetRecNo(1);
  Page().Grid()->setFocus();
  Press(Qt::Key_Insert, Qt::ControlModifier);
  ASSERT_EQ(Table().State(), dsInsert);
  EXPECT_EQ(Table().FieldByName(QStringLiteral("NAME"))->AsString(),
            FieldsOf(before[0]).value("NAME").toString());
  // Esc drops it: no record, no memo block.
  Press(Qt::Key_Escape);
  EXPECT_EQ(Table().State(), dsBrowse);
  EXPECT_EQ(Dump(path).size(), before.size());
  EXPECT_EQ(fs::file_size(memo), memoSize);

  // The navigator's button; the user changes what differs and posts.
  Table().SetRecNo(1);
  Control<TTolvernNavigator>(Page(), "Navigator")->BtnClick(nbCopy);
  ASSERT_EQ(Table().State(), dsInsert);
  Table().FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("Tartu"));
  Press(Qt::Key_F2);
  ASSERT_EQ(Table().State(), dsBrowse);
  const auto after = Dump(path);
  ASSERT_EQ(after.size(), before.size() + 1);
  QJsonObject expected = FieldsOf(before[0]);
  expected.insert("CITY", QStringLiteral("Tartu"));
  EXPECT_EQ(FieldsOf(after.back()), expected);
  EXPECT_EQ(FieldsOf(after[0]), FieldsOf(before[0])) << "the source keeps its memo";
  EXPECT_GT(fs::file_size(memo), memoSize);

  // The Records menu has it too.
  QAction* item = MenuItem(*window, QStringLiteral("Copy record"));
  ASSERT_NE(item, nullptr);
  Table().SetRecNo(2);
  item->trigger();
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(Table().State(), dsInsert);
  EXPECT_EQ(Table().FieldByName(QStringLiteral("NAME"))->AsString(),
            FieldsOf(before[1]).value("NAME").toString());
  Table().Cancel();
}

TEST_F(Records, TheTagLabelAndTheOpenDialogsFilterSayWhatTheyOffer) {
  EXPECT_EQ(Control<QLabel>(Page(), "TagLabel")->text(), QStringLiteral("Available Index Tag"));
  window->OpenDbf();  // cancelled
  ASSERT_FALSE(dialogs.asked.isEmpty());
  EXPECT_TRUE(dialogs.asked.last().contains(QStringLiteral("|xBase tables (")))
      << dialogs.asked.last().toStdString();
}

// Every fixture table the engine opens and the window shows can be pictured.
TEST(ScreenshotsOfFixtures, EveryTableTheWindowOpensIsPictured) {
  REQUIRE_SHARED();
  int pictured = 0;
  QStringList refused;
  for (const fs::path& fixture : FixtureFiles(".dbf")) {
    try {
      tolvern::KXO_dBHandler probe(fixture.string(), false, true);
    } catch (const std::exception&) {
      continue;  // the engine refuses it
    }
    SCOPED_TRACE(fixture.string());
    TempDir tables;
    TempDir out;
    const std::string path = CopyTableFiles(fixture, tables.Path());
    TScriptedDialogs dialogs;
    TMainWindow window(&dialogs);
    window.resize(800, 400);
    window.show();
    window.Start({QString::fromStdString(path)});
    if (!window.Table1().Active()) {
      // The window said why; nothing to picture.
      refused << QString::fromStdString(fixture.string());
      continue;
    }
    bool ok = false;
    EXPECT_NO_THROW(
        ok = WriteScreenshots(window, dialogs, QString::fromStdString(out.Path().string())));
    EXPECT_TRUE(ok);
    ++pictured;
  }
  EXPECT_GT(pictured, 100);
  std::printf("%d tables pictured; the window refused %d the engine opens:\n%s\n", pictured,
              static_cast<int>(refused.size()), refused.join('\n').toLocal8Bit().constData());
}

}  // namespace
}  // namespace fendral::test
