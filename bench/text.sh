#!/bin/sh
# Text export and import through the window's commands offscreen, on a generated
# 1,000,000-record table: "Export base in TXT" of the table, then "Import base from TXT" of
# that text into an empty table with the same fields. Beside them, in the same run,
# `fendral-cli copy` of the same table (the yardstick). Prints the best of three runs of
# each as wall and CPU milliseconds, the ratios to the copy (target at most 4) and the peak
# memory of each command above the open window (target under 60 MB).
#
# usage: bench/text.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/text_bench"
need "$bench" "$cli"
big_table

copy_baseline

for run in 1 2 3; do
  rm -f "$work/empty.dbf" "$work/big.txt"
  "$cli" copy-structure "$work/big.dbf" "$work/empty.dbf" >/dev/null
  QT_QPA_PLATFORM=offscreen "$bench" "$work/big.dbf" "$work/empty.dbf" "$work/big.txt" \
    >"$work/run$run" 2>"$work/err" || { cat "$work/err"; exit 1; }
done
imported=$("$cli" info "$work/empty.dbf" | python3 -c 'import json,sys; print(json.load(sys.stdin)["records"])')
echo "imported records: $imported, text: $(stat -c %s "$work/big.txt") bytes"
echo "window steps (best of three)   wall ms      cpu ms   peak above window"
for step in export import; do
  grep -h "^$step " "$work"/run? | sort -k3 -n | head -1 |
    awk '{ printf "  %-28s %9s %11s %12.1f MB\n", $1, $2, $3, $4 / 1024 }'
  cpu=$(grep -h "^$step " "$work"/run? | sort -k3 -n | head -1 | awk '{ print $3 }')
  echo "  $step cpu / copy cpu:   $(echo "scale=2; $cpu / $copy" | bc)  (target at most 4)"
done
