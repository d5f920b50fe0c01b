#!/bin/sh
# Checking a three-tag CDX (NAME, AMOUNT, BORN) on a 1,000,000-record table: every page and
# every key against its record. The check must take at most 3 times what `fendral-cli keys`
# takes to list all three tags. Times are CPU seconds (user + system), best of three.
# The check runs through `fendral-cli verify` when that command checks index files, else
# through verify_bench (the same engine function without the table and memo checks).
#
# usage: bench/verify.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
need "$cli" "$build/bench/verify_bench"
big_table

cdx="$work/big.cdx"
for tag in NAME AMOUNT BORN; do
  "$cli" index "$work/big.dbf" "$cdx" --tag "$tag" --key "$tag" >/dev/null
done
echo "index: $(stat -c %s "$cdx") bytes, tags NAME AMOUNT BORN"

keys_cpu=0
for tag in NAME AMOUNT BORN; do
  best_of_three "$cli" keys "$work/big.dbf" "$cdx" --tag "$tag"
  printf '%-32s %7.2fs CPU  %7.2fs wall  %7s KB\n' "keys --tag $tag" "$cpu" "$wall" "$peak"
  keys_cpu=$(echo "$keys_cpu + $cpu" | bc)
done
printf '%-32s %7.2fs CPU\n' "keys, all three tags" "$keys_cpu"

# The table itself is not changed, so the check must come out clean.
"$build/bench/verify_bench" "$work/big.dbf" "$cdx" || {
  echo "the check found faults in a freshly built index"
  exit 1
}
label="verify_bench (index file)"
runner="$build/bench/verify_bench $work/big.dbf $cdx"
if "$cli" verify "$work/big.dbf" >/dev/null 2>&1; then
  label="fendral-cli verify"
  runner="$cli verify $work/big.dbf --index $cdx"
fi
# shellcheck disable=SC2086
best_of_three $runner
printf '%-32s %7.2fs CPU  %7.2fs wall  %7s KB\n' "$label" "$cpu" "$wall" "$peak"
ratio=$(echo "scale=2; $cpu / $keys_cpu" | bc)
verdict=ok
failed=0
if [ "$(echo "$ratio > 3" | bc)" = 1 ]; then
  verdict="OVER TARGET"
  failed=1
fi
printf '%-32s %sx the keys of all tags (target 3x): %s\n' "check" "$ratio" "$verdict"
exit $failed
