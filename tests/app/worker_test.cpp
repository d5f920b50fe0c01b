// Long work on the worker thread: the progress dialog after its delay with the kind of work,
// a percentage and "Cancel" (Esc too), the window's event loop running meanwhile, other
// commands refused, the table's views left alone until the work ends, closing while work
// runs; "Find" as a command, alone and through the window on a generated large table.
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "app_test_util.h"
#include "tv_findcommand.h"
#include "tv_progressdialog.h"
#include "tv_worker.h"

namespace fendral::test {
namespace {

// What a test command saw, kept apart from the command (which the window deletes).
struct TTrace {
  std::atomic<bool> release{false};  // the work may end now
  std::atomic<bool> executing{false};
  std::atomic<bool> ended{false};  // Execute has returned or thrown
  std::atomic<int> steps{0};
  bool executedOffTheWindowsThread = false;
  int prepared = 0;
  int finished = 0;
  bool finishSawCancel = false;
  bool finishSawError = false;
  std::atomic<bool> moveTheTable{false};  // Execute moves the table it is given
  std::atomic<bool> reopenTheTable{false};  // Execute closes and opens it again
};

// Reports half of its work done, over and over, until released or cancelled.
class TLoopCommand final : public TCommand {
 public:
  TLoopCommand(TTrace& trace, TTolvernDataSet* table = nullptr) : trace_(trace), table_(table) {}
  QString Title() const override { return QStringLiteral("Test work"); }
  bool Prepare(TAppDialogs&) override {
    ++trace_.prepared;
    return true;
  }
  void Execute(tolvern::TkxProgress& progress) override {
    trace_.executing = true;
    trace_.executedOffTheWindowsThread = QThread::currentThread() != qApp->thread();
    struct Ended {
      TTrace& trace;
      ~Ended() { trace.ended = true; }
    } ended{trace_};
    tolvern::TkxProgressScope scope(&progress, tolvern::kStatusCopy, 1000);
    if (trace_.moveTheTable && table_) table_->SetRecNo(7);
    if (trace_.reopenTheTable && table_) {
      table_->Close();
      table_->Open();
    }
    while (!trace_.release) {
      scope.Step(500);
      ++trace_.steps;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  TCommandOutcome Finish(TAppDialogs&, std::exception_ptr error) override {
    ++trace_.finished;
    TCommandOutcome outcome;
    outcome.done = !error;
    if (error) {
      try {
        std::rethrow_exception(error);
      } catch (const tolvern::ETolvernCancelled&) {
        trace_.finishSawCancel = true;
      } catch (...) {
        trace_.finishSawError = true;
      }
    }
    return outcome;
  }

 private:
  TTrace& trace_;
  TTolvernDataSet* table_;
};

class LongWork : public WindowTest {
 protected:
  TProgressDialog* Dialog() { return window->Worker().Dialog(); }
  bool DialogShows(int ms = 10000) {
    return QTest::qWaitFor([this] { return Dialog() && Dialog()->isVisible(); }, ms);
  }
  void Start(TTrace& trace, TCommandOutcome* seen = nullptr) {
    window->RunCommand(std::make_unique<TLoopCommand>(trace, &Table()),
                       [seen](const TCommandOutcome& outcome) {
                         if (seen) *seen = outcome;
                       });
  }
  QLabel* FrozenPicture() { return window->findChild<QLabel*>(QStringLiteral("FrozenView")); }
};

TEST_F(LongWork, TheDialogShowsOnlyAfterItsDelayWithTheKindAPercentageAndCancel) {
  Open(SampleTable());
  TTrace trace;
  TCommandOutcome seen;
  QElapsedTimer clock;
  clock.start();
  Start(trace, &seen);
  // RunCommand returned at once: the work goes on elsewhere, the dialog is not up yet.
  EXPECT_TRUE(window->Busy());
  EXPECT_EQ(trace.prepared, 1);
  EXPECT_FALSE(Dialog()->isVisible());
  ASSERT_TRUE(DialogShows());
  EXPECT_GE(clock.elapsed(), TWorkRunner::kDialogDelayMs - 1);
  EXPECT_TRUE(trace.executedOffTheWindowsThread);
  EXPECT_EQ(Dialog()->windowTitle(), QStringLiteral("Test work"));
  EXPECT_EQ(Dialog()->KindShown(), QStringLiteral("Copying records"));
  EXPECT_TRUE(QTest::qWaitFor([this] { return Dialog()->PercentShown() == 50; }, 5000))
      << Dialog()->PercentShown();
  EXPECT_EQ(Dialog()->CancelButton()->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(Dialog()->CancelButton()->isEnabled());
  EXPECT_EQ(Dialog()->windowModality(), Qt::WindowModal);

  trace.release = true;
  ASSERT_TRUE(AwaitWork());
  EXPECT_FALSE(Dialog()->isVisible());
  EXPECT_EQ(trace.finished, 1);
  EXPECT_FALSE(trace.finishSawCancel);
  EXPECT_TRUE(seen.done);
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
}

TEST_F(LongWork, CancelAndEscStopTheWorkAndFinishSeesTheCancel) {
  Open(SampleTable());
  for (const bool byEsc : {false, true}) {
    SCOPED_TRACE(byEsc ? "Esc" : "Cancel");
    TTrace trace;
    TCommandOutcome seen;
    Start(trace, &seen);
    ASSERT_TRUE(DialogShows());
    if (byEsc)
      QTest::keyClick(Dialog(), Qt::Key_Escape);
    else
      Dialog()->CancelButton()->click();
    // The dialog says so and takes no second press while the work stops.
    EXPECT_FALSE(Dialog()->CancelButton()->isEnabled());
    ASSERT_TRUE(AwaitWork(10000));
    EXPECT_TRUE(trace.ended);
    EXPECT_FALSE(trace.release) << "stopped by the cancel, not by running out";
    EXPECT_EQ(trace.finished, 1);
    EXPECT_TRUE(trace.finishSawCancel);
    EXPECT_TRUE(seen.cancelled);
    EXPECT_FALSE(seen.done);
    EXPECT_FALSE(Dialog()->isVisible());
    // A cancel is no error: nothing is shown.
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
  }

  // Esc on the window itself, before the dialog is up, stops the work just the same.
  TTrace trace;
  Start(trace);
  QTest::keyClick(window->menuBar(), Qt::Key_Escape);
  ASSERT_TRUE(AwaitWork(10000));
  EXPECT_TRUE(trace.finishSawCancel);
  EXPECT_TRUE(window->isVisible());
}

TEST_F(LongWork, TheWindowsLoopRunsMeanwhileAndOtherCommandsAreRefused) {
  const std::string path = Open(SampleTable());
  TTrace trace;
  bool ran = false;
  bool ranDuringTheWork = false;
  bool menusOff = false;
  bool pagesHidden = false;
  bool pictureShown = false;
  QString pictureName;
  bool controlsHeld = false;
  TTrace second;
  QTimer::singleShot(0, window.get(), [&] {
    ran = true;
    ranDuringTheWork = window->Busy() && !trace.ended;
    menusOff = !window->menuBar()->isEnabled();
    pagesHidden = !window->Pages()->isVisible();
    pictureShown = FrozenPicture() && FrozenPicture()->isVisible();
    if (FrozenPicture()) pictureName = FrozenPicture()->accessibleName();
    controlsHeld = Table().ControlsDisabled();
    // Everything else is refused: no question is asked, nothing changes.
    window->OpenDbf();
    window->Find();
    window->RunCommand(std::make_unique<TLoopCommand>(second));
    Press(Qt::Key_F8);
    Press(Qt::Key_F7);
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    EXPECT_FALSE(window->OpenDropped(drop));
    trace.release = true;
  });
  Start(trace);
  ASSERT_TRUE(AwaitWork());
  ASSERT_TRUE(ran);
  EXPECT_TRUE(ranDuringTheWork);
  EXPECT_TRUE(menusOff);
  EXPECT_TRUE(pagesHidden);
  EXPECT_TRUE(pictureShown);
  EXPECT_EQ(pictureName, QStringLiteral("Test work"));
  EXPECT_TRUE(controlsHeld);
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join('\n').toStdString();
  EXPECT_EQ(second.prepared, 0);
  // Afterwards everything is back as it was.
  EXPECT_TRUE(window->menuBar()->isEnabled());
  EXPECT_TRUE(window->Pages()->isVisible());
  EXPECT_TRUE(window->Pages()->isEnabled());
  EXPECT_EQ(FrozenPicture(), nullptr);
  EXPECT_FALSE(Table().ControlsDisabled());
  EXPECT_FALSE(Dump(path)[0].value("deleted").toBool());  // F8 marked nothing
}

TEST_F(LongWork, TheTablesViewsHearNothingUntilTheWorkEndsThenFollowIt) {
  Open(SampleTable());
  Table().SetRecNo(2);
  TDataSource probe(&Table());
  std::atomic<int> offThread{0};
  int heard = 0;
  probe.OnDataChange = [&](TDataSource&, TField*) {
    if (QThread::currentThread() != qApp->thread()) ++offThread;
    ++heard;
  };
  // A record edit is posted before the work gets the table.
  Table().Edit();
  Table().FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("Tartu"));
  TTrace trace;
  trace.moveTheTable = true;
  Start(trace);
  EXPECT_EQ(Table().State(), dsBrowse);
  heard = 0;
  ASSERT_TRUE(QTest::qWaitFor([&] { return trace.steps > 5; }, 10000));
  EXPECT_EQ(heard, 0);
  trace.release = true;
  ASSERT_TRUE(AwaitWork());
  EXPECT_EQ(offThread, 0);
  EXPECT_GE(heard, 1);  // told once, on this thread, when the work ended
  EXPECT_EQ(Table().RecNo(), 7);
  EXPECT_TRUE(window->StatusText(0).startsWith(QStringLiteral("Records: 7/")))
      << window->StatusText(0).toStdString();
  Table().SetRecNo(2);
  EXPECT_EQ(Table().FieldByName(QStringLiteral("CITY"))->AsString().trimmed(),
            QStringLiteral("Tartu"));
}

TEST_F(LongWork, WorkThatClosesAndOpensTheTableIsNotHeardOnItsThread) {
  Open(SampleTable());
  std::atomic<int> offThread{0};
  int changes = 0;
  window->Source().OnStateChange = [&](TDataSource&) {
    if (QThread::currentThread() != qApp->thread()) ++offThread;
    ++changes;
  };
  TTrace trace;
  trace.reopenTheTable = true;
  Start(trace);
  ASSERT_TRUE(QTest::qWaitFor([&] { return trace.steps > 5; }, 10000));
  trace.release = true;
  ASSERT_TRUE(AwaitWork());
  window->Source().OnStateChange = nullptr;
  EXPECT_EQ(offThread, 0);
  EXPECT_GE(changes, 1);  // active again, told here
  EXPECT_EQ(window->Source().State(), dsBrowse);
  EXPECT_EQ(Grid().rowCount(), 60);
}

TEST_F(LongWork, ClosingAsksAndYesCancelsTheWorkThenCloses) {
  Open(SampleTable());
  TTrace trace;
  Start(trace);
  ASSERT_TRUE(DialogShows());
  const QString question = QStringLiteral("Fendral|Cancel the work in progress and close?");
  window->close();  // No: the work goes on
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(dialogs.asked.count(question), 1);
  QTest::qWait(50);
  EXPECT_TRUE(window->Busy());
  EXPECT_FALSE(trace.ended);

  dialogs.confirms.push_back(true);
  window->close();
  EXPECT_EQ(dialogs.asked.count(question), 2);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !window->isVisible(); }, 10000));
  EXPECT_TRUE(trace.finishSawCancel);
  EXPECT_FALSE(trace.release);
}

// Answers the close question only after the work has ended behind it, as a user who
// reads slowly does: the window's loop runs while it is open, as a message box's does.
class TSlowAnswer : public TScriptedDialogs {
 public:
  TTrace* trace = nullptr;
  int finishedWhileAsked = -1;
  bool ConfirmDefaultNo(const QString& caption, const QString& text) override {
    trace->release = true;
    if (!QTest::qWaitFor([this] { return trace->ended.load(); }, 10000)) return false;
    QTest::qWait(100);  // the end of the work is on its way to the window meanwhile
    finishedWhileAsked = trace->finished;
    return TScriptedDialogs::ConfirmDefaultNo(caption, text);
  }
};

TEST(LongWorkClosing, WorkEndingWhileTheCloseQuestionIsOpenEndsAfterTheAnswer) {
  TempDir dir;
  TSlowAnswer dialogs;
  auto window = std::make_unique<TMainWindow>(&dialogs);
  window->show();
  const std::string path = CopyTableFiles(SampleTable(), dir.Path());
  window->Start({QString::fromStdString(path)});
  TTrace trace;
  dialogs.trace = &trace;
  window->RunCommand(std::make_unique<TLoopCommand>(trace));
  dialogs.confirms.push_back(false);
  window->close();
  EXPECT_EQ(dialogs.finishedWhileAsked, 0);
  EXPECT_EQ(trace.finished, 1);
  EXPECT_FALSE(window->Busy());
  EXPECT_TRUE(window->isVisible());
}

TEST(WorkProgress, PercentKindAndCancel) {
  TWorkProgress progress;
  EXPECT_EQ(progress.Percent(), -1);
  EXPECT_EQ(progress.Kind(), 0);
  progress.Start(tolvern::kStatusExport, 0);
  EXPECT_EQ(progress.Percent(), -1);  // nothing to count
  progress.Start(tolvern::kStatusExport, 400);
  EXPECT_EQ(progress.Kind(), tolvern::kStatusExport);
  EXPECT_TRUE(progress.Step(100));
  EXPECT_EQ(progress.Percent(), 25);
  EXPECT_TRUE(progress.Step(900));
  EXPECT_EQ(progress.Percent(), 100);
  progress.Start(tolvern::kStatusIndexWrite, INT64_MAX);
  EXPECT_TRUE(progress.Step(INT64_MAX / 2));
  EXPECT_EQ(progress.Percent(), 49);
  progress.Cancel();
  EXPECT_FALSE(progress.Step(1));
  EXPECT_TRUE(progress.Cancelled());
}

TEST(ProgressDialog, EveryKindOfWorkHasItsWords) {
  for (const int32_t kind :
       {tolvern::kStatusIndexRead, tolvern::kStatusIndexWrite, tolvern::kStatusCopy,
        tolvern::kStatusPack, tolvern::kStatusSearch, tolvern::kStatusExport,
        tolvern::kStatusImport, tolvern::kStatusRebuild})
    EXPECT_FALSE(TProgressDialog::KindText(kind).isEmpty()) << kind;
  TProgressDialog dialog(nullptr);
  dialog.Reset(QStringLiteral("Pack"));
  dialog.ShowProgress(999, -1);
  EXPECT_EQ(dialog.KindShown(), QStringLiteral("Pack"));  // no words: the title
  EXPECT_EQ(dialog.PercentShown(), -1);
  dialog.ShowProgress(tolvern::kStatusPack, 40);
  EXPECT_EQ(dialog.KindShown(), QStringLiteral("Packing"));
  EXPECT_EQ(dialog.PercentShown(), 40);
}

// ---------------------------------------------------------------------------------------
// Find as a command

class FindCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    path = CopyTableFiles(SampleTable(), dir.Path());
    table.SetDatabaseName(QString::fromStdString(dir.Path().string()));
    table.SetTableName(QStringLiteral("sample.dbf"));
    table.Open();
    for (const QJsonObject& record : Dump(path)) {
      records.push_back(record);
    }
  }
  // Record numbers whose text of some field holds `text` (ignoring case).
  std::vector<int> Matches(const QString& text) {
    std::vector<int> found;
    for (const auto& record : records)
      for (const auto& value : record.value("fields").toObject())
        if (value.isString() && value.toString().contains(text, Qt::CaseInsensitive)) {
          found.push_back(record.value("recno").toInt());
          break;
        }
    return found;
  }

  TempDir dir;
  std::string path;
  TTolvernDataSet table;
  std::vector<QJsonObject> records;
  TScriptedDialogs dialogs;
  tolvern::TkxNoProgress quiet;
};

