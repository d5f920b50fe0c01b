// replace_bench TABLE modify|convert: opens TABLE in the main window offscreen, then runs
// "Modify DBF" (one character field added at the end) or "Convert DOS -> ANSII" through
// the window's command, and prints "<step> <wall ms> <cpu ms> <peak KB before>
// <peak KB after>". bench/replace.sh drives it.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Unit1.h"

namespace {

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3 || (std::strcmp(argv[2], "modify") != 0 && std::strcmp(argv[2], "convert") != 0)) {
    std::fprintf(stderr, "usage: replace_bench TABLE modify|convert\n");
    return 64;
  }
  QApplication::setOrganizationName(QStringLiteral("FendralBench"));
  QApplication::setApplicationName(QStringLiteral("FendralBench"));
  fendral::TScriptedDialogs dialogs;
  fendral::TMainWindow window(&dialogs);
  window.show();
  window.Start({QString::fromLocal8Bit(argv[1])});
  if (!window.Table1().Active()) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  QApplication::processEvents();
  const bool modify = std::strcmp(argv[2], "modify") == 0;
  if (modify) {
    fendral::TMemTable& rows = window.StructureTable();
    const int count = rows.RecordCount();
    rows.Append();
    rows.FieldByName(QStringLiteral("Field"))->SetAsInteger(count + 1);
    rows.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("EXTRA"));
    rows.FieldByName(QStringLiteral("DBF Type"))->SetAsString(QStringLiteral("C"));
    rows.FieldByName(QStringLiteral("Len"))->SetAsInteger(10);
    rows.FieldByName(QStringLiteral("Dec"))->SetAsInteger(0);
    rows.Post();
  }
  const long before = PeakKb();
  QElapsedTimer clock;
  clock.start();
  const double cpu = CpuMs();
  if (modify) {
    window.ModifyDbf();
  } else {
    window.ConvertDosToAnsi();
  }
  const double cpuMs = CpuMs() - cpu;
  const double wallMs = clock.nsecsElapsed() / 1e6;
  if (!dialogs.messages.isEmpty()) {
    std::fprintf(stderr, "%s\n", dialogs.messages.join('\n').toLocal8Bit().constData());
    return 1;
  }
  std::printf("%s %.0f %.0f %ld %ld\n", argv[2], wallMs, cpuMs, before, PeakKb());
  return 0;
}
