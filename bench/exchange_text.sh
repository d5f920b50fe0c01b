#!/bin/sh
# CSV against the JSON Lines the tool already reads and writes, on the generated
# 1,000,000-record table: `export --format csv` against `dump`, `import --format csv`
# against `import` of the same records as JSON Lines. Prints the best of three CPU times
# (user + system), their ratios and the peak resident memory of each.
# Targets: CSV export at most 1.5x dump, CSV import at most 2x JSON Lines import, every
# peak under 64 MB.
#
# usage: bench/exchange_text.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
need "$cli"
big_table

limit_kb=65536
status=0
measure() {  # label, command...: leaves the CPU seconds in cpu and the peak in peak
  label=$1
  shift
  best_of_three "$@"
  printf '%-30s cpu %7ss   wall %7ss   peak memory %7s KB\n' "$label" "$cpu" "$min_wall" "$peak"
  if [ "$peak" -ge "$limit_kb" ]; then
    echo "  over the 64 MB peak"
    status=1
  fi
}
ratio() {  # label, numerator, denominator, limit
  r=$(echo "scale=2; $2 / $3" | bc)
  verdict=ok
  if [ "$(echo "$r > $4" | bc)" = 1 ]; then
    verdict="OVER the ${4}x target"
    status=1
  fi
  printf '%-30s %sx (target at most %sx): %s\n' "$1" "$r" "$4" "$verdict"
}

measure "dump" "$cli" dump "$work/big.dbf"
dump_cpu=$cpu
measure "export --format csv" "$cli" export "$work/big.dbf" --format csv --with-deleted
csv_cpu=$cpu
ratio "csv export / dump" "$csv_cpu" "$dump_cpu" 1.5

"$cli" export "$work/big.dbf" --format jsonl --with-deleted --schema "$work/big.schema.json" \
  >"$work/big.jsonl"
"$cli" export "$work/big.dbf" --format csv --with-deleted >"$work/big.csv"
echo "files: $(stat -c %s "$work/big.jsonl") bytes JSON Lines, $(stat -c %s "$work/big.csv") bytes CSV"
before_run='rm -f "$work/in.dbf"; "$cli" create "$work/in.dbf" --from-schema "$work/big.schema.json"'
measure "import (JSON Lines)" "$cli" import "$work/in.dbf" "$work/big.jsonl"
jsonl_cpu=$cpu
measure "import --format csv" "$cli" import "$work/in.dbf" "$work/big.csv" --format csv
csv_import_cpu=$cpu
before_run=
ratio "csv import / jsonl import" "$csv_import_cpu" "$jsonl_cpu" 2
# The last CSV import holds the records again: it dumps as the original.
"$cli" dump "$work/in.dbf" >"$work/again.jsonl"
cmp -s "$work/again.jsonl" "$work/big.jsonl" || { echo "the CSV import dumps differently"; status=1; }
exit $status
