#!/bin/sh
# The data grid offscreen on a generated 1,000,000-record table: open and paint, jump to the
# last row, switch to an NTX order, set the filter `AMOUNT > 500`, post an edit that moves
# the current record in that order. Beside it, in the same run, `fendral-cli keys` of the
# NTX and `fendral-cli dump --filter` of the table (the yardsticks of the order and filter
# steps). Prints the best of three runs of each as wall and CPU milliseconds, and the peak
# memory of the table open in index order beside that of an empty grid window.
#
# usage: bench/grid.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/grid_bench"
need "$bench" "$cli"
big_table
"$cli" index "$work/big.dbf" "$work/name.ntx" --key NAME >/dev/null

tool() {  # label, command...: best of three, CPU (user + system) and wall milliseconds
  label=$1
  shift
  best_of_three "$@"
  best=$(ms "$cpu")
  printf '%-28s wall %8s ms   cpu %8s ms\n' "$label" "$(ms "$wall")" "$best"
}

tool "fendral-cli keys (NTX)" "$cli" keys "$work/big.dbf" "$work/name.ntx"
keys=$best
tool "fendral-cli dump --filter" "$cli" dump "$work/big.dbf" --filter 'AMOUNT > 500'
filter=$best

for run in 1 2 3; do "$bench" "$work/big.dbf" "$work/name.ntx" >"$work/run$run"; done
echo "grid steps (best of three)      wall ms      cpu ms"
for step in open last order filter post; do
  grep -h "^$step " "$work"/run? | sort -k3 -n | head -1 |
    awk '{ printf "  %-28s %9s %11s\n", $1, $2, $3 }'
done
order=$(grep -h "^order " "$work"/run? | sort -k3 -n | head -1 | awk '{ print $3 }')
filt=$(grep -h "^filter " "$work"/run? | sort -k3 -n | head -1 | awk '{ print $3 }')
echo "order  cpu / keys cpu:   $(echo "scale=2; $order / $keys" | bc)  (target at most 1.5)"
echo "filter cpu / dump cpu:   $(echo "scale=2; $filt / $filter" | bc)  (target at most 1.5)"

empty=$("$bench" --empty | awk '{ print $2 }')
opened=$("$bench" "$work/big.dbf" "$work/name.ntx" --memory | awk '{ print $4 }')
echo "peak memory: empty window $empty KB, table open in index order $opened KB," \
  "difference $(((opened - empty) / 1024)) MB (target under 40)"