TEST_F(FindCommand, FindsFromTheFirstRecordThenAfterTheCurrentOneIgnoringCase) {
  const QString city = records[0].value("fields").toObject().value("CITY").toString().trimmed();
  const std::vector<int> matches = Matches(city);
  ASSERT_GE(matches.size(), 2u);
  QString last = QStringLiteral("before");
  table.SetRecNo(matches[1]);  // Find starts at the first record whatever is current
  dialogs.inputs = {city.toLower()};
  TFindCommand find(table, last, TFindCommand::TFrom::kFirst);
  const TCommandOutcome outcome = RunCommandNow(find, dialogs, quiet);
  EXPECT_TRUE(dialogs.asked.contains(QStringLiteral("Find|Text to find:")));
  EXPECT_EQ(last, city.toUpper());
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 1);
  EXPECT_EQ(table.RecNo(), matches[0]);
  EXPECT_EQ(table.Field(find.FoundField() - 1)->FieldName(), QStringLiteral("CITY"));

  TFindCommand next(table, last, TFindCommand::TFrom::kAfterCurrent);
  RunCommandNow(next, dialogs, quiet);
  EXPECT_EQ(table.RecNo(), matches[1]);
  EXPECT_EQ(dialogs.asked.size(), 1);  // Find next asks nothing
  EXPECT_EQ(table.Handler()->SearchOptions, 0);
}

