#!/bin/sh
# The table dataset on a generated 1,000,000-record table: open it and walk First to EOF
# reading every field's display text, in natural order and in an NTX order, beside
# `fendral-cli dump` of the same table to /dev/null in the same run (in natural order, and
# through the same NTX for the walk in its order). Prints the best of three runs as CPU time
# (user + system, with that run's wall-clock time), the peak resident memory of each, and
# the memory of a dataset that only opened the table.
#
# usage: bench/dataset.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/dataset_bench"
need "$bench" "$cli"
big_table
"$cli" index "$work/big.dbf" "$work/name.ntx" --key NAME >/dev/null

measure() {  # label, command...: prints the best of three, leaves $best (CPU seconds)
  label=$1
  shift
  best_of_three "$@"
  best=$cpu
  printf '%-34s best cpu %6ss (wall %6ss)   peak memory %7s KB\n' "$label" "$cpu" "$wall" "$peak"
}

measure "fendral-cli dump" "$cli" dump "$work/big.dbf"
dump=$best
measure "dataset open only" "$bench" "$work/big.dbf" --empty
measure "dataset walk, natural order" "$bench" "$work/big.dbf"
printf '%-34s %s x dump\n' "" "$(echo "scale=2; $best / $dump" | bc)"
measure "dataset walk, values only" "$bench" "$work/big.dbf" --values
printf '%-34s %s x dump\n' "" "$(echo "scale=2; $best / $dump" | bc)"
measure "row reader, every record" "$bench" "$work/big.dbf" --rows
printf '%-34s %s x dump\n' "" "$(echo "scale=2; $best / $dump" | bc)"
measure "dataset walk, NTX order" "$bench" "$work/big.dbf" "$work/name.ntx"
walk=$best
printf '%-34s %s x dump\n' "" "$(echo "scale=2; $walk / $dump" | bc)"
measure "fendral-cli dump --index NTX" "$cli" dump "$work/big.dbf" --index "$work/name.ntx"
printf '%-34s %s x dump in the same order\n' "" "$(echo "scale=2; $walk / $best" | bc)"
