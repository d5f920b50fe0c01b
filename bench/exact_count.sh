#!/bin/sh
# "Exact count" on the generated 1,000,000-record table under the filter `AMOUNT > 500`
# (deleted records hidden): 1,000 moves, each followed by the record number and the count
# the status bar shows, with the exact count on and off. Prints the best of three runs of
# each (CPU time, with that run's wall-clock time; open and filter included, as the user
# meets them), the moves alone as the program times them (the one count made when the box
# is checked is timed apart), and the ratio on / off.
#
# usage: bench/exact_count.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/dataset_bench"
need "$bench"
big_table

run() {  # label, on|off: prints the best of three, leaves $best (CPU seconds)
  best_of_three "$bench" "$work/big.dbf" --status 'AMOUNT > 500' "$2"
  best=$cpu
  out=$("$bench" "$work/big.dbf" --status 'AMOUNT > 500' "$2" 2>"$work/status.err")
  moves=$(echo "$out" | awk '{ print $2 }')
  printf '%-26s best cpu %6ss (wall %6ss)   the moves alone %6ss   (%s)\n' "$1" "$cpu" "$wall" \
    "$moves" "$(cat "$work/status.err")"
}

run "exact count off" off
off=$best
run "exact count on" on
on=$best
echo "on / off: $(echo "scale=2; $on / $off" | bc)  (target at most 2)"
