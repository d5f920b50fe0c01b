// Times the table dataset on a large table: open it and walk First to EOF reading the
// display text of every field, in natural order or in the order of an index file.
//   dataset_bench TABLE [INDEXFILE]      walk (natural order, or the index's order)
//   dataset_bench TABLE --empty          open only (the memory of an empty walk)
//   dataset_bench TABLE --rows           every record's texts through the row reader
//   dataset_bench TABLE --values         the walk reading every field's value (no text)
//   dataset_bench TABLE --moves          the walk alone, reading no field
//   dataset_bench TABLE --status FILTER on|off
//                                        1,000 moves under FILTER, each followed by the
//                                        record number and count the status bar shows,
//                                        with "Exact count" on or off
// Prints the records seen, the seconds taken (for --status, those of the moves) and a
// checksum of the texts.
#include <QCoreApplication>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <string>

#include "Tolvern6DB.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: dataset_bench TABLE [INDEXFILE|--empty]\n");
    return 64;
  }
  const std::string arg = argc > 2 ? argv[2] : "";
  try {
    auto start = std::chrono::steady_clock::now();
    fendral::TTolvernDataSet ds;
    const QFileInfo table(QString::fromLocal8Bit(argv[1]));
    ds.SetDatabaseName(table.absolutePath());
    ds.SetTableName(table.fileName());
    ds.SetReadOnly(true);
    ds.SetReadAhead(true);
    if (!arg.empty() && arg[0] != '-') {
      ds.SetIndexFiles({QString::fromLocal8Bit(arg.c_str())});
      ds.SetIndexName(QFileInfo(QString::fromLocal8Bit(arg.c_str())).completeBaseName());
    }
    ds.Open();
    long seen = 0;
    size_t checksum = 0;
    if (arg == "--status") {
      if (argc < 5) {
        std::fprintf(stderr, "usage: dataset_bench TABLE --status FILTER on|off\n");
        return 64;
      }
      ds.SetFilter(QString::fromLocal8Bit(argv[3]));
      ds.SetFiltered(true);
      ds.SetExactCount(std::string(argv[4]) == "on");
      ds.First();
      // The one count made when the box is checked, timed apart from the moves.
      const auto countStart = std::chrono::steady_clock::now();
      checksum += static_cast<size_t>(ds.RecordCount());
      const double countSecs =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - countStart).count();
      start = std::chrono::steady_clock::now();  // the moves alone
      for (int i = 0; i < 1000; ++i) {
        if (i % 200 < 120) {
          ds.Next();
        } else {
          ds.Prior();
        }
        checksum += static_cast<size_t>(ds.RecNo()) + static_cast<size_t>(ds.RecordCount());
        ++seen;
      }
      std::fprintf(stderr, "count %d, counting passes %d, the first count %.3f s\n",
                   ds.RecordCount(), ds.CountingPasses(), countSecs);
    } else if (arg == "--rows") {
      auto reader = ds.CreateRowReader();
      auto* table = static_cast<fendral::TTVRowReader*>(reader.get());
      const int count = ds.RecordCount();
      for (int r = 1; r <= count; ++r) {
        for (const QString& text : table->Texts(r)) checksum += text.size();
        ++seen;
      }
    } else if (arg == "--values") {
      const int fields = ds.FieldCount();
      for (ds.First(); !ds.Eof(); ds.Next()) {
        for (int i = 0; i < fields; ++i) checksum += ds.Field(i)->Value().isValid() ? 1 : 0;
        ++seen;
      }
    } else if (arg == "--moves") {
      for (ds.First(); !ds.Eof(); ds.Next()) ++seen;
    } else if (arg != "--empty") {
      const int fields = ds.FieldCount();
      for (ds.First(); !ds.Eof(); ds.Next()) {
        for (int i = 0; i < fields; ++i) checksum += ds.FieldDisplayText(*ds.Field(i)).size();
        ++seen;
      }
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld %.3f %zu\n", seen, secs, checksum);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
