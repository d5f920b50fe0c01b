#!/bin/sh
# MDX benchmark on a generated table (NAME C 20, CITY C 15, AMOUNT N 12 2, BORN D, FLAG L;
# deterministic content): one MDX file with tags on NAME, AMOUNT and BORN built by three
# `index` runs, 100,000 exact seeks on the NAME tag (about a tenth of them for absent keys)
# and 100,000 on the AMOUNT tag, and full walks of the NAME and AMOUNT orders, beside a raw
# sequential read() of the table file (raw_scan.c, built here into a temporary directory).
# Prints the best of three wall-clock times, the peak resident memory and the build's time
# as a multiple of the raw read.
#
# usage: bench/index_mdx.sh [BUILD_DIR] [RECORDS]
. "$(dirname "$0")/lib.sh"
need "$cli"
raw_scan
big_table

measure() {  # label, command...: the best wall-clock time of three (leaves $best, $peak)
  label=$1
  shift
  best_of_three "$@"
  best=$min_wall
  printf '%-36s best %6ss   peak memory %7s KB' "$label" "$best" "$peak"
}

ratio() {  # seconds -> " (N x raw read)"
  if [ "$(echo "$raw > 0" | bc)" = 1 ]; then
    printf '   %5.1f x raw read\n' "$(echo "$1 / $raw" | bc -l)"
  else
    printf '\n'
  fi
}

# The raw read is too fast for /usr/bin/time's hundredths: take the best of ten.
raw=$(raw_read_seconds)
printf '%-36s best %6ss\n' "raw read() of the table" "$raw"

# The three tags of one new file; each run starts without the file.
cat >"$work/build.sh" <<EOF
rm -f "$work/big.mdx"
"$cli" index "$work/big.dbf" "$work/big.mdx" --tag NAME --key NAME
"$cli" index "$work/big.dbf" "$work/big.mdx" --tag AMOUNT --key AMOUNT
"$cli" index "$work/big.dbf" "$work/big.mdx" --tag BORN --key BORN
EOF
measure "MDX build: NAME, AMOUNT, BORN tags" sh "$work/build.sh"
ratio "$best"
echo "  file: $(stat -c %s "$work/big.mdx") bytes"
measure "MDX build: NAME tag alone" sh -c "rm -f '$work/one.mdx'; \"$cli\" index '$work/big.dbf' '$work/one.mdx' --tag NAME --key NAME"
ratio "$best"

# 100,000 exact seeks per tag (every tenth one absent), as many per process as a command
# line takes.
/usr/bin/python3 - "$records" "$work" <<'EOF'
import random, sys
records, work = int(sys.argv[1]), sys.argv[2]
first = ["ANNA", "BORIS", "CLARA", "DMITRI", "EVA", "FELIX", "GRETA", "HUGO", "IRINA",
         "JONAS", "KATYA", "LUKAS", "MARTA", "NIKO"]
rng = random.Random(20240115)
with open(work + "/seeks.name", "w") as names, open(work + "/seeks.amount", "w") as amounts:
    for n in range(100000):
        i = rng.randint(1, records)
        name = "%s %07d" % (first[i % 14], (i * 7919) % 10000000)
        cents = ((i * 104729) % 200000001) - 100000000
        amount = "%.2f" % (cents / 100.0)
        print("--seek=" + (name if n % 10 else name + "X"), file=names)
        print("--seek=" + (amount if n % 10 else amount + "1"), file=amounts)
EOF
for tag in NAME AMOUNT; do
  lower=$(echo "$tag" | tr 'A-Z' 'a-z')
  cat >"$work/seek.$lower" <<EOF
xargs -d '\n' "$cli" keys "$work/big.dbf" "$work/big.mdx" --tag $tag <"$work/seeks.$lower"
EOF
  measure "100,000 exact seeks ($tag)" sh "$work/seek.$lower"
  printf '\n'
  echo "  found $(sh "$work/seek.$lower" | grep -c '"found": true') of 100000"
done
measure "full walk of the NAME order" "$cli" keys "$work/big.dbf" "$work/big.mdx" --tag NAME
printf '\n'
measure "full walk of the AMOUNT order" "$cli" keys "$work/big.dbf" "$work/big.mdx" --tag AMOUNT
printf '\n'
echo "  $("$cli" keys "$work/big.dbf" "$work/big.mdx" --tag BORN | wc -l) keys in the BORN order"
