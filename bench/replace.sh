#!/bin/sh
# "Modify DBF" (one field added) and "Convert DOS -> ANSII" through the window's commands,
# offscreen, on a generated 1,000,000-record table, beside `fendral-cli copy` of the same
# table in the same run (the yardstick). Each on a fresh copy of the table, best of three
# by CPU time; prints wall and CPU milliseconds, the ratio to the copy, and how far the
# command raised the process's peak memory above that of the open window.
#
# usage: bench/replace.sh [BUILD_DIR] [RECORDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
records=${2:-1000000}
shared=${FENDRAL_SHARED_DIR:-"$root/../shared"}
bench="$build/bench/replace_bench"
cli="$build/cli/fendral-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$bench" ] || { echo "build replace_bench first ($bench)"; exit 1; }

/usr/bin/python3 "$shared/peers/gen_big.py" "$work/big.dbf" --records "$records" 2>/dev/null
echo "table: $records records, $(stat -c %s "$work/big.dbf") bytes"

best=""
for _ in 1 2 3; do
  rm -f "$work/copy.dbf"
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$cli" copy "$work/big.dbf" "$work/copy.dbf" \
    >/dev/null
  read -r wall user sys <"$work/time"
  cpu=$(echo "($user + $sys) * 1000" | bc)
  if [ -z "$best" ] || [ "$(echo "$cpu < $best" | bc)" = 1 ]; then
    best=$cpu
    bestwall=$(echo "$wall * 1000" | bc)
  fi
done
copy=$best
printf '%-24s wall %8s ms   cpu %8s ms\n' "fendral-cli copy" "$bestwall" "$copy"

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
