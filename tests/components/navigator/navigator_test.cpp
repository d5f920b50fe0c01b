// The navigator bar against an in-memory dataset: layout, enabling, clicks and their events,
// the delete confirmation, hints, the keyboard focus mark and the repeat timer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <memory>
#include <string>
#include <vector>

#include "db_error.h"
#include "memtable.h"
#include "tv_dialogs.h"
#include "tv_navigator.h"

namespace fendral {
namespace {

constexpr TTolvernNavigateBtn kAll[] = {nbTop,  nbPrev,   nbNext, nbBttm,   nbInsert, nbCopy,
                                        nbEdit, nbDelete, nbPost, nbCancel, nbFind,   nbRefresh};

// Answers the bar's questions from the test, remembering what was asked.
class TScriptedDialogs : public IDialogs {
 public:
  bool Confirm(const QString& caption, const QString& text) override {
    asked.push_back(text);
    captions.push_back(caption);
    return answer;
  }
  bool answer = false;
  std::vector<QString> asked;
  std::vector<QString> captions;
};

// An in-memory table whose changes can be forbidden, as a read-only table forbids them.
class TTestTable : public TMemTable {
 public:
  bool readOnly = false;

 protected:
  bool GetCanModify() const override { return !readOnly; }
};

// Which buttons are enabled, as a string of twelve '1'/'0' in bar order (easy to read in a
// failure message).
std::string EnabledPattern(const TTolvernNavigator& bar) {
  std::string pattern;
  for (TTolvernNavigateBtn index : kAll) pattern += bar.Button(index)->isEnabled() ? '1' : '0';
  return pattern;
}

class NavigatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.FieldDefs().Add(QStringLiteral("N"), ftInteger);
    bar = std::make_unique<TTolvernNavigator>();
    bar->SetDialogs(&dialogs);
    bar->OnError = [this](TTolvernNavigator&, const std::exception& error) {
      errors.push_back(QString::fromUtf8(error.what()));
    };
  }

  // Opens the table with `rows` records numbered 1..rows, on the first one, bound to the bar.
  void OpenTable(int rows) {
    table.Open();
    for (int i = 1; i <= rows; ++i) table.AppendRecord({QVariant(i)});
    table.First();
    source.SetDataSet(&table);
    bar->SetDataSource(&source);
  }

  void ShowBar() {
    bar->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bar.get()));
  }

  int Current() const { return table.FieldValue(QStringLiteral("N")).toInt(); }

  TTestTable table;
  TDataSource source;
  TScriptedDialogs dialogs;
  std::unique_ptr<TTolvernNavigator> bar;
  std::vector<QString> errors;
};

// ---------------------------------------------------------------- Layout

TEST_F(NavigatorTest, StartsWithTwelveButtonsOfTwentyPixelsInABarShrunkToThem) {
  EXPECT_EQ(bar->width(), 240);  // created 241 wide; without alignment it fits its buttons
  EXPECT_EQ(bar->height(), 25);
  EXPECT_EQ(bar->VisibleButtons(), TTolvernButtonSet::All());
  EXPECT_EQ(bar->VisibleButtons().Bits(), 4095u);
  for (TTolvernNavigateBtn index : kAll) {
    EXPECT_EQ(bar->Button(index)->geometry(), QRect(index * 20, 0, 20, 25)) << index;
  }
  EXPECT_TRUE(bar->ConfirmDelete());
  EXPECT_FALSE(bar->Flat());
  EXPECT_FALSE(bar->TabStop());
  EXPECT_EQ(bar->FocusedButton(), nbTop);
}

TEST_F(NavigatorTest, AlignedBarSpreadsSparePixelsFromLeftToRight) {
  bar->SetAlign(alBottom);
  ShowBar();
  bar->resize(245, 25);
  EXPECT_EQ(bar->width(), 245);
  int x = 0;
  std::vector<int> wide;
  for (TTolvernNavigateBtn index : kAll) {
    const QRect g = bar->Button(index)->geometry();
    EXPECT_EQ(g.x(), x) << index;
    EXPECT_EQ(g.height(), 25);
    ASSERT_TRUE(g.width() == 20 || g.width() == 21) << index << " is " << g.width();
    if (g.width() == 21) wide.push_back(index);
    x += g.width();
  }
  EXPECT_EQ(x, 245);
  EXPECT_EQ(wide, (std::vector<int>{nbPrev, nbBttm, nbEdit, nbPost, nbFind}));
}

