// Fuzz target: a dBase IV .DBT memo file (block size in the header, free-block list).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExerciseMemo<tolvern::KXobjMemo4>(data, size, 0x8B, "m.dbt");
  return 0;
}
