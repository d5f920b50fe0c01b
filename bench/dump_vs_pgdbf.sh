#!/bin/sh
# Dumps a 1,000,000-record table with fendral-cli and converts the same table with pgdbf,
# side by side, both to /dev/null. Prints the best of three wall-clock times and the peak
# resident memory of each.
#
# usage: bench/dump_vs_pgdbf.sh [BUILD_DIR] [RECORDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
records=${2:-1000000}
shared=${FENDRAL_SHARED_DIR:-"$root/../shared"}
cli="$build/cli/fendral-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -x "$cli" ] || { echo "build fendral-cli first ($cli)"; exit 1; }
command -v pgdbf >/dev/null || { echo "pgdbf is missing (scripts/install-deps installs it)"; exit 1; }
/usr/bin/python3 "$shared/peers/gen_big.py" "$work/big.dbf" --records "$records" 2>/dev/null
echo "table: $records records, $(stat -c %s "$work/big.dbf") bytes"

measure() {  # label, command...
  label=$1
  shift
  best=""
  for _ in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      cat "$work/err"
      exit 1
    }
    read -r secs kb <"$work/time"
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc)" = 1 ]; then best=$secs; fi
    peak=$kb
  done
  printf '%-22s best %6ss   peak memory %7s KB\n' "$label" "$best" "$peak"
}

measure "fendral-cli dump" "$cli" dump "$work/big.dbf"
measure "pgdbf" pgdbf "$work/big.dbf"