TEST_F(NavigatorTest, UnalignedBarShrinksToTheWidthItsButtonsUse) {
  ShowBar();
  bar->resize(245, 25);
  EXPECT_EQ(bar->width(), 240);
  for (TTolvernNavigateBtn index : kAll) EXPECT_EQ(bar->Button(index)->width(), 20) << index;

  // Too small a bar grows to the buttons' smallest size.
  bar->resize(100, 10);
  EXPECT_EQ(bar->size(), QSize(240, 18));
  EXPECT_EQ(bar->Button(nbRefresh)->geometry(), QRect(220, 0, 20, 18));
}

TEST_F(NavigatorTest, OnlyFirstAndLastShareTheWidthAndTheOthersLieBeyondTheEdge) {
  bar->SetAlign(alBottom);
  ShowBar();
  bar->SetVisibleButtons({nbTop, nbBttm});
  bar->resize(245, 25);
  EXPECT_EQ(bar->Button(nbTop)->geometry(), QRect(0, 0, 122, 25));
  EXPECT_EQ(bar->Button(nbBttm)->geometry(), QRect(122, 0, 123, 25));
  for (TTolvernNavigateBtn index : kAll) {
    if (index == nbTop || index == nbBttm) {
      EXPECT_TRUE(bar->Button(index)->isVisible()) << index;
      continue;
    }
    EXPECT_FALSE(bar->Button(index)->isVisible()) << index;
    EXPECT_GT(bar->Button(index)->x(), bar->width()) << index;
  }

  // Without alignment the two buttons keep their share and the bar fits them exactly.
  bar->SetAlign(alNone);
  EXPECT_EQ(bar->width(), 244);
  EXPECT_EQ(bar->Button(nbBttm)->geometry(), QRect(122, 0, 122, 25));
  EXPECT_EQ(bar->sizeHint().width(), 40);
}

TEST_F(NavigatorTest, AlignedBarTakesTheWidthItsParentsLayoutGivesIt) {
  QWidget page;
  auto* layout = new QVBoxLayout(&page);        // owned by the page
  auto* docked = new TTolvernNavigator(&page);  // owned by the page
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addStretch();
  docked->SetAlign(alBottom);
  layout->addWidget(docked);
  page.resize(500, 200);
  page.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
  EXPECT_EQ(docked->width(), 500);
  EXPECT_EQ(docked->y() + docked->height(), 200);
  const QRect last = docked->Button(nbRefresh)->geometry();
  EXPECT_EQ(last.x() + last.width(), 500);
}

// ---------------------------------------------------------------- Enabling

TEST_F(NavigatorTest, WithoutAnOpenDataSetEveryButtonIsDisabled) {
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");
  bar->SetDataSource(&source);
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");  // no dataset
  source.SetDataSet(&table);
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");  // closed dataset
  table.Open();
  EXPECT_NE(EnabledPattern(*bar), "000000000000");
  table.Close();
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");
}

TEST_F(NavigatorTest, EnablingFollowsThePositionInTheDataSet) {
  //                     TPNBICEDSCFR
  OpenTable(0);
  EXPECT_EQ(EnabledPattern(*bar), "000011100011") << "empty table";
  table.AppendRecord({QVariant(1)});
  table.AppendRecord({QVariant(2)});
  table.AppendRecord({QVariant(3)});
  table.First();
  EXPECT_EQ(EnabledPattern(*bar), "001111110011") << "first record";
  table.Next();
  EXPECT_EQ(EnabledPattern(*bar), "111111110011") << "middle record";
  table.Last();
  EXPECT_EQ(EnabledPattern(*bar), "110011110011") << "last record";
}

TEST_F(NavigatorTest, EnablingWhileEditingOffersOnlySaveCancelAndMoves) {
  //                     TPNBICEDSCFR
  OpenTable(3);
  table.Next();
  table.Edit();
  EXPECT_EQ(EnabledPattern(*bar), "111100001100") << "editing";
  table.Post();
  EXPECT_EQ(EnabledPattern(*bar), "111111110011") << "after save";
  table.Insert();
  EXPECT_EQ(EnabledPattern(*bar).substr(4), "00001100") << "inserting";
  table.Cancel();
  EXPECT_EQ(Current(), 2);
  EXPECT_EQ(EnabledPattern(*bar), "111111110011") << "after cancel";
}

TEST_F(NavigatorTest, CancelledAppendToAnEmptyTableLeavesNothingToDelete) {
  OpenTable(0);
  table.Append();
  EXPECT_FALSE(bar->Button(nbDelete)->isEnabled());
  table.Cancel();
  EXPECT_EQ(EnabledPattern(*bar), "000011100011");
}

