#!/bin/sh
# The table dataset on a generated 1,000,000-record table: open it and walk First to EOF
# reading every field's display text, in natural order and in an NTX order, beside
# `fendral-cli dump` of the same table to /dev/null in the same run (in natural order, and
# through the same NTX for the walk in its order). Prints the best of three runs as CPU time
# (user + system, with that run's wall-clock time), the peak resident memory of each, and
# the memory of a dataset that only opened the table.
#
# usage: bench/dataset.sh [BUILD_DIR] [RECORDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
records=${2:-1000000}
shared=${FENDRAL_SHARED_DIR:-"$root/../shared"}
bench="$build/bench/dataset_bench"
cli="$build/cli/fendral-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$bench" ] || { echo "build dataset_bench first ($bench)"; exit 1; }

/usr/bin/python3 "$shared/peers/gen_big.py" "$work/big.dbf" --records "$records" 2>/dev/null
"$cli" index "$work/big.dbf" "$work/name.ntx" --key NAME >/dev/null
echo "table: $records records, $(stat -c %s "$work/big.dbf") bytes"

measure() {  # label, command...
  label=$1
  shift
  best=""
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      cat "$work/err"
      exit 1
    }
    read -r wall kb user sys <"$work/time"
    # CPU time (user + system): the steady figure on a machine shared with other work.
    secs=$(echo "$user + $sys" | bc)
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc)" = 1 ]; then best=$secs; bestwall=$wall; fi
    peak=$kb
  done
  printf '%-34s best cpu %6ss (wall %6ss)   peak memory %7s KB\n' "$label" "$best" "$bestwall" "$peak"
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
