#!/bin/sh
# Text export and import through the window's commands offscreen, on a generated
# 1,000,000-record table: "Export base in TXT" of the table, then "Import base from TXT" of
# that text into an empty table with the same fields. Beside them, in the same run,
# `fendral-cli copy` of the same table (the yardstick). Prints the best of three runs of
# each as wall and CPU milliseconds, the ratios to the copy (target at most 4) and the peak
# memory of each command above the open window (target under 60 MB).
#
# usage: bench/text.sh [BUILD_DIR] [RECORDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
records=${2:-1000000}
shared=${FENDRAL_SHARED_DIR:-"$root/../shared"}
bench="$build/bench/text_bench"
cli="$build/cli/fendral-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$bench" ] && [ -x "$cli" ] || { echo "build text_bench and fendral-cli first"; exit 1; }

/usr/bin/python3 "$shared/peers/gen_big.py" "$work/big.dbf" --records "$records" 2>/dev/null
echo "table: $records records, $(stat -c %s "$work/big.dbf") bytes"

best=""
for _ in 1 2 3; do
  rm -f "$work/copy.dbf"
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$cli" copy "$work/big.dbf" "$work/copy.dbf" >/dev/null
  read -r wall user sys <"$work/time"
  cpu=$(echo "($user + $sys) * 1000" | bc)
  if [ -z "$best" ] || [ "$(echo "$cpu < $best" | bc)" = 1 ]; then
    best=$cpu
    bestwall=$(echo "$wall * 1000" | bc)
  fi
done
printf '%-24s wall %8s ms   cpu %8s ms\n' "fendral-cli copy" "$bestwall" "$best"
copy=$best

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