TEST_F(FindCommand, NothingFoundCancelledOrEmptyLeavesTheRecordWhereItWas) {
  table.SetRecNo(5);
  QString last;
  dialogs.inputs = {QStringLiteral("no such text anywhere")};
  TFindCommand find(table, last, TFindCommand::TFrom::kFirst);
  const TCommandOutcome outcome = RunCommandNow(find, dialogs, quiet);
  EXPECT_TRUE(outcome.done);
  EXPECT_EQ(outcome.records, 0);
  EXPECT_EQ(find.FoundField(), 0);
  EXPECT_EQ(table.RecNo(), 5);

  // The input box cancelled: nothing is searched and the last text stays.
  TFindCommand cancelled(table, last, TFindCommand::TFrom::kFirst);
  EXPECT_FALSE(cancelled.Prepare(dialogs));
  EXPECT_EQ(last, QStringLiteral("NO SUCH TEXT ANYWHERE"));
  // An empty answer is kept as the last text, and nothing is searched.
  dialogs.inputs = {QString(QLatin1String(""))};
  TFindCommand empty(table, last, TFindCommand::TFrom::kFirst);
  EXPECT_FALSE(empty.Prepare(dialogs));
  EXPECT_TRUE(last.isEmpty());
  TFindCommand next(table, last, TFindCommand::TFrom::kAfterCurrent);
  EXPECT_FALSE(next.Prepare(dialogs));
  EXPECT_EQ(table.RecNo(), 5);
}

