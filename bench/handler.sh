#!/bin/sh
# The table handler on a generated 1,000,000-record table against the raw limit, a plain
# sequential read() of the same file, measured in the same run.
#
# usage: bench/handler.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
bench="$build/bench/handler_bench"
need "$bench" "$cli"
big_table
raw_scan
"$cli" index "$work/big.dbf" "$work/name.ntx" --key NAME >/dev/null

# The raw read is fast: time ten runs with a nanosecond clock and take the mean.
"$work/raw_scan" "$work/big.dbf" >/dev/null
t0=$(date +%s%N)
for _ in 1 2 3 4 5 6 7 8 9 10; do "$work/raw_scan" "$work/big.dbf" >/dev/null; done
t1=$(date +%s%N)
raw_s=$(echo "scale=4; ($t1 - $t0) / 10000000000" | bc)
printf '%-34s %8s s\n' "raw read() of the table" "$raw_s"
for op in "natural" "order $work/name.ntx" "filter AMOUNT>500" "search ZZZ-NOT-THERE" \
          "copy $work/copy.dbf" "pack"; do
  # shellcheck disable=SC2086
  set -- $op
  /usr/bin/time -f "%M" -o "$work/t" "$bench" "$work/big.dbf" "$@" >"$work/res" 2>"$work/err" ||
    { cat "$work/err"; exit 1; }
  secs=$(awk '{print $3}' "$work/res")
  peak=$(cat "$work/t")
  ratio=$(echo "scale=1; $secs / $raw_s" | bc)
  printf '%-34s %8s s  %6sx raw  %8s KB\n' "$op" "$secs" "$ratio" "$peak"
  [ "$1" = "pack" ] && /usr/bin/python3 "$shared/peers/gen_big.py" "$work/big.dbf" --records "$records" 2>/dev/null
done
