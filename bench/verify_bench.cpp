// Checks one index file against its table as the table doctor does, and prints the number
// of findings. Run through bench/verify.sh.
//
// usage: verify_bench TABLE INDEXFILE
#include <cstdio>
#include <exception>

#include "kx6_dbsy.h"
#include "kx6_verify_index.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: verify_bench TABLE INDEXFILE\n");
    return 64;
  }
  try {
    tolvern::KXO_dBHandler table(argv[1], false, true);
    long findings = 0;
    tolvern::VerifyIndexFile(
        table, argv[2], [&](const tolvern::TkxFinding&) { ++findings; }, nullptr);
    std::printf("%ld findings\n", findings);
    return findings == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "verify_bench: %s\n", e.what());
    return 1;
  }
}