TEST_F(FindCommand, ReportsItsKindOfWorkAndLeavesTheTablesProgressAsItWas) {
  class TRecording final : public tolvern::TkxProgress {
   public:
    std::vector<int32_t> kinds;
    void Start(int32_t kind, int64_t) override { kinds.push_back(kind); }
    bool Step(int64_t) override { return true; }
    void Finish() override {}
  } recording;
  tolvern::TkxNoProgress own;
  table.SetProgress(&own);
  QString last = QStringLiteral("X");
  TFindCommand next(table, last, TFindCommand::TFrom::kAfterCurrent);
  RunCommandNow(next, dialogs, recording);
  ASSERT_FALSE(recording.kinds.empty());
  EXPECT_EQ(recording.kinds.front(), tolvern::kStatusSearch);
  EXPECT_EQ(table.Progress(), &own);
}

// ---------------------------------------------------------------------------------------
// The window on a generated table of 200,000 records

constexpr int kLargeRecords = 200000;

// A dBase III table: NAME C(20), CITY C(20), AMOUNT N(10,2). Only the last record's CITY
// is "NEEDLE".
void WriteLargeTable(const std::string& path) {
  std::vector<uint8_t> header(32 + 3 * 32 + 1, 0);
  header[0] = 0x03;
  header[1] = 124;
  header[2] = 1;
  header[3] = 15;
  const uint32_t count = kLargeRecords;
  const uint16_t headerSize = static_cast<uint16_t>(header.size());
  const uint16_t recordSize = 1 + 20 + 20 + 10;
  std::memcpy(&header[4], &count, 4);
  std::memcpy(&header[8], &headerSize, 2);
  std::memcpy(&header[10], &recordSize, 2);
  const auto field = [&](int n, const char* name, char type, uint8_t length, uint8_t decimals) {
    uint8_t* f = &header[static_cast<size_t>(32 + 32 * n)];
    std::memcpy(f, name, std::strlen(name));
    f[11] = static_cast<uint8_t>(type);
    f[16] = length;
    f[17] = decimals;
  };
  field(0, "NAME", 'C', 20, 0);
  field(1, "CITY", 'C', 20, 0);
  field(2, "AMOUNT", 'N', 10, 2);
  header.back() = 0x0D;
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(header.data(), 1, header.size(), out);
  static const char* const kCities[] = {"Tallinn", "Riga", "Vilnius", "Helsinki", "Oslo"};
  char record[64];
  for (int i = 1; i <= kLargeRecords; ++i) {
    const char* city = i == kLargeRecords ? "NEEDLE" : kCities[i % 5];
    std::snprintf(record, sizeof record, " %-20.20s%-20.20s%10.2f",
                  QStringLiteral("Customer %1").arg(i).toLatin1().constData(), city,
                  (i % 5000) * 0.25);
    std::fwrite(record, 1, recordSize, out);
  }
  std::fputc(0x1A, out);
  std::fclose(out);
}

