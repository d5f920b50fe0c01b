#!/bin/sh
# The price of sharing: appends per second of `fendral-cli import` into a copy of the
# FoxPro table peer-harbour/fox.dbf with its production CDX (11 tags), once with the
# table to itself and once while the legacy stand-in appends to the same table.
#
# usage: bench/sharing.sh [BUILD_DIR] [RECORDS] [RUNS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
records=${2:-5000}
runs=${3:-3}
shared=${FENDRAL_SHARED_DIR:-"$root/../shared"}
cli="$build/cli/fendral-cli"
legacy="$shared/peers/bin/hb-legacy"
fixtures="$shared/fixtures/peer-harbour"
work=$(mktemp -d)
other=""
cleanup() {
  [ -n "$other" ] && kill "$other" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
[ -x "$cli" ] || { echo "build fendral-cli first ($cli)"; exit 1; }
[ -x "$legacy" ] || { echo "the legacy stand-in is missing ($legacy)"; exit 1; }

/usr/bin/python3 - "$records" >"$work/in.jsonl" <<'PY'
import json, sys
for i in range(1, int(sys.argv[1]) + 1):
    print(json.dumps({"fields": {"ID": 100000 + i, "NAME": "F%d" % i, "CITY": "Bench",
                                 "AMOUNT": i / 100, "QTY": i % 10000, "BORN": "2001-02-03",
                                 "ACTIVE": i % 2 == 0}}))
PY

fresh() {
  rm -f "$work"/fox.*
  for f in fox.dbf fox.fpt fox.cdx; do cp "$fixtures/$f" "$work/$f"; chmod u+w "$work/$f"; done
}

# One timed import; prints appends per second.
import_rate() {
  t0=$(date +%s%N)
  "$cli" import "$work/fox.dbf" "$work/in.jsonl" >/dev/null
  t1=$(date +%s%N)
  echo "scale=0; $records * 1000000000 / ($t1 - $t0)" | bc
}

alone=0
shared_rate=0
other_done=0
for run in $(seq 1 "$runs"); do
  fresh
  a=$(import_rate)
  fresh
  size=$(stat -c %s "$work/fox.dbf")
  (cd "$work" && exec "$legacy" append "$work/fox.dbf" DBFCDX 1000000 H >/dev/null 2>&1) &
  other=$!
  while [ "$(stat -c %s "$work/fox.dbf")" -le "$size" ]; do sleep 0.01; done
  before=$(stat -c %s "$work/fox.dbf")
  s=$(import_rate)
  kill "$other" 2>/dev/null || true
  wait "$other" 2>/dev/null || true
  other=""
  printf 'run %d: alone %6d appends/s   shared %6d appends/s\n' "$run" "$a" "$s"
  alone=$((alone + a))
  shared_rate=$((shared_rate + s))
done
alone=$((alone / runs))
shared_rate=$((shared_rate / runs))
printf '%-46s %8d appends/s\n' "import, table to itself (mean)" "$alone"
printf '%-46s %8d appends/s\n' "import while the stand-in appends (mean)" "$shared_rate"
printf '%-46s %8s\n' "price of sharing (alone / shared)" \
  "$(echo "scale=2; $alone / $shared_rate" | bc)x"
