// text_bench TABLE EMPTY TEXT: the window's "Export base in TXT" of TABLE to TEXT, then
// "Import base from TXT" of TEXT into EMPTY (a table with TABLE's fields and no records),
// both through the window's commands offscreen. Prints one line per step: the step, wall
// and CPU milliseconds, and the peak memory above the open window in kilobytes.
// bench/text.sh drives it.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "Unit1.h"

namespace {

long StatusKb(const char* key) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(key))
      return line.mid(static_cast<qsizetype>(std::strlen(key))).trimmed().split(' ')[0].toLong();
  return -1;
}

// Starts a new peak: the kernel forgets the highest resident size so far.
void ResetPeak() {
  QFile refs(QStringLiteral("/proc/self/clear_refs"));
  if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

template <typename Step>
void Measure(const char* name, Step step) {
  QApplication::processEvents();
  const long base = StatusKb("VmRSS:");
  ResetPeak();
  QElapsedTimer clock;
  clock.start();
  const double cpu = CpuMs();
  step();
  const double wall = clock.nsecsElapsed() / 1e6;
  std::printf("%s %.0f %.0f %ld\n", name, wall, CpuMs() - cpu, StatusKb("VmHWM:") - base);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: text_bench TABLE EMPTY TEXT\n");
    return 64;
  }
  QApplication::setOrganizationName(QStringLiteral("FendralBench"));
  QApplication::setApplicationName(QStringLiteral("FendralBench"));
  const QString table = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
  const QString empty = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
  const QString text = QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath();
  fendral::TScriptedDialogs dialogs;
  fendral::TMainWindow window(&dialogs);
  window.show();

  window.Start({table});
  if (!window.Table1().Active()) return 1;
  dialogs.inputs = {text, QStringLiteral(";")};
  Measure("export", [&] { window.ExportText(); });

  window.Start({empty});
  if (!window.Table1().Active()) return 1;
  dialogs.files = {text};
  dialogs.inputs = {QStringLiteral(";")};
  Measure("import", [&] { window.ImportText(); });
  if (!dialogs.messages.isEmpty()) {
    std::fprintf(stderr, "%s\n", dialogs.messages.join('\n').toLocal8Bit().constData());
    return 1;
  }
  return 0;
}
