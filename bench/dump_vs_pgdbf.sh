#!/bin/sh
# Dumps a 1,000,000-record table with fendral-cli and converts the same table with pgdbf,
# side by side, both to /dev/null. Prints the best of three wall-clock times and the peak
# resident memory of each.
#
# usage: bench/dump_vs_pgdbf.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
need "$cli"
command -v pgdbf >/dev/null || { echo "pgdbf is missing (scripts/install-deps installs it)"; exit 1; }
big_table

measure() {  # label, command...: the best wall-clock time of three
  label=$1
  shift
  best_of_three "$@"
  printf '%-22s best %6ss   peak memory %7s KB\n' "$label" "$min_wall" "$peak"
}

measure "fendral-cli dump" "$cli" dump "$work/big.dbf"
measure "pgdbf" pgdbf "$work/big.dbf"
