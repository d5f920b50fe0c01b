// Times the data grid over a table dataset on a large table, offscreen: each step ends with
// a synchronous paint of the grid's visible cells.
//   grid_bench TABLE INDEXFILE            the timed steps (below), one line each
//   grid_bench TABLE INDEXFILE --memory   open in the index's order, paint, report memory
//   grid_bench --empty                    an empty grid window, paint, report memory
// Steps: open the table and paint the first screen; jump to the last row; switch to the
// index's order; set the filter `AMOUNT > 500`; post an edit that changes the key of the
// current record in that order. Each line: step, wall milliseconds, CPU milliseconds.
// Deleted records are shown (a browse paints them instead of hiding them).
#include <sys/resource.h>

#include <QApplication>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "Tolvern6DB.h"
#include "dbgrid.h"

namespace {

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

long PeakKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Runs `step` then paints the grid; prints its wall and CPU time.
template <typename Step>
void Measure(const char* label, fendral::TDBGrid& grid, Step step) {
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = CpuMs();
  step();
  QApplication::processEvents();  // the layout and scrolling the step asked for
  grid.viewport()->repaint();
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall).count();
  std::printf("%-12s %9.1f %9.1f\n", label, wallMs, CpuMs() - cpu);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string first = argc > 1 ? argv[1] : "";
  fendral::TDBGrid grid;
  grid.resize(1024, 700);
  grid.OnError = [](const std::exception& e) { std::fprintf(stderr, "grid: %s\n", e.what()); };
  if (first == "--empty") {
    grid.show();
    grid.viewport()->repaint();
    std::printf("peak %ld KB\n", PeakKb());
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: grid_bench TABLE INDEXFILE [--memory] | grid_bench --empty\n");
    return 64;
  }
  const bool memoryOnly = argc > 3 && std::string(argv[3]) == "--memory";
  try {
    fendral::TTolvernDataSet ds;
    fendral::TDataSource source(&ds);
    const QFileInfo table(QString::fromLocal8Bit(argv[1]));
    const QFileInfo index(QString::fromLocal8Bit(argv[2]));
    ds.SetDatabaseName(table.absolutePath());
    ds.SetTableName(table.fileName());
    ds.SetIndexFiles({index.absoluteFilePath()});
    ds.SetUseDeleted(true);
    grid.show();
    if (memoryOnly) {
      ds.SetIndexName(index.completeBaseName());
      ds.Open();
      grid.SetDataSource(&source);
      grid.viewport()->repaint();
      std::printf("rows %d peak %ld KB\n", grid.Model().rowCount(), PeakKb());
      return 0;
    }
    Measure("open", grid, [&] {
      ds.Open();
      grid.SetDataSource(&source);
    });
    Measure("last", grid, [&] { ds.Last(); });
    Measure("order", grid, [&] { ds.SetIndexName(index.completeBaseName()); });
    Measure("filter", grid, [&] {
      ds.SetFilter(QStringLiteral("AMOUNT > 500"));
      ds.SetFiltered(true);
    });
    // The current record (first of the order after the filter) gets a key that sorts last.
    Measure("post", grid, [&] {
      ds.Edit();
      ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("zzzz"));
      ds.Post();
    });
    std::printf("rows %d current row %d peak %ld KB\n", grid.Model().rowCount(),
                grid.Model().CurrentRow(), PeakKb());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
