// startup_bench TABLE: the program's start-up on TABLE, from entering main to the end of
// the main window's first paint (with the table open and its rows painted), printed in
// milliseconds. Run offscreen (QT_QPA_PLATFORM=offscreen); bench/startup.sh drives it.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <cstdio>

#include "Unit1.h"

namespace {

// Stops the clock at the end of the first paint of the browse grid's rows.
class FirstPaint : public QObject {
 public:
  explicit FirstPaint(QElapsedTimer& clock) : clock_(clock) {}
  qint64 elapsed = -1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && elapsed < 0) {
      watched->removeEventFilter(this);
      QCoreApplication::sendEvent(watched, event);  // the paint itself counts
      elapsed = clock_.nsecsElapsed() / 1000;
      QTimer::singleShot(0, qApp, &QCoreApplication::quit);
      return true;
    }
    return false;
  }

 private:
  QElapsedTimer& clock_;
};

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer clock;
  clock.start();
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: startup_bench TABLE\n");
    return 64;
  }
  QApplication::setOrganizationName(QStringLiteral("FendralBench"));
  QApplication::setApplicationName(QStringLiteral("FendralBench"));
  fendral::TScriptedDialogs dialogs;
  fendral::TMainWindow window(&dialogs);
  FirstPaint probe(clock);
  window.BrowsePage()->Grid()->viewport()->installEventFilter(&probe);
  window.show();
  window.Start({QString::fromLocal8Bit(argv[1])});
  if (!window.Table1().Active()) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  QTimer::singleShot(30000, qApp, &QCoreApplication::quit);
  QApplication::exec();
  if (probe.elapsed < 0) return 1;
  std::printf("%.1f\n", probe.elapsed / 1000.0);
  return 0;
}
