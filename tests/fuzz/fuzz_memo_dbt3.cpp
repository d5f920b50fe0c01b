// Fuzz target: a dBase III .DBT memo file (no block headers, 0x1A end marks).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExerciseMemo<tolvern::KXobjMemo>(data, size, 0x83, "m.dbt");
  return 0;
}