TEST_F(NavigatorTest, ReadOnlyDataSetOffersOnlyMovesFindAndRefresh) {
  OpenTable(2);
  table.readOnly = true;
  table.First();
  //                     TPNBICEDSCFR
  EXPECT_EQ(EnabledPattern(*bar), "001100000011");
  table.Last();
  EXPECT_EQ(EnabledPattern(*bar), "110000000011");
}

TEST_F(NavigatorTest, DisabledBarOrSourceDisablesEveryButtonUntilEnabledAgain) {
  OpenTable(3);
  const std::string enabled = EnabledPattern(*bar);
  bar->setEnabled(false);
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");
  bar->setEnabled(true);
  EXPECT_EQ(EnabledPattern(*bar), enabled);
  source.SetEnabled(false);
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");
  source.SetEnabled(true);
  EXPECT_EQ(EnabledPattern(*bar), enabled);
}

TEST_F(NavigatorTest, ADestroyedDataSourceLeavesTheBar) {
  auto ownSource = std::make_unique<TDataSource>(&table);
  table.Open();
  bar->SetDataSource(ownSource.get());
  ASSERT_EQ(bar->DataSource(), ownSource.get());
  ownSource.reset();
  EXPECT_EQ(bar->DataSource(), nullptr);
  EXPECT_EQ(EnabledPattern(*bar), "000000000000");
  int clicks = 0;
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn) { ++clicks; };
  bar->BtnClick(nbNext);
  EXPECT_EQ(clicks, 1);
}

// ---------------------------------------------------------------- Clicks

TEST_F(NavigatorTest, MovingButtonsMoveTheDataSetBetweenBeforeActionAndOnClick) {
  OpenTable(4);
  ShowBar();
  std::vector<std::string> log;
  bar->BeforeAction = [&](TTolvernNavigator& sender, TTolvernNavigateBtn button) {
    EXPECT_EQ(&sender, bar.get());
    log.push_back("before " + std::to_string(button) + " at " + std::to_string(Current()));
  };
  bar->OnClick = [&](TTolvernNavigator& sender, TTolvernNavigateBtn button) {
    EXPECT_EQ(&sender, bar.get());
    log.push_back("click " + std::to_string(button) + " at " + std::to_string(Current()));
  };
  QTest::mouseClick(bar->Button(nbNext), Qt::LeftButton);
  QTest::mouseClick(bar->Button(nbBttm), Qt::LeftButton);
  QTest::mouseClick(bar->Button(nbPrev), Qt::LeftButton);
  QTest::mouseClick(bar->Button(nbTop), Qt::LeftButton);
  EXPECT_EQ(log, (std::vector<std::string>{"before 2 at 1", "click 2 at 2", "before 3 at 2",
                                           "click 3 at 4", "before 1 at 4", "click 1 at 3",
                                           "before 0 at 3", "click 0 at 1"}));
  EXPECT_TRUE(errors.empty());
}

TEST_F(NavigatorTest, EditingButtonsInsertEditSaveCancelAndRefresh) {
  OpenTable(2);
  bar->BtnClick(nbInsert);
  EXPECT_EQ(table.State(), dsInsert);
  table.SetFieldValue(QStringLiteral("N"), 7);
  bar->BtnClick(nbPost);
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(table.RecordCount(), 3);
  EXPECT_EQ(Current(), 7);

  bar->BtnClick(nbEdit);
  EXPECT_EQ(table.State(), dsEdit);
  table.SetFieldValue(QStringLiteral("N"), 8);
  bar->BtnClick(nbCancel);
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(Current(), 7);

  bar->BtnClick(nbRefresh);
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(Current(), 7);
}

TEST_F(NavigatorTest, DeleteAnsweredCancelDeletesNothingButStillRaisesOnClick) {
  OpenTable(3);
  std::vector<TTolvernNavigateBtn> clicks;
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn button) { clicks.push_back(button); };
  dialogs.answer = false;
  bar->BtnClick(nbDelete);
  EXPECT_EQ(table.RecordCount(), 3);
  EXPECT_EQ(Current(), 1);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(dialogs.asked[0], QStringLiteral("Delete record?"));
  EXPECT_EQ(clicks, std::vector<TTolvernNavigateBtn>{nbDelete});

  dialogs.answer = true;
  bar->BtnClick(nbDelete);
  EXPECT_EQ(table.RecordCount(), 2);
  EXPECT_EQ(Current(), 2);
  EXPECT_EQ(dialogs.asked.size(), 2u);

  bar->SetConfirmDelete(false);
  dialogs.answer = false;
  bar->BtnClick(nbDelete);
  EXPECT_EQ(table.RecordCount(), 1);
  EXPECT_EQ(dialogs.asked.size(), 2u) << "no question without ConfirmDelete";
  EXPECT_EQ(clicks.size(), 3u);
}

