#!/bin/sh
# Reads in key order on a generated 1,000,000-record table: `fendral-cli dump --index` and
# the table dataset's walk (First to EOF, every field's display text) in an NTX order and in
# a CDX tag's order, both on the key NAME, beside the natural-order `fendral-cli dump` of
# the same table in the same run. Prints the best of three runs as CPU time (user + system,
# with that run's wall-clock time), the peak resident memory, and each time as a multiple of
# the natural dump.
#
# usage: bench/key_order.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/dataset_bench"
need "$bench" "$cli"
big_table
"$cli" index "$work/big.dbf" "$work/name.ntx" --key NAME >/dev/null
"$cli" index "$work/big.dbf" "$work/name.cdx" --tag NAME --key NAME >/dev/null

measure() {  # label, command...: prints the best of three, leaves $best (CPU seconds)
  label=$1
  shift
  best_of_three "$@"
  best=$cpu
  printf '%-32s best cpu %6ss (wall %6ss)   peak memory %7s KB' "$label" "$cpu" "$wall" "$peak"
  if [ -n "${dump:-}" ]; then printf '   %s x dump' "$(echo "scale=2; $best / $dump" | bc)"; fi
  echo
}

dump=""
measure "fendral-cli dump" "$cli" dump "$work/big.dbf"
dump=$best
measure "fendral-cli dump --index NTX" "$cli" dump "$work/big.dbf" --index "$work/name.ntx"
measure "fendral-cli dump --index CDX" "$cli" dump "$work/big.dbf" --index "$work/name.cdx" \
  --tag NAME
measure "dataset walk, NTX order" "$bench" "$work/big.dbf" "$work/name.ntx"
measure "dataset walk, CDX order" "$bench" "$work/big.dbf" "$work/name.cdx"