class LargeTable : public LongWork {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "200,000 records belong to the plain build";
#endif
    LongWork::SetUp();
    table = dir.File("large.dbf");
    WriteLargeTable(table);
    window->Start({QString::fromStdString(table)});
    ASSERT_TRUE(Table().Active());
    ASSERT_EQ(Table().RecordCount(), kLargeRecords);
    // Shown at once, so that short work on a fast machine shows it too.
    window->Worker().SetDialogDelay(0);
  }
  QAction* DatabaseAction(const QString& text) {
    for (QAction* action : window->DatabaseMenu()->actions())
      if (action->text() == text) return action;
    return nullptr;
  }
  std::string table;
};

TEST_F(LargeTable, FindRunsOnTheWorkerWithTheDialogWhileTheWindowsLoopRuns) {
  bool queuedRan = false;
  bool queuedDuringTheSearch = false;
  QString kindShown;
  bool cancelShown = false;
  QObject::connect(&window->Worker(), &TWorkRunner::DialogShown, window.get(), [&] {
    kindShown = Dialog()->KindShown();
    cancelShown = Dialog()->CancelButton()->isVisible();
  });
  QTimer::singleShot(0, window.get(), [&] {
    queuedRan = true;
    queuedDuringTheSearch = window->Busy();
  });
  dialogs.inputs = {QStringLiteral("needle")};
  Press(Qt::Key_F7);
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(queuedRan);
  EXPECT_TRUE(queuedDuringTheSearch);
  EXPECT_EQ(kindShown, QStringLiteral("Searching"));
  EXPECT_TRUE(cancelShown);
  EXPECT_EQ(Table().RecNo(), kLargeRecords);
  EXPECT_EQ(window->BrowsePage()->Grid()->currentIndex().column(), Column(QStringLiteral("CITY")));
  EXPECT_TRUE(window->StatusText(0).startsWith(QStringLiteral("Records: 200000/")));
}