TEST_F(NavigatorTest, WithoutADataSourceAClickRaisesOnlyOnClick) {
  int before = 0;
  std::vector<TTolvernNavigateBtn> clicks;
  bar->BeforeAction = [&](TTolvernNavigator&, TTolvernNavigateBtn) { ++before; };
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn button) { clicks.push_back(button); };
  bool copied = false;
  bar->OnCopyClick = [&](TDataSet&) { copied = true; };
  bar->BtnClick(nbDelete);
  bar->BtnClick(nbCopy);
  EXPECT_EQ(before, 0);
  EXPECT_FALSE(copied);
  EXPECT_TRUE(dialogs.asked.empty());
  EXPECT_EQ(clicks, (std::vector<TTolvernNavigateBtn>{nbDelete, nbCopy}));

  // A data source over a closed dataset counts as none.
  source.SetDataSet(&table);
  bar->SetDataSource(&source);
  bar->BtnClick(nbNext);
  EXPECT_EQ(before, 0);
  EXPECT_EQ(clicks.size(), 3u);
}

TEST_F(NavigatorTest, CopyAndFindHandTheDataSetToTheirEvents) {
  OpenTable(2);
  std::vector<std::string> log;
  bar->OnCopyClick = [&](TDataSet& dataSet) {
    EXPECT_EQ(&dataSet, &table);
    log.push_back("copy");
  };
  bar->OnFindClick = [&](TDataSet& dataSet) {
    EXPECT_EQ(&dataSet, &table);
    log.push_back("find");
  };
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn button) {
    log.push_back("click " + std::to_string(button));
  };
  bar->BtnClick(nbCopy);
  bar->BtnClick(nbFind);
  EXPECT_EQ(log, (std::vector<std::string>{"copy", "click 5", "find", "click 10"}));
  EXPECT_EQ(table.State(), dsBrowse);
  EXPECT_EQ(table.RecordCount(), 2);

  // Without handlers the buttons do nothing but raise OnClick.
  bar->OnCopyClick = nullptr;
  bar->OnFindClick = nullptr;
  bar->BtnClick(nbCopy);
  EXPECT_EQ(log.back(), "click 5");
}

TEST_F(NavigatorTest, ARefusedOrFailedUserClickIsReportedOnceAndSkipsOnClick) {
  OpenTable(3);
  ShowBar();
  int clicks = 0;
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn) { ++clicks; };
  bar->BeforeAction = [](TTolvernNavigator&, TTolvernNavigateBtn) { Abort(); };
  QTest::mouseClick(bar->Button(nbNext), Qt::LeftButton);
  EXPECT_EQ(Current(), 1);
  EXPECT_TRUE(errors.empty()) << "a silent abort is not reported";

  bar->BeforeAction = nullptr;
  table.BeforePost = [](TDataSet&) { DatabaseError(QStringLiteral("Value out of range")); };
  table.Edit();
  QTest::mouseClick(bar->Button(nbPost), Qt::LeftButton);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], QStringLiteral("Value out of range"));
  EXPECT_EQ(table.State(), dsEdit);
  EXPECT_EQ(clicks, 0);

  // Called by the program, the error reaches the caller.
  EXPECT_THROW(bar->BtnClick(nbPost), EDatabaseError);
}

// ---------------------------------------------------------------- Hints, pictures, look

