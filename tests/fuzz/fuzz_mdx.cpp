// Fuzz target: an MDX index file beside a table, opened, walked, searched and changed.
// Input: [table length, 2 bytes little-endian][table][index file].
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExerciseIndex(data, size, fuzz::IndexFormat::kMdx);
  return 0;
}
