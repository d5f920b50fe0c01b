// Times the table handler on a large table, one operation per run:
//   handler_bench TABLE natural|order|filter|search|pack|copy [ARG]
// natural   reads every record in natural order (read-ahead on, no field decoding)
// order     reads every record in the order of index file ARG
// filter    evaluates the filter ARG on every record, then walks the accepted ones
// search    finds the text ARG (in the last record, say) with SearchText
// pack      deletes every tenth record and packs (the table is changed!)
// copy      copies the table to ARG
// Prints the operation, the records seen and the seconds taken.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"

using tolvern::KXO_dBHandler;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: handler_bench TABLE natural|order|filter|search|pack|copy [ARG]\n");
    return 64;
  }
  const std::string table = argv[1];
  const std::string what = argv[2];
  const std::string arg = argc > 3 ? argv[3] : "";
  try {
    const bool writes = what == "pack";
    KXO_dBHandler t(table, writes, !writes);
    if (what == "pack") {
      for (int32_t r = 10; r <= t.RecordCount(); r += 10) {
        t.GetRecord(r);
        t.Buffer()[0] = '*';
        t.PutRecord(r);
      }
    }
    long seen = 0;
    const auto start = std::chrono::steady_clock::now();
    if (what == "natural") {
      t.SetReadAheadOn(true);
      for (t.GetRecord(tolvern::PosTop); !t.Eof(); t.GetRecord(tolvern::PosNext)) ++seen;
    } else if (what == "order") {
      if (t.OpenIndexFile(arg) != 0) throw tolvern::ETolvernError("cannot open " + arg);
      t.SelectOrder(t.TagByNumber(1)->TagName(), false);
      for (t.GetRecord(tolvern::PosTop); !t.Eof(); t.GetRecord(tolvern::PosNext)) ++seen;
    } else if (what == "filter") {
      t.SetReadAheadOn(true);
      t.SetFilterExpression(arg);
      t.SetFilterActive(true);
      for (t.GetRecord(tolvern::PosTop); !t.Eof(); t.GetRecord(tolvern::PosNext)) ++seen;
    } else if (what == "search") {
      int32_t field = 0;
      int32_t recno = 0;
      if (t.SearchText(arg, field, false, 0, recno)) seen = recno;
    } else if (what == "pack") {
      t.Pack();
      seen = t.RecordCount();
    } else if (what == "copy") {
      t.CopyTable(arg);
      seen = t.RecordCount();
    } else {
      std::fprintf(stderr, "unknown operation %s\n", what.c_str());
      return 64;
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %ld %.3f\n", what.c_str(), seen, secs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