TEST_F(NavigatorTest, HintsAreToolTipsAndAccessibleNames) {
  const char* defaults[] = {"First record",  "Prior record", "Next record", "Last record",
                            "Append record", " Copy record", "Edit record", "Delete record",
                            "Save record",   "Cancel edit",  "Find record", "Refresh data"};
  for (TTolvernNavigateBtn index : kAll) {
    EXPECT_EQ(bar->Button(index)->toolTip(), QString::fromLatin1(defaults[index])) << index;
    EXPECT_EQ(bar->Button(index)->accessibleName(), QString::fromLatin1(defaults[index]).trimmed())
        << index;
  }

  // Line k replaces hint k unless it is empty; lines past the twelfth are ignored.
  QStringList hints{QStringLiteral("Go to the top"), QString(), QStringLiteral("Forward")};
  for (int i = 3; i < 14; ++i) hints << QStringLiteral("Line %1").arg(i);
  bar->SetHints(hints);
  EXPECT_EQ(bar->Hint(nbTop), QStringLiteral("Go to the top"));
  EXPECT_EQ(bar->Button(nbTop)->accessibleName(), QStringLiteral("Go to the top"));
  EXPECT_EQ(bar->Hint(nbPrev), QStringLiteral("Prior record"));
  EXPECT_EQ(bar->Hint(nbNext), QStringLiteral("Forward"));
  EXPECT_EQ(bar->Hint(nbRefresh), QStringLiteral("Line 11"));

  bar->SetHints({});
  EXPECT_EQ(bar->Hint(nbTop), QStringLiteral("First record"));
  EXPECT_EQ(bar->Hint(nbNext), QStringLiteral("Next record"));
}

TEST_F(NavigatorTest, EveryButtonHasANormalAndADistinctDisabledGlyph) {
  for (TTolvernNavigateBtn index : kAll) {
    const QIcon icon = bar->Button(index)->icon();
    ASSERT_FALSE(icon.isNull()) << index;
    EXPECT_FALSE(icon.availableSizes(QIcon::Normal).isEmpty()) << index;
    ASSERT_FALSE(icon.availableSizes(QIcon::Disabled).isEmpty()) << index;
    const QImage normal = icon.pixmap(QSize(16, 16), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(16, 16), QIcon::Disabled).toImage();
    EXPECT_EQ(normal.size(), QSize(16, 16)) << index;
    EXPECT_NE(normal, disabled) << index;
  }
}

TEST_F(NavigatorTest, FlatReachesEveryButton) {
  bar->SetFlat(true);
  for (TTolvernNavigateBtn index : kAll) EXPECT_TRUE(bar->Button(index)->autoRaise()) << index;
  bar->SetFlat(false);
  for (TTolvernNavigateBtn index : kAll) EXPECT_FALSE(bar->Button(index)->autoRaise()) << index;
}

// ---------------------------------------------------------------- Keyboard and mouse

TEST_F(NavigatorTest, ArrowKeysMoveTheFocusMarkOverVisibleButtonsOnly) {
  bar->SetTabStop(true);
  ShowBar();
  bar->setFocus();
  bar->SetVisibleButtons(TTolvernButtonSet::All().Exclude(nbPrev).Exclude(nbRefresh));
  EXPECT_EQ(bar->FocusedButton(), nbTop);
  QTest::keyClick(bar.get(), Qt::Key_Left);
  EXPECT_EQ(bar->FocusedButton(), nbTop) << "nothing precedes the first button";
  QTest::keyClick(bar.get(), Qt::Key_Right);
  EXPECT_EQ(bar->FocusedButton(), nbNext) << "the hidden prior button is skipped";
  for (int i = 0; i < 20; ++i) QTest::keyClick(bar.get(), Qt::Key_Right);
  EXPECT_EQ(bar->FocusedButton(), nbFind) << "the mark stays on the last visible button";
  QTest::keyClick(bar.get(), Qt::Key_Left);
  EXPECT_EQ(bar->FocusedButton(), nbCancel);

  // Hiding the marked button moves the mark to the first visible one.
  bar->SetVisibleButtons({nbNext, nbBttm});
  EXPECT_EQ(bar->FocusedButton(), nbNext);
}

TEST_F(NavigatorTest, SpaceClicksTheMarkedButtonOnlyWhenEnabled) {
  OpenTable(3);
  bar->SetTabStop(true);
  ShowBar();
  bar->setFocus();
  std::vector<TTolvernNavigateBtn> clicks;
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn button) { clicks.push_back(button); };

  QTest::keyClick(bar.get(), Qt::Key_Space);  // first is disabled on the first record
  EXPECT_TRUE(clicks.empty());
  QTest::keyClick(bar.get(), Qt::Key_Right);
  QTest::keyClick(bar.get(), Qt::Key_Right);
  QTest::keyClick(bar.get(), Qt::Key_Space);
  EXPECT_EQ(Current(), 2);
  QTest::keyClick(bar.get(), Qt::Key_Space);
  EXPECT_EQ(Current(), 3);
  // On the last record a further next finds the end, after which next is disabled.
  QTest::keyClick(bar.get(), Qt::Key_Space);
  EXPECT_EQ(Current(), 3);
  EXPECT_FALSE(bar->Button(nbNext)->isEnabled());
  QTest::keyClick(bar.get(), Qt::Key_Space);
  EXPECT_EQ(clicks, (std::vector<TTolvernNavigateBtn>{nbNext, nbNext, nbNext}));
}

