// Fuzz target: a FoxPro .FPT memo file (big-endian header and block headers).
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExerciseMemo<tolvern::KXobjFXMemo20>(data, size, 0xF5, "m.fpt");
  return 0;
}
