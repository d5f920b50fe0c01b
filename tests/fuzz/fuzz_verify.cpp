// Fuzz target: the table check and a dry repair over a table, its memo file and its index
// files from arbitrary bytes. The input is laid out as for fuzz_table and the index
// targets: the first two bytes give the length of the table part; the rest is written as
// the memo file and as a same-named index file of every format, so that both corpora
// feed it. The check must end with findings or the engine's error, never a crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "kx6_eror.h"
#include "kx6_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t tableSize = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string dir = fuzz::ScratchDir();
  const uint8_t* rest = data + 2 + tableSize;
  const size_t restSize = size - 2 - tableSize;
  fuzz::WriteFile(dir + "/t.dbf", data + 2, tableSize);
  for (const char* ext : {".dbt", ".fpt", ".ntx", ".cdx", ".ndx", ".mdx"})
    fuzz::WriteFile(dir + "/t" + ext, rest, restSize);
  try {
    tolvern::TkxVerifyOptions options;
    options.deep = true;
    tolvern::VerifyTable(dir + "/t.dbf", options, [](const tolvern::TkxFinding& f) {
      if (f.code.empty() || f.part.empty()) __builtin_trap();  // every finding is named
    });
    tolvern::TkxRepairOptions repair;
    repair.dryRun = true;
    tolvern::RepairTable(dir + "/t.dbf", repair);
  } catch (const tolvern::ETolvernError&) {
  } catch (const tolvern::ETolvernExpression&) {
  } catch (const tolvern::EConvertError&) {
  }
  return 0;
}
