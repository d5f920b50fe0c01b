#!/bin/sh
# Index benchmarks on a generated table (NAME C 20, CITY C 15, AMOUNT N 12 2, BORN D,
# FLAG L; deterministic content): NTX builds on NAME and AMOUNT, an NDX build on NAME,
# 100,000 exact seeks (a tenth of them for absent keys), and a full walk of the NAME order,
# beside a raw sequential read() of the table file (raw_scan.c, built here into a temporary
# directory). Prints the best of three wall-clock times with the CPU time (user + system)
# of that run, the peak resident memory, and each build's times as multiples of the raw
# read (on a busy machine the CPU time is the steadier figure). A second, larger table
# shows that a build's memory stays bounded: its keys exceed the sorter's budget and spill
# to a temporary file beside the index. First, on the legacy engine's own generated table
# (../shared/peers/bin/hb-bench DIR create), Fendral's NTX build on NAME beside hb-bench's
# (median of five interleaved runs, peak memory, ratio), and the composite keys
# UPPER(NAME)+CITY and DTOS(BORN)+STR(AMOUNT,12,2), which the legacy program does not time.
#
# usage: bench/index_build.sh [BUILD_DIR] [RECORDS] [LARGE_RECORDS]
. "$(dirname "$0")/lib.sh"
large=${3:-3000000}
need "$cli"

legacy_table
echo "legacy engine's table: $records records (median of 5 interleaved runs)"
vs_legacy "NTX build on NAME" ntx "$work/legacy.ntx" --key NAME
vs_legacy "NTX build on UPPER(NAME)+CITY" - "$work/legacy.ntx" --key "UPPER(NAME)+CITY"
vs_legacy "NTX build on DTOS(BORN)+STR(..)" - "$work/legacy.ntx" --key "DTOS(BORN)+STR(AMOUNT,12,2)"
legacy_cleanup

raw_scan
big_table

measure() {  # label, command...: best of three, each run writing a fresh index
  label=$1
  shift
  before_run='rm -f "$work/out.ntx" "$work/out.ndx"'
  best_of_three "$@"
  before_run=""
  best=$min_wall
  printf '%-30s best %6ss (cpu %5ss)   peak memory %7s KB' "$label" "$best" "$cpu" "$peak"
}

ratio() {  # wall and cpu seconds as multiples of the raw read
  printf '   %5.1f x raw (cpu %5.1f x)\n' "$(echo "$1 / $raw" | bc -l)" \
    "$(echo "$2 / $raw" | bc -l)"
}

# The raw read is too fast for /usr/bin/time's hundredths: the best of ten, timed here.
raw=$(raw_read_seconds)
printf '%-30s best %6ss\n' "raw read() of the table" "$raw"

measure "NTX build on NAME" "$cli" index "$work/big.dbf" "$work/out.ntx" --key NAME
ratio "$best" "$cpu"
measure "NTX build on AMOUNT" "$cli" index "$work/big.dbf" "$work/out.ntx" --key AMOUNT
ratio "$best" "$cpu"
measure "NDX build on NAME" "$cli" index "$work/big.dbf" "$work/out.ndx" --key NAME
ratio "$best" "$cpu"

# 100,000 exact seeks of names (every tenth one absent), 10,000 per process.
"$cli" index "$work/big.dbf" "$work/order.ntx" --key NAME
/usr/bin/python3 - "$records" >"$work/seeks" <<'PY'
import random, sys
records = int(sys.argv[1])
first = ["ANNA", "BORIS", "CLARA", "DMITRI", "EVA", "FELIX", "GRETA", "HUGO", "IRINA",
         "JONAS", "KATYA", "LUKAS", "MARTA", "NIKO"]
rng = random.Random(20240115)
for n in range(100000):
    i = rng.randint(1, records)
    name = "%s %07d" % (first[i % 14], (i * 7919) % 10000000)
    print("--seek=" + (name if n % 10 else name + "X"))
PY
printf 'xargs -d "\\n" -n 10000 "%s" keys "%s" "%s" <"%s"\n' "$cli" "$work/big.dbf" \
  "$work/order.ntx" "$work/seeks" >"$work/seek.sh"
measure "100,000 exact seeks (NTX)" sh "$work/seek.sh"
printf '\n'
found=$(sh "$work/seek.sh" | grep -c '"found": true')
echo "  found $found of 100000 (10 processes of 10,000 seeks each)"
measure "full walk of the NAME order" "$cli" keys "$work/big.dbf" "$work/order.ntx"
printf '\n'

# Bounded memory: a table whose keys exceed the sorter's budget.
rm -f "$work/big.dbf" "$work/order.ntx"
/usr/bin/python3 "$shared/peers/gen_big.py" "$work/large.dbf" --records "$large" 2>/dev/null
echo "table: $large records, $(stat -c %s "$work/large.dbf") bytes"
measure "NTX build on NAME" "$cli" index "$work/large.dbf" "$work/out.ntx" --key NAME
printf '\n'
"$cli" index "$work/large.dbf" "$work/out.ntx" --key NAME
echo "  $("$cli" keys "$work/large.dbf" "$work/out.ntx" | wc -l) keys"
