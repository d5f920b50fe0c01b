// worker_bench TABLE TEXT: long work through the window offscreen, the way a user meets it.
// For "Export base in TXT" (of TABLE to TEXT) and for "Find" (of a text no record holds)
// it starts the command as its menu item or key does, presses "Cancel" 100 ms after the
// dialog shows (or a second after the start), and prints one line per command:
//
//   NAME dialog_ms D gap_ms G cancel_ms C worker yes|no
//
// D: from the start to the progress dialog showing (-1: it never showed); G: the longest
// time the window's thread went without handling an event between the start and the end of
// the work (a 5 ms timer keeps events coming); C: from "Cancel" to the end of the work
// (-1: the work had ended before); worker: whether the command ran on the worker thread
// (no: it ran on the window's thread and returned when done). bench/worker.sh drives it.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "Unit1.h"
#include "tv_progressdialog.h"
#include "tv_worker.h"

namespace {

// Notes when the window's thread handles an event, and the longest pause between two.
class TGapWatch : public QObject {
 public:
  void Begin() {
    clock_.start();
    last_ = 0;
    longest_ = 0;
    on_ = true;
  }
  qint64 End() {
    on_ = false;
    return longest_;
  }
  qint64 Now() const { return clock_.elapsed(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (on_) {
      const qint64 now = clock_.elapsed();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 longest_ = 0;
  bool on_ = false;
};

// Runs the event loop until `done` says so (checked every millisecond) or `ms` have passed.
bool RunUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || clock.elapsed() > ms) loop.quit();
  });
  poll.start(1);
  if (!done()) loop.exec();
  return done();
}

void Measure(const char* name, fendral::TMainWindow& window, TGapWatch& watch,
             const std::function<void()>& start) {
  fendral::TWorkRunner& worker = window.Worker();
  qint64 dialogAt = -1;
  const QMetaObject::Connection shown = QObject::connect(
      &worker, &fendral::TWorkRunner::DialogShown, [&] { dialogAt = watch.Now(); });
  watch.Begin();
  start();
  const bool onWorker = window.Busy();
  qint64 cancelMs = -1;
  if (onWorker) {
    // "Cancel" as a user presses it: soon after the dialog shows, or after a second.
    RunUntil(
        [&] {
          return !window.Busy() || watch.Now() >= 1000 ||
                 (dialogAt >= 0 && watch.Now() >= dialogAt + 100);
        },
        600000);
    if (window.Busy()) {
      const qint64 cancelAt = watch.Now();
      if (worker.Dialog()->isVisible())
        worker.Dialog()->CancelButton()->click();
      else
        worker.Cancel();
      RunUntil([&] { return !window.Busy(); }, 600000);
      cancelMs = watch.Now() - cancelAt;
    }
  }
  const qint64 gap = watch.End();
  QObject::disconnect(shown);
  std::printf("%s dialog_ms %lld gap_ms %lld cancel_ms %lld worker %s\n", name,
              static_cast<long long>(dialogAt), static_cast<long long>(gap),
              static_cast<long long>(cancelMs), onWorker ? "yes" : "no");
  std::fflush(stdout);
}

QAction* DatabaseAction(fendral::TMainWindow& window, const QString& text) {
  for (QAction* action : window.DatabaseMenu()->actions())
    if (action->text() == text) return action;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: worker_bench TABLE TEXT\n");
    return 64;
  }
  QApplication::setOrganizationName(QStringLiteral("FendralBench"));
  QApplication::setApplicationName(QStringLiteral("FendralBench"));
  const QString table = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
  const QString text = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
  fendral::TScriptedDialogs dialogs;
  fendral::TMainWindow window(&dialogs);
  window.show();
  window.Start({table});
  if (!window.Table1().Active()) return 1;

  TGapWatch watch;
  app.installEventFilter(&watch);
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  heartbeat.start(5);
  RunUntil([] { return false; }, 200);  // the window painted and settled

  QAction* exportAction = DatabaseAction(window, QStringLiteral("Export base in TXT"));
  if (!exportAction) return 1;
  dialogs.inputs = {text, QStringLiteral(";")};
  Measure("export", window, watch, [&] { exportAction->trigger(); });
  std::printf("file left by the cancelled export: %s\n", QFile::exists(text) ? "yes" : "no");

  dialogs.inputs = {QStringLiteral("no such text in any record")};
  Measure("find", window, watch, [&] { window.Find(); });
  if (!dialogs.messages.isEmpty()) {
    std::fprintf(stderr, "%s\n", dialogs.messages.join('\n').toLocal8Bit().constData());
    return 1;
  }
  return 0;
}