TEST_F(NavigatorTest, PressingAButtonMovesTheMarkAndTakesTheFocusOnlyWithTabStop) {
  OpenTable(3);
  ShowBar();
  QTest::mouseClick(bar->Button(nbNext), Qt::LeftButton);
  EXPECT_EQ(bar->FocusedButton(), nbNext);
  EXPECT_FALSE(bar->hasFocus());

  bar->SetTabStop(true);
  QTest::mouseClick(bar->Button(nbBttm), Qt::LeftButton);
  EXPECT_EQ(bar->FocusedButton(), nbBttm);
  EXPECT_TRUE(bar->hasFocus());
  EXPECT_EQ(Current(), 3);
}

TEST_F(NavigatorTest, HeldNextRepeatsAfter400ThenEvery100Milliseconds) {
  OpenTable(6);
  ShowBar();
  TTolvernNavButton* next = bar->Button(nbNext);
  EXPECT_TRUE(next->RepeatStyle());
  EXPECT_TRUE(bar->Button(nbPrev)->RepeatStyle());
  EXPECT_FALSE(bar->Button(nbBttm)->RepeatStyle());

  QTest::mousePress(next, Qt::LeftButton);
  EXPECT_TRUE(next->RepeatTimer().isActive());
  EXPECT_EQ(next->RepeatTimer().interval(), 400);
  EXPECT_EQ(Current(), 1) << "pressing alone does not move";
  next->RepeatTimerExpired();
  EXPECT_EQ(next->RepeatTimer().interval(), 100);
  EXPECT_EQ(Current(), 2);
  next->RepeatTimerExpired();
  EXPECT_EQ(Current(), 3);
  QTest::mouseRelease(next, Qt::LeftButton);
  EXPECT_FALSE(next->RepeatTimer().isActive());
  EXPECT_EQ(Current(), 4) << "releasing over the button is its click";

  // A button without the repeat style starts no timer.
  QTest::mousePress(bar->Button(nbTop), Qt::LeftButton);
  EXPECT_FALSE(bar->Button(nbTop)->RepeatTimer().isActive());
  QTest::mouseRelease(bar->Button(nbTop), Qt::LeftButton);
  EXPECT_EQ(Current(), 1);
}

TEST_F(NavigatorTest, HeldNextStopsRepeatingAtTheEnd) {
  OpenTable(3);
  ShowBar();
  int clicks = 0;
  bar->OnClick = [&](TTolvernNavigator&, TTolvernNavigateBtn) { ++clicks; };
  TTolvernNavButton* next = bar->Button(nbNext);
  QTest::mousePress(next, Qt::LeftButton);
  next->RepeatTimerExpired();
  next->RepeatTimerExpired();
  EXPECT_EQ(Current(), 3);
  EXPECT_TRUE(next->RepeatTimer().isActive());
  next->RepeatTimerExpired();  // finds the end: next is disabled and stops
  EXPECT_FALSE(next->isEnabled());
  EXPECT_FALSE(next->RepeatTimer().isActive());
  next->RepeatTimerExpired();
  QTest::mouseRelease(next, Qt::LeftButton);
  EXPECT_EQ(clicks, 3);
  EXPECT_EQ(Current(), 3);
  EXPECT_TRUE(errors.empty());
}

TEST_F(NavigatorTest, AFailedRepeatStopsTheTimerAndIsReported) {
  OpenTable(6);
  ShowBar();
  TTolvernNavButton* next = bar->Button(nbNext);
  int actions = 0;
  bar->BeforeAction = [&](TTolvernNavigator&, TTolvernNavigateBtn) {
    if (++actions == 2) DatabaseError(QStringLiteral("Record is locked"));
  };
  QTest::mousePress(next, Qt::LeftButton);
  next->RepeatTimerExpired();
  EXPECT_EQ(Current(), 2);
  EXPECT_TRUE(next->RepeatTimer().isActive());
  next->RepeatTimerExpired();
  EXPECT_FALSE(next->RepeatTimer().isActive());
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], QStringLiteral("Record is locked"));
  EXPECT_EQ(Current(), 2);
  QTest::mouseRelease(next, Qt::LeftButton);
}

}  // namespace
}  // namespace fendral

int main(int argc, char** argv) {
  // Widgets need a platform; without a display the tests draw off screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
