#!/bin/sh
# "Modify DBF" (one field added) and "Convert DOS -> ANSII" through the window's commands,
# offscreen, on a generated 1,000,000-record table, beside `fendral-cli copy` of the same
# table in the same run (the yardstick). Each on a fresh copy of the table, best of three
# by CPU time; prints wall and CPU milliseconds, the ratio to the copy, and how far the
# command raised the process's peak memory above that of the open window.
#
# usage: bench/replace.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/replace_bench"
need "$bench" "$cli"
big_table

copy_baseline

for step in modify convert; do
  : >"$work/$step.runs"
  for _ in 1 2 3; do
    rm -rf "$work/run"
    mkdir "$work/run"
    cp "$work/big.dbf" "$work/run/big.dbf"
    QT_QPA_PLATFORM=offscreen "$bench" "$work/run/big.dbf" "$step" >>"$work/$step.runs"
  done
  sort -k3 -n "$work/$step.runs" | head -1 | while read -r name wall cpu before after; do
    printf '%-24s wall %8s ms   cpu %8s ms   cpu / copy cpu %s (target at most 4)\n' \
      "$name" "$wall" "$cpu" "$(echo "scale=2; $cpu / $copy" | bc)"
    echo "  peak memory: window open $before KB, after $step $after KB," \
      "raised by $(((after - before) / 1024)) MB (target under 60)"
  done
done
