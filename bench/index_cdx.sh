#!/bin/sh
# CDX tags on a 1,000,000-record table: builds of NAME, AMOUNT and BORN into one file,
# 100,000 random exact seeks, a full walk, and the file size beside the NTX of the same
# key. Each build is compared with the raw read of the table (raw_scan.c, compiled into a
# scratch folder) and must stay within 50 times it and under 100 MB of memory. Times are
# the best of three wall-clock runs (process start included); memory is the peak
# resident size. First, on the legacy engine's own generated table (hb-bench DIR create),
# CDX tag builds on NAME and AMOUNT beside hb-bench's `cdxname` and `cdxamt` (median of
# five interleaved runs, peak memory, ratio).
#
# usage: bench/index_cdx.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
need "$cli"
legacy_table
echo "legacy engine's table: $records records (median of 5 interleaved runs)"
vs_legacy "CDX tag build on NAME" cdxname "$work/legacy.cdx" --tag NAME --key NAME
vs_legacy "CDX tag build on AMOUNT" cdxamt "$work/legacy.cdx" --tag AMT --key AMOUNT
vs_legacy "CDX tag on UPPER(NAME)+CITY" - "$work/legacy.cdx" --tag UNC --key "UPPER(NAME)+CITY"
legacy_cleanup

big_table
raw_scan

best=""
peak=""
measure() {  # label, command... (prints the line, leaves $best and $peak)
  label=$1
  shift
  best=""
  for _ in 1 2 3; do
    [ -n "${prepare:-}" ] && eval "$prepare"
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      cat "$work/err"
      exit 1
    }
    end=$(date +%s%N)
    secs=$(echo "scale=3; ($end - $start) / 1000000000" | bc)
    read -r kb <"$work/time"
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc)" = 1 ]; then best=$secs; fi
    peak=$kb
  done
  printf '%-28s best %7.3fs   peak memory %7s KB\n' "$label" "$best" "$peak"
}

measure "raw read (raw_scan)" "$work/raw_scan" "$work/big.dbf"
raw=$best

failed=0
check() {  # label: the last measurement against the targets
  ratio=$(echo "scale=1; $best / $raw" | bc)
  verdict=ok
  if [ "$(echo "$ratio > 50" | bc)" = 1 ] || [ "$peak" -gt 102400 ]; then
    verdict="OVER TARGET"
    failed=1
  fi
  printf '%-28s %sx the raw read, %s KB: %s\n' "  $1" "$ratio" "$peak" "$verdict"
}

# Builds: the three tags go into one file; every round starts from a file holding the
# tags built before this one.
cdx="$work/big.cdx"
rm -f "$cdx"
for tag in NAME AMOUNT BORN; do
  cp "$cdx" "$work/base.cdx" 2>/dev/null || rm -f "$work/base.cdx"
  prepare="rm -f '$cdx'; [ -f '$work/base.cdx' ] && cp '$work/base.cdx' '$cdx' || true"
  measure "index --tag $tag" "$cli" index "$work/big.dbf" "$cdx" --tag "$tag" --key "$tag"
  check "$tag build"
done
prepare=""

measure "keys (full walk of NAME)" "$cli" keys "$work/big.dbf" "$cdx" --tag NAME

# 100,000 exact seeks of names the table holds, picked at random (fixed seed), in runs
# of 2,000 values per command.
/usr/bin/python3 - "$cli" "$work/big.dbf" "$cdx" "$records" <<'EOF'
import random, subprocess, sys, time
cli, table, cdx, records = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
first = ["ANNA", "BORIS", "CLARA", "DMITRI", "EVA", "FELIX", "GRETA", "HUGO", "IRINA",
         "JONAS", "KATYA", "LUKAS", "MARTA", "NIKO"]
rng = random.Random(42)
names = []
for _ in range(100000):
    i = rng.randint(1, records)
    names.append("%s %07d" % (first[i % len(first)], (i * 7919) % 10000000))
found = 0
start = time.monotonic()
for at in range(0, len(names), 2000):
    args = [cli, "keys", table, cdx, "--tag", "NAME"]
    for name in names[at:at + 2000]:
        args += ["--seek", name]
    out = subprocess.run(args, capture_output=True, check=True).stdout.decode()
    found += out.count('"found": true')
secs = time.monotonic() - start
print("%-28s %7.2fs for %d seeks (%d found), %.1f us per seek incl. 50 process starts"
      % ("100,000 random seeks", secs, len(names), found, secs * 1e6 / len(names)))
EOF

# File size: a CDX holding only the NAME tag beside the NTX of NAME.
"$cli" index "$work/big.dbf" "$work/name.cdx" --tag NAME --key NAME
"$cli" index "$work/big.dbf" "$work/name.ntx" --key NAME
printf '%-28s %s bytes (three tags: %s bytes)\n' "CDX, tag NAME" \
  "$(stat -c %s "$work/name.cdx")" "$(stat -c %s "$cdx")"
printf '%-28s %s bytes\n' "NTX, key NAME" "$(stat -c %s "$work/name.ntx")"
exit $failed
