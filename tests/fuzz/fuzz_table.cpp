// Fuzz target: a table and its memo file from arbitrary bytes. The first two bytes give
// the length of the table part; the rest is the memo file. Opening, reading every record,
// every field in every form and every memo must either work or raise the engine's error.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_fld.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t tableSize = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string dir = fuzz::ScratchDir();
  fuzz::WriteFile(dir + "/t.dbf", data + 2, tableSize);
  // Both memo kinds, so that every table version finds one.
  fuzz::WriteFile(dir + "/t.dbt", data + 2 + tableSize, size - 2 - tableSize);
  fuzz::WriteFile(dir + "/t.fpt", data + 2 + tableSize, size - 2 - tableSize);
  try {
    tolvern::KXO_dBaseFld table(dir + "/t.dbf", false, false);
    int records = 0;
    for (table.GetRecord(tolvern::PosTop); !table.Eof() && records < 256;
         table.GetRecord(tolvern::PosNext), ++records) {
      for (int f = 1; f <= table.FieldCount(); ++f) {
        try {
          table.GetField(f);
          table.GetFieldText(f);
          table.GetNumber(f);
          table.GetDate(f);
          table.GetLogical(f);
          std::vector<uint8_t> memo;
          table.ReadMemo(f, memo, 1 << 20);
        } catch (const tolvern::ETolvernError&) {
        } catch (const tolvern::EConvertError&) {
        }
      }
    }
  } catch (const tolvern::ETolvernError&) {
  }
  return 0;
}