TEST_F(LargeTable, CancelStopsAFindAndLeavesTheRecordWhereItWas) {
  Table().SetRecNo(3);
  QObject::connect(&window->Worker(), &TWorkRunner::DialogShown, window.get(),
                   [&] { Dialog()->CancelButton()->click(); });
  dialogs.inputs = {QStringLiteral("no such text anywhere")};
  window->Find();
  ASSERT_TRUE(AwaitWork());
  EXPECT_FALSE(window->statusBar()->currentMessage().contains(QStringLiteral("not found")));
  EXPECT_EQ(Table().RecNo(), 3);
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
}

TEST_F(LargeTable, ExportShowsTheDialogTheLoopRunsAndCancelLeavesNoFile) {
  const std::string text = dir.File("large.txt");
  bool queuedRan = false;
  bool queuedDuringTheExport = false;
  bool cancelShown = false;
  QObject::connect(&window->Worker(), &TWorkRunner::DialogShown, window.get(), [&] {
    cancelShown = Dialog()->CancelButton()->isVisible();
    QTimer::singleShot(0, window.get(), [&] {
      queuedRan = true;
      queuedDuringTheExport = window->Busy();
      Dialog()->CancelButton()->click();
    });
  });
  dialogs.inputs = {QString::fromStdString(text), QStringLiteral(";")};
  QAction* exportAction = DatabaseAction(QStringLiteral("Export base in TXT"));
  ASSERT_NE(exportAction, nullptr);
  exportAction->trigger();
  ASSERT_TRUE(window->Busy()) << "the export must run on the worker";
  ASSERT_TRUE(AwaitWork());
  EXPECT_TRUE(cancelShown);
  EXPECT_TRUE(queuedRan);
  EXPECT_TRUE(queuedDuringTheExport);
  EXPECT_FALSE(fs::exists(text));
  EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('\n').toStdString();
}

}  // namespace
}  // namespace fendral::test
